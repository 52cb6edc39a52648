#include "ui/policies_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include "base/bytes.h"
#include "policy/password_store.h"
#include "policy/policy_entries.h"
#include "policy/policy_settings.h"
#include "policy/policy_store.h"
#include "policy/policy_templates.h"
#include "policy/template_parser.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "shell/single_instance.h"
#include "support/policy_test_machine.h"
#include "ui/main_window.h"

namespace tarnwick::test {
namespace {

constexpr std::string_view kTemplate = R"(CLASS USER
CATEGORY "Shell"
  KEYNAME "Software\Microsoft\Windows\CurrentVersion\Policies\Explorer"
  POLICY "Remove Run"
    VALUENAME "NoRun" VALUEON NUMERIC 1 VALUEOFF NUMERIC 0
  END POLICY
  POLICY "Remove Find"
    VALUENAME "NoFind" VALUEON NUMERIC 1 VALUEOFF NUMERIC 0
  END POLICY
  POLICY "Allowed programs"
    KEYNAME "Software\Microsoft\Windows\CurrentVersion\Policies\Explorer\RestrictRun"
    PART "Programs" LISTBOX
    END PART
  END POLICY
END CATEGORY
CATEGORY "Desktop"
  KEYNAME "Control Panel\Desktop"
  POLICY "Screen saver"
    PART "Wait" NUMERIC
      VALUENAME "ScreenSaveTimeOut" MIN 1 MAX 60 DEFAULT 10
    END PART
    PART "Ask for the password" CHECKBOX
      VALUENAME "ScreenSaveUsePassword"
    END PART
  END POLICY
  POLICY "Banner"
    PART "Caption" EDITTEXT
      VALUENAME "Caption" REQUIRED MAXLEN 20
    END PART
  END POLICY
END CATEGORY
CLASS MACHINE
CATEGORY "Network"
  POLICY "Logon banner"
    KEYNAME "Network\Logon"
    PART "Text" EDITTEXT
      VALUENAME "Banner"
    END PART
  END POLICY
END CATEGORY
)";

constexpr std::string_view kAnnExplorer =
    "TARNEX\\Users\\Ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kBobDesktop = "TARNEX\\Users\\Bob\\Control Panel\\Desktop";

const PolicyEntry kAnn{PolicyEntry::Kind::User, "Ann"};
const PolicyEntry kBob{PolicyEntry::Kind::User, "Bob"};
const PolicyEntry kDefaultComputer{PolicyEntry::Kind::Computer, std::string(kDefaultEntryName)};

// A machine with the users Ann and Bob and the group Pupils, its policy file loaded.
class PoliciesWindowTest : public ::testing::Test {
 protected:
  PoliciesWindowTest() {
    StorePassword(machine_.Store(), "secret");
    TUsers users{machine_.Store()};
    users.AddUser("Ann");
    users.AddUser("Bob");
    AddGroup(machine_.Store(), "Pupils");
    users_.Reload();
  }

  TfrmPolicies& Window() {
    if (!window_) {
      window_ = std::make_unique<TfrmPolicies>(nullptr, machine_.Store(), users_, templates_);
      window_->show();
    }
    return *window_;
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = Window().findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  // The policy's item made current, and a press of the space bar on it.
  void PressSpaceOn(std::string_view path) {
    QTreeWidgetItem* item = Window().PolicyItem(path);
    ASSERT_NE(item, nullptr) << path;
    auto* tree = Find<QTreeWidget>("tvPolicies");
    tree->setCurrentItem(item);
    QTest::keyClick(tree, Qt::Key_Space);
  }
  Qt::CheckState StateShown(std::string_view path) {
    QTreeWidgetItem* item = Window().PolicyItem(path);
    EXPECT_NE(item, nullptr) << path;
    return item != nullptr ? item->checkState(0) : Qt::Unchecked;
  }
  const Policy& Named(PolicyClass cls, std::string_view path) {
    const Policy* policy = FindPolicy(templates_, cls, path);
    EXPECT_NE(policy, nullptr) << path;
    return *policy;
  }
  PolicyState Stored(const PolicyEntry& entry, std::string_view path) {
    return ReadPolicySetting(machine_.Store(), entry, Named(PolicyClass::User, path)).state;
  }
  std::optional<uint32_t> Dword(std::string_view key, std::string_view name) {
    const std::optional<RegValue> value = machine_.Value(key, name);
    if (!value || value->type != kRegDword || value->data.size() != 4) return std::nullopt;
    return Get32(value->data, 0);
  }
  QStringList Warnings() const {
    QStringList texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type == PromptRecord::Type::Message) texts << record.text;
    }
    return texts;
  }

