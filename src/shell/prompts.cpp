#include "shell/prompts.h"

#include <exception>

#include "controls/real_prompter.h"

namespace tarnwick {

namespace {

Prompter* installed = nullptr;

}  // namespace

Prompter& Prompter::Current() {
  if (installed != nullptr) return *installed;
  static RealPrompter real;
  return real;
}

void Prompter::Install(Prompter* prompter) {
  installed = prompter;
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
