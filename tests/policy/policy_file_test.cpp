#include "policy/policy_store.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "demo/demo_machine.h"
#include "policy/activation.h"
#include "policy/user.h"
#include "policy/users.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick {
namespace {

using testing::FindExported;
using testing::HasExportedKey;
using testing::PolicyMachine;
using testing::ReadWithCregexport;
using testing::ReadWithParseWin32Registry;

constexpr std::string_view kAnnExplorer =
    "Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kAnnFolders =
    "Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PolicyPathsTest, DerivedFromWindowsDirectoryAndProgramName) {
  EXPECT_EQ(PolicyFilePathFor("C:\\WINDOWS"), "C:\\WINDOWS\\Tarnex.pol");
  EXPECT_EQ(PolicyFilePathFor("C:\\"), "C:\\Tarnex.pol");
  EXPECT_EQ(HiveKeyNameFor("C:\\TOOLS\\abc.exe"), "abc");
  EXPECT_EQ(HiveKeyNameFor("C:\\TOOLS\\abc"), "abc");
  EXPECT_EQ(HiveKeyNameFor("C:\\x.y.exe"), "x.y");
  EXPECT_EQ(HiveKeyNameFor("C:\\DIR.EXT\\Tarnex"), "Tarnex");

  PolicyMachine machine;
  EXPECT_EQ(machine.Store().PolicyFilePath(), "C:\\WINDOWS\\Tarnex.pol");
  EXPECT_EQ(machine.Store().HiveKeyName(), "TARNEX");
  EXPECT_EQ(machine.Store().UsersKeyPath(), "TARNEX\\Users");
  EXPECT_FALSE(machine.Store().PolicyLoaded());
}

// A program named like a key of SYSTEM.DAT would have the load delete that key, or the unload save
// it as the policy file and then delete it.
TEST(PolicyPathsTest, AProgramNamedLikeAKeyOfTheMachineIsRefusedAndNothingChanges) {
  for (const std::string program : {"Software.exe", "NETWORK.EXE", "config", "enum.exe", ".exe"}) {
    TempMachineDir temp;
    const std::filesystem::path dir = temp.Path() / "machine";
    OpenOrCreateMachine(dir);
    std::string ini = Slurp(dir / "machine.ini");
    const size_t at = ini.find("TARNEX.EXE");
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, 10, program);
    temp.WriteFile("machine/machine.ini", ini);
    const Machine machine = Machine::Open(dir);
    const std::filesystem::path system = machine.HostPath("C:\\WINDOWS\\SYSTEM.DAT").value();
    const std::string before = Slurp(system);
    {
      Registry registry(machine);
      try {
        const PolicyStore store(registry);
        ADD_FAILURE() << program << " accepted";
      } catch (const PolicyFileError& error) {
        const std::string what = error.what();
        EXPECT_NE(what.find("The program name " + program), std::string::npos) << what;
        EXPECT_NE(what.find("ProgramPath in machine.ini"), std::string::npos) << what;
      }
    }
    EXPECT_EQ(Slurp(system), before) << program;
    EXPECT_FALSE(std::filesystem::exists(system.parent_path() / "SYSTEM.DA0")) << program;
  }
}

// Only a tree of the store's own keys is taken for one an earlier run left; anything else under
// the name stays, whether or not a policy file exists.
TEST(PolicyFileTest, LoadNeverDeletesAKeyTheProgramDidNotMake) {
  for (const bool fileExists : {false, true}) {
    PolicyMachine machine;
    if (fileExists) {
      const AttachedPolicyFile created{machine.Store()};
      TUser(machine.Store(), "ann").SetNoRun(1);
    }
    machine.Put("TARNEX\\Users\\bob", "x", kRegDword, testing::Dword(1));
    machine.Put("TARNEX\\Classes", "y", kRegDword, testing::Dword(2));
    const std::string policyBefore = fileExists ? Slurp(machine.PolicyFile()) : "";
    EXPECT_THROW(machine.Store().LoadPolicyFile(), PolicyFileError);
    EXPECT_FALSE(machine.Store().PolicyLoaded());
    EXPECT_TRUE(machine.Value("TARNEX\\Classes", "y"));
    EXPECT_TRUE(machine.Value("TARNEX\\Users\\bob", "x"));
    EXPECT_EQ(fileExists ? Slurp(machine.PolicyFile()) : "", policyBefore);
    EXPECT_EQ(std::filesystem::exists(machine.PolicyFile()), fileExists);
  }
  PolicyMachine machine;
  machine.Put("TARNEX\\Users\\bob", "x", kRegDword, testing::Dword(1));
  machine.Put("TARNEX", "top", kRegDword, testing::Dword(1));
  EXPECT_THROW(machine.Store().LoadPolicyFile(), PolicyFileError);
  EXPECT_TRUE(machine.Value("TARNEX", "top"));
}

