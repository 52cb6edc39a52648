// tarnwick-reg: a Windows 95 registry file as REGEDIT4 text, and REGEDIT4 text merged into one.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "registry/creg_file.h"
#include "registry/reg_tree.h"
#include "registry/regedit4.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage =
    "Usage: tarnwick-reg export FILE\n"
    "       tarnwick-reg import REGFILE FILE\n"
    "       tarnwick-reg --help\n"
    "\n"
    "FILE is a Windows 95 registry file (SYSTEM.DAT, USER.DAT, user.dat, a .pol file).\n"
    "\n"
    "  export  prints FILE as REGEDIT4 text, as Windows 95's regedit exports it; key paths\n"
    "          are relative to the file's root.\n"
    "  import  merges the REGEDIT4 text of REGFILE (- for standard input) into FILE, creating\n"
    "          FILE when it does not exist. [-key] deletes a key, \"name\"=- a value. On any\n"
    "          error FILE is left as it was.\n"
    "\n"
    "Exit status: 0 on success, 1 when a file cannot be read, written or understood, 2 for a\n"
    "wrong command line.\n";

int Export(const fs::path& file) {
  std::unique_ptr<tarnwick::RegNode> root = tarnwick::ReadRegistryFile(file);
  std::string text;
  try {
    text = tarnwick::ExportRegedit4(*root);
  } catch (const tarnwick::Regedit4Error& e) {
    std::cerr << "tarnwick-reg: " << file.string()
              << ": cannot be shown as REGEDIT4 text: " << e.what() << "\n";
    return 1;
  }
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "tarnwick-reg: cannot write to standard output\n";
    return 1;
  }
  return 0;
}

int Import(const std::string& regFile, const fs::path& file) {
  std::string text;
  if (regFile == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(regFile, std::ios::binary);
    if (!in) {
      std::cerr << "tarnwick-reg: " << regFile << ": cannot be read\n";
      return 1;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code ec;
  std::unique_ptr<tarnwick::RegNode> root = fs::exists(fs::symlink_status(file, ec))
                                                ? tarnwick::ReadRegistryFile(file)
                                                : std::make_unique<tarnwick::RegNode>();
  try {
    tarnwick::ImportRegedit4(text, *root);
  } catch (const tarnwick::Regedit4Error& e) {
    std::cerr << "tarnwick-reg: " << regFile << ", " << e.what() << "\n";
    return 1;
  }
  tarnwick::WriteRegistryFile(file, *root);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  try {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      std::cout << kUsage;
      return 0;
    }
    if (args.size() == 2 && args[0] == "export") return Export(args[1]);
    if (args.size() == 3 && args[0] == "import") return Import(std::string(args[1]), args[2]);
  } catch (const tarnwick::RegistryFileError& e) {
    std::cerr << "tarnwick-reg: " << e.what() << "\n";
    return 1;
  }
  std::cerr << kUsage;
  return 2;
}
