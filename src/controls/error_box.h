// The program's error box: an exception that no handler catches is shown (title "Tarnwick",
// the exception's text) and the program goes on.
#pragma once

#include <QApplication>
#include <functional>

namespace tarnwick {

// Runs one event delivery; an exception escaping it is shown in the error box, and the
// delivery counts as not handled.
bool DeliverShowingErrors(const std::function<bool()>& deliver);

// The program's application object: every event goes through DeliverShowingErrors.
class TarnwickApplication : public QApplication {
  Q_OBJECT

 public:
  TarnwickApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tarnwick
