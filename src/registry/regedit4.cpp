#include "registry/regedit4.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "base/byte_reader.h"
#include "base/cp1252.h"
#include "base/text.h"
#include "registry/registry_limits.h"

namespace tarnwick {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kNewline = "\r\n";
// Hex data wraps once a line grows past this many characters, as regedit's does.
constexpr size_t kHexWrapColumn = 76;
// The root keys of Windows 95's registry, which begin the key paths regedit writes.
constexpr std::string_view kRootKeyNames[] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
  std::vector<std::string_view> names;
  if (path.empty()) return names;
  for (size_t start = 0;;) {
    const size_t end = path.find('\\', start);
    names.push_back(path.substr(start, end - start));
    if (end == std::string_view::npos) return names;
    start = end + 1;
  }
}

// ---- export ----

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

// The text of a REG_SZ that stands on one line as "text": its data, less one closing zero if
// there is one (Windows 95 stores none), holding no other zero and no line break.
std::optional<std::string_view> PlainString(const std::vector<uint8_t>& data) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  if (HasLineBreakOrZero(text)) return std::nullopt;
  return text;
}

void AppendHex(std::string& line, const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  size_t lineStart = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    line += kDigits[data[i] >> 4];
    line += kDigits[data[i] & 0xF];
    if (i + 1 == data.size()) break;
    line += ',';
    if (line.size() - lineStart > kHexWrapColumn) {
      line += '\\';
      line += kNewline;
      lineStart = line.size();
      line += "  ";
    }
  }
}

}  // namespace

std::string Regedit4ValueLine(const RegValue& value) {
  std::string line = value.name.empty() ? std::string("@") : Quote(value.name);
  line += '=';
  const std::optional<std::string_view> text =
      value.type == kRegSz ? PlainString(value.data) : std::nullopt;
  if (text) {
    line += Quote(*text);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    const uint32_t number = ByteReader(value.data).U32At(0);
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", number);
    line += digits;
  } else {
    if (value.type == kRegBinary) {
      line += "hex:";
    } else {
      char prefix[24];
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
      line += prefix;
    }
    AppendHex(line, value.data);
  }
  line += kNewline;
  return line;
}

std::string Regedit4DeletionLine(std::string_view valueName) {
  std::string line = valueName.empty() ? std::string("@") : Quote(valueName);
  line += "=-";
  line += kNewline;
  return line;
}

namespace {

// Calls visit(key, path) for top and every key below it in pre-order, without recursion; path is
// the key's path, built on tree.path and kept for the current key only.
template <typename Visit>
void WalkTree(const Regedit4Tree& tree, Visit visit) {
  struct Level {
    const RegNode* key;
    size_t next;
    size_t parentPathSize;
  };
  std::string path = tree.path;
  visit(tree.key, path);
  std::vector<Level> stack{{&tree.key, 0, path.size()}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.key->subkeys.size()) {
      path.resize(level.parentPathSize);
      stack.pop_back();
      continue;
    }
    const RegNode& subkey = *level.key->subkeys[level.next++];
    const size_t parentPathSize = path.size();
    if (!path.empty()) path += '\\';
    path += subkey.name;
    visit(subkey, path);
    stack.push_back({&subkey, 0, parentPathSize});
  }
}

void CheckNames(const RegNode& key, const std::string& path) {
  // The message is built only on failure: path may be long.
  auto fail = [&](const char* what, const char* fault) {
    const std::string where = path.empty() ? "at the top" : "in [" + Cp1252ToUtf8(path) + "]";
    throw Regedit4Error(0, std::string(what) + " " + where + " " + fault);
  };
  for (const auto& subkey : key.subkeys) {
    if (subkey->name.empty() || subkey->name.find('\\') != std::string::npos ||
        HasLineBreakOrZero(subkey->name)) {
      fail("a key name", "is empty or holds a \\, line break or zero");
    }
  }
  for (const RegValue& value : key.values) {
    if (HasLineBreakOrZero(value.name)) fail("a value name", "holds a line break or zero");
  }
}

