// Host directories seen the way Windows sees them: names found regardless of letter case, and
// whether one path lies inside another; and directories held open so that a path checked once
// cannot be redirected by a symbolic link swapped in before it is used.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

namespace tarnwick {

// The entry of dir that Windows takes for name (both UTF-8): the exact name when it exists, else
// the byte-wise smallest name equal to it ignoring ASCII letter case. Empty when there is none.
std::optional<std::string> FindEntryIgnoringCase(const std::filesystem::path& dir,
                                                 std::string_view name);

// The names of dir's entries (UTF-8) without "." and "..", in the order read; empty when dir
// cannot be read.
std::optional<std::vector<std::string>> ListHostNames(const std::filesystem::path& dir);

// True when path is root or lies below it, compared component by component; both paths are
// absolute and lexically normal, without a trailing separator.
bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& root);

// A directory held open and one name in it: every change made through it (create, replace,
// rename, delete) happens in the directory that was checked, whatever is renamed meanwhile.
struct HeldPath {
  UniqueFd dir;
  std::string name;            // the entry's host name (UTF-8); it need not exist
  std::filesystem::path host;  // the whole host path, for messages
  int error = 0;               // errno of the failed open when dir is invalid
};

// Opens dir (absolute, or relative to the working directory) one component at a time without
// following any symbolic link: a link met on the way gives ELOOP, a missing one
// ENOENT. O_RDONLY | O_DIRECTORY. Invalid with errno set on failure.
UniqueFd OpenDirectoryNoFollow(const std::filesystem::path& dir);

// strerror, with a link met by a walk that follows none said as such.
std::string WalkErrorText(int error);

// The held parent of file and file's name, opened as OpenDirectoryNoFollow opens it. The name is
// never followed. Invalid dir and error set on failure; file must have a file name.
HeldPath HoldParentNoFollow(const std::filesystem::path& file);

// The type and mode of name in dir without following a link; false with errno set when it cannot
// be told (ENOENT: there is no such entry).
bool StatEntry(const HeldPath& path, struct stat& info);

// True when the mode bits say nobody may write the file: Windows 95's read-only attribute as a
// vfat mount shows it, or a file set read-only with chmod a-w. Checked on the bits themselves,
// since a process running as root may write anyway.
bool IsReadOnlyMode(unsigned mode);

// mkdirat in the held folder: 0, or errno (EEXIST when anything has the name already).
int MakeDirectoryAt(const HeldPath& path);

// Deletes the entry with everything below it, each directory opened without following a link (a
// link is deleted, never what it points to). A read-only file anywhere in it (IsReadOnlyMode)
// refuses the whole deletion before anything is deleted. Empty on success, else what failed: the
// host path and the reason.
std::string RemoveTree(const HeldPath& path);

}  // namespace tarnwick
