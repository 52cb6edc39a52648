#include "base/byte_reader.h"

#include <string>

#include "base/bytes.h"

namespace tarnwick {

ByteRangeError::ByteRangeError(size_t offset, size_t count)
    : Error(std::to_string(count) + " bytes at offset " + std::to_string(offset) +
            " run past the end"),
      offset_(offset) {}

std::span<const uint8_t> ByteReader::Take(size_t at, size_t count) const {
  if (!Has(at, count)) throw ByteRangeError(origin_ + at, count);
  return bytes_.subspan(at, count);
}

uint16_t ByteReader::U16At(size_t at) const {
  return Get16(Take(at, 2), 0);
}

uint32_t ByteReader::U32At(size_t at) const {
  return Get32(Take(at, 4), 0);
}

uint64_t ByteReader::U64At(size_t at) const {
  return Get64(Take(at, 8), 0);
}

uint32_t ByteReader::U32BigEndianAt(size_t at) const {
  const auto b = Take(at, 4);
  return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
         static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3]);
}

uint16_t ByteReader::U16() {
  const uint16_t value = U16At(position_);
  position_ += 2;
  return value;
}

uint32_t ByteReader::U32() {
  const uint32_t value = U32At(position_);
  position_ += 4;
  return value;
}

void ByteReader::Skip(size_t count) {
  Take(position_, count);
  position_ += count;
}

}  // namespace tarnwick
