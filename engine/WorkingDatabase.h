// The working database "SQLiteDb.db": the recovered CREATE TABLE statements
// are replayed into it so that SQLite itself judges them and reports their
// columns. Owned by the recovery session; closed and deleted with it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct sqlite3;

namespace velmora {

// The statement that creates the internal table `name` (sqlite_sequence,
// sqlite_stat1, sqlite_stat4, in any letter case) as the library itself
// writes it; empty for any other name. These tables keep the rows the file
// holds, so they are created with these fixed statements, never with
// statements read from the file.
QString InternalTableStatement(const QString& name);

// True when the primary key of table `name` in `db` has an index of its own.
// Then a single INTEGER key column is not the rowid: the library's one such
// case is a column declared INTEGER PRIMARY KEY DESC, whose table keeps a
// rowid beside it.
bool PrimaryKeyHasIndex(sqlite3* db, const QByteArray& nameUtf8);

// Runs `statement` (one from InternalTableStatement) on `db` with the schema
// writable for that one statement: the library refuses names beginning with
// sqlite_ otherwise. False with *error set when it fails.
bool CreateInternalTable(sqlite3* db, const QString& statement, QString* error);

class WorkingDatabase {
 public:
  WorkingDatabase() = default;
  ~WorkingDatabase();  // Close()
  WorkingDatabase(const WorkingDatabase&) = delete;
  WorkingDatabase& operator=(const WorkingDatabase&) = delete;

  // "SQLiteDb.db" in the program's working folder.
  static QString DefaultPath();

  // Creates the database at `path` (a stale file there is removed first) and
  // opens a transaction for the replay. False with *error set when the
  // library cannot create it.
  bool Create(const QString& path, QString* error);

  // Runs the first statement of `sql` under the replay's confinement: it may
  // only create one ordinary table (and its automatic indexes) in the main
  // database. "SQL error: %s\n" on standard error when it fails.
  bool Replay(const QString& sql);
  // True when the first statement of `sql` prepares under the replay's
  // confinement (stand-ins supplied as for Replay); it is never run and
  // nothing is reported.
  bool Accepts(const QString& sql);
  // Creates the internal table `name` (see InternalTableStatement) unless it
  // exists already; false for another name or when the library refuses.
  bool ReplayInternal(const QString& name);
  // Ends the replay's transaction.
  void Commit();

  // How many ordinary tables the database holds (0 when it is not open).
  int TableCount() const;
  // The ordinary tables the database holds, in schema order.
  QStringList TableNames() const;

  sqlite3* Db() const { return m_db; }
  const QString& Path() const { return m_path; }
  // Closes the connection and deletes the file.
  void Close();

 private:
  sqlite3* m_db = nullptr;
  QString m_path;
};

}  // namespace velmora
