// One directory on the host playing one Windows 95 computer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/file_io.h"
#include "machine/drive_volume.h"
#include "machine/host_dir.h"
#include "machine/host_names.h"
#include "machine/lab.h"

namespace tarnwick {

class MachineError : public Error {
 public:
  using Error::Error;
};

// How a Windows path maps to the host.
enum class PathStatus {
  Found,        // a host path inside a drive; it need not exist
  Malformed,    // no drive letter or UNC name, or a name with a character Windows forbids
  NoDrive,      // no drive of that letter or remote name, or one without medium
  Unreachable,  // it would leave the drive: ".." above its root, a symbolic link pointing
                // outside it, a dangling link, a chain of too many links
  OnImage,      // a valid path on a drive kept in a disk image: it has no host path
};

struct PathLookup {
  PathStatus status = PathStatus::Malformed;
  std::filesystem::path host;  // when Found
};

enum class DriveType { Removable, Fixed, Remote, CdRom, RamDisk };

struct DriveInfo {
  char letter = 'C';  // upper case
  DriveType type = DriveType::Fixed;
  std::filesystem::path hostDir;  // absolute; empty when no medium is in the drive
  std::filesystem::path image;    // absolute: the disk image holding the drive instead
  std::optional<int> partition;   // of the image; empty: its first FAT partition
  int codePage = 437;             // the OEM code page of the image's short names
  std::string label;              // volume label, ANSI
  uint32_t serial = 0;
  std::string remoteName;  // "\\SERVER\SHARE" for a network drive
  bool HasMedium() const { return !hostDir.empty() || !image.empty(); }
};

// A Windows path resolved to the volume of its drive.
struct VolumeLocation {
  const DriveInfo* drive = nullptr;
  DriveVolume* volume = nullptr;
  VolumePath path;  // ANSI components below the drive's root
};

class Machine {
 public:
  // Opens the machine in dir, which must exist; OpenOrCreateMachine makes a new one.
  // Throws MachineError for an unreadable or invalid machine.ini, or a drive's image that cannot
  // be opened (held by an emulator, damaged, of a format we do not read).
  // A dir holding lab.ini is a lab: the machine of its server folder, whose UNC paths
  // \\SERVER\NETLOGON\... reach the netlogon folder and \\SERVER\name\... the home folder
  // name. Its Directory() is the lab's. Throws MachineError for a damaged lab.ini, a missing
  // server machine, netlogon or homes folder, or a missing policy file.
  static Machine Open(const std::filesystem::path& dir);
  // A machine whose drive C is the FAT volume of a disk image (its first FAT partition), its
  // Windows directory the [Paths] WinDir= of the image's MSDOS.SYS, else C:\WINDOWS. Its
  // Directory() is the image file. Throws MachineError.
  static Machine OpenImage(const std::filesystem::path& image);
  // TARNWICK_MACHINE, else $XDG_DATA_HOME/tarnwick/machine (~/.local/share/tarnwick/machine).
  static std::filesystem::path DefaultDirectory();

  // The machine directory, or the image file of a machine opened with OpenImage.
  const std::filesystem::path& Directory() const { return dir_; }
  // The Windows directory as the system reports it, e.g. "C:\WINDOWS".
  const std::string& WindowsDirectory() const { return windowsDir_; }
  // The program's own path on the machine, e.g. "C:\TARNEX\TARNEX.EXE".
  const std::string& ProgramPath() const { return programPath_; }
  // Drives in letter order.
  const std::vector<DriveInfo>& Drives() const { return drives_; }
  const DriveInfo* FindDrive(char letter) const;
  // The lab's settings when the machine is a lab's server.
  const std::optional<LabSettings>& Lab() const { return lab_; }

  // Maps a Windows path (drive letter or UNC through a network drive) to the host. Existing
  // components match exactly first, else case-insensitively (ASCII), else by their 8.3 alias;
  // missing ones keep the case given; "/" separates like "\" and ".." is resolved within the drive.
  // Empty when the path is malformed (no drive letter or UNC name, a name with a character Windows
  // forbids), names no drive with medium, or would leave the drive's directory (".." above its
  // root, a symbolic link pointing outside it, a dangling link).
  std::optional<std::filesystem::path> HostPath(std::string_view windowsPath) const;
  // The same, telling why a path does not map. With followFinalLink false a symbolic link at the
  // last component is the result itself, as a file that replaces or removes it needs.
  PathLookup LookUp(std::string_view windowsPath, bool followFinalLink = true) const;
  // The folder that holds the path's last component, held open, and that component's host name
  // (a link there is not followed). The folders are opened without following any symbolic link;
  // one swapped in after the look-up makes it look up again under the program's own rules.
  // Throws MachineError when the path does not map or names a drive's root; an open that fails
  // leaves dir invalid and error set (ENOENT: the folder does not exist).
  HeldPath Hold(std::string_view windowsPath) const;
  // The Windows path of a host path inside one of the drives; empty when it lies outside all.
  std::optional<std::string> WindowsPath(const std::filesystem::path& hostPath) const;

