// What a copy asks and tells while it runs: the windows answer with dialogs and a progress
// window, the command line with text.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tarnwick {

// The answers to the shell's replace question: Yes, Yes to All, No, Cancel.
enum class ReplaceAnswer { Yes, YesToAll, No, Cancel };

struct FileFacts {
  uint64_t size = 0;
  std::chrono::sys_seconds modified;
};

// The question asked before an existing file is replaced or an existing folder is merged.
struct ReplaceQuestion {
  bool folder = false;
  std::string name;  // the existing entry's name (UTF-8)
  // For a file: the one in place and the one that would replace it.
  FileFacts existing;
  FileFacts replacement;

  // The question in words; formatTime writes a modification time the way its reader expects.
  std::string Text(const std::function<std::string(std::chrono::sys_seconds)>& formatTime) const;
};

class OperationPrompter {
 public:
  virtual ~OperationPrompter() = default;

  virtual ReplaceAnswer ConfirmReplace(const ReplaceQuestion& question) = 0;
  // The copy starts on the file from, into the folder to.
  virtual void Copying(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // done of total units of the whole copy are copied (every file's bytes plus one).
  virtual void Progress(uint64_t done, uint64_t total) = 0;
  // True once the person asked to stop; the copy asks after every step.
  virtual bool Cancelled() = 0;
};

}  // namespace tarnwick