void WriteKey(const RegNode& key, const std::string& path, std::ostream& out) {
  out << '[' << path << ']' << kNewline;
  for (const RegValue& value : key.values) out << Regedit4ValueLine(value);
  out << kNewline;
}

// ---- import ----

std::string QuotedPath(const std::vector<std::string_view>& names) {
  std::string path;
  for (std::string_view name : names) {
    if (!path.empty()) path += '\\';
    path += name;
  }
  return "[" + Cp1252ToUtf8(path) + "]";
}

bool IsRootKeyName(std::string_view name) {
  for (std::string_view root : kRootKeyNames) {
    if (EqualsIgnoreCase(name, root)) return true;
  }
  return false;
}

// Windows 95's regedit reads and writes code page 1252. Text in another encoding would be taken
// byte for byte (UTF-8 "Caf\xC3\xA9" becoming "Caf" + A-tilde + copyright sign), so it is refused:
// a byte order mark of UTF-8 or UTF-16, or bytes above 0x7F that all form UTF-8 sequences. To
// look like that, code page 1252 text would have to follow every capital or accented letter from
// 0xC2 to 0xF4 with exactly the right number of symbols from 0x80-0xBF (quotes, dashes, the
// copyright sign...), which real text does not; text with a byte that breaks UTF-8 (a lone
// accented letter does) is code page 1252 and taken as it is.
void CheckCodePage(std::string_view text) {
  constexpr std::string_view kConvert =
      "; Windows 95's regedit files are code page 1252: convert it first, for example with "
      "iconv -f UTF-8 -t CP1252";
  if (text.starts_with("\xEF\xBB\xBF")) {
    throw Regedit4Error(1, "the text begins with a UTF-8 byte order mark" + std::string(kConvert));
  }
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    throw Regedit4Error(1,
                        "the text is UTF-16, as later Windows versions export it; Windows 95's "
                        "regedit files are code page 1252 text beginning with REGEDIT4");
  }
  const auto high = std::find_if(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (high == text.end() || !IsValidUtf8(text)) return;
  const auto line = static_cast<size_t>(std::count(text.begin(), high, '\n')) + 1;
  throw Regedit4Error(line, "the text is UTF-8" + std::string(kConvert));
}

// A target with its paths split, importing into a copy of its tree.
struct Target {
  std::vector<std::string_view> path;
  RegNode* tree;
  std::vector<std::string_view> under;
};

bool BeginsWith(const std::vector<std::string_view>& names,
                const std::vector<std::string_view>& prefix) {
  if (prefix.size() > names.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!EqualsIgnoreCase(names[i], prefix[i])) return false;
  }
  return true;
}

