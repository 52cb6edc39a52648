// A small INI file: "[Section]" lines and "Key=Value" entries, ";" and "#" comment lines.
// Backslashes are plain characters, so Windows paths are written as they are.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// A syntax error or a file that cannot be read or written; the text names the file and line.
class IniError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct IniEntry {
  std::string key;
  std::string value;
  int line = 0;  // 0 for an entry not read from a file
};

struct IniSection {
  std::string name;
  int line = 0;
  std::vector<IniEntry> entries;  // file order

  // Keys compare case-insensitively (ASCII letters).
  const IniEntry* Find(std::string_view key) const;
  // Replaces the value of an existing key or appends a new entry.
  void Set(std::string_view key, std::string_view value);
};

class IniFile {
 public:
  // Blanks around names, keys and values are dropped. Errors: text outside a section, a line
  // that is neither a section nor "Key=Value", an empty key, a section or key given twice.
  // fileName is only used in error texts.
  static IniFile Parse(std::string_view text, const std::string& fileName);
  static IniFile Read(const std::filesystem::path& file);

  std::string Format() const;
  void Write(const std::filesystem::path& file) const;

  const std::vector<IniSection>& Sections() const { return sections_; }
  // Section names compare case-insensitively (ASCII letters).
  const IniSection* FindSection(std::string_view name) const;
  // Returns the existing section or appends a new one.
  IniSection& AddSection(std::string_view name);

 private:
  std::vector<IniSection> sections_;
};

}  // namespace tarnwick
