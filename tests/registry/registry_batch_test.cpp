#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "registry/creg_file.h"
#include "registry/registry.h"
#include "support/file_replacements.h"
#include "support/independent_readers.h"
#include "support/run_program.h"
#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

void WriteDword(Registry& registry, RootKey root, std::string_view key, std::string_view name,
                int32_t value) {
  RegistryAccessor reg(registry);
  reg.SetRootKey(root);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteInteger(name, value);
}

TEST(RegistryWriteBatch, ChangesReachEachFileOnceWhenTheOutermostBatchEnds) {
  test::TestMachine machine;
  WriteRegistryFile(machine.Host("c/WINDOWS/Tarnex.pol"), RegNode());
  Registry registry(machine.Get());
  test::FileReplacements replaced(machine.Host("c/WINDOWS"));
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(reg.LoadKey("TARNEX", "C:\\WINDOWS\\Tarnex.pol"));
  {
    RegistryWriteBatch outer(registry);
    {
      RegistryWriteBatch inner(registry);
      for (int i = 0; i < 13; ++i) {
        WriteDword(registry, RootKey::LocalMachine, "Software\\Tarnwick", "V" + std::to_string(i),
                   i);
      }
      WriteDword(registry, RootKey::CurrentUser, "Control Panel", "Beep", 1);
      WriteDword(registry, RootKey::LocalMachine, "TARNEX\\Users\\bob", "NoRun", 1);
      inner.Finish();
    }
    EXPECT_TRUE(replaced.Take().empty());
    EXPECT_FALSE(fs::exists(machine.Host("c/WINDOWS/SYSTEM.DAT")));
    // A hive detached inside the batch is written with the other files, as one.
    ASSERT_TRUE(reg.UnLoadKey("TARNEX"));
    EXPECT_TRUE(replaced.Take().empty());
    outer.Finish();
  }
  EXPECT_EQ(replaced.Take(),
            (std::map<std::string, int>{{"SYSTEM.DAT", 1}, {"USER.DAT", 1}, {"Tarnex.pol", 1}}));
  EXPECT_EQ(ReadRegistryFile(machine.Host("c/WINDOWS/Tarnex.pol"))
                ->FindSubkey("Users")
                ->FindSubkey("bob")
                ->FindValue("NoRun")
                ->data,
            (std::vector<uint8_t>{1, 0, 0, 0}));

  const test::ReaderOutput creg = test::ReadWithCregexport(machine.Host("c/WINDOWS/SYSTEM.DAT"));
  ASSERT_TRUE(creg.ok()) << creg.diagnostics;
  ASSERT_EQ(creg.keys.size(), 3u);
  EXPECT_EQ(creg.keys[2].path, "Software\\Tarnwick");
  ASSERT_EQ(creg.keys[2].values.size(), 13u);
  EXPECT_EQ(creg.keys[2].values[12], (test::ExportedValue{"V12", kRegDword, {12, 0, 0, 0}}));

  // Without a batch every write lands at once, as before.
  WriteDword(registry, RootKey::LocalMachine, "Software\\Tarnwick", "V0", 7);
  EXPECT_EQ(replaced.Take(), (std::map<std::string, int>{{"SYSTEM.DAT", 1}}));
}

TEST(RegistryWriteBatch, WritePendingWritesWhatTheBatchHoldsAndTheBatchGoesOn) {
  test::TestMachine machine;
  Registry registry(machine.Get());
  test::FileReplacements replaced(machine.Host("c/WINDOWS"));
  RegistryWriteBatch batch(registry);
  WriteDword(registry, RootKey::LocalMachine, "Software", "A", 1);
  WriteDword(registry, RootKey::LocalMachine, "Software", "B", 2);
  registry.WritePending();
  EXPECT_EQ(replaced.Take(), (std::map<std::string, int>{{"SYSTEM.DAT", 1}}));
  EXPECT_NE(ReadRegistryFile(machine.Host("c/WINDOWS/SYSTEM.DAT"))
                ->FindSubkey("Software")
                ->FindValue("B"),
            nullptr);
  registry.WritePending();  // nothing new
  WriteDword(registry, RootKey::CurrentUser, "Control Panel", "Beep", 1);
  EXPECT_TRUE(replaced.Take().empty());
  batch.Finish();
  EXPECT_EQ(replaced.Take(), (std::map<std::string, int>{{"USER.DAT", 1}}));
}

