// tarnwick-policy import-users: accounts from a class list, judged by the independent readers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "support/file_replacements.h"
#include "support/independent_readers.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

class ImportUsersTest : public ::testing::Test {
 protected:
  ImportUsersTest()
      : dir_(fs::temp_directory_path() / ("tarnwick-import-" + std::to_string(::getpid()))) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Ok({"add-group", "Pupils"});
  }
  ~ImportUsersTest() override { fs::remove_all(dir_); }

  ProgramRun Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {TARNWICK_POLICY_PROGRAM, "--machine", (dir_ / "m").string()});
    return RunProgram(args);
  }
  std::string Ok(std::vector<std::string> args) {
    const ProgramRun result = Tool(args);
    EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
    return result.out;
  }
  // Writes the class list and imports it.
  ProgramRun Import(const std::string& text) {
    { std::ofstream(dir_ / "class.csv", std::ios::binary) << text; }
    return Tool({"import-users", (dir_ / "class.csv").string()});
  }
  fs::path Windows(const std::string& name) const { return dir_ / "m" / "c" / "WINDOWS" / name; }

  // Every entry of the machine's drive C, files with their bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_ / "m" / "c")) {
      entries[entry.path().string()] = entry.is_regular_file() ? Slurp(entry.path()) : "<dir>";
    }
    return entries;
  }

  fs::path dir_;
};

