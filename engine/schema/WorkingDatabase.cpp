// The working database, into which the recovered CREATE TABLE statements are
// replayed under confinement.
#include "engine/schema/WorkingDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

#include "engine/schema/SqliteDb.h"
#include "engine/schema/StandIns.h"
#include "platform/Folders.h"
#include "platform/Text.h"

namespace velmora {
namespace {

// A recovered statement may only create one ordinary table in the main
// database. The damaged file is hostile input: its "SQL" could otherwise
// attach files, change pragmas or run queries without end.
int ReplayAuthorizer(void*, int action, const char* arg1, const char*, const char* database,
                     const char*) {
  const bool mainDb = database == nullptr || qstrcmp(database, "main") == 0;
  switch (action) {
    case SQLITE_CREATE_TABLE:
    case SQLITE_READ:  // columns named by CHECK constraints and keys of the new table
      return mainDb ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_CREATE_INDEX:
      // Only the automatic index of a PRIMARY KEY or UNIQUE constraint.
      return mainDb && arg1 != nullptr && qstrncmp(arg1, "sqlite_autoindex_", 17) == 0
                 ? SQLITE_OK
                 : SQLITE_DENY;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      // The library's own bookkeeping when it records the new table.
      return mainDb && arg1 != nullptr &&
                     (qstrcmp(arg1, "sqlite_master") == 0 || qstrcmp(arg1, "sqlite_schema") == 0 ||
                      qstrcmp(arg1, "sqlite_sequence") == 0)
                 ? SQLITE_OK
                 : SQLITE_DENY;
    case SQLITE_FUNCTION:
      return SQLITE_OK;
    default:  // SELECT (CREATE TABLE ... AS SELECT), ATTACH, PRAGMA, views, triggers, ...
      return SQLITE_DENY;
  }
}

QString& ChosenFolder() {
  static QString folder;
  return folder;
}

// A file name no entry of `folder` has, created empty with O_EXCL (an empty
// file is an empty SQLite database). Neither the name nor its "-journal"
// and "-wal" companions existed before, so the library finds no journal to
// roll back. Empty with *error set when the folder takes no new file.
QString CreateUniqueFile(const QString& folder, QString* error) {
  const QByteArray base = NativePath(folder);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    QByteArray name = base + "/SQLiteDb-";
    for (int i = 0; i < 6; ++i)
      name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    name += ".db";
    struct stat st {};
    if (::lstat((name + "-journal").constData(), &st) == 0 ||
        ::lstat((name + "-wal").constData(), &st) == 0)
      continue;
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      ::close(fd);
      return PathFromNative(name);
    }
    if (errno != EEXIST) {
      *error = QString::fromLocal8Bit(std::strerror(errno));
      return QString();
    }
  }
  *error = QStringLiteral("no free file name");
  return QString();
}

}  // namespace

WorkingDatabase::~WorkingDatabase() { Close(); }

QString WorkingDatabase::Folder() {
  return ChosenFolder().isEmpty() ? WorkingFolder() : ChosenFolder();
}

void WorkingDatabase::SetFolder(const QString& folder) { ChosenFolder() = folder; }

bool WorkingDatabase::CreateIn(const QString& folder, QString* error) {
  Close();
  const QString path = CreateUniqueFile(folder, error);
  if (path.isEmpty()) return false;
  m_path = path;
  m_lastSchemaRowid = 0;
  m_db = OpenSqliteDb(NativePath(path), error);
  if (m_db == nullptr) {
    Close();
    return false;
  }
  // A scratch database: no durability needed, and no journal file beside it.
  sqlite3_exec(m_db, "PRAGMA journal_mode=MEMORY", nullptr, nullptr, nullptr);
  sqlite3_exec(m_db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr);
  // Collations and functions that only the file's own application has get
  // stand-ins, so that its statements replay exactly as written.
  InstallStandInCollations(m_db);
  return true;
}

bool WorkingDatabase::Replay(const QString& sql) {
  if (m_db == nullptr) return false;
  sqlite3_set_authorizer(m_db, ReplayAuthorizer, nullptr);
  const QByteArray utf8 = ToUtf8(sql);
  Statement stmt;
  bool ok = false;
  if (PrepareWithStandIns(m_db, utf8, stmt.Out(), nullptr, nullptr) != SQLITE_OK) {
    ReportSqlError(sqlite3_errmsg(m_db));
  } else if (stmt == nullptr) {
    ReportSqlError("empty statement");
  } else {
    int rc = SQLITE_ROW;
    // A CREATE TABLE returns no rows; the bound only guards against a
    // statement that slipped through and would return many.
    for (int rows = 0; rc == SQLITE_ROW && rows < 1000; ++rows) rc = sqlite3_step(stmt);
    ok = rc == SQLITE_DONE;
    if (!ok) ReportSqlError(sqlite3_errmsg(m_db));
  }
  sqlite3_set_authorizer(m_db, nullptr, nullptr);
  return ok;
}

