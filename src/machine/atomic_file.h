// Whole-file writes that a crash never leaves half done.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <span>
#include <utility>

#include "base/error.h"
#include "base/file_io.h"
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

// Flushes to disk of new files postponed and made at once: while a span is open, a new file is
// not flushed with its folder by itself; the end of the outermost span flushes every file system
// written meanwhile (syncfs). A file that replaces another is always flushed at once, so that the
// old contents are never lost to a new file not yet on disk. Shared by the copies of a machine; a
// span must not end while a write in it is under way.
class DeferredFlush {
 public:
  void Begin();
  // Ends a span; the outermost one flushes. Throws FileWriteError naming a folder on a file system
  // that cannot be flushed: its new files may not be on disk.
  void End();
  // False when no span is open; else the file system of the folder dir (shown in messages) is
  // flushed at the span's end.
  bool Defer(int dir, const std::filesystem::path& shown);

 private:
  std::mutex mutex_;
  int depth_ = 0;
  // One folder held open on each file system written, by device.
  std::map<dev_t, std::pair<UniqueFd, std::filesystem::path>> fileSystems_;
};

// Writes a temporary file beside the target in the held directory, flushes it to disk, renames it
// over the target and flushes the directory. A symbolic link at the target is replaced, never
// written through. Throws FileWriteError on failure; the old file stays. A new file leaves its
// flushes to deferred while it has a span open.
void WriteFileAtomically(const HeldPath& target, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse,
                         DeferredFlush* deferred = nullptr);

// The same for a host path whose folders hold no symbolic link (as Machine resolves them): they
// are opened without following any, so a link swapped in meanwhile is refused.
void WriteFileAtomically(const std::filesystem::path& file, std::span<const uint8_t> bytes,
                         ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse);

}  // namespace tarnwick
