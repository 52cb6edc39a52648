// A machine whose drives are FAT volumes in disk images, judged by mtools and fsck.fat.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "machine/machine.h"
#include "machine/machine_commit.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/image_tools.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using test::kMiB;
using test::RunProgram;
using test::Tool;
using test::WriteText;

constexpr uint64_t kOffset = 2048 * 512;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

class ImageMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.Path() / "c.img";
    test::MakePartitionedDisk(image_, 40 * kMiB, "start=2048, type=6\n");
    test::MakeFat(image_, kOffset, 40 * kMiB / 512 - 2048, "WIN95");
    Tool({"mmd", "-i", Drive(), "::/Program Files"});
  }

  std::string Drive() const { return image_.string() + "@@" + std::to_string(kOffset); }

  void WriteIni(const std::string& drive) {
    WriteText(dir_.Path() / "machine.ini", "[Drive C]\nType=fixed\n" + drive);
  }

  std::string MType(const std::string& path) const {
    const test::ProgramRun run = RunProgram({"mtype", "-i", Drive(), path});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }

  void ExpectClean() const {
    const test::ProgramRun run = test::CheckFat(image_, kOffset);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
  }

  test::TempMachineDir dir_;
  fs::path image_;
};

TEST_F(ImageMachineTest, FilesByWindowsPathGoToTheVolume) {
  WriteIni("Image=c.img\n");
  const Machine machine = Machine::Open(dir_.Path());
  const DriveInfo& drive = *machine.FindDrive('C');
  EXPECT_EQ(drive.label, "WIN95");
  EXPECT_NE(drive.serial, 0u);
  EXPECT_EQ(machine.LookUp("C:\\WINDOWS").status, PathStatus::OnImage);
  EXPECT_FALSE(machine.HostPath("C:\\Readme file.txt"));

  // The alias and any letter case name the same entry.
  EXPECT_TRUE(ExistingDirectory(machine, "C:\\PROGRA~1"));
  EXPECT_TRUE(ExistingDirectory(machine, "c:\\program files"));
  EXPECT_EQ(Text(machine.ReadFile("C:\\README~1.TXT", 1000)), "A file of WIN95\r\n");

  EXPECT_TRUE(machine.MakeDirectory("C:\\PROGRA~1\\Accessories"));
  EXPECT_FALSE(machine.MakeDirectory("C:\\Program Files\\ACCESSORIES"));
  machine.WriteFile("C:\\Program Files\\Accessories\\A long name.txt", Bytes("new"));
  machine.WriteFile("C:\\Program Files\\Accessories\\A long name.txt", Bytes("newer"));
  EXPECT_EQ(MType("::/Program Files/Accessories/A long name.txt"), "newer");
  const auto entry = machine.Stat("C:\\Program Files\\Accessories\\A long name.txt");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->shortName, "ALONGN~1.TXT");
  EXPECT_EQ(entry->size, 5u);
  ASSERT_EQ(machine.List("C:\\Program Files").size(), 1u);

  EXPECT_THROW(machine.ReadFile("C:\\Program Files\\Accessories\\A long name.txt", 2),
               FileReadError);
  EXPECT_THROW(machine.WriteFile("C:\\Missing\\x.txt", Bytes("x")), FileWriteError);
  EXPECT_THROW(machine.WriteFile("C:\\..\\x.txt", Bytes("x")), FileWriteError);

  machine.RemoveTree("C:\\Program Files");
  EXPECT_FALSE(machine.Stat("C:\\Program Files"));
  ExpectClean();
}

TEST_F(ImageMachineTest, ReadOnlyFilesRefuseReplacementAndRemoval) {
  WriteIni("Image=c.img\n");
  Tool({"mattrib", "-i", Drive(), "+r", "::/Readme file.txt"});
  const Machine machine = Machine::Open(dir_.Path());
  EXPECT_THROW(machine.WriteFile("C:\\Readme file.txt", Bytes("x")), FileWriteError);
  EXPECT_THROW(machine.RemoveTree("C:\\Readme file.txt"), FileWriteError);
  machine.WriteFile("C:\\Readme file.txt", Bytes("hive"), ReadOnlyFiles::Replace);
  EXPECT_EQ(MType("::/Readme file.txt"), "hive");
  EXPECT_TRUE(machine.Stat("C:\\Readme file.txt")->IsReadOnly());
  ExpectClean();
}

TEST_F(ImageMachineTest, DrivesMixHostDirectoriesAndImagesInOneCommit) {
  fs::create_directory(dir_.Path() / "d");
  WriteIni("Image=" + image_.string() +
           "\nPartition=1\nLabel=SYSTEM\n[Drive D]\nType=fixed\nPath=d\n");
  const Machine machine = Machine::Open(dir_.Path());
  EXPECT_EQ(machine.FindDrive('C')->label, "SYSTEM");
  MachineCommit commit(machine);
  commit.Stage("C:\\one.txt", Bytes("1"));
  commit.Stage("D:\\two.txt", Bytes("2"));
  commit.Stage("D:\\three.txt", Bytes("3"));
  commit.Commit();
  EXPECT_EQ(MType("::/one.txt"), "1");
  EXPECT_EQ(Text(machine.ReadFile("D:\\three.txt", 10)), "3");
  EXPECT_TRUE(fs::exists(dir_.Path() / "d" / "two.txt"));
  ExpectClean();
}

TEST_F(ImageMachineTest, BadImageSettingsAreRefusedByLine) {
  const auto refusal = [&](const std::string& drive) {
    WriteIni(drive);
    try {
      Machine::Open(dir_.Path());
    } catch (const MachineError& e) {
      return std::string(e.what());
    }
    return std::string("opened");
  };
  EXPECT_NE(refusal("Image=missing.img\n").find("line 3: the drive's image"), std::string::npos);
  EXPECT_NE(refusal("Image=c.img\nPartition=3\n").find("partition"), std::string::npos);
  EXPECT_NE(refusal("Image=c.img\nPartition=x\n").find("Partition must be a number"),
            std::string::npos);
  EXPECT_NE(refusal("Path=.\nImage=c.img\n").find("either Path= or Image="), std::string::npos);
  EXPECT_NE(refusal("Path=.\nPartition=1\n").find("only for a drive with Image="),
            std::string::npos);
  EXPECT_NE(refusal("Image=c.img\nCodePage=1252\n").find("437 or 850"), std::string::npos);

  // The image stays locked while a machine has it open.
  WriteIni("Image=c.img\n");
  const Machine first = Machine::Open(dir_.Path());
  EXPECT_NE(refusal("Image=c.img\n").find("Drive C:"), std::string::npos);
}

TEST_F(ImageMachineTest, AnOpenedImageTakesItsWindowsDirectoryFromMsdosSys) {
  {
    const Machine machine = Machine::OpenImage(image_);
    EXPECT_EQ(machine.WindowsDirectory(), "C:\\WINDOWS");
    EXPECT_EQ(machine.Directory(), fs::canonical(image_));
    machine.WriteFile("C:\\MSDOS.SYS",
                      Bytes("[Paths]\r\nWinDir=C:\\WIN95\\\r\nWinBootDir=C:\\WIN95\r\n"));
  }
  EXPECT_EQ(Machine::OpenImage(image_).WindowsDirectory(), "C:\\WIN95");
  EXPECT_THROW(Machine::OpenImage(dir_.Path() / "none.img"), MachineError);
}

}  // namespace
}  // namespace tarnwick
