#include "engine/passes/PagePasses.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"
#include "engine/passes/RecoveryState.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/StandIns.h"

namespace velmora {
namespace {

bool IsIndexType(std::uint8_t type) {
  return type == format::kInteriorIndex || type == format::kLeafIndex;
}

// Number of fields in the record of the leaf cell at `offset` (its local
// record header only); -1 when the header cannot be read.
int RecordFields(const std::uint8_t* page, std::int64_t pageSize, std::uint8_t type,
                 std::int64_t offset) {
  if (offset < 0 || offset >= pageSize) return -1;
  const std::uint8_t* p = page + offset;
  const std::uint8_t* const end = page + pageSize;
  std::uint64_t value = 0;
  for (int skip = type == format::kLeafTable ? 2 : 1; skip > 0; --skip) {
    const int n = format::ReadVarint(p, end, &value);
    if (n == 0) return -1;
    p += n;
  }
  std::uint64_t headerSize = 0;
  const int n = format::ReadVarint(p, end, &headerSize);
  if (n == 0 || headerSize < static_cast<std::uint64_t>(n) ||
      headerSize > static_cast<std::uint64_t>(end - p))
    return -1;
  int fields = 0;
  for (const std::uint8_t* t = p + n; t < p + headerSize; ++fields) {
    const int k = format::ReadVarint(t, p + headerSize, &value);
    if (k == 0) return -1;
    t += k;
  }
  return fields;
}

// Follows each cell's overflow chain into the page map without decoding the
// record: the classification's cheap walk.
class OverflowMapper : public ICellVisitor {
 public:
  explicit OverflowMapper(const PageSource& source) : m_source(source) {}
  CellUse VisitCell(const CellRef& cell) override {
    const Geometry& g = m_source.geometry();
    if (cell.pageNumber != m_lastPage && cell.map != nullptr) {
      // The page is at hand: whether the deleted-records pass must read it.
      m_lastPage = cell.pageNumber;
      if (cell.pageType == format::kInteriorTable ||
          (cell.pageType == format::kLeafTable &&
           FreeSpaceBlank(cell.page, cell.pageNumber == 1 ? format::kHeaderSize : 0, g.usableSize)))
        cell.map->MarkNothingFreed(cell.pageNumber);
    }
    const std::uint8_t* const end = cell.page + cell.pageSize;
    const std::uint8_t* p = cell.page + cell.offset;
    if (format::IsInterior(cell.pageType)) p += 4;
    if (cell.pageType == format::kInteriorTable || p >= end) return CellUse::Used;
    std::uint64_t payload = 0;
    int n = format::ReadVarint(p, end, &payload);
    if (n == 0) return CellUse::Skipped;
    p += n;
    if (cell.pageType == format::kLeafTable) {
      std::uint64_t rowid = 0;
      n = format::ReadVarint(p, end, &rowid);
      if (n == 0) return CellUse::Skipped;
      p += n;
    }
    const std::int64_t local = format::LocalPayloadSize(payload, cell.pageType, g.usableSize);
    if (payload <= static_cast<std::uint64_t>(local)) return CellUse::Used;
    if (end - p < local + 4) return CellUse::Skipped;
    std::int64_t page = format::ReadBigEndian32(p + local);
    const std::int64_t perPage = g.usableSize - format::kOverflowHeaderSize;
    std::uint64_t left = payload - static_cast<std::uint64_t>(local);
    // Bounded by the bytes the payload announces, the page count and the
    // walk's set of overflow pages already used.
    while (left > 0 && page > 0 && page <= g.pageCount && cell.overflowPages->Insert(page)) {
      if (cell.map != nullptr && !cell.map->Claim(page, PageRole::Overflow, cell.tree)) break;
      std::uint8_t next[4];
      if (m_source.ReadPart(page, 0, next, 4) < 4) break;
      left -= std::min<std::uint64_t>(left, static_cast<std::uint64_t>(perPage));
      page = format::ReadBigEndian32(next);
    }
    return CellUse::Used;
  }

 private:
  std::int64_t m_lastPage = 0;
  const PageSource& m_source;
};

// A claim of a leaf by a tree during the mapping, kept for leaves in dispute.
struct LeafClaim {
  std::uint32_t tree = 0;
  RowidRange range;
  bool asRoot = false;
};

// First descent: the leaves some tree claimed after another (disputed);
// second descent (collecting): every claim on a disputed leaf.
struct MappingState : ILeafChildren {
  std::unordered_set<std::int64_t> disputed;
  std::unordered_map<std::int64_t, std::vector<LeafClaim>> claims;
  // The same for interior pages below a root that two trees reach.
  std::unordered_set<std::int64_t> disputedInner;
  std::unordered_map<std::int64_t, std::vector<LeafClaim>> innerClaims;
  bool collecting = false;

