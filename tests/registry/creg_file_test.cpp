#include "registry/creg_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/bytes.h"
#include "registry/creg_test_trees.h"
#include "registry/registry_limits.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

// The reference encoding from the format notes: these lines, zeros elsewhere, 0x3020 bytes.
constexpr const char* kReferenceDump = R"(
00000000: 4352 4547 0000 0100 2020 0000 9c8d b3b8
00000010: 0100 0500 0000 0100 0000 0000 0000 0000
00000020: 5247 4b4e 0020 0000 2000 0000 7400 0000
00000030: 0d00 0000 a073 b431 0000 0000 0000 0000
00000040: 0000 0000 0000 0000 ffff ffff ffff ffff
00000050: 3c00 0000 ffff ffff ffff ffff 0000 0000
00000060: 6b02 0000 ffff ffff 2000 0000 5800 0000
00000070: ffff ffff 0000 0000 0000 0000 8f01 0000
00000080: ffff ffff 3c00 0000 ffff ffff ffff ffff
00000090: 0100 0000 0000 0080 8c1f 0000 ffff ffff
00002020: 5247 4442 0010 0000 860f 0000 0d00 0000
00002030: 7a00 0000 0100 0200 0000 0000 d0fa 227f
00002040: 4100 0000 0000 0000 4100 0000 0800 0200
00002050: 0000 0000 536f 6674 7761 7265 0100 0000
00002060: 0000 0000 0000 0400 4465 6d6f 0400 0000
00002070: 0000 0000 0500 0400 4e6f 5275 6e01 0000
00002080: 0019 0000 0001 0000 0019 0000 0005 0000
00002090: 0000 0000 0045 6d70 7479 860f 0000 ffff
000020a0: ffff ffff ffff 0000 0000 0000 0000 0000
)";

std::vector<uint8_t> ReferenceBytes() {
  std::vector<uint8_t> bytes(0x3020, 0);
  std::istringstream lines(kReferenceDump);
  std::string offset;
  while (lines >> offset) {
    size_t at = std::stoul(offset, nullptr, 16);
    for (int group = 0; group < 8; ++group) {
      std::string word;
      lines >> word;
      for (size_t i = 0; i < word.size(); i += 2)
        bytes[at++] = std::stoi(word.substr(i, 2), nullptr, 16);
    }
  }
  return bytes;
}

uint16_t BlockCount(const std::vector<uint8_t>& file) {
  return Get16(file, 0x10);
}

TEST(CregWriter, EncodesTheReferenceTreeByteForByte) {
  EXPECT_EQ(EncodeRegistryFile(*ReferenceTree(), "USER.DAT"), ReferenceBytes());
}

TEST(CregWriter, EmptyTreeGetsOneDataBlockAndReadsBack) {
  RegNode root;
  std::vector<uint8_t> file = EncodeRegistryFile(root, "x.pol");
  EXPECT_EQ(file.size(), 0x20u + 0x2000 + 0x1000);
  EXPECT_EQ(BlockCount(file), 1);
  auto back = DecodeRegistryFile(file, "x.pol");
  EXPECT_TRUE(SameTree(*back, root));
}

TEST(CregCodec, RoundTripKeepsTreeAndOrderAndIsStable) {
  auto tree = LargeTree();
  std::vector<uint8_t> file = EncodeRegistryFile(*tree, "SYSTEM.DAT");
  EXPECT_GT(BlockCount(file), 10);
  auto back = DecodeRegistryFile(file, "SYSTEM.DAT");
  EXPECT_TRUE(SameTree(*back, *tree));
  EXPECT_EQ(EncodeRegistryFile(*back, "SYSTEM.DAT"), file);
}

TEST(CregCodec, StoredHashesSurviveAndNewKeysGetTheAsciiSum) {
  RegNode root;
  RegNode& kept = root.AddSubkey("Kept");
  kept.storedHash = 0xDEADBEEF;
  kept.AddSubkey("Schl\xFCssel");
  root.AddSubkey("CurrentVersion");
  auto back = DecodeRegistryFile(EncodeRegistryFile(root, "f"), "f");
  EXPECT_EQ(back->subkeys[0]->storedHash, 0xDEADBEEF);
  EXPECT_EQ(back->subkeys[0]->subkeys[0]->storedHash, 0x261u);
  EXPECT_EQ(back->subkeys[1]->storedHash, 0x449u);
}

