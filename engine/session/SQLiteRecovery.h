// CSQLiteRecovery: the recovery session for one damaged database file that
// the user opened, and the operations that read it.
//
// The session holds one RecoveryState (the page source, the page map, the
// catalog, the chosen roots, the holes, the working database and the
// findings of each pass), made anew by every Open, and runs the recovery
// passes over it in the order engine/RecoveryPasses.h lists them. The file is
// opened read-only and read page by page with plain reads; the SQLite
// library is never asked to open it. Results come back as values; the
// session itself shows nothing. Every long operation takes the IProgress
// that paints its progress and asks it to stop.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/core/PageMap.h"
#include "engine/core/Progress.h"
#include "engine/core/RecordView.h"
#include "engine/pages/PageSource.h"
#include "engine/pages/RecordDecoder.h"
#include "engine/pages/TreeWalk.h"
#include "engine/passes/PagePicture.h"
#include "engine/passes/PassFindings.h"
#include "engine/schema/SchemaCatalog.h"
#include "engine/session/Sinks.h"

struct sqlite3;

namespace velmora {

struct RecoveryState;

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
    QString path;     // the working database's file (its folder when it could not be made)
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
    // Also read back the records the application deleted (the "deleted
    // records" pass of BuildWorkingDatabase); off, Deleted() stays empty.
    bool findDeleted = false;
  };

  // The Open entry: replaces the state of the file opened before with a new
  // one, opens and validates the file `path` (trimmed) with its companion
  // files as `options` says, and runs the scan passes: walks the schema
  // b-tree from page 1 and fills the schema catalog.
  ScanOutcome ScanDatabase(const QString& path, const ScanOptions& options,
                           IProgress& progress = NoProgress());
  ScanOutcome ScanDatabase(const QString& path) { return ScanDatabase(path, ScanOptions()); }
  // After the schema walk the schema's root pages are chosen (a root of the
  // wrong family, one whose records do not fit its table, one two rows claim
  // without evidence for one of them, is refused) and the live trees are
  // mapped in the page map, so that no walk takes another tree's pages.
  //
  // When page 1's b-tree header is damaged, page 1 is read without it
  // (engine/SchemaSearch.h, ReadFirstPageLoosely); every walk of page 1 uses
  // that reading. When the schema tree is damaged (page 1 read that way or
  // unusable, or its walk lost a page), every page that no live tree and no
  // freelist holds is searched for records shaped like schema rows; the rows
  // taken (ChooseFoundRows) join the catalog with origin FoundInFile, the
  // roots are chosen again with their claims, and the leaf pages made of
  // such records are given to the schema tree in the page map (they are not
  // orphan table pages).

  // Creates this session's own working database (a new file with a name of
  // its own, engine/WorkingDatabase.h) in the working folder, replays the catalog's CREATE TABLE
  // statements into it and reads back the table names it accepted. A
  // statement the library refuses is rebuilt (engine/SchemaRepair.h) from
  // its surviving text and the table's records; the catalog then holds the
  // rebuilt statement in `sql` and the damaged one in `originalSql`. Virtual
  // tables are not run here; they are listed by name. Then runs
  // the orphan pass (engine/OrphanPass.h): orphan table pages are put back
  // into their tables (PutBack), and when rows fit no table a lost-and-found
  // table is added to the catalog and the working database (LostAndFound).
  // Before that, orphan trees that no table fits and no schema row names
  // become tables of their own (engine/RecoveredTrees.h): catalog objects
  // with origin RecoveredTree and no root page, whose rows are read from
  // their pages (PutBack) and are not in lost and found.
  // These are the build passes of engine/RecoveryPasses.h, run in their
  // order; `progress` is polled by each.
  // Never ends the process: when the database cannot be created the outcome
  // says why and TableNames() stays empty.
  WorkingDbOutcome BuildWorkingDatabase(IProgress& progress = NoProgress());

  // Walks the b-tree rooted at `root`, handing every cell to `visitor`, and
  // records the pages it uses in the page map. `progress` is told of every
  // page and cell; a stop ends the walk after the cell in progress. A refused
  // root is not walked: the report is incomplete, with one unusable page and
  // the whole rowid range as its hole. The holes of a walk that was not
  // stopped are kept (Holes).
  WalkReport WalkPage(std::int64_t root, ICellVisitor& visitor, IProgress& progress);

  // Walks the single orphan page `page` as a tree of its own, without
  // recording it in the page map (it belongs to no live tree).
  WalkReport WalkLoosePage(std::int64_t page, ICellVisitor& visitor, IProgress& progress);

  // Gives every page of the file its role in the page map now (the orphan
  // pass does so itself) and returns the counts per role.
  PageCounts ClassifyPages(IProgress& progress = NoProgress());

  // Runs the pass named `name` (engine/RecoveryPasses.h) once more over the
  // state as it is, for benches that time one pass; false when no pass has
  // that name or it failed.
  bool RunPassAgain(std::string_view name, IProgress& progress);

  // Decodes a cell that a walk handed on into `view` (its overflow pages
  // claimed for the walk, long values in save mode written to the files
  // `files` names); returns whether the record fits its cell.
  bool DecodeCell(const CellRef& cell, DecodeMode mode, ILongValueFiles* files,
                  RecordView& view) const;
  // Decodes the cell at `cellOffset` of a page image outside any walk;
  // returns whether the record lies inside the page.
  bool DecodeCell(std::uint8_t pageType, const std::uint8_t* page, std::int64_t pageLength,
                  std::int64_t cellOffset, DecodeMode mode, ILongValueFiles* files,
                  RecordView& view) const;

  // --- what the session knows ---
  const QString& SourcePath() const;  // as handed to ScanDatabase
  const QString& FilePath() const;    // trimmed; empty when not opened
  const Geometry& geometry() const;
  const PageSource& Source() const;
  // Which files the pages came from and what was detected (valid after a scan).
  const SourceReport& SourceInfo() const;
  const SchemaCatalog& Catalog() const;
  const PageMap& Pages() const;
  // The root page of the internal table `name` (sqlite_sequence,
  // sqlite_stat1, sqlite_stat4) as its schema row gives it; 0 when the scan
  // found no such row.
  std::int64_t InternalTableRoot(const QString& name) const;
  // Root pages of the live trees: the schema tree's page 1, then every root
  // the schema names that was kept, in schema order, each once.
  const std::vector<std::int64_t>& LiveRoots() const;
  // True when a schema row names `root` but the page was refused as its root.
  bool RootRefused(std::int64_t root) const;
  // Page 1 was read without its damaged b-tree header.
  bool FirstPageReadLoosely() const;
  // The schema tree was damaged, so the whole file was searched for schema rows.
  bool SchemaSearched() const;
  // Schema rows taken from pages outside the schema tree (catalog objects
  // with origin FoundInFile, and rows the catalog does not keep, such as
  // automatic indexes and sqlite_sequence).
  std::int64_t SchemaRowsFound() const;
  // What the reading of page 1 and the schema tree found (the three above).
  const SchemaScan& SchemaFindings() const;
  // The holes the last complete walk of `root` found (empty when none or
  // not walked yet); the whole rowid range for a refused root.
  const std::vector<RowidRange>& Holes(std::int64_t root) const;
  // True when the last walk of `root` ran to its end and used every page
  // under it; false for a refused root or one not walked yet.
  bool WalkComplete(std::int64_t root) const;
  // What the orphan pass found (empty before BuildWorkingDatabase).
  const OrphanPassResult& Orphans() const;
  // The deleted records the file still holds (empty before
  // BuildWorkingDatabase); never part of any table's rows.
  const DeletedRecords& Deleted() const;
  // The orphan leaf pages put back into table `name` (real name), in walk
  // order; null when none.
  const PutBackPages* PutBack(const QString& name) const;
  // The lost-and-found table's schema object; null when every orphan row
  // found its table.
  const SchemaObject* LostAndFound() const;
  // What the recovery made of every page, one byte a page (see
  // engine/PagePicture.h), for the page map of the summary. Meaningful once
  // BuildWorkingDatabase ran the orphan pass; `progress` is polled
  // between pages.
  PagePicture PageUses(IProgress& progress) const;
  // The automatic-index schema rows the scan read.
  const std::vector<SchemaIndexRow>& AutoIndexRows() const;
  // Tables the working database accepted, by real name, and the virtual
  // tables by their schema row's name, in schema order.
  const QStringList& TableNames() const;
  // TableNames().contains(name), by a lookup instead of a pass over the list.
  bool HasTable(const QString& name) const;
  // The working connection (null before BuildWorkingDatabase or when it failed).
  sqlite3* WorkingDb() const;
  QString WorkingDbPath() const;

 private:
  // Runs the passes of `phase` in their order; false when one failed.
  bool RunPasses(int phase, IProgress& progress);

  std::unique_ptr<RecoveryState> m_state;  // never null
  // The names of TableNames(), made again whenever the passes change it.
  QSet<QString> m_tableSet;
};

// What the session did to recover the schema, one line each (see
// engine/SchemaSearch.h).
QStringList DescribeSchemaRecovery(const CSQLiteRecovery& session);

}  // namespace velmora
