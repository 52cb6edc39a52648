#include "formats/shell_link.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <system_error>

#include "base/bytes.h"
#include "machine/atomic_file.h"
#include "machine/cp1252.h"
#include "machine/machine.h"
#include "machine/short_name.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

constexpr size_t kHeaderSize = 0x4C;
constexpr std::array<uint8_t, 16> kLinkClsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::array<uint8_t, 16> kMyComputerClsid = {
    0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr uint8_t kRootItem = 0x1F;
constexpr uint8_t kMyComputerSortIndex = 0x50;
constexpr uint8_t kDirectoryItem = 0x31;
constexpr uint8_t kFileItem = 0x32;
constexpr size_t kVolumeNameField = 20;
constexpr size_t kFileEntryFixedSize = 14;
constexpr uint32_t kExtensionSignature = 0xBEEF0004;
constexpr size_t kLinkInfoHeaderSize = 0x1C;
constexpr size_t kLinkInfoUnicodeHeaderSize = 0x24;
constexpr size_t kVolumeIdHeaderSize = 0x10;
constexpr size_t kNetworkLinkHeaderSize = 0x14;
constexpr uint32_t kNetworkProviderLanman = 0x00020000;  // WNNC_NET_LANMAN, Microsoft network
constexpr uint32_t kEnvironmentBlock = 0xA0000001;
constexpr uint32_t kIconEnvironmentBlock = 0xA0000007;
constexpr size_t kEnvironmentBlockSize = 0x314;
// My Computer, the volume and one item per component of a path shorter than MAX_PATH.
constexpr size_t kMaxItems = 2 + kMaxShellPath / 2;
constexpr size_t kMaxExtraBlocks = 64;
constexpr size_t kMaxLinkFileSize = 1 << 20;
constexpr uint16_t kShowNormal = 1;
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr int64_t kFileTimeEpochOffset = 11644473600;  // seconds from 1601 to 1970

// ---- Text ----

std::string WideToAnsi(std::u16string_view wide) {
  std::string ansi;
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      ansi.push_back('?');  // outside the Basic Multilingual Plane: never in code page 1252
      ++i;
    } else if (high || low) {
      ansi.push_back('?');
    } else {
      ansi.push_back(CodePointToCp1252(unit).value_or('?'));
    }
  }
  return ansi;
}

void DropTrailingNuls(std::string& text) {
  while (!text.empty() && text.back() == '\0') text.pop_back();
}

// ---- Bounds-checked reading ----

// A window [begin, end) of the file; every access is checked against it.
class Window {
 public:
  Window(std::span<const uint8_t> file, size_t begin, size_t end)
      : file_(file), begin_(begin), end_(end) {}

  size_t Size() const { return end_ - begin_; }

  [[noreturn]] void Fail(const std::string& what, size_t offset) const {
    throw ShellLinkError(what, begin_ + offset);
  }

  void Need(size_t offset, size_t length, const char* what) const {
    if (offset > Size() || length > Size() - offset)
      Fail(std::string(what) + " past its end", offset);
  }

  uint8_t U8(size_t offset, const char* what) const {
    Need(offset, 1, what);
    return file_[begin_ + offset];
  }
  uint16_t U16(size_t offset, const char* what) const {
    Need(offset, 2, what);
    return Get16(file_, begin_ + offset);
  }
  uint32_t U32(size_t offset, const char* what) const {
    Need(offset, 4, what);
    return Get32(file_, begin_ + offset);
  }
  uint64_t U64(size_t offset, const char* what) const {
    Need(offset, 8, what);
    return Get64(file_, begin_ + offset);
  }
  bool Equals(size_t offset, std::span<const uint8_t> bytes, const char* what) const {
    Need(offset, bytes.size(), what);
    return std::equal(bytes.begin(), bytes.end(), file_.begin() + begin_ + offset);
  }

  Window Sub(size_t offset, size_t length, const char* what) const {
    Need(offset, length, what);
    return Window(file_, begin_ + offset, begin_ + offset + length);
  }

