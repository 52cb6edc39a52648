#include "controls/error_box.h"

#include <exception>

#include "shell/ansi_qstring.h"
#include "shell/prompts.h"

namespace tarnwick {

bool DeliverShowingErrors(const std::function<bool()>& deliver) {
  QString text;
  try {
    return deliver();
  } catch (const std::exception& error) {
    text = FromAnsi(error.what());
  } catch (...) {
    text = QStringLiteral("An unexpected error occurred.");
  }
  ShowMessage(QApplication::activeWindow(), MessageKind::Error, text);
  return false;
}

bool TarnwickApplication::notify(QObject* receiver, QEvent* event) {
  return DeliverShowingErrors([&] { return QApplication::notify(receiver, event); });
}

}  // namespace tarnwick
