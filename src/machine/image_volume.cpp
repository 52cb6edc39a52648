#include "machine/image_volume.h"

#include <unistd.h>

#include <ctime>

#include "base/cp1252.h"
#include "base/file_io.h"
#include "volume/disk_image.h"
#include "volume/partition.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

int64_t UnixFromDos(DosDateTime value) {
  if (value.date == 0) return 0;
  std::tm tm{};
  tm.tm_year = 80 + (value.date >> 9);
  tm.tm_mon = ((value.date >> 5) & 0x0F) - 1;
  tm.tm_mday = value.date & 0x1F;
  tm.tm_hour = value.time >> 11;
  tm.tm_min = (value.time >> 5) & 0x3F;
  tm.tm_sec = (value.time & 0x1F) * 2;
  return static_cast<int64_t>(timegm(&tm));
}

std::optional<VolumeEntry> EntryOf(const FatEntry& fat) {
  std::optional<std::string> name = Utf8ToCp1252(fat.longName);
  std::optional<std::string> shortName = Utf8ToCp1252(fat.shortName);
  if (!name) return std::nullopt;
  VolumeEntry entry;
  entry.name = std::move(*name);
  entry.shortName = shortName.value_or(std::string());
  entry.attributes = fat.attributes & (file_attr::kReadOnly | file_attr::kHidden |
                                       file_attr::kSystem | file_attr::kDirectory);
  entry.size = fat.size;
  entry.written = UnixFromDos(fat.written);
  entry.created = UnixFromDos(fat.created);
  return entry;
}

bool Writable(const fs::path& image) {
  return ::access(image.c_str(), W_OK) == 0;
}

}  // namespace

ImageVolume::ImageVolume(const fs::path& image, std::optional<int> partition, int codePage)
    : name_(image.filename().string()),
      disk_(OpenDiskImage(
          image, Writable(image) ? ImageFile::Mode::ReadWrite : ImageFile::Mode::ReadOnly)) {
  const Partition found = FindFatPartition(*disk_, name_, partition);
  if (found.number != 0) name_ += ", partition " + std::to_string(found.number);
  partition_ = std::make_unique<PartitionDevice>(*disk_, found.offset, found.length);
  fat_ = std::make_unique<FatVolume>(*partition_, name_, OemCodePage(codePage));
}

ImageVolume::~ImageVolume() = default;

std::string ImageVolume::FatPath(const VolumePath& path) const {
  std::string joined;
  for (const std::string& part : path) {
    if (!joined.empty()) joined += '\\';
    joined += Cp1252ToUtf8(part);
  }
  return joined;
}

std::optional<VolumeEntry> ImageVolume::Stat(const VolumePath& path) const {
  if (path.empty()) {
    VolumeEntry root;
    root.attributes = file_attr::kDirectory;
    return root;
  }
  try {
    const std::optional<FatEntry> entry = fat_->Stat(FatPath(path));
    if (!entry) return std::nullopt;
    return EntryOf(*entry);
  } catch (const FatError&) {
    return std::nullopt;
  }
}

std::vector<VolumeEntry> ImageVolume::List(const VolumePath& directory) const {
  std::vector<VolumeEntry> entries;
  try {
    for (const FatEntry& fat : fat_->List(FatPath(directory))) {
      if ((fat.attributes & fat_attr::kVolumeLabel) != 0) continue;
      if (std::optional<VolumeEntry> entry = EntryOf(fat)) entries.push_back(std::move(*entry));
    }
  } catch (const FatError&) {
    entries.clear();
  }
  return entries;
}

