#include "app/first_start.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"
#include "ui/wizards/welcome_wizard.h"

namespace tarnwick::test {
namespace {

class FirstStartTest : public ::testing::Test {
 protected:
  FirstStartTest() { machine_.Store().LoadPolicyFile(); }
  ~FirstStartTest() override { machine_.Store().UnloadPolicyFile(); }

  test::PolicyMachine machine_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

// The wizard closed with Finish after the name was typed; icon receives the icon chosen.
ScriptedPrompter::DialogScript Finish(const QString& name, std::string& icon) {
  return [name, &icon](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(name);
    icon = dynamic_cast<TfrmWelcomeWizard&>(dialog).IconFile();
    return static_cast<int>(QDialog::Accepted);
  };
}

TEST_F(FirstStartTest, FinishMakesTheTypedAccountWithTheChosenIconAndTurnsActivationOn) {
  TUsers users{machine_.Store()};
  std::string icon;
  prompter_.Queue(Finish(QStringLiteral("Ada Lovelace"), icon));
  ASSERT_TRUE(FirstStartSetup(nullptr, users));
  ASSERT_EQ(users.Count(), 1u);
  EXPECT_EQ(users[0].Name(), "Ada Lovelace");
  EXPECT_TRUE(icon.starts_with("C:\\TARNEX\\UserIcon\\")) << icon;
  EXPECT_EQ(users[0].UserIcon(), icon);
  EXPECT_EQ(users[0].RestrictRun(), 0);
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
}

TEST_F(FirstStartTest, CancelledWizardMakesNoAccountAndTurnsActivationOff) {
  TurnActivationOn(machine_.Store());
  TUsers users{machine_.Store()};
  prompter_.Queue([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
  EXPECT_FALSE(FirstStartSetup(nullptr, users));
  EXPECT_EQ(users.Count(), 0u);
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::Off);
  ASSERT_TRUE(machine_.Store().UnloadPolicyFile());
  const auto policy = test::ReadWithParseWin32Registry(machine_.PolicyFile());
  ASSERT_TRUE(policy.ok()) << policy.diagnostics;
  for (const auto& key : policy.keys) EXPECT_FALSE(key.path.starts_with("Users\\")) << key.path;
}

}  // namespace
}  // namespace tarnwick::test
