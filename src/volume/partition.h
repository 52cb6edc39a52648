// MBR partition tables: primary partitions 1-4, logical partitions 5 and up in the chain of
// extended boot records, and a disk without a table that is one FAT volume (partition 0).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volume/block_device.h"

namespace tarnwick {

// The partition table is damaged, or the partition asked for does not exist or is not FAT.
class PartitionError : public BlockDeviceError {
 public:
  using BlockDeviceError::BlockDeviceError;
};

struct Partition {
  int number = 0;    // 0: the whole disk is one volume; 1-4 primary; 5 and up logical
  uint8_t type = 0;  // the table's type byte; 0 for a disk without a table
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Whether a partition of this type holds a FAT12, FAT16 or FAT32 volume.
bool IsFatPartitionType(uint8_t type);

// Every partition of the disk in number order, extended partitions themselves left out. A disk
// whose first sector is a FAT boot sector is one partition numbered 0. Throws PartitionError
// naming `name` when the table is damaged or the disk has neither a table nor a FAT volume.
std::vector<Partition> ReadPartitions(const BlockDevice& disk, const std::string& name);

// The partition `number`, or the first FAT partition when none is given.
Partition FindFatPartition(const BlockDevice& disk, const std::string& name,
                           std::optional<int> number);

// A window of a parent device: offset and length within it.
class PartitionDevice final : public BlockDevice {
 public:
  // Throws PartitionError when the window does not lie inside the parent.
  PartitionDevice(BlockDevice& parent, uint64_t offset, uint64_t length);

  uint64_t Size() const override { return length_; }
  void Read(uint64_t offset, std::span<uint8_t> out) const override;
  void Write(uint64_t offset, std::span<const uint8_t> data) override;
  void Flush() override { parent_.Flush(); }
  bool ReadOnly() const override { return parent_.ReadOnly(); }

 private:
  void Check(uint64_t offset, uint64_t length) const;

  BlockDevice& parent_;
  uint64_t offset_;
  uint64_t length_;
};

}  // namespace tarnwick
