#include "shell/error_box.h"

#include "registry/registry.h"
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

void TarnwickApplication::WritePending() {
  if (registry_ != nullptr) registry_->WritePending();
}

bool TarnwickApplication::notify(QObject* receiver, QEvent* event) {
  const auto deliver = [&] { return QApplication::notify(receiver, event); };
  if (registry_ == nullptr) return DeliverShowingErrors(deliver);
  RegistryWriteBatch batch(*registry_);
  const bool handled = DeliverShowingErrors(deliver);
  // Inside another delivery this only leaves the batch; the outermost one writes.
  DeliverShowingErrors([&] {
    batch.Finish();
    return true;
  });
  return handled;
}

}  // namespace tarnwick
