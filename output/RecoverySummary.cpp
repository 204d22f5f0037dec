#include "output/RecoverySummary.h"

#include <QFileInfo>
#include <algorithm>
#include <exception>

#include "engine/core/Format.h"
#include "engine/passes/OrphanPass.h"
#include "engine/passes/SchemaSearch.h"
#include "output/DeletedOutput.h"
#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"
#include "output/TableExtraction.h"

namespace velmora {
namespace {

// Walks an index tree only for the page map: its cells are not decoded.
class PageOnlyVisitor : public ICellVisitor {
 public:
  explicit PageOnlyVisitor(IProgress& progress) : m_progress(progress) {}
  CellUse VisitCell(const CellRef&) override {
    return m_progress.Poll() ? CellUse::Stop : CellUse::Used;
  }

 private:
  IProgress& m_progress;
};

QString Plural(std::int64_t n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

}  // namespace

QString TableSummary::LossText() const {
  if (rootPage <= 0) return QStringLiteral("its schema row gives no root page: its rows are lost");
  QStringList parts;
  if (pagesLost > 0)
    parts << Plural(pagesLost, "page of its tree could not be used",
                    "pages of its tree could not be used");
  if (cellsSkipped > 0)
    parts << Plural(cellsSkipped, "damaged cell was skipped", "damaged cells were skipped");
  if (parts.isEmpty() && treeDamaged) parts << QStringLiteral("part of its tree could not be read");
  if (parts.isEmpty()) return {};
  // What came back of the rows under the lost pages, as the orphan pass
  // counted them; what it did not find is lost.
  QStringList back;
  if (rowsFromOrphans > 0)
    back << Plural(rowsFromOrphans, "row was put back from orphan pages",
                   "rows were put back from orphan pages");
  if (rowsMaybeLost > 0)
    back << Plural(rowsMaybeLost, "row that may be its own is", "rows that may be its own are") +
                QStringLiteral(" kept in %1").arg(lostAndFound);
  QString text = parts.join(QStringLiteral("; "));
  if (pagesLost > 0 || treeDamaged) {
    text += back.isEmpty() ? QStringLiteral("; no row of theirs was found elsewhere: they are lost")
                           : QStringLiteral("; ") + back.join(QStringLiteral(", ")) +
                                 QStringLiteral("; any other rows under them are lost");
  }
  return text;
}

TableSummary OpenedTableSummary(const CSQLiteRecovery& engine, const QString& name) {
  TableSummary table;
  table.name = name;
  const SchemaObject* object = engine.Catalog().FindTable(name);
  // The internal tables (sqlite_sequence, sqlite_stat1) have schema rows the
  // catalog keeps apart.
  table.rootPage = object != nullptr ? object->rootPage : engine.InternalTableRoot(name);
  table.inSchema = object != nullptr || table.rootPage > 0;
  if (object != nullptr && object->origin == SchemaOrigin::RecoveredTree) {
    table.recoveredTree = true;
    table.note = object->repairNote;
  }
  if (object != nullptr && object->origin == SchemaOrigin::LostAndFound) table.inSchema = false;
  // A virtual table has no tree of its own (its schema row's root page is 0):
  // its rows live in its shadow tables, which are counted as tables.
  if (object != nullptr && object->virtualTable) table.virtualTable = true;
  if (const PutBackPages* back = engine.PutBack(name)) table.rowsFromOrphans = back->rows;
  const OrphanPassResult& orphans = engine.Orphans();
  if (const SchemaObject* lost = engine.LostAndFound()) table.lostAndFound = lost->name;
  for (const LostGroup& group : orphans.lostGroups)
    if (std::find(group.candidateTables.begin(), group.candidateTables.end(), name) !=
        group.candidateTables.end())
      table.rowsMaybeLost += group.rows;
  // The open mapped every live tree (the orphan pass's classification): its
  // holes are the children it refused. Before that pass ran nothing is known.
  if (orphans.ran && table.rootPage > 0 && !table.recoveredTree && table.inSchema) {
    table.pagesLost = static_cast<std::int64_t>(engine.Holes(table.rootPage).size());
    table.treeDamaged = !engine.WalkComplete(table.rootPage);
  }
  return table;
}

const TableSummary* RecoverySummary::Table(const QString& name) const {
  for (const TableSummary& table : tables)
    if (table.name == name) return &table;
  return nullptr;
}

bool WalkTableTrees(CSQLiteRecovery& engine, IProgress& progress, IProgressBar* progressBar) {
  const QStringList tables = CategoryNames(engine, ObjectKind::Table);
  if (progressBar != nullptr) {
    progressBar->SetRange(0, 100);
    progressBar->SetPos(0);
  }
  qsizetype done = 0;
  for (const QString& name : tables) {
    const TableSummary table = OpenedTableSummary(engine, name);
    if (table.rootPage > 0 && !table.recoveredTree) {
      PageOnlyVisitor visitor(progress);
      if (engine.WalkPage(table.rootPage, visitor, progress).stopped) return false;
    }
    if (progressBar != nullptr) progressBar->SetPos(static_cast<int>(++done * 100 / tables.size()));
  }
  return true;
}

RecoverySummary MakeSummary(CSQLiteRecovery& engine, IProgress& progress,
                            IProgressBar* progressBar) {
  RecoverySummary summary;
  const Geometry& g = engine.geometry();
  summary.file = engine.FilePath();
  summary.fileSize = g.fileSize;
  summary.pageSize = g.pageSize;
  summary.reserved = g.reserved;
  summary.encoding = g.textEncoding;
  summary.pageCount = g.pageCount;

  const QStringList tables = CategoryNames(engine, ObjectKind::Table);
  std::vector<std::int64_t> indexRoots;
  for (const SchemaObject* index : engine.Catalog().OfKind(SchemaKind::Index))
    if (index->rootPage > 0) indexRoots.push_back(index->rootPage);
  const std::int64_t steps =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(tables.size() + indexRoots.size()));
  std::int64_t done = 0;
  auto advance = [&] {
    ++done;
    if (progressBar != nullptr) {
      progressBar->SetPos(static_cast<int>(done * 100 / steps));
      progressBar->SetBarColor(0x0000FF);
    }
  };
  if (progressBar != nullptr) {
    progressBar->SetRange(0, 100);
    progressBar->SetPos(0);
  }

