// A FAT12, FAT16 or FAT32 volume with VFAT long names on a block device, read and written as
// Windows 95 does. Paths are relative to the volume's root, components separated by "\" (or
// "/"), each given by its long or short name in any letter case. Names are UTF-8; the machine's
// ANSI paths convert with machine/cp1252.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/win_time.h"
#include "fat/fat_error.h"
#include "fat/oem_code_page.h"
#include "volume/block_device.h"

namespace tarnwick {

enum class FatType { Fat12, Fat16, Fat32 };

namespace fat_attr {
constexpr uint8_t kReadOnly = 0x01;
constexpr uint8_t kHidden = 0x02;
constexpr uint8_t kSystem = 0x04;
constexpr uint8_t kVolumeLabel = 0x08;
constexpr uint8_t kDirectory = 0x10;
constexpr uint8_t kArchive = 0x20;
}  // namespace fat_attr

struct FatEntry {
  std::string longName;   // equals shortName when the entry has no long name
  std::string shortName;  // e.g. "PROGRA~1", as the OEM code page holds it
  uint8_t attributes = 0;
  uint32_t size = 0;
  uint32_t firstCluster = 0;
  DosDateTime created;
  uint16_t accessed = 0;  // a DOS date
  DosDateTime written;

  bool IsDirectory() const { return (attributes & fat_attr::kDirectory) != 0; }
};

class FatVolume {
 public:
  // Reads and checks the boot sector; throws FatDamagedError when it is not a FAT volume's. On a
  // writable device, mirrored FAT copies that a kill left behind the first are made equal to it.
  // name identifies the volume in messages (e.g. the image file and partition).
  FatVolume(BlockDevice& device, std::string name, OemCodePage codePage = OemCodePage());

  FatType Type() const { return type_; }
  uint32_t ClusterSize() const { return clusterSize_; }
  // Scans the FAT.
  uint64_t FreeBytes() const;
  // The label of the root directory's label entry, else the boot sector's; empty for none.
  std::string Label() const;
  uint32_t Serial() const { return serial_; }

  // The entries of a directory without "." and "..", in their on-disk order.
  std::vector<FatEntry> List(std::string_view directory) const;
  // Empty when the path does not exist; the root has no entry.
  std::optional<FatEntry> Stat(std::string_view path) const;
  // Hands the file's contents to sink piece by piece (at most one cluster each).
  void ReadFile(std::string_view path,
                const std::function<void(std::span<const uint8_t>)>& sink) const;

  // Creates or replaces a file (its new clusters, then its entry, then the old chain is freed).
  // A replaced file keeps its creation date, long name and attributes. attributes apply to a
  // new file; the archive flag is always set.
  void WriteFile(std::string_view path, std::span<const uint8_t> data, int64_t unixTime,
                 uint8_t attributes = 0);
  void MakeDirectory(std::string_view path, int64_t unixTime);
  // Removes a file or an empty directory.
  void Remove(std::string_view path);
  // Gives an entry a new name in the same directory.
  void Rename(std::string_view path, std::string_view newName);
  // Moves a file (not a directory) to a new path, in its directory or another; throws when the
  // new path exists. The new entry is written before the old one is deleted.
  void Move(std::string_view path, std::string_view newPath);
  void SetAttributes(std::string_view path, uint8_t attributes);

 private:
  struct Dir;
  struct Slot;
  struct Listing;
  struct Located;

  [[noreturn]] void Damaged(const std::string& what) const;
  void CheckWritable() const;
  // Copies the first FAT over the others where they differ only by entries free in one of them.
  void MirrorFats();

  uint8_t FatByte(uint64_t at) const;
  uint32_t FatEntryAt(uint32_t cluster) const;
  void SetFatEntry(uint32_t cluster, uint32_t value);
  bool IsEndOfChain(uint32_t value) const;
  uint32_t EndOfChain() const;
  // The clusters of a chain of at most maxClusters; throws FatDamagedError on a loop or a stray
  // entry.
  std::vector<uint32_t> Chain(uint32_t first, uint64_t maxClusters) const;
  // The length of a chain, checked as Chain but without holding it.
  uint64_t CheckChain(uint32_t first) const;
  void FreeChain(uint32_t first, uint64_t length);
  std::vector<uint32_t> Allocate(uint32_t count);
  void LinkChain(const std::vector<uint32_t>& clusters);
  void AdjustFsInfo(int64_t freeDelta, std::optional<uint32_t> nextFree);
  uint64_t ClusterOffset(uint32_t cluster) const;

  Dir LoadDir(uint32_t firstCluster) const;
  std::vector<Slot> ParseDir(const Dir& dir) const;
  // The directory read and parsed, from listings_ when it has not been written since.
  std::shared_ptr<const Listing> ListingOf(uint32_t firstCluster) const;
  Located Locate(std::string_view path) const;
  std::shared_ptr<const Listing> ListingAt(std::string_view path) const;
  void WriteSlot(const Dir& dir, size_t index, std::span<const uint8_t> bytes);
  // The slots of a new entry named leaf (long name, then its short entry with its alias).
  std::vector<uint8_t> NewEntryBytes(std::string_view leaf, const std::vector<Slot>& taken,
                                     std::array<uint8_t, 32> shortEntry) const;
  // Whether dir needs one more cluster for an entry of bytes; throws when it cannot grow.
  bool NeedsExtension(const Dir& dir, size_t bytes) const;
  void PlaceEntry(Dir& dir, std::span<const uint8_t> entry, std::optional<uint32_t> extension);
  void DeleteEntry(const Dir& dir, const Slot& slot);
  std::array<uint8_t, 11> MakeShortName(std::string_view longName,
                                        const std::vector<Slot>& existing) const;
  std::string DecodeShortName(std::span<const uint8_t> raw) const;

  BlockDevice& device_;
  std::string name_;
  OemCodePage codePage_;
  FatType type_ = FatType::Fat16;
  uint32_t bytesPerSector_ = 0;
  uint32_t clusterSize_ = 0;
  uint32_t fatCount_ = 0;
  uint32_t activeFat_ = 0;  // the copy read
  bool mirrored_ = true;    // every copy written
  uint64_t fatOffset_ = 0;  // of the first copy
  uint64_t fatBytes_ = 0;   // of one copy
  uint64_t rootOffset_ = 0;
  uint32_t rootEntries_ = 0;  // FAT12/16
  uint32_t rootCluster_ = 0;  // FAT32
  uint64_t dataOffset_ = 0;
  uint32_t clusterCount_ = 0;
  uint64_t fsInfoOffset_ = 0;  // 0: none
  uint32_t nextFreeHint_ = 2;
  uint32_t serial_ = 0;
  std::array<uint8_t, 11> bootLabel_{};
  // One block of the first FAT copy, so that scans do not read entry by entry.
  mutable std::vector<uint8_t> fatBlock_;
  mutable uint64_t fatBlockOffset_ = UINT64_MAX;
  mutable bool damaged_ = false;
  // Directories by first cluster (0: the root), dropped when the volume writes them or reuses
  // their clusters: look-ups of deep paths in big folders read each folder once.
  mutable std::unordered_map<uint32_t, std::shared_ptr<const Listing>> listings_;
};

}  // namespace tarnwick
