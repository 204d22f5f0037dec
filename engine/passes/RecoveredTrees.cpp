// Tables made from orphan trees without a schema row (see RecoveredTrees.h).
#include "engine/passes/RecoveredTrees.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <climits>
#include <map>
#include <unordered_map>
#include <utility>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"
#include "engine/core/SqlQuote.h"
#include "engine/core/Values.h"
#include "engine/pages/RecordVisitor.h"
#include "engine/passes/OrphanPass.h"
#include "engine/passes/RecoveryState.h"
#include "engine/schema/SchemaRepair.h"
#include "engine/schema/StandIns.h"
#include "engine/schema/WorkingDatabase.h"

namespace velmora {
namespace {

constexpr std::uint8_t kNullBit = 1, kIntBit = 2, kTextBit = 8;
// The most index entries held for the comparison, over all indexes.
constexpr std::int64_t kMaxIndexEntries = 500000;
// The most record positions searched for an index key.
constexpr int kMaxKeyPositions = 64;
// The most surviving indexes compared, and the most key columns one may have.
constexpr std::size_t kMaxLostIndexes = 64;
constexpr int kMaxIndexKeys = 32;
// The most names read from a tree shaped like an internal table.
constexpr std::int64_t kMaxInternalRows = 20000;

// A surviving index of a table that has no schema row.
struct LostIndex {
  QString name;       // the index's name
  QString tableName;  // the table it names
  std::int64_t root = 0;
  bool automatic = false;  // sqlite_autoindex_NAME_N: no statement, no column names
  QStringList keyNames;    // from the statement (empty for an automatic index)
  int keys = 0;            // key columns; from the entries for an automatic index
  bool complete = false;   // its walk used every page
  std::unordered_map<std::int64_t, std::size_t> byRowid;  // rowid -> first hash in `hashes`
  std::vector<std::uint64_t> hashes;                      // `keys` per entry
};

// What one tree's records show.
struct TreeEvidence {
  RecordProfile profile;
  std::int64_t rows = 0;
  // Per index: rows found in it, and per key and record position the rows
  // whose value there equals the key.
  std::vector<std::int64_t> found;
  std::vector<std::vector<std::vector<std::int64_t>>> matches;
  // The texts of the first and second fields, for the internal-table shapes.
  QStringList firstTexts;
  std::vector<std::int64_t> secondIntegers;
  bool thirdFieldsLikeStat = true;
  // Once read: per index, whether it names the tree, and the record position
  // of each of its keys (-1: none or several); `matches` is then released.
  std::vector<bool> named;
  std::vector<std::vector<int>> keyPositions;
};

bool Stopped(IProgress& progress) { return progress.Poll(); }

bool ContainsName(const QStringList& names, const QString& name) {
  return names.contains(name, Qt::CaseInsensitive);
}

// The pages of `tops` (sorted) that an interior page of a live tree names as
// a child, sorted. `progress` is polled every few thousand pages; *stopped
// is set when it asks to stop.
std::vector<std::int64_t> KnownChildren(const RecoveryState& state,
                                        const std::vector<std::int64_t>& tops, IProgress& progress,
                                        bool* stopped) {
  std::vector<std::int64_t> children;
  const Geometry& g = state.source.geometry();
  if (tops.empty() || g.pageSize < format::kMinPageSize) return children;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  PageLayout layout;
  for (std::int64_t page = 1; page <= g.pageCount; ++page) {
    if (page % 4096 == 0 && Stopped(progress)) {
      *stopped = true;
      return children;
    }
    if (state.pages.Role(page) != PageRole::Btree) continue;
    const int at = page == 1 ? format::kHeaderSize : 0;
    std::uint8_t type = 0;
    if (state.source.ReadPart(page, at, &type, 1) != 1 || type != format::kInteriorTable) continue;
    if (state.source.ReadPage(page, buffer.data()) != PageRead::Ok ||
        !ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, page == 1, &layout) ||
        !layout.interior)
      continue;
    for (std::int64_t c = 0; c <= layout.CellCount(); ++c) {
      const std::int64_t child = c < layout.CellCount()
                                     ? InteriorChild(buffer.data(), g.pageSize, layout, c)
                                     : layout.rightChild;
      if (std::binary_search(tops.begin(), tops.end(), child)) children.push_back(child);
    }
  }
  std::sort(children.begin(), children.end());
  return children;
}

// The surviving indexes whose table has no schema row, their entries read.
std::vector<LostIndex> ReadLostIndexes(RecoveryState& state, const QStringList& taken,
                                       IProgress& progress, bool* stopped) {
  std::vector<LostIndex> indexes;
  for (const SchemaObject* object : state.catalog.OfKind(SchemaKind::Index)) {
    LostIndex index;
    QString onTable;
    if (object->rootPage <= 1 || !IndexKeyNames(object->sql, &onTable, &index.keyNames)) continue;
    index.name = object->name;
    index.tableName = object->tableName.isEmpty() ? onTable : object->tableName;
    index.root = object->rootPage;
    index.keys = static_cast<int>(index.keyNames.size());
    indexes.push_back(std::move(index));
  }
  for (const SchemaIndexRow& row : state.autoIndexes) {
    LostIndex index;
    index.name = row.name;
    index.tableName = row.tableName;
    index.root = row.rootPage;
    index.automatic = true;
    indexes.push_back(std::move(index));
  }
  std::erase_if(indexes, [&](const LostIndex& index) {
    return index.tableName.isEmpty() || ContainsName(taken, index.tableName) ||
           state.RootRefused(index.root) || index.keys > kMaxIndexKeys;
  });
  if (indexes.size() > kMaxLostIndexes) indexes.resize(kMaxLostIndexes);
  std::int64_t held = 0;
  for (LostIndex& index : indexes) {
    auto visitor = MakeVisitor(state.source, [&](const CellRef&, const RecordView& record) {
      if (held >= kMaxIndexEntries) return false;
      if (index.keys == 0) index.keys = std::min(record.Size() - 1, kMaxIndexKeys + 1);
      if (index.keys < 1 || index.keys > kMaxIndexKeys || record.Size() != index.keys + 1)
        return true;
      const ValueView& rowid = record.values.back();
      if (rowid.storage != StorageClass::Integer) return true;
      if (!index.byRowid.emplace(rowid.intValue, index.hashes.size()).second) return true;
      for (int k = 0; k < index.keys; ++k)
        index.hashes.push_back(HashRecordValue(record, record.values[size_t(k)]));
      ++held;
      return true;
    });
    const WalkReport report = state.Walk(index.root, visitor, progress);
    if (report.stopped && Stopped(progress)) {
      *stopped = true;
      return {};
    }
    index.complete = report.complete && !report.stopped;
  }
  return indexes;
}

// Reads the records of `groups` (their leaves) into `evidence`.
bool ReadTree(RecoveryState& state, const std::vector<LostGroup>& all,
              const std::vector<std::size_t>& groups, const std::vector<LostIndex>& indexes,
              IProgress& progress, TreeEvidence* evidence) {
  evidence->found.assign(indexes.size(), 0);
  evidence->matches.resize(indexes.size());
  for (std::size_t i = 0; i < indexes.size(); ++i)
    evidence->matches[i].assign(static_cast<std::size_t>(std::max(indexes[i].keys, 0)),
                                std::vector<std::int64_t>(kMaxKeyPositions + 1, 0));
  const std::uint32_t encoding = state.source.geometry().textEncoding;
  static const QRegularExpression statPattern(QStringLiteral("^[0-9]+( [0-9]+)*( .*)?$"));
  auto visitor = MakeVisitor(state.source, [&](const CellRef&, const RecordView& record) {
    if (!record.hasRowid) return true;
    ++evidence->rows;
    if (evidence->profile.records < kMaxProfiledRecords)
      AddToProfile(record, evidence->profile);
    else
      evidence->profile.cut = true;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      const LostIndex& index = indexes[i];
      const auto entry = index.byRowid.find(record.rowid);
      if (index.keys < 1 || entry == index.byRowid.end()) continue;
      ++evidence->found[i];
      const int positions = std::min(record.Size(), kMaxKeyPositions);
      for (int k = 0; k < index.keys; ++k) {
        const std::uint64_t key = index.hashes[entry->second + size_t(k)];
        auto& counts = evidence->matches[i][size_t(k)];
        for (int p = 0; p < positions; ++p) {
          const ValueView& value = record.values[size_t(p)];
          if (HashRecordValue(record, value) == key) ++counts[size_t(p)];
          // The rowid alias: NULL in the record, the rowid in the index.
          else if (value.storage == StorageClass::Null && HashRowid(record.rowid) == key)
            ++counts[size_t(p)];
        }
      }
    }
    if (evidence->firstTexts.size() < kMaxInternalRows && record.Size() >= 2 &&
        record.Size() <= 3 && record.values[0].storage == StorageClass::Text) {
      evidence->firstTexts << ExactText(record, record.values[0], encoding);
      if (record.values[1].storage == StorageClass::Integer)
        evidence->secondIntegers.push_back(record.values[1].intValue);
      if (record.Size() == 3) {
        const ValueView& stat = record.values[2];
        evidence->thirdFieldsLikeStat =
            evidence->thirdFieldsLikeStat && stat.storage == StorageClass::Text &&
            statPattern.match(ExactText(record, stat, encoding)).hasMatch();
      }
    }
    return true;
  });
  for (std::size_t g : groups)
    for (std::int64_t leaf : all[g].leaves)
      if (state.WalkLoose(leaf, visitor, progress).stopped && Stopped(progress)) return false;
  return true;
}

