#include "fat/fat_volume.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using test::RunProgram;

// A block device over a host file.
class FileDevice : public BlockDevice {
 public:
  explicit FileDevice(const fs::path& path) : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0) throw BlockDeviceError("cannot open " + path.string());
    size_ = static_cast<uint64_t>(::lseek(fd_, 0, SEEK_END));
  }
  ~FileDevice() override { ::close(fd_); }
  FileDevice(const FileDevice&) = delete;
  FileDevice& operator=(const FileDevice&) = delete;

  uint64_t Size() const override { return size_; }
  void Read(uint64_t offset, std::span<uint8_t> out) const override {
    if (offset + out.size() > size_ ||
        ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(out.size())) {
      throw BlockDeviceError("read outside the image");
    }
  }
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    if (offset + data.size() > size_ ||
        ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(data.size())) {
      throw BlockDeviceError("write outside the image");
    }
  }
  void Flush() override {}
  bool ReadOnly() const override { return false; }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// Fails every write after the first `budget`, as a kill would stop them.
class KilledDevice : public FileDevice {
 public:
  KilledDevice(const fs::path& path, int budget) : FileDevice(path), budget_(budget) {}
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    if (budget_-- <= 0) throw BlockDeviceError("killed");
    FileDevice::Write(offset, data);
  }

 private:
  int budget_;
};

std::string ReadAll(const FatVolume& volume, std::string_view path) {
  std::string text;
  volume.ReadFile(path,
                  [&](std::span<const uint8_t> piece) { text.append(piece.begin(), piece.end()); });
  return text;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Pattern(size_t size, unsigned seed) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>((i * 131 + seed * 7 + i / 517) & 0xFF);
  return text;
}

test::ProgramRun Mtools(const std::string& tool, const fs::path& image,
                        std::vector<std::string> args) {
  std::vector<std::string> command = {"env", "MTOOLS_SKIP_CHECK=1", tool, "-i", image.string()};
  command.insert(command.end(), args.begin(), args.end());
  return RunProgram(command);
}

std::string Extract(const fs::path& image, const std::string& path) {
  const auto run = Mtools("mcopy", image, {"::" + path, "-"});
  EXPECT_EQ(run.status, 0) << run.err.substr(0, 200);
  return run.out;
}

std::string ImageBytes(const fs::path& image);

