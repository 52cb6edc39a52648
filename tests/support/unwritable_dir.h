// Test helper: a directory in which nothing can be created, renamed or removed while the object
// lives, also for root (whom file modes do not stop): root makes it immutable, others read-only.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_program.h"

namespace tarnwick::test {

class UnwritableDir {
 public:
  explicit UnwritableDir(std::filesystem::path dir) : dir_(std::move(dir)) {
    if (geteuid() == 0) {
      const ProgramRun run = RunProgram({"chattr", "+i", dir_.string()});
      EXPECT_EQ(run.status, 0) << run.err;
    } else {
      EXPECT_EQ(chmod(dir_.c_str(), 0555), 0) << dir_;
    }
    const std::filesystem::path probe = dir_ / "unwritable.probe";
    EXPECT_FALSE(std::ofstream(probe).is_open()) << dir_ << " is still writable";
  }
  ~UnwritableDir() {
    if (geteuid() == 0) {
      RunProgram({"chattr", "-i", dir_.string()});
    } else {
      chmod(dir_.c_str(), 0755);
    }
  }
  UnwritableDir(const UnwritableDir&) = delete;
  UnwritableDir& operator=(const UnwritableDir&) = delete;

 private:
  std::filesystem::path dir_;
};

}  // namespace tarnwick::test
