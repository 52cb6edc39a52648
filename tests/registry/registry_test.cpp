#include "registry/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "machine/machine.h"
#include "registry/creg_file.h"
#include "support/fixtures.h"
#include "support/independent_readers.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

ExportedKey Key(std::string path) {
  return {std::move(path), {}};
}

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> FileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A machine with drive C holding C:\WINDOWS, in a fresh temporary directory.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "registry-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "c" / "WINDOWS");
    std::ofstream(dir_ / "machine.ini") << "[Machine]\nWindowsDirectory=C:\\WINDOWS\n"
                                        << "ProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
                                        << "[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\n";
    machine_ = Machine::Open(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Windows(const std::string& name) const { return dir_ / "c" / "WINDOWS" / name; }
  std::unique_ptr<Registry> NewRegistry() const { return std::make_unique<Registry>(*machine_); }

  // Writes name=text under key, closing the key (and so flushing) before returning.
  static void Write(Registry& registry, RootKey root, std::string_view key, std::string_view name,
                    std::string_view text) {
    RegistryAccessor accessor(registry);
    accessor.SetRootKey(root);
    ASSERT_TRUE(accessor.OpenKey(key, true));
    accessor.WriteString(name, text);
  }
  static std::string Read(Registry& registry, RootKey root, std::string_view key,
                          std::string_view name) {
    RegistryAccessor accessor(registry);
    accessor.SetRootKey(root);
    accessor.OpenKey(key, false);
    return accessor.ReadString(name);
  }

  fs::path dir_;
  std::optional<Machine> machine_;
};

void ExpectReadersSee(const fs::path& file, const std::vector<ExportedKey>& expected) {
  test::ReaderOutput creg = test::ReadWithCregexport(file);
  ASSERT_TRUE(creg.ok()) << creg.diagnostics;
  EXPECT_EQ(creg.keys, expected);
  test::ReaderOutput perl = test::ReadWithParseWin32Registry(file);
  ASSERT_TRUE(perl.ok()) << perl.diagnostics;
  EXPECT_EQ(perl.keys, expected);
}

TEST_F(RegistryTest, RootKeysMapToTheMachineFilesAndCurrentUserIsTheDefaultUser) {
  {
    auto registry = NewRegistry();
    Write(*registry, RootKey::CurrentUser, "Software\\Demo", "Who", "current");
    Write(*registry, RootKey::LocalMachine, "\\SOFTWARE\\Demo", "Who", "machine");
    EXPECT_EQ(Read(*registry, RootKey::Users, ".Default\\software\\DEMO", "who"), "current");
    Write(*registry, RootKey::Users, ".DEFAULT\\Software\\Demo", "Who", "users");
    EXPECT_EQ(Read(*registry, RootKey::CurrentUser, "Software\\Demo", "Who"), "users");
    EXPECT_EQ(Read(*registry, RootKey::LocalMachine, "Software\\Demo", "Who"), "machine");
  }
  const std::vector<uint8_t> users = Bytes("users");
  const std::vector<uint8_t> machine = Bytes("machine");
  ExpectReadersSee(Windows("USER.DAT"), {Key(""),
                                         Key(".DEFAULT"),
                                         Key(".DEFAULT\\Software"),
                                         {".DEFAULT\\Software\\Demo", {{"Who", kRegSz, users}}}});
  ExpectReadersSee(Windows("SYSTEM.DAT"),
                   {Key(""), Key("SOFTWARE"), {"SOFTWARE\\Demo", {{"Who", kRegSz, machine}}}});
  EXPECT_FALSE(fs::exists(Windows("USER.DA0")));  // there was no file to keep
}

