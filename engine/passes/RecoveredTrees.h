// Tables without a schema row: orphan trees that no table of the schema fits
// become tables of their own instead of rows in lost and found.
//
// Run by the session after the orphan pass. A lost group (OrphanPass.h) is
// taken when no table was a candidate for it, its top page is not a child of
// any b-tree page the session knows, and the pointer map (auto-vacuum files)
// does not lead from it to a live tree. Groups with the same shape (field
// count range and storage classes per position, NULL set aside, integer and
// real taken as one) whose rowid
// ranges are all disjoint are the pieces of one lost tree and make one
// table; when such groups overlap in rowids they belong to several tables and
// each stays a table of its own.
//
// Each table is named from the evidence the file holds, strongest first:
//   1. the surviving schema row of an index (CREATE INDEX ... ON NAME(...),
//      or sqlite_autoindex_NAME_N) of a table that has no schema row, when
//      every row of the tree is an entry of that index (its key values at
//      record positions, and its rowid): NAME, with the index's column names
//      on the positions its keys were found at;
//   2. records shaped like the internal tables: two fields (a distinct table
//      name, an integer) make sqlite_sequence, three fields (table name,
//      index name or NULL, integers separated by spaces) make sqlite_stat1,
//      when at least one of the names is a table the file knows;
//   3. else recovered_table_N (N from 1, the first name no object uses,
//      compared without regard to ASCII case).
// Columns are built from the records: as many as the widest record, named
// c1..cN unless an index names them, typed after the storage class most of
// their values have. A table that sqlite_sequence names, with exactly one
// position NULL in every record, gets that position as its AUTOINCREMENT
// rowid alias (AUTOINCREMENT requires one).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "engine/core/Progress.h"
#include "engine/passes/PassFindings.h"
#include "engine/schema/IndexStatement.h"

namespace velmora {

struct RecoveryState;

// One table made from orphan trees.
struct RecoveredTable {
  QString name;
  // The CREATE TABLE statement for the working database; for an internal
  // table (sqlite_sequence, sqlite_stat1) its fixed statement.
  QString sql;
  // A plainer statement to try when `sql` is refused (no rowid alias); may
  // be empty.
  QString fallbackSql;
  bool internal = false;
  QString note;                     // what named it and how its columns were built
  std::vector<std::size_t> groups;  // indices into OrphanPassResult::lostGroups
  std::vector<std::int64_t> pages;  // their leaf pages, in rowid order of the groups
  std::int64_t rows = 0;
};

// The record shape two groups must share to be pieces of one tree.
bool SameShape(const LostGroup& a, const LostGroup& b);

// Sorts the groups at `eligible` (indices into `groups`) into the trees they
// make: groups of one shape form one tree when their rowid ranges are
// pairwise disjoint, else each is a tree of its own. Each tree lists its
// groups in rowid order; trees are ordered by their first group's top page.
std::vector<std::vector<std::size_t>> GroupLostTrees(const std::vector<LostGroup>& groups,
                                                     const std::vector<std::size_t>& eligible);

// "recovered_table_N" with the first N from 1 that no name of `taken` uses
// (compared without regard to ASCII case).
QString RecoveredTableName(const QStringList& taken);

// Finds the tables among the state's lost groups (the orphan pass has run). `taken` holds every
// name already used (tables, schema objects). Reads the groups' pages and the surviving indexes'
// trees; `progress` is polled between units of work. Returns nothing when stopped or when no group
// is eligible. The groups of the returned tables are no longer lost; the caller moves them.
std::vector<RecoveredTable> FindRecoveredTables(RecoveryState& state, const QStringList& taken,
                                                IProgress& progress);

}  // namespace velmora
