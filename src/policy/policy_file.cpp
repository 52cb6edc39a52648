#include "policy/policy_file.h"

#include "machine/win_path.h"

namespace tarnwick {

std::string PolicyFilePathFor(std::string_view windowsDirectory) {
  return AddTrailingBackslash(windowsDirectory) + "Tarnex.pol";
}

std::string HiveKeyNameFor(std::string_view programPath) {
  return RemoveFileExt(ExtractFileName(programPath));
}

}  // namespace tarnwick
