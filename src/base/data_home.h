// Where the user's data files go: $XDG_DATA_HOME, else ~/.local/share.
#pragma once

#include <filesystem>
#include <optional>

namespace tarnwick {

// XDG_DATA_HOME when it is absolute, else HOME's (or the password database's home's)
// .local/share; empty when there is no home.
std::optional<std::filesystem::path> DataHome();

}  // namespace tarnwick
