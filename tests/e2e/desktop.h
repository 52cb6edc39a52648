// End-to-end helpers: an X server of its own, the built program started on it, and real key
// presses and clicks sent with xdotool (XTest), as a person at the keyboard makes them.
#pragma once

#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

namespace tarnwick::test {

using namespace std::chrono_literals;

// A virtual X server (Xvfb) for the lifetime of the object. Given a directory, it keeps its
// screen there as the XWD file Xvfb_screen0.
class XServer {
 public:
  explicit XServer(const std::filesystem::path& screenDir = {});
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool Running() const { return !display_.isEmpty(); }
  const QString& Display() const { return display_; }

  // Runs xdotool with the arguments on this display; its output, trimmed.
  QString Xdo(const QStringList& arguments) const;
  // The newest visible window whose title is exactly title, waiting up to timeout.
  std::optional<QString> WaitForWindow(const QString& title,
                                       std::chrono::milliseconds timeout = 15s) const;
  // Waits up to timeout until the window is no longer shown; false when it still is.
  bool WaitUntilGone(const QString& window, std::chrono::milliseconds timeout = 5s) const;
  // Visible top-level windows whose title is exactly title.
  QStringList Windows(const QString& title) const;
  // Gives a window the keyboard focus and types into it: text, then named keys ("Return").
  void Type(const QString& window, const QString& text) const;
  void Keys(const QString& window, const QStringList& keys) const;
  // The height of the window's inside; a left click at a point of it.
  int Height(const QString& window) const;
  void Click(const QString& window, QPoint at) const;

 private:
  QProcess server_;
  QString display_;
};

// The built tarnwick on a machine directory, on the given X server.
class ProgramUnderTest {
 public:
  // option: --machine for a machine directory, --image for a disk image; more: further
  // arguments.
  ProgramUnderTest(const XServer& x, const std::filesystem::path& machine,
                   const QString& option = QStringLiteral("--machine"),
                   const QStringList& more = {});
  ~ProgramUnderTest();
  ProgramUnderTest(const ProgramUnderTest&) = delete;
  ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;

  // The exit status once it ended within timeout; empty when it still runs or crashed.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 15s);
  void Terminate() { process_.terminate(); }  // SIGTERM
  void Kill() { process_.kill(); }            // SIGKILL
  QString Output() { return QString::fromLocal8Bit(process_.readAllStandardError()); }

 private:
  QProcess process_;
};

}  // namespace tarnwick::test
