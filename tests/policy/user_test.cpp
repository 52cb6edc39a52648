#include "policy/user.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "policy/policy_store.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

using testing::Dword;
using testing::Sz;

constexpr std::string_view kUser = "TARNEX\\Users\\ann\\";
constexpr std::string_view kExplorer =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kSystem =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr std::string_view kNetwork =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Network";
constexpr std::string_view kWinOldApp =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp";
constexpr std::string_view kPreferences = "Software\\Family\\Preferences";
constexpr std::string_view kFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr std::string_view kRestrictRun =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\RestrictRun";

std::string Key(std::string_view relative) {
  return std::string(kUser) + std::string(relative);
}

// User ann in an attached policy file.
class UserTest : public ::testing::Test {
 protected:
  UserTest() {
    machine_.Store().LoadPolicyFile();
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.CreateKey("TARNEX\\Users\\ann");
    reg.CloseKey();
    machine_.Store().UnloadPolicyFile();
    machine_.Store().LoadPolicyFile();
  }
  ~UserTest() override { machine_.Store().UnloadPolicyFile(); }

  std::optional<RegValue> Value(std::string_view relative, std::string_view name) {
    return machine_.Value(Key(relative), name);
  }
  void Put(std::string_view relative, std::string_view name, uint32_t type,
           const std::vector<uint8_t>& data) {
    machine_.Put(Key(relative), name, type, data);
  }
  void ExpectDword(std::string_view relative, std::string_view name, uint32_t v) {
    const std::optional<RegValue> value = Value(relative, name);
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->type, kRegDword) << name;
    EXPECT_EQ(value->data, Dword(v)) << name;
  }
  std::vector<std::string> Apps() {
    std::vector<AllowedApp> list{{"left over", {}}};
    std::vector<std::string> texts;
    for (const AllowedApp& app : ann_.GetAllowedApps(list)) texts.push_back(app.text);
    return texts;
  }

  testing::PolicyMachine machine_;
  TUser ann_{machine_.Store(), "ann"};
};

struct FlagCase {
  void (TUser::*set)(int32_t);
  std::string_view key;
  std::string_view valueName;
};

TEST_F(UserTest, FreshUserReadsZeroAndEmptyAndGettersCreateTheKeys) {
  EXPECT_EQ(ann_.NoRun() + ann_.NoFind() + ann_.NoDesktop() + ann_.NoSetFolders() +
                ann_.RestrictRun() + ann_.NoPrinterChanges() + ann_.DisableRegistryTools() +
                ann_.NoDispSettingsPage() + ann_.NoSystemPages() + ann_.NoPasswordPages() +
                ann_.NoNetSetup() + ann_.NoDOS() + ann_.NoRealMode() + ann_.NoConfigure() +
                ann_.NoDrives(),
            0);
  EXPECT_EQ(ann_.ProgramsFolder() + ann_.StartMenuFolder() + ann_.DesktopFolder() +
                ann_.FavoritesFolder() + ann_.RecentFolder() + ann_.UserIcon(),
            "");
  for (std::string_view key : {kExplorer, kSystem, kNetwork, kWinOldApp, kPreferences, kFolders}) {
    EXPECT_TRUE(machine_.KeyExists(Key(key))) << key;
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.OpenKey(Key(key), false);
    EXPECT_TRUE(reg.GetValueNames().empty()) << key;
  }
}

TEST_F(UserTest, FlagSettersWriteOnlyZeroAndOne) {
  const FlagCase cases[] = {
      {&TUser::SetNoRun, kExplorer, "NoRun"},
      {&TUser::SetNoFind, kExplorer, "NoFind"},
      {&TUser::SetNoDesktop, kExplorer, "NoDesktop"},
      {&TUser::SetNoSetFolders, kExplorer, "NoSetFolders"},
      {&TUser::SetNoSetTaskbar, kExplorer, "NoSetTaskbar"},
      {&TUser::SetRestrictRun, kExplorer, "RestrictRun"},
      {&TUser::SetNoPrinterChanges, kExplorer, "NoDeletePrinter"},
      {&TUser::SetDisableRegistryTools, kSystem, "DisableRegistryTools"},
      {&TUser::SetNoDispSettingsPage, kSystem, "NoDispSettingsPage"},
      {&TUser::SetNoSystemPages, kSystem, "NoVirtMemPage"},
      {&TUser::SetNoPasswordPages, kSystem, "NoAdminPage"},
      {&TUser::SetNoNetSetup, kNetwork, "NoNetSetup"},
      {&TUser::SetNoDOS, kWinOldApp, "Disabled"},
      {&TUser::SetNoRealMode, kWinOldApp, "NoRealMode"},
  };
  for (const FlagCase& flag : cases) {
    (ann_.*flag.set)(2);
    (ann_.*flag.set)(-1);
    EXPECT_FALSE(Value(flag.key, flag.valueName)) << flag.valueName;
    (ann_.*flag.set)(1);
    ExpectDword(flag.key, flag.valueName, 1);
    (ann_.*flag.set)(0);
    ExpectDword(flag.key, flag.valueName, 0);
  }
  ann_.SetNoDOS(1);
  EXPECT_EQ(ann_.NoDOS(), 1);
  // A stored value other than 0 or 1 reads as it is.
  Put(kExplorer, "NoRun", kRegDword, Dword(7));
  EXPECT_EQ(ann_.NoRun(), 7);
}

