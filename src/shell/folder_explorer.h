// Opening a folder of the machine in the desktop's file manager, as Explorer opens one on
// Windows 95.
#pragma once

#include <filesystem>
#include <string>

class QWidget;

namespace tarnwick {

class Machine;

class FolderExplorer {
 public:
  virtual ~FolderExplorer() = default;
  // Opens the host directory; whether the file manager started is not reported.
  virtual void Open(const std::filesystem::path& hostDirectory) = 0;

  // The desktop's file manager unless a test installed its own.
  static FolderExplorer& Current();
  // Installs an explorer (not owned); nullptr restores the desktop's.
  static void Install(FolderExplorer* explorer);
};

// Opens an existing folder of the machine (a Windows path) in the current explorer. A folder
// inside a disk image has no host directory the file manager could open: a message says so.
void ExploreFolder(QWidget* owner, const Machine& machine, const std::string& windowsPath);

}  // namespace tarnwick