  void InnerChild(std::uint32_t tree, std::int64_t page, RowidRange range, bool claimed) override {
    if (!collecting) {
      if (!claimed) disputedInner.insert(page);
    } else if (disputedInner.count(page) != 0) {
      innerClaims[page].push_back(LeafClaim{tree, range, false});
    }
  }

  void LeafChild(std::uint32_t tree, std::int64_t page, RowidRange range, bool claimed) override {
    if (!collecting) {
      if (!claimed) disputed.insert(page);
    } else if (disputed.count(page) != 0) {
      claims[page].push_back(LeafClaim{tree, range, false});
    }
  }
};

class NoCells : public ICellVisitor {
 public:
  CellUse VisitCell(const CellRef&) override { return CellUse::Used; }
};

}  // namespace

RootEvidence ProbeRoot(const PageSource& source, std::int64_t root) {
  RootEvidence evidence;
  const Geometry& g = source.geometry();
  if (root <= 0 || root > g.pageCount || g.pageSize < format::kMinPageSize) return evidence;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  std::vector<std::uint8_t> child(static_cast<std::size_t>(g.pageSize));
  PageLayout layout, childLayout;
  if (source.ReadPage(root, buffer.data()) != PageRead::Ok ||
      !ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, root == 1, &layout))
    return evidence;
  evidence.readable = true;
  evidence.indexTree = IsIndexType(layout.type);
  // Down to the left-most leaf, through the first few children of each level
  // that fit: the tree's family and, in a table tree, keys inside the range
  // the parent's key gives (a damaged child pointer must not lend the root
  // another table's records).
  std::int64_t low = INT64_MIN;
  for (int depth = 0; depth < format::kMaxTreeDepth && layout.interior; ++depth) {
    bool found = false;
    for (std::int64_t i = 0; i <= layout.CellCount() && i < 8 && !found; ++i) {
      const bool last = i == layout.CellCount();
      const std::int64_t page = last ? std::int64_t{layout.rightChild}
                                     : InteriorChild(buffer.data(), g.pageSize, layout, i);
      std::int64_t high = INT64_MAX, key = 0;
      if (!last && !evidence.indexTree &&
          TableCellKey(buffer.data(), g.pageSize, layout.type,
                       layout.cells[static_cast<std::size_t>(i)], &key))
        high = key;
      if (page <= 0 || page > g.pageCount || source.ReadPage(page, child.data()) != PageRead::Ok ||
          !ParsePageLayout(child.data(), g.pageSize, g.usableSize, false, &childLayout) ||
          IsIndexType(childLayout.type) != evidence.indexTree) {
        low = high == INT64_MAX ? low : high + 1;
        continue;
      }
      if (!evidence.indexTree && childLayout.CellCount() > 0 &&
          TableCellKey(child.data(), g.pageSize, childLayout.type, childLayout.cells[0], &key) &&
          (key < low || key > high)) {
        low = high == INT64_MAX ? low : high + 1;
        continue;
      }
      found = true;
      buffer.swap(child);
      std::swap(layout, childLayout);
    }
    if (!found) return evidence;
  }
  if (!layout.interior && layout.CellCount() > 0)
    evidence.fields = RecordFields(buffer.data(), g.pageSize, layout.type, layout.cells[0]);
  return evidence;
}

