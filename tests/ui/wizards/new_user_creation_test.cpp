#include "ui/wizards/new_user_creation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "support/dialog_test.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kProfiles = "C:\\WINDOWS\\Profiles\\";
constexpr std::string_view kBoyIcon = "C:\\TARNEX\\UserIcon\\Boy.ico";

class NewUserCreationTest : public AttachedPolicyTest {
 protected:
  static NewUserAnswers Answers(std::string name, ProgramFolderChoice choice) {
    NewUserAnswers answers;
    answers.name = std::move(name);
    answers.folderChoice = choice;
    return answers;
  }
  std::string Profile(std::string_view name, std::string_view below = "") const {
    return std::string(kProfiles) + std::string(name) + std::string(below);
  }
  bool IsDir(std::string_view windowsPath) const {
    const auto host = machine_.GetMachine().HostPath(windowsPath);
    return host && fs::is_directory(*host);
  }
  // The names in a directory, sorted.
  std::vector<std::string> Names(std::string_view windowsPath) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(machine_.Host(windowsPath))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<QString> Messages() const {
    std::vector<QString> texts;
    for (const PromptRecord& record : prompter_.Records()) texts.push_back(record.text);
    return texts;
  }
  // A user whose Start Menu and Programs folders are the given ones.
  void AddSource(const std::string& name, const std::string& start, const std::string& programs) {
    TUser& user = users_->AddUser(name);
    user.SetStartMenuFolder(start);
    user.SetProgramsFolder(programs);
  }
  void Write(std::string_view windowsPath) {
    const fs::path host = machine_.GetMachine().HostPath(windowsPath).value();
    fs::create_directories(host.parent_path());
    std::ofstream(host) << "x";
  }

  std::unique_ptr<TUsers> users_ = std::make_unique<TUsers>(machine_.Store());
};

TEST_F(NewUserCreationTest, EmptyProgramFolderAccountWithPoliciesAndDesktopLinks) {
  NewUserAnswers answers = Answers("  Kids ", ProgramFolderChoice::Empty);
  answers.iconFile = " " + std::string(kBoyIcon) + " ";
  answers.noRun = answers.noSettings = true;
  answers.hiddenDrives = {"a: (Floppy)", "C: SYSTEM"};
  answers.apps = {{"NOTEPAD.EXE", TAllowedApp{"C:\\WINDOWS\\NOTEPAD.EXE", true}},
                  {"NOTEPAD.EXE", TAllowedApp{"C:\\WINDOWS\\NOTEPAD.EXE", true}}};
  EXPECT_EQ(CreateNewUser(answers, *users_, nullptr), kBoyIcon);
  EXPECT_TRUE(prompter_.Records().empty());

  for (const char* folder :
       {"\\Start Menu\\Programs\\StartUp", "\\Desktop", "\\Favorites", "\\Recent"}) {
    EXPECT_TRUE(IsDir(Profile("Kids", folder))) << folder;
  }
  // Not listed-only: the allowed programs get no shortcut.
  EXPECT_EQ(Names(Profile("Kids", "\\Start Menu\\Programs")), std::vector<std::string>{"StartUp"});
  const fs::path desktop = machine_.Host(Profile("Kids", "\\Desktop"));
  std::string link = Lnkinfo(desktop / "Kids' Programs.lnk");
  EXPECT_EQ(LnkField(link, "Local path"), Profile("Kids", "\\Start Menu\\Programs"));
  EXPECT_EQ(LnkField(link, "Description"), "Shortcut to Kids' Programs");
  EXPECT_EQ(LnkField(link, "Icon location"), kBoyIcon);
  link = Lnkinfo(desktop / "Kids' Favorites.lnk");
  EXPECT_EQ(LnkField(link, "Local path"), Profile("Kids", "\\Favorites"));
  EXPECT_EQ(LnkField(link, "Description"), "Shortcut to Kids' Favorites");
  EXPECT_EQ(LnkField(link, "Icon location"), "-");

  ASSERT_TRUE(machine_.Store().UnloadPolicyFile());
  const std::string user = "Users\\Kids\\Software\\";
  const std::string explorer = user + "Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
  const std::string folders =
      user + "Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const std::pair<std::string, std::string> texts[] = {
      {"Start Menu", Profile("Kids", "\\Start Menu")},
      {"Programs", Profile("Kids", "\\Start Menu\\Programs")},
      {"Desktop", Profile("Kids", "\\Desktop")},
      {"Favorites", Profile("Kids", "\\Favorites")},
      {"Recent", Profile("Kids", "\\Recent")}};
  const std::pair<std::string, uint32_t> flags[] = {
      {"NoRun", 1},     {"NoFind", 0},      {"NoSetFolders", 1}, {"NoSetTaskbar", 1},
      {"NoDesktop", 0}, {"RestrictRun", 0}, {"NoDrives", 5}};
  const std::string allowed[] = {"NOTEPAD.EXE", "NOTEPAD.EXE", "Tarnex.exe", "TWTray.exe"};
  for (const auto& policy : {test::ReadWithCregexport(machine_.PolicyFile()),
                             test::ReadWithParseWin32Registry(machine_.PolicyFile())}) {
    ASSERT_TRUE(policy.ok()) << policy.diagnostics;
    for (const auto& [name, path] : texts) {
      const auto* value = FindExported(policy, folders, name);
      ASSERT_NE(value, nullptr) << name;
      EXPECT_EQ(SzText(value->data), path);
    }
    for (const auto& [name, v] : flags) {
      const auto* value = FindExported(policy, explorer, name);
      ASSERT_NE(value, nullptr) << name;
      EXPECT_EQ(value->data, Dword(v)) << name;
    }
    for (size_t i = 0; i < std::size(allowed); ++i) {
      const auto* value = FindExported(policy, explorer + "\\RestrictRun", std::to_string(i));
      ASSERT_NE(value, nullptr) << i;
      EXPECT_EQ(SzText(value->data), allowed[i]);
    }
    EXPECT_EQ(FindExported(policy, explorer + "\\RestrictRun", "4"), nullptr);
  }
}

