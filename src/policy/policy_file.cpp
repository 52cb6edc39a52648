#include "policy/policy_file.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "machine/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"
#include "registry/registry.h"
#include "registry/registry_limits.h"

namespace tarnwick {

namespace {

// The program-wide values of the policy file, set by InitPolicyPaths.
struct PolicyPaths {
  Registry* registry = nullptr;
  std::string policyFilePath;
  std::string hiveKeyName;
  std::string usersKeyPath;
  bool loaded = false;
  bool readOnly = false;
};

PolicyPaths& Paths() {
  static PolicyPaths paths;
  return paths;
}

// Also a file that the open write batch is to create. Throws PolicyFileError when something stands
// at the file's place that cannot be reached, so that it is never taken for a missing file.
bool PolicyFileExists() {
  const PathLookup lookup = PolicyRegistry().GetMachine().LookUp(PolicyFilePath());
  const std::string unreachable =
      "The policy file " + Cp1252ToUtf8(PolicyFilePath()) + " cannot be reached: ";
  if (lookup.status == PathStatus::Unreachable) {
    throw PolicyFileError(unreachable +
                          "it is a symbolic link leading outside its drive or to nothing");
  }
  if (lookup.status != PathStatus::Found) return false;
  if (PolicyRegistry().FileExists(PolicyFilePath())) return true;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(lookup.host, error);
  if (error && status.type() != std::filesystem::file_type::not_found) {
    throw PolicyFileError(unreachable + lookup.host.string() + ": " + error.message());
  }
  return std::filesystem::exists(status);
}

// " " and the reason, when one is known.
std::string Because(const std::string& why) {
  return why.empty() ? std::string() : " " + why;
}

// Why an existing policy file did not attach: what is wrong with its contents, as far as that
// can be told.
std::string AttachFailure() {
  try {
    ReadRegistryFile(*PolicyRegistry().GetMachine().HostPath(PolicyFilePath()));
  } catch (const std::exception& error) {
    return error.what();
  }
  return "it is in use";
}

// The policy subkeys a run without a policy file creates below the hive key (users, the machine
// entry, the password).
constexpr std::string_view kPolicySubkeys[] = {"Users", "Computers", "Config"};

// Whether a plain key named like the hive key is a tree this program left: the edits of a run
// without a policy file, which its end saves as the file and then deletes, survive when the run
// ended in between. Told conservatively by its contents, since only such a tree may be deleted:
// no values at its top, at least one subkey, and nothing but the subkeys the store itself writes
// into a policy file. A key of the machine's own that merely has the name (SOFTWARE, Network,
// Config) holds other subkeys or values; an empty key is not the store's either.
bool IsLeftoverTree(const RegNode& key) {
  return key.values.empty() && !key.subkeys.empty() &&
         std::all_of(key.subkeys.begin(), key.subkeys.end(), [](const auto& subkey) {
           return std::any_of(
               std::begin(kPolicySubkeys), std::end(kPolicySubkeys),
               [&](std::string_view name) { return EqualsIgnoreCase(subkey->name, name); });
         });
}

// Refuses a hive key that would be a key of the machine's registry other than such a leftover:
// loading would delete it, or edit it and save it as the policy file. Changes nothing.
void CheckHiveKeyIsFree(const Registry& registry, const std::string& programPath,
                        const std::string& hiveKeyName) {
  const std::string program = Cp1252ToUtf8(ExtractFileName(programPath));
  if (!IsValidKeyName(hiveKeyName)) {
    throw PolicyFileError("The program name " + program +
                          " gives no registry key name for the policy file; rename the program "
                          "(ProgramPath in machine.ini)");
  }
  const RegNode* key = registry.FileTree(RootKey::LocalMachine).FindSubkey(hiveKeyName);
  if (key != nullptr && !IsLeftoverTree(*key)) {
    throw PolicyFileError("The program name " + program +
                          " would attach the policy file as HKEY_LOCAL_MACHINE\\" +
                          Cp1252ToUtf8(key->name) +
                          ", a key of the machine's own registry (SYSTEM.DAT); rename the "
                          "program (ProgramPath in machine.ini)");
  }
}

}  // namespace

std::string PolicyFilePathFor(std::string_view windowsDirectory) {
  return AddTrailingBackslash(windowsDirectory) + "Tarnex.pol";
}

std::string HiveKeyNameFor(std::string_view programPath) {
  return RemoveFileExt(ExtractFileName(programPath));
}

void InitPolicyPaths(Registry& registry, PolicyAccess access) {
  const Machine& machine = registry.GetMachine();
  PolicyPaths& paths = Paths();
  paths.registry = nullptr;
  paths.loaded = false;
  const std::string hiveKeyName = HiveKeyNameFor(machine.ProgramPath());
  CheckHiveKeyIsFree(registry, machine.ProgramPath(), hiveKeyName);
  paths.registry = &registry;
  paths.policyFilePath = PolicyFilePathFor(machine.WindowsDirectory());
  paths.hiveKeyName = hiveKeyName;
  paths.usersKeyPath = paths.hiveKeyName + "\\Users";
  paths.readOnly = access == PolicyAccess::ReadOnly;
}

Registry& PolicyRegistry() {
  if (Paths().registry == nullptr) throw std::logic_error("InitPolicyPaths has not been called");
  return *Paths().registry;
}

const std::string& PolicyFilePath() {
  return Paths().policyFilePath;
}
const std::string& HiveKeyName() {
  return Paths().hiveKeyName;
}
const std::string& UsersKeyPath() {
  return Paths().usersKeyPath;
}
bool PolicyLoaded() {
  return Paths().loaded;
}
bool PolicyReadOnly() {
  return Paths().readOnly;
}

bool LoadPolicyFile() {
  if (PolicyLoaded()) return false;
  RegistryAccessor reg(PolicyRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  const std::string& key = HiveKeyName();

  // A hive that failed to detach earlier is detached now, so that its changes stay in its file.
  reg.UnLoadKey(key);
  CheckHiveKeyIsFree(PolicyRegistry(), PolicyRegistry().GetMachine().ProgramPath(), key);
  if (!PolicyFileExists()) {
    // Edits go to a plain tree that the unload saves as the file. A tree left by a run that ended
    // before saving it holds that run's edits only: it stays and is carried on.
    Paths().loaded = true;
    return false;
  }
  // The file is the store: a plain tree left beside it (a run that ended after its save but
  // before deleting the tree) must not hide it, also in a run that only reads.
  reg.DeleteKey(key);
  if (reg.LoadKey(key, PolicyFilePath())) {
    Paths().loaded = true;
    return true;
  }
  throw PolicyFileError("The policy file " + Cp1252ToUtf8(PolicyFilePath()) +
                        " cannot be attached: " + AttachFailure());
}

bool UnloadPolicyFile() {
  if (!PolicyLoaded()) return false;
  Paths().loaded = false;
  const std::string& key = HiveKeyName();
  try {
    RegistryAccessor reg(PolicyRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    if (reg.OpenKey(key, false)) reg.FlushKey();
    reg.CloseKey();
    if (PolicyFileExists()) return reg.UnLoadKey(key);
    // A run that only reads left any tree as it found it, for a run that writes to save.
    if (PolicyReadOnly() || !reg.KeyExists(key)) return true;
    // The tree holds the only copy of this run's edits: it goes only once it is in the file.
    if (!reg.SaveKey(key, PolicyFilePath())) return false;
    reg.DeleteKey(key);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

AttachedPolicyFile::AttachedPolicyFile() : owner_(!PolicyLoaded()) {
  LoadPolicyFile();
}

AttachedPolicyFile::~AttachedPolicyFile() {
  if (owner_) UnloadPolicyFile();
}

void AttachedPolicyFile::Detach() {
  if (!owner_) return;
  owner_ = false;
  if (!UnloadPolicyFile()) {
    throw PolicyFileError("The policy file " + Cp1252ToUtf8(PolicyFilePath()) +
                          " could not be saved." + Because(PolicyRegistry().LastWriteError()));
  }
}

}  // namespace tarnwick
