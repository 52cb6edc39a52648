// An in-memory registry key tree: what a Windows 95 registry file holds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
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

struct RegNode;

// A key's subkeys in creation order. Lists of more than a few keys are indexed by name (ASCII
// letters folded) for look-ups in constant time; Append and Remove keep the index in step. A
// listed key's name must not change.
class SubkeyList {
 public:
  using Keys = std::vector<std::unique_ptr<RegNode>>;

  Keys::const_iterator begin() const { return keys_.begin(); }
  Keys::const_iterator end() const { return keys_.end(); }
  Keys::const_reverse_iterator rbegin() const { return keys_.rbegin(); }
  Keys::const_reverse_iterator rend() const { return keys_.rend(); }
  size_t size() const { return keys_.size(); }
  bool empty() const { return keys_.empty(); }
  const std::unique_ptr<RegNode>& operator[](size_t i) const { return keys_[i]; }
  const std::unique_ptr<RegNode>& back() const { return keys_.back(); }

  // The first listed key of that name, or null.
  RegNode* Find(std::string_view name) const;
  // Appends even when the name is listed already (a file may hold such keys); Find keeps giving
  // the earlier one.
  RegNode& Append(std::unique_ptr<RegNode> key);
  // Removes the first listed key of that name.
  bool Remove(std::string_view name);
  // Empties the list, handing over its keys.
  Keys TakeAll();

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const;
    size_t operator()(const RegNode* key) const;
  };
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, const RegNode* b) const;
    bool operator()(const RegNode* a, std::string_view b) const;
    bool operator()(const RegNode* a, const RegNode* b) const;
  };

  // Shorter lists are searched in order: most keys have few subkeys, and no index saves memory.
  static constexpr size_t kIndexFrom = 16;

  Keys::const_iterator FindInOrder(Keys::const_iterator from, std::string_view name) const;

  Keys keys_;
  // Built by the first look-up in a list of kIndexFrom keys or more, so that reading a file, which
  // only appends, builds none; kept in step from then on.
  mutable std::unordered_set<RegNode*, NameHash, NameEqual> index_;
};

struct RegNode {
  RegNode() = default;
  // Frees the subtree without recursion: a file may nest keys deeper than the stack allows.
  ~RegNode();
  RegNode(RegNode&&) = default;
  RegNode& operator=(RegNode&&) = default;

  std::string name;  // stored case; empty for the root
  // The name hash stored in the file this key was read from; new keys have none.
  std::optional<uint32_t> storedHash;
  std::vector<RegValue> values;  // creation order
  SubkeyList subkeys;

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

// Equal names, values (order, type, data) and subkeys, all the way down; hashes ignored.
bool SameTree(const RegNode& a, const RegNode& b);

}  // namespace tarnwick
