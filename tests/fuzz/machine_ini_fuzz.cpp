// machine.ini: the INI reader fails only with IniError and what it reads writes and reads back
// the same; a machine opened from the text fails only with MachineError.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "support/temp_machine_dir.h"

namespace {

using namespace tarnwick;

bool SameIni(const IniFile& a, const IniFile& b) {
  return std::equal(a.Sections().begin(), a.Sections().end(), b.Sections().begin(),
                    b.Sections().end(), [](const IniSection& x, const IniSection& y) {
                      return x.Name() == y.Name() &&
                             std::equal(x.Entries().begin(), x.Entries().end(), y.Entries().begin(),
                                        y.Entries().end(),
                                        [](const IniEntry& e, const IniEntry& f) {
                                          return e.key == f.key && e.value == f.value;
                                        });
                    });
}

void CheckRoundTrip(std::string_view text) {
  IniFile ini;
  try {
    ini = IniFile::Parse(text, "fuzz.ini");
  } catch (const IniError&) {
    return;
  }
  const std::string written = ini.Format();
  try {
    fuzz::Check(SameIni(ini, IniFile::Parse(written, "fuzz.ini")),
                "parse, format, parse gives the same");
  } catch (const IniError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    fuzz::Fail("formatted text parses");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckRoundTrip(text);

  // One machine directory for all runs, with the drive directories the seeds name.
  static const test::TempMachineDir dir;
  if (!std::filesystem::exists(dir.Path() / "d")) {
    for (const char* drive : {"c/WINDOWS", "c/TARNEX", "d"}) {
      std::filesystem::create_directories(dir.Path() / drive);
    }
  }
  dir.WriteFile("machine.ini", text);
  try {
    const Machine machine = Machine::Open(dir.Path());
    machine.HostPath(machine.WindowsDirectory());
    machine.HostPath(machine.ProgramPath());
  } catch (const MachineError&) {
  }
  return 0;
}
