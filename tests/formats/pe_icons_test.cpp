#include "formats/pe_icons.h"

#include <gtest/gtest.h>

#include <random>
#include <variant>

#include "formats/ico_file.h"
#include "formats/pe_test_builder.h"

namespace tarnwick::test {
namespace {

using namespace pe_test;

RgbaImage Solid(int side, uint32_t argb) {
  return RgbaImage{side, side, std::vector<uint32_t>(static_cast<size_t>(side) * side, argb)};
}

struct Sample {
  std::vector<uint8_t> zapp, one, seven;
  std::vector<Resource> resources;
};

Sample MakeSample() {
  Sample s;
  s.zapp = EncodeIco({Solid(32, 0xFF123456), Solid(16, 0xFF654321)});
  s.one = EncodeIco({Solid(32, 0xFFFF0000)});
  s.seven = EncodeIco({Solid(16, 0xFF00FF00), Solid(32, 0xFF0000FF)});
  std::vector<Resource> icons, groups;
  AddIcon(icons, groups, s.zapp, u"ZAPP", 5);
  AddIcon(icons, groups, s.one, uint16_t{1}, 1);
  AddIcon(icons, groups, s.seven, uint16_t{7}, 2);
  s.resources = icons;
  s.resources.push_back({16, uint16_t{1}, 1033, std::vector<uint8_t>(20, 1)});  // a version block
  s.resources.insert(s.resources.end(), groups.begin(), groups.end());
  return s;
}

TEST(PeIcons, GroupsInDirectoryOrderAndIndexes) {
  const Sample s = MakeSample();
  for (bool pe64 : {false, true}) {
    SCOPED_TRACE(pe64);
    const auto pe = BuildPe(BuildRsrc(s.resources), pe64);
    const auto groups = ListExeIconGroups(pe);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_FALSE(groups[0].id);
    EXPECT_EQ(groups[0].name, u"ZAPP");
    EXPECT_EQ(groups[1].id, 1);
    EXPECT_EQ(groups[2].id, 7);
    EXPECT_EQ(groups[2].language, 1033);
    // Rebuilt icons equal the icon files byte for byte.
    EXPECT_EQ(ExtractExeIcon(pe, 0), s.zapp);
    EXPECT_EQ(ExtractExeIcon(pe, 1), s.one);
    EXPECT_EQ(ExtractExeIcon(pe, 2), s.seven);
    EXPECT_EQ(ExtractExeIcon(pe, -7), s.seven);
    EXPECT_EQ(ExtractExeIcon(pe, -1), s.one);
    EXPECT_FALSE(ExtractExeIcon(pe, 3));
    EXPECT_FALSE(ExtractExeIcon(pe, -2));  // an RT_ICON ID, not a group
    EXPECT_FALSE(ExtractExeIcon(pe, INT32_MIN));
  }
}

TEST(PeIcons, ImagesInTheGroupsLanguageAndMissingImages) {
  const auto german = EncodeIco({Solid(16, 0xFF000001)});
  const auto english = EncodeIco({Solid(16, 0xFF000002)});
  std::vector<Resource> icons, groups;
  AddIcon(icons, groups, english, uint16_t{9}, 10, 1033);
  AddIcon(icons, groups, german, uint16_t{9}, 10, 1031);
  groups.erase(groups.begin());  // one group, in German, whose image exists in two languages
  std::vector<Resource> all = icons;
  all.insert(all.end(), groups.begin(), groups.end());
  EXPECT_EQ(ExtractExeIcon(BuildPe(BuildRsrc(all)), 0), german);

  // A group entry whose image is missing is dropped; a group left empty gives no icon.
  const auto two = EncodeIco({Solid(16, 0xFF000003), Solid(32, 0xFF000004)});
  icons.clear();
  groups.clear();
  AddIcon(icons, groups, two, uint16_t{1}, 1);
  std::vector<Resource> partial{icons[1], groups[0]};
  const auto ico = ExtractExeIcon(BuildPe(BuildRsrc(partial)), 0);
  ASSERT_TRUE(ico);
  EXPECT_EQ(ico, EncodeIco({Solid(32, 0xFF000004)}));
  EXPECT_FALSE(ExtractExeIcon(BuildPe(BuildRsrc({groups[0], {16, uint16_t{1}, 0, {1, 2}}})), 0));
}

TEST(PeIcons, NoIconsInOtherPrograms) {
  EXPECT_TRUE(ListExeIconGroups(BuildPe(BuildRsrc({{16, uint16_t{1}, 0, {1, 2, 3}}}))).empty());
  auto dos = std::vector<uint8_t>(512, 0);
  dos[0] = 'M';
  dos[1] = 'Z';
  EXPECT_TRUE(ListExeIconGroups(dos).empty());  // e_lfanew 0 points back at "MZ"
  Set32(dos, 0x3C, 0x80);
  dos[0x80] = 'L';
  dos[0x81] = 'E';
  EXPECT_FALSE(ExtractExeIcon(dos, 0));
  auto noResources = BuildPe({});
  Set32(noResources, kOptional + 0x70, 0);
  EXPECT_TRUE(ListExeIconGroups(noResources).empty());
}

TEST(PeIcons, TellsDamageFromProgramsWithoutIcons) {
  const Sample s = MakeSample();
  const auto pe = BuildPe(BuildRsrc(s.resources));
  EXPECT_EQ(ExeIconState(pe), ExeIcons::Some);
  EXPECT_EQ(ExeIconState(BuildPe(BuildRsrc({}))), ExeIcons::None);
  auto dos = std::vector<uint8_t>(512, 0);
  dos[0] = 'M';
  dos[1] = 'Z';
  Set16(dos, 0x18, 0x1C);
  Set32(dos, 0x3C, 0xFFFFFF00);  // an MS-DOS program has no new header to point at
  EXPECT_EQ(ExeIconState(dos), ExeIcons::None);
  Set16(dos, 0x18, 0x40);
  EXPECT_EQ(ExeIconState(dos), ExeIcons::Damaged);

  EXPECT_EQ(ExeIconState(std::span(pe.data(), 63)), ExeIcons::Damaged);
  EXPECT_EQ(ExeIconState(std::span(pe.data(), kPeHeader + 2)), ExeIcons::Damaged);
  EXPECT_EQ(ExeIconState(std::span(pe.data(), kOptional + 0x40)), ExeIcons::Damaged);
  auto badRva = pe;
  Set32(badRva, kOptional + 0x70, 0x7FFFF000);
  EXPECT_EQ(ExeIconState(badRva), ExeIcons::Damaged);
}

TEST(PeIcons, TruncatedAnywhereGivesNoIcon) {
  const auto ico = EncodeIco({Solid(16, 0xFF00FF00)});
  std::vector<Resource> icons, groups;
  AddIcon(icons, groups, ico, uint16_t{1}, 1);
  const auto pe = BuildPe(BuildRsrc({groups[0], icons[0]}));  // the image comes last
  ASSERT_EQ(ExtractExeIcon(pe, 0), ico);
  for (size_t n = 0; n < pe.size(); ++n) {
    EXPECT_FALSE(ExtractExeIcon(std::span(pe.data(), n), 0)) << n;
  }
}

TEST(PeIcons, HostileHeadersAndDirectories) {
  const Sample s = MakeSample();
  const auto rsrc = BuildRsrc(s.resources);
  const auto good = BuildPe(rsrc);
  const size_t section = kOptional + 0xE0;
  const size_t root = kRsrcFileOffset;
  // The first data entry in the sample: the first RT_ICON's language directory leads to it.
  const size_t firstTypeDir = root + (Get32(good, root + 20) & 0x7FFFFFFF);
  const size_t firstNameDir = root + (Get32(good, firstTypeDir + 20) & 0x7FFFFFFF);
  const size_t firstData = root + Get32(good, firstNameDir + 20);
  const size_t groupDataEntry = [&] {
    // The group type is the last type: find the ZAPP group's data entry through the tree.
    const size_t types = Get32(good, root + 12) >> 16;
    const size_t td = root + (Get32(good, root + 20 + 8 * (types - 1)) & 0x7FFFFFFF);
    const size_t nd = root + (Get32(good, td + 20) & 0x7FFFFFFF);
    return root + Get32(good, nd + 20);
  }();

  struct Patch {
    const char* what;
    size_t at;
    uint32_t value;
    int bytes;
  };
  const std::vector<Patch> patches{
      {"e_lfanew past the end", 0x3C, 0x10000, 4},
      {"e_lfanew huge", 0x3C, 0xFFFFFFF0, 4},
      {"optional header size 0", kPeHeader + 20, 0, 2},
      {"optional header size past the file", kPeHeader + 20, 0xFFFF, 2},
      {"65535 sections", kPeHeader + 6, 0xFFFF, 2},
      {"97 sections", kPeHeader + 6, 97, 2},
      {"unknown magic", kOptional, 0x107, 2},
      {"resource RVA outside all sections", kOptional + 0x70, 0x50000, 4},
      {"raw pointer past the end", section + 20, 0xFFFFFF00, 4},
      {"root claims 65535 entries", root + 14, 0xFFFF, 2},
      {"type entry points back to the root", root + 20, 0x80000000, 4},
      {"type entry points to a leaf", root + 20, 0x20, 4},
      {"name entry points to a leaf", firstTypeDir + 20, 0x20, 4},
      {"language entry points to a table", firstNameDir + 20, 0x80000000, 4},
      {"name string out of range", firstTypeDir + 16, 0xFFFFFFF0, 4},
      {"data entry out of range", firstNameDir + 20, 0x7FFFFFF0, 4},
      {"data size larger than the file", firstData + 4, 0xFFFFFFF0, 4},
  };
  for (const Patch& p : patches) {
    auto copy = good;
    if (p.bytes == 2) Set16(copy, p.at, p.value);
    if (p.bytes == 4) Set32(copy, p.at, p.value);
    ASSERT_EQ(copy.size(), good.size()) << p.what;
    EXPECT_TRUE(ListExeIconGroups(copy).empty()) << p.what;
    EXPECT_FALSE(ExtractExeIcon(copy, 0)) << p.what;
  }
  // Too few data directories for the resource table, or a directory outside the header.
  auto few = good;
  Set32(few, kOptional + 0x5C, 2);
  EXPECT_TRUE(ListExeIconGroups(few).empty());
  auto shortHeader = good;
  Set16(shortHeader, kPeHeader + 20, 0x70);
  EXPECT_TRUE(ListExeIconGroups(shortHeader).empty());

  // A data RVA that maps nowhere spoils only that image; a group claiming 50 images is damaged.
  auto badImage = good;
  Set32(badImage, firstData, 0x7FFFFFF0);
  EXPECT_EQ(ListExeIconGroups(badImage).size(), 3u);
  EXPECT_EQ(ExtractExeIcon(badImage, 1), s.one);
  auto fifty = good;
  const size_t zappData = kRsrcFileOffset + Get32(good, groupDataEntry) - kRsrcRva;
  Set16(fifty, zappData + 4, 50);
  EXPECT_FALSE(ExtractExeIcon(fifty, 0));
  EXPECT_EQ(ExtractExeIcon(fifty, 1), s.one);

  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    auto copy = good;
    const int changes = 1 + static_cast<int>(rng() % 8);
    for (int c = 0; c < changes; ++c) {
      const size_t at = i % 3 == 0   ? rng() % copy.size()
                        : i % 3 == 1 ? rng() % 0x200
                                     : kRsrcFileOffset + rng() % 0x100;
      const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, static_cast<uint8_t>(rng())};
      copy[at] = values[rng() % 5];
    }
    for (int32_t index : {0, 1, -7}) {
      if (const auto ico = ExtractExeIcon(copy, index)) (void)LoadIconPicture(*ico, 32);
    }
  }
}

