// A drive kept on a FAT volume inside a disk image file (raw or VHD), partitioned or not. The
// image stays open and locked for as long as the volume lives.
#pragma once

#include <memory>

#include "fat/fat_volume.h"
#include "machine/drive_volume.h"
#include "volume/image_file.h"

namespace tarnwick {

class ImageVolume final : public DriveVolume {
 public:
  // Opens the image read-write (read-only when the file cannot be written) and the FAT volume of
  // the partition given, else the first FAT partition (0: a disk without a partition table).
  // Throws BlockDeviceError (ImageBusyError when an emulator holds it) or FatError.
  ImageVolume(const std::filesystem::path& image, std::optional<int> partition, int codePage);
  ~ImageVolume() override;

  // "win95.img" or "win95.img, partition 1", as messages name the volume.
  const std::string& Name() const { return name_; }
  const FatVolume& Fat() const { return *fat_; }

  std::optional<VolumeEntry> Stat(const VolumePath& path) const override;
  std::vector<VolumeEntry> List(const VolumePath& directory) const override;
  std::vector<uint8_t> ReadFile(const VolumePath& path, size_t maxSize) const override;
  void WriteFile(const VolumePath& path, std::span<const uint8_t> bytes,
                 ReadOnlyFiles readOnly) override;
  bool MakeDirectory(const VolumePath& path) override;
  void RemoveTree(const VolumePath& path) override;
  void AddAttributes(const VolumePath& path, uint8_t attributes) override;
  std::optional<std::filesystem::path> HostPath(const VolumePath&) const override {
    return std::nullopt;
  }
  std::optional<std::string> Label() const override;
  std::optional<uint32_t> Serial() const override { return fat_->Serial(); }

 private:
  std::string FatPath(const VolumePath& path) const;
  void RemoveEntry(const std::string& path, const FatEntry& entry);

  std::string name_;
  std::unique_ptr<BlockDevice> disk_;
  std::unique_ptr<BlockDevice> partition_;
  std::unique_ptr<FatVolume> fat_;
};

}  // namespace tarnwick
