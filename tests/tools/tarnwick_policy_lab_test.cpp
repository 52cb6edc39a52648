// tarnwick-policy on a lab made by tarnwick-lab init: the netlogon CONFIG.POL is the policy file
// and every profile lies in its home, written as the clients see it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/independent_readers.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/unwritable_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kShellFolders =
    "Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* kProfileList = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\";

class TarnwickPolicyLabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-policy-lab-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    const ProgramRun init = RunProgram({TARNWICK_LAB_PROGRAM, "init", Lab().string(), "--domain",
                                        "CLASSROOM", "--server", "LabSrv"});
    ASSERT_EQ(init.status, 0) << init.err;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Lab() const { return dir_ / "lab"; }
  fs::path PolicyFile() const { return Lab() / "netlogon" / "CONFIG.POL"; }
  fs::path Profile(const std::string& name) const { return Lab() / "homes" / name / ".profiles"; }
  fs::path ServerSystemDat() const { return Lab() / "server" / "c" / "WINDOWS" / "SYSTEM.DAT"; }

  ProgramRun Tool(std::vector<std::string> args) const {
    args.insert(args.begin(), {TARNWICK_POLICY_PROGRAM, "--machine", Lab().string()});
    return RunProgram(args);
  }
  std::string Ok(std::vector<std::string> args) const {
    const ProgramRun run = Tool(args);
    EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
    return run.out;
  }

  fs::path dir_;
};

// Both readers agree on the value, a REG_SZ of the given text.
void ExpectText(const fs::path& file, const std::string& key, const std::string& name,
                const std::string& text) {
  for (const ReaderOutput& output : {ReadWithCregexport(file), ReadWithParseWin32Registry(file)}) {
    ASSERT_TRUE(output.ok()) << file << ": " << output.diagnostics;
    const ExportedValue* value = FindExported(output, key, name);
    ASSERT_NE(value, nullptr) << key << "\\" << name;
    EXPECT_EQ(value->type, 1u);
    EXPECT_EQ(SzText(value->data), text) << key << "\\" << name;
  }
}

TEST_F(TarnwickPolicyLabTest, AddUserMakesTheProfileInTheHomeWithClientPaths) {
  Ok({"add-user", "ann"});
  EXPECT_TRUE(fs::is_directory(Lab() / "server" / "c" / "TARNEX" / "UserIcon"));
  for (const char* made : {"user.dat", "Start Menu/Programs/StartUp", "Desktop", "Favorites",
                           "Recent", "Desktop/ann's Programs.lnk", "Desktop/ann's Favorites.lnk"}) {
    EXPECT_TRUE(fs::exists(Profile("ann") / made)) << made;
  }
  const std::string profile = "\\\\LABSRV\\ann\\.profiles";
  ExpectText(PolicyFile(), kShellFolders, "Programs", profile + "\\Start Menu\\Programs");
  ExpectText(PolicyFile(), kShellFolders, "Desktop", profile + "\\Desktop");
  ExpectText(ServerSystemDat(), std::string(kProfileList) + "ann", "ProfileImagePath", profile);
  // The policy file keeps the names the download reads; the program's key is no part of it.
  const ReaderOutput policies = ReadWithParseWin32Registry(PolicyFile());
  for (const ExportedKey& key : policies.keys) {
    const std::string top = key.path.substr(0, key.path.find('\\'));
    EXPECT_TRUE(top.empty() || top == "Users" || top == "Computers" || top == "Config" ||
                top == "UserGroups" || top == "GroupData")
        << key.path;
  }
  for (const ReaderOutput& output : {ReadWithCregexport(Profile("ann") / "user.dat"),
                                     ReadWithParseWin32Registry(Profile("ann") / "user.dat")}) {
    EXPECT_TRUE(output.ok()) << output.diagnostics;
    EXPECT_FALSE(output.keys.empty());
  }
  const std::string link = Lnkinfo(Profile("ann") / "Desktop" / "ann's Programs.lnk");
  EXPECT_EQ(LnkField(link, "Network path"), profile + "\\Start Menu\\Programs");
  EXPECT_EQ(LnkField(link, "Description"), "Shortcut to ann's Programs");

  // The home share is the Unix account's name, in lower case.
  Ok({"add-user", "Bob"});
  EXPECT_TRUE(fs::exists(Profile("bob") / "user.dat"));
  EXPECT_NE(Ok({"show", "Bob"}).find("ProfilePath=\\\\LABSRV\\bob\\.profiles\n"),
            std::string::npos);
  EXPECT_EQ(Ok({"users"}), "ann\nBob\n");
}

