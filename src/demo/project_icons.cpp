#include "demo/project_icons.h"

#include <span>
#include <stdexcept>
#include <string_view>

#include "demo_resources.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {
namespace {

// A file of src/demo/resources; a path not among them does not compile.
consteval std::span<const uint8_t> Resource(std::string_view path) {
  for (const demo_resources::EmbeddedFile& file : demo_resources::kEmbeddedFiles) {
    if (file.path == path) return file.bytes;
  }
  throw std::invalid_argument("no such resource");
}

std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

struct NamedIcon {
  const char* fileName;
  std::span<const uint8_t> bytes;
};
// In the order they are offered: children, adults, animals, things.
constexpr NamedIcon kUserIcons[] = {
    {"Girl.ico", Resource("UserIcon/Girl.ico")},   {"Boy.ico", Resource("UserIcon/Boy.ico")},
    {"Woman.ico", Resource("UserIcon/Woman.ico")}, {"Man.ico", Resource("UserIcon/Man.ico")},
    {"Cat.ico", Resource("UserIcon/Cat.ico")},     {"Dog.ico", Resource("UserIcon/Dog.ico")},
    {"Fish.ico", Resource("UserIcon/Fish.ico")},   {"Bird.ico", Resource("UserIcon/Bird.ico")},
    {"Star.ico", Resource("UserIcon/Star.ico")},   {"House.ico", Resource("UserIcon/House.ico")},
    {"Car.ico", Resource("UserIcon/Car.ico")},
};

// Existing names match case-insensitively, as on the machine.
void WriteIfMissing(const Machine& machine, const std::string& windowsFile,
                    const std::vector<uint8_t>& bytes) {
  if (!machine.Stat(windowsFile)) machine.WriteFile(windowsFile, bytes);
}

}  // namespace

std::vector<uint8_t> StockIconFile(StockIcon icon) {
  switch (icon) {
    case StockIcon::Program:
      return Copy(Resource("stock/program.ico"));
    case StockIcon::Folder:
      return Copy(Resource("stock/folder.ico"));
    case StockIcon::LinkOverlay:
      return Copy(Resource("stock/link.ico"));
    case StockIcon::Document:
      break;
  }
  return Copy(Resource("stock/document.ico"));
}

std::vector<uint8_t> DefaultUserIconFile() {
  return Copy(Resource("default.ico"));
}

std::vector<NamedIconFile> UserIconFiles() {
  std::vector<NamedIconFile> files;
  for (const NamedIcon& icon : kUserIcons) files.push_back({icon.fileName, Copy(icon.bytes)});
  return files;
}

void InstallProgramIcons(const Machine& machine) {
  const std::string programDir = ExtractFilePath(machine.ProgramPath());
  VolumeLocation location;
  if (programDir.empty() || machine.Locate(programDir, location) != PathStatus::Found) {
    throw MachineError("The program directory " + programDir + " is not on the machine.");
  }
  std::string level = programDir.substr(0, 2);
  for (const std::string& part : SplitWindowsPath(programDir.substr(2) + "UserIcon")) {
    level += "\\" + part;
    machine.MakeDirectory(level);
  }
  WriteIfMissing(machine, programDir + "default.ico", DefaultUserIconFile());
  for (const NamedIconFile& file : UserIconFiles()) {
    WriteIfMissing(machine, programDir + "UserIcon\\" + file.fileName, file.bytes);
  }
}

}  // namespace tarnwick
