// A small INI file: "[Section]" lines and "Key=Value" entries, ";" and "#" comment lines.
// Backslashes are plain characters, so Windows paths are written as they are.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/error.h"

namespace tarnwick {

// A syntax error or a file that cannot be read or written; the text names the file and line.
class IniError : public Error {
 public:
  using Error::Error;
};

struct IniEntry {
  std::string key;
  std::string value;
  int line = 0;  // 0 for an entry not read from a file
};

class IniSection {
 public:
  IniSection(std::string name, int line) : name_(std::move(name)), line_(line) {}

  const std::string& Name() const { return name_; }
  int Line() const { return line_; }  // 0 for a section not read from a file
  const std::vector<IniEntry>& Entries() const { return entries_; }  // file order

  // Keys compare case-insensitively (ASCII letters).
  const IniEntry* Find(std::string_view key) const;
  // Replaces the value of an existing key or appends a new entry.
  void Set(std::string_view key, std::string_view value);

 private:
  friend class IniFile;
  IniEntry& Append(IniEntry entry);

  std::string name_;
  int line_ = 0;
  std::vector<IniEntry> entries_;
  std::unordered_map<std::string, size_t> index_;  // upper-case key -> entry
};

class IniFile {
 public:
  // Blanks and control characters (bytes up to 0x20) around names, keys and values are dropped,
  // so either line end reads the same. Errors: text outside a section, a line that is neither a
  // section nor "Key=Value", an empty key, a section or key given twice, a control character (a
  // CR, a tab) inside a name, key or value. fileName is only used in error texts.
  static IniFile Parse(std::string_view text, const std::string& fileName);

  // Throws IniError for a name, key or value that would not read back the same.
  std::string Format() const;
  void Write(const std::filesystem::path& file) const;

  const std::vector<IniSection>& Sections() const { return sections_; }
  // Section names compare case-insensitively (ASCII letters).
  const IniSection* FindSection(std::string_view name) const;
  // Returns the existing section or appends a new one.
  IniSection& AddSection(std::string_view name);

 private:
  IniSection& Append(std::string_view name, int line);

  std::vector<IniSection> sections_;
  std::unordered_map<std::string, size_t> index_;  // upper-case name -> section
};

}  // namespace tarnwick
