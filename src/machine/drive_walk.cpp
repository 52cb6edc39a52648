#include "machine/drive_walk.h"

#include <optional>
#include <string>
#include <system_error>

#include "base/cp1252.h"
#include "base/text.h"
#include "machine/host_dir.h"
#include "machine/host_names.h"
#include "machine/short_name.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// As many links as the kernel follows for one path.
constexpr int kMaxLinks = 40;

// The host name of the entry of dir called name (UTF-8; ansiName in code page 1252) when none has
// that very name: one differing in letter case, else the one whose 8.3 alias it is, since a
// resolved shortcut hands out C:\PROGRA~1\... paths.
std::optional<std::string> FindOtherEntry(const fs::path& dir, const std::string& name,
                                          std::string_view ansiName, HostNameCache& names) {
  if (std::optional<std::string> entry = names.FindFolded(dir, name)) return entry;
  if (!IsBareShortName(UpperAscii(ansiName))) return std::nullopt;  // no alias looks like it
  const auto entries = names.Names(dir);
  const DirectoryEntryName* alias = FindDirectoryEntry(*entries, ansiName);
  if (alias == nullptr) return std::nullopt;
  return alias->hostName;
}

}  // namespace

DriveWalk::DriveWalk(fs::path root, HostNameCache& names)
    : root_(std::move(root)), names_(names), current_(root_) {}

bool DriveWalk::Enter(std::string_view name, bool followLink) {
  const std::string hostName = Cp1252ToUtf8(name);
  fs::path next = current_ / hostName;
  std::error_code ec;
  fs::file_status status;
  if (existing_) {
    status = fs::symlink_status(next, ec);
    if (!fs::exists(status)) {
      if (const auto entry = FindOtherEntry(current_, hostName, name, names_)) {
        next = current_ / *entry;
        status = fs::symlink_status(next, ec);
      } else {
        existing_ = false;
      }
    }
  }
  if (followLink && existing_ && fs::is_symlink(status)) {
    int links = 0;
    return Follow(next, links);
  }
  current_ = std::move(next);
  return true;
}

// Resolves the link's target from current_, the link's own folder, which holds no links: a
// relative target costs only its own components, an absolute one its own resolution.
bool DriveWalk::Follow(const fs::path& link, int& links) {
  if (++links > kMaxLinks) return false;
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return false;
  if (target.is_absolute()) {
    fs::path resolved = fs::canonical(target, ec);
    if (ec || !IsWithin(resolved, root_)) return false;
    current_ = std::move(resolved);
    return true;
  }
  for (const fs::path& part : target) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (current_ == root_ || !fs::is_directory(fs::symlink_status(current_, ec))) return false;
      current_ = current_.parent_path();
      continue;
    }
    fs::path next = current_ / part;
    const fs::file_status status = fs::symlink_status(next, ec);
    if (!fs::exists(status)) return false;
    if (fs::is_symlink(status)) {
      if (!Follow(next, links)) return false;
    } else {
      current_ = std::move(next);
    }
  }
  return true;
}

}  // namespace tarnwick
