// Adding a shortcut to a folder of a user: one picked from a Programs folder, or a new one
// described in the create-shortcut wizard.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace tarnwick {

class PolicyStore;
class TUsers;

// Shows TfrmStartTree with the prompt; the picked file (a shortcut too) is linked into folder
// unchanged, and "&New Shortcut" runs CreateShortcutWithWizard. The Windows path of the .lnk
// made, or empty when none was.
std::string AddShortcutFromStartMenu(const QString& prompt, const std::string& folder,
                                     QWidget* owner, const TUsers& users);

// Runs TfrmCreateShortcut and writes the shortcut it describes into folder. The Windows path of
// the .lnk, or empty when cancelled, the folder does not exist or the shortcut could not be
// written, which a warning says.
std::string CreateShortcutWithWizard(const PolicyStore& store, const std::string& folder,
                                     QWidget* owner);

}  // namespace tarnwick
