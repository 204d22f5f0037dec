// The passes of RecoveryPasses.h and their order.
#include "engine/passes/RecoveryPasses.h"

#include <QSet>
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <tuple>

#include "engine/core/Format.h"
#include "engine/core/Values.h"
#include "engine/pages/RecordVisitor.h"
#include "engine/passes/DeletedRecords.h"
#include "engine/passes/OrphanPass.h"
#include "engine/passes/PagePasses.h"
#include "engine/passes/RecoveredTrees.h"
#include "engine/passes/RecoveryState.h"
#include "engine/passes/SchemaSearch.h"
#include "engine/schema/IndexStatement.h"
#include "engine/schema/SchemaRepair.h"
#include "engine/schema/StandIns.h"
#include "engine/schema/TableLayout.h"
#include "engine/schema/WorkingDatabase.h"

namespace velmora {
namespace {

// Reads every record of the schema tree into the catalog.
class SchemaCollector : public ICellVisitor {
 public:
  explicit SchemaCollector(RecoveryState& state)
      : m_source(state.source),
        m_catalog(state.catalog),
        m_internalRoots(state.internalRoots),
        m_autoIndexes(state.autoIndexes) {}
  // Every schema row's claim on a root page, the rows the catalog does not
  // keep (indexes made for constraints) included.
  std::vector<RootCandidate> roots;

  CellUse VisitCell(const CellRef& cell) override {
    const bool fits = DecodeWalkedCell(m_source, cell, DecodeMode::Schema, nullptr, m_view);
    // A schema row is taken even from a cell that overlaps the next one: its
    // record decoded whole, and losing a table costs more than a doubtful row.
    SchemaObject object;
    const std::uint32_t encoding = m_source.geometry().textEncoding;
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
    return fits ? CellUse::Used : CellUse::Skipped;
  }

 private:
  // The schema row of sqlite_sequence is not a catalog table (the library
  // makes that table itself), but a save keeps its rows: its root page is
  // kept aside. So are the rows of automatic indexes, which can name a table
  // whose own row is lost.
  void NoteInternalTable() {
    const auto& values = m_view.values;
    const std::uint32_t encoding = m_source.geometry().textEncoding;
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

  const PageSource& m_source;
  SchemaCatalog& m_catalog;
  std::map<QString, std::int64_t>& m_internalRoots;
  std::vector<SchemaIndexRow>& m_autoIndexes;
  RecordView m_view;
};

// One value of a record, held for comparing with an index's entries.
struct HeldValue {
  StorageClass storage = StorageClass::Null;
  std::int64_t intValue = 0;
  std::uint64_t realBits = 0;
  QByteArray bytes;
  std::int64_t length = 0;
  bool operator==(const HeldValue&) const = default;
};

HeldValue Hold(const RecordView& view, const ValueView& v) {
  HeldValue held;
  held.storage = v.storage;
  held.intValue = v.storage == StorageClass::Integer ? v.intValue : 0;
  if (v.storage == StorageClass::Real) std::memcpy(&held.realBits, &v.realValue, sizeof(double));
  if (v.storage == StorageClass::Text || v.storage == StorageClass::Blob) {
    held.bytes = view.Bytes(v);
    held.length = v.length;
  }
  return held;
}

// The records a repair compares with the table's index entries: at most
// this many, by rowid.
constexpr std::size_t kMaxSampledRecords = 2000;

// Counts what the records of a table's b-tree show of its shape, up to
// kMaxProfiledRecords records, and keeps the first records of a rowid tree.
class ProfileCollector : public ICellVisitor {
 public:
  ProfileCollector(const PageSource& source, RecordProfile& profile)
      : m_source(source), m_profile(profile) {}
  std::map<std::int64_t, std::vector<HeldValue>> sample;

  CellUse VisitCell(const CellRef& cell) override {
    if (m_profile.records >= kMaxProfiledRecords) {
      m_profile.cut = true;
      return CellUse::Stop;
    }
    const bool fits = DecodeWalkedCell(m_source, cell, DecodeMode::Display, nullptr, m_view);
    if (m_view.values.empty()) return CellUse::Used;
    m_profile.indexTree =
        cell.pageType == format::kInteriorIndex || cell.pageType == format::kLeafIndex;
    AddToProfile(m_view, m_profile);
    if (fits && m_view.hasRowid && sample.size() < kMaxSampledRecords) {
      std::vector<HeldValue> values;
      values.reserve(m_view.values.size());
      for (const ValueView& v : m_view.values) values.push_back(Hold(m_view, v));
      sample.emplace(m_view.rowid, std::move(values));
    }
    return fits ? CellUse::Used : CellUse::Skipped;
  }

