// Schema-row recognition and the working database "SQLiteDb.db", into which
// the recovered CREATE TABLE statements are replayed so that SQLite itself
// judges them and reports their columns.
#include <sqlite3.h>

#include <QFile>

#include "engine/SQLiteRecovery.h"
#include "engine/SchemaRows.h"
#include "engine/SqliteDb.h"
#include "engine/Values.h"
#include "platform/Folders.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"

namespace velmora {
namespace {

struct WorkingDb {
  sqlite3* db = nullptr;
  QString path;
};

WorkingDb& Working() {
  static WorkingDb working;
  return working;
}

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

// Runs the first statement of `sqlUtf8` on `db`; what follows it is ignored.
// "SQL error: %s\n" on standard error when it fails.
bool ReplayStatement(sqlite3* db, const QByteArray& sqlUtf8) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sqlUtf8.constData(), -1, &stmt, nullptr) != SQLITE_OK) {
    ReportSqlError(sqlite3_errmsg(db));
    return false;
  }
  if (stmt == nullptr) {
    ReportSqlError("empty statement");
    return false;
  }
  int rc = SQLITE_ROW;
  // A CREATE TABLE returns no rows; the bound only guards against a
  // statement that slipped through and would return many.
  for (int rows = 0; rc == SQLITE_ROW && rows < 1000; ++rows) rc = sqlite3_step(stmt);
  const bool ok = rc == SQLITE_DONE;
  if (!ok) ReportSqlError(sqlite3_errmsg(db));
  sqlite3_finalize(stmt);
  return ok;
}

}  // namespace

void CSQLiteRecovery::RecognizeSchemaRow(const RecordValues& values, const QString& rowText,
                                         const QString& lastText) {
  auto exactText = [&](std::size_t i) -> QString {
    if (i >= values.size()) return QString(QLatin1String(""));
    const ITEM& v = values[i];
    return v.storage == StorageClass::Text ? DecodeText(v.bytes, m_nTextEncoding) : v.display;
  };
  const QString type =
      !values.empty() && values[0].storage == StorageClass::Text ? exactText(0) : QString();
  const QString sql =
      values.size() > 4 && values[4].storage == StorageClass::Text ? values[4].display : QString();
  const SchemaRowClass c = ClassifySchemaRow(type, exactText(1), lastText, sql);
  if (!c.table && !c.index && !c.view && !c.trigger) return;

  SchemaObject object;
  object.type = type.isNull() ? exactText(0) : type;
  object.name = exactText(1);
  object.tableName = exactText(2);
  if (values.size() > 3 && values[3].storage == StorageClass::Integer)
    object.rootPage = values[3].intValue;
  object.sql =
      values.size() > 4 ? (values[4].storage == StorageClass::Text ? sql : lastText) : lastText;
  object.rowText = rowText;

  if (c.trigger) {
    m_lstTriggerRows.append(rowText);
    m_vecTriggerObjects.push_back(object);
  }
  if (c.view) {
    m_lstViewRows.append(rowText);
    m_vecViewObjects.push_back(object);
  }
  if (c.index) {
    m_lstIndexRows.append(rowText);
    m_vecIndexObjects.push_back(object);
  }
  if (c.table) {
    m_lstTableRows.append(rowText);
    m_vecTableObjects.push_back(object);
  }
}

sqlite3* CSQLiteRecovery::WorkingConnection() { return Working().db; }

QString CSQLiteRecovery::BuildWorkingDatabase() {
  WorkingDb& working = Working();
  const QString path = WorkingFolder() + QStringLiteral("/SQLiteDb.db");
  m_strWorkDbPath = path;
  if (working.db != nullptr) {
    sqlite3_close_v2(working.db);
    working.db = nullptr;
  }
  if (!working.path.isEmpty() && working.path != path) {
    QFile::remove(working.path);
    QFile::remove(working.path + QStringLiteral("-journal"));
  }
  working.path = path;
  // A stale database of an earlier run is never reused.
  QFile::remove(path);
  QFile::remove(path + QStringLiteral("-journal"));

  QString error;
  working.db = OpenSqliteDb(ToUtf8(path), &error);
  if (working.db == nullptr) {
    ShowMessageBox(
        QStringLiteral("The working database cannot be created:\n%1\n%2").arg(path, error));
    return path;
  }
  sqlite3* const db = working.db;
  // A scratch database: no durability needed.
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_set_authorizer(db, ReplayAuthorizer, nullptr);
  for (const QString& row : m_lstTableRows) {
    QString sql = GetFieldsFrom(row, 4);
    sql.replace(QLatin1String("COLLATE UTF16"), QLatin1String("COLLATE BINARY"));
    sql.remove(QLatin1String("COLLATE UNICODE"));
    m_strCurrentSql = sql;
    ReplayStatement(db, ToUtf8(sql));
  }
  sqlite3_set_authorizer(db, nullptr, nullptr);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    ReportSqlError(sqlite3_errmsg(db));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  LoadTableNames(db, QByteArrayLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"));
  return path;
}

bool CSQLiteRecovery::LoadTableNames(sqlite3* db, const QByteArray& sqlUtf8) {
  sqlite3_stmt* stmt = nullptr;
  if (db == nullptr ||
      sqlite3_prepare_v2(db, sqlUtf8.constData(), -1, &stmt, nullptr) != SQLITE_OK ||
      stmt == nullptr)
    return false;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    const int size = sqlite3_column_bytes(stmt, 0);
    m_lstTableNames.append(Utf8ToText(text, size));
  }
  sqlite3_finalize(stmt);
  return true;
}

int CSQLiteRecovery::CloseWorkingDatabase() {
  WorkingDb& working = Working();
  int rc = 0;
  if (working.db != nullptr) {
    rc = sqlite3_close_v2(working.db);
    working.db = nullptr;
  }
  if (!working.path.isEmpty()) {
    QFile::remove(working.path);
    QFile::remove(working.path + QStringLiteral("-journal"));
    working.path.clear();
  }
  return rc;
}

}  // namespace velmora
