#include "output/RecoveredDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/core/Progress.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/StandIns.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/BufferedVfs.h"
#include "output/SaveDispatch.h"
#include "platform/NativeFiles.h"
#include "platform/Text.h"

namespace velmora {
namespace {

// The progress handler runs every kGuardInterval instructions; a stop is
// polled every kStopPollEvery of its calls (the window's callback lets
// events through and costs more than a step).
constexpr int kGuardInterval = 1000;
constexpr int kStopPollEvery = 64;
// The longest string or blob the recovered database accepts, beyond what
// the file's own values and a record's header need. A value can be no
// longer than the pages the file has; anything a CHECK, a default or an
// index expression would build past that is refused instead of allocated.
constexpr std::int64_t kLengthMargin = 1 << 20;

int GuardHandler(void* context) {
  auto& g = *static_cast<RecoveredDatabase::Guard*>(context);
  // The run under way: a statement counts from its first step to its reset.
  sqlite3_stmt* busy = nullptr;
  for (sqlite3_stmt* s = sqlite3_next_stmt(g.db, nullptr); s != nullptr;
       s = sqlite3_next_stmt(g.db, s)) {
    if (sqlite3_stmt_busy(s) != 0) {
      busy = s;
      break;
    }
  }
  const int run = busy != nullptr ? sqlite3_stmt_status(busy, SQLITE_STMTSTATUS_RUN, 0) : -1;
  if (busy != g.stmt || run != g.run) {
    g.stmt = busy;
    g.run = run;
    g.instructions = 0;
  }
  g.instructions += kGuardInterval;
  if (g.replaying && g.progress != nullptr &&
      (g.instructions / kGuardInterval) % kStopPollEvery == 0 && g.progress->Poll()) {
    g.stopped = true;
    return 1;
  }
  if (g.replaying && g.unbounded) return 0;
  if (g.instructions > RecoveredDatabase::kStatementBudget) {
    g.exhausted = true;
    return 1;
  }
  return 0;
}

}  // namespace

RecoveredDatabase::~RecoveredDatabase() { Close(); }

void RecoveredDatabase::BeginReplay(bool unbounded) {
  m_guard.replaying = true;
  m_guard.unbounded = unbounded;
  m_guard.stopped = false;
  m_guard.exhausted = false;
  m_guard.stmt = nullptr;
}

RecoveredDatabase::Guard RecoveredDatabase::EndReplay() {
  const Guard ended = m_guard;
  m_guard.replaying = false;
  m_guard.unbounded = false;
  m_guard.stopped = false;
  m_guard.exhausted = false;
  return ended;
}

bool RecoveredDatabase::Open(const CSQLiteRecovery& engine, const QString& folder,
                             const QString& fileName, QString* error) {
  QString message;
  if (error == nullptr) error = &message;
  Close();
  if (folder.isEmpty() || fileName.isEmpty() || fileName.contains(QLatin1Char('/'))) {
    *error = QStringLiteral("No folder or file name was given for the recovered database.");
    return false;
  }
  // A chosen folder that has vanished since it was chosen is made again.
  struct stat folderStat {};
  if (::stat(NativePath(folder).constData(), &folderStat) != 0 && !MakeNativeFolders(folder)) {
    *error = QStringLiteral("The folder \"%1\" does not exist and cannot be created.").arg(folder);
    return false;
  }
  QString path = folder;
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  path += fileName;
  const QByteArray native = NativePath(path);

  // The file is created here, exclusively and without following a symbolic
  // link: whatever already bears the name (an earlier save, the damaged file
  // itself) is never opened, let alone written.
  const int fd =
      ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      *error = QStringLiteral(
                   "The file \"%1\" already exists. The recovered database is never written "
                   "over an existing file: choose another folder.")
                   .arg(path);
    } else {
      *error = QStringLiteral("The recovered database \"%1\" cannot be created (%2).")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return false;
  }
  ::close(fd);

  QString reason;
  // Through the buffering VFS: the save writes the new file page after page,
  // and CREATE INDEX reads its tables back the same way.
  sqlite3* const db = OpenSqliteDb(native, &reason, SQLITE_OPEN_NOMUTEX, BufferedVfsName());
  if (db == nullptr) {
    ::unlink(native.constData());
    *error =
        QStringLiteral("The recovered database \"%1\" cannot be opened (%2).").arg(path, reason);
    return false;
  }
  // Texts are bound byte for byte in the damaged file's own encoding: the new
  // database gets that encoding before its first table (and before anything
  // is written).
  switch (engine.geometry().textEncoding) {
    case 2:
      ExecSql(db, "PRAGMA encoding = 'UTF-16le'");
      break;
    case 3:
      ExecSql(db, "PRAGMA encoding = 'UTF-16be'");
      break;
    default:
      ExecSql(db, "PRAGMA encoding = 'UTF-8'");
      break;
  }
  // The damaged file's own settings follow, still before the first table:
  // its page size and auto-vacuum mode shape the new file, and user_version
  // and application_id are what its application reads back to recognise and
  // migrate it. Each is an integer checked here (a pragma takes no bound
  // parameter, so the number is formatted, never text from the file).
  const HeaderSettings settings = engine.Source().ReadHeaderSettings();
  if (settings.pageSize >= 512 && settings.pageSize <= 65536 &&
      (settings.pageSize & (settings.pageSize - 1)) == 0)
    ExecSql(db, "PRAGMA page_size = " + QByteArray::number(qint64(settings.pageSize)));
  if (settings.autoVacuum >= 0 && settings.autoVacuum <= 2)
    ExecSql(db, "PRAGMA auto_vacuum = " + QByteArray::number(settings.autoVacuum));
  if (settings.hasUserVersion)
    ExecSql(db, "PRAGMA user_version = " + QByteArray::number(settings.userVersion));
  if (settings.hasApplicationId)
    ExecSql(db, "PRAGMA application_id = " + QByteArray::number(settings.applicationId));
  ExecSql(db, "PRAGMA synchronous = OFF");
  ExecSql(db, "PRAGMA journal_mode = MEMORY");
  // A small page cache (1 MB, half the library's default). The walk inserts
  // in rowid order, so a page that leaves the cache is not needed again; and
  // CREATE INDEX sorts in runs the size of the cache (250 pages at least):
  // runs that stay in the processor's caches sort faster than larger ones
  // (32 MB runs take more than twice as long, 2 MB ones a few per cent).
  ExecSql(db, "PRAGMA cache_size = -1024");
  // Collations the library lacks get binary-order stand-ins; the schema keeps
  // their names for the application that owns them.
  InstallStandInCollations(db);
  const Geometry& g = engine.geometry();
  const std::int64_t longest =
      std::clamp<std::int64_t>(g.pageCount * g.pageSize + kLengthMargin, kLengthMargin,
                               sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1));
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, static_cast<int>(longest));
  m_guard = Guard();
  m_guard.db = db;
  sqlite3_progress_handler(db, kGuardInterval, GuardHandler, &m_guard);
  m_db = db;
  m_folder = folder;
  m_path = path;
  return true;
}

void RecoveredDatabase::Close() {
  if (m_db == nullptr) return;
  // What was written is committed whatever the handler would say.
  sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
  if (sqlite3_get_autocommit(m_db) == 0) ExecSql(m_db, "COMMIT");
  sqlite3_close_v2(m_db);
  m_db = nullptr;
  m_virtualSaves.clear();
}

}  // namespace velmora
