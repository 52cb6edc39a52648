// The names of host directories as look-ups by name in any letter case and by 8.3 alias need them,
// read once and kept while a directory stays as it was read: a walk through a folder of thousands
// of entries then costs a stat of it, not a reading of it.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "machine/short_name.h"

namespace tarnwick {

// A directory counts as unchanged while its device, inode, size, link count and change and
// modification times are. A kernel with multigrain time stamps gives every change after such a
// stat a new change time; elsewhere two changes within one clock tick may share it. So every
// change made through the machine must tell Changed or Removed at once; the stat catches the
// changes made by others. Shared by the copies of a machine; safe to use from several threads.
class HostNameCache {
 public:
  // The byte-wise smallest host name in dir equal to name (UTF-8) ignoring ASCII letter case, as
  // FindEntryIgnoringCase finds it when nothing has the name itself.
  std::optional<std::string> FindFolded(const std::filesystem::path& dir, std::string_view name);
  // As ReadDirectoryNames(dir).
  std::shared_ptr<const std::vector<DirectoryEntryName>> Names(const std::filesystem::path& dir);

  // Forgets dir, after an entry was made, replaced, renamed or removed in it.
  void Changed(const std::filesystem::path& dir);
  // Forgets dir and every directory below it, after the tree was removed.
  void Removed(const std::filesystem::path& dir);
  // Forgets every directory, after changes made without telling which.
  void Clear();

 private:
  struct Listing {
    struct stat info {};
    std::vector<DirectoryEntryName> names;
    // ASCII upper case of every host name -> the byte-wise smallest host name folding so.
    std::unordered_map<std::string, std::string> byFoldedName;
  };

  // The listing of dir as it is now; empty when it cannot be read.
  std::shared_ptr<const Listing> Find(const std::filesystem::path& dir);

  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const Listing>> listings_;
};

// Tells a cache of a change in a folder when it goes out of scope, whether the change was made or
// failed half way; with below set, of every folder below it too.
class FolderChange {
 public:
  FolderChange(HostNameCache& names, std::filesystem::path dir, bool below = false)
      : names_(names), dir_(std::move(dir)), below_(below) {}
  ~FolderChange() { below_ ? names_.Removed(dir_) : names_.Changed(dir_); }
  FolderChange(const FolderChange&) = delete;
  FolderChange& operator=(const FolderChange&) = delete;

 private:
  HostNameCache& names_;
  std::filesystem::path dir_;
  bool below_;
};

}  // namespace tarnwick