  test::PolicyMachine machine_;
  AttachedPolicyFile file_{machine_.Store()};
  TUsers users_{machine_.Store()};
  std::vector<PolicyTemplate> templates_{ParseTemplate(kTemplate, "test.adm")};
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
  std::unique_ptr<TfrmPolicies> window_;
};

TEST_F(PoliciesWindowTest, SelectingAnEntryShowsTheStatesStoredForItInItsClass) {
  WritePolicySetting(machine_.Store(), kAnn, Named(PolicyClass::User, "Shell\\Remove Run"),
                     {PolicyState::On, {}});
  WritePolicySetting(machine_.Store(), kAnn, Named(PolicyClass::User, "Shell\\Remove Find"),
                     {PolicyState::Off, {}});
  WritePolicySetting(machine_.Store(), kDefaultComputer,
                     Named(PolicyClass::Machine, "Network\\Logon banner"),
                     {PolicyState::On, {{"Text", {"Welcome", {}}}}});

  auto* entries = Find<QListWidget>("lstEntries");
  QStringList captions;
  for (int row = 0; row < entries->count(); ++row) captions << entries->item(row)->text();
  EXPECT_EQ(captions, (QStringList{"Default User", "Ann", "Bob", "Pupils", "Default Computer"}));

  ASSERT_TRUE(Window().SelectEntry(kAnn));
  EXPECT_EQ(StateShown("Shell\\Remove Run"), Qt::Checked);
  EXPECT_EQ(StateShown("Shell\\Remove Find"), Qt::Unchecked);
  EXPECT_EQ(StateShown("Desktop\\Screen saver"), Qt::PartiallyChecked);
  ASSERT_TRUE(Window().SelectEntry(kBob));
  EXPECT_EQ(StateShown("Shell\\Remove Run"), Qt::PartiallyChecked);
  EXPECT_EQ(StateShown("Shell\\Remove Find"), Qt::PartiallyChecked);

  // A computer takes the machine's policies, with its parts' stored values.
  ASSERT_TRUE(Window().SelectEntry(kDefaultComputer));
  EXPECT_EQ(Window().PolicyItem("Shell\\Remove Run"), nullptr);
  EXPECT_EQ(StateShown("Network\\Logon banner"), Qt::Checked);
  Find<QTreeWidget>("tvPolicies")->setCurrentItem(Window().PolicyItem("Network\\Logon banner"));
  auto* text = Window().findChild<QLineEdit*>();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), QStringLiteral("Welcome"));
  EXPECT_TRUE(text->isEnabled());

  // The file is read again at each selection: a change made elsewhere shows.
  WritePolicySetting(machine_.Store(), kAnn, Named(PolicyClass::User, "Shell\\Remove Run"),
                     {PolicyState::Unset, {}});
  ASSERT_TRUE(Window().SelectEntry(kAnn));
  EXPECT_EQ(StateShown("Shell\\Remove Run"), Qt::PartiallyChecked);
}

TEST_F(PoliciesWindowTest, TheSpaceBarMovesABoxThroughItsThreeStatesAndEachIsWritten) {
  ASSERT_TRUE(Window().SelectEntry(kAnn));
  PressSpaceOn("Shell\\Remove Run");
  EXPECT_EQ(StateShown("Shell\\Remove Run"), Qt::Checked);
  EXPECT_EQ(Stored(kAnn, "Shell\\Remove Run"), PolicyState::On);
  EXPECT_EQ(Dword(kAnnExplorer, "NoRun"), 1u);

  PressSpaceOn("Shell\\Remove Run");
  EXPECT_EQ(StateShown("Shell\\Remove Run"), Qt::Unchecked);
  EXPECT_EQ(Stored(kAnn, "Shell\\Remove Run"), PolicyState::Off);
  EXPECT_EQ(Dword(kAnnExplorer, "NoRun"), 0u);

  PressSpaceOn("Shell\\Remove Run");
  EXPECT_EQ(StateShown("Shell\\Remove Run"), Qt::PartiallyChecked);
  EXPECT_EQ(Stored(kAnn, "Shell\\Remove Run"), PolicyState::Unset);
  EXPECT_FALSE(machine_.Value(kAnnExplorer, "NoRun"));
  // Only this entry changed.
  EXPECT_EQ(Stored(kBob, "Shell\\Remove Run"), PolicyState::Unset);
  EXPECT_TRUE(Warnings().isEmpty());
}

