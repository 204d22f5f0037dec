// The orphan pass (see OrphanPass.h for the order of its steps).
#include "engine/passes/OrphanPass.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_map>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"
#include "engine/core/SqlQuote.h"
#include "engine/pages/RecordVisitor.h"
#include "engine/passes/PagePasses.h"
#include "engine/passes/RecoveryState.h"
#include "engine/schema/IndexStatement.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/TableColumns.h"
#include "engine/schema/WorkingDatabase.h"

namespace velmora {
namespace {

constexpr std::uint8_t kNull = kClassNull, kInt = kClassInteger, kReal = kClassReal;

// The next few helpers hash a key (values, then a rowid) for the index
// evidence. A real with an integral value hashes as that integer, as the
// library may store it either way.
std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  h *= 0xFF51AFD7ED558CCDull;
  return h ^ (h >> 33);
}
std::uint64_t HashInteger(std::uint64_t h, std::int64_t v) {
  return Mix(Mix(h, kInt), static_cast<std::uint64_t>(v));
}
std::uint64_t HashValue(std::uint64_t h, const RecordView& record, const ValueView& value) {
  switch (value.storage) {
    case StorageClass::Null:
      return Mix(h, kNull);
    case StorageClass::Integer:
      return HashInteger(h, value.intValue);
    case StorageClass::Real: {
      const double d = value.realValue;
      if (d >= -9.2e18 && d <= 9.2e18 && d == static_cast<double>(static_cast<std::int64_t>(d)))
        return HashInteger(h, static_cast<std::int64_t>(d));
      std::uint64_t bits = 0;
      std::memcpy(&bits, &d, sizeof bits);
      return Mix(Mix(h, kReal), bits);
    }
    case StorageClass::Text:
    case StorageClass::Blob:
      break;
  }
  h = Mix(Mix(h, ClassBit(value.storage)), static_cast<std::uint64_t>(value.length));
  const std::uint8_t* data = record.Data(value);
  for (std::int64_t i = 0; data != nullptr && i < value.held; ++i) h = Mix(h, data[i]);
  return h;
}

// The pointer map of an auto-vacuum file: for each page, its kind and parent.
class PointerMap {
 public:
  explicit PointerMap(const PageSource& source) : m_source(source) {
    const Geometry& g = source.geometry();
    m_present = format::HasPointerMap(source.Header(), g.usableSize);
    m_lockPage = format::LockBytePage(g.pageSize);
  }
  bool Present() const { return m_present; }
  std::int64_t LockPage() const { return m_lockPage; }
  bool IsMapPage(std::int64_t page) const {
    const Geometry& g = m_source.geometry();
    return m_present && format::IsPointerMapPage(page, g.pageSize, g.usableSize);
  }
  // The root page the map leads to from `page` (its parents followed, at
  // most a tree's depth); 0 when it leads nowhere, -1 when it calls a page on
  // the way free.
  std::int64_t RootOf(std::int64_t page) const {
    for (int step = 0; step <= format::kMaxTreeDepth; ++step) {
      PointerMapEntry entry;
      if (!ReadPointerMapEntry(m_source, page, &entry)) return 0;
      if (entry.kind == format::kPointerMapRoot) return page;
      if (entry.kind == format::kPointerMapFree) return -1;
      if (entry.kind != format::kPointerMapBtree || entry.parent < 2) return 0;
      page = entry.parent;
    }
    return 0;
  }

