#include "support/image_machine.h"

#include <gtest/gtest.h>

namespace tarnwick::test {

namespace fs = std::filesystem;

namespace {

void Run(std::vector<std::string> args) {
  std::string line;
  for (const std::string& arg : args) line += arg + " ";
  const ProgramRun run = RunProgram(std::move(args));
  ASSERT_EQ(run.status, 0) << line << "\n" << run.out << run.err;
}

}  // namespace

ImageMachine::ImageMachine(int fatBits, const std::map<std::string, std::string>& files, Kind kind)
    : kind_(kind) {
  const fs::path raw = dir_.Path() / "c.img";
  // FAT32 needs 65525 clusters: one sector each on 36 MB.
  std::vector<std::string> mkfs = {"mkfs.fat", "-F",      std::to_string(fatBits), "-n", "WIN95",
                                   "-i",       "2A1B07C4"};
  if (fatBits == 32) mkfs.insert(mkfs.end(), {"-s", "1"});
  mkfs.insert(mkfs.end(), {"-C", raw.string(), fatBits == 12 ? "1440" : "36000"});
  Run(mkfs);
  const fs::path staging = dir_.Path() / "staging";
  fs::create_directories(staging);
  for (const auto& [path, content] : files) {
    if (path.ends_with('/')) {
      fs::create_directories(staging / path);
    } else {
      dir_.WriteFile(fs::path("staging") / path, content);
    }
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(staging)) {
    Run({"env", "MTOOLS_SKIP_CHECK=1", "mcopy", "-s", "-i", raw.string(), entry.path().string(),
         "::/"});
  }
  fs::remove_all(staging);
  std::string image = "c.img";
  if (kind == Kind::DynamicVhd) {
    Run({"qemu-img", "convert", "-f", "raw", "-O", "vpc", "-o", "subformat=dynamic", raw.string(),
         (dir_.Path() / "c.vhd").string()});
    fs::remove(raw);
    image = "c.vhd";
  }
  dir_.WriteFile("machine.ini",
                 "[Machine]\nWindowsDirectory=C:\\WINDOWS\nProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
                 "[Drive C]\nType=fixed\nImage=" +
                     image + "\n");
}

fs::path ImageMachine::Raw() const {
  if (kind_ == Kind::Raw) return dir_.Path() / "c.img";
  const fs::path raw = dir_.Path() / "c.raw";
  Run({"qemu-img", "convert", "-f", "vpc", "-O", "raw", (dir_.Path() / "c.vhd").string(),
       raw.string()});
  return raw;
}

ProgramRun ImageMachine::Mtools(const std::string& tool, std::vector<std::string> args) const {
  std::vector<std::string> command = {"env", "MTOOLS_SKIP_CHECK=1", tool, "-i", Raw().string()};
  command.insert(command.end(), args.begin(), args.end());
  return RunProgram(std::move(command));
}

std::string ImageMachine::Type(const std::string& path) const {
  const ProgramRun run = Mtools("mtype", {"::" + path});
  EXPECT_EQ(run.status, 0) << path << ": " << run.err;
  return run.out;
}

fs::path ImageMachine::Extract(const std::string& path) const {
  const fs::path file = dir_.Path() / fs::path(path).filename();
  const ProgramRun run = Mtools("mcopy", {"-n", "::" + path, file.string()});
  EXPECT_EQ(run.status, 0) << path << ": " << run.err;
  return file;
}

void ImageMachine::ExpectClean() const {
  const ProgramRun run = RunProgram({"fsck.fat", "-n", Raw().string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
}

}  // namespace tarnwick::test
