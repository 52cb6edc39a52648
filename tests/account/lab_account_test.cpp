// Accounts on a lab: the first account and the program's password live in the netlogon policy
// file; the server's own activation is never touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "account/account.h"
#include "demo/demo_machine.h"
#include "policy/activation.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "support/test_lab.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class LabAccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTestLab(dir_.Path());
    machine_.emplace(OpenOrCreateMachine(dir_.Path()));
  }
  fs::path PolicyFile() const { return dir_.Path() / "netlogon" / "CONFIG.POL"; }
  fs::path SystemDat() const { return dir_.Path() / "server" / "c" / "WINDOWS" / "SYSTEM.DAT"; }

  TempMachineDir dir_;
  std::optional<Machine> machine_;
};

TEST_F(LabAccountTest, TheFirstAccountAndThePasswordGoIntoThePolicyFileOnly) {
  const std::string system = Slurp(SystemDat());
  {
    Registry registry(*machine_);
    PolicyStore store(registry);
    store.LoadPolicyFile();
    StorePassword(store, "secret");
    TUsers users(store);
    TUser& admin = CreateFirstAccount(users, "Admin", "");
    EXPECT_EQ(admin.ProfilePath(), "\\\\LABSRV\\admin\\.profiles");
    EXPECT_EQ(ReadActivationState(store), ActivationState::On);
    EXPECT_THROW(TurnActivationOn(store), ActivationError);
    EXPECT_THROW(TurnActivationOff(store), ActivationError);
    store.UnloadPolicyFile();
  }
  EXPECT_TRUE(fs::exists(dir_.Path() / "homes" / "admin" / ".profiles" / "user.dat"));
  // The server's registry gains the profile's entry, and nothing of the switch.
  const ReaderOutput server = ReadWithCregexport(SystemDat());
  ASSERT_TRUE(server.ok()) << server.diagnostics;
  EXPECT_EQ(FindExported(server, "Network\\Logon", "UserProfiles"), nullptr);
  EXPECT_EQ(FindExported(server, "System\\CurrentControlSet\\control\\Update", "NetworkPath"),
            nullptr);
  EXPECT_NE(Slurp(SystemDat()), system);

  for (const ReaderOutput& output :
       {ReadWithCregexport(PolicyFile()), ReadWithParseWin32Registry(PolicyFile())}) {
    ASSERT_TRUE(output.ok()) << output.diagnostics;
    EXPECT_NE(FindExported(output, "Config", "Mode"), nullptr);
    EXPECT_TRUE(HasExportedKey(output, "Users\\Admin"));
  }
  // The next run reads the password back from the lab's file.
  Registry registry(*machine_);
  PolicyStore store(registry, PolicyAccess::ReadOnly);
  store.LoadPolicyFile();
  EXPECT_EQ(ReadStoredPassword(store), "secret");
}

}  // namespace
}  // namespace tarnwick::test