 private:
  const PageSource& m_source;
  bool m_present = false;
  std::int64_t m_lockPage = 0;
};

struct Column {
  QString name;
  std::uint8_t allowed = kAnyClass;
};

// An index of a table, as far as its entries can be compared with rows: plain
// columns only, no WHERE clause.
struct IndexInfo {
  std::int64_t root = 0;
  bool complete = false;
  std::vector<int> positions;  // record position of each key column; -1: the rowid alias
};

struct TableInfo {
  QString name;
  std::int64_t root = 0;
  bool complete = true;           // its walk used every page under its root
  std::vector<RowidRange> holes;  // the rowid ranges its walk could not read
  std::vector<Column> columns;    // stored columns, in record order
  int alias = -1;
  // The damaged trees only: each surviving leaf's first and last rowid
  // (sorted by first rowid once read, with the largest last rowid so far
  // beside each), and the classes their records hold per position.
  std::vector<std::pair<std::int64_t, std::int64_t>> leaves;
  std::vector<std::int64_t> lastSoFar;
  std::vector<std::uint8_t> liveClasses;
  std::int64_t liveRows = 0;
  std::vector<IndexInfo> indexes;
};

// A group as the pass weighs it: what the result keeps of a lost group,
// and the pass's own verdict.
struct Group : LostGroup {
  Group() {
    minRowid = LLONG_MAX;
    maxRowid = LLONG_MIN;
    minFields = INT_MAX;
  }
  std::vector<int> candidates;  // indices into the tables
  int owner = -1;
  bool free = false;  // the pointer map calls it free
};

// The stored columns of table `name` in the working database, in record
// order, and its rowid alias, from the table's layout. False for a WITHOUT
// ROWID table (its rows live in index pages, which the pass does not take)
// or an unknown one.
bool ReadTableColumns(sqlite3* db, const QString& name, TableInfo* table) {
  StoredColumns stored;
  if (!ReadStoredColumns(db, name, &stored)) return false;
  for (const StoredColumn& column : stored.columns)
    table->columns.push_back({column.name, column.allowed});
  table->alias = stored.alias;
  return true;
}

// The key columns of "CREATE [UNIQUE] INDEX name ON table (col, ...)" as
// record positions of `table`; false for an index on expressions, a partial
// index, or a statement that does not read that way.
bool ParseIndexColumns(const QString& sql, const TableInfo& table, std::vector<int>* positions) {
  QString onTable;
  QStringList names;
  if (!IndexKeyNames(sql, &onTable, &names)) return false;
  positions->clear();
  for (const QString& column : names) {
    int position = -2;
    for (std::size_t c = 0; c < table.columns.size(); ++c)
      if (table.columns[c].name.compare(column, Qt::CaseInsensitive) == 0)
        position = static_cast<int>(c) == table.alias ? -1 : static_cast<int>(c);
    if (column.isEmpty() || position == -2) return false;
    positions->push_back(position);
  }
  return !positions->empty();
}

// True when [low, high] lies inside one hole of `table`'s tree (the rowid
// range that its parent's keys gave a page the walk refused) and no
// surviving leaf holds a rowid in it: where a lost page's rows belong.
bool InHole(const TableInfo& table, std::int64_t low, std::int64_t high) {
  bool inside = false;
  for (const RowidRange& hole : table.holes)
    if (hole.first <= low && high <= hole.last) inside = true;
  if (!inside || table.lastSoFar.size() != table.leaves.size()) return false;
  // The leaves starting at or below `high`; one of them reaching `low`
  // overlaps the range.
  const auto after =
      std::upper_bound(table.leaves.begin(), table.leaves.end(), high,
                       [](std::int64_t key, const std::pair<std::int64_t, std::int64_t>& leaf) {
                         return key < leaf.first;
                       });
  const std::size_t count = static_cast<std::size_t>(after - table.leaves.begin());
  return count == 0 || table.lastSoFar[count - 1] < low;
}

bool ShapeFits(const TableInfo& table, const Group& group) {
  if (group.maxFields > static_cast<int>(table.columns.size()) || group.minFields < 1) return false;
  for (int k = 0; k < group.maxFields; ++k)
    if ((group.classes[size_t(k)] & ~table.columns[size_t(k)].allowed) != 0) return false;
  return true;
}

// The group's classes are all among what the table's surviving rows hold
// (NULL always allowed).
bool LiveClassesFit(const TableInfo& table, const Group& group) {
  if (table.liveRows == 0) return false;
  for (int k = 0; k < group.maxFields; ++k) {
    const std::uint8_t live = k < static_cast<int>(table.liveClasses.size())
                                  ? table.liveClasses[size_t(k)]
                                  : std::uint8_t{0};
    if ((group.classes[size_t(k)] & ~(live | kNull)) != 0) return false;
  }
  return true;
}

// The hash of the index key that `record` (a row of `table`) gives `index`;
// false when the record lacks a key column (a shorter record).
bool RowKey(const IndexInfo& index, const RecordView& record, std::uint64_t* hash) {
  std::uint64_t h = 0;
  for (int position : index.positions) {
    if (position < 0) {
      h = HashInteger(h, record.rowid);
    } else if (position < record.Size()) {
      h = HashValue(h, record, record.values[size_t(position)]);
    } else {
      return false;
    }
  }
  *hash = HashInteger(h, record.rowid);
  return true;
}

bool IndexEntryKey(std::size_t keyCount, const RecordView& record, std::uint64_t* hash) {
  if (record.values.size() != keyCount + 1) return false;
  const ValueView& rowid = record.values.back();
  if (rowid.storage != StorageClass::Integer) return false;
  std::uint64_t h = 0;
  for (std::size_t k = 0; k < keyCount; ++k) h = HashValue(h, record, record.values[k]);
  *hash = HashInteger(h, rowid.intValue);
  return true;
}

class Pass {
 public:
  Pass(RecoveryState& state, IProgress& progress)
      : m_state(state), m_source(state.source), m_progress(progress), m_map(state.source) {}
  OrphanPassResult Run();

