// The shell-link routines: create a shortcut, and resolve one to its target's 8.3 path. Paths are
// Windows paths (ANSI) on the given machine.
#pragma once

#include <optional>
#include <string>

namespace tarnwick {

class Machine;

// Writes linkFile as a shortcut to target, replacing any file of that name; an empty iconFile
// leaves the target's own icon, another names icon 0 of that file. Nothing is written on failure:
// throws an Error telling why.
void CreateShellLink(const Machine& machine, const std::string& target, const std::string& linkFile,
                     const std::string& description, const std::string& iconFile);

// The short (8.3) path of the shortcut's target; when the target has moved, the shortcut's
// relative path is tried from the shortcut's folder. Empty when the link is damaged or its target
// cannot be found.
std::optional<std::string> ResolveShellLink(const Machine& machine, const std::string& linkFile);

}  // namespace tarnwick
