#include "operations/tree_copy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <system_error>

#include "base/cp1252.h"
#include "base/text.h"
#include "machine/host_dir.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "operations/operation_prompter.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

// The largest file a FAT volume holds.
constexpr size_t kMaxFileSize = std::numeric_limits<uint32_t>::max();

std::string Join(const std::string& folder, const std::string& name) {
  return AddTrailingBackslash(folder) + name;
}

// The name of a path's last component, UTF-8, for messages.
std::string Name(const std::string& path) {
  return Cp1252ToUtf8(ExtractFileName(path));
}

// A Windows path as the prompter shows it: its last components as host path names.
fs::path Shown(const std::string& path) {
  std::string shown = Cp1252ToUtf8(path);
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

// A symbolic link on a host drive is nothing Windows can see.
bool IsHostLink(const Machine& machine, const std::string& path) {
  const PathLookup lookup = machine.LookUp(path, false);
  std::error_code ec;
  return lookup.status == PathStatus::Found && fs::is_symlink(lookup.host, ec);
}

FileFacts Facts(const VolumeEntry& entry) {
  return {entry.size, std::chrono::sys_seconds(std::chrono::seconds(entry.written))};
}

}  // namespace

std::vector<VolumeEntry> TreeCopy::Entries(const std::string& folder) const {
  std::vector<VolumeEntry> entries = machine_.List(folder);
  std::erase_if(entries, [&](const VolumeEntry& entry) {
    return IsHostLink(machine_, Join(folder, entry.name));
  });
  std::sort(entries.begin(), entries.end(), [](const VolumeEntry& a, const VolumeEntry& b) {
    return UpperAscii(a.name) < UpperAscii(b.name);
  });
  return entries;
}

std::optional<VolumeEntry> TreeCopy::FindEntry(const std::string& folder,
                                               const std::string& name) const {
  std::optional<VolumeEntry> found = machine_.Stat(Join(folder, name));
  if (!found && !IsHostLink(machine_, Join(folder, name))) return std::nullopt;
  // A host directory answers with the name asked for: its listing has the stored one.
  const std::vector<VolumeEntry> entries = machine_.List(folder);
  const VolumeEntry* best = nullptr;
  for (const VolumeEntry& entry : entries) {
    if (entry.name == name) return entry;
    if (EqualsIgnoreCase(entry.name, name) && (best == nullptr || entry.name < best->name)) {
      best = &entry;
    }
  }
  if (best != nullptr) return *best;
  if (found) return found;
  // A link that leads nowhere, named as the host stores it.
  VolumeEntry link;
  link.name = Utf8ToCp1252(machine_.LookUp(Join(folder, name), false).host.filename().string())
                  .value_or(name);
  return link;
}

fs::path TreeCopy::Where(const std::string& path) const {
  const PathLookup lookup = machine_.LookUp(path);
  std::error_code ec;
  if (lookup.status == PathStatus::Found) return fs::weakly_canonical(lookup.host, ec);
  // A disk image has no links: every path to an entry leads through the names it is stored with.
  VolumeLocation location;
  if (machine_.Locate(path, location) != PathStatus::Found) return {};
  fs::path where(std::string{location.drive->letter, ':'});
  VolumePath prefix;
  for (const std::string& name : location.path) {
    prefix.push_back(name);
    const std::optional<VolumeEntry> entry = location.volume->Stat(prefix);
    where /= entry ? entry->name : name;
  }
  return where;
}

uint64_t TreeCopy::UnitsBelow(const std::string& folder) const {
  uint64_t units = 0;
  for (const VolumeEntry& entry : Entries(folder)) {
    units += entry.IsDirectory() ? UnitsBelow(Join(folder, entry.name)) : entry.size + 1;
  }
  return units;
}

OperationResult TreeCopy::Run(const std::string& source, const std::string& destination) {
  destinationRoot_ = Where(destination);
  if (Where(source) == destinationRoot_) {
    // Copying the contents onto themselves would truncate every file.
    const std::vector<VolumeEntry> entries = Entries(source);
    if (entries.empty()) return OperationResult::Done;
    throw FileOperationError("Cannot copy " + Cp1252ToUtf8(entries.front().name) +
                             ": The source and destination file names are the same.");
  }
  totalUnits_ = std::max<uint64_t>(UnitsBelow(source), 1);
  return CopyContents(source, destination);
}

OperationResult TreeCopy::CopyContents(const std::string& from, const std::string& to) {
  const std::vector<VolumeEntry> entries = Entries(from);
  if (entries.empty() && !ExistingDirectory(machine_, from)) {
    throw FileOperationError("Cannot copy " + Name(from) + ": Cannot read from the source folder.");
  }
  for (const VolumeEntry& entry : entries) {
    if (prompter_.Cancelled()) return OperationResult::Cancelled;
    const std::string path = Join(from, entry.name);
    const OperationResult result =
        entry.IsDirectory() ? CopyFolder(path, to) : CopyFile(path, entry, to);
    if (result != OperationResult::Done) return result;
  }
  return OperationResult::Done;
}