bool WorkingDatabase::Accepts(const QString& sql) {
  if (m_db == nullptr) return false;
  sqlite3_set_authorizer(m_db, ReplayAuthorizer, nullptr);
  Statement stmt;
  const bool ok =
      PrepareWithStandIns(m_db, ToUtf8(sql), stmt.Out(), nullptr, nullptr) == SQLITE_OK &&
      stmt != nullptr;
  sqlite3_set_authorizer(m_db, nullptr, nullptr);
  return ok;
}

QString InternalTableStatement(const QString& name) {
  const QString lower = name.toLower();
  if (lower == QLatin1String("sqlite_sequence"))
    return QStringLiteral("CREATE TABLE sqlite_sequence(name,seq)");
  if (lower == QLatin1String("sqlite_stat1"))
    return QStringLiteral("CREATE TABLE sqlite_stat1(tbl,idx,stat)");
  if (lower == QLatin1String("sqlite_stat4"))
    return QStringLiteral("CREATE TABLE sqlite_stat4(tbl,idx,neq,nlt,ndlt,sample)");
  return QString();
}

bool PrimaryKeyHasIndex(sqlite3* db, const QByteArray& nameUtf8) {
  Statement stmt;
  bool indexed = false;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_index_list(?1) WHERE origin = 'pk'", -1,
                         stmt.Out(), nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, nameUtf8.constData(), static_cast<int>(nameUtf8.size()),
                      SQLITE_STATIC);
    indexed = sqlite3_step(stmt) == SQLITE_ROW;
  }
  return indexed;
}

bool CreateInternalTable(sqlite3* db, const QString& statement, QString* error) {
  sqlite3_exec(db, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  const QByteArray utf8 = statement.toUtf8();
  char* message = nullptr;
  const bool ok = sqlite3_exec(db, utf8.constData(), nullptr, nullptr, &message) == SQLITE_OK;
  if (!ok) *error = QString::fromUtf8(message != nullptr ? message : "unknown error");
  sqlite3_free(message);
  sqlite3_exec(db, "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
  return ok;
}

bool WorkingDatabase::ReplayInternal(const QString& name) {
  const QString statement = InternalTableStatement(name);
  if (m_db == nullptr || statement.isEmpty()) return false;
  if (Holds(name)) return true;
  QString error;
  if (CreateInternalTable(m_db, statement, &error)) return true;
  ReportSqlError(error.toUtf8().constData());
  return false;
}

bool WorkingDatabase::Commit() {
  if (m_db == nullptr || sqlite3_get_autocommit(m_db) != 0) return m_db != nullptr;
  if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    ReportSqlError(sqlite3_errmsg(m_db));
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  return true;
}

bool HasTable(sqlite3* db, const QString& name) {
  const QByteArray utf8 = name.toUtf8();
  // The schema table itself is no row of sqlite_schema and is not counted.
  for (const char* schema : {"sqlite_master", "sqlite_schema"})
    if (sqlite3_stricmp(utf8.constData(), schema) == 0) return false;
  // Without a column name the call only looks the table up; it refuses views.
  return db != nullptr && !utf8.contains('\0') &&
         sqlite3_table_column_metadata(db, "main", utf8.constData(), nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr) == SQLITE_OK;
}

QStringList WorkingDatabase::NewTables() {
  QStringList names;
  Statement stmt;
  if (m_db == nullptr ||
      sqlite3_prepare_v2(
          m_db,
          "SELECT rowid, type = 'table', name FROM sqlite_master WHERE rowid > ?1 ORDER BY rowid",
          -1, stmt.Out(), nullptr) != SQLITE_OK)
    return names;
  sqlite3_bind_int64(stmt, 1, m_lastSchemaRowid);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    m_lastSchemaRowid = sqlite3_column_int64(stmt, 0);
    if (sqlite3_column_int(stmt, 1) == 0) continue;  // an automatic index
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
    names.append(Utf8ToText(text, sqlite3_column_bytes(stmt, 2)));
  }
  return names;
}

QStringList WorkingDatabase::TableNames() const {
  QStringList names;
  Statement stmt;
  if (m_db == nullptr ||
      sqlite3_prepare_v2(m_db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1,
                         stmt.Out(), nullptr) != SQLITE_OK)
    return names;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    names.append(Utf8ToText(text, sqlite3_column_bytes(stmt, 0)));
  }
  return names;
}

void WorkingDatabase::Close() {
  if (m_db != nullptr) {
    sqlite3_close_v2(m_db);
    m_db = nullptr;
  }
  // The journal stays in memory: the file made by CreateIn is all there is.
  if (!m_path.isEmpty()) ::unlink(NativePath(m_path).constData());
  m_path.clear();
}

}  // namespace velmora
