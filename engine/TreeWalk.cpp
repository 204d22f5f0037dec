#include "engine/TreeWalk.h"

#include "engine/Format.h"

namespace velmora {

WalkReport TreeWalk::Walk(std::int64_t root, ICellVisitor& visitor, IWalkProgress* progress) {
  m_visitor = &visitor;
  m_progress = progress;
  m_root = static_cast<std::uint32_t>(root > 0 && root <= 0xFFFFFFFF ? root : 0);
  m_report = WalkReport();
  m_visited.Clear();
  m_overflow.Clear();
  // Every level's buffer exists before the descent: deeper calls never move
  // the buffers of the levels above them.
  if (m_pages.size() < format::kMaxTreeDepth + 2) {
    m_pages.resize(format::kMaxTreeDepth + 2);
    m_layouts.resize(format::kMaxTreeDepth + 2);
  }
  if (!WalkAt(root, 0)) m_report.complete = false;
  if (m_report.stopped) m_report.complete = false;
  m_visited.Clear();
  m_overflow.Clear();
  m_visitor = nullptr;
  m_progress = nullptr;
  return m_report;
}

bool TreeWalk::Poll(WalkStep::Kind kind, int depth, std::int64_t index, std::int64_t count) {
  if (m_report.stopped) return true;
  if (m_progress != nullptr && m_progress->Step(WalkStep{kind, depth, index, count}))
    m_report.stopped = true;
  return m_report.stopped;
}

// True when everything below `pageNumber` was used; false when something was
// lost or a stop was requested.
bool TreeWalk::WalkAt(std::int64_t pageNumber, int depth) {
  if (Poll()) return false;
  const Geometry& g = m_source.geometry();
  if (pageNumber <= 0 || pageNumber > g.pageCount || g.pageSize < format::kMinPageSize) {
    ++m_report.pagesUnusable;
    return false;
  }
  // One visit per page and walk: a child pointer back to a page already seen
  // (a cycle, or two parents claiming one child) counts as an unusable child.
  if (depth > format::kMaxTreeDepth || !m_visited.Insert(pageNumber)) {
    ++m_report.pagesUnusable;
    return false;
  }
  std::vector<std::uint8_t>& buffer = m_pages[static_cast<std::size_t>(depth)];
  PageLayout& layout = m_layouts[static_cast<std::size_t>(depth)];
  buffer.resize(static_cast<std::size_t>(g.pageSize));
  if (m_source.ReadPage(pageNumber, buffer.data()) != PageRead::Ok ||
      !ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, pageNumber == 1, &layout)) {
    ++m_report.pagesUnusable;
    return false;
  }
  ++m_report.pagesWalked;
  if (m_map != nullptr) m_map->Claim(pageNumber, PageRole::Btree, m_root);
  bool result = !layout.cellCountCut;
  const std::int64_t count = layout.CellCount();

  if (layout.interior) {
    Poll(WalkStep::Kind::InteriorBegin, depth, 0, count);
    for (std::int64_t i = 0; i < count; ++i) {
      if (Poll()) return false;
      // A pointer outside the page, or to a page that cannot be used, loses
      // this child only; the others are still walked.
      const std::uint32_t child = InteriorChild(buffer.data(), g.pageSize, layout, i);
      if (!WalkAt(child, depth + 1)) result = false;
      if (m_report.stopped) return false;
      Poll(WalkStep::Kind::InteriorChild, depth, i, count);
    }
    if (!WalkAt(layout.rightChild, depth + 1)) result = false;
    if (Poll()) return false;
    if (layout.type == format::kInteriorTable) return result;
    // An interior index page's own cells carry keys: visited after its children.
  }

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
    if (cell.offset >= g.pageSize) {
      ++m_report.cellsSkipped;
    } else {
      switch (m_visitor->VisitCell(cell)) {
        case CellUse::Used: break;
        case CellUse::Skipped: ++m_report.cellsSkipped; break;
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
