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

struct DirEntry {
  std::string name;  // ANSI, as the file system holds it
  bool directory = false;
};

// The entries of a directory in the order the file system returns them, hidden ones included,
// without "." and "..". Names that code page 1252 cannot hold are left out: no Windows path can
// name them. Empty when the directory cannot be read.
std::vector<DirEntry> ListDirectory(const std::filesystem::path& hostDir);

// True when the directory holds at least one entry ListDirectory lists; stops at the first.
bool HasEntries(const std::filesystem::path& hostDir);

// A drive as the shell names it in its dialogs: "3½ Floppy (A:)", "System (C:)",
// "Share on 'Server' (F:)", "(D:)" for a drive without label or medium.
QString DriveDisplayName(const DriveInfo& drive);

// The Windows path of a drive's root directory, such as C:\.
std::string DriveRoot(const DriveInfo& drive);

}  // namespace tarnwick
