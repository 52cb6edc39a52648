#include "machine/file_commit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <string_view>
#include <system_error>

#include "base/text.h"
#include "machine/host_dir.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRecordHeader = "tarnwick commit\n";
constexpr std::string_view kTempMark = ".tmp-";

[[noreturn]] void Fail(const fs::path& file, const std::string& step, int error) {
  throw FileWriteError(file.string() + ": " + step + ": " + std::strerror(error));
}

UniqueFd OpenDirectory(const fs::path& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) Fail(dir, "cannot open the directory", errno);
  return fd;
}

void SyncDirectory(int fd, const fs::path& dir) {
  if (::fsync(fd) != 0) Fail(dir, "cannot flush the directory", errno);
}

void WriteAll(int fd, std::span<const uint8_t> bytes, const fs::path& file) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(file, "cannot write", errno);
    done += static_cast<size_t>(n);
  }
}

// Creates a new temporary file for name in dir, never following a link, and writes bytes to it,
// flushed to disk; mode is that of the old file when there is one. Returns the temporary's name;
// on failure it is gone again.
std::string WriteTemporary(int dir, const fs::path& dirPath, const std::string& name,
                           std::span<const uint8_t> bytes) {
  std::random_device random;
  std::string temp;
  UniqueFd out;
  for (int attempt = 0; !out.Valid(); ++attempt) {
    temp = "." + name + std::string(kTempMark) + std::to_string(::getpid()) + "-" +
           std::to_string(random()) + std::to_string(random());
    out = UniqueFd(
        ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out.Valid() && (errno != EEXIST || attempt == 100)) {
      Fail(dirPath / name, "cannot create a file", errno);
    }
  }
  try {
    struct stat old {};
    if (::fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode) &&
        ::fchmod(out.Get(), old.st_mode & 07777) != 0) {
      Fail(dirPath / temp, "cannot set permissions", errno);
    }
    WriteAll(out.Get(), bytes, dirPath / temp);
    if (::fsync(out.Get()) != 0) Fail(dirPath / temp, "cannot flush to disk", errno);
    if (out.Close() != 0) Fail(dirPath / temp, "cannot close", errno);
  } catch (...) {
    ::unlinkat(dir, temp.c_str(), 0);
    throw;
  }
  return temp;
}

void AppendPath(std::vector<uint8_t>& record, const fs::path& path) {
  const std::string& text = path.native();
  record.insert(record.end(), text.begin(), text.end());
  record.push_back(0);
}

}  // namespace

FileCommit::FileCommit(fs::path recordDir) : recordDir_(std::move(recordDir)) {}

FileCommit::~FileCommit() {
  if (recorded_) return;  // CompleteFileCommit finishes it
  for (const Entry& entry : entries_) ::unlinkat(entry.dir.Get(), entry.temp.c_str(), 0);
}

void FileCommit::Stage(const fs::path& file, std::span<const uint8_t> bytes,
                       ReadOnlyFiles readOnly) {
  Entry entry;
  entry.dirPath = fs::absolute(file.parent_path().empty() ? fs::path(".") : file.parent_path());
  entry.name = file.filename().string();
  // The folders are opened without following a link, so one swapped in meanwhile is refused.
  HeldPath held = HoldParentNoFollow(entry.dirPath / entry.name);
  if (!held.dir.Valid()) {
    throw FileWriteError((entry.dirPath / entry.name).string() +
                         ": cannot open its folder: " + WalkErrorText(held.error));
  }
  entry.dir = std::move(held.dir);
  struct stat old {};
  if (readOnly == ReadOnlyFiles::Refuse &&
      ::fstatat(entry.dir.Get(), entry.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old.st_mode) && IsReadOnlyMode(old.st_mode)) {
    throw FileWriteError(file.string() +
                         ": the file is read-only and stays as it is (make it writable to let "
                         "it be replaced)");
  }
  entry.temp = WriteTemporary(entry.dir.Get(), entry.dirPath, entry.name, bytes);
  entries_.push_back(std::move(entry));
}

