#include "machine/host_volume.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>

#include "base/cp1252.h"
#include "base/file_io.h"
#include "machine/drive_walk.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// The size the files of a plain host directory are counted in.
constexpr uint32_t kHostClusterSize = 4096;

VolumeEntry EntryOf(std::string name, const struct stat& info) {
  VolumeEntry entry;
  entry.name = std::move(name);
  if (S_ISDIR(info.st_mode)) entry.attributes |= file_attr::kDirectory;
  if (S_ISREG(info.st_mode) && IsReadOnlyMode(info.st_mode)) {
    entry.attributes |= file_attr::kReadOnly;
  }
  entry.size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
  entry.written = info.st_mtim.tv_sec;
  entry.created = info.st_ctim.tv_sec;
  return entry;
}

}  // namespace

std::string ShownPath(char drive, const VolumePath& path) {
  std::string shown{drive, ':', '\\'};
  for (size_t i = 0; i < path.size(); ++i) {
    if (i > 0) shown += '\\';
    shown += Cp1252ToUtf8(path[i]);
  }
  return shown;
}

std::optional<fs::path> HostVolume::Resolve(const VolumePath& path, bool followFinalLink) const {
  DriveWalk walk(root_, *names_);
  for (size_t i = 0; i < path.size(); ++i) {
    if (!walk.Enter(path[i], followFinalLink || i + 1 < path.size())) return std::nullopt;
  }
  return walk.Current();
}

HeldPath HostVolume::Hold(const VolumePath& path) const {
  const std::string shown = ShownPath(letter_, path);
  if (path.empty()) throw FileWriteError(shown + ": the root folder of a drive");
  // Each retry follows, under the walk's rules, a link swapped in after the look-up before it.
  constexpr int kAttempts = 8;
  for (int attempt = 1;; ++attempt) {
    const std::optional<fs::path> host = Resolve(path, false);
    if (!host) {
      throw FileWriteError(shown +
                           ": the path leads outside its drive (through a symbolic link) or to a "
                           "link that points nowhere");
    }
    if (*host == root_) throw FileWriteError(shown + ": the root folder of a drive");
    HeldPath held = HoldParentNoFollow(*host);
    if (held.dir.Valid() || (held.error != ELOOP && held.error != ENOTDIR) ||
        attempt == kAttempts) {
      return held;
    }
  }
}

std::optional<VolumeEntry> HostVolume::Stat(const VolumePath& path) const {
  const std::optional<fs::path> host = Resolve(path);
  struct stat info {};
  if (!host || ::stat(host->c_str(), &info) != 0) return std::nullopt;
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) return std::nullopt;
  return EntryOf(path.empty() ? std::string() : path.back(), info);
}

std::vector<VolumeEntry> HostVolume::List(const VolumePath& directory) const {
  std::vector<VolumeEntry> entries;
  const std::optional<fs::path> host = Resolve(directory);
  if (!host) return entries;
  std::error_code error;
  for (fs::directory_iterator it(*host, error), end; !error && it != end; it.increment(error)) {
    std::optional<std::string> name = Utf8ToCp1252(it->path().filename().string());
    struct stat info {};
    if (!name || ::stat(it->path().c_str(), &info) != 0) continue;
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
    entries.push_back(EntryOf(std::move(*name), info));
  }
  return entries;
}

std::vector<uint8_t> HostVolume::ReadFile(const VolumePath& path, size_t maxSize) const {
  const std::optional<fs::path> host = Resolve(path);
  if (!host) {
    throw FileReadError(ShownPath(letter_, path) + ": the path leads outside its drive");
  }
  return ReadWholeFile(*host, maxSize);
}

void HostVolume::WriteFile(const VolumePath& path, std::span<const uint8_t> bytes,
                           ReadOnlyFiles readOnly) {
  const HeldPath held = Hold(path);
  const FolderChange change(*names_, held.host.parent_path());
  WriteFileAtomically(held, bytes, readOnly, flush_.get());
}

bool HostVolume::MakeDirectory(const VolumePath& path) {
  const HeldPath held = Hold(path);
  const FolderChange change(*names_, held.host.parent_path());
  const int error = MakeDirectoryAt(held);
  if (error == EEXIST) return false;
  if (error != 0) throw FileWriteError(held.host.string() + ": " + WalkErrorText(error));
  return true;
}

