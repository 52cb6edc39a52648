// The shell's icon of a file, as the controls show it.
#pragma once

#include <QPixmap>
#include <string>

namespace tarnwick {

class Machine;

// The small (16) or large (32) icon of the file a Windows path names; null when the shell
// gives none (no such file).
QPixmap ShellFileIcon(const Machine& machine, const std::string& path, int size);

}  // namespace tarnwick
