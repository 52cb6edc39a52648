#include "policy/users.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "base/cp1252.h"
#include "base/text.h"
#include "machine/lab.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_entries.h"
#include "policy/policy_keys.h"
#include "policy/policy_store.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

// What one AddUser made on disk, removed again when it fails before writing a key: such a failure
// leaves nothing behind. Directories go only while empty, so nothing else is lost.
class MadeOnDisk {
 public:
  explicit MadeOnDisk(const Machine& machine) : machine_(machine) {}
  MadeOnDisk(const MadeOnDisk&) = delete;
  MadeOnDisk& operator=(const MadeOnDisk&) = delete;
  ~MadeOnDisk() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      const std::optional<VolumeEntry> entry = machine_.Stat(*it);
      if (!entry || !entry->IsDirectory() || !machine_.List(*it).empty()) continue;
      try {
        machine_.RemoveTree(*it);
      } catch (const FileWriteError&) {
        // Left behind: an empty directory loses nothing.
      }
    }
  }

  void Add(std::string windowsPath) { made_.push_back(std::move(windowsPath)); }
  void Keep() { made_.clear(); }

 private:
  const Machine& machine_;
  std::vector<std::string> made_;  // in the order made
};

// Creates one directory level unless it exists; throws AccountError naming it when it cannot be.
void MakeDirectoryLevel(const Machine& machine, const std::string& windowsPath, MadeOnDisk& made) {
  const std::string failure =
      "The profile directory " + Cp1252ToUtf8(windowsPath) + " cannot be made";
  try {
    if (machine.MakeDirectory(windowsPath)) {
      made.Add(windowsPath);
      return;
    }
  } catch (const FileWriteError& e) {
    throw AccountError(failure + ": " + e.what());
  }
  // Something has the name: a directory, or a link to one as the program's path rules take it.
  const std::optional<VolumeEntry> entry = machine.Stat(windowsPath);
  if (!entry || !entry->IsDirectory()) {
    // On a host directory the host's path tells where to look.
    const std::optional<std::filesystem::path> host = machine.HostPath(windowsPath);
    throw AccountError(failure + ": " + (host ? host->string() + ": " : std::string()) +
                       "not a directory");
  }
}

// The longest path a profile must hold: its registry file.
constexpr std::string_view kProfileFile = "\\user.dat";
constexpr size_t kMaxPath = 259;

}  // namespace

std::string ProfileDirectoryFor(const Machine& machine, std::string_view name) {
  if (machine.Lab()) return LabProfileDirectory(*machine.Lab(), name);
  return AddTrailingBackslash(machine.WindowsDirectory()) + "Profiles\\" + std::string(name);
}

std::optional<std::string> RefusedUserName(const Machine& machine, std::string_view name,
                                           const TUsers* accounts) {
  if (name.empty()) return "A user name cannot be empty";
  if (EqualsIgnoreCase(name, kDefaultEntryName)) {
    return "\".default\" is the Default User entry of the policy file and cannot be a user name";
  }
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || IsUndefinedInCp1252(c)) {
      return "A user name cannot hold control characters";
    }
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      return "A user name cannot hold the character '" + std::string(1, c) + "'";
    }
  }
  // Windows drops a blank or dot at the end of a directory name: two accounts would share one
  // profile.
  if (name.back() == ' ' || name.back() == '.') return "A user name cannot end in a blank or a dot";
  if (IsDeviceName(name)) {
    return "\"" + Cp1252ToUtf8(name) + "\" is the name of a device and cannot be a user name";
  }
  if (machine.Lab()) {
    if (const std::string problem = AccountNameProblem(name); !problem.empty()) {
      return "\"" + Cp1252ToUtf8(name) + "\" cannot be the name of a lab's account: it " + problem;
    }
  }
  const size_t room =
      kMaxPath - std::min(kMaxPath, ProfileDirectoryFor(machine, "").size() + kProfileFile.size());
  if (name.size() > room) {
    return "The user name is too long: a profile path holds at most " + std::to_string(kMaxPath) +
           " characters, which leaves " + std::to_string(room) + " for the name";
  }
  if (accounts != nullptr && accounts->FindUser(name) != nullptr)
    return "There is already a user with this name";
  return std::nullopt;
}

TUsers::TUsers(PolicyStore& store) : store_(store) {
  Reload();
}

void TUsers::Reload() {
  items_.clear();
  RegistryAccessor reg(store_.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(store_.UsersKeyPath(), !store_.PolicyReadOnly());
  for (std::string& name : reg.GetKeyNames()) {
    // Default User's entry, not an account.
    if (EqualsIgnoreCase(name, kDefaultEntryName)) continue;
    items_.push_back(std::make_unique<TUser>(store_, std::move(name)));
  }
}

TUser* TUsers::FindUser(std::string_view name) const {
  for (const auto& user : items_) {
    if (EqualsIgnoreCaseCp1252(user->Name(), name)) return user.get();
  }
  return nullptr;
}

TUser& TUsers::AddUser(std::string_view name) {
  Registry& registry = store_.GetRegistry();
  if (const std::optional<std::string> refused =
          RefusedUserName(registry.GetMachine(), name, this)) {
    throw AccountError(*refused);
  }
  const Machine& machine = registry.GetMachine();
  RegistryAccessor reg(registry);

  // The profile first, so that an account is never recorded without one.
  MadeOnDisk made(machine);
  const std::string profile = ProfileDirectoryFor(machine, name);
  // The folder above first (the Profiles folder, or a lab's home), then the profile.
  const std::string parent = ExtractFilePath(profile);
  MakeDirectoryLevel(machine, parent.substr(0, parent.size() - 1), made);
  MakeDirectoryLevel(machine, profile, made);
  const std::string userDat = profile + "\\user.dat";
  if (!registry.FileExists(userDat)) {
    reg.SetRootKey(RootKey::Users);
    if (!reg.SaveKey(".Default", userDat)) {
      throw AccountError("The user's registry file " + Cp1252ToUtf8(userDat) +
                         " cannot be written");
    }
  }
  // From here on a key may be recorded, and it is never left without its profile.
  made.Keep();

  reg.SetRootKey(RootKey::LocalMachine);
  reg.CreateKey(store_.UsersKeyPath() + "\\" + std::string(name));
  reg.OpenKey(std::string(kProfileListKey) + std::string(name), true);
  reg.WriteString(kProfileImagePath, profile);
  reg.CloseKey();

  items_.push_back(std::make_unique<TUser>(store_, std::string(name)));
  return *items_.back();
}

bool TUsers::RemoveUser(std::string_view name) {
  bool removed = false;
  // An empty name, or one holding "\", names the Users key itself or a key inside another
  // account, and the whole ProfileList or another entry of it: nothing is deleted then.
  if (!name.empty() && name.find('\\') == std::string_view::npos &&
      !EqualsIgnoreCase(name, kDefaultEntryName)) {
    RegistryAccessor reg(store_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.DeleteKey(store_.UsersKeyPath() + "\\" + std::string(name));
    removed = reg.DeleteKey(std::string(kProfileListKey) + std::string(name));
  }
  Reload();
  return removed;
}

}  // namespace tarnwick
