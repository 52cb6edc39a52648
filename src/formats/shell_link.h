// Shell links (.lnk): the bytes of a link and the record they hold, written as the Windows 95
// shell writes them, read whoever wrote them. Writing a link to a file of a machine is in
// shell_link_write.h, finding the target of one in shell_link_resolve.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/file_io.h"

namespace tarnwick {

class Machine;

// Paths, descriptions and link file names are limited to MAX_PATH including the terminator.
inline constexpr size_t kMaxShellPath = 260;

// A damaged or foreign file: what is wrong and the file offset where it was found; or a file that
// cannot be read, at offset 0.
class ShellLinkError : public Error {
 public:
  ShellLinkError(const std::string& what, size_t offset);
  explicit ShellLinkError(const FileReadError& unreadable);
  size_t Offset() const { return offset_; }

 private:
  size_t offset_;
};

// A link Windows could not store: a string too long for MAX_PATH, a NUL inside one, a bad name.
class ShellLinkEncodeError : public Error {
 public:
  using Error::Error;
};

// A link file that cannot be written: its folder or target is missing, or its name is no file's.
class ShellLinkWriteError : public Error {
 public:
  using Error::Error;
};

// LinkFlags bits.
inline constexpr uint32_t kLinkHasIdList = 0x01;
inline constexpr uint32_t kLinkHasLinkInfo = 0x02;
inline constexpr uint32_t kLinkHasName = 0x04;
inline constexpr uint32_t kLinkHasRelativePath = 0x08;
inline constexpr uint32_t kLinkHasWorkingDir = 0x10;
inline constexpr uint32_t kLinkHasArguments = 0x20;
inline constexpr uint32_t kLinkHasIconLocation = 0x40;
inline constexpr uint32_t kLinkIsUnicode = 0x80;
inline constexpr uint32_t kLinkForceNoLinkInfo = 0x100;
inline constexpr uint32_t kLinkHasExpString = 0x200;
inline constexpr uint32_t kLinkHasExpIcon = 0x4000;

// One file-entry item of the target's item list: a directory or the target file.
struct ShellLinkEntry {
  std::string longName;   // ANSI, as stored on disk
  std::string shortName;  // ANSI 8.3 alias; empty when the long name is the 8.3 name
  bool directory = false;
  uint32_t size = 0;
  uint16_t dosDate = 0;  // last write, UTC
  uint16_t dosTime = 0;
  uint16_t attributes = 0;
};

struct ShellLinkVolume {
  uint32_t driveType = 3;  // DRIVE_FIXED
  uint32_t serial = 0;
  std::string label;  // ANSI
};

// What the Windows 95 shell records about a target on a lettered drive, or on a network share
// the drive reaches.
struct ShellLinkTarget {
  char drive = 'C';
  ShellLinkVolume volume;
  // "\\SERVER\SHARE" for a target named by its network path: the link info then records the
  // share, the drive as its device and the path below it, instead of the volume and local path.
  std::string networkName;
  std::vector<ShellLinkEntry> entries;  // empty for the drive's root
  uint32_t attributes = 0x20;
  uint64_t creationTime = 0;  // FILETIME, UTC
  uint64_t accessTime = 0;
  uint64_t writeTime = 0;
  uint32_t fileSize = 0;

  // "C:\WINDOWS\NOTEPAD.EXE", from the long names.
  std::string LongPath() const;
  // The long names below the drive's root: "WINDOWS\NOTEPAD.EXE".
  std::string PathBelowRoot() const;
};

struct NewShellLink {
  ShellLinkTarget target;
  std::string description;   // empty: none
  std::string iconLocation;  // empty: the target's own icon
};

// The bytes of a link: ANSI strings, item list My Computer -> volume -> file entries in the
// Windows 95 layout, link info with the volume and the full long path, then the strings, icon
// index 0. Throws ShellLinkEncodeError for names or strings Windows could not store: the target
// path, like every string, is shorter than kMaxShellPath, so it has at most 128 components.
std::vector<uint8_t> EncodeShellLink(const NewShellLink& link);

// A link as read. Text is ANSI; UTF-16 text is converted, "?" standing for what code page 1252
// cannot hold.
struct ShellLink {
  uint32_t linkFlags = 0;
  uint32_t fileAttributes = 0;
  uint64_t creationTime = 0;
  uint64_t accessTime = 0;
  uint64_t writeTime = 0;
  uint32_t fileSize = 0;
  int32_t iconIndex = 0;
  uint32_t showCommand = 1;
  uint16_t hotKey = 0;

  // The path spelt by an item list of the shape My Computer -> volume -> file entries.
  std::optional<std::string> idListPath;
  std::vector<ShellLinkEntry> idListEntries;
  // The path in the link info, local path preferred over a network one.
  std::optional<std::string> linkInfoPath;
  std::optional<ShellLinkVolume> volume;

  std::string description;
  std::string relativePath;
  std::string workingDirectory;
  std::string arguments;
  std::string iconLocation;
  std::string environmentTarget;  // with %variables%, from the environment block
  std::string environmentIcon;

  // The target as the shell takes it: the link info's path unless the link says to ignore it,
  // else the item list's. Empty when neither names a file system path.
  std::string TargetPath() const;
  // The icon file: the environment icon when flagged, else the icon location.
  std::string IconPath() const;
};

// Throws ShellLinkError for anything that is not a well-formed link.
ShellLink DecodeShellLink(std::span<const uint8_t> bytes);
// Reads and decodes a link file of at most 1 MiB; throws ShellLinkError.
ShellLink ReadShellLinkFile(const std::filesystem::path& hostFile);
// The same for a link file of the machine, by its Windows path.
ShellLink ReadShellLinkFile(const Machine& machine, std::string_view windowsFile);

}  // namespace tarnwick
