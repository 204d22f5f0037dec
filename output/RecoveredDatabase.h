// The recovered database: the new, healthy SQLite file that a save writes.
#pragma once

#include <QString>

struct sqlite3;

namespace velmora {

class CSQLiteRecovery;

// Owns the connection to the recovered database; the destructor commits what
// was written and closes it.
class RecoveredDatabase {
 public:
  RecoveredDatabase() = default;
  ~RecoveredDatabase();  // Close()
  RecoveredDatabase(const RecoveredDatabase&) = delete;
  RecoveredDatabase& operator=(const RecoveredDatabase&) = delete;

  // Creates `fileName` in `folder` (the folder is made again when it has
  // vanished) with the damaged file's text encoding, and opens it for the
  // save. Refuses a destination where a file of that name exists already (the
  // damaged file in particular): the file is created exclusively, never
  // through a symbolic link. On failure returns false, sets *error to a
  // message for the user and writes the can't-open line to standard error
  // when the library refused. Never ends the process.
  bool Open(const CSQLiteRecovery& engine, const QString& folder, const QString& fileName,
            QString* error);
  // Commits what was written and closes the connection.
  void Close();

  sqlite3* Db() const { return m_db; }
  const QString& Folder() const { return m_folder; }
  const QString& Path() const { return m_path; }  // the file, folder and name joined

 private:
  sqlite3* m_db = nullptr;
  QString m_folder;
  QString m_path;
};

}  // namespace velmora
