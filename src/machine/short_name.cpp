#include "machine/short_name.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <system_error>

#include "base/cp1252.h"
#include "base/file_io.h"
#include "machine/drive_walk.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxBase = 8;
constexpr size_t kMaxExt = 3;
constexpr int kMaxTail = 999999;
// A FAT directory holds at most 65536 entries.
constexpr size_t kMaxDirectoryEntries = 65536 + 2;

bool IsLegalAscii(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("$%'-@{}~!#()&_^`", c) != nullptr && c != '\0';
}

// The upper-case form of an ANSI character in a short name, or empty when OEM code page 850
// cannot hold it or it is not legal in a short name.
std::optional<char> ShortNameChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x80) {
    const char upper = UpperAscii(c);
    if (IsLegalAscii(upper)) return upper;
    return std::nullopt;
  }
  unsigned char upper = byte;
  if ((byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) upper = byte - 0x20;
  // Code page 850 holds every character of 0xA0..0xFF and, of 0x80..0x9F, only the florin.
  if (upper >= 0xA0 || upper == 0x83) return static_cast<char>(upper);
  return std::nullopt;
}

// Appends the short-name form of text to out, dropping spaces (and dots when dropDots is set).
bool AppendMapped(std::string& out, std::string_view text, bool dropDots) {
  bool lossy = false;
  for (char c : text) {
    if (c == ' ' || (dropDots && c == '.')) {
      lossy = true;
      continue;
    }
    if (const auto mapped = ShortNameChar(c)) {
      out.push_back(*mapped);
    } else {
      out.push_back('_');
      lossy = true;
    }
  }
  return lossy;
}

std::string Compose(std::string_view base, std::string_view ext) {
  std::string name(base);
  if (!ext.empty()) name.append(".").append(ext);
  return name;
}

bool IsDotName(std::string_view name) {
  return name == "." || name == "..";
}

std::string DirentName(const __fat_dirent& entry) {
  return std::string(entry.d_name, strnlen(entry.d_name, sizeof entry.d_name));
}

