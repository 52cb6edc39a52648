#include "policy/effective_policy.h"

#include <gtest/gtest.h>

#include <sstream>

#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {
namespace {

constexpr std::string_view kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

// The policy file of these tests: Default Computer and one computer, Default User and ann, and
// three groups of which two are in the priority list, Staff the highest.
class EffectivePolicyTest : public ::testing::Test {
 protected:
  EffectivePolicyTest() {
    machine_.Store().LoadPolicyFile();
    Put("Computers\\.default\\" + std::string(kRun), "TWTray", kRegSz,
        Text("C:\\TARNEX\\TRAY.EXE"));
    Put("Computers\\PC1\\System\\Net", "Share", kRegDword, Dword(1));
    Put("Users\\.default\\Software\\Shell", "Who", kRegSz, Text("default"));
    Put("Users\\.default\\Software\\Shell", "NoRun", kRegDword, Dword(1));
    Put("Users\\ann\\Software\\Shell", "Who", kRegSz, Text("ann"));
    Put("UserGroups\\Staff\\Software\\Shell", "Who", kRegSz, Text("staff"));
    Put("UserGroups\\Staff\\Software\\Shell", "Staff", kRegDword, Dword(1));
    Put("UserGroups\\Pupils\\Software\\Shell", "Who", kRegSz, Text("pupils"));
    Put("UserGroups\\Pupils\\Software\\Shell", "Pupils", kRegDword, Dword(1));
    Put("UserGroups\\Unlisted\\Software\\Shell", "Who", kRegSz, Text("unlisted"));
    Put("GroupData\\UserGroups\\Priority", "1", kRegSz, Text("Staff"));
    Put("GroupData\\UserGroups\\Priority", "2", kRegSz, Text("Pupils"));
  }
  ~EffectivePolicyTest() override { machine_.Store().UnloadPolicyFile(); }

  static std::vector<uint8_t> Text(std::string_view text) { return {text.begin(), text.end()}; }
  void Put(const std::string& key, std::string_view name, uint32_t type,
           const std::vector<uint8_t>& data) {
    machine_.Put("TARNEX\\" + key, name, type, data);
  }
  // A value of the machine's default user, which a user without a profile starts from.
  void PutCurrentUser(std::string_view key, std::string_view name, std::string_view text) {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::Users);
    reg.OpenKey(".DEFAULT\\" + std::string(key), true);
    reg.WriteString(name, text);
  }

  std::string Effective(LogonRequest request) {
    std::ostringstream out;
    WriteEffectiveRegedit4(EffectivePolicyOf(machine_.Store(), request), out);
    return out.str();
  }

  PolicyMachine machine_;
};

TEST_F(EffectivePolicyTest, AUserWithoutEntryOrGroupGetsDefaultUserAndDefaultComputer) {
  EXPECT_EQ(
      Effective({"bob", {}, ""}),
      Lines({"REGEDIT4", "",
             "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]",
             "\"TWTray\"=\"C:\\\\TARNEX\\\\TRAY.EXE\"", "", "[HKEY_CURRENT_USER\\Software\\Shell]",
             "\"Who\"=\"default\"", "\"NoRun\"=dword:00000001", ""}));
}

TEST_F(EffectivePolicyTest, GroupsApplyLowestPriorityFirstAndOnlyWhenListed) {
  const EffectivePolicy effective =
      EffectivePolicyOf(machine_.Store(), {"bob", {"unlisted", "STAFF", "Pupils", "Nobody"}, ""});
  ASSERT_EQ(effective.applied.size(), 3u);
  EXPECT_EQ(EntryText(effective.applied[1]), "group:Pupils");
  EXPECT_EQ(EntryText(effective.applied[2]), "group:Staff");
  // Staff, the highest, comes last and so wins; Default User is not applied beside groups.
  EXPECT_EQ(
      Effective({"bob", {"unlisted", "STAFF", "Pupils", "Nobody"}, ""}),
      Lines({"REGEDIT4", "",
             "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]",
             "\"TWTray\"=\"C:\\\\TARNEX\\\\TRAY.EXE\"", "", "[HKEY_CURRENT_USER\\Software\\Shell]",
             "\"Who\"=\"pupils\"", "\"Pupils\"=dword:00000001", "\"Who\"=\"staff\"",
             "\"Staff\"=dword:00000001", ""}));
  // A group the user is not in, or only outside the list, changes nothing: Default User.
  EXPECT_EQ(Effective({"bob", {"Unlisted"}, ""}), Effective({"bob", {}, ""}));
}

TEST_F(EffectivePolicyTest, AUsersOwnEntryReplacesGroupsAndDefaultUser) {
  EXPECT_EQ(Effective({"ANN", {"Staff"}, "PC1"}),
            Lines({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\System\\Net]", "\"Share\"=dword:00000001",
                   "", "[HKEY_CURRENT_USER\\Software\\Shell]", "\"Who\"=\"ann\"", ""}));
}

TEST_F(EffectivePolicyTest, AComputerWithoutEntryGetsDefaultComputer) {
  const EffectivePolicy effective = EffectivePolicyOf(machine_.Store(), {"ann", {}, "PC9"});
  ASSERT_FALSE(effective.applied.empty());
  EXPECT_EQ(EntryText(effective.applied[0]), "computer:.default");
}

