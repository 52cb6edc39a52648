#include "controls/error_box.h"

#include "registry/registry.h"
#include "shell/prompts.h"

namespace tarnwick {

bool ShowingErrors(const std::function<void()>& work, QWidget* owner) {
  try {
    work();
    return true;
  } catch (...) {
    ShowCurrentError(owner != nullptr ? owner : QApplication::activeWindow());
  }
  return false;
}

void TarnwickApplication::WritePending() {
  if (registry_ != nullptr) registry_->WritePending();
}

bool TarnwickApplication::notify(QObject* receiver, QEvent* event) {
  if (registry_ == nullptr) return QApplication::notify(receiver, event);
  RegistryWriteBatch batch(*registry_);
  const bool handled = QApplication::notify(receiver, event);
  // Inside another delivery this only leaves the batch; the outermost one writes.
  ShowingErrors([&] { batch.Finish(); });
  return handled;
}

}  // namespace tarnwick
