// Text helpers shared by the file readers: trimming and ASCII case folding.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// Without leading and trailing blanks and control characters (bytes up to 0x20), so that a line
// read with either line end trims the same.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);

// ASCII-only case folding, as Windows 95 compares key, value and file names.
char UpperAscii(char c);
std::string UpperAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace tarnwick
