// Several whole-file replacements made as one: after a kill at any moment, and the next
// CompleteFileCommit in the record's directory, either every file is replaced or none is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "machine/atomic_file.h"

namespace tarnwick {

// The record of a commit in progress, in the directory given to FileCommit.
inline constexpr const char* kCommitRecordName = "tarnwick.commit";

class FileCommit {
 public:
  // recordDir keeps the record of the renames while they happen (the machine directory).
  explicit FileCommit(std::filesystem::path recordDir);
  // Removes the temporary files of a commit that never wrote its record.
  ~FileCommit();
  FileCommit(const FileCommit&) = delete;
  FileCommit& operator=(const FileCommit&) = delete;

  // Writes the new contents of file to a temporary file beside it (".NAME.tmp-...", created new,
  // never through a link, in folders opened without following one), with the old file's
  // permissions, flushed to disk. Nothing visible changes. Throws FileWriteError, also for a
  // read-only file unless readOnly says to replace it.
  void Stage(const std::filesystem::path& file, std::span<const uint8_t> bytes,
             ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse);

  // Renames every staged file over its target and flushes the directories. With more than one
  // file, a record listing the renames is written durably first and removed after, so that a kill
  // in between is completed by CompleteFileCommit. Throws FileWriteError: before the record is
  // written nothing has changed; after it, the record stays for CompleteFileCommit.
  void Commit();

 private:
  struct Entry {
    UniqueFd dir;
    std::filesystem::path dirPath;
    std::string temp;  // names in dir
    std::string name;
  };

  std::filesystem::path recordDir_;
  std::vector<Entry> entries_;
  bool recorded_ = false;
};

// Finishes the renames of a commit whose record a kill left in recordDir and removes the record;
// does nothing without one. Call it under the lock of the files, before they are read. Throws
// FileWriteError when a rename fails or the record is not one.
void CompleteFileCommit(const std::filesystem::path& recordDir);

// Removes the temporary files that a kill left beside the named files of dir (".NAME.tmp-*",
// names compared ignoring ASCII case). A missing dir has none.
void RemoveTemporaryFiles(const std::filesystem::path& dir, std::span<const std::string> names);

}  // namespace tarnwick
