// Shortcuts: decoding fails only with ShellLinkError, and a decoded link of the Windows 95 shape
// (item list My Computer -> drive -> file entries) encodes and decodes back the same.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "formats/shell_link.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tarnwick;

bool SameEntry(const ShellLinkEntry& a, const ShellLinkEntry& b) {
  // The writer stores no size for a directory.
  return a.longName == b.longName && a.shortName == b.shortName && a.directory == b.directory &&
         (a.directory || a.size == b.size) && a.dosDate == b.dosDate && a.dosTime == b.dosTime &&
         a.attributes == b.attributes;
}

bool SameEntries(const std::vector<ShellLinkEntry>& a, const std::vector<ShellLinkEntry>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameEntry);
}

void CheckRoundTrip(const ShellLink& link) {
  if (!link.idListPath || link.idListPath->size() < 2) return;
  NewShellLink copy;
  copy.target.drive = (*link.idListPath)[0];
  copy.target.volume = link.volume.value_or(ShellLinkVolume());
  copy.target.entries = link.idListEntries;
  copy.target.attributes = link.fileAttributes;
  copy.target.creationTime = link.creationTime;
  copy.target.accessTime = link.accessTime;
  copy.target.writeTime = link.writeTime;
  copy.target.fileSize = link.fileSize;
  copy.description = link.description;
  copy.iconLocation = link.iconLocation;
  std::vector<uint8_t> encoded;
  try {
    encoded = EncodeShellLink(copy);
  } catch (const ShellLinkEncodeError&) {
    return;  // names or strings Windows could not store
  }
  ShellLink again;
  try {
    again = DecodeShellLink(encoded);
  } catch (const ShellLinkError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    fuzz::Fail("a link the writer made decodes");
  }
  const std::string path = copy.target.LongPath();
  fuzz::Check(again.idListPath == path && again.linkInfoPath == path, "the target path");
  fuzz::Check(SameEntries(again.idListEntries, copy.target.entries), "the file entries");
  fuzz::Check(again.volume && again.volume->driveType == copy.target.volume.driveType &&
                  again.volume->serial == copy.target.volume.serial &&
                  again.volume->label == copy.target.volume.label,
              "the volume");
  fuzz::Check(again.description == copy.description && again.iconLocation == copy.iconLocation,
              "the strings");
  fuzz::Check(again.fileAttributes == copy.target.attributes &&
                  again.creationTime == copy.target.creationTime &&
                  again.accessTime == copy.target.accessTime &&
                  again.writeTime == copy.target.writeTime &&
                  again.fileSize == copy.target.fileSize,
              "the target's attributes, times and size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ShellLink link;
  try {
    link = DecodeShellLink(std::span(data, size));
  } catch (const ShellLinkError&) {
    return 0;
  }
  link.TargetPath();
  link.IconPath();
  CheckRoundTrip(link);
  return 0;
}