// Icon groups named by one shared 65,535-character string: every group would copy the name.
std::vector<uint8_t> SharedNameGroups(size_t groups) {
  std::vector<uint8_t> s;
  Set16(s, 14, 1);
  Set32(s, 16, 14);
  Set32(s, 20, 0x80000000u | 24);
  const size_t typeDir = 24;
  Set16(s, typeDir + 12, static_cast<uint32_t>(groups));
  const size_t languages = typeDir + 16 + 8 * groups;
  const size_t dataEntry = languages + 24 * groups;
  const size_t name = dataEntry + 16;
  for (size_t i = 0; i < groups; ++i) {
    const size_t dir = languages + 24 * i;
    Set32(s, typeDir + 16 + 8 * i, 0x80000000u | static_cast<uint32_t>(name));
    Set32(s, typeDir + 20 + 8 * i, 0x80000000u | static_cast<uint32_t>(dir));
    Set16(s, dir + 14, 1);
    Set32(s, dir + 16, 1033);
    Set32(s, dir + 20, static_cast<uint32_t>(dataEntry));
  }
  Set32(s, dataEntry, kRsrcRva + static_cast<uint32_t>(dataEntry));
  Set32(s, dataEntry + 4, 16);
  Set16(s, name, 0xFFFF);
  s.resize(name + 2 + 2 * 0xFFFF, 'A');
  return s;
}