TEST_F(EffectivePolicyTest, ControlCodesAgainstTheCurrentValues) {
  PutCurrentUser("Software\\List", "Old1", "a");
  PutCurrentUser("Software\\List", "Old2", "b");
  PutCurrentUser("Software\\Shell", "Keep", "mine");
  PutCurrentUser("Software\\Shell", "Gone", "x");
  // The list's marker comes last in the key, yet is done first.
  Put("Users\\.default\\Software\\List", "1", kRegSz, Text("calc.exe"));
  Put("Users\\.default\\Software\\List", "**delvals.", kRegSz, Text(" "));
  Put("Users\\.default\\Software\\Shell", "**del.Gone", kRegSz, Text(" "));
  Put("Users\\.default\\Software\\Shell", "**soft.Keep", kRegSz, Text("policy"));
  Put("Users\\.default\\Software\\Shell", "**soft.New", kRegDword, Dword(2));
  Put("Users\\.default\\Software\\Shell", "**future.Odd", kRegDword, Dword(3));
  Put("Users\\.default\\Software\\**future.Key", "Hidden", kRegDword, Dword(4));
  EXPECT_EQ(
      Effective({"bob", {}, ""}),
      Lines({"REGEDIT4", "",
             "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]",
             "\"TWTray\"=\"C:\\\\TARNEX\\\\TRAY.EXE\"", "", "[HKEY_CURRENT_USER\\Software\\Shell]",
             "\"Who\"=\"default\"", "\"NoRun\"=dword:00000001", "\"Gone\"=-",
             "\"New\"=dword:00000002", "", "[HKEY_CURRENT_USER\\Software\\List]", "\"Old1\"=-",
             "\"Old2\"=-", "\"1\"=\"calc.exe\"", ""}));
}

TEST_F(EffectivePolicyTest, ALaterEntryClearsWhatAnEarlierOneWrote) {
  Put("UserGroups\\Pupils\\Software\\List", "1", kRegSz, Text("sol.exe"));
  Put("UserGroups\\Staff\\Software\\List", "**delvals.", kRegSz, Text(" "));
  Put("UserGroups\\Staff\\Software\\List", "1", kRegSz, Text("calc.exe"));
  const std::string text = Effective({"bob", {"Staff", "Pupils"}, ""});
  EXPECT_NE(text.find(Lines({"[HKEY_CURRENT_USER\\Software\\List]", "\"1\"=\"sol.exe\"", "",
                             "[HKEY_CURRENT_USER\\Software\\Shell]", "\"Who\"=\"staff\"",
                             "\"Staff\"=dword:00000001", "", "[HKEY_CURRENT_USER\\Software\\List]",
                             "\"1\"=-", "\"1\"=\"calc.exe\""})),
            std::string::npos)
      << text;
}

TEST_F(EffectivePolicyTest, NamesThatAreNoLogonAreRefused) {
  EXPECT_THROW(EffectivePolicyOf(machine_.Store(), {".DEFAULT", {}, ""}), LogonError);
  EXPECT_THROW(EffectivePolicyOf(machine_.Store(), {"", {}, ""}), LogonError);
  // A key inside ann's entry is not a user's entry, nor one inside a group's a group.
  EXPECT_THROW(EffectivePolicyOf(machine_.Store(), {"ann\\Software", {}, ""}), LogonError);
  EXPECT_THROW(EffectivePolicyOf(machine_.Store(), {"bob", {"Staff\\Software"}, ""}), LogonError);
  EXPECT_THROW(EffectivePolicyOf(machine_.Store(), {"bob", {}, "PC1\\System"}), LogonError);
}

TEST_F(EffectivePolicyTest, ApplyLogonWritesTheUsersProfileAndSystemDat) {
  TUsers users{machine_.Store()};
  users.AddUser("carl");  // a profile, and an entry of his own
  Put("Users\\carl\\Software\\Shell", "Who", kRegSz, Text("carl"));
  Put("Users\\carl\\Software\\Shell", "**soft.Fresh", kRegSz, Text("yes"));
  EXPECT_THROW(ApplyLogon(machine_.Store(), {"dora", {}, ""}), LogonError);

  ApplyLogon(machine_.Store(), {"carl", {}, ""});
  const std::filesystem::path userDat = machine_.Host("C:\\WINDOWS\\Profiles\\carl\\user.dat");
  for (const ReaderOutput& read :
       {ReadWithCregexport(userDat), ReadWithParseWin32Registry(userDat)}) {
    ASSERT_TRUE(read.ok()) << read.diagnostics;
    const ExportedValue* who = FindExported(read, "Software\\Shell", "Who");
    ASSERT_NE(who, nullptr);
    EXPECT_EQ(SzText(who->data), "carl");
    EXPECT_NE(FindExported(read, "Software\\Shell", "Fresh"), nullptr);
    EXPECT_EQ(FindExported(read, "Software\\Shell", "**soft.Fresh"), nullptr);
  }
  for (const ReaderOutput& read : {ReadWithCregexport(machine_.SystemDat()),
                                   ReadWithParseWin32Registry(machine_.SystemDat())}) {
    ASSERT_TRUE(read.ok()) << read.diagnostics;
    const ExportedValue* tray = FindExported(read, std::string(kRun), "TWTray");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(SzText(tray->data), "C:\\TARNEX\\TRAY.EXE");
  }
  // The soft value is there now: a second logon leaves it.
  Put("Users\\carl\\Software\\Shell", "**soft.Fresh", kRegSz, Text("again"));
  const std::string text = Effective({"carl", {}, ""});
  EXPECT_EQ(text.find("Fresh"), std::string::npos) << text;
}

}  // namespace
}  // namespace tarnwick::test
