// Opening a disk image file of any format we read: raw or VHD. Formats of other programs are
// refused with the command that makes a copy we read.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "volume/block_device.h"
#include "volume/image_file.h"

namespace tarnwick {

enum class ImageFormat { Raw, Vhd, Qcow2, Vdi, Vmdk, Vhdx };

// The format by the file's magic numbers; Raw when none matches.
ImageFormat DetectImageFormat(const BlockDevice& file);

// The disk of the image at path: the file itself, or the disk a VHD holds. Throws
// BlockDeviceError (ImageBusyError when another program holds it).
std::unique_ptr<BlockDevice> OpenDiskImage(const std::filesystem::path& path, ImageFile::Mode mode);

}  // namespace tarnwick
