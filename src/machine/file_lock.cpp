#include "machine/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tarnwick {

namespace fs = std::filesystem;

// The file's directory exclusively, each directory above it shared: a drive's top directory that
// a machine locks exclusively is one of them.
std::optional<FileLock> FileLock::TryAcquire(const fs::path& file) {
  std::error_code ec;
  const fs::path dir = fs::canonical(fs::absolute(file).parent_path(), ec);
  if (ec) throw FileReadError(file.string() + ": cannot be locked: " + ec.message());
  FileLock lock;
  for (fs::path at = dir;; at = at.parent_path()) {
    UniqueFd fd(::open(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) {
      int result = 0;
      do {
        result = ::flock(fd.Get(), (at == dir ? LOCK_EX : LOCK_SH) | LOCK_NB);
      } while (result != 0 && errno == EINTR);
      if (result != 0 && errno == EWOULDBLOCK) return std::nullopt;
      if (result != 0) {
        throw FileReadError(file.string() + ": cannot be locked: " + std::strerror(errno));
      }
      lock.dirs_.push_back(std::move(fd));
    } else if (at == dir) {
      throw FileReadError(file.string() + ": cannot be locked: " + std::strerror(errno));
    }
    // A directory above that cannot be read holds no drive this user's machines lock.
    if (at == at.root_path()) break;
  }
  return lock;
}

}  // namespace tarnwick
