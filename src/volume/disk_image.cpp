#include "volume/disk_image.h"

#include <array>
#include <cstring>

#include "base/bytes.h"
#include "volume/vhd.h"

namespace tarnwick {

namespace {

constexpr uint32_t kVdiSignature = 0xBEDA107F;

bool StartsWith(std::span<const uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

const char* FormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::Qcow2:
      return "a QEMU qcow2 image";
    case ImageFormat::Vdi:
      return "a VirtualBox VDI image";
    case ImageFormat::Vmdk:
      return "a VMware VMDK image";
    case ImageFormat::Vhdx:
      return "a Hyper-V VHDX image";
    default:
      return "an image";
  }
}

}  // namespace

ImageFormat DetectImageFormat(const BlockDevice& file) {
  std::array<uint8_t, 512> head{};
  const auto first = std::span(head).first(std::min<uint64_t>(file.Size(), head.size()));
  file.Read(0, first);
  if (StartsWith(first, "QFI\xfb")) return ImageFormat::Qcow2;
  if (first.size() >= 0x48 && Get32(first, 0x40) == kVdiSignature) return ImageFormat::Vdi;
  if (StartsWith(first, "KDMV") || StartsWith(first, "COWD") ||
      StartsWith(first, "# Disk DescriptorFile")) {
    return ImageFormat::Vmdk;
  }
  if (StartsWith(first, "vhdxfile")) return ImageFormat::Vhdx;
  if (HasVhdFooter(file)) return ImageFormat::Vhd;
  return ImageFormat::Raw;
}

std::unique_ptr<BlockDevice> OpenDiskImage(const std::filesystem::path& path,
                                           ImageFile::Mode mode) {
  auto file = std::make_unique<ImageFile>(path, mode);
  const ImageFormat format = DetectImageFormat(*file);
  switch (format) {
    case ImageFormat::Raw:
      return file;
    case ImageFormat::Vhd:
      return std::make_unique<VhdDevice>(std::move(file));
    default: {
      const std::string name = path.string();
      const std::string stem = path.parent_path() / path.stem();
      throw BlockDeviceError(name + " is " + FormatName(format) +
                             ", which Tarnwick cannot open. Make a VHD copy with\n  qemu-img "
                             "convert -O vpc \"" +
                             name + "\" \"" + stem +
                             ".vhd\"\nor a raw copy with\n  qemu-img convert -O raw \"" + name +
                             "\" \"" + stem + ".img\"\nand open the copy.");
    }
  }
}

}  // namespace tarnwick