// The record position where every found row holds key `k` of index `i`; -1
// when none or several do.
int KeyPosition(const TreeEvidence& evidence, std::size_t i, std::size_t k) {
  int position = -1;
  const auto& counts = evidence.matches[i][k];
  for (std::size_t p = 0; p < counts.size(); ++p) {
    if (counts[p] != evidence.found[i]) continue;
    if (position >= 0) return -1;
    position = static_cast<int>(p);
  }
  return position;
}

// Every row of the tree is an entry of the index (or, for an index whose
// walk lost pages, at least half of them are), each key at one position.
bool IndexNamesTree(const TreeEvidence& evidence, const LostIndex& index, std::size_t i) {
  const std::int64_t found = evidence.found[i];
  if (found == 0 || index.keys < 1) return false;
  if (index.complete ? found != evidence.rows : found * 2 < evidence.rows) return false;
  for (std::size_t k = 0; k < static_cast<std::size_t>(index.keys); ++k) {
    bool some = false;
    for (std::int64_t count : evidence.matches[i][k]) some = some || count == found;
    if (!some) return false;
  }
  return true;
}

enum class InternalShape { None, Sequence, Stat1 };

InternalShape ShapeOfInternal(const std::vector<LostGroup>& all,
                              const std::vector<std::size_t>& groups, const TreeEvidence& evidence,
                              const QStringList& known) {
  if (evidence.rows == 0 || evidence.rows > kMaxInternalRows ||
      evidence.firstTexts.size() != evidence.rows)
    return InternalShape::None;
  int minFields = INT_MAX, maxFields = 0;
  std::uint8_t first = 0, second = 0, third = 0;
  for (std::size_t g : groups) {
    minFields = std::min(minFields, all[g].minFields);
    maxFields = std::max(maxFields, all[g].maxFields);
    const auto& c = all[g].classes;
    first |= c.size() > 0 ? c[0] : 0;
    second |= c.size() > 1 ? c[1] : 0;
    third |= c.size() > 2 ? c[2] : 0;
  }
  bool anyKnown = false;
  for (const QString& name : evidence.firstTexts) anyKnown = anyKnown || known.contains(name);
  if (!anyKnown || first != kTextBit) return InternalShape::None;
  if (minFields == 2 && maxFields == 2 && second == kIntBit) {
    // One counter per table, never negative.
    QSet<QString> distinct(evidence.firstTexts.begin(), evidence.firstTexts.end());
    if (distinct.size() != evidence.firstTexts.size()) return InternalShape::None;
    for (std::int64_t v : evidence.secondIntegers)
      if (v < 0) return InternalShape::None;
    return InternalShape::Sequence;
  }
  if (minFields == 3 && maxFields == 3 && (second & ~(kTextBit | kNullBit)) == 0 &&
      third == kTextBit && evidence.thirdFieldsLikeStat)
    return InternalShape::Stat1;
  return InternalShape::None;
}

