// What a drive of the machine keeps its files on: a directory of the host or a FAT volume in a
// disk image. Paths are the components below the drive's root in code page 1252, already checked
// and free of "." and ".."; an empty path is the root. Names are found regardless of letter case
// and by their 8.3 alias.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/atomic_file.h"

namespace tarnwick {

using VolumePath = std::vector<std::string>;

namespace file_attr {
constexpr uint8_t kReadOnly = 0x01;
constexpr uint8_t kHidden = 0x02;
constexpr uint8_t kSystem = 0x04;
constexpr uint8_t kDirectory = 0x10;
}  // namespace file_attr

struct VolumeEntry {
  std::string name;       // the long name, ANSI
  std::string shortName;  // the 8.3 alias a FAT volume keeps; empty on a host directory
  uint8_t attributes = 0;
  uint64_t size = 0;
  int64_t written = 0;  // Unix seconds
  int64_t created = 0;
  bool IsDirectory() const { return (attributes & file_attr::kDirectory) != 0; }
  bool IsReadOnly() const { return (attributes & file_attr::kReadOnly) != 0; }
};

class DriveVolume {
 public:
  virtual ~DriveVolume() = default;
  // Empty when the entry does not exist (or cannot be reached); the root is a directory.
  virtual std::optional<VolumeEntry> Stat(const VolumePath& path) const = 0;
  // A directory's entries without "." and ".."; names code page 1252 cannot hold are left out.
  // Empty when it cannot be read.
  virtual std::vector<VolumeEntry> List(const VolumePath& directory) const = 0;
  // The bytes of a file of at most maxSize bytes; throws FileReadError naming it.
  virtual std::vector<uint8_t> ReadFile(const VolumePath& path, size_t maxSize) const = 0;
  // Creates or replaces a whole file so that a kill leaves it old or new. Throws FileWriteError,
  // also for a read-only file unless readOnly says to replace it.
  virtual void WriteFile(const VolumePath& path, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly) = 0;
  // False when something has the name already; throws FileWriteError on failure.
  virtual bool MakeDirectory(const VolumePath& path) = 0;
  // Deletes a file or a directory with everything below it. A read-only file anywhere in it
  // refuses the whole deletion before anything goes. Throws FileWriteError.
  virtual void RemoveTree(const VolumePath& path) = 0;
  // Adds attributes (hidden, system, read-only) to an entry where the volume keeps them; a
  // volume that keeps none ignores them. Throws FileWriteError.
  virtual void AddAttributes(const VolumePath& path, uint8_t attributes) = 0;
  // The host path of the entry when the volume is a host directory; empty on an image.
  virtual std::optional<std::filesystem::path> HostPath(const VolumePath& path) const = 0;
  // The volume's label and serial number as its boot sector and root keep them; empty on a host.
  virtual std::optional<std::string> Label() const = 0;
  virtual std::optional<uint32_t> Serial() const = 0;
};

// The shown form of a path for messages: "C:\A\B", UTF-8.
std::string ShownPath(char drive, const VolumePath& path);

}  // namespace tarnwick