TEST_F(PoliciesWindowTest, APartsValueIsWrittenAndOneOutOfRangeIsRefusedWithNothingWritten) {
  ASSERT_TRUE(Window().SelectEntry(kBob));
  PressSpaceOn("Desktop\\Screen saver");
  EXPECT_EQ(Dword(kBobDesktop, "ScreenSaveTimeOut"), 10u);  // the part's default
  auto* wait = Window().findChild<QSpinBox*>();
  ASSERT_NE(wait, nullptr);
  ASSERT_TRUE(wait->isEnabled());
  EXPECT_EQ(wait->value(), 10);
  wait->setValue(30);
  EXPECT_EQ(Dword(kBobDesktop, "ScreenSaveTimeOut"), 30u);
  auto* password = Window().findChild<QCheckBox*>();
  ASSERT_NE(password, nullptr);
  password->click();
  EXPECT_EQ(Dword(kBobDesktop, "ScreenSaveUsePassword"), 1u);
  EXPECT_TRUE(Warnings().isEmpty());

  // Typed past the part's maximum: refused, the box back at the stored value.
  auto* typed = wait->findChild<QLineEdit*>();
  ASSERT_NE(typed, nullptr);
  typed->selectAll();
  QTest::keyClicks(typed, QStringLiteral("99"));
  QTest::keyClick(typed, Qt::Key_Return);
  ASSERT_EQ(Warnings().size(), 1);
  EXPECT_TRUE(Warnings().front().contains(QStringLiteral("Wait")))
      << Warnings().front().toStdString();
  EXPECT_EQ(Dword(kBobDesktop, "ScreenSaveTimeOut"), 30u);
  EXPECT_EQ(wait->value(), 30);
  // The arrows keep within the range.
  wait->setValue(60);
  wait->stepUp();
  EXPECT_EQ(wait->value(), 60);
  EXPECT_EQ(Dword(kBobDesktop, "ScreenSaveTimeOut"), 60u);
}

TEST_F(PoliciesWindowTest, APolicySwitchedOnWaitsForTheValueItRequiresBeforeItIsWritten) {
  ASSERT_TRUE(Window().SelectEntry(kBob));
  PressSpaceOn("Desktop\\Banner");
  ASSERT_EQ(Warnings().size(), 1);
  EXPECT_EQ(StateShown("Desktop\\Banner"), Qt::Checked);
  EXPECT_EQ(Stored(kBob, "Desktop\\Banner"), PolicyState::Unset);
  auto* caption = Window().findChild<QLineEdit*>();
  ASSERT_NE(caption, nullptr);
  ASSERT_TRUE(caption->isEnabled());
  EXPECT_EQ(caption->maxLength(), 20);
  caption->setText(QStringLiteral("School"));
  emit caption->editingFinished();
  EXPECT_EQ(Stored(kBob, "Desktop\\Banner"), PolicyState::On);
  const std::optional<RegValue> value = machine_.Value(kBobDesktop, "Caption");
  ASSERT_TRUE(value);
  EXPECT_EQ(SzText(value->data).substr(0, 6), "School");

  // Emptied again: refused, and the stored text comes back.
  caption->clear();
  emit caption->editingFinished();
  EXPECT_EQ(Warnings().size(), 2);
  EXPECT_EQ(caption->text(), QStringLiteral("School"));
  EXPECT_EQ(Stored(kBob, "Desktop\\Banner"), PolicyState::On);
}

TEST_F(PoliciesWindowTest, AListPartsEntriesAreEditedInTheirOwnDialog) {
  ASSERT_TRUE(Window().SelectEntry(kBob));
  PressSpaceOn("Shell\\Allowed programs");
  auto* button = Find<QWidget>("pnlParts")->findChild<QPushButton*>();
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), QStringLiteral("Show..."));
  prompter_.Queue(ScriptedPrompter::DialogScript([](QDialog& dialog) {
    dialog.findChild<QPushButton*>(QStringLiteral("btnAdd"))->click();
    dialog.findChild<QPushButton*>(QStringLiteral("btnAdd"))->click();
    return int{QDialog::Accepted};
  }));
  prompter_.Queue(std::optional<QString>(QStringLiteral("NOTEPAD.EXE")));
  prompter_.Queue(std::optional<QString>(QStringLiteral("CALC.EXE")));
  button->click();
  const PolicySetting stored = ReadPolicySetting(
      machine_.Store(), kBob, Named(PolicyClass::User, "Shell\\Allowed programs"));
  EXPECT_EQ(stored.state, PolicyState::On);
  const std::vector<std::pair<std::string, std::string>> expected = {{"", "NOTEPAD.EXE"},
                                                                     {"", "CALC.EXE"}};
  EXPECT_EQ(stored.parts.at("Programs").list, expected);
}

