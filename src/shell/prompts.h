// Every message box, input box and chooser goes through this interface, so tests answer them
// with a script instead of a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "operations/operation_prompter.h"

class QDialog;
class QWidget;

namespace tarnwick {

class Machine;

enum class MessageKind { Plain, Warning, Information, Confirm, Error };

struct FileChooserRequest {
  QString title;
  std::string filter;         // Windows filter: "Icon files(*.ico)|*.ICO|..."
  std::string initialFolder;  // Windows path
  std::string fileName;       // proposed name
};

struct FolderPickerRequest {
  QString title;
  std::string root;       // Windows path the picker may not leave; empty: all drives
  std::string directory;  // initially selected folder
  bool newFolderButton = false;
  uint32_t flags = 0;  // the shell's browse flags: 0x0001 file-system folders only, ...
};

class Prompter {
 public:
  virtual ~Prompter() = default;

  // A message box of the kind's icon with the given title.
  virtual QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind,
                                              const QString& title, const QString& text,
                                              QMessageBox::StandardButtons buttons) = 0;
  virtual ReplaceAnswer AskReplace(QWidget* owner, const QString& text) = 0;
  // Empty when cancelled.
  virtual std::optional<QString> Input(QWidget* owner, const QString& title, const QString& label,
                                       const QString& text, bool password) = 0;
  // Windows path of an existing file; empty when cancelled.
  virtual std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                                const FileChooserRequest& request) = 0;
  // Windows path of a folder; empty when cancelled.
  virtual std::optional<std::string> ChooseFolder(QWidget* owner, const Machine& machine,
                                                  const FolderPickerRequest& request) = 0;
  // Shows one of the program's own modal forms (password, wizards) and returns its result
  // (QDialog::Accepted, Rejected or a form's own code).
  virtual int RunDialog(QDialog& dialog) = 0;

  // The program's prompter: the real dialogs unless a test installed its own. Every prompt made
  // through it first writes the changes made so far (WritePendingChanges), so that nothing said or
  // asked waits on unwritten changes; when that fails, the prompt is not shown and the failure is
  // thrown, except before an error box, which then names the failure too.
  static Prompter& Current();
  // Installs a prompter (not owned); nullptr restores the real dialogs.
  static void Install(Prompter* prompter);
};

// The title of a kind's boxes: Plain "Tarnwick" (the program's title), Warning "Warning",
// Information "Information", Confirm "Confirm", Error "Tarnwick".
QString MessageTitle(MessageKind kind);

// Writes every change the current action has made so far to its file. Throws RegistryFileError
// when a file cannot be written. Call it before showing that a change is made.
void WritePendingChanges();

// Convenience wrappers over Prompter::Current(); the first takes the kind's title.
QMessageBox::StandardButton ShowMessage(QWidget* owner, MessageKind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
QMessageBox::StandardButton ShowMessage(QWidget* owner, MessageKind kind, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons);
// Inside a catch block: shows the exception being handled as an error, its UTF-8 text, or
// "An unexpected error occurred." for one that carries none.
void ShowCurrentError(QWidget* owner);
// Shows a modal form through the current prompter.
int RunDialog(QDialog& dialog);

}  // namespace tarnwick
