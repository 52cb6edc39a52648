#include "formats/ico_file.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

#include "base/byte_reader.h"
#include "base/bytes.h"

namespace tarnwick {
namespace {

constexpr size_t kIconDirSize = 6;
constexpr size_t kIconEntrySize = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

bool IsPng(std::span<const uint8_t> image) {
  return image.size() >= sizeof kPngSignature &&
         std::equal(std::begin(kPngSignature), std::end(kPngSignature), image.begin());
}

// The geometry of a DIB icon image, all of it checked to lie within the image data.
struct DibLayout {
  int width = 0;
  int height = 0;  // of the picture: half the header's height
  int bpp = 0;
  bool bitfields = false;
  uint32_t masks[4] = {};  // red, green, blue, alpha for 16 and 32 bits
  size_t paletteOffset = 0;
  size_t paletteCount = 0;
  size_t colourOffset = 0;
  size_t colourRow = 0;
  size_t maskOffset = 0;
  size_t maskRow = 0;
};

std::optional<DibLayout> ParseDib(std::span<const uint8_t> image) try {
  const ByteReader dib(image);
  const uint32_t headerSize = dib.U32At(0);
  if (headerSize != 40 && headerSize != 108 && headerSize != 124) return std::nullopt;
  if (!dib.Has(0, headerSize)) return std::nullopt;
  const auto width = static_cast<int32_t>(dib.U32At(4));
  const auto fullHeight = static_cast<int32_t>(dib.U32At(8));
  const uint16_t planes = dib.U16At(12);
  const uint16_t bpp = dib.U16At(14);
  const uint32_t compression = dib.U32At(16);
  const uint32_t coloursUsed = dib.U32At(32);
  if (width <= 0 || width > kMaxIconSide) return std::nullopt;
  if (fullHeight <= 0 || fullHeight % 2 != 0 || fullHeight / 2 > kMaxIconSide) return std::nullopt;
  if (planes != 1) return std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return std::nullopt;

  DibLayout d;
  d.width = width;
  d.height = fullHeight / 2;
  d.bpp = bpp;
  uint64_t pos = headerSize;
  if (compression == 3) {
    if (bpp != 16 && bpp != 32) return std::nullopt;
    d.bitfields = true;
    const int masks = headerSize == 40 ? 3 : 4;  // three follow the short header
    for (int i = 0; i < masks; ++i) d.masks[i] = dib.U32At(40 + 4 * i);
    if (headerSize == 40) pos += 12;
  } else if (compression != 0) {
    return std::nullopt;
  } else if (bpp == 16) {
    d.masks[0] = 0x7C00;
    d.masks[1] = 0x03E0;
    d.masks[2] = 0x001F;
  } else if (bpp == 32) {
    d.masks[0] = 0x00FF0000;
    d.masks[1] = 0x0000FF00;
    d.masks[2] = 0x000000FF;
    d.masks[3] = 0xFF000000;
  }
  if (bpp <= 8) {
    if (coloursUsed > (1u << bpp)) return std::nullopt;
    d.paletteCount = coloursUsed != 0 ? coloursUsed : (1u << bpp);
  }
  // Above 8 bits a colour table is optional and unused; it still sits before the bitmap.
  const uint64_t tableEntries = bpp <= 8 ? d.paletteCount : coloursUsed;
  d.paletteOffset = static_cast<size_t>(pos);
  pos += tableEntries * 4;
  d.colourRow = ((static_cast<size_t>(d.width) * bpp + 31) / 32) * 4;
  d.maskRow = ((static_cast<size_t>(d.width) + 31) / 32) * 4;
  const uint64_t needed = pos + static_cast<uint64_t>(d.colourRow + d.maskRow) * d.height;
  if (needed > image.size()) return std::nullopt;
  d.colourOffset = static_cast<size_t>(pos);
  d.maskOffset = d.colourOffset + d.colourRow * d.height;
  return d;
} catch (const ByteRangeError&) {
  return std::nullopt;
}

uint32_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const uint64_t max = (uint64_t{1} << bits) - 1;
  const uint64_t value = (pixel & mask) >> shift;
  return static_cast<uint32_t>((value * 255 + max / 2) / max);
}

int PngBitCount(uint8_t depth, uint8_t colourType) {
  switch (colourType) {
    case 2:
      return depth * 3;
    case 4:
      return depth * 2;
    case 6:
      return depth * 4;
    default:  // grey or palette
      return depth;
  }
}

}  // namespace