 private:
  const PageSource& m_source;
  RecordProfile& m_profile;
  RecordView m_view;
};

// Names for the columns a repair had to make up, from the indexes of the
// table: an index key column the rebuilt table lacks names the one position
// whose values equal that key in every sampled entry (matched by rowid). A
// key equal to the rowid where every record holds NULL marks the rowid
// alias. Nothing is named when the entries fit no position or more than one.
ColumnHints HintsFromIndexes(RecoveryState& state, const SchemaObject& table,
                             const SchemaRepairResult& repair,
                             const std::map<std::int64_t, std::vector<HeldValue>>& sample,
                             IProgress& progress) {
  ColumnHints hints;
  if (sample.empty()) return hints;
  QSet<QString> taken;
  for (const QString& n : repair.names) taken.insert(n.toLower());
  std::vector<int> open;  // positions with a made-up name
  for (int i = 0; i < int(repair.madeUp.size()); ++i)
    if (repair.madeUp[size_t(i)]) open.push_back(i);
  if (open.empty()) return hints;
  hints.names.resize(repair.names.size());
  for (const SchemaObject& index : state.catalog.Objects()) {
    if (!index.Is(SchemaKind::Index) || index.rootPage <= 1 || index.sql.isEmpty()) continue;
    QString on;
    QStringList keys;
    if (!IndexKeyNames(index.sql, &on, &keys) || on.compare(table.name, Qt::CaseInsensitive) != 0)
      continue;
    std::vector<int> wanted;  // key slots naming a column the table lacks
    for (int k = 0; k < int(keys.size()); ++k)
      if (!keys[k].isEmpty() && !taken.contains(keys[k].toLower())) wanted.push_back(k);
    if (wanted.empty()) continue;
    // Per wanted key slot and open position: entries that agree, disagree.
    std::vector<std::vector<std::pair<int, int>>> votes(
        wanted.size(), std::vector<std::pair<int, int>>(open.size(), {0, 0}));
    std::vector<std::pair<int, int>> aliasVotes(wanted.size(), {0, 0});
    std::int64_t entries = 0;
    RecordVisitor visitor(state.source, [&](const CellRef&, const RecordView& entry) {
      if (++entries > std::int64_t(kMaxSampledRecords)) return false;
      const ValueView& last = entry.values.back();
      if (last.storage != StorageClass::Integer) return true;
      const auto row = sample.find(last.intValue);
      if (row == sample.end()) return true;
      for (std::size_t w = 0; w < wanted.size(); ++w) {
        const int k = wanted[w];
        if (k + 1 >= entry.Size()) continue;
        const HeldValue key = Hold(entry, entry.values[size_t(k)]);
        for (std::size_t o = 0; o < open.size(); ++o) {
          const int p = open[o];
          const bool same = p < int(row->second.size()) && row->second[size_t(p)] == key;
          ++(same ? votes[w][o].first : votes[w][o].second);
        }
        const bool rowid = key.storage == StorageClass::Integer && key.intValue == last.intValue;
        ++(rowid ? aliasVotes[w].first : aliasVotes[w].second);
      }
      return true;
    });
    state.Walk(index.rootPage, visitor, progress);
    std::vector<int> assigned;  // taken out of `open` once every key was weighed
    for (std::size_t w = 0; w < wanted.size(); ++w) {
      int found = -1;
      int fits = 0;
      for (std::size_t o = 0; o < open.size(); ++o) {
        if (votes[w][o].first > 0 && votes[w][o].second == 0) {
          found = open[o];
          ++fits;
        }
      }
      const QString& key = keys[wanted[w]];
      int named = -1;
      if (fits == 1) {
        named = found;
      } else if (fits == 0 && hints.rowidAlias < 0 && aliasVotes[w].first > 0 &&
                 aliasVotes[w].second == 0) {
        // The key is the rowid: the alias, the one open position NULL in
        // every sampled record.
        int nulls = 0;
        for (const int p : open) {
          bool allNull = true;
          for (const auto& [rowid, values] : sample)
            allNull = allNull &&
                      (p >= int(values.size()) || values[size_t(p)].storage == StorageClass::Null);
          if (allNull) {
            named = p;
            ++nulls;
          }
        }
        if (nulls != 1) named = -1;
        if (named >= 0) hints.rowidAlias = named;
      }
      if (named < 0 || !hints.names[size_t(named)].isEmpty()) continue;
      hints.names[size_t(named)] = key;
      taken.insert(key.toLower());
      assigned.push_back(named);
    }
    for (const int p : assigned) std::erase(open, p);
  }
  return hints;
}

// Chooses the live roots among `candidates` (schema rows' claims) and maps
// their trees in the page map: page 1 first, then every root kept, each once.
void MapChosenRoots(RecoveryState& state, std::vector<RootCandidate> candidates,
                    IProgress& progress) {
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
  const PageSource& source = state.source;
  const std::vector<bool> keep =
      ChooseRoots(candidates, [&source](std::int64_t root) { return ProbeRoot(source, root); });
  // Pointer-map pages are fixed by the usable size: never a tree's page.
  MarkPointerMapPages(source, state.pages);
  std::vector<std::int64_t>& live = state.liveRoots;
  std::vector<std::int64_t>& refused = state.refusedRoots;
  live.push_back(1);
  std::vector<bool> indexTrees{false};
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::int64_t root = candidates[i].rootPage;
    if (!keep[i] || state.pages.Role(root) == PageRole::PointerMap) {
      refused.push_back(root);
    } else if (std::find(live.begin(), live.end(), root) == live.end()) {
      live.push_back(root);
      indexTrees.push_back(candidates[i].indexTree);
    }
  }
  const PageLayout* firstPage = state.schema.firstPageLoose ? &state.schema.firstPage : nullptr;
  for (const std::int64_t lost :
       MapLiveTrees(source, state.pages, live, indexTrees, progress, firstPage)) {
    refused.push_back(lost);
    live.erase(std::remove(live.begin(), live.end(), lost), live.end());
  }
  std::sort(refused.begin(), refused.end());
  // A root kept by one row and refused for another stays live.
  std::erase_if(refused, [&live](std::int64_t root) {
    return std::find(live.begin(), live.end(), root) != live.end();
  });
}

// Rebuilds and replays the refused statement of `table` (a catalog entry)
// from its surviving text and the records of its tree; true when the working
// database took the rebuilt one.
bool RepairStatement(RecoveryState& state, SchemaObject& table, IProgress& progress) {
  if (table.rootPage <= 0 || state.working == nullptr) return false;
  RecordProfile profile;
  ProfileCollector collector(state.source, profile);
  state.Walk(table.rootPage, collector, progress);
  WorkingDatabase& working = *state.working;
  const auto accepts = [&working](const QString& sql) { return working.Accepts(sql); };
  SchemaRepairResult repair = RepairTableStatement(table.name, table.sql, profile, accepts);
  if (repair.ok) {
    // Columns the text no longer names may be named by the table's indexes,
    // which then build on the rebuilt table.
    const ColumnHints hints = HintsFromIndexes(state, table, repair, collector.sample, progress);
    bool named = hints.rowidAlias >= 0;
    for (const QString& n : hints.names) named = named || !n.isEmpty();
    if (named) {
      SchemaRepairResult hinted =
          RepairTableStatement(table.name, table.sql, profile, accepts, hints);
      if (hinted.ok) repair = std::move(hinted);
    }
  }
  if (!repair.ok || !working.Replay(repair.sql)) return false;
  table.originalSql = table.sql;
  table.sql = repair.sql;
  table.sqlRebuilt = true;
  table.repairNote = repair.note;
  return true;
}

// 1. Page 1, parsed or read without its damaged b-tree header.
PassResult ReadFirstPage(const PageSource& source, SchemaScan& scan) {
  const Geometry& g = source.geometry();
  if (g.pageSize < format::kMinPageSize || g.pageCount < 1) return PassResult::Skipped;
  std::vector<std::uint8_t> page(static_cast<std::size_t>(g.pageSize));
  if (source.ReadPage(1, page.data()) != PageRead::Ok) return PassResult::Skipped;
  PageLayout parsed;
  ParsePageLayout(page.data(), g.pageSize, g.usableSize, true, &parsed);
  if (FirstPageNeedsLooseRead(parsed)) {
    scan.firstPageLoose =
        ReadFirstPageLoosely(source, page.data(), &scan.firstPage, &scan.firstPageFragments);
  } else if (parsed.scanned ||
             FirstPageHeaderContradicts(page.data(), parsed, std::min(g.usableSize, g.pageSize))) {
    // A leaf whose pointers contradict it was scanned from the cell content
    // start its header gives, and a header that contradicts itself may give
    // a wrong cell count: the loose reading is used when it finds more
    // schema rows, or children where the header's reading found no schema
    // row.
    PageLayout loose;
    std::vector<std::uint32_t> fragments;
    const std::int64_t rows = CountSchemaRows(source, page.data(), parsed);
    if (ReadFirstPageLoosely(source, page.data(), &loose, &fragments) &&
        (loose.interior ? rows == 0 : loose.CellCount() > rows)) {
      scan.firstPage = std::move(loose);
      scan.firstPageLoose = true;
      scan.firstPageFragments = std::move(fragments);
    }
  }
  if (!scan.firstPageLoose || scan.firstPage.interior) return PassResult::Done;
  // A schema row whose root page is on the freelist is a deleted one whose
  // cell survived below the cell content area: it never comes back.
  const std::vector<std::uint32_t> free = FreelistPages(source);
  RecordView view;
  PageLayout& first = scan.firstPage;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < first.cells.size(); ++i) {
    DecodeCellPayload(source, {format::kLeafTable, page.data(), g.pageSize, first.cells[i]},
                      DecodeMode::Schema, view);
    const std::int64_t root = view.values.size() == 5 ? view.values[3].intValue : 0;
    if (root > 1 && std::binary_search(free.begin(), free.end(), static_cast<std::uint32_t>(root)))
      continue;
    first.cells[kept] = first.cells[i];
    first.space[kept] = first.space[i];
    ++kept;
  }
  first.cells.resize(kept);
  first.space.resize(kept);
  return PassResult::Done;
}

// 2. The schema tree walked into the catalog.
PassResult ReadSchemaTree(RecoveryState& state, IProgress& progress) {
  SchemaCollector collector(state);
  const WalkReport walk = state.Walk(1, collector, progress);
  state.schema.claims = std::move(collector.roots);
  state.schema.walkStopped = walk.stopped;
  state.schema.walkComplete = walk.complete;
  return PassResult::Done;
}

// 3. The live roots chosen and their trees mapped.
PassResult ChooseLiveRoots(RecoveryState& state, IProgress& progress) {
  MapChosenRoots(state, state.schema.claims, progress);
  return PassResult::Done;
}

// 4. The whole file searched for schema rows when the schema tree is damaged.
PassResult SearchWholeFile(RecoveryState& state, IProgress& progress) {
  SchemaScan& scan = state.schema;
  if (scan.walkStopped || (!scan.firstPageLoose && scan.walkComplete)) return PassResult::Skipped;
  scan.searched = true;
  const PageSource& source = state.source;
  const std::vector<std::uint32_t> free = FreelistPages(source);
  SchemaSearchResult found = SearchSchemaRows(source, state.pages, free, progress);
  if (found.stopped) return PassResult::Done;  // what the schema tree gave stands
  const Geometry& g = source.geometry();
  if (!scan.firstPageFragments.empty()) {
    // Stale rows of page 1: like any row found outside the tree, taken only
    // for an object the live schema rows do not describe.
    std::vector<std::uint8_t> first(static_cast<std::size_t>(g.pageSize));
    if (source.ReadPage(1, first.data()) == PageRead::Ok)
      AppendSchemaRows(source, first.data(), 1, scan.firstPageFragments, &found.rows);
  }
  const std::int64_t lockPage = format::LockBytePage(g.pageSize);
  auto known = [&state](const QString& type, const QString& name) {
    for (const SchemaObject& object : state.catalog.Objects())
      if (object.type == type && object.name == name) return true;
    return type == QLatin1String("table") && state.internalRoots.count(name) != 0;
  };
  auto rootFree = [&](std::int64_t root) {
    return root >= 2 && root <= g.pageCount && root != lockPage &&
           state.pages.Role(root) == PageRole::Unknown && !state.RootRefused(root) &&
           !std::binary_search(free.begin(), free.end(), static_cast<std::uint32_t>(root));
  };
  const std::vector<bool> take =
      ChooseFoundRows(found.rows, known, rootFree,
                      [&source](std::int64_t root) { return ProbeRoot(source, root); });
  std::vector<RootCandidate> candidates = scan.claims;
  for (std::size_t i = 0; i < found.rows.size(); ++i) {
    if (!take[i]) continue;
    const FoundSchemaRow& row = found.rows[i];
    if (row.catalogRow)
      state.catalog.Add(row.object);
    else if (row.object.type == QLatin1String("table") &&
             !InternalTableStatement(row.object.name).isEmpty())
      state.internalRoots.emplace(row.object.name, row.object.rootPage);
    if (row.claim.rootPage > 1) candidates.push_back(row.claim);
    ++scan.rowsFound;
  }
  if (scan.rowsFound > 0) {
    // The page map is made again with every claim.
    state.pages.Clear();
    state.liveRoots.clear();
    state.refusedRoots.clear();
    MapChosenRoots(state, std::move(candidates), progress);
  }
  // Leaves made of schema rows belong to the schema, reachable or not: their
  // records are not rows of any table.
  for (const std::int64_t page : found.schemaPages) state.pages.Claim(page, PageRole::Btree, 1);
  return PassResult::Done;
}

// 5. The working database: every table statement replayed, a refused one
// rebuilt.
PassResult ReplaySchema(RecoveryState& state, IProgress& progress) {
  state.tableNames.clear();
  state.working = std::make_unique<WorkingDatabase>();
  WorkingDatabase& working = *state.working;
  if (!working.CreateIn(WorkingDatabase::Folder(), &state.workingError)) return PassResult::Failed;
  // The tree lists the tables in schema order: the working database's
  // names for the statements it took, the virtual tables by their names.
  // The internal tables whose rows a save keeps (AUTOINCREMENT counters,
  // planner statistics) are made with their fixed statements.
  // Listed: shown by its name without being replayed; Replayed: the tables
  // its statement made (an AUTOINCREMENT table makes sqlite_sequence too).
  enum class Slot { Listed, Replayed };
  std::vector<std::pair<Slot, QString>> order;
  const std::size_t count = state.catalog.Objects().size();
  for (std::size_t i = 0; i < count; ++i) {
    SchemaObject& table = state.catalog.At(i);
    if (!table.Is(SchemaKind::Table)) continue;
    if (table.virtualTable) {
      // Never run here: it is recreated only in the recovered database.
      order.emplace_back(Slot::Listed, table.name);
      continue;
    }
    if (table.name.contains(QChar(0))) {
      // A name holding a zero byte (only a damaged schema has one) cannot be
      // written in a statement: the library reads SQL text up to its first
      // zero byte. The table is listed all the same, and its save reports
      // why it cannot be made.
      order.emplace_back(Slot::Listed, table.name);
      continue;
    }
    if (!InternalTableStatement(table.name).isEmpty()) {
      working.ReplayInternal(table.name);
    } else if (!working.Accepts(table.sql)) {
      // A statement the library cannot even compile is damaged text: it is
      // rebuilt without a complaint about the text; when it cannot be, the
      // replay reports the library's error and the table is not listed.
      if (!RepairStatement(state, table, progress)) working.Replay(table.sql);
    } else if (!working.Replay(table.sql)) {
      RepairStatement(state, table, progress);
    }
    for (QString& made : working.NewTables()) order.emplace_back(Slot::Replayed, std::move(made));
  }
  // A commit the library refused rolled every replayed table back.
  const bool kept = working.Commit();
  QStringList& names = state.tableNames;
  QSet<QString> seen;
  for (auto& [slot, name] : order) {
    if (slot == Slot::Replayed && !kept) continue;
    if (slot == Slot::Listed && seen.contains(name)) continue;
    seen.insert(name);
    names << std::move(name);
  }
  return PassResult::Done;
}

// Index entries held for checking which tree holds a table's rows.
constexpr int kCheckedEntries = 16;

// Reads `page` and parses it; false when it is not a readable b-tree page.
bool ReadTreePage(const PageSource& source, std::int64_t page, std::vector<std::uint8_t>& buffer,
                  PageLayout& layout) {
  const Geometry& g = source.geometry();
  return page > 1 && page <= g.pageCount && source.ReadPage(page, buffer.data()) == PageRead::Ok &&
         ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, false, &layout);
}