// The names a vfat mount stores; empty when the directory is not on one.
std::optional<std::vector<DirectoryEntryName>> ReadVfatNames(const fs::path& hostDir) {
  const UniqueFd fd(::open(hostDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) return std::nullopt;
  std::vector<DirectoryEntryName> names;
  for (size_t i = 0; i < kMaxDirectoryEntries; ++i) {
    __fat_dirent entries[2] = {};
    const int rc = ::ioctl(fd.Get(), VFAT_IOCTL_READDIR_BOTH, entries);
    if (rc < 0) return std::nullopt;
    if (rc == 0 || entries[0].d_reclen == 0) break;
    const std::string shortName = DirentName(entries[0]);
    const std::string hostName = entries[1].d_reclen > 0 ? DirentName(entries[1]) : shortName;
    if (IsDotName(hostName)) continue;
    const auto longName = Utf8ToCp1252(hostName);
    const auto shortAnsi = Utf8ToCp1252(shortName);
    if (!longName || !shortAnsi) continue;
    // Windows 95 ignores the lower-case flags that the mount may show.
    names.push_back({hostName, *longName, UpperAscii(*shortAnsi)});
  }
  return names;
}

// The lowest tail of each family of candidates (the base as cut for tails of one length, and the
// extension) that is not known to be taken.
using TailMemo = std::map<std::string, int>;

// BASE~N.EXT for the lowest free N. Names only join `taken` while memo is in use, so every tail
// below the one memo keeps for a family stays taken and the search goes on from there.
std::string TailedName(std::string_view longName, const ShortNameBasis& basis,
                       const std::set<std::string>& taken, TailMemo& memo) {
  for (int first = 1; first <= kMaxTail; first *= 10) {
    const int last = std::min(first * 10 - 1, kMaxTail);
    const size_t tailSize = std::to_string(first).size() + 1;
    const std::string cut = basis.base.substr(0, kMaxBase - tailSize);
    // ':' is in no short name.
    const std::string family = std::to_string(tailSize) + ':' + Compose(cut, basis.ext);
    for (int& n = memo.try_emplace(family, first).first->second; n <= last; ++n) {
      std::string candidate = Compose(cut + "~" + std::to_string(n), basis.ext);
      if (!taken.contains(candidate)) return candidate;
    }
  }
  throw MachineError("No free short name for " + Cp1252ToUtf8(longName));
}

// hostNames: every entry of the directory but "." and "..", in the order read.
std::vector<DirectoryEntryName> GenerateNames(const std::vector<std::string>& hostNames) {
  std::vector<DirectoryEntryName> names;
  for (const std::string& hostName : hostNames) {
    if (const auto ansi = Utf8ToCp1252(hostName)) names.push_back({hostName, *ansi, {}});
    if (names.size() > kMaxDirectoryEntries) break;
  }
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return a.hostName < b.hostName; });

  // The entry a lookup by long name finds for each ASCII-folded name: the smallest host name.
  std::map<std::string, const DirectoryEntryName*> byFoldedName;
  for (const auto& entry : names) byFoldedName.emplace(UpperAscii(entry.longName), &entry);
  std::set<std::string> taken;
  for (auto& entry : names) {
    if (IsBareShortName(entry.longName) && taken.insert(entry.longName).second) {
      entry.shortName = entry.longName;
    }
  }
  for (auto& entry : names) {
    if (!entry.shortName.empty()) continue;
    const ShortNameBasis basis = MakeShortNameBasis(entry.longName);
    const std::string name = Compose(basis.base, basis.ext);
    // An alias that another entry's long name matches would lead there, not back here.
    const auto owner = byFoldedName.find(name);
    if (basis.lossy || (owner != byFoldedName.end() && owner->second != &entry)) continue;
    if (taken.insert(name).second) entry.shortName = name;
  }
  TailMemo tails;
  for (auto& entry : names) {
    if (!entry.shortName.empty()) continue;
    const ShortNameBasis basis = MakeShortNameBasis(entry.longName);
    const std::string plain = Compose(basis.base, basis.ext);
    if (!basis.lossy && !taken.contains(plain)) {
      entry.shortName = plain;
    } else {
      entry.shortName = TailedName(entry.longName, basis, taken, tails);
    }
    taken.insert(entry.shortName);
  }
  return names;
}

// Splits a Windows path into its root ("C:" or "\\SERVER\SHARE") and the rest.
std::optional<std::pair<std::string, std::string_view>> SplitRoot(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') {
    const char letter = UpperAscii(path[0]);
    if (letter < 'A' || letter > 'Z') return std::nullopt;
    const std::string_view rest = path.substr(2);
    if (!rest.empty() && rest.front() != '\\') return std::nullopt;
    return std::make_pair(std::string{letter, ':'}, rest);
  }
  if (path.starts_with("\\\\")) {
    const size_t serverEnd = path.find('\\', 2);
    if (serverEnd == std::string_view::npos || serverEnd == 2) return std::nullopt;
    size_t shareEnd = path.find('\\', serverEnd + 1);
    if (shareEnd == std::string_view::npos) shareEnd = path.size();
    if (shareEnd == serverEnd + 1) return std::nullopt;
    return std::make_pair(std::string(path.substr(0, shareEnd)), path.substr(shareEnd));
  }
  return std::nullopt;
}

}  // namespace

ShortNameBasis MakeShortNameBasis(std::string_view longName) {
  ShortNameBasis basis;
  std::string_view name = longName;
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.remove_suffix(1);
    basis.lossy = true;
  }
  std::string_view base = name;
  std::string_view ext;
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos &&
      name.substr(0, dot).find_first_not_of(". ") != std::string_view::npos) {
    base = name.substr(0, dot);
    ext = name.substr(dot + 1);
  }
  basis.lossy |= AppendMapped(basis.base, base, true);
  basis.lossy |= AppendMapped(basis.ext, ext, false);
  if (basis.base.empty()) {
    basis.base = "_";
    basis.lossy = true;
  }
  if (basis.base.size() > kMaxBase) {
    basis.base.resize(kMaxBase);
    basis.lossy = true;
  }
  if (basis.ext.size() > kMaxExt) {
    basis.ext.resize(kMaxExt);
    basis.lossy = true;
  }
  return basis;
}

