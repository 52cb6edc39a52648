#include "account/account.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "account/account_shell.h"
#include "account/allowed_program.h"
#include "operations/file_operations.h"
#include "operations/text_prompter.h"
#include "policy/policy_keys.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "support/image_machine.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using test::Dword;
using test::FindExported;
using test::LnkField;
using test::Lnkinfo;
using test::SzText;

constexpr std::string_view kProfiles = "C:\\WINDOWS\\Profiles\\";
constexpr std::string_view kBoyIcon = "C:\\TARNEX\\UserIcon\\Boy.ico";

// Copies as the shell does, without its questions (a test that meets one fails); records what it
// deletes and tells.
class RecordingShell : public AccountShell {
 public:
  explicit RecordingShell(const Machine& machine) : machine_(machine) {}

  void CopyFolder(const std::string& source, const std::string& destination) override {
    const std::optional<fs::path> from = machine_.HostPath(source);
    if (!ExistingDirectory(machine_, source)) {
      told.push_back("Source Directory - " + source + " - not found.");
      return;
    }
    const fs::path to = machine_.HostPath(destination).value();
    fs::create_directory(to);
    fs::copy(*from, to, fs::copy_options::recursive);
  }
  void DeleteFolder(const std::string& folder) override { deleted.push_back(folder); }
  void Tell(const std::string& text) override { told.push_back(text); }

  std::vector<std::string> told;
  std::vector<std::string> deleted;

 private:
  const Machine& machine_;
};

class AccountTest : public ::testing::Test {
 protected:
  AccountTest() { machine_.Store().LoadPolicyFile(); }
  ~AccountTest() override { machine_.Store().UnloadPolicyFile(); }

  CreatedAccount Create(const NewUserAnswers& answers) {
    return CreateAccount(*users_, answers, shell_);
  }

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

  test::PolicyMachine machine_;
  RecordingShell shell_{machine_.GetMachine()};
  std::unique_ptr<TUsers> users_ = std::make_unique<TUsers>(machine_.Store());
};

TEST_F(AccountTest, EmptyProgramFolderAccountWithPoliciesAndDesktopLinks) {
  NewUserAnswers answers = Answers("  Kids ", ProgramFolderChoice::Empty);
  answers.iconFile = " " + std::string(kBoyIcon) + " ";
  answers.restrictions = {"NoRun", "nosetfolders"};
  answers.hiddenDrives = "aC";
  answers.apps = {{"NOTEPAD.EXE", TAllowedApp{"C:\\WINDOWS\\NOTEPAD.EXE", true}},
                  {"NOTEPAD.EXE", TAllowedApp{"C:\\WINDOWS\\NOTEPAD.EXE", true}}};
  EXPECT_EQ(Create(answers).iconFile, kBoyIcon);
  EXPECT_TRUE(shell_.told.empty());

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

TEST_F(AccountTest, PossessiveAndIconFallbacks) {
  // Without an icon the one beside the program; without that file, none.
  EXPECT_EQ(Create(Answers("Guest", ProgramFolderChoice::Empty)).iconFile,
            "C:\\TARNEX\\default.ico");
  EXPECT_EQ(users_->FindUser("Guest")->UserIcon(), "C:\\TARNEX\\default.ico");
  fs::remove(machine_.Host("C:\\TARNEX\\default.ico"));
  NewUserAnswers answers = Answers("GUESTS", ProgramFolderChoice::Empty);
  answers.iconFile = " \t";
  EXPECT_EQ(Create(answers).iconFile, "");
  EXPECT_EQ(users_->FindUser("GUESTS")->UserIcon(), "");
  answers = Answers("Kid", ProgramFolderChoice::Empty);
  answers.iconFile = "C:\\TARNEX\\UserIcon";  // a folder is no icon file
  EXPECT_EQ(Create(answers).iconFile, "");

  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Guest", "\\Desktop\\Guest's Programs.lnk"))));
  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Guest", "\\Desktop\\Guest's Favorites.lnk"))));
  const std::string link =
      Lnkinfo(machine_.Host(Profile("GUESTS", "\\Desktop\\GUESTS's Programs.lnk")));
  EXPECT_EQ(LnkField(link, "Description"), "Shortcut to GUESTS's Programs");
  EXPECT_EQ(LnkField(link, "Icon location"), "-");
}

TEST_F(AccountTest, CopiesTheSourcesStartMenuOnceOrInTwoSteps) {
  AddSource("Ann", "C:\\WINDOWS\\Start Menu", "c:\\windows\\start menu\\Programs");
  Write("C:\\Menus\\Bob\\Menu.txt");
  Write("C:\\Apps\\Bob Programs\\Games\\Game.txt");
  AddSource("Bob", "C:\\Menus\\Bob", "C:\\Apps\\Bob Programs");

  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Copy);
  answers.sourceUser = "ANN";
  Create(answers);
  // A second copy onto the first would have asked before replacing.
  EXPECT_TRUE(shell_.told.empty()) << shell_.told[0];
  const TUser& kids = *users_->FindUser("Kids");
  EXPECT_EQ(kids.StartMenuFolder(), Profile("Kids", "\\Start Menu"));
  EXPECT_EQ(kids.ProgramsFolder(), Profile("Kids", "\\Start Menu\\Programs"));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\Accessories")));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\StartUp")));

  answers = Answers("Carl", ProgramFolderChoice::Copy);
  answers.sourceUser = "Bob";
  Create(answers);
  EXPECT_TRUE(shell_.told.empty());
  EXPECT_EQ(users_->FindUser("Carl")->ProgramsFolder(), Profile("Carl", "\\Start Menu\\Programs"));
  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Carl", "\\Start Menu\\Menu.txt"))));
  EXPECT_TRUE(
      fs::exists(machine_.Host(Profile("Carl", "\\Start Menu\\Programs\\Games\\Game.txt"))));
  EXPECT_TRUE(IsDir(Profile("Carl", "\\Start Menu\\Programs\\StartUp")));
}

