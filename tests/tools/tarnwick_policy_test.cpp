// tarnwick-policy run as a program on a fresh demo machine, its files judged by cregexport.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "support/file_replacements.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

// The text cregexport prints for one key, up to the next key.
std::string KeyBlock(const std::string& exported, const std::string& keyPath) {
  const std::string head = "Key path: " + keyPath + "\n";
  const size_t start = exported.find(head);
  if (start == std::string::npos) return {};
  const size_t end = exported.find("\nKey path: ", start + head.size());
  return exported.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class TarnwickPolicyTest : public ::testing::Test {
 protected:
  TarnwickPolicyTest()
      : dir_(fs::temp_directory_path() /
             ("tarnwick-policy-tool-\xC3\xA9-" + std::to_string(::getpid()))) {
    fs::remove_all(dir_);
  }
  ~TarnwickPolicyTest() override { fs::remove_all(dir_); }

  ProgramRun Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {kTool, "--machine", dir_.string()});
    return RunProgram(args);
  }
  // Runs a command that must succeed.
  std::string Ok(std::vector<std::string> args) {
    const ProgramRun result = Tool(args);
    EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
    return result.out;
  }
  fs::path Windows(const std::string& name) const { return dir_ / "c" / "WINDOWS" / name; }
  std::string Export(const fs::path& file) {
    const ProgramRun result = RunProgram({"cregexport", file.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  // Every file on drive C with its bytes and modification time.
  std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot() const {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_ / "c")) {
      if (entry.is_regular_file()) {
        files[entry.path().string()] = {Slurp(entry.path()), entry.last_write_time()};
      }
    }
    return files;
  }
  // Imports REGEDIT4 text into the policy file with tarnwick-reg.
  void ImportIntoPolicyFile(const std::string& text) {
    { std::ofstream(dir_ / "in.reg", std::ios::binary) << text; }
    const ProgramRun run = RunProgram({TARNWICK_REG_PROGRAM, "import", (dir_ / "in.reg").string(),
                                       Windows("Tarnex.pol").string()});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  static constexpr const char* kTool = TARNWICK_POLICY_PROGRAM;
  fs::path dir_;
};

constexpr const char* kAnnPolicies =
    "Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

TEST_F(TarnwickPolicyTest, StoryOnAFreshDemoMachine) {
  const ProgramRun created = Tool({"add-user", "ann"});
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_NE(created.err.find("demo machine"), std::string::npos);
  // Each command writes each file it changes once.
  test::FileReplacements replaced(Windows(""));
  Ok({"add-user", "Bob"});
  EXPECT_EQ(replaced.Take(),
            (std::map<std::string, int>{{"SYSTEM.DA0", 1}, {"SYSTEM.DAT", 1}, {"Tarnex.pol", 1}}));
  const ProgramRun taken = Tool({"add-user", "bob"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.err.find("There is already a user with this name"), std::string::npos);

  Ok({"set", "ann", "NoRun", "1"});
  replaced.Take();
  Ok({"set", "ann", "noconfigure", "1"});  // six values
  EXPECT_EQ(replaced.Take(), (std::map<std::string, int>{{"Tarnex.pol", 1}}));
  Ok({"set", "ann", "NoDrives", "4"});
  Ok({"set", "ann", "RestrictRun", "1"});
  Ok({"set", "ann", "StartMenuFolder", "C:\\WINDOWS\\Profiles\\ann\\Start Menu"});
  Ok({"set", "ann", "RecentFolder", ""});
  Ok({"allow", "ann", "calc.exe"});
  Ok({"allow", "ann", "notepad.exe"});
  Ok({"disallow", "ann", "CALC.EXE"});
  Ok({"allow", "ann", "tarnex.exe"});
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"set", "ann", "NoRun", "2"},
        {"set", "ann", "NoDrives", "-1"},
        {"set", "ann", "NoSuchThing", "1"},
        {"set", "ann", "ProgramsFolder", "Programs"},
        {"disallow", "ann", "calc.exe"},
        {"show", "nobody"},
        {"add-user", "a\\b"}}) {
    const ProgramRun result = Tool(wrong);
    EXPECT_EQ(result.status, 1) << wrong[1] << " " << wrong.back();
    EXPECT_FALSE(result.err.empty());
  }

  const std::string shown = Ok({"show", "ann"});
  for (const char* line :
       {"NoRun=1\n", "NoFind=0\n", "NoNetSetup=1\n", "NoPasswordPages=1\n", "NoDrives=4\n",
        "RestrictRun=1\n", "StartMenuFolder=C:\\WINDOWS\\Profiles\\ann\\Start Menu\n",
        "RecentFolder=\n", "AllowedApp.3=tarnex.exe\nAllowedApp.4=notepad.exe\n",
        "ProfilePath=C:\\WINDOWS\\Profiles\\ann\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line << "in\n" << shown;
  }
  EXPECT_EQ(shown.find("calc.exe"), std::string::npos);

  EXPECT_EQ(Ok({"users"}), "ann\nBob\n");
  EXPECT_EQ(Ok({"activation"}), "off\n");
  Ok({"activation", "on"});
  EXPECT_EQ(Ok({"activation"}), "on\n");
  Ok({"remove-user", "BOB"});
  EXPECT_EQ(Ok({"users"}), "ann\n");
  EXPECT_TRUE(fs::exists(Windows("Profiles/Bob/user.dat")));

  const std::string policy = Export(Windows("Tarnex.pol"));
  const std::string explorer = KeyBlock(policy, std::string(kAnnPolicies) + "Explorer");
  EXPECT_NE(explorer.find("Value: 0 NoRun\nType: 32-bit integer little-endian "
                          "(REG_DWORD_LITTLE_ENDIAN)\nData size: 4\nData: 1\n"),
            std::string::npos)
      << explorer;
  EXPECT_NE(explorer.find("NoDrives\nType: 32-bit integer little-endian "
                          "(REG_DWORD_LITTLE_ENDIAN)\nData size: 4\nData: 4\n"),
            std::string::npos)
      << explorer;
  EXPECT_NE(explorer.find("NoDeletePrinter\n"), std::string::npos);
  const std::string allowed = KeyBlock(policy, std::string(kAnnPolicies) + "Explorer\\RestrictRun");
  EXPECT_NE(allowed.find("Data: notepad.exe\n"), std::string::npos) << allowed;
  EXPECT_NE(allowed.find("Data: tarnex.exe\n"), std::string::npos) << allowed;
  EXPECT_EQ(allowed.find("calc.exe"), std::string::npos) << allowed;
  EXPECT_NE(KeyBlock(policy, std::string(kAnnPolicies) + "System").find("NoAdminPage\n"),
            std::string::npos);
  EXPECT_NE(KeyBlock(policy,
                     "Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                     "User Shell Folders")
                .find("Data: C:\\WINDOWS\\Profiles\\ann\\Start Menu\n"),
            std::string::npos);
  EXPECT_NE(
      KeyBlock(policy, "Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run")
          .find("Data: C:\\TARNEX\\TWTray.exe\n"),
      std::string::npos);
  EXPECT_EQ(policy.find("Key path: Users\\Bob"), std::string::npos);

  const std::string system = Export(Windows("SYSTEM.DAT"));
  EXPECT_EQ(system.find("Key path: TARNEX"), std::string::npos);
  EXPECT_NE(KeyBlock(system, "System\\CurrentControlSet\\control\\Update")
                .find("Data: C:\\WINDOWS\\Tarnex.pol\n"),
            std::string::npos);
  EXPECT_EQ(system.find("Key path: SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\Bob"),
            std::string::npos);
}

TEST_F(TarnwickPolicyTest, NamesAreCodePage1252OnTheMachineAndUtf8OnTheCommandLine) {
  Ok({"add-user", "Zo\xC3\xAB"});
  EXPECT_EQ(Ok({"users"}), "Zo\xC3\xAB\n");
  EXPECT_TRUE(fs::exists(Windows("Profiles/Zo\xC3\xAB/user.dat")));
  EXPECT_EQ(Tool({"add-user", "\xE2\x82\xAC\xE2\x86\x92"}).status, 1);  // no arrow in 1252
}

TEST_F(TarnwickPolicyTest, AddUserAppliesTheAccountNameRule) {
  Ok({"add-user", "\xC3\xBCn\xC3\xAF"});  // ünï
  const std::pair<std::string, std::string> refused[] = {
      {"\xC3\x9CN\xC3\x8F", "There is already a user with this name"},  // ÜNÏ: one FAT folder
      {"Con.txt", "\"Con.txt\" is the name of a device and cannot be a user name"},
      {"a*b", "A user name cannot hold the character '*'"},
      {std::string(231, 'n'), "The user name is too long"}};
  for (const auto& [name, reason] : refused) {
    const ProgramRun result = Tool({"add-user", name});
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
  }
  EXPECT_EQ(Ok({"users"}), "\xC3\xBCn\xC3\xAF\n");
  EXPECT_FALSE(fs::exists(Windows("Profiles/Con.txt")));
}

// add-user makes the new-user wizard's account; its own tests compare the two.
TEST_F(TarnwickPolicyTest, AddUserOptionsAreCheckedBeforeAnythingIsMade) {
  Ok({"add-user", "ann"});
  const std::string policy = Slurp(Windows("Tarnex.pol"));
  const std::vector<std::string> malformed[] = {
      {"add-user", "bob", "--frobnicate"},
      {"add-user", "--icon", "C:\\TARNEX\\default.ico", "bob"},
      {"add-user", "bob", "--icon"},
      {"add-user", "bob", "--copy-programs", "ann", "--share-programs", "ann"},
      {"add-user", "bob", "--hide-drives", "A,CD"},
      {"add-user", "bob", "--hide-drives", "A,"},
      {"add-user", "bob", "--restrict", "NoRun,NoSuchThing"},
      {"add-user", "bob", "--allow", "--no-desktop-shortcuts"},
      {"remove-user", "ann", "--keep-profile"}};
  for (const std::vector<std::string>& args : malformed) {
    const ProgramRun result = Tool(args);
    EXPECT_EQ(result.status, 2) << args[2];
    EXPECT_NE(result.err.find("Try 'tarnwick-policy --help'"), std::string::npos) << result.err;
  }
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"add-user", "bob", "--icon", "C:\\TARNEX\\Gone.ico"}, "There is no icon file"},
      {{"add-user", "bob", "--copy-programs", "nobody"}, "There is no user named nobody"},
      {{"add-user", "bob", "--allow", "calc.exe", "C:\\WINDOWS\\GONE.EXE"},
       "There is no program or shortcut C:\\WINDOWS\\GONE.EXE"},
      {{"add-user", "bob", "--allow", "C:\\TARNEX\\default.ico.lnk"}, "There is no program"},
      {{"add-user", "bob", "--allow", " "}, "file name such as calc.exe"}};
  for (const auto& [args, reason] : refused) {
    const ProgramRun result = Tool(args);
    EXPECT_EQ(result.status, 1) << args[2];
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
  }
  { std::ofstream(Windows("BROKEN.LNK")) << "not a shortcut"; }
  const ProgramRun broken = Tool({"add-user", "bob", "--allow", "C:\\WINDOWS\\broken.lnk"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("is damaged or its target cannot be found"), std::string::npos)
      << broken.err;
  EXPECT_EQ(Slurp(Windows("Tarnex.pol")), policy);
  EXPECT_FALSE(fs::exists(Windows("Profiles/bob")));
}

