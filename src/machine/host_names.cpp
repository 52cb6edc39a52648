#include "machine/host_names.h"

#include "base/text.h"
#include "machine/host_dir.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// More folders than a machine's walks meet between two changes: past it, start afresh.
constexpr size_t kMaxListings = 4096;

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_nlink == b.st_nlink && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

std::shared_ptr<const HostNameCache::Listing> HostNameCache::Find(const fs::path& dir) {
  // The state is taken before the reading: a change meanwhile leaves a listing that the next
  // look-up finds out of date.
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Changed(dir);
    return nullptr;
  }
  {
    const std::lock_guard lock(mutex_);
    const auto kept = listings_.find(dir.native());
    if (kept != listings_.end() && SameState(kept->second->info, info)) return kept->second;
  }
  std::optional<std::vector<std::string>> hostNames = ListHostNames(dir);
  if (!hostNames) return nullptr;
  auto listing = std::make_shared<Listing>();
  listing->info = info;
  listing->names = DirectoryNamesOf(dir, *hostNames);
  for (std::string& name : *hostNames) {
    auto [at, added] = listing->byFoldedName.try_emplace(UpperAscii(name), name);
    if (!added && name < at->second) at->second = std::move(name);
  }
  const std::lock_guard lock(mutex_);
  if (listings_.size() >= kMaxListings) listings_.clear();
  listings_.insert_or_assign(dir.native(), listing);
  return listing;
}

std::optional<std::string> HostNameCache::FindFolded(const fs::path& dir, std::string_view name) {
  const std::shared_ptr<const Listing> listing = Find(dir);
  if (!listing) return FindEntryIgnoringCase(dir, name);
  const auto found = listing->byFoldedName.find(UpperAscii(name));
  if (found == listing->byFoldedName.end()) return std::nullopt;
  return found->second;
}

std::shared_ptr<const std::vector<DirectoryEntryName>> HostNameCache::Names(const fs::path& dir) {
  const std::shared_ptr<const Listing> listing = Find(dir);
  if (!listing) return std::make_shared<const std::vector<DirectoryEntryName>>();
  return {listing, &listing->names};
}

void HostNameCache::Changed(const fs::path& dir) {
  const std::lock_guard lock(mutex_);
  listings_.erase(dir.native());
}

void HostNameCache::Removed(const fs::path& dir) {
  const std::lock_guard lock(mutex_);
  const std::string& top = dir.native();
  listings_.erase(top);
  // The directories below dir sort after "dir/" and before "dir0".
  const auto first = listings_.lower_bound(top + '/');
  const auto last = listings_.lower_bound(top + static_cast<char>('/' + 1));
  listings_.erase(first, last);
}

void HostNameCache::Clear() {
  const std::lock_guard lock(mutex_);
  listings_.clear();
}

}  // namespace tarnwick