TEST(RegistryWriteBatch, DiscardedChangesReachNoFile) {
  test::TestMachine machine;
  WriteRegistryFile(machine.Host("c/WINDOWS/Tarnex.pol"), RegNode());
  const std::vector<uint8_t> policy = ReadWholeFile(machine.Host("c/WINDOWS/Tarnex.pol"), 1 << 20);
  Registry registry(machine.Get());
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(reg.LoadKey("TARNEX", "C:\\WINDOWS\\Tarnex.pol"));
  {
    RegistryWriteBatch batch(registry);
    WriteDword(registry, RootKey::LocalMachine, "TARNEX\\Users\\bob", "NoRun", 1);
    WriteDword(registry, RootKey::LocalMachine, "Software\\Tarnwick", "V", 1);
    ASSERT_TRUE(reg.SaveKey("Software", "C:\\WINDOWS\\new.dat"));
    EXPECT_TRUE(registry.FileExists("C:\\WINDOWS\\new.dat"));
    registry.DiscardChanges();
    batch.Finish();
  }
  registry.Flush();
  EXPECT_FALSE(registry.FileExists("C:\\WINDOWS\\new.dat"));
  EXPECT_FALSE(fs::exists(machine.Host("c/WINDOWS/SYSTEM.DAT")));
  EXPECT_EQ(ReadWholeFile(machine.Host("c/WINDOWS/Tarnex.pol"), 1 << 20), policy);
  EXPECT_FALSE(reg.KeyExists("TARNEX\\Users"));
  EXPECT_FALSE(reg.KeyExists("Software"));
}

// A key saved as a new file inside a batch is written with the batch, and attaching that file
// before takes the tree it will hold.
TEST(RegistryWriteBatch, AFileSavedInABatchIsWrittenWithItAndCanBeAttached) {
  test::TestMachine machine;
  Registry registry(machine.Get());
  test::FileReplacements replaced(machine.Host("c/WINDOWS"));
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  {
    RegistryWriteBatch batch(registry);
    WriteDword(registry, RootKey::LocalMachine, "Plain\\Users\\ann", "NoRun", 1);
    ASSERT_TRUE(reg.SaveKey("Plain", "C:\\WINDOWS\\Tarnex.pol"));
    EXPECT_FALSE(reg.SaveKey("Plain", "C:\\WINDOWS\\Tarnex.pol"));
    ASSERT_TRUE(reg.DeleteKey("Plain"));
    EXPECT_FALSE(fs::exists(machine.Host("c/WINDOWS/Tarnex.pol")));
    ASSERT_TRUE(reg.LoadKey("TARNEX", "C:\\WINDOWS\\Tarnex.pol"));
    WriteDword(registry, RootKey::LocalMachine, "TARNEX\\Users\\ann", "NoFind", 1);
    ASSERT_TRUE(reg.UnLoadKey("TARNEX"));
    EXPECT_TRUE(replaced.Take().empty());
    batch.Finish();
  }
  EXPECT_EQ(replaced.Take(), (std::map<std::string, int>{{"SYSTEM.DAT", 1}, {"Tarnex.pol", 1}}));
  const std::unique_ptr<RegNode> policy = ReadRegistryFile(machine.Host("c/WINDOWS/Tarnex.pol"));
  const RegNode* ann = policy->FindSubkey("Users")->FindSubkey("ann");
  ASSERT_NE(ann, nullptr);
  EXPECT_NE(ann->FindValue("NoRun"), nullptr);
  EXPECT_NE(ann->FindValue("NoFind"), nullptr);
  EXPECT_EQ(ReadRegistryFile(machine.Host("c/WINDOWS/SYSTEM.DAT"))->FindSubkey("Plain"), nullptr);
}