  for (const QString& name : tables) {
    TableSummary table = OpenedTableSummary(engine, name);
    const SchemaObject* object = engine.Catalog().FindTable(name);
    const bool lost = object != nullptr && object->origin == SchemaOrigin::LostAndFound;
    TableLayout layout;
    if (!summary.stopped && (table.rootPage > 0 || table.recoveredTree || lost) &&
        ReadTableLayout(engine.WorkingDb(), name, &layout)) {
      // The rows as the save, the export and the grid take them: one table
      // read.
      RowCounter counter;
      const TableRead read = ReadTable(engine, layout, counter, progress);
      if (table.recoveredTree) {
        // Its rows are on orphan pages; it has no tree of its own.
        table.rowsFromOrphans = counter.tree;
      } else {
        table.rows = counter.tree;
        table.rowsFromOrphans = counter.putBack;
        table.pagesLost = read.tree.pagesUnusable;
        table.cellsSkipped = read.tree.cellsSkipped;
        table.treeDamaged = !read.tree.stopped && !read.tree.complete && !lost;
        summary.pagesUnusable += read.tree.pagesUnusable;
      }
      if (read.stopped) {
        summary.stopped = true;
      } else {
        table.counted = true;
      }
    }
    if (table.recoveredTree) {
      ++summary.tablesRecovered;
      summary.rowsRecovered += table.rowsFromOrphans;
    }
    summary.tables.push_back(table);
    advance();
  }
  for (const std::int64_t root : indexRoots) {
    if (summary.stopped) break;
    PageOnlyVisitor visitor(progress);
    const WalkReport report = engine.WalkPage(root, visitor, progress);
    summary.pagesUnusable += report.pagesUnusable;
    if (report.stopped) summary.stopped = true;
    advance();
  }

