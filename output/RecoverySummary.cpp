#include "output/RecoverySummary.h"

#include <QFileInfo>
#include <exception>

#include "engine/Format.h"
#include "engine/OrphanPass.h"
#include "engine/SchemaSearch.h"
#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"
#include "output/TableExtraction.h"

namespace velmora {
namespace {

// Walks an index tree only for the page map: its cells are not decoded.
class PageOnlyVisitor : public ICellVisitor, public IWalkProgress {
 public:
  explicit PageOnlyVisitor(CSQLiteRecovery& engine) : m_engine(engine) {}
  CellUse VisitCell(const CellRef&) override {
    return m_engine.ProgressStop() ? CellUse::Stop : CellUse::Used;
  }
  bool Step(const WalkStep&) override { return m_engine.ProgressStop(); }

 private:
  CSQLiteRecovery& m_engine;
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
                    "pages of its tree could not be used") +
                 QStringLiteral(" (the rows under them are lost)");
  if (cellsSkipped > 0)
    parts << Plural(cellsSkipped, "damaged cell was skipped", "damaged cells were skipped");
  return parts.join(QStringLiteral("; "));
}

const TableSummary* RecoverySummary::Table(const QString& name) const {
  for (const TableSummary& table : tables)
    if (table.name == name) return &table;
  return nullptr;
}

RecoverySummary MakeSummary(CSQLiteRecovery& engine, IProgressBar* progressBar) {
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
    TableSummary table;
    table.name = name;
    const SchemaObject* object = engine.Catalog().FindTable(name);
    table.rootPage = object != nullptr ? object->rootPage : 0;
    table.inSchema = object != nullptr;
    const bool recovered = object != nullptr && object->origin == SchemaOrigin::RecoveredTree;
    const bool lost = object != nullptr && object->origin == SchemaOrigin::LostAndFound;
    TableLayout layout;
    if (!summary.stopped && (table.rootPage > 0 || recovered || lost) &&
        ReadTableLayout(engine.WorkingDb(), name, &layout)) {
      // The rows as the save and the grid take them: one table read.
      RowCounter counter(engine);
      const TableRead read = ReadTable(engine, layout, counter);
      table.pagesLost = read.tree.pagesUnusable;
      table.cellsSkipped = read.tree.cellsSkipped;
      summary.pagesUnusable += read.tree.pagesUnusable;
      if (recovered) {
        // Its rows are on orphan pages; it has no tree of its own.
        table.rowsFromOrphans = counter.tree;
      } else {
        table.rows = counter.tree;
        table.rowsFromOrphans = counter.putBack;
      }
      if (read.stopped) {
        summary.stopped = true;
      } else {
        table.counted = true;
      }
    }
    if (recovered) {
      table.recoveredTree = true;
      table.note = object->repairNote;
      ++summary.tablesRecovered;
      summary.rowsRecovered += table.rowsFromOrphans;
    }
    summary.tables.push_back(table);
    advance();
  }
  for (const std::int64_t root : indexRoots) {
    if (summary.stopped) break;
    PageOnlyVisitor visitor(engine);
    const WalkReport report = engine.WalkPage(root, visitor, &visitor);
    summary.pagesUnusable += report.pagesUnusable;
    if (report.stopped) summary.stopped = true;
    advance();
  }

  const PageMap& pages = engine.Pages();
  for (std::int64_t page = 1; page <= summary.pageCount; ++page)
    if (pages.Role(page) == PageRole::Btree || pages.Role(page) == PageRole::Overflow)
      ++summary.pagesInTrees;
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
  line(QStringLiteral("Pages read from:"),
       s.companions.isEmpty() ? QStringLiteral("the database file alone")
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
    QString figures = !t.inSchema ? QStringLiteral("no schema row of its own; not counted")
                      : !t.counted && t.rootPage > 0
                          ? QStringLiteral("not counted")
                          : Plural(t.rows, "row", "rows") + QStringLiteral(" from its own tree");
    if (t.rowsFromOrphans > 0)
      figures += QStringLiteral(", %1 put back from orphan pages").arg(t.rowsFromOrphans);
    if (t.HasLosses()) figures += QStringLiteral("; LOST: ") + t.LossText();
    text += QStringLiteral("  %1: %2\n").arg(t.name, figures);
  }
  if (s.stopped)
    text += QStringLiteral("\nThe counting was stopped; the figures are incomplete.\n");
  return text;
}

}  // namespace velmora
