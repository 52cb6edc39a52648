// Writing a shortcut to a file of a machine: what the link records about its target (attributes,
// size, times, volume) is read from the machine's drives and host files.
#pragma once

#include <string_view>

namespace tarnwick {

class Machine;

// Writes linkFile (a Windows path whose folder exists) as a link to the existing target, both
// on the machine. A UNC target (\\SERVER\SHARE\...) is linked with its network location when
// a network drive of the machine has that remote name. Nothing is written on failure: throws
// ShellLinkWriteError, ShellLinkEncodeError or FileWriteError.
void WriteShellLinkFile(const Machine& machine, std::string_view target, std::string_view linkFile,
                        std::string_view description, std::string_view iconFile);

}  // namespace tarnwick
