// The recovery session: the scan of the damaged file's schema and the walks
// of its b-trees.
#include "engine/SQLiteRecovery.h"

#include <algorithm>
#include <tuple>

#include "engine/Format.h"
#include "engine/PagePasses.h"
#include "engine/RecoveredTrees.h"
#include "engine/SchemaRepair.h"
#include "engine/SchemaSearch.h"
#include "engine/Values.h"
#include "engine/WorkingDatabase.h"

namespace velmora {
namespace {

// Polls the session's progress callback between units of a walk.
class SessionProgress : public IWalkProgress {
 public:
  explicit SessionProgress(const CSQLiteRecovery& session) : m_session(session) {}
  bool Step(const WalkStep&) override { return m_session.ProgressStop(); }

 private:
  const CSQLiteRecovery& m_session;
};

// Reads every record of the schema tree into the catalog.
class SchemaCollector : public ICellVisitor {
 public:
  SchemaCollector(const CSQLiteRecovery& session, SchemaCatalog& catalog,
                  std::map<QString, std::int64_t>& internalRoots,
                  std::vector<SchemaIndexRow>& autoIndexes)
      : m_session(session),
        m_catalog(catalog),
        m_internalRoots(internalRoots),
        m_autoIndexes(autoIndexes) {}
  // Every schema row's claim on a root page, the rows the catalog does not
  // keep (indexes made for constraints) included.
  std::vector<RootCandidate> roots;

  CellUse VisitCell(const CellRef& cell) override {
    m_session.DecodeCell(cell, DecodeMode::Schema, nullptr, m_view);
    // A schema row is taken even from a cell that overlaps the next one: its
    // record decoded whole, and losing a table costs more than a doubtful row.
    SchemaObject object;
    const std::uint32_t encoding = m_session.geometry().textEncoding;
    const bool recognized = RecognizeSchemaRow(m_view, encoding, &object);
    const auto& values = m_view.values;
    if (values.size() > 3 && values[3].storage == StorageClass::Integer && values[3].intValue > 1) {
      const QString type = values[0].storage == StorageClass::Text
                               ? ExactText(m_view, values[0], encoding)
                               : QString();
      RootCandidate candidate;
      candidate.rootPage = values[3].intValue;
      if (recognized ? (object.kinds.table && !object.kinds.index)
                     : type == QLatin1String("table")) {
        const QString sql = values.size() > 4 && values[4].storage == StorageClass::Text
                                ? ExactText(m_view, values[4], encoding)
                                : QString();
        candidate.columns = DeclaredColumns(sql, &candidate.indexTree);
        roots.push_back(candidate);
      } else if (recognized ? object.kinds.index : type == QLatin1String("index")) {
        candidate.indexTree = true;
        roots.push_back(candidate);
      }
    }
    if (recognized) {
      object.page = cell.pageNumber;
      m_catalog.Add(std::move(object));
    } else {
      NoteInternalTable();
    }
    const bool fits = m_view.localPayload <= cell.space && m_view.localPayload <= cell.pageSize;
    return fits ? CellUse::Used : CellUse::Skipped;
  }

 private:
  // The schema row of sqlite_sequence is not a catalog table (the library
  // makes that table itself), but a save keeps its rows: its root page is
  // kept aside. So are the rows of automatic indexes, which can name a table
  // whose own row is lost.
  void NoteInternalTable() {
    const auto& values = m_view.values;
    const std::uint32_t encoding = m_session.geometry().textEncoding;
    if (values.size() < 4 || values[0].storage != StorageClass::Text ||
        values[1].storage != StorageClass::Text || values[3].storage != StorageClass::Integer ||
        values[3].intValue <= 0)
      return;
    const QString type = ExactText(m_view, values[0], encoding);
    const QString name = ExactText(m_view, values[1], encoding);
    if (type == QLatin1String("index") && name.startsWith(QLatin1String("sqlite_autoindex_")) &&
        values[2].storage == StorageClass::Text && m_autoIndexes.size() < 100000) {
      m_autoIndexes.push_back({name, ExactText(m_view, values[2], encoding), values[3].intValue});
      return;
    }
    if (type != QLatin1String("table")) return;
    if (!InternalTableStatement(name).isEmpty()) m_internalRoots.emplace(name, values[3].intValue);
  }