// A chain nested far deeper than recursion could follow: every walk over it, and freeing it,
// keeps to its own stack.
TEST(CregCodec, AChain200000KeysDeepRoundTripsAndFrees) {
  constexpr size_t kDepth = 200000;
  std::vector<uint8_t> file = EncodeRegistryFile(*test::DeepTree(kDepth), "USER.DAT");
  std::unique_ptr<RegNode> back = DecodeRegistryFile(file, "USER.DAT");
  EXPECT_EQ(back->KeyCount(), kDepth + 1);
  std::unique_ptr<RegNode> copy = back->Clone();
  EXPECT_TRUE(SameTree(*copy, *back));
  EXPECT_EQ(EncodeRegistryFile(*copy, "USER.DAT"), file);
  RegNode moved = std::move(*copy);
  copy.reset();
  EXPECT_EQ(moved.KeyCount(), kDepth + 1);
}

// Short lists are searched in order, long ones through their index: both behave alike.
TEST(RegTree, SubkeyLookUpsFollowEveryChangeAndKeepCreationOrder) {
  for (int filler : {0, 40}) {
    SCOPED_TRACE(filler);
    RegNode root;
    std::vector<std::string> expected;
    for (int i = 0; i < filler; ++i)
      expected.push_back(root.AddSubkey("F" + std::to_string(i)).name);
    root.AddSubkey("Beta");
    RegNode& alpha = root.AddSubkey("alpha");
    root.AddSubkey("Gamma");
    EXPECT_EQ(&root.AddSubkey("ALPHA"), &alpha);
    EXPECT_EQ(root.FindSubkey("Alpha"), &alpha);
    EXPECT_TRUE(root.RemoveSubkey("ALPHA"));
    EXPECT_EQ(root.FindSubkey("alpha"), nullptr);
    EXPECT_FALSE(root.RemoveSubkey("alpha"));
    // A file may hold two keys of one name: the first is found, then the second once it is gone.
    auto twin = std::make_unique<RegNode>();
    twin->name = "GAMMA";
    RegNode& second = root.subkeys.Append(std::move(twin));
    EXPECT_EQ(root.FindSubkey("gamma")->name, "Gamma");
    EXPECT_TRUE(root.RemoveSubkey("gamma"));
    EXPECT_EQ(root.FindSubkey("gamma"), &second);
    root.AddSubkey("Delta");
    std::vector<std::string> names;
    for (const auto& subkey : root.subkeys) names.push_back(subkey->name);
    expected.insert(expected.end(), {"Beta", "GAMMA", "Delta"});
    EXPECT_EQ(names, expected);
    for (int i = 0; i < filler; ++i) EXPECT_TRUE(root.RemoveSubkey("f" + std::to_string(i)));
    EXPECT_EQ(root.FindSubkey("DELTA")->name, "Delta");
  }
}

TEST(CregWriter, BlocksHoldAtMost255Keys) {
  RegNode root;
  for (int i = 0; i < 255; ++i) root.AddSubkey("K" + std::to_string(i));
  EXPECT_EQ(BlockCount(EncodeRegistryFile(root, "f")), 1);
  root.AddSubkey("One more");
  std::vector<uint8_t> file = EncodeRegistryFile(root, "f");
  EXPECT_EQ(BlockCount(file), 2);
  EXPECT_TRUE(SameTree(*DecodeRegistryFile(file, "f"), root));
}

// Expects the write to be refused with a message naming the file and the problem.
void ExpectRefused(const RegNode& root, const std::string& problem) {
  try {
    EncodeRegistryFile(root, "Tarnex.pol");
    ADD_FAILURE() << "accepted; expected: " << problem;
  } catch (const RegistryFileError& e) {
    std::string text = e.what();
    EXPECT_NE(text.find("Tarnex.pol"), std::string::npos) << text;
    EXPECT_NE(text.find(problem), std::string::npos) << text;
  }
}

