#include "operations/file_operations.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "base/text.h"
#include "formats/recycle_bin.h"
#include "base/cp1252.h"
#include "machine/host_dir.h"
#include "machine/machine.h"
#include "operations/tree_copy.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

void DropTrailingBackslash(std::string& path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
}

std::optional<fs::path> HostDirectory(const Machine& machine, const std::string& path) {
  std::optional<fs::path> host = machine.HostPath(path);
  std::error_code ec;
  if (!host || !fs::is_directory(*host, ec)) return std::nullopt;
  return host;
}

void Delete(const Machine& machine, const fs::path& host) {
  const std::optional<std::string> windowsPath = machine.WindowsPath(host);
  const DriveInfo* drive = windowsPath ? machine.FindDrive((*windowsPath)[0]) : nullptr;
  if (drive == nullptr) throw FileOperationError("Cannot delete " + host.string() + ".");
  const std::string shown = Cp1252ToUtf8(*windowsPath);
  if (windowsPath->size() <= 3) {
    throw FileOperationError("Cannot delete " + shown + ": It is the root folder of the drive.");
  }
  if (drive->type == DriveType::Fixed) {
    RecycleBin(machine, drive->letter).Recycle(*windowsPath);
    return;
  }
  if (drive->type == DriveType::CdRom) {
    throw FileOperationError("Cannot delete " + shown +
                             ": Access is denied.\n\nMake sure the disk is not full or "
                             "write-protected and that the file is not currently in use.");
  }
  // Removable, network and RAM drives have no Recycle Bin: the shell deletes at once, in the
  // folder that was checked.
  const std::string failure = RemoveTree(HoldParentNoFollow(host));
  if (!failure.empty()) throw FileOperationError("Cannot delete " + shown + ": " + failure + ".");
}

}  // namespace

void MakeDirectory(const Machine& machine, const std::string& path) {
  try {
    MakeDirectoryAt(machine.Hold(path));
  } catch (...) {
    // Every failure is silent; the caller checks for the directory itself.
  }
}

OperationResult CopyDirectoryTree(const Machine& machine, const std::string& source,
                                  const std::string& destination, OperationPrompter& prompter) {
  std::string from(Trim(source));
  std::string to = destination;
  if (from.empty()) return OperationResult::NothingNamed;
  DropTrailingBackslash(from);
  DropTrailingBackslash(to);
  if (to.empty()) return OperationResult::NothingNamed;

  const std::optional<fs::path> fromHost = HostDirectory(machine, from);
  if (!fromHost) {
    throw FileOperationNotStarted("Source Directory - " + Cp1252ToUtf8(from) + " - not found.");
  }
  std::optional<fs::path> toHost = HostDirectory(machine, to);
  if (!toHost) {
    MakeDirectory(machine, to);
    toHost = HostDirectory(machine, to);
  }
  if (!toHost) throw FileOperationNotStarted("Destination Directory not found.");
  if (from == to) throw FileOperationNotStarted("Can not overwrite source files.");
  return TreeCopy(prompter).Run(*fromHost, *toHost);
}

OperationResult DeleteDirectoryTree(const Machine& machine, const std::string& directory) {
  std::string path = directory;
  DropTrailingBackslash(path);
  if (path.empty()) return OperationResult::NothingNamed;
  const std::optional<fs::path> host = HostDirectory(machine, path);
  if (!host) throw FileOperationNotStarted("Directory to delete not found.");
  Delete(machine, *host);
  return OperationResult::Done;
}

}  // namespace tarnwick
