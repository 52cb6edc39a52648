// Whole-file writes that a crash never leaves half done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "base/error.h"
#include "machine/host_dir.h"

namespace tarnwick {

// A file that could not be written or checked: the text names the file, the step and the reason.
class FileWriteError : public Error {
 public:
  using Error::Error;
};

// Whether a read-only file (IsReadOnlyMode) may be replaced. Windows 95 refuses to change one;
// only its registry rewrites its own hives, which it keeps read-only.
enum class ReadOnlyFiles { Refuse, Replace };

// Writes a temporary file beside the target in the held directory, flushes it to disk, renames it
// over the target and flushes the directory. A symbolic link at the target is replaced, never
// written through. Throws FileWriteError on failure; the old file stays.
void WriteFileAtomically(const HeldPath& target, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse);

// The same for a host path whose folders hold no symbolic link (as Machine resolves them): they
// are opened without following any, so a link swapped in meanwhile is refused.
void WriteFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse);

}  // namespace tarnwick