// Getters open keys with creation; a store that only reads creates none, and saves no new file.
TEST(PolicyFileTest, AStoreThatOnlyReadsChangesNoFile) {
  PolicyMachine machine;
  const std::filesystem::path backup = machine.SystemDat().parent_path() / "SYSTEM.DA0";
  machine.ReopenStore(PolicyAccess::ReadOnly);
  {
    const AttachedPolicyFile attached{machine.Store()};
    EXPECT_EQ(TUsers(machine.Store()).Count(), 0u);
    EXPECT_EQ(ReadActivationState(machine.Store()), ActivationState::Off);
  }
  EXPECT_FALSE(std::filesystem::exists(machine.PolicyFile()));
  EXPECT_FALSE(std::filesystem::exists(backup));

  machine.Restart();
  {
    const AttachedPolicyFile attached{machine.Store()};
    TUsers(machine.Store()).AddUser("ann");
  }
  std::filesystem::remove(backup);
  const std::string system = Slurp(machine.SystemDat());
  const std::string policy = Slurp(machine.PolicyFile());
  machine.Restart();
  machine.ReopenStore(PolicyAccess::ReadOnly);
  {
    const AttachedPolicyFile attached{machine.Store()};
    TUsers users{machine.Store()};
    ASSERT_EQ(users.Count(), 1u);
    TUser& ann = users[0];
    EXPECT_EQ(ann.NoRun() + ann.NoDOS() + ann.NoConfigure() + ann.NoNetSetup() + ann.NoDrives(), 0);
    EXPECT_EQ(ann.ProgramsFolder() + ann.UserIcon(), "");
    std::vector<AllowedApp> apps;
    EXPECT_TRUE(ann.GetAllowedApps(apps).empty());
    EXPECT_EQ(ann.ProfilePath(), "C:\\WINDOWS\\Profiles\\ann");
    EXPECT_EQ(TUser(machine.Store(), "nobody").ProfilePath(), "");
  }
  machine.Restart();
  EXPECT_EQ(Slurp(machine.SystemDat()), system);
  EXPECT_EQ(Slurp(machine.PolicyFile()), policy);
  EXPECT_FALSE(std::filesystem::exists(backup));
}

