// Making a new account from the new-user wizard's answers: the user's policies, folders and
// shortcuts.
#pragma once

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace tarnwick {

class Machine;
class TUsers;

// A program added with Add Program: where it is and whether it gets a shortcut.
struct TAllowedApp {
  std::string AppPath;
  bool MakeShortcut = false;
};

// One entry of the wizard's allowed-application list; those taken from the machine's start-up
// programs carry no TAllowedApp.
struct AllowedAppEntry {
  std::string text;
  std::optional<TAllowedApp> app;
};

enum class ProgramFolderChoice { Empty, Copy, Share };

// The wizard's answers, Windows text in code page 1252.
struct NewUserAnswers {
  std::string name;      // txtName as typed
  std::string iconFile;  // the icon last chosen on the icon page
  bool noRun = false;
  bool noFind = false;
  bool noSettings = false;
  bool noDesktop = false;
  bool noRegEdit = false;
  bool noDOS = false;
  bool noSDOM = false;
  bool restrictSystem = false;
  std::vector<std::string> hiddenDrives;  // texts of the selected drive-list entries
  bool runListed = false;
  std::vector<AllowedAppEntry> apps;
  ProgramFolderChoice folderChoice = ProgramFolderChoice::Copy;
  std::optional<std::string> sourceUser;  // the caption selected in the user list
  bool createShortcut = true;
};

// Finish: adds the user named by the trimmed name and writes everything the answers ask for,
// the hourglass shown; messages and the shell's tree copies are owned by owner. An empty name
// only shows "You must enter a name for the user". An error of AddUser (a taken name) is thrown
// before anything is made; later failures are thrown with what was written left in place.
// What could not be done (a chosen icon file that has gone, a desktop shortcut that cannot be
// written) is said in one warning at the end. Returns the icon file the wizard keeps as its
// choice: trimmed, default.ico beside the program when empty or gone, empty when no such file
// exists (the answers' own text when the name is empty).
std::string CreateNewUser(const NewUserAnswers& answers, TUsers& users, QWidget* owner);

// Makes folder + name + ".lnk" for every entry added with Add Program and answered Yes, in list
// order: the program's path with its first letter in upper case, described by its file name
// without extension. An entry without any path ends the loop; so does an error, silently, the
// shortcuts made so far staying. A shortcut that cannot be written is passed over.
void CreateAllowedAppShortcuts(const Machine& machine, const std::vector<AllowedAppEntry>& apps,
                               const std::string& folder);

}  // namespace tarnwick
