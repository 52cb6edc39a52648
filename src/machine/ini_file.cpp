#include "machine/ini_file.h"

#include <fstream>

#include "base/text.h"

namespace tarnwick {

namespace {

[[noreturn]] void Fail(const std::string& fileName, int line, const std::string& what) {
  throw IniError(fileName + ", line " + std::to_string(line) + ": " + what);
}

// A line break or other control character inside a name or value: a CR would end the line for
// other readers, and what reads the value back would take the rest for a line of its own.
void CheckNoControls(const std::string& fileName, int line, std::string_view text,
                     const std::string& what) {
  try {
    CheckNoControlCharacters(text, what);
  } catch (const Error& e) {
    Fail(fileName, line, e.what());
  }
}

// True when text reads back as itself: no control character inside, nothing Parse trims around it.
bool ReadsBack(std::string_view text) {
  return FindControlCharacter(text) == std::string_view::npos && Trim(text) == text;
}

void CheckWritable(bool readsBack, const std::string& what) {
  if (!readsBack) throw IniError(what + " cannot be written to an INI file");
}

}  // namespace

const IniEntry* IniSection::Find(std::string_view key) const {
  const auto it = index_.find(UpperAscii(key));
  return it == index_.end() ? nullptr : &entries_[it->second];
}

void IniSection::Set(std::string_view key, std::string_view value) {
  const auto it = index_.find(UpperAscii(key));
  if (it != index_.end()) {
    entries_[it->second].value = std::string(value);
  } else {
    Append({std::string(key), std::string(value), 0});
  }
}

IniEntry& IniSection::Append(IniEntry entry) {
  index_.emplace(UpperAscii(entry.key), entries_.size());
  entries_.push_back(std::move(entry));
  return entries_.back();
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
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      if (line.back() != ']') Fail(fileName, lineNumber, "missing \"]\" after the section name");
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      if (name.empty()) Fail(fileName, lineNumber, "empty section name");
      CheckNoControls(fileName, lineNumber, name, "The section name");
      if (const IniSection* earlier = ini.FindSection(name)) {
        Fail(fileName, lineNumber,
             "section [" + std::string(name) + "] given twice (first on line " +
                 std::to_string(earlier->Line()) + ")");
      }
      section = &ini.Append(name, lineNumber);
      continue;
    }

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      Fail(fileName, lineNumber, "expected \"[Section]\" or \"Key=Value\"");
    }
    if (section == nullptr) Fail(fileName, lineNumber, "entry before the first [Section]");
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) Fail(fileName, lineNumber, "empty key before \"=\"");
    CheckNoControls(fileName, lineNumber, key, "The key");
    const std::string_view value = Trim(line.substr(equals + 1));
    CheckNoControls(fileName, lineNumber, value, "The value of " + std::string(key));
    if (const IniEntry* earlier = section->Find(key)) {
      Fail(fileName, lineNumber,
           "key " + std::string(key) + " given twice in [" + section->Name() + "] (first on line " +
               std::to_string(earlier->line) + ")");
    }
    section->Append({std::string(key), std::string(value), lineNumber});
  }
  return ini;
}

std::string IniFile::Format() const {
  std::string text;
  for (const IniSection& section : sections_) {
    CheckWritable(!section.Name().empty() && ReadsBack(section.Name()),
                  "the section name [" + section.Name() + "]");
    if (!text.empty()) text += '\n';
    text += '[' + section.Name() + "]\n";
    for (const IniEntry& entry : section.Entries()) {
      CheckWritable(!entry.key.empty() && ReadsBack(entry.key) &&
                        entry.key.find('=') == std::string::npos &&
                        std::string_view(";#[").find(entry.key.front()) == std::string_view::npos,
                    "the key " + entry.key + " in [" + section.Name() + "]");
      CheckWritable(ReadsBack(entry.value), "the value of " + entry.key);
      text += entry.key + '=' + entry.value + '\n';
    }
  }
  return text;
}

void IniFile::Write(const std::filesystem::path& file) const {
  const std::string text = Format();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.flush();
  if (!out) throw IniError(file.string() + ": cannot be written");
}

const IniSection* IniFile::FindSection(std::string_view name) const {
  const auto it = index_.find(UpperAscii(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

IniSection& IniFile::AddSection(std::string_view name) {
  const auto it = index_.find(UpperAscii(name));
  return it != index_.end() ? sections_[it->second] : Append(name, 0);
}

IniSection& IniFile::Append(std::string_view name, int line) {
  index_.emplace(UpperAscii(name), sections_.size());
  return sections_.emplace_back(std::string(name), line);
}

}  // namespace tarnwick
