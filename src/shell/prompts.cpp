#include "shell/prompts.h"

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

QMessageBox::StandardButton ShowMessage(QWidget* owner, MessageKind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons) {
  return Prompter::Current().Message(owner, kind, text, buttons);
}

}  // namespace tarnwick