  const CSQLiteRecovery& m_session;
  SchemaCatalog& m_catalog;
  std::map<QString, std::int64_t>& m_internalRoots;
  std::vector<SchemaIndexRow>& m_autoIndexes;
  RecordView m_view;
};

// Counts what the records of a table's b-tree show of its shape, up to
// kMaxProfiledRecords records.
class ProfileCollector : public ICellVisitor {
 public:
  ProfileCollector(const CSQLiteRecovery& session, RecordProfile& profile)
      : m_session(session), m_profile(profile) {}
  CellUse VisitCell(const CellRef& cell) override {
    if (m_profile.records >= kMaxProfiledRecords) {
      m_profile.cut = true;
      return CellUse::Stop;
    }
    m_session.DecodeCell(cell, DecodeMode::Display, nullptr, m_view);
    if (m_view.values.empty()) return CellUse::Used;
    m_profile.indexTree =
        cell.pageType == format::kInteriorIndex || cell.pageType == format::kLeafIndex;
    AddToProfile(m_view, m_profile);
    const bool fits = m_view.localPayload <= cell.space && m_view.localPayload <= cell.pageSize;
    return fits ? CellUse::Used : CellUse::Skipped;
  }

 private:
  const CSQLiteRecovery& m_session;
  RecordProfile& m_profile;
  RecordView m_view;
};

}  // namespace

CSQLiteRecovery::CSQLiteRecovery() = default;
CSQLiteRecovery::~CSQLiteRecovery() = default;

QString CSQLiteRecovery::ScanMessage(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::NotOpen:
      return QStringLiteral("File Not Open !");
    case ScanOutcome::Corrupted:
      return QStringLiteral("File Corrupted");
    case ScanOutcome::Opened:
      break;
  }
  return QString();
}

CSQLiteRecovery::ScanOutcome CSQLiteRecovery::ScanDatabase(const QString& path,
                                                           const ScanOptions& options) {
  m_sourcePath = path;
  m_catalog.Clear();
  m_internalRoots.clear();
  m_autoIndexes.clear();
  m_pageMap.Clear();
  m_liveRoots.clear();
  m_refusedRoots.clear();
  m_holes.clear();
  m_walkComplete.clear();
  m_tableNames.clear();
  m_orphans = OrphanPassResult();
  m_firstPage = PageLayout();
  m_firstPageLoose = false;
  m_firstPageFragments.clear();
  m_schemaSearched = false;
  m_schemaRowsFound = 0;
  switch (m_source.Open(path, options.useCompanions)) {
    case PageSource::OpenResult::NotOpen:
      return ScanOutcome::NotOpen;
    case PageSource::OpenResult::Corrupted:
      return ScanOutcome::Corrupted;
    case PageSource::OpenResult::Opened:
      break;
  }
  ReadFirstPage();
  SchemaCollector collector(*this, m_catalog, m_internalRoots, m_autoIndexes);
  const WalkReport schema = WalkPage(1, collector, nullptr);
  ChooseLiveRoots(collector.roots);
  if (!schema.stopped && (m_firstPageLoose || !schema.complete)) SearchWholeFile(collector.roots);
  return ScanOutcome::Opened;
}

