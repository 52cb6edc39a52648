// The registry's trees: the machine's two files and the hives attached below its root keys.
#pragma once

#include <filesystem>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "machine/drive_volume.h"
#include "registry/reg_tree.h"
#include "registry/registry.h"

namespace tarnwick {

class Registry::Impl {
 public:
  // One registry file in memory.
  // A Windows path as the machine resolves it: on a host directory its host path, on an image
  // its volume and the names of its entries. Empty volume: the path leads nowhere.
  struct ResolvedPath {
    const DriveVolume* volume = nullptr;
    std::optional<std::filesystem::path> host;
    std::vector<std::string> entries;
  };

  struct Hive {
    std::string windowsPath;
    // windowsPath resolved when first compared with another file (again while it leads
    // nowhere): a batch of many saved files compares each new one with all the others.
    mutable std::optional<ResolvedPath> resolved;
    std::unique_ptr<RegNode> root;
    bool dirty = false;    // the file lacks changes
    bool batched = false;  // changed while a write batch was open
    // SYSTEM.DAT and USER.DAT: where the file is kept before the run's first change (a Windows
    // path), and the bytes read, which become that backup.
    std::optional<std::string> backupPath;
    bool backedUp = false;
    std::vector<uint8_t> original;
  };

  // A key and the file it lives in.
  struct Location {
    Hive* hive;
    RegNode* node;
    bool created = false;  // keys were created on the way
  };

  explicit Impl(const Machine& machine);

  const Machine& GetMachine() const { return machine_; }

  // Walks path below root, creating missing keys when create. Empty when a key is missing (and
  // not create) or its name is invalid.
  std::optional<Location> Locate(RootKey root, std::string_view path, bool create);
  // Subkey names of the key at path, attached hives included at a root key.
  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path);
  bool DeleteKey(RootKey root, std::string_view path);

  bool LoadKey(RootKey root, std::string_view key, std::string_view windowsFile);
  bool UnLoadKey(RootKey root, std::string_view key);
  bool SaveKey(RootKey root, std::string_view key, std::string_view windowsFile);
  // Whether the file exists, or a hive saved in the open write batch is to create it.
  bool FileExists(std::string_view windowsFile) const;

  // Writes the hive's file when it has changed, or inside a write batch leaves that to the batch's
  // end. False when the write failed: the change stays in memory and is written again at the next
  // flush.
  bool Save(Hive& hive);
  // Writes every changed file; throws RegistryFileError for the first that failed after trying
  // all of them.
  void Flush();
  void DiscardChanges();

  // Why the last file write failed: the file, the step and the system's reason.
  const std::string& LastWriteError() const { return lastWriteError_; }

  void OpenBatch() { ++batchDepth_; }
  // Closes a batch; the outermost one writes the files changed while it was open, throwing as
  // Flush does.
  void CloseBatch();
  // Writes the files changed while a batch was open and not written since, throwing as Flush does.
  void WriteBatched();
  bool InBatch() const { return batchDepth_ > 0; }
  // Inside a batch: leaves every changed file, those whose write failed before too, to its end.
  void LeaveToBatch();

 private:
  struct Mount {
    RootKey root;
    std::string name;
    Hive hive;
  };

  Hive OpenMachineFile(const std::string& fileName, const std::string& backupName) const;
  Hive* RootHive(RootKey root);
  Mount* FindMount(RootKey root, std::string_view name);
  // Whether a hive of this registry has the file, found as the machine resolves both paths.
  bool IsInUse(std::string_view windowsFile) const;
  std::list<Hive>::iterator FindUnattached(std::string_view windowsFile);
  // Whether the hive's file is the file resolved, as SameFile compares them; fileExists tells
  // whether a host file lies at file's path.
  bool IsFileOf(const Hive& hive, const ResolvedPath& file, bool fileExists) const;
  ResolvedPath Resolve(std::string_view windowsPath) const;
  // Writes the files of hives as one commit, each SYSTEM.DAT and USER.DAT after its backup. Every
  // file is encoded first: when one cannot be, or the commit fails, no file changes and the hives
  // stay dirty. Records why a commit failed.
  void Commit(const std::vector<Hive*>& hives);
  template <typename Visit>
  void ForEachHive(Visit visit);
  // Writes each dirty hive that take(hive) selects, as Flush describes.
  template <typename Select>
  void WriteEach(Select take);

  const Machine& machine_;
  Hive system_;
  Hive user_;
  std::list<Mount> mounts_;  // attach order
  // Hives detached or saved as new files in a write batch, written at its end.
  std::list<Hive> unattached_;
  int batchDepth_ = 0;
  std::string lastWriteError_;
};

}  // namespace tarnwick