 private:
  bool Stopped() const { return m_progress.Poll(); }
  bool ClassifyFile(std::vector<std::int64_t>* orphans);
  void ReadTables();
  void MakeGroups(const std::vector<std::int64_t>& orphans);
  void DecodeGroups();
  void ReadDamagedTrees();
  void Attribute();
  void WeighIndexes();
  void Decide();

  RecoveryState& m_state;
  const PageSource& m_source;
  IProgress& m_progress;
  PointerMap m_map;
  OrphanPassResult m_result;
  std::vector<TableInfo> m_tables;
  std::vector<Group> m_groups;
  // Per group and candidate (same order as Group::candidates): index evidence.
  std::vector<std::vector<int>> m_indexVerdict;  // 1 found, -1 contradicted, 0 silent
};

bool Pass::ClassifyFile(std::vector<std::int64_t>* orphans) {
  // Every live tree walked once without decoding (its holes and its pages
  // recorded), the freelist followed, every page left called an orphan.
  m_result.pages = ClassifyPages(m_state, m_progress);
  if (m_result.pages.stopped) return false;
  const Geometry& g = m_source.geometry();
  for (std::int64_t page = 2; page <= g.pageCount; ++page) {
    if (m_state.pages.Role(page) != PageRole::Orphan) continue;
    // The lock-byte page and the pointer-map pages hold no rows.
    if (page == m_map.LockPage() || m_map.IsMapPage(page)) continue;
    std::uint8_t type = 0;
    if (m_source.ReadPart(page, 0, &type, 1) != 1) continue;
    if (type == format::kInteriorTable || type == format::kLeafTable) orphans->push_back(page);
  }
  return true;
}

void Pass::ReadTables() {
  sqlite3* db = m_state.working ? m_state.working->Db() : nullptr;
  if (db == nullptr) return;
  for (const QString& name : m_state.tableNames) {
    const SchemaObject* object = m_state.catalog.FindTable(name);
    if (object == nullptr || object->rootPage <= 1) continue;
    TableInfo table;
    table.name = name;
    table.root = object->rootPage;
    table.complete = m_state.WalkComplete(table.root);
    table.holes = m_state.Holes(table.root);
    if (!ReadTableColumns(db, name, &table)) continue;
    for (const SchemaObject* index : m_state.catalog.OfKind(SchemaKind::Index)) {
      if (index->rootPage <= 1 || index->tableName.compare(object->name, Qt::CaseInsensitive) != 0)
        continue;
      IndexInfo info;
      info.root = index->rootPage;
      info.complete = m_state.WalkComplete(info.root);
      if (ParseIndexColumns(index->sql, table, &info.positions)) table.indexes.push_back(info);
    }
    m_tables.push_back(std::move(table));
  }
}

void Pass::MakeGroups(const std::vector<std::int64_t>& orphans) {
  const Geometry& g = m_source.geometry();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  PageLayout layout;
  auto indexOf = [&orphans](std::int64_t page) -> std::int64_t {
    auto at = std::lower_bound(orphans.begin(), orphans.end(), page);
    return at != orphans.end() && *at == page ? at - orphans.begin() : -1;
  };
  // Children of each orphan interior page that are orphans themselves.
  std::vector<std::vector<std::int64_t>> children(orphans.size());
  std::vector<bool> hasParent(orphans.size(), false), interior(orphans.size(), false);
  for (std::size_t i = 0; i < orphans.size(); ++i) {
    if (m_source.ReadPage(orphans[i], buffer.data()) != PageRead::Ok ||
        !ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, false, &layout) ||
        layout.type != format::kInteriorTable)
      continue;
    interior[i] = true;
    for (std::int64_t c = 0; c <= layout.CellCount(); ++c) {
      const std::int64_t child = c < layout.CellCount()
                                     ? InteriorChild(buffer.data(), g.pageSize, layout, c)
                                     : layout.rightChild;
      const std::int64_t at = indexOf(child);
      if (at < 0 || static_cast<std::size_t>(at) == i) continue;
      children[i].push_back(at);
      hasParent[size_t(at)] = true;
    }
  }
  std::vector<bool> taken(orphans.size(), false);
  // Depth first from each orphan interior page that no orphan page points
  // to; a page joins the first group that reaches it.
  for (std::size_t i = 0; i < orphans.size(); ++i) {
    if (!interior[i] || hasParent[i] || taken[i]) continue;
    Group group;
    group.top = orphans[i];
    std::vector<std::pair<std::int64_t, int>> stack{{static_cast<std::int64_t>(i), 0}};
    taken[i] = true;
    while (!stack.empty()) {
      const auto [at, depth] = stack.back();
      stack.pop_back();
      if (!interior[size_t(at)]) {
        group.leaves.push_back(orphans[size_t(at)]);
        continue;
      }
      if (depth >= format::kMaxTreeDepth) continue;
      // Pushed in reverse so that the leaves come out in key order.
      for (auto c = children[size_t(at)].rbegin(); c != children[size_t(at)].rend(); ++c) {
        if (taken[size_t(*c)]) continue;
        taken[size_t(*c)] = true;
        stack.emplace_back(*c, depth + 1);
      }
    }
    if (!group.leaves.empty()) m_groups.push_back(std::move(group));
  }
  for (std::size_t i = 0; i < orphans.size(); ++i) {
    if (taken[i] || interior[i]) continue;
    Group group;
    group.top = orphans[i];
    group.leaves.push_back(orphans[i]);
    m_groups.push_back(std::move(group));
  }
}