std::vector<bool> ChooseRoots(const std::vector<RootCandidate>& candidates,
                              const std::function<RootEvidence(std::int64_t)>& probe) {
  std::vector<bool> keep(candidates.size(), false);
  std::map<std::int64_t, std::vector<std::size_t>> byRoot;
  std::map<std::int64_t, int> fields;  // per root: the field count of its first record
  for (std::size_t i = 0; i < candidates.size(); ++i)
    if (candidates[i].rootPage > 1) byRoot[candidates[i].rootPage].push_back(i);
  for (const auto& [root, claimants] : byRoot) {
    const RootEvidence evidence = probe(root);
    std::vector<std::size_t> fitting;
    for (const std::size_t i : claimants) {
      const RootCandidate& c = candidates[i];
      const bool fits = evidence.readable && evidence.indexTree == c.indexTree &&
                        (c.indexTree || c.columns <= 0 || evidence.fields <= c.columns);
      if (fits) fitting.push_back(i);
    }
    if (fitting.size() == 1) keep[fitting.front()] = true;
    fields[root] = evidence.fields;
  }
  // Records shorter than the table are kept only while no table that lost
  // its own root has exactly their field count: two tables whose root pages
  // were swapped would otherwise take each other's rows.
  std::vector<bool> shortRefused(candidates.size(), false);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const RootCandidate& c = candidates[i];
    const auto f = fields.find(c.rootPage);
    if (!keep[i] || c.indexTree || f == fields.end() || f->second < 0 || f->second >= c.columns)
      continue;
    for (std::size_t j = 0; j < candidates.size(); ++j)
      if (j != i && !keep[j] && !candidates[j].indexTree && candidates[j].columns == f->second)
        shortRefused[i] = true;
  }
  for (std::size_t i = 0; i < candidates.size(); ++i)
    if (shortRefused[i]) keep[i] = false;
  return keep;
}

namespace {

// True when the library can compile `sql` (never run; collations and
// functions it lacks get stand-ins). A statement it cannot compile is
// damaged text, and its column count is no evidence.
bool StatementCompiles(const QString& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  InstallStandInCollations(db);
  // The statement is finalized before the connection closes.
  const bool ok = [&] {
    Statement stmt;
    return PrepareWithStandIns(db, sql.toUtf8(), stmt.Out(), nullptr, nullptr) == SQLITE_OK &&
           stmt != nullptr;
  }();
  sqlite3_close(db);
  return ok;
}

}  // namespace