  // The volume and components of a Windows path, checked as LookUp checks it; the status says
  // why there are none (Found when there are, on a host directory or an image alike).
  PathStatus Locate(std::string_view windowsPath, VolumeLocation& location) const;

  // Files by Windows path on whichever volume keeps the drive. Stat and List give nothing for a
  // path that does not map; the others throw FileReadError or FileWriteError naming it.
  std::optional<VolumeEntry> Stat(std::string_view windowsPath) const;
  std::vector<VolumeEntry> List(std::string_view windowsDirectory) const;
  std::vector<uint8_t> ReadFile(std::string_view windowsPath, size_t maxSize) const;
  void WriteFile(std::string_view windowsPath, std::span<const uint8_t> bytes,
                 ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse) const;
  // False when something has the name already.
  bool MakeDirectory(std::string_view windowsPath) const;
  void RemoveTree(std::string_view windowsPath) const;
  // Moves a file to another path of its drive, never over an entry: false when something has the
  // new name (DriveVolume::Move).
  bool Move(std::string_view fromWindowsPath, std::string_view toWindowsPath) const;
  // Removes a directory only when it is empty.
  void RemoveDirectory(std::string_view windowsPath) const;
  // Adds hidden, system or read-only attributes where the drive keeps them.
  void AddAttributes(std::string_view windowsPath, uint8_t attributes) const;
  // The allocation unit of the drive of a path; throws FileReadError when it names none.
  uint32_t ClusterSize(std::string_view windowsPath) const;
  // False when List leaves out an entry of the directory, or it cannot be read.
  bool ListsAll(std::string_view windowsDirectory) const;
  // What look-ups have read of the drives' host directories, shared by the copies of the machine.
  // The calls above keep it up to date; a change made in a host directory by other means (a
  // host path, Hold) must tell it.
  HostNameCache& HostNames() const { return *hostNames_; }

 private:
  static Machine OpenLab(const std::filesystem::path& dir);
  void OpenVolumes();

  std::filesystem::path dir_;
  std::string windowsDir_;
  std::string programPath_;
  std::vector<DriveInfo> drives_;
  std::vector<std::shared_ptr<DriveVolume>> volumes_;  // one per drive with a medium, in order
  std::optional<LabSettings> lab_;
  // A lab's shares, reached by UNC path only: netlogon and the homes.
  std::vector<DriveInfo> shares_;
  std::vector<std::shared_ptr<DriveVolume>> shareVolumes_;
  std::shared_ptr<HostNameCache> hostNames_ = std::make_shared<HostNameCache>();
  std::shared_ptr<DeferredFlush> flush_ = std::make_shared<DeferredFlush>();

  friend class DeferredFlushScope;
};

// While one is open, the new files the machine writes to host directories are not flushed to disk
// one by one: Finish flushes the file systems written meanwhile at once (a file that replaces
// another is still flushed with its write). For many new files that a later commit makes count,
// such as the profiles of an import before the policy file naming them: Finish before that commit.
class DeferredFlushScope {
 public:
  explicit DeferredFlushScope(const Machine& machine);
  // Flushes unless Finish did; a failure then goes unreported.
  ~DeferredFlushScope();
  DeferredFlushScope(const DeferredFlushScope&) = delete;
  DeferredFlushScope& operator=(const DeferredFlushScope&) = delete;

  // Throws FileWriteError when a file system cannot be flushed. Calling it again does nothing.
  void Finish();

 private:
  std::shared_ptr<DeferredFlush> flush_;
  bool open_ = true;
};

// True when a Windows path names an existing directory ("C:" and "C:\" name the drive's root).
bool ExistingDirectory(const Machine& machine, std::string_view windowsPath);
// True when a Windows path names an existing file, not a directory.
bool ExistingFile(const Machine& machine, std::string_view windowsPath);

// The single lock of a machine: one program at a time administers it, and no two machines write
// one disk at once. Besides the machine directory's lock file it locks the host directory of each
// fixed drive (by device and inode, so two paths to one disk meet). A drive on a disk image is
// locked by its volume, which holds the image exclusively while the machine is open; a machine
// opened with OpenImage has no lock file, its image's lock is its lock.
class MachineLock {
 public:
  // Empty when another process holds the machine's lock. Throws MachineError when the lock file
  // cannot be made, or a fixed drive's directory is locked by a program on another machine. Under
  // the lock, completes a change of several files that a kill interrupted and removes the
  // temporary files a kill left beside the registry files, on host directories.
  static std::optional<MachineLock> TryAcquire(const Machine& machine);

 private:
  explicit MachineLock(UniqueFd fd) : fd_(std::move(fd)) {}
  void LockDrives(const Machine& machine);

  UniqueFd fd_;
  std::vector<UniqueFd> drives_;
};

}  // namespace tarnwick