TEST_F(NewUserCreationTest, PossessiveAndIconFallbacks) {
  // Without an icon the one beside the program; without that file, none.
  EXPECT_EQ(CreateNewUser(Answers("Guest", ProgramFolderChoice::Empty), *users_, nullptr),
            "C:\\TARNEX\\default.ico");
  EXPECT_EQ(users_->FindUser("Guest")->UserIcon(), "C:\\TARNEX\\default.ico");
  fs::remove(machine_.Host("C:\\TARNEX\\default.ico"));
  NewUserAnswers answers = Answers("GUESTS", ProgramFolderChoice::Empty);
  answers.iconFile = " \t";
  EXPECT_EQ(CreateNewUser(answers, *users_, nullptr), "");
  EXPECT_EQ(users_->FindUser("GUESTS")->UserIcon(), "");
  answers = Answers("Kid", ProgramFolderChoice::Empty);
  answers.iconFile = "C:\\TARNEX\\UserIcon";  // a folder is no icon file
  EXPECT_EQ(CreateNewUser(answers, *users_, nullptr), "");

  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Guest", "\\Desktop\\Guest's Programs.lnk"))));
  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Guest", "\\Desktop\\Guest's Favorites.lnk"))));
  const std::string link =
      Lnkinfo(machine_.Host(Profile("GUESTS", "\\Desktop\\GUESTS's Programs.lnk")));
  EXPECT_EQ(LnkField(link, "Description"), "Shortcut to GUESTS's Programs");
  EXPECT_EQ(LnkField(link, "Icon location"), "-");
}

TEST_F(NewUserCreationTest, CopiesTheSourcesStartMenuOnceOrInTwoSteps) {
  AddSource("Ann", "C:\\WINDOWS\\Start Menu", "c:\\windows\\start menu\\Programs");
  Write("C:\\Menus\\Bob\\Menu.txt");
  Write("C:\\Apps\\Bob Programs\\Games\\Game.txt");
  AddSource("Bob", "C:\\Menus\\Bob", "C:\\Apps\\Bob Programs");

  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Copy);
  answers.sourceUser = "ANN";
  CreateNewUser(answers, *users_, nullptr);
  // A second copy onto the first would have asked before replacing.
  EXPECT_TRUE(prompter_.Records().empty()) << Messages()[0].toStdString();
  const TUser& kids = *users_->FindUser("Kids");
  EXPECT_EQ(kids.StartMenuFolder(), Profile("Kids", "\\Start Menu"));
  EXPECT_EQ(kids.ProgramsFolder(), Profile("Kids", "\\Start Menu\\Programs"));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\Accessories")));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\StartUp")));

  answers = Answers("Carl", ProgramFolderChoice::Copy);
  answers.sourceUser = "Bob";
  CreateNewUser(answers, *users_, nullptr);
  EXPECT_TRUE(prompter_.Records().empty());
  EXPECT_EQ(users_->FindUser("Carl")->ProgramsFolder(), Profile("Carl", "\\Start Menu\\Programs"));
  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Carl", "\\Start Menu\\Menu.txt"))));
  EXPECT_TRUE(
      fs::exists(machine_.Host(Profile("Carl", "\\Start Menu\\Programs\\Games\\Game.txt"))));
  EXPECT_TRUE(IsDir(Profile("Carl", "\\Start Menu\\Programs\\StartUp")));
}

