// Partition tables as sfdisk writes them, FAT volumes found in them, and damaged tables refused.
#include "volume/partition.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "base/bytes.h"
#include "support/temp_machine_dir.h"
#include "volume/image_file.h"
#include "volume/image_tools.h"

namespace tarnwick {
namespace {

using test::kMiB;

// Primary FAT16, a Linux partition, and an extended partition with FAT32 and FAT16 LBA logicals.
constexpr const char* kLayout =
    "label: dos\n"
    "start=2048, size=16384, type=6\n"
    "start=18432, size=4096, type=83\n"
    "start=22528, type=f\n"
    "start=24576, size=8192, type=b\n"
    "start=34816, type=e\n";

class PartitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.Path() / "disk.img";
    test::MakePartitionedDisk(image_, 32 * kMiB, kLayout);
  }

  std::vector<Partition> Read() {
    ImageFile file(image_, ImageFile::Mode::ReadOnly);
    return ReadPartitions(file, "disk.img");
  }

  void ExpectDamaged(const std::string& what) {
    ImageFile file(image_, ImageFile::Mode::ReadOnly);
    try {
      ReadPartitions(file, "disk.img");
      ADD_FAILURE() << "a damaged table was read";
    } catch (const PartitionError& error) {
      EXPECT_NE(std::string(error.what()).find(what), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("disk.img"), std::string::npos);
    }
  }

  // The byte offset of the first EBR and of its link to the next.
  static constexpr uint64_t kFirstEbr = 22528 * 512;
  static constexpr uint64_t kLink = kFirstEbr + 446 + 16;

  test::TempMachineDir dir_;
  std::filesystem::path image_;
};

TEST_F(PartitionTest, NumbersPrimaryThenLogicalPartitions) {
  const auto partitions = Read();
  ASSERT_EQ(partitions.size(), 4u);
  EXPECT_EQ(partitions[0].number, 1);
  EXPECT_EQ(partitions[0].type, 0x06);
  EXPECT_EQ(partitions[0].offset, 2048u * 512);
  EXPECT_EQ(partitions[0].length, 16384u * 512);
  EXPECT_EQ(partitions[1].number, 2);
  EXPECT_EQ(partitions[1].type, 0x83);
  EXPECT_EQ(partitions[2].number, 5);
  EXPECT_EQ(partitions[2].type, 0x0B);
  EXPECT_EQ(partitions[2].offset, 24576u * 512);
  EXPECT_EQ(partitions[2].length, 8192u * 512);
  EXPECT_EQ(partitions[3].number, 6);
  EXPECT_EQ(partitions[3].type, 0x0E);
  EXPECT_EQ(partitions[3].offset, 34816u * 512);
  EXPECT_EQ(partitions[3].offset + partitions[3].length, 32 * kMiB);
}

TEST_F(PartitionTest, FindsFatPartitionsByNumberOrTheFirst) {
  ImageFile file(image_, ImageFile::Mode::ReadOnly);
  EXPECT_EQ(FindFatPartition(file, "disk.img", std::nullopt).number, 1);
  EXPECT_EQ(FindFatPartition(file, "disk.img", 6).number, 6);
  EXPECT_THROW(FindFatPartition(file, "disk.img", 2), PartitionError);  // Linux
  EXPECT_THROW(FindFatPartition(file, "disk.img", 3), PartitionError);  // the extended one
  EXPECT_THROW(FindFatPartition(file, "disk.img", 0), PartitionError);
  EXPECT_THROW(FindFatPartition(file, "disk.img", 7), PartitionError);
}

TEST_F(PartitionTest, LogicalVolumeReadsAndWritesThroughItsWindow) {
  test::MakeFat(image_, 24576 * 512, 8192, "LOGICAL");
  ImageFile file(image_, ImageFile::Mode::ReadWrite);
  const Partition partition = FindFatPartition(file, "disk.img", 5);
  PartitionDevice volume(file, partition.offset, partition.length);
  std::array<uint8_t, 512> boot{};
  volume.Read(0, boot);
  EXPECT_EQ(boot[510], 0x55);
  EXPECT_EQ(boot[511], 0xAA);
  EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 11), "mkfs.fat");
  EXPECT_THROW(volume.Read(partition.length - 1, std::span(boot).first(2)), BlockDeviceError);

  const std::array<uint8_t, 3> mark{'T', 'W', 'K'};
  volume.Write(partition.length - 3, mark);
  EXPECT_THROW(volume.Write(partition.length - 2, mark), BlockDeviceError);
  std::array<uint8_t, 3> back{};
  file.Read(partition.offset + partition.length - 3, back);
  EXPECT_EQ(back, mark);
  EXPECT_THROW(PartitionDevice(file, file.Size() - 512, 1024), PartitionError);
}

TEST_F(PartitionTest, WholeDiskFatVolumeIsPartitionZero) {
  const auto floppy = dir_.Path() / "floppy.img";
  test::Tool({"mkfs.fat", "-C", floppy.string(), "1440"});
  ImageFile file(floppy, ImageFile::Mode::ReadOnly);
  const Partition partition = FindFatPartition(file, "floppy.img", std::nullopt);
  EXPECT_EQ(partition.number, 0);
  EXPECT_EQ(partition.offset, 0u);
  EXPECT_EQ(partition.length, 1440u * 1024);
  EXPECT_THROW(FindFatPartition(file, "floppy.img", 1), PartitionError);
}

TEST_F(PartitionTest, DamagedTablesAreNamedErrors) {
  const auto original = test::Bytes(image_);
  auto restore = [&] { test::Patch(image_, 0, original); };

  // The second EBR links back to the first.
  const uint64_t secondEbr = (22528 + Get32(original, kLink + 8)) * 512;
  test::Patch(image_, secondEbr + 446 + 16, {0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  ExpectDamaged("loops");
  restore();

  // The first EBR links to itself.
  test::Patch(image_, kLink + 8, {0, 0, 0, 0});
  ExpectDamaged("loops");
  restore();

  // Partition 1 grows past the end of the disk.
  test::Patch(image_, 446 + 12, {0, 0, 0x01, 0});
  ExpectDamaged("past the end");
  restore();

  // Partition 2 starts inside partition 1.
  test::Patch(image_, 446 + 16 + 8, {0, 0x10, 0, 0});
  ExpectDamaged("overlap");
  restore();

  test::Patch(image_, 446, {0x42});
  ExpectDamaged("boot flag");
  restore();

  // Logical partition 5 grows into 6.
  test::Patch(image_, kFirstEbr + 446 + 12, {0, 0x30, 0, 0});
  ExpectDamaged("overlap");
  restore();

  // The extended partition shrinks below its logical partitions.
  test::Patch(image_, 446 + 32 + 12, {0, 0x20, 0, 0});
  ExpectDamaged("outside");
  restore();

  test::Patch(image_, 510, {0, 0});
  ImageFile file(image_, ImageFile::Mode::ReadOnly);
  EXPECT_THROW(ReadPartitions(file, "disk.img"), PartitionError);
}

}  // namespace
}  // namespace tarnwick
