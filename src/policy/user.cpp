#include "policy/user.h"

#include <algorithm>
#include <array>

#include "base/cp1252.h"
#include "base/error.h"
#include "machine/win_path.h"
#include "policy/policy_keys.h"
#include "policy/policy_store.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr std::string_view kRestrictRun =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\RestrictRun";

struct FolderValue {
  std::string_view name;
  bool deleteWhenEmpty;
};

// Indexed by FolderKind.
constexpr std::array<FolderValue, 5> kFolderValues = {{
    {"Programs", false},
    {"Start Menu", true},
    {"Desktop", false},
    {"Favorites", false},
    {"Recent", true},
}};

// The allowed-program list is probed up to this number; past it the number is taken regardless.
constexpr int kMaxAppNumber = 1000;

// An accessor on HKEY_LOCAL_MACHINE with the key opened with creation (without, when the store
// only reads); the open's outcome is not tested: a getter then finds nothing and a setter's write
// fails with the store's error.
class OpenedKey {
 public:
  OpenedKey(const PolicyStore& store, const std::string& path) : reg_(store.GetRegistry()) {
    reg_.SetRootKey(RootKey::LocalMachine);
    reg_.OpenKey(path, !store.PolicyReadOnly());
  }
  RegistryAccessor* operator->() { return &reg_; }

 private:
  RegistryAccessor reg_;
};

// Blanks and control characters at either end.
bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// Allowed programs are matched by their bare file name: an empty or blank entry matches nothing
// and its number counts as free, and a path never matches.
void CheckAllowedAppName(std::string_view app) {
  CheckNoControlCharacters(app, "The name of an allowed program");
  if (IsBlank(app)) throw Error("An allowed program needs a file name such as calc.exe");
  if (app.find_first_of("\\/:") != std::string_view::npos) {
    throw Error("An allowed program is a file name such as calc.exe, not a path: " +
                Cp1252ToUtf8(app));
  }
}

}  // namespace

std::string TUser::KeyPath(std::string_view relativeKey) const {
  std::string path = store_.UsersKeyPath() + "\\" + name_ + "\\";
  path += relativeKey;
  return path;
}

std::string TUser::ReadText(std::string_view relativeKey, std::string_view valueName) const {
  OpenedKey key(store_, KeyPath(relativeKey));
  return key->ReadString(valueName);
}

void TUser::WriteText(std::string_view relativeKey, std::string_view valueName, std::string_view v,
                      bool deleteWhenEmpty) {
  CheckNoControlCharacters(v, "'" + Cp1252ToUtf8(valueName) + "'");
  OpenedKey key(store_, KeyPath(relativeKey));
  if (v.empty() && deleteWhenEmpty) {
    key->DeleteValue(valueName);
  } else {
    key->WriteString(valueName, v);
  }
}

int32_t TUser::Restriction(RestrictionId id) const {
  const RestrictionInfo& restriction = GetRestriction(id);
  OpenedKey key(store_, KeyPath(restriction.key));
  return key->ReadInteger(restriction.valueNames.front());
}

void TUser::SetRestriction(RestrictionId id, int32_t v) {
  if (v != 0 && v != 1) return;
  const RestrictionInfo& restriction = GetRestriction(id);
  {
    OpenedKey key(store_, KeyPath(restriction.key));
    for (std::string_view valueName : restriction.valueNames) key->WriteInteger(valueName, v);
  }
  for (RestrictionId next : restriction.cascade) SetRestriction(next, v);
}

int32_t TUser::NoDrives() const {
  OpenedKey key(store_, KeyPath(kExplorerKey));
  return key->ReadInteger("NoDrives");
}

void TUser::SetNoDrives(int32_t v) {
  if (v < 0) return;
  OpenedKey key(store_, KeyPath(kExplorerKey));
  key->WriteInteger("NoDrives", v);
}

std::string TUser::Folder(FolderKind kind) const {
  return ReadText(kShellFolders, kFolderValues[static_cast<size_t>(kind)].name);
}
void TUser::SetFolder(FolderKind kind, std::string_view v) {
  const FolderValue& value = kFolderValues[static_cast<size_t>(kind)];
  WriteText(kShellFolders, value.name, v, value.deleteWhenEmpty);
}
std::string TUser::UserIcon() const {
  return ReadText(kPreferencesKey, "UserIcon");
}
void TUser::SetUserIcon(std::string_view v) {
  WriteText(kPreferencesKey, "UserIcon", v, false);
}

std::string TUser::ProfilePath() const {
  OpenedKey key(store_, std::string(kProfileListKey) + name_);
  return key->ReadString(kProfileImagePath);
}

void TUser::AddAllowedApp(std::string_view app) {
  CheckAllowedAppName(app);
  OpenedKey key(store_, KeyPath(kRestrictRun));
  int number = 0;
  while (number < kMaxAppNumber && !key->ReadString(std::to_string(number)).empty()) ++number;
  key->WriteString(std::to_string(number), app);
}

bool TUser::RemoveAllowedApp(std::string_view app) {
  OpenedKey key(store_, KeyPath(kRestrictRun));
  const std::string wanted = UpperAscii(app);
  for (const std::string& valueName : key->GetValueNames()) {
    if (UpperAscii(key->ReadString(valueName)) == wanted) return key->DeleteValue(valueName);
  }
  return false;
}

std::vector<AllowedApp>& TUser::GetAllowedApps(std::vector<AllowedApp>& list) const {
  list.clear();
  const std::string path = KeyPath(kRestrictRun);
  OpenedKey key(store_, path);
  const std::vector<std::string> valueNames = key->GetValueNames();
  for (auto it = valueNames.rbegin(); it != valueNames.rend(); ++it) {
    std::string text = key->ReadString(*it);
    if (!IsBlank(text)) list.push_back({std::move(text), {*it, path}});
  }
  return list;
}

}  // namespace tarnwick
