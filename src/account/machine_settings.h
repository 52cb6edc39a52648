// What an account takes from the machine's own registry and disk: the shell folders, the
// start-up programs of the Run key and the Program Files folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class Machine;
class Registry;

struct ShellFolders {
  std::string programs, startMenu, desktop, favorites, recent;
};

// The current Windows user's folders (HKEY_CURRENT_USER's Shell Folders), each trimmed of blanks
// and control characters; absent ones empty.
ShellFolders CurrentUserShellFolders(Registry& registry);

// The default user's Programs folder (HKEY_USERS\.default's Shell Folders), as stored.
std::string DefaultProgramsFolder(Registry& registry);

// The file name of the program a command line starts, as Windows reads it: a quoted path, else
// the first word; an unquoted path with blanks counts when it names an existing file, the
// shortest such prefix first, as CreateProcess tries them. A name without extension gets ".exe".
std::string ProgramOfCommandLine(const Machine& machine, std::string_view commandLine);

// The file names of the machine's start-up programs (HKEY_LOCAL_MACHINE's Run key), last value
// first, without the tray companion, which every account is allowed anyway.
std::vector<std::string> StartupPrograms(Registry& registry);

// "ProgramFilesDir" of the machine when it names an existing folder; else empty. Throws the
// registry's error for a value that is not text.
std::string ProgramFilesFolder(Registry& registry);

}  // namespace tarnwick
