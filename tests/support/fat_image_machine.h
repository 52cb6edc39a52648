// Test helper: a machine whose drive C is a FAT volume in a disk image made with the tools people
// use (sfdisk, mkfs.fat, mtools, qemu-img), holding the demo machine's registry files; and what
// those tools find on the volume once the machine is closed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "support/independent_readers.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/image_tools.h"

namespace tarnwick::test {

// A raw disk partitioned by sfdisk with a FAT16 volume (opened through machine.ini's Image=), a
// FAT32 volume filling a raw image without a partition table, or the FAT16 disk converted to a
// dynamic VHD by qemu-img (both opened as Machine::OpenImage opens a file given on the command
// line).
enum class ImageKind { Fat16, Fat32, DynamicVhd };

inline std::string ImageKindName(const testing::TestParamInfo<ImageKind>& info) {
  switch (info.param) {
    case ImageKind::Fat16:
      return "Fat16";
    case ImageKind::Fat32:
      return "Fat32";
    case ImageKind::DynamicVhd:
      return "DynamicVhd";
  }
  return "Unknown";
}

class FatImageMachine {
 public:
  explicit FatImageMachine(ImageKind kind) : kind_(kind) {
    namespace fs = std::filesystem;
    const fs::path demo = temp_.Path() / "demo";
    CreateDemoMachine(demo);
    fs::create_directory(Dir());
    if (kind == ImageKind::Fat32) {
      Tool({"mkfs.fat", "-C", "-F", "32", "-s", "1", "-n", "SYSTEM", Raw().string(), "40960"});
    } else {
      MakePartitionedDisk(Raw(), 32 * kMiB, "start=2048, type=6\n");
      Tool({"mkfs.fat", "-F", "16", "-n", "SYSTEM", "--offset", "2048", Raw().string(), "31744"});
      offset_ = kMiB;
    }
    Mtools("mmd", {"::/WINDOWS"});
    const fs::path windows = demo / "c" / "WINDOWS";
    Mtools("mcopy",
           {(windows / "SYSTEM.DAT").string(), (windows / "USER.DAT").string(), "::/WINDOWS"});
    if (kind == ImageKind::Fat16) {
      std::ofstream(Dir() / "machine.ini")
          << "[Machine]\nWindowsDirectory=C:\\WINDOWS\nProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
             "[Drive C]\nType=fixed\nImage=disk.img\n";
    }
  }

  // The machine, opened on the image as it is now.
  const Machine& Get() {
    if (!machine_) {
      if (kind_ == ImageKind::DynamicVhd && rawChanged_) {
        std::filesystem::remove(Vhd());
        Tool({"qemu-img", "convert", "-f", "raw", "-O", "vpc", "-o", "subformat=dynamic",
              Raw().string(), Vhd().string()});
        rawChanged_ = false;
      }
      machine_ = std::make_unique<Machine>(kind_ == ImageKind::Fat16   ? Machine::Open(Dir())
                                           : kind_ == ImageKind::Fat32 ? Machine::OpenImage(Raw())
                                                                       : Machine::OpenImage(Vhd()));
    }
    return *machine_;
  }

  // Closes the machine, so that its image is unlocked; a VHD is read back into the raw disk the
  // tools below work on.
  void Close() {
    if (!machine_) return;
    machine_.reset();
    if (kind_ == ImageKind::DynamicVhd) {
      Tool({"qemu-img", "convert", "-f", "vpc", "-O", "raw", Vhd().string(), Raw().string()});
    }
  }

  // Runs an mtools program on the volume (the machine must be closed).
  ProgramRun Mtools(const std::string& tool, std::vector<std::string> args) {
    EXPECT_FALSE(machine_) << "mtools on an image the machine holds";
    std::vector<std::string> command = {"env", "MTOOLS_SKIP_CHECK=1", tool, "-i",
                                        Raw().string() + "@@" + std::to_string(offset_)};
    command.insert(command.end(), args.begin(), args.end());
    ProgramRun run = RunProgram(command);
    EXPECT_EQ(run.status, 0) << tool << ": " << run.out << run.err;
    if (tool != "mtype" && tool != "mdir") rawChanged_ = true;
    return run;
  }

  // The bytes of a file on the volume as mtype prints them, in a file of their own.
  std::filesystem::path Extract(const std::string& dosPath) {
    const std::filesystem::path file = temp_.Path() / ("extract-" + std::to_string(++extracts_));
    std::ofstream(file, std::ios::binary) << Mtools("mtype", {"::" + dosPath}).out;
    return file;
  }

  // Both independent readers read the file on the volume without a complaint; cregexport's
  // reading is returned.
  ReaderOutput ReadRegistryFile(const std::string& dosPath) {
    const std::filesystem::path file = Extract(dosPath);
    const ReaderOutput perl = ReadWithParseWin32Registry(file);
    EXPECT_TRUE(perl.ok()) << dosPath << ": " << perl.diagnostics;
    ReaderOutput creg = ReadWithCregexport(file);
    EXPECT_TRUE(creg.ok()) << dosPath << ": " << creg.diagnostics;
    EXPECT_EQ(FirstDifference(perl.keys, creg.keys), "") << dosPath;
    return creg;
  }

  // fsck.fat -n finds nothing wrong, and the FAT copies are equal.
  void ExpectClean() {
    std::ifstream disk(Raw(), std::ios::binary);
    disk.seekg(static_cast<std::streamoff>(offset_));
    std::vector<uint8_t> bytes(std::filesystem::file_size(Raw()) - offset_);
    disk.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::filesystem::path volume = temp_.Path() / "volume.img";
    std::ofstream(volume, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const ProgramRun fsck = RunProgram({"fsck.fat", "-n", volume.string()});
    EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
    EXPECT_EQ(fsck.out.find("differ"), std::string::npos) << fsck.out;
    const auto u16 = [&](size_t at) { return size_t{bytes[at]} | size_t{bytes[at + 1]} << 8; };
    const size_t fatSize = (u16(22) != 0 ? u16(22) : u16(36) | u16(38) << 16) * 512;
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(u16(14) * 512);
    const auto size = static_cast<std::ptrdiff_t>(fatSize);
    ASSERT_EQ(bytes[16], 2);
    EXPECT_TRUE(std::equal(first, first + size, first + size)) << "the FAT copies differ";
  }

  std::filesystem::path Dir() const { return temp_.Path() / "machine"; }

 private:
  std::filesystem::path Raw() const { return Dir() / "disk.img"; }
  std::filesystem::path Vhd() const { return Dir() / "disk.vhd"; }

  TempMachineDir temp_;
  ImageKind kind_;
  uint64_t offset_ = 0;
  bool rawChanged_ = true;
  int extracts_ = 0;
  std::unique_ptr<Machine> machine_;
};

}  // namespace tarnwick::test
