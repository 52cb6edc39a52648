// tarnwick-lab: one policy file and roaming profiles for a room of Windows 95 computers that log
// on to the domain of a Samba server.
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/cp1252.h"
#include "base/csv.h"
#include "base/error.h"
#include "base/file_io.h"
#include "base/text.h"
#include "lab.h"
#include "machine/machine.h"
#include "samba_users.h"

namespace {

namespace fs = std::filesystem;
using namespace tarnwick;

constexpr std::string_view kUsage =
    "Usage: tarnwick-lab init DIR --domain NAME --server NAME [--netlogon FOLDER]\n"
    "                        [--homes FOLDER] [--password-stdin]\n"
    "       tarnwick-lab smb-conf DIR\n"
    "       tarnwick-lab join DIR (--machine CLIENTDIR | --image CLIENT.img)\n"
    "       tarnwick-lab join-reg DIR\n"
    "       tarnwick-lab samba-users FILE.csv [--lab DIR]\n"
    "       tarnwick-lab --help\n"
    "\n"
    "A lab is a directory on a Samba server from which a room of Windows 95 computers, logging\n"
    "on to the server's domain, download one policy file (CONFIG.POL in the NETLOGON share) and\n"
    "keep their users' roaming profiles (in each user's home share).\n"
    "\n"
    "  init         makes the lab DIR: lab.ini, the netlogon folder (default DIR/netlogon) with\n"
    "               CONFIG.POL and LOGON.BAT, and the homes folder (default DIR/homes). FOLDER\n"
    "               is absolute or relative to DIR. NAME is a NetBIOS name: at most 15 letters,\n"
    "               digits and !@#$^&()-_'{}.~ characters. With --password-stdin the first line\n"
    "               of standard input is Tarnwick's password; without it the first start of\n"
    "               Tarnwick on the lab asks for one. DIR must be new or empty.\n"
    "  smb-conf     prints the smb.conf lines that serve the lab: the [global] settings of a\n"
    "               domain logon server for Windows 95, [netlogon] and [homes]. Save them as a\n"
    "               file and add \"include = FILE\" at the end of smb.conf's [global] section.\n"
    "  join         writes into the client's SYSTEM.DAT what makes it log on to the domain,\n"
    "               download the policies automatically and keep roaming profiles (the old\n"
    "               file is kept as SYSTEM.DA0), and copies the program's icons into\n"
    "               C:\\TARNEX, where the accounts' shortcuts look for them. CLIENTDIR is a\n"
    "               Tarnwick machine directory; CLIENT.img a disk image (raw or VHD) of the\n"
    "               client, its emulator shut down.\n"
    "  join-reg     prints the same as a REGEDIT4 file to import on a client: regedit LAB.REG\n"
    "  samba-users  prints the shell commands (useradd, install, pdbedit) that make a Samba\n"
    "               account for every name of a class list: a CSV file whose header line names\n"
    "               the columns, \"name\" among them (also icon, group, hide-drives, restrict,\n"
    "               allow, copy-programs, share-programs). With --lab the homes lie in the\n"
    "               lab's homes folder. Each group named becomes a Unix group (its name in\n"
    "               lower case, blanks and punctuation as \"_\"; groupadd when missing), mapped\n"
    "               to the domain group of the policy group's name (net groupmap), and each\n"
    "               account a member of it (usermod). Nothing is run: the commands are for root\n"
    "               to run, again for another class list too.\n"
    "\n"
    "Exit status: 0 on success, 1 on an error (its text on standard error), 2 for a wrong\n"
    "command line.\n";

constexpr size_t kMaxClassListSize = size_t{64} << 20;

struct UsageError : Error {
  using Error::Error;
};

struct CommandLine {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> domain, server, netlogon, homes, lab;
  std::optional<fs::path> machineDir, image;
  bool passwordStdin = false;
};

CommandLine Parse(const std::vector<std::string_view>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 == args.size()) throw UsageError(std::string(arg) + " needs a value");
      return std::string(args[++i]);
    };
    if (arg == "--domain") {
      line.domain = value();
    } else if (arg == "--server") {
      line.server = value();
    } else if (arg == "--netlogon") {
      line.netlogon = value();
    } else if (arg == "--homes") {
      line.homes = value();
    } else if (arg == "--lab") {
      line.lab = value();
    } else if (arg == "--machine") {
      line.machineDir = value();
    } else if (arg == "--image") {
      line.image = value();
    } else if (arg == "--password-stdin") {
      line.passwordStdin = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      throw UsageError("unknown option '" + std::string(arg) + "'");
    } else if (line.command.empty()) {
      line.command = arg;
    } else {
      line.operands.emplace_back(arg);
    }
  }
  const std::string& c = line.command;
  const bool initOptions =
      line.domain || line.server || line.netlogon || line.homes || line.passwordStdin;
  const bool joinOptions = line.machineDir || line.image;
  if (c.empty()) throw UsageError("no command given");
  if (c != "init" && c != "smb-conf" && c != "join" && c != "join-reg" && c != "samba-users") {
    throw UsageError("unknown command '" + c + "'");
  }
  if (line.operands.size() != 1) throw UsageError(c + " takes one operand");
  if (initOptions && c != "init") throw UsageError("those options belong to init");
  if (joinOptions && c != "join") throw UsageError("--machine and --image belong to join");
  if (line.lab && c != "samba-users") throw UsageError("--lab belongs to samba-users");
  if (c == "init" && (!line.domain || !line.server)) {
    throw UsageError("init needs --domain and --server");
  }
  if (c == "join" && line.machineDir.has_value() == line.image.has_value()) {
    throw UsageError("join needs --machine or --image, not both");
  }
  return line;
}

