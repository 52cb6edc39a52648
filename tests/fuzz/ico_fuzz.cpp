// Icon files: the directory, choosing and decoding images at every size and depth the viewers
// ask for, and a decoded image written by EncodeIco decodes to the same pixels.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "formats/ico_file.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tarnwick;

// Fully transparent pixels carry no colour once written.
uint32_t Shown(uint32_t pixel) {
  return (pixel >> 24) == 0 ? 0 : pixel;
}

void CheckRoundTrip(const RgbaImage& image) {
  std::vector<uint8_t> file;
  try {
    file = EncodeIco({image});
  } catch (const IconEncodeError&) {
    return;
  }
  const auto directory = ReadIcoDirectory(file);
  fuzz::Check(directory && directory->size() == 1 && (*directory)[0].usable,
              "a written icon file lists its image");
  const IcoImageInfo& info = (*directory)[0];
  const auto decoded = DecodeDibIcon(std::span(file).subspan(info.offset, info.size));
  fuzz::Check(decoded && decoded->width == image.width && decoded->height == image.height,
              "a written image decodes at its size");
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    fuzz::Check(Shown(decoded->pixels[i]) == Shown(image.pixels[i]),
                "a written image decodes to the same pixels");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const auto directory = ReadIcoDirectory(file);
  if (directory) {
    fuzz::Check(directory->size() <= kMaxIconImages, "at most kMaxIconImages images");
    for (const IcoImageInfo& info : *directory) {
      if (!info.usable || info.png) continue;
      fuzz::Check(info.offset <= size && info.size <= size - info.offset,
                  "a usable image lies inside the file");
      if (const auto image = DecodeDibIcon(file.subspan(info.offset, info.size))) {
        fuzz::Check(image->pixels.size() == static_cast<size_t>(image->width) * image->height,
                    "a decoded image has width x height pixels");
        CheckRoundTrip(*image);
      }
    }
    for (int want : {16, 32, 48}) {
      for (int bits : {4, 8, 32}) ChooseIconImage(*directory, want, bits);
    }
  }
  for (int want : {16, 32}) LoadIconPicture(file, want);
  InspectIconImage(file);
  DecodeDibIcon(file);
  return 0;
}