void CSQLiteRecovery::ReadFirstPage() {
  const Geometry& g = m_source.geometry();
  if (g.pageSize < format::kMinPageSize || g.pageCount < 1) return;
  std::vector<std::uint8_t> page(static_cast<std::size_t>(g.pageSize));
  if (m_source.ReadPage(1, page.data()) != PageRead::Ok) return;
  PageLayout parsed;
  ParsePageLayout(page.data(), g.pageSize, g.usableSize, true, &parsed);
  if (FirstPageNeedsLooseRead(parsed)) {
    m_firstPageLoose =
        ReadFirstPageLoosely(*this, page.data(), &m_firstPage, &m_firstPageFragments);
  } else if (parsed.scanned ||
             FirstPageHeaderContradicts(page.data(), parsed, std::min(g.usableSize, g.pageSize))) {
    // A leaf whose pointers contradict it was scanned from the cell content
    // start its header gives, and a header that contradicts itself may give
    // a wrong cell count: the loose reading is used when it finds more
    // schema rows, or children where the header's reading found no schema
    // row.
    PageLayout loose;
    std::vector<std::uint32_t> fragments;
    const std::int64_t rows = CountSchemaRows(*this, page.data(), parsed);
    if (ReadFirstPageLoosely(*this, page.data(), &loose, &fragments) &&
        (loose.interior ? rows == 0 : loose.CellCount() > rows)) {
      m_firstPage = std::move(loose);
      m_firstPageLoose = true;
      m_firstPageFragments = std::move(fragments);
    }
  }
  if (!m_firstPageLoose || m_firstPage.interior) return;
  // A schema row whose root page is on the freelist is a deleted one whose
  // cell survived below the cell content area: it never comes back.
  const std::vector<std::uint32_t> free = FreelistPages(m_source);
  RecordView view;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_firstPage.cells.size(); ++i) {
    DecodeCell(format::kLeafTable, page.data(), g.pageSize, m_firstPage.cells[i],
               DecodeMode::Schema, nullptr, view);
    const std::int64_t root = view.values.size() == 5 ? view.values[3].intValue : 0;
    if (root > 1 && std::binary_search(free.begin(), free.end(), static_cast<std::uint32_t>(root)))
      continue;
    m_firstPage.cells[kept] = m_firstPage.cells[i];
    m_firstPage.space[kept] = m_firstPage.space[i];
    ++kept;
  }
  m_firstPage.cells.resize(kept);
  m_firstPage.space.resize(kept);
}

void CSQLiteRecovery::SearchWholeFile(std::vector<RootCandidate> candidates) {
  m_schemaSearched = true;
  const std::vector<std::uint32_t> free = FreelistPages(m_source);
  SessionProgress own(*this);
  SchemaSearchResult found = SearchSchemaRows(*this, free, &own);
  if (found.stopped) return;  // what the schema tree gave stands
  const Geometry& g = m_source.geometry();
  if (!m_firstPageFragments.empty()) {
    // Stale rows of page 1: like any row found outside the tree, taken only
    // for an object the live schema rows do not describe.
    std::vector<std::uint8_t> first(static_cast<std::size_t>(g.pageSize));
    if (m_source.ReadPage(1, first.data()) == PageRead::Ok)
      AppendSchemaRows(*this, first.data(), 1, m_firstPageFragments, &found.rows);
  }
  const std::int64_t lockPage = 0x40000000 / g.pageSize + 1;
  auto known = [this](const QString& type, const QString& name) {
    for (const SchemaObject& object : m_catalog.Objects())
      if (object.type == type && object.name == name) return true;
    return type == QLatin1String("table") && m_internalRoots.count(name) != 0;
  };
  auto rootFree = [&](std::int64_t root) {
    return root >= 2 && root <= g.pageCount && root != lockPage &&
           m_pageMap.Role(root) == PageRole::Unknown && !RootRefused(root) &&
           !std::binary_search(free.begin(), free.end(), static_cast<std::uint32_t>(root));
  };
  const std::vector<bool> take = ChooseFoundRows(
      found.rows, known, rootFree, [this](std::int64_t root) { return ProbeRoot(m_source, root); });
  for (std::size_t i = 0; i < found.rows.size(); ++i) {
    if (!take[i]) continue;
    const FoundSchemaRow& row = found.rows[i];
    if (row.catalogRow)
      m_catalog.Add(row.object);
    else if (row.object.type == QLatin1String("table") &&
             !InternalTableStatement(row.object.name).isEmpty())
      m_internalRoots.emplace(row.object.name, row.object.rootPage);
    if (row.claim.rootPage > 1) candidates.push_back(row.claim);
    ++m_schemaRowsFound;
  }
  if (m_schemaRowsFound > 0) {
    // The page map is made again with every claim.
    m_pageMap.Clear();
    m_liveRoots.clear();
    m_refusedRoots.clear();
    ChooseLiveRoots(std::move(candidates));
  }
  // Leaves made of schema rows belong to the schema, reachable or not: their
  // records are not rows of any table.
  for (const std::int64_t page : found.schemaPages) m_pageMap.Claim(page, PageRole::Btree, 1);
}

