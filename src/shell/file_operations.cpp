#include "shell/file_operations.h"

#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "formats/recycle_bin.h"
#include "machine/host_dir.h"
#include "machine/machine.h"
#include "shell/ansi_qstring.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "shell/tree_copy.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

void DropTrailingBackslash(std::string& path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
}

int Delete(const Machine& machine, const fs::path& host, QWidget* owner) {
  const std::optional<std::string> windowsPath = machine.WindowsPath(host);
  const DriveInfo* drive = windowsPath ? machine.FindDrive((*windowsPath)[0]) : nullptr;
  if (drive == nullptr) return kFileOpFailed;
  if (windowsPath->size() <= 3) {
    ShowMessage(owner, MessageKind::Error,
                QStringLiteral("Cannot delete %1: It is the root folder of the drive.")
                    .arg(FromAnsi(*windowsPath)));
    return kFileOpFailed;
  }
  if (drive->type == DriveType::Fixed) {
    try {
      RecycleBin(drive->hostDir, drive->letter).Recycle(host);
    } catch (const RecycleBinError& e) {
      ShowMessage(owner, MessageKind::Error, QString::fromStdString(e.what()));
      return kFileOpFailed;
    }
    return kFileOpSuccess;
  }
  if (drive->type == DriveType::CdRom) {
    ShowMessage(owner, MessageKind::Error,
                QStringLiteral("Cannot delete %1: Access is denied.\n\nMake sure the disk is not "
                               "full or write-protected and that the file is not currently in use.")
                    .arg(FromAnsi(*windowsPath)));
    return kFileOpFailed;
  }
  // Removable, network and RAM drives have no Recycle Bin: the shell deletes at once, in the
  // folder that was checked.
  const std::string failure = RemoveTree(HoldParentNoFollow(host));
  if (!failure.empty()) {
    ShowMessage(owner, MessageKind::Error,
                QStringLiteral("Cannot delete %1: %2.")
                    .arg(FromAnsi(*windowsPath), QString::fromStdString(failure)));
    return kFileOpFailed;
  }
  return kFileOpSuccess;
}

}  // namespace

void MakeDirectory(const Machine& machine, const std::string& path) {
  try {
    MakeDirectoryAt(machine.Hold(path));
  } catch (...) {
    // Every failure is silent; the caller checks for the directory itself.
  }
}

int CopyDirectoryTree(const Machine& machine, const std::string& source,
                      const std::string& destination, QWidget* owner) {
  try {
    std::string from(Trim(source));
    std::string to = destination;
    if (from.empty()) return kFileOpNotStarted;
    DropTrailingBackslash(from);
    DropTrailingBackslash(to);
    if (to.empty()) return kFileOpNotStarted;

    const std::optional<fs::path> fromHost = ExistingDirectory(machine, from);
    if (!fromHost) {
      ShowMessage(
          owner, MessageKind::Warning,
          QStringLiteral("Source Directory - ") + FromAnsi(from) + QStringLiteral(" - not found."));
      return kFileOpNotStarted;
    }
    std::optional<fs::path> toHost = ExistingDirectory(machine, to);
    if (!toHost) {
      MakeDirectory(machine, to);
      toHost = ExistingDirectory(machine, to);
    }
    if (!toHost) {
      ShowMessage(owner, MessageKind::Warning, QStringLiteral("Destination Directory not found."));
      return kFileOpNotStarted;
    }
    if (from == to) {
      ShowMessage(owner, MessageKind::Warning, QStringLiteral("Can not overwrite source files."));
      return kFileOpNotStarted;
    }
    return TreeCopy(owner).Run(*fromHost, *toHost);
  } catch (...) {
    ShowCurrentError(owner);
    return kFileOpFailed;
  }
}

int DeleteDirectoryTree(const Machine& machine, const std::string& directory, bool recycle,
                        QWidget* owner) {
  // Both flag sets the program passes hold FOF_ALLOWUNDO, and FOF_FILESONLY only narrows
  // wildcard names, so the shell recycles the named directory whatever recycle says.
  static_cast<void>(recycle);
  try {
    std::string path = directory;
    DropTrailingBackslash(path);
    if (path.empty()) return kFileOpNotStarted;
    const std::optional<fs::path> host = ExistingDirectory(machine, path);
    if (!host) {
      ShowMessage(owner, MessageKind::Warning, QStringLiteral("Directory to delete not found."));
      return kFileOpNotStarted;
    }
    return Delete(machine, *host, owner);
  } catch (...) {
    ShowCurrentError(owner);
    return kFileOpFailed;
  }
}

}  // namespace tarnwick
