#include "controls/real_prompter.h"

#include <QDialog>
#include <QInputDialog>
#include <QPushButton>

#include "controls/file_chooser.h"
#include "controls/folder_browse.h"

namespace tarnwick {

namespace {

QMessageBox::Icon IconOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return QMessageBox::Warning;
    case MessageKind::Information:
      return QMessageBox::Information;
    case MessageKind::Confirm:
      return QMessageBox::Question;
    case MessageKind::Error:
      return QMessageBox::Critical;
    case MessageKind::Plain:
      break;
  }
  return QMessageBox::NoIcon;
}

// The text with a line-break opportunity after each path separator, so that a long path wraps
// within the box instead of widening it.
QString BreakablePaths(const QString& text) {
  QString result;
  result.reserve(text.size() + text.size() / 8);
  for (const QChar c : text) {
    result += c;
    if (c == u'\\' || c == u'/') result += QChar(0x200B);  // zero-width space
  }
  return result;
}

}  // namespace

QMessageBox::StandardButton RealPrompter::Message(QWidget* owner, MessageKind kind,
                                                  const QString& title, const QString& text,
                                                  QMessageBox::StandardButtons buttons) {
  QMessageBox box(IconOf(kind), title, BreakablePaths(text), buttons, owner);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

ReplaceAnswer RealPrompter::AskReplace(QWidget* owner, const QString& text) {
  QMessageBox box(
      QMessageBox::Question, QStringLiteral("Confirm File Replace"), BreakablePaths(text),
      QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::Cancel, owner);
  box.button(QMessageBox::YesToAll)->setText(QStringLiteral("Yes to &All"));
  switch (box.exec()) {
    case QMessageBox::Yes:
      return ReplaceAnswer::Yes;
    case QMessageBox::YesToAll:
      return ReplaceAnswer::YesToAll;
    case QMessageBox::No:
      return ReplaceAnswer::No;
    default:
      return ReplaceAnswer::Cancel;
  }
}

std::optional<QString> RealPrompter::Input(QWidget* owner, const QString& title,
                                           const QString& label, const QString& text,
                                           bool password) {
  bool ok = false;
  QString result = QInputDialog::getText(
      owner, title, label, password ? QLineEdit::Password : QLineEdit::Normal, text, &ok);
  if (!ok) return std::nullopt;
  return result;
}

std::optional<std::string> RealPrompter::ChooseFile(QWidget* owner, const Machine& machine,
                                                    const FileChooserRequest& request) {
  FileChooserDialog dialog(machine, request, owner);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}

std::optional<std::string> RealPrompter::ChooseFolder(QWidget* owner, const Machine& machine,
                                                      const FolderPickerRequest& request) {
  FolderBrowseDialog dialog(machine, request, owner);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}

int RealPrompter::RunDialog(QDialog& dialog) {
  return dialog.exec();
}

}  // namespace tarnwick