// The column definitions for a tree's records: `names` per position (empty:
// c<N>), typed from the records; `alias` (or -1) is declared the
// AUTOINCREMENT rowid alias.
QString BuildStatement(const QString& table, const RecordProfile& profile,
                       const std::vector<QString>& names, int alias) {
  const int width = std::max(profile.widest, 1);
  QSet<QString> used;
  for (const QString& n : names)
    if (!n.isEmpty()) used.insert(n.toLower());
  QStringList columns;
  for (int i = 0; i < width; ++i) {
    QString name = i < static_cast<int>(names.size()) ? names[size_t(i)] : QString();
    if (name.isEmpty()) {
      name = QStringLiteral("c%1").arg(i + 1);
      for (int n = 2; used.contains(name.toLower()); ++n)
        name = QStringLiteral("c%1_%2").arg(i + 1).arg(n);
      used.insert(name.toLower());
    }
    QString definition = QuoteIdentifier(name);
    if (i == alias) {
      definition += QStringLiteral(" INTEGER PRIMARY KEY AUTOINCREMENT");
    } else {
      const QString type = TypeFromProfile(profile, i);
      if (!type.isEmpty()) definition += QLatin1Char(' ') + type;
    }
    columns << definition;
  }
  return QStringLiteral("CREATE TABLE %1(%2)")
      .arg(QuoteIdentifier(table), columns.join(QStringLiteral(", ")));
}

}  // namespace

