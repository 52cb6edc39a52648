#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "demo/demo_machine.h"
#include "machine/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_file.h"

namespace {

using tarnwick::DriveInfo;
using tarnwick::DriveType;
using tarnwick::Machine;

const char* TypeName(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return "removable";
    case DriveType::Fixed:
      return "fixed";
    case DriveType::Remote:
      return "remote";
    case DriveType::CdRom:
      return "cdrom";
    case DriveType::RamDisk:
      return "ramdisk";
  }
  return "unknown";
}

std::string SerialText(uint32_t serial) {
  char text[10];
  std::snprintf(text, sizeof text, "%04X-%04X", serial >> 16, serial & 0xFFFF);
  return text;
}

std::string DriveLine(const DriveInfo& drive) {
  std::ostringstream line;
  line << "  " << drive.letter << ":  " << TypeName(drive.type);
  line << std::string(11 - std::string_view(TypeName(drive.type)).size(), ' ');
  if (!drive.HasMedium()) {
    line << "no medium";
  } else {
    line << drive.hostDir.string() << "  ";
    if (drive.label.empty()) {
      line << "no label";
    } else {
      line << "label \"" << tarnwick::Cp1252ToUtf8(drive.label) << '"';
    }
    if (drive.serial != 0) line << "  serial " << SerialText(drive.serial);
  }
  if (!drive.remoteName.empty()) {
    line << "  remote name " << tarnwick::Cp1252ToUtf8(drive.remoteName);
  }
  return line.str();
}

std::string Describe(const Machine& machine) {
  const std::string policyFile = tarnwick::PolicyFilePathFor(machine.WindowsDirectory());
  const std::optional<std::filesystem::path> policyHost = machine.HostPath(policyFile);
  std::error_code ec;
  const bool policyExists = policyHost && std::filesystem::is_regular_file(*policyHost, ec);

  std::ostringstream text;
  text << "Machine directory: " << machine.Directory().string() << '\n'
       << "Windows directory: " << tarnwick::Cp1252ToUtf8(machine.WindowsDirectory()) << '\n'
       << "Program path:      " << tarnwick::Cp1252ToUtf8(machine.ProgramPath()) << '\n'
       << "Policy file:       " << tarnwick::Cp1252ToUtf8(policyFile)
       << (policyExists ? " (present)" : " (not present)") << '\n'
       << "Drives:\n";
  for (const DriveInfo& drive : machine.Drives()) text << DriveLine(drive) << '\n';
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Administers the accounts and system policies of a Windows 95 machine."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption machineOption(
      QStringLiteral("machine"),
      QStringLiteral("The machine directory (default: $TARNWICK_MACHINE, else "
                     "$XDG_DATA_HOME/tarnwick/machine). A directory that does not exist is "
                     "created as a demo machine."),
      QStringLiteral("DIR"));
  const QCommandLineOption describeOption(QStringLiteral("describe"),
                                          QStringLiteral("Print what the machine holds and exit."));
  parser.addOption(machineOption);
  parser.addOption(describeOption);
  parser.process(app);
  if (!parser.positionalArguments().isEmpty()) {
    std::cerr << "tarnwick: unexpected argument "
              << parser.positionalArguments().front().toStdString() << " (see --help)\n";
    return 1;
  }

  try {
    const std::filesystem::path dir =
        parser.isSet(machineOption)
            ? std::filesystem::path(parser.value(machineOption).toStdString())
            : Machine::DefaultDirectory();
    if (dir.empty()) throw tarnwick::MachineError("--machine needs a directory");
    const Machine machine = tarnwick::OpenOrCreateMachine(dir);
    // Until the main window exists, every start describes the machine.
    std::cout << Describe(machine);
  } catch (const std::exception& e) {
    std::cerr << "tarnwick: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
