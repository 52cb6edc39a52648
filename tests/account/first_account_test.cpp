#include <gtest/gtest.h>

#include <fstream>

#include "account/account.h"
#include "demo/demo_machine.h"
#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

using test::Dword;
using test::FindExported;

constexpr std::string_view kUserKey = "Users\\Ada Lovelace\\Software\\Microsoft\\Windows\\";
constexpr std::string_view kPolicies = "CurrentVersion\\Policies\\";

class FirstAccountTest : public ::testing::Test {
 protected:
  FirstAccountTest() { machine_.Store().LoadPolicyFile(); }
  ~FirstAccountTest() override { machine_.Store().UnloadPolicyFile(); }

  test::PolicyMachine machine_;
};

TEST_F(FirstAccountTest, IsTheAdministratorsUnrestrictedAccount) {
  {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", true);
    reg.WriteString("Desktop", " C:\\WINDOWS\\Desktop\r\n");
  }
  TUsers users{machine_.Store()};
  const std::string icon = "C:\\TARNEX\\UserIcon\\Boy.ico";
  const TUser& ada = CreateFirstAccount(users, "Ada Lovelace", icon);
  ASSERT_EQ(users.Count(), 1u);
  EXPECT_EQ(&users[0], &ada);
  EXPECT_EQ(ada.Name(), "Ada Lovelace");
  EXPECT_EQ(ada.UserIcon(), icon);
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
  ASSERT_TRUE(machine_.Store().UnloadPolicyFile());

  const std::string explorer = std::string(kUserKey) + std::string(kPolicies) + "Explorer";
  const std::string folders =
      std::string(kUserKey) + "CurrentVersion\\Explorer\\User Shell Folders";
  const std::pair<std::string, std::vector<std::string>> flags[] = {
      {explorer,
       {"RestrictRun", "NoRun", "NoFind", "NoDesktop", "NoSetFolders", "NoSetTaskbar",
        "NoAddPrinter", "NoDeletePrinter"}},
      {std::string(kUserKey) + std::string(kPolicies) + "System",
       {"DisableRegistryTools", "NoDispSettingsPage", "NoDevMgrPage", "NoFileSysPage",
        "NoVirtMemPage", "NoProfilePage", "NoAdminPage"}},
      {std::string(kUserKey) + std::string(kPolicies) + "Network", {"NoNetSetup"}},
      {std::string(kUserKey) + std::string(kPolicies) + "WinOldApp", {"Disabled", "NoRealMode"}},
      {"Users\\Ada Lovelace\\Software\\Family\\Preferences", {"NoConfigure"}},
  };
  const std::pair<std::string_view, std::string_view> paths[] = {
      {"Start Menu", "C:\\WINDOWS\\Start Menu"}, {"Programs", "C:\\WINDOWS\\Start Menu\\Programs"},
      {"Desktop", "C:\\WINDOWS\\Desktop"},       {"Favorites", "C:\\WINDOWS\\Favorites"},
      {"Recent", "C:\\WINDOWS\\Recent"},
  };
  for (const auto& policy : {test::ReadWithCregexport(machine_.PolicyFile()),
                             test::ReadWithParseWin32Registry(machine_.PolicyFile())}) {
    ASSERT_TRUE(policy.ok()) << policy.diagnostics;
    for (const auto& [key, names] : flags) {
      for (const std::string& name : names) {
        const auto* value = FindExported(policy, key, name);
        ASSERT_NE(value, nullptr) << key << " " << name;
        EXPECT_EQ(value->data, Dword(0)) << name;
      }
    }
    for (const auto& [name, path] : paths) {
      const auto* value = FindExported(policy, folders, name);
      ASSERT_NE(value, nullptr) << name;
      EXPECT_EQ(test::SzText(value->data), path) << name;
    }
    const auto* first = FindExported(policy, explorer + "\\RestrictRun", "0");
    const auto* second = FindExported(policy, explorer + "\\RestrictRun", "1");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(test::SzText(first->data), "tarnex.exe");
    EXPECT_EQ(test::SzText(second->data), "twtray.exe");
    const auto* tray = FindExported(
        policy, "Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "TWTray");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(test::SzText(tray->data), "C:\\TARNEX\\TWTray.exe");
  }
  const auto system = test::ReadWithCregexport(machine_.SystemDat());
  ASSERT_TRUE(system.ok()) << system.diagnostics;
  const auto* username = FindExported(system, "Network\\Logon", "username");
  ASSERT_NE(username, nullptr);
  EXPECT_EQ(test::SzText(username->data), "Ada Lovelace");
}

// The program's own entries follow its name on the machine; the tray keeps its own.
TEST(OwnAllowedEntriesTest, FollowTheProgramPath) {
  const TempMachineDir temp;
  const std::filesystem::path dir = temp.Path() / "machine";
  OpenOrCreateMachine(dir);
  std::string ini = test::Slurp(dir / "machine.ini");
  ini.replace(ini.find("TARNEX\\TARNEX.EXE"), 17, "TOOLS\\ADMIN.EXE");
  std::ofstream(dir / "machine.ini", std::ios::binary | std::ios::trunc) << ini;
  const Machine renamed = Machine::Open(dir);
  EXPECT_EQ(OwnAllowedEntries(renamed, EntrySpelling::Capitalised),
            (std::array<std::string, 2>{"Admin.exe", "TWTray.exe"}));
  EXPECT_EQ(OwnAllowedEntries(renamed, EntrySpelling::LowerCase),
            (std::array<std::string, 2>{"admin.exe", "twtray.exe"}));
}

}  // namespace
}  // namespace tarnwick::test
