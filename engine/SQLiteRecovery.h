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
#include <unordered_map>
#include <vector>

#include "engine/OrphanPass.h"
#include "engine/PageMap.h"
#include "engine/PagePasses.h"
#include "engine/PagePicture.h"
#include "engine/PageSource.h"
#include "engine/RecordDecoder.h"
#include "engine/RecordView.h"
#include "engine/SchemaCatalog.h"
#include "engine/Sinks.h"
#include "engine/TreeWalk.h"

struct sqlite3;

namespace velmora {

class WorkingDatabase;

// A schema row of an automatic index (sqlite_autoindex_TABLE_N, no
// statement), which the catalog does not keep.
struct SchemaIndexRow {
  QString name;
  QString tableName;
  std::int64_t rootPage = 0;
};

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
  };

  // The Open entry: opens and validates the file `path` (trimmed) with its
  // companion files as `options` says, walks the schema b-tree from page 1
  // and fills the schema catalog.
  ScanOutcome ScanDatabase(const QString& path, const ScanOptions& options);
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
  // Never ends the process: when the database cannot be created the outcome
  // says why and TableNames() stays empty.
  WorkingDbOutcome BuildWorkingDatabase();

  // Walks the b-tree rooted at `root`, handing every cell to `visitor`, and
  // records the pages it uses in the page map. `progress` (may be null) is
  // polled between units of work; when it is null the session's progress
  // callback is polled instead. A refused root is not walked: the report is
  // incomplete, with one unusable page and the whole rowid range as its hole.
  // The holes of a walk that was not stopped are kept (Holes).
  WalkReport WalkPage(std::int64_t root, ICellVisitor& visitor, IWalkProgress* progress);

  // Walks the single orphan page `page` as a tree of its own, without
  // recording it in the page map (it belongs to no live tree).
  WalkReport WalkLoosePage(std::int64_t page, ICellVisitor& visitor, IWalkProgress* progress);

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
  const QString& SourcePath() const { return m_sourcePath; }   // as handed to ScanDatabase
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
  // For the passes that give pages their roles (PagePasses.h).
  PageMap& MutablePages() { return m_pageMap; }
  // Root pages of the live trees: the schema tree's page 1, then every root
  // the schema names that was kept, in schema order, each once.
  const std::vector<std::int64_t>& LiveRoots() const { return m_liveRoots; }
  // True when a schema row names `root` but the page was refused as its root.
  bool RootRefused(std::int64_t root) const;
  // Page 1 was read without its damaged b-tree header.
  bool FirstPageReadLoosely() const { return m_firstPageLoose; }
  // The schema tree was damaged, so the whole file was searched for schema rows.
  bool SchemaSearched() const { return m_schemaSearched; }
  // Schema rows taken from pages outside the schema tree (catalog objects
  // with origin FoundInFile, and rows the catalog does not keep, such as
  // automatic indexes and sqlite_sequence).
  std::int64_t SchemaRowsFound() const { return m_schemaRowsFound; }
  // The holes the last complete walk of `root` found (empty when none or
  // not walked yet); the whole rowid range for a refused root.
  const std::vector<RowidRange>& Holes(std::int64_t root) const;
  // True when the last walk of `root` ran to its end and used every page
  // under it; false for a refused root or one not walked yet.
  bool WalkComplete(std::int64_t root) const;
  // What the orphan pass found (empty before BuildWorkingDatabase).
  const OrphanPassResult& Orphans() const { return m_orphans; }
  // The orphan leaf pages put back into table `name` (real name), in walk
  // order; null when none.
  const PutBackPages* PutBack(const QString& name) const;
  // The lost-and-found table's schema object; null when every orphan row
  // found its table.
  const SchemaObject* LostAndFound() const;
  // What the recovery made of every page, one byte a page (see
  // engine/PagePicture.h), for the page map of the summary. Meaningful once
  // BuildWorkingDatabase ran the orphan pass; `progress` (may be null) is
  // polled between pages.
  PagePicture PageUses(IWalkProgress* progress) const { return DrawPagePicture(*this, progress); }
  // The automatic-index schema rows the scan read.
  const std::vector<SchemaIndexRow>& AutoIndexRows() const { return m_autoIndexes; }
  // Tables the working database accepted, by real name, and the virtual
  // tables by their schema row's name, in schema order.
  const QStringList& TableNames() const { return m_tableNames; }
  // The working connection (null before BuildWorkingDatabase or when it failed).
  sqlite3* WorkingDb() const;
  QString WorkingDbPath() const;

 private:
  // Rebuilds and replays the refused statement of `table` (a catalog entry);
  // true when the working database took the rebuilt one.
  bool RepairStatement(SchemaObject& table);
  // Chooses the live roots among the schema's claims and maps their trees.
  void ChooseLiveRoots(std::vector<RootCandidate> candidates);
  // Reads page 1 and decides whether it is read loosely (m_firstPage).
  void ReadFirstPage();
  // The whole-file search for schema rows, then the roots chosen again with
  // `candidates` (the schema tree's claims) and the claims of the rows taken.
  void SearchWholeFile(std::vector<RootCandidate> candidates);
  // Makes tables of the orphan trees without a schema row (after the orphan
  // pass) and takes their groups out of lost and found.
  void AddRecoveredTrees(IWalkProgress* progress);

  ProgressProc m_pfnProgress = nullptr;
  void* m_pOwner = nullptr;
  QString m_sourcePath;
  PageSource m_source;
  PageMap m_pageMap;
  SchemaCatalog m_catalog;
  std::map<QString, std::int64_t> m_internalRoots;  // schema rows kept out of the catalog
  std::vector<SchemaIndexRow> m_autoIndexes;
  std::vector<std::int64_t> m_liveRoots;
  PageLayout m_firstPage;  // page 1 read without its header, when m_firstPageLoose
  bool m_firstPageLoose = false;
  // Schema-shaped cells of page 1 that no pointer lists, passed over for its
  // interior reading: they only fill objects no live schema row describes.
  std::vector<std::uint32_t> m_firstPageFragments;
  bool m_schemaSearched = false;
  std::int64_t m_schemaRowsFound = 0;
  std::vector<std::int64_t> m_refusedRoots;  // sorted
  std::unordered_map<std::int64_t, std::vector<RowidRange>> m_holes;
  std::unordered_map<std::int64_t, bool> m_walkComplete;
  QStringList m_tableNames;
  OrphanPassResult m_orphans;
  std::unique_ptr<WorkingDatabase> m_working;
};

}  // namespace velmora