// The first entries of the index tree under `root` (its left-most leaf), at
// most kCheckedEntries, each as its values.
std::vector<std::vector<HeldValue>> FirstIndexEntries(const PageSource& source, std::int64_t root) {
  const Geometry& g = source.geometry();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  PageLayout layout;
  std::vector<std::vector<HeldValue>> entries;
  std::int64_t page = root;
  for (int depth = 0; depth < format::kMaxTreeDepth; ++depth) {
    if (!ReadTreePage(source, page, buffer, layout) ||
        layout.type != (layout.interior ? format::kInteriorIndex : format::kLeafIndex))
      return entries;
    if (!layout.interior) break;
    page = layout.CellCount() > 0 ? InteriorChild(buffer.data(), g.pageSize, layout, 0)
                                  : std::int64_t{layout.rightChild};
  }
  if (layout.interior) return entries;
  RecordView view;
  for (std::size_t i = 0; i < layout.cells.size() && int(entries.size()) < kCheckedEntries; ++i) {
    if (!DecodeCellPayload(source, {layout.type, buffer.data(), g.pageSize, layout.cells[i]},
                           DecodeMode::Display, view) ||
        view.values.size() < 2)
      continue;
    std::vector<HeldValue> values;
    for (const ValueView& v : view.values) values.push_back(Hold(view, v));
    entries.push_back(std::move(values));
  }
  return entries;
}

