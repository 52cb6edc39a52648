#include "shell/folder_explorer.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "machine/machine.h"
#include "shell/ansi_qstring.h"
#include "shell/prompts.h"

namespace tarnwick {

namespace {

class DesktopFileManager : public FolderExplorer {
 public:
  void Open(const std::filesystem::path& hostDirectory) override {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(hostDirectory.string())));
  }
};

FolderExplorer* installed = nullptr;

}  // namespace

FolderExplorer& FolderExplorer::Current() {
  static DesktopFileManager desktop;
  return installed != nullptr ? *installed : desktop;
}

void FolderExplorer::Install(FolderExplorer* explorer) {
  installed = explorer;
}

void ExploreFolder(QWidget* owner, const Machine& machine, const std::string& windowsPath) {
  if (const auto host = machine.HostPath(windowsPath)) {
    FolderExplorer::Current().Open(*host);
    return;
  }
  const DriveInfo* drive = windowsPath.empty() ? nullptr : machine.FindDrive(windowsPath[0]);
  if (drive == nullptr || drive->image.empty()) return;
  ShowMessage(
      owner, MessageKind::Information,
      QStringLiteral("The folder %1 is inside the disk image %2, which the desktop's file "
                     "manager cannot open. Its contents are shown in the list below.")
          .arg(FromAnsi(windowsPath), QString::fromStdString(drive->image.filename().string())));
}

}  // namespace tarnwick
