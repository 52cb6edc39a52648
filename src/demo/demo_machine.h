// A new machine: a small, believable Windows 95 installation.
#pragma once

#include <filesystem>

#include "machine/machine.h"

namespace tarnwick {

// Creates a demo machine in dir, which must not exist (its parents are created). It is built in
// a temporary directory beside dir and renamed into place, so an interrupted creation never
// leaves a half-made machine. Throws MachineError naming what failed.
void CreateDemoMachine(const std::filesystem::path& dir);

// Opens the machine in dir, first creating a demo machine there when dir does not exist.
Machine OpenOrCreateMachine(const std::filesystem::path& dir);

}  // namespace tarnwick
