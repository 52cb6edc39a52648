// Where the file chooser looks for programs: the machine's Program Files folder, and the
// filter of program files.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

class PolicyStore;

inline constexpr std::string_view kApplicationFilter =
    "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif";

// "ProgramFilesDir" of the machine when it names an existing folder; else empty. Throws the
// registry's error for a value that is not text.
std::string ProgramFilesFolder(const PolicyStore& store);

}  // namespace tarnwick
