#include "formats/pe_icons.h"

#include <algorithm>
#include <unordered_set>

#include "base/byte_reader.h"
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

// Reads the resource directory of a PE file. Reads outside the file or the resource section
// throw ByteRangeError: the file is damaged.
class PeReader {
 public:
  explicit PeReader(const ByteReader& file) : file_(file) {}

  std::optional<Resources> Read(uint64_t peHeader);

 private:
  struct Entry {
    uint32_t name = 0;
    uint32_t target = 0;
  };
  // The file offset of an RVA range lying inside one section's raw data and the file.
  std::optional<uint64_t> Map(uint32_t rva, uint64_t length, const Section** in = nullptr) const;
  std::optional<std::vector<Entry>> Directory(uint32_t offset);
  // The UTF-16 units of a name string lying in the region.
  ByteReader NameUnits(uint32_t offset) const;
  // A name string, charged to nameBudget_.
  std::optional<std::u16string> Name(uint32_t offset);
  // Levels two and three below a type, with the names of named entries when withNames; false on
  // damage.
  template <typename Add>
  bool Names(uint32_t typeTarget, bool withNames, Add add);
  std::optional<Blob> Data(uint32_t offset) const;

  ByteReader file_;
  std::vector<Section> sections_;
  // The resource directory to the end of its section or the file: what can be read of it.
  ByteReader region_{std::span<const uint8_t>()};
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
    if (!file_.Has(offset, length)) return std::nullopt;
    if (in) *in = &s;
    return offset;
  }
  return std::nullopt;
}

std::optional<std::vector<PeReader::Entry>> PeReader::Directory(uint32_t offset) {
  if (!visited_.insert(offset).second) return std::nullopt;  // loops and shared tables
  const ByteReader header = region_.Sub(offset, 16);
  const size_t count = size_t{header.U16At(12)} + header.U16At(14);
  ByteReader table = region_.Sub(size_t{offset} + 16, count * 8);
  std::vector<Entry> entries(count);
  for (Entry& entry : entries) entry = {table.U32(), table.U32()};
  return entries;
}

ByteReader PeReader::NameUnits(uint32_t offset) const {
  return region_.Sub(size_t{offset} + 2, 2 * size_t{region_.U16At(offset)});
}

std::optional<std::u16string> PeReader::Name(uint32_t offset) {
  const ByteReader units = NameUnits(offset);
  if (2 + units.Size() > nameBudget_) return std::nullopt;
  nameBudget_ -= 2 + units.Size();
  std::u16string name;
  for (size_t at = 0; at < units.Size(); at += 2) {
    name.push_back(static_cast<char16_t>(units.U16At(at)));
  }
  return name;
}

