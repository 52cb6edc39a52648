#include "volume/partition.h"

#include <algorithm>
#include <array>
#include <set>

#include "base/bytes.h"

namespace tarnwick {

namespace {

constexpr uint64_t kSector = 512;
constexpr size_t kTable = 446;
constexpr size_t kEntry = 16;
// Far more logical partitions than any tool makes; a longer chain is damaged.
constexpr int kMaxLogical = 128;

using Sector = std::array<uint8_t, kSector>;

struct Entry {
  uint8_t status;
  uint8_t type;
  uint64_t start;  // sectors
  uint64_t count;
};

bool IsExtendedType(uint8_t type) {
  return type == 0x05 || type == 0x0F || type == 0x85;
}

Entry EntryAt(const Sector& sector, int index) {
  const size_t at = kTable + kEntry * static_cast<size_t>(index);
  return {sector[at], sector[at + 4], Get32(sector, at + 8), Get32(sector, at + 12)};
}

bool HasSignature(const Sector& sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

bool IsPowerOfTwo(unsigned value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The jump, sector size, cluster size, reserved sectors and FAT count of a FAT boot sector.
bool IsFatBootSector(const Sector& sector) {
  const bool jump = (sector[0] == 0xEB && sector[2] == 0x90) || sector[0] == 0xE9;
  const unsigned bytesPerSector = Get16(sector, 11);
  return jump && bytesPerSector >= 512 && bytesPerSector <= 4096 && IsPowerOfTwo(bytesPerSector) &&
         IsPowerOfTwo(sector[13]) && Get16(sector, 14) != 0 && sector[16] != 0;
}

class TableReader {
 public:
  TableReader(const BlockDevice& disk, const std::string& name)
      : disk_(disk), name_(name), sectors_(disk.Size() / kSector) {}

  Sector ReadSector(uint64_t lba) const {
    Sector sector{};
    disk_.Read(lba * kSector, sector);
    return sector;
  }

  [[noreturn]] void Damaged(const std::string& what) const {
    throw PartitionError("The partition table of " + name_ + " is damaged: " + what + ".");
  }

  Partition Make(int number, const Entry& entry, uint64_t base) const {
    const uint64_t start = base + entry.start;
    if (entry.count == 0 || start + entry.count > sectors_) {
      Damaged("partition " + std::to_string(number) + " lies past the end of the disk");
    }
    return {number, entry.type, start * kSector, entry.count * kSector};
  }

  std::vector<Partition> Read() const {
    if (sectors_ == 0) throw PartitionError(name_ + " is empty.");
    const Sector mbr = ReadSector(0);
    if (IsFatBootSector(mbr)) return {{0, 0, 0, sectors_ * kSector}};
    if (!HasSignature(mbr)) {
      throw PartitionError(name_ + " holds neither a partition table nor a FAT volume.");
    }
    std::vector<Partition> primaries;
    std::vector<Partition> result;
    std::optional<Partition> extended;
    for (int i = 0; i < 4; ++i) {
      const Entry entry = EntryAt(mbr, i);
      if (entry.status != 0 && entry.status != 0x80) Damaged("an entry has a bad boot flag");
      if (entry.type == 0) continue;
      const Partition partition = Make(i + 1, entry, 0);
      primaries.push_back(partition);
      if (!IsExtendedType(entry.type)) {
        result.push_back(partition);
      } else if (extended) {
        Damaged("it has two extended partitions");
      } else {
        extended = partition;
      }
    }
    CheckDisjoint(primaries);
    if (extended) {
      const std::vector<Partition> logical = ReadLogical(*extended);
      CheckDisjoint(logical);
      result.insert(result.end(), logical.begin(), logical.end());
    }
    return result;
  }

 private:
  std::vector<Partition> ReadLogical(const Partition& extended) const {
    const uint64_t first = extended.offset / kSector;
    const uint64_t end = first + extended.length / kSector;
    std::vector<Partition> logical;
    std::set<uint64_t> visited;
    uint64_t ebr = first;
    while (true) {
      if (ebr < first || ebr >= end) Damaged("an extended boot record lies outside its partition");
      if (!visited.insert(ebr).second) Damaged("the chain of logical partitions loops");
      if (logical.size() >= kMaxLogical) Damaged("the chain of logical partitions is too long");
      const Sector sector = ReadSector(ebr);
      if (!HasSignature(sector)) Damaged("an extended boot record lacks its signature");
      const Entry entry = EntryAt(sector, 0);
      const Entry next = EntryAt(sector, 1);
      if (entry.type != 0) {
        const int number = 5 + static_cast<int>(logical.size());
        const Partition partition = Make(number, entry, ebr);
        if (partition.offset / kSector <= ebr ||
            (partition.offset + partition.length) / kSector > end) {
          Damaged("logical partition " + std::to_string(number) +
                  " lies outside its extended partition");
        }
        logical.push_back(partition);
      }
      if (next.type == 0) break;
      if (!IsExtendedType(next.type))
        Damaged("an extended boot record links to a non-extended entry");
      ebr = first + next.start;
    }
    return logical;
  }

  void CheckDisjoint(std::vector<Partition> partitions) const {
    std::sort(partitions.begin(), partitions.end(),
              [](const Partition& a, const Partition& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < partitions.size(); ++i) {
      const Partition& before = partitions[i - 1];
      if (before.offset + before.length > partitions[i].offset) {
        Damaged("partitions " + std::to_string(before.number) + " and " +
                std::to_string(partitions[i].number) + " overlap");
      }
    }
  }

  const BlockDevice& disk_;
  const std::string& name_;
  uint64_t sectors_;
};

}  // namespace

bool IsFatPartitionType(uint8_t type) {
  return type == 0x01 || type == 0x04 || type == 0x06 || type == 0x0B || type == 0x0C ||
         type == 0x0E;
}

std::vector<Partition> ReadPartitions(const BlockDevice& disk, const std::string& name) {
  return TableReader(disk, name).Read();
}

Partition FindFatPartition(const BlockDevice& disk, const std::string& name,
                           std::optional<int> number) {
  const std::vector<Partition> partitions = ReadPartitions(disk, name);
  for (const Partition& partition : partitions) {
    const bool fat = partition.number == 0 || IsFatPartitionType(partition.type);
    if (!number && fat) return partition;
    if (number && partition.number == *number) {
      if (!fat) {
        throw PartitionError("Partition " + std::to_string(*number) + " of " + name +
                             " is not a FAT partition.");
      }
      return partition;
    }
  }
  if (!number) throw PartitionError(name + " has no FAT partition.");
  throw PartitionError(name + " has no partition " + std::to_string(*number) + ".");
}

PartitionDevice::PartitionDevice(BlockDevice& parent, uint64_t offset, uint64_t length)
    : parent_(parent), offset_(offset), length_(length) {
  if (offset > parent.Size() || length > parent.Size() - offset) {
    throw PartitionError("A partition lies past the end of its disk.");
  }
}

void PartitionDevice::Check(uint64_t offset, uint64_t length) const {
  if (offset > length_ || length > length_ - offset) {
    throw BlockDeviceError("An access past the end of a partition.");
  }
}

void PartitionDevice::Read(uint64_t offset, std::span<uint8_t> out) const {
  Check(offset, out.size());
  parent_.Read(offset_ + offset, out);
}

void PartitionDevice::Write(uint64_t offset, std::span<const uint8_t> data) {
  Check(offset, data.size());
  parent_.Write(offset_ + offset, data);
}

}  // namespace tarnwick
