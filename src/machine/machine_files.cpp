// Files by Windows path, handed to the volume of their drive.
#include "base/cp1252.h"
#include "base/file_io.h"
#include "machine/machine.h"

namespace tarnwick {

namespace {

std::string Why(PathStatus status) {
  switch (status) {
    case PathStatus::Malformed:
      return "not a valid Windows path";
    case PathStatus::NoDrive:
      return "not on a drive of the machine with a medium";
    case PathStatus::Unreachable:
      return "the path leads outside its drive";
    case PathStatus::Found:
    case PathStatus::OnImage:
      break;
  }
  return {};
}

// The location of a path that must map; throws E naming it.
template <typename E>
VolumeLocation Required(const Machine& machine, std::string_view windowsPath) {
  VolumeLocation location;
  if (const PathStatus status = machine.Locate(windowsPath, location);
      status != PathStatus::Found) {
    throw E(Cp1252ToUtf8(windowsPath) + ": " + Why(status));
  }
  return location;
}

}  // namespace

std::optional<VolumeEntry> Machine::Stat(std::string_view windowsPath) const {
  VolumeLocation location;
  if (Locate(windowsPath, location) != PathStatus::Found) return std::nullopt;
  return location.volume->Stat(location.path);
}

std::vector<VolumeEntry> Machine::List(std::string_view windowsDirectory) const {
  VolumeLocation location;
  if (Locate(windowsDirectory, location) != PathStatus::Found) return {};
  return location.volume->List(location.path);
}

std::vector<uint8_t> Machine::ReadFile(std::string_view windowsPath, size_t maxSize) const {
  const VolumeLocation location = Required<FileReadError>(*this, windowsPath);
  return location.volume->ReadFile(location.path, maxSize);
}

void Machine::WriteFile(std::string_view windowsPath, std::span<const uint8_t> bytes,
                        ReadOnlyFiles readOnly) const {
  const VolumeLocation location = Required<FileWriteError>(*this, windowsPath);
  location.volume->WriteFile(location.path, bytes, readOnly);
}

bool Machine::MakeDirectory(std::string_view windowsPath) const {
  const VolumeLocation location = Required<FileWriteError>(*this, windowsPath);
  return location.volume->MakeDirectory(location.path);
}

void Machine::RemoveTree(std::string_view windowsPath) const {
  const VolumeLocation location = Required<FileWriteError>(*this, windowsPath);
  location.volume->RemoveTree(location.path);
}

bool Machine::Move(std::string_view fromWindowsPath, std::string_view toWindowsPath) const {
  const VolumeLocation from = Required<FileWriteError>(*this, fromWindowsPath);
  const VolumeLocation to = Required<FileWriteError>(*this, toWindowsPath);
  if (from.volume != to.volume) {
    throw FileWriteError(Cp1252ToUtf8(fromWindowsPath) + ": not on the drive of " +
                         Cp1252ToUtf8(toWindowsPath));
  }
  return from.volume->Move(from.path, to.path);
}

void Machine::RemoveDirectory(std::string_view windowsPath) const {
  const VolumeLocation location = Required<FileWriteError>(*this, windowsPath);
  location.volume->RemoveDirectory(location.path);
}

void Machine::AddAttributes(std::string_view windowsPath, uint8_t attributes) const {
  const VolumeLocation location = Required<FileWriteError>(*this, windowsPath);
  location.volume->AddAttributes(location.path, attributes);
}

uint32_t Machine::ClusterSize(std::string_view windowsPath) const {
  return Required<FileReadError>(*this, windowsPath).volume->ClusterSize();
}

bool Machine::ListsAll(std::string_view windowsDirectory) const {
  VolumeLocation location;
  if (Locate(windowsDirectory, location) != PathStatus::Found) return false;
  return location.volume->ListsAll(location.path);
}

}  // namespace tarnwick
