#include "formats/ico_file.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnwick::test {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A DIB icon image of the given depth with zeroed bitmaps (opaque, palette colour 0).
std::vector<uint8_t> BlankDib(int w, int h, int bpp) {
  std::vector<uint8_t> d;
  Put32(d, 40);
  Put32(d, w);
  Put32(d, 2 * h);
  Put16(d, 1);
  Put16(d, bpp);
  d.resize(40, 0);
  if (bpp <= 8) d.resize(d.size() + 4 * (size_t{1} << bpp), 0);
  const size_t row = ((w * bpp + 31) / 32) * 4 + ((w + 31) / 32) * 4;
  d.resize(d.size() + row * h, 0);
  return d;
}

// Just enough of a PNG for the directory: signature and IHDR.
std::vector<uint8_t> PngStub(uint32_t w, uint32_t h) {
  std::vector<uint8_t> p{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                         0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  for (uint32_t v : {w, h}) {
    for (int s = 24; s >= 0; s -= 8) p.push_back(static_cast<uint8_t>(v >> s));
  }
  p.insert(p.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
  return p;
}

// An icon file around the given image data; the entry fields are deliberately left zero, as
// some writers do, so only the image data can tell sizes and depths.
std::vector<uint8_t> Ico(const std::vector<std::vector<uint8_t>>& images) {
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(images.size()));
  size_t offset = 6 + 16 * images.size();
  for (const auto& im : images) {
    out.resize(out.size() + 8, 0);
    Put32(out, static_cast<uint32_t>(im.size()));
    Put32(out, static_cast<uint32_t>(offset));
    offset += im.size();
  }
  for (const auto& im : images) out.insert(out.end(), im.begin(), im.end());
  return out;
}

RgbaImage Pattern(int side, int colours, bool partialAlpha = false) {
  RgbaImage im{side, side, {}};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const int n = (x * 7 + y * 13) % colours;
      uint32_t px = 0xFF000000u | static_cast<uint32_t>(n * 0x010305 + 0x102030);
      if ((x + y) % 5 == 0) px = 0;  // transparent
      if (partialAlpha && x == y) px = (px & 0x00FFFFFF) | 0x80000000u;
      im.pixels.push_back(px);
    }
  }
  return im;
}

TEST(IcoFile, EncodeDecodeRoundTripAtEveryDepth) {
  struct Case {
    int colours;
    bool partial;
    int bpp[2];  // 16 x 16 has room for at most 256 colours
  };
  for (const Case c : {Case{10, false, {4, 4}}, Case{100, false, {8, 8}}, Case{400, false, {8, 24}},
                       Case{10, true, {32, 32}}}) {
    SCOPED_TRACE(c.colours);
    const std::vector<RgbaImage> src{Pattern(16, c.colours, c.partial),
                                     Pattern(32, c.colours, c.partial)};
    const auto bytes = EncodeIco(src);
    const auto dir = ReadIcoDirectory(bytes);
    ASSERT_TRUE(dir);
    ASSERT_EQ(dir->size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      const IcoImageInfo& info = (*dir)[i];
      EXPECT_TRUE(info.usable);
      EXPECT_FALSE(info.png);
      EXPECT_EQ(info.bitCount, c.bpp[i]);
      EXPECT_EQ(info.width, src[i].width);
      EXPECT_EQ(bytes[6 + 16 * i], src[i].width);  // entry width byte
      const auto decoded = DecodeDibIcon(std::span(bytes).subspan(info.offset, info.size));
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->pixels, src[i].pixels);
    }
  }
}

TEST(IcoFile, EncodeWrites256AsZeroAndRejectsBadSizes) {
  const auto bytes = EncodeIco({RgbaImage{256, 256, std::vector<uint32_t>(65536, 0xFF0000FF)}});
  EXPECT_EQ(bytes[6], 0);
  EXPECT_EQ(bytes[7], 0);
  EXPECT_EQ((*ReadIcoDirectory(bytes))[0].width, 256);
  EXPECT_THROW(EncodeIco({RgbaImage{257, 1, std::vector<uint32_t>(257)}}), IconEncodeError);
  EXPECT_THROW(EncodeIco({RgbaImage{2, 2, std::vector<uint32_t>(3)}}), IconEncodeError);
  EXPECT_THROW(EncodeIco({}), IconEncodeError);
}

