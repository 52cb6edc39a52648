#include "policy/policy_entries.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "base/cp1252.h"
#include "base/text.h"
#include "policy/policy_store.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kUsersKey = "Users";
constexpr std::string_view kComputersKey = "Computers";
constexpr std::string_view kGroupsKey = "UserGroups";
constexpr std::string_view kPriorityKey = "GroupData\\UserGroups\\Priority";

// Key names are at most 255 bytes in a Windows 95 registry file.
constexpr size_t kMaxEntryName = 255;

std::string_view KindWord(PolicyEntry::Kind kind) {
  switch (kind) {
    case PolicyEntry::Kind::User:
      return "user";
    case PolicyEntry::Kind::Computer:
      return "computer";
    case PolicyEntry::Kind::Group:
      return "group";
  }
  return {};
}

std::string_view KindKey(PolicyEntry::Kind kind) {
  switch (kind) {
    case PolicyEntry::Kind::User:
      return kUsersKey;
    case PolicyEntry::Kind::Computer:
      return kComputersKey;
    case PolicyEntry::Kind::Group:
      return kGroupsKey;
  }
  return {};
}

std::string Quoted(std::string_view name) {
  return "\"" + Cp1252ToUtf8(name) + "\"";
}

// One key name: not empty, no "\", no control character, within the registry's limit.
void CheckEntryName(std::string_view name, std::string_view what) {
  if (name.empty()) throw PolicyEntryError(std::string(what) + " needs a name");
  if (FindControlCharacter(name) != std::string_view::npos) {
    throw PolicyEntryError(std::string(what) + " name cannot hold a control character");
  }
  if (name.find('\\') != std::string_view::npos) {
    throw PolicyEntryError(std::string(what) + " name cannot hold \"\\\": " + Quoted(name));
  }
  if (name.size() > kMaxEntryName) {
    throw PolicyEntryError(std::string(what) + " name is longer than " +
                           std::to_string(kMaxEntryName) + " characters");
  }
}

std::string SectionPath(const PolicyStore& store, std::string_view section) {
  return store.HiveKeyName() + "\\" + std::string(section);
}

// The priority list's values "1", "2", ... in number order; other values are not part of it.
std::map<unsigned, std::string> ReadPriority(PolicyStore& store) {
  std::map<unsigned, std::string> list;
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  if (!reg.OpenKey(SectionPath(store, kPriorityKey), false)) return list;
  for (const std::string& valueName : reg.GetValueNames()) {
    unsigned number = 0;
    const char* end = valueName.data() + valueName.size();
    const auto [ptr, ec] = std::from_chars(valueName.data(), end, number);
    if (ec != std::errc() || ptr != end || number == 0 || valueName.front() == '0') continue;
    const std::optional<RegValue> value = reg.ReadValue(valueName);
    if (!value || (value->type != kRegSz && value->type != kRegExpandSz)) continue;
    std::string name = reg.ReadString(valueName);
    if (!name.empty()) list.emplace(number, std::move(name));
  }
  return list;
}

// Replaces the numbered values with names, "1" the first; other values of the key stay.
void WritePriority(PolicyStore& store, const std::vector<std::string>& highestFirst) {
  const std::map<unsigned, std::string> old = ReadPriority(store);
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(SectionPath(store, kPriorityKey), true);
  for (const auto& [number, name] : old) reg.DeleteValue(std::to_string(number));
  for (size_t i = 0; i < highestFirst.size(); ++i) {
    reg.WriteString(std::to_string(i + 1), highestFirst[i]);
  }
}

std::vector<std::string> SubkeyNames(PolicyStore& store, std::string_view section) {
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  if (!reg.OpenKey(SectionPath(store, section), false)) return {};
  return reg.GetKeyNames();
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return EqualsIgnoreCase(n, name); });
}

}  // namespace

PolicyEntry ParseEntry(std::string_view text) {
  const size_t colon = text.find(':');
  const std::string_view word = text.substr(0, colon);
  PolicyEntry entry;
  if (colon == std::string_view::npos) {
    throw PolicyEntryError("An entry is user:NAME, computer:NAME or group:NAME, not " +
                           Quoted(text));
  } else if (word == "user") {
    entry.kind = PolicyEntry::Kind::User;
  } else if (word == "computer") {
    entry.kind = PolicyEntry::Kind::Computer;
  } else if (word == "group") {
    entry.kind = PolicyEntry::Kind::Group;
  } else {
    throw PolicyEntryError("An entry is user:NAME, computer:NAME or group:NAME, not " +
                           Quoted(text));
  }
  entry.name = std::string(text.substr(colon + 1));
  if (entry.kind == PolicyEntry::Kind::Group) {
    CheckEntryName(entry.name, "A group");
    if (EqualsIgnoreCase(entry.name, kDefaultEntryName)) {
      throw PolicyEntryError("There is no default group: .default is a user or a computer");
    }
  } else {
    CheckEntryName(entry.name, entry.kind == PolicyEntry::Kind::User ? "A user" : "A computer");
  }
  return entry;
}

std::string EntryText(const PolicyEntry& entry) {
  return std::string(KindWord(entry.kind)) + ":" + entry.name;
}

