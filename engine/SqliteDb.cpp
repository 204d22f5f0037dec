#include "engine/SqliteDb.h"

#include <sqlite3.h>

#include <cstdio>

namespace velmora {

sqlite3* OpenSqliteDb(const QByteArray& pathUtf8, QString* error, int extraFlags,
                      const char* vfs) {
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(pathUtf8.constData(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | extraFlags,
                      vfs);
  if (rc == SQLITE_OK) return db;
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  std::fprintf(stderr, "%s: can't open %s (%s)\n", pathUtf8.constData(), pathUtf8.constData(),
               message);
  if (error != nullptr) *error = QString::fromUtf8(message);
  sqlite3_close(db);
  return nullptr;
}

void ReportSqlError(const char* message) {
  std::fprintf(stderr, "SQL error: %s\n", message != nullptr ? message : "");
}

}  // namespace velmora