TEST(IcoFile, ChoosesBySizeThenDepth) {
  // 32x32x4, 16x16x4, 32x32x8, 16x16x32, 48x48x8 and a 256x256 PNG.
  const auto bytes = Ico({BlankDib(32, 32, 4), BlankDib(16, 16, 4), BlankDib(32, 32, 8),
                          BlankDib(16, 16, 32), BlankDib(48, 48, 8), PngStub(256, 256)});
  const auto dir = ReadIcoDirectory(bytes);
  ASSERT_TRUE(dir);
  EXPECT_TRUE((*dir)[5].png);
  EXPECT_EQ((*dir)[5].width, 256);
  EXPECT_EQ((*dir)[5].bitCount, 32);
  EXPECT_EQ(ChooseIconImage(*dir, 16, 32), 3u);
  EXPECT_EQ(ChooseIconImage(*dir, 32, 32), 2u);
  EXPECT_EQ(ChooseIconImage(*dir, 32, 4), 0u);
  EXPECT_EQ(ChooseIconImage(*dir, 16, 8), 1u);
  EXPECT_EQ(ChooseIconImage(*dir, 24, 32), 2u);  // 16 and 32 tie; the first in the file is 32
  EXPECT_EQ(ChooseIconImage(*dir, 256, 32), 5u);
  EXPECT_EQ(ChooseIconImage(*dir, 32, 1), 0u);  // nothing shallower: the shallowest

  const auto png = LoadIconPicture(bytes, 200);
  ASSERT_TRUE(png);
  EXPECT_TRUE(png->isPng);
  EXPECT_EQ(png->png, PngStub(256, 256));
}

TEST(IcoFile, OnlyLargeImageServesBothSizes) {
  const auto bytes = EncodeIco({Pattern(32, 5)});
  const auto small = LoadIconPicture(bytes, 16);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->pixels.width, 32);  // the caller scales it
}

