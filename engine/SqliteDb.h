// Opening the SQLite databases that the program itself writes.
#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

namespace velmora {

// Opens or creates the database at `pathUtf8`, the file name's bytes
// (read-write, create, and `extraFlags`; never as a URI, so that a folder
// named "file:..." is a folder) through the VFS named `vfs` (null: the default one). Returns
// the connection, owned by the caller (sqlite3_close_v2). On failure writes
// "%s: can't open %s (%s)\n" to standard error, stores the library's message
// in *error (when given) and returns null. Never ends the process.
sqlite3* OpenSqliteDb(const QByteArray& pathUtf8, QString* error = nullptr, int extraFlags = 0,
                      const char* vfs = nullptr);

// Writes "SQL error: %s\n" with `message` to standard error.
void ReportSqlError(const char* message);

}  // namespace velmora