std::string EntryKeyPath(const PolicyStore& store, const PolicyEntry& entry) {
  return SectionPath(store, KindKey(entry.kind)) + "\\" + entry.name;
}

std::vector<std::string> Groups(PolicyStore& store) {
  std::vector<std::string> names;
  for (auto& [number, name] : ReadPriority(store)) {
    if (!Contains(names, name)) names.push_back(std::move(name));
  }
  return names;
}

void AddGroup(PolicyStore& store, std::string_view name) {
  CheckEntryName(name, "A group");
  if (EqualsIgnoreCase(name, kDefaultEntryName)) {
    throw PolicyEntryError("A group cannot be named .default");
  }
  std::vector<std::string> groups = Groups(store);
  if (Contains(groups, name) || Contains(SubkeyNames(store, kGroupsKey), name)) {
    throw PolicyEntryError("There is already a group " + Quoted(name));
  }
  groups.emplace_back(name);
  RegistryWriteBatch batch(store.GetRegistry());
  {
    RegistryAccessor reg(store.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.CreateKey(EntryKeyPath(store, {PolicyEntry::Kind::Group, std::string(name)}));
  }
  WritePriority(store, groups);
  batch.Finish();
}

void RemoveGroup(PolicyStore& store, std::string_view name) {
  CheckEntryName(name, "A group");
  std::vector<std::string> groups = Groups(store);
  const bool listed = Contains(groups, name);
  const bool hasKey = Contains(SubkeyNames(store, kGroupsKey), name);
  if (!listed && !hasKey) throw PolicyEntryError("There is no group " + Quoted(name));
  std::erase_if(groups, [&](const std::string& n) { return EqualsIgnoreCase(n, name); });
  RegistryWriteBatch batch(store.GetRegistry());
  if (hasKey) {
    RegistryAccessor reg(store.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.DeleteKey(EntryKeyPath(store, {PolicyEntry::Kind::Group, std::string(name)}));
  }
  if (listed) WritePriority(store, groups);
  batch.Finish();
}

void SetGroupPriority(PolicyStore& store, const std::vector<std::string>& highestFirst) {
  const std::vector<std::string> groups = Groups(store);
  const std::vector<std::string> keys = SubkeyNames(store, kGroupsKey);
  for (size_t i = 0; i < highestFirst.size(); ++i) {
    const std::string& name = highestFirst[i];
    if (!Contains(groups, name) && !Contains(keys, name)) {
      throw PolicyEntryError("There is no group " + Quoted(name));
    }
    for (size_t j = 0; j < i; ++j) {
      if (EqualsIgnoreCase(highestFirst[j], name)) {
        throw PolicyEntryError("The group " + Quoted(name) + " is named twice");
      }
    }
  }
  for (const std::string& name : groups) {
    if (!Contains(highestFirst, name)) {
      throw PolicyEntryError("The priority list must name every group; " + Quoted(name) +
                             " is missing");
    }
  }
  // A group with a key but no place in the list is never applied; naming it gives it a place.
  std::vector<std::string> stored;
  for (const std::string& name : highestFirst) {
    const auto it = std::find_if(groups.begin(), groups.end(),
                                 [&](const std::string& n) { return EqualsIgnoreCase(n, name); });
    const auto key = std::find_if(keys.begin(), keys.end(),
                                  [&](const std::string& n) { return EqualsIgnoreCase(n, name); });
    stored.push_back(it != groups.end() ? *it : *key);
  }
  RegistryWriteBatch batch(store.GetRegistry());
  WritePriority(store, stored);
  batch.Finish();
}

std::vector<std::string> GroupsOutsidePriority(PolicyStore& store) {
  const std::vector<std::string> groups = Groups(store);
  std::vector<std::string> outside;
  for (std::string& name : SubkeyNames(store, kGroupsKey)) {
    if (!Contains(groups, name)) outside.push_back(std::move(name));
  }
  return outside;
}

std::vector<std::string> Computers(PolicyStore& store) {
  std::vector<std::string> names = SubkeyNames(store, kComputersKey);
  std::erase_if(names, [](const std::string& n) { return EqualsIgnoreCase(n, kDefaultEntryName); });
  return names;
}

void AddComputer(PolicyStore& store, std::string_view name) {
  CheckEntryName(name, "A computer");
  if (EqualsIgnoreCase(name, kDefaultEntryName)) {
    throw PolicyEntryError("Default Computer (.default) is always there and cannot be added");
  }
  if (Contains(SubkeyNames(store, kComputersKey), name)) {
    throw PolicyEntryError("There is already a computer " + Quoted(name));
  }
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.CreateKey(EntryKeyPath(store, {PolicyEntry::Kind::Computer, std::string(name)}));
}

void RemoveComputer(PolicyStore& store, std::string_view name) {
  CheckEntryName(name, "A computer");
  if (EqualsIgnoreCase(name, kDefaultEntryName)) {
    throw PolicyEntryError("Default Computer (.default) cannot be removed");
  }
  if (!Contains(SubkeyNames(store, kComputersKey), name)) {
    throw PolicyEntryError("There is no computer " + Quoted(name));
  }
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.DeleteKey(EntryKeyPath(store, {PolicyEntry::Kind::Computer, std::string(name)}));
}

}  // namespace tarnwick
