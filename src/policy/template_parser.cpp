#include "policy/template_parser.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/cp1252.h"
#include "base/text.h"

namespace tarnwick {

namespace {

// The version of the policy editor whose #if blocks are read: Windows 95's is 1.
constexpr uint32_t kEditorVersion = 1;
// Deeper nesting is refused rather than followed into the stack.
constexpr int kMaxCategoryDepth = 64;

struct Token {
  std::string_view text;  // into the template's text or its [strings]
  size_t line = 0;
  bool quoted = false;  // quoted text or a [strings] reference: never a keyword
};

// What a token is read inside of, for the error when the text ends there: a keyword, or a
// statement with its name and line.
struct Inside {
  Inside(const char* what) : keyword(what) {}
  Inside(std::string_view what) : keyword(what) {}
  Inside(std::string_view what, std::string_view n, size_t l) : keyword(what), name(n), line(l) {}

  std::string Text() const {
    if (line == 0) return std::string(keyword);
    return std::string(keyword) + " \"" + Cp1252ToUtf8(name) + "\" of line " + std::to_string(line);
  }

  std::string_view keyword;
  std::string_view name;
  size_t line = 0;
};

struct Line {
  std::string_view text;
  size_t number = 0;
};

std::string Shown(const Token& token) {
  const std::string text = Cp1252ToUtf8(token.text);
  return token.quoted ? "\"" + text + "\"" : text;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the text as lines, drops the blocks of false #if conditions and splits off the
// [strings] section; then gives the parser its tokens one by one.
class Reader {
 public:
  Reader(std::string_view text, std::string_view fileName) : file_(fileName) {
    while (!text.empty() && text.back() == '\x1A') text.remove_suffix(1);  // DOS end of file
    size_t number = 1;
    if (text.ends_with('\n')) text.remove_suffix(1);  // the last line's end starts no line
    for (size_t start = 0; start <= text.size(); ++number) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      lines_.push_back({text.substr(start, end - start), number});
      start = end + 1;
    }
  }

  [[noreturn]] void Fail(size_t line, const std::string& message) const {
    throw TemplateError(file_ + "(" + std::to_string(line) + "): " + message);
  }

  void Prepare() {
    std::vector<size_t> open;  // lines of the #if blocks open, innermost last
    size_t skipFrom = 0;       // depth + 1 of the false block being skipped, or 0
    bool inStrings = false;
    for (const Line& line : lines_) {
      const std::string_view trimmed = Trim(line.text);
      if (inStrings) {
        ReadString(line, trimmed);
        continue;
      }
      if (!trimmed.empty() && trimmed[0] == '#') {
        Directive(line, trimmed, open, skipFrom);
        continue;
      }
      if (skipFrom != 0) continue;
      if (EqualsIgnoreCase(trimmed, "[strings]")) {
        inStrings = true;
        continue;
      }
      body_.push_back(line);
    }
    if (!open.empty()) Fail(open.back(), "#if without #endif");
  }

  size_t LastLine() const { return lines_.back().number; }

  // The next token, false at the end of the text.
  bool NextToken(Token& token) {
    while (line_ < body_.size()) {
      if (Split(body_[line_], token)) return true;
      ++line_;
      column_ = 0;
    }
    return false;
  }

 private:
  void Directive(const Line& line, std::string_view text, std::vector<size_t>& open,
                 size_t& skipFrom) {
    const size_t comment = text.find(';');
    if (comment != std::string_view::npos) text = Trim(text.substr(0, comment));
    const size_t wordEnd = std::min(text.find_first_of(" \t"), text.size());
    const std::string_view word = text.substr(0, wordEnd);
    if (EqualsIgnoreCase(word, "#endif")) {
      if (open.empty()) Fail(line.number, "#endif without #if");
      if (skipFrom == open.size()) skipFrom = 0;
      open.pop_back();
      return;
    }
    if (!EqualsIgnoreCase(word, "#if")) {
      Fail(line.number, "unknown directive " + Cp1252ToUtf8(word) + " (only #if and #endif)");
    }
    open.push_back(line.number);
    // Inside a skipped block only the nesting counts: a later editor's condition is its own.
    if (skipFrom == 0 && !Condition(line, Trim(text.substr(wordEnd)))) skipFrom = open.size();
  }

  // "version OP N" with OP one of < <= > >= == !=.
  bool Condition(const Line& line, std::string_view text) const {
    constexpr std::string_view kVersion = "version";
    if (text.size() < kVersion.size() ||
        !EqualsIgnoreCase(text.substr(0, kVersion.size()), kVersion)) {
      Fail(line.number, "#if takes \"version OPERATOR NUMBER\"");
    }
    text = Trim(text.substr(kVersion.size()));
    const size_t opEnd = std::min(text.find_first_not_of("<>=!"), text.size());
    const std::string_view op = text.substr(0, opEnd);
    const std::string_view digits = Trim(text.substr(opEnd));
    uint32_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
      Fail(line.number, "#if version needs a whole number after the operator");
    }
    const uint32_t v = kEditorVersion;
    if (op == "<") return v < n;
    if (op == "<=") return v <= n;
    if (op == ">") return v > n;
    if (op == ">=") return v >= n;
    if (op == "==") return v == n;
    if (op == "!=") return v != n;
    Fail(line.number, "#if version needs one of the operators < <= > >= == !=");
  }

