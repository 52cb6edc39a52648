// The lock of a registry file outside any machine directory.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "base/file_io.h"

namespace tarnwick {

// Keeps out, while it lives, every other holder of a FileLock in the file's directory and every
// machine whose fixed drive holds the file (a MachineLock locks each drive's top directory, which
// is the file's directory or one above it).
class FileLock {
 public:
  // Empty when one of them holds its lock. Throws FileReadError when the file's directory cannot
  // be opened.
  static std::optional<FileLock> TryAcquire(const std::filesystem::path& file);

 private:
  FileLock() = default;
  std::vector<UniqueFd> dirs_;
};

}  // namespace tarnwick