// fsck.fat -n finds nothing, and the two FAT copies are equal.
void ExpectClean(const fs::path& image) {
  const auto run = RunProgram({"fsck.fat", "-n", image.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::string b = ImageBytes(image);
  const auto u16 = [&](size_t at) {
    return static_cast<size_t>(static_cast<uint8_t>(b[at]) |
                               (static_cast<uint8_t>(b[at + 1]) << 8));
  };
  const size_t fatSectors = u16(22) != 0 ? u16(22) : u16(36) | (u16(38) << 16);
  const size_t first = u16(14) * 512;
  const size_t size = fatSectors * 512;
  EXPECT_EQ(static_cast<uint8_t>(b[16]), 2);
  EXPECT_TRUE(b.compare(first, size, b, first + size, size) == 0) << "the FAT copies differ";
}

std::string ImageBytes(const fs::path& image) {
  std::string bytes(fs::file_size(image), '\0');
  std::ifstream(image, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// What fsck.fat -n reports beyond clusters that no file holds (so a free count that is off) or a
// FAT copy one entry behind the first.
std::vector<std::string> FsckDamage(const fs::path& image) {
  const auto fsck = RunProgram({"fsck.fat", "-n", image.string()});
  std::vector<std::string> damage;
  std::istringstream lines(fsck.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("fsck.fat") || line.starts_with("Checking") ||
        line.starts_with("Leaving") || line.find("files,") != std::string::npos || line.empty() ||
        line.find("unused cluster") != std::string::npos ||
        line.find("FATs differ but appear to be intact") != std::string::npos ||
        line.find("Free cluster summary") != std::string::npos || line.starts_with("  ") ||
        line.find("Auto-correcting") != std::string::npos) {
      continue;
    }
    damage.push_back(line);
  }
  return damage;
}

class FatVolumeTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    image_ = dir_.Path() / "disk.img";
    const int bits = GetParam();
    // FAT32 needs 65525 clusters: one sector per cluster on 36 MB.
    const std::string kb = bits == 12 ? "1440" : bits == 16 ? "16384" : "36000";
    std::vector<std::string> args = {"mkfs.fat",      "-F", std::to_string(bits), "-C",
                                     image_.string(), kb};
    if (bits == 32) args.insert(args.begin() + 1, {"-s", "1"});
    args.insert(args.begin() + 1, {"-n", "TARNWICK", "-i", "1234ABCD"});
    ASSERT_EQ(RunProgram(args).status, 0);
  }

  FatVolume Open(OemCodePage codePage = OemCodePage()) {
    device_ = std::make_unique<FileDevice>(image_);
    return FatVolume(*device_, "disk.img", codePage);
  }

  test::TempMachineDir dir_;
  fs::path image_;
  std::unique_ptr<FileDevice> device_;
};

TEST_P(FatVolumeTest, ReadsWhatMtoolsWrote) {
  const std::string big = Pattern(70000, 1);
  dir_.WriteFile("big.bin", big);
  dir_.WriteFile("Long File Name.txt", "hello from mtools");
  dir_.WriteFile("README.TXT", "short");
  ASSERT_EQ(Mtools("mmd", image_, {"::/Program Files"}).status, 0);
  ASSERT_EQ(Mtools("mcopy", image_,
                   {(dir_.Path() / "big.bin").string(), "::/Program Files/Big Data File.bin"})
                .status,
            0);
  ASSERT_EQ(
      Mtools("mcopy", image_, {(dir_.Path() / "Long File Name.txt").string(), "::/Program Files/"})
          .status,
      0);
  ASSERT_EQ(Mtools("mcopy", image_, {(dir_.Path() / "README.TXT").string(), "::/"}).status, 0);

  FatVolume volume = Open();
  EXPECT_EQ(static_cast<int>(volume.Type()), GetParam() == 12 ? 0 : GetParam() == 16 ? 1 : 2);
  EXPECT_EQ(volume.Label(), "TARNWICK");
  EXPECT_EQ(volume.Serial(), 0x1234ABCDu);
  const auto root = volume.List("");
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].longName, "Program Files");
  EXPECT_EQ(root[0].shortName, "PROGRA~1");
  EXPECT_TRUE(root[0].IsDirectory());
  EXPECT_EQ(root[1].longName, "README.TXT");
  EXPECT_EQ(root[1].size, 5u);

  // By long or short name, in any case, with either separator.
  EXPECT_EQ(ReadAll(volume, "PROGRA~1\\long file name.TXT"), "hello from mtools");
  EXPECT_TRUE(ReadAll(volume, "/program files/BIGDAT~1.BIN") == big);
  const auto stat = volume.Stat("Program Files\\Big Data File.bin");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->shortName, "BIGDAT~1.BIN");
  EXPECT_EQ(stat->size, big.size());
  EXPECT_NE(stat->written.date, 0);
  EXPECT_FALSE(volume.Stat("Program Files\\missing.txt"));
  EXPECT_FALSE(volume.Stat("missing\\x.txt"));
  EXPECT_THROW(volume.List("README.TXT"), FatError);
}

