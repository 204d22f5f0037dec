// One b-tree page image turned into its type, its cells and its children.
//
// The page layout reads nothing but the image it is given: the tree walk and
// every later pass use it to learn what a page holds, and it says why a page
// cannot be used instead of guessing.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

// Why a page cannot be used as a b-tree page.
enum class PageProblem : std::uint8_t {
  None,
  NotBtree,    // the type byte is not 2, 5, 10 or 13
  BadCellCount,  // more cells than bytes in the page
};

struct PageLayout {
  std::uint8_t type = 0;    // format::kInteriorIndex ... kLeafTable
  int headerOffset = 0;     // 100 on page 1 (after the database header), else 0
  bool interior = false;
  PageProblem problem = PageProblem::None;
  // The cell count the header gives, and whether the pointer array could not
  // hold that many (the pointers that fit are used).
  std::int64_t declaredCells = 0;
  bool cellCountCut = false;
  // One entry per cell pointer, in pointer order: the offset of the cell from
  // the start of the page, as the pointer gives it (it may lie outside the
  // page: see CellInPage).
  std::vector<std::uint32_t> cells;
  // Per cell: the bytes from its start to the next cell start by address, or
  // to the end of the usable area for the last one (0 when it lies past it).
  std::vector<std::uint32_t> space;
  std::uint32_t rightChild = 0;  // interior pages: the right-most child

  bool Usable() const { return problem == PageProblem::None; }
  std::int64_t CellCount() const { return static_cast<std::int64_t>(cells.size()); }
};

// Parses the image `page` of `pageSize` bytes (usable part `usableSize`);
// `firstPage` says that the b-tree header follows the 100-byte database
// header. Fills `out` (its vectors keep their capacity from call to call) and
// returns out->Usable(). Reads nothing outside [page, page + pageSize).
bool ParsePageLayout(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                     bool firstPage, PageLayout* out);

// The left child page number of interior cell `index` of a parsed page; 0 when
// the cell's four bytes do not lie inside the page.
std::uint32_t InteriorChild(const std::uint8_t* page, std::int64_t pageSize,
                            const PageLayout& layout, std::int64_t index);

}  // namespace velmora
