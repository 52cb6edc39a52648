// Directories of the machine as the controls read them.
#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "machine/machine.h"

namespace tarnwick {

// A drive as the shell names it in its dialogs: "3½ Floppy (A:)", "System (C:)",
// "Share on 'Server' (F:)", "(D:)" for a drive without label or medium.
QString DriveDisplayName(const DriveInfo& drive);

// The Windows path of a drive's root directory, such as C:\.
std::string DriveRoot(const DriveInfo& drive);

}  // namespace tarnwick
