// Hand-made PE files with icon resources, for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tarnwick::test::pe_test {

inline void Set16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2, 0);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

using ResName = std::variant<uint16_t, std::u16string>;
struct Resource {
  uint16_t type;
  ResName name;
  uint16_t language;
  std::vector<uint8_t> data;
};

inline constexpr uint32_t kRsrcRva = 0x1000;
inline constexpr size_t kRsrcFileOffset = 0x200;

// A .rsrc section in the three-level layout, entries in the order given (named ones first).
inline std::vector<uint8_t> BuildRsrc(const std::vector<Resource>& list) {
  struct Name {
    ResName name;
    std::vector<size_t> items;
  };
  struct Type {
    uint16_t id;
    std::vector<Name> names;
  };
  std::vector<Type> types;
  for (size_t i = 0; i < list.size(); ++i) {
    auto t =
        std::find_if(types.begin(), types.end(), [&](auto& x) { return x.id == list[i].type; });
    if (t == types.end()) t = types.insert(types.end(), Type{list[i].type, {}});
    auto n = std::find_if(t->names.begin(), t->names.end(),
                          [&](auto& x) { return x.name == list[i].name; });
    if (n == t->names.end()) n = t->names.insert(t->names.end(), Name{list[i].name, {}});
    n->items.push_back(i);
  }
  std::vector<uint8_t> s;
  auto table = [&s](size_t named, size_t ids) {
    const size_t at = s.size();
    s.resize(at + 16 + 8 * (named + ids), 0);
    Set16(s, at + 12, static_cast<uint32_t>(named));
    Set16(s, at + 14, static_cast<uint32_t>(ids));
    return at;
  };
  const size_t root = table(0, types.size());
  std::vector<std::pair<size_t, const ResName*>> namedFields;
  std::vector<std::pair<size_t, size_t>> dataEntries;  // entry offset, resource index
  for (size_t i = 0; i < types.size(); ++i) {
    size_t named = 0;
    for (auto& n : types[i].names) named += n.name.index() == 1;
    const size_t td = table(named, types[i].names.size() - named);
    Set32(s, root + 16 + 8 * i, types[i].id);
    Set32(s, root + 20 + 8 * i, 0x80000000u | static_cast<uint32_t>(td));
    for (size_t j = 0; j < types[i].names.size(); ++j) {
      const Name& n = types[i].names[j];
      const size_t nd = table(0, n.items.size());
      if (n.name.index() == 0) {
        Set32(s, td + 16 + 8 * j, std::get<0>(n.name));
      } else {
        namedFields.emplace_back(td + 16 + 8 * j, &n.name);
      }
      Set32(s, td + 20 + 8 * j, 0x80000000u | static_cast<uint32_t>(nd));
      for (size_t k = 0; k < n.items.size(); ++k) {
        Set32(s, nd + 16 + 8 * k, list[n.items[k]].language);
        const size_t de = s.size();
        s.resize(de + 16, 0);
        Set32(s, nd + 20 + 8 * k, static_cast<uint32_t>(de));
        dataEntries.emplace_back(de, n.items[k]);
      }
    }
  }
  for (auto& [field, name] : namedFields) {
    const auto& text = std::get<1>(*name);
    Set32(s, field, 0x80000000u | static_cast<uint32_t>(s.size()));
    Set16(s, s.size(), static_cast<uint32_t>(text.size()));
    for (char16_t c : text) Set16(s, s.size(), c);
  }
  for (auto& [entry, index] : dataEntries) {
    s.resize((s.size() + 3) & ~size_t{3}, 0);
    Set32(s, entry, kRsrcRva + static_cast<uint32_t>(s.size()));
    Set32(s, entry + 4, static_cast<uint32_t>(list[index].data.size()));
    s.insert(s.end(), list[index].data.begin(), list[index].data.end());
  }
  return s;
}

// Offsets of the headers in files made by BuildPe.
inline constexpr size_t kPeHeader = 0x40;
inline constexpr size_t kOptional = kPeHeader + 24;

inline std::vector<uint8_t> BuildPe(const std::vector<uint8_t>& rsrc, bool pe64 = false) {
  std::vector<uint8_t> f(kRsrcFileOffset, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Set16(f, 0x18, 0x40);  // relocation table offset: a new header follows
  Set32(f, 0x3C, kPeHeader);
  f[kPeHeader] = 'P';
  f[kPeHeader + 1] = 'E';
  Set16(f, kPeHeader + 4, pe64 ? 0x8664 : 0x14C);
  Set16(f, kPeHeader + 6, 1);
  const uint32_t optionalSize = pe64 ? 0xF0 : 0xE0;
  Set16(f, kPeHeader + 20, optionalSize);
  Set16(f, kOptional, pe64 ? 0x20B : 0x10B);
  Set32(f, kOptional + (pe64 ? 0x6C : 0x5C), 16);
  const size_t dir2 = kOptional + (pe64 ? 0x80 : 0x70);
  Set32(f, dir2, kRsrcRva);
  Set32(f, dir2 + 4, static_cast<uint32_t>(rsrc.size()));
  const size_t section = kOptional + optionalSize;
  std::copy_n(".rsrc", 5, f.begin() + section);
  Set32(f, section + 8, static_cast<uint32_t>(rsrc.size()));
  Set32(f, section + 12, kRsrcRva);
  Set32(f, section + 16, static_cast<uint32_t>(rsrc.size()));
  Set32(f, section + 20, kRsrcFileOffset);
  f.insert(f.end(), rsrc.begin(), rsrc.end());
  return f;
}

// The RT_ICON and RT_GROUP_ICON resources of an icon file, its images numbered from firstId.
inline void AddIcon(std::vector<Resource>& icons, std::vector<Resource>& groups,
                    const std::vector<uint8_t>& ico, ResName name, uint16_t firstId,
                    uint16_t language = 1033) {
  const size_t count = ico[4];
  std::vector<uint8_t> group(ico.begin(), ico.begin() + 6);
  for (size_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16 * i;
    group.insert(group.end(), ico.begin() + e, ico.begin() + e + 12);
    Set16(group, group.size(), static_cast<uint32_t>(firstId + i));
    const uint32_t size = Get32(ico, e + 8);
    const uint32_t offset = Get32(ico, e + 12);
    icons.push_back({3, static_cast<uint16_t>(firstId + i), language,
                     std::vector<uint8_t>(ico.begin() + offset, ico.begin() + offset + size)});
  }
  groups.push_back({14, std::move(name), language, std::move(group)});
}

}  // namespace tarnwick::test::pe_test