TEST_F(RegistryTest, AMachineFileBehindALinkLeadingNowhereIsNotTakenForAMissingOne) {
  fs::remove(Windows("SYSTEM.DAT"));
  fs::create_symlink(dir_ / "elsewhere.dat", Windows("SYSTEM.DAT"));
  try {
    NewRegistry();
    FAIL() << "opened the registry with SYSTEM.DAT out of reach";
  } catch (const RegistryFileError& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\WINDOWS\\SYSTEM.DAT: it or its backup is reached "
                                         "through a symbolic link"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere.dat"));
}

TEST_F(RegistryTest, OpenWithCreationAlsoForReadsAndAbsentValuesReadEmpty) {
  auto registry = NewRegistry();
  RegistryAccessor accessor(*registry);
  accessor.SetRootKey(RootKey::LocalMachine);
  EXPECT_FALSE(accessor.OpenKey("A\\B\\C", false));
  EXPECT_EQ(accessor.ReadInteger("x"), 0);
  EXPECT_THROW(accessor.WriteInteger("x", 1), RegistryError);

  ASSERT_TRUE(accessor.OpenKey("\\A\\B\\C", true));
  EXPECT_EQ(accessor.ReadInteger("NoRun"), 0);
  EXPECT_EQ(accessor.ReadString("Programs"), "");
  EXPECT_FALSE(accessor.ReadValue("NoRun"));
  accessor.CloseKey();
  EXPECT_TRUE(accessor.KeyExists("a\\b\\c"));
  EXPECT_FALSE(accessor.KeyExists("a\\b\\c\\d"));

  // The created keys are in SYSTEM.DAT once the key is closed.
  auto reread = ReadRegistryFile(Windows("SYSTEM.DAT"));
  ASSERT_NE(reread->FindSubkey("A"), nullptr);
  EXPECT_NE(reread->FindSubkey("A")->FindSubkey("B")->FindSubkey("C"), nullptr);
}

TEST_F(RegistryTest, NamesIgnoreCaseKeepTheirCaseAndEnumerateInCreationOrderAfterReload) {
  {
    auto registry = NewRegistry();
    RegistryAccessor accessor(*registry);
    for (const char* key : {"Zeta", "alpha", "Mid", "ALPHA\\Inner"}) accessor.CreateKey(key);
    ASSERT_TRUE(accessor.OpenKey("ZETA", true));
    accessor.WriteInteger("b", 1);
    accessor.WriteString("A", "x");
    accessor.WriteInteger("B", 2);  // replaces "b" in place, keeping its name
    accessor.WriteBinaryData("", {1, 2});
    EXPECT_EQ(accessor.GetValueNames(), (std::vector<std::string>{"b", "A", ""}));
    EXPECT_EQ(accessor.ReadInteger("b"), 2);
  }
  auto registry = NewRegistry();
  RegistryAccessor accessor(*registry);
  ASSERT_TRUE(accessor.OpenKey("", false));
  EXPECT_EQ(accessor.GetKeyNames(), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  ASSERT_TRUE(accessor.OpenKey("zeta", false));
  EXPECT_EQ(accessor.GetValueNames(), (std::vector<std::string>{"b", "A", ""}));
  EXPECT_EQ(accessor.ReadValue("")->data, (std::vector<uint8_t>{1, 2}));
  ASSERT_TRUE(accessor.OpenKey("Alpha", false));
  EXPECT_EQ(accessor.GetKeyNames(), std::vector<std::string>{"Inner"});

  EXPECT_TRUE(accessor.DeleteKey("ALPHA"));
  EXPECT_FALSE(accessor.DeleteKey("alpha"));
  EXPECT_FALSE(accessor.DeleteKey(""));
  ASSERT_TRUE(accessor.OpenKey("Zeta", false));
  EXPECT_TRUE(accessor.DeleteValue("a"));
  EXPECT_FALSE(accessor.DeleteValue("a"));
  accessor.CloseKey();
  auto file = ReadRegistryFile(Windows("USER.DAT"));
  const RegNode* reread = file->FindSubkey(".DEFAULT");
  ASSERT_NE(reread, nullptr);
  ASSERT_EQ(reread->subkeys.size(), 2u);
  EXPECT_EQ(reread->subkeys[1]->name, "Mid");
  EXPECT_EQ(reread->subkeys[0]->values.size(), 2u);
}

TEST_F(RegistryTest, ReadsCheckTheDataType) {
  auto registry = NewRegistry();
  RegistryAccessor accessor(*registry);
  ASSERT_TRUE(accessor.OpenKey("Types", true));
  accessor.WriteBinaryData("Bin4", {1, 0, 0, 0});
  accessor.WriteString("Long", "longer");
  accessor.WriteBinaryData("NoData", {});
  accessor.WriteValue("Short", kRegDword, {7, 0, 0, 0});
  accessor.WriteValue("Expand", kRegExpandSz, Bytes(std::string("%windir%\0", 9)));
  accessor.WriteValue("Nul", kRegSz, Bytes(std::string("ab\0cd\0", 6)));
  accessor.WriteInteger("Negative", -5);

  auto message = [&](auto read) -> std::string {
    try {
      read();
    } catch (const RegistryError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message([&] { accessor.ReadInteger("Bin4"); }), "Invalid data type for 'Bin4'");
  EXPECT_EQ(message([&] { accessor.ReadInteger("Long"); }), "Failed to get data for 'Long'");
  EXPECT_EQ(message([&] { accessor.ReadString("Short"); }), "Invalid data type for 'Short'");
  EXPECT_EQ(message([&] { accessor.ReadString("Bin4"); }), "Invalid data type for 'Bin4'");
  EXPECT_EQ(accessor.ReadInteger("NoData"), 0);
  EXPECT_EQ(accessor.ReadString("NoData"), "");
  EXPECT_EQ(accessor.ReadInteger("Short"), 7);
  EXPECT_EQ(accessor.ReadInteger("Negative"), -5);
  EXPECT_EQ(accessor.ReadString("Expand"), "%windir%");
  EXPECT_EQ(accessor.ReadString("Nul"), "ab");
  EXPECT_EQ(accessor.ReadValue("Nul")->data.size(), 6u);
  EXPECT_EQ(accessor.ReadValue("Expand")->type, uint32_t{kRegExpandSz});
}

TEST_F(RegistryTest, WritesBeyondWindowsLimitsFailWithTheDesignTexts) {
  auto registry = NewRegistry();
  RegistryAccessor accessor(*registry);
  accessor.SetRootKey(RootKey::LocalMachine);
  const std::string longName(256, 'k');
  try {
    accessor.CreateKey("Software\\" + longName);
    FAIL() << "created a key with a 256-character name";
  } catch (const RegistryError& e) {
    EXPECT_EQ(e.what(), "Failed to create key Software\\" + longName);
  }
  EXPECT_FALSE(accessor.OpenKey("Software\\" + longName, true));

  ASSERT_TRUE(accessor.OpenKey("", false));
  try {
    accessor.WriteInteger("OnRoot", 1);  // a file's root holds no values
    FAIL();
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'OnRoot': the root of a file holds no values");
  }
  ASSERT_TRUE(accessor.OpenKey("Software", true));
  try {
    accessor.WriteString("UserIcon", "C:\\" + std::string(20000, 'x'));
    FAIL() << "wrote a value over the limit";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(),
                 "Failed to set data for 'UserIcon': the data takes 20003 bytes; Windows 95 keeps "
                 "at most 16300 bytes in one value");
  }
  EXPECT_THROW(accessor.WriteValue("Dword", kRegDword, {1, 2}), RegistryError);
  EXPECT_THROW(accessor.WriteString(longName, "x"), RegistryError);
  accessor.WriteBinaryData("Fits", std::vector<uint8_t>(16300));
  for (int i = 0; i < 2; ++i)
    accessor.WriteBinaryData("More" + std::to_string(i), std::vector<uint8_t>(16300));
  // A fourth one would overflow the key's data block.
  EXPECT_THROW(accessor.WriteBinaryData("More2", std::vector<uint8_t>(16300)), RegistryError);
  accessor.CloseKey();
  EXPECT_EQ(ReadRegistryFile(Windows("SYSTEM.DAT"))->FindSubkey("Software")->values.size(), 3u);
}

TEST_F(RegistryTest, AccessorClosesAndFlushesWhenAStepThrows) {
  auto registry = NewRegistry();
  try {
    RegistryAccessor accessor(*registry);
    accessor.SetRootKey(RootKey::LocalMachine);
    accessor.OpenKey("Software\\Run", true);
    accessor.WriteString("TWTray", "C:\\TARNEX\\TWTray.exe");
    accessor.ReadInteger("TWTray");
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'TWTray'");
  }
  auto file = ReadRegistryFile(Windows("SYSTEM.DAT"));
  const RegNode* run = file->FindSubkey("Software");
  ASSERT_NE(run, nullptr);
  EXPECT_NE(run->FindSubkey("Run")->FindValue("TWTray"), nullptr);
}

TEST_F(RegistryTest, AKeyDeletedByAnotherAccessorIsGoneForTheOneHoldingItOpen) {
  auto registry = NewRegistry();
  RegistryAccessor holder(*registry);
  ASSERT_TRUE(holder.OpenKey("Doomed", true));
  holder.WriteInteger("n", 1);
  RegistryAccessor other(*registry);
  EXPECT_TRUE(other.DeleteKey("Doomed"));
  EXPECT_EQ(holder.ReadInteger("n"), 0);
  EXPECT_TRUE(holder.GetValueNames().empty());
  EXPECT_THROW(holder.WriteInteger("n", 2), RegistryError);
  EXPECT_FALSE(other.KeyExists("Doomed"));
}

TEST_F(RegistryTest, MachineFilesAreKeptAsDa0BeforeTheFirstChangeOfARun) {
  RegNode original;
  original.AddSubkey("Old").SetValue("v", kRegSz, Bytes(std::string("old\0", 4)));
  WriteRegistryFile(Windows("system.dat"), original);  // found whatever its case
  const std::vector<uint8_t> before = FileBytes(Windows("system.dat"));
  {
    auto registry = NewRegistry();
    EXPECT_EQ(Read(*registry, RootKey::LocalMachine, "Old", "v"), "old");
    EXPECT_FALSE(fs::exists(Windows("SYSTEM.DA0")));  // reading changes nothing
    Write(*registry, RootKey::LocalMachine, "New", "a", "1");
    EXPECT_EQ(FileBytes(Windows("SYSTEM.DA0")), before);
    Write(*registry, RootKey::LocalMachine, "New", "b", "2");
    EXPECT_EQ(FileBytes(Windows("SYSTEM.DA0")), before);
  }
  EXPECT_FALSE(fs::exists(Windows("SYSTEM.DAT")));
  const std::vector<uint8_t> afterFirstRun = FileBytes(Windows("system.dat"));
  {
    auto registry = NewRegistry();
    Write(*registry, RootKey::LocalMachine, "New", "c", "3");
  }
  EXPECT_EQ(FileBytes(Windows("SYSTEM.DA0")), afterFirstRun);
  EXPECT_EQ(ReadRegistryFile(Windows("system.dat"))->FindSubkey("New")->values.size(), 3u);
}

// A genuine Windows Me USER.DAT as the machine's: one change, and the rest of the file is intact.
TEST_F(RegistryTest, AGenuineUserDatTakesAChangeAndKeepsEverythingElse) {
  const fs::path genuine = test::Fixture("creg/winme_USER.DAT");
  ASSERT_FIXTURE(genuine);
  fs::copy_file(genuine, Windows("USER.DAT"));
  {
    auto registry = NewRegistry();
    EXPECT_EQ(Read(*registry, RootKey::CurrentUser, "Control Panel\\International", "Locale"),
              "00000409");
    Write(*registry, RootKey::CurrentUser, "Software\\Tarnwick", "Mode", "on");
  }
  std::unique_ptr<RegNode> expected = ReadRegistryFile(genuine);
  expected->FindSubkey(".DEFAULT")
      ->AddSubkey("Software")
      .AddSubkey("Tarnwick")
      .SetValue("Mode", kRegSz, Bytes("on"));
  ExpectReadersSee(Windows("USER.DAT"), test::ExportTree(*expected));
  EXPECT_EQ(FileBytes(Windows("USER.DA0")), FileBytes(genuine));
}

TEST_F(RegistryTest, ADamagedMachineFileIsReportedByNameAndLeftAlone) {
  std::ofstream(Windows("USER.DAT"), std::ios::binary) << "CREG not really a registry";
  const std::vector<uint8_t> before = FileBytes(Windows("USER.DAT"));
  try {
    NewRegistry();
    FAIL() << "a damaged USER.DAT was accepted";
  } catch (const RegistryFileError& e) {
    EXPECT_NE(std::string(e.what()).find("USER.DAT"), std::string::npos) << e.what();
  }
  EXPECT_EQ(FileBytes(Windows("USER.DAT")), before);
  EXPECT_FALSE(fs::exists(Windows("USER.DA0")));
}

TEST_F(RegistryTest, AttachedHiveLifeCycle) {
  RegNode policy;
  policy.AddSubkey("Users").AddSubkey("bob").SetValue("NoRun", kRegDword, {1, 0, 0, 0});
  WriteRegistryFile(Windows("Tarnex.pol"), policy);
  std::ofstream(Windows("Broken.pol"), std::ios::binary) << "junk";
  const std::string pol = "C:\\WINDOWS\\Tarnex.pol";

  auto registry = NewRegistry();
  RegistryAccessor accessor(*registry);
  accessor.SetRootKey(RootKey::LocalMachine);
  EXPECT_FALSE(accessor.LoadKey("TARNEX", "C:\\WINDOWS\\Missing.pol"));
  EXPECT_FALSE(accessor.LoadKey("TARNEX", "C:\\WINDOWS\\Broken.pol"));
  EXPECT_FALSE(accessor.LoadKey("A\\B", pol));
  ASSERT_TRUE(accessor.LoadKey("TARNEX", pol));
  EXPECT_FALSE(accessor.LoadKey("tarnex", pol));  // the key exists
  EXPECT_FALSE(accessor.LoadKey("Other", pol));   // the file is attached already
  {
    RegistryAccessor user(*registry);
    user.SetRootKey(RootKey::CurrentUser);
    EXPECT_FALSE(user.LoadKey("X", pol));
  }

  ASSERT_TRUE(accessor.OpenKey("", false));
  EXPECT_EQ(accessor.GetKeyNames(), std::vector<std::string>{"TARNEX"});
  ASSERT_TRUE(accessor.OpenKey("Tarnex\\Users\\BOB", false));
  EXPECT_EQ(accessor.ReadInteger("NoRun"), 1);
  ASSERT_TRUE(accessor.OpenKey("TARNEX\\Users\\bob\\Software\\Policies", true));
  accessor.WriteInteger("NoFind", 1);
  accessor.CloseKey();
  EXPECT_FALSE(fs::exists(Windows("SYSTEM.DAT")));  // nothing went to the machine's file
  const std::vector<uint8_t> one{1, 0, 0, 0};
  const std::vector<ExportedKey> expected{
      Key(""),
      Key("Users"),
      {"Users\\bob", {{"NoRun", kRegDword, one}}},
      Key("Users\\bob\\Software"),
      {"Users\\bob\\Software\\Policies", {{"NoFind", kRegDword, one}}}};
  ExpectReadersSee(Windows("Tarnex.pol"), expected);

  // Deleting the attached key would empty the file: refused.
  EXPECT_FALSE(accessor.DeleteKey("TARNEX"));
  EXPECT_TRUE(accessor.KeyExists("TARNEX\\Users\\bob"));
  EXPECT_FALSE(accessor.UnLoadKey("Nothing"));
  EXPECT_TRUE(accessor.UnLoadKey("tarnex"));
  EXPECT_FALSE(accessor.KeyExists("TARNEX"));
  EXPECT_FALSE(accessor.UnLoadKey("TARNEX"));
  ExpectReadersSee(Windows("Tarnex.pol"), expected);

  ASSERT_TRUE(accessor.LoadKey("TARNEX", pol));
  ASSERT_TRUE(accessor.OpenKey("TARNEX\\Users\\bob\\Software\\Policies", false));
  EXPECT_EQ(accessor.ReadInteger("NoFind"), 1);
}

TEST_F(RegistryTest, AWriteThatCannotReachItsFileFailsAndIsNotLost) {
  fs::create_directories(Windows("Hives"));
  WriteRegistryFile(Windows("Hives") / "x.pol", RegNode());
  auto registry = NewRegistry();
  RegistryAccessor accessor(*registry);
  accessor.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(accessor.LoadKey("X", "C:\\WINDOWS\\Hives\\x.pol"));
  fs::rename(Windows("Hives"), Windows("Away"));  // the file's directory is gone
  try {
    accessor.CreateKey("X\\Config");
    FAIL() << "creating a key whose file cannot be written succeeded";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to create key X\\Config");
  }
  EXPECT_FALSE(accessor.OpenKey("X\\Other", true));
  ASSERT_TRUE(accessor.OpenKey("X\\Config", true));  // it is there in memory
  try {
    accessor.WriteInteger("Mode", 3);
    FAIL() << "a write whose file cannot be written succeeded";
  } catch (const RegistryError& e) {
    // The reason names the file, the step and the system's reason.
    const std::string what = e.what();
    EXPECT_TRUE(what.starts_with("Failed to set data for 'Mode': " + Windows("Hives").string() +
                                 "/x.pol: cannot open its folder: No such file"))
        << what;
  }
  EXPECT_EQ(accessor.ReadInteger("Mode"), 3);
  EXPECT_FALSE(accessor.FlushKey());
  EXPECT_FALSE(accessor.UnLoadKey("X"));  // detaching now would lose the change

  fs::rename(Windows("Away"), Windows("Hives"));
  EXPECT_TRUE(accessor.FlushKey());
  EXPECT_TRUE(accessor.UnLoadKey("X"));
  ExpectReadersSee(Windows("Hives") / "x.pol",
                   {Key(""), {"Config", {{"Mode", kRegDword, {3, 0, 0, 0}}}}, Key("Other")});
}

TEST_F(RegistryTest, SaveKeyWritesANewFileOfTheKeysTree) {
  auto registry = NewRegistry();
  Write(*registry, RootKey::CurrentUser, "Control Panel\\Desktop", "Wallpaper", "(None)");
  // The policy file's first run: plain keys, saved as a new file, then removed.
  Write(*registry, RootKey::LocalMachine, "TARNEX\\Config", "Mode", "x");
  fs::create_directories(Windows("Profiles") / "bob");

  RegistryAccessor accessor(*registry);
  accessor.SetRootKey(RootKey::Users);
  ASSERT_TRUE(accessor.SaveKey(".Default", "C:\\WINDOWS\\Profiles\\bob\\user.dat"));
  EXPECT_FALSE(accessor.SaveKey(".Default", "C:\\WINDOWS\\Profiles\\bob\\USER.DAT"));  // exists
  EXPECT_FALSE(accessor.SaveKey("Missing", "C:\\WINDOWS\\Profiles\\bob\\other.dat"));
  ExpectReadersSee(Windows("Profiles") / "bob" / "user.dat",
                   {Key(""),
                    Key("Control Panel"),
                    {"Control Panel\\Desktop", {{"Wallpaper", kRegSz, Bytes("(None)")}}}});

  accessor.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(accessor.SaveKey("TARNEX", "C:\\WINDOWS\\Tarnex.pol"));
  ASSERT_TRUE(accessor.DeleteKey("TARNEX"));
  EXPECT_EQ(ReadRegistryFile(Windows("SYSTEM.DAT"))->FindSubkey("TARNEX"), nullptr);
  ExpectReadersSee(Windows("Tarnex.pol"), {Key(""), {"Config", {{"Mode", kRegSz, Bytes("x")}}}});
  ASSERT_TRUE(accessor.LoadKey("TARNEX", "C:\\WINDOWS\\Tarnex.pol"));
  EXPECT_EQ(Read(*registry, RootKey::LocalMachine, "TARNEX\\Config", "Mode"), "x");
}

}  // namespace
}  // namespace tarnwick::test