// The record of `rowid` in the table tree under `root`, searched by key
// (bounded depth); false when the tree does not hold it or cannot be read.
bool FindRowid(const PageSource& source, std::int64_t root, std::int64_t rowid, RecordView& view) {
  const Geometry& g = source.geometry();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  PageLayout layout;
  std::int64_t page = root;
  for (int depth = 0; depth < format::kMaxTreeDepth; ++depth) {
    if (!ReadTreePage(source, page, buffer, layout)) return false;
    if (layout.type == format::kLeafTable) {
      for (const std::uint32_t cell : layout.cells) {
        std::int64_t key = 0;
        if (TableCellKey(buffer.data(), g.pageSize, layout.type, cell, &key) && key == rowid)
          return DecodeCellPayload(source, {layout.type, buffer.data(), g.pageSize, cell},
                                   DecodeMode::Display, view) &&
                 !view.values.empty();
      }
      return false;
    }
    if (layout.type != format::kInteriorTable) return false;
    std::int64_t next = layout.rightChild;
    for (std::int64_t i = 0; i < layout.CellCount(); ++i) {
      std::int64_t key = 0;
      if (TableCellKey(buffer.data(), g.pageSize, layout.type, layout.cells[size_t(i)], &key) &&
          rowid <= key) {
        next = InteriorChild(buffer.data(), g.pageSize, layout, i);
        break;
      }
    }
    page = next;
  }
  return false;
}

