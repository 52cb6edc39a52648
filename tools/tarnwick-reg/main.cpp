// tarnwick-reg: Windows 95 registry files, or a machine's registry, as REGEDIT4 text, and REGEDIT4
// text merged into them.
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/cp1252.h"
#include "base/error.h"
#include "base/file_io.h"
#include "base/text.h"
#include "demo/demo_machine.h"
#include "machine/file_lock.h"
#include "machine/machine.h"
#include "machine_registry.h"
#include "registry/creg_file.h"
#include "registry/reg_tree.h"
#include "registry/regedit4.h"
#include "registry/registry.h"
#include "registry/registry_limits.h"

namespace {

namespace fs = std::filesystem;
using namespace tarnwick;

constexpr std::string_view kUsage =
    "Usage: tarnwick-reg export [--root KEY] FILE\n"
    "       tarnwick-reg import [--root KEY] REGFILE FILE\n"
    "       tarnwick-reg --machine DIR export [KEY]\n"
    "       tarnwick-reg --machine DIR import REGFILE\n"
    "       tarnwick-reg --image FILE export [KEY]\n"
    "       tarnwick-reg --image FILE import REGFILE\n"
    "       tarnwick-reg --help\n"
    "\n"
    "FILE is a Windows 95 registry file (SYSTEM.DAT, USER.DAT, user.dat, a .pol file).\n"
    "\n"
    "  export  prints FILE as REGEDIT4 text, as Windows 95's regedit exports it; key paths\n"
    "          are relative to the file's root, or begin with KEY given --root.\n"
    "  import  merges the REGEDIT4 text of REGFILE (- for standard input) into FILE, creating\n"
    "          FILE when it does not exist. [-key] deletes a key, \"name\"=- a value. Key paths\n"
    "          are relative to the file's root, where one beginning with a root key\n"
    "          (HKEY_LOCAL_MACHINE...) is an error; with --root every key must lie below KEY,\n"
    "          which is taken off (--root HKEY_LOCAL_MACHINE for a SYSTEM.DAT).\n"
    "\n"
    "With --machine DIR, the registry of the Tarnwick machine in DIR, as regedit sees it on\n"
    "Windows 95: HKEY_LOCAL_MACHINE is SYSTEM.DAT, HKEY_USERS is USER.DAT, HKEY_CURRENT_USER\n"
    "is HKEY_USERS\\.Default, HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes.\n"
    "  export  prints HKEY_LOCAL_MACHINE and HKEY_USERS, or the tree of KEY (a path beginning\n"
    "          with one of the four root keys).\n"
    "  import  merges REGFILE, whose key paths begin with those root keys, into SYSTEM.DAT and\n"
    "          USER.DAT; the old files are kept as SYSTEM.DA0 and USER.DA0. Refused while\n"
    "          Tarnwick runs on the machine.\n"
    "With --image FILE, the same for the machine whose drive C is the disk image FILE (raw or\n"
    "VHD, its first FAT partition), its Windows directory the WinDir= of its MSDOS.SYS. A FILE\n"
    "that does not exist is created as a demo image. Shut the emulator down first: an image\n"
    "in use is refused.\n"
    "\n"
    "REGFILE is code page 1252 text, as Windows 95's regedit writes it; UTF-8 is refused.\n"
    "On any error in REGFILE the line is named and no file changes. Exit status: 0 on success,\n"
    "1 when a file cannot be read, written or understood, 2 for a wrong command line.\n";

// The largest REGEDIT4 text read: far beyond what Windows 95's registry files can hold.
constexpr size_t kMaxTextSize = size_t{256} << 20;

struct UsageError : Error {
  using Error::Error;
};

struct CommandLine {
  std::optional<fs::path> machineDir;
  std::optional<fs::path> image;
  std::optional<std::string> root;  // code page 1252
  std::vector<std::string> args;    // the command and its operands
};

// A key path from the command line (UTF-8) in code page 1252, each name valid.
std::string KeyArgument(std::string_view utf8) {
  std::optional<std::string> ansi = Utf8ToCp1252(utf8);
  if (!ansi) throw UsageError(std::string(utf8) + ": not a key name of code page 1252");
  for (size_t start = 0;;) {
    const size_t end = ansi->find('\\', start);
    if (!IsValidKeyName(std::string_view(*ansi).substr(start, end - start))) {
      throw UsageError(std::string(utf8) + ": not a key path");
    }
    if (end == std::string::npos) return *ansi;
    start = end + 1;
  }
}

CommandLine Parse(const std::vector<std::string_view>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--machine" || args[i] == "--image" || args[i] == "--root") {
      if (i + 1 == args.size()) throw UsageError(std::string(args[i]) + " needs a value");
      if (args[i] == "--machine") {
        line.machineDir = args[++i];
      } else if (args[i] == "--image") {
        line.image = args[++i];
      } else {
        line.root = KeyArgument(args[++i]);
      }
    } else {
      line.args.emplace_back(args[i]);
    }
  }
  const size_t operands = line.args.empty() ? 0 : line.args.size() - 1;
  const std::string command = line.args.empty() ? "" : line.args[0];
  if (line.machineDir && line.image) throw UsageError("give --machine or --image, not both");
  const bool fits =
      line.machineDir || line.image
          ? !line.root &&
                ((command == "export" && operands <= 1) || (command == "import" && operands == 1))
          : (command == "export" && operands == 1) || (command == "import" && operands == 2);
  if (!fits) throw UsageError("wrong command line");
  return line;
}