TEST_F(NewUserCreationTest, AProgramsFolderBesideTheStartMenuIsNotInsideIt) {
  // "C:\\WINDOWS\\Start Menu2" begins with the Start Menu's path but lies beside it.
  Write("C:\\WINDOWS\\Start Menu2\\Game.txt");
  AddSource("Ann", "C:\\WINDOWS\\Start Menu", "C:\\WINDOWS\\START MENU2");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Copy);
  answers.sourceUser = "Ann";
  CreateNewUser(answers, *users_, nullptr);
  EXPECT_TRUE(prompter_.Records().empty()) << Messages()[0].toStdString();
  const TUser& kids = *users_->FindUser("Kids");
  EXPECT_EQ(kids.StartMenuFolder(), Profile("Kids", "\\Start Menu"));
  EXPECT_EQ(kids.ProgramsFolder(), Profile("Kids", "\\Start Menu\\Programs"));
  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Kids", "\\Start Menu\\Programs\\Game.txt"))));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\StartUp")));
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Start Menu\\StartUp")));
}

TEST_F(NewUserCreationTest, ASourceWithoutAStartMenuGivesSoundFoldersWithItsPrograms) {
  // As tarnwick-policy add-user makes accounts: no Start Menu folder.
  AddSource("Ann", "", "C:\\WINDOWS\\Start Menu\\Programs");
  AddSource("Bob", "", "");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Copy);
  answers.sourceUser = "Ann";
  CreateNewUser(answers, *users_, nullptr);
  answers = Answers("Carl", ProgramFolderChoice::Copy);
  answers.sourceUser = "Bob";
  CreateNewUser(answers, *users_, nullptr);
  EXPECT_TRUE(prompter_.Records().empty()) << Messages()[0].toStdString();

  const TUser& kids = *users_->FindUser("Kids");
  EXPECT_EQ(kids.StartMenuFolder(), Profile("Kids", "\\Start Menu"));
  EXPECT_EQ(kids.ProgramsFolder(), Profile("Kids", "\\Start Menu\\Programs"));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\Accessories")));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\StartUp")));
  const std::string link = Lnkinfo(machine_.Host(Profile("Kids", "\\Desktop\\Kids' Programs.lnk")));
  EXPECT_EQ(LnkField(link, "Local path"), Profile("Kids", "\\Start Menu\\Programs"));

  EXPECT_EQ(users_->FindUser("Carl")->ProgramsFolder(), Profile("Carl", "\\Start Menu\\Programs"));
  EXPECT_TRUE(IsDir(Profile("Carl", "\\Start Menu\\Programs\\StartUp")));
}

TEST_F(NewUserCreationTest, WhatCouldNotBeDoneIsSaidAfterTheAccountIsMade) {
  // An icon file removed after it was chosen: the default icon, and a word about it.
  const std::string gone = "C:\\TARNEX\\UserIcon\\Gone.ico";
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Empty);
  answers.iconFile = gone;
  EXPECT_EQ(CreateNewUser(answers, *users_, nullptr), "C:\\TARNEX\\default.ico");
  EXPECT_EQ(users_->FindUser("Kids")->UserIcon(), "C:\\TARNEX\\default.ico");
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].kind, MessageKind::Warning);
  EXPECT_EQ(Messages()[0],
            QString::fromStdString("The user Kids has been created, but:\n\nThe icon file " + gone +
                                   " cannot be found; the user gets the default icon."));

  // A name so long that the desktop shortcuts' paths pass 259 characters.
  prompter_.ClearRecords();
  const std::string name(130, 'k');
  CreateNewUser(Answers(name, ProgramFolderChoice::Empty), *users_, nullptr);
  ASSERT_EQ(Messages().size(), 1u);
  const std::string desktop = Profile(name, "\\Desktop\\") + name + "'s ";
  EXPECT_EQ(Messages()[0],
            QString::fromStdString("The user " + name + " has been created, but:\n\nThe shortcut " +
                                   desktop +
                                   "Programs.lnk could not be created. Its path is longer than "
                                   "259 characters.\n\nThe shortcut " +
                                   desktop +
                                   "Favorites.lnk could not be created. Its path is longer than "
                                   "259 characters."));
  EXPECT_TRUE(IsDir(Profile(name, "\\Start Menu\\Programs\\StartUp")));
}

