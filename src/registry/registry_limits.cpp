#include "registry/registry_limits.h"

namespace tarnwick {

namespace {

constexpr size_t kKeyRecordHeader = 20;
constexpr size_t kValueRecordHeader = 12;

// Zero, and the five bytes code page 1252 leaves undefined, which the file readers cannot show.
constexpr std::string_view kBadNameBytes("\0\x81\x8D\x8F\x90\x9D", 6);

}  // namespace

bool IsValidKeyName(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos && IsValidValueName(name);
}

bool IsValidValueName(std::string_view name) {
  return name.size() <= kMaxRegNameLength &&
         name.find_first_of(kBadNameBytes) == std::string_view::npos;
}

size_t KeyRecordSize(const RegNode& key) {
  size_t size = kKeyRecordHeader + key.name.size();
  for (const RegValue& value : key.values) {
    size += kValueRecordHeader + value.name.size() + value.data.size();
  }
  return size;
}

bool FitsValue(const RegNode& key, std::string_view name, uint32_t type, size_t size) {
  if (!IsValidValueName(name) || size > kMaxRegDataSize) return false;
  if (type == kRegDword && size != 4) return false;
  size_t record = KeyRecordSize(key) + kValueRecordHeader + name.size() + size;
  if (const RegValue* old = key.FindValue(name)) {
    record -= kValueRecordHeader + old->name.size() + old->data.size();
  }
  return record <= kMaxKeyRecordSize;
}

}  // namespace tarnwick
