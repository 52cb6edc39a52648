// The OEM code pages that FAT short names are stored in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "fat/fat_error.h"

namespace tarnwick {

class OemCodePage {
 public:
  // 437 (United States) or 850 (Western Europe); throws FatError for any other.
  explicit OemCodePage(int number = 437);

  int Number() const { return number_; }
  char32_t ToUnicode(uint8_t byte) const;
  // Empty when the code page cannot hold cp.
  std::optional<uint8_t> FromUnicode(char32_t cp) const;

 private:
  int number_;
  const std::array<char16_t, 128>* high_;
};

}  // namespace tarnwick