void Pass::DecodeGroups() {
  for (Group& group : m_groups) {
    auto visitor = MakeVisitor(m_source, [&group](const CellRef&, const RecordView& record) {
      if (!record.hasRowid) return;
      ++group.rows;
      group.minRowid = std::min(group.minRowid, record.rowid);
      group.maxRowid = std::max(group.maxRowid, record.rowid);
      group.minFields = std::min(group.minFields, record.Size());
      group.maxFields = std::max(group.maxFields, record.Size());
      if (group.classes.size() < record.values.size())
        group.classes.resize(record.values.size(), 0);
      for (int k = 0; k < record.Size(); ++k)
        group.classes[size_t(k)] |= ClassBit(record.values[size_t(k)].storage);
    });
    for (std::int64_t leaf : group.leaves) {
      if (m_state.WalkLoose(leaf, visitor, m_progress).stopped) return;
    }
  }
}

void Pass::ReadDamagedTrees() {
  for (TableInfo& table : m_tables) {
    if (table.complete) continue;
    std::int64_t lastPage = -1;
    auto visitor = MakeVisitor(m_source, [&](const CellRef& cell, const RecordView& record) {
      if (!record.hasRowid) return;
      if (cell.pageNumber != lastPage) {
        table.leaves.emplace_back(record.rowid, record.rowid);
        lastPage = cell.pageNumber;
      }
      auto& leaf = table.leaves.back();
      leaf.first = std::min(leaf.first, record.rowid);
      leaf.second = std::max(leaf.second, record.rowid);
      ++table.liveRows;
      if (table.liveClasses.size() < record.values.size())
        table.liveClasses.resize(record.values.size(), 0);
      for (int k = 0; k < record.Size(); ++k)
        table.liveClasses[size_t(k)] |= ClassBit(record.values[size_t(k)].storage);
    });
    if (m_state.Walk(table.root, visitor, m_progress).stopped) return;
    std::sort(table.leaves.begin(), table.leaves.end());
    table.lastSoFar.resize(table.leaves.size());
    std::int64_t last = LLONG_MIN;
    for (std::size_t i = 0; i < table.leaves.size(); ++i)
      table.lastSoFar[i] = last = std::max(last, table.leaves[i].second);
  }
}

