// VHD images made by qemu-img read as qemu-img reads them; writes through them leave images that
// qemu-img and libvhdi accept and that equal a raw disk given the same writes.
#include "volume/vhd.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/temp_machine_dir.h"
#include "volume/disk_image.h"
#include "volume/image_tools.h"

namespace tarnwick {
namespace {

using test::kMiB;

class VhdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    raw_ = Path("disk.img");
    test::MakePartitionedDisk(raw_, 24 * kMiB, "label: dos\nstart=2048, type=e\n");
    test::MakeFat(raw_, 2048 * 512, 24 * kMiB / 512 - 2048, "SYSTEM");
  }

  std::filesystem::path Path(const std::string& name) const { return dir_.Path() / name; }

  std::filesystem::path Convert(const std::string& subformat) {
    const auto vhd = Path(subformat + ".vhd");
    test::Tool({"qemu-img", "convert", "-f", "raw", "-O", "vpc", "-o", "subformat=" + subformat,
                raw_.string(), vhd.string()});
    return vhd;
  }

  // What qemu-img reads from an image. QEMU 7 counts a fixed image's footer as part of its disk;
  // the footer's own size, which libvhdi and Virtual PC take, ends it before.
  std::vector<uint8_t> QemuRaw(const std::filesystem::path& image, bool fixed = false) {
    const auto out = image.string() + ".raw";
    test::Tool({"qemu-img", "convert", "-O", "raw", image.string(), out});
    auto bytes = test::Bytes(out);
    if (fixed && bytes.size() >= 512) bytes.resize(bytes.size() - 512);
    return bytes;
  }

  // The whole device read in uneven pieces that cross sector and block boundaries.
  static std::vector<uint8_t> ReadAll(const BlockDevice& device) {
    std::vector<uint8_t> all(device.Size());
    uint64_t at = 0;
    size_t piece = 1;
    while (at < all.size()) {
      const size_t length = std::min<uint64_t>(piece, all.size() - at);
      device.Read(at, std::span(all).subspan(at, length));
      at += length;
      piece = piece * 7 % 3000001 + 333;
    }
    return all;
  }

  // The same random writes to the device and to a copy of its contents: odd offsets, partial
  // sectors, pieces across blocks, zeros into untouched blocks.
  static void WriteBoth(BlockDevice& device, std::vector<uint8_t>& copy) {
    std::mt19937 random(19);
    for (int i = 0; i < 40; ++i) {
      const size_t length = 1 + random() % (i % 4 == 0 ? 3 * kMiB : 5000);
      const uint64_t at = random() % (device.Size() - length);
      std::vector<uint8_t> data(length);
      const uint8_t fill = i % 5 == 0 ? 0 : static_cast<uint8_t>(random());
      for (auto& b : data) b = fill == 0 ? 0 : static_cast<uint8_t>(random());
      device.Write(at, data);
      std::copy(data.begin(), data.end(), copy.begin() + static_cast<ptrdiff_t>(at));
    }
    device.Flush();
  }

  void WriteRaw(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    test::Patch(file, 0, bytes);
  }

  test::TempMachineDir dir_;
  std::filesystem::path raw_;
};

TEST_F(VhdTest, ReadsFixedAndDynamicImagesAsQemuDoes) {
  for (const char* subformat : {"fixed", "dynamic"}) {
    const bool fixed = subformat == std::string("fixed");
    const auto vhd = Convert(subformat);
    const auto qemu = QemuRaw(vhd, fixed);
    auto disk = OpenDiskImage(vhd, ImageFile::Mode::ReadOnly);
    const auto* device = dynamic_cast<const VhdDevice*>(disk.get());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Type(), fixed ? VhdType::Fixed : VhdType::Dynamic);
    EXPECT_EQ(ReadAll(*disk), qemu) << subformat;
  }
}

