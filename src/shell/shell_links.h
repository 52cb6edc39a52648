// The shell-link routines: create a shortcut file, and resolve one to its target's 8.3 path.
// Paths are Windows paths (ANSI) on the given machine.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace tarnwick {

class Machine;

// Writes linkFile as a shortcut to target, replacing any file of that name; an empty iconFile
// leaves the target's own icon, another names icon 0 of that file. Returns a shell result code,
// zero or positive on success; nothing is written on failure and no message is shown.
int32_t CreateShellLink(const Machine& machine, const std::string& target,
                        const std::string& linkFile, const std::string& description,
                        const std::string& iconFile);

// Sets outPath to the short (8.3) path of the shortcut's target; when the target has moved, the
// shortcut's relative path is tried from the shortcut's folder. outPath is empty on any failure.
// The owner would parent the shell's own search dialog; none is shown.
void ResolveShellLink(const Machine& machine, QWidget* owner, const std::string& linkFile,
                      std::string& outPath);

}  // namespace tarnwick
