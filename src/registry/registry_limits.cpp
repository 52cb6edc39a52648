#include "registry/registry_limits.h"

#include <algorithm>

#include "base/cp1252.h"

namespace tarnwick {

namespace {

constexpr size_t kKeyRecordHeader = 20;
constexpr size_t kValueRecordHeader = 12;

}  // namespace

bool IsValidKeyName(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos && IsValidValueName(name);
}

bool IsValidValueName(std::string_view name) {
  // Zero, and the bytes code page 1252 leaves undefined, which the file readers cannot show.
  return name.size() <= kMaxRegNameLength && std::none_of(name.begin(), name.end(), [](char c) {
           return c == '\0' || IsUndefinedInCp1252(c);
         });
}

size_t KeyRecordSize(const RegNode& key) {
  size_t size = kKeyRecordHeader + key.name.size();
  for (const RegValue& value : key.values) {
    size += kValueRecordHeader + value.name.size() + value.data.size();
  }
  return size;
}

bool FitsValue(const RegNode& key, std::string_view name, uint32_t type, size_t size) {
  return ValueMisfit(key, name, type, size).empty();
}

std::string ValueMisfit(const RegNode& key, std::string_view name, uint32_t type, size_t size) {
  if (!IsValidValueName(name)) {
    return "a value name holds at most " + std::to_string(kMaxRegNameLength) +
           " characters, none of them \\ or undefined in code page 1252";
  }
  if (size > kMaxRegDataSize) {
    return "the data takes " + std::to_string(size) + " bytes; Windows 95 keeps at most " +
           std::to_string(kMaxRegDataSize) + " bytes in one value";
  }
  if (type == kRegDword && size != 4) return "a DWORD value holds exactly 4 bytes";
  size_t record = KeyRecordSize(key) + kValueRecordHeader + name.size() + size;
  if (const RegValue* old = key.FindValue(name)) {
    record -= kValueRecordHeader + old->name.size() + old->data.size();
  }
  if (record > kMaxKeyRecordSize) {
    return "the key's values would take " + std::to_string(record) +
           " bytes; Windows 95 keeps at most " + std::to_string(kMaxKeyRecordSize) +
           " bytes in one key";
  }
  return {};
}

}  // namespace tarnwick
