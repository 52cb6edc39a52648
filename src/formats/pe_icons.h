// Icon resources of Windows executables and DLLs: 32- and 64-bit PE files and 16-bit NE files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwick {

// One RT_GROUP_ICON resource: an icon as the user sees it.
struct ExeIconGroup {
  std::optional<uint16_t> id;  // integer name; empty for a named group
  std::u16string name;         // the name of a named group
  uint16_t language = 0;       // of the group data used (the first language stored); 0 in NE files
};

// Icon resources larger than this are treated as damaged.
inline constexpr uint32_t kMaxIconResourceSize = 1u << 20;

// What an executable holds for icons. None: a program without icon groups (MS-DOS, LE, LX, or
// a Windows program without icons). Damaged: no full MZ header, or PE or NE headers or a
// resource directory that cannot be read.
enum class ExeIcons { None, Some, Damaged };
ExeIcons ExeIconState(std::span<const uint8_t> file);

// The icon groups in resource-directory order, which is the order icon indexes count in (named
// groups first, then numbered ones). Empty when the file has no icons, is no PE or NE file, or
// its headers or resource directory are damaged.
std::vector<ExeIconGroup> ListExeIconGroups(std::span<const uint8_t> file);

// The icon at an icon index rebuilt as .ico file bytes. An index >= 0 counts groups in directory
// order (0 is the file's own icon); an index < 0 names the group whose integer ID is -index.
// Images whose RT_ICON resource is missing or unreadable are left out. Empty when there is no
// such group, none of its images remain, or the file is damaged.
std::optional<std::vector<uint8_t>> ExtractExeIcon(std::span<const uint8_t> file, int32_t index);

}  // namespace tarnwick
