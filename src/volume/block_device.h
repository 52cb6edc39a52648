// Bytes of a disk or a volume addressed by offset: an image file, a partition of it, a virtual
// disk's contents. Reads and writes never reach past Size().
#pragma once

#include <cstdint>
#include <span>

#include "base/error.h"

namespace tarnwick {

// A device that cannot be read or written as asked: an I/O failure, a range outside the device,
// or a container whose structures are damaged. The text names the image.
class BlockDeviceError : public Error {
 public:
  using Error::Error;
};

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;

  virtual uint64_t Size() const = 0;
  // Fills out from offset; throws BlockDeviceError when the range is not inside the device.
  virtual void Read(uint64_t offset, std::span<uint8_t> out) const = 0;
  // Throws BlockDeviceError; a read-only device refuses every write.
  virtual void Write(uint64_t offset, std::span<const uint8_t> data) = 0;
  // Makes every write so far durable in the order given by the caller's earlier Flush calls.
  virtual void Flush() = 0;
  virtual bool ReadOnly() const = 0;
};

}  // namespace tarnwick
