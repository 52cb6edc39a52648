// Host directories seen the way Windows sees them: names found regardless of letter case, and
// whether one path lies inside another.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// The entry of dir that Windows takes for name (both UTF-8): the exact name when it exists, else
// the byte-wise smallest name equal to it ignoring ASCII letter case. Empty when there is none.
std::optional<std::string> FindEntryIgnoringCase(const std::filesystem::path& dir,
                                                 std::string_view name);

// True when path is root or lies below it, compared component by component; both paths are
// absolute and lexically normal, without a trailing separator.
bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& root);

}  // namespace tarnwick