  // name="text" (or name=text); blank lines and ; comments are skipped.
  void ReadString(const Line& line, std::string_view text) {
    if (text.empty() || text[0] == ';') return;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) Fail(line.number, "a string needs name=\"text\"");
    const std::string_view name = Trim(text.substr(0, equals));
    std::string_view value = Trim(text.substr(equals + 1));
    if (name.empty()) Fail(line.number, "a string needs a name before =");
    if (!value.empty() && value[0] == '"') {
      // To the last quote, which a ; comment may follow.
      const size_t close = value.rfind('"');
      const std::string_view rest = Trim(value.substr(close + 1));
      if (close == 0 || (!rest.empty() && rest[0] != ';')) {
        Fail(line.number, "the string " + Cp1252ToUtf8(name) + " has no closing quote");
      }
      value = value.substr(1, close - 1);
    }
    CheckText(line.number, value);
    strings_.try_emplace(UpperAscii(name), value);  // the first definition counts
  }

  void CheckText(size_t line, std::string_view text) const {
    const size_t bad = FindControlCharacter(text);
    if (bad == std::string_view::npos) return;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(text[bad]));
    Fail(line, std::string("control character ") + hex + " in the text");
  }

  // The line's next token from column_ on, false when the line holds no more.
  bool Split(const Line& line, Token& token) {
    const std::string_view text = line.text;
    size_t& i = column_;
    while (i < text.size()) {
      const char c = text[i];
      if (IsBlank(c)) {
        ++i;
      } else if (c == ';') {
        return false;
      } else if (c == '"') {
        const size_t close = text.find('"', i + 1);
        if (close == std::string_view::npos) {
          Fail(line.number, "a quoted text has no closing quote");
        }
        const std::string_view inner = text.substr(i + 1, close - i - 1);
        CheckText(line.number, inner);
        token = {inner, line.number, true};
        i = close + 1;
        return true;
      } else {
        size_t end = i;
        while (end < text.size() && !IsBlank(text[end]) && text[end] != '"' && text[end] != ';') {
          ++end;
        }
        const std::string_view word = text.substr(i, end - i);
        CheckText(line.number, word);
        token = {word, line.number, false};
        i = end;
        Resolve(token);
        return true;
      }
    }
    return false;
  }

  void Resolve(Token& token) const {
    if (!token.text.starts_with("!!")) return;
    const auto found = strings_.find(UpperAscii(token.text.substr(2)));
    if (found == strings_.end()) {
      Fail(token.line, "the string " + Cp1252ToUtf8(token.text) + " is not in [strings]");
    }
    token.text = found->second;
    token.quoted = true;
  }

  std::string file_;
  std::vector<Line> lines_;
  std::vector<Line> body_;  // the lines the parser reads
  std::map<std::string, std::string> strings_;
  size_t line_ = 0;    // into body_
  size_t column_ = 0;  // into its text
};

class Parser {
 public:
  Parser(std::string_view text, std::string_view fileName)
      : reader_(text, fileName), file_(fileName) {
    reader_.Prepare();
  }

