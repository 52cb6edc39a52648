#include "ui/wizards/start_tree.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "controls/folder_view.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/scripted_prompter.h"
#include "shell/shell_links.h"
#include "support/policy_test_machine.h"
#include "ui/wizards/choose_allowed_application.h"

namespace tarnwick {
namespace {

constexpr const char* kPrograms = "C:\\WINDOWS\\Start Menu\\Programs";

// Keeps the file chooser's requests.
class ChooserPrompter : public ScriptedPrompter {
 public:
  std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                        const FileChooserRequest& request) override {
    requests.push_back(request);
    return ScriptedPrompter::ChooseFile(owner, machine, request);
  }
  QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind, const QString& title,
                                      const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    owners.push_back(owner);
    return ScriptedPrompter::Message(owner, kind, title, text, buttons);
  }
  std::vector<FileChooserRequest> requests;
  std::vector<QWidget*> owners;  // of the message boxes
};

template <typename T>
T* Find(const QDialog& dialog, const char* name) {
  T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

QStringList Entries(const QDialog& dialog) {
  const auto* list = Find<QComboBox>(dialog, "lstUsers");
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
  return entries;
}

void Choose(const QDialog& dialog, const QString& entry) {
  auto* list = Find<QComboBox>(dialog, "lstUsers");
  list->setCurrentIndex(list->findText(entry));
  emit list->activated(list->currentIndex());
}

// The node of a root child with the given text; null when there is none.
QTreeWidgetItem* Child(const QDialog& dialog, const QString& text) {
  const QTreeWidgetItem* root = Find<TFolderView>(dialog, "fvTree")->topLevelItem(0);
  for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
    if (root->child(i)->text(0) == text) return root->child(i);
  }
  return nullptr;
}

// Selects a root child and presses OK.
ScriptedPrompter::DialogScript PickChild(QString text) {
  return [text](QDialog& dialog) {
    QTreeWidgetItem* node = Child(dialog, text);
    EXPECT_NE(node, nullptr) << text.toStdString();
    Find<TFolderView>(dialog, "fvTree")->setCurrentItem(node);
    Find<QPushButton>(dialog, "cmdOK")->click();
    return dialog.result();
  };
}

class StartTreeTest : public ::testing::Test {
 protected:
  std::vector<QString> Messages(MessageKind kind) const {
    std::vector<QString> texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type == PromptRecord::Type::Message && record.kind == kind) {
        texts.push_back(record.text);
      }
    }
    return texts;
  }
  void PutString(RootKey root, std::string_view key, std::string_view name, std::string_view text) {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(root);
    reg.OpenKey(key, true);
    reg.WriteString(name, text);
  }
  void MoveSystemPrograms(std::string_view folder) {
    PutString(RootKey::Users,
              ".default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
              "Programs", folder);
  }
  TUser& AddUser(std::string_view name, std::string_view programs) {
    TUser& user = users_.AddUser(name);
    user.SetProgramsFolder(programs);
    return user;
  }

  testing::PolicyMachine machine_;
  AttachedPolicyFile file_{machine_.Store()};
  TUsers users_{machine_.Store()};
  ChooserPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(StartTreeTest, SystemStandsForTheDefaultProgramsFolderInAnyCase) {
  AddUser("Ann", "C:\\WINDOWS\\Start Menu\\Programs\\Accessories");
  AddUser("Bob", "C:\\Nowhere");
  AddUser("sYSTEM", "C:\\WINDOWS\\Start Menu\\Programs\\StartUp");
  TfrmStartTree dialog(nullptr, users_);
  const auto* tree = Find<TFolderView>(dialog, "fvTree");
  EXPECT_EQ(dialog.windowTitle(), "Select Application Shortcut");
  EXPECT_EQ(Entries(dialog), QStringList({"System", "Ann", "Bob", "sYSTEM"}));
  EXPECT_EQ(tree->RootFolder(), kPrograms);

  Choose(dialog, "Ann");
  EXPECT_EQ(tree->RootFolder(), "C:\\WINDOWS\\Start Menu\\Programs\\Accessories");
  Choose(dialog, "sYSTEM");
  EXPECT_EQ(tree->RootFolder(), kPrograms);
  EXPECT_TRUE(prompter_.Records().empty());

  Choose(dialog, "Bob");
  EXPECT_EQ(Messages(MessageKind::Plain),
            std::vector<QString>{"Invalid directory for selected user"});
  EXPECT_EQ(tree->topLevelItemCount(), 0);
}

// The first entry is read while the form is made, before it is shown: its box stands over the
// form's owner, not alone in a corner of the screen.
TEST_F(StartTreeTest, ABoxBeforeTheFormIsShownStandsOverItsOwner) {
  MoveSystemPrograms("C:\\Nowhere");
  AddUser("Bob", "C:\\Nowhere");
  AddUser("Ann", kPrograms);
  QWidget owner;
  owner.show();
  TfrmStartTree dialog(&owner, users_);
  EXPECT_EQ(Entries(dialog), QStringList({"Bob", "Ann"}));
  ASSERT_EQ(prompter_.owners.size(), 1u);
  EXPECT_EQ(prompter_.owners[0], &owner);
  dialog.show();
  Choose(dialog, "Ann");
  Choose(dialog, "Bob");
  ASSERT_EQ(prompter_.owners.size(), 2u);
  EXPECT_EQ(prompter_.owners[1], &dialog);
  EXPECT_EQ(Messages(MessageKind::Plain),
            std::vector<QString>(2, QStringLiteral("Invalid directory for selected user")));
}

