#include "engine/pages/TreeWalk.h"

#include <algorithm>

#include "engine/core/Format.h"

namespace velmora {
namespace {

bool IsTableType(std::uint8_t type) {
  return type == format::kInteriorTable || type == format::kLeafTable;
}

}  // namespace

WalkReport TreeWalk::Walk(std::int64_t root, ICellVisitor& visitor, IProgress& progress,
                          const WalkRules& rules) {
  m_visitor = &visitor;
  m_progress = &progress;
  m_rules = rules;
  m_root = static_cast<std::uint32_t>(root > 0 && root <= 0xFFFFFFFF ? root : 0);
  m_leafDepth = -1;
  m_report = WalkReport();
  m_visited.Clear();
  m_overflow.Clear();
  // Every level's buffer exists before the descent: deeper calls never move
  // the buffers of the levels above them.
  if (m_pages.size() < format::kMaxTreeDepth + 2) {
    m_pages.resize(format::kMaxTreeDepth + 2);
    m_layouts.resize(format::kMaxTreeDepth + 2);
  }
  if (!WalkAt(root, 0, RowidRange{})) m_report.complete = false;
  if (m_report.stopped) m_report.complete = false;
  m_visited.Clear();
  m_overflow.Clear();
  m_visitor = nullptr;
  m_progress = nullptr;
  return m_report;
}

bool TreeWalk::Poll(WalkStep::Kind kind, int depth, std::int64_t index, std::int64_t count) {
  if (m_report.stopped) return true;
  if (m_progress->Step(WalkStep{kind, depth, index, count})) m_report.stopped = true;
  return m_report.stopped;
}

void TreeWalk::Refuse(std::int64_t page, int depth, RowidRange range) {
  ++m_report.pagesUnusable;
  if (m_tableTree || depth == 0) m_report.holes.push_back(range);
  // A page the map held for this tree (the session's mapping claims leaves
  // unread) is this tree's no more: later passes see it as unclaimed.
  if (m_map != nullptr && depth > 0 && m_map->Role(page) == PageRole::Btree &&
      m_map->Owner(page) == m_root)
    m_map->Release(page, m_root);
}

bool TreeWalk::Fits(const std::uint8_t* buffer, const PageLayout& layout, int depth,
                    RowidRange range) {
  m_strayKeys = false;
  if (depth == 0) {
    m_tableTree = IsTableType(layout.type);
    return true;
  }
  // Table pages under a table root, index pages under an index root.
  if (IsTableType(layout.type) != m_tableTree) return false;
  // Every leaf at one depth: the first leaf fixes it.
  if (layout.interior) {
    if (m_leafDepth >= 0 && depth >= m_leafDepth) return false;
  } else if (m_leafDepth >= 0 && depth != m_leafDepth) {
    return false;
  }
  if (!m_tableTree) return true;
  // The keys inside the range the parent's keys give this child. A page of
  // another tree holds keys of its own; a page of this tree whose cell
  // contradicts itself (a damaged payload-size varint read as the rowid) holds
  // one stray key among many good ones. The page is taken when most of its
  // keys lie in the range; the stray cells are dropped alone when visited.
  const std::int64_t pageSize = m_source.geometry().pageSize;
  std::int64_t inside = 0, outside = 0;
  for (const std::uint32_t offset : layout.cells) {
    std::int64_t key = 0;
    if (!TableCellKey(buffer, pageSize, layout.type, offset, &key)) continue;
    if (key < range.first || key > range.last)
      ++outside;
    else
      ++inside;
  }
  m_strayKeys = outside > 0;
  return outside == 0 || inside > 2 * outside;
}

// True when everything below `pageNumber` was used; false when something was
// lost or a stop was requested.
bool TreeWalk::WalkAt(std::int64_t pageNumber, int depth, RowidRange range) {
  if (Poll()) return false;
  const Geometry& g = m_source.geometry();
  if (pageNumber <= 0 || pageNumber > g.pageCount || g.pageSize < format::kMinPageSize ||
      depth > format::kMaxTreeDepth) {
    Refuse(0, depth, range);
    return false;
  }
  // Another tree's page (or root) in the page map, or a page a later pass
  // gave another role, is never taken.
  if (m_map != nullptr && depth > 0) {
    const PageRole role = m_map->Role(pageNumber);
    if (role != PageRole::Unknown &&
        !(role == PageRole::Btree && m_map->Owner(pageNumber) == m_root)) {
      if (m_rules.interiorOnly && role == PageRole::Btree && m_rules.leafChildren != nullptr) {
        if (depth == m_leafDepth)
          m_rules.leafChildren->LeafChild(m_root, pageNumber, range, false);
        else if (m_leafDepth < 0 || depth < m_leafDepth)
          m_rules.leafChildren->InnerChild(m_root, pageNumber, range, false);
      }
      Refuse(0, depth, range);
      return false;
    }
  }
  // One visit per page and walk: a child pointer back to a page already seen
  // (a cycle, or two parents claiming one child) counts as an unusable child.
  if (!m_visited.Insert(pageNumber)) {
    Refuse(0, depth, range);
    return false;
  }
  if (m_rules.interiorOnly && depth > 0 && depth == m_leafDepth) {
    // Claimed unread: the session resolves leaves that two trees claim.
    const bool claimed = m_map == nullptr || m_map->Claim(pageNumber, PageRole::Btree, m_root);
    if (m_rules.leafChildren != nullptr)
      m_rules.leafChildren->LeafChild(m_root, pageNumber, range, claimed);
    return true;
  }
  std::vector<std::uint8_t>& buffer = m_pages[static_cast<std::size_t>(depth)];
  PageLayout& layout = m_layouts[static_cast<std::size_t>(depth)];
  buffer.resize(static_cast<std::size_t>(g.pageSize));
  const bool loose = pageNumber == 1 && depth == 0 && m_rules.firstPage != nullptr;
  if (loose) layout = *m_rules.firstPage;
  if (m_source.ReadPage(pageNumber, buffer.data()) != PageRead::Ok ||
      (!loose &&
       !ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, pageNumber == 1, &layout)) ||
      !Fits(buffer.data(), layout, depth, range)) {
    Refuse(pageNumber, depth, range);
    return false;
  }
  if (!layout.interior && m_leafDepth < 0) m_leafDepth = depth;
  ++m_report.pagesWalked;
  if (layout.scanned) ++m_report.pagesScanned;
  const bool claimed = m_map == nullptr || m_map->Claim(pageNumber, PageRole::Btree, m_root);
  if (m_rules.interiorOnly && depth > 0 && layout.interior && m_rules.leafChildren != nullptr)
    m_rules.leafChildren->InnerChild(m_root, pageNumber, range, claimed);
  bool result = !layout.cellCountCut && !layout.pointersDamaged;
  const std::int64_t count = layout.CellCount();

