#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "machine/machine.h"

namespace tarnwick {

std::optional<MachineLock> MachineLock::TryAcquire(const Machine& machine) {
  const std::filesystem::path file = machine.Directory() / "tarnwick.lock";
  UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.Valid() && errno == ELOOP) {
    throw MachineError(file.string() +
                       ": the lock file is a symbolic link; remove it so that Tarnwick can lock "
                       "the machine");
  }
  if (!fd.Valid()) throw MachineError(file.string() + ": " + std::strerror(errno));
  int result = 0;
  do {
    result = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return MachineLock(std::move(fd));
  if (errno == EWOULDBLOCK) return std::nullopt;
  throw MachineError(file.string() + ": " + std::strerror(errno));
}

}  // namespace tarnwick
