#include "controls/session_end.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/error.h"
#include "controls/error_box.h"

namespace tarnwick {

namespace {

// The socket the handlers write to; -1 while no SessionEnd exists.
std::atomic<int> signalSocket{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // When the socket is full, a byte already there wakes the loop: nothing is lost.
  [[maybe_unused]] const ssize_t written = ::write(signalSocket.load(), &byte, 1);
  errno = saved;
}

[[noreturn]] void Fail(const std::string& step) {
  throw Error("Cannot watch for the end of the session: " + step + ": " + std::strerror(errno));
}

std::pair<UniqueFd, UniqueFd> NewSocketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    Fail("socketpair");
  }
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

}  // namespace

SessionEnd::Published::Published(int fd) {
  int none = -1;
  if (!signalSocket.compare_exchange_strong(none, fd)) {
    throw std::logic_error("only one SessionEnd may exist at a time");
  }
}

SessionEnd::Published::~Published() {
  signalSocket.store(-1);
}

SessionEnd::Handler::Handler(int signal) : signal_(signal) {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (::sigaction(signal_, &action, &old_) != 0) Fail(std::string("signal ") + strsignal(signal_));
}

SessionEnd::Handler::~Handler() {
  ::sigaction(signal_, &old_, nullptr);
}

SessionEnd::SessionEnd(QObject* parent) : SessionEnd(NewSocketPair(), parent) {}

SessionEnd::SessionEnd(std::pair<UniqueFd, UniqueFd> socket, QObject* parent)
    : QObject(parent),
      watched_(std::move(socket.first)),
      written_(std::move(socket.second)),
      published_(written_.Get()),
      term_(SIGTERM),
      hup_(SIGHUP),
      notifier_(watched_.Get(), QSocketNotifier::Read) {
  ConnectShowingErrors(&notifier_, &QSocketNotifier::activated, this, &SessionEnd::TakeSignals);
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(app, &QGuiApplication::commitDataRequest, this, &SessionEnd::Ending);
  }
}

SessionEnd::~SessionEnd() = default;

// Signals that came before the loop ran end the session once.
void SessionEnd::TakeSignals() {
  char bytes[64];
  while (::read(watched_.Get(), bytes, sizeof bytes) > 0) {
  }
  emit Ending();
}

}  // namespace tarnwick
