// The working database: the recovered CREATE TABLE statements are replayed
// into it so that SQLite itself judges them and reports their columns. Each
// process makes its own, "SQLiteDb-XXXXXX.db" with a name no other file has,
// in the working folder. Owned by the recovery session; closed and deleted
// with it, and only the file this process made is ever deleted.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

struct sqlite3;

namespace velmora {

// The statement that creates the internal table `name` (sqlite_sequence,
// sqlite_stat1, sqlite_stat4, in any letter case) as the library itself
// writes it; empty for any other name. These tables keep the rows the file
// holds, so they are created with these fixed statements, never with
// statements read from the file.
QString InternalTableStatement(const QString& name);

// True when `db` holds an ordinary table (not a view, not sqlite_schema
// itself) called `name` in its main database, in any letter case, as the library's own name lookup
// finds it: a lookup in its schema hash, not a scan of sqlite_schema.
bool HasTable(sqlite3* db, const QString& name);

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

  // The folder the working database goes to: the one SetFolder() chose,
  // else WorkingFolder().
  static QString Folder();
  // A folder chosen by the user (--work-dir): the working database goes
  // there or nowhere, never to another folder. Empty: WorkingFolder().
  static void SetFolder(const QString& folder);

  // Creates a new database file in `folder` under a name that no file there
  // has ("SQLiteDb-XXXXXX.db", made with O_EXCL, so that two processes
  // sharing a folder never meet and no existing file is touched) and opens a
  // transaction for the replay. Its rollback journal stays in memory, so the
  // database file is the only file it makes. False with *error set when the
  // file or the database cannot be created.
  bool CreateIn(const QString& folder, QString* error);

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
  // Ends the replay's transaction; false when the library refused the
  // commit and the replayed tables were rolled back.
  bool Commit();

  // The ordinary tables the database holds, in schema order.
  QStringList TableNames() const;
  // The ordinary tables made since the last call (since CreateIn for the
  // first), in schema order. The library gives each new schema row the next
  // rowid, so only the rows past the last one seen are read: replaying a
  // schema table by table costs no scan of all the tables made before.
  QStringList NewTables();
  // True when the database holds the ordinary table `name` (HasTable).
  bool Holds(const QString& name) const { return m_db != nullptr && HasTable(m_db, name); }

  sqlite3* Db() const { return m_db; }
  const QString& Path() const { return m_path; }
  // Closes the connection and deletes the file this object made.
  void Close();

 private:
  sqlite3* m_db = nullptr;
  QString m_path;
  std::int64_t m_lastSchemaRowid = 0;  // the last sqlite_schema row NewTables() read
};

}  // namespace velmora
