// The Windows 95 Recycle Bin of one drive: the RECYCLED folder, its D-files and its INFO index.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/win_time.h"

namespace tarnwick {

class Machine;

class RecycleBinError : public Error {
 public:
  using Error::Error;
};

inline constexpr uint32_t kInfoHeaderSize = 20;
inline constexpr uint32_t kAnsiRecordSize = 280;
inline constexpr uint32_t kUnicodeRecordSize = 800;
inline constexpr size_t kMaxRecycledPath = 259;  // ANSI bytes; the field holds a NUL as well

struct RecycleRecord {
  std::string path;            // original path, ANSI; a gone entry's drive letter is put back
  uint32_t index = 0;          // the number in the D-name
  uint32_t drive = 0;          // 0 = A ... 25 = Z, 26 = network home drive
  uint64_t deletionTime = 0;   // FILETIME, UTC
  uint32_t size = 0;           // space on disk: rounded up to the cluster size
  bool gone = false;           // restored or purged, its first path byte cleared
  std::u16string unicodePath;  // 800-byte records only
};

struct RecycleIndex {
  uint32_t version = 0;  // 0: Windows 95 INFO; 4, 5: INFO2; 2: Windows NT 4
  uint32_t recordSize = kAnsiRecordSize;
  // Header counters as stored; meaningful for versions 0 and 2 only.
  uint32_t liveCount = 0;
  uint32_t nextIndex = 0;
  uint32_t totalSize = 0;
  std::vector<RecycleRecord> records;  // complete records in file order, gone ones included
  std::vector<std::string> damage;     // what is wrong with the file; empty when it is sound
};

// Parses index bytes with bounds checks; damage inside records is listed, never fatal. Throws
// RecycleBinError when the bytes are no recycle bin index at all.
RecycleIndex ParseRecycleIndex(std::span<const uint8_t> bytes);
// Reads an index file by Windows path; a missing file is an empty Windows 95 bin. Throws
// RecycleBinError naming the file.
RecycleIndex ReadRecycleIndex(const Machine& machine, std::string_view windowsPath);

// The bin of one fixed drive of the machine as Windows 95 without the IE4 shell keeps it: every
// file deleted becomes RECYCLED\D<letter><index><extension> with one 280-byte record appended to
// INFO. The record's size is counted in the drive's clusters. Hidden and System attributes are set
// where the drive keeps them (a FAT volume in an image, a vfat mount); a plain host directory
// cannot hold them, and Windows finds the bin by its name and desktop.ini there.
class RecycleBin {
 public:
  RecycleBin(const Machine& machine, char driveLetter);

  // The Windows path of the existing bin folder (matched without regard to case), or where it
  // will be created.
  std::string Folder() const;
  // The folder's existing INFO (any case), or where it will be created.
  std::string IndexFile() const;

  // Moves a file, or every file of a directory tree one by one, into the bin, each with its own
  // record, then removes the emptied directories. A file is never moved over another: a D-name
  // that exists, even one made while the bin is in use, is passed over for the next. Each move is
  // followed by an atomic rewrite of the index, so every file is either in place or in the bin with
  // its record. Throws RecycleBinError telling what was moved and what is still in place.
  void Recycle(std::string_view windowsPath, uint64_t deletionTime = FileTimeNow());

 private:
  const Machine& machine_;
  char letter_;
};

}  // namespace tarnwick
