// Finding the target of a shortcut on a machine, also when it has moved with the shortcut.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "machine/short_name.h"

namespace tarnwick {

class Machine;

// An existing Windows path on the machine with the long and short name of every component: on a
// disk image the names its directory entries keep (no host paths then), on a host directory the
// aliases the machine gives them. Empty when the path does not exist.
std::optional<MachinePath> LocateLinkPath(const Machine& machine, std::string_view windowsPath);

// The short (8.3) path of the target of a link on the machine: its recorded path when that
// exists, else its relative path taken from the link's folder. Empty when neither exists or the
// link is damaged.
std::string ResolveShellLinkFile(const Machine& machine, std::string_view linkFile);

}  // namespace tarnwick
