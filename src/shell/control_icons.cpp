#include "shell/control_icons.h"

#include <QImageReader>
#include <filesystem>
#include <system_error>

#include "platform/machine.h"
#include "platform/win_path.h"
#include "shell/look.h"

namespace tarnwick {

QPixmap ShellFileIcon(const Machine& machine, const std::string& path, int size) {
  const std::optional<std::filesystem::path> host = machine.HostPath(path);
  std::error_code error;
  if (!host || !std::filesystem::exists(*host, error)) return {};
  if (EqualsIgnoreCase(ExtractFileExt(path), ".ico")) {
    QImageReader reader(QString::fromStdString(host->string()), "ICO");
    QImage best;
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
      const QImage image = reader.read();
      if (!image.isNull() &&
          (best.isNull() || std::abs(image.width() - size) < std::abs(best.width() - size))) {
        best = image;
      }
    }
    if (!best.isNull()) {
      return QPixmap::fromImage(
          best.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
  }
  return SmallImage(2).scaled(size, size);
}

}  // namespace tarnwick
