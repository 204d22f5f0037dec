#include "engine/schema/SqliteDb.h"

#include <sqlite3.h>

#include "platform/Text.h"

namespace velmora {

sqlite3* OpenSqliteDb(const QByteArray& pathUtf8, QString* error, int extraFlags, const char* vfs) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(pathUtf8.constData(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | extraFlags, vfs);
  if (rc == SQLITE_OK) return db;
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const QString path = PathFromNative(pathUtf8);
  PrintErrorLine(QStringLiteral("%1: can't open %1 (%2)").arg(path, QString::fromUtf8(message)));
  if (error != nullptr) *error = QString::fromUtf8(message);
  sqlite3_close(db);
  return nullptr;
}

void ReportSqlError(const char* message) {
  PrintErrorLine(QStringLiteral("SQL error: ") +
                 QString::fromUtf8(message != nullptr ? message : ""));
}

void ReportSqlError(sqlite3* db) { ReportSqlError(sqlite3_errmsg(db)); }

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    Finalize();
    m_stmt = other.m_stmt;
    other.m_stmt = nullptr;
  }
  return *this;
}

int Statement::Prepare(sqlite3* db, const char* sql, int length, const char** tail) {
  return sqlite3_prepare_v2(db, sql, length, Out(), tail);
}

sqlite3_stmt** Statement::Out() {
  Finalize();
  return &m_stmt;
}

int Statement::Finalize() {
  const int rc = sqlite3_finalize(m_stmt);
  m_stmt = nullptr;
  return rc;
}

int Statement::Step() { return sqlite3_step(m_stmt); }
int Statement::Reset() { return sqlite3_reset(m_stmt); }

}  // namespace velmora