TEST_F(AccountTest, AProgramsFolderBesideTheStartMenuIsNotInsideIt) {
  // "C:\\WINDOWS\\Start Menu2" begins with the Start Menu's path but lies beside it.
  Write("C:\\WINDOWS\\Start Menu2\\Game.txt");
  AddSource("Ann", "C:\\WINDOWS\\Start Menu", "C:\\WINDOWS\\START MENU2");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Copy);
  answers.sourceUser = "Ann";
  Create(answers);
  EXPECT_TRUE(shell_.told.empty()) << shell_.told[0];
  const TUser& kids = *users_->FindUser("Kids");
  EXPECT_EQ(kids.StartMenuFolder(), Profile("Kids", "\\Start Menu"));
  EXPECT_EQ(kids.ProgramsFolder(), Profile("Kids", "\\Start Menu\\Programs"));
  EXPECT_TRUE(fs::exists(machine_.Host(Profile("Kids", "\\Start Menu\\Programs\\Game.txt"))));
  EXPECT_TRUE(IsDir(Profile("Kids", "\\Start Menu\\Programs\\StartUp")));
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Start Menu\\StartUp")));
}

TEST_F(AccountTest, ASourceWithoutAStartMenuGivesSoundFoldersWithItsPrograms) {
  // As tarnwick-policy add-user makes accounts: no Start Menu folder.
  AddSource("Ann", "", "C:\\WINDOWS\\Start Menu\\Programs");
  AddSource("Bob", "", "");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Copy);
  answers.sourceUser = "Ann";
  Create(answers);
  answers = Answers("Carl", ProgramFolderChoice::Copy);
  answers.sourceUser = "Bob";
  Create(answers);
  EXPECT_TRUE(shell_.told.empty()) << shell_.told[0];

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

TEST_F(AccountTest, WhatCouldNotBeDoneIsSaidAfterTheAccountIsMade) {
  // An icon file removed after it was chosen: the default icon, and a word about it.
  const std::string gone = "C:\\TARNEX\\UserIcon\\Gone.ico";
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Empty);
  answers.iconFile = gone;
  CreatedAccount created = Create(answers);
  EXPECT_EQ(created.iconFile, "C:\\TARNEX\\default.ico");
  EXPECT_EQ(users_->FindUser("Kids")->UserIcon(), "C:\\TARNEX\\default.ico");
  EXPECT_EQ(created.ProblemsText(), "The user Kids has been created, but:\n\nThe icon file " +
                                        gone + " cannot be found; the user gets the default icon.");

  // A name so long that the desktop shortcuts' paths pass 259 characters.
  const std::string name(130, 'k');
  created = Create(Answers(name, ProgramFolderChoice::Empty));
  const std::string desktop = Profile(name, "\\Desktop\\") + name + "'s ";
  EXPECT_EQ(created.ProblemsText(),
            "The user " + name + " has been created, but:\n\nThe shortcut " + desktop +
                "Programs.lnk could not be created. Its path is longer than 259 characters.\n\n"
                "The shortcut " +
                desktop +
                "Favorites.lnk could not be created. Its path is longer than 259 "
                "characters.");
  EXPECT_TRUE(IsDir(Profile(name, "\\Start Menu\\Programs\\StartUp")));
  EXPECT_TRUE(shell_.told.empty());
  EXPECT_EQ(Create(Answers("Carl", ProgramFolderChoice::Empty)).ProblemsText(), "");
}