TEST_F(TarnwickPolicyLabTest, RemoveUserKeepsOrDeletesTheProfileInTheHome) {
  Ok({"add-user", "ann"});
  Ok({"add-user", "bob"});
  Ok({"remove-user", "ann"});
  EXPECT_TRUE(fs::exists(Profile("ann") / "user.dat"));
  Ok({"remove-user", "BOB", "--delete-profile"});
  EXPECT_FALSE(fs::exists(Profile("bob")));
  EXPECT_TRUE(fs::is_directory(Lab() / "homes" / "bob"));  // the Unix account's home stays
  EXPECT_EQ(Ok({"users"}), "");
  const ReaderOutput system = ReadWithCregexport(ServerSystemDat());
  EXPECT_FALSE(HasExportedKey(system, std::string(kProfileList) + "ann"));
  EXPECT_FALSE(HasExportedKey(system, std::string(kProfileList) + "bob"));
}

TEST_F(TarnwickPolicyLabTest, ActivationTellsWhetherTheFileIsServedAndChangesNothing) {
  EXPECT_EQ(Ok({"activation"}), "on\n");
  Ok({"users"});  // makes the server machine
  const std::string policy = Slurp(PolicyFile());
  const std::string system = Slurp(ServerSystemDat());
  for (const char* state : {"on", "off"}) {
    const ProgramRun run = Tool({"activation", state});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("tarnwick-lab join " + Lab().string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("CLASSROOM"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Slurp(PolicyFile()), policy);
  EXPECT_EQ(Slurp(ServerSystemDat()), system);

  // A policy file that switches its clients to manual downloading is not served to them.
  {
    std::ofstream(dir_ / "manual.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n"
           "[Computers\\.default\\System\\CurrentControlSet\\control\\Update]\r\n"
           "\"UpdateMode\"=dword:00000002\r\n";
  }
  const ProgramRun imported = RunProgram(
      {TARNWICK_REG_PROGRAM, "import", (dir_ / "manual.reg").string(), PolicyFile().string()});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Ok({"activation"}), "off\n");
  EXPECT_NE(Tool({"activation", "on"}).err.find("UpdateMode is not 1"), std::string::npos);
}

TEST_F(TarnwickPolicyLabTest, AMissingOrDamagedPolicyFileIsNamedAndKept) {
  const std::string whole = Slurp(PolicyFile());
  { std::ofstream(PolicyFile(), std::ios::binary) << whole.substr(0, 100); }
  ProgramRun run = Tool({"add-user", "ann"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("\\\\LABSRV\\NETLOGON\\CONFIG.POL"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(PolicyFile()), whole.substr(0, 100));
  EXPECT_FALSE(fs::exists(Profile("ann")));

  fs::remove(PolicyFile());
  run = Tool({"add-user", "ann"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(PolicyFile().string() + ": the lab's policy file is missing"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(PolicyFile()));
  EXPECT_FALSE(fs::exists(Profile("ann")));
}

TEST_F(TarnwickPolicyLabTest, AHomeThatCannotBeWrittenLeavesNoAccount) {
  Ok({"users"});
  const std::string policy = Slurp(PolicyFile());
  fs::create_directories(Lab() / "homes" / "ann");
  {
    const UnwritableDir locked(Lab() / "homes" / "ann");
    const ProgramRun run = Tool({"add-user", "ann"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("\\\\LABSRV\\ann\\.profiles cannot be made"), std::string::npos)
        << run.err;
  }
  EXPECT_EQ(Slurp(PolicyFile()), policy);
  EXPECT_FALSE(
      HasExportedKey(ReadWithCregexport(ServerSystemDat()), std::string(kProfileList) + "ann"));
  EXPECT_EQ(Ok({"users"}), "");
}

TEST_F(TarnwickPolicyLabTest, NamesSambaOrWindows95CannotHoldAreRefused) {
  Ok({"users"});
  const std::string policy = Slurp(PolicyFile());
  for (const char* name :
       {"ann smith", "ann+bob", ".ann", "2024", "abcdefghijklmnopqrstu", "ann\xC3\xA9", "CON"}) {
    const ProgramRun run = Tool({"add-user", name});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_FALSE(run.err.empty()) << name;
  }
  EXPECT_NE(Tool({"add-user", "ann smith"}).err.find("cannot be the name of a lab's account"),
            std::string::npos);
  EXPECT_EQ(Slurp(PolicyFile()), policy);
  EXPECT_TRUE(fs::is_empty(Lab() / "homes"));
  EXPECT_EQ(Ok({"users"}), "");
}

}  // namespace
}  // namespace tarnwick::test