  // A NUL-terminated ANSI string starting at offset; end receives the offset after the NUL.
  std::optional<std::string> FindAnsi(size_t offset, size_t* end = nullptr) const {
    if (offset >= Size()) return std::nullopt;
    const auto first = file_.begin() + begin_ + offset;
    const auto last = file_.begin() + end_;
    const auto nul = std::find(first, last, 0);
    if (nul == last) return std::nullopt;
    if (end != nullptr) *end = offset + (nul - first) + 1;
    return std::string(first, nul);
  }
  std::string Ansi(size_t offset, const char* what, size_t* end = nullptr) const {
    auto text = FindAnsi(offset, end);
    if (!text) Fail(std::string(what) + " without its terminator", offset);
    return *text;
  }
  // A UTF-16LE string ended by a wide NUL, converted to ANSI.
  std::string Wide(size_t offset, const char* what, size_t* end = nullptr) const {
    std::u16string wide;
    for (size_t at = offset;; at += 2) {
      if (at > Size() || Size() - at < 2)
        Fail(std::string(what) + " without its terminator", offset);
      const char16_t unit = U16(at, what);
      if (unit == 0) {
        if (end != nullptr) *end = at + 2;
        return WideToAnsi(wide);
      }
      wide.push_back(unit);
    }
  }
  std::string Bytes(size_t offset, size_t length, const char* what) const {
    Need(offset, length, what);
    const auto first = file_.begin() + begin_ + offset;
    return std::string(first, first + length);
  }

 private:
  std::span<const uint8_t> file_;
  size_t begin_;
  size_t end_;
};

// ---- Item list ----

enum class ItemKind { MyComputer, Volume, FileEntry, Other };

struct Item {
  ItemKind kind = ItemKind::Other;
  std::string volumeName;
  ShellLinkEntry entry;
};

ShellLinkEntry ReadFileEntry(const Window& item, uint8_t type) {
  if (item.Size() < kFileEntryFixedSize) item.Fail("file entry item too short", 0);
  ShellLinkEntry entry;
  entry.directory = (type & 0x01) != 0;
  entry.size = item.U32(4, "file size");
  entry.dosDate = item.U16(8, "file date");
  entry.dosTime = item.U16(10, "file time");
  entry.attributes = item.U16(12, "file attributes");
  const bool unicode = (type & 0x04) != 0;
  size_t next = 0;
  const std::string primary = unicode ? item.Wide(kFileEntryFixedSize, "item name", &next)
                                      : item.Ansi(kFileEntryFixedSize, "item name", &next);

  // Windows XP and later: the 8.3 name, then an extension block holding the long name.
  const size_t block = (next + 1) & ~size_t{1};
  if (block <= item.Size() && item.Size() - block >= 8) {
    const uint16_t blockSize = item.U16(block, "extension block");
    if (blockSize >= 8 && blockSize <= item.Size() - block &&
        item.U32(block + 4, "extension block") == kExtensionSignature) {
      const Window extension = item.Sub(block, blockSize, "extension block");
      const uint16_t version = extension.U16(2, "extension version");
      size_t nameOffset = 18;
      if (version >= 7) nameOffset += 18;
      if (version >= 3) nameOffset += 2;
      if (version >= 9) nameOffset += 4;
      if (version >= 8) nameOffset += 4;
      entry.longName = version >= 3 ? extension.Wide(nameOffset, "long name") : primary;
      entry.shortName = EqualsIgnoreCase(primary, entry.longName) ? std::string() : primary;
      return entry;
    }
  }
  // Windows 95 layout: long name, then the 8.3 alias (empty when the long name is 8.3).
  entry.longName = primary;
  if (next < item.Size()) {
    entry.shortName = unicode ? item.Wide(next, "item alias") : item.Ansi(next, "item alias");
  }
  return entry;
}

Item ReadItem(const Window& item) {
  Item result;
  const uint8_t type = item.U8(2, "item type");
  if (type == kRootItem) {
    if (item.Size() >= 20 && item.Equals(4, kMyComputerClsid, "root item")) {
      result.kind = ItemKind::MyComputer;
    }
  } else if ((type & 0x70) == 0x20) {
    // Volume items of later systems may carry other data; only a name ending in the field counts.
    const Window field = item.Sub(3, std::min(item.Size() - 3, kVolumeNameField), "volume item");
    if (auto name = field.FindAnsi(0)) {
      result.kind = ItemKind::Volume;
      result.volumeName = *name;
    }
  } else if ((type & 0x70) == 0x30) {
    result.kind = ItemKind::FileEntry;
    result.entry = ReadFileEntry(item, type);
  }
  return result;
}

