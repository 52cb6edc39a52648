// VHD images: opening any file either fails with an error or gives a disk whose reads stay
// inside it and whose writes read back, allocating blocks as needed.
#include <stdlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "volume/disk_image.h"

using namespace tarnwick;

namespace {

// A private folder for the image file, removed at exit.
class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vhd-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) fuzz::Fail("a temporary folder");
    path_ = pattern;
  }
  ~Folder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Folder folder;
  const auto image = folder.Path() / "disk.vhd";
  std::ofstream(image, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  try {
    auto disk = OpenDiskImage(image, ImageFile::Mode::ReadWrite);
    const uint64_t length = disk->Size();
    std::vector<uint8_t> buffer(std::min<uint64_t>(length, 1 << 16));
    disk->Read(0, buffer);
    disk->Read(length - buffer.size(), buffer);
    if (length >= 2048) {
      std::vector<uint8_t> pattern(1000);
      for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 1);
      for (const uint64_t at : {uint64_t{300}, length / 2 - 517, length - pattern.size()}) {
        disk->Write(at, pattern);
        std::vector<uint8_t> back(pattern.size());
        disk->Read(at, back);
        fuzz::Check(back == pattern, "a write reads back");
      }
      std::array<uint8_t, 1> past{};
      try {
        disk->Read(length, past);
        fuzz::Fail("a read past the end fails");
      } catch (const BlockDeviceError&) {
      }
    }
  } catch (const BlockDeviceError&) {
  }
  return 0;
}