namespace {
// The classes of one position as the shape compares them: NULL set aside
// (any column may hold it), integer and real as one (a REAL column stores
// integral values as integers).
std::uint8_t Family(std::uint8_t classes) {
  constexpr std::uint8_t kRealBit = 4;
  classes &= static_cast<std::uint8_t>(~kNullBit);
  if ((classes & kRealBit) != 0)
    classes = static_cast<std::uint8_t>((classes & ~kRealBit) | kIntBit);
  return classes;
}
}  // namespace

bool SameShape(const LostGroup& a, const LostGroup& b) {
  if (a.minFields != b.minFields || a.maxFields != b.maxFields) return false;
  const std::size_t n = std::max(a.classes.size(), b.classes.size());
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint8_t x = k < a.classes.size() ? a.classes[k] : 0;
    const std::uint8_t y = k < b.classes.size() ? b.classes[k] : 0;
    if (Family(x) != Family(y)) return false;
  }
  return true;
}

std::vector<std::vector<std::size_t>> GroupLostTrees(const std::vector<LostGroup>& groups,
                                                     const std::vector<std::size_t>& eligible) {
  std::vector<std::vector<std::size_t>> shapes;
  for (std::size_t g : eligible) {
    auto same = std::find_if(shapes.begin(), shapes.end(), [&](const std::vector<std::size_t>& s) {
      return SameShape(groups[s.front()], groups[g]);
    });
    if (same == shapes.end())
      shapes.push_back({g});
    else
      same->push_back(g);
  }
  std::vector<std::vector<std::size_t>> trees;
  for (std::vector<std::size_t>& shape : shapes) {
    std::sort(shape.begin(), shape.end(), [&](std::size_t a, std::size_t b) {
      return groups[a].minRowid < groups[b].minRowid;
    });
    bool disjoint = true;
    for (std::size_t i = 1; i < shape.size(); ++i)
      disjoint = disjoint && groups[shape[i]].minRowid > groups[shape[i - 1]].maxRowid;
    if (disjoint) {
      trees.push_back(shape);
    } else {
      for (std::size_t g : shape) trees.push_back({g});
    }
  }
  std::sort(trees.begin(), trees.end(), [&](const auto& a, const auto& b) {
    return groups[a.front()].top < groups[b.front()].top;
  });
  return trees;
}

QString RecoveredTableName(const QStringList& taken) {
  for (int n = 1;; ++n) {
    const QString name = QStringLiteral("recovered_table_%1").arg(n);
    if (!ContainsName(taken, name)) return name;
  }
}

