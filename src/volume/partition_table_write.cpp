#include "volume/partition_table_write.h"

#include <array>

#include "base/bytes.h"

namespace tarnwick {

namespace {

constexpr uint64_t kSector = 512;
constexpr size_t kFirstEntry = 446;

// The three CHS bytes of an entry: head, sector with the cylinder's high bits, cylinder.
void PutChs(std::span<uint8_t> entry, size_t at, uint64_t lba, const DiskGeometry& geometry) {
  const uint64_t track = lba / geometry.sectorsPerTrack;
  uint64_t cylinder = track / geometry.heads;
  uint64_t head = track % geometry.heads;
  uint64_t sector = lba % geometry.sectorsPerTrack + 1;
  if (cylinder > 1023) {
    cylinder = 1023;
    head = geometry.heads - 1;
    sector = geometry.sectorsPerTrack;
  }
  entry[at] = static_cast<uint8_t>(head);
  entry[at + 1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0));
  entry[at + 2] = static_cast<uint8_t>(cylinder);
}

}  // namespace

DiskGeometry TranslatedGeometry(uint64_t sectors) {
  constexpr uint64_t kMiB = 1024 * 1024 / kSector;
  DiskGeometry geometry;
  if (sectors > 4032 * kMiB) {
    geometry.heads = 255;
  } else if (sectors > 2016 * kMiB) {
    geometry.heads = 128;
  } else if (sectors > 1008 * kMiB) {
    geometry.heads = 64;
  } else if (sectors > 504 * kMiB) {
    geometry.heads = 32;
  }
  return geometry;
}

Partition WriteSinglePartitionTable(BlockDevice& disk, uint8_t type) {
  const uint64_t sectors = disk.Size() / kSector;
  const DiskGeometry geometry = TranslatedGeometry(sectors);
  const uint64_t cylinder = uint64_t{geometry.heads} * geometry.sectorsPerTrack;
  const uint64_t cylinders = sectors / cylinder;
  if (cylinders < 2) throw PartitionError("The disk is too small for a partition");
  const uint64_t start = geometry.sectorsPerTrack;
  const uint64_t end = cylinders * cylinder;  // one past the last sector
  if (end > UINT32_MAX) throw PartitionError("The disk is too large for an MBR partition table");

  std::array<uint8_t, kSector> mbr{};
  const std::span<uint8_t> entry = std::span(mbr).subspan(kFirstEntry, 16);
  entry[0] = 0x80;
  PutChs(entry, 1, start, geometry);
  entry[4] = type;
  PutChs(entry, 5, end - 1, geometry);
  Put32(entry, 8, static_cast<uint32_t>(start));
  Put32(entry, 12, static_cast<uint32_t>(end - start));
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  disk.Write(0, mbr);
  return {1, type, start * kSector, (end - start) * kSector};
}

}  // namespace tarnwick
