#include "policy/users.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

using testing::Sz;

constexpr std::string_view kProfileList =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\";

class UsersTest : public ::testing::Test {
 protected:
  UsersTest() { machine_.Store().LoadPolicyFile(); }
  ~UsersTest() override { machine_.Store().UnloadPolicyFile(); }

  void AddKey(std::string_view name) {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.CreateKey("TARNEX\\Users\\" + std::string(name));
  }
  std::vector<std::string> Names(const TUsers& users) {
    std::vector<std::string> names;
    for (size_t i = 0; i < users.Count(); ++i) names.push_back(users[i].Name());
    return names;
  }

  testing::PolicyMachine machine_;
};

TEST_F(UsersTest, NoUsersKeyGivesAnEmptyListAndTheKey) {
  TUsers users{machine_.Store()};
  EXPECT_EQ(users.Count(), 0u);
  EXPECT_TRUE(machine_.KeyExists("TARNEX\\Users"));
}

TEST_F(UsersTest, ListKeepsEnumerationOrderAndLooksUpIgnoringLetterCase) {
  AddKey("zed");
  AddKey("ann");
  AddKey("Bob");
  AddKey("\xE9mile");
  TUsers users{machine_.Store()};
  EXPECT_EQ(Names(users), (std::vector<std::string>{"zed", "ann", "Bob", "\xE9mile"}));
  ASSERT_NE(users.FindUser("ANN"), nullptr);
  EXPECT_EQ(users.FindUser("ANN")->Name(), "ann");
  EXPECT_EQ(users.FindUser("bob")->Name(), "Bob");
  EXPECT_EQ(users.FindUser("an"), nullptr);
  EXPECT_EQ(users.FindUser("anne"), nullptr);
  // Accented letters fold as FAT folds them in code page 1252: one folder, one account.
  EXPECT_EQ(users.FindUser("\xC9MILE")->Name(), "\xE9mile");
  EXPECT_EQ(users.FindUser("\xCBmile"), nullptr);
}

TEST_F(UsersTest, AddUserMakesTheProfileWindowsNeeds) {
  std::filesystem::remove_all(machine_.Host("C:\\WINDOWS\\Profiles"));
  AddKey("zed");
  TUsers users{machine_.Store()};
  TUser& carl = users.AddUser("carl");
  EXPECT_EQ(carl.Name(), "carl");
  EXPECT_EQ(&users[users.Count() - 1], &carl);
  EXPECT_TRUE(machine_.KeyExists("TARNEX\\Users\\carl"));

  const std::optional<RegValue> profile =
      machine_.Value(std::string(kProfileList) + "carl", "ProfileImagePath");
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->type, kRegSz);
  EXPECT_EQ(testing::SzText(profile->data), "C:\\WINDOWS\\Profiles\\carl");
  EXPECT_EQ(carl.ProfilePath(), "C:\\WINDOWS\\Profiles\\carl");
  EXPECT_TRUE(std::filesystem::is_directory(machine_.Host("C:\\WINDOWS\\Profiles\\carl")));

  // user.dat is the default user's tree, as both independent readers see it.
  const std::filesystem::path userDatFile = machine_.Host("C:\\WINDOWS\\Profiles\\carl\\user.dat");
  const testing::ReaderOutput userDat = testing::ReadWithCregexport(userDatFile);
  ASSERT_TRUE(userDat.ok()) << userDat.diagnostics;
  const testing::ReaderOutput userDatOfMachine =
      testing::ReadWithCregexport(machine_.Host("C:\\WINDOWS\\USER.DAT"));
  std::vector<testing::ExportedKey> defaultUser;
  for (testing::ExportedKey key : userDatOfMachine.keys) {
    if (EqualsIgnoreCase(key.path, ".Default")) {
      key.path.clear();
    } else if (EqualsIgnoreCase(key.path.substr(0, 9), ".Default\\")) {
      key.path = key.path.substr(9);
    } else {
      continue;
    }
    defaultUser.push_back(key);
  }
  EXPECT_GT(defaultUser.size(), 3u);
  EXPECT_EQ(userDat.keys, defaultUser);
  const testing::ReaderOutput userDatPerl = testing::ReadWithParseWin32Registry(userDatFile);
  ASSERT_TRUE(userDatPerl.ok()) << userDatPerl.diagnostics;
  EXPECT_EQ(userDatPerl.keys, defaultUser);

  // Appended, whatever a reload's order would be.
  users.AddUser("aaron");
  EXPECT_EQ(Names(users), (std::vector<std::string>{"zed", "carl", "aaron"}));
}