void FileCommit::Commit() {
  // A record left by an earlier failure of this process goes first: it would be overwritten.
  CompleteFileCommit(recordDir_);
  const UniqueFd recordDir = OpenDirectory(recordDir_);
  if (entries_.size() > 1) {
    std::vector<uint8_t> record(kRecordHeader.begin(), kRecordHeader.end());
    for (const Entry& entry : entries_) {
      AppendPath(record, entry.dirPath / entry.temp);
      AppendPath(record, entry.dirPath / entry.name);
    }
    const std::string temp = WriteTemporary(recordDir.Get(), recordDir_, kCommitRecordName, record);
    if (::renameat(recordDir.Get(), temp.c_str(), recordDir.Get(), kCommitRecordName) != 0) {
      const int error = errno;
      ::unlinkat(recordDir.Get(), temp.c_str(), 0);
      Fail(recordDir_ / kCommitRecordName, "cannot be written", error);
    }
    SyncDirectory(recordDir.Get(), recordDir_);
    recorded_ = true;
  }
  for (const Entry& entry : entries_) {
    if (::renameat(entry.dir.Get(), entry.temp.c_str(), entry.dir.Get(), entry.name.c_str()) != 0) {
      Fail(entry.dirPath / entry.name, "cannot replace", errno);
    }
  }
  std::set<fs::path> synced;
  for (const Entry& entry : entries_) {
    if (synced.insert(entry.dirPath).second) SyncDirectory(entry.dir.Get(), entry.dirPath);
  }
  entries_.clear();
  if (recorded_) {
    if (::unlinkat(recordDir.Get(), kCommitRecordName, 0) != 0) {
      Fail(recordDir_ / kCommitRecordName, "cannot be removed", errno);
    }
    SyncDirectory(recordDir.Get(), recordDir_);
    recorded_ = false;
  }
}

void CompleteFileCommit(const fs::path& recordDir) {
  const fs::path file = recordDir / kCommitRecordName;
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0 && errno == ENOENT) return;
  std::vector<uint8_t> bytes;
  try {
    if (!S_ISREG(info.st_mode)) throw FileReadError(file.string() + ": not a regular file");
    bytes = ReadWholeFile(file, 1 << 20);
  } catch (const FileReadError& e) {
    throw FileWriteError(std::string(e.what()) + " (the record of an unfinished change)");
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!text.starts_with(kRecordHeader) || !text.ends_with('\0')) {
    throw FileWriteError(file.string() + ": not a record of an unfinished change");
  }
  std::vector<fs::path> paths;
  for (size_t at = kRecordHeader.size(); at < text.size();) {
    const size_t end = text.find('\0', at);
    paths.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (paths.size() % 2 != 0) throw FileWriteError(file.string() + ": an incomplete record");
  std::set<fs::path> dirs;
  for (size_t i = 0; i < paths.size(); i += 2) {
    // A temporary that is gone was renamed before the kill.
    if (::rename(paths[i].c_str(), paths[i + 1].c_str()) != 0 && errno != ENOENT) {
      Fail(paths[i + 1], "cannot replace", errno);
    }
    dirs.insert(paths[i + 1].parent_path());
  }
  for (const fs::path& dir : dirs) {
    const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) SyncDirectory(fd.Get(), dir);
  }
  if (::unlink(file.c_str()) != 0) Fail(file, "cannot be removed", errno);
  const UniqueFd dir = OpenDirectory(recordDir);
  SyncDirectory(dir.Get(), recordDir);
}

void RemoveTemporaryFiles(const fs::path& dir, std::span<const std::string> names) {
  const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) return;
  std::vector<std::string> leftovers;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    const size_t mark = entry.find(kTempMark);
    if (!entry.starts_with('.') || mark == std::string::npos) continue;
    const std::string_view name = std::string_view(entry).substr(1, mark - 1);
    for (const std::string& wanted : names) {
      if (EqualsIgnoreCase(name, wanted)) {
        leftovers.push_back(std::move(entry));
        break;
      }
    }
  }
  for (const std::string& entry : leftovers) ::unlinkat(fd.Get(), entry.c_str(), 0);
}

}  // namespace tarnwick