IcoImageInfo InspectIconImage(std::span<const uint8_t> image) {
  IcoImageInfo info;
  info.size = image.size();
  if (IsPng(image)) {
    info.png = true;
    const ByteReader png(image);
    if (!png.Has(0, 0x1A) || !std::ranges::equal(png.BytesAt(0x0C, 4), std::string_view("IHDR"))) {
      return info;
    }
    const uint32_t w = png.U32BigEndianAt(0x10);
    const uint32_t h = png.U32BigEndianAt(0x14);
    if (w == 0 || h == 0 || w > kMaxIconSide || h > kMaxIconSide) return info;
    info.width = static_cast<int>(w);
    info.height = static_cast<int>(h);
    info.bitCount = PngBitCount(png.U8At(0x18), png.U8At(0x19));
    info.usable = true;
    return info;
  }
  if (const auto dib = ParseDib(image)) {
    info.width = dib->width;
    info.height = dib->height;
    info.bitCount = dib->bpp;
    info.usable = true;
  }
  return info;
}

std::optional<std::vector<IcoImageInfo>> ReadIcoDirectory(std::span<const uint8_t> file) try {
  const ByteReader ico(file);
  if (ico.U16At(0) != 0 || ico.U16At(2) != 1) return std::nullopt;
  const size_t count = ico.U16At(4);
  if (count < 1 || count > kMaxIconImages) return std::nullopt;
  const size_t dataStart = kIconDirSize + kIconEntrySize * count;
  std::vector<IcoImageInfo> images;
  images.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = kIconDirSize + kIconEntrySize * i;
    const uint32_t size = ico.U32At(entry + 8);
    const uint32_t offset = ico.U32At(entry + 12);
    if (size == 0 || offset < dataStart) return std::nullopt;
    IcoImageInfo info = InspectIconImage(ico.BytesAt(offset, size));
    info.offset = offset;
    images.push_back(info);
  }
  return images;
} catch (const ByteRangeError&) {
  return std::nullopt;
}

std::optional<size_t> ChooseIconImage(const std::vector<IcoImageInfo>& images, int want,
                                      int displayBits) {
  std::optional<size_t> first;
  int best = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    if (!images[i].usable) continue;
    const int distance = std::abs(images[i].width - want) + std::abs(images[i].height - want);
    if (!first || distance < best) {
      first = i;
      best = distance;
    }
  }
  if (!first) return std::nullopt;
  const IcoImageInfo& size = images[*first];
  std::optional<size_t> deeper;  // the deepest shallower than the display
  std::optional<size_t> shallowest;
  for (size_t i = 0; i < images.size(); ++i) {
    const IcoImageInfo& im = images[i];
    if (!im.usable || im.width != size.width || im.height != size.height) continue;
    if (im.bitCount == displayBits) return i;
    if (im.bitCount < displayBits && (!deeper || im.bitCount > images[*deeper].bitCount)) {
      deeper = i;
    }
    if (!shallowest || im.bitCount < images[*shallowest].bitCount) shallowest = i;
  }
  return deeper ? deeper : shallowest;
}

