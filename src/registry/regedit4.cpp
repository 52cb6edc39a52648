#include "registry/regedit4.h"

#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "base/text.h"
#include "registry/registry_limits.h"

namespace tarnwick {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kNewline = "\r\n";
// Hex data wraps once a line grows past this many characters, as regedit's does.
constexpr size_t kHexWrapColumn = 76;

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The text of a REG_SZ that stands on one line as "text": its data, less one closing zero if
// there is one (Windows 95 stores none), holding no other zero and no line break.
std::optional<std::string_view> PlainString(const std::vector<uint8_t>& data) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  if (HasLineBreakOrZero(text)) return std::nullopt;
  return text;
}

void AppendHex(std::string& out, size_t lineStart, const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0xF];
    if (i + 1 == data.size()) break;
    out += ',';
    if (out.size() - lineStart > kHexWrapColumn) {
      out += '\\';
      out += kNewline;
      lineStart = out.size();
      out += "  ";
    }
  }
}

void AppendValue(std::string& out, const RegValue& value, const std::string& keyPath) {
  if (HasLineBreakOrZero(value.name)) {
    throw Regedit4Error(0, "the name of a value of [" + keyPath + "] holds a line break or zero");
  }
  const size_t lineStart = out.size();
  out += value.name.empty() ? std::string("@") : Quote(value.name);
  out += '=';
  const std::optional<std::string_view> text =
      value.type == kRegSz ? PlainString(value.data) : std::nullopt;
  if (text) {
    out += Quote(*text);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                      static_cast<uint32_t>(value.data[3]) << 24;
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += text;
  } else {
    if (value.type == kRegBinary) {
      out += "hex:";
    } else {
      char text[24];
      std::snprintf(text, sizeof text, "hex(%x):", value.type);
      out += text;
    }
    AppendHex(out, lineStart, value.data);
  }
  out += kNewline;
}

void AppendKey(std::string& out, const RegNode& key, const std::string& path) {
  if (HasLineBreakOrZero(key.name)) {
    throw Regedit4Error(0, "a key name below [" + path + "] holds a line break or zero");
  }
  const std::string keyPath = path.empty() ? key.name : path + "\\" + key.name;
  out += '[';
  out += keyPath;
  out += ']';
  out += kNewline;
  for (const RegValue& value : key.values) AppendValue(out, value, keyPath);
  out += kNewline;
  for (const auto& subkey : key.subkeys) AppendKey(out, *subkey, keyPath);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Reads the text line by line, applying each line to the tree as it goes.
class Importer {
 public:
  Importer(std::string_view text, RegNode& root) : root_(root) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  void Run() {
    if (lines_.empty() || Trim(lines_[0]) != kHeader) {
      Fail("the text does not start with the line REGEDIT4");
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      std::string_view line = Trim(lines_[index_]);
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
    std::vector<std::string_view> names;
    for (size_t start = 0;;) {
      size_t end = path.find('\\', start);
      std::string_view name = path.substr(start, end - start);
      if (!IsValidKeyName(name)) {
        Fail("invalid key name '" + std::string(name) +
             "' (1 to 255 characters, none of them a zero byte or undefined in code page 1252)");
      }
      names.push_back(name);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    RegNode* node = &root_;
    if (remove) {
      for (size_t i = 0; node && i + 1 < names.size(); ++i) node = node->FindSubkey(names[i]);
      if (node) node->RemoveSubkey(names.back());
      key_ = nullptr;
      return;
    }
    for (std::string_view name : names) node = &node->AddSubkey(name);
    key_ = node;
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
      if (!IsValidValueName(name)) {
        Fail(
            "invalid value name (at most 255 characters, none of them undefined in code page "
            "1252)");
      }
    } else {
      Fail("expected a [key] line, a \"name\"= or @= value line, or a ; comment");
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') Fail("expected '=' after the value name");
    line = TrimLeft(line.substr(1));
    if (!key_) Fail("a value line must follow a [key] line");

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
    } else if (StartsWith(line, "dword:")) {
      type = kRegDword;
      uint32_t number = ParseHexNumber(Trim(line.substr(6)), "dword: needs 1 to 8 hex digits");
      for (int shift = 0; shift < 32; shift += 8) data.push_back(number >> shift & 0xFF);
    } else if (StartsWith(line, "hex:")) {
      type = kRegBinary;
      data = HexList(line.substr(4));
    } else if (StartsWith(line, "hex(")) {
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
      joined += Trim(lines_[++index_]);
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

  RegNode& root_;
  std::vector<std::string_view> lines_;
  size_t index_ = 0;
  RegNode* key_ = nullptr;
};

}  // namespace

Regedit4Error::Regedit4Error(size_t line, const std::string& message)
    : std::runtime_error(line ? "line " + std::to_string(line) + ": " + message : message),
      line_(line) {}

std::string ExportRegedit4(const RegNode& root) {
  std::string out(kHeader);
  out += kNewline;
  out += kNewline;
  for (const auto& key : root.subkeys) AppendKey(out, *key, "");
  return out;
}

void ImportRegedit4(std::string_view text, RegNode& root) {
  std::unique_ptr<RegNode> copy = root.Clone();
  Importer(text, *copy).Run();
  root = std::move(*copy);
}

}  // namespace tarnwick
