// Copying a directory's contents into another the way the shell's copy does it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "machine/drive_volume.h"
#include "operations/file_operations.h"

namespace tarnwick {

class Machine;
class OperationPrompter;

class TreeCopy {
 public:
  TreeCopy(const Machine& machine, OperationPrompter& prompter)
      : machine_(machine), prompter_(prompter) {}

  // Copies everything inside source into destination (existing directories, Windows paths of the
  // machine), merging folders and asking before replacing. Throws FileOperationError.
  OperationResult Run(const std::string& source, const std::string& destination);

 private:
  OperationResult CopyContents(const std::string& from, const std::string& to);
  OperationResult CopyFolder(const std::string& from, const std::string& to);
  OperationResult CopyFile(const std::string& from, const VolumeEntry& source,
                           const std::string& to);
  // Counts units done; Cancelled once the person asked to stop.
  OperationResult Advance(uint64_t units);

  // The entries of a folder Windows sees, sorted by name without regard to case.
  std::vector<VolumeEntry> Entries(const std::string& folder) const;
  // The entry of folder that Windows takes for name, under the name it is stored with.
  std::optional<VolumeEntry> FindEntry(const std::string& folder, const std::string& name) const;
  // Where a path leads, the same for every path to one entry.
  std::filesystem::path Where(const std::string& path) const;
  // Progress units: every file's bytes plus one, so that empty files count too.
  uint64_t UnitsBelow(const std::string& folder) const;
  // Gives the copy at path the source's write time, as the shell's copy does.
  void KeepWriteTime(const std::string& from, const VolumeEntry& source,
                     const std::string& path) const;

  const Machine& machine_;
  OperationPrompter& prompter_;
  std::filesystem::path destinationRoot_;
  uint64_t totalUnits_ = 0;
  uint64_t doneUnits_ = 0;
  bool replaceAllFiles_ = false;
  bool mergeAllFolders_ = false;
};

}  // namespace tarnwick
