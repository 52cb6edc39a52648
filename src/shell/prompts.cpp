#include "shell/prompts.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "shell/error_box.h"

namespace tarnwick {

namespace {

Prompter* installed = nullptr;

Prompter& Installed() {
  if (installed == nullptr) throw std::logic_error("No prompter is installed.");
  return *installed;
}

// Writes what is pending before it hands each prompt to the installed prompter.
class WritingFirst final : public Prompter {
 public:
  QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind, const QString& title,
                                      const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    if (kind != MessageKind::Error) {
      WritePendingChanges();
      return Installed().Message(owner, kind, title, text, buttons);
    }
    // An error box is shown in any case; a write failing now is part of what it reports.
    QString shown = text;
    try {
      WritePendingChanges();
    } catch (const std::exception& error) {
      const QString failure = QString::fromStdString(error.what());
      if (!shown.contains(failure)) shown += QStringLiteral("\n\n") + failure;
    }
    return Installed().Message(owner, kind, title, shown, buttons);
  }
  ReplaceAnswer AskReplace(QWidget* owner, const QString& text) override {
    WritePendingChanges();
    return Installed().AskReplace(owner, text);
  }
  std::optional<QString> Input(QWidget* owner, const QString& title, const QString& label,
                               const QString& text, bool password) override {
    WritePendingChanges();
    return Installed().Input(owner, title, label, text, password);
  }
  std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                        const FileChooserRequest& request) override {
    WritePendingChanges();
    return Installed().ChooseFile(owner, machine, request);
  }
  std::optional<std::string> ChooseFolder(QWidget* owner, const Machine& machine,
                                          const FolderPickerRequest& request) override {
    WritePendingChanges();
    return Installed().ChooseFolder(owner, machine, request);
  }
  int RunDialog(QDialog& dialog) override {
    WritePendingChanges();
    return Installed().RunDialog(dialog);
  }
};

}  // namespace

Prompter& Prompter::Current() {
  static WritingFirst writingFirst;
  return writingFirst;
}

Prompter* Prompter::Install(Prompter* prompter) {
  return std::exchange(installed, prompter);
}

void WritePendingChanges() {
  if (auto* app = qobject_cast<TarnwickApplication*>(QCoreApplication::instance())) {
    app->WritePending();
  }
}

QString MessageTitle(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return QStringLiteral("Warning");
    case MessageKind::Information:
      return QStringLiteral("Information");
    case MessageKind::Confirm:
      return QStringLiteral("Confirm");
    case MessageKind::Plain:
    case MessageKind::Error:
      break;
  }
  return QStringLiteral("Tarnwick");
}

QMessageBox::StandardButton ShowMessage(QWidget* owner, MessageKind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons) {
  return Prompter::Current().Message(owner, kind, MessageTitle(kind), text, buttons);
}

QMessageBox::StandardButton ShowMessage(QWidget* owner, MessageKind kind, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons) {
  return Prompter::Current().Message(owner, kind, title, text, buttons);
}

void ShowCurrentError(QWidget* owner) {
  QString text;
  try {
    throw;
  } catch (const std::exception& error) {
    text = QString::fromStdString(error.what());
  } catch (...) {
    text = QStringLiteral("An unexpected error occurred.");
  }
  ShowMessage(owner, MessageKind::Error, text);
}

int RunDialog(QDialog& dialog) {
  return Prompter::Current().RunDialog(dialog);
}

}  // namespace tarnwick
