// A new partition table, judged by sfdisk and read back by our own reader.
#include "volume/partition_table_write.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/image_file.h"
#include "volume/image_tools.h"

namespace tarnwick {
namespace {

using test::kMiB;

// The number after `key` in sfdisk's dump.
uint64_t DumpField(const std::string& dump, const std::string& key) {
  const size_t at = dump.find(key);
  return at == std::string::npos ? 0 : std::strtoull(dump.c_str() + at + key.size(), nullptr, 10);
}

struct Layout {
  uint64_t size;
  uint64_t sectors;                // of the partition
  std::array<uint8_t, 3> lastChs;  // head, sector with the cylinder's high bits, cylinder
};

TEST(PartitionTableWriteTest, OnePartitionOverTheWholeCylindersAsFdiskLaysItOut) {
  const test::TempMachineDir dir;
  const Layout layouts[] = {
      // 16 heads: 520 cylinders, the last 519 (0x207).
      {256 * kMiB, 520 * 16 * 63 - 63, {15, 0xBF, 0x07}},
      // 32 heads: 711 cylinders, the last 710 (0x2C6).
      {700 * kMiB, 711 * 32 * 63 - 63, {31, 0xBF, 0xC6}},
      // 255 heads, 1305 cylinders: beyond cylinder 1023 the fields say 1023, head 254, sector 63.
      {10240 * kMiB, 1305 * 255 * 63 - 63, {254, 0xFF, 0xFF}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.size / kMiB);
    const auto image = dir.Path() / (std::to_string(layout.size / kMiB) + ".img");
    test::Tool({"truncate", "-s", std::to_string(layout.size), image.string()});
    {
      ImageFile disk(image, ImageFile::Mode::ReadWrite);
      const Partition written = WriteSinglePartitionTable(disk, 0x06);
      EXPECT_EQ(written.offset, 63 * 512u);
      EXPECT_EQ(written.length, layout.sectors * 512);
      const std::vector<Partition> read = ReadPartitions(disk, "disk");
      ASSERT_EQ(read.size(), 1u);
      EXPECT_EQ(read[0].number, 1);
      EXPECT_EQ(read[0].type, 0x06);
      EXPECT_EQ(read[0].offset, written.offset);
      EXPECT_EQ(read[0].length, written.length);
    }
    const test::ProgramRun dump = test::RunProgram({"sfdisk", "-d", image.string()});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(DumpField(dump.out, "start="), 63u) << dump.out;
    EXPECT_EQ(DumpField(dump.out, "size="), layout.sectors) << dump.out;
    EXPECT_NE(dump.out.find("type=6, bootable"), std::string::npos) << dump.out;
    const test::ProgramRun verify = test::RunProgram({"sfdisk", "-V", image.string()});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;

    std::vector<uint8_t> mbr(512);
    std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(mbr.data()), 512);
    EXPECT_EQ(mbr[446 + 1], 1);  // the start: cylinder 0, head 1, sector 1
    EXPECT_EQ(mbr[446 + 2], 1);
    EXPECT_EQ(mbr[446 + 3], 0);
    EXPECT_EQ((std::array{mbr[446 + 5], mbr[446 + 6], mbr[446 + 7]}), layout.lastChs);
    std::filesystem::remove(image);
  }
}

TEST(PartitionTableWriteTest, ADiskOfLessThanTwoCylindersIsRefusedUnwritten) {
  const test::TempMachineDir dir;
  const auto image = dir.Path() / "small.img";
  // 1,800 sectors: one cylinder of 16 heads and 63 sectors, and a part.
  test::Tool({"truncate", "-s", "900K", image.string()});
  ImageFile disk(image, ImageFile::Mode::ReadWrite);
  EXPECT_THROW(WriteSinglePartitionTable(disk, 0x06), PartitionError);
  EXPECT_EQ(test::Bytes(image), std::vector<uint8_t>(900 * 1024));
}

}  // namespace
}  // namespace tarnwick
