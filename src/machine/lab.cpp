#include "machine/lab.h"

#include <system_error>
#include <vector>

#include "base/file_io.h"
#include "base/text.h"
#include "machine/ini_file.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxLabFileSize = 64 << 10;
// Characters besides letters and digits that Windows 95 takes in a computer or workgroup name.
// "%" is left out: smb.conf would read it as a substitution.
constexpr std::string_view kNetbiosPunctuation = "!@#$^&()-_'{}.~";
// LAN Manager user names, which Windows 95 sends to the domain, hold at most 20 characters.
constexpr size_t kMaxAccountName = 20;

}  // namespace

bool IsLabDirectory(const fs::path& dir) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(dir / kLabFile, ec));
}

std::string NetbiosNameProblem(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.size() > 15) return "is longer than 15 characters";
  for (char c : name) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum && kNetbiosPunctuation.find(c) == std::string_view::npos) {
      return std::string("holds \"") + c + "\"; a NetBIOS name takes letters, digits and " +
             std::string(kNetbiosPunctuation);
    }
  }
  if (name.find_first_not_of('.') == std::string_view::npos) return "is only dots";
  return {};
}

std::string LabFolderProblem(const std::string& folder) {
  if (folder.empty()) return "is empty";
  if (FindControlCharacter(folder) != std::string::npos) return "holds a control character";
  const fs::path path(folder);
  if (path.is_absolute()) return {};
  for (const fs::path& part : path) {
    if (part == "..") return "leaves the lab directory (\"..\")";
  }
  return {};
}

std::string AccountNameProblem(std::string_view name) {
  if (name.size() > kMaxAccountName) {
    return "is longer than " + std::to_string(kMaxAccountName) + " characters";
  }
  bool digitsOnly = true;
  for (char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '.' && c != '-' && c != '_') {
      return "holds \"" + std::string(1, c) +
             "\"; an account name takes the letters a to z, digits, \".\", \"-\" and \"_\"";
    }
    digitsOnly = digitsOnly && digit;
  }
  if (name.front() == '-' || name.front() == '.') return "begins with \"-\" or \".\"";
  if (digitsOnly) return "is only digits, which Unix takes for a user number";
  return {};
}

LabSettings ReadLab(const fs::path& dir) {
  const fs::path file = dir / kLabFile;
  std::error_code ec;
  if (!fs::exists(file, ec)) throw LabError(dir.string() + ": holds no lab (no lab.ini)");
  IniFile ini;
  try {
    const std::vector<uint8_t> bytes = ReadWholeFile(file, kMaxLabFileSize);
    ini = IniFile::Parse(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), file.string());
  } catch (const Error& e) {
    throw LabError(e.what());
  }
  const IniSection* section = ini.FindSection(kLabSection);
  if (!section) throw LabError(file.string() + ": no [Lab] section");
  auto get = [&](std::string_view key) {
    const IniEntry* entry = section->Find(key);
    if (!entry) throw LabError(file.string() + ": [Lab] has no " + std::string(key) + "=");
    return entry->value;
  };
  LabSettings settings{UpperAscii(get("Domain")), UpperAscii(get("Server")), get("Netlogon"),
                       get("Homes")};
  for (const auto& [key, value] :
       {std::pair{"Domain", &settings.domain}, std::pair{"Server", &settings.server}}) {
    const std::string problem = NetbiosNameProblem(*value);
    if (!problem.empty()) {
      throw LabError(file.string() + ": " + key + "=" + *value + " " + problem);
    }
  }
  for (const auto& [key, value] :
       {std::pair{"Netlogon", &settings.netlogon}, std::pair{"Homes", &settings.homes}}) {
    const std::string problem = LabFolderProblem(*value);
    if (!problem.empty()) throw LabError(file.string() + ": " + key + "= " + problem);
  }
  return settings;
}

fs::path LabFolder(const fs::path& dir, const std::string& folder) {
  const fs::path path(folder);
  const fs::path given = path.is_absolute() ? path : dir / path;
  std::error_code ec;
  fs::path normal = fs::weakly_canonical(fs::absolute(given), ec);
  if (ec) normal = fs::absolute(given).lexically_normal();
  if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
  return normal;
}

std::string LabPolicyFilePath(const LabSettings& settings) {
  return "\\\\" + settings.server + "\\NETLOGON\\" + std::string(kPolicyFileName);
}

std::string LabProfileDirectory(const LabSettings& settings, std::string_view name) {
  return "\\\\" + settings.server + "\\" + LowerAscii(name) + "\\.profiles";
}

}  // namespace tarnwick
