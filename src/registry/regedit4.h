// REGEDIT4 text, as Windows 95's regedit exports and imports it, over a registry key tree.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "registry/reg_tree.h"

namespace tarnwick {

// A tree that cannot be written as REGEDIT4 text, or text that is not valid REGEDIT4.
class Regedit4Error : public std::runtime_error {
 public:
  // line 0: not tied to a line of the text.
  Regedit4Error(size_t line, const std::string& message);
  size_t Line() const { return line_; }

 private:
  size_t line_;
};

// The whole tree below root: a "[path]" line per key in stored order, paths relative to root
// (the root itself has no line), then the key's values in stored order. Text is ANSI (code page
// 1252) as stored; lines end in CR LF as on Windows. A REG_SZ is "text" when it can stand on one
// line, with or without a closing zero.
std::string ExportRegedit4(const RegNode& root);

// Merges REGEDIT4 text into root: "[path]" creates keys, "[-path]" deletes a key with its subtree,
// "name"=data sets a value and "name"=- deletes it; "text" is stored as Windows 95 stores text,
// without a closing zero. The text is checked whole before root is
// touched: on error root is unchanged.
void ImportRegedit4(std::string_view text, RegNode& root);

}  // namespace tarnwick