  PolicyTemplate Parse() {
    PolicyTemplate result;
    result.file = file_;
    std::vector<PolicyCategory>* categories = nullptr;
    Token token;
    while (Take(token)) {
      if (Is(token, "CLASS")) {
        const Token& cls = Next("CLASS");
        if (Is(cls, "MACHINE")) {
          categories = &result.machine;
        } else if (Is(cls, "USER")) {
          categories = &result.user;
        } else {
          Fail(cls, "CLASS takes MACHINE or USER, not " + Shown(cls));
        }
      } else if (Is(token, "CATEGORY")) {
        if (categories == nullptr) Fail(token, "CATEGORY before CLASS MACHINE or CLASS USER");
        categories->push_back(ParseCategory(token, "", 1));
      } else {
        Fail(token, Unexpected(token, "CLASS or CATEGORY"));
      }
    }
    return result;
  }

 private:
  [[noreturn]] void Fail(const Token& token, const std::string& message) const {
    reader_.Fail(token.line, message);
  }

  static bool Is(const Token& token, std::string_view keyword) {
    return !token.quoted && EqualsIgnoreCase(token.text, keyword);
  }

  static std::string Unexpected(const Token& token, std::string_view expected) {
    return Shown(token) + " where " + std::string(expected) + " was expected";
  }

  bool Take(Token& token) {
    if (peeked_) {
      token = *peeked_;
      peeked_.reset();
      return true;
    }
    return reader_.NextToken(token);
  }

  Token Next(const Inside& inside) {
    Token token;
    if (!Take(token)) {
      reader_.Fail(reader_.LastLine(), "the file ends inside " + inside.Text());
    }
    return token;
  }

  bool PeekIs(std::string_view keyword) {
    if (!peeked_) {
      Token token;
      if (!reader_.NextToken(token)) return false;
      peeked_ = token;
    }
    return Is(*peeked_, keyword);
  }

  void Expect(std::string_view keyword, const Inside& inside) {
    const Token& token = Next(inside);
    if (!Is(token, keyword)) Fail(token, Unexpected(token, keyword));
  }

  // The name after CATEGORY, POLICY or PART; categories and policies need one.
  std::string Name(std::string_view keyword) {
    const Token& token = Next(keyword);
    if (token.text.empty() && keyword != "PART") {
      Fail(token, std::string(keyword) + " needs a name");
    }
    return std::string(token.text);
  }

  std::string KeyName(std::string_view inside) {
    const Token& token = Next(inside);
    const std::string_view key = token.text;
    if (key.empty() || key.front() == '\\' || key.back() == '\\' ||
        key.find("\\\\") != std::string_view::npos) {
      Fail(token, "KEYNAME " + Shown(token) + " is not a key path such as Software\\Vendor");
    }
    return std::string(token.text);
  }

  uint32_t Number(std::string_view keyword) {
    const Token& token = Next(keyword);
    uint32_t n = 0;
    const char* first = token.text.data();
    const char* last = first + token.text.size();
    const auto [end, ec] = std::from_chars(first, last, n);
    if (token.text.empty() || ec != std::errc() || end != last) {
      Fail(token,
           std::string(keyword) + " takes a number from 0 to 4294967295, not " + Shown(token));
    }
    return n;
  }

  // NUMERIC n, DELETE or a text.
  PolicyValue Value(std::string_view keyword) {
    const Token& token = Next(keyword);
    PolicyValue value;
    if (Is(token, "NUMERIC")) {
      value.kind = PolicyValue::Kind::Number;
      value.number = Number("NUMERIC");
    } else if (Is(token, "DELETE")) {
      value.kind = PolicyValue::Kind::Delete;
    } else {
      value.kind = PolicyValue::Kind::Text;
      value.text = token.text;
    }
    return value;
  }

  template <typename T>
  void SetOnce(std::optional<T>& field, T value, const Token& keyword) {
    if (field) Fail(keyword, Shown(keyword) + " is given twice");
    field = std::move(value);
  }

  PolicyCategory ParseCategory(const Token& start, const std::string& parentKey, int depth) {
    if (depth > kMaxCategoryDepth) Fail(start, "categories are nested too deeply");
    PolicyCategory category;
    category.name = Name("CATEGORY");
    category.key = parentKey;
    const Inside inside("CATEGORY", category.name, start.line);
    for (;;) {
      const Token& token = Next(inside);
      if (Is(token, "KEYNAME")) {
        category.key = KeyName("KEYNAME");
      } else if (Is(token, "CATEGORY")) {
        category.categories.push_back(ParseCategory(token, category.key, depth + 1));
      } else if (Is(token, "POLICY")) {
        category.policies.push_back(ParsePolicy(token, category.key));
      } else if (Is(token, "END")) {
        Expect("CATEGORY", inside);
        return category;
      } else {
        Fail(token, Unexpected(token, "KEYNAME, CATEGORY, POLICY or END CATEGORY"));
      }
    }
  }

