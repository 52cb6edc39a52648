#include "controls/control_icons.h"

#include "shell/file_icons.h"

namespace tarnwick {

QPixmap ShellFileIcon(const Machine& machine, const std::string& path, int size) {
  return FileIcon(machine, path, size);
}

}  // namespace tarnwick
