// Opening the SQLite databases that the program itself writes.
#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

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
// Writes "SQL error: %s\n" with the last message of `db` to standard error.
void ReportSqlError(sqlite3* db);

// One prepared statement, finalized when it goes out of scope (or is
// prepared again, or moved over). It converts to the sqlite3_stmt* it holds
// (null when none), so the library's bind and column functions take it.
class Statement {
 public:
  Statement() = default;
  // Prepares `sql` (`length` bytes; -1: up to its terminating zero) on `db`.
  // On failure the statement holds nothing: the library's message is
  // sqlite3_errmsg(db).
  Statement(sqlite3* db, const char* sql, int length = -1) { Prepare(db, sql, length); }
  ~Statement() { Finalize(); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
  Statement& operator=(Statement&& other) noexcept;

  // Finalizes what it holds, then prepares `sql`; returns the library's
  // result code. `tail` (may be null) receives the end of the first statement.
  int Prepare(sqlite3* db, const char* sql, int length = -1, const char** tail = nullptr);
  // Finalizes what it holds and returns the place for sqlite3_prepare_v2 /
  // _v3 to store a new statement in.
  sqlite3_stmt** Out();
  // Finalizes the statement now; returns sqlite3_finalize's result (SQLITE_OK
  // when it held none).
  int Finalize();

  int Step();
  int Reset();
  bool Ok() const { return m_stmt != nullptr; }
  sqlite3_stmt* get() const { return m_stmt; }
  operator sqlite3_stmt*() const { return m_stmt; }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace velmora
