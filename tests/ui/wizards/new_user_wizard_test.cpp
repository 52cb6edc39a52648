#include "ui/wizards/new_user_wizard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <filesystem>

#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A demo machine with the users Ann and Bob; its Run key holds SystemTray (SYSTRAY.EXE).
class NewUserWizardTest : public ::testing::Test {
 protected:
  NewUserWizardTest() {
    users_.AddUser("Ann");
    users_.AddUser("Bob");
  }

  template <typename T>
  T* Find(const TfrmWizard& wizard, const char* name) {
    T* widget = wizard.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Click(const TfrmWizard& wizard, const char* button, int times = 1) {
    for (int i = 0; i < times; ++i) Find<QPushButton>(wizard, button)->click();
  }
  void Check(const TfrmWizard& wizard, const char* box) {
    Find<QCheckBox>(wizard, box)->setChecked(true);
  }
  int Page(const TfrmWizard& wizard) {
    return Find<QStackedWidget>(wizard, "PageControl1")->currentIndex();
  }
  QStringList Summary(const TfrmWizard& wizard) {
    return Find<QPlainTextEdit>(wizard, "memoSummary")->toPlainText().split(QLatin1Char('\n'));
  }
  QStringList Entries(const TfrmWizard& wizard) {
    QStringList texts;
    const auto* list = Find<QListWidget>(wizard, "lstAllowedApplications");
    for (int row = 0; row < list->count(); ++row) texts << list->item(row)->text();
    return texts;
  }
  std::vector<QString> Messages() {
    std::vector<QString> texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type == PromptRecord::Type::Message) texts.push_back(record.text);
    }
    return texts;
  }

  testing::PolicyMachine machine_;
  std::string icon_;  // the icon choice the program keeps between wizards
  AttachedPolicyFile file_{machine_.Store()};
  TUsers users_{machine_.Store()};
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(NewUserWizardTest, TheInitialChoicesGiveTheSummaryLineByLine) {
  TfrmWizard wizard(nullptr, users_, icon_);
  Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral(" Cleo"));
  Click(wizard, "cmdNext", 6);
  ASSERT_EQ(Page(wizard), 6);
  EXPECT_TRUE(Find<QPushButton>(wizard, "cmdFinish")->isDefault());
  EXPECT_FALSE(Find<QPushButton>(wizard, "cmdNext")->isEnabled());
  const QString icon = QString::fromStdString(icon_);
  EXPECT_TRUE(icon.startsWith("C:\\TARNEX\\UserIcon\\")) << icon.toStdString();
  EXPECT_EQ(
      Summary(wizard),
      (QStringList{"  User Information:", "       Name:   Cleo", "       Icon File:  " + icon, " ",
                   "  Hidden Drives:  [None]", " ", "  Windows Restrictions:", "       [None]", " ",
                   "  The user may run any program.", " ", "  Program Folder",
                   "       A new Program Folder will be created by copying",
                   "       the contents of Ann's Program Folder"}));
  const NewUserAnswers answers = wizard.Answers();
  EXPECT_EQ(answers.name, " Cleo");
  EXPECT_EQ(answers.folderChoice, ProgramFolderChoice::Copy);
  EXPECT_EQ(answers.sourceUser, "Ann");
  EXPECT_TRUE(answers.createShortcut);
  EXPECT_FALSE(answers.runListed);
}

TEST_F(NewUserWizardTest, OnlyListedProgramsPassOverTheProgramFolderPageBothWays) {
  TfrmWizard wizard(nullptr, users_, icon_);
  Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Cleo"));
  Click(wizard, "cmdNext", 2);
  auto* drives = Find<QListWidget>(wizard, "lstHideDrives");
  ASSERT_GE(drives->count(), 2);
  drives->item(0)->setSelected(true);  // a:
  drives->item(1)->setSelected(true);  // c: [SYSTEM]
  Click(wizard, "cmdNext");
  Check(wizard, "chkNoFind");
  Check(wizard, "chkRestrictSystem");
  Click(wizard, "cmdNext");
  Check(wizard, "chkRunListed");
  Click(wizard, "cmdNext");
  ASSERT_EQ(Page(wizard), 6);
  const QStringList summary = Summary(wizard);
  ASSERT_EQ(summary.size(), 15);
  EXPECT_EQ(summary[4], "  Hidden Drives:  A:, C:");
  EXPECT_EQ(
      summary.mid(6),
      (QStringList{"  Windows Restrictions:", "       +  Remove 'Find' Command from Start Menu",
                   "       +  Disable System Configuration Settings in Control Panel", " ",
                   "  The user may only run these programs:", "       +  SYSTRAY.EXE", " ",
                   "  Program Folder",
                   "       A Program Folder with the allowed applications will be created"}));
  EXPECT_EQ(wizard.Answers().hiddenDrives.size(), 2u);

  Click(wizard, "cmdBack");
  EXPECT_EQ(Page(wizard), 4);
  EXPECT_TRUE(Find<QPushButton>(wizard, "cmdNext")->isDefault());
  Find<QCheckBox>(wizard, "chkRunListed")->setChecked(false);
  Click(wizard, "cmdNext");
  EXPECT_EQ(Page(wizard), 5);
}