// How the entries of an index of a table compare with the rows a tree holds.
struct EntryVerdict {
  int agree = 0;     // the tree holds the entry's rowid with the entry's key values
  int disagree = 0;  // the rowid is missing or its record holds other values
  bool Agrees(int entries) const { return agree >= std::min(3, entries) && disagree == 0; }
  bool Contradicts(int entries) const { return disagree >= std::min(3, entries) && agree == 0; }
};

EntryVerdict CheckEntries(const PageSource& source, std::int64_t root,
                          const std::vector<std::vector<HeldValue>>& entries,
                          const std::vector<int>& positions) {
  EntryVerdict verdict;
  RecordView record;
  for (const std::vector<HeldValue>& entry : entries) {
    const HeldValue& last = entry.back();
    if (last.storage != StorageClass::Integer || entry.size() < positions.size() + 1) continue;
    if (!FindRowid(source, root, last.intValue, record)) {
      ++verdict.disagree;
      continue;
    }
    bool same = true;
    bool known = true;
    for (std::size_t k = 0; k < positions.size(); ++k) {
      const int p = positions[k];
      if (p < 0) {
        same =
            same && entry[k].storage == StorageClass::Integer && entry[k].intValue == record.rowid;
      } else if (p < record.Size()) {
        same = same && Hold(record, record.values[size_t(p)]) == entry[k];
      } else {
        known = false;  // a row written before the column was added: its default
      }
    }
    if (known) ++(same ? verdict.agree : verdict.disagree);
  }
  return verdict;
}

