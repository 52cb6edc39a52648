// The program's reversible scrambling of its password.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr uint16_t kScrambleSeed = 24917;

// Each byte is XORed with the high byte of a key register that starts at key and then advances by
// the scrambled byte. Both return a text of the input's length.
std::string ScrambleText(std::string_view text, uint16_t key);
std::string UnscrambleText(std::string_view text, uint16_t key);

}  // namespace tarnwick
