// Disk images made for the tests with the tools people use (sfdisk, mkfs.fat, mtools, qemu-img),
// and a differencing VHD child, which qemu-img does not make.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace tarnwick::test {

constexpr uint64_t kMiB = 1024 * 1024;

// Runs a tool; a failure fails the test with what it printed.
inline void Tool(std::vector<std::string> args, const std::filesystem::path& input = {}) {
  std::string line;
  for (const auto& arg : args) line += arg + " ";
  const ProgramRun run = RunProgram(std::move(args), input);
  ASSERT_EQ(run.status, 0) << line << "\n" << run.out << run.err;
}

inline std::vector<uint8_t> Bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void Patch(const std::filesystem::path& file, uint64_t offset,
                  const std::vector<uint8_t>& bytes) {
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// A sparse raw disk of `size` bytes partitioned by the sfdisk script.
inline void MakePartitionedDisk(const std::filesystem::path& image, uint64_t size,
                                const std::string& script) {
  Tool({"truncate", "-s", std::to_string(size), image.string()});
  const auto scriptFile = image.string() + ".sfdisk";
  WriteText(scriptFile, script);
  Tool({"sfdisk", "-q", image.string()}, scriptFile);
}

// A FAT volume of `sectors` sectors at byte offset `offset` of image, with a file on it.
inline void MakeFat(const std::filesystem::path& image, uint64_t offset, uint64_t sectors,
                    const std::string& label) {
  Tool({"mkfs.fat", "-n", label, "--offset", std::to_string(offset / 512), image.string(),
        std::to_string(sectors / 2)});
  const auto text = image.string() + ".txt";
  WriteText(text, "A file of " + label + "\r\n");
  Tool({"mcopy", "-i", image.string() + "@@" + std::to_string(offset), text, "::/Readme file.txt"});
}

// What fsck.fat -n says of the FAT volume at byte offset `offset` of image (dosfstools 4.2 has no
// --offset: the volume is copied out with dd first). Status 0 when it finds nothing.
inline ProgramRun CheckFat(const std::filesystem::path& image, uint64_t offset) {
  if (offset == 0) return RunProgram({"fsck.fat", "-n", image.string()});
  const std::string volume = image.string() + ".fsck";
  const ProgramRun copy = RunProgram({"dd", "if=" + image.string(), "of=" + volume, "bs=512",
                                      "skip=" + std::to_string(offset / 512), "status=none"});
  if (copy.status != 0) return copy;
  ProgramRun run = RunProgram({"fsck.fat", "-n", volume});
  std::filesystem::remove(volume);
  return run;
}

// Appends a differencing child of the VHD parent beside it, naming it by its relative path.
void MakeDifferencingChild(const std::filesystem::path& parent, const std::filesystem::path& child);

}  // namespace tarnwick::test
