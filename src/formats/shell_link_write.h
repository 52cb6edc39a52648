// Writing a shortcut to a file of a machine: what the link records about its target (attributes,
// size, times, volume) is read from the machine's drives and host files.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick {

class Machine;

// Shell result codes: zero or positive is success.
inline constexpr int32_t kShellOk = 0;
inline constexpr int32_t kShellFail = static_cast<int32_t>(0x80004005);             // E_FAIL
inline constexpr int32_t kShellInvalidArgument = static_cast<int32_t>(0x80070057);  // E_INVALIDARG
inline constexpr int32_t kShellFileNotFound = static_cast<int32_t>(0x80070002);
inline constexpr int32_t kShellPathNotFound = static_cast<int32_t>(0x80070003);
inline constexpr int32_t kShellWriteFault = static_cast<int32_t>(0x8003001D);  // STG_E_WRITEFAULT

// Writes linkFile (a Windows path whose folder exists) as a link to the existing target, both
// on the machine. A UNC target (\\SERVER\SHARE\...) is linked with its network location when
// a network drive of the machine has that remote name. Returns a shell result code; nothing is
// written on failure.
int32_t WriteShellLinkFile(const Machine& machine, std::string_view target,
                           std::string_view linkFile, std::string_view description,
                           std::string_view iconFile);

}  // namespace tarnwick
