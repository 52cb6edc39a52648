#include "registry/creg_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "machine/atomic_file.h"

namespace tarnwick {
namespace {

// Far above any real hive (Windows 95's are a few megabytes); refusing larger files keeps a wrong
// path from turning into a huge allocation.
constexpr off_t kMaxFileSize = 256 << 20;

class ReadFd {
 public:
  explicit ReadFd(const std::filesystem::path& file)
      : fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~ReadFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadFd(const ReadFd&) = delete;
  ReadFd& operator=(const ReadFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void FailToRead(const std::filesystem::path& file, const std::string& why) {
  throw RegistryFileError(file.string() + ": cannot be read: " + why);
}

}  // namespace

std::unique_ptr<RegNode> ReadRegistryFile(const std::filesystem::path& file) {
  ReadFd fd(file);
  if (fd.get() < 0) FailToRead(file, std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) FailToRead(file, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) FailToRead(file, "not a regular file");
  if (info.st_size > kMaxFileSize) {
    FailToRead(file, "too large for a registry file (" + std::to_string(info.st_size) + " bytes)");
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailToRead(file, std::strerror(errno));
    if (n == 0) break;  // shrank while reading: decode what is there
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return DecodeRegistryFile(bytes, file.string());
}

void WriteRegistryFile(const std::filesystem::path& file, const RegNode& root) {
  std::vector<uint8_t> bytes = EncodeRegistryFile(root, file.string());
  try {
    WriteFileAtomically(file, bytes);
  } catch (const std::system_error& e) {
    throw RegistryFileError(e.what());
  }
}

}  // namespace tarnwick
