// Damaged registry files: every kind of damage ends in a RegistryFileError naming the file.
#include <gtest/gtest.h>

#include <random>

#include "base/bytes.h"
#include "registry/creg_file.h"
#include "registry/creg_test_trees.h"

namespace tarnwick::test {
namespace {

// File offsets in the reference file: RGKN entries at 0x20 + their RGKN offset.
constexpr size_t kSoftwareEntry = 0x20 + 0x3C;
constexpr size_t kEmptyEntry = 0x20 + 0x58;
constexpr size_t kBlock = 0x2020;
constexpr size_t kSoftwareRecord = kBlock + 0x20;
constexpr size_t kEmptyRecord = kSoftwareRecord + 0x41;

std::vector<uint8_t> Reference() {
  return EncodeRegistryFile(*test::ReferenceTree(), "f");
}

void ExpectDamaged(const std::vector<uint8_t>& bytes, const std::string& detail) {
  try {
    DecodeRegistryFile(bytes, "USER.DAT");
    ADD_FAILURE() << "accepted; expected: " << detail;
  } catch (const RegistryFileError& e) {
    std::string text = e.what();
    EXPECT_EQ(text.rfind("USER.DAT: damaged registry file: ", 0), 0u) << text;
    EXPECT_NE(text.find(detail), std::string::npos) << text;
  }
}

template <typename Change>
void ExpectDamaged(Change change, const std::string& detail) {
  std::vector<uint8_t> bytes = Reference();
  change(std::span<uint8_t>(bytes));
  ExpectDamaged(bytes, detail);
}

TEST(CregDamage, TruncatedAnywhere) {
  std::vector<uint8_t> small = Reference();
  for (size_t size = 0; size < small.size(); ++size) {
    ExpectDamaged(std::vector<uint8_t>(small.begin(), small.begin() + size), "");
  }
  std::vector<uint8_t> large = EncodeRegistryFile(*test::LargeTree(), "f");
  for (size_t size = 0; size < large.size(); size += 9973) {
    ExpectDamaged(std::vector<uint8_t>(large.begin(), large.begin() + size), "");
  }
  ExpectDamaged(std::vector<uint8_t>(large.begin(), large.end() - 1), "runs past the end");
}

TEST(CregDamage, WrongSignatures) {
  ExpectDamaged([](auto b) { b[0] = 'X'; }, "no CREG signature");
  ExpectDamaged([](auto b) { b[0x23] = 'X'; }, "no RGKN signature");
  ExpectDamaged([](auto b) { b[kBlock] = 'X'; }, "no RGDB signature");
}

TEST(CregDamage, OffsetsAndSizesOutOfRange) {
  ExpectDamaged([](auto b) { Put32(b, 0x28, 0x3C); }, "root key offset is 0x3C");
  ExpectDamaged([](auto b) { Put32(b, 0x24, 0xFFFFFFFF); }, "navigation block size");
  ExpectDamaged([](auto b) { Put32(b, 0x24, 0x10); }, "navigation block size");
  ExpectDamaged([](auto b) { Put32(b, 0x08, 0xFFFFFFF0); }, "first data block offset");
  ExpectDamaged([](auto b) { Put32(b, 0x08, 0x40); }, "first data block offset");
  ExpectDamaged([](auto b) { Put16(b, 0x10, 2); }, "data block 1 runs past the end");
  ExpectDamaged([](auto b) { Put32(b, kBlock + 4, 0x10); }, "impossible size");
  ExpectDamaged([](auto b) { Put32(b, kBlock + 4, 0x7FFFFFFF); }, "runs past the end");
  ExpectDamaged([](auto b) { Put32(b, kSoftwareRecord, 0); }, "impossible size 0x0");
  ExpectDamaged([](auto b) { Put32(b, kSoftwareRecord, 0x10000); }, "impossible size");
  ExpectDamaged([](auto b) { Put32(b, kSoftwareRecord, 0x40); }, "");  // records no longer tile
  ExpectDamaged([](auto b) { Put16(b, kSoftwareRecord + 0x0C, 0xFFFF); }, "name longer");
  ExpectDamaged([](auto b) { Put16(b, kSoftwareRecord + 0x0E, 0xFFFF); }, "past the record end");
  ExpectDamaged([](auto b) { Put16(b, kSoftwareRecord + 0x1C + 0x0A, 0xFFFF); },
                "value 0 runs past the record end");
  ExpectDamaged([](auto b) { Put32(b, kSoftwareEntry + 0x10, 0x100000); }, "outside");
  ExpectDamaged([](auto b) { Put32(b, kSoftwareEntry + 0x10, 0x1FF0); }, "outside");
  ExpectDamaged([](auto b) { Put32(b, kSoftwareEntry + 0x10, 0x04); }, "outside");
}

TEST(CregDamage, LoopsInTheKeyTree) {
  ExpectDamaged([](auto b) { Put32(b, kEmptyEntry + 0x14, 0x58); }, "linked twice");
  ExpectDamaged([](auto b) { Put32(b, kEmptyEntry + 0x10, 0x3C); }, "linked twice");
  ExpectDamaged([](auto b) { Put32(b, kEmptyEntry + 0x10, 0x20); }, "linked twice");
  // Two parents sharing one child.
  ExpectDamaged([](auto b) { Put32(b, kSoftwareEntry + 0x14, 0x58); }, "linked twice");
}

TEST(CregDamage, KeysWithoutTheirRecords) {
  ExpectDamaged([](auto b) { Put16(b, kEmptyEntry + 0x18, 7); },
                "has no record (block 0, key number 7)");
  ExpectDamaged([](auto b) { Put16(b, kEmptyEntry + 0x1A, 1); }, "has no record (block 1");
  ExpectDamaged([](auto b) { Put16(b, kEmptyRecord + 4, 0); }, "repeats key number 0");
  ExpectDamaged([](auto b) { Put16(b, kEmptyRecord + 6, 3); }, "claims block number 3");
  ExpectDamaged([](auto b) { Put32(b, kEmptyEntry, 0x80000000); }, "not marked in use");
}

// Records that would make decoding take far more memory than the file: one record read by many
// keys, and values larger than Windows 95 allows.
TEST(CregDamage, AmplifyingRecords) {
  ExpectDamaged([](auto b) { Put16(b, kEmptyEntry + 0x18, 0); },
                "the key record at 0x2040 is claimed by the key entries at 0x3C and 0x58");
  // One key of name "K" with a value "a" of 16,300 bytes and a value "b"; value "a" is made to
  // claim one byte more and to be the only one.
  RegNode root;
  RegNode& key = root.AddSubkey("K");
  key.SetValue("a", kRegBinary, std::vector<uint8_t>(16300));
  key.SetValue("b", kRegBinary, {1});
  std::vector<uint8_t> bytes = EncodeRegistryFile(root, "f");
  const size_t record = kBlock + 0x20;
  Put16(bytes, record + 0x0E, 1);
  Put16(bytes, record + 20 + 1 + 0x0A, 16301);
  ExpectDamaged(bytes, "value 0 holds 16301 bytes, more than the 16300 Windows 95 allows");
}

// Random damage anywhere: decoding either succeeds or reports the damage, and never reads out of
// bounds (the sanitizers watch) or throws anything else.
TEST(CregDamage, RandomCorruptionIsReportedOrHarmless) {
  auto tree = test::ReferenceTree();
  RegNode& many = tree->AddSubkey("Many");
  for (int i = 0; i < 300; ++i) many.AddSubkey("K" + std::to_string(i)).SetValue("v", kRegSz, {});
  const std::vector<uint8_t> good = EncodeRegistryFile(*tree, "f");
  std::mt19937 random(95);
  int reported = 0;
  for (int round = 0; round < 1000; ++round) {
    std::vector<uint8_t> bytes = good;
    int changes = 1 + random() % 4;
    for (int i = 0; i < changes; ++i) {
      // Mostly the structures in front; sometimes anywhere.
      size_t at = random() % (round % 3 == 0 ? bytes.size() : 0x2400);
      bytes[at] = static_cast<uint8_t>(random());
    }
    try {
      DecodeRegistryFile(bytes, "USER.DAT");
    } catch (const RegistryFileError&) {
      ++reported;
    }
  }
  EXPECT_GT(reported, 50);
}

}  // namespace
}  // namespace tarnwick::test