std::optional<Blob> PeReader::Data(uint32_t offset) const {
  const ByteReader entry = region_.Sub(offset, 16);
  const uint32_t rva = entry.U32At(0);
  const uint32_t size = entry.U32At(4);
  if (size > file_.Size()) return std::nullopt;
  Blob blob;
  if (size <= kMaxIconResourceSize) {
    if (const auto at = Map(rva, size)) blob.data = file_.BytesAt(*at, size);
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
      NameUnits(n.name & ~kSubdirectory);  // only checked to lie in the region
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
  const ByteReader header = file_.Sub(pe, 24);
  const uint16_t sectionCount = header.U16At(6);
  const uint16_t optionalSize = header.U16At(20);
  const ByteReader optional = file_.Sub(pe + 24, optionalSize);
  const uint16_t magic = optional.U16At(0);
  if (magic != 0x10B && magic != 0x20B) return std::nullopt;
  const uint32_t countField = magic == 0x10B ? 0x5C : 0x6C;
  const uint32_t directories = magic == 0x10B ? 0x60 : 0x70;
  if (optionalSize < directories) return std::nullopt;
  const uint64_t usable =
      std::min<uint64_t>(optional.U32At(countField), (optionalSize - directories) / 8);
  if (usable < 3) return Resources{};
  const uint32_t resourceRva = optional.U32At(directories + 16);
  const uint32_t resourceSize = optional.U32At(directories + 20);
  if (resourceRva == 0 || resourceSize == 0) return Resources{};

  if (sectionCount > kMaxSections) return std::nullopt;
  const ByteReader table = file_.Sub(pe + 24 + optionalSize, size_t{sectionCount} * 40);
  for (size_t i = 0; i < sectionCount; ++i) {
    const ByteReader entry = table.Sub(40 * i, 40);
    Section s{entry.U32At(12), entry.U32At(8), entry.U32At(16), entry.U32At(20)};
    if (s.span == 0) s.span = s.rawSize;
    sections_.push_back(s);
  }
  const Section* section = nullptr;
  const auto base = Map(resourceRva, 16, &section);
  if (!base) return std::nullopt;
  const uint64_t end =
      std::min<uint64_t>(uint64_t{section->rawPointer} + section->rawSize, file_.Size());
  region_ = file_.Sub(*base, end - *base);
  nameBudget_ = region_.Size();

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

std::optional<Resources> ReadNe(const ByteReader& file, uint64_t ne) {
  const ByteReader header = file.Sub(ne, 0x40);
  const uint64_t table = ne + header.U16At(0x24);
  const uint64_t end = ne + header.U16At(0x26);  // the resident-name table follows it
  if (table == end) return Resources{};
  if (end < table) return std::nullopt;
  ByteReader resources = file.Sub(table, end - table);
  const unsigned shift = resources.U16();
  if (shift > 15) return std::nullopt;
  Resources res;
  while (true) {
    const uint16_t type = resources.U16();
    if (type == 0) break;
    const uint16_t count = resources.U16();
    resources.Skip(4);
    ByteReader entries = resources.Sub(resources.Position(), size_t{count} * 12);
    resources.Skip(entries.Size());
    for (uint16_t i = 0; i < count; ++i) {
      const uint64_t offset = uint64_t{entries.U16()} << shift;
      const uint64_t length = uint64_t{entries.U16()} << shift;
      entries.Skip(2);
      const uint16_t id = entries.U16();
      entries.Skip(4);
      Blob blob;
      if (offset < file.Size() && length > 0) {
        // The last resource may lack its padding: clamp rather than fail.
        const uint64_t available = std::min<uint64_t>(length, file.Size() - offset);
        if (available <= kMaxIconResourceSize) blob.data = file.BytesAt(offset, available);
      }
      if (type == (0x8000 | kRtGroupIcon)) {
        ExeIconGroup group;
        if (id & 0x8000) {
          group.id = static_cast<uint16_t>(id & 0x7FFF);
        } else {
          const auto name = resources.BytesAt(size_t{id} + 1, resources.U8At(id));
          group.name.assign(name.begin(), name.end());
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
std::optional<Resources> ReadResources(std::span<const uint8_t> bytes) try {
  const ByteReader file(bytes);
  if (file.Size() < 64 || file.U8At(0) != 'M' || file.U8At(1) != 'Z') return std::nullopt;
  const uint64_t header = file.U32At(0x3C);
  if (!file.Has(header, 2)) {
    // A relocation table at 0x40 or later announces a new header, which is missing here.
    if (file.U16At(0x18) >= 0x40) return std::nullopt;
    return Resources{};
  }
  const uint8_t first = file.U8At(header);
  const uint8_t second = file.U8At(header + 1);
  if (first == 'N' && second == 'E') return ReadNe(file, header);
  if (first != 'P' || second != 'E') return Resources{};  // MS-DOS, LE, LX: no icon resources
  if (file.U8At(header + 2) != 0 || file.U8At(header + 3) != 0) return std::nullopt;
  return PeReader(file).Read(header);
} catch (const ByteRangeError&) {
  return std::nullopt;
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
std::optional<std::vector<uint8_t>> BuildIco(const Resources& res, size_t group,
                                             size_t fileSize) try {
  const auto data = res.groupData[group].data;
  if (!data) return std::nullopt;
  const ByteReader dir(*data);
  const size_t count = dir.U16At(4);
  if (dir.U16At(0) != 0 || dir.U16At(2) != 1 || count < 1 || count > kMaxIconImages) {
    return std::nullopt;
  }
  const ByteReader entries = dir.Sub(kGroupDirSize, kGroupEntrySize * count);
  std::vector<std::pair<std::span<const uint8_t>, std::span<const uint8_t>>> kept;
  size_t imageBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    const ByteReader entry = entries.Sub(kGroupEntrySize * i, kGroupEntrySize);
    auto image = FindImage(res, entry.U16At(12), res.groups[group].language);
    if (!image || image->empty()) continue;
    const uint32_t declared = entry.U32At(8);
    if (declared > 0 && declared < image->size()) image = image->first(declared);  // NE padding
    imageBytes += image->size();
    if (imageBytes > fileSize) return std::nullopt;
    kept.emplace_back(entry.BytesAt(0, kGroupEntrySize), *image);
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
} catch (const ByteRangeError&) {
  return std::nullopt;
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