// The life of a policy file: created from plain keys on the first run, attached on the next,
// and never leaving a TARNEX key in SYSTEM.DAT.
TEST(PolicyFileTest, WholeLifeOnDemoMachine) {
  PolicyMachine machine;
  ASSERT_FALSE(std::filesystem::exists(machine.PolicyFile()));

  EXPECT_FALSE(machine.Store().LoadPolicyFile());
  EXPECT_TRUE(machine.Store().PolicyLoaded());
  TUser ann(machine.Store(), "ann");
  ann.SetNoRun(1);
  ann.SetProgramsFolder("C:\\WINDOWS\\Profiles\\ann\\Start Menu\\Programs");
  // Without a file the edits are plain keys of the machine's registry.
  EXPECT_TRUE(FindExported(ReadWithCregexport(machine.SystemDat()),
                           std::string("TARNEX\\") + std::string(kAnnExplorer), "NoRun"));
  EXPECT_TRUE(machine.Store().UnloadPolicyFile());
  EXPECT_FALSE(machine.Store().PolicyLoaded());
  ASSERT_TRUE(std::filesystem::exists(machine.PolicyFile()));
  EXPECT_FALSE(machine.KeyExists("TARNEX"));
  EXPECT_FALSE(HasExportedKey(ReadWithCregexport(machine.SystemDat()), "TARNEX"));

  machine.Restart();
  EXPECT_TRUE(machine.Store().LoadPolicyFile());
  EXPECT_EQ(ann.NoRun(), 1);
  ann.SetNoDrives(4);
  TUser bob(machine.Store(), "Bob");
  bob.SetNoDOS(1);
  // A setter's change is in the file while the hive is still attached.
  const testing::ReaderOutput attached = ReadWithParseWin32Registry(machine.PolicyFile());
  ASSERT_TRUE(attached.ok()) << attached.diagnostics;
  const testing::ExportedValue* drives = FindExported(attached, kAnnExplorer, "NoDrives");
  ASSERT_NE(drives, nullptr);
  EXPECT_EQ(drives->data, testing::Dword(4));
  EXPECT_TRUE(machine.Store().UnloadPolicyFile());
  EXPECT_FALSE(machine.KeyExists("TARNEX"));

  for (const auto& output : {ReadWithCregexport(machine.PolicyFile()),
                             ReadWithParseWin32Registry(machine.PolicyFile())}) {
    ASSERT_TRUE(output.ok()) << output.diagnostics;
    const testing::ExportedValue* noRun = FindExported(output, kAnnExplorer, "NoRun");
    ASSERT_NE(noRun, nullptr);
    EXPECT_EQ(noRun->type, kRegDword);
    EXPECT_EQ(noRun->data, testing::Dword(1));
    const testing::ExportedValue* programs = FindExported(output, kAnnFolders, "Programs");
    ASSERT_NE(programs, nullptr);
    EXPECT_EQ(programs->type, kRegSz);
    EXPECT_EQ(testing::SzText(programs->data), "C:\\WINDOWS\\Profiles\\ann\\Start Menu\\Programs");
    const testing::ExportedValue* noDrives = FindExported(output, kAnnExplorer, "NoDrives");
    ASSERT_NE(noDrives, nullptr);
    EXPECT_EQ(noDrives->type, kRegDword);
    EXPECT_EQ(noDrives->data, testing::Dword(4));
    const testing::ExportedValue* noDos = FindExported(
        output, "Users\\Bob\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp",
        "Disabled");
    ASSERT_NE(noDos, nullptr);
    EXPECT_EQ(noDos->type, kRegDword);
    EXPECT_EQ(noDos->data, testing::Dword(1));
  }
  EXPECT_FALSE(HasExportedKey(ReadWithCregexport(machine.SystemDat()), "TARNEX"));
}

TEST(PolicyFileTest, LoadsAndUnloadsNeedNotBePaired) {
  PolicyMachine machine;
  EXPECT_FALSE(machine.Store().UnloadPolicyFile());
  EXPECT_FALSE(std::filesystem::exists(machine.PolicyFile()));

  machine.Store().LoadPolicyFile();
  TUsers users{machine.Store()};
  machine.Store().UnloadPolicyFile();
  EXPECT_TRUE(machine.Store().LoadPolicyFile());
  EXPECT_FALSE(machine.Store().LoadPolicyFile());
  EXPECT_TRUE(machine.Store().PolicyLoaded());
  EXPECT_TRUE(machine.Store().UnloadPolicyFile());
  EXPECT_FALSE(machine.Store().PolicyLoaded());
  EXPECT_FALSE(machine.KeyExists("TARNEX"));
}

TEST(PolicyFileTest, AttachedPolicyFileUnloadsOnlyWhatItLoaded) {
  PolicyMachine machine;
  {
    AttachedPolicyFile attached{machine.Store()};
    EXPECT_TRUE(machine.Store().PolicyLoaded());
    TUser(machine.Store(), "ann").SetNoRun(1);
  }
  EXPECT_FALSE(machine.Store().PolicyLoaded());
  EXPECT_TRUE(std::filesystem::exists(machine.PolicyFile()));

  machine.Store().LoadPolicyFile();
  { AttachedPolicyFile nested{machine.Store()}; }
  EXPECT_TRUE(machine.Store().PolicyLoaded());
  machine.Store().UnloadPolicyFile();
}