// Refuses `root` after the trees were mapped: its pages are forgotten, so
// that the orphan pass finds them and decides where their rows belong.
void RefuseMappedRoot(RecoveryState& state, std::int64_t root) {
  const std::int64_t count = state.source.geometry().pageCount;
  const std::uint32_t owner = static_cast<std::uint32_t>(root);
  for (std::int64_t page = 2; page <= count; ++page) {
    const PageRole role = state.pages.Role(page);
    if ((role == PageRole::Btree || role == PageRole::Overflow) && state.pages.Owner(page) == owner)
      state.pages.Set(page, PageRole::Unknown, 0);
  }
  std::erase(state.liveRoots, root);
  state.refusedRoots.insert(
      std::lower_bound(state.refusedRoots.begin(), state.refusedRoots.end(), root), root);
}

// 6. The roots checked against the tables' indexes: when the entries of a
// table's index contradict the tree its schema row names and agree with the
// tree another table's schema row names (root pages swapped), neither table
// keeps that tree; the orphan pass then puts the rows where the evidence
// says they belong.
PassResult CheckRootsByIndexes(RecoveryState& state, IProgress&) {
  if (state.working == nullptr) return PassResult::Skipped;
  struct Table {
    const SchemaObject* object;
    std::int64_t root;
    TableLayout layout;
  };
  std::vector<Table> tables;
  for (const SchemaObject& object : state.catalog.Objects()) {
    if (!object.Is(SchemaKind::Table) || object.virtualTable || object.rootPage <= 1 ||
        state.RootRefused(object.rootPage))
      continue;
    Table table{&object, object.rootPage, {}};
    if (ReadTableLayout(state.working->Db(), object.name, &table.layout) &&
        !table.layout.withoutRowid)
      tables.push_back(std::move(table));
  }
  std::vector<std::int64_t> refuse;
  for (const Table& table : tables) {
    for (const SchemaObject& index : state.catalog.Objects()) {
      QString on;
      QStringList keys;
      if (!index.Is(SchemaKind::Index) || index.rootPage <= 1 ||
          state.RootRefused(index.rootPage) || !IndexKeyNames(index.sql, &on, &keys) ||
          on.compare(table.object->name, Qt::CaseInsensitive) != 0)
        continue;
      std::vector<int> positions;
      for (const QString& key : keys) {
        int position = -2;
        for (int r = 0; r < int(table.layout.recordToColumn.size()); ++r) {
          const int c = table.layout.recordToColumn[size_t(r)];
          if (table.layout.columns[size_t(c)].name.compare(key, Qt::CaseInsensitive) == 0)
            position = c == table.layout.rowidAlias ? -1 : r;
        }
        if (key.isEmpty() || position == -2) positions.clear();
        if (key.isEmpty() || position == -2) break;
        positions.push_back(position);
      }
      if (positions.empty()) continue;
      const auto entries = FirstIndexEntries(state.source, index.rootPage);
      const int n = int(entries.size());
      if (n == 0 || !CheckEntries(state.source, table.root, entries, positions).Contradicts(n))
        continue;
      for (const Table& other : tables) {
        if (other.root == table.root ||
            !CheckEntries(state.source, other.root, entries, positions).Agrees(n))
          continue;
        refuse.push_back(table.root);
        refuse.push_back(other.root);
      }
    }
  }
  std::sort(refuse.begin(), refuse.end());
  refuse.erase(std::unique(refuse.begin(), refuse.end()), refuse.end());
  for (const std::int64_t root : refuse) RefuseMappedRoot(state, root);
  return refuse.empty() ? PassResult::Skipped : PassResult::Done;
}

