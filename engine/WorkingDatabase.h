// The working database "SQLiteDb.db": the recovered CREATE TABLE statements
// are replayed into it so that SQLite itself judges them and reports their
// columns. Owned by the recovery session; closed and deleted with it.
#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

namespace velmora {

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
