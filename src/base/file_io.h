// File descriptors that close themselves, and whole-file reads bounded in size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"

namespace tarnwick {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();
  // Closes now so that a failing close is seen: 0, or -1 with errno set.
  int Close();

 private:
  int fd_ = -1;
};

// A file that cannot be read whole: missing, unreadable, not a regular file, or over the limit.
class FileReadError : public Error {
 public:
  using Error::Error;
};

// The bytes of a regular file of at most maxSize bytes. The text of FileReadError names the file
// and the reason. A file that shrinks while read gives what was there.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file, size_t maxSize);

}  // namespace tarnwick
