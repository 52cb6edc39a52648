#include "policy/effective_policy.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include "base/cp1252.h"
#include "base/text.h"
#include "machine/machine.h"
#include "policy/policy_keys.h"
#include "policy/policy_settings.h"
#include "policy/policy_store.h"
#include "registry/creg_file.h"
#include "registry/regedit4.h"

namespace tarnwick {

namespace {

// Where ApplyLogon attaches the user's user.dat below HKEY_USERS while it writes.
constexpr std::string_view kLogonHiveKey = "Tarnwick Logon";

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

const RegNode* FindKey(const RegNode* root, std::string_view path) {
  const RegNode* node = root;
  while (node != nullptr && !path.empty()) {
    const size_t slash = path.find('\\');
    node = node->FindSubkey(path.substr(0, slash));
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return node;
}

// A key's values as the logon leaves them so far: the machine's current values, copied when the
// logon first touches the key.
class CurrentValues {
 public:
  explicit CurrentValues(const RegNode* base) : base_(base) {}

  std::vector<RegValue>& Of(const std::string& key) {
    auto [it, inserted] = keys_.try_emplace(UpperAscii(key));
    if (inserted) {
      if (const RegNode* node = FindKey(base_, key)) it->second = node->values;
    }
    return it->second;
  }

 private:
  const RegNode* base_;
  std::unordered_map<std::string, std::vector<RegValue>> keys_;
};

std::vector<RegValue>::iterator FindValue(std::vector<RegValue>& values, std::string_view name) {
  return std::find_if(values.begin(), values.end(),
                      [&](const RegValue& v) { return EqualsIgnoreCase(v.name, name); });
}

// Merges one entry's tree into root, as the download does.
class Merger {
 public:
  Merger(RegistryAccessor& reg, RootKey root, CurrentValues& current,
         std::vector<LogonChange>& changes)
      : reg_(reg), root_(root), current_(current), changes_(changes) {}

  void Merge(const std::string& entryKey) {
    // Pre-order, subkeys in stored order, without recursion.
    std::vector<std::string> pending{std::string()};
    while (!pending.empty()) {
      const std::string target = std::move(pending.back());
      pending.pop_back();
      if (!reg_.OpenKey(target.empty() ? entryKey : entryKey + "\\" + target, false)) continue;
      // The entry's own key stands for the root, which holds no values.
      if (!target.empty()) MergeValues(target);
      std::vector<std::string> subkeys = reg_.GetKeyNames();
      for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
        if (it->starts_with("**")) continue;  // no control code is defined for keys
        pending.push_back(target.empty() ? *it : target + "\\" + *it);
      }
    }
  }

 private:
  void MergeValues(const std::string& target) {
    std::vector<RegValue> values;
    for (const std::string& name : reg_.GetValueNames()) {
      if (std::optional<RegValue> value = reg_.ReadValue(name)) values.push_back(std::move(*value));
    }
    if (values.empty()) return;
    std::vector<RegValue>& current = current_.Of(target);
    const bool clear = std::any_of(values.begin(), values.end(), [](const RegValue& v) {
      return EqualsIgnoreCase(v.name, kDelValsCode);
    });
    if (clear) {
      for (const RegValue& value : current) Delete(target, value.name);
      current.clear();
    }
    for (RegValue& value : values) {
      if (!value.name.starts_with("**")) {
        Set(target, current, std::move(value));
      } else if (StartsWithIgnoreCase(value.name, kDelCode)) {
        const std::string name = value.name.substr(kDelCode.size());
        const auto it = FindValue(current, name);
        if (it != current.end()) current.erase(it);
        Delete(target, name);
      } else if (StartsWithIgnoreCase(value.name, kSoftCode)) {
        value.name.erase(0, kSoftCode.size());
        if (FindValue(current, value.name) == current.end()) {
          Set(target, current, std::move(value));
        }
      }
      // "**delvals." was done first; any other code is unknown and its value skipped.
    }
  }

  void Set(const std::string& target, std::vector<RegValue>& current, RegValue value) {
    const auto it = FindValue(current, value.name);
    if (it != current.end()) {
      it->type = value.type;
      it->data = value.data;
    } else {
      current.push_back(value);
    }
    changes_.push_back({LogonChange::Kind::Set, root_, target, std::move(value)});
  }

  void Delete(const std::string& target, const std::string& name) {
    changes_.push_back({LogonChange::Kind::Delete, root_, target, {name, kRegNone, {}}});
  }

  RegistryAccessor& reg_;
  RootKey root_;
  CurrentValues& current_;
  std::vector<LogonChange>& changes_;
};

std::string ProfilePathOf(PolicyStore& store, const std::string& user) {
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  if (!reg.OpenKey(std::string(kProfileListKey) + user, false)) return {};
  return reg.ReadString(kProfileImagePath);
}

std::string UserDatOf(const std::string& profile) {
  return profile + "\\user.dat";
}

// The user's current HKEY_CURRENT_USER: the profile's user.dat, or the machine's default user.
std::unique_ptr<RegNode> CurrentUserTree(PolicyStore& store, const std::string& user) {
  Registry& registry = store.GetRegistry();
  const std::string profile = ProfilePathOf(store, user);
  if (!profile.empty() && registry.FileExists(UserDatOf(profile))) {
    try {
      return ReadRegistryFile(store.GetMachine(), UserDatOf(profile));
    } catch (const Error& e) {
      throw LogonError("The user's registry file cannot be read: " + std::string(e.what()));
    }
  }
  const RegNode* defaultUser = registry.FileTree(RootKey::Users).FindSubkey(".DEFAULT");
  return defaultUser != nullptr ? defaultUser->Clone() : std::make_unique<RegNode>();
}

bool EntryExists(RegistryAccessor& reg, PolicyStore& store, const PolicyEntry& entry) {
  return reg.KeyExists(EntryKeyPath(store, entry));
}

std::string_view RootName(RootKey root) {
  return root == RootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Applies the changes to a tree (SYSTEM.DAT's).
void ApplyToTree(RegNode& root, const LogonChange& change) {
  RegNode* node = &root;
  std::string_view path = change.key;
  while (!path.empty()) {
    const size_t slash = path.find('\\');
    const std::string_view name = path.substr(0, slash);
    if (change.kind == LogonChange::Kind::Delete) {
      node = node->FindSubkey(name);
      if (node == nullptr) return;
    } else {
      node = &node->AddSubkey(name);
    }
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  if (change.kind == LogonChange::Kind::Delete) {
    node->RemoveValue(change.value.name);
  } else {
    node->SetValue(change.value.name, change.value.type, change.value.data);
  }
}

// Detaches the logon's hive however the writes end.
class AttachedUserDat {
 public:
  AttachedUserDat(Registry& registry, const std::string& userDat) : reg_(registry) {
    reg_.SetRootKey(RootKey::Users);
    if (!reg_.LoadKey(kLogonHiveKey, userDat)) {
      throw LogonError("The user's registry file " + Cp1252ToUtf8(userDat) + " cannot be attached");
    }
  }
  ~AttachedUserDat() { reg_.UnLoadKey(kLogonHiveKey); }
  AttachedUserDat(const AttachedUserDat&) = delete;
  AttachedUserDat& operator=(const AttachedUserDat&) = delete;

  RegistryAccessor& Accessor() { return reg_; }

 private:
  RegistryAccessor reg_;
};

// A name of the logon is one key name: with a "\" it would name a key inside another entry.
void CheckLogonName(std::string_view name, std::string_view what) {
  if (name.find('\\') != std::string_view::npos ||
      FindControlCharacter(name) != std::string_view::npos) {
    throw LogonError(std::string(what) +
                     " cannot hold \"\\\" or a control character: " + Cp1252ToUtf8(name));
  }
}

}  // namespace

EffectivePolicy EffectivePolicyOf(PolicyStore& store, const LogonRequest& request) {
  if (request.user.empty()) throw LogonError("A logon needs a user name");
  if (EqualsIgnoreCase(request.user, kDefaultEntryName)) {
    throw LogonError(".default is Default User's entry, not a user who logs on");
  }
  CheckLogonName(request.user, "A user name");
  CheckLogonName(request.computer, "A computer name");
  for (const std::string& group : request.groups) CheckLogonName(group, "A group name");
  EffectivePolicy effective;
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);

  // The computer's entry, else Default Computer.
  PolicyEntry computer{PolicyEntry::Kind::Computer, std::string(kDefaultEntryName)};
  if (!request.computer.empty() &&
      EntryExists(reg, store, {PolicyEntry::Kind::Computer, request.computer})) {
    computer.name = request.computer;
  }
  CurrentValues machine(&store.GetRegistry().FileTree(RootKey::LocalMachine));
  if (EntryExists(reg, store, computer)) {
    effective.applied.push_back(computer);
    Merger(reg, RootKey::LocalMachine, machine, effective.changes)
        .Merge(EntryKeyPath(store, computer));
  }

  // The user's own entry replaces groups and Default User; groups replace Default User.
  std::vector<PolicyEntry> userEntries;
  const PolicyEntry own{PolicyEntry::Kind::User, request.user};
  if (EntryExists(reg, store, own)) {
    userEntries.push_back(own);
  } else {
    const std::vector<std::string> highestFirst = Groups(store);
    for (auto it = highestFirst.rbegin(); it != highestFirst.rend(); ++it) {
      const bool member =
          std::any_of(request.groups.begin(), request.groups.end(),
                      [&](const std::string& group) { return EqualsIgnoreCase(group, *it); });
      const PolicyEntry group{PolicyEntry::Kind::Group, *it};
      if (member && EntryExists(reg, store, group)) userEntries.push_back(group);
    }
    const PolicyEntry defaultUser{PolicyEntry::Kind::User, std::string(kDefaultEntryName)};
    if (userEntries.empty() && EntryExists(reg, store, defaultUser)) {
      userEntries.push_back(defaultUser);
    }
  }
  if (!userEntries.empty()) {
    const std::unique_ptr<RegNode> userTree = CurrentUserTree(store, request.user);
    CurrentValues user(userTree.get());
    for (const PolicyEntry& entry : userEntries) {
      effective.applied.push_back(entry);
      Merger(reg, RootKey::CurrentUser, user, effective.changes).Merge(EntryKeyPath(store, entry));
    }
  }
  return effective;
}

void WriteEffectiveRegedit4(const EffectivePolicy& effective, std::ostream& out) {
  for (const LogonChange& change : effective.changes) {
    if (HasLineBreakOrZero(change.key) || HasLineBreakOrZero(change.value.name)) {
      throw Regedit4Error(0, "a key or value name of the logon holds a line break or zero: " +
                                 Cp1252ToUtf8(change.key));
    }
  }
  std::string text = "REGEDIT4\r\n";
  const LogonChange* previous = nullptr;
  for (const LogonChange& change : effective.changes) {
    if (previous == nullptr || previous->root != change.root ||
        !EqualsIgnoreCase(previous->key, change.key)) {
      text += "\r\n[";
      text += RootName(change.root);
      text += "\\" + change.key + "]\r\n";
    }
    text += change.kind == LogonChange::Kind::Set ? Regedit4ValueLine(change.value)
                                                  : Regedit4DeletionLine(change.value.name);
    previous = &change;
  }
  if (previous != nullptr) text += "\r\n";
  out << text;
}

EffectivePolicy ApplyLogon(PolicyStore& store, const LogonRequest& request) {
  Registry& registry = store.GetRegistry();
  const std::string profile = ProfilePathOf(store, request.user);
  if (profile.empty() || !registry.FileExists(UserDatOf(profile))) {
    throw LogonError("The user " + Cp1252ToUtf8(request.user) +
                     " has no profile with a user.dat to apply the logon to");
  }
  EffectivePolicy effective = EffectivePolicyOf(store, request);
  for (const LogonChange& change : effective.changes) {
    const std::string_view top = std::string_view(change.key).substr(0, change.key.find('\\'));
    if (change.root == RootKey::LocalMachine && EqualsIgnoreCase(top, store.HiveKeyName())) {
      throw LogonError("The computer's entry writes below " + Cp1252ToUtf8(store.HiveKeyName()) +
                       ", the policy file's own key; nothing was applied");
    }
  }

  RegistryWriteBatch batch(registry);
  {
    AttachedUserDat userDat(registry, UserDatOf(profile));
    RegistryAccessor& reg = userDat.Accessor();
    for (const LogonChange& change : effective.changes) {
      if (change.root != RootKey::CurrentUser) continue;
      const std::string key = std::string(kLogonHiveKey) + "\\" + change.key;
      if (change.kind == LogonChange::Kind::Set) {
        reg.OpenKey(key, true);
        reg.WriteValue(change.value.name, change.value.type, change.value.data);
      } else if (reg.OpenKey(key, false)) {
        reg.DeleteValue(change.value.name);
      }
    }
    reg.CloseKey();
  }
  registry.ChangeFileTrees([&](RegNode& system, RegNode&) {
    for (const LogonChange& change : effective.changes) {
      if (change.root == RootKey::LocalMachine) ApplyToTree(system, change);
    }
  });
  batch.Finish();
  return effective;
}

}  // namespace tarnwick
