#include "ui/wizards/add_shortcut.h"

#include "base/error.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "shell/shell_links.h"
#include "ui/wizards/create_shortcut.h"
#include "ui/wizards/start_tree.h"

namespace tarnwick {

namespace {

// Warns and gives false when the folder is not an existing directory of the machine.
bool FolderExists(QWidget* owner, const Machine& machine, const std::string& folder) {
  if (ExistingDirectory(machine, folder)) return true;
  ShowMessage(
      owner, MessageKind::Information,
      QStringLiteral("The directory ") + FromAnsi(folder) + QStringLiteral(" does not exist."));
  return false;
}

// The shortcut file of that name in the folder.
std::string LinkFileIn(const std::string& folder, const std::string& name) {
  return AddTrailingBackslash(folder) + name + ".lnk";
}

// Writes the shortcut, named as its description; warns and gives false when it cannot be written.
bool WriteShortcut(QWidget* owner, const Machine& machine, const std::string& target,
                   const std::string& linkFile, const std::string& name) {
  try {
    CreateShellLink(machine, target, linkFile, name, "");
    return true;
  } catch (const Error&) {
    // Reported below in the shell's words.
  }
  ShowMessage(owner, MessageKind::Warning,
              QStringLiteral("The shortcut ") + FromAnsi(linkFile) + QStringLiteral(" to ") +
                  FromAnsi(target) + QStringLiteral(" could not be created."));
  return false;
}

}  // namespace

std::string AddShortcutFromStartMenu(const QString& prompt, const std::string& folder,
                                     QWidget* owner, const TUsers& users) {
  const Machine& machine = users.Store().GetMachine();
  std::string directory = folder;
  if (!directory.empty() && directory.back() == '\\') directory.pop_back();
  if (!FolderExists(owner, machine, directory)) return {};

  std::string path;
  bool makeNew = false;
  {
    TfrmStartTree dialog(owner, users);
    dialog.SetPrompt(prompt);
    const int result = RunDialog(dialog);
    makeNew = result == TfrmStartTree::kBrowseResult;
    if (result == QDialog::Accepted) path = dialog.SelectedPath();
  }
  if (makeNew) return CreateShortcutWithWizard(users.Store(), directory, owner);
  if (path.empty()) return {};
  if (!ExistingFile(machine, path)) {
    ShowMessage(owner, MessageKind::Information,
                QStringLiteral("The file ") + FromAnsi(path) + QStringLiteral(" cannot be found."));
    return {};
  }

  // The picked file is the target as it is: a shortcut is linked, not resolved.
  const std::string name = ShortcutNameFromPath(path);
  std::string linkFile = LinkFileIn(directory, name);
  if (!WriteShortcut(owner, machine, path, linkFile, name)) return {};
  return linkFile;
}

std::string CreateShortcutWithWizard(const PolicyStore& store, const std::string& folder,
                                     QWidget* owner) {
  const Machine& machine = store.GetMachine();
  if (!FolderExists(owner, machine, folder)) return {};

  std::string target;
  std::string name;
  {
    TfrmCreateShortcut wizard(owner, store);
    if (RunDialog(wizard) != QDialog::Accepted) return {};
    target = wizard.CommandLine();
    name = wizard.ShortcutName();
  }
  std::string linkFile = LinkFileIn(folder, name);
  if (!WriteShortcut(owner, machine, target, linkFile, name)) return {};
  return linkFile;
}

}  // namespace tarnwick
