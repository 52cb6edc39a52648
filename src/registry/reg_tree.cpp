#include "registry/reg_tree.h"

#include <algorithm>

#include "machine/win_path.h"

namespace tarnwick {

RegNode* RegNode::FindSubkey(std::string_view subkeyName) const {
  for (const auto& subkey : subkeys) {
    if (EqualsIgnoreCase(subkey->name, subkeyName)) return subkey.get();
  }
  return nullptr;
}

RegValue* RegNode::FindValue(std::string_view valueName) {
  for (auto& value : values) {
    if (EqualsIgnoreCase(value.name, valueName)) return &value;
  }
  return nullptr;
}

const RegValue* RegNode::FindValue(std::string_view valueName) const {
  return const_cast<RegNode*>(this)->FindValue(valueName);
}

RegNode& RegNode::AddSubkey(std::string_view subkeyName) {
  if (RegNode* existing = FindSubkey(subkeyName)) return *existing;
  auto node = std::make_unique<RegNode>();
  node->name = std::string(subkeyName);
  subkeys.push_back(std::move(node));
  return *subkeys.back();
}

bool RegNode::RemoveSubkey(std::string_view subkeyName) {
  auto it = std::find_if(subkeys.begin(), subkeys.end(), [&](const auto& subkey) {
    return EqualsIgnoreCase(subkey->name, subkeyName);
  });
  if (it == subkeys.end()) return false;
  subkeys.erase(it);
  return true;
}

void RegNode::SetValue(std::string_view valueName, uint32_t type, std::vector<uint8_t> data) {
  if (RegValue* existing = FindValue(valueName)) {
    existing->type = type;
    existing->data = std::move(data);
    return;
  }
  values.push_back({std::string(valueName), type, std::move(data)});
}

bool RegNode::RemoveValue(std::string_view valueName) {
  auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& value) {
    return EqualsIgnoreCase(value.name, valueName);
  });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

std::unique_ptr<RegNode> RegNode::Clone() const {
  auto copy = std::make_unique<RegNode>();
  copy->name = name;
  copy->storedHash = storedHash;
  copy->values = values;
  copy->subkeys.reserve(subkeys.size());
  for (const auto& subkey : subkeys) copy->subkeys.push_back(subkey->Clone());
  return copy;
}

size_t RegNode::KeyCount() const {
  size_t count = 1;
  for (const auto& subkey : subkeys) count += subkey->KeyCount();
  return count;
}

bool SameTree(const RegNode& a, const RegNode& b) {
  if (a.name != b.name || a.values.size() != b.values.size() ||
      a.subkeys.size() != b.subkeys.size()) {
    return false;
  }
  for (size_t i = 0; i < a.values.size(); ++i) {
    const RegValue& x = a.values[i];
    const RegValue& y = b.values[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
  }
  for (size_t i = 0; i < a.subkeys.size(); ++i) {
    if (!SameTree(*a.subkeys[i], *b.subkeys[i])) return false;
  }
  return true;
}

}  // namespace tarnwick
