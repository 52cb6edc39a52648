#include "fat/fat_format.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/win_time.h"
#include "fat/fat_error.h"

namespace tarnwick {

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kReservedSectors = 1;
constexpr uint32_t kFatCount = 2;
constexpr uint32_t kRootEntries = 512;
constexpr uint32_t kRootSectors = kRootEntries * 32 / kSector;
constexpr uint8_t kMedia = 0xF8;
constexpr uint32_t kMinClusters = 4085;
constexpr uint64_t kMinSectors = 32680;
constexpr uint32_t kMaxClusters = 65524;

// Prints the message after it, waits for a key and asks the BIOS for the next boot device.
constexpr uint8_t kBootCode[] = {
    0x0E, 0x1F, 0xBE, 0x5B, 0x7C,                          // push cs; pop ds; mov si, message
    0xAC, 0x22, 0xC0, 0x74, 0x0B,                          // next: lodsb; and al, al; jz key
    0x56, 0xB4, 0x0E, 0xBB, 0x07, 0x00, 0xCD, 0x10, 0x5E,  // teletype output of al
    0xEB, 0xF0,                                            // jmp next
    0x32, 0xE4, 0xCD, 0x16, 0xCD, 0x19, 0xEB, 0xFE,        // key: wait; int 19h; hang
};
constexpr size_t kBootCodeOffset = 0x3E;
constexpr std::string_view kNotBootable =
    "This disk is not bootable: it holds no system files.\r\n"
    "Press any key to try the next boot device ...\r\n";
static_assert(kBootCodeOffset + sizeof(kBootCode) == 0x5B);
static_assert(0x5B + kNotBootable.size() + 1 <= 510);

std::array<uint8_t, 11> PaddedLabel(const std::string& label) {
  if (label.size() > 11) throw FatError("A volume label has at most 11 characters: " + label);
  std::array<uint8_t, 11> padded;
  padded.fill(' ');
  std::copy(label.begin(), label.end(), padded.begin());
  return padded;
}

std::array<uint8_t, kSector> BootSector(uint64_t sectors, const Fat16Layout& layout,
                                        const Fat16FormatOptions& options) {
  std::array<uint8_t, kSector> boot{};
  const std::span<uint8_t> b(boot);
  b[0] = 0xEB;
  b[1] = kBootCodeOffset - 2;
  b[2] = 0x90;
  constexpr std::string_view kOemName = "MSWIN4.0";
  std::copy(kOemName.begin(), kOemName.end(), b.begin() + 3);
  Put16(b, 11, kSector);
  b[13] = static_cast<uint8_t>(layout.sectorsPerCluster);
  Put16(b, 14, kReservedSectors);
  b[16] = kFatCount;
  Put16(b, 17, kRootEntries);
  Put16(b, 19, sectors < 65536 ? static_cast<uint16_t>(sectors) : 0);
  b[21] = kMedia;
  Put16(b, 22, static_cast<uint16_t>(layout.fatSectors));
  Put16(b, 24, options.sectorsPerTrack);
  Put16(b, 26, options.heads);
  Put32(b, 28, options.hiddenSectors);
  Put32(b, 32, sectors < 65536 ? 0 : static_cast<uint32_t>(sectors));
  b[36] = 0x80;  // the first hard disk
  b[38] = 0x29;  // the extended BPB follows
  Put32(b, 39, options.serial);
  const auto label = PaddedLabel(options.label.empty() ? "NO NAME" : options.label);
  std::copy(label.begin(), label.end(), b.begin() + 43);
  constexpr std::string_view kType = "FAT16   ";
  std::copy(kType.begin(), kType.end(), b.begin() + 54);
  std::copy(std::begin(kBootCode), std::end(kBootCode), b.begin() + kBootCodeOffset);
  std::copy(kNotBootable.begin(), kNotBootable.end(), b.begin() + 0x5B);
  b[510] = 0x55;
  b[511] = 0xAA;
  return boot;
}

}  // namespace

Fat16Layout ChooseFat16Layout(uint64_t sectors) {
  // FORMAT's table: the largest volume each cluster size serves, in sectors.
  static constexpr std::pair<uint64_t, uint32_t> kClusterSizes[] = {
      {262144, 4}, {524288, 8}, {1048576, 16}, {2097152, 32}, {4194304, 64}};
  const auto row = std::find_if(std::begin(kClusterSizes), std::end(kClusterSizes),
                                [&](const auto& r) { return sectors <= r.first; });
  const auto unfit = [&] {
    return FatError("A FAT16 volume has from 16 MB to 2 GB; this one has " +
                    std::to_string(sectors) + " sectors");
  };
  // DOS gives smaller volumes FAT12.
  if (sectors < kMinSectors || row == std::end(kClusterSizes)) throw unfit();
  Fat16Layout layout;
  layout.sectorsPerCluster = row->second;
  const uint64_t beforeFats = kReservedSectors + kRootSectors;
  // The smallest FAT that has an entry for every cluster the rest of the volume holds.
  for (uint32_t fat = 1;; ++fat) {
    if (beforeFats + kFatCount * uint64_t{fat} >= sectors) break;
    const uint64_t clusters =
        (sectors - beforeFats - kFatCount * uint64_t{fat}) / layout.sectorsPerCluster;
    if ((clusters + 2) * 2 <= uint64_t{fat} * kSector) {
      layout.fatSectors = fat;
      layout.clusters = static_cast<uint32_t>(clusters);
      break;
    }
  }
  if (layout.clusters < kMinClusters || layout.clusters > kMaxClusters) throw unfit();
  return layout;
}

uint32_t VolumeSerialAt(int64_t unixTime) {
  const DosDateTime at = DosDateTimeFromUnix(unixTime);
  const uint32_t year = (at.date >> 9) + 1980;
  const uint32_t month = (at.date >> 5) & 0x0F;
  const uint32_t day = at.date & 0x1F;
  const uint32_t hour = at.time >> 11;
  const uint32_t minute = (at.time >> 5) & 0x3F;
  const uint32_t second = (at.time & 0x1F) * 2;
  const uint32_t high = ((month << 8) | day) + (second << 8);
  const uint32_t low = ((hour << 8) | minute) + year;
  return (high & 0xFFFF) << 16 | (low & 0xFFFF);
}

void FormatFat16(BlockDevice& device, const Fat16FormatOptions& options) {
  const uint64_t sectors = device.Size() / kSector;
  const Fat16Layout layout = ChooseFat16Layout(sectors);
  device.Write(0, BootSector(sectors, layout, options));

  std::vector<uint8_t> fat(size_t{layout.fatSectors} * kSector);
  Put16(fat, 0, 0xFF00 | kMedia);
  Put16(fat, 2, 0xFFFF);  // clean shut-down, no disk errors
  for (uint32_t copy = 0; copy < kFatCount; ++copy) {
    device.Write((kReservedSectors + uint64_t{copy} * layout.fatSectors) * kSector, fat);
  }

  std::vector<uint8_t> root(size_t{kRootSectors} * kSector);
  if (!options.label.empty()) {
    const auto label = PaddedLabel(options.label);
    std::copy(label.begin(), label.end(), root.begin());
    root[11] = 0x08;  // volume label
    const DosDateTime written = DosDateTimeFromUnix(options.unixTime);
    Put16(root, 22, written.time);
    Put16(root, 24, written.date);
  }
  device.Write((kReservedSectors + uint64_t{kFatCount} * layout.fatSectors) * kSector, root);
  device.Flush();
}

}  // namespace tarnwick
