// The file chooser's filter of program files.
#pragma once

#include <string_view>

namespace tarnwick {

inline constexpr std::string_view kApplicationFilter =
    "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif";

}  // namespace tarnwick
