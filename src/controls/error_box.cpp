#include "controls/error_box.h"

#include <QThread>
#include <algorithm>
#include <utility>

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
  // A delivery from a loop deeper than the current action's (a modal form's) is an action too.
  const int level = QThread::currentThread()->loopLevel();
  const int outerLevel = std::exchange(actionLoopLevel_, std::max(actionLoopLevel_, level));
  const bool ownAction = outerLevel >= 0 && level > outerLevel;
  RegistryWriteBatch batch(*registry_);
  const bool handled = DeliverShowingErrors(deliver);
  // Inside another delivery this only leaves the batch; the outermost one writes.
  DeliverShowingErrors([&] {
    batch.Finish();
    if (ownAction) registry_->WritePending();
    return true;
  });
  actionLoopLevel_ = outerLevel;
  return handled;
}

}  // namespace tarnwick