TEST_F(NewUserWizardTest, NamesThatAreBlankOrTakenKeepTheFirstPage) {
  TfrmWizard wizard(nullptr, users_, icon_);
  auto* name = Find<QLineEdit>(wizard, "txtName");
  auto* next = Find<QPushButton>(wizard, "cmdNext");
  EXPECT_FALSE(next->isEnabled());
  name->setText(QStringLiteral("   "));
  EXPECT_FALSE(next->isEnabled());
  name->setText(QStringLiteral("aNN"));
  ASSERT_TRUE(next->isEnabled());
  next->click();
  EXPECT_EQ(Page(wizard), 0);
  EXPECT_EQ(Messages(), std::vector<QString>{"There is already a user with this name"});
}

TEST_F(NewUserWizardTest, TheNamePageRefusesWhatTheAccountStoreWouldRefuse) {
  users_.AddUser("Zo\xEB");
  TfrmWizard wizard(nullptr, users_, icon_);
  auto* name = Find<QLineEdit>(wizard, "txtName");
  auto* next = Find<QPushButton>(wizard, "cmdNext");
  // Finish adds the trimmed name, so blanks around a taken one make no other name.
  const QString refused[] = {
      QStringLiteral(" Bob"),     QStringLiteral("ann  "),        QStringLiteral("a*b"),
      QStringLiteral("x?y"),      QStringLiteral("Cleo."),        QStringLiteral("CON"),
      QStringLiteral("com1.txt"), QString(231, QLatin1Char('n')), QString::fromUtf8("ZO\u00CB")};
  for (const QString& text : refused) {
    name->setText(text);
    next->click();
    EXPECT_EQ(Page(wizard), 0) << text.toStdString();
  }
  EXPECT_EQ(
      Messages(),
      (std::vector<QString>{
          "There is already a user with this name", "There is already a user with this name",
          "A user name cannot hold the character '*'", "A user name cannot hold the character '?'",
          "A user name cannot end in a blank or a dot",
          "\"CON\" is the name of a device and cannot be a user name",
          "\"com1.txt\" is the name of a device and cannot be a user name",
          "The user name is too long: a profile path holds at most 259 characters, which "
          "leaves 230 for the name",
          "There is already a user with this name"}));
  name->setText(QStringLiteral(" Cleo "));
  next->click();
  EXPECT_EQ(Page(wizard), 1);
}

TEST_F(NewUserWizardTest, NextLeavesTheProgramFolderPageOnlyWithASourceOrAnEmptyFolder) {
  TfrmWizard wizard(nullptr, users_, icon_);
  Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Cleo"));
  Click(wizard, "cmdNext", 5);
  ASSERT_EQ(Page(wizard), 5);
  auto* next = Find<QPushButton>(wizard, "cmdNext");
  EXPECT_TRUE(next->isEnabled());
  Find<QListWidget>(wizard, "lstviewUsers")->clearSelection();
  EXPECT_FALSE(next->isEnabled());
  Find<QRadioButton>(wizard, "btnShareStartMenu")->setChecked(true);
  EXPECT_FALSE(next->isEnabled());
  Find<QRadioButton>(wizard, "btnEmptyStartMenu")->setChecked(true);
  EXPECT_TRUE(next->isEnabled());
  Find<QRadioButton>(wizard, "btnOwnStartMenu")->setChecked(true);
  EXPECT_FALSE(next->isEnabled());
  Find<QListWidget>(wizard, "lstviewUsers")->setCurrentRow(1);
  ASSERT_TRUE(next->isEnabled());
  next->click();
  Click(wizard, "cmdBack");
  EXPECT_TRUE(next->isEnabled());
  EXPECT_EQ(Summary(wizard).last(), "       the contents of Bob's Program Folder");
}

TEST_F(NewUserWizardTest, WithoutUsersOnlyAnEmptyProgramFolderIsOffered) {
  users_.RemoveUser("Ann");
  users_.RemoveUser("Bob");
  TfrmWizard wizard(nullptr, users_, icon_);
  EXPECT_TRUE(Find<QRadioButton>(wizard, "btnEmptyStartMenu")->isChecked());
  EXPECT_FALSE(Find<QRadioButton>(wizard, "btnOwnStartMenu")->isEnabled());
  EXPECT_FALSE(Find<QRadioButton>(wizard, "btnShareStartMenu")->isEnabled());
  Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Cleo"));
  Click(wizard, "cmdNext", 6);
  EXPECT_EQ(Page(wizard), 6);
  EXPECT_EQ(Summary(wizard).last(), "       An empty Program Folder will be created");
}

