#include "registry/reg_tree.h"

#include <algorithm>
#include <utility>

#include "base/text.h"

namespace tarnwick {

// ---- SubkeyList ----

size_t SubkeyList::NameHash::operator()(std::string_view name) const {
  size_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : name) {
    hash ^= static_cast<uint8_t>(UpperAscii(c));
    hash *= 1099511628211ull;
  }
  return hash;
}

size_t SubkeyList::NameHash::operator()(const RegNode* key) const {
  return (*this)(key->name);
}

bool SubkeyList::NameEqual::operator()(std::string_view a, const RegNode* b) const {
  return EqualsIgnoreCase(a, b->name);
}

bool SubkeyList::NameEqual::operator()(const RegNode* a, std::string_view b) const {
  return EqualsIgnoreCase(a->name, b);
}

bool SubkeyList::NameEqual::operator()(const RegNode* a, const RegNode* b) const {
  return EqualsIgnoreCase(a->name, b->name);
}

SubkeyList::Keys::const_iterator SubkeyList::FindInOrder(Keys::const_iterator from,
                                                         std::string_view name) const {
  return std::find_if(from, keys_.end(),
                      [&](const auto& key) { return EqualsIgnoreCase(key->name, name); });
}

RegNode* SubkeyList::Find(std::string_view name) const {
  if (index_.empty() && keys_.size() < kIndexFrom) {
    auto found = FindInOrder(keys_.begin(), name);
    return found == keys_.end() ? nullptr : found->get();
  }
  if (index_.empty()) {
    for (const auto& listed : keys_) index_.insert(listed.get());
  }
  auto found = index_.find(name);
  return found == index_.end() ? nullptr : *found;
}

RegNode& SubkeyList::Append(std::unique_ptr<RegNode> key) {
  RegNode& added = *keys_.emplace_back(std::move(key));
  if (!index_.empty()) index_.insert(&added);
  return added;
}

bool SubkeyList::Remove(std::string_view name) {
  RegNode* removed = Find(name);
  if (!removed) return false;
  auto at = std::find_if(keys_.begin(), keys_.end(),
                         [&](const auto& key) { return key.get() == removed; });
  // Kept until the end: name may view the removed key's own name.
  std::unique_ptr<RegNode> doomed = std::move(*at);
  at = keys_.erase(at);
  if (!index_.empty()) {
    index_.erase(removed);
    // A later key of the same name becomes the one found.
    auto next = FindInOrder(at, name);
    if (next != keys_.end()) index_.insert(next->get());
  }
  return true;
}

SubkeyList::Keys SubkeyList::TakeAll() {
  index_.clear();
  return std::exchange(keys_, {});
}

// ---- RegNode ----

RegNode::~RegNode() {
  SubkeyList::Keys doomed = subkeys.TakeAll();
  while (!doomed.empty()) {
    std::unique_ptr<RegNode> key = std::move(doomed.back());
    doomed.pop_back();
    for (auto& subkey : key->subkeys.TakeAll()) doomed.push_back(std::move(subkey));
  }
}

RegNode* RegNode::FindSubkey(std::string_view subkeyName) const {
  return subkeys.Find(subkeyName);
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
  return subkeys.Append(std::move(node));
}

bool RegNode::RemoveSubkey(std::string_view subkeyName) {
  return subkeys.Remove(subkeyName);
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

namespace {

// The key without its subkeys.
std::unique_ptr<RegNode> CopyOfKey(const RegNode& key) {
  auto copy = std::make_unique<RegNode>();
  copy->name = key.name;
  copy->storedHash = key.storedHash;
  copy->values = key.values;
  return copy;
}

}  // namespace

// Every walk below keeps its own stack instead of recursing, for the same reason as ~RegNode.

std::unique_ptr<RegNode> RegNode::Clone() const {
  std::unique_ptr<RegNode> root = CopyOfKey(*this);
  std::vector<std::pair<const RegNode*, RegNode*>> pending{{this, root.get()}};
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    for (const auto& subkey : from->subkeys) {
      pending.emplace_back(subkey.get(), &to->subkeys.Append(CopyOfKey(*subkey)));
    }
  }
  return root;
}

size_t RegNode::KeyCount() const {
  size_t count = 0;
  std::vector<const RegNode*> pending{this};
  while (!pending.empty()) {
    const RegNode* key = pending.back();
    pending.pop_back();
    ++count;
    for (const auto& subkey : key->subkeys) pending.push_back(subkey.get());
  }
  return count;
}

bool SameTree(const RegNode& a, const RegNode& b) {
  std::vector<std::pair<const RegNode*, const RegNode*>> pending{{&a, &b}};
  while (!pending.empty()) {
    auto [x, y] = pending.back();
    pending.pop_back();
    if (x->name != y->name || x->values.size() != y->values.size() ||
        x->subkeys.size() != y->subkeys.size()) {
      return false;
    }
    for (size_t i = 0; i < x->values.size(); ++i) {
      const RegValue& u = x->values[i];
      const RegValue& v = y->values[i];
      if (u.name != v.name || u.type != v.type || u.data != v.data) return false;
    }
    for (size_t i = 0; i < x->subkeys.size(); ++i) {
      pending.emplace_back(x->subkeys[i].get(), y->subkeys[i].get());
    }
  }
  return true;
}

}  // namespace tarnwick
