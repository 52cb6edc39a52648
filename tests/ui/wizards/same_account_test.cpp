// The new-user wizard and tarnwick-policy add-user, given the same answers on two copies of one
// machine, make the same account: policy key, profile entry, folders and shortcuts.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <map>

#include "demo/demo_machine.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "support/dialog_test.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "ui/wizards/new_user_wizard.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using test::RunProgram;
using test::Slurp;

constexpr std::string_view kProfileList =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\";

// What an account is on a machine, as the independent readers see it.
struct AccountOnDisk {
  std::vector<test::ExportedKey> policyKey[2];  // by cregexport, by Parse::Win32Registry
  std::vector<test::ExportedKey> profileEntry;
  std::vector<std::string> profileFiles;  // every folder and file, relative, sorted
  // Every shortcut of the profile by lnkinfo, without the target's times: the two machines made
  // their folders at other moments.
  std::map<std::string, std::string> links;
};

std::vector<test::ExportedKey> KeysBelow(const test::ReaderOutput& read, const std::string& path) {
  EXPECT_TRUE(read.ok()) << read.diagnostics;
  std::vector<test::ExportedKey> keys;
  for (const test::ExportedKey& key : read.keys) {
    if (key.path == path || key.path.starts_with(path + "\\")) keys.push_back(key);
  }
  EXPECT_FALSE(keys.empty()) << path;
  return keys;
}

std::string WithoutTimes(const std::string& lnkinfo) {
  std::string kept;
  size_t start = 0;
  while (start < lnkinfo.size()) {
    const size_t end = std::min(lnkinfo.find('\n', start), lnkinfo.size());
    const std::string line = lnkinfo.substr(start, end - start);
    if (line.find(" time") == std::string::npos) kept += line + "\n";
    start = end + 1;
  }
  return kept;
}

AccountOnDisk Read(const fs::path& machine, const std::string& name) {
  const fs::path windows = machine / "c" / "WINDOWS";
  AccountOnDisk account;
  const std::string key = "Users\\" + name;
  account.policyKey[0] = KeysBelow(test::ReadWithCregexport(windows / "Tarnex.pol"), key);
  account.policyKey[1] = KeysBelow(test::ReadWithParseWin32Registry(windows / "Tarnex.pol"), key);
  account.profileEntry =
      KeysBelow(test::ReadWithCregexport(windows / "SYSTEM.DAT"), std::string(kProfileList) + name);
  const fs::path profile = windows / "Profiles" / name;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(profile)) {
    const std::string relative = fs::relative(entry.path(), profile).string();
    account.profileFiles.push_back(relative);
    if (entry.path().extension() == ".lnk") {
      account.links[relative] = WithoutTimes(test::Lnkinfo(entry.path()));
    }
  }
  std::sort(account.profileFiles.begin(), account.profileFiles.end());
  return account;
}

void ExpectSame(const AccountOnDisk& wizard, const AccountOnDisk& tool) {
  for (int reader = 0; reader < 2; ++reader) {
    ASSERT_EQ(wizard.policyKey[reader].size(), tool.policyKey[reader].size()) << reader;
    for (size_t i = 0; i < wizard.policyKey[reader].size(); ++i) {
      EXPECT_EQ(wizard.policyKey[reader][i].path, tool.policyKey[reader][i].path);
      EXPECT_TRUE(wizard.policyKey[reader][i] == tool.policyKey[reader][i])
          << wizard.policyKey[reader][i].path;
    }
  }
  EXPECT_TRUE(wizard.profileEntry == tool.profileEntry);
  EXPECT_EQ(wizard.profileFiles, tool.profileFiles);
  EXPECT_EQ(wizard.links, tool.links);
}