TEST_P(FatVolumeTest, WritesWhatFsckAndMtoolsAccept) {
  const int64_t now = 1700000000;
  const std::string big = Pattern(50000, 2);
  {
    FatVolume volume = Open();
    const uint64_t freeBefore = volume.FreeBytes();
    volume.MakeDirectory("Program Files", now);
    volume.MakeDirectory("Program Files\\Accessories", now);
    volume.WriteFile("Program Files\\Accessories Notes.txt", Bytes(std::string("notes")), now);
    volume.WriteFile("progra~1\\Accessories Other.txt", Bytes(big), now);
    volume.WriteFile("AUTOEXEC.BAT", Bytes(std::string("@echo off\r\n")), now,
                     fat_attr::kHidden | fat_attr::kSystem);
    volume.WriteFile("readme.txt", Bytes(std::string("lower")), now);
    volume.WriteFile("Empty File", {}, now);
    EXPECT_LT(volume.FreeBytes(), freeBefore);
    const auto other = volume.Stat("Program Files\\ACCESS~2.TXT");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->longName, "Accessories Other.txt");
    EXPECT_EQ(volume.Stat("AUTOEXEC.BAT")->attributes,
              fat_attr::kHidden | fat_attr::kSystem | fat_attr::kArchive);
    EXPECT_EQ(volume.Stat("readme.txt")->shortName, "README.TXT");
    EXPECT_EQ(volume.Stat("Program Files\\Accessories")->shortName, "ACCESS~1");
    EXPECT_EQ(volume.Stat("Program Files\\Accessories Notes.txt")->shortName, "ACCESS~1.TXT");
  }
  ExpectClean(image_);
  const auto listing = Mtools("mdir", image_, {"::/Program Files"});
  EXPECT_NE(listing.out.find("ACCESS~2 TXT"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("Accessories Notes.txt"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("Accessories Other.txt"), std::string::npos) << listing.out;
  EXPECT_TRUE(Extract(image_, "/Program Files/Accessories Other.txt") == big);
  EXPECT_EQ(Extract(image_, "/PROGRA~1/ACCESS~1.TXT"), "notes");
  EXPECT_EQ(Extract(image_, "/readme.txt"), "lower");
  EXPECT_EQ(Extract(image_, "/Empty File"), "");

  // Replace, shrink, rename, remove: still clean, and mtools sees the new state.
  {
    FatVolume volume = Open();
    volume.WriteFile("Program Files\\Accessories Other.txt", Bytes(std::string("short now")), now);
    volume.WriteFile("Empty File", Bytes(big), now);
    volume.Rename("Program Files\\Accessories Notes.txt", "Renamed Notes Here.txt");
    volume.Rename("readme.txt", "README.TXT");
    volume.Remove("AUTOEXEC.BAT");
    EXPECT_THROW(volume.Remove("Program Files"), FatError);
    volume.Remove("Program Files\\Accessories");
    EXPECT_FALSE(volume.Stat("Program Files\\Accessories"));
    EXPECT_THROW(volume.Rename("README.TXT", "empty file"), FatError);
  }
  ExpectClean(image_);
  if (GetParam() == 32) {
    // FSInfo's free count is the FAT's.
    const std::string b = ImageBytes(image_);
    const auto u32 = [&](size_t at) {
      return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) |
                                   (static_cast<uint8_t>(b[at + 1]) << 8) |
                                   (static_cast<uint8_t>(b[at + 2]) << 16) |
                                   (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24));
    };
    const size_t fsInfo = (static_cast<uint8_t>(b[48]) | (static_cast<uint8_t>(b[49]) << 8)) * 512u;
    FatVolume volume = Open();
    EXPECT_EQ(u32(fsInfo + 488), volume.FreeBytes() / volume.ClusterSize());
  }
  EXPECT_EQ(Extract(image_, "/Program Files/Accessories Other.txt"), "short now");
  EXPECT_TRUE(Extract(image_, "/Empty File") == big);
  EXPECT_EQ(Extract(image_, "/Program Files/Renamed Notes Here.txt"), "notes");
  EXPECT_EQ(Extract(image_, "/README.TXT"), "lower");
  EXPECT_NE(Mtools("mcopy", image_, {"::/AUTOEXEC.BAT", "-"}).status, 0);
}

TEST_P(FatVolumeTest, GrowsDirectoriesOverClusters) {
  {
    FatVolume volume = Open();
    volume.MakeDirectory("Many Files", 1700000000);
    for (int i = 0; i < 60; ++i) {
      const std::string name =
          "Many Files\\A rather long file name number " + std::to_string(i) + ".txt";
      volume.WriteFile(name, Bytes(std::to_string(i)), 1700000000);
    }
    EXPECT_EQ(volume.List("Many Files").size(), 60u);
    EXPECT_EQ(volume.Stat("Many Files\\A rather long file name number 8.txt")->shortName,
              "ARATHE~9.TXT");
    EXPECT_EQ(volume.Stat("Many Files\\A rather long file name number 59.txt")->shortName,
              "ARATH~60.TXT");
    EXPECT_EQ(ReadAll(volume, "many files\\arath~60.txt"), "59");
  }
  ExpectClean(image_);
  EXPECT_EQ(Extract(image_, "/Many Files/A rather long file name number 42.txt"), "42");
}