std::string MakeShortName(std::string_view longName, const std::set<std::string>& taken) {
  const ShortNameBasis basis = MakeShortNameBasis(longName);
  const std::string plain = Compose(basis.base, basis.ext);
  if (!basis.lossy && !taken.contains(plain)) return plain;
  TailMemo tails;
  return TailedName(longName, basis, taken, tails);
}

bool IsBareShortName(std::string_view name) {
  if (name.empty()) return false;
  const ShortNameBasis basis = MakeShortNameBasis(name);
  return !basis.lossy && Compose(basis.base, basis.ext) == name;
}

std::vector<DirectoryEntryName> ReadDirectoryNames(const fs::path& hostDir) {
  const std::optional<std::vector<std::string>> hostNames = ListHostNames(hostDir);
  if (!hostNames) return {};
  return DirectoryNamesOf(hostDir, *hostNames);
}

std::vector<DirectoryEntryName> DirectoryNamesOf(const fs::path& hostDir,
                                                 const std::vector<std::string>& hostNames) {
  if (auto names = ReadVfatNames(hostDir)) {
    std::sort(names->begin(), names->end(),
              [](const auto& a, const auto& b) { return a.hostName < b.hostName; });
    return *names;
  }
  return GenerateNames(hostNames);
}

const DirectoryEntryName* FindDirectoryEntry(const std::vector<DirectoryEntryName>& entries,
                                             std::string_view name) {
  for (const auto& entry : entries) {
    if (entry.longName == name) return &entry;
  }
  for (const auto& entry : entries) {
    if (EqualsIgnoreCase(entry.longName, name)) return &entry;
  }
  for (const auto& entry : entries) {
    if (EqualsIgnoreCase(entry.shortName, name)) return &entry;
  }
  return nullptr;
}

std::string MachinePath::LongPath() const {
  std::string path = root;
  for (const auto& component : components) path.append("\\").append(component.longName);
  return components.empty() ? path + "\\" : path;
}

std::string MachinePath::ShortPath() const {
  std::string path = root;
  for (const auto& component : components) path.append("\\").append(component.shortName);
  return components.empty() ? path + "\\" : path;
}

const fs::path& MachinePath::HostPath() const {
  return components.empty() ? rootHostPath : components.back().hostPath;
}

std::optional<MachinePath> LocateMachinePath(const Machine& machine, std::string_view windowsPath) {
  const auto split = SplitRoot(windowsPath);
  if (!split) return std::nullopt;
  MachinePath result;
  result.root = split->first;
  const auto rootHost = machine.HostPath(result.root + "\\");
  std::error_code ec;
  if (!rootHost || !fs::is_directory(*rootHost, ec)) return std::nullopt;
  result.rootHostPath = *rootHost;

  DriveWalk walk(*rootHost, machine.HostNames());
  for (const std::string& name : SplitWindowsPath(split->second)) {
    if (IsDotName(name)) return std::nullopt;
    const auto entries = machine.HostNames().Names(walk.Current());
    const DirectoryEntryName* entry = FindDirectoryEntry(*entries, name);
    if (entry == nullptr || !IsValidComponent(entry->longName) || !walk.Enter(entry->longName) ||
        !fs::exists(walk.Current(), ec)) {
      return std::nullopt;
    }
    result.components.push_back({entry->longName, entry->shortName, walk.Current()});
  }
  return result;
}

std::optional<std::string> ShortPathName(const Machine& machine, std::string_view windowsPath) {
  const auto located = LocateMachinePath(machine, windowsPath);
  if (!located) return std::nullopt;
  return located->ShortPath();
}

}  // namespace tarnwick
