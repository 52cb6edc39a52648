#include "shell/scripted_prompter.h"

#include <QDialog>

namespace tarnwick {

template <typename T>
std::optional<T> ScriptedPrompter::Next() {
  if (answers_.empty()) return std::nullopt;
  Answer answer = std::move(answers_.front());
  answers_.pop_front();
  if (auto* value = std::get_if<T>(&answer)) return std::move(*value);
  return std::nullopt;
}

QMessageBox::StandardButton ScriptedPrompter::Message(QWidget*, MessageKind kind,
                                                      const QString& title, const QString& text,
                                                      QMessageBox::StandardButtons buttons) {
  records_.push_back({PromptRecord::Type::Message, kind, text, buttons, title});
  if (auto answer = Next<QMessageBox::StandardButton>()) return *answer;
  for (auto button : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
    if (buttons.testFlag(button)) return button;
  }
  return QMessageBox::NoButton;
}

ReplaceAnswer ScriptedPrompter::AskReplace(QWidget*, const QString& text) {
  records_.push_back({PromptRecord::Type::Replace, MessageKind::Confirm, text, {}, {}});
  return Next<ReplaceAnswer>().value_or(ReplaceAnswer::Cancel);
}

std::optional<QString> ScriptedPrompter::Input(QWidget*, const QString&, const QString& label,
                                               const QString&, bool) {
  records_.push_back({PromptRecord::Type::Input, MessageKind::Plain, label, {}, {}});
  return Next<std::optional<QString>>().value_or(std::nullopt);
}

std::optional<std::string> ScriptedPrompter::ChooseFile(QWidget*, const Machine&,
                                                        const FileChooserRequest& request) {
  records_.push_back({PromptRecord::Type::File, MessageKind::Plain, request.title, {}, {}});
  return Next<std::optional<std::string>>().value_or(std::nullopt);
}

std::optional<std::string> ScriptedPrompter::ChooseFolder(QWidget*, const Machine&,
                                                          const FolderPickerRequest& request) {
  records_.push_back({PromptRecord::Type::Folder, MessageKind::Plain, request.title, {}, {}});
  return Next<std::optional<std::string>>().value_or(std::nullopt);
}

int ScriptedPrompter::RunDialog(QDialog& dialog) {
  records_.push_back({PromptRecord::Type::Dialog, MessageKind::Plain, dialog.objectName(), {}, {}});
  if (auto script = Next<DialogScript>()) return (*script)(dialog);
  return QDialog::Rejected;
}

}  // namespace tarnwick
