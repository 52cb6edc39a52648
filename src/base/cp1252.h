// Code page 1252 text, the machine's ANSI code page, and its UTF-8 form for the host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// Every byte has a UTF-8 form; the five bytes code page 1252 leaves undefined map to U+0081 etc.
std::string Cp1252ToUtf8(std::string_view ansi);
// Empty when the text holds a character that code page 1252 cannot hold, or is not valid UTF-8.
std::optional<std::string> Utf8ToCp1252(std::string_view utf8);
// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t cp);
// Whether text is well-formed UTF-8 (ASCII included).
bool IsValidUtf8(std::string_view text);
// The byte of one code point, or empty when code page 1252 cannot hold it.
std::optional<char> CodePointToCp1252(char32_t cp);
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D: bytes with no character, which no name may hold.
bool IsUndefinedInCp1252(char byte);

// Upper case as Windows 95 folds code page 1252: a-z, the accented letters 0xE0-0xFE but the
// division sign, and the pairs s/z caron, oe ligature and y diaeresis. Other bytes stay.
char UpperCp1252(char c);
// Equal once both are folded so; two names FAT stores as one.
bool EqualsIgnoreCaseCp1252(std::string_view a, std::string_view b);

}  // namespace tarnwick
