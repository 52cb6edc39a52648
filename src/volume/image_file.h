// A host image file as a block device, held with the locks an emulator takes, so that neither
// opens an image the other has.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "volume/block_device.h"

namespace tarnwick {

// The image is held by another program (an emulator running the machine, another Tarnwick).
class ImageBusyError : public BlockDeviceError {
 public:
  using BlockDeviceError::BlockDeviceError;
};

class ImageFile final : public BlockDevice {
 public:
  enum class Mode { ReadOnly, ReadWrite };

  // Read-write takes an exclusive flock and an exclusive open-file-description lock on the whole
  // file; read-only takes shared ones. Throws ImageBusyError when another program holds the image
  // for writing (or, read-write, at all), BlockDeviceError when it cannot be opened.
  ImageFile(const std::filesystem::path& path, Mode mode);
  ~ImageFile() override;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  uint64_t Size() const override { return size_; }
  void Read(uint64_t offset, std::span<uint8_t> out) const override;
  void Write(uint64_t offset, std::span<const uint8_t> data) override;
  void Flush() override;
  bool ReadOnly() const override { return readOnly_; }

  // Writes data at offset, growing the file when it ends past the end; bytes between the old end
  // and offset read as zero. One write: a kill leaves the file as it was or with all of data.
  void WriteExtending(uint64_t offset, std::span<const uint8_t> data);
  const std::filesystem::path& Path() const { return path_; }

 private:
  void Lock();
  void WriteAt(uint64_t offset, std::span<const uint8_t> data);
  [[noreturn]] void Fail(const char* what) const;

  std::filesystem::path path_;
  bool readOnly_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace tarnwick
