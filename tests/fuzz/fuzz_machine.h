// A small machine in a temporary directory for the path harness and its seeds: three drives
// (C: fixed, D: CD-ROM, N: \\SERVER\SHARE), long and accented names, names that differ only in
// case, and symbolic links that loop, climb out of their drive, dangle or lead to another drive.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::fuzz {

class FuzzMachine {
 public:
  FuzzMachine() {
    dir_.WriteFile("machine.ini",
                   "[Machine]\nWindowsDirectory=C:\\WINDOWS\nProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
                   "[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\n"
                   "[Drive D]\nType=cdrom\nPath=d\n"
                   "[Drive N]\nType=remote\nPath=n\nRemoteName=\\\\SERVER\\SHARE\n"
                   "[Drive A]\nType=removable\n");
    for (const char* file :
         {"c/WINDOWS/SYSTEM/USER.EXE", "c/TARNEX/TARNEX.EXE",
          "c/Program Files/Accessories/WORDPAD.EXE", "c/caf\xC3\xA9/Men\xC3\xBA.txt",
          "c/Readme.txt", "c/README.TXT", "c/Long File Name.text", "d/DATA/file.txt", "n/share.txt",
          "outside/secret.txt"}) {
      dir_.WriteFile(file, "x");
    }
    namespace fs = std::filesystem;
    const fs::path c = dir_.Path() / "c";
    const std::pair<const char*, fs::path> links[] = {
        {"c/loop", "."},
        {"c/up", ".."},
        {"c/root", "/"},
        {"c/out", "../outside"},
        {"c/inside", c / "WINDOWS"},
        {"c/dangling", "nowhere"},
        {"c/self", "self"},
        {"c/tod", "../d/DATA"},
        {"c/chain", "loop/inside"},
        {"c/WINDOWS/back", "../.."},
        {"c/WINDOWS/secret", "../../outside/secret.txt"},
        {"d/toc", "../c"},
        {"n/up", "../c"},
    };
    for (const auto& [link, target] : links) fs::create_symlink(target, dir_.Path() / link);
    machine_ = Machine::Open(dir_.Path());
  }

  const Machine& Get() const { return machine_; }

  // Paths to start from: plain, aliased, through each link, and hostile.
  static std::vector<std::string> SeedPaths() {
    return {"C:\\WINDOWS\\SYSTEM\\USER.EXE",
            "c:/program files/accessories/wordpad.exe",
            "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE",
            "C:\\caf\xE9\\Men\xFA.txt",
            "C:\\README~1.TXT",
            "C:\\LONGFI~1.TEX",
            "C:\\loop\\loop\\WINDOWS\\..\\TARNEX",
            "C:\\up\\c\\WINDOWS",
            "C:\\WINDOWS\\back\\outside",
            "C:\\out\\secret.txt",
            "C:\\root\\etc\\passwd",
            "C:\\chain\\SYSTEM",
            "C:\\tod\\file.txt",
            "C:\\dangling\\x",
            "C:\\self",
            "C:\\WINDOWS\\secret",
            "D:\\toc\\WINDOWS",
            "\\\\SERVER\\SHARE\\up\\WINDOWS",
            "\\\\server\\share\\share.txt",
            "C:\\..\\outside",
            "A:\\"};
  }

 private:
  test::TempMachineDir dir_;
  Machine machine_;
};

}  // namespace tarnwick::fuzz
