// Text helpers shared by the file readers and the stores: trimming, ASCII case folding and the
// control-character rule.
#pragma once

#include <cstddef>
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
std::string LowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Bytes below 0x20 and 0x7F. No name, path or text the program takes may hold one: a line break
// would read back as a line of its own, in an INI file as in the tools' output.
bool IsControlCharacter(char c);
// The position of the first control character, or npos.
size_t FindControlCharacter(std::string_view text);
// Throws Error "<what> cannot hold a control character such as a line break or a tab (it holds
// byte 0x0A)"; the text itself stays out of the message.
void CheckNoControlCharacters(std::string_view text, std::string_view what);

}  // namespace tarnwick