  Policy ParsePolicy(const Token& start, const std::string& categoryKey) {
    Policy policy;
    policy.name = Name("POLICY");
    policy.file = file_;
    policy.line = start.line;
    const Inside inside("POLICY", policy.name, start.line);
    std::optional<std::string> key;
    std::optional<std::string> valueName;
    std::optional<std::vector<PolicyAction>> actionsOn;
    std::optional<std::vector<PolicyAction>> actionsOff;
    std::vector<bool> ownKeys;
    for (;;) {
      const Token& token = Next(inside);
      if (Is(token, "KEYNAME")) {
        SetOnce(key, KeyName("KEYNAME"), token);
      } else if (Is(token, "VALUENAME")) {
        const Token& name = Next("VALUENAME");
        if (name.text.empty()) {
          Fail(name, "a policy's VALUENAME cannot be empty (the key's default value)");
        }
        SetOnce(valueName, std::string(name.text), token);
      } else if (Is(token, "VALUEON")) {
        SetOnce(policy.valueOn, Value("VALUEON"), token);
      } else if (Is(token, "VALUEOFF")) {
        SetOnce(policy.valueOff, Value("VALUEOFF"), token);
      } else if (Is(token, "ACTIONLISTON")) {
        SetOnce(actionsOn, ParseActions("ACTIONLISTON"), token);
      } else if (Is(token, "ACTIONLISTOFF")) {
        SetOnce(actionsOff, ParseActions("ACTIONLISTOFF"), token);
      } else if (Is(token, "PART")) {
        bool ownKey = false;
        policy.parts.push_back(ParsePart(token, ownKey));
        ownKeys.push_back(ownKey);
      } else if (Is(token, "END")) {
        Expect("POLICY", inside);
        break;
      } else {
        Fail(token, Unexpected(token,
                               "a policy's KEYNAME, VALUENAME, VALUEON, VALUEOFF, "
                               "ACTIONLISTON, ACTIONLISTOFF, PART or END POLICY"));
      }
    }
    policy.key = key.value_or(categoryKey);
    policy.valueName = valueName.value_or("");
    if (actionsOn) policy.actionsOn = std::move(*actionsOn);
    if (actionsOff) policy.actionsOff = std::move(*actionsOff);
    if ((policy.valueOn || policy.valueOff) && !valueName) {
      Fail(start, "the policy has VALUEON or VALUEOFF but no VALUENAME");
    }
    if (policy.key.empty() && NeedsKey(policy)) {
      Fail(start, "the policy writes values but has no KEYNAME (nor has its category)");
    }
    for (size_t i = 0; i < policy.parts.size(); ++i) {
      PolicyPart& part = policy.parts[i];
      if (!ownKeys[i]) part.key = policy.key;
      if (part.key.empty() && part.type != PartType::Text) {
        reader_.Fail(part.line, "the part writes values but has no KEYNAME to write them under");
      }
    }
    return policy;
  }

  static bool NeedsKey(const Policy& policy) {
    const auto keyless = [](const std::vector<PolicyAction>& actions) {
      for (const PolicyAction& action : actions) {
        if (action.key.empty()) return true;
      }
      return false;
    };
    return !policy.valueName.empty() || keyless(policy.actionsOn) || keyless(policy.actionsOff);
  }

  // KEYNAME k and VALUENAME n VALUE v, to END endWord.
  std::vector<PolicyAction> ParseActions(std::string_view endWord) {
    std::vector<PolicyAction> actions;
    const Inside inside(endWord);
    std::string key;
    for (;;) {
      const Token& token = Next(inside);
      if (Is(token, "KEYNAME")) {
        key = KeyName("KEYNAME");
      } else if (Is(token, "VALUENAME")) {
        PolicyAction action;
        action.key = key;
        action.valueName = Next("VALUENAME").text;
        Expect("VALUE", inside);
        action.value = Value("VALUE");
        actions.push_back(std::move(action));
      } else if (Is(token, "END")) {
        Expect(endWord, inside);
        return actions;
      } else {
        Fail(token, Unexpected(token, "KEYNAME, VALUENAME or END " + inside.Text()));
      }
    }
  }

