#include "ui/wizards/create_shortcut.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <fstream>

#include "controls/folder_view.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "shell/shell_links.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "ui/wizards/add_shortcut.h"

namespace tarnwick {
namespace {

constexpr const char* kDesktop = "C:\\WINDOWS\\Desktop";
constexpr const char* kNotepad = "C:\\WINDOWS\\NOTEPAD.EXE";

// Keeps the file chooser's requests.
class ChooserPrompter : public ScriptedPrompter {
 public:
  std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                        const FileChooserRequest& request) override {
    requests.push_back(request);
    return ScriptedPrompter::ChooseFile(owner, machine, request);
  }
  std::vector<FileChooserRequest> requests;
};

template <typename T>
T* Find(const QDialog& dialog, const char* name) {
  T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

QString Text(const QDialog& dialog, const char* edit) {
  return Find<QLineEdit>(dialog, edit)->text();
}

void SetText(const QDialog& dialog, const char* edit, const QString& text) {
  Find<QLineEdit>(dialog, edit)->setText(text);
}

void Click(const QDialog& dialog, const char* button) {
  Find<QPushButton>(dialog, button)->click();
}

int Page(const QDialog& dialog) {
  return Find<QStackedWidget>(dialog, "PageControl1")->currentIndex();
}

// Types the command line, presses Next, types the name and presses Finish.
ScriptedPrompter::DialogScript FillWizard(QString commandLine, QString name) {
  return [commandLine, name](QDialog& wizard) {
    SetText(wizard, "txtCommandLine", commandLine);
    Click(wizard, "cmdNext");
    SetText(wizard, "txtShortcutName", name);
    Click(wizard, "cmdFinish");
    return wizard.result();
  };
}

class CreateShortcutTest : public ::testing::Test {
 protected:
  std::vector<QString> Messages() const {
    std::vector<QString> texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type != PromptRecord::Type::Message) continue;
      EXPECT_EQ(record.kind, MessageKind::Information) << record.text.toStdString();
      texts.push_back(record.text);
    }
    return texts;
  }
  std::string Lnk(const std::string& windowsPath, std::string_view field) const {
    return testing::LnkField(testing::Lnkinfo(machine_.Host(windowsPath)), field);
  }

