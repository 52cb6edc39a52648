#include "account/allowed_program.h"

#include <exception>

#include "base/text.h"
#include "formats/shell_link.h"
#include "formats/shell_link_resolve.h"
#include "machine/win_path.h"

namespace tarnwick {

std::optional<AllowedProgram> AllowedProgramOf(const Machine& machine, std::string_view picked) {
  std::string path(picked);
  if (EqualsIgnoreCase(ExtractFileExt(path), ".lnk")) {
    try {
      path = ResolveShellLinkFile(machine, picked);
    } catch (const std::exception&) {
      path.clear();
    }
  }
  if (path.empty()) return std::nullopt;
  return AllowedProgram{ExtractFileName(path), path};
}

}  // namespace tarnwick
