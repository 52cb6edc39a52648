// The machine's registry: root keys backed by the Windows directory's registry files, hives
// attached from further files, and the short-lived accessor through which every access goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "registry/reg_tree.h"

namespace tarnwick {

class Machine;

// Errors of the registry store; the texts are those shown to the administrator, with key and
// value names in UTF-8.
class RegistryError : public Error {
 public:
  using Error::Error;
};

enum class RootKey { LocalMachine, Users, CurrentUser };

// One registry per process. HKEY_LOCAL_MACHINE is SYSTEM.DAT and HKEY_USERS is USER.DAT, whose
// top-level key .DEFAULT is the default user, as on Windows 95; HKEY_CURRENT_USER is the same tree
// as HKEY_USERS\.DEFAULT. Missing files start as empty trees; a damaged one throws
// RegistryFileError naming it and is never overwritten. Before the first change of a run to
// SYSTEM.DAT or USER.DAT the old file is kept as SYSTEM.DA0 / USER.DA0.
class Registry {
 public:
  explicit Registry(const Machine& machine);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  const Machine& GetMachine() const;

  // Writes every changed file: those whose write failed before, and those a write batch holds
  // back, as one commit (all of them or, after a kill at any moment and the next MachineLock,
  // none). Throws RegistryFileError when a file cannot be encoded or written; then no file has
  // changed and the changes stay in memory. The destructor tries once more.
  void Flush();
  // Inside a write batch: writes now every file changed since the batch opened or since the last
  // call, as the end of the batch would, and the batch stays open. Throws RegistryFileError for
  // the first file that could not be written, after trying all of them; the batch's end does not
  // try those again (a flush does, or their next change). Outside a batch nothing is pending.
  void WritePending();

  // Forgets every change not yet written, so that no file changes: each changed tree is read
  // from its file again, and hives saved or detached in the open write batch are dropped. For a
  // command that failed half way.
  void DiscardChanges();

  // Whether the file (a Windows path) exists on the machine, or is a hive saved or detached in the
  // open write batch, which its end writes.
  bool FileExists(std::string_view windowsFile) const;

  // The trees of the machine's own files, without attached hives: SYSTEM.DAT's for
  // HKEY_LOCAL_MACHINE, USER.DAT's for HKEY_USERS and HKEY_CURRENT_USER.
  const RegNode& FileTree(RootKey root) const;
  // Why the last write of a file failed (the file, the step and the system's reason), for
  // callers that learn of the failure as false; empty before any failed.
  const std::string& LastWriteError() const;
  // Changes both files' trees as one: change works on copies of SYSTEM.DAT's and USER.DAT's
  // trees. When it returns they replace the trees and each changed file is written as Flush
  // writes it (after its backup), or at the end of the open write batch; when it throws, nothing
  // has changed.
  void ChangeFileTrees(const std::function<void(RegNode& system, RegNode& user)>& change);

  class Impl;
  Impl& GetImpl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Gathers the changes of one action so that each changed file is written once. While at least one
// batch of the registry is open, changes stay in memory; when the outermost batch finishes, every
// file changed while it was open is written, as one commit with the backups. Batches nest: an inner
// one finishing writes nothing. A hive detached or a key saved as a new file inside the batch is
// written at its end too; attaching that file again takes the tree it will hold. The batch must
// end before its registry does.
class RegistryWriteBatch {
 public:
  explicit RegistryWriteBatch(Registry& registry);
  // An unfinished batch finishes here; a file that cannot be written is not reported (its changes
  // stay in memory for the next flush). Call Finish to learn of it.
  ~RegistryWriteBatch();
  RegistryWriteBatch(const RegistryWriteBatch&) = delete;
  RegistryWriteBatch& operator=(const RegistryWriteBatch&) = delete;

  // Ends the batch; calling it again does nothing. Throws RegistryFileError when a file cannot be
  // encoded or written: then none of them is, and the changes stay in memory to be written by a
  // later flush, or when a file next changes.
  void Finish();

 private:
  Registry& registry_;
  bool open_ = true;
};

// A short-lived accessor in the manner of the Windows registry API: set the root key, open one
// key, read or write, close. The destructor closes the open key. Outside a write batch every
// change is written to its file at once: a write whose file cannot be written throws "Failed to
// set data for '%s'" (the change stays in memory and is written at the next flush), so nothing is
// left to fail silently when the key closes. Inside a batch the write happens, and fails, when the
// batch finishes. Key paths are relative to the root key ("\" at the start is ignored).
class RegistryAccessor {
 public:
  explicit RegistryAccessor(Registry& registry);  // root key HKEY_CURRENT_USER
  ~RegistryAccessor();
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  void SetRootKey(RootKey root);  // closes the open key

  // Opens a key, creating missing keys when canCreate. False when it does not exist (and not
  // canCreate) or cannot be created or written. Closes the key open before.
  bool OpenKey(std::string_view path, bool canCreate);
  void CloseKey();

  // Creates a key without opening it; throws "Failed to create key %s" on failure.
  void CreateKey(std::string_view path);
  bool KeyExists(std::string_view path);
  // Deletes a key with its whole subtree. False when there is no such key, its file cannot be
  // written, for a root key, and for an attached hive's key: that would empty its file (UnLoadKey
  // detaches it).
  bool DeleteKey(std::string_view path);

  // The remaining calls work on the open key; without one, reads find nothing and writes throw
  // "Failed to set data for '%s'". So do writes beyond Windows 95's limits (names of 255 bytes,
  // data of 16,300, about 60 KB per key) and values on a file's root (a root key, a hive's key).
  // Absent or without data: 0. REG_DWORD: its value. Another type: "Invalid data type for '%s'"
  // when the data fits in 4 bytes, "Failed to get data for '%s'" when longer.
  int32_t ReadInteger(std::string_view name) const;
  // Absent or without data: empty. REG_SZ / REG_EXPAND_SZ: text up to the first zero byte.
  // Another type: "Invalid data type for '%s'".
  std::string ReadString(std::string_view name) const;
  // The raw value, any type; empty when absent.
  std::optional<RegValue> ReadValue(std::string_view name) const;

  void WriteInteger(std::string_view name, int32_t value);          // REG_DWORD, 4 bytes
  void WriteString(std::string_view name, std::string_view value);  // REG_SZ
  void WriteBinaryData(std::string_view name, const std::vector<uint8_t>& data);
  void WriteValue(std::string_view name, uint32_t type, const std::vector<uint8_t>& data);
  bool DeleteValue(std::string_view name);

  // Creation order.
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;

  // Hives, as direct subkeys of HKEY_LOCAL_MACHINE or HKEY_USERS. The file is a Windows path on the
  // machine. LoadKey fails when the key exists, the file is missing or damaged, or already in use.
  bool LoadKey(std::string_view key, std::string_view windowsFile);
  // Detaches the hive; the file keeps every change.
  bool UnLoadKey(std::string_view key);
  // Saves the key's tree as a new registry file, the key's subkeys becoming the file's top-level
  // keys. Fails when the file exists or the key holds values (a file's root holds none).
  bool SaveKey(std::string_view key, std::string_view windowsFile);
  // Writes every file whose earlier write failed; false when there is no open key or that fails.
  // Inside a write batch the batch's end writes them.
  bool FlushKey();

 private:
  Registry& registry_;
  RootKey root_ = RootKey::CurrentUser;
  std::string path_;
  bool open_ = false;
};

}  // namespace tarnwick
