// Several whole files of a machine replaced as one, by Windows path. Files on host directories go
// through one FileCommit (all or none after a kill); files on a disk image are each replaced so
// that a kill leaves every one of them old or new.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "machine/file_commit.h"
#include "machine/machine.h"

namespace tarnwick {

class MachineCommit {
 public:
  explicit MachineCommit(const Machine& machine);

  // Stages the new contents of a file. Throws FileWriteError for a path that does not map and,
  // on a host directory, when the temporary file cannot be written.
  void Stage(std::string_view windowsPath, std::span<const uint8_t> bytes,
             ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse);
  // Host files first, then image files in the order staged. Throws FileWriteError.
  void Commit();

 private:
  struct Pending {
    DriveVolume* volume;
    VolumePath path;
    std::vector<uint8_t> bytes;
    ReadOnlyFiles readOnly;
  };
  // The host folders the commit writes in: their temporary files and renames change them for the
  // machine's look-ups. Forgets them there once more when the commit is gone (declared before
  // host_, so after host_ removed the files of a commit never made).
  class StagedFolders {
   public:
    explicit StagedFolders(HostNameCache& names) : names_(names) {}
    ~StagedFolders() { Forget(); }
    StagedFolders(const StagedFolders&) = delete;
    StagedFolders& operator=(const StagedFolders&) = delete;
    void Add(std::filesystem::path dir);
    void Forget() const;

   private:
    HostNameCache& names_;
    std::vector<std::filesystem::path> dirs_;
  };

  const Machine& machine_;
  StagedFolders staged_;
  std::optional<FileCommit> host_;
  std::vector<Pending> images_;
};

}  // namespace tarnwick
