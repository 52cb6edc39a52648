#include "policy/activation.h"

#include <gtest/gtest.h>

#include "policy/policy_store.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

using testing::Dword;
using testing::Sz;

constexpr std::string_view kLogon = "Network\\Logon";
constexpr std::string_view kUpdate = "System\\CurrentControlSet\\control\\Update";
constexpr std::string_view kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kPolicyRun =
    "TARNEX\\Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class ActivationTest : public ::testing::Test {
 protected:
  ActivationTest() { machine_.Store().LoadPolicyFile(); }
  ~ActivationTest() override { machine_.Store().UnloadPolicyFile(); }

  std::optional<std::vector<uint8_t>> Data(std::string_view key, std::string_view name) {
    const std::optional<RegValue> value = machine_.Value(key, name);
    if (!value) return std::nullopt;
    return value->data;
  }
  std::optional<std::string> Text(std::string_view key, std::string_view name) {
    const std::optional<RegValue> value = machine_.Value(key, name);
    if (!value || value->type != kRegSz) return std::nullopt;
    return testing::SzText(value->data);
  }

  testing::PolicyMachine machine_;
};

TEST(TrayPathTest, BesideTheProgram) {
  EXPECT_EQ(TrayPathFor("C:\\TARNEX\\TARNEX.EXE"), "C:\\TARNEX\\TWTray.exe");
  EXPECT_EQ(TrayPathFor("C:\\TOOLS\\abc.exe"), "C:\\TOOLS\\TWTray.exe");
  EXPECT_EQ(TrayPathFor("D:\\TARNEX.EXE"), "D:\\TWTray.exe");
}

TEST_F(ActivationTest, StateFollowsUserProfilesAndThePolicyFileName) {
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::Off);
  machine_.Put(kUpdate, "NetworkPath", kRegSz, Sz("C:\\WINDOWS\\TARNEX.POL"));
  machine_.Put(kLogon, "UserProfiles", kRegDword, Dword(2));
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::Off);
  machine_.Put(kLogon, "UserProfiles", kRegDword, Dword(1));
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
  machine_.Put(kUpdate, "NetworkPath", kRegSz, Sz("\\\\SERVER\\NETLOGON\\tarnex.pol"));
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
  machine_.Put(kUpdate, "NetworkPath", kRegSz, Sz("\\\\SERVER\\NETLOGON\\CONFIG.POL"));
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::OtherPolicyFile);
  machine_.Put(kUpdate, "NetworkPath", kRegSz, Sz("C:\\WINDOWS\\Tarnex.pol.old"));
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::OtherPolicyFile);
}

TEST_F(ActivationTest, TurningOnAndOffWritesAndDeletesItsValues) {
  machine_.Put(kLogon, "username", kRegSz, Sz("admin"));
  TurnActivationOn(machine_.Store());
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
  EXPECT_EQ(Data(kLogon, "UserProfiles"), Dword(1));
  EXPECT_EQ(Text(kUpdate, "NetworkPath"), "C:\\WINDOWS\\Tarnex.pol");
  EXPECT_EQ(Data(kUpdate, "UpdateMode"), Dword(2));
  EXPECT_EQ(Data(kUpdate, "Verbose"), Dword(1));
  EXPECT_EQ(Text(kRun, "TWTray"), "C:\\TARNEX\\TWTray.exe");
  EXPECT_EQ(Text(kPolicyRun, "TWTray"), "C:\\TARNEX\\TWTray.exe");
  EXPECT_TRUE(Data(kRun, "SystemTray"));

  TurnActivationOff(machine_.Store());
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::Off);
  EXPECT_EQ(Data(kLogon, "UserProfiles"), Dword(0));
  EXPECT_FALSE(Data(kUpdate, "NetworkPath"));
  EXPECT_EQ(Data(kUpdate, "UpdateMode"), Dword(0));
  EXPECT_FALSE(Data(kUpdate, "Verbose"));
  EXPECT_FALSE(Data(kRun, "TWTray"));
  EXPECT_FALSE(Data(kLogon, "username"));
  EXPECT_EQ(Text(kPolicyRun, "TWTray"), "C:\\TARNEX\\TWTray.exe");
  EXPECT_TRUE(Data(kRun, "SystemTray"));

  TurnActivationOff(machine_.Store());
  TurnActivationOn(machine_.Store());
  EXPECT_EQ(Data(kUpdate, "UpdateMode"), Dword(2));
  EXPECT_EQ(Data(kUpdate, "Verbose"), Dword(1));
  EXPECT_FALSE(Data(kLogon, "username"));

  // The machine values are in SYSTEM.DAT, the policy entry in Tarnex.pol once saved.
  machine_.Store().UnloadPolicyFile();
  const testing::ReaderOutput system = testing::ReadWithCregexport(machine_.SystemDat());
  ASSERT_TRUE(system.ok()) << system.diagnostics;
  ASSERT_NE(testing::FindExported(system, std::string(kUpdate), "NetworkPath"), nullptr);
  const testing::ReaderOutput policy = testing::ReadWithParseWin32Registry(machine_.PolicyFile());
  ASSERT_TRUE(policy.ok()) << policy.diagnostics;
  EXPECT_NE(testing::FindExported(policy, std::string(kPolicyRun.substr(7)), "TWTray"), nullptr);
}

}  // namespace
}  // namespace tarnwick
