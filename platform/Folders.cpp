#include "platform/Folders.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmora {
namespace {

QString& Override() {
  static QString folder;
  return folder;
}

QString ExecutableFolder() {
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return QDir::currentPath();
  const QString exe = QString::fromLocal8Bit(buffer, n);
  return QFileInfo(exe).absolutePath();
}

}  // namespace

QString ProgramFolder() {
  if (!Override().isEmpty()) return Override();
  return ExecutableFolder();
}

void SetProgramFolderOverride(const QString& folder) { Override() = folder; }

QString UserDataFolder() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty()) return QString();
  const QString folder = base + QStringLiteral("/Velmora SQLite Database Recovery");
  if (!QDir().mkpath(folder)) return QString();
  return folder;
}

bool IsWritableFolder(const QString& folder) {
  if (folder.isEmpty()) return false;
  const QFileInfo info(folder);
  if (!info.isDir()) return false;
  return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString WorkingFolder() {
  const QString program = ProgramFolder();
  if (IsWritableFolder(program)) return program;
  const QString data = UserDataFolder();
  if (!data.isEmpty() && IsWritableFolder(data)) return data;
  return program;
}

}  // namespace velmora
