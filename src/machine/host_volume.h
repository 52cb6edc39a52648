// A drive kept in a directory of the host. Every change goes through folders held open without
// following a symbolic link, so a link swapped in after a look-up cannot redirect it.
#pragma once

#include <memory>

#include "machine/drive_volume.h"
#include "machine/host_dir.h"
#include "machine/host_names.h"

namespace tarnwick {

class HostVolume final : public DriveVolume {
 public:
  // root: the drive's directory, absolute and canonical; letter names it in messages. names and
  // flush are the machine's, shared by all its host volumes (their directories may overlap).
  HostVolume(std::filesystem::path root, char letter, std::shared_ptr<HostNameCache> names,
             std::shared_ptr<DeferredFlush> flush)
      : root_(std::move(root)),
        letter_(letter),
        names_(std::move(names)),
        flush_(std::move(flush)) {}

  // What walks through the volume's folders have read of them. A change made in a folder other
  // than through this volume must tell it.
  HostNameCache& Names() const { return *names_; }

  // The host path of path, links followed as DriveWalk follows them (with followFinalLink false
  // a link at the last component is the result). Empty when the path would leave the drive.
  std::optional<std::filesystem::path> Resolve(const VolumePath& path,
                                               bool followFinalLink = true) const;
  // The folder holding the last component, held open, and that component's host name. Throws
  // FileWriteError for the root or a path that leaves the drive; a failed open leaves dir invalid
  // and error set.
  HeldPath Hold(const VolumePath& path) const;

  std::optional<VolumeEntry> Stat(const VolumePath& path) const override;
  std::vector<VolumeEntry> List(const VolumePath& directory) const override;
  std::vector<uint8_t> ReadFile(const VolumePath& path, size_t maxSize) const override;
  void WriteFile(const VolumePath& path, std::span<const uint8_t> bytes,
                 ReadOnlyFiles readOnly) override;
  bool MakeDirectory(const VolumePath& path) override;
  void RemoveTree(const VolumePath& path) override;
  bool Move(const VolumePath& from, const VolumePath& to) override;
  void RemoveDirectory(const VolumePath& path) override;
  void AddAttributes(const VolumePath& path, uint8_t attributes) override;
  uint32_t ClusterSize() const override;
  bool ListsAll(const VolumePath& directory) const override;
  std::optional<std::filesystem::path> HostPath(const VolumePath& path) const override {
    return Resolve(path);
  }
  std::optional<std::string> Label() const override { return std::nullopt; }
  std::optional<uint32_t> Serial() const override { return std::nullopt; }

 private:
  std::filesystem::path root_;
  char letter_;
  std::shared_ptr<HostNameCache> names_;
  std::shared_ptr<DeferredFlush> flush_;
};

}  // namespace tarnwick
