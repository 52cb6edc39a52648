// A machine in a temporary directory, described by a machine.ini written by the test.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "machine/machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {

class TestMachine {
 public:
  // drives: the [Drive X] sections; each Path= directory is created below the machine.
  explicit TestMachine(const std::string& drives = DefaultDrives()) {
    Write("machine.ini",
          "[Machine]\nWindowsDirectory=C:\\WINDOWS\nProgramPath=C:\\TARNEX\\TARNEX.EXE\n" + drives);
    MakeDir("c/WINDOWS");
    MakeDir("c/TARNEX");
    for (size_t at = drives.find("Path="); at != std::string::npos;
         at = drives.find("Path=", at + 1)) {
      const std::string dir = drives.substr(at + 5, drives.find('\n', at) - at - 5);
      if (!dir.empty()) MakeDir(dir);
    }
  }

  static std::string DefaultDrives() {
    return "[Drive A]\nType=removable\n"
           "[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\n";
  }

  const Machine& Get() {
    if (!machine_) machine_ = std::make_unique<Machine>(Machine::Open(Dir()));
    return *machine_;
  }

  std::filesystem::path Dir() const { return dir_.Path(); }
  // A host path below the machine directory: "c/WINDOWS" is drive C's WINDOWS.
  std::filesystem::path Host(const std::string& relative) const { return Dir() / relative; }

  void MakeDir(const std::string& relative) const {
    std::filesystem::create_directories(Host(relative));
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(Host(relative).parent_path());
    std::ofstream(Host(relative), std::ios::binary) << content;
  }

 private:
  TempMachineDir dir_;
  std::unique_ptr<Machine> machine_;
};

}  // namespace tarnwick::test
