#include "policy/policy_store.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "base/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"
#include "registry/registry.h"
#include "registry/registry_limits.h"

namespace tarnwick {

namespace {

// " " and the reason, when one is known.
std::string Because(const std::string& why) {
  return why.empty() ? std::string() : " " + why;
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

PolicyStore::PolicyStore(Registry& registry, PolicyAccess access)
    : registry_(registry),
      policyFilePath_(PolicyFilePathOf(registry.GetMachine())),
      hiveKeyName_(HiveKeyNameFor(registry.GetMachine().ProgramPath())),
      usersKeyPath_(hiveKeyName_ + "\\Users"),
      readOnly_(access == PolicyAccess::ReadOnly) {
  CheckHiveKeyIsFree(registry_, GetMachine().ProgramPath(), hiveKeyName_);
}

const Machine& PolicyStore::GetMachine() const {
  return registry_.GetMachine();
}

bool PolicyStore::PolicyFileExists() const {
  const PathLookup lookup = GetMachine().LookUp(PolicyFilePath());
  const std::string unreachable =
      "The policy file " + Cp1252ToUtf8(PolicyFilePath()) + " cannot be reached: ";
  if (lookup.status == PathStatus::Unreachable) {
    throw PolicyFileError(unreachable +
                          "it is a symbolic link leading outside its drive or to nothing");
  }
  if (registry_.FileExists(PolicyFilePath())) return true;
  // A host folder on the way that may not be searched hides whether the file is there.
  if (lookup.status == PathStatus::Found) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(lookup.host, error);
    if (error && status.type() != std::filesystem::file_type::not_found) {
      throw PolicyFileError(unreachable + lookup.host.string() + ": " + error.message());
    }
  }
  return false;
}

// What is wrong with the file's contents, as far as that can be told.
std::string PolicyStore::AttachFailure() const {
  try {
    ReadRegistryFile(GetMachine(), PolicyFilePath());
  } catch (const std::exception& error) {
    return error.what();
  }
  return "it is in use";
}

bool PolicyStore::LoadPolicyFile() {
  if (loaded_) return false;
  RegistryAccessor reg(registry_);
  reg.SetRootKey(RootKey::LocalMachine);
  const std::string& key = HiveKeyName();

  // A hive that failed to detach earlier is detached now, so that its changes stay in its file.
  reg.UnLoadKey(key);
  CheckHiveKeyIsFree(registry_, GetMachine().ProgramPath(), key);
  if (!PolicyFileExists()) {
    // Edits go to a plain tree that the unload saves as the file. A tree left by a run that ended
    // before saving it holds that run's edits only: it stays and is carried on.
    loaded_ = true;
    return false;
  }
  // The file is the store: a plain tree left beside it (a run that ended after its save but
  // before deleting the tree) must not hide it, also in a run that only reads.
  reg.DeleteKey(key);
  if (reg.LoadKey(key, PolicyFilePath())) {
    loaded_ = true;
    return true;
  }
  throw PolicyFileError("The policy file " + Cp1252ToUtf8(PolicyFilePath()) +
                        " cannot be attached: " + AttachFailure());
}

bool PolicyStore::UnloadPolicyFile() {
  if (!loaded_) return false;
  loaded_ = false;
  const std::string& key = HiveKeyName();
  try {
    RegistryAccessor reg(registry_);
    reg.SetRootKey(RootKey::LocalMachine);
    if (reg.OpenKey(key, false)) reg.FlushKey();
    reg.CloseKey();
    if (PolicyFileExists()) return reg.UnLoadKey(key);
    // A run that only reads left any tree as it found it, for a run that writes to save.
    if (readOnly_ || !reg.KeyExists(key)) return true;
    // The tree holds the only copy of this run's edits: it goes only once it is in the file.
    if (!reg.SaveKey(key, PolicyFilePath())) return false;
    reg.DeleteKey(key);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

AttachedPolicyFile::AttachedPolicyFile(PolicyStore& store)
    : store_(store), owner_(!store.PolicyLoaded()) {
  store_.LoadPolicyFile();
}

AttachedPolicyFile::~AttachedPolicyFile() {
  if (owner_) store_.UnloadPolicyFile();
}

void AttachedPolicyFile::Detach() {
  if (!owner_) return;
  owner_ = false;
  if (!store_.UnloadPolicyFile()) {
    throw PolicyFileError("The policy file " + Cp1252ToUtf8(store_.PolicyFilePath()) +
                          " could not be saved." + Because(store_.GetRegistry().LastWriteError()));
  }
}

}  // namespace tarnwick
