#include "formats/shell_link_write.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "base/cp1252.h"
#include "base/file_io.h"
#include "base/text.h"
#include "base/win_time.h"
#include "formats/shell_link.h"
#include "formats/shell_link_resolve.h"
#include "machine/machine.h"
#include "machine/short_name.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

struct HostFacts {
  bool directory = false;
  uint64_t size = 0;
  uint32_t attributes = 0;
  uint64_t creationTime = 0;
  uint64_t accessTime = 0;
  uint64_t writeTime = 0;
  int64_t writeSeconds = 0;
};

std::optional<HostFacts> ReadHostFacts(const fs::path& path) {
  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
    return std::nullopt;
  }
  HostFacts facts;
  facts.directory = S_ISDIR(info.stx_mode);
  facts.size = facts.directory ? 0 : info.stx_size;
  facts.writeSeconds = info.stx_mtime.tv_sec;
  facts.writeTime = FileTimeFromUnix(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
  facts.accessTime = FileTimeFromUnix(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
  facts.creationTime = (info.stx_mask & STATX_BTIME) != 0
                           ? FileTimeFromUnix(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                           : facts.writeTime;

  // A vfat mount knows the real DOS attributes.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  uint32_t dosAttributes = 0;
  if (fd.Valid() && ::ioctl(fd.Get(), FAT_IOCTL_GET_ATTRIBUTES, &dosAttributes) == 0) {
    facts.attributes = dosAttributes & 0xFF;
  } else {
    facts.attributes = facts.directory ? kAttributeDirectory : kAttributeArchive;
    if ((info.stx_mode & S_IWUSR) == 0) facts.attributes |= kAttributeReadOnly;
  }
  return facts;
}

uint32_t Win32DriveType(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return 2;
    case DriveType::Fixed:
      return 3;
    case DriveType::Remote:
      return 4;
    case DriveType::CdRom:
      return 5;
    case DriveType::RamDisk:
      return 6;
  }
  return 0;
}

// The drive of a path's root: its letter, or the network drive whose remote name it is, else
// the share that reaches it (a lab's homes, \\SERVER, reach \\SERVER\name).
const DriveInfo* RootDrive(const Machine& machine, const MachinePath& path) {
  if (path.root.size() == 2) return machine.FindDrive(path.root[0]);
  for (const DriveInfo& drive : machine.Drives()) {
    if (!drive.remoteName.empty() && EqualsIgnoreCase(drive.remoteName, path.root)) return &drive;
  }
  VolumeLocation location;
  if (machine.Locate(path.root + "\\", location) != PathStatus::Found) return nullptr;
  return location.drive;
}

// What a disk image records of an entry: the real DOS attributes (a file written since the
// archive bit was last cleared has it set) and the write time, which also stands for the access
// time the entry keeps only as a date.
HostFacts ImageFacts(const VolumeEntry& entry) {
  HostFacts facts;
  facts.directory = entry.IsDirectory();
  facts.size = facts.directory ? 0 : entry.size;
  facts.attributes = facts.directory ? entry.attributes : entry.attributes | kAttributeArchive;
  facts.writeSeconds = entry.written;
  facts.writeTime = FileTimeFromUnix(entry.written);
  facts.accessTime = facts.writeTime;
  facts.creationTime = FileTimeFromUnix(entry.created);
  return facts;
}

// The facts of the path's first `count` components: from the host file where a host directory
// keeps it, else from the drive's volume.
std::optional<HostFacts> ReadFacts(const Machine& machine, const MachinePath& path, size_t count) {
  const fs::path& host = count == 0 ? path.rootHostPath : path.components[count - 1].hostPath;
  if (!host.empty()) return ReadHostFacts(host);
  std::string windowsPath = path.root + "\\";
  for (size_t i = 0; i < count; ++i) {
    windowsPath.append(i == 0 ? "" : "\\").append(path.components[i].longName);
  }
  const std::optional<VolumeEntry> entry = machine.Stat(windowsPath);
  if (!entry) return std::nullopt;
  return ImageFacts(*entry);
}

std::optional<ShellLinkTarget> DescribeTarget(const Machine& machine, const MachinePath& path) {
  const DriveInfo* drive = RootDrive(machine, path);
  if (drive == nullptr) return std::nullopt;
  ShellLinkTarget target;
  if (path.root.size() != 2) {
    target.networkName =
        EqualsIgnoreCase(drive->remoteName, path.root) ? drive->remoteName : path.root;
  }
  target.drive = drive->letter;
  target.volume = {Win32DriveType(drive->type), drive->serial, drive->label};
  for (size_t i = 0; i < path.components.size(); ++i) {
    const MachinePathComponent& component = path.components[i];
    const auto facts = ReadFacts(machine, path, i + 1);
    if (!facts) return std::nullopt;
    const DosDateTime written = DosDateTimeFromUnix(facts->writeSeconds);
    target.entries.push_back({component.longName,
                              component.shortName == component.longName ? "" : component.shortName,
                              facts->directory, static_cast<uint32_t>(facts->size), written.date,
                              written.time, static_cast<uint16_t>(facts->attributes)});
  }
  const auto facts = ReadFacts(machine, path, path.components.size());
  if (!facts) return std::nullopt;
  target.attributes = facts->attributes;
  target.creationTime = facts->creationTime;
  target.accessTime = facts->accessTime;
  target.writeTime = facts->writeTime;
  target.fileSize = static_cast<uint32_t>(facts->size);
  return target;
}

}  // namespace

namespace {

[[noreturn]] void RefuseLink(std::string_view linkFile, const std::string& why) {
  throw ShellLinkWriteError("The shortcut " + Cp1252ToUtf8(linkFile) +
                            " cannot be written: " + why + ".");
}

}  // namespace

void WriteShellLinkFile(const Machine& machine, std::string_view target, std::string_view linkFile,
                        std::string_view description, std::string_view iconFile) {
  if (linkFile.size() >= kMaxShellPath || target.size() >= kMaxShellPath ||
      description.size() >= kMaxShellPath || iconFile.size() >= kMaxShellPath) {
    RefuseLink(linkFile, "a path or text is longer than " + std::to_string(kMaxShellPath - 1) +
                             " characters");
  }
  const std::string name = ExtractFileName(linkFile);
  if (name.empty()) RefuseLink(linkFile, "it has no file name");
  const auto folder = LocateLinkPath(machine, ExtractFilePath(linkFile));
  if (!folder) RefuseLink(linkFile, "its folder does not exist");
  const auto targetPath = LocateLinkPath(machine, target);
  if (!targetPath) RefuseLink(linkFile, "its target " + Cp1252ToUtf8(target) + " does not exist");
  const std::string file = AddTrailingBackslash(folder->LongPath()) + name;
  if (const auto existing = machine.Stat(file); existing && existing->IsDirectory()) {
    RefuseLink(linkFile, "a folder has its name");
  }

  NewShellLink link;
  const auto described = DescribeTarget(machine, *targetPath);
  if (!described) RefuseLink(linkFile, "its target cannot be described");
  link.target = *described;
  link.description = description;
  link.iconLocation = iconFile;
  machine.WriteFile(file, EncodeShellLink(link));
}

}  // namespace tarnwick
