#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int UniqueFd::Close() {
  const int result = ::close(Release());
  return result;
}

namespace {

[[noreturn]] void Fail(const std::filesystem::path& file, const std::string& why) {
  throw FileReadError(file.string() + ": cannot be read: " + why);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file, size_t maxSize) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) Fail(file, std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) Fail(file, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) Fail(file, "not a regular file");
  if (static_cast<uintmax_t>(info.st_size) > maxSize) {
    Fail(file, "too large (" + std::to_string(info.st_size) + " bytes, at most " +
                   std::to_string(maxSize) + ")");
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(file, std::strerror(errno));
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace tarnwick
