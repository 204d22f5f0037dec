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

bool IsWritableFolder(const QString& folder) {
  if (folder.isEmpty()) return false;
  const QFileInfo info(folder);
  if (!info.isDir()) return false;
  return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString UserCacheFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (folder.isEmpty()) {
    // No application name to go by (no application object).
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty()) return QString();
    folder = base + QStringLiteral("/velmora-sqlite-recovery");
  }
  if (!QDir().mkpath(folder)) return QString();
  return folder;
}

bool RunsInstalled() {
  return QFileInfo(QDir(ProgramFolder()).filePath(QLatin1String(kInstalledDocFolder))).isDir();
}

QStringList ManualFolders() {
  const QString program = ExecutableFolder();
  return {QDir::currentPath(), program,
          QDir::cleanPath(QDir(program).filePath(QLatin1String(kInstalledDocFolder)))};
}

QString WorkingFolder() {
  const QString program = ProgramFolder();
  if (IsWritableFolder(program) && !RunsInstalled()) return program;
  const QString cache = UserCacheFolder();
  if (!cache.isEmpty() && IsWritableFolder(cache)) return cache;
  return program;
}

}  // namespace velmora