  summary.pageMap = engine.PageUses(progress);
  if (summary.pageMap.stopped) summary.stopped = true;
  summary.pagesInTrees = summary.pageMap.Count(PageUse::Schema) +
                         summary.pageMap.Count(PageUse::Table) +
                         summary.pageMap.Count(PageUse::Index);
  // What lies outside the live trees, as the open found it: the freelist
  // (followed with bounds, never a source of rows) and the orphan table
  // pages the orphan pass looked at; where the pages came from.
  const OrphanPassResult& orphans = engine.Orphans();
  if (orphans.ran) {
    summary.pagesFreelist =
        orphans.pages.Of(PageRole::FreeTrunk) + orphans.pages.Of(PageRole::FreeLeaf);
    summary.pagesOrphan = orphans.orphanPages;
    summary.rowsLostAndFound = orphans.lostRows;
  }
  summary.companions = DescribeSource(engine.SourceInfo());
  summary.schema = DescribeSchemaRecovery(engine);
  summary.deletedSearched = engine.Deleted().ran;
  for (const DeletedTable& table : engine.Deleted().tables) {
    DeletedSummary counts;
    counts.table = table.table;
    CountDeleted(table, &counts.whole, &counts.partial);
    if (counts.whole + counts.partial > 0) summary.deleted.push_back(counts);
  }
  return summary;
}

QString FormatSummary(const RecoverySummary& s) {
  QString text;
  auto line = [&](const QString& label, const QString& value) {
    text += label.leftJustified(26, QLatin1Char(' ')) + value + QLatin1Char('\n');
  };
  auto known = [](std::int64_t n) {
    return n < 0 ? QStringLiteral("not counted yet") : QString::number(n);
  };
  text += QStringLiteral("Recovery summary\n\n");
  line(QStringLiteral("File:"), s.file);
  line(QStringLiteral("Size:"), QStringLiteral("%1 bytes").arg(s.fileSize));
  line(QStringLiteral("Page size:"),
       s.reserved > 0 ? QStringLiteral("%1 bytes (%2 reserved)").arg(s.pageSize).arg(s.reserved)
                      : QStringLiteral("%1 bytes").arg(s.pageSize));
  line(QStringLiteral("Text encoding:"), EncodingText(s.encoding));
  line(QStringLiteral("Pages:"), QString::number(s.pageCount));
  line(QStringLiteral("  in live trees:"), QString::number(s.pagesInTrees));
  line(QStringLiteral("  on the freelist:"), known(s.pagesFreelist));
  line(QStringLiteral("  orphan:"), known(s.pagesOrphan));
  line(QStringLiteral("  unusable:"), QString::number(s.pagesUnusable));
  if (s.pagesFreelist < 0 || s.pagesOrphan < 0)
    line(QStringLiteral("  not in a live tree:"),
         QString::number(std::max<std::int64_t>(0, s.pageCount - s.pagesInTrees)));
  line(QStringLiteral("Pages read from:"), s.companions.isEmpty()
                                               ? QStringLiteral("the database file alone")
                                               : s.companions.join(QStringLiteral("; ")));
  if (s.rowsLostAndFound >= 0)
    line(QStringLiteral("Rows in lost and found:"), QString::number(s.rowsLostAndFound));
  for (int i = 0; i < s.schema.size(); ++i)
    line(i == 0 ? QStringLiteral("Schema recovery:") : QString(), s.schema.at(i));
  if (s.tablesRecovered > 0)
    line(QStringLiteral("Tables without schema row:"),
         QStringLiteral("%1, made from orphan pages (%2)")
             .arg(s.tablesRecovered)
             .arg(Plural(s.rowsRecovered, "row", "rows")));
  text += QStringLiteral("\nTables (%1):\n").arg(s.tables.size());
  for (const TableSummary& t : s.tables) {
    if (t.recoveredTree) {
      text += QStringLiteral("  %1: %2 from orphan pages; %3\n")
                  .arg(t.name, Plural(t.rowsFromOrphans, "row", "rows"), t.note);
      continue;
    }
    QString figures = !t.inSchema && !t.counted
                          ? QStringLiteral("no schema row of its own; not counted")
                      : !t.counted && t.rootPage > 0
                          ? QStringLiteral("not counted")
                          : Plural(t.rows, "row", "rows") + QStringLiteral(" from its own tree");
    if (t.rowsFromOrphans > 0)
      figures += QStringLiteral(", %1 put back from orphan pages").arg(t.rowsFromOrphans);
    if (t.HasLosses()) figures += QStringLiteral("; LOST: ") + t.LossText();
    text += QStringLiteral("  %1: %2\n").arg(t.name, figures);
  }
  if (s.deletedSearched) {
    text += QStringLiteral("\nDeleted records (%1):\n").arg(s.deleted.size());
    if (s.deleted.empty()) text += QStringLiteral("  none found\n");
    for (const DeletedSummary& d : s.deleted)
      text += QStringLiteral("  %1: %2, %3 whole, %4 partial\n")
                  .arg(d.table, Plural(d.whole + d.partial, "record", "records"))
                  .arg(d.whole)
                  .arg(d.partial);
  }
  if (s.stopped)
    text += QStringLiteral("\nThe counting was stopped; the figures are incomplete.\n");
  return text;
}

}  // namespace velmora