  static std::string_view TypeName(PartType type) {
    switch (type) {
      case PartType::CheckBox:
        return "CHECKBOX";
      case PartType::Text:
        return "TEXT";
      case PartType::EditText:
        return "EDITTEXT";
      case PartType::Numeric:
        return "NUMERIC";
      case PartType::ComboBox:
        return "COMBOBOX";
      case PartType::DropDownList:
        return "DROPDOWNLIST";
      case PartType::ListBox:
        return "LISTBOX";
    }
    return "";
  }

  PartType Type(const Token& token) const {
    for (PartType type : {PartType::CheckBox, PartType::Text, PartType::EditText, PartType::Numeric,
                          PartType::ComboBox, PartType::DropDownList, PartType::ListBox}) {
      if (Is(token, TypeName(type))) return type;
    }
    Fail(token, Unexpected(token,
                           "a part type (CHECKBOX, TEXT, EDITTEXT, NUMERIC, COMBOBOX, "
                           "DROPDOWNLIST or LISTBOX)"));
  }

  // Refuses an option the part's type does not take.
  void Allow(const Token& keyword, PartType type, std::initializer_list<PartType> types) const {
    for (PartType allowed : types) {
      if (allowed == type) return;
    }
    Fail(keyword,
         Shown(keyword) + " is not an option of a " + std::string(TypeName(type)) + " part");
  }

  PolicyPart ParsePart(const Token& start, bool& ownKey) {
    using enum PartType;
    PolicyPart part;
    part.line = start.line;
    part.name = Name("PART");
    part.type = Type(Next("PART"));
    const PartType t = part.type;
    const Inside inside("PART", part.name, start.line);
    std::optional<std::string> key;
    std::optional<std::string> valueName;
    std::optional<std::string> defaultText;
    std::optional<uint32_t> min, max, spin, maxLength;
    std::optional<std::vector<PolicyAction>> actionsOn, actionsOff;
    std::optional<std::vector<std::string>> suggestions;
    std::optional<std::vector<PolicyItem>> items;
    std::optional<std::string> prefix;
    for (;;) {
      const Token& token = Next(inside);
      if (Is(token, "END")) {
        Expect("PART", inside);
        break;
      }
      if (Is(token, "KEYNAME")) {
        Allow(token, t, {CheckBox, EditText, Numeric, ComboBox, DropDownList, ListBox});
        SetOnce(key, KeyName("KEYNAME"), token);
      } else if (Is(token, "VALUENAME")) {
        Allow(token, t, {CheckBox, EditText, Numeric, ComboBox, DropDownList});
        SetOnce(valueName, std::string(Next("VALUENAME").text), token);
      } else if (Is(token, "VALUEON")) {
        Allow(token, t, {CheckBox});
        SetOnce(part.valueOn, Value("VALUEON"), token);
      } else if (Is(token, "VALUEOFF")) {
        Allow(token, t, {CheckBox});
        SetOnce(part.valueOff, Value("VALUEOFF"), token);
      } else if (Is(token, "DEFCHECKED")) {
        Allow(token, t, {CheckBox});
        part.defaultChecked = true;
      } else if (Is(token, "ACTIONLISTON")) {
        Allow(token, t, {CheckBox});
        SetOnce(actionsOn, ParseActions("ACTIONLISTON"), token);
      } else if (Is(token, "ACTIONLISTOFF")) {
        Allow(token, t, {CheckBox});
        SetOnce(actionsOff, ParseActions("ACTIONLISTOFF"), token);
      } else if (Is(token, "DEFAULT")) {
        Allow(token, t, {EditText, ComboBox, Numeric});
        if (t == Numeric) {
          SetOnce(part.defaultNumber, Number("DEFAULT"), token);
        } else {
          SetOnce(defaultText, std::string(Next("DEFAULT").text), token);
        }
      } else if (Is(token, "MAXLEN")) {
        Allow(token, t, {EditText, ComboBox});
        SetOnce(maxLength, Number("MAXLEN"), token);
        if (*maxLength == 0) Fail(token, "MAXLEN must be at least 1");
      } else if (Is(token, "EXPANDABLETEXT")) {
        Allow(token, t, {EditText, ComboBox, ListBox});
        part.expandable = true;
      } else if (Is(token, "OEMCONVERT")) {
        Allow(token, t, {EditText, ComboBox});
        part.oemConvert = true;
      } else if (Is(token, "REQUIRED")) {
        Allow(token, t, {EditText, ComboBox, Numeric, DropDownList});
        part.required = true;
      } else if (Is(token, "SUGGESTIONS")) {
        Allow(token, t, {ComboBox});
        SetOnce(suggestions, ParseSuggestions(), token);
      } else if (Is(token, "MIN")) {
        Allow(token, t, {Numeric});
        SetOnce(min, Number("MIN"), token);
      } else if (Is(token, "MAX")) {
        Allow(token, t, {Numeric});
        SetOnce(max, Number("MAX"), token);
      } else if (Is(token, "SPIN")) {
        Allow(token, t, {Numeric});
        SetOnce(spin, Number("SPIN"), token);
      } else if (Is(token, "TXTCONVERT")) {
        Allow(token, t, {Numeric});
        part.txtConvert = true;
      } else if (Is(token, "ITEMLIST")) {
        Allow(token, t, {DropDownList});
        SetOnce(items, ParseItems(), token);
      } else if (Is(token, "NOSORT")) {
        Allow(token, t, {DropDownList});
        part.noSort = true;
      } else if (Is(token, "VALUEPREFIX")) {
        Allow(token, t, {ListBox});
        SetOnce(prefix, std::string(Next("VALUEPREFIX").text), token);
      } else if (Is(token, "ADDITIVE")) {
        Allow(token, t, {ListBox});
        part.additive = true;
      } else if (Is(token, "EXPLICITVALUE")) {
        Allow(token, t, {ListBox});
        part.explicitValue = true;
      } else {
        Fail(token, Unexpected(token, "an option of the " + std::string(TypeName(t)) +
                                          " part or END PART"));
      }
    }
    ownKey = key.has_value();
    part.key = key.value_or("");
    part.valueName = valueName.value_or("");
    part.defaultText = defaultText.value_or("");
    part.maxLength = maxLength.value_or(0);
    part.min = min.value_or(part.min);
    part.max = max.value_or(part.max);
    part.spin = spin.value_or(part.spin);
    part.valuePrefix = prefix.value_or("");
    if (actionsOn) part.actionsOn = std::move(*actionsOn);
    if (actionsOff) part.actionsOff = std::move(*actionsOff);
    if (suggestions) part.suggestions = std::move(*suggestions);
    if (items) part.items = std::move(*items);

    if (!valueName && t != Text && t != ListBox) Fail(start, "the part has no VALUENAME");
    if (part.min > part.max) Fail(start, "the part's MIN is above its MAX");
    if (t == DropDownList && part.items.empty()) Fail(start, "the DROPDOWNLIST has no ITEMLIST");
    if (part.explicitValue && prefix) {
      Fail(start, "EXPLICITVALUE and VALUEPREFIX cannot be used together");
    }
    return part;
  }