// 7. Orphan table pages put back into their tables.
PassResult PutBackOrphans(RecoveryState& state, IProgress& progress) {
  state.orphans = RunOrphanPass(state, progress);
  return state.orphans.ran ? PassResult::Done : PassResult::Skipped;
}

// 8. Tables made of the orphan trees without a schema row; their groups
// leave lost and found.
PassResult AdoptRecoveredTrees(RecoveryState& state, IProgress& progress) {
  if (!state.orphans.ran) return PassResult::Skipped;
  OrphanPassResult& orphans = state.orphans;
  WorkingDatabase& working = *state.working;
  QStringList& names = state.tableNames;
  std::vector<bool> recovered(orphans.lostGroups.size(), false);
  for (RecoveredTable& table : FindRecoveredTables(state, state.TakenNames(), progress)) {
    bool made = false;
    if (table.internal) {
      made = working.ReplayInternal(table.name);
    } else {
      made = working.Replay(table.sql);
      if (!made && !table.fallbackSql.isEmpty() && working.Replay(table.fallbackSql)) {
        table.sql = table.fallbackSql;
        made = true;
      }
    }
    if (!made) continue;  // its rows stay in lost and found
    for (std::size_t g : table.groups) recovered[g] = true;
    PutBackPages& pages = orphans.putBack[table.name];
    pages.pages = std::move(table.pages);
    pages.rows = table.rows;
    if (!names.contains(table.name)) names << table.name;
    // An AUTOINCREMENT table makes sqlite_sequence in the working database.
    if (!names.contains(QStringLiteral("sqlite_sequence")) &&
        working.Holds(QStringLiteral("sqlite_sequence")))
      names << QStringLiteral("sqlite_sequence");
    SchemaObject object;
    object.type = QStringLiteral("table");
    object.name = table.name;
    object.tableName = table.name;
    object.sql = table.sql;
    object.origin = SchemaOrigin::RecoveredTree;
    object.kinds.table = true;
    object.repairNote = table.note;
    state.catalog.Add(std::move(object));
  }
  // What stays in lost and found: the groups no table took.
  std::vector<LostGroup> rest;
  orphans.lostPages.clear();
  orphans.lostRows = 0;
  orphans.lostWidth = 0;
  for (std::size_t g = 0; g < recovered.size(); ++g) {
    if (recovered[g]) continue;
    LostGroup& group = orphans.lostGroups[g];
    orphans.lostPages.insert(orphans.lostPages.end(), group.leaves.begin(), group.leaves.end());
    orphans.lostRows += group.rows;
    orphans.lostWidth =
        std::min(kLostAndFoundMaxWidth, std::max(orphans.lostWidth, group.maxFields));
    rest.push_back(std::move(group));
  }
  std::sort(orphans.lostPages.begin(), orphans.lostPages.end());
  orphans.lostGroups = std::move(rest);
  return PassResult::Done;
}

