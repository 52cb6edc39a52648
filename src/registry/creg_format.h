// Layout constants and byte helpers shared by the CREG reader and writer.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tarnwick::creg {

inline constexpr uint32_t kNone = 0xFFFFFFFF;
inline constexpr uint16_t kNoId = 0xFFFF;

inline constexpr size_t kFileHeaderSize = 0x20;
inline constexpr size_t kRgknOffset = 0x20;  // file offset of the key navigation block
inline constexpr size_t kRgknHeaderSize = 0x20;
inline constexpr uint32_t kRootEntry = 0x20;  // RGKN offset of the root's entry
inline constexpr size_t kEntrySize = 28;
inline constexpr size_t kFirstChunkSize = 0x2000;
inline constexpr size_t kChunkSize = 0x1000;
inline constexpr uint32_t kEntryInUse = 0;
inline constexpr uint32_t kEntryFree = 0x80000000;

inline constexpr size_t kBlockHeaderSize = 0x20;
inline constexpr size_t kBlockGranularity = 0x1000;
inline constexpr size_t kMaxBlockSize = 0xF000;
inline constexpr size_t kMaxKeysPerBlock = 255;
inline constexpr size_t kMaxBlockCount = 0xFFFF;
inline constexpr size_t kKeyRecordHeaderSize = 20;
inline constexpr size_t kValueRecordHeaderSize = 12;

// Windows 95's own limits, checked before writing.
inline constexpr size_t kMaxNameLength = 255;
inline constexpr size_t kMaxValueDataSize = 16300;
inline constexpr size_t kMaxKeyRecordSize = kMaxBlockSize - kBlockHeaderSize;

inline uint16_t Get16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

inline uint32_t Get32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

inline void Put16(std::span<uint8_t> bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(std::span<uint8_t> bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Sum of the name's bytes below 0x80 with a-z folded to upper case; bytes 0x80-0xFF add nothing.
inline uint32_t KeyNameHash(std::string_view name) {
  uint32_t hash = 0;
  for (char c : name) {
    auto b = static_cast<uint8_t>(c);
    if (b >= 0x80) continue;
    hash += (b >= 'a' && b <= 'z') ? b - 0x20 : b;
  }
  return hash;
}

}  // namespace tarnwick::creg