// Every directory of a volume, as lines of path, names, attributes, size and first cluster.
std::string Tree(const FatVolume& volume, const std::string& dir = "") {
  std::string lines;
  for (const FatEntry& e : volume.List(dir)) {
    const std::string path = dir.empty() ? e.longName : dir + "\\" + e.longName;
    lines += path + " " + e.shortName + " " + std::to_string(e.attributes) + " " +
             std::to_string(e.size) + " " + std::to_string(e.firstCluster) + "\n";
    if (e.IsDirectory()) lines += Tree(volume, path);
  }
  return lines;
}

// The volume keeps the directories it has read: after every kind of change, what it lists is
// what a fresh open reads from the disk, also when a removed directory's clusters are reused.
TEST_P(FatVolumeTest, WhatItKeepsFollowsEveryChange) {
  FatVolume volume = Open();
  FileDevice other(image_);
  const auto expectFresh = [&](const char* step) {
    EXPECT_EQ(Tree(volume), Tree(FatVolume(other, "disk.img"))) << step;
  };
  volume.MakeDirectory("Old", 1700000000);
  volume.WriteFile("Old\\a file.txt", Bytes(std::string("a")), 1700000000);
  expectFresh("make, write");
  volume.Rename("Old\\a file.txt", "renamed file.txt");
  volume.SetAttributes("Old\\renamed file.txt", fat_attr::kHidden);
  expectFresh("rename, attributes");
  volume.MakeDirectory("New", 1700000000);
  volume.Move("Old\\renamed file.txt", "New\\moved.txt");
  expectFresh("move");
  volume.Remove("Old");
  for (int i = 0; i < 3; ++i) {
    volume.MakeDirectory("Again " + std::to_string(i), 1700000000);
    volume.WriteFile("Again " + std::to_string(i) + "\\x.txt", Bytes(std::string("x")), 1700000000);
    expectFresh("remove, make again");
  }
  for (int i = 0; i < 40; ++i) {
    volume.WriteFile("New\\a long name to grow the directory " + std::to_string(i),
                     Bytes(std::string("y")), 1700000000);
  }
  volume.WriteFile("New\\moved.txt", Bytes(Pattern(5000, 2)), 1700000000);
  expectFresh("grow, replace");
  EXPECT_EQ(ReadAll(volume, "New\\moved.txt"), Pattern(5000, 2));
}

TEST_P(FatVolumeTest, FullVolumeChangesNothing) {
  FatVolume volume = Open();
  volume.WriteFile("keep.txt", Bytes(std::string("keep")), 1700000000);
  const std::string before = ImageBytes(image_);
  const std::string tooBig(volume.FreeBytes() + 1, 'x');
  EXPECT_THROW(volume.WriteFile("keep.txt", Bytes(tooBig), 1700000000), FatError);
  EXPECT_THROW(volume.WriteFile("new file.txt", Bytes(tooBig), 1700000000), FatError);
  EXPECT_TRUE(ImageBytes(image_) == before);
  EXPECT_EQ(ReadAll(volume, "keep.txt"), "keep");
}

