// Little-endian integers in byte buffers (and PNG's big-endian one), and a reader that checks
// every access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
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

// Big-endian, as in PNG headers.
inline uint32_t GetBe32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
         static_cast<uint32_t>(bytes[at + 2]) << 8 | static_cast<uint32_t>(bytes[at + 3]);
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

// Reads little-endian fields of a byte range; a read past the end gives nothing instead of
// touching memory outside the range.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t Size() const { return bytes_.size(); }
  bool Has(size_t at, size_t count) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }

  std::optional<uint8_t> U8(size_t at) const {
    if (!Has(at, 1)) return std::nullopt;
    return bytes_[at];
  }
  std::optional<uint16_t> U16(size_t at) const {
    if (!Has(at, 2)) return std::nullopt;
    return Get16(bytes_, at);
  }
  std::optional<uint32_t> U32(size_t at) const {
    if (!Has(at, 4)) return std::nullopt;
    return Get32(bytes_, at);
  }
  std::optional<uint64_t> U64(size_t at) const {
    if (!Has(at, 8)) return std::nullopt;
    return Get64(bytes_, at);
  }
  // count bytes from at, or nothing when they run past the end.
  std::optional<std::span<const uint8_t>> Bytes(size_t at, size_t count) const {
    if (!Has(at, count)) return std::nullopt;
    return bytes_.subspan(at, count);
  }
  std::optional<std::string_view> Text(size_t at, size_t count) const {
    if (!Has(at, count)) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes_.data() + at), count);
  }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace tarnwick
