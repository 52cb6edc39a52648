// One copy of the program per machine. The first copy holds the machine's lock and a local
// server; a later copy asks it to bring its window forward and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "machine/machine.h"

namespace tarnwick {

class TInstanceDetector : public QObject {
  Q_OBJECT

 public:
  // Detection, once at program start before any window exists. Throws MachineError when the
  // machine's lock cannot be taken at all (an unwritable directory, a broken lock file).
  explicit TInstanceDetector(const Machine& machine);
  ~TInstanceDetector() override;

  // The program's file name less its extension ".EXE" in any letter case ("TARNEX"); empty for
  // another extension.
  const std::string& WindowTitle() const { return windowTitle_; }
  bool PreviousInstanceFound() const { return previousInstanceFound_; }
  // The local server's name: the program's file name and the machine.
  const QString& ServerName() const { return serverName_; }

  // First copy: the window brought forward when a later copy starts. A modal window such as
  // the password prompt comes forward in its place while it is open.
  void SetWindow(QWidget* window) { window_ = window; }
  // Second copy: asks the first copy to bring its window forward; false when it could not be
  // reached.
  bool ActivatePrevious() const;

 signals:
  void Activated();

 private:
  void Listen();
  void Activate();

  std::string windowTitle_;
  bool previousInstanceFound_ = false;
  QString serverName_;
  std::optional<MachineLock> lock_;
  std::unique_ptr<QLocalServer> server_;
  QPointer<QWidget> window_;
};

// Placed on the main window. In the first copy the main window comes forward whenever a later
// copy starts; in a later copy construction brings the first copy's window forward, and the
// program then ends with exit code 0 before it shows anything.
class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  TSingleInstance(TInstanceDetector& detector, QWidget* mainWindow);

  // A later copy: the first copy was asked to come forward and this copy is to end.
  bool EndsThisCopy() const { return endsThisCopy_; }

  QString About;

 private:
  bool endsThisCopy_ = false;
};

}  // namespace tarnwick
