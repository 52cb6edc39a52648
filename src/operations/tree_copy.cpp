#include "operations/tree_copy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/text.h"
#include "machine/atomic_file.h"
#include "machine/host_dir.h"
#include "operations/operation_prompter.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

constexpr size_t kChunk = 1 << 20;

std::string Name(const fs::path& path) {
  return path.filename().string();
}

std::vector<fs::path> SortedEntries(const fs::path& dir, std::error_code& ec) {
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
    return UpperAscii(a.filename().string()) < UpperAscii(b.filename().string());
  });
  return entries;
}

// The entry of dir that Windows takes for name.
std::optional<fs::path> FindEntry(const fs::path& dir, const fs::path& name) {
  const std::optional<std::string> entry = FindEntryIgnoringCase(dir, name.string());
  if (!entry) return std::nullopt;
  return dir / *entry;
}

// Progress units: every file's bytes plus one, so that empty files count too.
uint64_t UnitsBelow(const fs::path& dir) {
  uint64_t units = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) units += it->file_size(ec) + 1;
  }
  return units;
}

FileFacts Facts(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_size),
          std::chrono::sys_seconds(std::chrono::seconds(info.st_mtim.tv_sec))};
}

// The file a link leads to; nothing known of one that leads nowhere.
FileFacts Facts(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return {};
  return Facts(info);
}

}  // namespace

OperationResult TreeCopy::Run(const fs::path& source, const fs::path& destination) {
  std::error_code ec;
  destinationRoot_ = fs::weakly_canonical(destination, ec);
  if (fs::equivalent(source, destination, ec)) {
    // Copying the contents onto themselves would truncate every file.
    const std::vector<fs::path> entries = SortedEntries(source, ec);
    if (entries.empty()) return OperationResult::Done;
    throw FileOperationError("Cannot copy " + Name(entries.front()) +
                             ": The source and destination file names are the same.");
  }
  totalUnits_ = std::max<uint64_t>(UnitsBelow(source), 1);
  return CopyContents(source, destination);
}

OperationResult TreeCopy::CopyContents(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const std::vector<fs::path> entries = SortedEntries(from, ec);
  if (ec)
    throw FileOperationError("Cannot copy " + Name(from) + ": Cannot read from the source folder.");
  for (const fs::path& entry : entries) {
    if (prompter_.Cancelled()) return OperationResult::Cancelled;
    const fs::file_status status = fs::symlink_status(entry, ec);
    OperationResult result = OperationResult::Done;
    if (fs::is_directory(status)) {
      result = CopyFolder(entry, to);
    } else if (fs::is_regular_file(status)) {
      result = CopyFile(entry, to);
    }
    // Symbolic links and special files are nothing Windows can see; they are left out.
    if (result != OperationResult::Done) return result;
  }
  return OperationResult::Done;
}

OperationResult TreeCopy::CopyFolder(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (IsWithin(destinationRoot_, fs::weakly_canonical(from, ec))) {
    throw FileOperationError("Cannot copy " + Name(from) +
                             ": The destination folder is a subfolder of the source folder.");
  }
  fs::path target = to / from.filename();
  if (const auto existing = FindEntry(to, from.filename())) {
    target = *existing;
    if (!fs::is_directory(fs::symlink_status(target, ec))) {
      throw FileOperationError("Cannot create or replace " + Name(target) +
                               ": A file with the name you specified already exists.");
    }
    if (!mergeAllFolders_) {
      const ReplaceAnswer answer = prompter_.ConfirmReplace({true, Name(target), {}, {}});
      if (answer == ReplaceAnswer::Cancel) return OperationResult::Cancelled;
      if (answer == ReplaceAnswer::No) return Advance(UnitsBelow(from));
      mergeAllFolders_ = answer == ReplaceAnswer::YesToAll;
    }
  } else if (const int error = MakeDirectoryAt(HoldParentNoFollow(target)); error != 0) {
    // Made in the folder that was checked: a link swapped in meanwhile is refused.
    throw FileOperationError("Cannot create the folder " + Name(target) + ": " +
                             WalkErrorText(error) + ".");
  }
  return CopyContents(from, target);
}

OperationResult TreeCopy::CopyFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const std::string unreadable =
      "Cannot copy " + Name(from) + ": Cannot read from the source file or disk.";
  struct stat info {};
  if (::stat(from.c_str(), &info) != 0) throw FileOperationError(unreadable);
  const FileFacts source = Facts(info);
  fs::path target = to / from.filename();
  if (const auto existing = FindEntry(to, from.filename())) {
    target = *existing;
    if (fs::is_directory(fs::symlink_status(target, ec))) {
      throw FileOperationError("Cannot create or replace " + Name(target) +
                               ": A folder with the name you specified already exists.");
    }
    if (fs::equivalent(from, target, ec)) {
      throw FileOperationError("Cannot copy " + Name(from) +
                               ": The source and destination file names are the same.");
    }
    if (!replaceAllFiles_) {
      const ReplaceAnswer answer =
          prompter_.ConfirmReplace({false, Name(target), Facts(target), source});
      if (answer == ReplaceAnswer::Cancel) return OperationResult::Cancelled;
      if (answer == ReplaceAnswer::No) return Advance(source.size + 1);
      replaceAllFiles_ = answer == ReplaceAnswer::YesToAll;
    }
  }

  prompter_.Copying(from, to);
  std::ifstream in(from, std::ios::binary);
  if (!in) throw FileOperationError(unreadable);
  // The whole copy is written at once into the folder that was checked, replacing a link in its
  // place, never writing through it: a link may lead off the drive.
  std::vector<uint8_t> bytes;
  for (;;) {
    const size_t had = bytes.size();
    bytes.resize(had + kChunk);
    in.read(reinterpret_cast<char*>(bytes.data() + had), kChunk);
    bytes.resize(had + static_cast<size_t>(in.gcount()));
    if (in.gcount() == 0) break;
    if (Advance(static_cast<uint64_t>(in.gcount())) == OperationResult::Cancelled) {
      return OperationResult::Cancelled;
    }
  }
  if (in.bad()) throw FileOperationError(unreadable);
  const HeldPath held = HoldParentNoFollow(target);
  try {
    WriteFileAtomically(held, bytes);
  } catch (const FileWriteError& e) {
    throw FileOperationError("Cannot copy " + Name(from) + ": " + e.what());
  }
  // The copy keeps the source's write time, as the shell's copy does.
  const timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
  ::utimensat(held.dir.Get(), held.name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return Advance(1);
}

OperationResult TreeCopy::Advance(uint64_t units) {
  doneUnits_ = std::min(doneUnits_ + units, totalUnits_);
  prompter_.Progress(doneUnits_, totalUnits_);
  return prompter_.Cancelled() ? OperationResult::Cancelled : OperationResult::Done;
}

}  // namespace tarnwick