std::string Ansi(const std::string& utf8, const std::string& what) {
  const std::optional<std::string> ansi = Utf8ToCp1252(utf8);
  if (!ansi) throw Error(what + " holds a character that code page 1252 cannot hold");
  return *ansi;
}

int Finish() {
  std::cout.flush();
  if (std::cout) return 0;
  std::cerr << "tarnwick-lab: cannot write to standard output\n";
  return 1;
}

int Run(const CommandLine& line) {
  const fs::path operand = line.operands[0];
  if (line.command == "init") {
    std::optional<std::string> password;
    if (line.passwordStdin) {
      std::string text;
      std::getline(std::cin, text);
      if (text.ends_with('\r')) text.pop_back();
      CheckNoControlCharacters(text, "The password");
      password = Ansi(text, "The password");
    }
    const LabSettings settings{UpperAscii(*line.domain), UpperAscii(*line.server),
                               line.netlogon.value_or("netlogon"), line.homes.value_or("homes")};
    InitLab(operand, settings, password);
    return 0;
  }
  if (line.command == "samba-users") {
    const std::vector<uint8_t> bytes = ReadWholeFile(operand, kMaxClassListSize);
    std::optional<fs::path> homes;
    if (line.lab) homes = LabFolder(*line.lab, ReadLab(*line.lab).homes);
    std::cout << SambaUserCommands(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        operand.string(), homes);
    return Finish();
  }
  const LabSettings settings = ReadLab(operand);
  if (line.command == "smb-conf") {
    std::cout << SmbConfLines(operand, settings);
  } else if (line.command == "join-reg") {
    std::cout << JoinText(settings);
  } else if (line.machineDir) {
    JoinMachine(Machine::Open(*line.machineDir), settings);
    return 0;
  } else {
    std::error_code ec;
    if (!fs::exists(*line.image, ec)) throw Error(line.image->string() + ": no such disk image");
    JoinMachine(Machine::OpenImage(*line.image), settings);
    return 0;
  }
  return Finish();
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
    for (size_t i = 0; i < args.size(); ++i) {
      CheckNoControlCharacters(args[i], "Argument " + std::to_string(i + 1));
    }
    return Run(Parse(args));
  } catch (const UsageError& e) {
    std::cerr << "tarnwick-lab: " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-lab: " << e.what() << "\n";
    return 1;
  }
}