TEST_F(VhdTest, WritesToDynamicImageAllocateBlocksQemuAccepts) {
  const auto vhd = Convert("dynamic");
  std::vector<uint8_t> expected;
  {
    auto disk = OpenDiskImage(vhd, ImageFile::Mode::ReadWrite);
    expected = ReadAll(*disk);
    WriteBoth(*disk, expected);
    EXPECT_EQ(ReadAll(*disk), expected);
  }
  const auto copy = Path("expected.img");
  test::Tool({"truncate", "-s", std::to_string(expected.size()), copy.string()});
  WriteRaw(copy, expected);
  test::Tool({"qemu-img", "compare", "-f", "vpc", "-F", "raw", vhd.string(), copy.string()});
  test::Tool({"vhdiinfo", vhd.string()});
  auto reopened = OpenDiskImage(vhd, ImageFile::Mode::ReadOnly);
  EXPECT_EQ(ReadAll(*reopened), expected);
  // Both footers stay equal and valid.
  const auto bytes = test::Bytes(vhd);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 512, bytes.end() - 512));
}

TEST_F(VhdTest, WritesToFixedImageReachQemu) {
  const auto vhd = Convert("fixed");
  std::vector<uint8_t> expected;
  {
    auto disk = OpenDiskImage(vhd, ImageFile::Mode::ReadWrite);
    expected = ReadAll(*disk);
    WriteBoth(*disk, expected);
  }
  EXPECT_EQ(QemuRaw(vhd, true), expected);
}

TEST_F(VhdTest, DifferencingImageReadsThroughItsParentAndNeverWritesIt) {
  const auto parent = Convert("dynamic");
  const auto child = Path("child.vhd");
  test::MakeDifferencingChild(parent, child);
  const auto parentBefore = test::Bytes(parent);
  std::vector<uint8_t> expected = QemuRaw(parent);
  {
    auto disk = OpenDiskImage(child, ImageFile::Mode::ReadWrite);
    const auto* device = dynamic_cast<const VhdDevice*>(disk.get());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Type(), VhdType::Differencing);
    ASSERT_NE(device->Parent(), nullptr);
    EXPECT_EQ(ReadAll(*disk), expected);
    WriteBoth(*disk, expected);
    EXPECT_EQ(ReadAll(*disk), expected);
  }
  auto reopened = OpenDiskImage(child, ImageFile::Mode::ReadOnly);
  EXPECT_EQ(ReadAll(*reopened), expected);
  EXPECT_EQ(test::Bytes(parent), parentBefore);
  test::Tool({"vhdiinfo", child.string()});
}

TEST_F(VhdTest, DifferencingImageNeedsItsOwnParent) {
  const auto parent = Convert("dynamic");
  const auto child = Path("child.vhd");
  test::MakeDifferencingChild(parent, child);
  // Another image in the parent's place.
  std::filesystem::rename(parent, Path("moved.vhd"));
  EXPECT_THROW(OpenDiskImage(child, ImageFile::Mode::ReadOnly), BlockDeviceError);
  test::Tool({"qemu-img", "create", "-f", "vpc", parent.string(), "24M"});
  EXPECT_THROW(OpenDiskImage(child, ImageFile::Mode::ReadOnly), BlockDeviceError);
}

// A 1 TB dynamic disk: only its 2 MB block table is read, and a write adds one block.
TEST_F(VhdTest, LargeDiskGrowsByTheBlocksWritten) {
  const auto vhd = Path("large.vhd");
  test::Tool({"qemu-img", "create", "-f", "vpc", vhd.string(), "1T"});
  const auto before = std::filesystem::file_size(vhd);
  {
    auto disk = OpenDiskImage(vhd, ImageFile::Mode::ReadWrite);
    EXPECT_GE(disk->Size(), 1000 * 1000 * kMiB);
    std::vector<uint8_t> middle(kMiB, 0xEE);
    disk->Read(disk->Size() / 2, middle);
    EXPECT_TRUE(std::all_of(middle.begin(), middle.end(), [](uint8_t b) { return b == 0; }));
    const std::vector<uint8_t> last(512, 0x77);
    disk->Write(disk->Size() - 512, last);
  }
  EXPECT_EQ(std::filesystem::file_size(vhd), before + 512 + 2 * kMiB);
  test::Tool({"vhdiinfo", vhd.string()});
}

