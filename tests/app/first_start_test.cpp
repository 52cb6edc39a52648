#include "app/first_start.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "support/dialog_test.h"
#include "support/policy_test_machine.h"
#include "ui/wizards/welcome_wizard.h"

namespace tarnwick::test {
namespace {

constexpr std::string_view kUserKey = "Users\\Ada Lovelace\\Software\\Microsoft\\Windows\\";
constexpr std::string_view kPolicies = "CurrentVersion\\Policies\\";

using FirstStartTest = AttachedPolicyTest;

// The wizard closed with Finish after the name was typed; icon receives the icon chosen.
ScriptedPrompter::DialogScript Finish(const QString& name, std::string& icon) {
  return [name, &icon](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(name);
    icon = dynamic_cast<TfrmWelcomeWizard&>(dialog).IconFile();
    return static_cast<int>(QDialog::Accepted);
  };
}

TEST_F(FirstStartTest, MakesTheAdministratorsUnrestrictedAccount) {
  {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", true);
    reg.WriteString("Desktop", " C:\\WINDOWS\\Desktop\r\n");
  }
  TUsers users{machine_.Store()};
  std::string icon;
  prompter_.Queue(Finish(QStringLiteral("Ada Lovelace"), icon));
  ASSERT_TRUE(FirstStartSetup(nullptr, users));
  ASSERT_EQ(users.Count(), 1u);
  EXPECT_EQ(users[0].Name(), "Ada Lovelace");
  EXPECT_TRUE(icon.starts_with("C:\\TARNEX\\UserIcon\\")) << icon;
  EXPECT_EQ(users[0].UserIcon(), icon);
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
  ASSERT_TRUE(machine_.Store().UnloadPolicyFile());

  const std::string explorer = std::string(kUserKey) + std::string(kPolicies) + "Explorer";
  const std::string folders =
      std::string(kUserKey) + "CurrentVersion\\Explorer\\User Shell Folders";
  const std::pair<std::string, std::vector<std::string>> flags[] = {
      {explorer,
       {"RestrictRun", "NoRun", "NoFind", "NoDesktop", "NoSetFolders", "NoSetTaskbar",
        "NoAddPrinter", "NoDeletePrinter"}},
      {std::string(kUserKey) + std::string(kPolicies) + "System",
       {"DisableRegistryTools", "NoDispSettingsPage", "NoDevMgrPage", "NoFileSysPage",
        "NoVirtMemPage", "NoProfilePage", "NoAdminPage"}},
      {std::string(kUserKey) + std::string(kPolicies) + "Network", {"NoNetSetup"}},
      {std::string(kUserKey) + std::string(kPolicies) + "WinOldApp", {"Disabled", "NoRealMode"}},
      {"Users\\Ada Lovelace\\Software\\Family\\Preferences", {"NoConfigure"}},
  };
  const std::pair<std::string_view, std::string_view> paths[] = {
      {"Start Menu", "C:\\WINDOWS\\Start Menu"}, {"Programs", "C:\\WINDOWS\\Start Menu\\Programs"},
      {"Desktop", "C:\\WINDOWS\\Desktop"},       {"Favorites", "C:\\WINDOWS\\Favorites"},
      {"Recent", "C:\\WINDOWS\\Recent"},
  };
  for (const auto& policy : {test::ReadWithCregexport(machine_.PolicyFile()),
                             test::ReadWithParseWin32Registry(machine_.PolicyFile())}) {
    ASSERT_TRUE(policy.ok()) << policy.diagnostics;
    for (const auto& [key, names] : flags) {
      for (const std::string& name : names) {
        const auto* value = FindExported(policy, key, name);
        ASSERT_NE(value, nullptr) << key << " " << name;
        EXPECT_EQ(value->data, Dword(0)) << name;
      }
    }
    for (const auto& [name, path] : paths) {
      const auto* value = FindExported(policy, folders, name);
      ASSERT_NE(value, nullptr) << name;
      EXPECT_EQ(test::SzText(value->data), path) << name;
    }
    const auto* first = FindExported(policy, explorer + "\\RestrictRun", "0");
    const auto* second = FindExported(policy, explorer + "\\RestrictRun", "1");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(test::SzText(first->data), "tarnex.exe");
    EXPECT_EQ(test::SzText(second->data), "twtray.exe");
    const auto* tray = FindExported(
        policy, "Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "TWTray");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(test::SzText(tray->data), "C:\\TARNEX\\TWTray.exe");
  }
  const auto system = test::ReadWithCregexport(machine_.SystemDat());
  ASSERT_TRUE(system.ok()) << system.diagnostics;
  const auto* username = FindExported(system, "Network\\Logon", "username");
  ASSERT_NE(username, nullptr);
  EXPECT_EQ(test::SzText(username->data), "Ada Lovelace");
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