  testing::PolicyMachine machine_;
  AttachedPolicyFile file_{machine_.Store()};
  TUsers users_{machine_.Store()};
  ChooserPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST(ShortcutNameTest, DropsOnlyTheFilesExtensionAndCapitalises) {
  EXPECT_EQ(ShortcutNameFromPath("C:\\WINDOWS\\notepad"), "Notepad");
  EXPECT_EQ(ShortcutNameFromPath("C:\\My.Tools\\tool"), "Tool");
  EXPECT_EQ(ShortcutNameFromPath("C:\\X\\readme.1st.txt"), "Readme.1st");
  EXPECT_EQ(ShortcutNameFromPath("C:\\X\\.lnk"), "");
}

TEST_F(CreateShortcutTest, NextWantsAWholeFileNameAndRebuildsTheName) {
  std::ofstream(machine_.Host("C:\\WINDOWS\\wordpad")) << "MZ";
  TfrmCreateShortcut wizard(nullptr, machine_.Store());
  EXPECT_EQ(wizard.windowTitle(), "Create Shortcut");
  EXPECT_FALSE(Find<QPushButton>(wizard, "cmdHelp")->isVisibleTo(&wizard));
  EXPECT_TRUE(Find<QPushButton>(wizard, "cmdNext")->isDefault());

  SetText(wizard, "txtCommandLine", QStringLiteral("C:\\WINDOWS\\NOTEPAD.EXE readme.txt"));
  Click(wizard, "cmdNext");
  SetText(wizard, "txtCommandLine", QStringLiteral("C:\\WINDOWS"));
  Click(wizard, "cmdNext");
  SetText(wizard, "txtCommandLine", QString::fromUtf8("C:\\\u2603.exe"));
  Click(wizard, "cmdNext");
  EXPECT_EQ(Page(wizard), 0);
  EXPECT_EQ(Messages(),
            (std::vector<QString>{"The file C:\\WINDOWS\\NOTEPAD.EXE readme.txt cannot be found.",
                                  "The file C:\\WINDOWS cannot be found.",
                                  TfrmCreateShortcut::kCommandLineNotAnsi}));

  SetText(wizard, "txtCommandLine", QStringLiteral("C:\\windows\\wordpad"));
  Click(wizard, "cmdNext");
  ASSERT_EQ(Page(wizard), 1);
  EXPECT_EQ(Text(wizard, "txtShortcutName"), "Wordpad");
  EXPECT_TRUE(Find<QPushButton>(wizard, "cmdFinish")->isDefault());
  SetText(wizard, "txtShortcutName", QStringLiteral("Edited"));
  Click(wizard, "cmdBack");
  EXPECT_TRUE(Find<QPushButton>(wizard, "cmdNext")->isDefault());
  SetText(wizard, "txtCommandLine", QString::fromLatin1(kNotepad));
  Click(wizard, "cmdNext");
  EXPECT_EQ(Text(wizard, "txtShortcutName"), "NOTEPAD");

  prompter_.ClearRecords();
  SetText(wizard, "txtShortcutName", QStringLiteral(" \t "));
  Click(wizard, "cmdFinish");
  SetText(wizard, "txtShortcutName", QString::fromUtf8("Pad \u2603"));
  Click(wizard, "cmdFinish");
  EXPECT_EQ(wizard.result(), QDialog::Rejected);
  EXPECT_EQ(Messages(), (std::vector<QString>{"You must enter a name for the shortcut",
                                              TfrmCreateShortcut::kNameNotAnsi}));
}

TEST_F(CreateShortcutTest, FinishRefusesNamesNoFileCanHave) {
  TfrmCreateShortcut wizard(nullptr, machine_.Store());
  SetText(wizard, "txtCommandLine", QString::fromLatin1(kNotepad));
  Click(wizard, "cmdNext");
  for (const char* name : {"a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\\b", "a/b"}) {
    SetText(wizard, "txtShortcutName", QString::fromLatin1(name));
    Click(wizard, "cmdFinish");
    EXPECT_EQ(wizard.result(), QDialog::Rejected) << name;
  }
  EXPECT_EQ(Messages(), std::vector<QString>(9, TfrmCreateShortcut::kNameForbidden));
  SetText(wizard, "txtShortcutName", QStringLiteral("Pad.txt"));
  Click(wizard, "cmdFinish");
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
}

TEST_F(CreateShortcutTest, AShortcutThatCannotBeWrittenIsReported) {
  prompter_.Queue(FillWizard(QString::fromLatin1(kNotepad), QString(250, QLatin1Char('p'))));
  EXPECT_EQ(CreateShortcutWithWizard(machine_.Store(), kDesktop, nullptr), "");
  ASSERT_EQ(prompter_.Records().size(), 2u);  // the wizard, then the warning
  EXPECT_EQ(prompter_.Records()[1].kind, MessageKind::Warning);
  EXPECT_EQ(prompter_.Records()[1].text,
            QStringLiteral("The shortcut C:\\WINDOWS\\Desktop\\") + QString(250, QLatin1Char('p')) +
                QStringLiteral(".lnk to C:\\WINDOWS\\NOTEPAD.EXE could not be created."));
}

// A machine whose drive N is the share \\SERVER\SHARE (the same files as drive C).
class NetworkShortcutTest : public ::testing::Test {
 protected:
  std::vector<QString> Messages() const {
    std::vector<QString> texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type == PromptRecord::Type::Message) texts.push_back(record.text);
    }
    return texts;
  }

  testing::PolicyMachine machine_{"[Drive N]\nType=remote\nPath=c\nRemoteName=\\\\SERVER\\SHARE\n"};
  AttachedPolicyFile file_{machine_.Store()};
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(NetworkShortcutTest, AUncTargetIsLinkedWithItsNetworkLocation) {
  prompter_.Queue(
      FillWizard(QStringLiteral("\\\\Server\\Share\\windows\\notepad.exe"), QStringLiteral("Pad")));
  const std::string link = CreateShortcutWithWizard(machine_.Store(), kDesktop, nullptr);
  EXPECT_EQ(link, std::string(kDesktop) + "\\Pad.lnk");
  EXPECT_TRUE(Messages().empty());
  const std::string shown = testing::Lnkinfo(machine_.Host(link));
  EXPECT_EQ(testing::LnkField(shown, "Network path"), "\\\\SERVER\\SHARE\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(testing::LnkField(shown, "Description"), "Pad");
  EXPECT_EQ(ResolveShellLink(machine_.GetMachine(), link),
            "\\\\SERVER\\SHARE\\WINDOWS\\NOTEPAD.EXE");

  // A share no drive reaches is refused at once.
  TfrmCreateShortcut wizard(nullptr, machine_.Store());
  SetText(wizard, "txtCommandLine", QStringLiteral("\\\\Other\\Share\\WINDOWS\\NOTEPAD.EXE"));
  Click(wizard, "cmdNext");
  EXPECT_EQ(Page(wizard), 0);
  EXPECT_EQ(Messages(), std::vector<QString>{
                            "The file \\\\Other\\Share\\WINDOWS\\NOTEPAD.EXE cannot be found."});
}

TEST_F(CreateShortcutTest, ReturnPressesNextThenFinish) {
  TfrmCreateShortcut wizard(nullptr, machine_.Store());
  wizard.show();
  QApplication::setActiveWindow(&wizard);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard));
  auto* commandLine = Find<QLineEdit>(wizard, "txtCommandLine");
  EXPECT_EQ(QApplication::focusWidget(), commandLine);
  QTest::keyClicks(commandLine, QString::fromLatin1(kNotepad));
  QTest::keyClick(commandLine, Qt::Key_Return);
  ASSERT_EQ(Page(wizard), 1);
  auto* name = Find<QLineEdit>(wizard, "txtShortcutName");
  ASSERT_EQ(QApplication::focusWidget(), name);
  QTest::keyClicks(name, QStringLiteral("Editor"));  // replaces the selected proposal
  QTest::keyClick(name, Qt::Key_Return);
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
  EXPECT_EQ(wizard.CommandLine(), kNotepad);
  EXPECT_EQ(wizard.ShortcutName(), "Editor");
}

