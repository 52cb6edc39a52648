// Little-endian integers in byte buffers the caller has sized: writing, and the unchecked reads
// beneath ByteReader (base/byte_reader.h), which every format reads with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick {

// Unchecked: the caller has checked that the bytes at `at` exist.
inline uint16_t Get16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

inline uint32_t Get32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

inline uint64_t Get64(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint64_t>(Get32(bytes, at)) | static_cast<uint64_t>(Get32(bytes, at + 4))
                                                       << 32;
}

inline void Put16(std::span<uint8_t> bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(std::span<uint8_t> bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void Put64(std::span<uint8_t> bytes, size_t at, uint64_t value) {
  Put32(bytes, at, static_cast<uint32_t>(value));
  Put32(bytes, at + 4, static_cast<uint32_t>(value >> 32));
}

// Little-endian integers added at the end of a growing buffer.
inline void Append16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void Append32(std::vector<uint8_t>& out, uint32_t value) {
  Append16(out, static_cast<uint16_t>(value));
  Append16(out, static_cast<uint16_t>(value >> 16));
}

inline void Append64(std::vector<uint8_t>& out, uint64_t value) {
  Append32(out, static_cast<uint32_t>(value));
  Append32(out, static_cast<uint32_t>(value >> 32));
}

}  // namespace tarnwick
