// Making a new FAT16 volume as Windows 95's FORMAT does.
#pragma once

#include <cstdint>
#include <string>

#include "volume/block_device.h"

namespace tarnwick {

struct Fat16Layout {
  uint32_t sectorsPerCluster = 0;
  uint32_t fatSectors = 0;  // of one copy
  uint32_t clusters = 0;
};

// The layout FORMAT chooses for a volume of `sectors` 512-byte sectors: 2 KB clusters up to
// 128 MB, doubling with each doubling of the size up to 32 KB at 2 GB; one reserved sector, two
// FATs, a root of 512 entries. Throws FatError when FAT16 cannot hold the volume (under 16 MB or
// over 2 GB).
Fat16Layout ChooseFat16Layout(uint64_t sectors);

// The serial number DOS gives a volume formatted at a time: the date and time words summed,
// e.g. "2A1B-07C4" is 0x2A1B07C4.
uint32_t VolumeSerialAt(int64_t unixTime);

struct Fat16FormatOptions {
  std::string label;  // at most 11 characters of the OEM code page, upper case; empty: none
  uint32_t serial = 0;
  int64_t unixTime = 0;        // of the label's directory entry
  uint32_t hiddenSectors = 0;  // the partition's first sector on its disk
  uint16_t heads = 255;        // the disk's translated geometry
  uint16_t sectorsPerTrack = 63;
};

// Formats the whole device: the boot sector (BPB, extended BPB with serial and label, code that
// says the disk is not bootable), both FATs with the media byte 0xF8, an empty root holding only
// the label. The data area is left as it is. Throws FatError for a size FAT16 cannot hold,
// BlockDeviceError when the device cannot be written.
void FormatFat16(BlockDevice& device, const Fat16FormatOptions& options);

}  // namespace tarnwick
