// Whole-file writes that a crash never leaves half done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace tarnwick {

// Writes a temporary file beside the target, flushes it to disk, renames it over the target and
// flushes the directory. Throws std::system_error naming the file on failure; the old file stays.
void WriteFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> bytes);

}  // namespace tarnwick