OperationResult TreeCopy::CopyFolder(const std::string& from, const std::string& to) {
  if (IsWithin(destinationRoot_, Where(from))) {
    throw FileOperationError("Cannot copy " + Name(from) +
                             ": The destination folder is a subfolder of the source folder.");
  }
  const std::string name = ExtractFileName(from);
  std::string target = Join(to, name);
  if (const std::optional<VolumeEntry> existing = FindEntry(to, name)) {
    target = Join(to, existing->name);
    if (!existing->IsDirectory() || IsHostLink(machine_, target)) {
      throw FileOperationError("Cannot create or replace " + Name(target) +
                               ": A file with the name you specified already exists.");
    }
    if (!mergeAllFolders_) {
      const ReplaceAnswer answer = prompter_.ConfirmReplace({true, Name(target), {}, {}});
      if (answer == ReplaceAnswer::Cancel) return OperationResult::Cancelled;
      if (answer == ReplaceAnswer::No) return Advance(UnitsBelow(from));
      mergeAllFolders_ = answer == ReplaceAnswer::YesToAll;
    }
  } else {
    try {
      machine_.MakeDirectory(target);
    } catch (const FileWriteError& e) {
      throw FileOperationError("Cannot create the folder " + Name(target) + ": " + e.what());
    }
  }
  return CopyContents(from, target);
}

OperationResult TreeCopy::CopyFile(const std::string& from, const VolumeEntry& source,
                                   const std::string& to) {
  const std::string unreadable =
      "Cannot copy " + Name(from) + ": Cannot read from the source file or disk.";
  std::string target = Join(to, source.name);
  if (const std::optional<VolumeEntry> existing = FindEntry(to, source.name)) {
    target = Join(to, existing->name);
    if (existing->IsDirectory() && !IsHostLink(machine_, target)) {
      throw FileOperationError("Cannot create or replace " + Name(target) +
                               ": A folder with the name you specified already exists.");
    }
    if (Where(from) == Where(target)) {
      throw FileOperationError("Cannot copy " + Name(from) +
                               ": The source and destination file names are the same.");
    }
    if (!replaceAllFiles_) {
      const ReplaceAnswer answer =
          prompter_.ConfirmReplace({false, Name(target), Facts(*existing), Facts(source)});
      if (answer == ReplaceAnswer::Cancel) return OperationResult::Cancelled;
      if (answer == ReplaceAnswer::No) return Advance(source.size + 1);
      replaceAllFiles_ = answer == ReplaceAnswer::YesToAll;
    }
  }

  prompter_.Copying(Shown(from), Shown(to));
  std::vector<uint8_t> bytes;
  try {
    bytes = machine_.ReadFile(from, kMaxFileSize);
  } catch (const FileReadError&) {
    throw FileOperationError(unreadable);
  }
  if (Advance(bytes.size()) == OperationResult::Cancelled) return OperationResult::Cancelled;
  // The whole copy is written at once, replacing a link in its place, never writing through it: a
  // link may lead off the drive.
  try {
    machine_.WriteFile(target, bytes);
  } catch (const FileWriteError& e) {
    throw FileOperationError("Cannot copy " + Name(from) + ": " + e.what());
  }
  KeepWriteTime(from, source, target);
  return Advance(1);
}

void TreeCopy::KeepWriteTime(const std::string& from, const VolumeEntry& source,
                             const std::string& path) const {
  if (machine_.LookUp(path, false).status != PathStatus::Found) return;  // an image's own time
  timespec written{source.written, 0};
  const PathLookup host = machine_.LookUp(from);
  struct stat info {};
  if (host.status == PathStatus::Found && ::stat(host.host.c_str(), &info) == 0) {
    written = info.st_mtim;
  }
  try {
    const HeldPath held = machine_.Hold(path);
    const timespec times[2] = {{0, UTIME_OMIT}, written};
    if (held.dir.Valid()) {
      ::utimensat(held.dir.Get(), held.name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
  } catch (const MachineError&) {
    // The file was written; only its time is the copy's own.
  }
}

OperationResult TreeCopy::Advance(uint64_t units) {
  doneUnits_ = std::min(doneUnits_ + units, totalUnits_);
  prompter_.Progress(doneUnits_, totalUnits_);
  return prompter_.Cancelled() ? OperationResult::Cancelled : OperationResult::Done;
}

}  // namespace tarnwick
