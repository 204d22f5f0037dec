// The recovered database: the new, healthy SQLite file that a save writes.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

class CSQLiteRecovery;
class IProgress;

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

  // Every statement run on the recovered database has a bounded amount of
  // work: a progress handler interrupts one run (from its first step to its
  // reset) after kStatementBudget virtual-machine instructions. While a
  // statement read from the damaged file is replayed (see ConfinedReplay),
  // the handler also interrupts it when the user asks to stop, and a CREATE
  // INDEX may take as long as its table needs. Inserts and COMMITs are never
  // interrupted by a stop: the save commits what it wrote.
  static constexpr std::int64_t kStatementBudget = 200'000'000;
  struct Guard {
    sqlite3* db = nullptr;
    IProgress* progress = nullptr;  // asked between runs of a replayed statement
    bool replaying = false;         // a statement from the file is running
    bool unbounded = false;         // it may run past the budget (CREATE INDEX)
    bool stopped = false;           // the handler interrupted it for a stop
    bool exhausted = false;         // the handler interrupted it at the budget
    sqlite3_stmt* stmt = nullptr;   // the run being counted
    int run = -1;
    std::int64_t instructions = 0;
  };
  // Marks the start and the end of a replayed statement (see Guard).
  void BeginReplay(bool unbounded);
  // The progress whose stop interrupts a replayed statement (null: none).
  void SetProgress(IProgress* progress) { m_guard.progress = progress; }
  // Hands `progress` to the database for the life of the scope.
  class ProgressScope {
   public:
    ProgressScope(RecoveredDatabase* target, IProgress& progress) : m_target(target) {
      if (m_target != nullptr) m_target->SetProgress(&progress);
    }
    ~ProgressScope() {
      if (m_target != nullptr) m_target->SetProgress(nullptr);
    }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

   private:
    RecoveredDatabase* m_target;
  };
  // Ends the replay; how it was interrupted, if it was.
  Guard EndReplay();
  // A trigger was made (only a replayed CREATE TRIGGER makes one).
  void NoteTrigger() { m_triggers = true; }
  bool HasTriggers() const { return m_triggers; }

 private:
  sqlite3* m_db = nullptr;
  Guard m_guard;
  QString m_folder;
  QString m_path;
  QHash<QString, VirtualSave> m_virtualSaves;
  bool m_triggers = false;
};

}  // namespace velmora
