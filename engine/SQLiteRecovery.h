// CSQLiteRecovery: the recovery session for one damaged database file that
// the user opened, and the operations that read it.
//
// The session owns the layers of the engine: the page source (the file as
// numbered pages), the page map, the schema catalog and the working
// database. The file is opened read-only and read page by page with plain
// reads; the SQLite library is never asked to open it. Results come back as
// values; the session itself shows nothing.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>

#include "engine/PageMap.h"
#include "engine/PageSource.h"
#include "engine/RecordDecoder.h"
#include "engine/RecordView.h"
#include "engine/SchemaCatalog.h"
#include "engine/Sinks.h"
#include "engine/TreeWalk.h"

struct sqlite3;

namespace velmora {

class WorkingDatabase;

class CSQLiteRecovery {
 public:
  // What the scan of the file came to; the window shows the message in a
  // box, the tool writes it to standard error.
  enum class ScanOutcome {
    Opened,     // the schema was walked (it may still hold no table)
    NotOpen,    // "File Not Open !"
    Corrupted,  // "File Corrupted": no usable page size or no whole page
  };
  // The text the program shows for an outcome other than Opened.
  static QString ScanMessage(ScanOutcome outcome);

  // What building the working database came to.
  struct WorkingDbOutcome {
    QString path;     // the working database's file
    QString message;  // empty when it was created; else a message naming the path and the error
  };

  CSQLiteRecovery();
  ~CSQLiteRecovery();  // closes the working database and deletes its file
  CSQLiteRecovery(const CSQLiteRecovery&) = delete;
  CSQLiteRecovery& operator=(const CSQLiteRecovery&) = delete;

  // How the file is read.
  struct ScanOptions {
    // Read FILE-wal and FILE-journal beside the file as SQLite would (their
    // committed or original pages take the place of the file's); false reads
    // the database file alone.
    bool useCompanions = true;
  };

  // The Open entry: opens and validates the file `path` (trimmed) with its
  // companion files as `options` says, walks the schema b-tree from page 1
  // and fills the schema catalog.
  ScanOutcome ScanDatabase(const QString& path, const ScanOptions& options);
  ScanOutcome ScanDatabase(const QString& path) { return ScanDatabase(path, ScanOptions()); }

  // Creates the working database "SQLiteDb.db" in the program's working
  // folder (a stale one is removed first), replays the catalog's CREATE TABLE
  // statements into it and reads back the table names it accepted. Never ends
  // the process: when the database cannot be created the outcome says why and
  // TableNames() stays empty.
  WorkingDbOutcome BuildWorkingDatabase();

  // Walks the b-tree rooted at `root`, handing every cell to `visitor`, and
  // records the pages it uses in the page map. `progress` (may be null) is
  // polled between units of work; when it is null the session's progress
  // callback is polled instead.
  WalkReport WalkPage(std::int64_t root, ICellVisitor& visitor, IWalkProgress* progress);

  // Decodes a cell that a walk handed on into `view`.
  void DecodeCell(const CellRef& cell, DecodeMode mode, ILongValueFiles* files,
                  RecordView& view) const;
  // Decodes the cell at `cellOffset` of a page image outside any walk.
  void DecodeCell(std::uint8_t pageType, const std::uint8_t* page, std::int64_t pageLength,
                  std::int64_t cellOffset, DecodeMode mode, ILongValueFiles* files,
                  RecordView& view) const;

  // The progress and stop callback: called with 0 and `owner` between units
  // of work; a true result asks the running work to stop.
  void SetProgress(ProgressProc proc, void* owner) {
    m_pfnProgress = proc;
    m_pOwner = owner;
  }
  void* ProgressOwner() const { return m_pOwner; }
  // Calls the progress callback; false when there is none.
  bool ProgressStop() const { return m_pfnProgress != nullptr && m_pfnProgress(0, m_pOwner); }

  // --- what the session knows ---
  const QString& SourcePath() const { return m_sourcePath; }  // as handed to ScanDatabase
  const QString& FilePath() const { return m_source.Path(); }  // trimmed; empty when not opened
  const Geometry& geometry() const { return m_source.geometry(); }
  const PageSource& Source() const { return m_source; }
  // Which files the pages came from and what was detected (valid after a scan).
  const SourceReport& SourceInfo() const { return m_source.Report(); }
  const SchemaCatalog& Catalog() const { return m_catalog; }
  const PageMap& Pages() const { return m_pageMap; }
  // The root page of the internal table `name` (sqlite_sequence,
  // sqlite_stat1, sqlite_stat4) as its schema row gives it; 0 when the scan
  // found no such row.
  std::int64_t InternalTableRoot(const QString& name) const;
  // Tables the working database accepted, by real name, in schema order.
  const QStringList& TableNames() const { return m_tableNames; }
  // The working connection (null before BuildWorkingDatabase or when it failed).
  sqlite3* WorkingDb() const;
  QString WorkingDbPath() const;

 private:
  ProgressProc m_pfnProgress = nullptr;
  void* m_pOwner = nullptr;
  QString m_sourcePath;
  PageSource m_source;
  PageMap m_pageMap;
  SchemaCatalog m_catalog;
  std::map<QString, std::int64_t> m_internalRoots;  // schema rows kept out of the catalog
  QStringList m_tableNames;
  std::unique_ptr<WorkingDatabase> m_working;
};

}  // namespace velmora
