#include "volume/image_tools.h"

#include <array>

#include "volume/vhd.h"

namespace tarnwick::test {

namespace {

void PutBe(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
  }
}

}  // namespace

void MakeDifferencingChild(const std::filesystem::path& parent,
                           const std::filesystem::path& child) {
  const std::vector<uint8_t> parentBytes = Bytes(parent);
  std::vector<uint8_t> footer(parentBytes.end() - 512, parentBytes.end());
  uint64_t size = 0;
  for (size_t i = 48; i < 56; ++i) size = size << 8 | footer[i];
  constexpr uint32_t kBlock = 2 * kMiB;
  const uint64_t entries = (size + kBlock - 1) / kBlock;
  const uint64_t tableBytes = (entries * 4 + 511) / 512 * 512;
  const uint64_t locatorAt = 1536 + tableBytes;

  PutBe(footer, 16, 512, 8);
  PutBe(footer, 60, 4, 4);
  footer[68] ^= 0x5A;  // another unique id than the parent's
  PutBe(footer, 64, VhdChecksum(footer, 64), 4);

  const std::string name = parent.filename().string();
  std::vector<uint8_t> header(1024);
  std::copy_n("cxsparse", 8, header.begin());
  PutBe(header, 8, ~uint64_t{0}, 8);
  PutBe(header, 16, 1536, 8);
  PutBe(header, 24, 0x00010000, 4);
  PutBe(header, 28, entries, 4);
  PutBe(header, 32, kBlock, 4);
  std::copy_n(parentBytes.end() - 512 + 68, 16, header.begin() + 40);
  for (size_t i = 0; i < name.size(); ++i) header[64 + 2 * i + 1] = static_cast<uint8_t>(name[i]);
  std::vector<uint8_t> locator(512);
  const std::string relative = ".\\" + name;
  for (size_t i = 0; i < relative.size(); ++i) locator[2 * i] = static_cast<uint8_t>(relative[i]);
  std::copy_n("W2ru", 4, header.begin() + 576);
  PutBe(header, 580, 512, 4);
  PutBe(header, 584, 2 * relative.size(), 4);
  PutBe(header, 592, locatorAt, 8);
  PutBe(header, 36, VhdChecksum(header, 36), 4);

  std::vector<uint8_t> file(footer);
  file.insert(file.end(), header.begin(), header.end());
  file.resize(1536 + tableBytes, 0xFF);
  file.insert(file.end(), locator.begin(), locator.end());
  file.insert(file.end(), footer.begin(), footer.end());
  std::ofstream(child, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

}  // namespace tarnwick::test
