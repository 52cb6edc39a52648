#include "formats/pe_icons.h"

#include <algorithm>
#include <unordered_set>

#include "base/bytes.h"
#include "formats/ico_file.h"

namespace tarnwick {
namespace {

constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtGroupIcon = 14;
constexpr size_t kMaxSections = 96;
constexpr size_t kGroupDirSize = 6;
constexpr size_t kGroupEntrySize = 14;

bool Fits(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

// A byte range of the file known to lie inside it; empty data when it could not be read.
struct Blob {
  std::optional<std::span<const uint8_t>> data;
};

struct Resources {
  std::vector<ExeIconGroup> groups;
  std::vector<Blob> groupData;  // parallel to groups
  struct Image {
    uint16_t id = 0;
    uint16_t language = 0;
    Blob blob;
  };
  std::vector<Image> images;
};

// ---- PE ----

struct Section {
  uint32_t virtualAddress = 0;
  uint32_t span = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
};

class PeReader {
 public:
  explicit PeReader(std::span<const uint8_t> file) : file_(file) {}

  std::optional<Resources> Read(uint64_t peHeader);

 private:
  struct Entry {
    uint32_t name = 0;
    uint32_t target = 0;
  };
  // The file offset of an RVA range lying inside one section's raw data and the file.
  std::optional<uint64_t> Map(uint32_t rva, uint64_t length, const Section** in = nullptr) const;
  std::optional<std::vector<Entry>> Directory(uint32_t offset);
  // The length of a name string lying in the region.
  std::optional<uint64_t> NameLength(uint32_t offset) const;
  // A name string, charged to nameBudget_.
  std::optional<std::u16string> Name(uint32_t offset);
  // Levels two and three below a type, with the names of named entries when withNames; false on
  // damage.
  template <typename Add>
  bool Names(uint32_t typeTarget, bool withNames, Add add);
  std::optional<Blob> Data(uint32_t offset) const;

  std::span<const uint8_t> file_;
  std::vector<Section> sections_;
  uint64_t base_ = 0;    // file offset of the resource directory
  uint64_t region_ = 0;  // bytes of it that can be read
  // Names differ within a type, so their strings cannot share bytes: decoding more name bytes
  // than the region holds means entries share a string, each copy a new allocation.
  uint64_t nameBudget_ = 0;
  std::unordered_set<uint32_t> visited_;
};

std::optional<uint64_t> PeReader::Map(uint32_t rva, uint64_t length, const Section** in) const {
  for (const Section& s : sections_) {
    if (rva < s.virtualAddress || rva - s.virtualAddress >= s.span) continue;
    const uint64_t delta = rva - s.virtualAddress;
    if (!Fits(delta, length, s.rawSize)) return std::nullopt;
    const uint64_t offset = uint64_t{s.rawPointer} + delta;
    if (!Fits(offset, length, file_.size())) return std::nullopt;
    if (in) *in = &s;
    return offset;
  }
  return std::nullopt;
}

std::optional<std::vector<PeReader::Entry>> PeReader::Directory(uint32_t offset) {
  if (!visited_.insert(offset).second) return std::nullopt;  // loops and shared tables
  if (!Fits(offset, 16, region_)) return std::nullopt;
  const uint64_t count =
      uint64_t{Get16(file_, base_ + offset + 12)} + Get16(file_, base_ + offset + 14);
  if (!Fits(uint64_t{offset} + 16, count * 8, region_)) return std::nullopt;
  std::vector<Entry> entries(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = base_ + offset + 16 + 8 * i;
    entries[i] = {Get32(file_, at), Get32(file_, at + 4)};
  }
  return entries;
}

std::optional<uint64_t> PeReader::NameLength(uint32_t offset) const {
  if (!Fits(offset, 2, region_)) return std::nullopt;
  const uint64_t length = Get16(file_, base_ + offset);
  if (!Fits(uint64_t{offset} + 2, 2 * length, region_)) return std::nullopt;
  return length;
}

std::optional<std::u16string> PeReader::Name(uint32_t offset) {
  const auto length = NameLength(offset);
  if (!length || 2 + 2 * *length > nameBudget_) return std::nullopt;
  nameBudget_ -= 2 + 2 * *length;
  std::u16string name;
  for (uint64_t i = 0; i < *length; ++i) {
    name.push_back(static_cast<char16_t>(Get16(file_, base_ + offset + 2 + 2 * i)));
  }
  return name;
}

std::optional<Blob> PeReader::Data(uint32_t offset) const {
  if (!Fits(offset, 16, region_)) return std::nullopt;
  const uint32_t rva = Get32(file_, base_ + offset);
  const uint32_t size = Get32(file_, base_ + offset + 4);
  if (size > file_.size()) return std::nullopt;
  Blob blob;
  if (size <= kMaxIconResourceSize) {
    if (const auto at = Map(rva, size)) blob.data = file_.subspan(*at, size);
  }
  return blob;
}

template <typename Add>
bool PeReader::Names(uint32_t typeTarget, bool withNames, Add add) {
  constexpr uint32_t kSubdirectory = 0x80000000u;
  if (!(typeTarget & kSubdirectory)) return false;
  const auto names = Directory(typeTarget & ~kSubdirectory);
  if (!names) return false;
  for (const Entry& n : *names) {
    ExeIconGroup key;
    if (!(n.name & kSubdirectory)) {
      key.id = static_cast<uint16_t>(n.name);
    } else if (!withNames) {
      if (!NameLength(n.name & ~kSubdirectory)) return false;
    } else {
      auto name = Name(n.name & ~kSubdirectory);
      if (!name) return false;
      key.name = std::move(*name);
    }
    if (!(n.target & kSubdirectory)) return false;
    const auto languages = Directory(n.target & ~kSubdirectory);
    if (!languages) return false;
    std::vector<std::pair<uint16_t, Blob>> variants;
    for (const Entry& l : *languages) {
      if (l.target & kSubdirectory) return false;  // a fourth level
      const auto blob = Data(l.target);
      if (!blob) return false;
      variants.emplace_back(static_cast<uint16_t>(l.name), *blob);
    }
    if (!variants.empty()) add(key, variants);
  }
  return true;
}

std::optional<Resources> PeReader::Read(uint64_t pe) {
  const uint64_t optional = pe + 24;
  const uint16_t sectionCount = Get16(file_, pe + 6);
  const uint16_t optionalSize = Get16(file_, pe + 20);
  if (optionalSize < 2 || !Fits(optional, optionalSize, file_.size())) return std::nullopt;
  const uint16_t magic = Get16(file_, optional);
  if (magic != 0x10B && magic != 0x20B) return std::nullopt;
  const uint32_t countField = magic == 0x10B ? 0x5C : 0x6C;
  const uint32_t directories = magic == 0x10B ? 0x60 : 0x70;
  if (optionalSize < directories) return std::nullopt;
  const uint64_t usable =
      std::min<uint64_t>(Get32(file_, optional + countField), (optionalSize - directories) / 8);
  if (usable < 3) return Resources{};
  const uint32_t resourceRva = Get32(file_, optional + directories + 16);
  const uint32_t resourceSize = Get32(file_, optional + directories + 20);
  if (resourceRva == 0 || resourceSize == 0) return Resources{};

  if (sectionCount > kMaxSections) return std::nullopt;
  const uint64_t table = optional + optionalSize;
  if (!Fits(table, uint64_t{sectionCount} * 40, file_.size())) return std::nullopt;
  for (uint64_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + 40 * i;
    Section s{Get32(file_, at + 12), Get32(file_, at + 8), Get32(file_, at + 16),
              Get32(file_, at + 20)};
    if (s.span == 0) s.span = s.rawSize;
    sections_.push_back(s);
  }
  const Section* section = nullptr;
  const auto base = Map(resourceRva, 16, &section);
  if (!base) return std::nullopt;
  base_ = *base;
  region_ =
      std::min<uint64_t>(uint64_t{section->rawPointer} + section->rawSize, file_.size()) - base_;
  nameBudget_ = region_;

  const auto types = Directory(0);
  if (!types) return std::nullopt;
  Resources res;
  for (const Entry& t : *types) {
    if (t.name & 0x80000000u) continue;  // named types hold no icons
    const auto type = static_cast<uint16_t>(t.name);
    bool ok = true;
    if (type == kRtGroupIcon) {
      ok = Names(t.target, true,
                 [&](ExeIconGroup key, const std::vector<std::pair<uint16_t, Blob>>& v) {
                   key.language = v.front().first;
                   res.groups.push_back(std::move(key));
                   res.groupData.push_back(v.front().second);
                 });
    } else if (type == kRtIcon) {
      ok = Names(t.target, false,
                 [&](const ExeIconGroup& key, const std::vector<std::pair<uint16_t, Blob>>& v) {
                   if (!key.id) return;  // images are found by integer ID only
                   for (const auto& [language, blob] : v)
                     res.images.push_back({*key.id, language, blob});
                 });
    }
    if (!ok) return std::nullopt;
  }
  return res;
}

// ---- NE ----

std::optional<Resources> ReadNe(std::span<const uint8_t> file, uint64_t ne) {
  if (!Fits(ne, 0x40, file.size())) return std::nullopt;
  const uint64_t table = ne + Get16(file, ne + 0x24);
  const uint64_t end = ne + Get16(file, ne + 0x26);  // the resident-name table follows it
  if (table == end) return Resources{};
  if (end < table || end > file.size() || end - table < 2) return std::nullopt;
  const unsigned shift = Get16(file, table);
  if (shift > 15) return std::nullopt;
  Resources res;
  uint64_t pos = table + 2;
  while (true) {
    if (!Fits(pos, 2, end)) return std::nullopt;
    const uint16_t type = Get16(file, pos);
    if (type == 0) break;
    if (!Fits(pos, 8, end)) return std::nullopt;
    const uint16_t count = Get16(file, pos + 2);
    pos += 8;
    if (!Fits(pos, uint64_t{count} * 12, end)) return std::nullopt;
    for (uint16_t i = 0; i < count; ++i, pos += 12) {
      const uint64_t offset = uint64_t{Get16(file, pos)} << shift;
      const uint64_t length = uint64_t{Get16(file, pos + 2)} << shift;
      const uint16_t id = Get16(file, pos + 6);
      Blob blob;
      if (offset < file.size() && length > 0) {
        // The last resource may lack its padding: clamp rather than fail.
        const uint64_t available = std::min<uint64_t>(length, file.size() - offset);
        if (available <= kMaxIconResourceSize) blob.data = file.subspan(offset, available);
      }
      if (type == (0x8000 | kRtGroupIcon)) {
        ExeIconGroup group;
        if (id & 0x8000) {
          group.id = static_cast<uint16_t>(id & 0x7FFF);
        } else {
          const uint64_t at = table + id;
          if (!Fits(at, 1, end) || !Fits(at + 1, file[at], end)) return std::nullopt;
          for (uint8_t c = 0; c < file[at]; ++c) group.name.push_back(file[at + 1 + c]);
        }
        res.groups.push_back(std::move(group));
        res.groupData.push_back(blob);
      } else if (type == (0x8000 | kRtIcon) && (id & 0x8000)) {
        res.images.push_back({static_cast<uint16_t>(id & 0x7FFF), 0, blob});
      }
    }
  }
  return res;
}

// Empty when the file is damaged; no groups for a program without icon resources.
std::optional<Resources> ReadResources(std::span<const uint8_t> file) {
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
  const uint64_t header = Get32(file, 0x3C);
  if (!Fits(header, 2, file.size())) {
    // A relocation table at 0x40 or later announces a new header, which is missing here.
    if (Get16(file, 0x18) >= 0x40) return std::nullopt;
    return Resources{};
  }
  if (file[header] == 'N' && file[header + 1] == 'E') return ReadNe(file, header);
  if (file[header] != 'P' || file[header + 1] != 'E') {
    return Resources{};  // MS-DOS, LE, LX: no icon resources
  }
  if (!Fits(header, 24, file.size()) || file[header + 2] != 0 || file[header + 3] != 0) {
    return std::nullopt;
  }
  return PeReader(file).Read(header);
}

std::optional<std::span<const uint8_t>> FindImage(const Resources& res, uint16_t id,
                                                  uint16_t language) {
  const Resources::Image* first = nullptr;
  for (const Resources::Image& im : res.images) {
    if (im.id != id) continue;
    if (im.language == language) return im.blob.data;
    if (!first) first = &im;
  }
  if (!first) return std::nullopt;
  return first->blob.data;
}

// The images of a group rebuilt as an icon file. Entries of a group may share one image, so the
// images kept are limited to the executable's size: no genuine group holds more.
std::optional<std::vector<uint8_t>> BuildIco(const Resources& res, size_t group, size_t fileSize) {
  const auto data = res.groupData[group].data;
  if (!data || data->size() < kGroupDirSize) return std::nullopt;
  const std::span<const uint8_t> dir = *data;
  const size_t count = Get16(dir, 4);
  if (Get16(dir, 0) != 0 || Get16(dir, 2) != 1 || count < 1 || count > kMaxIconImages ||
      kGroupDirSize + kGroupEntrySize * count > dir.size()) {
    return std::nullopt;
  }
  std::vector<std::pair<std::span<const uint8_t>, std::span<const uint8_t>>> kept;
  size_t imageBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    const auto entry = dir.subspan(kGroupDirSize + kGroupEntrySize * i, kGroupEntrySize);
    auto image = FindImage(res, Get16(entry, 12), res.groups[group].language);
    if (!image || image->empty()) continue;
    const uint32_t declared = Get32(entry, 8);
    if (declared > 0 && declared < image->size()) image = image->first(declared);  // NE padding
    imageBytes += image->size();
    if (imageBytes > fileSize) return std::nullopt;
    kept.emplace_back(entry, *image);
  }
  if (kept.empty()) return std::nullopt;
  std::vector<uint8_t> out{0, 0, 1, 0, static_cast<uint8_t>(kept.size()), 0};
  size_t offset = kGroupDirSize + 16 * kept.size();
  for (const auto& [entry, image] : kept) {
    out.insert(out.end(), entry.begin(), entry.begin() + 8);
    Append32(out, static_cast<uint32_t>(image.size()));
    Append32(out, static_cast<uint32_t>(offset));
    offset += image.size();
  }
  for (const auto& [entry, image] : kept) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace

ExeIcons ExeIconState(std::span<const uint8_t> file) {
  const auto res = ReadResources(file);
  if (!res) return ExeIcons::Damaged;
  return res->groups.empty() ? ExeIcons::None : ExeIcons::Some;
}

std::vector<ExeIconGroup> ListExeIconGroups(std::span<const uint8_t> file) {
  auto res = ReadResources(file);
  if (!res) return {};
  return std::move(res->groups);
}

std::optional<std::vector<uint8_t>> ExtractExeIcon(std::span<const uint8_t> file, int32_t index) {
  const auto res = ReadResources(file);
  if (!res) return std::nullopt;
  if (index >= 0) {
    if (static_cast<size_t>(index) >= res->groups.size()) return std::nullopt;
    return BuildIco(*res, static_cast<size_t>(index), file.size());
  }
  const int64_t id = -static_cast<int64_t>(index);
  for (size_t i = 0; i < res->groups.size(); ++i) {
    if (res->groups[i].id && *res->groups[i].id == id) return BuildIco(*res, i, file.size());
  }
  return std::nullopt;
}

}  // namespace tarnwick