std::optional<RgbaImage> DecodeDibIcon(std::span<const uint8_t> image) try {
  const ByteReader dib(image);
  const auto layout = ParseDib(image);
  if (!layout) return std::nullopt;
  const DibLayout& d = *layout;
  RgbaImage out;
  out.width = d.width;
  out.height = d.height;
  out.pixels.assign(static_cast<size_t>(d.width) * d.height, 0);
  bool anyAlpha = false;
  for (int y = 0; y < d.height; ++y) {
    const size_t row = d.colourOffset + d.colourRow * static_cast<size_t>(d.height - 1 - y);
    for (int x = 0; x < d.width; ++x) {
      uint32_t argb = 0;
      if (d.bpp <= 8) {
        const size_t bit = static_cast<size_t>(x) * d.bpp;
        const uint8_t byte = dib.U8At(row + bit / 8);
        const unsigned index = (byte >> (8 - d.bpp - bit % 8)) & ((1u << d.bpp) - 1);
        if (index < d.paletteCount) {
          argb = 0xFF000000u | (dib.U32At(d.paletteOffset + 4 * index) & 0x00FFFFFF);
        } else {
          argb = 0xFF000000u;
        }
      } else if (d.bpp == 24) {
        const size_t at = row + static_cast<size_t>(x) * 3;
        const auto bgr = dib.BytesAt(at, 3);
        argb = 0xFF000000u | (bgr[2] << 16) | (bgr[1] << 8) | bgr[0];
      } else {
        const uint32_t px = d.bpp == 16 ? dib.U16At(row + static_cast<size_t>(x) * 2)
                                        : dib.U32At(row + static_cast<size_t>(x) * 4);
        const uint32_t a = Channel(px, d.masks[3]);
        anyAlpha = anyAlpha || a != 0;
        argb = (a << 24) | (Channel(px, d.masks[0]) << 16) | (Channel(px, d.masks[1]) << 8) |
               Channel(px, d.masks[2]);
      }
      out.pixels[static_cast<size_t>(y) * d.width + x] = argb;
    }
  }
  if (anyAlpha) return out;  // the alpha channel rules and the mask is ignored
  for (int y = 0; y < d.height; ++y) {
    const size_t row = d.maskOffset + d.maskRow * static_cast<size_t>(d.height - 1 - y);
    for (int x = 0; x < d.width; ++x) {
      const bool transparent = (dib.U8At(row + x / 8) >> (7 - x % 8)) & 1;
      uint32_t& px = out.pixels[static_cast<size_t>(y) * d.width + x];
      px = transparent ? 0 : (px | 0xFF000000u);
    }
  }
  return out;
} catch (const ByteRangeError&) {
  return std::nullopt;
}

std::optional<IconPicture> LoadIconPicture(std::span<const uint8_t> icoFile, int want,
                                           int displayBits) {
  const auto images = ReadIcoDirectory(icoFile);
  if (!images) return std::nullopt;
  const auto chosen = ChooseIconImage(*images, want, displayBits);
  if (!chosen) return std::nullopt;
  const IcoImageInfo& info = (*images)[*chosen];
  const auto data = icoFile.subspan(info.offset, info.size);
  IconPicture picture;
  if (info.png) {
    picture.isPng = true;
    picture.png.assign(data.begin(), data.end());
    return picture;
  }
  auto pixels = DecodeDibIcon(data);
  if (!pixels) return std::nullopt;
  picture.pixels = std::move(*pixels);
  return picture;
}