int DeclaredColumns(const QString& sql, bool* withoutRowid) {
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  const TableDefinitions defs = SplitTableDefinitions(sql, tokens);
  if (withoutRowid != nullptr) {
    *withoutRowid = false;
    if (defs.found)
      for (std::size_t t = static_cast<std::size_t>(defs.close) + 1; t < tokens.size(); ++t)
        if (IsSqlKeyword(sql, tokens[t], "WITHOUT")) *withoutRowid = true;
  }
  if (!defs.found || !StatementCompiles(sql)) return 0;
  int columns = 0;
  for (const auto& [first, last] : defs.definitions) {
    const SqlToken& head = tokens[static_cast<std::size_t>(first)];
    bool constraint = false;
    for (const char* word : {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"})
      if (IsSqlKeyword(sql, head, word)) constraint = true;
    if (!constraint) ++columns;
  }
  return columns;
}

std::int64_t MarkPointerMapPages(const PageSource& source, PageMap& map) {
  const Geometry& g = source.geometry();
  if (!format::HasPointerMap(source.Header(), g.usableSize)) return 0;
  // One pointer-map page leads each span of usable size / 5 + 1 pages.
  const std::int64_t span = g.usableSize / format::kPointerMapEntrySize + 1;
  std::int64_t marked = 0;
  for (std::int64_t first = 2; first <= g.pageCount; first += span) {
    const std::int64_t page = format::PointerMapPageOf(first, g.pageSize, g.usableSize);
    if (page > g.pageCount) break;
    map.Set(page, PageRole::PointerMap, 0);
    ++marked;
  }
  return marked;
}

bool ReadPointerMapEntry(const PageSource& source, std::int64_t page, PointerMapEntry* entry) {
  const Geometry& g = source.geometry();
  if (!format::HasPointerMap(source.Header(), g.usableSize) || page > g.pageCount) return false;
  const std::int64_t offset = format::PointerMapEntryOffset(page, g.pageSize, g.usableSize);
  if (offset < 0) return false;
  const std::int64_t mapPage = format::PointerMapPageOf(page, g.pageSize, g.usableSize);
  std::uint8_t bytes[format::kPointerMapEntrySize] = {};
  if (source.ReadPart(mapPage, offset, bytes, sizeof bytes) != sizeof bytes) return false;
  entry->kind = bytes[0];
  entry->parent = format::ReadBigEndian32(bytes + 1);
  return true;
}

std::vector<std::int64_t> MapLiveTrees(const PageSource& source, PageMap& map,
                                       const std::vector<std::int64_t>& roots,
                                       const std::vector<bool>& indexTrees, IProgress& progress,
                                       const PageLayout* firstPage) {
  std::vector<std::int64_t> lost;
  for (const std::int64_t root : roots)
    map.Claim(root, PageRole::Btree, static_cast<std::uint32_t>(root));
  MappingState state;
  WalkRules rules;
  rules.interiorOnly = true;
  rules.leafChildren = &state;
  rules.firstPage = firstPage;
  TreeWalk walk(source, &map);
  NoCells none;
  for (const std::int64_t root : roots)
    if (walk.Walk(root, none, progress, rules).stopped) return lost;
  if (state.disputed.empty() && state.disputedInner.empty()) return lost;

  // Every claim on a disputed leaf, with the range its parent gives it.
  state.collecting = true;
  for (const std::int64_t root : roots) walk.Walk(root, none, progress, rules);
  std::unordered_map<std::int64_t, bool> rootIndex;
  for (std::size_t i = 0; i < roots.size(); ++i)
    rootIndex[roots[i]] = i < indexTrees.size() && indexTrees[i];
  const Geometry& g = source.geometry();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  PageLayout layout;
  // An interior page two trees reach (a child pointer aimed into another
  // tree) stays with the tree that took it only when its keys fit that
  // tree's range and no other claimant's; otherwise it and everything the
  // taking tree claimed under it become orphans, whose rows the orphan pass
  // places by evidence or keeps in lost and found.
  for (const std::int64_t page : state.disputedInner) {
    const std::uint32_t owner = map.Owner(page);
    if (map.Role(page) != PageRole::Btree) continue;
    const bool parsed = source.ReadPage(page, buffer.data()) == PageRead::Ok &&
                        ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, false, &layout);
    int fitting = 0;
    bool ownerFits = false;
    for (const LeafClaim& claim : state.innerClaims[page]) {
      const auto family = rootIndex.find(claim.tree);
      if (!parsed || family == rootIndex.end() || family->second != IsIndexType(layout.type))
        continue;
      bool inside = true;
      for (const std::uint32_t offset : layout.cells) {
        std::int64_t key = 0;
        if (!family->second && TableCellKey(buffer.data(), g.pageSize, layout.type, offset, &key) &&
            (key < claim.range.first || key > claim.range.last))
          inside = false;
      }
      if (!inside) continue;
      ++fitting;
      ownerFits = ownerFits || claim.tree == owner;
    }
    if (fitting == 1 && ownerFits) continue;
    // Released top down, bounded by the page count: only pages the taking
    // tree holds.
    std::vector<std::int64_t> pending{page};
    std::vector<std::uint8_t> below(static_cast<std::size_t>(g.pageSize));
    PageLayout belowLayout;
    for (std::int64_t guard = g.pageCount; !pending.empty() && guard > 0; --guard) {
      const std::int64_t at = pending.back();
      pending.pop_back();
      if (map.Role(at) != PageRole::Btree || map.Owner(at) != owner) continue;
      map.Set(at, at == page ? PageRole::Orphan : PageRole::Unknown, 0);
      if (source.ReadPage(at, below.data()) != PageRead::Ok ||
          !ParsePageLayout(below.data(), g.pageSize, g.usableSize, false, &belowLayout) ||
          !belowLayout.interior)
        continue;
      for (std::int64_t i = 0; i < belowLayout.CellCount(); ++i)
        pending.push_back(InteriorChild(below.data(), g.pageSize, belowLayout, i));
      pending.push_back(belowLayout.rightChild);
    }
  }
  for (const std::int64_t page : state.disputed) {
    std::vector<LeafClaim>& claims = state.claims[page];
    if (rootIndex.count(page) != 0)
      claims.push_back(LeafClaim{static_cast<std::uint32_t>(page), RowidRange{}, true});
    const bool parsed = source.ReadPage(page, buffer.data()) == PageRead::Ok &&
                        ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, false, &layout);
    std::vector<std::uint32_t> fitting;
    for (const LeafClaim& claim : claims) {
      if (!parsed) break;
      const auto family = rootIndex.find(claim.tree);
      if (family == rootIndex.end() || family->second != IsIndexType(layout.type)) continue;
      // A claim as a child at leaf depth wants a leaf; a root takes either.
      if (!claim.asRoot && layout.interior) continue;
      bool inside = true;
      if (!family->second) {
        for (const std::uint32_t offset : layout.cells) {
          const std::uint8_t* p = buffer.data() + offset;
          const std::uint8_t* const end = buffer.data() + g.pageSize;
          std::uint64_t value = 0, key = 0;
          if (offset >= g.pageSize) continue;
          if (layout.interior) {
            if (end - p < 4) continue;
            p += 4;
          } else {
            const int n = format::ReadVarint(p, end, &value);
            if (n == 0) continue;
            p += n;
          }
          if (format::ReadVarint(p, end, &key) == 0) continue;
          const auto k = static_cast<std::int64_t>(key);
          if (k < claim.range.first || k > claim.range.last) inside = false;
        }
      }
      if (inside && std::find(fitting.begin(), fitting.end(), claim.tree) == fitting.end())
        fitting.push_back(claim.tree);
    }
    if (fitting.size() == 1) {
      map.Set(page, PageRole::Btree, fitting.front());
      if (rootIndex.count(page) != 0 && fitting.front() != page) lost.push_back(page);
    } else {
      map.Set(page, PageRole::Orphan, 0);
      if (rootIndex.count(page) != 0) lost.push_back(page);
    }
  }
  return lost;
}

