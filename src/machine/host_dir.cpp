#include "machine/host_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "base/text.h"

namespace tarnwick {

namespace fs = std::filesystem;

std::optional<std::string> FindEntryIgnoringCase(const fs::path& dir, std::string_view name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir / name, ec))) return std::string(name);
  std::optional<std::string> best;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (EqualsIgnoreCase(entry, name) && (!best || entry < *best)) best = std::move(entry);
  }
  return best;
}

std::optional<std::vector<std::string>> ListHostNames(const fs::path& dir) {
  DIR* stream = ::opendir(dir.c_str());
  if (stream == nullptr) return std::nullopt;
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  const bool complete = errno == 0;
  ::closedir(stream);
  if (!complete) return std::nullopt;
  return names;
}

bool IsWithin(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

UniqueFd OpenDirectoryNoFollow(const fs::path& dir) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd current(::open(dir.is_absolute() ? "/" : ".", kFlags));
  for (const fs::path& part : dir.relative_path()) {
    if (!current.Valid()) break;
    if (part.empty() || part == ".") continue;
    UniqueFd next(::openat(current.Get(), part.c_str(), kFlags));
    // With O_DIRECTORY the kernel reports a link as ENOTDIR: say it is a link.
    struct stat info {};
    if (!next.Valid() && errno == ENOTDIR &&
        ::fstatat(current.Get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
    }
    current = std::move(next);
  }
  return current;
}

HeldPath HoldParentNoFollow(const fs::path& file) {
  fs::path parent = file.parent_path();
  if (parent.empty()) parent = ".";
  HeldPath held{OpenDirectoryNoFollow(parent), file.filename().string(), file};
  if (!held.dir.Valid()) held.error = errno;
  return held;
}

std::string WalkErrorText(int error) {
  if (error == ELOOP) return "a folder on the way is a symbolic link";
  return std::strerror(error);
}

bool StatEntry(const HeldPath& path, struct stat& info) {
  return ::fstatat(path.dir.Get(), path.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsReadOnlyMode(unsigned mode) {
  return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

int MakeDirectoryAt(const HeldPath& path) {
  if (!path.dir.Valid()) return path.error;
  return ::mkdirat(path.dir.Get(), path.name.c_str(), 0777) == 0 ? 0 : errno;
}

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string Failure(const fs::path& path, int error) {
  return path.string() + ": " + WalkErrorText(error);
}

// The names in an open directory, without "." and "..".
std::vector<std::string> EntryNames(int dir) {
  std::vector<std::string> names;
  const int copy = ::openat(dir, ".", kDirectoryFlags);
  DIR* stream = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (stream == nullptr) {
    if (copy >= 0) ::close(copy);
    return names;
  }
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(stream);
  return names;
}

// Visits name in dir and, for a directory, everything below it, children before their parent.
// visit(dir, name, shown, info) returns a failure text to stop at, or empty.
template <typename Visit>
std::string WalkTree(int dir, const std::string& name, const fs::path& shown, Visit& visit) {
  struct stat info {};
  if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return Failure(shown, errno);
  if (S_ISDIR(info.st_mode)) {
    const UniqueFd inner(::openat(dir, name.c_str(), kDirectoryFlags));
    if (!inner.Valid()) return Failure(shown, errno);
    for (const std::string& child : EntryNames(inner.Get())) {
      if (std::string failure = WalkTree(inner.Get(), child, shown / child, visit);
          !failure.empty()) {
        return failure;
      }
    }
  }
  return visit(dir, name, shown, info);
}

}  // namespace

std::string RemoveTree(const HeldPath& path) {
  if (!path.dir.Valid()) return Failure(path.host, path.error);
  auto refuseReadOnly = [](int, const std::string&, const fs::path& shown,
                           const struct stat& info) -> std::string {
    if (S_ISREG(info.st_mode) && IsReadOnlyMode(info.st_mode)) {
      return shown.string() + ": the file is read-only and is not deleted";
    }
    return {};
  };
  if (std::string failure = WalkTree(path.dir.Get(), path.name, path.host, refuseReadOnly);
      !failure.empty()) {
    return failure;
  }
  auto remove = [](int dir, const std::string& name, const fs::path& shown,
                   const struct stat& info) -> std::string {
    if (::unlinkat(dir, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0) {
      return Failure(shown, errno);
    }
    return {};
  };
  return WalkTree(path.dir.Get(), path.name, path.host, remove);
}

}  // namespace tarnwick
