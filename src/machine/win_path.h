// Windows path text: 8-bit ANSI, "\" separators, drive letters and UNC names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace tarnwick {

// Appends one "\" to a path that is not empty and does not already end in one.
std::string AddTrailingBackslash(std::string_view path);

// The last component of a path: the text after the last "\" or ":".
std::string ExtractFileName(std::string_view path);
// The path up to and including the last "\" or ":".
std::string ExtractFilePath(std::string_view path);
// The extension: the text from the last "." that comes after the last "\" or ":".
std::string ExtractFileExt(std::string_view path);
// The path with its extension removed.
std::string RemoveFileExt(std::string_view path);

// A name Windows accepts for a file or directory: no control characters, none of <>:"|?*, and
// not made of dots only.
bool IsValidComponent(std::string_view name);
// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9: names of devices in every directory, whatever the
// extension, so no file or directory can have them.
bool IsDeviceName(std::string_view name);

// Components between "\" separators, empty ones dropped.
std::vector<std::string> SplitWindowsPath(std::string_view path);

}  // namespace tarnwick
