// Opening a folder of the machine in the desktop's file manager, as Explorer opens one on
// Windows 95.
#pragma once

#include <filesystem>

namespace tarnwick {

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

}  // namespace tarnwick
