// A machine's registry as Windows 95's regedit shows it: HKEY_LOCAL_MACHINE from SYSTEM.DAT,
// HKEY_USERS from USER.DAT, HKEY_CURRENT_USER as HKEY_USERS\.Default and HKEY_CLASSES_ROOT as
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
#pragma once

#include <ostream>
#include <string_view>

#include "registry/registry.h"

namespace tarnwick {

// The whole registry (HKEY_LOCAL_MACHINE, then HKEY_USERS), or the tree of key: a path beginning
// with one of the four root keys, in code page 1252. Throws Error for a key that is not there,
// Regedit4Error for a tree that cannot be written as text.
void ExportMachineRegistry(const Registry& registry, std::string_view key, std::ostream& out);

// Merges REGEDIT4 text with root-key paths into SYSTEM.DAT and USER.DAT and writes the files
// that changed. Regedit4Error for bad text, and then nothing has changed.
void ImportMachineRegistry(Registry& registry, std::string_view text);

}  // namespace tarnwick
