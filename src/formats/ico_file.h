// Windows icon files (.ico): reading the directory, choosing and decoding images, writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/error.h"

namespace tarnwick {

// Decoded pixels, rows top-down, each pixel 0xAARRGGBB (straight alpha, QImage::Format_ARGB32).
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// One image of an icon as its bytes describe it (not as the directory entry claims).
struct IcoImageInfo {
  bool usable = false;  // false when the image data is damaged or of an unsupported kind
  bool png = false;     // a PNG-compressed image (Vista and later), passed through undecoded
  int width = 0;
  int height = 0;
  int bitCount = 0;
  size_t offset = 0;  // of the image data within the file
  size_t size = 0;
};

// Limits that keep hostile files cheap.
inline constexpr size_t kMaxIconImages = 64;
inline constexpr int kMaxIconSide = 256;

// The directory of an .ico file. Empty when the file is not an icon file or its directory is
// damaged; damaged images inside a sound directory are listed as not usable.
std::optional<std::vector<IcoImageInfo>> ReadIcoDirectory(std::span<const uint8_t> file);

// Examines one image's data: a PNG signature and IHDR, or a BITMAPINFOHEADER whose bitmaps fit.
IcoImageInfo InspectIconImage(std::span<const uint8_t> image);

// The image to show at want x want on a display of displayBits: the first usable image nearest
// in size (|dw| + |dh|), then among images of that size the one of the display's depth, else the
// deepest shallower one, else the shallowest. Empty when no image is usable.
std::optional<size_t> ChooseIconImage(const std::vector<IcoImageInfo>& images, int want,
                                      int displayBits = 32);

// Decodes a DIB icon image (colour bitmap and AND mask). Empty for PNG or damaged data.
std::optional<RgbaImage> DecodeDibIcon(std::span<const uint8_t> image);

// The chosen image of an icon file for a size: decoded pixels for a DIB, the PNG bytes otherwise.
struct IconPicture {
  RgbaImage pixels;          // when !png
  std::vector<uint8_t> png;  // a complete PNG file, when png
  bool isPng = false;
};
std::optional<IconPicture> LoadIconPicture(std::span<const uint8_t> icoFile, int want,
                                           int displayBits = 32);

// Writes an icon file holding the images in the given order. Each becomes an uncompressed DIB
// with AND mask at the smallest depth that keeps it exact: 4 or 8 bits with a palette when it
// uses at most 16 or 256 opaque colours and only full transparency, 24 bits otherwise, and 32
// bits with alpha when it has partial transparency. Sides must be 1..256, else IconEncodeError.
class IconEncodeError : public Error {
 public:
  using Error::Error;
};
std::vector<uint8_t> EncodeIco(const std::vector<RgbaImage>& images);

}  // namespace tarnwick
