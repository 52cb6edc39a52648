// The prompter of a running program: real modal dialogs.
#pragma once

#include "shell/prompts.h"

namespace tarnwick {

class RealPrompter : public Prompter {
 public:
  QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind, const QString& title,
                                      const QString& text,
                                      QMessageBox::StandardButtons buttons) override;
  ReplaceAnswer AskReplace(QWidget* owner, const QString& text) override;
  std::optional<QString> Input(QWidget* owner, const QString& title, const QString& label,
                               const QString& text, bool password) override;
  std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                        const FileChooserRequest& request) override;
  std::optional<std::string> ChooseFolder(QWidget* owner, const Machine& machine,
                                          const FolderPickerRequest& request) override;
  int RunDialog(QDialog& dialog) override;
};

}  // namespace tarnwick