void ReadIdList(const Window& list, ShellLink& link) {
  std::vector<Item> items;
  size_t offset = 0;
  bool terminated = false;
  while (offset < list.Size()) {
    const uint16_t size = list.U16(offset, "item size");
    if (size == 0) {
      offset += 2;
      terminated = true;
      break;
    }
    if (size < 3) list.Fail("item too short", offset);
    if (items.size() >= kMaxItems) list.Fail("too many items", offset);
    items.push_back(ReadItem(list.Sub(offset, size, "item")));
    offset += size;
  }
  if (terminated && offset != list.Size()) list.Fail("data after the item list's end", offset);

  if (items.size() < 2 || items[0].kind != ItemKind::MyComputer ||
      items[1].kind != ItemKind::Volume) {
    return;
  }
  const std::string& volume = items[1].volumeName;
  if (volume.size() != 3 || volume[1] != ':' || volume[2] != '\\') return;
  std::string path = volume.substr(0, 2);
  for (size_t i = 2; i < items.size(); ++i) {
    if (items[i].kind != ItemKind::FileEntry) {
      link.idListEntries.clear();
      return;
    }
    path.append("\\").append(items[i].entry.longName);
    link.idListEntries.push_back(items[i].entry);
  }
  link.idListPath = link.idListEntries.empty() ? path + "\\" : path;
}

// ---- Link info ----

// An offset inside link info that must point past its header.
size_t LinkInfoOffset(const Window& info, size_t field, size_t headerSize, const char* what) {
  const uint32_t offset = info.U32(field, what);
  if (offset < headerSize || offset >= info.Size())
    info.Fail(std::string(what) + " out of range", field);
  return offset;
}

std::optional<size_t> UnicodeOffset(const Window& info, size_t field, size_t headerSize,
                                    const char* what) {
  if (headerSize < kLinkInfoUnicodeHeaderSize || info.U32(field, what) == 0) return std::nullopt;
  return LinkInfoOffset(info, field, headerSize, what);
}

ShellLinkVolume ReadVolumeId(const Window& info, size_t offset) {
  const uint32_t size = info.U32(offset, "volume ID size");
  if (size <= kVolumeIdHeaderSize) info.Fail("volume ID too short", offset);
  const Window volume = info.Sub(offset, size, "volume ID");
  ShellLinkVolume result;
  result.driveType = volume.U32(4, "drive type");
  result.serial = volume.U32(8, "drive serial");
  const uint32_t labelOffset = volume.U32(0x0C, "volume label offset");
  if (labelOffset == 0x14) {
    const uint32_t unicodeOffset = volume.U32(0x10, "volume label offset");
    if (unicodeOffset < 0x14 || unicodeOffset >= size)
      volume.Fail("volume label out of range", 0x10);
    result.label = volume.Wide(unicodeOffset, "volume label");
  } else {
    if (labelOffset < kVolumeIdHeaderSize || labelOffset >= size) {
      volume.Fail("volume label out of range", 0x0C);
    }
    result.label = volume.Ansi(labelOffset, "volume label");
  }
  return result;
}

std::string ReadNetworkName(const Window& info, size_t offset) {
  const uint32_t size = info.U32(offset, "network link size");
  if (size < kNetworkLinkHeaderSize) info.Fail("network link too short", offset);
  const Window net = info.Sub(offset, size, "network link");
  const uint32_t flags = net.U32(4, "network link flags");
  const uint32_t nameOffset = net.U32(8, "network name offset");
  if (nameOffset < kNetworkLinkHeaderSize || nameOffset >= size) {
    net.Fail("network name out of range", 8);
  }
  std::string name = net.Ansi(nameOffset, "network name");
  if ((flags & 0x1) != 0) {
    const uint32_t deviceOffset = net.U32(0x0C, "device name offset");
    if (deviceOffset < kNetworkLinkHeaderSize || deviceOffset >= size) {
      net.Fail("device name out of range", 0x0C);
    }
    net.Ansi(deviceOffset, "device name");
  }
  if (nameOffset > kNetworkLinkHeaderSize) {
    for (size_t field : {size_t{0x14}, size_t{0x18}}) {
      const uint32_t unicodeOffset = net.U32(field, "network Unicode offset");
      if (unicodeOffset == 0) continue;
      if (unicodeOffset < kNetworkLinkHeaderSize || unicodeOffset >= size) {
        net.Fail("network Unicode offset out of range", field);
      }
      std::string text = net.Wide(unicodeOffset, "network Unicode name");
      if (field == 0x14) name = std::move(text);
    }
  }
  return name;
}

