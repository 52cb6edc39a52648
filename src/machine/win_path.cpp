#include "machine/win_path.h"

#include <algorithm>

#include "base/text.h"

namespace tarnwick {

namespace {

size_t LastDelimiter(std::string_view path) {
  return path.find_last_of("\\:");
}

}  // namespace

std::string AddTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '\\') result.push_back('\\');
  return result;
}

std::string ExtractFileName(std::string_view path) {
  const size_t pos = LastDelimiter(path);
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string ExtractFilePath(std::string_view path) {
  const size_t pos = LastDelimiter(path);
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string ExtractFileExt(std::string_view path) {
  const size_t dot = path.find_last_of('.');
  const size_t delim = LastDelimiter(path);
  if (dot == std::string_view::npos || (delim != std::string_view::npos && dot < delim)) return {};
  return std::string(path.substr(dot));
}

std::string RemoveFileExt(std::string_view path) {
  return std::string(path.substr(0, path.size() - ExtractFileExt(path).size()));
}

bool IsValidComponent(std::string_view name) {
  if (name.find_first_not_of('.') == std::string_view::npos) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 ||
           std::string_view("<>:\"|?*").find(c) != std::string_view::npos;
  });
}

bool IsDeviceName(std::string_view name) {
  std::string base = UpperAscii(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

std::vector<std::string> SplitWindowsPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace tarnwick