void Pass::Attribute() {
  for (Group& group : m_groups) {
    if (group.rows == 0) continue;
    const std::int64_t root = m_map.Present() ? m_map.RootOf(group.top) : 0;
    group.mapRoot = std::max<std::int64_t>(root, 0);
    if (root < 0) {
      group.free = true;  // a free page: its rows were deleted
      continue;
    }
    if (root > 0) {
      // The map names the tree exactly: that table, or none of them (an
      // index, a table the working database did not take).
      int named = -1, count = 0;
      for (std::size_t t = 0; t < m_tables.size(); ++t)
        if (m_tables[t].root == root) {
          named = static_cast<int>(t);
          ++count;
        }
      if (count == 1) {
        // The map names the table exactly; the group still may not bring a
        // rowid the table has, nor records the table cannot hold, and a tree
        // whose walk lost nothing has no place for it.
        const TableInfo& table = m_tables[size_t(named)];
        if (!table.complete && InHole(table, group.minRowid, group.maxRowid) &&
            ShapeFits(table, group))
          group.candidates.push_back(named);
      }
      continue;
    }
    for (std::size_t t = 0; t < m_tables.size(); ++t) {
      const TableInfo& table = m_tables[t];
      // A tree whose walk lost nothing has no hole to put pages back into.
      if (table.complete) continue;
      if (InHole(table, group.minRowid, group.maxRowid) && ShapeFits(table, group))
        group.candidates.push_back(static_cast<int>(t));
    }
  }
}

void Pass::WeighIndexes() {
  m_indexVerdict.assign(m_groups.size(), {});
  for (std::size_t g = 0; g < m_groups.size(); ++g)
    m_indexVerdict[g].assign(m_groups[g].candidates.size(), 0);
  for (std::size_t t = 0; t < m_tables.size(); ++t) {
    const TableInfo& table = m_tables[t];
    for (const IndexInfo& index : table.indexes) {
      // The rows of the groups that may be this table's, by key.
      std::unordered_map<std::uint64_t, int> keys;
      std::vector<std::int64_t> checked(m_groups.size(), 0), found(m_groups.size(), 0);
      bool any = false;
      for (std::size_t g = 0; g < m_groups.size(); ++g) {
        Group& group = m_groups[g];
        if (std::find(group.candidates.begin(), group.candidates.end(), int(t)) ==
            group.candidates.end())
          continue;
        any = true;
        auto visitor = MakeVisitor(m_source, [&](const CellRef&, const RecordView& record) {
          std::uint64_t hash = 0;
          if (!record.hasRowid || !RowKey(index, record, &hash)) return;
          ++checked[g];
          keys.emplace(hash, static_cast<int>(g));
        });
        for (std::int64_t leaf : group.leaves)
          if (m_state.WalkLoose(leaf, visitor, m_progress).stopped) return;
      }
      if (!any) continue;
      auto visitor = MakeVisitor(m_source, [&](const CellRef&, const RecordView& record) {
        std::uint64_t hash = 0;
        if (!IndexEntryKey(index.positions.size(), record, &hash)) return;
        auto at = keys.find(hash);
        if (at != keys.end()) ++found[size_t(at->second)];
      });
      if (m_state.Walk(index.root, visitor, m_progress).stopped) return;
      for (std::size_t g = 0; g < m_groups.size(); ++g) {
        const auto& candidates = m_groups[g].candidates;
        auto at = std::find(candidates.begin(), candidates.end(), int(t));
        if (at == candidates.end() || checked[g] == 0) continue;
        int& verdict = m_indexVerdict[g][size_t(at - candidates.begin())];
        if (found[g] == checked[g]) {
          if (verdict == 0) verdict = 1;
        } else if (index.complete) {
          verdict = -1;  // a complete index of this table lacks rows of the group
        }
      }
    }
  }
}

