#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "machine/machine.h"

namespace tarnwick {

std::optional<MachineLock> MachineLock::TryAcquire(const Machine& machine) {
  const std::filesystem::path file = machine.Directory() / "tarnwick.lock";
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw MachineError(file.string() + ": " + std::strerror(errno));
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return MachineLock(fd);
  const int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return std::nullopt;
  throw MachineError(file.string() + ": " + std::strerror(error));
}

MachineLock::MachineLock(MachineLock&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

MachineLock& MachineLock::operator=(MachineLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

MachineLock::~MachineLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tarnwick
