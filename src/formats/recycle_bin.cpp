#include "formats/recycle_bin.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>
#include <system_error>

#include "base/byte_reader.h"
#include "base/bytes.h"
#include "base/file_io.h"
#include "machine/atomic_file.h"
#include "base/cp1252.h"
#include "machine/host_dir.h"
#include "machine/win_path.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

constexpr uint32_t kHostClusterSize = 4096;
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
std::optional<std::vector<uint8_t>> ReadBytes(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) return std::nullopt;
  try {
    return ReadWholeFile(file, kMaxIndexSize);
  } catch (const FileReadError& e) {
    throw RecycleBinError(e.what());
  }
}

// A child of dir whose name matches without regard to ASCII case, else dir / name.
fs::path FindChild(const fs::path& dir, std::string_view name) {
  return dir / FindEntryIgnoringCase(dir, name).value_or(std::string(name));
}

// FAT attributes exist only where the drive is a vfat mount. They only tell Explorer how to show
// the folder, so a refusal by the file system is not an error.
void AddFatAttributes(const fs::path& path, uint32_t attributes) {
  struct statfs info {};
  if (statfs(path.c_str(), &info) != 0 || info.f_type != MSDOS_SUPER_MAGIC) return;
  const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  uint32_t current = 0;
  if (!file.Valid() || ioctl(file.Get(), FAT_IOCTL_GET_ATTRIBUTES, &current) != 0) return;
  current |= attributes;
  ioctl(file.Get(), FAT_IOCTL_SET_ATTRIBUTES, &current);
}