namespace {

struct EncodedImage {
  int bpp = 0;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> dib;
};

EncodedImage EncodeDib(const RgbaImage& image) {
  if (image.width < 1 || image.width > kMaxIconSide || image.height < 1 ||
      image.height > kMaxIconSide ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
    throw IconEncodeError("icon image of unsupported size");
  }
  bool partialAlpha = false;
  std::vector<uint32_t> palette{0};  // index 0, black, also fills transparent pixels
  std::unordered_map<uint32_t, uint8_t> indexOf{{0u, 0}};
  for (uint32_t px : image.pixels) {
    const uint32_t alpha = px >> 24;
    if (alpha != 0 && alpha != 255) partialAlpha = true;
    if (alpha != 255) continue;
    const uint32_t rgb = px & 0x00FFFFFF;
    if (!indexOf.contains(rgb) && palette.size() <= 256) {
      if (palette.size() < 256) indexOf.emplace(rgb, static_cast<uint8_t>(palette.size()));
      palette.push_back(rgb);
    }
  }
  EncodedImage enc;
  enc.width = image.width;
  enc.height = image.height;
  enc.bpp = partialAlpha ? 32 : palette.size() <= 16 ? 4 : palette.size() <= 256 ? 8 : 24;
  const size_t paletteCount = enc.bpp <= 8 ? (size_t{1} << enc.bpp) : 0;
  const size_t colourRow = ((static_cast<size_t>(image.width) * enc.bpp + 31) / 32) * 4;
  const size_t maskRow = ((static_cast<size_t>(image.width) + 31) / 32) * 4;

  std::vector<uint8_t>& out = enc.dib;
  Append32(out, 40);
  Append32(out, static_cast<uint32_t>(image.width));
  Append32(out, static_cast<uint32_t>(image.height * 2));
  Append16(out, 1);
  Append16(out, static_cast<uint16_t>(enc.bpp));
  Append32(out, 0);  // uncompressed
  Append32(out, static_cast<uint32_t>((colourRow + maskRow) * image.height));
  Append32(out, 0);
  Append32(out, 0);
  Append32(out, 0);  // colours used: all 2^bpp
  Append32(out, 0);
  for (size_t i = 0; i < paletteCount; ++i) Append32(out, i < palette.size() ? palette[i] : 0);

  const size_t colourStart = out.size();
  out.resize(colourStart + (colourRow + maskRow) * image.height, 0);
  const size_t maskStart = colourStart + colourRow * image.height;
  for (int y = 0; y < image.height; ++y) {
    const size_t row = colourStart + colourRow * static_cast<size_t>(image.height - 1 - y);
    const size_t mrow = maskStart + maskRow * static_cast<size_t>(image.height - 1 - y);
    for (int x = 0; x < image.width; ++x) {
      const uint32_t px = image.At(x, y);
      const bool transparent = (px >> 24) == 0;
      if (transparent) out[mrow + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      const uint32_t value = transparent ? 0 : px;
      switch (enc.bpp) {
        case 4:
          out[row + x / 2] |=
              static_cast<uint8_t>(indexOf.at(value & 0xFFFFFF) << (x % 2 == 0 ? 4 : 0));
          break;
        case 8:
          out[row + x] = indexOf.at(value & 0xFFFFFF);
          break;
        case 24:
          out[row + 3 * x] = static_cast<uint8_t>(value);
          out[row + 3 * x + 1] = static_cast<uint8_t>(value >> 8);
          out[row + 3 * x + 2] = static_cast<uint8_t>(value >> 16);
          break;
        default:
          for (int b = 0; b < 4; ++b) out[row + 4 * x + b] = static_cast<uint8_t>(value >> (8 * b));
      }
    }
  }
  return enc;
}

}  // namespace

std::vector<uint8_t> EncodeIco(const std::vector<RgbaImage>& images) {
  if (images.empty() || images.size() > kMaxIconImages) {
    throw IconEncodeError("an icon file holds 1 to 64 images");
  }
  std::vector<EncodedImage> encoded;
  for (const RgbaImage& image : images) encoded.push_back(EncodeDib(image));
  std::vector<uint8_t> out;
  Append16(out, 0);
  Append16(out, 1);
  Append16(out, static_cast<uint16_t>(encoded.size()));
  size_t offset = kIconDirSize + kIconEntrySize * encoded.size();
  for (const EncodedImage& e : encoded) {
    out.push_back(static_cast<uint8_t>(e.width & 0xFF));  // 256 is written as 0
    out.push_back(static_cast<uint8_t>(e.height & 0xFF));
    out.push_back(e.bpp == 4 ? 16 : 0);
    out.push_back(0);
    Append16(out, 1);
    Append16(out, static_cast<uint16_t>(e.bpp));
    Append32(out, static_cast<uint32_t>(e.dib.size()));
    Append32(out, static_cast<uint32_t>(offset));
    offset += e.dib.size();
  }
  for (const EncodedImage& e : encoded) out.insert(out.end(), e.dib.begin(), e.dib.end());
  return out;
}

}  // namespace tarnwick
