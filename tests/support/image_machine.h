// A machine whose drive C is a FAT volume in a disk image, made with mkfs.fat and filled with
// mcopy from a folder of the host as people fill their emulators' disks, and judged afterwards
// by mtools and fsck.fat.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {

class ImageMachine {
 public:
  enum class Kind { Raw, DynamicVhd };

  // A FAT12, FAT16 or FAT32 volume labelled WIN95 with serial 2A1B07C4 holding files: paths
  // below the root with "/" (one ending in "/" is an empty folder) and their contents.
  ImageMachine(int fatBits, const std::map<std::string, std::string>& files, Kind kind = Kind::Raw);

  // The machine; the image is held while it lives, so the readers below run once it is gone.
  Machine Open() const { return Machine::Open(dir_.Path()); }
  const std::filesystem::path& Dir() const { return dir_.Path(); }

  // An mtools command on the volume (a raw copy of a VHD).
  ProgramRun Mtools(const std::string& tool, std::vector<std::string> args) const;
  // A file's bytes as mtype reads them; a failed expectation when it cannot.
  std::string Type(const std::string& path) const;
  // A file of the volume copied to the host with mcopy.
  std::filesystem::path Extract(const std::string& path) const;
  // fsck.fat -n finds nothing to mend.
  void ExpectClean() const;

 private:
  std::filesystem::path Raw() const;

  TempMachineDir dir_;
  Kind kind_;
};

}  // namespace tarnwick::test
