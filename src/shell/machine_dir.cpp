#include "shell/machine_dir.h"

#include <system_error>

#include "platform/cp1252.h"
#include "platform/machine.h"

namespace tarnwick {

namespace fs = std::filesystem;

std::optional<fs::path> ExistingDirectory(const Machine& machine, std::string_view windowsPath) {
  if (windowsPath.empty()) return std::nullopt;
  std::optional<fs::path> host = machine.HostPath(windowsPath);
  std::error_code error;
  if (!host || !fs::is_directory(*host, error)) return std::nullopt;
  return host;
}

std::vector<DirEntry> ListDirectory(const fs::path& hostDir) {
  std::vector<DirEntry> entries;
  std::error_code error;
  for (fs::directory_iterator it(hostDir, error), end; !error && it != end; it.increment(error)) {
    std::optional<std::string> name = Utf8ToCp1252(it->path().filename().string());
    if (!name) continue;
    std::error_code typeError;
    entries.push_back({std::move(*name), it->is_directory(typeError)});
  }
  return entries;
}

bool HasEntries(const fs::path& hostDir) {
  std::error_code error;
  return fs::directory_iterator(hostDir, error) != fs::directory_iterator();
}

}  // namespace tarnwick
