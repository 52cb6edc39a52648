#include "ui/wizards/choose_allowed_application.h"

#include <QMessageBox>

#include "account/allowed_program.h"
#include "account/machine_settings.h"
#include "machine/machine.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/prompts.h"
#include "ui/wizards/program_files.h"
#include "ui/wizards/start_tree.h"

namespace tarnwick {

namespace {

// The picked file's path; empty when cancelled. browse is set when the tree dialog asked for the
// file chooser instead.
std::string PickFromStartTree(QWidget* owner, const TUsers& users, bool& browse) {
  TfrmStartTree dialog(owner, users);
  dialog.SetPrompt(QStringLiteral(
      "Select a shortcut to an application that you want the user to be allowed to run"));
  dialog.SetBrowseText(QStringLiteral("&Browse Computer"));
  dialog.setWindowTitle(QStringLiteral("Add Allowed Application"));
  const int result = RunDialog(dialog);
  browse = result == TfrmStartTree::kBrowseResult;
  return result == QDialog::Accepted ? dialog.SelectedPath() : std::string();
}

std::string BrowseForProgram(QWidget* owner, const PolicyStore& store) {
  const FileChooserRequest request{QStringLiteral("Open"), std::string(kApplicationFilter),
                                   ProgramFilesFolder(store.GetRegistry()), ""};
  return Prompter::Current().ChooseFile(owner, store.GetMachine(), request).value_or(std::string());
}

}  // namespace

std::optional<AllowedApplicationChoice> ChooseAllowedApplication(QWidget* owner,
                                                                 const TUsers& users) {
  const Machine& machine = users.Store().GetMachine();
  bool browse = false;
  std::string path = PickFromStartTree(owner, users, browse);
  if (browse) path = BrowseForProgram(owner, users.Store());
  if (path.empty()) return std::nullopt;

  const std::optional<AllowedProgram> program = AllowedProgramOf(machine, path);
  if (!program) {
    ShowMessage(owner, MessageKind::Warning,
                QStringLiteral("The shortcut ") + FromAnsi(path) +
                    QStringLiteral(" is damaged or its target cannot be found, so no program "
                                   "was added."));
    return std::nullopt;
  }

  AllowedApplicationChoice choice;
  choice.fileName = program->fileName;
  choice.path = program->path;
  choice.makeShortcut =
      ShowMessage(owner, MessageKind::Confirm,
                  QStringLiteral("Do you want to create a shortcut to this application in the "
                                 "user's program folder?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) == QMessageBox::Yes;
  return choice;
}

}  // namespace tarnwick