// SYSTEM.DAT with a NUL byte in a key name: the reader takes it, the writer refuses it.
TEST(RegistryWriteBatch, OnlyAFileThatReadsCleanlyBecomesTheBackup) {
  test::TestMachine machine;
  const fs::path system = machine.Host("c/WINDOWS/SYSTEM.DAT");
  const fs::path backup = machine.Host("c/WINDOWS/SYSTEM.DA0");
  RegNode tree;
  tree.AddSubkey("Damaged");
  tree.AddSubkey("Software");
  WriteRegistryFile(system, tree);
  std::vector<uint8_t> bytes = ReadWholeFile(system, 1 << 20);
  const std::string_view name = "Damaged";
  const auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end());
  at[3] = 0;
  std::ofstream(system, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  machine.Write("c/WINDOWS/SYSTEM.DA0", "the last good backup");

  Registry registry(machine.Get());
  EXPECT_THROW(WriteDword(registry, RootKey::LocalMachine, "Software", "V", 1), RegistryError);
  EXPECT_EQ(ReadWholeFile(system, 1 << 20), bytes);
  // Once the bad key is gone the file is written, but the damaged one does not replace the backup.
  registry.ChangeFileTrees([](RegNode& changed, RegNode&) {
    ASSERT_TRUE(changed.RemoveSubkey(std::string_view("Dam\0ged", 7)));
  });
  EXPECT_EQ(ReadRegistryFile(system)->subkeys.size(), 1u);
  EXPECT_EQ(test::Slurp(backup), "the last good backup");
}

// The reader forgives bytes after the last data block; such a file is no backup.
TEST(RegistryWriteBatch, AFileWithBytesAfterItsLastBlockIsNoBackup) {
  test::TestMachine machine;
  const fs::path system = machine.Host("c/WINDOWS/SYSTEM.DAT");
  RegNode tree;
  tree.AddSubkey("Software");
  WriteRegistryFile(system, tree);
  std::ofstream(system, std::ios::binary | std::ios::app) << std::string(1000, '\x5A');
  machine.Write("c/WINDOWS/SYSTEM.DA0", "the last good backup");

  Registry registry(machine.Get());
  WriteDword(registry, RootKey::LocalMachine, "Software", "V", 1);
  EXPECT_NE(ReadRegistryFile(system)->FindSubkey("Software")->FindValue("V"), nullptr);
  EXPECT_EQ(test::Slurp(machine.Host("c/WINDOWS/SYSTEM.DA0")), "the last good backup");
}

TEST(RegistryWriteBatch, AFileThatCannotBeWrittenIsReportedAndAllAreWrittenByALaterFlush) {
  test::TestMachine machine;
  machine.MakeDir("c/WINDOWS/Hives");
  WriteRegistryFile(machine.Host("c/WINDOWS/Hives/x.pol"), RegNode());
  Registry registry(machine.Get());
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  ASSERT_TRUE(reg.LoadKey("X", "C:\\WINDOWS\\Hives\\x.pol"));
  fs::rename(machine.Host("c/WINDOWS/Hives"), machine.Host("c/WINDOWS/Away"));

  RegistryWriteBatch batch(registry);
  EXPECT_NO_THROW(WriteDword(registry, RootKey::LocalMachine, "X\\Config", "Mode", 3));
  WriteDword(registry, RootKey::LocalMachine, "Software", "Other", 1);
  EXPECT_THROW(batch.Finish(), RegistryFileError);
  EXPECT_NO_THROW(batch.Finish());
  // The batch's files are written together or not at all: the other one waits too.
  EXPECT_FALSE(fs::exists(machine.Host("c/WINDOWS/SYSTEM.DAT")));
  // An action that changes nothing does not try the failing file again; its destructor reports
  // nothing either.
  EXPECT_NO_THROW(RegistryWriteBatch(registry).Finish());
  {
    RegistryWriteBatch flushing(registry);
    ASSERT_TRUE(reg.OpenKey("X\\Config", false));
    EXPECT_TRUE(reg.FlushKey());  // left to the batch's end, which tries the file again
    EXPECT_THROW(flushing.Finish(), RegistryFileError);
  }
  EXPECT_NO_THROW({
    RegistryWriteBatch unfinished(registry);
    WriteDword(registry, RootKey::LocalMachine, "X\\Config", "Mode", 4);
  });

  fs::rename(machine.Host("c/WINDOWS/Away"), machine.Host("c/WINDOWS/Hives"));
  registry.Flush();
  EXPECT_EQ(ReadRegistryFile(machine.Host("c/WINDOWS/Hives/x.pol"))
                ->FindSubkey("Config")
                ->FindValue("Mode")
                ->data,
            (std::vector<uint8_t>{4, 0, 0, 0}));
  EXPECT_NE(ReadRegistryFile(machine.Host("c/WINDOWS/SYSTEM.DAT"))->FindSubkey("Software"),
            nullptr);
}

}  // namespace
}  // namespace tarnwick::test
