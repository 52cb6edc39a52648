#include "demo/demo_shortcuts.h"

#include <stdexcept>
#include <string>
#include <system_error>

#include "formats/shell_link.h"
#include "machine/atomic_file.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

struct DemoShortcut {
  const char* folder;  // below Start Menu\Programs; empty for Programs itself
  const char* name;
  bool inWindows;      // target below the Windows directory, else below Program Files
  const char* target;  // relative to that directory
};

constexpr DemoShortcut kShortcuts[] = {
    {"Accessories", "Notepad", true, "NOTEPAD.EXE"},
    {"Accessories", "WordPad", false, "Accessories\\WORDPAD.EXE"},
    {"Accessories", "Paint", false, "Accessories\\MSPAINT.EXE"},
    {"Accessories", "Calculator", true, "CALC.EXE"},
    {"", "MS-DOS Prompt", true, "COMMAND.COM"},
    {"", "Windows Explorer", true, "EXPLORER.EXE"},
};

fs::path HostPathOrThrow(const Machine& machine, const std::string& path) {
  const auto host = machine.HostPath(path);
  if (!host) throw std::runtime_error(path + ": not on a drive of the machine");
  return *host;
}

void EnsureFolder(const Machine& machine, const std::string& folder) {
  std::error_code ec;
  fs::create_directories(HostPathOrThrow(machine, folder), ec);
  if (ec) throw std::runtime_error(folder + ": " + ec.message());
}

void EnsurePlaceholder(const Machine& machine, const std::string& file) {
  const fs::path host = HostPathOrThrow(machine, file);
  std::error_code ec;
  if (fs::exists(host, ec)) return;
  EnsureFolder(machine, ExtractFilePath(file));
  const std::string text =
      "Placeholder for " + ExtractFileName(file) + " on a Tarnwick demo machine.\r\n";
  WriteFileAtomically(host, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace

void InstallDemoShortcuts(const Machine& machine) {
  const std::string& windows = machine.WindowsDirectory();
  const std::string programFiles = windows.substr(0, 2) + "\\Program Files";
  const std::string programs = windows + "\\Start Menu\\Programs";
  for (const DemoShortcut& shortcut : kShortcuts) {
    const std::string target =
        AddTrailingBackslash(shortcut.inWindows ? windows : programFiles) + shortcut.target;
    std::string folder = programs;
    if (*shortcut.folder != '\0') folder += std::string("\\") + shortcut.folder;
    const std::string link = folder + "\\" + shortcut.name + ".lnk";
    EnsurePlaceholder(machine, target);
    EnsureFolder(machine, folder);
    std::error_code ec;
    if (fs::exists(HostPathOrThrow(machine, link), ec)) continue;
    WriteShellLinkFile(machine, target, link, shortcut.name, "");
  }
}

}  // namespace tarnwick