// Reads the text line by line, applying each line to the targets' trees as it goes.
class Importer {
 public:
  Importer(std::string_view text, const std::vector<Target>& targets) : targets_(targets) {
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      lines_.push_back(Trim(text.substr(start, end - start)));
      start = end + 1;
    }
  }

  void Run() {
    if (lines_.empty() || lines_[0] != kHeader) {
      Fail("the text does not start with the line REGEDIT4");
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      std::string_view line = lines_[index_];
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        KeyLine(line);
      } else {
        ValueLine(line);
      }
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    throw Regedit4Error(index_ + 1, message);
  }

  void KeyLine(std::string_view line) {
    if (line.back() != ']') Fail("a key line must end in ']'");
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);
    if (path.empty()) Fail("the key path is empty");
    const std::vector<std::string_view> names = SplitKeyPath(path);
    for (std::string_view name : names) {
      if (!IsValidKeyName(name) || name.find('\r') != std::string_view::npos) {
        Fail("invalid key name '" + Cp1252ToUtf8(name) +
             "' (1 to 255 characters, none of them a carriage return, a zero byte or undefined "
             "in code page 1252)");
      }
    }
    const Target& target = TargetOf(names);
    std::vector<std::string_view> below = target.under;
    below.insert(below.end(), names.begin() + static_cast<ptrdiff_t>(target.path.size()),
                 names.end());
    key_ = nullptr;
    if (remove) {
      if (names.size() == target.path.size()) Fail(QuotedPath(names) + " cannot be deleted");
      RegNode* node = target.tree;
      for (size_t i = 0; node && i + 1 < below.size(); ++i) node = node->FindSubkey(below[i]);
      if (node) node->RemoveSubkey(below.back());
      return;
    }
    RegNode* node = target.tree;
    for (std::string_view name : below) node = &node->AddSubkey(name);
    key_ = node;
    keyIsTreeRoot_ = below.empty();
  }

  const Target& TargetOf(const std::vector<std::string_view>& names) const {
    for (const Target& target : targets_) {
      if (!BeginsWith(names, target.path)) continue;
      if (target.path.empty() && IsRootKeyName(names[0])) {
        const std::string root = UpperAscii(names[0]);
        Fail("the key path begins with the root key " + root +
             ", but key paths are relative to the file's root here; to import below a root "
             "key, name it (tarnwick-reg --root " +
             root + ")");
      }
      return target;
    }
    std::string roots;
    for (const Target& target : targets_) {
      roots += roots.empty() ? "" : " or ";
      roots += QuotedPath(target.path);
    }
    Fail(QuotedPath(names) + " is not below " + roots);
  }

  // Reads a quoted text from the start of rest and removes it; handles the \\ and \" escapes.
  std::string QuotedText(std::string_view& rest) const {
    std::string text;
    size_t i = 1;
    for (; i < rest.size() && rest[i] != '"'; ++i) {
      if (rest[i] == '\\') {
        if (++i == rest.size() || (rest[i] != '\\' && rest[i] != '"')) {
          Fail("a backslash in quotes must be written \\\\ (or \\\" for a quote)");
        }
      }
      text += rest[i];
    }
    if (i == rest.size()) Fail("missing closing quote");
    rest.remove_prefix(i + 1);
    return text;
  }

  void ValueLine(std::string_view line) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (line.front() == '"') {
      name = QuotedText(line);
      if (name.empty()) Fail("an empty value name is written @");
      if (!IsValidValueName(name) || name.find('\r') != std::string::npos) {
        Fail(
            "invalid value name (at most 255 characters, none of them a carriage return, a zero "
            "byte or undefined in code page 1252)");
      }
    } else {
      Fail("expected a [key] line, a \"name\"= or @= value line, or a ; comment");
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') Fail("expected '=' after the value name");
    line = TrimLeft(line.substr(1));
    if (!key_) Fail("a value line must follow a [key] line");
    if (keyIsTreeRoot_) Fail("the root of a registry file holds no values");

    if (line == "-") {
      key_->RemoveValue(name);
      return;
    }
    uint32_t type = kRegSz;
    std::vector<uint8_t> data;
    if (!line.empty() && line.front() == '"') {
      std::string text = QuotedText(line);
      if (!Trim(line).empty()) Fail("unexpected text after the closing quote");
      data.assign(text.begin(), text.end());
    } else if (line.starts_with("dword:")) {
      type = kRegDword;
      uint32_t number = ParseHexNumber(Trim(line.substr(6)), "dword: needs 1 to 8 hex digits");
      for (int shift = 0; shift < 32; shift += 8) data.push_back(number >> shift & 0xFF);
    } else if (line.starts_with("hex:")) {
      type = kRegBinary;
      data = HexList(line.substr(4));
    } else if (line.starts_with("hex(")) {
      size_t close = line.find("):");
      if (close == std::string_view::npos) Fail("hex( must be followed by a type and \"):\"");
      type = ParseHexNumber(line.substr(4, close - 4), "hex(N): needs a type of 1 to 8 hex digits");
      data = HexList(line.substr(close + 2));
    } else {
      Fail("unknown data: expected \"text\", dword:, hex:, hex(N): or -");
    }
    if (!FitsValue(*key_, name, type, data.size())) {
      Fail(type == kRegDword && data.size() != 4
               ? "a REG_DWORD value must have exactly 4 bytes"
               : "the value exceeds Windows 95's limits (16,300 bytes per value, about 60 KB "
                 "per key)");
    }
    key_->SetValue(name, type, std::move(data));
  }

  uint32_t ParseHexNumber(std::string_view digits, const char* message) const {
    uint32_t number = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
    if (digits.empty() || digits.size() > 8 || error != std::errc() ||
        end != digits.data() + digits.size()) {
      Fail(message);
    }
    return number;
  }

  // Comma-separated bytes of one or two hex digits; a line ending in "\" continues on the next.
  std::vector<uint8_t> HexList(std::string_view rest) {
    std::string joined(Trim(rest));
    while (!joined.empty() && joined.back() == '\\') {
      joined.pop_back();
      if (index_ + 1 == lines_.size()) Fail("the text ends inside continued hex data");
      joined += lines_[++index_];
    }
    std::vector<uint8_t> data;
    if (Trim(joined).empty()) return data;
    std::string_view list = joined;
    for (size_t start = 0;;) {
      size_t end = list.find(',', start);
      std::string_view byte = Trim(list.substr(start, end - start));
      if (byte.size() > 2) Fail("hex data must be bytes of two hex digits separated by commas");
      data.push_back(static_cast<uint8_t>(
          ParseHexNumber(byte, "hex data must be bytes of two hex digits separated by commas")));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    return data;
  }

  const std::vector<Target>& targets_;
  std::vector<std::string_view> lines_;  // trimmed
  size_t index_ = 0;
  RegNode* key_ = nullptr;
  bool keyIsTreeRoot_ = false;
};

}  // namespace

