// tarnwick-policy: the policy store of one Windows 95 machine from the command line.
#include <malloc.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/cp1252.h"
#include "base/text.h"
#include "commands.h"
#include "demo/demo_machine.h"
#include "entry_commands.h"
#include "machine/host_dir.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "policy/policy_templates.h"
#include "policy/users.h"
#include "registry/creg_file.h"
#include "registry/registry.h"
#include "text_account_shell.h"

namespace {

using namespace tarnwick;

constexpr const char* kHelp =
    R"(Usage: tarnwick-policy [--machine DIR | --image FILE] [--template FILE]... COMMAND [ARGS]

Reads and changes the accounts and policies of a Windows 95 machine administered by Tarnwick,
in the machine's policy file (C:\WINDOWS\Tarnex.pol), the way Tarnwick itself does. On a lab
(a DIR holding lab.ini, see tarnwick-lab) the policy file is its netlogon CONFIG.POL and each
account's profile lies in its home, \\SERVER\name\.profiles.

Commands:
  users                       list the accounts, one name a line
  show USER                   everything the main window shows of USER: its name, every
                              policy as Name=value lines, the allowed programs
                              (AllowedApp.N=program), the profile directory (ProfilePath),
                              the hidden drives, what its folders hold and the activation
  set USER PROPERTY VALUE     set one policy; flags take 0 or 1, NoDrives a drive mask
                              (bit 0 drive A, bit 2 drive C: 4 hides C), the folders and
                              UserIcon a full Windows path (empty: see below)
  allow USER APP              add a program file name (e.g. calc.exe) to the allowed programs
  disallow USER APP           remove it (letter case ignored)
  add-user NAME [OPTIONS]     create an account as Tarnwick's new-user wizard does: profile
                              directory, profile entry, user.dat, policies, folders, desktop
                              shortcuts and allowed programs (see below)
  import-users FILE.csv       make an account for each row of a class list, as add-user
                              makes it (see below)
  remove-user NAME [--delete-profile]
                              delete an account and its profile entry; with --delete-profile
                              its profile directory goes into the Recycle Bin first
  activation [on|off]         show or switch whether Windows applies the policies at logon

  policies ENTRY              every policy of the templates that ENTRY takes, one a line: its
                              state (on, off or unset), a tab, and its path: its categories
                              and its name as shown, joined by \
  policy ENTRY PATH on|off|unset [PART=VALUE]...
                              set a policy of the templates in ENTRY (see below)
  groups                      list the groups, highest priority first; a group of a file
                              made elsewhere that the priority list lacks follows, marked
                              (it is never applied until group-priority names it)
  add-group NAME              add a group, with the lowest priority
  remove-group NAME           remove a group and its policies
  group-priority NAME...      order the groups, highest priority first; name every group
                              of the priority list
  add-computer NAME           add an entry for the computer NAME
  remove-computer NAME        remove it and its policies
  effective USER [--group NAME]... [--computer NAME]
                              print as REGEDIT4 text what Windows 95's policy download
                              changes when USER logs on, a member of these groups, at this
                              computer: the computer's entry (else Default Computer) to
                              HKEY_LOCAL_MACHINE; then to HKEY_CURRENT_USER the user's own
                              entry, else the entries of the user's groups that the priority
                              list names, lowest priority first, else Default User. A value
                              the download deletes reads "name"=-
  apply-logon USER [--group NAME]... [--computer NAME]
                              make those changes in the user's user.dat and the machine's
                              SYSTEM.DAT, for a machine that does not download policies
                              itself; prints the entries applied, one a line

ENTRY is user:NAME (an account), user:.default (Default User, for users without an entry),
computer:NAME, computer:.default (Default Computer) or group:NAME; the computer or the group
must have been added. User entries take the templates' user policies, computer entries their
machine policies.

policy on writes the policy's values; parts not named keep their current value, else their
default. PART is the part's name as shown (letter case ignored) and VALUE:
  a check box                 1 or 0
  a text, a number, a combo   the text or the decimal number
  a drop-down list            the name of one of its items
  a list box                  one entry: repeat PART=VALUE for each entry, in order; the
                              entries given replace the list; PART= alone empties it. A
                              list whose values are named takes PART=NAME=VALUE
policy off writes the policy's off values or deletion markers; unset removes everything the
policy wrote from the entry. A value out of range, not one of the items, or missing where the
part requires one is refused and nothing is written.

add-user options (the wizard's answers; without them the account is unrestricted, with
an empty Programs folder and both desktop shortcuts):
  --icon FILE                 the user's icon file, a full Windows path (default: default.ico
                              beside the program)
  --copy-programs USER        copy USER's Start Menu and Programs folder into the new profile
  --share-programs USER       use USER's Start Menu and Programs folder
  --no-desktop-shortcuts      no "NAME's Programs" and "NAME's Favorites" on the desktop
  --hide-drives A,C           hide these drives
  --restrict NAME,...         NoRun NoFind NoSetFolders NoDesktop DisableRegistryTools NoDOS
                              NoRealMode NoConfigure, and RestrictRun (only the allowed
                              programs may run; they get shortcuts in the Programs folder)
  --allow PROGRAM...          allow these programs after the machine's start-up programs: a
                              file name (calc.exe), or the full Windows path of a program or
                              of a shortcut to one (allowed by its file name)

