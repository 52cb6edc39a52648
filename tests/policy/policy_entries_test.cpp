#include "policy/policy_entries.h"

#include <gtest/gtest.h>

#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/creg_file.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {
namespace {

constexpr std::string_view kPriority = "TARNEX\\GroupData\\UserGroups\\Priority";

class PolicyEntriesTest : public ::testing::Test {
 protected:
  PolicyEntriesTest() { machine_.Store().LoadPolicyFile(); }
  ~PolicyEntriesTest() override { machine_.Store().UnloadPolicyFile(); }

  PolicyStore& Store() { return machine_.Store(); }
  std::string PriorityValue(std::string_view name) {
    const std::optional<RegValue> value = machine_.Value(kPriority, name);
    return value ? SzText(value->data) : "(absent)";
  }

  PolicyMachine machine_;
};

TEST(PolicyEntryTextTest, EntriesParseAndPrintBack) {
  for (std::string_view text : {"user:ann", "user:.default", "computer:PC1", "computer:.default",
                                "group:Staff", "user:a b"}) {
    EXPECT_EQ(EntryText(ParseEntry(text)), text);
  }
  EXPECT_EQ(ParseEntry("group:Staff"), (PolicyEntry{PolicyEntry::Kind::Group, "Staff"}));
  for (std::string_view bad :
       {"ann", "users:ann", "user:", "group:.default", "group:a\\b", "computer:a\tb", "User:ann"}) {
    EXPECT_THROW(ParseEntry(bad), PolicyEntryError) << bad;
  }
}

TEST_F(PolicyEntriesTest, EntryKeysAreWhereThePolicyDownloadLooks) {
  EXPECT_EQ(EntryKeyPath(Store(), ParseEntry("user:.default")), "TARNEX\\Users\\.default");
  EXPECT_EQ(EntryKeyPath(Store(), ParseEntry("computer:.default")), "TARNEX\\Computers\\.default");
  EXPECT_EQ(EntryKeyPath(Store(), ParseEntry("computer:PC1")), "TARNEX\\Computers\\PC1");
  EXPECT_EQ(EntryKeyPath(Store(), ParseEntry("group:Staff")), "TARNEX\\UserGroups\\Staff");
}

TEST_F(PolicyEntriesTest, GroupsAreAddedLastRemovedWithTheListClosedUpAndReordered) {
  EXPECT_TRUE(Groups(Store()).empty());
  AddGroup(Store(), "Staff");
  AddGroup(Store(), "Pupils");
  AddGroup(Store(), "Guests");
  EXPECT_EQ(Groups(Store()), (std::vector<std::string>{"Staff", "Pupils", "Guests"}));
  EXPECT_TRUE(machine_.KeyExists("TARNEX\\UserGroups\\Pupils"));
  EXPECT_EQ(PriorityValue("1"), "Staff");
  EXPECT_EQ(PriorityValue("3"), "Guests");
  EXPECT_EQ(machine_.Value(kPriority, "1")->type, kRegSz);

  EXPECT_THROW(AddGroup(Store(), "STAFF"), PolicyEntryError);
  EXPECT_THROW(AddGroup(Store(), ".default"), PolicyEntryError);
  EXPECT_THROW(AddGroup(Store(), ""), PolicyEntryError);

  RemoveGroup(Store(), "staff");
  EXPECT_FALSE(machine_.KeyExists("TARNEX\\UserGroups\\Staff"));
  EXPECT_EQ(Groups(Store()), (std::vector<std::string>{"Pupils", "Guests"}));
  EXPECT_EQ(PriorityValue("1"), "Pupils");
  EXPECT_EQ(PriorityValue("2"), "Guests");
  EXPECT_EQ(PriorityValue("3"), "(absent)");
  EXPECT_THROW(RemoveGroup(Store(), "Staff"), PolicyEntryError);

  SetGroupPriority(Store(), {"guests", "Pupils"});
  EXPECT_EQ(PriorityValue("1"), "Guests");  // stored case kept
  EXPECT_EQ(PriorityValue("2"), "Pupils");
  EXPECT_THROW(SetGroupPriority(Store(), {"Guests"}), PolicyEntryError);
  EXPECT_THROW(SetGroupPriority(Store(), {"Guests", "Pupils", "Guests"}), PolicyEntryError);
  EXPECT_THROW(SetGroupPriority(Store(), {"Guests", "Pupils", "Nobody"}), PolicyEntryError);
  EXPECT_EQ(Groups(Store()), (std::vector<std::string>{"Guests", "Pupils"}));
}

TEST_F(PolicyEntriesTest, APriorityListMadeElsewhereIsReadByNumberAndItsOtherValuesKept) {
  machine_.Put(kPriority, "10", kRegSz, Sz("Ten"));
  machine_.Put(kPriority, "2", kRegSz, Sz("Two"));
  machine_.Put(kPriority, "Editor", kRegDword, Dword(7));
  machine_.Put(kPriority, "02", kRegSz, Sz("NotANumber"));
  machine_.Put("TARNEX\\UserGroups\\Unlisted", "x", kRegDword, Dword(1));
  EXPECT_EQ(Groups(Store()), (std::vector<std::string>{"Two", "Ten"}));
  EXPECT_EQ(GroupsOutsidePriority(Store()), (std::vector<std::string>{"Unlisted"}));

  // Naming the unlisted group gives it a place; the list is renumbered from 1.
  SetGroupPriority(Store(), {"Unlisted", "Ten", "Two"});
  EXPECT_EQ(PriorityValue("1"), "Unlisted");
  EXPECT_EQ(PriorityValue("2"), "Ten");
  EXPECT_EQ(PriorityValue("3"), "Two");
  EXPECT_EQ(PriorityValue("10"), "(absent)");
  EXPECT_EQ(machine_.Value(kPriority, "Editor")->data, Dword(7));
  EXPECT_EQ(machine_.Value(kPriority, "02")->data, Sz("NotANumber"));
  EXPECT_TRUE(GroupsOutsidePriority(Store()).empty());
}

TEST_F(PolicyEntriesTest, ComputersLeaveDefaultComputerAlone) {
  machine_.Put("TARNEX\\Computers\\.default\\Software", "x", kRegDword, Dword(1));
  AddComputer(Store(), "PC1");
  AddComputer(Store(), "PC2");
  EXPECT_EQ(Computers(Store()), (std::vector<std::string>{"PC1", "PC2"}));
  EXPECT_THROW(AddComputer(Store(), "pc1"), PolicyEntryError);
  EXPECT_THROW(AddComputer(Store(), ".default"), PolicyEntryError);
  EXPECT_THROW(RemoveComputer(Store(), ".DEFAULT"), PolicyEntryError);
  EXPECT_THROW(RemoveComputer(Store(), "PC3"), PolicyEntryError);
  RemoveComputer(Store(), "pc1");
  EXPECT_EQ(Computers(Store()), (std::vector<std::string>{"PC2"}));
  EXPECT_TRUE(machine_.KeyExists("TARNEX\\Computers\\.default"));
}

TEST_F(PolicyEntriesTest, DefaultUserIsNoAccount) {
  machine_.Put("TARNEX\\Users\\.default\\Software", "x", kRegDword, Dword(1));
  machine_.Put("TARNEX\\Users\\ann\\Software", "x", kRegDword, Dword(1));
  TUsers users{Store()};
  ASSERT_EQ(users.Count(), 1u);
  EXPECT_EQ(users[0].Name(), "ann");
  EXPECT_EQ(users.FindUser(".default"), nullptr);
  try {
    users.AddUser(".Default");
    FAIL() << "added";
  } catch (const AccountError& e) {
    EXPECT_STREQ(e.what(),
                 "\".default\" is the Default User entry of the policy file and cannot be a user "
                 "name");
  }
  EXPECT_FALSE(users.RemoveUser(".default"));
  EXPECT_TRUE(machine_.KeyExists("TARNEX\\Users\\.default\\Software"));
}

// A file made by another editor: its bookkeeping and values this program does not know survive
// every change made through the entries and an account.
TEST(PolicyEntriesFileTest, UnknownKeysAndValuesAreKept) {
  PolicyMachine machine;
  RegNode root;
  RegNode& hive = root;  // the file's top-level keys
  hive.AddSubkey("Misc").SetValue("Editor", kRegSz, Sz("POLEDIT 4.00"));
  hive.AddSubkey("Misc").AddSubkey("Templates").SetValue("1", kRegSz, Sz("C:\\ADMIN.ADM"));
  hive.AddSubkey("Users").AddSubkey("ann").AddSubkey("Odd").SetValue("**future.x", kRegBinary,
                                                                     {1, 2, 3});
  hive.AddSubkey("Users").AddSubkey("ann").SetValue("", kRegSz, Sz("unnamed"));
  hive.AddSubkey("Computers").AddSubkey("PC1").SetValue("Note", kRegDword, Dword(5));
  hive.AddSubkey("GroupData")
      .AddSubkey("UserGroups")
      .AddSubkey("Priority")
      .SetValue("Comment", kRegSz, Sz("kept"));
  hive.AddSubkey("GroupData").SetValue("Other", kRegBinary, {9});
  std::filesystem::remove(machine.PolicyFile());
  WriteRegistryFile(machine.PolicyFile(), root);
  const std::unique_ptr<RegNode> before = root.Clone();

  machine.Store().LoadPolicyFile();
  AddGroup(machine.Store(), "Staff");
  AddComputer(machine.Store(), "PC2");
  {
    TUsers users{machine.Store()};
    users.FindUser("ann")->SetNoRun(1);
  }
  RemoveComputer(machine.Store(), "PC2");
  RemoveGroup(machine.Store(), "Staff");
  ASSERT_TRUE(machine.Store().UnloadPolicyFile());

  for (const ReaderOutput& read : {ReadWithCregexport(machine.PolicyFile()),
                                   ReadWithParseWin32Registry(machine.PolicyFile())}) {
    ASSERT_TRUE(read.ok()) << read.diagnostics;
    for (const ExportedKey& key : ExportTree(*before)) {
      for (const ExportedValue& value : key.values) {
        const ExportedValue* found = FindExported(read, key.path, value.name);
        ASSERT_NE(found, nullptr) << key.path << " " << value.name;
        EXPECT_EQ(*found, value) << key.path;
      }
      EXPECT_TRUE(HasExportedKey(read, key.path)) << key.path;
    }
  }
  const std::unique_ptr<RegNode> after = ReadRegistryFile(machine.PolicyFile());
  EXPECT_TRUE(SameTree(*after->FindSubkey("Misc"), *before->FindSubkey("Misc")));
}

}  // namespace
}  // namespace tarnwick::test
