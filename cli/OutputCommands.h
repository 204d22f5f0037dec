// The verbs `show` and `save` of velmora-recover, and what they share.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "engine/session/SQLiteRecovery.h"
#include "output/SaveDispatch.h"
#include "platform/Text.h"

namespace velmora::cli {

// Some objects could not be saved, or the save was stopped.
inline constexpr int kExitPartial = 3;

// `show FILE NAME [--kind table|view|index|trigger] [--deleted]`: the record
// grid of a table on standard output (a line of column captions, then one
// line per row, cells separated by TAB), or the statement of a view, index
// or trigger; with --deleted the deleted records of table NAME, with where
// each was found. The record-count text goes to standard error.
int RunShow(const QStringList& args);

// `save FILE OUTDIR [--table NAME]... [--view NAME]... [--trigger NAME]...
// [--index NAME]... [--deleted]`: writes OUTDIR/<file name of FILE> as the
// Save command does, one line per object on standard output; --deleted also
// writes the deleted records of the tables saved (of every table that has
// some when none is named) as <table>_deleted tables.
int RunSave(const QStringList& args);

// `export FILE OUTDIR [--table NAME]...`: writes each table (all when none is
// named) to OUTDIR/<table name>.csv (see output/CsvExport.h), never replacing
// an existing file; one line per table on standard output. Exit 3 when some
// table could not be written whole or Ctrl+C stopped the export.
int RunExport(const QStringList& args);

// Scans FILE and builds the working database as the Open command does, with
// Ctrl+C as the stop (`stop`); the scan's and the working database's messages go to
// standard error, and so do the lines saying where the pages came from
// (companion files, detected settings). False, after "File Corrupted" on
// standard error, when no table survived; false after the working database's
// message alone when it cannot be created.
// `findDeleted` also reads back the deleted records (the --deleted option).
bool OpenDamagedFile(CSQLiteRecovery& engine, const QString& file, IProgress& stop,
                     bool findDeleted = false);
// --main-file-only: OpenDamagedFile reads FILE alone, without FILE-wal and
// FILE-journal.
void SetMainFileOnly(bool mainFileOnly);

// A cell text on one line: backslash, TAB and line feed written as \\, \t, \n.
QString EscapeCell(const QString& text);

// Ctrl+C acts as the Stop button from the call on: the running work ends at
// its next progress poll.
void InstallStopOnInterrupt();
bool StopRequested();
// The tool's progress for work that shows none: it stops once Ctrl+C was
// pressed.
class InterruptStop : public IProgress {
 public:
  bool Step(const WalkStep&) override { return StopRequested(); }
};

// The progress line of a long save on standard error (only when it is a
// terminal): objects done, records written, records per second. As the
// save's progress it refreshes the line and stops once Ctrl+C was pressed.
class ProgressLine : public IProgress {
 public:
  explicit ProgressLine(int objects);
  bool Step(const WalkStep&) override {
    Refresh();
    return StopRequested();
  }
  void RecordsSaved(std::int64_t records) override { m_nCurrentRecords = records; }
  void SetObject(int index, const QString& name);
  // The object under way is done: its records count among the finished.
  void AddFinishedRecords(std::int64_t records) {
    m_nRecordsBefore += records;
    m_nCurrentRecords = 0;
  }
  void Refresh(bool force = false);
  void Clear();  // before other output on the terminal
  bool Active() const { return m_bTerminal; }

 private:
  bool m_bTerminal;
  int m_nObjects;
  int m_nIndex = 0;
  QString m_strName;
  std::int64_t m_nStartMs;
  std::int64_t m_nLastMs = 0;
  std::int64_t m_nRecordsBefore = 0;   // records of the tables finished earlier
  std::int64_t m_nCurrentRecords = 0;  // records of the table under way
  bool m_bShown = false;
};

// Finds `given` among the objects of `kind`: a real name first, then a tree
// text. Empty when nothing matches.
QString ResolveName(const CSQLiteRecovery& engine, ObjectKind kind, const QString& given);

// "table", "view", "index", "trigger" and back; false for an unknown word.
bool KindFromWord(const QString& word, ObjectKind* kind);
QString KindWord(ObjectKind kind);

}  // namespace velmora::cli