TEST_F(StartTreeTest, OkTakesOnlyASelectedFile) {
  MoveSystemPrograms("C:\\Nowhere");
  {
    TfrmStartTree empty(nullptr, users_);
    EXPECT_TRUE(Entries(empty).isEmpty());
    EXPECT_EQ(Find<TFolderView>(empty, "fvTree")->topLevelItemCount(), 0);
    Find<QPushButton>(empty, "cmdOK")->click();
    EXPECT_EQ(empty.result(), QDialog::Rejected);
  }
  EXPECT_EQ(Messages(MessageKind::Plain),
            std::vector<QString>{"Error obtaining start menu for selected user"});
  EXPECT_EQ(Messages(MessageKind::Information),
            std::vector<QString>{"Select an application shortcut"});

  prompter_.ClearRecords();
  AddUser("Ann", kPrograms);
  TfrmStartTree dialog(nullptr, users_);
  EXPECT_EQ(Entries(dialog), QStringList({"Ann"}));
  Find<QPushButton>(dialog, "cmdOK")->click();  // the root folder is selected
  EXPECT_EQ(Messages(MessageKind::Information),
            std::vector<QString>{"You selected a folder.  Please select an application shortcut"});
  EXPECT_EQ(dialog.result(), QDialog::Rejected);

  PickChild(QStringLiteral("MS-DOS Prompt.lnk"))(dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.SelectedPath(), std::string(kPrograms) + "\\MS-DOS Prompt.lnk");
}

TEST_F(StartTreeTest, APickedShortcutGivesItsProgramsShortName) {
  const std::string program = "C:\\Program Files\\Accessories\\Long Program Name.exe";
  std::ofstream(machine_.Host(program)) << "MZ";
  ASSERT_NO_THROW(CreateShellLink(machine_.GetMachine(), program,
                                  std::string(kPrograms) + "\\Long Program.lnk", "Long Program",
                                  ""));
  QString caption, prompt, browse;
  prompter_.Queue(ScriptedPrompter::DialogScript([&](QDialog& dialog) {
    caption = dialog.windowTitle();
    prompt = Find<QLabel>(dialog, "lblPrompt")->text();
    browse = Find<QPushButton>(dialog, "cmdBrowse")->text();
    return PickChild(QStringLiteral("Long Program.lnk"))(dialog);
  }));
  prompter_.Queue(QMessageBox::Yes);

  const auto choice = ChooseAllowedApplication(nullptr, users_);
  EXPECT_EQ(caption, "Add Allowed Application");
  EXPECT_EQ(prompt,
            "Select a shortcut to an application that you want the user to be allowed to run");
  EXPECT_EQ(browse, "&Browse Computer");
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->fileName, "LONGPR~1.EXE");
  EXPECT_EQ(choice->path, "C:\\PROGRA~1\\ACCESS~1\\LONGPR~1.EXE");
  EXPECT_TRUE(choice->makeShortcut);
  const PromptRecord& question = prompter_.Records().back();
  EXPECT_EQ(question.kind, MessageKind::Confirm);
  EXPECT_EQ(question.text,
            "Do you want to create a shortcut to this application in the user's program folder?");
  EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

TEST_F(StartTreeTest, BrowsingResolvesATypedShortcutAndCancelMeansNoShortcut) {
  const auto browse = [](QDialog& dialog) {
    Find<QPushButton>(dialog, "cmdBrowse")->click();
    return dialog.result();
  };
  prompter_.Queue(ScriptedPrompter::DialogScript(browse));
  prompter_.Queue(
      std::optional<std::string>(std::string(kPrograms) + "\\ACCESSORIES\\NOTEPAD.LNK"));
  prompter_.Queue(QMessageBox::Cancel);
  const auto choice = ChooseAllowedApplication(nullptr, users_);
  ASSERT_EQ(prompter_.requests.size(), 1u);
  EXPECT_EQ(prompter_.requests[0].filter,
            "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif");
  EXPECT_EQ(prompter_.requests[0].initialFolder, "C:\\Program Files");
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->fileName, "NOTEPAD.EXE");
  EXPECT_EQ(choice->path, "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_FALSE(choice->makeShortcut);

  // A Program Files folder that does not exist is not offered; a damaged shortcut chooses
  // nothing, and says so.
  PutString(RootKey::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
            "ProgramFilesDir", "C:\\Gone");
  std::ofstream(machine_.Host("C:\\BROKEN.LNK")) << "not a shortcut";
  prompter_.ClearRecords();
  prompter_.Queue(ScriptedPrompter::DialogScript(browse));
  prompter_.Queue(std::optional<std::string>("C:\\BROKEN.LNK"));
  EXPECT_FALSE(ChooseAllowedApplication(nullptr, users_));
  ASSERT_EQ(prompter_.requests.size(), 2u);
  EXPECT_EQ(prompter_.requests[1].initialFolder, "");
  EXPECT_TRUE(Messages(MessageKind::Confirm).empty());
  EXPECT_EQ(Messages(MessageKind::Warning),
            std::vector<QString>{"The shortcut C:\\BROKEN.LNK is damaged or its target cannot be "
                                 "found, so no program was added."});
}

}  // namespace
}  // namespace tarnwick
