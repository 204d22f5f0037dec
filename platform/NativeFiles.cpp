#include "platform/NativeFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStringList>
#include <cerrno>
#include <cstdlib>

#include "platform/SystemError.h"
#include "platform/Text.h"

namespace velmora {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool StatNative(const QString& path, struct stat* st) {
  return !path.isEmpty() && ::stat(NativePath(path).constData(), st) == 0;
}

// The working folder with its bytes kept.
QString WorkingFolderPath() {
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) return QDir::currentPath();
  const QString path = PathFromNative(QByteArray(cwd));
  std::free(cwd);
  return path;
}

// The bytes of the one entry of `folder` that Qt decodes to `name`; null when
// none or several do, or the folder cannot be read.
QByteArray UniqueLossyEntry(const QString& folder, const QString& name) {
  DIR* dir = ::opendir(NativePath(folder).constData());
  if (dir == nullptr) return {};
  QByteArray found;
  bool ambiguous = false;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray bytes(entry->d_name);
    if (bytes == "." || bytes == ".." || QFile::decodeName(bytes) != name) continue;
    if (!found.isNull()) {
      ambiguous = true;
      break;
    }
    found = bytes;
  }
  ::closedir(dir);
  return ambiguous ? QByteArray() : found;
}

}  // namespace

bool IsNativeFile(const QString& path) {
  struct stat st {};
  return StatNative(path, &st) && S_ISREG(st.st_mode);
}

bool IsNativeFolder(const QString& path) {
  struct stat st {};
  return StatNative(path, &st) && S_ISDIR(st.st_mode);
}

bool NativePathExists(const QString& path) {
  struct stat st {};
  return StatNative(path, &st);
}

bool NativeNameTaken(const QString& path) {
  struct stat st {};
  return !path.isEmpty() && ::lstat(NativePath(path).constData(), &st) == 0;
}

QString NativeAbsolutePath(const QString& path) {
  if (path.isEmpty()) return path;
  if (path.startsWith(QLatin1Char('/'))) return QDir::cleanPath(path);
  return QDir::cleanPath(WorkingFolderPath() + QLatin1Char('/') + path);
}

bool SameNativeFile(const QString& a, const QString& b) {
  if (NativeAbsolutePath(a) == NativeAbsolutePath(b)) return true;
  struct stat sa {
  }, sb{};
  return StatNative(a, &sa) && StatNative(b, &sb) && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool MakeNativeFolders(const QString& folder) {
  if (folder.isEmpty()) return false;
  if (IsNativeFolder(folder)) return true;
  const QByteArray native = NativePath(folder);
  // Each level from the top down; the first byte is never a level of its own
  // (it is the root's slash or the first byte of a relative name).
  for (qsizetype i = 1; i <= native.size(); ++i) {
    if (i < native.size() && native.at(i) != '/') continue;
    if (native.at(i - 1) == '/') continue;  // a doubled or trailing slash
    if (::mkdir(native.left(i).constData(), 0777) != 0 && errno != EEXIST) return false;
  }
  return IsNativeFolder(folder);
}

bool OpenNativeFile(QFile& file, const QString& path, int flags, QIODevice::OpenMode mode,
                    QString* error) {
  const int fd =
      path.isEmpty() ? -1 : ::open(NativePath(path).constData(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error != nullptr) *error = FormatSystemError(path.isEmpty() ? ENOENT : errno);
    return false;
  }
  if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  return true;
}

QString ResolveLossyPath(const QString& path) {
  if (!path.contains(QChar(kReplacement)) || NativeNameTaken(path)) return path;
  const QStringList parts = path.split(QLatin1Char('/'));
  QString resolved;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    const QString& part = parts.at(i);
    const QString folder =
        i == 0 ? QStringLiteral(".") : (resolved.isEmpty() ? QStringLiteral("/") : resolved);
    const QString given = i == 0 ? part : resolved + QLatin1Char('/') + part;
    if (!part.contains(QChar(kReplacement)) || NativeNameTaken(given)) {
      resolved = given;
      continue;
    }
    const QByteArray entry = UniqueLossyEntry(folder, part);
    if (entry.isNull()) {
      if (i + 1 < parts.size()) return path;  // a folder on the way is not found
      resolved = given;                       // a new name in a real folder
      continue;
    }
    resolved = (i == 0 ? QString() : resolved + QLatin1Char('/')) + PathFromNative(entry);
  }
  return resolved;
}

QString PathFromFileUrl(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  // A file URL naming another host keeps Qt's form ("//host/path").
  if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) return url.toLocalFile();
  return PathFromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

}  // namespace velmora
