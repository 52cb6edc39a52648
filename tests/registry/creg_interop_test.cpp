// Files we write and third-party files, read by our codec and by two independent readers.
#include <gtest/gtest.h>

#include <functional>

#include "registry/creg_file.h"
#include "registry/creg_test_trees.h"
#include "support/fixtures.h"
#include "support/independent_readers.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

const std::filesystem::path kFixtures = test::Fixture("creg");

class CregInteropTest : public ::testing::Test {
 protected:
  TempMachineDir temp_;
  const std::filesystem::path& dir_ = temp_.Path();

  // Writes the tree and requires both readers to see exactly it.
  void ExpectBothReadersSee(const RegNode& root, const std::filesystem::path& file) {
    WriteRegistryFile(file, root);
    std::vector<test::ExportedKey> expected = ExportTree(root);
    test::ReaderOutput creg = ReadWithCregexport(file);
    EXPECT_TRUE(creg.ok()) << creg.diagnostics;
    EXPECT_EQ(FirstDifference(creg.keys, expected), "") << "cregexport on " << file;
    test::ReaderOutput perl = ReadWithParseWin32Registry(file);
    EXPECT_TRUE(perl.ok()) << perl.diagnostics;
    EXPECT_EQ(FirstDifference(perl.keys, expected), "") << "Parse::Win32Registry on " << file;
  }
};

TEST_F(CregInteropTest, SmallTreesReadBackExactly) {
  ExpectBothReadersSee(RegNode(), dir_ / "empty.pol");
  ExpectBothReadersSee(*test::ReferenceTree(), dir_ / "USER.DAT");
  EXPECT_EQ(
      ReadWithCregexport(dir_ / "USER.DAT").keys,
      (std::vector<test::ExportedKey>{
          {""},
          {"Software", {{"", kRegSz, {'D', 'e', 'm', 'o'}}, {"NoRun", kRegDword, {1, 0, 0, 0}}}},
          {"Software\\Empty"}}));
}

TEST_F(CregInteropTest, LargeTreeOverManyBlocksReadsBackExactly) {
  auto tree = test::LargeTree();
  ASSERT_GE(tree->KeyCount(), 5001u);
  ASSERT_GE(test::ValueCount(*tree), 20000u);
  ExpectBothReadersSee(*tree, dir_ / "SYSTEM.DAT");
  EXPECT_TRUE(SameTree(*ReadRegistryFile(dir_ / "SYSTEM.DAT"), *tree));
}

void ExpectSameHashes(const RegNode& a, const RegNode& b) {
  ASSERT_EQ(a.subkeys.size(), b.subkeys.size());
  EXPECT_EQ(a.storedHash, b.storedHash) << a.name;
  for (size_t i = 0; i < a.subkeys.size(); ++i) ExpectSameHashes(*a.subkeys[i], *b.subkeys[i]);
}

TEST_F(CregInteropTest, GenuineWindowsMeHiveReadsAsBothReadersReadIt) {
  ASSERT_FIXTURE(kFixtures);
  std::filesystem::path original = kFixtures / "winme_USER.DAT";
  auto tree = ReadRegistryFile(original);
  std::vector<test::ExportedKey> ours = ExportTree(*tree);
  EXPECT_EQ(ours.size(), 1u + 787u);
  test::ReaderOutput creg = ReadWithCregexport(original);
  ASSERT_TRUE(creg.ok()) << creg.diagnostics;
  EXPECT_EQ(FirstDifference(creg.keys, ours), "");
  test::ReaderOutput perl = ReadWithParseWin32Registry(original);
  ASSERT_TRUE(perl.ok()) << perl.diagnostics;
  EXPECT_EQ(FirstDifference(perl.keys, ours), "");

  // Rewritten from scratch: same content for both readers, and every stored hash kept.
  ExpectBothReadersSee(*tree, dir_ / "USER.DAT");
  auto back = ReadRegistryFile(dir_ / "USER.DAT");
  EXPECT_TRUE(SameTree(*back, *tree));
  ExpectSameHashes(*back, *tree);
}

TEST_F(CregInteropTest, HandMadeSamplesReadAsParseWin32RegistryReadsThem) {
  for (const char* name : {"win95_entry_tests.rf", "win95_iter_tests.rf", "win95_key_tests.rf",
                           "win95_value_tests.rf"}) {
    ASSERT_FIXTURE(kFixtures);
    SCOPED_TRACE(name);
    auto tree = ReadRegistryFile(kFixtures / name);
    test::ReaderOutput perl = ReadWithParseWin32Registry(kFixtures / name);
    ASSERT_TRUE(perl.ok()) << perl.diagnostics;
    EXPECT_EQ(FirstDifference(perl.keys, ExportTree(*tree)), "");
  }
  // Rewritten, the samples Windows 95 could hold read back in both readers.
  for (const char* name : {"win95_entry_tests.rf", "win95_iter_tests.rf"}) {
    SCOPED_TRACE(name);
    ExpectBothReadersSee(*ReadRegistryFile(kFixtures / name), dir_ / name);
  }
  // The others hold an empty key name, NUL bytes in names and REG_DWORDs of other sizes: refused.
  for (const char* name : {"win95_key_tests.rf", "win95_value_tests.rf"}) {
    SCOPED_TRACE(name);
    auto tree = ReadRegistryFile(kFixtures / name);
    EXPECT_THROW(WriteRegistryFile(dir_ / name, *tree), RegistryFileError);
    EXPECT_FALSE(std::filesystem::exists(dir_ / name));
  }
}

TEST_F(CregInteropTest, DamagedSampleIsReportedByName) {
  ASSERT_FIXTURE(kFixtures);
  try {
    ReadRegistryFile(kFixtures / "win95_error_tests.rf");
    ADD_FAILURE() << "damaged sample accepted";
  } catch (const RegistryFileError& e) {
    EXPECT_NE(
        std::string(e.what()).find("win95_error_tests.rf: damaged registry file: data block 0 "
                                   "runs past the end of the file"),
        std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace tarnwick::test