std::string ReadText(const std::string& regFile) {
  if (regFile == "-") {
    return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  }
  const std::vector<uint8_t> bytes = ReadWholeFile(regFile, kMaxTextSize);
  return {bytes.begin(), bytes.end()};
}

int Fail(const std::string& text) {
  std::cerr << "tarnwick-reg: " << text << "\n";
  return 1;
}

int Finish() {
  std::cout.flush();
  return std::cout ? 0 : Fail("cannot write to standard output");
}

int ExportFile(const fs::path& file, const std::string& root) {
  std::unique_ptr<RegNode> tree = ReadRegistryFile(file);
  try {
    ExportRegedit4(*tree, std::cout, root);
  } catch (const Regedit4Error& e) {
    return Fail(file.string() + ": cannot be shown as REGEDIT4 text: " + e.what());
  }
  return Finish();
}

// The machine directory that holds file: the nearest one above it with a machine.ini.
std::optional<fs::path> MachineDirectoryOf(const fs::path& file) {
  std::error_code ec;
  fs::path dir = fs::canonical(fs::absolute(file).parent_path(), ec);
  if (ec) return std::nullopt;
  for (;; dir = dir.parent_path()) {
    if (fs::is_regular_file(dir / "machine.ini", ec)) return dir;
    if (dir == dir.root_path()) return std::nullopt;
  }
}

int ImportFile(const std::string& regFile, const fs::path& file, const std::string& root) {
  const std::string text = ReadText(regFile);
  // A file of a machine is locked as the machine is; any other file on its own.
  std::optional<MachineLock> machineLock;
  std::optional<FileLock> fileLock;
  if (const std::optional<fs::path> dir = MachineDirectoryOf(file)) {
    machineLock = MachineLock::TryAcquire(Machine::Open(*dir));
    if (!machineLock) {
      return Fail("Tarnwick is running on the machine in " + dir->string() +
                  "; close it and try again");
    }
  } else {
    fileLock = FileLock::TryAcquire(file);
    if (!fileLock) {
      return Fail(file.string() + " is in use by another Tarnwick program; close it and try again");
    }
  }
  std::error_code ec;
  std::unique_ptr<RegNode> tree = fs::exists(fs::symlink_status(file, ec))
                                      ? ReadRegistryFile(file)
                                      : std::make_unique<RegNode>();
  try {
    ImportRegedit4(text, *tree, root);
  } catch (const Regedit4Error& e) {
    return Fail(regFile + ", " + e.what());
  }
  // The folder named on the command line, its links resolved here: the write follows none.
  const fs::path folder = fs::canonical(file.has_parent_path() ? file.parent_path() : ".", ec);
  WriteRegistryFile(ec ? file : folder / file.filename(), *tree);
  return 0;
}

int RunOnMachine(const Machine& machine, const CommandLine& line) {
  const fs::path& dir = machine.Directory();
  if (line.args[0] == "export") {
    const Registry registry(machine);
    const std::string key = line.args.size() == 2 ? KeyArgument(line.args[1]) : "";
    try {
      ExportMachineRegistry(registry, key, std::cout);
    } catch (const Regedit4Error& e) {
      return Fail(dir.string() + ": the registry cannot be shown as REGEDIT4 text: " + e.what());
    }
    return Finish();
  }
  const std::string& regFile = line.args[1];
  const std::string text = ReadText(regFile);
  const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine);
  if (!lock) {
    return Fail("Tarnwick is running on the machine in " + machine.Directory().string() +
                "; close it and try again");
  }
  Registry registry(machine);
  RegistryWriteBatch batch(registry);  // each changed file written once, at the end
  try {
    ImportMachineRegistry(registry, text);
  } catch (const Regedit4Error& e) {
    return Fail(regFile + ", " + e.what());
  }
  batch.Finish();
  return 0;
}

int Run(const CommandLine& line) {
  if (line.machineDir) return RunOnMachine(Machine::Open(*line.machineDir), line);
  if (line.image) {
    std::error_code error;
    if (!fs::exists(*line.image, error)) {
      std::cerr << "tarnwick-reg: creating a new demo disk image " << line.image->string() << "\n";
    }
    return RunOnMachine(OpenOrCreateImage(*line.image), line);
  }
  const std::string root = line.root.value_or("");
  if (line.args[0] == "export") return ExportFile(line.args[1], root);
  return ImportFile(line.args[1], line.args[2], root);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  try {
    // No file, key or directory name given here holds a line break or other control character.
    for (size_t i = 0; i < args.size(); ++i) {
      CheckNoControlCharacters(args[i], "Argument " + std::to_string(i + 1));
    }
    return Run(Parse(args));
  } catch (const UsageError& e) {
    std::cerr << "tarnwick-reg: " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