TEST_F(UserTest, DriveMaskTakesEveryValueFromZero) {
  ann_.SetNoDrives(-1);
  EXPECT_FALSE(Value(kExplorer, "NoDrives"));
  ann_.SetNoDrives(0);
  ExpectDword(kExplorer, "NoDrives", 0);
  ann_.SetNoDrives((1 << 2) | (1 << 25));
  EXPECT_EQ(ann_.NoDrives(), (1 << 2) | (1 << 25));
  ann_.SetNoDrives(-4);
  EXPECT_EQ(ann_.NoDrives(), (1 << 2) | (1 << 25));
}

TEST_F(UserTest, CompanionValuesAreWrittenAndTheFirstIsRead) {
  ann_.SetNoPrinterChanges(1);
  ExpectDword(kExplorer, "NoAddPrinter", 1);
  ExpectDword(kExplorer, "NoDeletePrinter", 1);
  ann_.SetNoSystemPages(1);
  for (auto name : {"NoDevMgrPage", "NoFileSysPage", "NoVirtMemPage"})
    ExpectDword(kSystem, name, 1);
  ann_.SetNoPasswordPages(1);
  for (auto name : {"NoProfilePage", "NoAdminPage"}) ExpectDword(kSystem, name, 1);

  Put(kExplorer, "NoAddPrinter", kRegDword, Dword(0));
  Put(kSystem, "NoDevMgrPage", kRegDword, Dword(0));
  Put(kSystem, "NoProfilePage", kRegDword, Dword(0));
  EXPECT_EQ(ann_.NoPrinterChanges(), 0);
  EXPECT_EQ(ann_.NoSystemPages(), 0);
  EXPECT_EQ(ann_.NoPasswordPages(), 0);
}

TEST_F(UserTest, NoConfigureSetsTheControlPanelPolicies) {
  const std::pair<std::string_view, std::string_view> values[] = {
      {kPreferences, "NoConfigure"},  {kSystem, "NoDispSettingsPage"}, {kExplorer, "NoAddPrinter"},
      {kExplorer, "NoDeletePrinter"}, {kSystem, "NoDevMgrPage"},       {kSystem, "NoFileSysPage"},
      {kSystem, "NoVirtMemPage"},     {kNetwork, "NoNetSetup"},        {kSystem, "NoProfilePage"},
      {kSystem, "NoAdminPage"},
  };
  ann_.SetNoConfigure(2);
  ann_.SetNoConfigure(-1);
  for (const auto& [key, name] : values) EXPECT_FALSE(Value(key, name)) << name;
  ann_.SetNoConfigure(1);
  for (const auto& [key, name] : values) ExpectDword(key, name, 1);
  ann_.SetNoConfigure(0);
  for (const auto& [key, name] : values) ExpectDword(key, name, 0);

  Put(kPreferences, "NoConfigure", kRegDword, Dword(1));
  EXPECT_EQ(ann_.NoConfigure(), 1);
  EXPECT_EQ(ann_.NoDispSettingsPage(), 0);
}

TEST_F(UserTest, EmptyTextsDeleteStartMenuAndRecentButStoreTheOthers) {
  ann_.SetStartMenuFolder("C:\\X");
  ann_.SetRecentFolder("C:\\Y");
  ann_.SetStartMenuFolder("");
  ann_.SetRecentFolder("");
  EXPECT_FALSE(Value(kFolders, "Start Menu"));
  EXPECT_FALSE(Value(kFolders, "Recent"));

  ann_.SetProgramsFolder("");
  ann_.SetDesktopFolder("");
  ann_.SetFavoritesFolder("");
  ann_.SetUserIcon("");
  for (auto name : {"Programs", "Desktop", "Favorites"}) {
    const std::optional<RegValue> value = Value(kFolders, name);
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->type, kRegSz);
    EXPECT_EQ(testing::SzText(value->data), "");
  }
  ASSERT_TRUE(Value(kPreferences, "UserIcon"));
  EXPECT_EQ(testing::SzText(Value(kPreferences, "UserIcon")->data), "");

  ann_.SetDesktopFolder("  c:\\no such\\Desktop ");
  EXPECT_EQ(testing::SzText(Value(kFolders, "Desktop")->data), "  c:\\no such\\Desktop ");
  ann_.SetUserIcon("C:\\TARNEX\\UserIcon\\cat.ico");
  EXPECT_EQ(ann_.UserIcon(), "C:\\TARNEX\\UserIcon\\cat.ico");
}

