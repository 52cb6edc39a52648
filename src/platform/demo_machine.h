// A new machine: a small, believable Windows 95 installation.
#pragma once

#include <filesystem>

namespace tarnwick {

// Creates a demo machine in dir, which must not exist (its parents are created). It is built in
// a temporary directory beside dir and renamed into place, so an interrupted creation never
// leaves a half-made machine. Throws MachineError naming what failed.
void CreateDemoMachine(const std::filesystem::path& dir);

}  // namespace tarnwick
