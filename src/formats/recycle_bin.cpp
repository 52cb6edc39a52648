#include "formats/recycle_bin.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/byte_reader.h"
#include "base/bytes.h"
#include "base/cp1252.h"
#include "base/file_io.h"
#include "base/text.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

constexpr size_t kLiveCountOffset = 4;
constexpr size_t kNextIndexOffset = 8;
constexpr size_t kRecordSizeOffset = 12;
constexpr size_t kTotalSizeOffset = 16;
constexpr size_t kPathField = 260;
constexpr size_t kIndexOffset = 0x104;
constexpr size_t kDriveOffset = 0x108;
constexpr size_t kTimeOffset = 0x10C;
constexpr size_t kSizeOffset = 0x114;
constexpr size_t kUnicodeOffset = 0x118;
constexpr uint32_t kNetworkHomeDrive = 26;
// A FAT folder holds at most 65,536 entries, so no bin has more records.
constexpr size_t kMaxIndexSize = kInfoHeaderSize + 65536 * size_t{kAnsiRecordSize};
constexpr std::string_view kDesktopIni =
    "[.ShellClassInfo]\r\nCLSID={645FF040-5081-101B-9F08-00AA002F954E}\r\n";

std::string Hex(size_t value) {
  char buffer[20];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, 16).ptr;
  return "0x" + std::string(buffer, end);
}

RecycleRecord ParseRecord(const ByteReader& record, RecycleIndex& index) {
  RecycleRecord result;
  result.index = record.U32At(kIndexOffset);
  result.drive = record.U32At(kDriveOffset);
  result.deletionTime = record.U64At(kTimeOffset);
  result.size = record.U32At(kSizeOffset);
  const auto where = [&] { return "record at " + Hex(record.Origin()); };
  if (result.drive > kNetworkHomeDrive) {
    index.damage.push_back(where() + ": drive number " + std::to_string(result.drive) +
                           " is out of range");
  }

  const auto field = record.BytesAt(0, kPathField);
  result.gone = field[0] == 0;
  const auto begin = field.begin() + (result.gone ? 1 : 0);
  const auto end = std::find(begin, field.end(), uint8_t{0});
  if (end == field.end()) index.damage.push_back(where() + ": the path has no end");
  if (result.gone && result.drive < kNetworkHomeDrive) {
    result.path.push_back(static_cast<char>('A' + result.drive));
  }
  result.path.append(begin, end);

  if (record.Size() == kUnicodeRecordSize) {
    for (size_t at = kUnicodeOffset; record.Has(at, 2); at += 2) {
      const auto unit = static_cast<char16_t>(record.U16At(at));
      if (unit == 0) break;
      result.unicodePath.push_back(unit);
    }
  }
  return result;
}

// The bytes of an index file; nothing when there is none.
std::optional<std::vector<uint8_t>> ReadBytes(const Machine& machine, std::string_view file) {
  if (!machine.Stat(file)) return std::nullopt;
  try {
    return machine.ReadFile(file, kMaxIndexSize);
  } catch (const FileReadError& e) {
    throw RecycleBinError(e.what());
  }
}

// The entry of a directory that a name means: the same name, else one differing in ASCII letter
// case, else the one with that 8.3 alias.
const VolumeEntry* FindEntry(const std::vector<VolumeEntry>& entries, std::string_view name) {
  for (const VolumeEntry& entry : entries) {
    if (entry.name == name) return &entry;
  }
  for (const VolumeEntry& entry : entries) {
    if (EqualsIgnoreCase(entry.name, name)) return &entry;
  }
  for (const VolumeEntry& entry : entries) {
    if (!entry.shortName.empty() && EqualsIgnoreCase(entry.shortName, name)) return &entry;
  }
  return nullptr;
}

// The child of a directory matched without regard to case, else dir\name.
std::string FindChild(const Machine& machine, const std::string& dir, std::string_view name) {
  const std::vector<VolumeEntry> entries = machine.List(dir + "\\");
  const VolumeEntry* entry = FindEntry(entries, name);
  return dir + "\\" + (entry != nullptr ? entry->name : std::string(name));
}

std::string Shown(std::string_view windowsPath) {
  return Cp1252ToUtf8(windowsPath);
}

struct PlannedFile {
  std::string windowsPath;
  uint64_t bytes = 0;
};