void CSQLiteRecovery::ChooseLiveRoots(std::vector<RootCandidate> candidates) {
  // The same claim twice (a schema row read twice) is one claim.
  std::sort(candidates.begin(), candidates.end(),
            [](const RootCandidate& a, const RootCandidate& b) {
              return std::tie(a.rootPage, a.indexTree, a.columns) <
                     std::tie(b.rootPage, b.indexTree, b.columns);
            });
  candidates.erase(std::unique(candidates.begin(), candidates.end(),
                               [](const RootCandidate& a, const RootCandidate& b) {
                                 return a.rootPage == b.rootPage && a.indexTree == b.indexTree &&
                                        a.columns == b.columns;
                               }),
                   candidates.end());
  const std::vector<bool> keep =
      ChooseRoots(candidates, [this](std::int64_t root) { return ProbeRoot(m_source, root); });
  // Pointer-map pages are fixed by the usable size: never a tree's page.
  MarkPointerMapPages(m_source, m_pageMap);
  m_liveRoots.push_back(1);
  std::vector<bool> indexTrees{false};
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::int64_t root = candidates[i].rootPage;
    if (!keep[i] || m_pageMap.Role(root) == PageRole::PointerMap) {
      m_refusedRoots.push_back(root);
    } else if (std::find(m_liveRoots.begin(), m_liveRoots.end(), root) == m_liveRoots.end()) {
      m_liveRoots.push_back(root);
      indexTrees.push_back(candidates[i].indexTree);
    }
  }
  SessionProgress own(*this);
  const PageLayout* firstPage = m_firstPageLoose ? &m_firstPage : nullptr;
  for (const std::int64_t lost :
       MapLiveTrees(m_source, m_pageMap, m_liveRoots, indexTrees, &own, firstPage)) {
    m_refusedRoots.push_back(lost);
    m_liveRoots.erase(std::remove(m_liveRoots.begin(), m_liveRoots.end(), lost), m_liveRoots.end());
  }
  std::sort(m_refusedRoots.begin(), m_refusedRoots.end());
  // A root kept by one row and refused for another stays live.
  std::erase_if(m_refusedRoots, [this](std::int64_t root) {
    return std::find(m_liveRoots.begin(), m_liveRoots.end(), root) != m_liveRoots.end();
  });
}

bool CSQLiteRecovery::RootRefused(std::int64_t root) const {
  return std::binary_search(m_refusedRoots.begin(), m_refusedRoots.end(), root);
}

const std::vector<RowidRange>& CSQLiteRecovery::Holes(std::int64_t root) const {
  static const std::vector<RowidRange> none;
  static const std::vector<RowidRange> everything{RowidRange{}};
  if (RootRefused(root)) return everything;
  const auto found = m_holes.find(root);
  return found != m_holes.end() ? found->second : none;
}

bool CSQLiteRecovery::WalkComplete(std::int64_t root) const {
  const auto found = m_walkComplete.find(root);
  return !RootRefused(root) && found != m_walkComplete.end() && found->second;
}

WalkReport CSQLiteRecovery::WalkPage(std::int64_t root, ICellVisitor& visitor,
                                     IWalkProgress* progress) {
  if (RootRefused(root)) {
    WalkReport refused;
    refused.complete = false;
    refused.pagesUnusable = 1;
    refused.holes.push_back(RowidRange{});
    m_holes[root] = refused.holes;
    return refused;
  }
  SessionProgress own(*this);
  TreeWalk walk(m_source, &m_pageMap);
  WalkRules rules;
  if (root == 1 && m_firstPageLoose) rules.firstPage = &m_firstPage;
  WalkReport report = walk.Walk(root, visitor, progress != nullptr ? progress : &own, rules);
  if (!report.stopped) {
    m_holes[root] = report.holes;
    m_walkComplete[root] = report.complete;
  }
  return report;
}

WalkReport CSQLiteRecovery::WalkLoosePage(std::int64_t page, ICellVisitor& visitor,
                                          IWalkProgress* progress) {
  SessionProgress own(*this);
  TreeWalk walk(m_source, nullptr);
  return walk.Walk(page, visitor, progress != nullptr ? progress : &own);
}

const PutBackPages* CSQLiteRecovery::PutBack(const QString& name) const {
  auto found = m_orphans.putBack.find(name);
  return found != m_orphans.putBack.end() ? &found->second : nullptr;
}

const SchemaObject* CSQLiteRecovery::LostAndFound() const {
  for (const SchemaObject& object : m_catalog.Objects())
    if (object.origin == SchemaOrigin::LostAndFound) return &object;
  return nullptr;
}

