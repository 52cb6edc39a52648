#include <QCommandLineParser>
#include <QCoreApplication>

#include <filesystem>
#include <iostream>
#include <string>

#include "app/describe.h"
#include "demo/demo_machine.h"
#include "machine/machine.h"

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
            : tarnwick::Machine::DefaultDirectory();
    if (dir.empty()) throw tarnwick::MachineError("--machine needs a directory");
    const tarnwick::Machine machine = tarnwick::OpenOrCreateMachine(dir);
    // Until the main window exists, every start describes the machine.
    std::cout << tarnwick::Describe(machine);
  } catch (const std::exception& e) {
    std::cerr << "tarnwick: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