// A failed add-user left the profile it had made, user.dat included, behind.
TEST_F(TarnwickPolicyTest, AFailedAddUserTakesBackTheProfileItMade) {
  Ok({"add-user", "ann"});
  fs::permissions(Windows("Tarnex.pol"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(Tool({"add-user", "bob"}).status, 1);
  EXPECT_FALSE(fs::exists(Windows("Profiles/bob")));
  EXPECT_TRUE(fs::exists(Windows("Profiles/ann/Desktop/ann's Programs.lnk")));
  fs::permissions(Windows("Tarnex.pol"), fs::perms::owner_write, fs::perm_options::add);

  // A profile folder that was there before stays, with what it held.
  fs::create_directories(Windows("Profiles/carl"));
  { std::ofstream(Windows("Profiles/carl/notes.txt")) << "kept"; }
  fs::permissions(Windows("Tarnex.pol"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(Tool({"add-user", "carl"}).status, 1);
  fs::permissions(Windows("Tarnex.pol"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(Slurp(Windows("Profiles/carl/notes.txt")), "kept");
  EXPECT_EQ(Ok({"users"}), "ann\n");
}

// As Remove User: the profile goes into the drive's Recycle Bin before the account's records.
TEST_F(TarnwickPolicyTest, RemoveUserWithDeleteProfileRecyclesTheProfile) {
  Ok({"add-user", "ann"});
  Ok({"add-user", "Bob"});
  Ok({"add-user", "carl"});
  Ok({"remove-user", "BOB", "--delete-profile"});
  EXPECT_FALSE(fs::exists(Windows("Profiles/Bob")));
  const ProgramRun bin =
      RunProgram({"rifiuti2", "-l", "CP1252", (dir_ / "c" / "RECYCLED" / "INFO").string()});
  ASSERT_EQ(bin.status, 0) << bin.err;
  for (const char* file : {"C:\\WINDOWS\\Profiles\\Bob\\user.dat",
                           "C:\\WINDOWS\\Profiles\\Bob\\Desktop\\Bob's Programs.lnk"}) {
    EXPECT_NE(bin.out.find(file), std::string::npos) << file << " in\n" << bin.out;
  }
  Ok({"remove-user", "carl"});
  EXPECT_TRUE(fs::exists(Windows("Profiles/carl/user.dat")));
  EXPECT_EQ(bin.out.find("carl"), std::string::npos);

  // A profile that is gone already is said, and the account goes all the same.
  fs::remove_all(Windows("Profiles/ann"));
  const ProgramRun gone = Tool({"remove-user", "ann", "--delete-profile"});
  EXPECT_EQ(gone.status, 0) << gone.err;
  EXPECT_NE(gone.err.find("Directory to delete not found."), std::string::npos) << gone.err;
  EXPECT_EQ(Ok({"users"}), "");
}

TEST_F(TarnwickPolicyTest, ShowPrintsWhatTheMainWindowShows) {
  Ok({"add-user", "Ann", "--hide-drives", "c,D,Q", "--restrict", "RestrictRun", "--allow",
      "C:\\WINDOWS\\NOTEPAD.EXE"});
  Ok({"activation", "on"});
  const std::string shown = Ok({"show", "ann"});
  EXPECT_TRUE(shown.starts_with("Name=Ann\n")) << shown;
  for (const char* line :
       {"NoDrives=65548\n", "HiddenDrives=C:,D:\n", "ProgramsFolder.Entry=NOTEPAD.lnk\n",
        "ProgramsFolder.Entry=StartUp\\\n", "StartMenuFolder.Entry=Programs\\\n",
        "DesktopFolder.Entry=Ann's Favorites.lnk\nDesktopFolder.Entry=Ann's Programs.lnk\n",
        "AllowedApp.1=NOTEPAD.EXE\n", "Activation=on\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line << "in\n" << shown;
  }
  EXPECT_EQ(shown.find("FavoritesFolder.Entry"), std::string::npos) << shown;
}

TEST_F(TarnwickPolicyTest, ErrorsNameWindowsNamesAndHostPathsInUtf8) {
  Ok({"users"});
  const ProgramRun nobody = Tool({"show", "Caf\xC3\xA9"});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("There is no user named Caf\xC3\xA9\n"), std::string::npos)
      << nobody.err;

  fs::create_directories(Windows("Profiles"));
  { std::ofstream(Windows("Profiles/Zo\xC3\xAB")) << "in the way"; }
  const ProgramRun blocked = Tool({"add-user", "Zo\xC3\xAB"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_NE(blocked.err.find("C:\\WINDOWS\\Profiles\\Zo\xC3\xAB cannot be made"), std::string::npos)
      << blocked.err;
  EXPECT_NE(blocked.err.find("/Profiles/Zo\xC3\xAB: "), std::string::npos) << blocked.err;
  EXPECT_EQ(Ok({"users"}), "");
}

TEST_F(TarnwickPolicyTest, RefusesWhileTheMachineIsInUse) {
  Ok({"users"});
  const Machine machine = Machine::Open(dir_);
  const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine);
  ASSERT_TRUE(lock);
  const ProgramRun refused = Tool({"add-user", "ann"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Tarnwick is running on the machine in " + dir_.string()),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(Windows("Profiles/ann")));
}

TEST_F(TarnwickPolicyTest, DamagedPolicyFileIsReportedAndKept) {
  Ok({"users"});
  { std::ofstream(Windows("Tarnex.pol"), std::ios::binary | std::ios::trunc) << "damaged"; }
  const ProgramRun result = Tool({"add-user", "ann"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("C:\\WINDOWS\\Tarnex.pol"), std::string::npos) << result.err;
  EXPECT_EQ(Slurp(Windows("Tarnex.pol")), "damaged");
  EXPECT_EQ(Export(Windows("SYSTEM.DAT")).find("Key path: TARNEX"), std::string::npos);
}

// Before, show and users created policy keys in Tarnex.pol and a ProfileList key in SYSTEM.DAT.
TEST_F(TarnwickPolicyTest, ReadingCommandsChangeNoFile) {
  EXPECT_EQ(Ok({"users"}), "");
  EXPECT_FALSE(fs::exists(Windows("Tarnex.pol")));
  Ok({"add-user", "ann"});
  Ok({"set", "ann", "NoRun", "1"});
  fs::remove(Windows("SYSTEM.DA0"));
  fs::remove(Windows("USER.DA0"));
  const auto before = Snapshot();
  EXPECT_EQ(Ok({"users"}), "ann\n");
  EXPECT_NE(Ok({"show", "ann"}).find("NoRun=1\n"), std::string::npos);
  EXPECT_EQ(Ok({"activation"}), "off\n");
  EXPECT_EQ(Tool({"show", "nobody"}).status, 1);
  EXPECT_EQ(RunProgram({TARNWICK_REG_PROGRAM, "--machine", dir_.string(), "export"}).status, 0);
  EXPECT_EQ(RunProgram({TARNWICK_REG_PROGRAM, "export", Windows("Tarnex.pol").string()}).status, 0);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(TarnwickPolicyTest, ShowPrintsAllOrNothingAndNumbersUnsigned) {
  Ok({"add-user", "ann"});
  const std::string explorer =
      "[Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\r\n";
  ImportIntoPolicyFile("REGEDIT4\r\n\r\n" + explorer + "\"NoDrives\"=dword:ffffffff\r\n");
  EXPECT_NE(Ok({"show", "ann"}).find("\nNoDrives=4294967295\n"), std::string::npos);

  // NoDOS comes after NoRun and the others: none of them is printed.
  ImportIntoPolicyFile(
      "REGEDIT4\r\n\r\n"
      "[Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp]\r\n"
      "\"Disabled\"=\"on\"\r\n");
  const ProgramRun damaged = Tool({"show", "ann"});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_EQ(damaged.out, "");
  EXPECT_NE(damaged.err.find("Invalid data type for 'Disabled'"), std::string::npos) << damaged.err;
}

// RestrictRun entries are bare file names: an empty one matches nothing, a path never.
TEST_F(TarnwickPolicyTest, AllowTakesOnlyAFileName) {
  Ok({"add-user", "ann"});
  const std::string policy = Slurp(Windows("Tarnex.pol"));
  for (const char* app : {"", "   ", "C:\\WINDOWS\\CALC.EXE", "A:calc.exe"}) {
    const ProgramRun refused = Tool({"allow", "ann", app});
    EXPECT_EQ(refused.status, 1) << app;
    EXPECT_NE(refused.err.find("file name such as calc.exe"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(Slurp(Windows("Tarnex.pol")), policy);
}

// A line break in a path came back from show as a line of its own.
TEST_F(TarnwickPolicyTest, ControlCharactersAreRefusedInEveryArgument) {
  Ok({"add-user", "ann"});
  const std::string policy = Slurp(Windows("Tarnex.pol"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set", "ann", "ProgramsFolder", "C:\\x\nNoRun=0"},
        {"set", "ann", "UserIcon", "C:\\a\r.ico"},
        {"allow", "ann", "calc\t.exe"},
        {"disallow", "ann", "calc.exe\n"},
        {"add-user",
         "a\x7F"
         "b"},
        {"show", "ann\x1B"}}) {
    const ProgramRun refused = Tool(args);
    EXPECT_EQ(refused.status, 1) << args[0];
    EXPECT_NE(refused.err.find("cannot hold a control character"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find("NoRun"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(Slurp(Windows("Tarnex.pol")), policy);
  EXPECT_EQ(Ok({"users"}), "ann\n");
  const ProgramRun badMachine = RunProgram({kTool, "--machine", dir_.string() + "\n", "users"});
  EXPECT_EQ(badMachine.status, 1);
  EXPECT_FALSE(fs::exists(dir_.string() + "\n"));
}

TEST_F(TarnwickPolicyTest, AddUserWithoutADefaultUserLeavesNothing) {
  Ok({"users"});
  { std::ofstream(dir_ / "in.reg", std::ios::binary) << "REGEDIT4\r\n[-HKEY_USERS\\.DEFAULT]\r\n"; }
  ASSERT_EQ(RunProgram({TARNWICK_REG_PROGRAM, "--machine", dir_.string(), "import",
                        (dir_ / "in.reg").string()})
                .status,
            0);
  const bool hadProfiles = fs::exists(Windows("Profiles"));
  const ProgramRun failed = Tool({"add-user", "bob"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("user.dat"), std::string::npos) << failed.err;
  EXPECT_FALSE(fs::exists(Windows("Profiles/bob")));
  EXPECT_EQ(fs::exists(Windows("Profiles")), hadProfiles);
  EXPECT_EQ(Ok({"users"}), "");
}

// Loading the policy file deleted HKEY_LOCAL_MACHINE\SOFTWARE for a program named Software.exe.
TEST_F(TarnwickPolicyTest, AProgramNamedLikeAKeyOfTheMachineIsRefusedAndTheKeyKept) {
  Ok({"users"});
  const std::string ini = Slurp(dir_ / "machine.ini");
  for (const std::string program : {"Software.exe", "Network.exe"}) {
    std::string named = ini;
    named.replace(named.find("TARNEX.EXE"), 10, program);
    { std::ofstream(dir_ / "machine.ini", std::ios::binary) << named; }
    fs::remove(Windows("SYSTEM.DA0"));
    const std::string system = Slurp(Windows("SYSTEM.DAT"));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"users"}, {"add-user", "ann"}, {"activation", "on"}}) {
      const ProgramRun refused = Tool(args);
      EXPECT_EQ(refused.status, 1) << program << " " << args[0];
      EXPECT_NE(refused.err.find("The program name " + program), std::string::npos) << refused.err;
    }
    EXPECT_EQ(Slurp(Windows("SYSTEM.DAT")), system) << program;
    EXPECT_FALSE(fs::exists(Windows("SYSTEM.DA0"))) << program;
    EXPECT_FALSE(fs::exists(Windows("Tarnex.pol"))) << program;
    for (const test::ReaderOutput& read :
         {test::ReadWithCregexport(Windows("SYSTEM.DAT")),
          test::ReadWithParseWin32Registry(Windows("SYSTEM.DAT"))}) {
      ASSERT_TRUE(read.ok()) << read.diagnostics;
      EXPECT_TRUE(test::HasExportedKey(read, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"));
      EXPECT_TRUE(test::HasExportedKey(read, "Network\\Logon"));
    }
  }
}

TEST_F(TarnwickPolicyTest, AReadOnlyPolicyFileIsKeptAndTheErrorSaysWhy) {
  Ok({"add-user", "ann"});
  const fs::path policy = Windows("Tarnex.pol");
  const std::string before = Slurp(policy);
  fs::permissions(policy, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const ProgramRun result = Tool({"set", "ann", "NoRun", "1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("could not be written: " + policy.string() + ": the file is read-only"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(Slurp(policy), before);

  const ProgramRun empty = RunProgram({kTool, "--machine", "", "users"});
  EXPECT_NE(empty.status, 0);
  EXPECT_EQ(empty.err.find("filesystem error"), std::string::npos) << empty.err;
}

TEST_F(TarnwickPolicyTest, HelpAndMalformedCommandLines) {
  const ProgramRun help = RunProgram({kTool, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: tarnwick-policy"), std::string::npos);
  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({"frobnicate"}).status, 2);
  EXPECT_EQ(Tool({"show"}).status, 2);
  EXPECT_EQ(Tool({"activation", "maybe"}).status, 2);
  EXPECT_FALSE(fs::exists(dir_));
}

}  // namespace
}  // namespace tarnwick::test
