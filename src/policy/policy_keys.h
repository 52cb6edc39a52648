// Key paths the policy store shares between its parts.
#pragma once

#include <string_view>

namespace tarnwick {

// Below HKEY_LOCAL_MACHINE of the machine's own registry; the user name follows.
inline constexpr std::string_view kProfileListKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\";
inline constexpr std::string_view kProfileImagePath = "ProfileImagePath";

// Below a user's key in the policy file.
inline constexpr std::string_view kExplorerKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr std::string_view kSystemKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr std::string_view kNetworkKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Network";
inline constexpr std::string_view kWinOldAppKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp";
inline constexpr std::string_view kPreferencesKey = "Software\\Family\\Preferences";

}  // namespace tarnwick