std::vector<uint8_t> ImageVolume::ReadFile(const VolumePath& path, size_t maxSize) const {
  const std::string fatPath = FatPath(path);
  const std::string shown = fatPath + " on " + name_;
  try {
    const std::optional<FatEntry> entry = fat_->Stat(fatPath);
    if (!entry) throw FileReadError(shown + ": not found");
    if (entry->IsDirectory()) throw FileReadError(shown + ": a directory, not a file");
    if (entry->size > maxSize) {
      throw FileReadError(shown + ": larger than " + std::to_string(maxSize) + " bytes");
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(entry->size);
    fat_->ReadFile(fatPath, [&](std::span<const uint8_t> piece) {
      bytes.insert(bytes.end(), piece.begin(), piece.end());
    });
    return bytes;
  } catch (const FatError& e) {
    throw FileReadError(shown + ": " + e.what());
  } catch (const BlockDeviceError& e) {
    throw FileReadError(shown + ": " + e.what());
  }
}

void ImageVolume::WriteFile(const VolumePath& path, std::span<const uint8_t> bytes,
                            ReadOnlyFiles readOnly) {
  const std::string fatPath = FatPath(path);
  try {
    if (path.empty()) throw FileWriteError(name_ + ": the root folder of a drive");
    const std::optional<FatEntry> old = fat_->Stat(fatPath);
    const bool isReadOnly = old && (old->attributes & fat_attr::kReadOnly) != 0;
    if (isReadOnly && readOnly == ReadOnlyFiles::Refuse) {
      throw FileWriteError(fatPath + " on " + name_ + ": the file is read-only");
    }
    fat_->WriteFile(fatPath, bytes, std::time(nullptr));
  } catch (const FatError& e) {
    throw FileWriteError(e.what());
  } catch (const BlockDeviceError& e) {
    throw FileWriteError(e.what());
  }
}

bool ImageVolume::MakeDirectory(const VolumePath& path) {
  const std::string fatPath = FatPath(path);
  try {
    if (path.empty() || fat_->Stat(fatPath)) return false;
    fat_->MakeDirectory(fatPath, std::time(nullptr));
    return true;
  } catch (const FatError& e) {
    throw FileWriteError(e.what());
  } catch (const BlockDeviceError& e) {
    throw FileWriteError(e.what());
  }
}

void ImageVolume::RemoveEntry(const std::string& path, const FatEntry& entry) {
  if (entry.IsDirectory()) {
    for (const FatEntry& child : fat_->List(path)) {
      RemoveEntry(path + '\\' + child.longName, child);
    }
  }
  fat_->Remove(path);
}

void ImageVolume::RemoveTree(const VolumePath& path) {
  const std::string fatPath = FatPath(path);
  try {
    if (path.empty()) throw FileWriteError(name_ + ": the root folder of a drive");
    const std::optional<FatEntry> entry = fat_->Stat(fatPath);
    if (!entry) throw FileWriteError(fatPath + " on " + name_ + ": not found");
    // Refuse before anything goes when a read-only file lies anywhere inside.
    std::vector<std::pair<std::string, FatEntry>> pending{{fatPath, *entry}};
    while (!pending.empty()) {
      auto [at, current] = std::move(pending.back());
      pending.pop_back();
      if (current.IsDirectory()) {
        for (FatEntry& child : fat_->List(at))
          pending.emplace_back(at + '\\' + child.longName, child);
      } else if ((current.attributes & fat_attr::kReadOnly) != 0) {
        throw FileWriteError(at + " on " + name_ + ": the file is read-only and is not deleted");
      }
    }
    RemoveEntry(fatPath, *entry);
  } catch (const FatError& e) {
    throw FileWriteError(e.what());
  } catch (const BlockDeviceError& e) {
    throw FileWriteError(e.what());
  }
}

std::optional<std::string> ImageVolume::Label() const {
  return Utf8ToCp1252(fat_->Label());
}

void ImageVolume::AddAttributes(const VolumePath& path, uint8_t attributes) {
  const std::string fatPath = FatPath(path);
  try {
    const std::optional<FatEntry> entry = path.empty() ? std::nullopt : fat_->Stat(fatPath);
    if (!entry) throw FileWriteError(fatPath + " on " + name_ + ": not found");
    const uint8_t wanted =
        attributes & (fat_attr::kReadOnly | fat_attr::kHidden | fat_attr::kSystem);
    if ((entry->attributes & wanted) != wanted) {
      fat_->SetAttributes(fatPath, entry->attributes | wanted);
    }
  } catch (const FatError& e) {
    throw FileWriteError(e.what());
  } catch (const BlockDeviceError& e) {
    throw FileWriteError(e.what());
  }
}

}  // namespace tarnwick
