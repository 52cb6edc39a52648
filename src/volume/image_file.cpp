#include "volume/image_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

namespace tarnwick {

namespace {

// QEMU marks the permissions it holds with shared locks on bytes 100 and up; byte 101 is its
// write permission.
constexpr off_t kQemuWritePermByte = 101;

std::string Busy(const std::filesystem::path& path) {
  return "The disk image " + path.string() +
         " is in use by another program, such as an emulator running it. Shut the emulator down "
         "first.";
}

bool RangeInside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

ImageFile::ImageFile(const std::filesystem::path& path, Mode mode)
    : path_(path), readOnly_(mode == Mode::ReadOnly) {
  fd_ = ::open(path.c_str(), (readOnly_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd_ < 0) Fail("Cannot open");
  try {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) Fail("Cannot read");
    if (!S_ISREG(status.st_mode)) {
      throw BlockDeviceError("The disk image " + path_.string() + " is not a regular file.");
    }
    size_ = static_cast<uint64_t>(status.st_size);
    Lock();
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

ImageFile::~ImageFile() {
  ::close(fd_);
}

void ImageFile::Lock() {
  if (::flock(fd_, (readOnly_ ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) throw ImageBusyError(Busy(path_));
    Fail("Cannot lock");
  }
  // Read-write holds every byte; read-only shares all but QEMU's write byte, which it asks about
  // instead, so that readers do not see each other as writers.
  auto lock = [&](short type, off_t start, off_t length) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = start;
    range.l_len = length;
    if (::fcntl(fd_, F_OFD_SETLK, &range) != 0) {
      if (errno == EAGAIN || errno == EACCES) throw ImageBusyError(Busy(path_));
      Fail("Cannot lock");
    }
  };
  if (!readOnly_) return lock(F_WRLCK, 0, 0);
  lock(F_RDLCK, 0, kQemuWritePermByte);
  lock(F_RDLCK, kQemuWritePermByte + 1, 0);
  struct flock writer {};
  writer.l_type = F_WRLCK;
  writer.l_whence = SEEK_SET;
  writer.l_start = kQemuWritePermByte;
  writer.l_len = 1;
  if (::fcntl(fd_, F_OFD_GETLK, &writer) != 0) Fail("Cannot lock");
  if (writer.l_type != F_UNLCK) throw ImageBusyError(Busy(path_));
}

void ImageFile::Fail(const char* what) const {
  throw BlockDeviceError(std::string(what) + " the disk image " + path_.string() + ": " +
                         std::strerror(errno));
}

void ImageFile::Read(uint64_t offset, std::span<uint8_t> out) const {
  if (!RangeInside(offset, out.size(), size_)) {
    throw BlockDeviceError("A read past the end of the disk image " + path_.string() + ".");
  }
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t got =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("Cannot read");
    if (got == 0) {
      throw BlockDeviceError("The disk image " + path_.string() + " became shorter.");
    }
    done += static_cast<size_t>(got);
  }
}

void ImageFile::Write(uint64_t offset, std::span<const uint8_t> data) {
  if (!RangeInside(offset, data.size(), size_)) {
    throw BlockDeviceError("A write past the end of the disk image " + path_.string() + ".");
  }
  WriteAt(offset, data);
}

void ImageFile::WriteExtending(uint64_t offset, std::span<const uint8_t> data) {
  if (offset > std::numeric_limits<off_t>::max() - data.size()) {
    throw BlockDeviceError("The disk image " + path_.string() + " cannot grow further.");
  }
  WriteAt(offset, data);
  size_ = std::max(size_, offset + data.size());
}

void ImageFile::WriteAt(uint64_t offset, std::span<const uint8_t> data) {
  if (readOnly_) {
    throw BlockDeviceError("The disk image " + path_.string() + " is open read-only.");
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t put =
        ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) Fail("Cannot write");
    done += static_cast<size_t>(put);
  }
}

void ImageFile::Flush() {
  if (readOnly_) return;
  if (::fdatasync(fd_) != 0) Fail("Cannot write");
}

}  // namespace tarnwick