void CSQLiteRecovery::DecodeCell(const CellRef& cell, DecodeMode mode, ILongValueFiles* files,
                                 RecordView& view) const {
  DecodeCellPayload(m_source, cell.pageType, cell.page, cell.pageSize, cell.offset, mode, files,
                    cell.overflowPages, cell.map, cell.tree, view, cell.space);
}

void CSQLiteRecovery::DecodeCell(std::uint8_t pageType, const std::uint8_t* page,
                                 std::int64_t pageLength, std::int64_t cellOffset, DecodeMode mode,
                                 ILongValueFiles* files, RecordView& view) const {
  DecodeCellPayload(m_source, pageType, page, pageLength, cellOffset, mode, files, nullptr, nullptr,
                    0, view);
}

CSQLiteRecovery::WorkingDbOutcome CSQLiteRecovery::BuildWorkingDatabase() {
  m_tableNames.clear();
  m_working = std::make_unique<WorkingDatabase>();
  WorkingDbOutcome outcome;
  QString error;
  const QString folder = WorkingDatabase::Folder();
  if (!m_working->CreateIn(folder, &error)) {
    outcome.path = folder;
    outcome.message =
        QStringLiteral("The working database cannot be created:\n%1\n%2").arg(folder, error);
    return outcome;
  }
  outcome.path = m_working->Path();
  // The tree lists the tables in schema order: the working database's
  // names for the statements it took, the virtual tables by their names.
  // The internal tables whose rows a save keeps (AUTOINCREMENT counters,
  // planner statistics) are made with their fixed statements.
  // Listed: shown by its name without being replayed.
  enum class Slot { Listed, Replayed };
  std::vector<std::pair<Slot, const SchemaObject*>> order;
  const std::size_t count = m_catalog.Objects().size();
  for (std::size_t i = 0; i < count; ++i) {
    SchemaObject& table = m_catalog.At(i);
    if (!table.Is(SchemaKind::Table)) continue;
    if (table.virtualTable) {
      // Never run here: it is recreated only in the recovered database.
      order.emplace_back(Slot::Listed, &table);
      continue;
    }
    if (table.name.contains(QChar(0))) {
      // A name holding a zero byte (only a damaged schema has one) cannot be
      // written in a statement: the library reads SQL text up to its first
      // zero byte. The table is listed all the same, and its save reports
      // why it cannot be made.
      order.emplace_back(Slot::Listed, &table);
      continue;
    }
    const int before = m_working->TableCount();
    if (!InternalTableStatement(table.name).isEmpty()) {
      m_working->ReplayInternal(table.name);
    } else if (!m_working->Accepts(table.sql)) {
      // A statement the library cannot even compile is damaged text: it is
      // rebuilt without a complaint about the text; when it cannot be, the
      // replay reports the library's error and the table is not listed.
      if (!RepairStatement(table)) m_working->Replay(table.sql);
    } else if (!m_working->Replay(table.sql)) {
      RepairStatement(table);
    }
    // One slot per table the statement made (an AUTOINCREMENT table makes
    // sqlite_sequence too).
    for (int made = m_working->TableCount(); made > before; --made)
      order.emplace_back(Slot::Replayed, &table);
  }
  m_working->Commit();
  const QStringList accepted = m_working->TableNames();
  qsizetype next = 0;
  for (const auto& [slot, table] : order) {
    if (slot == Slot::Listed) {
      if (!m_tableNames.contains(table->name)) m_tableNames << table->name;
    } else if (next < accepted.size()) {
      m_tableNames << accepted.at(next++);
    }
  }
  for (; next < accepted.size(); ++next)
    if (!m_tableNames.contains(accepted.at(next))) m_tableNames << accepted.at(next);

  SessionProgress progress(*this);
  m_orphans = RunOrphanPass(*this, &progress);
  if (m_orphans.ran) AddRecoveredTrees(&progress);
  if (m_orphans.lostRows > 0) {
    // Rows that fit no table are kept in a table of their own, made here:
    // it has no schema row in the file.
    QStringList taken = m_tableNames;
    for (const SchemaObject& object : m_catalog.Objects()) taken << object.name;
    SchemaObject lost;
    lost.type = QStringLiteral("table");
    lost.name = LostAndFoundName(taken);
    lost.tableName = lost.name;
    lost.sql = LostAndFoundSql(lost.name, m_orphans.lostWidth);
    lost.origin = SchemaOrigin::LostAndFound;
    lost.kinds.table = true;
    if (m_working->Replay(lost.sql)) {
      m_tableNames << lost.name;
      m_catalog.Add(std::move(lost));
    }
  }
  return outcome;
}

