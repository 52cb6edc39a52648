#include "shell/machine_dir.h"

#include <system_error>

#include "base/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "shell/ansi_qstring.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// The shell shows names with a capital first letter and the rest in lower case.
QString Capitalised(std::string_view ansi) {
  QString text = FromAnsi(ansi).toLower();
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace

QString DriveDisplayName(const DriveInfo& drive) {
  const QString letter = QStringLiteral("(%1:)").arg(QLatin1Char(drive.letter));
  if (drive.type == DriveType::Removable) return QString::fromUtf8("3½ Floppy ") + letter;
  if (drive.type == DriveType::Remote && !drive.remoteName.empty()) {
    const std::vector<std::string> parts = SplitWindowsPath(drive.remoteName);
    return QStringLiteral("%1 on '%2' %3")
        .arg(Capitalised(parts.back()), Capitalised(parts.front()), letter);
  }
  if (!drive.HasMedium() || drive.label.empty()) return letter;
  return Capitalised(drive.label) + QLatin1Char(' ') + letter;
}

std::string DriveRoot(const DriveInfo& drive) {
  return std::string{drive.letter, ':', '\\'};
}

}  // namespace tarnwick
