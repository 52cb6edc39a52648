#include "machine/ini_file.h"

#include <fstream>
#include <sstream>

#include "machine/win_path.h"

namespace tarnwick {

namespace {

[[noreturn]] void Fail(const std::string& fileName, int line, const std::string& what) {
  throw IniError(fileName + ", line " + std::to_string(line) + ": " + what);
}

}  // namespace

const IniEntry* IniSection::Find(std::string_view key) const {
  for (const IniEntry& entry : entries) {
    if (EqualsIgnoreCase(entry.key, key)) return &entry;
  }
  return nullptr;
}

void IniSection::Set(std::string_view key, std::string_view value) {
  for (IniEntry& entry : entries) {
    if (EqualsIgnoreCase(entry.key, key)) {
      entry.value = std::string(value);
      return;
    }
  }
  entries.push_back({std::string(key), std::string(value), 0});
}

IniFile IniFile::Parse(std::string_view text, const std::string& fileName) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  IniFile ini;
  IniSection* section = nullptr;
  int lineNumber = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      if (line.back() != ']') Fail(fileName, lineNumber, "missing \"]\" after the section name");
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      if (name.empty()) Fail(fileName, lineNumber, "empty section name");
      if (const IniSection* earlier = ini.FindSection(name)) {
        Fail(fileName, lineNumber,
             "section [" + std::string(name) + "] given twice (first on line " +
                 std::to_string(earlier->line) + ")");
      }
      ini.sections_.push_back({std::string(name), lineNumber, {}});
      section = &ini.sections_.back();
      continue;
    }

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      Fail(fileName, lineNumber, "expected \"[Section]\" or \"Key=Value\"");
    }
    if (section == nullptr) Fail(fileName, lineNumber, "entry before the first [Section]");
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) Fail(fileName, lineNumber, "empty key before \"=\"");
    if (const IniEntry* earlier = section->Find(key)) {
      Fail(fileName, lineNumber,
           "key " + std::string(key) + " given twice in [" + section->name + "] (first on line " +
               std::to_string(earlier->line) + ")");
    }
    section->entries.push_back(
        {std::string(key), std::string(Trim(line.substr(equals + 1))), lineNumber});
  }
  return ini;
}

IniFile IniFile::Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) throw IniError(file.string() + ": cannot be read");
  return Parse(text.str(), file.string());
}

std::string IniFile::Format() const {
  std::string text;
  for (const IniSection& section : sections_) {
    if (!text.empty()) text += '\n';
    text += '[' + section.name + "]\n";
    for (const IniEntry& entry : section.entries) text += entry.key + '=' + entry.value + '\n';
  }
  return text;
}

void IniFile::Write(const std::filesystem::path& file) const {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << Format();
  out.flush();
  if (!out) throw IniError(file.string() + ": cannot be written");
}

const IniSection* IniFile::FindSection(std::string_view name) const {
  for (const IniSection& section : sections_) {
    if (EqualsIgnoreCase(section.name, name)) return &section;
  }
  return nullptr;
}

IniSection& IniFile::AddSection(std::string_view name) {
  for (IniSection& section : sections_) {
    if (EqualsIgnoreCase(section.name, name)) return section;
  }
  sections_.push_back({std::string(name), 0, {}});
  return sections_.back();
}

}  // namespace tarnwick
