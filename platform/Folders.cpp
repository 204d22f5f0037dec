#include "platform/Folders.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/NativeFiles.h"
#include "platform/Text.h"

namespace velmora {
namespace {

QString& Override() {
  static QString folder;
  return folder;
}

QString ExecutableFolder() {
  // The link's bytes are kept: the folder's name need not be UTF-8.
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0 && buffer[0] == '/') {
    const QString exe = PathFromNative(QByteArray(buffer, n));
    const qsizetype slash = exe.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : exe.left(slash);
  }
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
  return QDir::currentPath();
}

}  // namespace

QString ProgramFolder() {
  if (!Override().isEmpty()) return Override();
  return ExecutableFolder();
}

void SetProgramFolderOverride(const QString& folder) { Override() = folder; }

bool IsWritableFolder(const QString& folder) {
  if (!IsNativeFolder(folder)) return false;
  return ::access(NativePath(folder).constData(), W_OK | X_OK) == 0;
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
  return IsNativeFolder(ProgramFolder() + QLatin1Char('/') + QLatin1String(kInstalledDocFolder));
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
