// Partition tables: every partition read lies inside the disk, primaries are numbered 1-4 and
// logical partitions 5 and up without gaps, and no two of the same kind overlap.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "fuzz/memory_device.h"
#include "volume/partition.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::MemoryDevice disk(std::span(data, size));
  try {
    const auto partitions = ReadPartitions(disk, "disk.img");
    int logical = 5;
    for (const Partition& partition : partitions) {
      fuzz::Check(partition.offset <= size && partition.length <= size - partition.offset,
                  "a partition lies inside the disk");
      fuzz::Check(partition.length > 0, "a partition is not empty");
      if (partition.number >= 5) {
        fuzz::Check(partition.number == logical++, "logical partitions are numbered in order");
      } else {
        fuzz::Check(partition.number <= 4, "primaries are numbered 0-4");
      }
    }
    for (size_t i = 0; i < partitions.size(); ++i) {
      for (size_t j = i + 1; j < partitions.size(); ++j) {
        const Partition& a = partitions[i];
        const Partition& b = partitions[j];
        if ((a.number >= 5) != (b.number >= 5)) continue;
        fuzz::Check(a.offset + a.length <= b.offset || b.offset + b.length <= a.offset,
                    "partitions do not overlap");
      }
    }
    FindFatPartition(disk, "disk.img", std::nullopt);
  } catch (const BlockDeviceError&) {
  }
  return 0;
}