  std::vector<std::string> ParseSuggestions() {
    std::vector<std::string> suggestions;
    for (;;) {
      const Token& token = Next("SUGGESTIONS");
      if (Is(token, "END")) {
        Expect("SUGGESTIONS", "SUGGESTIONS");
        return suggestions;
      }
      suggestions.emplace_back(token.text);
    }
  }

  // NAME n VALUE v [ACTIONLIST ... END ACTIONLIST], to END ITEMLIST.
  std::vector<PolicyItem> ParseItems() {
    std::vector<PolicyItem> items;
    for (;;) {
      const Token& token = Next("ITEMLIST");
      if (Is(token, "END")) {
        Expect("ITEMLIST", "ITEMLIST");
        return items;
      }
      if (!Is(token, "NAME")) Fail(token, Unexpected(token, "NAME or END ITEMLIST"));
      PolicyItem item;
      const Token& name = Next("ITEMLIST");
      item.name = name.text;
      for (const PolicyItem& other : items) {
        if (EqualsIgnoreCase(other.name, item.name)) {
          Fail(name, "two items of the list are named " + Shown(name));
        }
      }
      Expect("VALUE", "ITEMLIST");
      item.value = Value("VALUE");
      if (PeekIs("ACTIONLIST")) {
        peeked_.reset();
        item.actions = ParseActions("ACTIONLIST");
      }
      items.push_back(std::move(item));
    }
  }

  Reader reader_;
  std::string file_;
  std::optional<Token> peeked_;  // read ahead by PeekIs
};

}  // namespace

PolicyTemplate ParseTemplate(std::string_view text, std::string_view fileName) {
  return Parser(text, fileName).Parse();
}

}  // namespace tarnwick