TEST_F(AccountTest, ShareMakesOnlyStartUpAndAMissingSourceFallsBack) {
  fs::create_directories(machine_.Host("C:\\Shared\\Menu"));
  fs::create_directories(machine_.Host("C:\\Shared\\Programs"));
  AddSource("Ann", "C:\\Shared\\Menu", "C:\\Shared\\Programs");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Share);
  answers.sourceUser = "Ann";
  Create(answers);
  EXPECT_EQ(users_->FindUser("Kids")->StartMenuFolder(), "C:\\Shared\\Menu");
  EXPECT_EQ(users_->FindUser("Kids")->ProgramsFolder(), "C:\\Shared\\Programs");
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Start Menu")));
  EXPECT_TRUE(IsDir("C:\\Shared\\Programs\\StartUp"));
  EXPECT_TRUE(fs::is_empty(machine_.Host("C:\\Shared\\Menu")));
  EXPECT_TRUE(shell_.told.empty());

  answers = Answers("Carl", ProgramFolderChoice::Share);
  answers.sourceUser = "Nobody";
  Create(answers);
  EXPECT_EQ(shell_.told, std::vector<std::string>{
                             "There was an error accessing the selected user's Program Folder.  A "
                             "blank program folder will be created for the new user."});
  EXPECT_EQ(users_->FindUser("Carl")->ProgramsFolder(), Profile("Carl", "\\Start Menu\\Programs"));
  EXPECT_TRUE(IsDir(Profile("Carl", "\\Start Menu\\Programs\\StartUp")));
}

