// Windows 95's limits on what one registry file may hold, checked before a change is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "registry/reg_tree.h"

namespace tarnwick {

inline constexpr size_t kMaxRegNameLength = 255;
inline constexpr size_t kMaxRegDataSize = 16300;
// A key's record (header, name and all values) must fit one data block.
inline constexpr size_t kMaxKeyRecordSize = 0xF000 - 32;

// 1 to 255 bytes, no "\", no zero byte and none of the bytes code page 1252 leaves undefined.
bool IsValidKeyName(std::string_view name);
// As a key name, but 0 bytes is the unnamed value.
bool IsValidValueName(std::string_view name);

// Bytes the key's record takes in a file: 20 + name + (12 + name + data) per value.
size_t KeyRecordSize(const RegNode& key);

// Whether key may hold the value (name, type, size bytes of data), replacing a value of the same
// name: a valid name, at most 16,300 bytes, REG_DWORD of exactly 4, the record within its limit.
bool FitsValue(const RegNode& key, std::string_view name, uint32_t type, size_t size);
// Why it may not, naming the limit it breaks; empty when it fits.
std::string ValueMisfit(const RegNode& key, std::string_view name, uint32_t type, size_t size);

}  // namespace tarnwick