// Renames a file unless `to` exists (EEXIST then): 0 or an errno value. Where the file system
// cannot rename so (EINVAL, as NFS), a hard link, which never replaces either, then the unlink of
// the old name.
int MoveNoReplace(const fs::path& from, const fs::path& to) {
  // Both folders are opened without following a link, so a link swapped in cannot redirect it.
  const HeldPath source = HoldParentNoFollow(from);
  const HeldPath target = HoldParentNoFollow(to);
  if (!source.dir.Valid()) return source.error;
  if (!target.dir.Valid()) return target.error;
  const int fromDir = source.dir.Get();
  const int toDir = target.dir.Get();
  const char* fromName = source.name.c_str();
  const char* toName = target.name.c_str();
  if (renameat2(fromDir, fromName, toDir, toName, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  if (linkat(fromDir, fromName, toDir, toName, 0) != 0) return errno;
  if (unlinkat(fromDir, fromName, 0) != 0) {
    const int error = errno;
    unlinkat(toDir, toName, 0);
    return error;
  }
  return 0;
}

// Removes an empty folder in its parent, opened as MoveNoReplace opens it: 0 or errno.
int RemoveEmptyFolder(const fs::path& folder) {
  const HeldPath held = HoldParentNoFollow(folder);
  if (!held.dir.Valid()) return held.error;
  return unlinkat(held.dir.Get(), held.name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

struct PlannedFile {
  fs::path host;
  std::string windowsPath;
  uint64_t bytes = 0;
};

struct PlannedDirectory {
  fs::path host;
  std::string windowsPath;
};

// Files in the order they are recycled and directories children first.
struct Plan {
  std::vector<PlannedFile> files;
  std::vector<PlannedDirectory> directories;
};

std::string Shown(const std::string& windowsPath) {
  return Cp1252ToUtf8(windowsPath);
}

void PlanItem(const fs::path& host, const std::string& windowsPath, Plan& plan) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(host, ec);
  if (ec) throw RecycleBinError("Cannot delete " + Shown(windowsPath) + ": " + ec.message() + ".");
  // Also bounds the depth of the walk through directories.
  if (windowsPath.size() > kMaxRecycledPath) {
    throw RecycleBinError("Cannot delete " + Shown(windowsPath) +
                          ": the path is too long for the Recycle Bin.");
  }
  if (!fs::is_directory(status)) {
    const uint64_t bytes = fs::is_regular_file(status) ? fs::file_size(host, ec) : 0;
    plan.files.push_back({host, windowsPath, ec ? 0 : bytes});
    return;
  }
  std::vector<fs::path> children;
  for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
    children.push_back(it->path());
  }
  if (ec) throw RecycleBinError("Cannot read " + Shown(windowsPath) + ": " + ec.message() + ".");
  std::sort(children.begin(), children.end(), [](const fs::path& a, const fs::path& b) {
    return UpperAscii(a.filename().string()) < UpperAscii(b.filename().string());
  });
  for (const fs::path& child : children) {
    const auto name = Utf8ToCp1252(child.filename().string());
    if (!name) {
      throw RecycleBinError("Cannot delete " + Shown(windowsPath) + ": the name " +
                            child.filename().string() + " cannot be written in code page 1252.");
    }
    PlanItem(child, windowsPath + "\\" + *name, plan);
  }
  plan.directories.push_back({host, windowsPath});
}

// One above the highest number among the bin's D<letter><n> names.
uint32_t IndexAfterDFiles(const fs::path& bin) {
  uint32_t next = 0;
  std::error_code ec;
  for (fs::directory_iterator it(bin, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
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
PendingIndex PrepareBin(const fs::path& bin, const fs::path& infoFile) {
  std::error_code ec;
  const fs::file_status binStatus = fs::symlink_status(bin, ec);
  if (!fs::exists(binStatus)) {
    if (!fs::create_directory(bin, ec)) {
      throw RecycleBinError("Cannot create the Recycle Bin folder " + bin.string() + ": " +
                            ec.message() + ". Nothing was deleted.");
    }
    AddFatAttributes(bin, ATTR_HIDDEN | ATTR_SYS);
  } else if (!fs::is_directory(binStatus)) {
    throw RecycleBinError("The Recycle Bin " + bin.string() +
                          " is not a folder. Nothing was deleted.");
  }
  PendingIndex pending;
  pending.next = IndexAfterDFiles(bin);
  try {
    const fs::path desktopIni = FindChild(bin, "desktop.ini");
    if (!fs::exists(fs::symlink_status(desktopIni, ec))) {
      WriteFileAtomically(
          desktopIni,
          std::span(reinterpret_cast<const uint8_t*>(kDesktopIni.data()), kDesktopIni.size()));
      AddFatAttributes(desktopIni, ATTR_HIDDEN);
    }
    if (auto existing = ReadBytes(infoFile)) {
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
    throw RecycleBinError("The Recycle Bin index " + infoFile.string() +
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

RecycleIndex ReadRecycleIndex(const fs::path& file) {
  const auto bytes = ReadBytes(file);
  if (!bytes) return {};
  try {
    return ParseRecycleIndex(*bytes);
  } catch (const RecycleBinError& e) {
    throw RecycleBinError(file.string() + ": " + e.what());
  }
}

uint32_t ClusterSizeOf(const fs::path& dir) {
  struct statfs info {};
  if (statfs(dir.c_str(), &info) == 0 && info.f_type == MSDOS_SUPER_MAGIC && info.f_bsize > 0) {
    return static_cast<uint32_t>(info.f_bsize);
  }
  return kHostClusterSize;
}

RecycleBin::RecycleBin(fs::path driveRoot, char driveLetter)
    : driveRoot_(std::move(driveRoot)), letter_(UpperAscii(driveLetter)) {}

fs::path RecycleBin::Folder() const {
  return FindChild(driveRoot_, "RECYCLED");
}

fs::path RecycleBin::IndexFile() const {
  return FindChild(Folder(), "INFO");
}

void RecycleBin::Recycle(const fs::path& item, uint64_t deletionTime) {
  std::error_code ec;
  const fs::path root = fs::canonical(driveRoot_, ec);
  if (ec) throw RecycleBinError("Drive " + std::string(1, letter_) + ": is not available.");
  fs::path normal = item.lexically_normal();
  if (normal.filename().empty()) normal = normal.parent_path();
  const fs::path parent = fs::canonical(normal.parent_path(), ec);
  const fs::path relative = (parent / normal.filename()).lexically_relative(root);
  if (ec || relative.empty() || *relative.begin() == "..") {
    throw RecycleBinError("Cannot delete " + item.string() + ": it is not on drive " +
                          std::string(1, letter_) + ":.");
  }
  if (relative == ".") throw RecycleBinError("Cannot delete the root of a drive.");
  std::string windowsPath = std::string(1, letter_) + ":";
  for (const fs::path& part : relative) {
    const auto name = Utf8ToCp1252(part.string());
    if (!name) {
      throw RecycleBinError("Cannot delete " + item.string() +
                            ": the name cannot be written in code page 1252.");
    }
    windowsPath += "\\" + *name;
  }
  if (EqualsIgnoreCase(relative.begin()->string(), "RECYCLED")) {
    throw RecycleBinError("Cannot delete " + Shown(windowsPath) + ": it is in the Recycle Bin.");
  }

  Plan plan;
  PlanItem(root / relative, windowsPath, plan);

  if (!plan.files.empty()) {
    const fs::path bin = Folder();
    const fs::path infoFile = FindChild(bin, "INFO");
    PendingIndex pending = PrepareBin(bin, infoFile);

    const uint64_t cluster = ClusterSizeOf(root);
    const uint32_t drive = static_cast<uint32_t>(letter_ - 'A');
    std::vector<fs::path> moved;  // the D-files of plan.files, in order
    std::string failure;
    for (const PlannedFile& file : plan.files) {
      const std::string name = file.host.filename().string();
      const size_t dot = name.rfind('.');
      const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
      const auto dname = [&] {
        return bin / ("D" + std::string(1, static_cast<char>(letter_ - 'A' + 'a')) +
                      std::to_string(pending.next) + extension);
      };
      fs::path dfile = dname();
      int error = 0;
      while ((error = MoveNoReplace(file.host, dfile)) == EEXIST && pending.next < UINT32_MAX) {
        ++pending.next;
        dfile = dname();
      }
      if (error != 0) {
        failure = "Cannot delete " + Shown(file.windowsPath) + ": " + ErrorText(error) + ".";
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
        WriteFileAtomically(infoFile, pending.bytes, ReadOnlyFiles::Replace);
      } catch (const std::exception& e) {
        // Without their records the files go back where they were.
        std::string stranded;
        for (size_t i = moved.size(); i-- > 0;) {
          if (MoveNoReplace(moved[i], plan.files[i].host) != 0) {
            stranded += " " + moved[i].filename().string();
          }
        }
        const std::string what = "Cannot delete " + Shown(windowsPath) +
                                 ": the Recycle Bin index could not be written (" + e.what() + ")";
        if (stranded.empty())
          throw RecycleBinError(what + ". Nothing was moved to the Recycle Bin.");
        throw RecycleBinError(what +
                              ", and these files stay in the Recycle Bin folder without an " +
                              "entry; rename them back by hand:" + stranded + ".");
      }
      AddFatAttributes(infoFile, ATTR_HIDDEN);
    }
    if (!failure.empty())
      throw RecycleBinError(failure + MovedSoFar(moved.size(), plan.files.size()));
  }

  for (const PlannedDirectory& directory : plan.directories) {
    if (const int error = RemoveEmptyFolder(directory.host); error != 0) {
      throw RecycleBinError(
          "The files of " + Shown(windowsPath) + " were moved to the Recycle Bin, but the folder " +
          Shown(directory.windowsPath) + " could not be removed: " + ErrorText(error) + ".");
    }
  }
}

}  // namespace tarnwick
