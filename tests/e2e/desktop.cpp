#include "e2e/desktop.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

namespace tarnwick::test {

namespace {

constexpr int kStartMs = 10000;

QProcessEnvironment DisplayEnvironment(const QString& display) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));
  env.insert(QStringLiteral("DISPLAY"), display);
  return env;
}

}  // namespace

XServer::XServer(const std::filesystem::path& screenDir) {
  // -displayfd prints the number of a free display once the server accepts clients.
  QStringList arguments = {QStringLiteral("-displayfd"),  QStringLiteral("1"),
                           QStringLiteral("-screen"),     QStringLiteral("0"),
                           QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp")};
  if (!screenDir.empty()) {
    arguments << QStringLiteral("-fbdir") << QString::fromStdString(screenDir.string());
  }
  server_.start(QStringLiteral("Xvfb"), arguments);
  if (!server_.waitForStarted(kStartMs)) return;
  while (!server_.canReadLine() && server_.waitForReadyRead(kStartMs)) {
  }
  const QString number = QString::fromLatin1(server_.readLine()).trimmed();
  if (!number.isEmpty()) display_ = QLatin1Char(':') + number;
}

XServer::~XServer() {
  server_.terminate();
  server_.waitForFinished(kStartMs);
}

QString XServer::Xdo(const QStringList& arguments) const {
  QProcess xdo;
  xdo.setProcessEnvironment(DisplayEnvironment(display_));
  xdo.start(QStringLiteral("xdotool"), arguments);
  xdo.waitForFinished(kStartMs);
  return QString::fromLocal8Bit(xdo.readAllStandardOutput()).trimmed();
}

QStringList XServer::Windows(const QString& title) const {
  const QString ids =
      Xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
           QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')});
  return ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::optional<QString> XServer::WaitForWindow(const QString& title,
                                              std::chrono::milliseconds timeout) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  do {
    const QStringList ids = Windows(title);
    if (!ids.isEmpty()) {
      // Let the window finish drawing and take its focus before keys arrive.
      QThread::msleep(300);
      return ids.back();
    }
    QThread::msleep(100);
  } while (std::chrono::steady_clock::now() < end);
  return std::nullopt;
}

bool XServer::WaitUntilGone(const QString& window, std::chrono::milliseconds timeout) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  do {
    const QString visible = Xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--name"), QStringLiteral(".")});
    if (!visible.split(QLatin1Char('\n')).contains(window)) return true;
    QThread::msleep(100);
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

void XServer::Type(const QString& window, const QString& text) const {
  Xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
  Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

void XServer::Keys(const QString& window, const QStringList& keys) const {
  Xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
  for (const QString& key : keys) {
    Xdo({QStringLiteral("key"), key});
    QThread::msleep(150);
  }
}

int XServer::Height(const QString& window) const {
  const QString shell =
      Xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
  const QRegularExpressionMatch match =
      QRegularExpression(QStringLiteral("HEIGHT=(\\d+)")).match(shell);
  return match.hasMatch() ? match.captured(1).toInt() : 0;
}

void XServer::Click(const QString& window, QPoint at) const {
  Xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("--window"), window,
       QString::number(at.x()), QString::number(at.y())});
  Xdo({QStringLiteral("click"), QStringLiteral("1")});
}

ProgramUnderTest::ProgramUnderTest(const XServer& x, const std::filesystem::path& machine,
                                   const QString& option, const QStringList& more) {
  QProcessEnvironment env = DisplayEnvironment(x.Display());
  // The sanitizers' leak check would turn libraries' own leaks into a failed exit status.
  env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
  process_.setProcessEnvironment(env);
  process_.start(QStringLiteral(TARNWICK_PROGRAM),
                 QStringList{option, QString::fromStdString(machine.string())} + more);
  process_.waitForStarted(kStartMs);
}

ProgramUnderTest::~ProgramUnderTest() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(kStartMs);
  }
}

std::optional<int> ProgramUnderTest::WaitForExit(std::chrono::milliseconds timeout) {
  if (!process_.waitForFinished(static_cast<int>(timeout.count())) &&
      process_.state() != QProcess::NotRunning) {
    return std::nullopt;
  }
  if (process_.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return process_.exitCode();
}

}  // namespace tarnwick::test
