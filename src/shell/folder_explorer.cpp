#include "shell/folder_explorer.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

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

}  // namespace tarnwick
