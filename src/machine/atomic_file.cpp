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
  throw FileWriteError(file.string() + ": " + step + ": " + WalkErrorText(error));
}

// Removes the temporary file unless the rename happened.
class TempFile {
 public:
  TempFile(int dir, std::string name) : dir_(dir), name_(std::move(name)) {}
  ~TempFile() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& name() const { return name_; }
  void Release() { name_.clear(); }

 private:
  int dir_;
  std::string name_;
};

// ".NAME.tmp-PID-COUNTER-RANDOM", hidden beside the target.
std::string TempName(const std::string& file) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  std::string name = ".";
  name += file;
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

void DeferredFlush::Begin() {
  const std::lock_guard lock(mutex_);
  ++depth_;
}

void DeferredFlush::End() {
  std::map<dev_t, std::pair<UniqueFd, std::filesystem::path>> written;
  {
    const std::lock_guard lock(mutex_);
    if (--depth_ > 0) return;
    written.swap(fileSystems_);
  }
  for (const auto& [device, folder] : written) {
    if (::syncfs(folder.first.Get()) != 0) Fail(folder.second, "cannot flush to disk", errno);
  }
}

bool DeferredFlush::Defer(int dir, const std::filesystem::path& shown) {
  struct stat info {};
  if (::fstat(dir, &info) != 0) return false;
  const std::lock_guard lock(mutex_);
  if (depth_ == 0) return false;
  if (!fileSystems_.contains(info.st_dev)) {
    UniqueFd held(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!held.Valid()) return false;
    fileSystems_.emplace(info.st_dev, std::make_pair(std::move(held), shown));
  }
  return true;
}

void WriteFileAtomically(const HeldPath& target, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly, DeferredFlush* deferred) {
  const std::filesystem::path& file = target.host;
  if (!target.dir.Valid()) Fail(file, "cannot open its folder", target.error);
  const int dir = target.dir.Get();
  struct stat old {};
  // A link is replaced by the new file with the usual permissions, not with its target's.
  const bool exists = StatEntry(target, old);
  const bool replacing = exists && S_ISREG(old.st_mode);
  if (replacing && readOnly == ReadOnlyFiles::Refuse && IsReadOnlyMode(old.st_mode)) {
    throw FileWriteError(file.string() +
                         ": the file is read-only and stays as it is (make it writable to let "
                         "it be replaced)");
  }

  UniqueFd out;
  std::string tempName;
  for (int attempt = 0; !out.Valid(); ++attempt) {
    tempName = TempName(target.name);
    out = UniqueFd(::openat(dir, tempName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out.Valid() && (errno != EEXIST || attempt == 100)) {
      Fail(file, "cannot create a file", errno);
    }
  }
  TempFile temp(dir, tempName);
  const std::filesystem::path tempPath = file.parent_path() / tempName;
  if (replacing && ::fchmod(out.Get(), old.st_mode & 07777) != 0) {
    Fail(tempPath, "cannot set permissions", errno);
  }
  WriteAll(out.Get(), bytes, tempPath);
  const bool flushLater =
      !exists && deferred != nullptr && deferred->Defer(dir, file.parent_path());
  if (!flushLater && ::fsync(out.Get()) != 0) Fail(tempPath, "cannot flush to disk", errno);
  if (out.Close() != 0) Fail(tempPath, "cannot close", errno);
  if (::renameat(dir, temp.name().c_str(), dir, target.name.c_str()) != 0) {
    Fail(file, "cannot replace", errno);
  }
  temp.Release();
  if (!flushLater && ::fsync(dir) != 0) {
    Fail(file.parent_path(), "cannot flush the directory", errno);
  }
}

void WriteFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly) {
  WriteFileAtomically(HoldParentNoFollow(file), bytes, readOnly);
}

}  // namespace tarnwick