// Files in the order they are recycled and directories children first.
struct Plan {
  std::vector<PlannedFile> files;
  std::vector<std::string> directories;
};

void PlanItem(const Machine& machine, const std::string& windowsPath, Plan& plan) {
  const std::optional<VolumeEntry> entry = machine.Stat(windowsPath);
  if (!entry) throw RecycleBinError("Cannot delete " + Shown(windowsPath) + ": it was not found.");
  // Also bounds the depth of the walk through directories.
  if (windowsPath.size() > kMaxRecycledPath) {
    throw RecycleBinError("Cannot delete " + Shown(windowsPath) +
                          ": the path is too long for the Recycle Bin.");
  }
  if (!entry->IsDirectory()) {
    plan.files.push_back({windowsPath, entry->size});
    return;
  }
  // Every entry must be moved before the folder can go.
  if (!machine.ListsAll(windowsPath)) {
    throw RecycleBinError("Cannot delete " + Shown(windowsPath) +
                          ": it cannot be read, or it holds an entry whose name cannot be written "
                          "in code page 1252 or that is neither file nor folder.");
  }
  std::vector<VolumeEntry> children = machine.List(windowsPath);
  std::sort(children.begin(), children.end(), [](const VolumeEntry& a, const VolumeEntry& b) {
    return UpperAscii(a.name) < UpperAscii(b.name);
  });
  for (const VolumeEntry& child : children) {
    PlanItem(machine, windowsPath + "\\" + child.name, plan);
  }
  plan.directories.push_back(windowsPath);
}

// One above the highest number among the bin's D<letter><n> names.
uint32_t IndexAfterDFiles(const std::vector<VolumeEntry>& bin) {
  uint32_t next = 0;
  for (const VolumeEntry& entry : bin) {
    const std::string& name = entry.name;
    if (name.size() < 3 || UpperAscii(name[0]) != 'D') continue;
    const char letter = UpperAscii(name[1]);
    if (letter < 'A' || letter > 'Z') continue;
    uint32_t number = 0;
    const auto [ptr, error] = std::from_chars(name.data() + 2, name.data() + name.size(), number);
    if (error == std::errc() && ptr != name.data() + 2 && number < UINT32_MAX) {
      next = std::max(next, number + 1);
    }
  }
  return next;
}

// The index as the next append will write it, with counters computed from its records.
struct PendingIndex {
  std::vector<uint8_t> bytes;
  uint32_t live = 0;
  uint32_t next = 0;
  uint64_t total = 0;
};

// Creates the bin folder and its desktop.ini where missing and reads its index. Refuses an index
// that is damaged or not Windows 95's, so that it is never overwritten.
PendingIndex PrepareBin(const Machine& machine, const std::string& bin,
                        const std::string& infoFile) {
  const std::optional<VolumeEntry> folder = machine.Stat(bin);
  if (!folder) {
    try {
      machine.MakeDirectory(bin);
      machine.AddAttributes(bin, file_attr::kHidden | file_attr::kSystem);
    } catch (const FileWriteError& e) {
      throw RecycleBinError("Cannot create the Recycle Bin folder " + Shown(bin) + ": " + e.what() +
                            ". Nothing was deleted.");
    }
  } else if (!folder->IsDirectory()) {
    throw RecycleBinError("The Recycle Bin " + Shown(bin) +
                          " is not a folder. Nothing was deleted.");
  }
  PendingIndex pending;
  pending.next = IndexAfterDFiles(machine.List(bin));
  try {
    const std::string desktopIni = FindChild(machine, bin, "desktop.ini");
    if (!machine.Stat(desktopIni)) {
      machine.WriteFile(desktopIni, std::span(reinterpret_cast<const uint8_t*>(kDesktopIni.data()),
                                              kDesktopIni.size()));
      machine.AddAttributes(desktopIni, file_attr::kHidden);
    }
    if (auto existing = ReadBytes(machine, infoFile)) {
      const RecycleIndex index = ParseRecycleIndex(*existing);
      if (!index.damage.empty()) throw RecycleBinError("it is damaged: " + index.damage.front());
      if (index.version != 0 || index.recordSize != kAnsiRecordSize) {
        throw RecycleBinError("it is not a Windows 95 index (version " +
                              std::to_string(index.version) + ")");
      }
      pending.bytes = std::move(*existing);
      pending.live = static_cast<uint32_t>(index.records.size());
      pending.next = std::max(pending.next, index.nextIndex);
      for (const RecycleRecord& record : index.records) {
        if (record.index < UINT32_MAX) pending.next = std::max(pending.next, record.index + 1);
        pending.total += record.size;
      }
    } else {
      pending.bytes.assign(kInfoHeaderSize, 0);
      Put32(pending.bytes, kRecordSizeOffset, kAnsiRecordSize);
    }
  } catch (const FileWriteError& e) {
    throw RecycleBinError(std::string("Cannot prepare the Recycle Bin: ") + e.what() +
                          ". Nothing was deleted.");
  } catch (const RecycleBinError& e) {
    throw RecycleBinError("The Recycle Bin index " + Shown(infoFile) +
                          " cannot be used: " + e.what() + ". Nothing was deleted.");
  }
  return pending;
}

