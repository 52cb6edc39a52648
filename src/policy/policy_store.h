// The policy store: the registry the policy file is attached to, the file's names, and attaching
// and detaching it. Every account and policy operation works on the store it is given.
#pragma once

#include <string>

#include "policy/policy_file.h"

namespace tarnwick {

class Machine;
class Registry;

class PolicyStore {
 public:
  // Computes the names from the registry's machine, unloaded. Throws PolicyFileError when the
  // program's name gives no key name or the key it gives is one of the machine's own
  // (HKEY_LOCAL_MACHINE\SOFTWARE for a program named Software.exe).
  explicit PolicyStore(Registry& registry, PolicyAccess access = PolicyAccess::ReadWrite);
  PolicyStore(const PolicyStore&) = delete;
  PolicyStore& operator=(const PolicyStore&) = delete;

  Registry& GetRegistry() const { return registry_; }
  const Machine& GetMachine() const;

  const std::string& PolicyFilePath() const { return policyFilePath_; }  // C:\WINDOWS\Tarnex.pol
  const std::string& HiveKeyName() const { return hiveKeyName_; }        // TARNEX, below HKLM
  const std::string& UsersKeyPath() const { return usersKeyPath_; }      // TARNEX\Users
  bool PolicyLoaded() const { return loaded_; }
  // Keys are opened without creating them and no new policy file is saved, so that a run that
  // only reads changes no file.
  bool PolicyReadOnly() const { return readOnly_; }

  // Attaches the policy file as HiveKeyName below HKEY_LOCAL_MACHINE. Returns whether a file was
  // attached; false without doing anything when already loaded. When there is no file, later
  // edits land in a plain key tree that UnloadPolicyFile saves as the new file. A hive of this
  // registry still attached under the key is detached first, keeping its changes in its file. A
  // plain tree left by an earlier run that ended before saving it is deleted when a file exists
  // (the file is the store) and kept when none does (it holds the only copy of that run's edits,
  // and the next unload saves it). Throws PolicyFileError, leaving the file untouched and the
  // store unloaded, when the file exists but cannot be attached, and when a key of the machine's
  // own, not such a tree, has the name: that key is never touched.
  bool LoadPolicyFile();

  // Detaches the file, or saves the plain tree as a new file and deletes the tree (read only:
  // keeps the tree and saves nothing). Does nothing when not loaded. Returns whether every change
  // is now in the file; the plain tree is deleted only once it was saved. The store is unloaded
  // afterwards in every case.
  bool UnloadPolicyFile();

 private:
  // Also a file that the open write batch is to create. Throws PolicyFileError when something
  // stands at the file's place that cannot be reached.
  bool PolicyFileExists() const;
  std::string AttachFailure() const;

  Registry& registry_;
  std::string policyFilePath_;
  std::string hiveKeyName_;
  std::string usersKeyPath_;
  bool loaded_ = false;
  bool readOnly_ = false;
};

// Loads the store's policy file for its lifetime, unless it was loaded already.
class AttachedPolicyFile {
 public:
  explicit AttachedPolicyFile(PolicyStore& store);
  ~AttachedPolicyFile();
  AttachedPolicyFile(const AttachedPolicyFile&) = delete;
  AttachedPolicyFile& operator=(const AttachedPolicyFile&) = delete;

  // Detaches now, when this object attached the file. Throws PolicyFileError naming the file
  // when its changes could not all be saved.
  void Detach();

 private:
  PolicyStore& store_;
  bool owner_ = false;
};

}  // namespace tarnwick
