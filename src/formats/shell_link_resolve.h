// Finding the target of a shortcut on a machine, also when it has moved with the shortcut.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

class Machine;

// The short (8.3) path of the target of a link on the machine: its recorded path when that
// exists, else its relative path taken from the link's folder. Empty when neither exists or the
// link is damaged.
std::string ResolveShellLinkFile(const Machine& machine, std::string_view linkFile);

}  // namespace tarnwick