void ChooseIcon(TfrmWizard& wizard, const QString& file) {
  auto* icons = Find<QListWidget>(wizard, "lstviewIcons");
  const QList<QListWidgetItem*> found = icons->findItems(file, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  icons->setCurrentItem(found.front());
}

// The Add Program flow answered: the file typed in the chooser, then the shortcut question.
void AddProgram(ScriptedPrompter& prompter, TfrmWizard& wizard, const std::string& file,
                QMessageBox::StandardButton shortcut) {
  prompter.Queue(ScriptedPrompter::DialogScript([](QDialog& dialog) {
    Find<QPushButton>(dialog, "cmdBrowse")->click();
    return dialog.result();
  }));
  prompter.Queue(std::optional<std::string>(file));
  prompter.Queue(shortcut);
  Find<QPushButton>(wizard, "btnAddApplication")->click();
}

// Two copies of one demo machine that has the account Ann with a Programs folder of its own,
// holding a shortcut and a folder.
class SameAccountTest : public ::testing::Test {
 protected:
  SameAccountTest() {
    OpenOrCreateMachine(WizardMachine());
    EXPECT_EQ(Tool(WizardMachine(), {"add-user", "Ann"}).status, 0);
    const fs::path programs =
        WizardMachine() / "c" / "WINDOWS" / "Profiles" / "Ann" / "Start Menu" / "Programs";
    fs::create_directories(programs / "Games");
    fs::copy_file(WizardMachine() / "c" / "WINDOWS" / "Start Menu" / "Programs" / "Accessories" /
                      "Calculator.lnk",
                  programs / "Games" / "Calculator.lnk");
    EXPECT_EQ(RunProgram({"cp", "-a", WizardMachine().string(), ToolMachine().string()}).status, 0);
  }

  fs::path WizardMachine() const { return temp_.Path() / "wizard"; }
  fs::path ToolMachine() const { return temp_.Path() / "tool"; }

  static test::ProgramRun Tool(const fs::path& machine, std::vector<std::string> args) {
    args.insert(args.begin(), {TARNWICK_POLICY_PROGRAM, "--machine", machine.string()});
    return RunProgram(args);
  }

  // Runs the new-user wizard on the wizard's machine: fill answers it, Finish makes the account.
  void RunWizard(const std::function<void(TfrmWizard&)>& fill) {
    const Machine machine = Machine::Open(WizardMachine());
    Registry registry(machine);
    PolicyStore store(registry);
    RegistryWriteBatch batch(registry);
    {
      const AttachedPolicyFile file(store);
      TUsers users(store);
      std::string icon;
      TfrmWizard wizard(nullptr, users, icon);
      fill(wizard);
      for (int page = 0; page < 7; ++page) {
        if (Find<QPushButton>(wizard, "cmdFinish")->isEnabled()) break;
        Find<QPushButton>(wizard, "cmdNext")->click();
      }
      Find<QPushButton>(wizard, "cmdFinish")->click();
      EXPECT_EQ(users.Count(), 2u);
    }
    batch.Finish();
  }

  TempMachineDir temp_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(SameAccountTest, RestrictedToListedProgramsWithAnIconAndHiddenDrives) {
  RunWizard([this](TfrmWizard& wizard) {
    Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Kids"));
    ChooseIcon(wizard, QStringLiteral("Boy.ico"));
    for (const char* box : {"chkNoRun", "chkNoSettings", "chkRestrictSystem", "chkRunListed"}) {
      Find<QCheckBox>(wizard, box)->setChecked(true);
    }
    auto* drives = Find<QListWidget>(wizard, "lstHideDrives");
    for (int row = 0; row < drives->count(); ++row) {
      const QString letter = drives->item(row)->text().left(1).toUpper();
      drives->item(row)->setSelected(letter == "A" || letter == "C");
    }
    AddProgram(prompter_, wizard, "C:\\WINDOWS\\Start Menu\\Programs\\Accessories\\Calculator.lnk",
               QMessageBox::Yes);
    AddProgram(prompter_, wizard, "C:\\WINDOWS\\NOTEPAD.EXE", QMessageBox::No);
  });
  const test::ProgramRun tool =
      Tool(ToolMachine(),
           {"add-user", "Kids", "--icon", "C:\\TARNEX\\UserIcon\\Boy.ico", "--hide-drives",
            "a,C:", "--restrict", "NoRun,NoSetFolders,NoConfigure,RestrictRun", "--allow",
            "C:\\WINDOWS\\Start Menu\\Programs\\Accessories\\Calculator.lnk", "NOTEPAD.EXE"});
  ASSERT_EQ(tool.status, 0) << tool.err;
  // Only the two shortcut questions were asked: no warning, no message.
  for (const PromptRecord& record : prompter_.Records()) {
    if (record.type != PromptRecord::Type::Message) continue;
    EXPECT_EQ(record.kind, MessageKind::Confirm) << record.text.toStdString();
  }

  const AccountOnDisk wizard = Read(WizardMachine(), "Kids");
  ExpectSame(wizard, Read(ToolMachine(), "Kids"));
  // The account is the one asked for, not merely the same twice.
  EXPECT_EQ(wizard.links.count("Start Menu/Programs/CALC.lnk"), 1u);
  EXPECT_EQ(wizard.links.count("Desktop/Kids' Programs.lnk"), 1u);
  const fs::path windows = ToolMachine() / "c" / "WINDOWS";
  EXPECT_EQ(Slurp(WizardMachine() / "c" / "WINDOWS" / "Tarnex.pol"), Slurp(windows / "Tarnex.pol"));
  const std::string shown = Tool(ToolMachine(), {"show", "Kids"}).out;
  for (const char* line :
       {"NoRun=1\n", "NoSetFolders=1\n", "NoConfigure=1\n", "NoDrives=5\n", "RestrictRun=1\n",
        "AllowedApp.1=CALC.EXE\n", "AllowedApp.2=NOTEPAD.EXE\n", "AllowedApp.3=Tarnex.exe\n",
        "UserIcon=C:\\TARNEX\\UserIcon\\Boy.ico\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line << "in\n" << shown;
  }
}

TEST_F(SameAccountTest, SharingAnotherUsersProgramsWithoutDesktopShortcuts) {
  RunWizard([](TfrmWizard& wizard) {
    Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Guest"));
    ChooseIcon(wizard, QStringLiteral("Car.ico"));
    Find<QRadioButton>(wizard, "btnShareStartMenu")->setChecked(true);
    Find<QCheckBox>(wizard, "chkCreateShortcut")->setChecked(false);
  });
  const test::ProgramRun tool =
      Tool(ToolMachine(), {"add-user", "Guest", "--share-programs", "ann", "--no-desktop-shortcuts",
                           "--icon", "C:\\TARNEX\\UserIcon\\Car.ico"});
  ASSERT_EQ(tool.status, 0) << tool.err;
  ExpectSame(Read(WizardMachine(), "Guest"), Read(ToolMachine(), "Guest"));
  EXPECT_EQ(Slurp(WizardMachine() / "c" / "WINDOWS" / "Tarnex.pol"),
            Slurp(ToolMachine() / "c" / "WINDOWS" / "Tarnex.pol"));
}

TEST_F(SameAccountTest, CopyingAnotherUsersProgramsWithHiddenDrivesOnly) {
  RunWizard([](TfrmWizard& wizard) {
    Find<QLineEdit>(wizard, "txtName")->setText(QStringLiteral("Cleo"));
    ChooseIcon(wizard, QStringLiteral("Car.ico"));
    Find<QRadioButton>(wizard, "btnOwnStartMenu")->setChecked(true);
    auto* drives = Find<QListWidget>(wizard, "lstHideDrives");
    for (int row = 0; row < drives->count(); ++row) {
      drives->item(row)->setSelected(drives->item(row)->text().left(1).toUpper() == "D");
    }
  });
  const test::ProgramRun tool =
      Tool(ToolMachine(), {"add-user", "Cleo", "--copy-programs", "Ann", "--hide-drives", "D",
                           "--icon", "C:\\TARNEX\\UserIcon\\Car.ico"});
  ASSERT_EQ(tool.status, 0) << tool.err;
  const AccountOnDisk wizard = Read(WizardMachine(), "Cleo");
  ExpectSame(wizard, Read(ToolMachine(), "Cleo"));
  EXPECT_EQ(wizard.links.count("Start Menu/Programs/Games/Calculator.lnk"), 1u);
  EXPECT_EQ(Slurp(WizardMachine() / "c" / "WINDOWS" / "Tarnex.pol"),
            Slurp(ToolMachine() / "c" / "WINDOWS" / "Tarnex.pol"));
}

}  // namespace
}  // namespace tarnwick::test
