#include "engine/SqliteDb.h"

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

}  // namespace velmora
