#include "platform/TempFolder.h"

#include <QDir>
#include <QUuid>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

// Directories nested deeper than this below a folder being emptied are left in
// place (nothing this program writes nests more than two levels).
constexpr int kMaxDeleteDepth = 32;

// Set whenever a long-value path has been handed out since the last emptying
// (and at start, for whatever an earlier process of the same id left). When it
// is clear the emptying has nothing to do and skips the folder scan, which the
// page walk would otherwise pay before every record.
std::atomic<bool> g_bTempFilesPending{true};

QByteArray NativePath(const QString& path) {
  QByteArray native = QFile::encodeName(path);
  while (native.size() > 1 && native.endsWith('/')) native.chop(1);
  return native;
}

// Creates `path` as a directory of mode 0700, or accepts an existing one when
// lstat shows a real directory owned by this user; its mode is then narrowed
// to 0700. False otherwise (a symbolic link, a file, someone else's folder).
bool EnsurePrivateDirectory(const QByteArray& path) {
  if (::mkdir(path.constData(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.constData(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
  if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0) return false;
  return true;
}

// Empty when the system's temporary directory cannot be resolved (Qt then
// reports the empty text, which must not turn into a folder at the root).
QString UserFolderPath() {
  const QString temp = QDir::tempPath();
  if (temp.isEmpty() || !temp.startsWith(QLatin1Char('/'))) return QString();
  return temp + QStringLiteral("/ZORSQLI-") + QString::number(::getuid());
}

QString WorkFolderPath() {
  const QString user = UserFolderPath();
  if (user.isEmpty()) return QString();
  return user + QLatin1Char('/') + QString::number(::getpid());
}

bool IsAllDigits(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

// Removes every entry below the open directory `dirFd` except `keep`; never
// follows a symbolic link (entries are examined with AT_SYMLINK_NOFOLLOW and
// sub-directories opened with O_NOFOLLOW relative to their parent).
void RemoveChildren(int dirFd, int depth, const std::string& keep) {
  const int scanFd = ::dup(dirFd);
  if (scanFd < 0) return;
  DIR* dir = ::fdopendir(scanFd);
  if (dir == nullptr) {
    ::close(scanFd);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || (!keep.empty() && name == keep)) continue;
    names.push_back(name);
  }
  ::closedir(dir);

  for (const std::string& name : names) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (depth >= kMaxDeleteDepth) continue;
      const int childFd =
          ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (childFd < 0) continue;
      RemoveChildren(childFd, depth + 1, std::string());
      ::close(childFd);
      ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(dirFd, name.c_str(), 0);
    }
  }
}

// Once per process and user folder: removes the work folders of processes
// that no longer run.
void RemoveStaleWorkFolders(const QByteArray& userFolder) {
  static std::mutex mutex;
  static std::vector<QByteArray> done;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    for (const QByteArray& d : done) {
      if (d == userFolder) return;
    }
    done.push_back(userFolder);
  }
  DIR* dir = ::opendir(userFolder.constData());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  const pid_t self = ::getpid();
  while (dirent* entry = ::readdir(dir)) {
    if (!IsAllDigits(entry->d_name) || std::strlen(entry->d_name) > 9) continue;
    const long pid = std::strtol(entry->d_name, nullptr, 10);
    if (pid <= 0 || pid == self) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) stale.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) {
    DeleteFolderTree(QFile::decodeName(userFolder) + QLatin1Char('/') + QFile::decodeName(name.c_str()));
  }
}

}  // namespace

QString MakeGuidName() { return FormatGuidName(QUuid::createUuid()); }

QString FormatGuidName(const QUuid& id) {
  return QString::asprintf("%X-%X-%X-%X%X-%X%X%X%X%X%X", id.data1, unsigned(id.data2),
                           unsigned(id.data3), unsigned(id.data4[0]), unsigned(id.data4[1]),
                           unsigned(id.data4[2]), unsigned(id.data4[3]), unsigned(id.data4[4]),
                           unsigned(id.data4[5]), unsigned(id.data4[6]), unsigned(id.data4[7]));
}

QString GetTempFolderPath() {
  const QString user = UserFolderPath();
  if (user.isEmpty()) return QString();
  const QByteArray userNative = NativePath(user);
  if (!EnsurePrivateDirectory(userNative)) return QString();
  RemoveStaleWorkFolders(userNative);
  const QString work = WorkFolderPath();
  if (!EnsurePrivateDirectory(NativePath(work))) return QString();
  return work + QLatin1Char('/');
}

QString MakeTempFilePath() {
  const QString folder = GetTempFolderPath();
  if (folder.isEmpty()) return QString();
  g_bTempFilesPending.store(true);
  return folder + MakeGuidName();
}

QString ColumnStoreFolderName() { return QStringLiteral("stores"); }

QString GetColumnStoreFolderPath() {
  const QString work = GetTempFolderPath();
  if (work.isEmpty()) return QString();
  const QString stores = work + ColumnStoreFolderName();
  if (!EnsurePrivateDirectory(NativePath(stores))) return QString();
  return stores + QLatin1Char('/');
}

bool DeleteFolderTree(const QString& folder, const QString& keep) {
  if (folder.isEmpty()) return false;
  const QByteArray native = NativePath(folder);
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  RemoveChildren(fd, 0, QFile::encodeName(keep).toStdString());
  ::close(fd);
  return ::rmdir(native.constData()) == 0;
}

bool EmptyTempFolder() {
  // Clear first: a path handed out while the folder is being emptied sets it again.
  if (!g_bTempFilesPending.exchange(false)) return false;
  return DeleteFolderTree(WorkFolderPath(), ColumnStoreFolderName());
}

}  // namespace velmora
