// Layout constants shared by the CREG reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
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