TEST_F(UsersTest, AddUserKeepsAnExistingUserDat) {
  const std::filesystem::path dir = machine_.Host("C:\\WINDOWS\\Profiles\\dora");
  std::filesystem::create_directories(dir);
  { std::ofstream(dir / "USER.DAT", std::ios::binary) << "keep me"; }
  TUsers users{machine_.Store()};
  users.AddUser("dora");
  std::ifstream in(dir / "USER.DAT", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(UsersTest, AddUserRefusesATakenNameAndChangesNothing) {
  AddKey("Bob");
  TUsers users{machine_.Store()};
  try {
    users.AddUser("bob");
    FAIL() << "a taken name was added";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "There is already a user with this name");
  }
  EXPECT_EQ(users.Count(), 1u);
  EXPECT_FALSE(machine_.KeyExists(std::string(kProfileList) + "bob"));
  EXPECT_FALSE(std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles\\bob")));
}

TEST_F(UsersTest, AddUserRefusesANameThatIsNoKeyOrDirectoryName) {
  TUsers users{machine_.Store()};
  for (std::string_view name : {"", "a\\b", "\\", "a:b", "tab\there", "ann.", "ann "}) {
    EXPECT_THROW(users.AddUser(name), std::runtime_error) << name;
  }
  users.Reload();
  EXPECT_EQ(users.Count(), 0u);
  EXPECT_FALSE(machine_.KeyExists(std::string(kProfileList) + "a"));
  EXPECT_FALSE(machine_.Value(kProfileList, "ProfileImagePath"));
  EXPECT_FALSE(std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles\\user.dat")));
  for (const char* dir : {"ann", "ann.", "ann "}) {
    EXPECT_FALSE(
        std::filesystem::exists(machine_.Host(std::string("C:\\WINDOWS\\Profiles\\") + dir)));
  }
}

TEST_F(UsersTest, TheNameRuleGivesItsReasonAndAddUserAppliesIt) {
  AddKey("\xFCn\xEF");  // ünï
  TUsers users{machine_.Store()};
  // C:\WINDOWS\Profiles\ + name + \user.dat within 259 characters.
  const std::string longest(230, 'n');
  const std::pair<std::string, std::string> refused[] = {
      {"", "A user name cannot be empty"},
      {"a*b", "A user name cannot hold the character '*'"},
      {"x?y", "A user name cannot hold the character '?'"},
      {"tab\there", "A user name cannot hold control characters"},
      {"odd\x81", "A user name cannot hold control characters"},
      {"ann ", "A user name cannot end in a blank or a dot"},
      {"ann.", "A user name cannot end in a blank or a dot"},
      {"con", "\"con\" is the name of a device and cannot be a user name"},
      {"NUL.txt", "\"NUL.txt\" is the name of a device and cannot be a user name"},
      {"Com1", "\"Com1\" is the name of a device and cannot be a user name"},
      {"lpt9.x.y", "\"lpt9.x.y\" is the name of a device and cannot be a user name"},
      {"AUX", "\"AUX\" is the name of a device and cannot be a user name"},
      {"prn.doc", "\"prn.doc\" is the name of a device and cannot be a user name"},
      {longest + "n",
       "The user name is too long: a profile path holds at most 259 characters, which leaves 230 "
       "for the name"},
      {"\xDCN\xCF", "There is already a user with this name"},  // ÜNÏ
  };
  for (const auto& [name, reason] : refused) {
    EXPECT_EQ(RefusedUserName(machine_.GetMachine(), name, &users), reason) << name;
    try {
      users.AddUser(name);
      ADD_FAILURE() << "added " << name;
    } catch (const AccountError& error) {
      EXPECT_EQ(error.what(), reason);
    }
  }
  EXPECT_EQ(users.Count(), 1u);
  EXPECT_FALSE(machine_.KeyExists(std::string(kProfileList) + "con"));
  EXPECT_FALSE(std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles\\con")));
  // Without the accounts a taken name passes; so do names that only look like devices.
  EXPECT_EQ(RefusedUserName(machine_.GetMachine(), "\xDCN\xCF", nullptr), std::nullopt);
  for (const std::string& name :
       std::vector<std::string>{"COM", "COM10", "LPT0", "console", "CON2", " Boss", longest}) {
    EXPECT_EQ(RefusedUserName(machine_.GetMachine(), name, &users), std::nullopt) << name;
  }
  users.AddUser(longest);
  EXPECT_TRUE(
      std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles\\" + longest + "\\user.dat")));
}

TEST_F(UsersTest, AddUserReportsAProfileThatCannotBeMadeAndRecordsNoAccount) {
  std::filesystem::create_directories(machine_.Host("C:\\WINDOWS\\Profiles"));
  { std::ofstream(machine_.Host("C:\\WINDOWS\\Profiles\\carl")) << "in the way"; }
  TUsers users{machine_.Store()};
  try {
    users.AddUser("carl");
    FAIL() << "added without a profile";
  } catch (const AccountError& error) {
    EXPECT_NE(std::string(error.what()).find("C:\\WINDOWS\\Profiles\\carl"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(users.Count(), 0u);
  EXPECT_FALSE(machine_.KeyExists("TARNEX\\Users\\carl"));
  EXPECT_FALSE(machine_.KeyExists(std::string(kProfileList) + "carl"));
}

// Without a default user there is no user.dat to copy: the directories made on the way go again.
TEST_F(UsersTest, AddUserWithoutADefaultUserLeavesNoDirectoryBehind) {
  std::filesystem::remove_all(machine_.Host("C:\\WINDOWS\\Profiles"));
  {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::Users);
    ASSERT_TRUE(reg.DeleteKey(".Default"));
  }
  TUsers users{machine_.Store()};
  try {
    users.AddUser("carl");
    FAIL() << "added without a user.dat";
  } catch (const AccountError& error) {
    EXPECT_NE(std::string(error.what()).find("C:\\WINDOWS\\Profiles\\carl\\user.dat"),
              std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles")));
  EXPECT_FALSE(machine_.KeyExists("TARNEX\\Users\\carl"));

  // A Profiles directory that was there, with something in it, stays.
  std::filesystem::create_directories(machine_.Host("C:\\WINDOWS\\Profiles\\ann"));
  EXPECT_THROW(users.AddUser("carl"), AccountError);
  EXPECT_TRUE(std::filesystem::is_directory(machine_.Host("C:\\WINDOWS\\Profiles\\ann")));
  EXPECT_FALSE(std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles\\carl")));
}

TEST_F(UsersTest, RemoveUserReportsTheProfileEntryAndReloads) {
  TUsers users{machine_.Store()};
  users.AddUser("ann");
  AddKey("bob");  // no profile entry
  users.Reload();
  ASSERT_EQ(users.Count(), 2u);

  EXPECT_TRUE(users.RemoveUser("ANN"));
  EXPECT_FALSE(machine_.KeyExists("TARNEX\\Users\\ann"));
  EXPECT_FALSE(machine_.KeyExists(std::string(kProfileList) + "ann"));
  EXPECT_TRUE(std::filesystem::exists(machine_.Host("C:\\WINDOWS\\Profiles\\ann\\user.dat")));
  EXPECT_EQ(Names(users), (std::vector<std::string>{"bob"}));

  EXPECT_FALSE(users.RemoveUser("bob"));
  EXPECT_FALSE(machine_.KeyExists("TARNEX\\Users\\bob"));
  EXPECT_EQ(users.Count(), 0u);
}

// Such a name would reach the Users key itself, another account's keys or the whole ProfileList.
TEST_F(UsersTest, RemoveUserOfANameThatIsNoKeyNameDeletesNothing) {
  TUsers users{machine_.Store()};
  users.AddUser("ann");
  users.AddUser("bob");
  AddKey("ann\\Software");
  for (std::string_view name : {"", "\\", "ann\\Software", "\\bob"}) {
    EXPECT_FALSE(users.RemoveUser(name)) << name;
    EXPECT_EQ(Names(users), (std::vector<std::string>{"ann", "bob"})) << name;
    EXPECT_TRUE(machine_.KeyExists("TARNEX\\Users\\ann\\Software")) << name;
    EXPECT_TRUE(machine_.KeyExists(std::string(kProfileList) + "bob")) << name;
  }
}

}  // namespace
}  // namespace tarnwick
