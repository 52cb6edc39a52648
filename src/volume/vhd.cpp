#include "volume/vhd.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace tarnwick {

namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kUnused = 0xFFFFFFFF;
constexpr size_t kHeaderSize = 1024;
constexpr size_t kLocators = 576;
constexpr size_t kLocatorSize = 24;
// A parent locator longer than this is not a path.
constexpr uint32_t kMaxLocator = 4096;
// Beyond any chain of snapshots people keep; a longer one loops.
constexpr int kMaxDepth = 32;

uint32_t Be32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
         static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

uint64_t Be64(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint64_t>(Be32(bytes, at)) << 32 | Be32(bytes, at + 4);
}

void PutBe32(std::span<uint8_t> bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// UTF-16 in the given byte order, up to the first NUL, as UTF-8.
std::string Utf16ToUtf8(std::span<const uint8_t> bytes, bool bigEndian) {
  std::string out;
  auto unit = [&](size_t i) -> uint32_t {
    return bigEndian ? (bytes[2 * i] << 8 | bytes[2 * i + 1])
                     : (bytes[2 * i + 1] << 8 | bytes[2 * i]);
  };
  const size_t units = bytes.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t code = unit(i);
    if (code == 0) break;
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

bool AllZero(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

bool BitSet(std::span<const uint8_t> bitmap, uint64_t bit) {
  return (bitmap[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

}  // namespace

uint32_t VhdChecksum(std::span<const uint8_t> bytes, size_t checksumAt) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i < checksumAt || i >= checksumAt + 4) sum += bytes[i];
  }
  return ~sum;
}

bool HasVhdFooter(const BlockDevice& file) {
  if (file.Size() < VhdFooter::kSize) return false;
  std::array<uint8_t, 8> cookie{};
  file.Read(file.Size() - VhdFooter::kSize, cookie);
  return std::memcmp(cookie.data(), "conectix", 8) == 0;
}

VhdFooter ParseVhdFooter(std::span<const uint8_t> bytes, const std::string& name) {
  auto damaged = [&](const char* what) {
    return BlockDeviceError("The VHD image " + name + " is damaged: " + what + ".");
  };
  if (bytes.size() < VhdFooter::kSize || std::memcmp(bytes.data(), "conectix", 8) != 0) {
    throw damaged("its footer is missing");
  }
  if (Be32(bytes, 64) != VhdChecksum(bytes.first(VhdFooter::kSize), 64)) {
    throw damaged("the checksum of its footer is wrong");
  }
  VhdFooter footer;
  footer.dataOffset = Be64(bytes, 16);
  footer.currentSize = Be64(bytes, 48);
  const uint32_t type = Be32(bytes, 60);
  if (type < 2 || type > 4) throw damaged("its disk type is unknown");
  footer.type = static_cast<VhdType>(type);
  std::copy_n(bytes.begin() + 68, 16, footer.uniqueId.begin());
  footer.savedState = bytes[84] != 0;
  return footer;
}

VhdDevice::VhdDevice(std::unique_ptr<ImageFile> file) : VhdDevice(std::move(file), 0) {}

VhdDevice::VhdDevice(std::unique_ptr<ImageFile> file, int depth)
    : file_(std::move(file)), name_(file_->Path().string()) {
  Open(depth);
}

VhdDevice::~VhdDevice() = default;

void VhdDevice::Damaged(const std::string& what) const {
  throw BlockDeviceError("The VHD image " + name_ + " is damaged: " + what + ".");
}

void VhdDevice::Open(int depth) {
  const uint64_t fileSize = file_->Size();
  if (fileSize < VhdFooter::kSize) Damaged("it is too short");
  const uint64_t footerAt = fileSize - VhdFooter::kSize;
  file_->Read(footerAt, footerBytes_);
  footer_ = ParseVhdFooter(footerBytes_, name_);
  if (footer_.savedState && !file_->ReadOnly()) {
    throw ImageBusyError("The disk image " + name_ +
                         " holds the saved state of a running machine. Shut the machine down "
                         "first.");
  }
  size_ = footer_.currentSize;
  if (size_ % kSector != 0) Damaged("its disk size is not a whole number of sectors");
  if (footer_.type == VhdType::Fixed) {
    if (size_ > footerAt) Damaged("it is shorter than its disk");
    return;
  }

  std::array<uint8_t, kHeaderSize> header{};
  if (footer_.dataOffset > footerAt || kHeaderSize > footerAt - footer_.dataOffset) {
    Damaged("its dynamic disk header lies outside the file");
  }
  file_->Read(footer_.dataOffset, header);
  if (std::memcmp(header.data(), "cxsparse", 8) != 0) Damaged("its dynamic disk header is missing");
  if (Be32(header, 36) != VhdChecksum(header, 36)) {
    Damaged("the checksum of its dynamic disk header is wrong");
  }
  tableOffset_ = Be64(header, 16);
  const uint32_t entries = Be32(header, 28);
  blockSize_ = Be32(header, 32);
  if (blockSize_ < kSector || (blockSize_ & (blockSize_ - 1)) != 0 || blockSize_ > (1u << 28)) {
    Damaged("its block size is not valid");
  }
  const uint64_t needed = size_ / blockSize_ + (size_ % blockSize_ != 0 ? 1 : 0);
  if (needed > entries) Damaged("its block table is shorter than its disk");
  if (tableOffset_ > footerAt || needed * 4 > footerAt - tableOffset_) {
    Damaged("its block table lies outside the file");
  }
  std::vector<uint8_t> raw(needed * 4);
  file_->Read(tableOffset_, raw);
  table_.resize(needed);
  for (size_t i = 0; i < needed; ++i) table_[i] = Be32(raw, 4 * i);

  // Blocks must lie between the structures and the footer, apart from each other, so that a
  // write to one never lands on another or on the image's own structures.
  const uint64_t blockBytes = BitmapBytes() + blockSize_;
  std::vector<uint64_t> starts;
  for (const uint32_t entry : table_) {
    if (entry != kUnused) starts.push_back(uint64_t{entry} * kSector);
  }
  std::sort(starts.begin(), starts.end());
  const uint64_t tableEnd = tableOffset_ + needed * 4;
  for (size_t i = 0; i < starts.size(); ++i) {
    const uint64_t start = starts[i];
    const uint64_t end = start + blockBytes;
    const bool overlapsHeader =
        start < footer_.dataOffset + kHeaderSize && footer_.dataOffset < end;
    const bool overlapsTable = start < tableEnd && tableOffset_ < end;
    if (start < VhdFooter::kSize || end > footerAt || overlapsHeader || overlapsTable ||
        (i > 0 && starts[i - 1] + blockBytes > start)) {
      Damaged("a block of its block table lies outside its data area");
    }
  }
  if (footer_.type == VhdType::Differencing) OpenParent(header, depth);
}

void VhdDevice::OpenParent(std::span<const uint8_t> header, int depth) {
  if (depth >= kMaxDepth) Damaged("its chain of parent images is too long");
  const std::filesystem::path folder = file_->Path().parent_path();
  std::vector<std::filesystem::path> candidates;
  for (size_t i = 0; i < 8; ++i) {
    const size_t at = kLocators + kLocatorSize * i;
    const std::string code(reinterpret_cast<const char*>(&header[at]), 4);
    const uint32_t length = Be32(header, at + 8);
    const uint64_t offset = Be64(header, at + 16);
    const bool relative = code == "W2ru";
    if ((!relative && code != "MacX") || length == 0 || length > kMaxLocator ||
        offset > file_->Size() || length > file_->Size() - offset) {
      continue;
    }
    std::vector<uint8_t> data(length);
    file_->Read(offset, data);
    if (relative) {
      std::string path = Utf16ToUtf8(data, false);
      std::replace(path.begin(), path.end(), '\\', '/');
      candidates.insert(candidates.begin(), folder / path);
    } else {
      const std::string url(data.begin(), std::find(data.begin(), data.end(), 0));
      if (url.starts_with("file://")) candidates.push_back(url.substr(7));
    }
  }
  std::string unicodeName = Utf16ToUtf8(header.subspan(64, 512), true);
  std::replace(unicodeName.begin(), unicodeName.end(), '\\', '/');
  if (!unicodeName.empty()) {
    candidates.push_back(folder / std::filesystem::path(unicodeName).filename());
  }

  std::error_code error;
  const auto found = std::find_if(candidates.begin(), candidates.end(), [&](const auto& path) {
    return std::filesystem::is_regular_file(path, error);
  });
  if (found == candidates.end()) {
    throw BlockDeviceError("The parent image " + (unicodeName.empty() ? "" : unicodeName + " ") +
                           "of the VHD image " + name_ + " was not found.");
  }
  if (std::filesystem::equivalent(*found, file_->Path(), error)) Damaged("it is its own parent");
  auto parentFile = std::make_unique<ImageFile>(*found, ImageFile::Mode::ReadOnly);
  if (!HasVhdFooter(*parentFile)) {
    throw BlockDeviceError("The parent image " + found->string() + " of " + name_ +
                           " is not a VHD image.");
  }
  parent_.reset(new VhdDevice(std::move(parentFile), depth + 1));
  if (!std::equal(parent_->footer_.uniqueId.begin(), parent_->footer_.uniqueId.end(),
                  header.begin() + 40)) {
    throw BlockDeviceError("The parent image " + found->string() + " of " + name_ +
                           " has changed since the image was made from it.");
  }
  if (parent_->Size() != size_) Damaged("its parent image has another size");
}

uint64_t VhdDevice::BitmapBytes() const {
  const uint64_t bits = blockSize_ / kSector;
  return ((bits + 7) / 8 + kSector - 1) / kSector * kSector;
}

void VhdDevice::Read(uint64_t offset, std::span<uint8_t> out) const {
  if (offset > size_ || out.size() > size_ - offset) {
    throw BlockDeviceError("A read past the end of the disk in " + name_ + ".");
  }
  if (footer_.type == VhdType::Fixed) return file_->Read(offset, out);
  while (!out.empty()) {
    const size_t chunk =
        static_cast<size_t>(std::min<uint64_t>(out.size(), blockSize_ - offset % blockSize_));
    ReadInBlock(offset, out.first(chunk));
    offset += chunk;
    out = out.subspan(chunk);
  }
}

void VhdDevice::ReadInBlock(uint64_t offset, std::span<uint8_t> out) const {
  const uint32_t entry = table_[offset / blockSize_];
  const uint64_t inBlock = offset % blockSize_;
  if (entry == kUnused) {
    if (parent_) return parent_->Read(offset, out);
    std::fill(out.begin(), out.end(), 0);
    return;
  }
  const uint64_t data = uint64_t{entry} * kSector + BitmapBytes();
  if (!parent_) return file_->Read(data + inBlock, out);

  // A differencing block holds the sectors its bitmap marks; the others are the parent's.
  const uint64_t firstSector = inBlock / kSector;
  const uint64_t lastSector = (inBlock + out.size() - 1) / kSector;
  std::vector<uint8_t> bitmap(lastSector / 8 - firstSector / 8 + 1);
  file_->Read(uint64_t{entry} * kSector + firstSector / 8, bitmap);
  size_t done = 0;
  while (done < out.size()) {
    const uint64_t at = inBlock + done;
    const uint64_t sector = at / kSector;
    const bool mine = BitSet(bitmap, sector - firstSector / 8 * 8);
    uint64_t runEnd = sector + 1;
    while (runEnd <= lastSector && BitSet(bitmap, runEnd - firstSector / 8 * 8) == mine) ++runEnd;
    const size_t length =
        static_cast<size_t>(std::min<uint64_t>(runEnd * kSector - at, out.size() - done));
    const auto part = out.subspan(done, length);
    if (mine) {
      file_->Read(data + at, part);
    } else {
      parent_->Read(offset + done, part);
    }
    done += length;
  }
}

void VhdDevice::Write(uint64_t offset, std::span<const uint8_t> data) {
  if (offset > size_ || data.size() > size_ - offset) {
    throw BlockDeviceError("A write past the end of the disk in " + name_ + ".");
  }
  if (file_->ReadOnly()) {
    throw BlockDeviceError("The disk image " + name_ + " is open read-only.");
  }
  if (footer_.type == VhdType::Fixed) return file_->Write(offset, data);
  while (!data.empty()) {
    const size_t chunk =
        static_cast<size_t>(std::min<uint64_t>(data.size(), blockSize_ - offset % blockSize_));
    WriteInBlock(offset, data.first(chunk));
    offset += chunk;
    data = data.subspan(chunk);
  }
}

void VhdDevice::WriteInBlock(uint64_t offset, std::span<const uint8_t> data) {
  const uint64_t block = offset / blockSize_;
  const uint64_t inBlock = offset % blockSize_;
  const bool fresh = table_[block] == kUnused;
  if (fresh && !parent_ && AllZero(data)) return;
  const uint64_t start = fresh ? AllocateBlock() : uint64_t{table_[block]} * kSector;
  if (!parent_) {
    file_->Write(start + BitmapBytes() + inBlock, data);
  } else {
    // Whole sectors go to the child; a partial one takes the rest of its bytes from the disk
    // as it reads now.
    const uint64_t first = inBlock / kSector;
    const uint64_t end = (inBlock + data.size() + kSector - 1) / kSector;
    std::vector<uint8_t> sectors((end - first) * kSector);
    const uint64_t lead = inBlock - first * kSector;
    if (lead != 0 || sectors.size() != data.size()) {
      Read(offset - lead, sectors);
    }
    std::copy(data.begin(), data.end(), sectors.begin() + static_cast<ptrdiff_t>(lead));
    file_->Write(start + BitmapBytes() + first * kSector, sectors);
    std::vector<uint8_t> bitmap((end - 1) / 8 - first / 8 + 1);
    file_->Read(start + first / 8, bitmap);
    for (uint64_t sector = first; sector < end; ++sector) {
      bitmap[sector / 8 - first / 8] |= static_cast<uint8_t>(0x80 >> (sector % 8));
    }
    file_->Write(start + first / 8, bitmap);
  }
  if (!fresh) return;
  // The block's data is durable before the table points at it: a kill in between leaves an
  // unused block at the end of the file, never a table entry over garbage.
  file_->Flush();
  std::array<uint8_t, 4> entry{};
  PutBe32(entry, 0, static_cast<uint32_t>(start / kSector));
  file_->Write(tableOffset_ + block * 4, entry);
  table_[block] = static_cast<uint32_t>(start / kSector);
}

uint64_t VhdDevice::AllocateBlock() {
  const uint64_t footerAt = file_->Size() - VhdFooter::kSize;
  const uint64_t start = (footerAt + kSector - 1) / kSector * kSector;
  if (start / kSector >= kUnused) {
    throw BlockDeviceError("The VHD image " + name_ + " cannot grow further.");
  }
  const uint64_t end = start + BitmapBytes() + blockSize_;
  // The footer moves first, so that the file ends with a footer at every moment; the new block's
  // bitmap then covers the old one.
  file_->WriteExtending(end, footerBytes_);
  std::vector<uint8_t> bitmap(BitmapBytes(), parent_ ? 0x00 : 0xFF);
  file_->Write(start, bitmap);
  return start;
}

}  // namespace tarnwick