TEST_F(CreateShortcutTest, BrowseStartsInProgramFilesAndFillsTheCommandLine) {
  TfrmCreateShortcut wizard(nullptr, machine_.Store());
  prompter_.Queue(std::optional<std::string>("C:\\Program Files\\Accessories\\WORDPAD.EXE"));
  Click(wizard, "btnBrowse");
  ASSERT_EQ(prompter_.requests.size(), 1u);
  EXPECT_EQ(prompter_.requests[0].filter,
            "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif");
  EXPECT_EQ(prompter_.requests[0].initialFolder, "C:\\Program Files");
  EXPECT_EQ(Text(wizard, "txtCommandLine"), "C:\\Program Files\\Accessories\\WORDPAD.EXE");

  // A setting that is not text is passed over; a cancelled chooser keeps the text.
  {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion", false);
    reg.WriteInteger("ProgramFilesDir", 1);
  }
  Click(wizard, "btnBrowse");
  ASSERT_EQ(prompter_.requests.size(), 2u);
  EXPECT_EQ(prompter_.requests[1].initialFolder, "");
  EXPECT_EQ(Text(wizard, "txtCommandLine"), "C:\\Program Files\\Accessories\\WORDPAD.EXE");
}

TEST_F(CreateShortcutTest, ATreePickLinksThePickedFileItself) {
  const std::string picked = "C:\\WINDOWS\\Start Menu\\Programs\\MS-DOS Prompt.lnk";
  prompter_.Queue(ScriptedPrompter::DialogScript([](QDialog& dialog) {
    auto* tree = Find<TFolderView>(dialog, "fvTree");
    const QTreeWidgetItem* root = tree->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i) {
      if (root->child(i)->text(0) == "MS-DOS Prompt.lnk") tree->setCurrentItem(root->child(i));
    }
    Click(dialog, "cmdOK");
    return dialog.result();
  }));
  const std::string link = AddShortcutFromStartMenu(QStringLiteral("Pick one"),
                                                    std::string(kDesktop) + "\\", nullptr, users_);
  EXPECT_EQ(link, std::string(kDesktop) + "\\MS-DOS Prompt.lnk");
  EXPECT_EQ(Lnk(link, "Local path"), picked);
  EXPECT_EQ(Lnk(link, "Description"), "MS-DOS Prompt");
}

TEST_F(CreateShortcutTest, NewShortcutKeepsTheNameAsTypedInTheFolder) {
  prompter_.Queue(ScriptedPrompter::DialogScript([](QDialog& dialog) {
    Click(dialog, "cmdBrowse");
    return dialog.result();
  }));
  prompter_.Queue(FillWizard(QString::fromLatin1(kNotepad), QStringLiteral("  Pad  ")));
  const std::string link = AddShortcutFromStartMenu(QStringLiteral("Pick one"),
                                                    std::string(kDesktop) + "\\", nullptr, users_);
  EXPECT_EQ(link, std::string(kDesktop) + "\\  Pad  .lnk");
  EXPECT_EQ(Lnk(link, "Local path"), kNotepad);
  EXPECT_EQ(Lnk(link, "Description"), "  Pad  ");

  EXPECT_EQ(CreateShortcutWithWizard(machine_.Store(), kDesktop, nullptr), "");  // cancelled
  EXPECT_TRUE(Messages().empty());
}

TEST_F(CreateShortcutTest, AMissingFolderIsReportedBeforeAnyDialog) {
  EXPECT_EQ(AddShortcutFromStartMenu(QStringLiteral("Pick one"), "C:\\Nowhere\\", nullptr, users_),
            "");
  EXPECT_EQ(CreateShortcutWithWizard(machine_.Store(), "C:\\Nowhere\\", nullptr), "");
  EXPECT_EQ(Messages(), (std::vector<QString>{"The directory C:\\Nowhere does not exist.",
                                              "The directory C:\\Nowhere\\ does not exist."}));
  EXPECT_EQ(prompter_.Records().size(), 2u);
}

}  // namespace
}  // namespace tarnwick
