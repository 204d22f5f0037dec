// RecoveryState: everything the recovery of one opened file knows, in one
// place. The session makes a new one for every Open (nothing survives from
// the file opened before); the passes (RecoveryPasses.h) read it and add
// their findings to it, in order.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/core/PageMap.h"
#include "engine/core/Progress.h"
#include "engine/pages/PageSource.h"
#include "engine/pages/TreeWalk.h"
#include "engine/passes/PassFindings.h"
#include "engine/schema/SchemaCatalog.h"

namespace velmora {

class WorkingDatabase;

struct RecoveryState {
  RecoveryState();
  ~RecoveryState();  // closes the working database and deletes its file
  RecoveryState(const RecoveryState&) = delete;
  RecoveryState& operator=(const RecoveryState&) = delete;

  QString sourcePath;  // as handed to the Open
  PageSource source;   // the file as numbered pages
  PageMap pages;       // every page's role, as the passes and walks learn it
  SchemaCatalog catalog;
  // Schema rows kept out of the catalog: internal tables (sqlite_sequence,
  // sqlite_stat1, ...) by name with their root page, and automatic indexes.
  std::map<QString, std::int64_t> internalRoots;
  std::vector<SchemaIndexRow> autoIndexes;
  SchemaScan schema;
  // Root pages of the live trees: page 1, then every root the schema names
  // that was kept, in schema order, each once.
  std::vector<std::int64_t> liveRoots;
  std::vector<std::int64_t> refusedRoots;  // sorted
  // Per root: the holes and completeness of its last walk that was not stopped.
  std::unordered_map<std::int64_t, std::vector<RowidRange>> holes;
  std::unordered_map<std::int64_t, bool> walkComplete;
  // The confined database the table statements are replayed in.
  std::unique_ptr<WorkingDatabase> working;
  QString workingError;  // why the working database could not be created
  // Tables the working database accepted (real names) and the virtual
  // tables by their schema row's name, in schema order.
  QStringList tableNames;
  OrphanPassResult orphans;
  bool findDeleted = false;  // the Open asked for the deleted records
  DeletedRecords deleted;    // rows the file still holds that were deleted

  bool RootRefused(std::int64_t root) const;
  // The holes of the last complete walk of `root`; the whole rowid range for
  // a refused root.
  const std::vector<RowidRange>& Holes(std::int64_t root) const;
  bool WalkComplete(std::int64_t root) const;
  // The root page of internal table `name` as its schema row gives it; 0 when none.
  std::int64_t InternalTableRoot(const QString& name) const;
  // Every name a new table must not take: the tables, the catalog's objects
  // and the internal tables.
  QStringList TakenNames() const;

  // Walks the tree under `root` (page 1 as the scan read it when its header
  // is damaged), recording its pages in the page map and, unless stopped,
  // its holes. A refused root is not walked: the report has one unusable
  // page and the whole rowid range as its hole.
  WalkReport Walk(std::int64_t root, ICellVisitor& visitor, IProgress& progress);
  // Walks the single page `page` as a tree of its own, outside the page map.
  WalkReport WalkLoose(std::int64_t page, ICellVisitor& visitor, IProgress& progress) const;
};

}  // namespace velmora
