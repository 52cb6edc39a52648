#include "policy/policy_file.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "machine/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

// The program-wide values of the policy file, set by InitPolicyPaths.
struct PolicyPaths {
  Registry* registry = nullptr;
  std::string policyFilePath;
  std::string hiveKeyName;
  std::string usersKeyPath;
  bool loaded = false;
};

PolicyPaths& Paths() {
  static PolicyPaths paths;
  return paths;
}

// Also a file that the open write batch is to create.
bool PolicyFileExists() {
  return PolicyRegistry().FileExists(PolicyFilePath());
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

}  // namespace

std::string PolicyFilePathFor(std::string_view windowsDirectory) {
  return AddTrailingBackslash(windowsDirectory) + "Tarnex.pol";
}

std::string HiveKeyNameFor(std::string_view programPath) {
  return RemoveFileExt(ExtractFileName(programPath));
}

void InitPolicyPaths(Registry& registry) {
  const Machine& machine = registry.GetMachine();
  PolicyPaths& paths = Paths();
  paths.registry = &registry;
  paths.policyFilePath = PolicyFilePathFor(machine.WindowsDirectory());
  paths.hiveKeyName = HiveKeyNameFor(machine.ProgramPath());
  paths.usersKeyPath = paths.hiveKeyName + "\\Users";
  paths.loaded = false;
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

bool LoadPolicyFile() {
  if (PolicyLoaded()) return false;
  RegistryAccessor reg(PolicyRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  const std::string& key = HiveKeyName();

  // A hive that failed to detach earlier is detached now, so that its changes stay in its file.
  reg.UnLoadKey(key);
  if (!PolicyFileExists()) {
    // Edits go to a plain tree that the unload saves as the file. A tree left by a run that ended
    // before saving it holds that run's edits only: it stays and is carried on.
    Paths().loaded = true;
    return false;
  }
  // The file is the store: a plain tree left beside it (a run that ended after its save but
  // before deleting the tree) must not hide it.
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
    if (!reg.KeyExists(key)) return true;
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
                          " could not be saved.");
  }
}

}  // namespace tarnwick
