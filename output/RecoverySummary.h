// The recovery summary: what the opened file holds and what came back of
// it, before anything is saved. The window shows it for the tree's root item;
// the tool's `list --counts` prints its per-table figures.
//
// Figures that later recovery passes provide (freelist and orphan pages,
// rows put back from orphan pages, lost and found, companion files) have
// their fields here already; until those passes exist they read as "not
// known" (-1) or 0, and the texts say so.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "engine/core/Values.h"
#include "engine/session/SQLiteRecovery.h"
#include "engine/session/Sinks.h"

namespace velmora {

// One table of the summary.
//
//  name             real name, as the tree and TableNames() hold it
//  rootPage         root page of its tree (0 when its schema row has none)
//  rows             records its own tree gives (as the grid and the save count them)
//  rowsFromOrphans  records put back from orphan pages by the orphan pass
//  rowsMaybeLost    records kept in the lost-and-found table that may be its
//                   own (their group fits it and another table, or clashed)
//  lostAndFound     the name of the lost-and-found table (empty when none)
//  pagesLost        pages of its tree that could not be used (their subtrees are lost)
//  treeDamaged      its tree's walk did not use every page or cell under it
//  cellsSkipped     cells whose pointer or size does not fit their page
//  counted          its tree was walked to the end (false: stopped before, or no columns known)
//  inSchema         a schema row of the file names it (false for a table the
//                   working database made itself, such as sqlite_sequence)
//  recoveredTree    made from orphan trees without a schema row: every row
//                   is in rowsFromOrphans; `note` says what named it
struct TableSummary {
  QString name;
  bool inSchema = true;
  bool recoveredTree = false;
  bool virtualTable = false;  // a virtual table: no tree of its own, nothing to lose
  QString note;
  std::int64_t rootPage = 0;
  std::int64_t rows = 0;
  std::int64_t rowsFromOrphans = 0;
  std::int64_t rowsMaybeLost = 0;
  QString lostAndFound;
  std::int64_t pagesLost = 0;
  std::int64_t cellsSkipped = 0;
  bool treeDamaged = false;
  bool counted = false;
  // Whether anything of its tree was lost.
  bool HasLosses() const {
    return inSchema && !recoveredTree && !virtualTable &&
           (pagesLost > 0 || cellsSkipped > 0 || treeDamaged || rootPage <= 0);
  }
  // What was lost and what of it came back, in one sentence; empty when
  // nothing was lost.
  QString LossText() const;
};

// What the open already knows of table `name` (real name) without reading its
// records: its root page, the pages its tree lost (the holes of the mapping
// walk), the rows the orphan pass put back into it and the rows kept in lost
// and found that may be its own. `rows` and `cellsSkipped` stay 0 and
// `counted` false. The window marks damaged tables with it as soon as the tree
// is filled.
TableSummary OpenedTableSummary(const CSQLiteRecovery& engine, const QString& name);

// Walks the tree of every table once without decoding a record, so that the
// holes and the completeness the engine keeps per tree (and with them
// OpenedTableSummary) cover the leaf pages too, not only what the mapping of
// the live trees read. Polls the engine's progress callback; moves
// `progressBar` (may be null) from table to table. False when stopped.
bool WalkTableTrees(CSQLiteRecovery& engine, IProgress& progress,
                    IProgressBar* progressBar = nullptr);

// The whole summary. Page figures count pages of the file (page 1 included).
//
//  pagesInTrees     b-tree and overflow pages of the live trees (schema,
//                   tables, indexes) that the walks used
//  pagesFreelist    pages on the freelist (trunks and leaves)
//  pagesOrphan      table pages no live tree or the freelist reaches, as the
//                   orphan pass found them; -1 when it did not run to its end
//  pagesUnusable    pages a tree points to that could not be used
//  companions       where the pages came from when not all from the database
//                   file at its header's settings (write-ahead log, hot
//                   journal, detected settings): one line each; empty otherwise
//  rowsLostAndFound records kept apart because their table is not known;
//                   -1 when the orphan pass did not run to its end
//  schema           how the schema was recovered when the schema tree was
//                   damaged (DescribeSchemaRecovery): page 1 read without
//                   its b-tree header, schema rows found outside the tree
//  tablesRecovered  tables made from orphan trees without a schema row
//  rowsRecovered    the records those tables hold
//  pageMap          every page by what the recovery made of it (engine/PagePicture.h)
//  deleted          per table whose deleted rows the file still holds (the
//                   live table's name, a dropped table's, or deleted_table_N):
//                   how many came back whole and how many partial
//  deletedSearched  the deleted records were looked for (the Open asked)
//  stopped          the counting was stopped; tables not reached are not counted
struct DeletedSummary {
  QString table;
  std::int64_t whole = 0;
  std::int64_t partial = 0;
};
struct RecoverySummary {
  QString file;
  std::int64_t fileSize = 0;
  std::int64_t pageSize = 0;
  std::int64_t reserved = 0;
  std::uint32_t encoding = 0;
  std::int64_t pageCount = 0;
  std::int64_t pagesInTrees = 0;
  std::int64_t pagesFreelist = -1;
  std::int64_t pagesOrphan = -1;
  std::int64_t pagesUnusable = 0;
  QStringList companions;
  std::int64_t rowsLostAndFound = -1;
  QStringList schema;
  std::int64_t tablesRecovered = 0;
  std::int64_t rowsRecovered = 0;
  std::vector<TableSummary> tables;
  PagePicture pageMap;
  std::vector<DeletedSummary> deleted;
  bool deletedSearched = false;
  bool stopped = false;

  const TableSummary* Table(const QString& name) const;
};

// Counts what `engine` (scanned, with its working database) holds: walks
// every table once with a counting reader and every index tree once, so that
// the page map knows the live trees, then counts the pages. Polls
// `progress` between cells (a stop ends the counting, with
// `stopped` set); moves `progressBar` (may be null) from table to table.
RecoverySummary MakeSummary(CSQLiteRecovery& engine, IProgress& progress,
                            IProgressBar* progressBar = nullptr);

// The summary as the window shows it: plain text, one figure per line, then
// one line per table.
QString FormatSummary(const RecoverySummary& summary);

}  // namespace velmora
