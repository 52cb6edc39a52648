#include "demo/demo_shortcuts.h"

#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "base/win_time.h"
#include "formats/shell_link.h"
#include "machine/machine.h"
#include "machine/short_name.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

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

constexpr uint16_t kArchive = 0x20;

void EnsureFolder(const Machine& machine, const std::string& folder) {
  const std::vector<std::string> parts = SplitWindowsPath(folder.substr(2));
  std::string level = folder.substr(0, 2);
  for (const std::string& part : parts) {
    level += "\\" + part;
    machine.MakeDirectory(level);
  }
  if (!ExistingDirectory(machine, folder)) {
    throw std::runtime_error(folder + ": the folder cannot be made");
  }
}

void EnsurePlaceholder(const Machine& machine, const std::string& file) {
  if (machine.Stat(file)) return;
  EnsureFolder(machine, ExtractFilePath(file));
  const std::string text =
      "Placeholder for " + ExtractFileName(file) + " on a Tarnwick demo machine.\r\n";
  machine.WriteFile(file, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// The link's record of an existing target on drive C, its facts read through the machine. A
// volume that keeps no 8.3 aliases has them made by the machine's rules.
ShellLinkTarget DescribeTarget(const Machine& machine, const std::string& target) {
  const DriveInfo* drive = machine.FindDrive(target[0]);
  if (drive == nullptr) throw std::runtime_error(target + ": not on a drive of the machine");
  ShellLinkTarget described;
  described.drive = drive->letter;
  described.volume = {3, drive->serial, drive->label};  // a fixed disk
  std::string path = target.substr(0, 2);
  std::optional<VolumeEntry> entry;
  for (const std::string& part : SplitWindowsPath(target.substr(2))) {
    path += "\\" + part;
    entry = machine.Stat(path);
    if (!entry) throw std::runtime_error(path + ": not found");
    std::string shortName = entry->shortName;
    if (shortName.empty()) shortName = ExtractFileName(ShortPathName(machine, path).value_or(""));
    const uint16_t attributes = entry->attributes | (entry->IsDirectory() ? uint16_t{0} : kArchive);
    const DosDateTime written = DosDateTimeFromUnix(entry->written);
    described.entries.push_back({entry->name, shortName == entry->name ? "" : shortName,
                                 entry->IsDirectory(), static_cast<uint32_t>(entry->size),
                                 written.date, written.time, attributes});
  }
  if (!entry) throw std::runtime_error(target + ": a drive's root");
  described.attributes = described.entries.back().attributes;
  described.creationTime = FileTimeFromUnix(entry->created);
  described.writeTime = FileTimeFromUnix(entry->written);
  described.accessTime = described.writeTime;
  described.fileSize = static_cast<uint32_t>(entry->size);
  return described;
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
    if (machine.Stat(link)) continue;
    NewShellLink shellLink;
    shellLink.target = DescribeTarget(machine, target);
    shellLink.description = shortcut.name;
    machine.WriteFile(link, EncodeShellLink(shellLink));
  }
}

}  // namespace tarnwick
