// Writing a new MBR partition table: one primary partition over the disk, laid out as DOS FDISK
// does on a disk of the BIOS's translated geometry.
#pragma once

#include <cstdint>

#include "volume/block_device.h"
#include "volume/partition.h"

namespace tarnwick {

// The cylinder, head and sector layout a BIOS with LBA-assisted translation gives a disk:
// 63 sectors a track and 16, 32, 64, 128 or 255 heads as the disk grows.
struct DiskGeometry {
  uint32_t heads = 16;
  uint32_t sectorsPerTrack = 63;
};
DiskGeometry TranslatedGeometry(uint64_t sectors);

// Writes a master boot record (no boot code) whose one partition, active and of `type`, starts
// on the second track and ends at the last whole cylinder, with CHS fields of the translated
// geometry (1023/last head/63 beyond cylinder 1023). Throws PartitionError when the disk holds
// fewer than two whole cylinders or more sectors than the table can address.
Partition WriteSinglePartitionTable(BlockDevice& disk, uint8_t type);

}  // namespace tarnwick
