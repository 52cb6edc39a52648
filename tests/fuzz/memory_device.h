// A block device over bytes in memory, for the harnesses of the disk image readers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "volume/block_device.h"

namespace tarnwick::fuzz {

class MemoryDevice final : public BlockDevice {
 public:
  explicit MemoryDevice(std::span<const uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}

  uint64_t Size() const override { return bytes_.size(); }
  void Read(uint64_t offset, std::span<uint8_t> out) const override {
    Check(offset, out.size());
    std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
  }
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    Check(offset, data.size());
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<ptrdiff_t>(offset));
  }
  void Flush() override {}
  bool ReadOnly() const override { return false; }

 private:
  void Check(uint64_t offset, uint64_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) {
      throw BlockDeviceError("outside the memory device");
    }
  }

  std::vector<uint8_t> bytes_;
};

}  // namespace tarnwick::fuzz