TEST_F(PoliciesWindowTest, GroupsAreAddedMovedAndRemovedAndComputersAdded) {
  auto* entries = Find<QListWidget>("lstEntries");
  prompter_.Queue(std::optional<QString>(QStringLiteral("Teachers")));
  Find<QPushButton>("btnAddGroup")->click();
  EXPECT_EQ(Groups(machine_.Store()), (std::vector<std::string>{"Pupils", "Teachers"}));
  ASSERT_EQ(Window().SelectedEntry(), (PolicyEntry{PolicyEntry::Kind::Group, "Teachers"}));
  EXPECT_FALSE(Find<QPushButton>("btnMoveDown")->isEnabled());
  Find<QPushButton>("btnMoveUp")->click();
  EXPECT_EQ(Groups(machine_.Store()), (std::vector<std::string>{"Teachers", "Pupils"}));
  EXPECT_EQ(entries->item(3)->text(), QStringLiteral("Teachers"));
  EXPECT_EQ(Window().SelectedEntry(), (PolicyEntry{PolicyEntry::Kind::Group, "Teachers"}));

  // A name taken, in other letter case: refused, nothing added.
  prompter_.Queue(std::optional<QString>(QStringLiteral("pupils")));
  Find<QPushButton>("btnAddGroup")->click();
  EXPECT_EQ(Warnings().size(), 1);
  EXPECT_EQ(Groups(machine_.Store()).size(), 2u);

  prompter_.Queue(std::optional<QString>(QStringLiteral("PC1")));
  Find<QPushButton>("btnAddComputer")->click();
  EXPECT_EQ(Computers(machine_.Store()), (std::vector<std::string>{"PC1"}));
  EXPECT_EQ(entries->item(entries->count() - 1)->text(), QStringLiteral("PC1"));

  ASSERT_TRUE(Window().SelectEntry({PolicyEntry::Kind::Group, "Pupils"}));
  prompter_.Queue(QMessageBox::No);
  Find<QPushButton>("btnRemoveEntry")->click();
  EXPECT_EQ(Groups(machine_.Store()).size(), 2u);
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnRemoveEntry")->click();
  EXPECT_EQ(Groups(machine_.Store()), (std::vector<std::string>{"Teachers"}));
  // Users and the default entries are not removed here.
  ASSERT_TRUE(Window().SelectEntry(kAnn));
  EXPECT_FALSE(Find<QPushButton>("btnRemoveEntry")->isEnabled());
  ASSERT_TRUE(Window().SelectEntry(kDefaultComputer));
  EXPECT_FALSE(Find<QPushButton>("btnRemoveEntry")->isEnabled());
}

TEST_F(PoliciesWindowTest, WhatALogonAppliesShowsTheChangesForTheComputerChosen) {
  WritePolicySetting(machine_.Store(), kAnn, Named(PolicyClass::User, "Shell\\Remove Run"),
                     {PolicyState::On, {}});
  WritePolicySetting(machine_.Store(), kDefaultComputer,
                     Named(PolicyClass::Machine, "Network\\Logon banner"),
                     {PolicyState::On, {{"Text", {"Welcome", {}}}}});
  ASSERT_TRUE(Window().SelectEntry({PolicyEntry::Kind::Group, "Pupils"}));
  EXPECT_FALSE(Find<QPushButton>("btnLogon")->isEnabled());
  ASSERT_TRUE(Window().SelectEntry({PolicyEntry::Kind::User, std::string(kDefaultEntryName)}));
  EXPECT_FALSE(Find<QPushButton>("btnLogon")->isEnabled());
  ASSERT_TRUE(Window().SelectEntry(kAnn));
  ASSERT_TRUE(Find<QPushButton>("btnLogon")->isEnabled());

  QString atAnyComputer;
  QString atPc1;
  prompter_.Queue(ScriptedPrompter::DialogScript([&](QDialog& dialog) {
    auto* result = dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtResult"));
    atAnyComputer = result->toPlainText();
    auto* groups = dialog.findChild<QListWidget*>(QStringLiteral("lstGroups"));
    EXPECT_EQ(groups->count(), 1);
    groups->item(0)->setCheckState(Qt::Checked);
    dialog.findChild<QComboBox*>(QStringLiteral("cmbComputer"))->setEditText(QStringLiteral("PC1"));
    atPc1 = result->toPlainText();
    return int{QDialog::Accepted};
  }));
  AddComputer(machine_.Store(), "PC1");
  Find<QPushButton>("btnLogon")->click();
  // Default Computer for a computer without an entry, then Ann's own entry.
  EXPECT_TRUE(atAnyComputer.startsWith(QStringLiteral("REGEDIT4"))) << atAnyComputer.toStdString();
  EXPECT_TRUE(atAnyComputer.contains(
      QStringLiteral("[HKEY_LOCAL_MACHINE\\Network\\Logon]\n\"Banner\"=\"Welcome\"")))
      << atAnyComputer.toStdString();
  EXPECT_TRUE(atAnyComputer.contains(
      QStringLiteral("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
                     "Explorer]\n\"NoRun\"=dword:00000001")))
      << atAnyComputer.toStdString();
  EXPECT_LT(atAnyComputer.indexOf(QStringLiteral("HKEY_LOCAL_MACHINE")),
            atAnyComputer.indexOf(QStringLiteral("HKEY_CURRENT_USER")));
  // PC1 has an entry of its own, empty: the banner is not applied there.
  EXPECT_FALSE(atPc1.contains(QStringLiteral("Banner"))) << atPc1.toStdString();
  EXPECT_TRUE(atPc1.contains(QStringLiteral("\"NoRun\"=dword:00000001"))) << atPc1.toStdString();
}

