// The program's error box: an exception that no handler catches is shown (title "Tarnwick",
// the exception's text) and the program goes on.
#pragma once

#include <QApplication>
#include <functional>

namespace tarnwick {

class Registry;

// Runs one event delivery; an exception escaping it is shown in the error box, and the
// delivery counts as not handled.
bool DeliverShowingErrors(const std::function<bool()>& deliver);

// The program's application object: every event goes through DeliverShowingErrors. With a
// registry set, each event delivered is one action: its registry writes are gathered in one write
// batch, and each changed file is written once when the delivery returns, before the next event;
// a file that cannot be written is shown in the error box. Deliveries nested in it (the loop of a
// modal form) join its batch; every prompt writes what the batch holds so far before it is shown.
class TarnwickApplication : public QApplication {
  Q_OBJECT

 public:
  TarnwickApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // Null for none. The registry must outlive every delivery begun while it is set.
  void SetRegistry(Registry* registry) { registry_ = registry; }

  // Writes the changes the current action has made so far (Registry::WritePending).
  void WritePending();

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  Registry* registry_ = nullptr;
};

}  // namespace tarnwick
