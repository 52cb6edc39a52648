#include "shell/shell_links.h"

#include "formats/shell_link.h"

namespace tarnwick {

void CreateShellLink(const Machine& machine, const std::string& target, const std::string& linkFile,
                     const std::string& description, const std::string& iconFile) {
  WriteShellLinkFile(machine, target, linkFile, description, iconFile);
}

std::optional<std::string> ResolveShellLink(const Machine& machine, const std::string& linkFile) {
  std::string path;
  try {
    path = ResolveShellLinkFile(machine, linkFile);
  } catch (const Error&) {
    // A link file off the machine's drives is one that cannot be found.
  }
  if (path.empty()) return std::nullopt;
  return path;
}

}  // namespace tarnwick