// Killed at random moments while it fills new blocks, a dynamic image always opens, and every
// block reads as before or as written, never half allocated.
TEST_F(VhdTest, KillWhileAllocatingLeavesBlocksOldOrNew) {
  constexpr int kBlocks = 8;
  std::mt19937 random(95);
  for (int trial = 0; trial < 30; ++trial) {
    const auto vhd = Path("kill.vhd");
    std::filesystem::remove(vhd);
    test::Tool({"qemu-img", "create", "-f", "vpc", vhd.string(), "32M"});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto disk = OpenDiskImage(vhd, ImageFile::Mode::ReadWrite);
      for (int block = 0; block < kBlocks; ++block) {
        const std::vector<uint8_t> data(2 * kMiB, static_cast<uint8_t>(block + 1));
        disk->Write(block * 2 * kMiB, data);
      }
      _exit(0);
    }
    usleep(static_cast<useconds_t>(random() % 60000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    auto disk = OpenDiskImage(vhd, ImageFile::Mode::ReadOnly);
    std::vector<uint8_t> block(2 * kMiB);
    for (int i = 0; i < kBlocks; ++i) {
      disk->Read(i * 2 * kMiB, block);
      const uint8_t first = block[0];
      EXPECT_TRUE(first == 0 || first == i + 1) << "trial " << trial << " block " << i;
      EXPECT_TRUE(std::all_of(block.begin(), block.end(), [&](uint8_t b) { return b == first; }))
          << "trial " << trial << " block " << i;
    }
  }
}

TEST_F(VhdTest, DamagedStructuresAreNamedErrors) {
  const auto vhd = Convert("dynamic");
  const auto original = test::Bytes(vhd);
  auto expectDamaged = [&](const std::string& what) {
    try {
      OpenDiskImage(vhd, ImageFile::Mode::ReadOnly);
      ADD_FAILURE() << "a damaged image opened: " << what;
    } catch (const BlockDeviceError& error) {
      EXPECT_NE(std::string(error.what()).find(what), std::string::npos) << error.what();
    }
    test::Patch(vhd, 0, original);
  };
  test::Patch(vhd, original.size() - 512 + 50, {0xFF});
  expectDamaged("checksum of its footer");
  // A disk size so large that counting its blocks would wrap around.
  std::vector<uint8_t> footer(original.end() - 512, original.end());
  std::fill(footer.begin() + 48, footer.begin() + 54, 0xFF);
  footer[54] = 0xFE;
  footer[55] = 0x00;
  const uint32_t sum = VhdChecksum(footer, 64);
  for (int i = 0; i < 4; ++i) footer[64 + i] = static_cast<uint8_t>(sum >> (24 - 8 * i));
  test::Patch(vhd, original.size() - 512, footer);
  expectDamaged("block table is shorter");
  test::Patch(vhd, 512 + 40, {0xFF});
  expectDamaged("checksum of its dynamic disk header");
  // The first table entry points at the footer.
  const uint32_t footerSector = static_cast<uint32_t>(original.size() / 512 - 1);
  test::Patch(vhd, 1536,
              {static_cast<uint8_t>(footerSector >> 24), static_cast<uint8_t>(footerSector >> 16),
               static_cast<uint8_t>(footerSector >> 8), static_cast<uint8_t>(footerSector)});
  expectDamaged("outside its data area");
  // The table points into the table.
  test::Patch(vhd, 1536, {0, 0, 0, 3});
  expectDamaged("outside its data area");
}

TEST_F(VhdTest, OtherFormatsAreRefusedWithTheCommandThatConverts) {
  for (const char* format : {"qcow2", "vdi", "vmdk"}) {
    const auto image = Path(std::string("disk.") + format);
    test::Tool({"qemu-img", "convert", "-f", "raw", "-O", format, raw_.string(), image.string()});
    try {
      OpenDiskImage(image, ImageFile::Mode::ReadOnly);
      ADD_FAILURE() << format << " opened";
    } catch (const BlockDeviceError& error) {
      const std::string text = error.what();
      EXPECT_NE(text.find("qemu-img convert -O vpc \"" + image.string() + "\""), std::string::npos)
          << text;
      EXPECT_NE(text.find("qemu-img convert -O raw"), std::string::npos) << text;
    }
  }
  auto raw = OpenDiskImage(raw_, ImageFile::Mode::ReadOnly);
  EXPECT_NE(dynamic_cast<ImageFile*>(raw.get()), nullptr);
}

}  // namespace
}  // namespace tarnwick
