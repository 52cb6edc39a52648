// Whole-file writes that a crash never leaves half done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "base/error.h"

namespace tarnwick {

// A file that could not be written or checked: the text names the file, the step and the reason.
class FileWriteError : public Error {
 public:
  using Error::Error;
};

// Writes a temporary file beside the target, flushes it to disk, renames it over the target and
// flushes the directory. Throws FileWriteError on failure; the old file stays.
void WriteFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> bytes);

}  // namespace tarnwick