// Each column, a BOM, CR LF, blank lines, quoted cells with commas and quotes; copy and share
// sources made earlier in the list; each changed registry file written once.
TEST_F(ImportUsersTest, AClassListMakesEveryAccountWithItsFoldersAndShortcuts) {
  Ok({"add-user", "Teacher"});
  FileReplacements replaced(Windows(""));
  const ProgramRun run = Import(
      "\xEF\xBB\xBF"
      "name,icon,group,hide-drives,restrict,allow,copy-programs,share-programs\r\n"
      "Anna,C:\\TARNEX\\default.ico,pupils,\"A,C\",\"NoRun,RestrictRun\","
      "\"calc.exe, C:\\WINDOWS\\NOTEPAD.EXE\",,\r\n"
      "\r\n"
      " Ben ,,,,NoDOS,,anna,\r\n"
      "\"Cy, Jr\",,Pupils,D,,,,teacher\r\n"
      "Zo\xC3\xAB,,,,,,,Ben\r\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Anna\tPupils\nCy, Jr\tPupils\n");
  EXPECT_EQ(replaced.Take(),
            (std::map<std::string, int>{{"SYSTEM.DA0", 1}, {"SYSTEM.DAT", 1}, {"Tarnex.pol", 1}}));
  EXPECT_EQ(Ok({"users"}), "Teacher\nAnna\nBen\nCy, Jr\nZo\xC3\xAB\n");

  for (const ReaderOutput& policy : {ReadWithCregexport(Windows("Tarnex.pol")),
                                     ReadWithParseWin32Registry(Windows("Tarnex.pol"))}) {
    ASSERT_TRUE(policy.ok()) << policy.diagnostics;
    const std::string anna = std::string("Users\\Anna\\") + kPolicies;
    EXPECT_EQ(FindExported(policy, anna + "Explorer", "NoRun")->data, Dword(1));
    EXPECT_EQ(FindExported(policy, anna + "Explorer", "NoDrives")->data, Dword(5));
    EXPECT_EQ(FindExported(policy, anna + "Explorer", "RestrictRun")->data, Dword(1));
    EXPECT_EQ(SzText(FindExported(policy, anna + "Explorer\\RestrictRun", "1")->data), "calc.exe");
    EXPECT_EQ(SzText(FindExported(policy, anna + "Explorer\\RestrictRun", "2")->data),
              "NOTEPAD.EXE");
    EXPECT_EQ(
        FindExported(policy, std::string("Users\\Ben\\") + kPolicies + "WinOldApp", "Disabled")
            ->data,
        Dword(1));
    EXPECT_EQ(
        FindExported(policy, std::string("Users\\Cy, Jr\\") + kPolicies + "Explorer", "NoDrives")
            ->data,
        Dword(8));
  }
  for (const ReaderOutput& system : {ReadWithCregexport(Windows("SYSTEM.DAT")),
                                     ReadWithParseWin32Registry(Windows("SYSTEM.DAT"))}) {
    ASSERT_TRUE(system.ok()) << system.diagnostics;
    for (const char* name : {"Anna", "Ben", "Cy, Jr", "Zo\xC3\xAB"}) {
      EXPECT_TRUE(HasExportedKey(
          system,
          std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\") + name))
          << name;
      const ReaderOutput user =
          ReadWithParseWin32Registry(Windows(std::string("Profiles/") + name + "/user.dat"));
      EXPECT_TRUE(user.ok()) << name << user.diagnostics;
    }
  }

  // Anna may run only the listed programs: NOTEPAD gets its shortcut; Ben's Programs folder is a
  // copy of hers; Cy shares the teacher's, Zoë shares Ben's.
  const fs::path anna = Windows("Profiles/Anna");
  const std::string programs = Lnkinfo(anna / "Desktop" / "Anna's Programs.lnk");
  EXPECT_EQ(LnkField(programs, "Local path"), "C:\\WINDOWS\\Profiles\\Anna\\Start Menu\\Programs");
  EXPECT_EQ(LnkField(programs, "Icon location"), "C:\\TARNEX\\default.ico");
  EXPECT_EQ(LnkField(Lnkinfo(anna / "Start Menu/Programs/NOTEPAD.lnk"), "Local path"),
            "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_TRUE(fs::exists(Windows("Profiles/Ben/Start Menu/Programs/NOTEPAD.lnk")));
  for (const char* folder : {"Desktop", "Favorites", "Recent", "Start Menu/Programs/StartUp"}) {
    EXPECT_TRUE(fs::is_directory(Windows("Profiles/Ben") / folder)) << folder;
  }
  const std::string cy = Ok({"show", "Cy, Jr"});
  EXPECT_NE(cy.find("ProgramsFolder=C:\\WINDOWS\\Profiles\\Teacher\\Start Menu\\Programs\n"),
            std::string::npos)
      << cy;
  EXPECT_FALSE(fs::exists(Windows("Profiles/Cy, Jr/Start Menu")));
  EXPECT_NE(Ok({"show", "Zo\xC3\xAB"})
                .find("ProgramsFolder=C:\\WINDOWS\\Profiles\\Ben\\Start Menu\\Programs\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(Windows("Profiles/Cy, Jr/Desktop/Cy, Jr's Favorites.lnk")));
}

// Every kind of fault names the line and column and leaves every file of the machine as it was.
TEST_F(ImportUsersTest, AFaultNamesItsLineAndColumnAndNothingIsMade) {
  Ok({"add-user", "ann"});
  Ok({"add-user", "Zo\xC3\xAB"});
  const auto before = Snapshot();
  std::string tooMany = "name\n";
  for (int i = 0; i <= 2000; ++i) tooMany += "u" + std::to_string(i) + "\n";
  const std::pair<std::string, std::string> faults[] = {
      {"name,colour\n", "line 1, column 2: unknown column \"colour\""},
      {"icon\nC:\\x.ico\n", "line 1: the header names no column \"name\""},
      {"", "line 1: no header line"},
      {"name\nbob\n\nBOB\n", "line 4, column 1: the name \"BOB\" is on line 2 already"},
      {"name\n\xC3\xBC\n\xC3\x9C\n", "line 3, column 1: the name \"\xC3\x9C\" is on line 2"},
      {"name\nbob\nANN\n", "line 3, column 1: ANN: There is already a user with this name"},
      {"name\nZO\xC3\x8B\n", "line 2, column 1: ZO\xC3\x8B: There is already a user"},
      {"name\nbob\nc*l\n", "line 3, column 1: c*l: A user name cannot hold the character '*'"},
      {"name,icon\nbob,C:\\GONE.ICO\n", "line 2, column 2: There is no icon file C:\\GONE.ICO"},
      {"name,group\nbob,Staff\n", "line 2, column 2: There is no group Staff"},
      {"group,name\nPupils,bob\ncarl,\n", "line 3, column 2: the name is empty"},
      {"name,hide-drives\nbob,\"A,CD\"\n", "line 2, column 2: hide-drives takes drive letters"},
      {"name,restrict\nbob,NoFun\n", "line 2, column 2: restrict takes RestrictRun"},
      {"name,allow\nbob,\"calc.exe,C:\\GONE.EXE\"\n",
       "line 2, column 2: There is no program or shortcut C:\\GONE.EXE"},
      {"name,copy-programs\nbob,carl\ncarl,\n",
       "line 2, column 2: There is no user named carl on the machine nor on an earlier line"},
      {"name,copy-programs,share-programs\nbob,ann,ann\n",
       "line 2, column 3: a row takes copy-programs or share-programs, not both"},
      {"name\nbo\"b\n", "line 2, column 1: a quote inside a cell"},
      {"name,icon\nbob,\"C:\\x.ico\n", "line 2, column 2: the quoted cell never closes"},
      {"name,icon\nbob,\"C:\\a\nb.ico\"\n", "line 2, column 2: the cell holds a control character"},
      {"name\n\xE2\x86\x92\n", "line 2, column 1: the cell holds a character that code page 1252"},
      {"name\n\xFF\n", "line 2, column 1: the cell holds a character that code page 1252"},
      {"name,icon\nbob\n", "line 2: 1 cells where the header names 2 columns"},
      {tooMany, "line 2002: more than 2000 rows"}};
  const std::string file = (dir_ / "class.csv").string();
  for (const auto& [text, fault] : faults) {
    const ProgramRun run = Import(text);
    EXPECT_EQ(run.status, 1) << fault;
    EXPECT_NE(run.err.find(file + ", " + fault), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Snapshot(), before);

  // A file in the profile's place is found before anything is made.
  { std::ofstream(Windows("Profiles/carl")) << "in the way"; }
  const ProgramRun blocked = Import("name\nbob\ncarl\n");
  EXPECT_NE(blocked.err.find("line 3, column 1: The profile directory"), std::string::npos)
      << blocked.err;
  EXPECT_FALSE(fs::exists(Windows("Profiles/bob")));
  EXPECT_EQ(Tool({"import-users", (dir_ / "gone.csv").string()}).status, 1);
}

// A failure after the checks (here the policy file cannot be written) takes back every profile
// the import made, and keeps a profile folder that was there before with what it held.
TEST_F(ImportUsersTest, AFailureWhileWritingTakesBackEveryProfileMade) {
  Ok({"add-user", "ann"});
  fs::create_directories(Windows("Profiles/carl"));
  { std::ofstream(Windows("Profiles/carl/notes.txt")) << "kept"; }
  const auto before = Snapshot();
  fs::permissions(Windows("Tarnex.pol"), fs::perms::owner_write, fs::perm_options::remove);
  const ProgramRun run = Import("name,copy-programs\nbob,ann\ncarl,bob\ndora,\n");
  fs::permissions(Windows("Tarnex.pol"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("could not be written"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(fs::exists(Windows("Profiles/bob")));
  EXPECT_FALSE(fs::exists(Windows("Profiles/dora")));
  EXPECT_EQ(Slurp(Windows("Profiles/carl/notes.txt")), "kept");
  EXPECT_EQ(Ok({"users"}), "ann\n");
  // carl's Desktop and Start Menu copy stay inside the folder that was there; the rest is as it
  // was.
  auto after = Snapshot();
  std::erase_if(after, [&](const auto& entry) {
    return entry.first.starts_with(Windows("Profiles/carl/").string()) &&
           !before.contains(entry.first);
  });
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace tarnwick::test
