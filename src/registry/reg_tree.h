// An in-memory registry key tree: what a Windows 95 registry file holds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegLink = 6,
  kRegMultiSz = 7,
};

struct RegValue {
  std::string name;  // empty for the unnamed (default) value
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // kept byte for byte
};

struct RegNode {
  std::string name;  // stored case; empty for the root
  // The name hash stored in the file this key was read from; new keys have none.
  std::optional<uint32_t> storedHash;
  std::vector<RegValue> values;                   // creation order
  std::vector<std::unique_ptr<RegNode>> subkeys;  // creation order

  // Look-ups compare names case-insensitively (ASCII letters).
  RegNode* FindSubkey(std::string_view subkeyName) const;
  RegValue* FindValue(std::string_view valueName);
  const RegValue* FindValue(std::string_view valueName) const;
  // Returns the existing subkey or appends a new one with the given case.
  RegNode& AddSubkey(std::string_view subkeyName);
  bool RemoveSubkey(std::string_view subkeyName);
  // Replaces the value's type and data, or appends a new value.
  void SetValue(std::string_view valueName, uint32_t type, std::vector<uint8_t> data);
  bool RemoveValue(std::string_view valueName);

  std::unique_ptr<RegNode> Clone() const;
  size_t KeyCount() const;  // this key and all below it
};

// Equal names, values (order, type, data) and subkeys, recursively; hashes ignored.
bool SameTree(const RegNode& a, const RegNode& b);

}  // namespace tarnwick
