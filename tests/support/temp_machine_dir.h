// A temporary directory for a test machine, removed with everything in it.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnwick::test {

class TempMachineDir {
 public:
  TempMachineDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnwick-machine-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error(pattern +
                               ": cannot create a temporary directory: " + std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TempMachineDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempMachineDir(const TempMachineDir&) = delete;
  TempMachineDir& operator=(const TempMachineDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  void WriteFile(const std::filesystem::path& relative, std::string_view text) const {
    std::filesystem::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative, std::ios::binary) << text;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace tarnwick::test
