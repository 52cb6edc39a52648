#include "fat/fat_volume.h"

#include <algorithm>
#include <cstring>

#include "base/cp1252.h"

namespace tarnwick {

namespace {

constexpr size_t kEntrySize = 32;
constexpr uint64_t kMaxDirBytes = 65536 * kEntrySize;
constexpr size_t kLfnChars = 13;
constexpr size_t kMaxLongName = 255;
constexpr uint32_t kFsInfoUnknown = 0xFFFFFFFF;
constexpr size_t kFatBlock = 4096;
constexpr int kLfnOffsets[kLfnChars] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

void Put16(std::span<uint8_t> b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::span<uint8_t> b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    // A stray continuation byte or a sequence cut short: one replacement character.
    if ((c >= 0x80 && c < 0xC0) || extra >= text.size() - i) {
      if (c >= 0x80) {
        out.push_back(0xFFFD);
        ++i;
        continue;
      }
    }
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

std::string DecodeUtf16(const std::vector<char16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string EncodeUtf16(const std::u32string& text) {
  std::u16string out;
  for (char32_t cp : text) {
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Upper case as Windows 95 folds names: ASCII and the letters of code page 1252.
char32_t FoldChar(char32_t cp) {
  if (cp < 0x80) return static_cast<char32_t>(UpperCp1252(static_cast<char>(cp)));
  const auto ansi = CodePointToCp1252(cp);
  if (!ansi) return cp;
  const std::u32string folded = DecodeUtf8(Cp1252ToUtf8(std::string(1, UpperCp1252(*ansi))));
  return folded.empty() ? cp : folded.front();
}

std::u32string Fold(std::string_view utf8) {
  std::u32string text = DecodeUtf8(utf8);
  for (char32_t& c : text) c = FoldChar(c);
  return text;
}

bool IsLegalShortAscii(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c < 0x80 && c != 0 && std::strchr("$%'-@{}~!#()&_^`", static_cast<int>(c)) != nullptr;
}

uint8_t Checksum(std::span<const uint8_t> raw) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) {
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + raw[i]);
  }
  return sum;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The long name a new entry gets: valid UTF-8 without trailing dots and spaces, no character
// Windows forbids in names, at most 255 UTF-16 units.
std::u32string CheckedLongName(std::string_view name) {
  if (!IsValidUtf8(name)) throw FatError("A file name must be valid UTF-8");
  std::u32string text = DecodeUtf8(name);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  if (text.empty()) throw FatError("\"" + std::string(name) + "\" is not a valid file name");
  for (char32_t c : text) {
    if (c < 0x20 || (c < 0x80 && std::strchr("\\/:*?\"<>|", static_cast<int>(c)) != nullptr)) {
      throw FatError("\"" + std::string(name) + "\" is not a valid file name");
    }
  }
  if (EncodeUtf16(text).size() > kMaxLongName) {
    throw FatError("\"" + std::string(name) + "\" is longer than 255 characters");
  }
  return text;
}

}  // namespace

struct FatVolume::Dir {
  uint32_t firstCluster = 0;  // 0: the root
  std::vector<uint64_t> segments;
  uint64_t segmentSize = 0;
  std::vector<uint8_t> bytes;
  bool fixedRoot = false;

  size_t SlotCount() const { return bytes.size() / kEntrySize; }
  uint64_t SlotOffset(size_t i) const {
    return segments[i * kEntrySize / segmentSize] + (i * kEntrySize) % segmentSize;
  }
};

struct FatVolume::Slot {
  FatEntry entry;
  size_t first = 0;  // the first long-name slot, or index
  size_t index = 0;  // the short entry
  std::array<uint8_t, 11> raw{};
};

struct FatVolume::Listing {
  Dir dir;
  std::vector<Slot> slots;
};

struct FatVolume::Located {
  std::shared_ptr<const Listing> listing;  // of the parent directory
  const Slot* found = nullptr;             // in listing's slots
  std::string leaf;

  const Dir& Parent() const { return listing->dir; }
  const std::vector<Slot>& Slots() const { return listing->slots; }
};

FatVolume::FatVolume(BlockDevice& device, std::string name, OemCodePage codePage)
    : device_(device), name_(std::move(name)), codePage_(codePage) {
  if (device_.Size() < 512) Damaged("it is too small to hold a boot sector");
  std::array<uint8_t, 512> b{};
  device_.Read(0, b);
  if (b[510] != 0x55 || b[511] != 0xAA) Damaged("the boot sector has no signature");
  bytesPerSector_ = U16(b, 11);
  const uint32_t perCluster = b[13];
  const uint32_t reserved = U16(b, 14);
  fatCount_ = b[16];
  rootEntries_ = U16(b, 17);
  const uint64_t total = U16(b, 19) != 0 ? U16(b, 19) : U32(b, 32);
  const uint64_t fatSectors = U16(b, 22) != 0 ? U16(b, 22) : U32(b, 36);
  if (bytesPerSector_ != 512 && bytesPerSector_ != 1024 && bytesPerSector_ != 2048 &&
      bytesPerSector_ != 4096) {
    Damaged("the boot sector gives an invalid sector size");
  }
  if (perCluster == 0 || (perCluster & (perCluster - 1)) != 0 ||
      bytesPerSector_ * perCluster > 65536) {
    Damaged("the boot sector gives an invalid cluster size");
  }
  if (reserved == 0 || fatCount_ == 0 || fatSectors == 0 || total == 0) {
    Damaged("the boot sector gives an invalid layout");
  }
  clusterSize_ = bytesPerSector_ * perCluster;
  const uint64_t rootSectors = (rootEntries_ * kEntrySize + bytesPerSector_ - 1) / bytesPerSector_;
  const uint64_t meta = reserved + fatCount_ * fatSectors + rootSectors;
  if (meta >= total) Damaged("the boot sector gives an invalid layout");
  if (total * bytesPerSector_ > device_.Size()) Damaged("the volume is larger than its disk");
  const uint64_t clusters = (total - meta) / perCluster;
  type_ = clusters < 4085 ? FatType::Fat12 : clusters < 65525 ? FatType::Fat16 : FatType::Fat32;
  if (clusters == 0 || clusters > 0x0FFFFFF5) Damaged("the boot sector gives an invalid layout");
  clusterCount_ = static_cast<uint32_t>(clusters);
  fatOffset_ = uint64_t{reserved} * bytesPerSector_;
  fatBytes_ = fatSectors * bytesPerSector_;
  rootOffset_ = fatOffset_ + fatCount_ * fatBytes_;
  dataOffset_ = rootOffset_ + rootSectors * bytesPerSector_;
  const uint64_t bitsPerEntry = type_ == FatType::Fat12 ? 12 : type_ == FatType::Fat16 ? 16 : 32;
  if ((uint64_t{clusterCount_} + 2) * bitsPerEntry > fatBytes_ * 8) {
    Damaged("its FAT is too small for its clusters");
  }
  // The extended boot record: signature 0x29, then the serial and the label.
  const size_t extended = type_ == FatType::Fat32 ? 66 : 38;
  if (b[extended] == 0x29) {
    serial_ = U32(b, extended + 1);
    std::copy_n(b.begin() + static_cast<ptrdiff_t>(extended + 5), 11, bootLabel_.begin());
  } else {
    bootLabel_.fill(' ');
  }
  if (type_ == FatType::Fat32) {
    // BPB_ExtFlags bit 7: only the FAT numbered in bits 0-3 is in use; else all are mirrored.
    const uint16_t flags = U16(b, 40);
    if ((flags & 0x80) != 0) {
      activeFat_ = flags & 0x0F;
      mirrored_ = false;
      if (activeFat_ >= fatCount_) Damaged("the boot sector names a FAT it does not have");
    }
    rootEntries_ = 0;
    rootCluster_ = U32(b, 44) & 0x0FFFFFFF;
    if (rootCluster_ < 2 || rootCluster_ > clusterCount_ + 1) {
      Damaged("the boot sector names no valid root directory");
    }
    const uint16_t fsInfo = U16(b, 48);
    if (fsInfo != 0 && fsInfo != 0xFFFF && fsInfo < reserved) {
      std::array<uint8_t, 512> info{};
      device_.Read(uint64_t{fsInfo} * bytesPerSector_, info);
      if (U32(info, 0) == 0x41615252 && U32(info, 484) == 0x61417272) {
        fsInfoOffset_ = uint64_t{fsInfo} * bytesPerSector_;
        const uint32_t next = U32(info, 492);
        if (next >= 2 && next <= clusterCount_ + 1) nextFreeHint_ = next;
      }
    }
  } else if (rootEntries_ == 0) {
    Damaged("the boot sector gives no root directory");
  }
  if (!device_.ReadOnly() && mirrored_) MirrorFats();
}

void FatVolume::MirrorFats() {
  // A kill between the writes of one FAT entry's copies leaves the first copy ahead: an entry
  // allocated or freed there is still free or in use in the others. Where every difference is of
  // that kind, the others take the first, as fsck.fat takes it; any other difference is left for
  // the checks of the chains to report.
  constexpr uint64_t kBlock = 3 * 4 * 5461;  // whole FAT12, FAT16 and FAT32 entries
  const auto entry = [this](const std::vector<uint8_t>& block, size_t index) -> uint32_t {
    switch (type_) {
      case FatType::Fat12: {
        const size_t at = index + index / 2;
        const uint32_t pair = block[at] | (block[at + 1] << 8);
        return (index & 1) != 0 ? pair >> 4 : pair & 0x0FFF;
      }
      case FatType::Fat16:
        return block[index * 2] | (block[index * 2 + 1] << 8);
      case FatType::Fat32:
        break;
    }
    return (block[index * 4] | (block[index * 4 + 1] << 8) | (block[index * 4 + 2] << 16) |
            (static_cast<uint32_t>(block[index * 4 + 3]) << 24)) &
           0x0FFFFFFF;
  };
  const size_t entriesPerBlock = type_ == FatType::Fat12   ? kBlock * 2 / 3
                                 : type_ == FatType::Fat16 ? kBlock / 2
                                                           : kBlock / 4;
  std::vector<uint8_t> first;
  std::vector<uint8_t> other;
  std::vector<std::pair<uint32_t, uint64_t>> behind;  // copy and offset of each block to mirror
  for (uint64_t at = 0; at < fatBytes_; at += kBlock) {
    const size_t size = static_cast<size_t>(std::min(kBlock, fatBytes_ - at));
    first.resize(size);
    other.resize(size);
    device_.Read(fatOffset_ + at, first);
    const size_t entries = std::min(entriesPerBlock, size * entriesPerBlock / kBlock);
    for (uint32_t copy = 1; copy < fatCount_; ++copy) {
      device_.Read(fatOffset_ + copy * fatBytes_ + at, other);
      if (other == first) continue;
      for (size_t i = 0; i < entries; ++i) {
        const uint32_t a = entry(first, i);
        const uint32_t b = entry(other, i);
        if (a != b && a != 0 && b != 0) return;
      }
      behind.emplace_back(copy, at);
    }
  }
  for (const auto& [copy, at] : behind) {
    const size_t size = static_cast<size_t>(std::min(kBlock, fatBytes_ - at));
    first.resize(size);
    device_.Read(fatOffset_ + at, first);
    device_.Write(fatOffset_ + copy * fatBytes_ + at, first);
  }
  if (!behind.empty()) device_.Flush();
}

void FatVolume::Damaged(const std::string& what) const {
  damaged_ = true;
  throw FatDamagedError(name_ + " is damaged: " + what);
}

void FatVolume::CheckWritable() const {
  if (damaged_) throw FatDamagedError(name_ + " is damaged and is not written");
  if (device_.ReadOnly()) throw FatError(name_ + " is read-only");
}

uint8_t FatVolume::FatByte(uint64_t at) const {
  const uint64_t block = at / kFatBlock * kFatBlock;
  if (block != fatBlockOffset_) {
    fatBlock_.assign(std::min<uint64_t>(kFatBlock, fatBytes_ - block), 0);
    device_.Read(fatOffset_ + activeFat_ * fatBytes_ + block, fatBlock_);
    fatBlockOffset_ = block;
  }
  return fatBlock_[at - block];
}

uint32_t FatVolume::FatEntryAt(uint32_t cluster) const {
  switch (type_) {
    case FatType::Fat12: {
      const uint64_t at = cluster + cluster / 2;
      const uint32_t pair = FatByte(at) | (FatByte(at + 1) << 8);
      return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFF;
    }
    case FatType::Fat16:
      return FatByte(uint64_t{cluster} * 2) | (FatByte(uint64_t{cluster} * 2 + 1) << 8);
    case FatType::Fat32: {
      const uint64_t at = uint64_t{cluster} * 4;
      return (FatByte(at) | (FatByte(at + 1) << 8) | (FatByte(at + 2) << 16) |
              (static_cast<uint32_t>(FatByte(at + 3)) << 24)) &
             0x0FFFFFFF;
    }
  }
  return 0;
}

void FatVolume::SetFatEntry(uint32_t cluster, uint32_t value) {
  uint64_t at = 0;
  std::vector<uint8_t> bytes;
  switch (type_) {
    case FatType::Fat12: {
      at = cluster + cluster / 2;
      uint32_t pair = FatByte(at) | (FatByte(at + 1) << 8);
      pair = (cluster & 1) != 0 ? (pair & 0x000F) | (value << 4) : (pair & 0xF000) | value;
      bytes = {static_cast<uint8_t>(pair), static_cast<uint8_t>(pair >> 8)};
      break;
    }
    case FatType::Fat16:
      at = uint64_t{cluster} * 2;
      bytes = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
      break;
    case FatType::Fat32: {
      at = uint64_t{cluster} * 4;
      const uint32_t kept = static_cast<uint32_t>(FatByte(at + 3) & 0xF0) << 24;
      const uint32_t v = kept | (value & 0x0FFFFFFF);
      bytes = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
               static_cast<uint8_t>(v >> 24)};
      break;
    }
  }
  for (uint32_t copy = 0; copy < fatCount_; ++copy) {
    if (mirrored_ || copy == activeFat_) device_.Write(fatOffset_ + copy * fatBytes_ + at, bytes);
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (at + i >= fatBlockOffset_ && at + i < fatBlockOffset_ + fatBlock_.size()) {
      fatBlock_[at + i - fatBlockOffset_] = bytes[i];
    }
  }
}

bool FatVolume::IsEndOfChain(uint32_t value) const {
  switch (type_) {
    case FatType::Fat12:
      return value >= 0xFF8;
    case FatType::Fat16:
      return value >= 0xFFF8;
    case FatType::Fat32:
      return value >= 0x0FFFFFF8;
  }
  return true;
}

uint32_t FatVolume::EndOfChain() const {
  return type_ == FatType::Fat12 ? 0xFFF : type_ == FatType::Fat16 ? 0xFFFF : 0x0FFFFFFF;
}

uint64_t FatVolume::ClusterOffset(uint32_t cluster) const {
  return dataOffset_ + uint64_t{cluster - 2} * clusterSize_;
}

uint64_t FatVolume::CheckChain(uint32_t first) const {
  uint64_t length = 0;
  for (uint32_t cluster = first;; ++length) {
    if (cluster < 2 || cluster > clusterCount_ + 1) {
      Damaged("its FAT points outside the volume (cluster " + std::to_string(cluster) + ")");
    }
    if (length >= clusterCount_) {
      Damaged("its FAT loops in the chain from cluster " + std::to_string(first));
    }
    const uint32_t next = FatEntryAt(cluster);
    if (IsEndOfChain(next)) return length + 1;
    cluster = next;
  }
}

void FatVolume::FreeChain(uint32_t first, uint64_t length) {
  uint32_t cluster = first;
  for (uint64_t i = 0; i < length; ++i) {
    const uint32_t next = FatEntryAt(cluster);
    SetFatEntry(cluster, 0);
    cluster = next;
  }
  AdjustFsInfo(static_cast<int64_t>(length), std::nullopt);
}

std::vector<uint32_t> FatVolume::Chain(uint32_t first, uint64_t maxClusters) const {
  std::vector<uint32_t> chain;
  uint32_t cluster = first;
  while (true) {
    if (cluster < 2 || cluster > clusterCount_ + 1) {
      Damaged("its FAT points outside the volume (cluster " + std::to_string(cluster) + ")");
    }
    chain.push_back(cluster);
    if (chain.size() > maxClusters) {
      Damaged("its FAT loops in the chain from cluster " + std::to_string(first));
    }
    const uint32_t next = FatEntryAt(cluster);
    if (IsEndOfChain(next)) return chain;
    cluster = next;
  }
}

uint64_t FatVolume::FreeBytes() const {
  uint64_t free = 0;
  for (uint32_t c = 2; c <= clusterCount_ + 1; ++c) {
    if (FatEntryAt(c) == 0) ++free;
  }
  return free * clusterSize_;
}

std::string FatVolume::Label() const {
  const Dir root = LoadDir(0);
  std::array<uint8_t, 11> label = bootLabel_;
  for (size_t i = 0; i < root.SlotCount(); ++i) {
    const uint8_t* b = root.bytes.data() + i * kEntrySize;
    if (b[0] == 0x00) break;
    if (b[0] != 0xE5 && (b[11] & 0x3F) != 0x0F && (b[11] & fat_attr::kVolumeLabel) != 0) {
      std::copy_n(b, 11, label.begin());
      break;
    }
  }
  constexpr std::array<uint8_t, 11> kNoName = {'N', 'O', ' ', 'N', 'A', 'M',
                                               'E', ' ', ' ', ' ', ' '};
  if (label == kNoName) return {};
  std::string text;
  size_t end = label.size();
  while (end > 0 && label[end - 1] == ' ') --end;
  for (size_t i = 0; i < end; ++i) AppendUtf8(text, codePage_.ToUnicode(label[i]));
  return text;
}

std::vector<uint32_t> FatVolume::Allocate(uint32_t count) {
  std::vector<uint32_t> found;
  uint32_t c = nextFreeHint_;
  for (uint32_t scanned = 0; scanned < clusterCount_ && found.size() < count; ++scanned) {
    if (FatEntryAt(c) == 0) found.push_back(c);
    c = c >= clusterCount_ + 1 ? 2 : c + 1;
  }
  if (found.size() < count) {
    throw FatError(name_ + " is full: " + std::to_string(uint64_t{count} * clusterSize_) +
                   " bytes are needed and " + std::to_string(found.size() * clusterSize_) +
                   " are free");
  }
  for (uint32_t cluster : found) listings_.erase(cluster);
  return found;
}

void FatVolume::LinkChain(const std::vector<uint32_t>& clusters) {
  if (clusters.empty()) return;
  for (size_t i = clusters.size(); i-- > 0;) {
    SetFatEntry(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndOfChain());
  }
  nextFreeHint_ = clusters.back() >= clusterCount_ + 1 ? 2 : clusters.back() + 1;
  AdjustFsInfo(-static_cast<int64_t>(clusters.size()), clusters.back());
}

void FatVolume::AdjustFsInfo(int64_t freeDelta, std::optional<uint32_t> nextFree) {
  if (fsInfoOffset_ == 0) return;
  std::array<uint8_t, 8> info{};
  device_.Read(fsInfoOffset_ + 488, info);
  uint32_t free = U32(info, 0);
  if (free != kFsInfoUnknown) {
    const int64_t updated = int64_t{free} + freeDelta;
    free = updated < 0 || updated > clusterCount_ ? kFsInfoUnknown : static_cast<uint32_t>(updated);
  }
  Put32(info, 0, free);
  if (nextFree) Put32(info, 4, *nextFree);
  device_.Write(fsInfoOffset_ + 488, info);
}

FatVolume::Dir FatVolume::LoadDir(uint32_t firstCluster) const {
  Dir dir;
  dir.firstCluster = firstCluster;
  if (firstCluster == 0 && type_ != FatType::Fat32) {
    dir.fixedRoot = true;
    dir.segmentSize = uint64_t{rootEntries_} * kEntrySize;
    dir.segments = {rootOffset_};
    dir.bytes.resize(dir.segmentSize);
    device_.Read(rootOffset_, dir.bytes);
    return dir;
  }
  const uint32_t first = firstCluster == 0 ? rootCluster_ : firstCluster;
  dir.segmentSize = clusterSize_;
  for (uint32_t c : Chain(first, std::max<uint64_t>(1, kMaxDirBytes / clusterSize_))) {
    dir.segments.push_back(ClusterOffset(c));
    const size_t at = dir.bytes.size();
    dir.bytes.resize(at + clusterSize_);
    device_.Read(ClusterOffset(c), std::span(dir.bytes).subspan(at));
  }
  return dir;
}

std::string FatVolume::DecodeShortName(std::span<const uint8_t> raw) const {
  std::string name;
  auto append = [&](size_t from, size_t to) {
    size_t end = to;
    while (end > from && raw[end - 1] == ' ') --end;
    for (size_t i = from; i < end; ++i) {
      const uint8_t byte = i == 0 && raw[0] == 0x05 ? 0xE5 : raw[i];
      AppendUtf8(name, codePage_.ToUnicode(byte));
    }
  };
  append(0, 8);
  if (raw[8] != ' ') {
    name.push_back('.');
    append(8, 11);
  }
  return name;
}

std::vector<FatVolume::Slot> FatVolume::ParseDir(const Dir& dir) const {
  std::vector<Slot> slots;
  std::vector<char16_t> units;
  bool inLongName = false;
  uint8_t expected = 0;
  uint8_t sum = 0;
  size_t longStart = 0;
  for (size_t i = 0; i < dir.SlotCount(); ++i) {
    const std::span<const uint8_t> b(dir.bytes.data() + i * kEntrySize, kEntrySize);
    if (b[0] == 0x00) break;
    if (b[0] == 0xE5) {
      inLongName = false;
      continue;
    }
    if ((b[11] & 0x3F) == 0x0F) {
      const uint8_t order = b[0] & 0x1F;
      if ((b[0] & 0x40) != 0 && order >= 1 && order <= 20) {
        inLongName = true;
        units.assign(order * kLfnChars, 0xFFFF);
        sum = b[13];
        longStart = i;
      } else if (!inLongName || order != expected || b[13] != sum) {
        inLongName = false;
        continue;
      }
      for (size_t k = 0; k < kLfnChars; ++k) {
        units[(order - 1) * kLfnChars + k] = static_cast<char16_t>(U16(b, kLfnOffsets[k]));
      }
      expected = static_cast<uint8_t>(order - 1);
      continue;
    }
    const bool hadLongName = inLongName && expected == 0 && Checksum(b) == sum;
    inLongName = false;
    if ((b[11] & fat_attr::kVolumeLabel) != 0 || b[0] == '.') continue;
    Slot slot;
    std::copy_n(b.begin(), 11, slot.raw.begin());
    slot.index = i;
    slot.first = hadLongName ? longStart : i;
    FatEntry& e = slot.entry;
    e.shortName = DecodeShortName(b);
    if (hadLongName) {
      const auto end = std::find(units.begin(), units.end(), u'\0');
      e.longName = DecodeUtf16(std::vector<char16_t>(units.begin(), end));
    }
    if (e.longName.empty()) e.longName = e.shortName;
    e.attributes = b[11];
    e.size = U32(b, 28);
    e.firstCluster = U16(b, 26) | (type_ == FatType::Fat32 ? uint32_t{U16(b, 20)} << 16 : 0);
    e.created = {U16(b, 16), U16(b, 14)};
    e.accessed = U16(b, 18);
    e.written = {U16(b, 24), U16(b, 22)};
    slots.push_back(std::move(slot));
  }
  return slots;
}

FatVolume::Located FatVolume::Locate(std::string_view path) const {
  const std::vector<std::string_view> parts = SplitPath(path);
  if (parts.empty()) throw FatError("The root directory of " + name_ + " has no entry");
  Located located;
  located.listing = ListingOf(0);
  std::vector<uint32_t> above = {type_ == FatType::Fat32 ? rootCluster_ : 0};
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::vector<Slot>& slots = located.Slots();
    located.found = nullptr;
    // An exact long name first (names that differ only in case exist on volumes made elsewhere),
    // then a long name, then a short name, as Windows 95 folds them.
    const std::u32string folded = Fold(parts[i]);
    for (const Slot& slot : slots) {
      if (slot.entry.longName == parts[i]) {
        located.found = &slot;
        break;
      }
    }
    for (const Slot& slot : slots) {
      if (located.found != nullptr) break;
      if (Fold(slot.entry.longName) == folded) located.found = &slot;
    }
    if (located.found == nullptr) {
      for (const Slot& slot : slots) {
        if (Fold(slot.entry.shortName) == folded) {
          located.found = &slot;
          break;
        }
      }
    }
    located.leaf = std::string(parts[i]);
    if (i + 1 == parts.size()) break;
    if (located.found == nullptr || !located.found->entry.IsDirectory()) {
      throw FatError("\\" + std::string(path) + " does not exist on " + name_);
    }
    const uint32_t cluster = located.found->entry.firstCluster;
    if (cluster == 0) Damaged("directory " + located.found->entry.longName + " has no cluster");
    if (std::find(above.begin(), above.end(), cluster) != above.end()) {
      Damaged("directory " + located.found->entry.longName + " loops back to a directory above it");
    }
    above.push_back(cluster);
    located.listing = ListingOf(cluster);
  }
  return located;
}

std::shared_ptr<const FatVolume::Listing> FatVolume::ListingOf(uint32_t firstCluster) const {
  if (const auto it = listings_.find(firstCluster); it != listings_.end()) return it->second;
  auto listing = std::make_shared<Listing>();
  listing->dir = LoadDir(firstCluster);
  listing->slots = ParseDir(listing->dir);
  // Enough for the folders one task goes through; a walk of the whole volume starts afresh.
  constexpr size_t kMaxListings = 256;
  if (listings_.size() >= kMaxListings) listings_.clear();
  listings_.emplace(firstCluster, listing);
  return listing;
}

std::shared_ptr<const FatVolume::Listing> FatVolume::ListingAt(std::string_view path) const {
  if (SplitPath(path).empty()) return ListingOf(0);
  const Located located = Locate(path);
  if (located.found == nullptr || !located.found->entry.IsDirectory()) {
    throw FatError(std::string(path) + " is not a directory on " + name_);
  }
  if (located.found->entry.firstCluster == 0) {
    Damaged("directory " + located.found->entry.longName + " has no cluster");
  }
  return ListingOf(located.found->entry.firstCluster);
}

std::vector<FatEntry> FatVolume::List(std::string_view directory) const {
  std::vector<FatEntry> entries;
  for (const Slot& slot : ListingAt(directory)->slots) entries.push_back(slot.entry);
  return entries;
}

std::optional<FatEntry> FatVolume::Stat(std::string_view path) const {
  if (SplitPath(path).empty()) return std::nullopt;
  try {
    const Located located = Locate(path);
    if (located.found == nullptr) return std::nullopt;
    return located.found->entry;
  } catch (const FatDamagedError&) {
    throw;
  } catch (const FatError&) {
    return std::nullopt;
  }
}

void FatVolume::ReadFile(std::string_view path,
                         const std::function<void(std::span<const uint8_t>)>& sink) const {
  const Located located = Locate(path);
  if (located.found == nullptr) throw FatError(std::string(path) + " does not exist on " + name_);
  const FatEntry& e = located.found->entry;
  if (e.IsDirectory()) throw FatError(std::string(path) + " is a directory");
  uint64_t remaining = e.size;
  uint32_t cluster = e.firstCluster;
  std::vector<uint8_t> buffer;
  while (remaining > 0) {
    if (cluster < 2 || cluster > clusterCount_ + 1) {
      Damaged("the chain of " + e.longName + " points outside the volume");
    }
    buffer.resize(std::min<uint64_t>(remaining, clusterSize_));
    device_.Read(ClusterOffset(cluster), buffer);
    sink(buffer);
    remaining -= buffer.size();
    if (remaining == 0) break;
    cluster = FatEntryAt(cluster);
    if (IsEndOfChain(cluster)) Damaged("the chain of " + e.longName + " is shorter than the file");
  }
}

void FatVolume::WriteSlot(const Dir& dir, size_t index, std::span<const uint8_t> bytes) {
  listings_.erase(dir.firstCluster);
  for (size_t done = 0; done < bytes.size();) {
    const size_t slot = index + done / kEntrySize;
    const uint64_t inSegment = (slot * kEntrySize) % dir.segmentSize;
    const size_t run =
        static_cast<size_t>(std::min<uint64_t>(bytes.size() - done, dir.segmentSize - inSegment));
    device_.Write(dir.SlotOffset(slot), bytes.subspan(done, run));
    done += run;
  }
}

namespace {

// The first slot of a run of count free slots. An entry that fits in one cluster (perSegment
// slots) is kept inside one, so that it is written in one piece; past the end marker the run
// may start further on than the marker.
std::optional<size_t> FreeRun(const std::vector<uint8_t>& bytes, size_t count, size_t perSegment) {
  const size_t slots = bytes.size() / kEntrySize;
  const bool inOne = count <= perSegment;
  size_t run = 0;
  for (size_t i = 0; i < slots; ++i) {
    if (inOne && i % perSegment == 0) run = 0;
    const uint8_t first = bytes[i * kEntrySize];
    if (first == 0x00) {
      size_t start = i - run;
      if (inOne && start / perSegment != (start + count - 1) / perSegment) {
        start = (start / perSegment + 1) * perSegment;
      }
      if (start + count <= slots) return start;
      return std::nullopt;
    }
    run = first == 0xE5 ? run + 1 : 0;
    if (run == count) return i + 1 - count;
  }
  return std::nullopt;
}

// The slots of an entry: its long name last part first (ordinal ORed with 0x40), then the short
// entry. longName empty: the short entry alone.
std::vector<uint8_t> EntryBytes(const std::u16string& longName,
                                const std::array<uint8_t, kEntrySize>& shortEntry) {
  std::vector<uint8_t> bytes;
  const size_t parts = (longName.size() + kLfnChars - 1) / kLfnChars;
  const uint8_t sum = Checksum(shortEntry);
  for (size_t part = parts; part >= 1; --part) {
    std::array<uint8_t, kEntrySize> lfn{};
    lfn[0] = static_cast<uint8_t>(part | (part == parts ? 0x40 : 0));
    lfn[11] = 0x0F;
    lfn[13] = sum;
    for (size_t k = 0; k < kLfnChars; ++k) {
      const size_t at = (part - 1) * kLfnChars + k;
      const char16_t unit = at < longName.size()    ? longName[at]
                            : at == longName.size() ? 0
                                                    : 0xFFFF;
      Put16(lfn, kLfnOffsets[k], unit);
    }
    bytes.insert(bytes.end(), lfn.begin(), lfn.end());
  }
  bytes.insert(bytes.end(), shortEntry.begin(), shortEntry.end());
  return bytes;
}

std::array<uint8_t, kEntrySize> ShortEntry(const std::array<uint8_t, 11>& raw, uint8_t attributes,
                                           uint32_t cluster, uint32_t size, int64_t unixTime,
                                           bool fat32) {
  std::array<uint8_t, kEntrySize> e{};
  std::copy(raw.begin(), raw.end(), e.begin());
  e[11] = attributes;
  const DosDateTime t = DosDateTimeFromUnix(unixTime);
  Put16(e, 14, t.time);
  Put16(e, 16, t.date);
  Put16(e, 18, t.date);
  Put16(e, 20, fat32 ? static_cast<uint16_t>(cluster >> 16) : 0);
  Put16(e, 22, t.time);
  Put16(e, 24, t.date);
  Put16(e, 26, static_cast<uint16_t>(cluster));
  Put32(e, 28, size);
  return e;
}

}  // namespace

std::array<uint8_t, 11> FatVolume::MakeShortName(std::string_view longName,
                                                 const std::vector<Slot>& existing) const {
  std::u32string name = DecodeUtf8(longName);
  bool lossy = false;
  std::u32string_view base = name;
  std::u32string_view ext;
  const size_t dot = name.rfind('.');
  if (dot != std::u32string::npos &&
      std::u32string_view(name).substr(0, dot).find_first_not_of(U". ") != std::u32string::npos) {
    base = std::u32string_view(name).substr(0, dot);
    ext = std::u32string_view(name).substr(dot + 1);
  }
  auto map = [&](std::u32string_view text, bool dropDots) {
    std::vector<uint8_t> out;
    for (char32_t c : text) {
      if (c == ' ' || (dropDots && c == '.')) {
        lossy = true;
        continue;
      }
      const char32_t upper = FoldChar(c);
      if (upper < 0x80) {
        if (IsLegalShortAscii(upper)) {
          out.push_back(static_cast<uint8_t>(upper));
          continue;
        }
      } else if (const auto oem = codePage_.FromUnicode(upper)) {
        out.push_back(*oem);
        continue;
      }
      out.push_back('_');
      lossy = true;
    }
    return out;
  };
  std::vector<uint8_t> b = map(base, true);
  std::vector<uint8_t> x = map(ext, false);
  if (b.empty()) {
    b.push_back('_');
    lossy = true;
  }
  if (b.size() > 8) {
    b.resize(8);
    lossy = true;
  }
  if (x.size() > 3) {
    x.resize(3);
    lossy = true;
  }
  auto compose = [&](const std::vector<uint8_t>& stem) {
    std::array<uint8_t, 11> raw;
    raw.fill(' ');
    std::copy(stem.begin(), stem.end(), raw.begin());
    std::copy(x.begin(), x.end(), raw.begin() + 8);
    if (raw[0] == 0xE5) raw[0] = 0x05;
    return raw;
  };
  auto taken = [&](const std::array<uint8_t, 11>& raw) {
    return std::any_of(existing.begin(), existing.end(),
                       [&](const Slot& slot) { return slot.raw == raw; });
  };
  if (!lossy && !taken(compose(b))) return compose(b);
  for (int n = 1; n <= 999999; ++n) {
    const std::string tail = "~" + std::to_string(n);
    std::vector<uint8_t> stem(b.begin(), b.begin() + std::min(b.size(), 8 - tail.size()));
    stem.insert(stem.end(), tail.begin(), tail.end());
    if (!taken(compose(stem))) return compose(stem);
  }
  throw FatError("No free short name for " + std::string(longName));
}

void FatVolume::DeleteEntry(const Dir& dir, const Slot& slot) {
  std::vector<uint8_t> run(
      dir.bytes.begin() + static_cast<ptrdiff_t>(slot.first * kEntrySize),
      dir.bytes.begin() + static_cast<ptrdiff_t>((slot.index + 1) * kEntrySize));
  for (size_t i = 0; i < run.size(); i += kEntrySize) run[i] = 0xE5;
  WriteSlot(dir, slot.first, run);
}

std::vector<uint8_t> FatVolume::NewEntryBytes(std::string_view leaf, const std::vector<Slot>& taken,
                                              std::array<uint8_t, 32> shortEntry) const {
  const std::u32string longName = CheckedLongName(leaf);
  std::string utf8;
  for (char32_t c : longName) AppendUtf8(utf8, c);
  const std::array<uint8_t, 11> raw = MakeShortName(utf8, taken);
  std::copy(raw.begin(), raw.end(), shortEntry.begin());
  const bool bare = DecodeShortName(raw) == utf8;
  return EntryBytes(bare ? std::u16string() : EncodeUtf16(longName), shortEntry);
}

bool FatVolume::NeedsExtension(const Dir& dir, size_t bytes) const {
  if (FreeRun(dir.bytes, bytes / kEntrySize, dir.segmentSize / kEntrySize)) return false;
  if (dir.fixedRoot) throw FatError("The root directory of " + name_ + " is full");
  if (dir.bytes.size() + clusterSize_ > kMaxDirBytes) {
    throw FatError("A directory on " + name_ + " is full");
  }
  return true;
}

void FatVolume::PlaceEntry(Dir& dir, std::span<const uint8_t> entry,
                           std::optional<uint32_t> extension) {
  if (extension) {
    const std::vector<uint8_t> zeros(clusterSize_, 0);
    device_.Write(ClusterOffset(*extension), zeros);
    SetFatEntry(*extension, EndOfChain());
    const uint32_t last =
        static_cast<uint32_t>((dir.segments.back() - dataOffset_) / clusterSize_ + 2);
    SetFatEntry(last, *extension);
    AdjustFsInfo(-1, *extension);
    device_.Flush();
    dir.segments.push_back(ClusterOffset(*extension));
    dir.bytes.resize(dir.bytes.size() + clusterSize_, 0);
  }
  const size_t at = *FreeRun(dir.bytes, entry.size() / kEntrySize, dir.segmentSize / kEntrySize);
  // Slots between the end marker and the entry are marked deleted, so that readers go on to the
  // entry; they are written first, and alone they leave a valid directory.
  size_t from = 0;
  while (from < at && dir.bytes[from * kEntrySize] != 0x00) ++from;
  std::vector<uint8_t> run(dir.bytes.begin() + static_cast<ptrdiff_t>(from * kEntrySize),
                           dir.bytes.begin() + static_cast<ptrdiff_t>(at * kEntrySize));
  for (size_t i = 0; i < run.size(); i += kEntrySize) run[i] = 0xE5;
  run.insert(run.end(), entry.begin(), entry.end());
  WriteSlot(dir, from, run);
  std::copy(run.begin(), run.end(), dir.bytes.begin() + static_cast<ptrdiff_t>(from * kEntrySize));
  device_.Flush();
}

void FatVolume::WriteFile(std::string_view path, std::span<const uint8_t> data, int64_t unixTime,
                          uint8_t attributes) {
  CheckWritable();
  if (data.size() > UINT32_MAX) throw FatError("A FAT file holds at most 4 GB");
  const Located loc = Locate(path);
  Dir parent = loc.Parent();
  if (loc.found != nullptr && loc.found->entry.IsDirectory()) {
    throw FatError(std::string(path) + " is a directory on " + name_);
  }
  const uint32_t needed = static_cast<uint32_t>((data.size() + clusterSize_ - 1) / clusterSize_);
  const uint32_t oldFirst = loc.found != nullptr ? loc.found->entry.firstCluster : 0;
  const uint64_t oldLength = oldFirst != 0 ? CheckChain(oldFirst) : 0;
  std::vector<uint8_t> entry;
  bool extend = false;
  if (loc.found == nullptr) {
    entry =
        NewEntryBytes(loc.leaf, loc.Slots(),
                      ShortEntry({}, static_cast<uint8_t>((attributes & 0x07) | fat_attr::kArchive),
                                 0, 0, unixTime, type_ == FatType::Fat32));
    extend = NeedsExtension(parent, entry.size());
  }
  const std::vector<uint32_t> clusters = Allocate(needed + (extend ? 1 : 0));
  const std::vector<uint32_t> dataClusters(clusters.begin(), clusters.begin() + needed);
  std::vector<uint8_t> cluster(clusterSize_);
  for (size_t i = 0; i < dataClusters.size(); ++i) {
    const size_t at = i * clusterSize_;
    std::fill(cluster.begin(), cluster.end(), 0);
    const size_t n = std::min<size_t>(clusterSize_, data.size() - at);
    std::copy_n(data.begin() + static_cast<ptrdiff_t>(at), n, cluster.begin());
    device_.Write(ClusterOffset(dataClusters[i]), cluster);
  }
  LinkChain(dataClusters);
  device_.Flush();

  const uint32_t first = dataClusters.empty() ? 0 : dataClusters.front();
  if (loc.found == nullptr) {
    std::span<uint8_t> shortEntry(entry.data() + entry.size() - kEntrySize, kEntrySize);
    Put16(shortEntry, 20, type_ == FatType::Fat32 ? static_cast<uint16_t>(first >> 16) : 0);
    Put16(shortEntry, 26, static_cast<uint16_t>(first));
    Put32(shortEntry, 28, static_cast<uint32_t>(data.size()));
    PlaceEntry(parent, entry, extend ? std::optional(clusters.back()) : std::nullopt);
    return;
  }
  const DosDateTime t = DosDateTimeFromUnix(unixTime);
  std::array<uint8_t, kEntrySize> e{};
  std::copy_n(parent.bytes.begin() + static_cast<ptrdiff_t>(loc.found->index * kEntrySize),
              kEntrySize, e.begin());
  e[11] |= fat_attr::kArchive;
  Put16(e, 18, t.date);
  Put16(e, 20, type_ == FatType::Fat32 ? static_cast<uint16_t>(first >> 16) : 0);
  Put16(e, 22, t.time);
  Put16(e, 24, t.date);
  Put16(e, 26, static_cast<uint16_t>(first));
  Put32(e, 28, static_cast<uint32_t>(data.size()));
  WriteSlot(parent, loc.found->index, e);
  device_.Flush();
  if (oldFirst != 0) {
    FreeChain(oldFirst, oldLength);
    device_.Flush();
  }
}

void FatVolume::MakeDirectory(std::string_view path, int64_t unixTime) {
  CheckWritable();
  const Located loc = Locate(path);
  if (loc.found != nullptr) throw FatError(std::string(path) + " already exists on " + name_);
  Dir parent = loc.Parent();
  const bool fat32 = type_ == FatType::Fat32;
  std::vector<uint8_t> entry = NewEntryBytes(
      loc.leaf, loc.Slots(), ShortEntry({}, fat_attr::kDirectory, 0, 0, unixTime, fat32));
  const bool extend = NeedsExtension(parent, entry.size());
  const std::vector<uint32_t> clusters = Allocate(extend ? 2 : 1);
  const uint32_t cluster = clusters.front();
  std::array<uint8_t, 11> dot;
  dot.fill(' ');
  dot[0] = '.';
  std::array<uint8_t, 11> dotDot = dot;
  dotDot[1] = '.';
  std::vector<uint8_t> contents(clusterSize_, 0);
  const auto self = ShortEntry(dot, fat_attr::kDirectory, cluster, 0, unixTime, fat32);
  const auto up = ShortEntry(dotDot, fat_attr::kDirectory, parent.firstCluster, 0, unixTime, fat32);
  std::copy(self.begin(), self.end(), contents.begin());
  std::copy(up.begin(), up.end(), contents.begin() + kEntrySize);
  device_.Write(ClusterOffset(cluster), contents);
  LinkChain({cluster});
  device_.Flush();
  std::span<uint8_t> shortEntry(entry.data() + entry.size() - kEntrySize, kEntrySize);
  Put16(shortEntry, 20, fat32 ? static_cast<uint16_t>(cluster >> 16) : 0);
  Put16(shortEntry, 26, static_cast<uint16_t>(cluster));
  PlaceEntry(parent, entry, extend ? std::optional(clusters.back()) : std::nullopt);
}

void FatVolume::Remove(std::string_view path) {
  CheckWritable();
  const Located loc = Locate(path);
  if (loc.found == nullptr) throw FatError(std::string(path) + " does not exist on " + name_);
  const FatEntry& e = loc.found->entry;
  if (e.IsDirectory()) {
    if (e.firstCluster == 0) Damaged("directory " + e.longName + " has no cluster");
    if (!ListingOf(e.firstCluster)->slots.empty()) {
      throw FatError(std::string(path) + " on " + name_ + " is not empty");
    }
  }
  const uint64_t length = e.firstCluster != 0 ? CheckChain(e.firstCluster) : 0;
  DeleteEntry(loc.Parent(), *loc.found);
  device_.Flush();
  if (length > 0) {
    FreeChain(e.firstCluster, length);
    device_.Flush();
  }
}

void FatVolume::Rename(std::string_view path, std::string_view newName) {
  CheckWritable();
  const Located loc = Locate(path);
  if (loc.found == nullptr) throw FatError(std::string(path) + " does not exist on " + name_);
  Dir parent = loc.Parent();
  const std::u32string folded = Fold(newName);
  std::vector<Slot> others;
  for (const Slot& slot : loc.Slots()) {
    if (&slot == loc.found) continue;
    if (Fold(slot.entry.longName) == folded || Fold(slot.entry.shortName) == folded) {
      throw FatError(std::string(newName) + " already exists on " + name_);
    }
    others.push_back(slot);
  }
  std::array<uint8_t, kEntrySize> shortEntry{};
  std::copy_n(parent.bytes.begin() + static_cast<ptrdiff_t>(loc.found->index * kEntrySize),
              kEntrySize, shortEntry.begin());
  const std::vector<uint8_t> entry = NewEntryBytes(newName, others, shortEntry);
  const Slot old = *loc.found;
  const size_t oldSlots = old.index - old.first + 1;
  const size_t newSlots = entry.size() / kEntrySize;
  const auto segment = [&](size_t slot) { return slot * kEntrySize / parent.segmentSize; };
  if (newSlots <= oldSlots && segment(old.first) == segment(old.index)) {
    // In place, in one write: the new entry ends on the old short entry's slot and the slots
    // before it are marked deleted.
    std::vector<uint8_t> run(
        parent.bytes.begin() + static_cast<ptrdiff_t>(old.first * kEntrySize),
        parent.bytes.begin() + static_cast<ptrdiff_t>((old.index + 1) * kEntrySize));
    for (size_t i = 0; i < oldSlots - newSlots; ++i) run[i * kEntrySize] = 0xE5;
    std::copy(entry.begin(), entry.end(), run.end() - static_cast<ptrdiff_t>(entry.size()));
    WriteSlot(parent, old.first, run);
    device_.Flush();
    return;
  }
  // Elsewhere: the new entry first, so that a kill leaves the file under both names rather than
  // under none.
  const bool extend = NeedsExtension(parent, entry.size());
  std::optional<uint32_t> extension;
  if (extend) extension = Allocate(1).front();
  PlaceEntry(parent, entry, extension);
  DeleteEntry(parent, old);
  device_.Flush();
}

void FatVolume::Move(std::string_view path, std::string_view newPath) {
  CheckWritable();
  const Located from = Locate(path);
  if (from.found == nullptr) throw FatError(std::string(path) + " does not exist on " + name_);
  if (from.found->entry.IsDirectory()) {
    throw FatError(std::string(path) + " on " + name_ + " is a directory and is not moved");
  }
  const Located to = Locate(newPath);
  if (to.found != nullptr) throw FatError(std::string(newPath) + " already exists on " + name_);
  Dir toParent = to.Parent();
  if (toParent.firstCluster == from.Parent().firstCluster) {
    Rename(path, to.leaf);
    return;
  }
  // The short entry keeps the file's chain, size, attributes and dates under its new name.
  std::array<uint8_t, kEntrySize> shortEntry{};
  std::copy_n(from.Parent().bytes.begin() + static_cast<ptrdiff_t>(from.found->index * kEntrySize),
              kEntrySize, shortEntry.begin());
  const std::vector<uint8_t> entry = NewEntryBytes(to.leaf, to.Slots(), shortEntry);
  const bool extend = NeedsExtension(toParent, entry.size());
  std::optional<uint32_t> extension;
  if (extend) extension = Allocate(1).front();
  // A kill between the two leaves the file in both directories, never in neither.
  PlaceEntry(toParent, entry, extension);
  DeleteEntry(from.Parent(), *from.found);
  device_.Flush();
}

void FatVolume::SetAttributes(std::string_view path, uint8_t attributes) {
  CheckWritable();
  const Located loc = Locate(path);
  if (loc.found == nullptr) throw FatError(std::string(path) + " does not exist on " + name_);
  const uint8_t kept = loc.found->entry.attributes & fat_attr::kDirectory;
  const std::array<uint8_t, 1> value = {
      static_cast<uint8_t>(kept | (attributes & (fat_attr::kReadOnly | fat_attr::kHidden |
                                                 fat_attr::kSystem | fat_attr::kArchive)))};
  listings_.erase(loc.Parent().firstCluster);
  device_.Write(loc.Parent().SlotOffset(loc.found->index) + 11, value);
  device_.Flush();
}

}  // namespace tarnwick
