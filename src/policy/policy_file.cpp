#include "policy/policy_file.h"

#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {

std::string PolicyFilePathFor(std::string_view windowsDirectory) {
  return AddTrailingBackslash(windowsDirectory) + "Tarnex.pol";
}

std::string PolicyFilePathOf(const Machine& machine) {
  if (machine.Lab()) return LabPolicyFilePath(*machine.Lab());
  return PolicyFilePathFor(machine.WindowsDirectory());
}

std::string HiveKeyNameFor(std::string_view programPath) {
  return RemoveFileExt(ExtractFileName(programPath));
}

}  // namespace tarnwick
