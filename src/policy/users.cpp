#include "policy/users.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "machine/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_file.h"
#include "policy/policy_keys.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

// A Windows path that names an existing directory or file on the machine.
bool PathExists(const Machine& machine, const std::string& windowsPath) {
  const auto host = machine.HostPath(windowsPath);
  std::error_code error;
  return host && std::filesystem::exists(*host, error);
}

// Creates one directory level unless it exists; throws AccountError naming it when it cannot be.
// The directory is made in the folder that was checked, whatever is renamed meanwhile.
void MakeDirectoryLevel(const Machine& machine, const std::string& windowsPath) {
  const std::string failure =
      "The profile directory " + Cp1252ToUtf8(windowsPath) + " cannot be made";
  HeldPath held;
  try {
    held = machine.Hold(windowsPath);
  } catch (const MachineError& e) {
    throw AccountError(failure + ": " + e.what());
  }
  const int error = MakeDirectoryAt(held);
  if (error == 0) return;
  struct stat info {};
  if (error == EEXIST && StatEntry(held, info)) {
    if (S_ISDIR(info.st_mode)) return;
    // A link is taken as the program's path rules take it.
    std::error_code ignored;
    const auto target = S_ISLNK(info.st_mode) ? machine.HostPath(windowsPath) : std::nullopt;
    if (target && std::filesystem::is_directory(*target, ignored)) return;
    throw AccountError(failure + ": " + held.host.string() + ": not a directory");
  }
  throw AccountError(failure + ": " + held.host.string() + ": " + WalkErrorText(error));
}

// A name that is one key name and one directory name. Windows drops a blank or dot at the end of a
// directory name, so two accounts would share one profile.
void CheckUserName(std::string_view name) {
  if (name.empty()) throw AccountError("A user name cannot be empty");
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      throw AccountError("A user name cannot hold the character '" + std::string(1, c) + "'");
    }
  }
  if (name.back() == ' ' || name.back() == '.') {
    throw AccountError("A user name cannot end in a blank or a dot");
  }
}

}  // namespace

TUsers::TUsers() {
  Reload();
}

void TUsers::Reload() {
  items_.clear();
  RegistryAccessor reg(PolicyRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(UsersKeyPath(), true);
  for (std::string& name : reg.GetKeyNames()) items_.push_back(std::make_unique<TUser>(name));
}

TUser* TUsers::FindUser(std::string_view name) const {
  for (const auto& user : items_) {
    if (EqualsIgnoreCase(user->Name(), name)) return user.get();
  }
  return nullptr;
}

TUser& TUsers::AddUser(std::string_view name) {
  CheckUserName(name);
  if (FindUser(name) != nullptr) throw AccountError("There is already a user with this name");
  Registry& registry = PolicyRegistry();
  const Machine& machine = registry.GetMachine();
  RegistryAccessor reg(registry);

  // The profile first, so that an account is never recorded without one.
  const std::string windows = AddTrailingBackslash(machine.WindowsDirectory());
  MakeDirectoryLevel(machine, windows + "Profiles");
  const std::string profile = windows + "Profiles\\" + std::string(name);
  MakeDirectoryLevel(machine, profile);
  const std::string userDat = profile + "\\user.dat";
  if (!PathExists(machine, userDat)) {
    reg.SetRootKey(RootKey::Users);
    if (!reg.SaveKey(".Default", userDat)) {
      throw AccountError("The user's registry file " + Cp1252ToUtf8(userDat) +
                         " cannot be written");
    }
  }

  reg.SetRootKey(RootKey::LocalMachine);
  reg.CreateKey(UsersKeyPath() + "\\" + std::string(name));
  reg.OpenKey(std::string(kProfileListKey) + std::string(name), true);
  reg.WriteString(kProfileImagePath, profile);
  reg.CloseKey();

  items_.push_back(std::make_unique<TUser>(std::string(name)));
  return *items_.back();
}

bool TUsers::RemoveUser(std::string_view name) {
  bool removed = false;
  // An empty name, or one holding "\", names the Users key itself or a key inside another
  // account, and the whole ProfileList or another entry of it: nothing is deleted then.
  if (!name.empty() && name.find('\\') == std::string_view::npos) {
    RegistryAccessor reg(PolicyRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.DeleteKey(UsersKeyPath() + "\\" + std::string(name));
    removed = reg.DeleteKey(std::string(kProfileListKey) + std::string(name));
  }
  Reload();
  return removed;
}

}  // namespace tarnwick