  if (layout.interior) {
    Poll(WalkStep::Kind::InteriorBegin, depth, 0, count);
    const bool table = layout.type == format::kInteriorTable;
    std::int64_t low = range.first;  // the smallest rowid the next child may hold
    for (std::int64_t i = 0; i < count; ++i) {
      if (Poll()) return false;
      // The child left of key K holds rowids up to K; a damaged key gives an
      // empty range, and the child is refused rather than trusted.
      RowidRange childRange = range;
      if (table) {
        std::int64_t key = 0;
        if (TableCellKey(buffer.data(), g.pageSize, layout.type,
                         layout.cells[static_cast<std::size_t>(i)], &key)) {
          childRange = RowidRange{low, std::min(key, range.last)};
          if (key >= low && key < INT64_MAX) low = std::max(low, key + 1);
        } else {
          childRange = RowidRange{low, range.last};
        }
      }
      // A pointer outside the page, or to a page that cannot be used, loses
      // this child only; the others are still walked.
      const std::uint32_t child = InteriorChild(buffer.data(), g.pageSize, layout, i);
      if (!WalkAt(child, depth + 1, childRange)) result = false;
      if (m_report.stopped) return false;
      Poll(WalkStep::Kind::InteriorChild, depth, i, count);
    }
    const RowidRange last = table ? RowidRange{low, range.last} : range;
    if (!WalkAt(layout.rightChild, depth + 1, last)) result = false;
    if (Poll()) return false;
    if (table || m_rules.interiorOnly) return result;
    // An interior index page's own cells carry keys: visited after its children.
  }
  if (m_rules.interiorOnly) return result;

  // Fits read every cell's key: only a page with keys outside its range
  // has cells to check one by one (the root's range holds every key).
  const bool strayKeys = m_strayKeys;
  Poll(WalkStep::Kind::LeafBegin, depth, 0, count);
  CellRef cell;
  cell.pageNumber = pageNumber;
  cell.pageType = layout.type;
  cell.page = buffer.data();
  cell.pageSize = g.pageSize;
  cell.tree = m_root;
  cell.overflowPages = &m_overflow;
  cell.map = m_map;
  for (std::int64_t i = 0; i < count; ++i) {
    if (Poll()) {
      result = false;
      break;
    }
    cell.offset = layout.cells[static_cast<std::size_t>(i)];
    cell.space = layout.space[static_cast<std::size_t>(i)];
    std::int64_t key = 0;
    if (cell.offset >= g.pageSize) {
      ++m_report.cellsSkipped;
    } else if (strayKeys && layout.type == format::kLeafTable &&
               TableCellKey(buffer.data(), g.pageSize, layout.type, cell.offset, &key) &&
               (key < range.first || key > range.last)) {
      // A rowid outside what the parent's keys allow: the cell is damaged
      // (its rowid is not the one stored), and no row is made of it.
      ++m_report.cellsSkipped;
      result = false;
    } else {
      switch (m_visitor->VisitCell(cell)) {
        case CellUse::Used:
          break;
        case CellUse::Skipped:
          ++m_report.cellsSkipped;
          break;
        case CellUse::Stop:
          m_report.stopped = true;
          return false;
      }
    }
    Poll(WalkStep::Kind::LeafCell, depth, i, count);
  }
  return result && !m_report.stopped;
}

}  // namespace velmora
