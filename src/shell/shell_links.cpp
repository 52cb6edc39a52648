#include "shell/shell_links.h"

#include "formats/shell_link_resolve.h"
#include "formats/shell_link_write.h"

namespace tarnwick {

int32_t CreateShellLink(const Machine& machine, const std::string& target,
                        const std::string& linkFile, const std::string& description,
                        const std::string& iconFile) {
  try {
    return WriteShellLinkFile(machine, target, linkFile, description, iconFile);
  } catch (const std::exception&) {
    return kShellFail;
  }
}

void ResolveShellLink(const Machine& machine, QWidget* /*owner*/, const std::string& linkFile,
                      std::string& outPath) {
  outPath.clear();
  try {
    outPath = ResolveShellLinkFile(machine, linkFile);
  } catch (const std::exception&) {
    outPath.clear();
  }
}

}  // namespace tarnwick
