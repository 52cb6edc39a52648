#include "app/describe.h"

#include <cstdio>
#include <sstream>

#include "base/cp1252.h"
#include "policy/policy_file.h"

namespace tarnwick {

namespace {

const char* TypeName(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return "removable";
    case DriveType::Fixed:
      return "fixed";
    case DriveType::Remote:
      return "remote";
    case DriveType::CdRom:
      return "cdrom";
    case DriveType::RamDisk:
      return "ramdisk";
  }
  return "unknown";
}

std::string SerialText(uint32_t serial) {
  char text[10];
  std::snprintf(text, sizeof text, "%04X-%04X", serial >> 16, serial & 0xFFFF);
  return text;
}

std::string DriveLine(const DriveInfo& drive) {
  std::ostringstream line;
  line << "  " << drive.letter << ":  " << TypeName(drive.type);
  line << std::string(11 - std::string_view(TypeName(drive.type)).size(), ' ');
  if (!drive.HasMedium()) {
    line << "no medium";
  } else {
    if (drive.image.empty()) {
      line << drive.hostDir.string() << "  ";
    } else {
      line << "image " << drive.image.string() << ", ";
      if (!drive.partition) {
        line << "first FAT partition";
      } else if (*drive.partition == 0) {
        line << "no partition table";
      } else {
        line << "partition " << *drive.partition;
      }
      line << "  ";
    }
    if (drive.label.empty()) {
      line << "no label";
    } else {
      line << "label \"" << Cp1252ToUtf8(drive.label) << '"';
    }
    if (drive.serial != 0) line << "  serial " << SerialText(drive.serial);
  }
  if (!drive.remoteName.empty()) {
    line << "  remote name " << Cp1252ToUtf8(drive.remoteName);
  }
  return line.str();
}

}  // namespace

std::string Describe(const Machine& machine) {
  const std::string policyFile = PolicyFilePathOf(machine);
  const bool policyExists = ExistingFile(machine, policyFile);
  std::error_code ec;
  const bool isImage = !std::filesystem::is_directory(machine.Directory(), ec);

  std::ostringstream text;
  text << (isImage ? "Disk image:        " : "Machine directory: ") << machine.Directory().string()
       << '\n'
       << "Windows directory: " << Cp1252ToUtf8(machine.WindowsDirectory()) << '\n'
       << "Program path:      " << Cp1252ToUtf8(machine.ProgramPath()) << '\n'
       << "Policy file:       " << Cp1252ToUtf8(policyFile)
       << (policyExists ? " (present)" : " (not present)") << '\n'
       << "Drives:\n";
  for (const DriveInfo& drive : machine.Drives()) text << DriveLine(drive) << '\n';
  return text.str();
}

}  // namespace tarnwick