import-users reads comma-separated UTF-8 text whose first line names the columns, in any
order: name (required), icon, group, hide-drives, restrict, allow, copy-programs and
share-programs. A cell takes what add-user's option of that name takes; put a cell holding
commas in double quotes ("A,C"); allow separates its programs by commas. copy-programs and
share-programs name an account or a row above. group names a group of the policy file: it is
checked and printed as NAME<TAB>GROUP, for the logon server's group membership (Windows 95
keeps none in the policy file). Every row is checked first: a fault names the file's line and
column, and nothing is made. Each registry file is written once for the whole list; at most
2,000 rows (split a longer list).

Properties:
  NoRun NoFind NoDesktop NoSetFolders NoSetTaskbar RestrictRun NoPrinterChanges
  DisableRegistryTools NoDispSettingsPage NoSystemPages NoPasswordPages NoNetSetup NoDOS
  NoRealMode NoConfigure (also sets the five Control Panel policies) NoDrives
  ProgramsFolder StartMenuFolder DesktopFolder FavoritesFolder RecentFolder UserIcon
  An empty StartMenuFolder or RecentFolder removes the value; other empty texts are stored.
  NoSetTaskbar can be set but is not shown.

Options:
  --machine DIR   the machine directory (default: $TARNWICK_MACHINE, else
                  $XDG_DATA_HOME/tarnwick/machine); a directory that does not exist is
                  created as a new demo machine
  --image FILE    the machine whose drive C is the disk image FILE (raw or VHD, its first
                  FAT partition), its Windows directory the WinDir= of its MSDOS.SYS; a
                  FILE that does not exist is created as a demo image (256 MB, sparse).
                  Shut the emulator down first: an image in use is refused
  --template FILE a policy template (.adm) to offer beside Tarnwick's own and those in the
                  templates folder $XDG_DATA_HOME/tarnwick/templates
                  (~/.local/share/tarnwick/templates); may be given more than once
  --help          show this help

users, show, activation without an argument, policies, groups and effective change no file.
Arguments are UTF-8 text that code page 1252 can hold, without control characters (line
breaks, tabs).

The tool refuses to run while Tarnwick administers the same machine. Exit status: 0 on
success, 1 on an error (its text on standard error), 2 on a malformed command line.
)";

struct CommandLine {
  bool help = false;
  std::optional<std::filesystem::path> machineDir;
  std::optional<std::filesystem::path> image;
  std::vector<std::filesystem::path> templates;
  std::string command;
  std::vector<std::string> args;
};

CommandLine Parse(int argc, char** argv) {
  // A line break in a name or path would come back as a line of its own in what show prints.
  for (int i = 1; i < argc; ++i) {
    CheckNoControlCharacters(argv[i], "Argument " + std::to_string(i));
  }
  CommandLine line;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      line.help = true;
      return line;
    }
    if (arg == "--machine") {
      if (++i == argc) throw UsageError("--machine needs a directory");
      line.machineDir = argv[i];
    } else if (arg.starts_with("--machine=")) {
      line.machineDir = arg.substr(10);
    } else if (arg == "--image") {
      if (++i == argc) throw UsageError("--image needs a file");
      line.image = argv[i];
    } else if (arg.starts_with("--image=")) {
      line.image = arg.substr(8);
    } else if (arg == "--template") {
      if (++i == argc) throw UsageError("--template needs a file");
      line.templates.emplace_back(argv[i]);
    } else if (arg.starts_with("--template=")) {
      line.templates.emplace_back(arg.substr(11));
    } else if (arg == "--") {
      ++i;
      break;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      throw UsageError("unknown option '" + arg + "'");
    } else {
      break;
    }
  }
  if (line.machineDir && line.image) throw UsageError("give --machine or --image, not both");
  if (i == argc) throw UsageError("no command given");
  line.command = argv[i++];
  for (; i < argc; ++i) {
    // The class list is a file of the host, named as the host names it.
    if (line.command == "import-users") {
      line.args.emplace_back(argv[i]);
      continue;
    }
    const std::optional<std::string> ansi = Utf8ToCp1252(argv[i]);
    if (!ansi) {
      throw Error(std::string("\"") + argv[i] +
                  "\" holds a character that code page 1252 cannot hold");
    }
    line.args.push_back(*ansi);
  }
  CheckCommand(line.command, line.args);
  return line;
}