std::vector<RecoveredTable> FindRecoveredTables(RecoveryState& state, const QStringList& taken,
                                                IProgress& progress) {
  std::vector<RecoveredTable> tables;
  const std::vector<LostGroup>& all = state.orphans.lostGroups;
  const std::vector<std::int64_t>& live = state.liveRoots;
  std::vector<std::size_t> eligible;
  std::vector<std::int64_t> tops;
  for (std::size_t g = 0; g < all.size(); ++g) {
    const LostGroup& group = all[g];
    // The pointer map leading to a live tree says the group is that tree's.
    const bool mapLive = group.mapRoot > 0 && group.mapRoot != group.top &&
                         std::find(live.begin(), live.end(), group.mapRoot) != live.end();
    if (group.fitsNoTable && group.rows > 0 && !mapLive) {
      eligible.push_back(g);
      tops.push_back(group.top);
    }
  }
  if (eligible.empty()) return tables;
  std::sort(tops.begin(), tops.end());
  bool stopped = false;
  const std::vector<std::int64_t> parented = KnownChildren(state, tops, progress, &stopped);
  if (stopped) return tables;
  std::erase_if(eligible, [&](std::size_t g) {
    return std::binary_search(parented.begin(), parented.end(), all[g].top);
  });
  if (eligible.empty() || Stopped(progress)) return tables;

  const std::vector<LostIndex> indexes = ReadLostIndexes(state, taken, progress, &stopped);
  if (stopped) return {};
  const std::vector<std::vector<std::size_t>> trees = GroupLostTrees(all, eligible);
  std::vector<TreeEvidence> evidence(trees.size());
  for (std::size_t t = 0; t < trees.size(); ++t) {
    TreeEvidence& e = evidence[t];
    if (!ReadTree(state, all, trees[t], indexes, progress, &e)) return {};
    e.named.assign(indexes.size(), false);
    e.keyPositions.resize(indexes.size());
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      if (!IndexNamesTree(e, indexes[i], i)) continue;
      e.named[i] = true;
      for (std::size_t k = 0; k < static_cast<std::size_t>(indexes[i].keys); ++k)
        e.keyPositions[i].push_back(KeyPosition(e, i, k));
    }
    e.matches.clear();
    e.matches.shrink_to_fit();
  }

  // 1. Names from surviving indexes: a tree that the indexes of exactly one
  // table name, and a table name that names exactly one tree.
  std::vector<QString> names(trees.size());
  std::vector<std::vector<QString>> columnNames(trees.size());
  std::vector<QString> notes(trees.size());
  std::map<QString, int> treesPerName;  // lower-case name -> trees it names
  std::vector<QString> named(trees.size());
  for (std::size_t t = 0; t < trees.size(); ++t) {
    QString only;
    bool several = false;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      if (!evidence[t].named[i]) continue;
      if (!only.isEmpty() && only.compare(indexes[i].tableName, Qt::CaseInsensitive) != 0)
        several = true;
      only = indexes[i].tableName;
    }
    if (several || only.isEmpty()) continue;
    named[t] = only;
    ++treesPerName[only.toLower()];
  }
  QStringList used = taken;
  for (std::size_t t = 0; t < trees.size(); ++t) {
    if (named[t].isEmpty() || treesPerName[named[t].toLower()] != 1 || ContainsName(used, named[t]))
      continue;
    names[t] = named[t];
    used << names[t];
    QStringList by;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      if (!evidence[t].named[i]) continue;
      by << indexes[i].name;
      for (std::size_t k = 0; k < static_cast<std::size_t>(indexes[i].keyNames.size()); ++k) {
        const int position =
            k < evidence[t].keyPositions[i].size() ? evidence[t].keyPositions[i][k] : -1;
        if (position < 0 || indexes[i].keyNames[qsizetype(k)].isEmpty()) continue;
        if (columnNames[t].size() <= size_t(position)) columnNames[t].resize(size_t(position) + 1);
        columnNames[t][size_t(position)] = indexes[i].keyNames[qsizetype(k)];
      }
    }
    notes[t] = QStringLiteral(
                   "its schema row is lost; named after the surviving index %1, whose "
                   "entries are its rows")
                   .arg(by.join(QStringLiteral(", ")));
  }

  // 2. The internal tables, when the file does not hold them already.
  QStringList known = used;
  for (const LostIndex& index : indexes) known << index.tableName;
  int sequenceTree = -1;
  std::vector<InternalShape> shapes(trees.size(), InternalShape::None);
  for (std::size_t t = 0; t < trees.size(); ++t) {
    if (!names[t].isEmpty()) continue;
    shapes[t] = ShapeOfInternal(all, trees[t], evidence[t], known);
  }
  for (const InternalShape shape : {InternalShape::Sequence, InternalShape::Stat1}) {
    const QString name = shape == InternalShape::Sequence ? QStringLiteral("sqlite_sequence")
                                                          : QStringLiteral("sqlite_stat1");
    if (state.InternalTableRoot(name) > 0 || std::count(shapes.begin(), shapes.end(), shape) != 1)
      continue;
    const std::size_t t =
        static_cast<std::size_t>(std::find(shapes.begin(), shapes.end(), shape) - shapes.begin());
    names[t] = name;
    notes[t] = QStringLiteral("its schema row is lost; its records have the shape of %1").arg(name);
    if (shape == InternalShape::Sequence) sequenceTree = static_cast<int>(t);
  }

  // 3. The rest by number: the numbers only grow, so each name is looked up
  // once in the set of names taken.
  QSet<QString> usedLower;
  for (const QString& name : used) usedLower.insert(name.toLower());
  int number = 0;
  for (std::size_t t = 0; t < trees.size(); ++t) {
    if (!names[t].isEmpty()) continue;
    do {
      names[t] = QStringLiteral("recovered_table_%1").arg(++number);
    } while (usedLower.contains(names[t]));
    used << names[t];
    notes[t] = QStringLiteral("its schema row is lost and nothing in the file names it");
  }

  for (std::size_t t = 0; t < trees.size(); ++t) {
    RecoveredTable table;
    table.name = names[t];
    table.groups = trees[t];
    for (std::size_t g : trees[t]) {
      table.pages.insert(table.pages.end(), all[g].leaves.begin(), all[g].leaves.end());
      table.rows += all[g].rows;
    }
    const QString internal = InternalTableStatement(table.name);
    if (!internal.isEmpty() && static_cast<int>(t) == sequenceTree) {
      table.internal = true;
    } else if (!internal.isEmpty() && shapes[t] == InternalShape::Stat1) {
      table.internal = true;
    }
    if (table.internal) {
      table.sql = internal;
      table.note = notes[t];
      tables.push_back(std::move(table));
      continue;
    }
    // A table that sqlite_sequence counts has an AUTOINCREMENT rowid alias:
    // the one position NULL in every record.
    int alias = -1;
    const RecordProfile& profile = evidence[t].profile;
    if (sequenceTree >= 0 && evidence[size_t(sequenceTree)].firstTexts.contains(table.name) &&
        profile.records > 0) {
      int candidates = 0;
      for (std::size_t p = 0; p < profile.columns.size(); ++p)
        if (profile.columns[p].nulls == profile.records) {
          alias = static_cast<int>(p);
          ++candidates;
        }
      if (candidates != 1) alias = -1;
    }
    table.sql = BuildStatement(table.name, profile, columnNames[t], alias);
    if (alias >= 0) table.fallbackSql = BuildStatement(table.name, profile, columnNames[t], -1);
    int named = 0;
    for (const QString& n : columnNames[t]) named += n.isEmpty() ? 0 : 1;
    table.note =
        notes[t] +
        QStringLiteral("; %1 column(s) built from its records").arg(std::max(profile.widest, 1));
    if (named > 0) table.note += QStringLiteral(", %1 named by the index").arg(named);
    if (alias >= 0)
      table.note += QStringLiteral(", its AUTOINCREMENT key found by sqlite_sequence");
    tables.push_back(std::move(table));
  }
  // The internal tables after the tables they describe.
  std::stable_partition(tables.begin(), tables.end(),
                        [](const RecoveredTable& t) { return !t.internal; });
  return tables;
}

}  // namespace velmora
