// The policy file Tarnex.pol: where it lies, the key it is attached as, attaching and detaching.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace tarnwick {

class Registry;

// A policy file that exists but cannot be attached (damaged, unreadable). The text names the file.
class PolicyFileError : public Error {
 public:
  using Error::Error;
};

// The Windows directory with "\" appended when missing, then "Tarnex.pol".
std::string PolicyFilePathFor(std::string_view windowsDirectory);
// The program's file name without its extension: C:\TARNEX\TARNEX.EXE gives TARNEX.
std::string HiveKeyNameFor(std::string_view programPath);

// ReadOnly: the store opens keys without creating them and never saves a new policy file, so that
// a run that only reads changes no file.
enum class PolicyAccess { ReadWrite, ReadOnly };

// Computes the program-wide values from the registry's machine and makes that registry the one
// every policy operation works on. Called once at start, before any other call of the store; a
// later call starts over with another registry, unloaded. Throws PolicyFileError, leaving the store
// without a registry, when the program's name gives no key name or the key it gives is one of the
// machine's own (HKEY_LOCAL_MACHINE\SOFTWARE for a program named Software.exe).
void InitPolicyPaths(Registry& registry, PolicyAccess access = PolicyAccess::ReadWrite);

// The registry given to InitPolicyPaths. Throws std::logic_error before it was called.
Registry& PolicyRegistry();

const std::string& PolicyFilePath();  // C:\WINDOWS\Tarnex.pol
const std::string& HiveKeyName();     // TARNEX, a key below HKEY_LOCAL_MACHINE
const std::string& UsersKeyPath();    // TARNEX\Users
bool PolicyLoaded();
bool PolicyReadOnly();

// Attaches the policy file as HiveKeyName below HKEY_LOCAL_MACHINE. Returns whether a file was
// attached; false without doing anything when already loaded. When there is no file, later edits
// land in a plain key tree that UnloadPolicyFile saves as the new file. A hive of this registry
// still attached under the key is detached first, keeping its changes in its file. A plain tree
// left by an earlier run that ended before saving it is deleted when a file exists (the file is
// the store) and kept when none does (it holds the only copy of that run's edits, and the next
// unload saves it). Throws PolicyFileError, leaving the file untouched and the store unloaded,
// when the file exists but cannot be attached, and when a key of the machine's own, not such a
// tree, has the name: that key is never touched.
bool LoadPolicyFile();

// Detaches the file, or saves the plain tree as a new file and deletes the tree (read only: keeps
// the tree and saves nothing). Does nothing when not loaded. Returns whether every change is now in
// the file; the plain tree is deleted only once it was saved. The store is unloaded afterwards in
// every case.
bool UnloadPolicyFile();

// Loads the policy file for its lifetime, unless it was loaded already.
class AttachedPolicyFile {
 public:
  AttachedPolicyFile();
  ~AttachedPolicyFile();
  AttachedPolicyFile(const AttachedPolicyFile&) = delete;
  AttachedPolicyFile& operator=(const AttachedPolicyFile&) = delete;

  // Detaches now, when this object attached the file. Throws PolicyFileError naming the file
  // when its changes could not all be saved.
  void Detach();

 private:
  bool owner_ = false;
};

}  // namespace tarnwick
