#include "formats/shell_link.h"

#include <algorithm>
#include <array>

#include "base/byte_reader.h"
#include "base/bytes.h"
#include "base/cp1252.h"
#include "base/text.h"
#include "machine/machine.h"

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

// ---- Reading ----

[[noreturn]] void Fail(const ByteReader& part, const std::string& what, size_t offset) {
  throw ShellLinkError(what, part.Origin() + offset);
}

bool Equals(const ByteReader& part, size_t offset, std::span<const uint8_t> bytes) {
  return std::ranges::equal(part.BytesAt(offset, bytes.size()), bytes);
}

std::string Text(std::span<const uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A NUL-terminated ANSI string starting at offset; end receives the offset after the NUL.
std::optional<std::string> FindAnsi(const ByteReader& part, size_t offset, size_t* end = nullptr) {
  if (offset >= part.Size()) return std::nullopt;
  const auto rest = part.BytesAt(offset, part.Size() - offset);
  const auto nul = std::ranges::find(rest, 0);
  if (nul == rest.end()) return std::nullopt;
  if (end != nullptr) *end = offset + (nul - rest.begin()) + 1;
  return std::string(rest.begin(), nul);
}

std::string Ansi(const ByteReader& part, size_t offset, const char* what, size_t* end = nullptr) {
  auto text = FindAnsi(part, offset, end);
  if (!text) Fail(part, std::string(what) + " without its terminator", offset);
  return *text;
}

// A UTF-16LE string ended by a wide NUL, converted to ANSI.
std::string Wide(const ByteReader& part, size_t offset, const char* what, size_t* end = nullptr) {
  std::u16string wide;
  for (size_t at = offset;; at += 2) {
    if (!part.Has(at, 2)) Fail(part, std::string(what) + " without its terminator", offset);
    const char16_t unit = part.U16At(at);
    if (unit == 0) {
      if (end != nullptr) *end = at + 2;
      return WideToAnsi(wide);
    }
    wide.push_back(unit);
  }
}

// ---- Item list ----

enum class ItemKind { MyComputer, Volume, FileEntry, Other };

struct Item {
  ItemKind kind = ItemKind::Other;
  std::string volumeName;
  ShellLinkEntry entry;
};

ShellLinkEntry ReadFileEntry(const ByteReader& item, uint8_t type) {
  if (item.Size() < kFileEntryFixedSize) Fail(item, "file entry item too short", 0);
  ShellLinkEntry entry;
  entry.directory = (type & 0x01) != 0;
  entry.size = item.U32At(4);
  entry.dosDate = item.U16At(8);
  entry.dosTime = item.U16At(10);
  entry.attributes = item.U16At(12);
  const bool unicode = (type & 0x04) != 0;
  size_t next = 0;
  const std::string primary = unicode ? Wide(item, kFileEntryFixedSize, "item name", &next)
                                      : Ansi(item, kFileEntryFixedSize, "item name", &next);

  // Windows XP and later: the 8.3 name, then an extension block holding the long name.
  const size_t block = (next + 1) & ~size_t{1};
  if (item.Has(block, 8)) {
    const uint16_t blockSize = item.U16At(block);
    if (blockSize >= 8 && item.Has(block, blockSize) &&
        item.U32At(block + 4) == kExtensionSignature) {
      const ByteReader extension = item.Sub(block, blockSize);
      const uint16_t version = extension.U16At(2);
      size_t nameOffset = 18;
      if (version >= 7) nameOffset += 18;
      if (version >= 3) nameOffset += 2;
      if (version >= 9) nameOffset += 4;
      if (version >= 8) nameOffset += 4;
      entry.longName = version >= 3 ? Wide(extension, nameOffset, "long name") : primary;
      entry.shortName = EqualsIgnoreCase(primary, entry.longName) ? std::string() : primary;
      return entry;
    }
  }
  // Windows 95 layout: long name, then the 8.3 alias (empty when the long name is 8.3).
  entry.longName = primary;
  if (next < item.Size()) {
    entry.shortName = unicode ? Wide(item, next, "item alias") : Ansi(item, next, "item alias");
  }
  return entry;
}

Item ReadItem(const ByteReader& item) {
  Item result;
  const uint8_t type = item.U8At(2);
  if (type == kRootItem) {
    if (item.Size() >= 20 && Equals(item, 4, kMyComputerClsid)) {
      result.kind = ItemKind::MyComputer;
    }
  } else if ((type & 0x70) == 0x20) {
    // Volume items of later systems may carry other data; only a name ending in the field counts.
    const ByteReader field = item.Sub(3, std::min(item.Size() - 3, kVolumeNameField));
    if (auto name = FindAnsi(field, 0)) {
      result.kind = ItemKind::Volume;
      result.volumeName = *name;
    }
  } else if ((type & 0x70) == 0x30) {
    result.kind = ItemKind::FileEntry;
    result.entry = ReadFileEntry(item, type);
  }
  return result;
}

void ReadIdList(const ByteReader& list, ShellLink& link) {
  std::vector<Item> items;
  size_t offset = 0;
  bool terminated = false;
  while (offset < list.Size()) {
    const uint16_t size = list.U16At(offset);
    if (size == 0) {
      offset += 2;
      terminated = true;
      break;
    }
    if (size < 3) Fail(list, "item too short", offset);
    if (items.size() >= kMaxItems) Fail(list, "too many items", offset);
    items.push_back(ReadItem(list.Sub(offset, size)));
    offset += size;
  }
  if (terminated && offset != list.Size()) Fail(list, "data after the item list's end", offset);

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
size_t LinkInfoOffset(const ByteReader& info, size_t field, size_t headerSize, const char* what) {
  const uint32_t offset = info.U32At(field);
  if (offset < headerSize || offset >= info.Size())
    Fail(info, std::string(what) + " out of range", field);
  return offset;
}

std::optional<size_t> UnicodeOffset(const ByteReader& info, size_t field, size_t headerSize,
                                    const char* what) {
  if (headerSize < kLinkInfoUnicodeHeaderSize || info.U32At(field) == 0) return std::nullopt;
  return LinkInfoOffset(info, field, headerSize, what);
}

ShellLinkVolume ReadVolumeId(const ByteReader& info, size_t offset) {
  const uint32_t size = info.U32At(offset);
  if (size <= kVolumeIdHeaderSize) Fail(info, "volume ID too short", offset);
  const ByteReader volume = info.Sub(offset, size);
  ShellLinkVolume result;
  result.driveType = volume.U32At(4);
  result.serial = volume.U32At(8);
  const uint32_t labelOffset = volume.U32At(0x0C);
  if (labelOffset == 0x14) {
    const uint32_t unicodeOffset = volume.U32At(0x10);
    if (unicodeOffset < 0x14 || unicodeOffset >= size)
      Fail(volume, "volume label out of range", 0x10);
    result.label = Wide(volume, unicodeOffset, "volume label");
  } else {
    if (labelOffset < kVolumeIdHeaderSize || labelOffset >= size) {
      Fail(volume, "volume label out of range", 0x0C);
    }
    result.label = Ansi(volume, labelOffset, "volume label");
  }
  return result;
}

std::string ReadNetworkName(const ByteReader& info, size_t offset) {
  const uint32_t size = info.U32At(offset);
  if (size < kNetworkLinkHeaderSize) Fail(info, "network link too short", offset);
  const ByteReader net = info.Sub(offset, size);
  const uint32_t flags = net.U32At(4);
  const uint32_t nameOffset = net.U32At(8);
  if (nameOffset < kNetworkLinkHeaderSize || nameOffset >= size) {
    Fail(net, "network name out of range", 8);
  }
  std::string name = Ansi(net, nameOffset, "network name");
  if ((flags & 0x1) != 0) {
    const uint32_t deviceOffset = net.U32At(0x0C);
    if (deviceOffset < kNetworkLinkHeaderSize || deviceOffset >= size) {
      Fail(net, "device name out of range", 0x0C);
    }
    Ansi(net, deviceOffset, "device name");
  }
  if (nameOffset > kNetworkLinkHeaderSize) {
    for (size_t field : {size_t{0x14}, size_t{0x18}}) {
      const uint32_t unicodeOffset = net.U32At(field);
      if (unicodeOffset == 0) continue;
      if (unicodeOffset < kNetworkLinkHeaderSize || unicodeOffset >= size) {
        Fail(net, "network Unicode offset out of range", field);
      }
      std::string text = Wide(net, unicodeOffset, "network Unicode name");
      if (field == 0x14) name = std::move(text);
    }
  }
  return name;
}

void ReadLinkInfo(const ByteReader& info, ShellLink& link) {
  const uint32_t headerSize = info.U32At(4);
  if (headerSize < kLinkInfoHeaderSize || headerSize > info.Size() ||
      (headerSize > kLinkInfoHeaderSize && headerSize < kLinkInfoUnicodeHeaderSize)) {
    Fail(info, "bad link info header size", 4);
  }
  const uint32_t flags = info.U32At(8);
  std::optional<std::string> base;
  if ((flags & 0x1) != 0) {
    link.volume = ReadVolumeId(info, LinkInfoOffset(info, 0x0C, headerSize, "volume ID offset"));
    base = Ansi(info, LinkInfoOffset(info, 0x10, headerSize, "local path offset"), "local path");
    if (auto unicode = UnicodeOffset(info, 0x1C, headerSize, "Unicode local path offset")) {
      base = Wide(info, *unicode, "Unicode local path");
    }
  }
  if ((flags & 0x2) != 0) {
    std::string net =
        ReadNetworkName(info, LinkInfoOffset(info, 0x14, headerSize, "network link offset"));
    if (!base) base = std::move(net);
  }
  std::string suffix =
      Ansi(info, LinkInfoOffset(info, 0x18, headerSize, "path suffix offset"), "path suffix");
  if (auto unicode = UnicodeOffset(info, 0x20, headerSize, "Unicode path suffix offset")) {
    suffix = Wide(info, *unicode, "Unicode path suffix");
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

std::string ReadEnvironmentBlock(const ByteReader& block) {
  const ByteReader ansi = block.Sub(8, 260);
  const ByteReader wide = block.Sub(8 + 260, 520);
  std::string text = FindAnsi(ansi, 0).value_or(Text(ansi.BytesAt(0, 260)));
  std::u16string unicode;
  for (size_t at = 0; at < wide.Size(); at += 2) {
    const char16_t unit = wide.U16At(at);
    if (unit == 0) break;
    unicode.push_back(unit);
  }
  return unicode.empty() ? text : WideToAnsi(unicode);
}

void ReadExtraData(const ByteReader& file, size_t offset, ShellLink& link) {
  for (size_t blocks = 0; offset < file.Size(); ++blocks) {
    if (blocks > kMaxExtraBlocks) Fail(file, "too many extra data blocks", offset);
    const uint32_t size = file.U32At(offset);
    if (size < 4) return;  // terminal block
    if (size < 8) Fail(file, "extra data block too short", offset);
    const ByteReader block = file.Sub(offset, size);
    const uint32_t signature = block.U32At(4);
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

ShellLink DecodeShellLink(std::span<const uint8_t> bytes) try {
  const ByteReader file(bytes);
  if (bytes.size() < kHeaderSize || file.U32At(0) != kHeaderSize || !Equals(file, 4, kLinkClsid)) {
    throw ShellLinkError("not a shell link", 0);
  }
  ShellLink link;
  link.linkFlags = file.U32At(0x14);
  link.fileAttributes = file.U32At(0x18);
  link.creationTime = file.U64At(0x1C);
  link.accessTime = file.U64At(0x24);
  link.writeTime = file.U64At(0x2C);
  link.fileSize = file.U32At(0x34);
  link.iconIndex = static_cast<int32_t>(file.U32At(0x38));
  link.showCommand = file.U32At(0x3C);
  if (link.showCommand != 3 && link.showCommand != 7) link.showCommand = kShowNormal;
  link.hotKey = file.U16At(0x40);

  size_t offset = kHeaderSize;
  if ((link.linkFlags & kLinkHasIdList) != 0) {
    const uint16_t size = file.U16At(offset);
    ReadIdList(file.Sub(offset + 2, size), link);
    offset += 2 + size;
  }
  if ((link.linkFlags & kLinkHasLinkInfo) != 0) {
    const uint32_t size = file.U32At(offset);
    if (size < kLinkInfoHeaderSize) Fail(file, "link info too short", offset);
    ReadLinkInfo(file.Sub(offset, size), link);
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
    const size_t count = file.U16At(offset);
    const size_t length = count * (unicode ? 2 : 1);
    const ByteReader data = file.Sub(offset + 2, length);
    if (unicode) {
      std::u16string wide;
      for (size_t i = 0; i < count; ++i) wide.push_back(data.U16At(i * 2));
      *text = WideToAnsi(wide);
    } else {
      *text = Text(data.BytesAt(0, length));
    }
    DropTrailingNuls(*text);
    offset += 2 + length;
  }
  ReadExtraData(file, offset, link);
  return link;
} catch (const ByteRangeError& e) {
  throw ShellLinkError("a field runs past the end of its part", e.Offset());
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

ShellLink ReadShellLinkFile(const Machine& machine, std::string_view windowsFile) {
  std::vector<uint8_t> bytes;
  try {
    bytes = machine.ReadFile(windowsFile, kMaxLinkFileSize);
  } catch (const FileReadError& e) {
    throw ShellLinkError(e);
  }
  return DecodeShellLink(bytes);
}

}  // namespace tarnwick
