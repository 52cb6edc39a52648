// Choosing a program a user may run: a shortcut picked from a Programs folder, or a program file
// found on the machine's drives.
#pragma once

#include <optional>
#include <string>

class QWidget;

namespace tarnwick {

class TUsers;

struct AllowedApplicationChoice {
  std::string fileName;       // the program's file name, e.g. NOTEPAD.EXE
  std::string path;           // its full Windows path
  bool makeShortcut = false;  // Yes to a shortcut in the user's Programs folder
};

// Shows TfrmStartTree over the machine's default Programs folder and the users' Programs
// folders; "&Browse Computer" opens the file chooser instead. A picked .lnk is resolved to its
// program's 8.3 path. Empty when nothing was chosen, or when a shortcut cannot be resolved,
// which a warning says.
std::optional<AllowedApplicationChoice> ChooseAllowedApplication(QWidget* owner,
                                                                 const TUsers& users);

}  // namespace tarnwick
