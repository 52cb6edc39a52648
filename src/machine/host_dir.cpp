#include "machine/host_dir.h"

#include <algorithm>
#include <system_error>

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

bool IsWithin(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

}  // namespace tarnwick
