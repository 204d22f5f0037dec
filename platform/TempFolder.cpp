#include "platform/TempFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QUuid>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
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

// A long value must be free of per-file disk costs: on a journaling file
// system every file written, truncated or deleted may wait for the disk. When
// the user has not chosen a temporary directory (TMPDIR), long values go to a
// memory file system instead, if one with room is at hand.
constexpr std::int64_t kMemoryFolderMinFree = std::int64_t(256) * 1024 * 1024;

bool IsRoomyMemoryFolder(const QByteArray& path) {
  struct statfs fs {};
  if (::statfs(path.constData(), &fs) != 0 || fs.f_type != TMPFS_MAGIC) return false;
  struct statvfs vfs {};
  if (::statvfs(path.constData(), &vfs) != 0) return false;
  return std::int64_t(vfs.f_bavail) * std::int64_t(vfs.f_frsize) >= kMemoryFolderMinFree;
}

// The system's temporary directory; empty when it cannot be resolved (Qt then
// reports the empty text, which must not turn into a folder at the root).
QString DiskBase() {
  const QString temp = QDir::tempPath();
  if (temp.isEmpty() || !temp.startsWith(QLatin1Char('/'))) return QString();
  return temp;
}

QString LongValueBase() {
  if (qEnvironmentVariableIsEmpty("TMPDIR")) {
    QStringList candidates;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/'))) candidates << runtime;
    candidates << QStringLiteral("/dev/shm");
    for (const QString& candidate : candidates) {
      if (IsRoomyMemoryFolder(QFile::encodeName(candidate))) return candidate;
    }
  }
  return DiskBase();
}

QString UserFolderPath(const QString& base) {
  if (base.isEmpty()) return QString();
  return base + QStringLiteral("/ZORSQLI-") + QString::number(::getuid());
}

QString WorkFolderPath(const QString& base) {
  const QString user = UserFolderPath(base);
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
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      stale.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) {
    DeleteFolderTree(QFile::decodeName(userFolder) + QLatin1Char('/') +
                     QFile::decodeName(name.c_str()));
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

namespace {

// The work folder under `base` with a trailing "/", created when missing.
QString EnsureWorkFolder(const QString& base) {
  const QString user = UserFolderPath(base);
  if (user.isEmpty()) return QString();
  const QByteArray userNative = NativePath(user);
  if (!EnsurePrivateDirectory(userNative)) return QString();
  RemoveStaleWorkFolders(userNative);
  const QString work = WorkFolderPath(base);
  if (!EnsurePrivateDirectory(NativePath(work))) return QString();
  return work + QLatin1Char('/');
}

}  // namespace

QString GetTempFolderPath() { return EnsureWorkFolder(LongValueBase()); }

QString GetDiskTempFolderPath() { return EnsureWorkFolder(DiskBase()); }

QString GetTempFolderPathFor(std::int64_t bytes) {
  const QString base = LongValueBase();
  const QString disk = DiskBase();
  if (base != disk) {
    struct statvfs vfs {};
    const QByteArray native = QFile::encodeName(base);
    const bool room =
        ::statvfs(native.constData(), &vfs) == 0 &&
        std::int64_t(vfs.f_bavail) * std::int64_t(vfs.f_frsize) - bytes >= kMemoryFolderMinFree;
    if (!room) return EnsureWorkFolder(disk);
  }
  return EnsureWorkFolder(base);
}

QString MakeTempFilePath() {
  const QString folder = GetTempFolderPath();
  if (folder.isEmpty()) return QString();
  g_bTempFilesPending.store(true);
  return folder + MakeGuidName();
}

QString ColumnStoreFolderName() { return QStringLiteral("stores"); }

QString GetColumnStoreFolderPath() {
  // The stores grow with the table shown: they stay on disk.
  const QString work = EnsureWorkFolder(DiskBase());
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
  const QString disk = DiskBase();
  const QString memory = LongValueBase();
  bool removed = DeleteFolderTree(WorkFolderPath(disk), ColumnStoreFolderName());
  if (memory != disk) removed = DeleteFolderTree(WorkFolderPath(memory)) && removed;
  return removed;
}

}  // namespace velmora
