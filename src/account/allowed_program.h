// A program picked for a user's allowed programs, named as Windows matches it: by its file name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

class Machine;

struct AllowedProgram {
  std::string fileName;  // the entry of the allowed list, e.g. NOTEPAD.EXE
  std::string path;      // the program's full Windows path
};

// The program a picked file stands for: a shortcut (".lnk" in any letter case) is resolved to its
// program's short (8.3) path, any other file is taken as it is. Empty when a shortcut cannot be
// resolved (damaged, or its program gone).
std::optional<AllowedProgram> AllowedProgramOf(const Machine& machine, std::string_view picked);

}  // namespace tarnwick
