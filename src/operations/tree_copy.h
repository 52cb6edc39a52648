// Copying a directory's contents into another the way the shell's copy does it.
#pragma once

#include <cstdint>
#include <filesystem>

#include "operations/file_operations.h"

namespace tarnwick {

class OperationPrompter;

class TreeCopy {
 public:
  explicit TreeCopy(OperationPrompter& prompter) : prompter_(prompter) {}

  // Copies everything inside source into destination (existing host directories), merging
  // folders and asking before replacing. Throws FileOperationError.
  OperationResult Run(const std::filesystem::path& source,
                      const std::filesystem::path& destination);

 private:
  OperationResult CopyContents(const std::filesystem::path& from, const std::filesystem::path& to);
  OperationResult CopyFolder(const std::filesystem::path& from, const std::filesystem::path& to);
  OperationResult CopyFile(const std::filesystem::path& from, const std::filesystem::path& to);
  // Counts units done; Cancelled once the person asked to stop.
  OperationResult Advance(uint64_t units);

  OperationPrompter& prompter_;
  std::filesystem::path destinationRoot_;
  uint64_t totalUnits_ = 0;
  uint64_t doneUnits_ = 0;
  bool replaceAllFiles_ = false;
  bool mergeAllFolders_ = false;
};

}  // namespace tarnwick
