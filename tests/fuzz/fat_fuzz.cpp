// FAT volumes: boot sector, FAT and directories with long names. Reading never crashes or hangs
// on any image, damage is reported as such, and a file written to a volume that reads reads back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fat/fat_volume.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_fat.h"

namespace {

using namespace tarnwick;

constexpr int kMaxDepth = 6;
constexpr size_t kMaxEntries = 64;

void Walk(const FatVolume& volume, const std::string& dir, int depth) {
  const auto entries = volume.List(dir);
  for (size_t i = 0; i < entries.size() && i < kMaxEntries; ++i) {
    const FatEntry& entry = entries[i];
    const std::string path = dir + "\\" + entry.longName;
    if (entry.IsDirectory()) {
      if (depth < kMaxDepth) Walk(volume, path, depth + 1);
      continue;
    }
    // A damaged directory may hold two entries of one name, or a name with a separator: the
    // path leads to another entry or to none.
    const auto found = volume.Stat(path);
    if (!found || found->IsDirectory()) continue;
    uint64_t total = 0;
    volume.ReadFile(path, [&](std::span<const uint8_t> piece) { total += piece.size(); });
    fuzz::Check(total == found->size, "a file reads as many bytes as its entry gives");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryDevice device(std::vector<uint8_t>(data, data + size));
  try {
    FatVolume volume(device, "fuzz.img");
    Walk(volume, "", 0);
    const std::string text = "A file with a long name";
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()),
                                         text.size());
    const std::string name = "A New Long File Name.txt";
    volume.WriteFile(name, bytes, 1700000000);
    const auto written = volume.Stat(name);
    fuzz::Check(written && written->size == text.size(), "a written file has its size");
    std::string back;
    volume.ReadFile(
        name, [&](std::span<const uint8_t> piece) { back.append(piece.begin(), piece.end()); });
    fuzz::Check(back == text, "a written file reads back");
    volume.Rename(name, "Renamed.txt");
    fuzz::Check(!volume.Stat(name) && volume.Stat("RENAMED.TXT"),
                "a renamed file has its new name");
    volume.Remove("Renamed.txt");
    fuzz::Check(!volume.Stat("Renamed.txt"), "a removed file is gone");
  } catch (const Error&) {
  }
  return 0;
}
