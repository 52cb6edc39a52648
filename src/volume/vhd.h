// Virtual PC hard disk images (VHD): fixed, dynamic and differencing. Reads never load the image
// whole: the block allocation table is the only structure held in memory.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "volume/block_device.h"
#include "volume/image_file.h"

namespace tarnwick {

enum class VhdType : uint32_t { Fixed = 2, Dynamic = 3, Differencing = 4 };

// The 512-byte footer at the end of every VHD (and its copy at the start of a dynamic one).
struct VhdFooter {
  static constexpr size_t kSize = 512;
  uint64_t dataOffset = 0;
  uint64_t currentSize = 0;
  VhdType type = VhdType::Fixed;
  std::array<uint8_t, 16> uniqueId{};
  bool savedState = false;
};

// Whether the last sector of `file` starts with the footer's cookie.
bool HasVhdFooter(const BlockDevice& file);

// Checks cookie and checksum of a footer; throws BlockDeviceError naming `name`.
VhdFooter ParseVhdFooter(std::span<const uint8_t> bytes, const std::string& name);

// One's complement of the byte sum, the checksum field itself left out.
uint32_t VhdChecksum(std::span<const uint8_t> bytes, size_t checksumAt);

class VhdDevice final : public BlockDevice {
 public:
  // Takes the opened image file. The parent of a differencing image is found beside it and
  // opened read-only. Throws BlockDeviceError naming the image when it is damaged.
  explicit VhdDevice(std::unique_ptr<ImageFile> file);
  ~VhdDevice() override;

  uint64_t Size() const override { return size_; }
  void Read(uint64_t offset, std::span<uint8_t> out) const override;
  void Write(uint64_t offset, std::span<const uint8_t> data) override;
  void Flush() override { file_->Flush(); }
  bool ReadOnly() const override { return file_->ReadOnly(); }

  VhdType Type() const { return footer_.type; }
  const VhdDevice* Parent() const { return parent_.get(); }

 private:
  VhdDevice(std::unique_ptr<ImageFile> file, int depth);
  void Open(int depth);
  void OpenParent(std::span<const uint8_t> header, int depth);
  [[noreturn]] void Damaged(const std::string& what) const;
  void ReadInBlock(uint64_t offset, std::span<uint8_t> out) const;
  void WriteInBlock(uint64_t offset, std::span<const uint8_t> data);
  // Appends an empty block to the file and returns its offset; the table is not yet changed.
  uint64_t AllocateBlock();
  uint64_t BitmapBytes() const;

  std::unique_ptr<ImageFile> file_;
  std::string name_;
  VhdFooter footer_;
  std::array<uint8_t, VhdFooter::kSize> footerBytes_{};
  uint64_t size_ = 0;
  uint64_t tableOffset_ = 0;
  uint32_t blockSize_ = 0;
  std::vector<uint32_t> table_;
  std::unique_ptr<VhdDevice> parent_;
};

}  // namespace tarnwick
