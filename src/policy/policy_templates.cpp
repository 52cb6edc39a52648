#include "policy/policy_templates.h"

#include <algorithm>
#include <system_error>

#include "base/cp1252.h"
#include "base/data_home.h"
#include "base/file_io.h"
#include "base/text.h"
#include "policy/tarnwick_adm.h"
#include "policy/template_parser.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// Templates are a few hundred kilobytes at most.
constexpr size_t kMaxTemplateSize = 16 * 1024 * 1024;

[[noreturn]] void FailAt(const std::string& file, size_t line, const std::string& message) {
  throw TemplateError(file + "(" + std::to_string(line) + "): " + message);
}

// UTF-16 LE (after its byte order mark) as code page 1252.
std::string FromUtf16(const std::vector<uint8_t>& bytes, const std::string& file) {
  std::string text;
  text.reserve(bytes.size() / 2);
  size_t line = 1;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char32_t cp = static_cast<char32_t>(bytes[i] | (bytes[i + 1] << 8));
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = static_cast<char32_t>(bytes[i + 2] | (bytes[i + 3] << 8));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    const std::optional<char> byte = CodePointToCp1252(cp);
    if (!byte || (cp >= 0xD800 && cp <= 0xDFFF)) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(cp));
      FailAt(file, line, std::string("character ") + hex + " has no code page 1252 form");
    }
    if (*byte == '\n') ++line;
    text.push_back(*byte);
  }
  if (bytes.size() % 2 != 0) FailAt(file, line, "the UTF-16 text ends in half a character");
  return text;
}

// UTF-8 (after its byte order mark) as code page 1252, line by line for the error's line.
std::string FromUtf8(std::string_view utf8, const std::string& file) {
  std::string text;
  size_t line = 1;
  for (size_t start = 0; start <= utf8.size(); ++line) {
    const size_t end = std::min(utf8.find('\n', start), utf8.size());
    const std::optional<std::string> ansi = Utf8ToCp1252(utf8.substr(start, end - start));
    if (!ansi) FailAt(file, line, "the line is not UTF-8 that code page 1252 can hold");
    text += *ansi;
    if (end < utf8.size()) text.push_back('\n');
    start = end + 1;
  }
  return text;
}

void Walk(const std::vector<PolicyCategory>& categories, const std::string& parent,
          std::vector<PolicyRef>& out) {
  for (const PolicyCategory& category : categories) {
    const std::string path = JoinPolicyPath(parent, category.name);
    for (const Policy& policy : category.policies) {
      out.push_back({JoinPolicyPath(path, policy.name), &policy});
    }
    Walk(category.categories, path, out);
  }
}

}  // namespace

fs::path TemplatesFolder() {
  const std::optional<fs::path> dataHome = DataHome();
  if (!dataHome) return {};
  return *dataHome / "tarnwick" / "templates";
}

PolicyTemplate OwnTemplate() {
  return ParseTemplate(TarnwickTemplateText(), kOwnTemplateName);
}

PolicyTemplate LoadTemplateFile(const fs::path& file) {
  const std::string name = file.string();
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(file, kMaxTemplateSize);
  } catch (const FileReadError& e) {
    throw TemplateError(e.what());
  }
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    return ParseTemplate(FromUtf16(bytes, name), name);
  }
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (raw.starts_with("\xEF\xBB\xBF")) return ParseTemplate(FromUtf8(raw.substr(3), name), name);
  if (raw.starts_with("\xFE\xFF")) FailAt(name, 1, "UTF-16 big-endian text is not read");
  return ParseTemplate(raw, name);
}

std::vector<PolicyTemplate> LoadTemplates(const std::vector<fs::path>& extraFiles) {
  std::vector<PolicyTemplate> templates;
  templates.push_back(OwnTemplate());
  const fs::path folder = TemplatesFolder();
  std::vector<fs::path> found;
  std::error_code ec;
  if (!folder.empty() && fs::is_directory(folder, ec)) {
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      // A link that leads nowhere is kept: reading it names the problem.
      std::error_code typeError;
      const fs::path& path = it->path();
      if (EqualsIgnoreCase(path.extension().string(), ".adm") && !it->is_directory(typeError)) {
        found.push_back(path);
      }
    }
    if (ec) throw TemplateError(folder.string() + ": cannot list the templates: " + ec.message());
  }
  std::sort(found.begin(), found.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  for (const fs::path& path : found) templates.push_back(LoadTemplateFile(path));
  for (const fs::path& path : extraFiles) templates.push_back(LoadTemplateFile(path));
  return templates;
}

PolicyClass ClassOf(const PolicyEntry& entry) {
  return entry.kind == PolicyEntry::Kind::Computer ? PolicyClass::Machine : PolicyClass::User;
}

std::vector<PolicyRef> ListPolicies(const std::vector<PolicyTemplate>& templates, PolicyClass cls) {
  std::vector<PolicyRef> policies;
  for (const PolicyTemplate& t : templates) {
    Walk(cls == PolicyClass::Machine ? t.machine : t.user, "", policies);
  }
  return policies;
}

const Policy* FindPolicy(const std::vector<PolicyTemplate>& templates, PolicyClass cls,
                         std::string_view path) {
  for (const PolicyRef& ref : ListPolicies(templates, cls)) {
    if (EqualsIgnoreCase(ref.path, path)) return ref.policy;
  }
  return nullptr;
}

std::string JoinPolicyPath(std::string_view parent, std::string_view name) {
  if (parent.empty()) return std::string(name);
  std::string path(parent);
  path += '\\';
  path += name;
  return path;
}

}  // namespace tarnwick
