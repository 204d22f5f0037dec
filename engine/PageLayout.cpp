#include "engine/PageLayout.h"

#include <algorithm>

#include "engine/Format.h"

namespace velmora {

bool ParsePageLayout(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                     bool firstPage, PageLayout* out) {
  PageLayout& l = *out;
  l.cells.clear();
  l.space.clear();
  l.cellCountCut = false;
  l.rightChild = 0;
  l.headerOffset = firstPage ? format::kHeaderSize : 0;
  l.problem = PageProblem::None;
  const std::int64_t h = l.headerOffset;
  if (page == nullptr || pageSize < h + format::kInteriorHeaderSize) {
    l.problem = PageProblem::NotBtree;
    return false;
  }
  l.type = page[h + format::kPageType];
  if (!format::IsPageType(l.type)) {
    l.problem = PageProblem::NotBtree;
    return false;
  }
  l.interior = format::IsInterior(l.type);
  std::int64_t count = format::ReadBigEndian16(page + h + format::kPageCellCount);
  l.declaredCells = count;
  if (count >= pageSize) {
    l.problem = PageProblem::BadCellCount;
    return false;
  }
  const std::int64_t pointers =
      h + (l.interior ? format::kInteriorHeaderSize : format::kLeafHeaderSize);
  // A cell count larger than the pointer array can hold: the pointers that
  // fit are used, and the page reports the loss.
  const std::int64_t fits = (pageSize - pointers) / 2;
  if (count > fits) {
    count = fits;
    l.cellCountCut = true;
  }
  if (l.interior) l.rightChild = format::ReadBigEndian32(page + h + format::kPageRightChild);
  l.cells.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i)
    l.cells.push_back(format::ReadBigEndian16(page + pointers + 2 * i));

  // Each cell's space: from its start to the next cell start by address, the
  // last one to the end of the usable area.
  thread_local std::vector<std::uint32_t> sorted;
  sorted.assign(l.cells.begin(), l.cells.end());
  std::sort(sorted.begin(), sorted.end());
  l.space.resize(l.cells.size());
  // Two pointers to one cell: the first keeps it, the others get no space (the
  // same record is never handed on twice).
  thread_local std::vector<bool> seen;
  seen.assign(static_cast<std::size_t>(format::kMaxPageSize), false);
  for (std::size_t i = 0; i < l.cells.size(); ++i) {
    const std::uint32_t start = l.cells[i];
    if (seen[start]) {
      l.space[i] = 0;
      continue;
    }
    seen[start] = true;
    const auto next = std::upper_bound(sorted.begin(), sorted.end(), start);
    const std::int64_t end = next != sorted.end() ? std::int64_t{*next} : usableSize;
    l.space[i] = static_cast<std::uint32_t>(std::max<std::int64_t>(end - start, 0));
  }
  return true;
}

std::uint32_t InteriorChild(const std::uint8_t* page, std::int64_t pageSize,
                            const PageLayout& layout, std::int64_t index) {
  if (index < 0 || index >= layout.CellCount()) return 0;
  const std::int64_t offset = layout.cells[static_cast<std::size_t>(index)];
  if (offset + 4 > pageSize) return 0;
  return format::ReadBigEndian32(page + offset);
}

}  // namespace velmora
