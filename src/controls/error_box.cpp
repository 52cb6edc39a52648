#include "controls/error_box.h"

#include "shell/prompts.h"

namespace tarnwick {

bool DeliverShowingErrors(const std::function<bool()>& deliver) {
  try {
    return deliver();
  } catch (...) {
    ShowCurrentError(QApplication::activeWindow());
  }
  return false;
}

bool TarnwickApplication::notify(QObject* receiver, QEvent* event) {
  return DeliverShowingErrors([&] { return QApplication::notify(receiver, event); });
}

}  // namespace tarnwick