// A kill between the two copies of a FAT entry leaves the second behind the first: the next open
// for writing makes it equal again, so that the difference never outlives the kill.
TEST_P(FatVolumeTest, ASecondFatLeftBehindIsMirroredOnOpen) {
  {
    FatVolume volume = Open();
    volume.WriteFile("Grown.txt", Bytes(Pattern(9000, 3)), 1700000000);
  }
  const std::string before = ImageBytes(image_);
  const size_t first =
      (static_cast<uint8_t>(before[14]) | (static_cast<uint8_t>(before[15]) << 8)) * 512u;
  const size_t fatSectors =
      (static_cast<uint8_t>(before[22]) | (static_cast<uint8_t>(before[23]) << 8)) != 0
          ? (static_cast<uint8_t>(before[22]) | (static_cast<uint8_t>(before[23]) << 8))
          : (static_cast<uint8_t>(before[36]) | (static_cast<uint8_t>(before[37]) << 8));
  // The second copy as it was before the file's chain: its entries free again.
  const std::vector<uint8_t> cleared(64, 0);
  {
    std::fstream file(image_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(first + fatSectors * 512 + 8));
    file.write(reinterpret_cast<const char*>(cleared.data()), 64);
  }
  ASSERT_FALSE(ImageBytes(image_) == before);
  {
    FatVolume volume = Open();
    EXPECT_TRUE(ReadAll(volume, "Grown.txt") == Pattern(9000, 3));
  }
  EXPECT_TRUE(ImageBytes(image_) == before);
  ExpectClean(image_);
}

// FAT12 and FAT16 keep a root directory of fixed size; FAT32's grows.
class FixedRootTest : public FatVolumeTest {};
class Fat32Test : public FatVolumeTest {};

TEST_P(FixedRootTest, FullRootDirectoryChangesNothing) {
  FatVolume volume = Open();
  // mkfs.fat made a label entry; FAT12 floppies have 224 root entries, FAT16 512.
  const int free = (GetParam() == 12 ? 224 : 512) - 1;
  for (int i = 0; i < free; ++i) volume.WriteFile("F" + std::to_string(i), {}, 1700000000);
  const std::string before = ImageBytes(image_);
  EXPECT_THROW(volume.WriteFile("ONE.MORE", {}, 1700000000), FatError);
  EXPECT_THROW(volume.MakeDirectory("Another Dir", 1700000000), FatError);
  EXPECT_TRUE(ImageBytes(image_) == before);
  // Replacing and renaming in place still work.
  volume.WriteFile("f7", Bytes(std::string("seven")), 1700000000);
  volume.Rename("F8", "G8");
  EXPECT_EQ(ReadAll(volume, "F7"), "seven");
  ExpectClean(image_);
}