void CSQLiteRecovery::AddRecoveredTrees(IWalkProgress* progress) {
  QStringList taken = m_tableNames;
  for (const SchemaObject& object : m_catalog.Objects()) taken << object.name;
  for (const auto& [name, root] : m_internalRoots) taken << name;
  std::vector<bool> recovered(m_orphans.lostGroups.size(), false);
  for (RecoveredTable& table : FindRecoveredTables(*this, taken, progress)) {
    bool made = false;
    if (table.internal) {
      made = m_working->ReplayInternal(table.name);
    } else {
      made = m_working->Replay(table.sql);
      if (!made && !table.fallbackSql.isEmpty() && m_working->Replay(table.fallbackSql)) {
        table.sql = table.fallbackSql;
        made = true;
      }
    }
    if (!made) continue;  // its rows stay in lost and found
    for (std::size_t g : table.groups) recovered[g] = true;
    PutBackPages& pages = m_orphans.putBack[table.name];
    pages.pages = std::move(table.pages);
    pages.rows = table.rows;
    if (!m_tableNames.contains(table.name)) m_tableNames << table.name;
    // An AUTOINCREMENT table makes sqlite_sequence in the working database.
    if (!m_tableNames.contains(QStringLiteral("sqlite_sequence")) &&
        m_working->TableNames().contains(QStringLiteral("sqlite_sequence")))
      m_tableNames << QStringLiteral("sqlite_sequence");
    SchemaObject object;
    object.type = QStringLiteral("table");
    object.name = table.name;
    object.tableName = table.name;
    object.sql = table.sql;
    object.origin = SchemaOrigin::RecoveredTree;
    object.kinds.table = true;
    object.repairNote = table.note;
    m_catalog.Add(std::move(object));
  }
  // What stays in lost and found: the groups no table took.
  std::vector<LostGroup> rest;
  m_orphans.lostPages.clear();
  m_orphans.lostRows = 0;
  m_orphans.lostWidth = 0;
  for (std::size_t g = 0; g < recovered.size(); ++g) {
    if (recovered[g]) continue;
    LostGroup& group = m_orphans.lostGroups[g];
    m_orphans.lostPages.insert(m_orphans.lostPages.end(), group.leaves.begin(), group.leaves.end());
    m_orphans.lostRows += group.rows;
    m_orphans.lostWidth =
        std::min(kLostAndFoundMaxWidth, std::max(m_orphans.lostWidth, group.maxFields));
    rest.push_back(std::move(group));
  }
  std::sort(m_orphans.lostPages.begin(), m_orphans.lostPages.end());
  m_orphans.lostGroups = std::move(rest);
}

bool CSQLiteRecovery::RepairStatement(SchemaObject& table) {
  if (table.rootPage <= 0 || m_working == nullptr) return false;
  RecordProfile profile;
  ProfileCollector collector(*this, profile);
  WalkPage(table.rootPage, collector, nullptr);
  const SchemaRepairResult repair =
      RepairTableStatement(table.name, table.sql, profile,
                           [this](const QString& sql) { return m_working->Accepts(sql); });
  if (!repair.ok || !m_working->Replay(repair.sql)) return false;
  table.originalSql = table.sql;
  table.sql = repair.sql;
  table.sqlRebuilt = true;
  table.repairNote = repair.note;
  return true;
}

std::int64_t CSQLiteRecovery::InternalTableRoot(const QString& name) const {
  if (const SchemaObject* table = m_catalog.Find(SchemaKind::Table, name)) return table->rootPage;
  const auto it = m_internalRoots.find(name);
  return it != m_internalRoots.end() ? it->second : 0;
}

sqlite3* CSQLiteRecovery::WorkingDb() const { return m_working ? m_working->Db() : nullptr; }
QString CSQLiteRecovery::WorkingDbPath() const { return m_working ? m_working->Path() : QString(); }

}  // namespace velmora
