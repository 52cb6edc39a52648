// The end of the session: SIGTERM, SIGHUP or the desktop session ending.
#pragma once

#include <signal.h>

#include <QObject>
#include <QSocketNotifier>
#include <utility>

#include "base/file_io.h"

namespace tarnwick {

// Emits Ending() on the UI thread when the process gets SIGTERM or SIGHUP, or the desktop session
// ends (QGuiApplication::commitDataRequest), so that the main window can close the normal way.
// The signal handlers do nothing but write one byte to a socket that the event loop watches; the
// process is not killed. One object at a time; the destructor restores the handlers that were
// there before and closes the socket. Throws Error when the socket or a handler cannot be set up.
class SessionEnd : public QObject {
  Q_OBJECT

 public:
  explicit SessionEnd(QObject* parent = nullptr);
  ~SessionEnd() override;
  SessionEnd(const SessionEnd&) = delete;
  SessionEnd& operator=(const SessionEnd&) = delete;

 signals:
  void Ending();

 private:
  // The socket's write end, given to the handlers for the object's lifetime.
  class Published {
   public:
    explicit Published(int fd);
    ~Published();
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;
  };

  // Our handler of one signal; the one before it is restored at the end.
  class Handler {
   public:
    explicit Handler(int signal);
    ~Handler();
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

   private:
    int signal_;
    struct sigaction old_ = {};
  };

  SessionEnd(std::pair<UniqueFd, UniqueFd> socket, QObject* parent);
  void TakeSignals();

  UniqueFd watched_;  // read on the UI thread
  UniqueFd written_;  // written by the handlers
  Published published_;
  Handler term_;
  Handler hup_;
  QSocketNotifier notifier_;
};

}  // namespace tarnwick