std::string MovedSoFar(size_t moved, size_t total) {
  if (moved == 0) return " Nothing was moved to the Recycle Bin.";
  return " " + std::to_string(moved) + " of " + std::to_string(total) +
         " files were moved to the Recycle Bin; the others are still in place.";
}

}  // namespace

RecycleIndex ParseRecycleIndex(std::span<const uint8_t> bytes) {
  if (bytes.size() < kInfoHeaderSize) {
    throw RecycleBinError("not a recycle bin index: " + std::to_string(bytes.size()) +
                          " bytes are shorter than the header");
  }
  ByteReader file(bytes);
  RecycleIndex index;
  index.version = file.U32At(0);
  index.liveCount = file.U32At(kLiveCountOffset);
  index.nextIndex = file.U32At(kNextIndexOffset);
  index.recordSize = file.U32At(kRecordSizeOffset);
  index.totalSize = file.U32At(kTotalSizeOffset);
  const uint32_t v = index.version;
  const bool known = (index.recordSize == kAnsiRecordSize && (v == 0 || v == 4 || v == 5)) ||
                     (index.recordSize == kUnicodeRecordSize && (v == 2 || v == 5));
  if (!known) {
    throw RecycleBinError("not a recycle bin index: version " + std::to_string(v) +
                          " with records of " + std::to_string(index.recordSize) + " bytes");
  }
  const size_t body = bytes.size() - kInfoHeaderSize;
  const size_t count = body / index.recordSize;
  if (const size_t rest = body % index.recordSize; rest != 0) {
    index.damage.push_back("the last record is incomplete (" + std::to_string(rest) + " bytes)");
  }
  index.records.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t offset = kInfoHeaderSize + i * index.recordSize;
    index.records.push_back(ParseRecord(file.Sub(offset, index.recordSize), index));
  }
  return index;
}

RecycleIndex ReadRecycleIndex(const Machine& machine, std::string_view windowsPath) {
  const auto bytes = ReadBytes(machine, windowsPath);
  if (!bytes) return {};
  try {
    return ParseRecycleIndex(*bytes);
  } catch (const RecycleBinError& e) {
    throw RecycleBinError(Shown(windowsPath) + ": " + e.what());
  }
}

RecycleBin::RecycleBin(const Machine& machine, char driveLetter)
    : machine_(machine), letter_(UpperAscii(driveLetter)) {}

std::string RecycleBin::Folder() const {
  return FindChild(machine_, std::string{letter_, ':'}, "RECYCLED");
}

std::string RecycleBin::IndexFile() const {
  return FindChild(machine_, Folder(), "INFO");
}