TEST(PolicyFileTest, DamagedFileIsReportedByNameAndLeftUntouched) {
  PolicyMachine machine;
  {
    std::ofstream out(machine.PolicyFile(), std::ios::binary);
    out << "CREG but not really a registry file";
  }
  const std::string before = Slurp(machine.PolicyFile());
  try {
    machine.Store().LoadPolicyFile();
    FAIL() << "a damaged policy file attached";
  } catch (const PolicyFileError& error) {
    EXPECT_NE(std::string(error.what()).find("C:\\WINDOWS\\Tarnex.pol"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(machine.Store().PolicyLoaded());
  EXPECT_FALSE(machine.Store().UnloadPolicyFile());
  EXPECT_EQ(Slurp(machine.PolicyFile()), before);
}

// A run without a file that ended before its unload left its edits as a plain tree: the next
// run carries them on and saves them.
TEST(PolicyFileTest, LeftoverTreeWithoutFileIsKeptAndSaved) {
  PolicyMachine machine;
  machine.Store().LoadPolicyFile();
  TUser(machine.Store(), "ann").SetNoFind(1);
  machine.Restart();  // ends without UnloadPolicyFile

  EXPECT_FALSE(machine.Store().LoadPolicyFile());
  EXPECT_EQ(TUser(machine.Store(), "ann").NoFind(), 1);
  EXPECT_TRUE(machine.Store().UnloadPolicyFile());
  EXPECT_FALSE(machine.KeyExists("TARNEX"));
  EXPECT_NE(FindExported(ReadWithCregexport(machine.PolicyFile()), kAnnExplorer, "NoFind"),
            nullptr);
}

// A plain tree beside an existing file (a run that ended after its save but before deleting the
// tree) must not hide the file, nor be saved over it.
TEST(PolicyFileTest, LeftoverTreeBesideFileGivesWayToTheFile) {
  PolicyMachine machine;
  machine.Store().LoadPolicyFile();
  TUser(machine.Store(), "ann").SetNoFind(1);
  machine.Store().UnloadPolicyFile();
  machine.Put("TARNEX\\Users\\stale", "x", kRegDword, testing::Dword(1));

  EXPECT_TRUE(machine.Store().LoadPolicyFile());
  TUsers users{machine.Store()};
  ASSERT_EQ(users.Count(), 1u);
  EXPECT_EQ(users[0].Name(), "ann");
  users[0].SetNoDesktop(1);
  machine.Store().UnloadPolicyFile();
  EXPECT_FALSE(machine.KeyExists("TARNEX"));
  const testing::ReaderOutput file = ReadWithCregexport(machine.PolicyFile());
  EXPECT_NE(FindExported(file, kAnnExplorer, "NoDesktop"), nullptr);
  EXPECT_FALSE(HasExportedKey(file, "Users\\stale"));
}

// A hive still attached under the key is detached, not emptied.
TEST(PolicyFileTest, HiveStillAttachedKeepsItsContents) {
  PolicyMachine machine;
  machine.Store().LoadPolicyFile();
  TUser(machine.Store(), "ann").SetNoFind(1);
  machine.Store().UnloadPolicyFile();
  {
    RegistryAccessor reg(machine.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    ASSERT_TRUE(reg.LoadKey("TARNEX", "C:\\WINDOWS\\Tarnex.pol"));
  }
  EXPECT_TRUE(machine.Store().LoadPolicyFile());
  EXPECT_EQ(TUser(machine.Store(), "ann").NoFind(), 1);
  EXPECT_TRUE(machine.Store().UnloadPolicyFile());
  EXPECT_NE(FindExported(ReadWithCregexport(machine.PolicyFile()), kAnnExplorer, "NoFind"),
            nullptr);
}

TEST(PolicyFileTest, DetachingAFileThatCannotBeSavedThrowsNamingIt) {
  PolicyMachine machine;
  { const AttachedPolicyFile created{machine.Store()}; }
  const std::filesystem::path windows = machine.PolicyFile().parent_path();
  AttachedPolicyFile attached{machine.Store()};
  TUsers(machine.Store()).AddUser("ann");
  std::filesystem::rename(windows, windows.parent_path() / "AWAY");
  try {
    attached.Detach();
    ADD_FAILURE() << "an unsaved policy file detached as saved";
  } catch (const PolicyFileError& error) {
    EXPECT_NE(std::string(error.what()).find("C:\\WINDOWS\\Tarnex.pol"), std::string::npos);
  }
  EXPECT_FALSE(machine.Store().PolicyLoaded());
  std::filesystem::rename(windows.parent_path() / "AWAY", windows);
}

}  // namespace
}  // namespace tarnwick
