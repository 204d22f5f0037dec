#include "ui/app/SingleInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QStandardPaths>
#include <QTimer>

#include "platform/Text.h"

namespace velmora {
namespace {

constexpr const char* kInstanceName =
    "Velmora SQLite Database Recovery_{2C5331CC-E334-445a-AD8B-TYUC5FEAC456}";
// A command line is at most 255 characters, handed over as the system's bytes
// (UTF-8, and a file name's bytes that are not UTF-8 as they are): at most
// 1020 bytes.
constexpr qint64 kMaxHandOverBytes = 1024;

}  // namespace

QString CSingleInstance::DefaultInstanceName() {
  const QString fromEnvironment = qEnvironmentVariable("VELMORA_INSTANCE_NAME");
  return fromEnvironment.isEmpty() ? QString::fromLatin1(kInstanceName) : fromEnvironment;
}

QString CSingleInstance::DefaultRuntimeFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder;
}

CSingleInstance::CSingleInstance(const QString& instanceName, const QString& runtimeFolder) {
  // The socket path must stay short (sun_path holds 108 bytes), so both
  // names carry a digest of the instance name instead of the name itself.
  const QString digest = QString::fromLatin1(
      QCryptographicHash::hash(instanceName.toUtf8(), QCryptographicHash::Sha1).toHex().left(20));
  const QDir folder(runtimeFolder);
  m_strLockPath = folder.filePath(QStringLiteral("velmora-%1.lock").arg(digest));
  m_strServerPath = folder.filePath(QStringLiteral("velmora-%1.socket").arg(digest));
}

CSingleInstance::~CSingleInstance() {
  if (m_pServer != nullptr) {
    m_pServer->close();
    delete m_pServer;
  }
  // The lock file is removed by QLockFile's destructor.
}

bool CSingleInstance::Create(const QString& commandLine) {
  QDir().mkpath(QFileInfo(m_strLockPath).absolutePath());
  m_pLock = std::make_unique<QLockFile>(m_strLockPath);
  // Only a dead owner makes a lock stale, never its age: a copy that runs
  // for days keeps its lock.
  m_pLock->setStaleLockTime(0);
  if (!m_pLock->tryLock(0)) {
    const bool heldByOther = m_pLock->error() == QLockFile::LockFailedError;
    m_pLock.reset();
    if (heldByOther) HandOver(m_strServerPath, commandLine);
    return false;
  }
  // The lock is ours: a socket file left by a copy that crashed is stale.
  QLocalServer::removeServer(m_strServerPath);
  m_pServer = new QLocalServer();
  m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
  if (!m_pServer->listen(m_strServerPath)) {
    // Without a listener later copies cannot wake this one, but they still
    // find the lock and end; this copy runs on.
    delete m_pServer;
    m_pServer = nullptr;
    return true;
  }
  connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
  return true;
}

void CSingleInstance::HandOver(const QString& serverPath, const QString& commandLine) {
  QLocalSocket socket;
  socket.connectToServer(serverPath, QIODevice::WriteOnly);
  if (!socket.waitForConnected(kHandOverWaitMs)) return;
  if (commandLine.size() < 256) socket.write(NativePath(commandLine));
  socket.waitForBytesWritten(kHandOverWaitMs);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kHandOverWaitMs);
}

void CSingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
    auto buffer = std::make_shared<QByteArray>();
    auto finished = std::make_shared<bool>(false);
    auto finish = [this, socket, buffer, finished] {
      if (*finished) return;
      *finished = true;
      if (buffer->size() < kMaxHandOverBytes)
        buffer->append(socket->read(kMaxHandOverBytes - buffer->size()));
      WakeUp(PathFromNative(*buffer));
      socket->deleteLater();
    };
    connect(socket, &QLocalSocket::readyRead, this, [socket, buffer] {
      const QByteArray chunk = socket->read(kMaxHandOverBytes - buffer->size());
      buffer->append(chunk);
      if (buffer->size() >= kMaxHandOverBytes) socket->abort();  // too long to be ours
    });
    connect(socket, &QLocalSocket::disconnected, this, finish);
    // A peer that neither writes nor leaves is dropped after a while.
    QTimer::singleShot(2 * kHandOverWaitMs, socket, [socket] { socket->abort(); });
    if (socket->state() != QLocalSocket::ConnectedState) finish();
  }
}

void CSingleInstance::WakeUp(const QString& commandLine) {
  emit WokenUp(commandLine);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMainWindow*>(w) == nullptr || !w->isVisible()) continue;
    w->raise();
    w->activateWindow();
    return;
  }
}

}  // namespace velmora
