// Key paths the policy store shares between its parts.
#pragma once

#include <string_view>

namespace tarnwick {

// Below HKEY_LOCAL_MACHINE of the machine's own registry; the user name follows.
inline constexpr std::string_view kProfileListKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\";
inline constexpr std::string_view kProfileImagePath = "ProfileImagePath";

}  // namespace tarnwick
