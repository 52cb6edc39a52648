// The copy's questions and progress as lines of text, for the command line.
#pragma once

#include <iosfwd>

#include "operations/operation_prompter.h"

namespace tarnwick {

class TextPrompter : public OperationPrompter {
 public:
  // Questions and progress are written to out, answers read from in, one line each.
  TextPrompter(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  // Asks again until the answer is y, a, n or c (or yes, all, no, cancel, any case); the end of
  // the input answers Cancel.
  ReplaceAnswer ConfirmReplace(const ReplaceQuestion& question) override;
  // One line per file: "Copying NAME from 'FOLDER' to 'FOLDER'".
  void Copying(const std::filesystem::path& from, const std::filesystem::path& to) override;
  // The lines of Copying are its progress.
  void Progress(uint64_t, uint64_t) override {}
  // Only a Cancel answer stops the copy.
  bool Cancelled() override { return false; }

 private:
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace tarnwick
