// A walk down a drive's host directory, one Windows path component at a time.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarnwick {

class HostNameCache;

// Each step costs the lookup of its component and the symbolic links met there, never the path
// walked before it, and no step leaves the drive's directory.
class DriveWalk {
 public:
  // root: the drive's directory, absolute and canonical. names keeps what the walk reads of the
  // folders it passes.
  DriveWalk(std::filesystem::path root, HostNameCache& names);

  // Steps into the component name (code page 1252, not "." or ".."). An existing entry is found
  // as FindEntryIgnoringCase finds it, else as the entry whose 8.3 alias name is; a symbolic link
  // is followed at once. A missing entry keeps the name given, and so does every later component.
  // False when the step would leave the drive: a link pointing outside it (or climbing above its
  // root on the way), a dangling link, or one of a chain of more than 40 links. With followLink
  // false a link is entered as it is, for a last component to be replaced or removed.
  bool Enter(std::string_view name, bool followLink = true);

  // The host path reached; free of symbolic links up to the first missing component.
  const std::filesystem::path& Current() const { return current_; }

 private:
  bool Follow(const std::filesystem::path& link, int& links);

  std::filesystem::path root_;
  HostNameCache& names_;
  std::filesystem::path current_;
  bool existing_ = true;
};

}  // namespace tarnwick
