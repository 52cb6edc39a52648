#include "machine/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "base/file_io.h"

namespace tarnwick {
namespace {

[[noreturn]] void Fail(const std::filesystem::path& file, const std::string& step, int error) {
  throw FileWriteError(file.string() + ": " + step + ": " + std::strerror(error));
}

// Removes the temporary file unless the rename happened.
class TempFile {
 public:
  explicit TempFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::filesystem::path path_;
};

// ".NAME.tmp-PID-COUNTER-RANDOM", hidden beside the target.
std::string TempName(const std::filesystem::path& file) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  std::string name = ".";
  name += file.filename().string();
  name += ".tmp-";
  name += std::to_string(::getpid());
  name += '-';
  name += std::to_string(counter++);
  name += '-';
  name += std::to_string(random());
  return name;
}

void WriteAll(int fd, std::span<const uint8_t> bytes, const std::filesystem::path& temp) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(temp, "cannot write", errno);
    done += static_cast<size_t>(n);
  }
}

}  // namespace

void WriteFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> bytes) {
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  struct stat old {};
  bool replacing = ::stat(file.c_str(), &old) == 0;

  UniqueFd out;
  std::filesystem::path tempPath;
  for (int attempt = 0; !out.Valid(); ++attempt) {
    tempPath = dir / TempName(file);
    out = UniqueFd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out.Valid() && (errno != EEXIST || attempt == 100)) {
      Fail(file, "cannot create a file", errno);
    }
  }
  TempFile temp(tempPath);
  if (replacing && ::fchmod(out.Get(), old.st_mode & 07777) != 0) {
    Fail(temp.path(), "cannot set permissions", errno);
  }
  WriteAll(out.Get(), bytes, temp.path());
  if (::fsync(out.Get()) != 0) Fail(temp.path(), "cannot flush to disk", errno);
  if (out.Close() != 0) Fail(temp.path(), "cannot close", errno);
  if (::rename(temp.path().c_str(), file.c_str()) != 0) Fail(file, "cannot replace", errno);
  temp.Release();

  const UniqueFd directory(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.Valid() || ::fsync(directory.Get()) != 0) {
    Fail(dir, "cannot flush the directory", errno);
  }
}

}  // namespace tarnwick