TEST(PeIcons, SharedNamesAndImagesStayWithinTheFilesSize) {
  // 8,000 groups in a 384 KB file: a copy of the name for each would take 1 GB.
  const auto pe = BuildPe(SharedNameGroups(8000));
  EXPECT_TRUE(ListExeIconGroups(pe).empty());
  EXPECT_EQ(ExeIconState(pe), ExeIcons::Damaged);

  // A group of 64 entries naming one image would rebuild to 64 copies of it.
  const auto ico = EncodeIco({Solid(32, 0xFF102030)});
  std::vector<Resource> icons, groups;
  AddIcon(icons, groups, ico, uint16_t{1}, 1);
  std::vector<uint8_t> repeated(groups[0].data.begin(), groups[0].data.begin() + 6);
  Set16(repeated, 4, 64);
  for (int i = 0; i < 64; ++i) {
    repeated.insert(repeated.end(), groups[0].data.begin() + 6, groups[0].data.end());
  }
  groups.push_back({14, uint16_t{2}, 1033, repeated});
  const auto both = BuildPe(BuildRsrc({icons[0], groups[0], groups[1]}));
  EXPECT_EQ(ExtractExeIcon(both, 0), ico);
  EXPECT_FALSE(ExtractExeIcon(both, 1));
}

// A 16-bit executable with a resource table at the given alignment shift.
std::vector<uint8_t> BuildNe(const std::vector<uint8_t>& ico, unsigned shift, bool named) {
  const size_t count = ico[4];
  const size_t ne = 0x40;
  const size_t table = ne + 0x40;
  std::vector<uint8_t> t;
  Set16(t, 0, shift);
  Set16(t, t.size(), 0x800E);
  Set16(t, t.size(), 1);
  Set32(t, t.size(), 0);
  const size_t groupInfo = t.size();
  t.resize(t.size() + 12, 0);
  Set16(t, t.size(), 0x8003);
  Set16(t, t.size(), static_cast<uint32_t>(count));
  Set32(t, t.size(), 0);
  const size_t iconInfo = t.size();
  t.resize(t.size() + 12 * count, 0);
  Set16(t, t.size(), 0);
  if (named) {
    Set16(t, groupInfo + 6, static_cast<uint32_t>(t.size()));
    t.insert(t.end(), {4, 'M', 'A', 'I', 'N'});
  } else {
    Set16(t, groupInfo + 6, 0x8001);
  }
  t.push_back(0);

  std::vector<uint8_t> f(table, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Set32(f, 0x3C, ne);
  f[ne] = 'N';
  f[ne + 1] = 'E';
  Set16(f, ne + 0x24, static_cast<uint32_t>(table - ne));
  Set16(f, ne + 0x26, static_cast<uint32_t>(table - ne + t.size()));
  f.insert(f.end(), t.begin(), t.end());
  f.push_back(0);  // an empty resident-name table
  const size_t unit = size_t{1} << shift;
  auto place = [&](size_t info, const std::vector<uint8_t>& data) {
    f.resize((f.size() + unit - 1) / unit * unit, 0);
    Set16(f, table + info, static_cast<uint32_t>(f.size() >> shift));
    Set16(f, table + info + 2, static_cast<uint32_t>((data.size() + unit - 1) >> shift));
    f.insert(f.end(), data.begin(), data.end());
  };
  std::vector<uint8_t> group(ico.begin(), ico.begin() + 6);
  for (size_t i = 0; i < count; ++i) {
    group.insert(group.end(), ico.begin() + 6 + 16 * i, ico.begin() + 18 + 16 * i);
    Set16(group, group.size(), static_cast<uint32_t>(i + 1));
  }
  place(groupInfo, group);
  for (size_t i = 0; i < count; ++i) {
    Set16(f, table + iconInfo + 12 * i + 6, static_cast<uint32_t>(0x8000 | (i + 1)));
    const uint32_t size = Get32(ico, 6 + 16 * i + 8);
    const uint32_t offset = Get32(ico, 6 + 16 * i + 12);
    place(iconInfo + 12 * i,
          std::vector<uint8_t>(ico.begin() + offset, ico.begin() + offset + size));
  }
  return f;  // the last image lacks its padding, as in real files
}

TEST(PeIcons, NeResourcesAtBothAlignments) {
  const auto ico = EncodeIco({Solid(32, 0xFF808000), Solid(16, 0xFF008080)});
  for (unsigned shift : {4u, 9u}) {
    for (bool named : {false, true}) {
      SCOPED_TRACE(shift * 10 + named);
      const auto ne = BuildNe(ico, shift, named);
      const auto groups = ListExeIconGroups(ne);
      ASSERT_EQ(groups.size(), 1u);
      EXPECT_EQ(groups[0].name, named ? u"MAIN" : u"");
      EXPECT_EQ(ExtractExeIcon(ne, 0), ico);
      EXPECT_EQ(ExtractExeIcon(ne, -1).has_value(), !named);
      // Cut short, an image may survive clamped: the icon stays well-formed, the damaged image
      // is unusable and a missing one is left out.
      for (size_t n = 0; n < ne.size(); n += 3) {
        if (const auto cut = ExtractExeIcon(std::span(ne.data(), n), 0)) {
          const auto dir = ReadIcoDirectory(*cut);
          ASSERT_TRUE(dir) << n;
          EXPECT_TRUE(dir->size() < 2 || !(*dir)[1].usable) << n;
        }
      }
      auto badShift = ne;
      Set16(badShift, 0x80, 16);
      EXPECT_TRUE(ListExeIconGroups(badShift).empty());
      auto badTable = ne;
      Set16(badTable, 0x40 + 0x26, 0xFFFF);
      EXPECT_TRUE(ListExeIconGroups(badTable).empty());
    }
  }
}

}  // namespace
}  // namespace tarnwick::test
