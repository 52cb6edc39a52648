#include "shell/single_instance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

#include "base/text.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

constexpr QByteArrayView kActivate = "activate\n";
constexpr int kConnectMilliseconds = 3000;

QString ServerNameOf(const std::string& fileName, const Machine& machine) {
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray::fromStdString(machine.Directory().string()),
                               QCryptographicHash::Sha256)
          .toHex()
          .left(16);
  return QStringLiteral("tarnwick-%1-%2-%3")
      .arg(QString::number(::getuid()), QString::fromLatin1(fileName), QString::fromLatin1(hash));
}

}  // namespace

TInstanceDetector::TInstanceDetector(const Machine& machine) {
  const std::string fileName = ExtractFileName(machine.ProgramPath());
  if (EqualsIgnoreCase(ExtractFileExt(fileName), ".EXE")) {
    windowTitle_ = fileName.substr(0, fileName.size() - 4);
  }
  serverName_ = ServerNameOf(fileName, machine);
  try {
    lock_ = MachineLock::TryAcquire(machine);
  } catch (const MachineError& e) {
    throw MachineError("The machine in " + machine.Directory().string() +
                       " cannot be locked against a second copy of Tarnwick: " + e.what());
  }
  previousInstanceFound_ = !lock_.has_value();
  if (lock_) Listen();
}

TInstanceDetector::~TInstanceDetector() = default;

void TInstanceDetector::Listen() {
  // Only the holder of the lock listens, so a name left by a crashed copy can go.
  QLocalServer::removeServer(serverName_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;
        if (socket->readLine() == kActivate.toByteArray()) Activate();
        socket->disconnectFromServer();
      });
    }
  });
  server_->listen(serverName_);
}

void TInstanceDetector::Activate() {
  QWidget* target = QApplication::activeModalWidget();
  if (target == nullptr) target = window_;
  if (target != nullptr) {
    if (target->isMinimized()) {
      target->showNormal();
    } else {
      target->raise();
    }
    target->activateWindow();
  }
  emit Activated();
}

bool TInstanceDetector::ActivatePrevious() const {
  // The first copy may hold the lock an instant before it listens.
  const QDeadlineTimer deadline(kConnectMilliseconds);
  QLocalSocket socket;
  for (;;) {
    socket.connectToServer(serverName_);
    if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) break;
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  socket.write(kActivate.data(), kActivate.size());
  const bool sent = socket.waitForBytesWritten(kConnectMilliseconds);
  socket.waitForDisconnected(kConnectMilliseconds);
  return sent;
}

TSingleInstance::TSingleInstance(TInstanceDetector& detector, QWidget* mainWindow)
    : QObject(mainWindow) {
  if (!detector.PreviousInstanceFound()) {
    detector.SetWindow(mainWindow);
    return;
  }
  detector.ActivatePrevious();
  endsThisCopy_ = true;
}

}  // namespace tarnwick