TEST_F(NewUserCreationTest, ShareMakesOnlyStartUpAndAMissingSourceFallsBack) {
  fs::create_directories(machine_.Host("C:\\Shared\\Menu"));
  fs::create_directories(machine_.Host("C:\\Shared\\Programs"));
  AddSource("Ann", "C:\\Shared\\Menu", "C:\\Shared\\Programs");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Share);
  answers.sourceUser = "Ann";
  CreateNewUser(answers, *users_, nullptr);
  EXPECT_EQ(users_->FindUser("Kids")->StartMenuFolder(), "C:\\Shared\\Menu");
  EXPECT_EQ(users_->FindUser("Kids")->ProgramsFolder(), "C:\\Shared\\Programs");
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Start Menu")));
  EXPECT_TRUE(IsDir("C:\\Shared\\Programs\\StartUp"));
  EXPECT_TRUE(fs::is_empty(machine_.Host("C:\\Shared\\Menu")));
  EXPECT_TRUE(prompter_.Records().empty());

  answers = Answers("Carl", ProgramFolderChoice::Share);
  answers.sourceUser = "Nobody";
  CreateNewUser(answers, *users_, nullptr);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].kind, MessageKind::Plain);
  EXPECT_EQ(Messages()[0],
            "There was an error accessing the selected user's Program Folder.  A blank program "
            "folder will be created for the new user.");
  EXPECT_EQ(users_->FindUser("Carl")->ProgramsFolder(), Profile("Carl", "\\Start Menu\\Programs"));
  EXPECT_TRUE(IsDir(Profile("Carl", "\\Start Menu\\Programs\\StartUp")));
}

TEST_F(NewUserCreationTest, ListedProgramsGetShortcutsOnlyWhenAddedAndAnsweredYes) {
  AddSource("Ann", "C:\\WINDOWS\\Start Menu", "C:\\WINDOWS\\Start Menu\\Programs");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Share);  // not consulted
  answers.sourceUser = "Ann";
  answers.runListed = true;
  answers.createShortcut = false;
  answers.apps = {{"NOTEPAD.EXE", TAllowedApp{"c:\\WINDOWS\\NOTEPAD.EXE", true}},
                  {"WORDPAD.EXE", TAllowedApp{"C:\\Program Files\\Accessories\\WORDPAD.EXE"}},
                  {"SYSTRAY.EXE", std::nullopt},
                  {"CALC.EXE", TAllowedApp{"", true}}};
  CreateNewUser(answers, *users_, nullptr);
  const TUser& kids = *users_->FindUser("Kids");
  EXPECT_EQ(kids.RestrictRun(), 1);
  EXPECT_EQ(kids.ProgramsFolder(), Profile("Kids", "\\Start Menu\\Programs"));
  // An entry without a path falls back to its text, here a name of no existing file.
  EXPECT_EQ(Names(kids.ProgramsFolder()), (std::vector<std::string>{"NOTEPAD.lnk", "StartUp"}));
  const std::string notepad = Lnkinfo(machine_.Host(kids.ProgramsFolder()) / "NOTEPAD.lnk");
  EXPECT_EQ(LnkField(notepad, "Local path"), "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(LnkField(notepad, "Description"), "NOTEPAD");
  EXPECT_TRUE(fs::is_empty(machine_.Host(Profile("Kids", "\\Desktop"))));
}

TEST_F(NewUserCreationTest, BlankOrTakenNamesMakeNothing) {
  CreateNewUser(Answers(" \t ", ProgramFolderChoice::Empty), *users_, nullptr);
  EXPECT_EQ(Messages(), std::vector<QString>{"You must enter a name for the user"});
  EXPECT_EQ(users_->Count(), 0u);

  users_->AddUser("Kids");
  NewUserAnswers answers = Answers(" kids ", ProgramFolderChoice::Empty);
  answers.noRun = true;
  try {
    CreateNewUser(answers, *users_, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const AccountError& e) {
    EXPECT_STREQ(e.what(), "There is already a user with this name");
  }
  EXPECT_EQ(users_->Count(), 1u);
  EXPECT_EQ(users_->FindUser("Kids")->NoRun(), 0);
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Start Menu")));
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Desktop")));
}

}  // namespace
}  // namespace tarnwick::test
