// The recovered database: the new, healthy SQLite file that a save writes.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>

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

  // What became of a virtual table recreated (or tried) in this save, so
  // that its shadow tables and a second request report the same.
  struct VirtualSave {
    bool written = false;      // the virtual table exists in the recovered database
    std::int64_t records = 0;  // the rows it holds (documents, boxes)
    QString error;             // why it was not (fully) recreated
    QString note;              // what the user should know
    bool incomplete = false;   // part of a shadow table could not be read
    // Its schema row was written as the file holds it without running its
    // module (which the library lacks, or which refused the statement): its
    // shadow tables are saved as plain tables with their own statements.
    bool asStored = false;
    QHash<QString, std::int64_t> shadowRecords;  // rows each shadow table holds (lower case)
  };
  // The save of the virtual table `name` (case-insensitive); null before it.
  const VirtualSave* FindVirtualSave(const QString& name) const {
    const auto it = m_virtualSaves.constFind(name.toLower());
    return it == m_virtualSaves.constEnd() ? nullptr : &it.value();
  }
  void AddVirtualSave(const QString& name, const VirtualSave& save) {
    m_virtualSaves.insert(name.toLower(), save);
  }

  sqlite3* Db() const { return m_db; }
  const QString& Folder() const { return m_folder; }
  const QString& Path() const { return m_path; }  // the file, folder and name joined

 private:
  sqlite3* m_db = nullptr;
  QString m_folder;
  QString m_path;
  QHash<QString, VirtualSave> m_virtualSaves;
};

}  // namespace velmora
