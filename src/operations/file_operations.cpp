#include "operations/file_operations.h"

#include "base/cp1252.h"
#include "base/text.h"
#include "formats/recycle_bin.h"
#include "machine/machine.h"
#include "operations/tree_copy.h"

namespace tarnwick {

namespace {

void DropTrailingBackslash(std::string& path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
}

void Delete(const Machine& machine, const std::string& path) {
  VolumeLocation location;
  if (machine.Locate(path, location) != PathStatus::Found) {
    throw FileOperationError("Cannot delete " + Cp1252ToUtf8(path) + ".");
  }
  const DriveInfo& drive = *location.drive;
  const std::string shown = ShownPath(drive.letter, location.path);
  if (location.path.empty()) {
    throw FileOperationError("Cannot delete " + shown + ": It is the root folder of the drive.");
  }
  if (drive.type == DriveType::Fixed) {
    RecycleBin(machine, drive.letter).Recycle(path);
    return;
  }
  if (drive.type == DriveType::CdRom) {
    throw FileOperationError("Cannot delete " + shown +
                             ": Access is denied.\n\nMake sure the disk is not full or "
                             "write-protected and that the file is not currently in use.");
  }
  // Removable, network and RAM drives have no Recycle Bin: the shell deletes at once.
  try {
    machine.RemoveTree(path);
  } catch (const FileWriteError& e) {
    throw FileOperationError("Cannot delete " + shown + ": " + e.what() + ".");
  }
}

}  // namespace

void MakeDirectory(const Machine& machine, const std::string& path) {
  try {
    machine.MakeDirectory(path);
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

  if (!ExistingDirectory(machine, from)) {
    throw FileOperationNotStarted("Source Directory - " + Cp1252ToUtf8(from) + " - not found.");
  }
  if (!ExistingDirectory(machine, to)) MakeDirectory(machine, to);
  if (!ExistingDirectory(machine, to)) {
    throw FileOperationNotStarted("Destination Directory not found.");
  }
  if (from == to) throw FileOperationNotStarted("Can not overwrite source files.");
  return TreeCopy(machine, prompter).Run(from, to);
}

OperationResult DeleteDirectoryTree(const Machine& machine, const std::string& directory) {
  std::string path = directory;
  DropTrailingBackslash(path);
  if (path.empty()) return OperationResult::NothingNamed;
  if (!ExistingDirectory(machine, path)) {
    throw FileOperationNotStarted("Directory to delete not found.");
  }
  Delete(machine, path);
  return OperationResult::Done;
}

}  // namespace tarnwick
