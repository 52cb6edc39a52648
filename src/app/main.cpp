#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/describe.h"
#include "app/first_start.h"
#include "controls/help_window.h"
#include "controls/look.h"
#include "controls/real_prompter.h"
#include "demo/demo_machine.h"
#include "demo/project_icons.h"
#include "machine/machine.h"
#include "policy/policy_store.h"
#include "policy/policy_template.h"
#include "policy/policy_templates.h"
#include "registry/registry.h"
#include "shell/error_box.h"
#include "shell/prompts.h"
#include "shell/single_instance.h"
#include "ui/main_window.h"

namespace {

using tarnwick::Machine;

// The program from the single-instance check to the end of the message loop.
int RunProgram(int& argc, char** argv, const Machine& machine,
               const std::vector<std::filesystem::path>& templateFiles) {
  tarnwick::TarnwickApplication app(argc, argv);
  tarnwick::RealPrompter dialogs;
  const tarnwick::PrompterGuard prompts(dialogs);
  if (!tarnwick::ApplyLook(app)) {
    std::cerr << "tarnwick: MS Sans Serif (package fonts-wine) not found; a look-alike font is "
                 "used, in which some texts may not fit\n";
  }
  std::optional<tarnwick::TInstanceDetector> detector;
  std::optional<tarnwick::Registry> registry;
  std::optional<tarnwick::PolicyStore> store;
  try {
    detector.emplace(machine);
    // A later copy reads no file.
    if (!detector->PreviousInstanceFound()) {
      registry.emplace(machine);
      store.emplace(*registry);
    }
  } catch (const std::exception& e) {
    std::cerr << "tarnwick: " << e.what() << '\n';
    tarnwick::ShowMessage(nullptr, tarnwick::MessageKind::Error, QString::fromStdString(e.what()));
    return 1;
  }
  tarnwick::InstallHelpKey(app);
  // A later copy brings the first forward here and ends before it shows or touches anything.
  tarnwick::TfrmMain window(*detector, store ? &*store : nullptr);
  if (window.EndsThisCopy()) return 0;
  window.SetFirstStart(tarnwick::FirstStartSetup);
  try {
    window.SetTemplates(tarnwick::LoadTemplates(templateFiles));
  } catch (const tarnwick::TemplateError& e) {
    std::cerr << "tarnwick: " << e.what() << '\n';
    tarnwick::ShowMessage(nullptr, tarnwick::MessageKind::Error, QString::fromStdString(e.what()));
    return 1;
  }
  try {
    tarnwick::InstallProgramIcons(machine);
  } catch (const std::exception& e) {
    std::cerr << "tarnwick: " << e.what() << '\n';
  }
  // Each event is one write batch; so is the start.
  app.SetRegistry(&*registry);
  {
    tarnwick::RegistryWriteBatch batch(*registry);
    window.FormCreate();
    try {
      batch.Finish();
    } catch (const std::exception&) {
      tarnwick::ShowCurrentError(&window);
    }
  }
  // A failed start whose window closed already (its timer ticks during any box shown after the
  // start) has no loop to wait for: the loop would never end.
  const int status = window.isVisible() ? app.exec() : 0;
  app.SetRegistry(nullptr);
  // A start that did not go on (wrong password, Cancel, an error) is a failure.
  return window.CloseRequested() ? 1 : status;
}

// An image that cannot be opened, told in a message box.
void ShowOpenFailure(int& argc, char** argv, const std::string& text) {
  tarnwick::TarnwickApplication app(argc, argv);
  tarnwick::ApplyLook(app);
  tarnwick::ShowMessage(nullptr, tarnwick::MessageKind::Error, QString::fromStdString(text));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Administers the accounts and system policies of a Windows 95 machine."));
  const QCommandLineOption helpOption = parser.addHelpOption();
  const QCommandLineOption versionOption = parser.addVersionOption();
  const QCommandLineOption machineOption(
      QStringLiteral("machine"),
      QStringLiteral("The machine directory (default: $TARNWICK_MACHINE, else "
                     "$XDG_DATA_HOME/tarnwick/machine). A directory that does not exist is "
                     "created as a demo machine."),
      QStringLiteral("DIR"));
  const QCommandLineOption imageOption(
      QStringLiteral("image"),
      QStringLiteral("The machine whose drive C is the disk image FILE (raw or VHD, its first FAT "
                     "partition), its Windows directory the WinDir= of its MSDOS.SYS. A FILE that "
                     "does not exist is created as a demo image. Shut the emulator down first: an "
                     "image in use is refused."),
      QStringLiteral("FILE"));
  const QCommandLineOption describeOption(QStringLiteral("describe"),
                                          QStringLiteral("Print what the machine holds and exit."));
  const QCommandLineOption templateOption(
      QStringLiteral("template"),
      QStringLiteral("Offer the policies of the policy template FILE (.adm) too, after Tarnwick's "
                     "own and those of the templates folder. May be given more than once."),
      QStringLiteral("FILE"));
  parser.addOption(machineOption);
  parser.addOption(imageOption);
  parser.addOption(templateOption);
  parser.addPositionalArgument(QStringLiteral("IMAGE"),
                               QStringLiteral("An existing disk image to open, as --image does."),
                               QStringLiteral("[IMAGE]"));
  parser.addOption(describeOption);
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  // Parsed before the application object exists: --help, --version and --describe need no display.
  if (!parser.parse(arguments)) {
    std::cerr << "tarnwick: " << parser.errorText().toStdString() << " (see --help)\n";
    return 1;
  }
  if (parser.isSet(helpOption)) {
    // The usage line names the program as it was started; the parser takes that from the
    // application object.
    const QCoreApplication core(argc, argv);
    std::cout << parser.helpText().toStdString();
    return 0;
  }
  if (parser.isSet(versionOption)) {
    std::cout << "Tarnwick " << TARNWICK_VERSION << '\n';
    return 0;
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) {
    std::cerr << "tarnwick: unexpected argument " << positional[1].toStdString()
              << " (see --help)\n";
    return 1;
  }
  const int given = (parser.isSet(machineOption) ? 1 : 0) + (parser.isSet(imageOption) ? 1 : 0) +
                    static_cast<int>(positional.size());
  if (given > 1) {
    std::cerr << "tarnwick: give one machine: --machine DIR, --image FILE or an IMAGE (see "
                 "--help)\n";
    return 1;
  }

  std::optional<Machine> machine;
  try {
    if (!positional.isEmpty()) {
      // A file manager's "Open With": the image must exist.
      const std::filesystem::path image(positional.front().toStdString());
      if (std::filesystem::is_directory(image)) {
        throw tarnwick::MachineError(image.string() +
                                     ": a directory; give a machine directory with --machine");
      }
      if (!std::filesystem::exists(image)) {
        throw tarnwick::MachineError(image.string() + ": no such disk image");
      }
      machine.emplace(Machine::OpenImage(image));
    } else if (parser.isSet(imageOption)) {
      const std::filesystem::path image(parser.value(imageOption).toStdString());
      if (image.empty()) throw tarnwick::MachineError("--image needs a file");
      machine.emplace(tarnwick::OpenOrCreateImage(image));
    } else {
      const std::filesystem::path dir =
          parser.isSet(machineOption)
              ? std::filesystem::path(parser.value(machineOption).toStdString())
              : Machine::DefaultDirectory();
      if (dir.empty()) throw tarnwick::MachineError("--machine needs a directory");
      machine.emplace(tarnwick::OpenOrCreateMachine(dir));
    }
  } catch (const std::exception& e) {
    std::cerr << "tarnwick: " << e.what() << '\n';
    // A file manager passes an existing file, and nobody reads the terminal.
    std::error_code error;
    if (!positional.isEmpty() &&
        std::filesystem::is_regular_file(positional.front().toStdString(), error)) {
      ShowOpenFailure(argc, argv, e.what());
    }
    return 1;
  }
  if (parser.isSet(describeOption)) {
    // The application object tells where the executable lies, and so where its help is.
    const QCoreApplication core(argc, argv);
    const QString help = tarnwick::HelpCollectionFile();
    std::cout << tarnwick::Describe(*machine) << "Help collection:   " << help.toStdString()
              << (QFileInfo::exists(help) ? "" : " (not present)") << '\n';
    return 0;
  }
  std::vector<std::filesystem::path> templateFiles;
  for (const QString& file : parser.values(templateOption)) {
    templateFiles.emplace_back(file.toStdString());
  }
  return RunProgram(argc, argv, *machine, templateFiles);
}