void HostVolume::RemoveTree(const VolumePath& path) {
  const HeldPath held = Hold(path);
  const FolderChange change(*names_, held.host.parent_path());
  const FolderChange removal(*names_, held.host, true);
  if (std::string failure = tarnwick::RemoveTree(held); !failure.empty()) {
    throw FileWriteError(failure);
  }
}

bool HostVolume::Move(const VolumePath& from, const VolumePath& to) {
  // Both folders are held without following a link, so a link swapped in cannot redirect it.
  const HeldPath source = Hold(from);
  // The new name is taken as given: looking it up among thousands of names in any case or alias
  // would make filling a folder quadratic.
  const std::optional<fs::path> toFolder = Resolve(VolumePath(to.begin(), to.end() - 1));
  if (to.empty() || !toFolder) {
    throw FileWriteError(ShownPath(letter_, to) + ": not a folder of the drive");
  }
  const HeldPath target = HoldParentNoFollow(*toFolder / Cp1252ToUtf8(to.back()));
  const FolderChange changeFrom(*names_, source.host.parent_path());
  const FolderChange changeTo(*names_, *toFolder);
  const auto fail = [&](int error) {
    throw FileWriteError(ShownPath(letter_, from) + ": " + WalkErrorText(error));
  };
  if (!source.dir.Valid()) fail(source.error);
  if (!target.dir.Valid()) fail(target.error);
  struct stat info {};
  if (StatEntry(source, info) && S_ISDIR(info.st_mode)) {
    throw FileWriteError(ShownPath(letter_, from) + ": a directory is not moved");
  }
  const int fromDir = source.dir.Get();
  const int toDir = target.dir.Get();
  const char* fromName = source.name.c_str();
  const char* toName = target.name.c_str();
  if (renameat2(fromDir, fromName, toDir, toName, RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL) fail(errno);
  // A file system that cannot rename so (NFS): a hard link, which never replaces either, then the
  // unlink of the old name.
  if (linkat(fromDir, fromName, toDir, toName, 0) != 0) {
    if (errno == EEXIST) return false;
    fail(errno);
  }
  if (unlinkat(fromDir, fromName, 0) != 0) {
    const int error = errno;
    unlinkat(toDir, toName, 0);
    fail(error);
  }
  return true;
}

void HostVolume::RemoveDirectory(const VolumePath& path) {
  const HeldPath held = Hold(path);
  const FolderChange change(*names_, held.host.parent_path());
  const FolderChange removal(*names_, held.host, true);
  if (!held.dir.Valid() || unlinkat(held.dir.Get(), held.name.c_str(), AT_REMOVEDIR) != 0) {
    throw FileWriteError(ShownPath(letter_, path) + ": " +
                         WalkErrorText(held.dir.Valid() ? errno : held.error));
  }
}

void HostVolume::AddAttributes(const VolumePath& path, uint8_t attributes) {
  // Only a vfat mount keeps FAT attributes; elsewhere they are ignored.
  const std::optional<fs::path> host = Resolve(path);
  struct statfs info {};
  if (!host || statfs(host->c_str(), &info) != 0 || info.f_type != MSDOS_SUPER_MAGIC) return;
  const UniqueFd file(open(host->c_str(), O_RDONLY | O_CLOEXEC));
  uint32_t current = 0;
  if (!file.Valid() || ioctl(file.Get(), FAT_IOCTL_GET_ATTRIBUTES, &current) != 0) return;
  current |= attributes;
  ioctl(file.Get(), FAT_IOCTL_SET_ATTRIBUTES, &current);
}

uint32_t HostVolume::ClusterSize() const {
  struct statfs info {};
  if (statfs(root_.c_str(), &info) == 0 && info.f_type == MSDOS_SUPER_MAGIC && info.f_bsize > 0) {
    return static_cast<uint32_t>(info.f_bsize);
  }
  return kHostClusterSize;
}

bool HostVolume::ListsAll(const VolumePath& directory) const {
  const std::optional<fs::path> host = Resolve(directory);
  if (!host) return false;
  std::error_code error;
  for (fs::directory_iterator it(*host, error), end; !error && it != end; it.increment(error)) {
    struct stat info {};
    if (!Utf8ToCp1252(it->path().filename().string()) || ::stat(it->path().c_str(), &info) != 0 ||
        (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))) {
      return false;
    }
  }
  return !error;
}

}  // namespace tarnwick
