// The demo disk image, judged by the tools people use on emulators' images: sfdisk, qemu-img,
// fsck.fat, mtools, and the registry and shortcut readers on files taken out with mtype.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <span>
#include <string>

#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "support/independent_readers.h"
#include "support/lnkinfo.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/image_tools.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartition = "@@32256";  // sector 63

// What mtools prints for a path of the image's partition.
std::string Mtools(const char* tool, const fs::path& image, const std::string& path) {
  const ProgramRun run = RunProgram({tool, "-i", image.string() + kPartition, path});
  EXPECT_EQ(run.status, 0) << tool << " " << path << ": " << run.err;
  return run.out;
}

void Extract(const fs::path& image, const std::string& path, const fs::path& to) {
  Tool({"mcopy", "-n", "-i", image.string() + kPartition, path, to.string()});
}

class DemoImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.Path() / "emulator" / "win95.img";
    const Machine machine = OpenOrCreateImage(image_);
    EXPECT_EQ(machine.WindowsDirectory(), "C:\\WINDOWS");
    ASSERT_EQ(machine.Drives().size(), 1u);
    EXPECT_EQ(machine.Drives()[0].label, "SYSTEM");
    EXPECT_TRUE(ExistingFile(machine, machine.ProgramPath()));
  }

  TempMachineDir dir_;
  fs::path image_;
};

TEST_F(DemoImageTest, IsASparsePartitionedRawDiskTheToolsRead) {
  struct stat info {};
  ASSERT_EQ(stat(image_.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 256 << 20);
  EXPECT_LT(info.st_blocks * 512, 4 << 20);  // only what was written takes room

  const ProgramRun qemu = RunProgram({"qemu-img", "info", image_.string()});
  EXPECT_NE(qemu.out.find("file format: raw"), std::string::npos) << qemu.out << qemu.err;
  const ProgramRun dump = RunProgram({"sfdisk", "-d", image_.string()});
  EXPECT_NE(dump.out.find("start=          63, size=      524097, type=6, bootable"),
            std::string::npos)
      << dump.out << dump.err;

  // fsck.fat checks a volume, not a partition of a disk: a sparse copy of the partition.
  const fs::path volume = dir_.Path() / "volume.img";
  Tool({"dd", "if=" + image_.string(), "of=" + volume.string(), "bs=512", "skip=63", "count=524097",
        "conv=sparse", "status=none"});
  const ProgramRun fsck = RunProgram({"fsck.fat", "-n", "-v", volume.string()});
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  EXPECT_NE(fsck.out.find("4096 bytes per cluster"), std::string::npos) << fsck.out;
  EXPECT_EQ(fsck.out.find("Lost"), std::string::npos) << fsck.out;
}

TEST_F(DemoImageTest, HoldsTheDemoMachineWithLongNamesAttributesAndReadableFiles) {
  const std::string root = Mtools("mdir", image_, "::/");
  EXPECT_NE(root.find("Volume in drive : is SYSTEM"), std::string::npos) << root;
  EXPECT_NE(root.find("PROGRA~1     <DIR>"), std::string::npos) << root;
  EXPECT_NE(root.find("Program Files"), std::string::npos) << root;
  const std::string windows = Mtools("mdir", image_, "::/WINDOWS");
  for (const char* entry :
       {"SYSTEM   DAT", "USER     DAT", "WIN      INI", "NOTEPAD  EXE", "STARTM~1     <DIR>"}) {
    EXPECT_NE(windows.find(entry), std::string::npos) << entry << "\n" << windows;
  }
  EXPECT_NE(Mtools("mattrib", image_, "::/MSDOS.SYS").find("SHR"), std::string::npos);
  const std::string msdosSys = Mtools("mtype", image_, "::/MSDOS.SYS");
  EXPECT_NE(msdosSys.find("[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\n"
                          "HostWinBootDrv=C\r\n"),
            std::string::npos)
      << msdosSys;

  for (const char* hive : {"SYSTEM.DAT", "USER.DAT"}) {
    const fs::path file = dir_.Path() / hive;
    Extract(image_, std::string("::/WINDOWS/") + hive, file);
    const ReaderOutput creg = ReadWithCregexport(file);
    EXPECT_TRUE(creg.ok()) << hive << ": " << creg.diagnostics;
    EXPECT_GT(creg.keys.size(), 10u) << hive;
  }

  const fs::path link = dir_.Path() / "WordPad.lnk";
  Extract(image_, "::/WINDOWS/Start Menu/Programs/Accessories/WordPad.lnk", link);
  const std::string shown = Lnkinfo(link);
  EXPECT_EQ(LnkField(shown, "Local path"), "C:\\Program Files\\Accessories\\WORDPAD.EXE");
  EXPECT_EQ(LnkField(shown, "Volume label"), "SYSTEM");
  EXPECT_NE(Mtools("mdir", image_, "::/TARNEX/UserIcon").find("Girl.ico"), std::string::npos);
}

// Every file and folder below path on the machine, with its bytes; shortcuts by size only, as
// they record the times of their targets.
void Walk(const Machine& machine, const std::string& path,
          std::map<std::string, std::string>& tree) {
  for (const VolumeEntry& entry : machine.List(path)) {
    const std::string child = path + "\\" + entry.name;
    if (entry.IsDirectory()) {
      tree[child] = "<dir>";
      Walk(machine, child, tree);
    } else if (child.ends_with(".lnk")) {
      tree[child] = std::to_string(entry.size);
    } else {
      const std::vector<uint8_t> bytes = machine.ReadFile(child, 1 << 20);
      tree[child] = std::string(bytes.begin(), bytes.end());
    }
  }
}

TEST_F(DemoImageTest, HoldsWhatADemoDirectoryHolds) {
  std::map<std::string, std::string> onImage;
  std::map<std::string, std::string> inDirectory;
  Walk(Machine::OpenImage(image_), "C:", onImage);
  Walk(OpenOrCreateMachine(dir_.Path() / "machine"), "C:", inDirectory);
  EXPECT_EQ(onImage, inDirectory);
  EXPECT_GT(onImage.size(), 50u);
}

TEST_F(DemoImageTest, AnExistingImageIsOpenedAndNeverReplaced) {
  {
    const Machine machine = OpenOrCreateImage(image_);
    const std::string text = "kept";
    machine.WriteFile("C:\\WINDOWS\\marker.txt",
                      std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  const std::string before = RunProgram({"sha256sum", image_.string()}).out;
  CreateDemoImage(image_);
  EXPECT_EQ(RunProgram({"sha256sum", image_.string()}).out, before);
  EXPECT_TRUE(ExistingFile(OpenOrCreateImage(image_), "C:\\WINDOWS\\marker.txt"));
  // Nothing of the construction is left beside the image.
  EXPECT_EQ(std::distance(fs::directory_iterator(image_.parent_path()), fs::directory_iterator()),
            1);
}

TEST(DemoImageCreationTest, ANameOfAnotherFormatIsRefusedUnmade) {
  const TempMachineDir dir;
  for (const char* name : {"win95.vhd", "WIN95.VHD", "win95.qcow2", "win95.vmdk"}) {
    try {
      CreateDemoImage(dir.Path() / name);
      ADD_FAILURE() << name << " was made";
    } catch (const MachineError& e) {
      EXPECT_NE(std::string(e.what()).find("qemu-img convert -O vpc"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
}  // namespace tarnwick::test
