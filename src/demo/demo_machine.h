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

// Creates a demo disk image at path, which must not exist: a sparse 256 MB raw disk with one
// FAT16 partition holding the demo machine's drive C. It is made beside path and linked into
// place, never replacing a file. A name of another format (.vhd, .qcow2, ...) is refused, as
// emulators would take the raw disk for that format. Throws MachineError naming what failed.
void CreateDemoImage(const std::filesystem::path& image);

// Opens the machine of a disk image (Machine::OpenImage), first creating a demo image there when
// the file does not exist.
Machine OpenOrCreateImage(const std::filesystem::path& image);

}  // namespace tarnwick
