// Bounds-checked reading of little-endian fields from a byte range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/error.h"

namespace tarnwick {

// A read that would run past the end of the bytes. The offset is where the read began, counted
// from the start of the outermost reader's bytes; each format turns this into its own error.
class ByteRangeError : public Error {
 public:
  ByteRangeError(size_t offset, size_t count);
  size_t Offset() const { return offset_; }

 private:
  size_t offset_;
};

// A cursor over a byte range. Reads at an offset leave the cursor alone; the others advance it.
// Every read is checked against the range, offsets that overflow included, and throws
// ByteRangeError instead of touching memory outside it.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes, 0) {}

  size_t Size() const { return bytes_.size(); }
  // Where this reader's first byte lies in the outermost reader's bytes.
  size_t Origin() const { return origin_; }
  size_t Position() const { return position_; }
  bool Has(size_t at, size_t count) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }

  uint8_t U8At(size_t at) const { return Take(at, 1)[0]; }
  uint16_t U16At(size_t at) const;
  uint32_t U32At(size_t at) const;
  uint64_t U64At(size_t at) const;
  uint32_t U32BigEndianAt(size_t at) const;
  std::span<const uint8_t> BytesAt(size_t at, size_t count) const { return Take(at, count); }
  // count bytes from at as a reader of their own, whose offsets count from at.
  ByteReader Sub(size_t at, size_t count) const {
    return ByteReader(Take(at, count), origin_ + at);
  }

  uint16_t U16();
  uint32_t U32();
  void Skip(size_t count);

 private:
  ByteReader(std::span<const uint8_t> bytes, size_t origin) : bytes_(bytes), origin_(origin) {}

  std::span<const uint8_t> Take(size_t at, size_t count) const;

  std::span<const uint8_t> bytes_;
  size_t origin_ = 0;
  size_t position_ = 0;
};

}  // namespace tarnwick