// 9. Rows that fit no table are kept in a table of their own, made here: it
// has no schema row in the file.
PassResult AddLostAndFound(RecoveryState& state, IProgress&) {
  if (state.orphans.lostRows <= 0) return PassResult::Skipped;
  QStringList taken = state.tableNames;
  for (const SchemaObject& object : state.catalog.Objects()) taken << object.name;
  SchemaObject lost;
  lost.type = QStringLiteral("table");
  lost.name = LostAndFoundName(taken);
  lost.tableName = lost.name;
  lost.sql = LostAndFoundSql(lost.name, state.orphans.lostWidth);
  lost.origin = SchemaOrigin::LostAndFound;
  lost.kinds.table = true;
  if (state.working->Replay(lost.sql)) {
    state.tableNames << lost.name;
    state.catalog.Add(std::move(lost));
  }
  return PassResult::Done;
}

// 9. Deleted records read from free space and free pages, kept apart.
PassResult FindDeleted(RecoveryState& state, IProgress& progress) {
  if (!state.findDeleted) return PassResult::Skipped;
  state.deleted = FindDeletedRecords(state, progress);
  return state.deleted.ran ? PassResult::Done : PassResult::Skipped;
}

constexpr std::array kPasses{
    RecoveryPass{
        "page 1", PassPhase::Scan,
        [](RecoveryState& state, IProgress&) { return ReadFirstPage(state.source, state.schema); }},
    RecoveryPass{"schema tree", PassPhase::Scan, ReadSchemaTree},
    RecoveryPass{"live roots", PassPhase::Scan, ChooseLiveRoots},
    RecoveryPass{"schema search", PassPhase::Scan, SearchWholeFile},
    RecoveryPass{"working database", PassPhase::Build, ReplaySchema},
    RecoveryPass{"index evidence", PassPhase::Build, CheckRootsByIndexes},
    RecoveryPass{"orphan pages", PassPhase::Build, PutBackOrphans},
    RecoveryPass{"recovered trees", PassPhase::Build, AdoptRecoveredTrees},
    RecoveryPass{"lost and found", PassPhase::Build, AddLostAndFound},
    RecoveryPass{"deleted records", PassPhase::Build, FindDeleted},
};

}  // namespace

std::span<const RecoveryPass> RecoveryPasses() { return kPasses; }

}  // namespace velmora