TEST(CregWriter, RefusesWhatWindows95CannotHold) {
  auto tree = [](auto change) {
    RegNode root;
    change(root.AddSubkey("Software"));
    return root;
  };
  ExpectRefused(tree([](RegNode& k) { k.AddSubkey(""); }), "empty name");
  ExpectRefused(tree([](RegNode& k) { k.AddSubkey("a\\b"); }), "backslash");
  ExpectRefused(tree([](RegNode& k) { k.AddSubkey(std::string("a\0b", 3)); }), "NUL");
  ExpectRefused(tree([](RegNode& k) { k.AddSubkey(std::string(256, 'k')); }), "256 bytes");
  ExpectRefused(tree([](RegNode& k) { k.AddSubkey("x\x81"); }), "code page 1252");
  ExpectRefused(tree([](RegNode& k) {
                  k.AddSubkey("Same");
                  auto same = std::make_unique<RegNode>();
                  same->name = "SAME";
                  k.subkeys.Append(std::move(same));
                }),
                "two subkeys named");
  ExpectRefused(tree([](RegNode& k) {
                  k.values = {{"v", kRegSz, {}}, {"V", kRegSz, {}}};
                }),
                "appears twice");
  ExpectRefused(tree([](RegNode& k) { k.SetValue(std::string(256, 'v'), kRegSz, {}); }),
                "256 bytes");
  ExpectRefused(tree([](RegNode& k) { k.SetValue("v\x9D", kRegSz, {}); }), "code page 1252");
  ExpectRefused(
      tree([](RegNode& k) { k.SetValue("big", kRegBinary, std::vector<uint8_t>(16301)); }),
      "16301 bytes");
  ExpectRefused(tree([](RegNode& k) { k.SetValue("d", kRegDword, {1, 2, 3}); }), "REG_DWORD");
  ExpectRefused(tree([](RegNode& k) {
                  for (int i = 0; i < 4; ++i) {
                    k.SetValue("v" + std::to_string(i), kRegBinary, std::vector<uint8_t>(16000));
                  }
                }),
                "data block");
  RegNode root;
  root.SetValue("", kRegSz, Bytes("x"));
  ExpectRefused(root, "root key");
}

TEST(CregWriter, AcceptsTheLimitsThemselves) {
  RegNode root;
  RegNode& key = root.AddSubkey(std::string(255, 'k'));
  key.SetValue(std::string(255, 'v'), kRegBinary, std::vector<uint8_t>(16300, 7));
  // One record of exactly 0xF000 - 32 bytes: a 20-byte header, name "F", four values.
  RegNode& full = root.AddSubkey("F");
  size_t left = kMaxKeyRecordSize - 20 - 1 - 4 * (12 + 1);
  for (int i = 0; i < 4; ++i) {
    size_t size = i < 3 ? 16300 : left - 3 * 16300;
    full.SetValue(std::string(1, static_cast<char>('a' + i)), kRegBinary,
                  std::vector<uint8_t>(size, static_cast<uint8_t>(i)));
  }
  std::vector<uint8_t> file = EncodeRegistryFile(root, "f");
  EXPECT_EQ(BlockCount(file), 2);
  EXPECT_TRUE(SameTree(*DecodeRegistryFile(file, "f"), root));
}

class CregFileTest : public ::testing::Test {
 protected:
  TempMachineDir temp_;
  const std::filesystem::path& dir_ = temp_.Path();
};

TEST_F(CregFileTest, WritesAndReadsAFile) {
  auto tree = ReferenceTree();
  WriteRegistryFile(dir_ / "USER.DAT", *tree);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "USER.DAT"), 0x3020u);
  EXPECT_TRUE(SameTree(*ReadRegistryFile(dir_ / "USER.DAT"), *tree));
}

TEST_F(CregFileTest, ErrorsNameTheFile) {
  std::filesystem::path missing = dir_ / "SYSTEM.DAT";
  EXPECT_THROW(
      {
        try {
          ReadRegistryFile(missing);
        } catch (const RegistryFileError& e) {
          EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos);
          throw;
        }
      },
      RegistryFileError);
  EXPECT_THROW(ReadRegistryFile(dir_), RegistryFileError);
  std::filesystem::path huge = dir_ / "huge.dat";
  { std::ofstream{huge}; }
  std::filesystem::resize_file(huge, uint64_t{4} << 30);  // sparse: no disk space used
  EXPECT_THROW(ReadRegistryFile(huge), RegistryFileError);
  EXPECT_THROW(WriteRegistryFile(dir_ / "no such dir" / "USER.DAT", *ReferenceTree()),
               RegistryFileError);
}

}  // namespace
}  // namespace tarnwick::test
