#include "shell/file_icons.h"

#include <QImage>
#include <QPainter>
#include <optional>
#include <string_view>
#include <vector>

#include "demo/project_icons.h"
#include "formats/ico_file.h"
#include "formats/pe_icons.h"
#include "formats/shell_link.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/registry.h"

namespace tarnwick {
namespace {

// Larger files are not searched for icons.
constexpr size_t kMaxIconSourceSize = 64u << 20;
constexpr size_t kMaxLinkSize = 1u << 20;

// The bytes of a file of the machine; nothing when it cannot be read or is too large.
std::optional<std::vector<uint8_t>> ReadMachineFile(const Machine& machine, std::string_view path,
                                                    size_t maxSize) {
  try {
    return machine.ReadFile(path, maxSize);
  } catch (const FileReadError&) {
    return std::nullopt;
  }
}

QImage Scaled(QImage image, int size) {
  if (image.isNull() || (image.width() == size && image.height() == size)) return image;
  return image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The image of an icon file for a size; null when the file gives none.
QImage IcoImage(std::span<const uint8_t> ico, int size) {
  const auto picture = LoadIconPicture(ico, size);
  if (!picture) return {};
  if (picture->isPng) {
    QImage image;
    image.loadFromData(picture->png.data(), static_cast<int>(picture->png.size()), "PNG");
    return Scaled(image.convertToFormat(QImage::Format_ARGB32), size);
  }
  const RgbaImage& px = picture->pixels;
  QImage image(px.width, px.height, QImage::Format_ARGB32);
  for (int y = 0; y < px.height; ++y) {
    std::copy_n(px.pixels.begin() + static_cast<ptrdiff_t>(y) * px.width, px.width,
                reinterpret_cast<QRgb*>(image.scanLine(y)));
  }
  return Scaled(image, size);
}

QImage Stock(StockIcon icon, int size) {
  return IcoImage(StockIconFile(icon), size);
}

bool IsProgramExtension(std::string_view ext) {
  for (const char* p : {".EXE", ".COM", ".BAT", ".PIF"}) {
    if (EqualsIgnoreCase(ext, p)) return true;
  }
  return false;
}

// The generic picture for a file of this name.
QImage Generic(const std::string& path, int size) {
  return Stock(IsProgramExtension(ExtractFileExt(path)) ? StockIcon::Program : StockIcon::Document,
               size);
}

bool IsExecutable(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

// The icon at an index of an executable, or of an icon file (index 0 only).
QImage IconIn(std::span<const uint8_t> bytes, int32_t index, int size) {
  if (IsExecutable(bytes)) {
    const auto ico = ExtractExeIcon(bytes, index);
    return ico ? IcoImage(*ico, size) : QImage();
  }
  return index == 0 ? IcoImage(bytes, size) : QImage();
}

QImage IconAt(const Machine& machine, std::string_view location, int32_t index, int size) {
  const auto bytes = ReadMachineFile(machine, location, kMaxIconSourceSize);
  return bytes ? IconIn(*bytes, index, size) : QImage();
}

// "path[,index]", quotes around the path allowed.
std::pair<std::string, int32_t> SplitIconLocation(std::string text) {
  int32_t index = 0;
  if (const size_t comma = text.rfind(','); comma != std::string::npos) {
    try {
      size_t used = 0;
      const std::string number = text.substr(comma + 1);
      index = std::stoi(number, &used);
      if (used == number.size()) text.resize(comma);
    } catch (const std::exception&) {
      index = 0;
    }
  }
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return {text, index};
}

// The program a command line starts: the quoted text or the text before the first blank.
std::string CommandProgram(const std::string& command) {
  if (!command.empty() && command.front() == '"') {
    return command.substr(1, command.find('"', 1) - 1);
  }
  return command.substr(0, command.find(' '));
}

std::string ReadClassString(Registry& registry, const std::string& key) {
  try {
    RegistryAccessor reg(registry);
    reg.SetRootKey(RootKey::LocalMachine);
    if (!reg.OpenKey("SOFTWARE\\Classes\\" + key, false)) return {};
    return reg.ReadString("");
  } catch (const RegistryError&) {
    return {};
  }
}

// The icon a file carries itself: an icon file's, or an executable's first group. A null image
// when it carries none (a program without icon resources, a file too large to search); empty
// when the icon file or executable is damaged.
std::optional<QImage> OwnIcon(const Machine& machine, const std::string& path, int size) {
  const std::string ext = ExtractFileExt(path);
  const bool iconFile = EqualsIgnoreCase(ext, ".ico");
  if (!iconFile && !EqualsIgnoreCase(ext, ".exe") && !EqualsIgnoreCase(ext, ".dll")) {
    return QImage();
  }
  const auto bytes = ReadMachineFile(machine, path, kMaxIconSourceSize);
  if (!bytes) return QImage();
  if (IsExecutable(*bytes)) {
    const ExeIcons state = ExeIconState(*bytes);
    if (state == ExeIcons::Damaged) return std::nullopt;
    if (state == ExeIcons::None) return QImage();
  } else if (!iconFile) {
    return QImage();  // not a Windows program
  }
  // The file holds icons, so finding none means damage.
  QImage image = IconIn(*bytes, 0, size);
  if (image.isNull()) return std::nullopt;
  return image;
}

// The icon the extension's file class names; null when the class names none that exists.
// "%1" stands for the file's own icon.
QImage ClassIcon(const Machine& machine, Registry& registry, const std::string& path,
                 const QImage& own, int size) {
  const std::string ext = ExtractFileExt(path);
  if (ext.empty()) return {};
  const std::string fileClass = ReadClassString(registry, ext);
  if (fileClass.empty()) return {};
  const std::string defaultIcon = ReadClassString(registry, fileClass + "\\DefaultIcon");
  if (!defaultIcon.empty()) {
    const auto [location, index] = SplitIconLocation(defaultIcon);
    if (location == "%1") return own;
    return IconAt(machine, location, index, size);
  }
  const std::string command = ReadClassString(registry, fileClass + "\\shell\\open\\command");
  if (command.empty()) return {};
  return IconAt(machine, CommandProgram(command), 0, size);
}

QImage WithLinkArrow(QImage image, int size) {
  image = image.convertToFormat(QImage::Format_ARGB32);
  QPainter painter(&image);
  painter.drawImage(0, 0, Stock(StockIcon::LinkOverlay, size));
  return image;
}

QImage Lookup(const Machine& machine, const std::string& path, int size, Registry* registry,
              bool followLinks);

QImage LinkIcon(const Machine& machine, const std::string& path, int size, Registry* registry) {
  const auto bytes = ReadMachineFile(machine, path, kMaxLinkSize);
  if (!bytes) return {};
  QImage icon;
  try {
    const ShellLink link = DecodeShellLink(*bytes);
    if (const std::string location = link.IconPath(); !location.empty()) {
      icon = IconAt(machine, location, link.iconIndex, size);
    }
    const std::string target = link.TargetPath();
    if (icon.isNull() && !target.empty()) {
      icon = Lookup(machine, target, size, registry, false);
      if (icon.isNull()) icon = Generic(target, size);  // the target is missing
    }
  } catch (const ShellLinkError&) {
    return {};  // a damaged shortcut has no icon
  }
  if (icon.isNull()) icon = Generic(path, size);
  return WithLinkArrow(icon, size);
}

QImage Lookup(const Machine& machine, const std::string& path, int size, Registry* registry,
              bool followLinks) {
  const std::optional<VolumeEntry> entry = machine.Stat(path);
  if (!entry) return {};
  if (entry->IsDirectory()) return Stock(StockIcon::Folder, size);
  if (EqualsIgnoreCase(ExtractFileExt(path), ".lnk")) {
    return followLinks ? LinkIcon(machine, path, size, registry) : Generic(path, size);
  }
  const std::optional<QImage> own = OwnIcon(machine, path, size);
  if (!own) return {};
  QImage icon;
  if (registry) icon = ClassIcon(machine, *registry, path, *own, size);
  if (icon.isNull()) icon = *own;
  if (icon.isNull()) icon = Generic(path, size);
  return icon;
}

}  // namespace

QPixmap FileIcon(const Machine& machine, const std::string& path, int size, Registry* registry) {
  return QPixmap::fromImage(Lookup(machine, path, size, registry, true));
}

QPixmap IconAtLocation(const Machine& machine, const std::string& file, int32_t index, int size) {
  return QPixmap::fromImage(IconAt(machine, file, index, size));
}

void GetSmallFileIcon(const Machine& machine, const std::string& path, QPixmap& icon,
                      Registry* registry) {
  if (QPixmap found = FileIcon(machine, path, 16, registry); !found.isNull()) icon = found;
}

void GetLargeFileIcon(const Machine& machine, const std::string& path, QPixmap& icon,
                      Registry* registry) {
  if (QPixmap found = FileIcon(machine, path, 32, registry); !found.isNull()) icon = found;
}

QPixmap IconFilePixmap(std::span<const uint8_t> ico, int size) {
  return QPixmap::fromImage(IcoImage(ico, size));
}

}  // namespace tarnwick
