// An in-memory block device and a small FAT12 volume for the FAT harness and its seeds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "volume/block_device.h"

namespace tarnwick::fuzz {

class MemoryDevice : public BlockDevice {
 public:
  explicit MemoryDevice(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  uint64_t Size() const override { return bytes_.size(); }
  void Read(uint64_t offset, std::span<uint8_t> out) const override {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
      throw BlockDeviceError("read outside the device");
    }
    std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
  }
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    if (offset > bytes_.size() || data.size() > bytes_.size() - offset) {
      throw BlockDeviceError("write outside the device");
    }
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<ptrdiff_t>(offset));
  }
  void Flush() override {}
  bool ReadOnly() const override { return false; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// An empty FAT12 volume of 128 sectors: one reserved, two FATs of one sector, 16 root entries.
inline std::vector<uint8_t> EmptyFat12() {
  std::vector<uint8_t> image(128 * 512, 0);
  const uint8_t boot[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.',  '1', 0x00,
                          0x02, 1,    1,    0,   2,   16,  0,   128, 0,   0xF8, 1,   0};
  std::copy(std::begin(boot), std::end(boot), image.begin());
  image[510] = 0x55;
  image[511] = 0xAA;
  for (size_t fat : {512u, 1024u}) {
    image[fat] = 0xF8;
    image[fat + 1] = 0xFF;
    image[fat + 2] = 0xFF;
  }
  return image;
}

}  // namespace tarnwick::fuzz
