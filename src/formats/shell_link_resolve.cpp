#include "formats/shell_link_resolve.h"

#include <optional>
#include <vector>

#include "base/text.h"
#include "formats/shell_link.h"
#include "machine/machine.h"
#include "machine/short_name.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

// Joins a relative path onto a folder, folding "." and ".."; empty when it climbs above the root.
std::optional<std::string> JoinRelative(std::string_view folder, std::string_view relative) {
  if (folder.size() < 2 || folder[1] != ':') return std::nullopt;
  std::vector<std::string> parts = SplitWindowsPath(folder.substr(2));
  for (const std::string& part : SplitWindowsPath(relative)) {
    if (part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else {
      parts.push_back(part);
    }
  }
  std::string path(folder.substr(0, 2));
  for (const std::string& part : parts) path.append("\\").append(part);
  return path;
}

// Expands the variables Windows 95 sets: %windir%, %SystemRoot%, %SystemDrive%, %ProgramFiles%.
std::string ExpandVariables(const Machine& machine, std::string_view text) {
  const std::string& windows = machine.WindowsDirectory();
  const std::string drive = windows.substr(0, 2);
  const std::pair<std::string_view, std::string> variables[] = {
      {"%windir%", windows},
      {"%SystemRoot%", windows},
      {"%SystemDrive%", drive},
      {"%ProgramFiles%", drive + "\\Program Files"},
  };
  std::string result;
  size_t at = 0;
  while (at < text.size()) {
    bool replaced = false;
    for (const auto& [name, value] : variables) {
      if (EqualsIgnoreCase(text.substr(at, name.size()), name)) {
        result += value;
        at += name.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) result.push_back(text[at++]);
  }
  return result;
}

std::optional<std::string> ExistingShortPath(const Machine& machine, std::string_view path) {
  if (path.empty() || path.size() >= kMaxShellPath) return std::nullopt;
  const auto located = LocateLinkPath(machine, path);
  if (!located) return std::nullopt;
  std::string shortPath = located->ShortPath();
  if (shortPath.size() >= kMaxShellPath) return std::nullopt;
  return shortPath;
}

}  // namespace

std::optional<MachinePath> LocateLinkPath(const Machine& machine, std::string_view windowsPath) {
  VolumeLocation location;
  if (machine.Locate(windowsPath, location) != PathStatus::Found) return std::nullopt;
  if (location.volume->HostPath({})) return LocateMachinePath(machine, windowsPath);
  MachinePath result;
  result.root = windowsPath.starts_with("\\\\") ? location.drive->remoteName
                                                : std::string{location.drive->letter, ':'};
  if (!location.volume->Stat({})) return std::nullopt;
  VolumePath prefix;
  for (const std::string& name : location.path) {
    prefix.push_back(name);
    const std::optional<VolumeEntry> entry = location.volume->Stat(prefix);
    if (!entry) return std::nullopt;
    result.components.push_back(
        {entry->name, entry->shortName.empty() ? entry->name : entry->shortName, {}});
  }
  return result;
}

std::string ResolveShellLinkFile(const Machine& machine, std::string_view linkFile) {
  if (linkFile.size() >= kMaxShellPath) return {};
  const auto located = LocateLinkPath(machine, linkFile);
  if (!located) return {};
  ShellLink link;
  try {
    link = ReadShellLinkFile(machine, located->LongPath());
  } catch (const ShellLinkError&) {
    return {};
  }
  std::vector<std::string> candidates = {link.TargetPath(), link.idListPath.value_or("")};
  if ((link.linkFlags & kLinkHasExpString) != 0 && !link.environmentTarget.empty()) {
    candidates.push_back(ExpandVariables(machine, link.environmentTarget));
  }
  if (!link.relativePath.empty()) {
    const std::string folder = ExtractFilePath(located->LongPath());
    if (auto joined = JoinRelative(folder, link.relativePath)) candidates.push_back(*joined);
  }
  for (const std::string& candidate : candidates) {
    if (auto shortPath = ExistingShortPath(machine, candidate)) return *shortPath;
  }
  return {};
}

}  // namespace tarnwick
