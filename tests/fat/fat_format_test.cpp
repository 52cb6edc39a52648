// New FAT16 volumes judged by fsck.fat and mtools, and then used by our own reader and writer.
#include "fat/fat_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fat/fat_volume.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/image_file.h"
#include "volume/image_tools.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using test::RunProgram;

constexpr uint64_t kMiBSectors = 2048;

TEST(FatFormatTest, ClusterSizesAreWindows95s) {
  const std::pair<uint64_t, uint32_t> sizes[] = {
      {16 * kMiBSectors, 4},    {128 * kMiBSectors, 4},  {128 * kMiBSectors + 1, 8},
      {256 * kMiBSectors, 8},   {511 * kMiBSectors, 16}, {1024 * kMiBSectors, 32},
      {2047 * kMiBSectors, 64},
  };
  for (const auto& [sectors, perCluster] : sizes) {
    const Fat16Layout layout = ChooseFat16Layout(sectors);
    EXPECT_EQ(layout.sectorsPerCluster, perCluster) << sectors;
    // Every cluster has its FAT entry, and no FAT sector is left over.
    EXPECT_GE(layout.fatSectors * 256u, layout.clusters + 2) << sectors;
    EXPECT_LT((layout.fatSectors - 1) * 256u, layout.clusters + 2) << sectors;
    EXPECT_EQ(layout.clusters, (sectors - 1 - 32 - 2 * uint64_t{layout.fatSectors}) / perCluster)
        << sectors;
  }
  EXPECT_THROW(ChooseFat16Layout(15 * kMiBSectors), FatError);
  // 65,524 clusters of 32 KB are a little less than 2 GB.
  EXPECT_THROW(ChooseFat16Layout(2048 * kMiBSectors), FatError);
}

TEST(FatFormatTest, SerialNumberFollowsTheDosRule) {
  // 2026-12-09 09:24:40: 0x0C09 + 40 << 8, then 0x0918 + 2026.
  EXPECT_EQ(VolumeSerialAt(1796808280), 0x34091102u);
}

TEST(FatFormatTest, NewVolumesAreCleanForFsckAndMtoolsAndTakeFiles) {
  const test::TempMachineDir dir;
  for (const uint64_t mib : {20, 300, 1500}) {
    SCOPED_TRACE(mib);
    const fs::path image = dir.Path() / "volume.img";
    fs::remove(image);
    test::Tool({"truncate", "-s", std::to_string(mib) + "M", image.string()});
    {
      ImageFile device(image, ImageFile::Mode::ReadWrite);
      Fat16FormatOptions options;
      options.label = "SYSTEM";
      options.serial = 0x2A1B07C4;
      options.unixTime = 1796808280;
      options.hiddenSectors = 63;
      options.heads = 16;
      FormatFat16(device, options);
      FatVolume volume(device, "volume.img");
      EXPECT_EQ(volume.Type(), FatType::Fat16);
      EXPECT_EQ(volume.Label(), "SYSTEM");
      EXPECT_EQ(volume.Serial(), 0x2A1B07C4u);
      EXPECT_EQ(volume.ClusterSize(), 512 * ChooseFat16Layout(mib * kMiBSectors).sectorsPerCluster);
      EXPECT_TRUE(volume.List("").empty());
      const std::string text = "A file on a new volume\r\n";
      volume.MakeDirectory("WINDOWS", options.unixTime);
      volume.WriteFile("WINDOWS\\Long file name.txt",
                       std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                       options.unixTime);
    }
    const test::ProgramRun fsck = RunProgram({"fsck.fat", "-n", "-v", image.string()});
    EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
    EXPECT_NE(fsck.out.find("System ID \"MSWIN4.0\""), std::string::npos) << fsck.out;
    EXPECT_NE(fsck.out.find("Media byte 0xf8"), std::string::npos) << fsck.out;
    EXPECT_NE(fsck.out.find("512 root directory entries"), std::string::npos) << fsck.out;
    EXPECT_NE(fsck.out.find("2 FATs, 16 bit entries"), std::string::npos) << fsck.out;
    EXPECT_NE(fsck.out.find("63 hidden sectors"), std::string::npos) << fsck.out;

    const test::ProgramRun mdir = RunProgram({"mdir", "-i", image.string(), "::/"});
    EXPECT_EQ(mdir.status, 0) << mdir.err;
    EXPECT_NE(mdir.out.find("Volume in drive : is SYSTEM"), std::string::npos) << mdir.out;
    EXPECT_NE(mdir.out.find("Serial Number is 2A1B-07C4"), std::string::npos) << mdir.out;
    const test::ProgramRun mtype =
        RunProgram({"mtype", "-i", image.string(), "::/WINDOWS/Long file name.txt"});
    EXPECT_EQ(mtype.out, "A file on a new volume\r\n") << mtype.err;
  }
}

TEST(FatFormatTest, AVolumeFat16CannotHoldIsLeftUnwritten) {
  const test::TempMachineDir dir;
  const fs::path image = dir.Path() / "small.img";
  test::Tool({"truncate", "-s", "8M", image.string()});
  ImageFile device(image, ImageFile::Mode::ReadWrite);
  EXPECT_THROW(FormatFat16(device, {}), FatError);
  EXPECT_EQ(RunProgram({"cmp", "-n", "8M", image.string(), "/dev/zero"}).status, 0);
}

}  // namespace
}  // namespace tarnwick
