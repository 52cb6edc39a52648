#include "policy/user.h"

#include <algorithm>

#include "base/error.h"
#include "machine/cp1252.h"
#include "machine/win_path.h"
#include "policy/policy_keys.h"
#include "policy/policy_store.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kExplorer =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kSystem =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr std::string_view kNetwork =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Network";
constexpr std::string_view kWinOldApp =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp";
constexpr std::string_view kPreferences = "Software\\Family\\Preferences";
constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr std::string_view kRestrictRun =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\RestrictRun";

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

int32_t TUser::ReadFlag(std::string_view relativeKey, std::string_view valueName) const {
  OpenedKey key(store_, KeyPath(relativeKey));
  return key->ReadInteger(valueName);
}

void TUser::WriteFlag(std::string_view relativeKey,
                      std::initializer_list<std::string_view> valueNames, int32_t v) {
  if (v != 0 && v != 1) return;
  OpenedKey key(store_, KeyPath(relativeKey));
  for (std::string_view valueName : valueNames) key->WriteInteger(valueName, v);
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

int32_t TUser::NoRun() const {
  return ReadFlag(kExplorer, "NoRun");
}
void TUser::SetNoRun(int32_t v) {
  WriteFlag(kExplorer, {"NoRun"}, v);
}
int32_t TUser::NoFind() const {
  return ReadFlag(kExplorer, "NoFind");
}
void TUser::SetNoFind(int32_t v) {
  WriteFlag(kExplorer, {"NoFind"}, v);
}
int32_t TUser::NoDesktop() const {
  return ReadFlag(kExplorer, "NoDesktop");
}
void TUser::SetNoDesktop(int32_t v) {
  WriteFlag(kExplorer, {"NoDesktop"}, v);
}
int32_t TUser::NoSetFolders() const {
  return ReadFlag(kExplorer, "NoSetFolders");
}
void TUser::SetNoSetFolders(int32_t v) {
  WriteFlag(kExplorer, {"NoSetFolders"}, v);
}
void TUser::SetNoSetTaskbar(int32_t v) {
  WriteFlag(kExplorer, {"NoSetTaskbar"}, v);
}
int32_t TUser::RestrictRun() const {
  return ReadFlag(kExplorer, "RestrictRun");
}
void TUser::SetRestrictRun(int32_t v) {
  WriteFlag(kExplorer, {"RestrictRun"}, v);
}
int32_t TUser::NoPrinterChanges() const {
  return ReadFlag(kExplorer, "NoAddPrinter");
}
void TUser::SetNoPrinterChanges(int32_t v) {
  WriteFlag(kExplorer, {"NoAddPrinter", "NoDeletePrinter"}, v);
}
int32_t TUser::DisableRegistryTools() const {
  return ReadFlag(kSystem, "DisableRegistryTools");
}
void TUser::SetDisableRegistryTools(int32_t v) {
  WriteFlag(kSystem, {"DisableRegistryTools"}, v);
}
int32_t TUser::NoDispSettingsPage() const {
  return ReadFlag(kSystem, "NoDispSettingsPage");
}
void TUser::SetNoDispSettingsPage(int32_t v) {
  WriteFlag(kSystem, {"NoDispSettingsPage"}, v);
}
int32_t TUser::NoSystemPages() const {
  return ReadFlag(kSystem, "NoDevMgrPage");
}
void TUser::SetNoSystemPages(int32_t v) {
  WriteFlag(kSystem, {"NoDevMgrPage", "NoFileSysPage", "NoVirtMemPage"}, v);
}
int32_t TUser::NoPasswordPages() const {
  return ReadFlag(kSystem, "NoProfilePage");
}
void TUser::SetNoPasswordPages(int32_t v) {
  WriteFlag(kSystem, {"NoProfilePage", "NoAdminPage"}, v);
}
int32_t TUser::NoNetSetup() const {
  return ReadFlag(kNetwork, "NoNetSetup");
}
void TUser::SetNoNetSetup(int32_t v) {
  WriteFlag(kNetwork, {"NoNetSetup"}, v);
}
int32_t TUser::NoDOS() const {
  return ReadFlag(kWinOldApp, "Disabled");
}
void TUser::SetNoDOS(int32_t v) {
  WriteFlag(kWinOldApp, {"Disabled"}, v);
}
int32_t TUser::NoRealMode() const {
  return ReadFlag(kWinOldApp, "NoRealMode");
}
void TUser::SetNoRealMode(int32_t v) {
  WriteFlag(kWinOldApp, {"NoRealMode"}, v);
}
int32_t TUser::NoConfigure() const {
  return ReadFlag(kPreferences, "NoConfigure");
}

void TUser::SetNoConfigure(int32_t v) {
  if (v != 0 && v != 1) return;
  WriteFlag(kPreferences, {"NoConfigure"}, v);
  SetNoDispSettingsPage(v);
  SetNoPrinterChanges(v);
  SetNoSystemPages(v);
  SetNoNetSetup(v);
  SetNoPasswordPages(v);
}

int32_t TUser::NoDrives() const {
  return ReadFlag(kExplorer, "NoDrives");
}

void TUser::SetNoDrives(int32_t v) {
  if (v < 0) return;
  OpenedKey key(store_, KeyPath(kExplorer));
  key->WriteInteger("NoDrives", v);
}

std::string TUser::ProgramsFolder() const {
  return ReadText(kShellFolders, "Programs");
}
void TUser::SetProgramsFolder(std::string_view v) {
  WriteText(kShellFolders, "Programs", v, false);
}
std::string TUser::StartMenuFolder() const {
  return ReadText(kShellFolders, "Start Menu");
}
void TUser::SetStartMenuFolder(std::string_view v) {
  WriteText(kShellFolders, "Start Menu", v, true);
}
std::string TUser::DesktopFolder() const {
  return ReadText(kShellFolders, "Desktop");
}
void TUser::SetDesktopFolder(std::string_view v) {
  WriteText(kShellFolders, "Desktop", v, false);
}
std::string TUser::FavoritesFolder() const {
  return ReadText(kShellFolders, "Favorites");
}
void TUser::SetFavoritesFolder(std::string_view v) {
  WriteText(kShellFolders, "Favorites", v, false);
}
std::string TUser::RecentFolder() const {
  return ReadText(kShellFolders, "Recent");
}
void TUser::SetRecentFolder(std::string_view v) {
  WriteText(kShellFolders, "Recent", v, true);
}
std::string TUser::UserIcon() const {
  return ReadText(kPreferences, "UserIcon");
}
void TUser::SetUserIcon(std::string_view v) {
  WriteText(kPreferences, "UserIcon", v, false);
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
