// A prompter that answers from a script and records every prompt, for tests and unattended runs.
#pragma once

#include <deque>
#include <variant>
#include <vector>

#include "shell/prompts.h"

namespace tarnwick {

struct PromptRecord {
  enum class Type { Message, Replace, Input, File, Folder, Dialog } type;
  MessageKind kind = MessageKind::Plain;
  QString text;  // message text, replace question, input label, chooser title or form name
  QMessageBox::StandardButtons buttons;
  QString title;  // a message box's title
};

class ScriptedPrompter : public Prompter {
 public:
  // Answers a modal form in place of its user: fills its fields, returns its result.
  using DialogScript = std::function<int(QDialog&)>;
  using Answer = std::variant<QMessageBox::StandardButton, ReplaceAnswer, std::optional<QString>,
                              std::optional<std::string>, DialogScript>;

  // Answers are taken in order. A prompt without a scripted answer gets its default: the first
  // of Ok, Yes, No, Cancel among its buttons; Cancel for replace; cancelled for the others.
  void Queue(Answer answer) { answers_.push_back(std::move(answer)); }
  const std::vector<PromptRecord>& Records() const { return records_; }
  void ClearRecords() { records_.clear(); }

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

 private:
  template <typename T>
  std::optional<T> Next();

  std::deque<Answer> answers_;
  std::vector<PromptRecord> records_;
};

}  // namespace tarnwick
