// Tarnwick's own pictures, the icon files of src/demo/resources built into the library: the
// users' icons beside the program and the shell's stock pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

class Machine;

// Pictures the shell shows when a file has no icon of its own.
enum class StockIcon {
  Document,     // a file of no known kind
  Program,      // a program without icon resources
  Folder,       // a closed folder
  LinkOverlay,  // the shortcut arrow, drawn over the lower-left corner of a shortcut's icon
};

// Each icon file holds a 32 x 32 and a 16 x 16 image, palette images with a transparency mask
// as Windows 95 draws them.
std::vector<uint8_t> StockIconFile(StockIcon icon);
// default.ico: the picture of a user without one of their own.
std::vector<uint8_t> DefaultUserIconFile();

struct NamedIconFile {
  std::string fileName;  // an 8.3 name, e.g. "Girl.ico"
  std::vector<uint8_t> bytes;
};
// The pictures offered for users: children, adults, animals and things.
std::vector<NamedIconFile> UserIconFiles();

// Writes default.ico and the UserIcon folder's icons into the program's directory on the machine
// (the folder of its program path), never replacing a file that exists. Throws MachineError when
// the directory cannot be mapped, FileWriteError when a file cannot be checked or written.
void InstallProgramIcons(const Machine& machine);

}  // namespace tarnwick