void ReadLinkInfo(const Window& info, ShellLink& link) {
  const uint32_t headerSize = info.U32(4, "link info header size");
  if (headerSize < kLinkInfoHeaderSize || headerSize > info.Size() ||
      (headerSize > kLinkInfoHeaderSize && headerSize < kLinkInfoUnicodeHeaderSize)) {
    info.Fail("bad link info header size", 4);
  }
  const uint32_t flags = info.U32(8, "link info flags");
  std::optional<std::string> base;
  if ((flags & 0x1) != 0) {
    link.volume = ReadVolumeId(info, LinkInfoOffset(info, 0x0C, headerSize, "volume ID offset"));
    base = info.Ansi(LinkInfoOffset(info, 0x10, headerSize, "local path offset"), "local path");
    if (auto unicode = UnicodeOffset(info, 0x1C, headerSize, "Unicode local path offset")) {
      base = info.Wide(*unicode, "Unicode local path");
    }
  }
  if ((flags & 0x2) != 0) {
    std::string net =
        ReadNetworkName(info, LinkInfoOffset(info, 0x14, headerSize, "network link offset"));
    if (!base) base = std::move(net);
  }
  std::string suffix =
      info.Ansi(LinkInfoOffset(info, 0x18, headerSize, "path suffix offset"), "path suffix");
  if (auto unicode = UnicodeOffset(info, 0x20, headerSize, "Unicode path suffix offset")) {
    suffix = info.Wide(*unicode, "Unicode path suffix");
  }
  if (!base) return;
  if (suffix.empty()) {
    link.linkInfoPath = *base;
  } else if (!base->empty() && base->back() == '\\') {
    link.linkInfoPath = *base + suffix;
  } else {
    link.linkInfoPath = *base + "\\" + suffix;
  }
}

// ---- Extra data ----

std::string ReadEnvironmentBlock(const Window& block) {
  const Window ansi = block.Sub(8, 260, "environment block");
  const Window wide = block.Sub(8 + 260, 520, "environment block");
  std::string text = ansi.FindAnsi(0).value_or(ansi.Bytes(0, 260, "environment block"));
  std::u16string unicode;
  for (size_t at = 0; at < wide.Size(); at += 2) {
    const char16_t unit = wide.U16(at, "environment block");
    if (unit == 0) break;
    unicode.push_back(unit);
  }
  return unicode.empty() ? text : WideToAnsi(unicode);
}

void ReadExtraData(const Window& file, size_t offset, ShellLink& link) {
  for (size_t blocks = 0; offset < file.Size(); ++blocks) {
    if (blocks > kMaxExtraBlocks) file.Fail("too many extra data blocks", offset);
    const uint32_t size = file.U32(offset, "extra data block size");
    if (size < 4) return;  // terminal block
    if (size < 8) file.Fail("extra data block too short", offset);
    const Window block = file.Sub(offset, size, "extra data block");
    const uint32_t signature = block.U32(4, "extra data signature");
    if (size == kEnvironmentBlockSize && signature == kEnvironmentBlock) {
      link.environmentTarget = ReadEnvironmentBlock(block);
    } else if (size == kEnvironmentBlockSize && signature == kIconEnvironmentBlock) {
      link.environmentIcon = ReadEnvironmentBlock(block);
    }
    offset += size;
  }
}

// ---- Writing ----