void Pass::Decide() {
  for (std::size_t g = 0; g < m_groups.size(); ++g) {
    Group& group = m_groups[g];
    std::vector<int> keep, positive;
    for (std::size_t c = 0; c < group.candidates.size(); ++c) {
      const int verdict = m_indexVerdict[g][c];
      if (verdict < 0) continue;
      keep.push_back(group.candidates[c]);
      if (verdict > 0) positive.push_back(group.candidates[c]);
    }
    if (keep.size() > 1 && !positive.empty()) keep = positive;
    if (keep.size() > 1) {
      std::vector<int> live;
      for (int t : keep)
        if (LiveClassesFit(m_tables[size_t(t)], group)) live.push_back(t);
      if (!live.empty()) keep = live;
    }
    if (keep.size() == 1) group.owner = keep.front();
  }
  // Two groups given to one table must not share rowids: neither is trusted.
  std::vector<std::size_t> order(m_groups.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    const Group& x = m_groups[a];
    const Group& y = m_groups[b];
    return x.owner != y.owner ? x.owner < y.owner : x.minRowid < y.minRowid;
  });
  std::vector<bool> clash(m_groups.size(), false);
  for (std::size_t i = 1; i < order.size(); ++i) {
    const Group& previous = m_groups[order[i - 1]];
    const Group& group = m_groups[order[i]];
    if (group.owner >= 0 && group.owner == previous.owner && group.minRowid <= previous.maxRowid)
      clash[order[i]] = clash[order[i - 1]] = true;
  }
  for (std::size_t i : order) {
    Group& group = m_groups[i];
    if (group.rows == 0 || group.free) continue;
    if (group.owner >= 0 && !clash[i]) {
      PutBackPages& pages = m_result.putBack[m_tables[size_t(group.owner)].name];
      pages.pages.insert(pages.pages.end(), group.leaves.begin(), group.leaves.end());
      pages.rows += group.rows;
    } else {
      m_result.lostPages.insert(m_result.lostPages.end(), group.leaves.begin(), group.leaves.end());
      m_result.lostRows += group.rows;
      m_result.lostWidth =
          std::min(kLostAndFoundMaxWidth, std::max(m_result.lostWidth, group.maxFields));
      group.fitsNoTable = group.candidates.empty();
      // The candidates a complete index did not rule out.
      for (std::size_t c = 0; c < group.candidates.size(); ++c)
        if (i >= m_indexVerdict.size() || c >= m_indexVerdict[i].size() ||
            m_indexVerdict[i][c] >= 0)
          group.candidateTables.push_back(m_tables[size_t(group.candidates[c])].name);
      m_result.lostGroups.push_back(static_cast<const LostGroup&>(group));
    }
  }
  std::sort(m_result.lostPages.begin(), m_result.lostPages.end());
}

OrphanPassResult Pass::Run() {
  std::vector<std::int64_t> orphans;
  if (!ClassifyFile(&orphans)) {
    m_result = OrphanPassResult();
    m_result.stopped = true;
    return m_result;
  }
  m_result.orphanPages = static_cast<std::int64_t>(orphans.size());
  if (!orphans.empty()) {
    ReadTables();
    MakeGroups(orphans);
    DecodeGroups();
    if (!Stopped()) ReadDamagedTrees();
    if (!Stopped()) Attribute();
    if (!Stopped()) WeighIndexes();
    if (Stopped()) {
      m_result = OrphanPassResult();
      m_result.stopped = true;
      return m_result;
    }
    Decide();
  }
  m_result.ran = true;
  return m_result;
}

}  // namespace

OrphanPassResult RunOrphanPass(RecoveryState& state, IProgress& progress) {
  return Pass(state, progress).Run();
}

std::uint64_t HashRecordValue(const RecordView& record, const ValueView& value) {
  return HashValue(0, record, value);
}

std::uint64_t HashRowid(std::int64_t rowid) { return HashInteger(0, rowid); }

QString LostAndFoundSql(const QString& name, int width) {
  QString sql = QStringLiteral("CREATE TABLE ") + QuoteIdentifier(name) +
                QStringLiteral("(page INTEGER, id INTEGER, nfield INTEGER");
  for (int i = 1; i <= width; ++i) sql += QStringLiteral(", c%1").arg(i);
  return sql + QLatin1Char(')');
}

QString LostAndFoundName(const QStringList& taken) {
  const QString base = QStringLiteral("lost_and_found");
  QString name = base;
  for (int suffix = 1; taken.contains(name, Qt::CaseInsensitive); ++suffix)
    name = base + QStringLiteral("_%1").arg(suffix);
  return name;
}

}  // namespace velmora