ScriptedPrompter::DialogScript TypePassword(QString text) {
  return [text](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(text);
    return int{QDialog::Accepted};
  };
}

// Over Tarnwick's own template, whose policies write what the pages write.
TEST(PoliciesAndPages, ARestrictionSetOnAPageShowsInTheWindowAndOneSetThereOnThePage) {
  constexpr std::string_view kNoRun = "Shell\\Restrictions\\Remove 'Run' command";
  constexpr std::string_view kNoSetFolders =
      "Shell\\Restrictions\\Remove folders from 'Settings' on Start menu";
  test::PolicyMachine machine;
  {
    AttachedPolicyFile file{machine.Store()};
    StorePassword(machine.Store(), "secret");
    TUsers users{machine.Store()};
    users.AddUser("Ann");
  }
  ScriptedPrompter prompter;
  const PrompterGuard guard(prompter);
  prompter.Queue(TypePassword(QStringLiteral("secret")));
  TInstanceDetector detector(machine.GetMachine());
  TfrmMain window(detector, &machine.Store());
  window.SetTemplates({OwnTemplate()});
  window.FormCreate();
  ASSERT_EQ(window.CurrentUser()->Name(), "Ann");
  auto* noRun = window.findChild<QCheckBox*>(QStringLiteral("chkNoRun"));
  auto* noSettings = window.findChild<QCheckBox*>(QStringLiteral("chkNoSettings"));
  noRun->click();
  ASSERT_TRUE(noRun->isChecked());
  ASSERT_FALSE(noSettings->isChecked());

  Qt::CheckState shown = Qt::Unchecked;
  prompter.Queue(ScriptedPrompter::DialogScript([&](QDialog& dialog) {
    auto& policies = dynamic_cast<TfrmPolicies&>(dialog);
    // The window opens on the user the main window shows.
    EXPECT_EQ(policies.SelectedEntry(), kAnn);
    QTreeWidgetItem* run = policies.PolicyItem(kNoRun);
    QTreeWidgetItem* folders = policies.PolicyItem(kNoSetFolders);
    if (run == nullptr || folders == nullptr) {
      ADD_FAILURE() << "the restrictions are not in the template";
      return int{QDialog::Rejected};
    }
    shown = run->checkState(0);
    auto* tree = dialog.findChild<QTreeWidget*>(QStringLiteral("tvPolicies"));
    tree->setCurrentItem(folders);
    QTest::keyClick(tree, Qt::Key_Space);
    return int{QDialog::Accepted};
  }));
  auto* menu = window.findChild<QAction*>(QStringLiteral("Policies1"));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
  menu->trigger();
  EXPECT_EQ(shown, Qt::Checked);
  EXPECT_TRUE(noSettings->isChecked());
  EXPECT_TRUE(noRun->isChecked());
  EXPECT_EQ(window.CurrentUser()->Restriction(RestrictionId::NoSetTaskbar), 1);
  window.close();
}

}  // namespace
}  // namespace tarnwick::test