TEST(IcoFile, DecodesPaletteMaskAndBitfields) {
  // 1 bpp, 8 x 2: palette black/white; top row 10101010, bottom row all white with the left half
  // masked out.
  std::vector<uint8_t> dib = BlankDib(8, 2, 1);
  const size_t palette = 40;
  dib[palette + 4] = dib[palette + 5] = dib[palette + 6] = 0xFF;  // entry 1 white
  const size_t colour = palette + 8;                              // rows of 4 bytes, bottom-up
  dib[colour] = 0xFF;                                             // bottom row
  dib[colour + 4] = 0xAA;                                         // top row
  const size_t mask = colour + 8;
  dib[mask] = 0xF0;  // bottom row, left half transparent
  const auto im = DecodeDibIcon(dib);
  ASSERT_TRUE(im);
  EXPECT_EQ(im->At(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(im->At(1, 0), 0xFF000000u);
  EXPECT_EQ(im->At(3, 1), 0u);
  EXPECT_EQ(im->At(4, 1), 0xFFFFFFFFu);

  // 32 bpp whose alpha bytes are all zero: the mask decides.
  std::vector<uint8_t> flat = BlankDib(1, 1, 32);
  flat[40] = 0x30;
  flat[41] = 0x20;
  flat[42] = 0x10;
  EXPECT_EQ(DecodeDibIcon(flat)->At(0, 0), 0xFF102030u);
  flat[43] = 0x80;  // now alpha rules
  flat[44] = 0x80;  // and the mask bit is ignored
  EXPECT_EQ(DecodeDibIcon(flat)->At(0, 0), 0x80102030u);

  // 16 bpp 5-5-5: pure red.
  std::vector<uint8_t> hi = BlankDib(1, 1, 16);
  hi[40] = 0x00;
  hi[41] = 0x7C;
  EXPECT_EQ(DecodeDibIcon(hi)->At(0, 0), 0xFFFF0000u);
  // 16 bpp with bit fields 5-6-5: pure green.
  std::vector<uint8_t> bf = BlankDib(1, 1, 16);
  bf[16] = 3;
  std::vector<uint8_t> masks;
  Put32(masks, 0xF800);
  Put32(masks, 0x07E0);
  Put32(masks, 0x001F);
  bf.insert(bf.begin() + 40, masks.begin(), masks.end());
  bf[52] = 0xE0;
  bf[53] = 0x07;
  EXPECT_EQ(DecodeDibIcon(bf)->At(0, 0), 0xFF00FF00u);
}

TEST(IcoFile, DamagedImagesAreUnusableNotFatal) {
  auto set32 = [](std::vector<uint8_t> d, size_t at, uint32_t v) {
    for (int b = 0; b < 4; ++b) d[at + b] = static_cast<uint8_t>(v >> (8 * b));
    return d;
  };
  const auto good = BlankDib(16, 16, 8);
  std::vector<std::vector<uint8_t>> bad{
      set32(good, 4, 100000),                       // width past the cap
      set32(good, 8, 33),                           // odd height
      set32(good, 0, 12),                           // old core header
      set32(good, 14, 7),                           // depth 7 (planes 1 kept in the low word)
      set32(good, 16, 1),                           // RLE
      set32(good, 32, 257),                         // more colours than 8 bits hold
      set32(BlankDib(16, 16, 32), 32, 0xFFFFFFFF),  // a colour table of 16 GiB
      std::vector<uint8_t>(good.begin(), good.end() - 1),
      PngStub(0, 16),
      PngStub(100000, 100000),
  };
  for (const auto& image : bad) {
    EXPECT_FALSE(InspectIconImage(image).usable);
    EXPECT_FALSE(DecodeDibIcon(image));
    auto withGood = Ico({image, good});
    const auto dir = ReadIcoDirectory(withGood);
    ASSERT_TRUE(dir);
    EXPECT_EQ(ChooseIconImage(*dir, 16), 1u);
    EXPECT_FALSE(LoadIconPicture(Ico({image}), 16));
  }
}

TEST(IcoFile, DamagedDirectoriesGiveNoIcon) {
  const auto good = EncodeIco({Pattern(16, 5), Pattern(32, 5)});
  for (size_t n = 0; n < good.size(); ++n) {
    const std::span<const uint8_t> cut(good.data(), n);
    EXPECT_FALSE(ReadIcoDirectory(cut)) << n;
    EXPECT_FALSE(LoadIconPicture(cut, 32)) << n;
  }
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    auto copy = good;
    std::copy(bytes.begin(), bytes.end(), copy.begin() + at);
    return copy;
  };
  EXPECT_FALSE(ReadIcoDirectory(patched(2, {2, 0})));   // a cursor
  EXPECT_FALSE(ReadIcoDirectory(patched(0, {1, 0})));   // reserved
  EXPECT_FALSE(ReadIcoDirectory(patched(4, {0, 0})));   // no images
  EXPECT_FALSE(ReadIcoDirectory(patched(4, {50, 0})));  // more images than entries
  EXPECT_FALSE(ReadIcoDirectory(patched(4, {65, 0})));  // past the cap
  EXPECT_FALSE(ReadIcoDirectory(patched(6 + 8, {0xF0, 0xFF, 0xFF, 0xFF})));   // size
  EXPECT_FALSE(ReadIcoDirectory(patched(6 + 12, {0xF0, 0xFF, 0xFF, 0xFF})));  // offset
  EXPECT_FALSE(ReadIcoDirectory(patched(6 + 12, {4, 0, 0, 0})));  // inside the directory
  EXPECT_FALSE(ReadIcoDirectory(patched(6 + 8, {0, 0, 0, 0})));   // empty image

  std::mt19937 rng(4);
  for (int i = 0; i < 3000; ++i) {
    auto copy = good;
    const int changes = 1 + static_cast<int>(rng() % 8);
    for (int c = 0; c < changes; ++c) {
      const size_t at = rng() % (i % 2 ? 64 : copy.size());
      const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, static_cast<uint8_t>(rng())};
      copy[at] = values[rng() % 5];
    }
    (void)LoadIconPicture(copy, 16);
    (void)LoadIconPicture(copy, 32);
  }
}

}  // namespace
}  // namespace tarnwick::test