void FollowFreelist(const PageSource& source,
                    const std::function<bool(std::int64_t page, bool trunk)>& visit) {
  const Geometry& g = source.geometry();
  if (g.pageSize < format::kMinPageSize || g.usableSize < 8) return;
  std::vector<std::uint8_t> trunk(static_cast<std::size_t>(g.pageSize));
  const std::int64_t perTrunk = format::TrunkCapacity(g.usableSize);
  PageSet trunks;
  std::int64_t page = format::ReadBigEndian32(source.Header() + format::kHeaderFreelistTrunk);
  for (std::int64_t guard = g.pageCount; page > 1 && page <= g.pageCount && guard > 0; --guard) {
    // Each trunk once: a chain that loops ends where it comes back.
    if (!trunks.Insert(page) || !visit(page, true)) break;
    if (source.ReadPage(page, trunk.data()) != PageRead::Ok) break;
    const std::int64_t leaves = std::min<std::int64_t>(
        format::ReadBigEndian32(trunk.data() + format::kTrunkLeafCount), perTrunk);
    for (std::int64_t i = 0; i < leaves; ++i) {
      const std::int64_t leaf =
          format::ReadBigEndian32(trunk.data() + format::kTrunkLeaves + 4 * i);
      if (leaf > 1 && leaf <= g.pageCount) visit(leaf, false);
    }
    page = format::ReadBigEndian32(trunk.data() + format::kTrunkNext);
  }
}

std::vector<std::uint32_t> FreelistPages(const PageSource& source) {
  std::vector<std::uint32_t> pages;
  FollowFreelist(source, [&pages](std::int64_t page, bool) {
    pages.push_back(static_cast<std::uint32_t>(page));
    return true;
  });
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

PageCounts ClassifyPages(RecoveryState& state, IProgress& progress) {
  PageCounts counts;
  const PageSource& source = state.source;
  const Geometry& g = source.geometry();
  PageMap& map = state.pages;
  if (!source.Usable()) return counts;

  // The live trees, cheaply: layouts and overflow chains, no records.
  OverflowMapper overflow(source);
  for (const std::int64_t root : state.liveRoots) {
    if (state.Walk(root, overflow, progress).stopped) {
      counts.stopped = true;
      return counts;
    }
  }

  // The freelist. A trunk that a live tree holds ends the chain (it is not a
  // trunk: the chain is damaged); a leaf that a live tree holds keeps its role.
  FollowFreelist(source, [&map](std::int64_t page, bool trunk) {
    const PageRole role = map.Role(page);
    if (trunk) {
      if (role != PageRole::Unknown && role != PageRole::FreeLeaf && role != PageRole::FreeTrunk)
        return false;
      map.Set(page, PageRole::FreeTrunk, 0);
    } else if (role == PageRole::Unknown) {
      map.Set(page, PageRole::FreeLeaf, 0);
    }
    return true;
  });

  // Every page left: orphan; a cut last page: unreadable.
  for (std::int64_t p = 1; p <= g.pageCount; ++p) {
    if ((p & 4095) == 0 && progress.Poll()) {
      counts.stopped = true;
      return counts;
    }
    PageRole role = map.Role(p);
    if (role == PageRole::Unknown) {
      map.Set(p, PageRole::Orphan, 0);
      role = PageRole::Orphan;
    }
    ++counts.byRole[static_cast<int>(role)];
    ++counts.total;
  }
  if (g.fileSize % g.pageSize != 0) {
    map.Set(g.pageCount + 1, PageRole::Unreadable, 0);
    ++counts.byRole[static_cast<int>(PageRole::Unreadable)];
    ++counts.total;
  }
  return counts;
}

}  // namespace velmora