void PutString(std::vector<uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

void PutCounted(std::vector<uint8_t>& out, std::string_view text) {
  Append16(out, static_cast<uint16_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

void CheckText(std::string_view text, const char* what) {
  if (text.size() >= kMaxShellPath) {
    throw ShellLinkEncodeError(std::string(what) + " " + Cp1252ToUtf8(text) +
                               " is too long: " + std::to_string(text.size()) +
                               " characters, at most " + std::to_string(kMaxShellPath - 1));
  }
  if (text.find('\0') != std::string_view::npos) {
    throw ShellLinkEncodeError(std::string(what) + " holds a NUL character");
  }
}

uint8_t VolumeItemType(uint32_t driveType) {
  switch (driveType) {
    case 2:
      return 0x29;  // removable (floppy)
    case 4:
      return 0x2A;  // network
    case 5:
      return 0x25;  // CD-ROM
    default:
      return 0x23;  // fixed disk
  }
}

std::vector<uint8_t> EncodeIdList(const ShellLinkTarget& target) {
  std::vector<uint8_t> items;
  Append16(items, 0x14);
  items.push_back(kRootItem);
  items.push_back(kMyComputerSortIndex);
  items.insert(items.end(), kMyComputerClsid.begin(), kMyComputerClsid.end());

  Append16(items, 0x19);
  items.push_back(VolumeItemType(target.volume.driveType));
  std::array<uint8_t, kVolumeNameField> volume{};
  volume[0] = static_cast<uint8_t>(target.drive);
  volume[1] = ':';
  volume[2] = '\\';
  items.insert(items.end(), volume.begin(), volume.end());
  Append16(items, 0);

  for (const ShellLinkEntry& entry : target.entries) {
    if (entry.longName.empty() || entry.longName.find('\\') != std::string::npos) {
      throw ShellLinkEncodeError("Bad path component " + Cp1252ToUtf8(entry.longName));
    }
    CheckText(entry.longName, "Name");
    CheckText(entry.shortName, "Short name");
    Append16(items, static_cast<uint16_t>(kFileEntryFixedSize + entry.longName.size() + 1 +
                                          entry.shortName.size() + 1));
    items.push_back(entry.directory ? kDirectoryItem : kFileItem);
    items.push_back(0);
    Append32(items, entry.directory ? 0 : entry.size);
    Append16(items, entry.dosDate);
    Append16(items, entry.dosTime);
    Append16(items, entry.attributes);
    PutString(items, entry.longName);
    PutString(items, entry.shortName);
  }
  Append16(items, 0);
  return items;
}

// The network form: a CommonNetworkRelativeLink naming the share, its provider and the drive
// that reaches it, then the path below the share as the common suffix.
std::vector<uint8_t> EncodeNetworkLinkInfo(const ShellLinkTarget& target) {
  const std::string device{target.drive, ':'};
  const std::string suffix = target.PathBelowRoot();
  const uint32_t deviceOffset =
      static_cast<uint32_t>(kNetworkLinkHeaderSize + target.networkName.size() + 1);
  const uint32_t networkSize = static_cast<uint32_t>(deviceOffset + device.size() + 1);
  const uint32_t suffixOffset = static_cast<uint32_t>(kLinkInfoHeaderSize + networkSize);
  std::vector<uint8_t> info;
  Append32(info, static_cast<uint32_t>(suffixOffset + suffix.size() + 1));
  Append32(info, kLinkInfoHeaderSize);
  Append32(info, 0x2);  // CommonNetworkRelativeLinkAndPathSuffix
  Append32(info, 0);
  Append32(info, 0);
  Append32(info, kLinkInfoHeaderSize);
  Append32(info, suffixOffset);
  Append32(info, networkSize);
  Append32(info, 0x3);  // ValidDevice, ValidNetType
  Append32(info, kNetworkLinkHeaderSize);
  Append32(info, deviceOffset);
  Append32(info, kNetworkProviderLanman);
  PutString(info, target.networkName);
  PutString(info, device);
  PutString(info, suffix);
  return info;
}

std::vector<uint8_t> EncodeLinkInfo(const ShellLinkTarget& target, std::string_view path) {
  if (!target.networkName.empty()) return EncodeNetworkLinkInfo(target);
  const uint32_t volumeSize =
      static_cast<uint32_t>(kVolumeIdHeaderSize + target.volume.label.size() + 1);
  const uint32_t pathOffset = static_cast<uint32_t>(kLinkInfoHeaderSize + volumeSize);
  const uint32_t suffixOffset = static_cast<uint32_t>(pathOffset + path.size() + 1);
  std::vector<uint8_t> info;
  Append32(info, suffixOffset + 1);
  Append32(info, kLinkInfoHeaderSize);
  Append32(info, 0x1);  // VolumeIDAndLocalBasePath
  Append32(info, kLinkInfoHeaderSize);
  Append32(info, pathOffset);
  Append32(info, 0);
  Append32(info, suffixOffset);
  Append32(info, volumeSize);
  Append32(info, target.volume.driveType);
  Append32(info, target.volume.serial);
  Append32(info, kVolumeIdHeaderSize);
  PutString(info, target.volume.label);
  PutString(info, path);
  PutString(info, "");
  return info;
}

// ---- Target facts from the host ----

uint64_t FileTime(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kFileTimeEpochOffset) return 0;
  return static_cast<uint64_t>(seconds + kFileTimeEpochOffset) * 10000000u + nanoseconds / 100;
}

std::pair<uint16_t, uint16_t> DosDateTime(int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (gmtime_r(&time, &utc) == nullptr || utc.tm_year < 80) return {(1 << 5) | 1, 0};
  const int year = std::min(utc.tm_year - 80, 127);
  const auto date = static_cast<uint16_t>((year << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
  const auto time16 =
      static_cast<uint16_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  return {date, time16};
}

struct HostFacts {
  bool directory = false;
  uint64_t size = 0;
  uint32_t attributes = 0;
  uint64_t creationTime = 0;
  uint64_t accessTime = 0;
  uint64_t writeTime = 0;
  int64_t writeSeconds = 0;
};

std::optional<HostFacts> ReadHostFacts(const fs::path& path) {
  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
    return std::nullopt;
  }
  HostFacts facts;
  facts.directory = S_ISDIR(info.stx_mode);
  facts.size = facts.directory ? 0 : info.stx_size;
  facts.writeSeconds = info.stx_mtime.tv_sec;
  facts.writeTime = FileTime(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
  facts.accessTime = FileTime(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
  facts.creationTime = (info.stx_mask & STATX_BTIME) != 0
                           ? FileTime(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                           : facts.writeTime;

  // A vfat mount knows the real DOS attributes.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  uint32_t dosAttributes = 0;
  if (fd.Valid() && ::ioctl(fd.Get(), FAT_IOCTL_GET_ATTRIBUTES, &dosAttributes) == 0) {
    facts.attributes = dosAttributes & 0xFF;
  } else {
    facts.attributes = facts.directory ? kAttributeDirectory : kAttributeArchive;
    if ((info.stx_mode & S_IWUSR) == 0) facts.attributes |= kAttributeReadOnly;
  }
  return facts;
}

uint32_t Win32DriveType(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return 2;
    case DriveType::Fixed:
      return 3;
    case DriveType::Remote:
      return 4;
    case DriveType::CdRom:
      return 5;
    case DriveType::RamDisk:
      return 6;
  }
  return 0;
}

// The drive of a path's root: its letter, or the network drive whose remote name it is.
const DriveInfo* RootDrive(const Machine& machine, const MachinePath& path) {
  if (path.root.size() == 2) return machine.FindDrive(path.root[0]);
  for (const DriveInfo& drive : machine.Drives()) {
    if (!drive.remoteName.empty() && EqualsIgnoreCase(drive.remoteName, path.root)) return &drive;
  }
  return nullptr;
}

std::optional<ShellLinkTarget> DescribeTarget(const Machine& machine, const MachinePath& path) {
  const DriveInfo* drive = RootDrive(machine, path);
  if (drive == nullptr) return std::nullopt;
  ShellLinkTarget target;
  if (path.root.size() != 2) target.networkName = drive->remoteName;
  target.drive = drive->letter;
  target.volume = {Win32DriveType(drive->type), drive->serial, drive->label};
  for (const MachinePathComponent& component : path.components) {
    const auto facts = ReadHostFacts(component.hostPath);
    if (!facts) return std::nullopt;
    const auto [date, time] = DosDateTime(facts->writeSeconds);
    target.entries.push_back({component.longName,
                              component.shortName == component.longName ? "" : component.shortName,
                              facts->directory, static_cast<uint32_t>(facts->size), date, time,
                              static_cast<uint16_t>(facts->attributes)});
  }
  const auto facts = ReadHostFacts(path.HostPath());
  if (!facts) return std::nullopt;
  target.attributes = facts->attributes;
  target.creationTime = facts->creationTime;
  target.accessTime = facts->accessTime;
  target.writeTime = facts->writeTime;
  target.fileSize = static_cast<uint32_t>(facts->size);
  return target;
}

// ---- Resolving ----

// Joins a relative path onto a folder, folding "." and ".."; empty when it climbs above the root.
std::optional<std::string> JoinRelative(std::string_view folder, std::string_view relative) {
  if (folder.size() < 2 || folder[1] != ':') return std::nullopt;
  std::vector<std::string> parts = SplitWindowsPath(folder.substr(2));
  for (const std::string& part : SplitWindowsPath(relative)) {
    if (part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else {
      parts.push_back(part);
    }
  }
  std::string path(folder.substr(0, 2));
  for (const std::string& part : parts) path.append("\\").append(part);
  return path;
}

// Expands the variables Windows 95 sets: %windir%, %SystemRoot%, %SystemDrive%, %ProgramFiles%.
std::string ExpandVariables(const Machine& machine, std::string_view text) {
  const std::string& windows = machine.WindowsDirectory();
  const std::string drive = windows.substr(0, 2);
  const std::pair<std::string_view, std::string> variables[] = {
      {"%windir%", windows},
      {"%SystemRoot%", windows},
      {"%SystemDrive%", drive},
      {"%ProgramFiles%", drive + "\\Program Files"},
  };
  std::string result;
  size_t at = 0;
  while (at < text.size()) {
    bool replaced = false;
    for (const auto& [name, value] : variables) {
      if (EqualsIgnoreCase(text.substr(at, name.size()), name)) {
        result += value;
        at += name.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) result.push_back(text[at++]);
  }
  return result;
}

std::optional<std::string> ExistingShortPath(const Machine& machine, std::string_view path) {
  if (path.empty() || path.size() >= kMaxShellPath) return std::nullopt;
  auto shortPath = ShortPathName(machine, path);
  if (!shortPath || shortPath->size() >= kMaxShellPath) return std::nullopt;
  return shortPath;
}

}  // namespace

ShellLinkError::ShellLinkError(const std::string& what, size_t offset)
    : Error("Damaged shortcut: " + what + " at offset " + std::to_string(offset)),
      offset_(offset) {}

ShellLinkError::ShellLinkError(const FileReadError& unreadable)
    : Error(unreadable.what()), offset_(0) {}

std::string ShellLinkTarget::PathBelowRoot() const {
  std::string path;
  for (const ShellLinkEntry& entry : entries) {
    if (!path.empty()) path.push_back('\\');
    path += entry.longName;
  }
  return path;
}

std::string ShellLinkTarget::LongPath() const {
  std::string path{drive, ':'};
  for (const ShellLinkEntry& entry : entries) path.append("\\").append(entry.longName);
  return entries.empty() ? path + "\\" : path;
}

std::vector<uint8_t> EncodeShellLink(const NewShellLink& link) {
  const std::string path = link.target.LongPath();
  CheckText(path, "Target path");
  CheckText(link.description, "Description");
  CheckText(link.iconLocation, "Icon location");
  CheckText(link.target.volume.label, "Volume label");
  if (!link.target.networkName.empty()) {
    CheckText(link.target.networkName + "\\" + link.target.PathBelowRoot(), "Network path");
  }

  uint32_t flags = kLinkHasIdList | kLinkHasLinkInfo;
  if (!link.description.empty()) flags |= kLinkHasName;
  if (!link.iconLocation.empty()) flags |= kLinkHasIconLocation;

  std::vector<uint8_t> out;
  Append32(out, kHeaderSize);
  out.insert(out.end(), kLinkClsid.begin(), kLinkClsid.end());
  Append32(out, flags);
  Append32(out, link.target.attributes);
  Append64(out, link.target.creationTime);
  Append64(out, link.target.accessTime);
  Append64(out, link.target.writeTime);
  Append32(out, link.target.fileSize);
  Append32(out, 0);  // icon index
  Append32(out, kShowNormal);
  Append16(out, 0);  // hot key
  Append16(out, 0);
  Append64(out, 0);

  const std::vector<uint8_t> items = EncodeIdList(link.target);
  Append16(out, static_cast<uint16_t>(items.size()));
  out.insert(out.end(), items.begin(), items.end());
  const std::vector<uint8_t> info = EncodeLinkInfo(link.target, path);
  out.insert(out.end(), info.begin(), info.end());
  if (!link.description.empty()) PutCounted(out, link.description);
  if (!link.iconLocation.empty()) PutCounted(out, link.iconLocation);
  Append32(out, 0);  // terminal block
  return out;
}

std::string ShellLink::TargetPath() const {
  if (linkInfoPath && (linkFlags & kLinkForceNoLinkInfo) == 0) return *linkInfoPath;
  return idListPath.value_or(std::string());
}

std::string ShellLink::IconPath() const {
  if ((linkFlags & kLinkHasExpIcon) != 0 && !environmentIcon.empty()) return environmentIcon;
  return iconLocation;
}

ShellLink DecodeShellLink(std::span<const uint8_t> bytes) {
  const Window file(bytes, 0, bytes.size());
  if (bytes.size() < kHeaderSize || file.U32(0, "header") != kHeaderSize ||
      !file.Equals(4, kLinkClsid, "header")) {
    throw ShellLinkError("not a shell link", 0);
  }
  ShellLink link;
  link.linkFlags = file.U32(0x14, "header");
  link.fileAttributes = file.U32(0x18, "header");
  link.creationTime = file.U64(0x1C, "header");
  link.accessTime = file.U64(0x24, "header");
  link.writeTime = file.U64(0x2C, "header");
  link.fileSize = file.U32(0x34, "header");
  link.iconIndex = static_cast<int32_t>(file.U32(0x38, "header"));
  link.showCommand = file.U32(0x3C, "header");
  if (link.showCommand != 3 && link.showCommand != 7) link.showCommand = kShowNormal;
  link.hotKey = file.U16(0x40, "header");

  size_t offset = kHeaderSize;
  if ((link.linkFlags & kLinkHasIdList) != 0) {
    const uint16_t size = file.U16(offset, "item list size");
    ReadIdList(file.Sub(offset + 2, size, "item list"), link);
    offset += 2 + size;
  }
  if ((link.linkFlags & kLinkHasLinkInfo) != 0) {
    const uint32_t size = file.U32(offset, "link info size");
    if (size < kLinkInfoHeaderSize) file.Fail("link info too short", offset);
    ReadLinkInfo(file.Sub(offset, size, "link info"), link);
    offset += size;
  }
  const bool unicode = (link.linkFlags & kLinkIsUnicode) != 0;
  const std::pair<uint32_t, std::string*> strings[] = {
      {kLinkHasName, &link.description},
      {kLinkHasRelativePath, &link.relativePath},
      {kLinkHasWorkingDir, &link.workingDirectory},
      {kLinkHasArguments, &link.arguments},
      {kLinkHasIconLocation, &link.iconLocation},
  };
  for (const auto& [flag, text] : strings) {
    if ((link.linkFlags & flag) == 0) continue;
    const size_t count = file.U16(offset, "string length");
    const size_t length = count * (unicode ? 2 : 1);
    const Window data = file.Sub(offset + 2, length, "string");
    if (unicode) {
      std::u16string wide;
      for (size_t i = 0; i < count; ++i) wide.push_back(data.U16(i * 2, "string"));
      *text = WideToAnsi(wide);
    } else {
      *text = data.Bytes(0, length, "string");
    }
    DropTrailingNuls(*text);
    offset += 2 + length;
  }
  ReadExtraData(file, offset, link);
  return link;
}

ShellLink ReadShellLinkFile(const fs::path& hostFile) {
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(hostFile, kMaxLinkFileSize);
  } catch (const FileReadError& e) {
    throw ShellLinkError(e);
  }
  return DecodeShellLink(bytes);
}

namespace {

[[noreturn]] void RefuseLink(std::string_view linkFile, const std::string& why) {
  throw ShellLinkWriteError("The shortcut " + Cp1252ToUtf8(linkFile) +
                            " cannot be written: " + why + ".");
}

}  // namespace

void WriteShellLinkFile(const Machine& machine, std::string_view target, std::string_view linkFile,
                        std::string_view description, std::string_view iconFile) {
  if (linkFile.size() >= kMaxShellPath || target.size() >= kMaxShellPath ||
      description.size() >= kMaxShellPath || iconFile.size() >= kMaxShellPath) {
    RefuseLink(linkFile, "a path or text is longer than " + std::to_string(kMaxShellPath - 1) +
                             " characters");
  }
  const std::string name = ExtractFileName(linkFile);
  if (name.empty()) RefuseLink(linkFile, "it has no file name");
  const auto folder = LocateMachinePath(machine, ExtractFilePath(linkFile));
  if (!folder) RefuseLink(linkFile, "its folder does not exist");
  const auto targetPath = LocateMachinePath(machine, target);
  if (!targetPath) RefuseLink(linkFile, "its target " + Cp1252ToUtf8(target) + " does not exist");
  const auto hostFile = machine.HostPath(AddTrailingBackslash(folder->LongPath()) + name);
  if (!hostFile) RefuseLink(linkFile, "its folder does not exist");
  std::error_code ec;
  if (fs::is_directory(*hostFile, ec)) RefuseLink(linkFile, "a folder has its name");

  NewShellLink link;
  const auto described = DescribeTarget(machine, *targetPath);
  if (!described) RefuseLink(linkFile, "its target cannot be described");
  link.target = *described;
  link.description = description;
  link.iconLocation = iconFile;
  WriteFileAtomically(*hostFile, EncodeShellLink(link));
}

std::string ResolveShellLinkFile(const Machine& machine, std::string_view linkFile) {
  if (linkFile.size() >= kMaxShellPath) return {};
  const auto located = LocateMachinePath(machine, linkFile);
  if (!located) return {};
  ShellLink link;
  try {
    link = ReadShellLinkFile(located->HostPath());
  } catch (const ShellLinkError&) {
    return {};
  }
  std::vector<std::string> candidates = {link.TargetPath(), link.idListPath.value_or("")};
  if ((link.linkFlags & kLinkHasExpString) != 0 && !link.environmentTarget.empty()) {
    candidates.push_back(ExpandVariables(machine, link.environmentTarget));
  }
  if (!link.relativePath.empty()) {
    const std::string folder = ExtractFilePath(located->LongPath());
    if (auto joined = JoinRelative(folder, link.relativePath)) candidates.push_back(*joined);
  }
  for (const std::string& candidate : candidates) {
    if (auto shortPath = ExistingShortPath(machine, candidate)) return *shortPath;
  }
  return {};
}

}  // namespace tarnwick
