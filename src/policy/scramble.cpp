#include "policy/scramble.h"

namespace tarnwick {

namespace {

constexpr uint32_t kMultiplier = 46597;
constexpr uint32_t kAddend = 12089;

// Unsigned 32-bit arithmetic, truncated to 16 bits: the product overflows a signed int.
uint16_t NextKey(uint16_t key, uint8_t scrambled) {
  return static_cast<uint16_t>((uint32_t{key} + scrambled) * kMultiplier + kAddend);
}

}  // namespace

std::string ScrambleText(std::string_view text, uint16_t key) {
  std::string result(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto out = static_cast<uint8_t>(static_cast<uint8_t>(text[i]) ^ (key >> 8));
    result[i] = static_cast<char>(out);
    key = NextKey(key, out);
  }
  return result;
}

std::string UnscrambleText(std::string_view text, uint16_t key) {
  std::string result(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto in = static_cast<uint8_t>(text[i]);
    result[i] = static_cast<char>(in ^ (key >> 8));
    key = NextKey(key, in);
  }
  return result;
}

}  // namespace tarnwick
