// The new-user wizard's drive list chosen with a mouse drag.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "base/text.h"
#include "controls/drive_ctl.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"
#include "ui/wizards/new_user_wizard.h"

namespace tarnwick::test {
namespace {

TEST(NewUserWizardDrives, ADragOverTheDrivesIsWhatFinishHandsOver) {
  test::PolicyMachine machine;
  AttachedPolicyFile file{machine.Store()};
  TUsers users{machine.Store()};
  users.AddUser("Ann");
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  std::string icon;
  TfrmWizard wizard(nullptr, users, icon);
  wizard.show();
  wizard.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(QStringLiteral("Cleo"));
  auto* next = wizard.findChild<QPushButton*>(QStringLiteral("cmdNext"));
  next->click();
  next->click();
  auto* drives = wizard.findChild<TDriveList*>(QStringLiteral("lstHideDrives"));
  ASSERT_NE(drives, nullptr);
  ASSERT_EQ(drives->count(), 3);  // the demo machine's a:, c: and d:
  const auto at = [drives](int row) { return drives->visualItemRect(drives->item(row)).center(); };
  // Pressed on a: and released on c:.
  QTest::mousePress(drives->viewport(), Qt::LeftButton, {}, at(0));
  QTest::mouseMove(drives->viewport(), at(1));
  QTest::mouseRelease(drives->viewport(), Qt::LeftButton, {}, at(1));
  EXPECT_EQ(UpperAscii(wizard.Answers().hiddenDrives), "AC");
}

}  // namespace
}  // namespace tarnwick::test
