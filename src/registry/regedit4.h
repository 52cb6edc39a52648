// REGEDIT4 text, as Windows 95's regedit exports and imports it, over registry key trees.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "registry/reg_tree.h"

namespace tarnwick {

// A tree that cannot be written as REGEDIT4 text, or text that is not valid REGEDIT4.
class Regedit4Error : public Error {
 public:
  // line 0: not tied to a line of the text.
  Regedit4Error(size_t line, const std::string& message);
  size_t Line() const { return line_; }

 private:
  size_t line_;
};

// A tree to export and the key path its top key has in the text. With an empty path, paths are
// relative to key, which has no line of its own (a file's root holds no values); else key's line
// comes first, with its values, and the paths below begin with path.
struct Regedit4Tree {
  const RegNode& key;
  std::string path;
};

// The header, then each tree: a "[path]" line per key in stored order, then the key's values in
// stored order. Text is ANSI (code page 1252) as stored; lines end in CR LF as on Windows. A REG_SZ
// is "text" when it can stand on one line, with or without a closing zero. Every name is checked
// before anything is written: a name holding a line break or zero throws Regedit4Error.
// Streams as it goes, keeping only the current key path.
void ExportRegedit4(const std::vector<Regedit4Tree>& trees, std::ostream& out);
void ExportRegedit4(const RegNode& root, std::ostream& out, std::string_view rootPath = {});

// One value's line as the export writes it, line end included: "name"=data, @= for the unnamed
// value. The name must hold no line break or zero.
std::string Regedit4ValueLine(const RegValue& value);
// The line that deletes the value on import: "name"=-.
std::string Regedit4DeletionLine(std::string_view valueName);

// Where the text's keys below path go: below tree's key at the path under (created as needed).
// An empty path takes paths relative to tree, and refuses a path beginning with a root key name
// (HKEY_LOCAL_MACHINE and the like) to tell the two kinds apart. A target's own key cannot be
// deleted, nor hold values when it is a tree's root.
struct Regedit4Target {
  std::string path;
  RegNode& tree;
  std::string under = {};
};

// Merges REGEDIT4 text into the targets: "[path]" creates keys, "[-path]" deletes a key with its
// subtree, "name"=data sets a value and "name"=- deletes it; "text" is stored as Windows 95
// stores text, without a closing zero. A key path under no target is an error naming its line.
// Names holding a carriage return, line feed or zero byte are refused, since export could not
// write them back. The text is code page 1252, as Windows 95's regedit writes it: text with a
// UTF-8 or UTF-16 byte order mark, or whose bytes above 0x7F are all UTF-8, is refused (so is the
// export of a tree whose every name and text above 0x7F happens to read as UTF-8). The text
// is checked whole before any tree is touched: on error every tree is unchanged.
void ImportRegedit4(std::string_view text, const std::vector<Regedit4Target>& targets);
void ImportRegedit4(std::string_view text, RegNode& root, std::string_view rootPath = {});

}  // namespace tarnwick