Regedit4Error::Regedit4Error(size_t line, const std::string& message)
    : Error(line ? "line " + std::to_string(line) + ": " + message : message), line_(line) {}

void ExportRegedit4(const std::vector<Regedit4Tree>& trees, std::ostream& out) {
  for (const Regedit4Tree& tree : trees) WalkTree(tree, CheckNames);
  out << kHeader << kNewline << kNewline;
  for (const Regedit4Tree& tree : trees) {
    WalkTree(tree, [&](const RegNode& key, const std::string& path) {
      if (&key != &tree.key || !path.empty()) WriteKey(key, path, out);
    });
  }
}

void ExportRegedit4(const RegNode& root, std::ostream& out, std::string_view rootPath) {
  ExportRegedit4({{root, std::string(rootPath)}}, out);
}

void ImportRegedit4(std::string_view text, const std::vector<Regedit4Target>& targets) {
  // Every tree is imported into a copy, taken once however many targets share it.
  std::vector<std::pair<RegNode*, std::unique_ptr<RegNode>>> copies;
  std::vector<Target> split;
  for (const Regedit4Target& target : targets) {
    auto copy = copies.begin();
    while (copy != copies.end() && copy->first != &target.tree) ++copy;
    if (copy == copies.end()) {
      copies.emplace_back(&target.tree, target.tree.Clone());
      copy = copies.end() - 1;
    }
    split.push_back({SplitKeyPath(target.path), copy->second.get(), SplitKeyPath(target.under)});
  }
  CheckCodePage(text);
  Importer(text, split).Run();
  for (auto& [tree, copy] : copies) {
    tree->values.swap(copy->values);
    std::swap(tree->subkeys, copy->subkeys);
  }
}

void ImportRegedit4(std::string_view text, RegNode& root, std::string_view rootPath) {
  ImportRegedit4(text, {{std::string(rootPath), root}});
}

}  // namespace tarnwick