// The first folder of a new account's profile that does not exist yet (the Profiles folder or a
// lab's home, or the profile itself), held: a failed add-user removes it again with what was
// made in it.
std::optional<HeldPath> NewProfileFolder(const Machine& machine, const CommandLine& line) {
  if (line.command != "add-user") return std::nullopt;
  const std::string profile = ProfileDirectoryFor(machine, line.args[0]);
  const std::string parent = ExtractFilePath(profile);
  for (const std::string& folder : {parent.substr(0, parent.size() - 1), profile}) {
    try {
      HeldPath held = machine.Hold(folder);
      struct stat info {};
      if (!held.dir.Valid()) return std::nullopt;
      if (!StatEntry(held, info))
        return errno == ENOENT ? std::optional(std::move(held)) : std::nullopt;
    } catch (const MachineError&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The folders a failed command made, with what was made in them, last made first.
void RemoveNewFolders(const Machine& machine, const std::vector<std::string>& folders) {
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    try {
      if (machine.Stat(*it)) machine.RemoveTree(*it);
    } catch (const std::exception& e) {
      std::cerr << "tarnwick-policy: " << Cp1252ToUtf8(*it) << " is left behind: " << e.what()
                << '\n';
    }
  }
}

int Fail(const std::string& text) {
  std::cerr << "tarnwick-policy: " << text << '\n';
  return 1;
}

int Run(const CommandLine& line) {
  // Before the machine is opened: a template that cannot be read leaves everything as it was.
  const std::vector<PolicyTemplate> templates =
      UsesTemplates(line.command) ? LoadTemplates(line.templates) : std::vector<PolicyTemplate>();
  const std::filesystem::path dir =
      line.image.value_or(line.machineDir.value_or(Machine::DefaultDirectory()));
  std::error_code error;
  if (!std::filesystem::exists(dir, error)) {
    std::cerr << "tarnwick-policy: creating a new demo "
              << (line.image ? "disk image " : "machine in ") << dir.string() << '\n';
  }
  const Machine machine = line.image ? OpenOrCreateImage(dir) : OpenOrCreateMachine(dir);
  const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine);
  if (!lock) {
    return Fail("Tarnwick is running on the machine in " + machine.Directory().string() +
                "; close it and try again");
  }
  Registry registry(machine);
  PolicyStore store(registry, IsReadingCommand(line.command, line.args) ? PolicyAccess::ReadOnly
                                                                        : PolicyAccess::ReadWrite);
  // The command writes each file it changes once, at its end.
  RegistryWriteBatch batch(registry);
  store.LoadPolicyFile();
  const std::optional<HeldPath> newProfile = NewProfileFolder(machine, line);
  TextAccountShell shell(machine, std::cerr);
  std::ostringstream out;
  std::optional<std::string> failure;
  std::vector<std::string> newFolders;
  // The new files of a profile are flushed to disk together, before the policy file names them.
  DeferredFlushScope flushes(machine);
  try {
    RunCommand(store, templates, line.command, line.args, out, shell, newFolders);
    flushes.Finish();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (!store.UnloadPolicyFile()) {
    const std::string& why = registry.LastWriteError();
    failure = "The policy file " + Cp1252ToUtf8(store.PolicyFilePath()) + " could not be written" +
              (why.empty() ? "" : ": " + why);
  }
  // A command that failed changes no file.
  if (failure) registry.DiscardChanges();
  try {
    batch.Finish();
  } catch (const RegistryFileError& e) {
    if (!failure) failure = std::string("The changes could not be written: ") + e.what();
  }
  if (failure && newProfile) RemoveTree(*newProfile);
  if (failure) RemoveNewFolders(machine, newFolders);
  // All or nothing: a failed command prints no part of its output.
  if (failure) return Fail(*failure);
  std::cout << Cp1252ToUtf8(out.str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A policy file is read into many small allocations and written out again; a heap grown in
  // large steps and never trimmed between them spares the page faults of growing it anew.
  mallopt(M_TOP_PAD, 16 << 20);
  try {
    const CommandLine line = Parse(argc, argv);
    if (line.help) {
      std::cout << kHelp;
      return 0;
    }
    return Run(line);
  } catch (const UsageError& e) {
    std::cerr << "tarnwick-policy: " << e.what() << "\nTry 'tarnwick-policy --help'.\n";
    return 2;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