TEST_F(AccountTest, ListedProgramsGetShortcutsOnlyWhenAddedAndAnsweredYes) {
  AddSource("Ann", "C:\\WINDOWS\\Start Menu", "C:\\WINDOWS\\Start Menu\\Programs");
  NewUserAnswers answers = Answers("Kids", ProgramFolderChoice::Share);  // not consulted
  answers.sourceUser = "Ann";
  answers.runListed = true;
  answers.createShortcut = false;
  answers.apps = {{"NOTEPAD.EXE", TAllowedApp{"c:\\WINDOWS\\NOTEPAD.EXE", true}},
                  {"WORDPAD.EXE", TAllowedApp{"C:\\Program Files\\Accessories\\WORDPAD.EXE"}},
                  {"SYSTRAY.EXE", std::nullopt},
                  {"CALC.EXE", TAllowedApp{"", true}}};
  Create(answers);
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

TEST_F(AccountTest, BlankOrTakenNamesMakeNothing) {
  try {
    Create(Answers(" \t ", ProgramFolderChoice::Empty));
    ADD_FAILURE() << "no error";
  } catch (const AccountError& e) {
    EXPECT_STREQ(e.what(), "A user name cannot be empty");
  }
  EXPECT_EQ(users_->Count(), 0u);

  users_->AddUser("Kids");
  NewUserAnswers answers = Answers(" kids ", ProgramFolderChoice::Empty);
  answers.restrictions = {"NoRun"};
  try {
    Create(answers);
    ADD_FAILURE() << "no error";
  } catch (const AccountError& e) {
    EXPECT_STREQ(e.what(), "There is already a user with this name");
  }
  EXPECT_EQ(users_->Count(), 1u);
  EXPECT_EQ(users_->FindUser("Kids")->NoRun(), 0);
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Start Menu")));
  EXPECT_FALSE(IsDir(Profile("Kids", "\\Desktop")));
}

TEST_F(AccountTest, RemovingDeletesTheProfileOnlyWhenAskedAndBeforeTheRecords) {
  Create(Answers("Kids", ProgramFolderChoice::Empty));
  Create(Answers("Carl", ProgramFolderChoice::Empty));
  users_->AddUser("Ann");
  EXPECT_TRUE(RemoveAccount(*users_, "KIDS", false, shell_));
  EXPECT_TRUE(shell_.deleted.empty());
  EXPECT_EQ(users_->FindUser("Kids"), nullptr);

  EXPECT_TRUE(RemoveAccount(*users_, "Carl", true, shell_));
  EXPECT_EQ(shell_.deleted, std::vector<std::string>{Profile("Carl")});
  EXPECT_EQ(users_->Count(), 1u);

  // A profile entry that is gone: nothing to delete, the account goes all the same.
  machine_.Put(std::string(kProfileListKey) + "Ann", "ProfileImagePath", kRegSz, test::Sz(""));
  EXPECT_TRUE(RemoveAccount(*users_, "Ann", true, shell_));
  EXPECT_EQ(shell_.deleted.size(), 1u);
  EXPECT_EQ(users_->Count(), 0u);
  EXPECT_THROW(RemoveAccount(*users_, "Ann", true, shell_), AccountError);
}

// What an account makes and removes on disk, on a FAT32 volume in a dynamic VHD: a copied Start
// Menu, shortcuts to the listed programs and their resolution to 8.3 paths; qemu-img, mtools,
// lnkinfo and fsck.fat read the image afterwards.
TEST(AccountFilesOnImage, CopiedProgramsAndShortcutsOnAFat32DynamicVhd) {
  const ImageMachine image(32,
                           {{"Program Files/Games/Solitaire Deluxe.exe", std::string(3000, 'S')},
                            {"WINDOWS/Start Menu/Programs/Games/Read the Rules.txt", "rules"},
                            {"WINDOWS/Start Menu/Programs/StartUp/", ""},
                            {"WINDOWS/Profiles/", ""}},
                           ImageMachine::Kind::DynamicVhd);
  const std::string profile = "C:\\WINDOWS\\Profiles\\Ann Marie";
  const std::string programs = profile + "\\Start Menu\\Programs";
  {
    const Machine machine = image.Open();
    MakeDirectory(machine, profile);
    std::istringstream noAnswers;
    std::ostringstream told;
    TextPrompter prompter(noAnswers, told);
    EXPECT_EQ(
        CopyDirectoryTree(machine, "C:\\WINDOWS\\Start Menu", profile + "\\Start Menu", prompter),
        OperationResult::Done);
    const std::vector<AllowedAppEntry> apps = {
        {"calc.exe", std::nullopt},
        {"Solitaire Deluxe.exe",
         TAllowedApp{"c:\\Program Files\\Games\\Solitaire Deluxe.exe", true}},
        {"Gone.exe", TAllowedApp{"C:\\Program Files\\Gone.exe", true}}};
    CreateAllowedAppShortcuts(machine, apps, programs);
    const std::optional<AllowedProgram> allowed = AllowedProgramOf(
        machine, "C:\\WINDOWS\\PROFILES\\ANNMAR~1\\STARTM~1\\PROGRAMS\\SOLITA~1.LNK");
    ASSERT_TRUE(allowed);
    EXPECT_EQ(allowed->fileName, "SOLITA~1.EXE");
    EXPECT_EQ(allowed->path, "C:\\PROGRA~1\\GAMES\\SOLITA~1.EXE");
    EXPECT_FALSE(machine.Stat(programs + "\\Gone.lnk"));
  }
  EXPECT_EQ(image.Type("/WINDOWS/Profiles/Ann Marie/Start Menu/Programs/Games/Read the Rules.txt"),
            "rules");
  EXPECT_EQ(image.Type("/WINDOWS/PROFILES/ANNMAR~1/STARTM~1/PROGRAMS/GAMES/READTH~1.TXT"), "rules");
  EXPECT_EQ(
      image.Mtools("mdir", {"::/WINDOWS/Profiles/Ann Marie/Start Menu/Programs/StartUp"}).status,
      0);
  const std::string shortcut =
      "/WINDOWS/Profiles/Ann Marie/Start Menu/Programs/Solitaire Deluxe.lnk";
  EXPECT_EQ(image.Type(shortcut),
            image.Type("/WINDOWS/PROFILES/ANNMAR~1/STARTM~1/PROGRAMS/SOLITA~1.LNK"));
  const std::string out = Lnkinfo(image.Extract(shortcut));
  EXPECT_EQ(LnkField(out, "Local path"), "C:\\Program Files\\Games\\Solitaire Deluxe.exe") << out;
  EXPECT_EQ(LnkField(out, "Description"), "Solitaire Deluxe") << out;
  image.ExpectClean();

  {
    const Machine machine = image.Open();
    EXPECT_EQ(DeleteDirectoryTree(machine, "C:\\WINDOWS\\PROFILES\\ANNMAR~1"),
              OperationResult::Done);
  }
  EXPECT_NE(image.Mtools("mdir", {"::/WINDOWS/Profiles/Ann Marie"}).status, 0);
  EXPECT_EQ(image.Type("/WINDOWS/Start Menu/Programs/Games/Read the Rules.txt"), "rules");
  image.ExpectClean();
}

}  // namespace
}  // namespace tarnwick::test