void RecycleBin::Recycle(std::string_view item, uint64_t deletionTime) {
  VolumeLocation location;
  const PathStatus status = machine_.Locate(item, location);
  if (status != PathStatus::Found || location.drive->letter != letter_) {
    throw RecycleBinError("Cannot delete " + Shown(item) + ": it is not on drive " +
                          std::string(1, letter_) + ":.");
  }
  if (location.path.empty()) throw RecycleBinError("Cannot delete the root of a drive.");
  // The names as the drive keeps them, whatever the case or alias the caller gave.
  std::string windowsPath{letter_, ':'};
  std::string top;
  for (const std::string& part : location.path) {
    const std::vector<VolumeEntry> entries = machine_.List(windowsPath + "\\");
    const VolumeEntry* entry = FindEntry(entries, part);
    const std::string name = entry != nullptr ? entry->name : part;
    if (top.empty()) top = name;
    windowsPath += "\\" + name;
  }
  if (EqualsIgnoreCase(top, "RECYCLED")) {
    throw RecycleBinError("Cannot delete " + Shown(windowsPath) + ": it is in the Recycle Bin.");
  }

  Plan plan;
  PlanItem(machine_, windowsPath, plan);

  if (!plan.files.empty()) {
    const std::string bin = Folder();
    const std::string infoFile = FindChild(machine_, bin, "INFO");
    PendingIndex pending = PrepareBin(machine_, bin, infoFile);

    uint64_t cluster = 0;
    try {
      cluster = machine_.ClusterSize(bin);
    } catch (const FileReadError& e) {
      throw RecycleBinError(e.what());
    }
    const uint32_t drive = static_cast<uint32_t>(letter_ - 'A');
    std::vector<std::string> moved;  // the D-files of plan.files, in order
    std::string failure;
    for (const PlannedFile& file : plan.files) {
      const std::string name = ExtractFileName(file.windowsPath);
      const size_t dot = name.rfind('.');
      const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
      const auto dname = [&] {
        return bin + "\\D" + std::string(1, static_cast<char>(letter_ - 'A' + 'a')) +
               std::to_string(pending.next) + extension;
      };
      std::string dfile = dname();
      try {
        while (!machine_.Move(file.windowsPath, dfile)) {
          if (pending.next == UINT32_MAX) throw FileWriteError("no free name in the Recycle Bin");
          ++pending.next;
          dfile = dname();
        }
      } catch (const FileWriteError& e) {
        failure = "Cannot delete " + Shown(file.windowsPath) + ": " + e.what() + ".";
        break;
      }
      const uint64_t size =
          std::min<uint64_t>((file.bytes + cluster - 1) / cluster * cluster, UINT32_MAX);
      const size_t at = pending.bytes.size();
      pending.bytes.resize(at + kAnsiRecordSize, 0);
      std::copy(file.windowsPath.begin(), file.windowsPath.end(), pending.bytes.begin() + at);
      Put32(pending.bytes, at + kIndexOffset, pending.next);
      Put32(pending.bytes, at + kDriveOffset, drive);
      Put64(pending.bytes, at + kTimeOffset, deletionTime);
      Put32(pending.bytes, at + kSizeOffset, static_cast<uint32_t>(size));
      moved.push_back(dfile);
      ++pending.live;
      ++pending.next;
      pending.total += size;
    }
    // One write of the index for the whole operation, the files moved so far included.
    if (!moved.empty()) {
      Put32(pending.bytes, kLiveCountOffset, pending.live);
      Put32(pending.bytes, kNextIndexOffset, pending.next);
      Put32(pending.bytes, kTotalSizeOffset, static_cast<uint32_t>(pending.total));
      try {
        // The shell's own index: kept up to date whatever its attributes.
        machine_.WriteFile(infoFile, pending.bytes, ReadOnlyFiles::Replace);
      } catch (const std::exception& e) {
        // Without their records the files go back where they were.
        std::string stranded;
        for (size_t i = moved.size(); i-- > 0;) {
          bool back = false;
          try {
            back = machine_.Move(moved[i], plan.files[i].windowsPath);
          } catch (const FileWriteError&) {
            // Named below.
          }
          if (!back) stranded += " " + Shown(ExtractFileName(moved[i]));
        }
        const std::string what = "Cannot delete " + Shown(windowsPath) +
                                 ": the Recycle Bin index could not be written (" + e.what() + ")";
        if (stranded.empty())
          throw RecycleBinError(what + ". Nothing was moved to the Recycle Bin.");
        throw RecycleBinError(what +
                              ", and these files stay in the Recycle Bin folder without an " +
                              "entry; rename them back by hand:" + stranded + ".");
      }
      try {
        machine_.AddAttributes(infoFile, file_attr::kHidden);
      } catch (const FileWriteError&) {
        // The index is written; the attribute only tells Explorer to hide it.
      }
    }
    if (!failure.empty())
      throw RecycleBinError(failure + MovedSoFar(moved.size(), plan.files.size()));
  }

  for (const std::string& directory : plan.directories) {
    try {
      machine_.RemoveDirectory(directory);
    } catch (const FileWriteError& e) {
      throw RecycleBinError("The files of " + Shown(windowsPath) +
                            " were moved to the Recycle Bin, but the folder " + Shown(directory) +
                            " could not be removed: " + e.what() + ".");
    }
  }
}

}  // namespace tarnwick