TEST_F(UserTest, TextGettersReadTextTypesOnly) {
  Put(kFolders, "Favorites", kRegExpandSz, Sz("%windir%\\Favorites"));
  EXPECT_EQ(ann_.FavoritesFolder(), "%windir%\\Favorites");
  Put(kFolders, "Programs", kRegSz, {'C', ':', 0, 'X', 0});
  EXPECT_EQ(ann_.ProgramsFolder(), "C:");
  Put(kFolders, "Desktop", kRegDword, Dword(1));
  EXPECT_THROW(
      {
        try {
          ann_.DesktopFolder();
        } catch (const RegistryError& error) {
          EXPECT_STREQ(error.what(), "Invalid data type for 'Desktop'");
          throw;
        }
      },
      RegistryError);
}

TEST_F(UserTest, FlagOfAnotherTypeRaisesTheStoreErrors) {
  auto errorOf = [&] {
    try {
      ann_.NoRun();
    } catch (const RegistryError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  Put(kExplorer, "NoRun", kRegBinary, Dword(1));
  EXPECT_EQ(errorOf(), "Invalid data type for 'NoRun'");
  Put(kExplorer, "NoRun", kRegSz, Sz("ab"));
  EXPECT_EQ(errorOf(), "Invalid data type for 'NoRun'");
  Put(kExplorer, "NoRun", kRegSz, Sz("longer text"));
  EXPECT_EQ(errorOf(), "Failed to get data for 'NoRun'");
  Put(kExplorer, "NoRun", kRegBinary, {});
  EXPECT_EQ(ann_.NoRun(), 0);
}

TEST_F(UserTest, AllowedProgramsAreNumberedAndGapsFilled) {
  ann_.AddAllowedApp("a.exe");
  ann_.AddAllowedApp("b.exe");
  ann_.AddAllowedApp("b.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "0")->data), "a.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "2")->data), "b.exe");
  EXPECT_TRUE(ann_.RemoveAllowedApp("A.EXE"));
  EXPECT_FALSE(Value(kRestrictRun, "0"));
  EXPECT_TRUE(Value(kRestrictRun, "1"));
  ann_.AddAllowedApp("c.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "0")->data), "c.exe");
  // An empty value is free, a blank one taken.
  Put(kRestrictRun, "3", kRegSz, Sz(""));
  Put(kRestrictRun, "4", kRegSz, Sz(" \t"));
  ann_.AddAllowedApp("d.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "3")->data), "d.exe");
  ann_.AddAllowedApp("e.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "5")->data), "e.exe");
}

TEST_F(UserTest, AllowedProgramNumberStopsAtOneThousand) {
  {
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.OpenKey(Key(kRestrictRun), true);
    for (int i = 0; i < 1000; ++i) reg.WriteString(std::to_string(i), "x.exe");
  }
  ann_.AddAllowedApp("first.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "1000")->data), "first.exe");
  ann_.AddAllowedApp("second.exe");
  EXPECT_EQ(testing::SzText(Value(kRestrictRun, "1000")->data), "second.exe");
  EXPECT_FALSE(Value(kRestrictRun, "1001"));
}

// An empty or blank entry is taken for a free number, and a path never matches a program.
TEST_F(UserTest, AllowedProgramsAreBareFileNames) {
  for (std::string_view wrong : {"", "   ", "C:\\WINDOWS\\CALC.EXE", "\\\\SERVER\\APPS\\A.EXE",
                                 "C:CALC.EXE", "bin/calc", "calc\t.exe", "calc.exe\n1=x"}) {
    EXPECT_THROW(ann_.AddAllowedApp(wrong), Error) << wrong;
  }
  EXPECT_FALSE(machine_.KeyExists(Key(kRestrictRun)));
  ann_.AddAllowedApp("calc.exe");
  EXPECT_EQ(Apps(), (std::vector<std::string>{"calc.exe"}));
}

// A line break in a stored text would read back as a line of its own wherever it is listed.
TEST_F(UserTest, TextsWithControlCharactersAreRefused) {
  for (auto set : {&TUser::SetProgramsFolder, &TUser::SetStartMenuFolder, &TUser::SetDesktopFolder,
                   &TUser::SetFavoritesFolder, &TUser::SetRecentFolder, &TUser::SetUserIcon}) {
    for (std::string_view text : {"C:\\x\nNoRun=0", "C:\\x\r", "\t", "C:\\a\x7F"}) {
      try {
        (ann_.*set)(text);
        ADD_FAILURE() << "stored " << text;
      } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find("control character"), std::string::npos)
            << error.what();
      }
    }
  }
  EXPECT_FALSE(machine_.KeyExists(Key(kFolders)));
  EXPECT_FALSE(machine_.KeyExists(Key(kPreferences)));
  ann_.SetProgramsFolder("C:\\Caf\xE9 \x80");
  EXPECT_EQ(ann_.ProgramsFolder(), "C:\\Caf\xE9 \x80");
}

TEST_F(UserTest, RemovalIgnoresCaseButNotBlanks) {
  Put(kRestrictRun, "0", kRegSz, Sz(" a.exe"));
  Put(kRestrictRun, "1", kRegSz, Sz("tarnex.exe"));
  Put(kRestrictRun, "2", kRegSz, Sz("TARNEX.EXE"));
  EXPECT_FALSE(ann_.RemoveAllowedApp("a.exe"));
  EXPECT_FALSE(ann_.RemoveAllowedApp("tarnex"));
  EXPECT_TRUE(ann_.RemoveAllowedApp("Tarnex.Exe"));
  EXPECT_FALSE(Value(kRestrictRun, "1"));
  EXPECT_TRUE(Value(kRestrictRun, "2"));
  EXPECT_EQ(Apps(), (std::vector<std::string>{"TARNEX.EXE", " a.exe"}));
}

TEST_F(UserTest, ListingRunsLastEnumeratedFirstAndSkipsBlanks) {
  Put(kRestrictRun, "0", kRegSz, Sz("zero.exe"));
  Put(kRestrictRun, "1", kRegSz, Sz(" \r\n"));
  Put(kRestrictRun, "2", kRegSz, Sz("two.exe"));
  Put(kRestrictRun, "7", kRegSz, Sz(""));
  std::vector<AllowedApp> list;
  ann_.GetAllowedApps(list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].text, "two.exe");
  EXPECT_EQ(list[0].entry.ValueName, "2");
  EXPECT_EQ(list[0].entry.KeyPath, Key(kRestrictRun));
  EXPECT_EQ(list[1].text, "zero.exe");
  EXPECT_EQ(list[1].entry.ValueName, "0");
  EXPECT_TRUE(Apps() == (std::vector<std::string>{"two.exe", "zero.exe"}));
}

TEST_F(UserTest, ProfilePathComesFromTheMachineRegistry) {
  EXPECT_EQ(ann_.ProfilePath(), "");
  machine_.Put("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\ann", "ProfileImagePath",
               kRegSz, Sz("C:\\WINDOWS\\Profiles\\ann"));
  EXPECT_EQ(ann_.ProfilePath(), "C:\\WINDOWS\\Profiles\\ann");
}

// Every setter's change is in Tarnex.pol when the setter returns, as independent readers see it.
TEST_F(UserTest, SetterChangesAreInTheFileAtOnce) {
  ann_.SetNoConfigure(1);
  ann_.SetRecentFolder("C:\\WINDOWS\\Profiles\\ann\\Recent");
  ann_.AddAllowedApp("calc.exe");
  ann_.SetStartMenuFolder("C:\\WINDOWS\\Profiles\\ann\\Start Menu");
  ann_.SetStartMenuFolder("");
  ann_.AddAllowedApp("sol.exe");
  ann_.RemoveAllowedApp("SOL.EXE");
  const std::string user = "Users\\ann\\";
  for (const auto& output : {testing::ReadWithCregexport(machine_.PolicyFile()),
                             testing::ReadWithParseWin32Registry(machine_.PolicyFile())}) {
    ASSERT_TRUE(output.ok()) << output.diagnostics;
    const testing::ExportedValue* admin =
        testing::FindExported(output, user + std::string(kSystem), "NoAdminPage");
    ASSERT_NE(admin, nullptr);
    EXPECT_EQ(admin->data, Dword(1));
    const testing::ExportedValue* recent =
        testing::FindExported(output, user + std::string(kFolders), "Recent");
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(testing::SzText(recent->data), "C:\\WINDOWS\\Profiles\\ann\\Recent");
    const testing::ExportedValue* app =
        testing::FindExported(output, user + std::string(kRestrictRun), "0");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(testing::SzText(app->data), "calc.exe");
    EXPECT_EQ(testing::FindExported(output, user + std::string(kFolders), "Start Menu"), nullptr);
    EXPECT_EQ(testing::FindExported(output, user + std::string(kRestrictRun), "1"), nullptr);
  }
}

}  // namespace
}  // namespace tarnwick