TEST_P(Fat32Test, WithoutMirroringUsesTheActiveFatOnly) {
  {
    std::fstream file(image_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(40);
    file.put(static_cast<char>(0x81));  // mirroring off, FAT 1 active
  }
  const std::string b = ImageBytes(image_);
  const size_t fatStart = (static_cast<uint8_t>(b[14]) | (static_cast<uint8_t>(b[15]) << 8)) * 512u;
  const size_t fatSize = (static_cast<uint8_t>(b[36]) | (static_cast<uint8_t>(b[37]) << 8)) * 512u;
  FatVolume volume = Open();
  volume.WriteFile("Only In Fat One.txt", Bytes(Pattern(3000, 6)), 1700000000);
  EXPECT_TRUE(ReadAll(volume, "Only In Fat One.txt") == Pattern(3000, 6));
  const std::string after = ImageBytes(image_);
  EXPECT_TRUE(after.substr(fatStart, fatSize) == b.substr(fatStart, fatSize));
  EXPECT_FALSE(after.substr(fatStart + fatSize, fatSize) == b.substr(fatStart + fatSize, fatSize));
}

TEST_P(FatVolumeTest, NamesWindowsRefusesOrTrims) {
  FatVolume volume = Open();
  EXPECT_THROW(volume.WriteFile("a*b.txt", {}, 0), FatError);
  EXPECT_THROW(volume.WriteFile("...", {}, 0), FatError);
  EXPECT_THROW(volume.WriteFile(std::string(256, 'x'), {}, 0), FatError);
  EXPECT_THROW(volume.WriteFile(std::string("bad\xFF"), {}, 0), FatError);
  volume.WriteFile(std::string(255, 'y'), {}, 0);
  EXPECT_EQ(volume.Stat(std::string(255, 'Y'))->shortName, "YYYYYY~1");
  volume.WriteFile("trailing dots. . ", Bytes(std::string("t")), 0);
  EXPECT_EQ(volume.List("").back().longName, "trailing dots");
  EXPECT_EQ(volume.List("").back().shortName, "TRAILI~1");
  ExpectClean(image_);
}

TEST_P(FatVolumeTest, OemCodePageAndCaseFolding) {
  {
    FatVolume volume = Open(OemCodePage(850));
    volume.WriteFile("Café Menu.txt", Bytes(std::string("menu")), 1700000000);
    EXPECT_EQ(volume.Stat("Café Menu.txt")->shortName, "CAFÉME~1.TXT");
    EXPECT_EQ(ReadAll(volume, "CAFÉ MENU.TXT"), "menu");
    EXPECT_EQ(ReadAll(volume, "caféme~1.txt"), "menu");
  }
  ExpectClean(image_);
  FatVolume volume = Open(OemCodePage(437));
  // "É" is 0x90 in both code pages; "À" is only in 850.
  volume.WriteFile("Àpropos.txt", Bytes(std::string("x")), 1700000000);
  EXPECT_EQ(volume.Stat("Àpropos.txt")->shortName, "_PROPO~1.TXT");
  EXPECT_THROW(OemCodePage(1252), FatError);
  EXPECT_THROW(volume.WriteFile("bad:name", {}, 0), FatError);
}

TEST_P(FatVolumeTest, KillDuringReplaceLeavesOldOrNew) {
  const std::string oldText = Pattern(1300, 4);
  const std::string newText = Pattern(2100, 5);
  {
    FatVolume volume = Open();
    volume.MakeDirectory("Windows Profiles", 1700000000);
    volume.WriteFile("Windows Profiles\\User Registry.dat", Bytes(oldText), 1700000000);
    // 14 of the 16 slots of a 512-byte cluster taken: the next long name goes to a new cluster.
    for (int i = 0; i < 4; ++i) {
      volume.WriteFile("Windows Profiles\\Filler " + std::to_string(i) + ".txt", {}, 1700000000);
    }
    volume.WriteFile("Windows Profiles\\F.TXT", {}, 1700000000);
  }
  const fs::path pristine = dir_.Path() / "pristine.img";
  fs::copy_file(image_, pristine);
  bool finished = false;
  for (int budget = 0; !finished; ++budget) {
    fs::copy_file(pristine, image_, fs::copy_options::overwrite_existing);
    {
      KilledDevice device(image_, budget);
      FatVolume volume(device, "disk.img");
      try {
        volume.WriteFile("Windows Profiles\\User Registry.dat", Bytes(newText), 1700000100);
        volume.WriteFile("Windows Profiles\\A New Long Name.txt", Bytes(newText), 1700000100);
        volume.Rename("Windows Profiles\\User Registry.dat", "User Registry Old.dat");
        volume.Rename("Windows Profiles\\A New Long Name.txt", "NEWNAME.TXT");
        finished = true;
      } catch (const BlockDeviceError&) {
      }
    }
    FatVolume volume = Open();
    const bool renamed = volume.Stat("Windows Profiles\\User Registry Old.dat").has_value();
    EXPECT_NE(renamed, volume.Stat("Windows Profiles\\User Registry.dat").has_value());
    const std::string now = ReadAll(volume, renamed ? "Windows Profiles\\User Registry Old.dat"
                                                    : "Windows Profiles\\User Registry.dat");
    EXPECT_TRUE(now == oldText || now == newText) << "after " << budget << " writes";
    const bool added = volume.Stat("Windows Profiles\\A New Long Name.txt").has_value();
    const bool addedRenamed = volume.Stat("Windows Profiles\\NEWNAME.TXT").has_value();
    EXPECT_FALSE(added && addedRenamed);
    if (added || addedRenamed) {
      EXPECT_TRUE(ReadAll(volume, added ? "Windows Profiles\\A New Long Name.txt"
                                        : "Windows Profiles\\NEWNAME.TXT") == newText);
    }
    for (const std::string& line : FsckDamage(image_)) {
      ADD_FAILURE() << "after " << budget << " writes: " << line;
    }
  }
}

TEST_P(FatVolumeTest, MoveBetweenDirectoriesNeverLosesTheFile) {
  const std::string text = Pattern(3000, 7);
  constexpr int64_t kTime = 1700000000;
  {
    FatVolume volume = Open();
    volume.MakeDirectory("Old Stuff", kTime);
    volume.MakeDirectory("RECYCLED", kTime);
    volume.WriteFile("Old Stuff\\Long Report Name.doc", Bytes(text), kTime, fat_attr::kReadOnly);
    volume.WriteFile("RECYCLED\\Dc0.doc", {}, kTime);
    EXPECT_THROW(volume.Move("Old Stuff", "RECYCLED\\Dc1"), FatError);
    EXPECT_THROW(volume.Move("Old Stuff\\Long Report Name.doc", "recycled\\DC0.DOC"), FatError);
    EXPECT_THROW(volume.Move("Old Stuff\\missing.doc", "RECYCLED\\Dc1.doc"), FatError);
  }
  const fs::path pristine = dir_.Path() / "pristine.img";
  fs::copy_file(image_, pristine);
  const std::string from = "Old Stuff\\Long Report Name.doc";
  const std::string to = "RECYCLED\\Dc1.doc";
  bool finished = false;
  for (int budget = 0; !finished; ++budget) {
    fs::copy_file(pristine, image_, fs::copy_options::overwrite_existing);
    {
      KilledDevice device(image_, budget);
      FatVolume volume(device, "disk.img");
      try {
        volume.Move(from, to);
        finished = true;
      } catch (const BlockDeviceError&) {
      }
    }
    FatVolume volume = Open();
    const bool there = volume.Stat(from).has_value();
    const bool moved = volume.Stat(to).has_value();
    ASSERT_TRUE(there || moved) << "the file was lost after " << budget << " writes";
    EXPECT_TRUE(ReadAll(volume, moved ? to : from) == text);
    // A kill between the two entries leaves one chain under both; else fsck finds nothing.
    if (there != moved) {
      for (const std::string& line : FsckDamage(image_)) {
        ADD_FAILURE() << "after " << budget << " writes: " << line;
      }
    }
  }
  FatVolume volume = Open();
  EXPECT_FALSE(volume.Stat(from));
  EXPECT_EQ(volume.Stat(to)->attributes, fat_attr::kReadOnly | fat_attr::kArchive);
  EXPECT_EQ(volume.Stat(to)->shortName, "DC1.DOC");
  ExpectClean(image_);
  const auto listing = Mtools("mdir", image_, {"::/RECYCLED"});
  EXPECT_NE(listing.out.find("Dc1.doc"), std::string::npos) << listing.out;
  EXPECT_TRUE(Extract(image_, "/RECYCLED/Dc1.doc") == text);
  EXPECT_EQ(Mtools("mdir", image_, {"::/Old Stuff"}).out.find("Long Report"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Types, FatVolumeTest, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Types, FixedRootTest, ::testing::Values(12, 16),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Types, Fat32Test, ::testing::Values(32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

// A damaged volume is reported and never written.
class FatDamageTest : public FatVolumeTest {
 protected:
  void Patch(uint64_t offset, std::vector<uint8_t> bytes) {
    std::fstream file(image_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  uint64_t FatOffset() {
    const std::string b = ImageBytes(image_).substr(0, 512);
    return static_cast<uint64_t>(static_cast<uint8_t>(b[14]) | (static_cast<uint8_t>(b[15]) << 8)) *
           512;
  }
};

TEST_P(FatDamageTest, BadBootSector) {
  Patch(510, {0, 0});
  EXPECT_THROW(Open(), FatDamagedError);
  Patch(510, {0x55, 0xAA});
  Patch(13, {3});  // three sectors per cluster
  EXPECT_THROW(Open(), FatDamagedError);
}

TEST_P(FatDamageTest, LoopingOrStrayFatIsReportedAndNotWritten) {
  uint32_t first = 0;
  uint32_t dirCluster = 0;
  {
    FatVolume volume = Open();
    volume.WriteFile("file.bin", Bytes(Pattern(20000, 3)), 1700000000);
    volume.MakeDirectory("Sub Dir", 1700000000);
    first = volume.Stat("file.bin")->firstCluster;
    dirCluster = volume.Stat("Sub Dir")->firstCluster;
  }
  // Each entry points to itself.
  auto selfLoop = [&](uint32_t cluster) -> std::pair<uint64_t, std::vector<uint8_t>> {
    switch (GetParam()) {
      case 12: {
        const std::string b = ImageBytes(image_);
        const uint64_t at = FatOffset() + cluster + cluster / 2;
        uint32_t pair = static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8);
        pair = (cluster & 1) != 0 ? (pair & 0xF) | (cluster << 4) : (pair & 0xF000) | cluster;
        return {at, {static_cast<uint8_t>(pair), static_cast<uint8_t>(pair >> 8)}};
      }
      case 16:
        return {FatOffset() + cluster * 2,
                {static_cast<uint8_t>(cluster), static_cast<uint8_t>(cluster >> 8)}};
      default:
        return {FatOffset() + cluster * 4,
                {static_cast<uint8_t>(cluster), static_cast<uint8_t>(cluster >> 8),
                 static_cast<uint8_t>(cluster >> 16), 0}};
    }
  };
  const auto [fileAt, fileBytes] = selfLoop(first);
  Patch(fileAt, fileBytes);
  const auto [dirAt, dirBytes] = selfLoop(dirCluster);
  Patch(dirAt, dirBytes);
  const std::string damaged = ImageBytes(image_);
  FatVolume volume = Open();
  EXPECT_THROW(volume.List("Sub Dir"), FatDamagedError);
  EXPECT_THROW(volume.Remove("file.bin"), FatDamagedError);
  EXPECT_THROW(volume.WriteFile("other.txt", {}, 0), FatDamagedError);
  EXPECT_TRUE(ImageBytes(image_) == damaged);

  // A chain that points past the last cluster.
  const uint32_t outside = GetParam() == 12 ? 0xFF0 : GetParam() == 16 ? 0xFFF0 : 0x0FFFFFF0;
  if (GetParam() == 12) {
    const std::string b = ImageBytes(image_);
    uint32_t pair = static_cast<uint8_t>(b[fileAt]) | (static_cast<uint8_t>(b[fileAt + 1]) << 8);
    pair = (first & 1) != 0 ? (pair & 0xF) | (outside << 4) : (pair & 0xF000) | outside;
    Patch(fileAt, {static_cast<uint8_t>(pair), static_cast<uint8_t>(pair >> 8)});
  } else if (GetParam() == 16) {
    Patch(fileAt, {0xF0, 0xFF});
  } else {
    Patch(fileAt, {0xF0, 0xFF, 0xFF, 0x0F});
  }
  FatVolume reopened = Open();
  EXPECT_THROW(ReadAll(reopened, "file.bin"), FatDamagedError);
}

TEST_P(FatDamageTest, DirectoryLoopingToItsParentIsReported) {
  uint32_t outer = 0;
  {
    FatVolume volume = Open();
    volume.MakeDirectory("Outer", 1700000000);
    volume.MakeDirectory("Outer\\INNER", 1700000000);
    outer = volume.Stat("Outer")->firstCluster;
  }
  const std::string bytes = ImageBytes(image_);
  const size_t at = bytes.find("INNER      \x10");
  ASSERT_NE(at, std::string::npos);
  Patch(at + 26, {static_cast<uint8_t>(outer), static_cast<uint8_t>(outer >> 8)});
  FatVolume volume = Open();
  EXPECT_THROW(volume.Stat("Outer\\Inner\\Inner\\file.txt"), FatDamagedError);
  EXPECT_THROW(volume.MakeDirectory("Outer\\New", 0), FatDamagedError);
}

INSTANTIATE_TEST_SUITE_P(Types, FatDamageTest, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

}  // namespace
}  // namespace tarnwick
