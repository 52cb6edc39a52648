// Key trees for the registry file tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_tree.h"

namespace tarnwick::test {

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// One value of every kind the tests care about, chosen by n; names are unique per n.
inline void AddSampleValue(RegNode& key, size_t n, std::mt19937& random) {
  std::string suffix = std::to_string(n);
  switch (n % 10) {
    case 0:
      key.SetValue("Text" + suffix, kRegSz, Bytes("plain text " + suffix));
      break;
    case 1:
      key.SetValue("Caf\xE9 \x80uro " + suffix, kRegSz, Bytes(std::string("\xC4rger\0", 6)));
      break;
    case 2:
      key.SetValue("Path" + suffix, kRegExpandSz, Bytes(std::string("%windir%\\x\0", 11)));
      break;
    case 3: {
      std::vector<uint8_t> data(random() % 300);
      for (uint8_t& b : data) b = static_cast<uint8_t>(random());
      key.SetValue("Blob" + suffix, kRegBinary, data);
      break;
    }
    case 4: {
      uint32_t v = static_cast<uint32_t>(random());
      key.SetValue("Number" + suffix, kRegDword,
                   {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
      break;
    }
    case 5:
      key.SetValue("List" + suffix, kRegMultiSz, Bytes(std::string("one\0two\0\0", 9)));
      break;
    case 6:
      key.SetValue("Odd \"quoted\\name\" " + suffix, 0x80000005, {1, 2, 3});
      break;
    case 7:
      key.SetValue("Nothing" + suffix, kRegNone, {});
      break;
    case 8:
      key.SetValue("Big" + suffix, kRegDwordBigEndian, {0x12, 0x34, 0x56, 0x78});
      break;
    default:
      key.SetValue("Empty" + suffix, kRegBinary, {});
      break;
  }
}

// A tree with nesting 4 and more levels deep, 3,000 siblings in shuffled order, empty keys,
// unnamed values, names with bytes of 128 and above and every value type: at least 5,000 keys
// below the root and 20,000 values, so that the records need many data blocks.
inline std::unique_ptr<RegNode> LargeTree() {
  std::mt19937 random(1995);
  auto root = std::make_unique<RegNode>();
  size_t valueNumber = 0;
  RegNode& software = root->AddSubkey("Software");
  software.SetValue("", kRegSz, Bytes("Tarnwick"));
  RegNode& deep = software.AddSubkey("Tarnwick").AddSubkey("Deeper").AddSubkey("Deepest");
  deep.AddSubkey("Leaf \xC4\xD6\xDC").SetValue("", kRegBinary, {0});

  RegNode& siblings = root->AddSubkey("Siblings");
  std::vector<int> order(3000);
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::shuffle(order.begin(), order.end(), random);
  for (int i : order) {
    std::string name = (i % 7 == 0 ? "Schl\xFCssel " : "Key ") + std::to_string(i);
    RegNode& key = siblings.AddSubkey(name);
    if (i % 11 == 0) continue;  // an empty key
    if (i % 5 == 0) key.SetValue("", kRegSz, Bytes("default " + std::to_string(i)));
    for (int v = 0; v < 5; ++v) AddSampleValue(key, valueNumber++, random);
  }

  RegNode& nest = root->AddSubkey("Nest");
  for (int a = 0; a < 10; ++a) {
    RegNode& first = nest.AddSubkey("A" + std::to_string(a));
    for (int b = 0; b < 10; ++b) {
      RegNode& second = first.AddSubkey("B\xE9" + std::to_string(b));
      for (int c = 0; c < 20; ++c) {
        RegNode& third = second.AddSubkey("C" + std::to_string(c));
        for (int v = 0; v < 3; ++v) AddSampleValue(third, valueNumber++, random);
      }
    }
  }
  return root;
}

inline size_t ValueCount(const RegNode& node) {
  size_t count = node.values.size();
  for (const auto& subkey : node.subkeys) count += ValueCount(*subkey);
  return count;
}

// A chain of `depth` keys below the root, one inside the other, the deepest holding a value.
inline std::unique_ptr<RegNode> DeepTree(size_t depth) {
  auto root = std::make_unique<RegNode>();
  RegNode* key = root.get();
  for (size_t i = 0; i < depth; ++i) key = &key->AddSubkey("D");
  key->SetValue("", kRegSz, Bytes("bottom"));
  return root;
}

// The small tree whose encoding the format notes give byte for byte.
inline std::unique_ptr<RegNode> ReferenceTree() {
  auto root = std::make_unique<RegNode>();
  RegNode& software = root->AddSubkey("Software");
  software.SetValue("", kRegSz, Bytes("Demo"));
  software.SetValue("NoRun", kRegDword, {1, 0, 0, 0});
  software.AddSubkey("Empty");
  return root;
}

}  // namespace tarnwick::test
