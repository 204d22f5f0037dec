#include <sqlite3.h>

#include "engine/schema/SqliteDb.h"
#include "output/SaveDispatch.h"

namespace velmora {
namespace {

// Result rows of a statement run with ExecSql are discarded.
int IgnoreRow(void*, int, char**, char**) { return 0; }

}  // namespace

bool ExecSql(sqlite3* db, const QByteArray& sqlUtf8) {
  if (db == nullptr) return false;
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sqlUtf8.constData(), IgnoreRow, nullptr, &message);
  if (message != nullptr) {
    ReportSqlError(message);
    sqlite3_free(message);
    return false;
  }
  if (rc != SQLITE_OK) {
    ReportSqlError(db);
    return false;
  }
  return true;
}

}  // namespace velmora