TEST_F(NewUserWizardTest, ReturnPressesNextFromTheFirstActivationOn) {
  TfrmWizard wizard(nullptr, users_, icon_);
  wizard.show();
  wizard.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard));
  auto* name = Find<QLineEdit>(wizard, "txtName");
  EXPECT_EQ(QApplication::focusWidget(), name);
  QTest::keyClicks(name, QStringLiteral("Cleo"));
  QTest::keyClick(name, Qt::Key_Return);
  EXPECT_EQ(Page(wizard), 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(Page(wizard), 2);
}

TEST_F(NewUserWizardTest, StartupProgramsComeLastValueFirstAndCanBeRemoved) {
  machine_.Put(kRunKey, "Tray", kRegSz, testing::Sz("C:\\TARNEX\\twtray.EXE"));
  machine_.Put(kRunKey, "Blank", kRegSz, testing::Sz(" \t "));
  machine_.Put(kRunKey, "Tool", kRegSz, testing::Sz(" D:TOOL.EXE "));
  TfrmWizard wizard(nullptr, users_, icon_);
  EXPECT_EQ(Entries(wizard), (QStringList{"TOOL.EXE", "SYSTRAY.EXE"}));
  for (const AllowedAppEntry& entry : wizard.Answers().apps) EXPECT_FALSE(entry.app.has_value());

  Click(wizard, "btnRemoveApplication");
  EXPECT_EQ(Messages(), std::vector<QString>{"Select an application to remove from the list"});
  EXPECT_EQ(Entries(wizard).size(), 2);
  Find<QListWidget>(wizard, "lstAllowedApplications")->setCurrentRow(0);
  Click(wizard, "btnRemoveApplication");
  EXPECT_EQ(Entries(wizard), QStringList{"SYSTRAY.EXE"});
  ASSERT_EQ(wizard.Answers().apps.size(), 1u);
  EXPECT_EQ(wizard.Answers().apps[0].text, "SYSTRAY.EXE");
}

TEST_F(NewUserWizardTest, StartupCommandLinesGiveTheProgramsFileName) {
  const std::pair<const char*, const char*> lines[] = {
      {"Quoted", "\"C:\\Program Files\\WinZip\\WINZIP32.EXE\" /notip"},
      {"Args", "C:\\WINDOWS\\RUNDLL.EXE shell32.dll,Control_RunDLL"},
      // Unquoted with blanks: the shortest prefix naming an existing file, as CreateProcess.
      {"Blanks", "C:\\Program Files\\Accessories\\WORDPAD.EXE /p C:\\x y.txt"},
      {"NoExt", "C:\\Program Files\\Accessories\\MSPAINT"},
      {"Unclosed", "\"C:\\TARNEX\\TWTray.exe"},
      {"Empty", "\"\" /x"}};
  for (const auto& [name, line] : lines) machine_.Put(kRunKey, name, kRegSz, testing::Sz(line));
  TfrmWizard wizard(nullptr, users_, icon_);
  EXPECT_EQ(Entries(wizard), (QStringList{"MSPAINT.exe", "WORDPAD.EXE", "RUNDLL.EXE",
                                          "WINZIP32.EXE", "SYSTRAY.EXE"}));
}

TEST_F(NewUserWizardTest, AnIconOfAnEarlierWizardStaysWhenTheIconFolderIsEmpty) {
  { TfrmWizard earlier(nullptr, users_, icon_); }
  const std::string first = icon_;
  ASSERT_TRUE(first.starts_with("C:\\TARNEX\\UserIcon\\")) << first;
  std::filesystem::remove_all(machine_.Host("C:\\TARNEX\\UserIcon"));

  TfrmWizard wizard(nullptr, users_, icon_);
  Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Cleo"));
  Click(wizard, "cmdNext", 6);
  EXPECT_EQ(Summary(wizard)[2], "       Icon File:  " + QString::fromStdString(first));
  EXPECT_EQ(wizard.Answers().iconFile, first);
}

TEST_F(NewUserWizardTest, ANameTakenMeanwhileClosesTheWizardBeforeTheError) {
  TfrmWizard wizard(nullptr, users_, icon_);
  Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Cleo"));
  Click(wizard, "cmdNext", 6);
  users_.AddUser("CLEO");
  Click(wizard, "cmdFinish");
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
  ASSERT_FALSE(prompter_.Records().empty());
  EXPECT_EQ(prompter_.Records().back().kind, MessageKind::Error);
  EXPECT_EQ(prompter_.Records().back().text, "There is already a user with this name");
  EXPECT_EQ(users_.Count(), 3u);
}

}  // namespace
}  // namespace tarnwick
