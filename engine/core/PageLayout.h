// One b-tree page image turned into its type, its cells and its children.
//
// The page layout reads nothing but the image it is given: the tree walk and
// every later pass use it to learn what a page holds, and it says why a page
// cannot be used instead of guessing.
//
// Cell pointers are checked against the page: each pointer must lie between
// the end of the pointer array and the end of the usable space, no two cells
// may overlap or share a start, and no cell may start inside a freeblock.
// When the pointers of a leaf page contradict the page, the cell content area
// is scanned instead (see ScanCellContent).
#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

// Why a page cannot be used as a b-tree page.
enum class PageProblem : std::uint8_t {
  None,
  NotBtree,      // the type byte is not 2, 5, 10 or 13
  BadCellCount,  // an interior page with more cells than bytes in the page
};

struct PageLayout {
  std::uint8_t type = 0;  // format::kInteriorIndex ... kLeafTable
  int headerOffset = 0;   // 100 on page 1 (after the database header), else 0
  bool interior = false;
  PageProblem problem = PageProblem::None;
  // The cell count the header gives, and whether the pointer array could not
  // hold that many (the pointers that fit are used).
  std::int64_t declaredCells = 0;
  bool cellCountCut = false;
  // The cell pointers contradict the page (a pointer outside the cell content
  // area or inside a freeblock, overlapping cells, an impossible cell count).
  bool pointersDamaged = false;
  // The cells below were found by scanning the cell content area of a leaf
  // page whose pointers were damaged, not read from its pointer array.
  bool scanned = false;
  // One entry per cell, in pointer order (in address order when scanned): the
  // offset of the cell from the start of the page, as the pointer gives it
  // (it may lie outside the page on interior pages).
  std::vector<std::uint32_t> cells;
  // Per cell: the bytes from its start to the next cell start by address, or
  // to the end of the usable area for the last one (0 when it lies past it);
  // for scanned cells the exact extent of the cell.
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

// The bytes a cell of `pageType` at `offset` occupies on its page (its
// header varints, its local payload, the overflow page number when the
// payload overflows); 0 when its varints do not end inside [offset, limit).
// Whether the b-tree leaf whose header starts at `header` of `page` holds
// nothing freed: no freeblock, and an unallocated space between its cell
// pointer array and its cell content area that is all zeros (as SQLite
// leaves a page it wrote afresh, or zeroed). Reads inside `usableSize` only.
bool FreeSpaceBlank(const std::uint8_t* page, std::int64_t header, std::int64_t usableSize);

std::int64_t CellExtent(const std::uint8_t* page, std::int64_t limit, std::uint8_t pageType,
                        std::int64_t offset, std::int64_t usableSize);

// The bytes a leaf cell at `offset` would occupy if its payload size were
// the size its own record header gives (header size plus every value's size)
// instead of its payload-size varint; 0 when that record header does not lie
// inside [offset, limit) or announces more than `limit` allows.
std::int64_t CellExtentByRecord(const std::uint8_t* page, std::int64_t limit, std::uint8_t pageType,
                                std::int64_t offset, std::int64_t usableSize);

// Reads the record header at `p` (bounded by `limit`; the local payload is
// `local` bytes long) and returns the record size it announces: header size
// plus every value's size. 0 when the header does not lie whole inside the
// local bytes, or, when `strict`, holds a reserved serial type (10, 11) that
// SQLite never writes.
std::uint64_t RecordSizeFromHeader(const std::uint8_t* p, const std::uint8_t* limit,
                                   std::uint64_t local, bool strict);

// Scans the cell content area of the leaf page image `page` for cells: from
// `start` to the end of the usable space, skipping the freeblocks of the
// page's chain (bounded). A place holds a cell when its varints, its record
// header and its payload size agree exactly and the cell ends before the
// usable end and before the next freeblock; scanning goes on after each cell
// found, else one byte further. Cells inside a freeblock are deleted and are
// never returned. Fills layout->cells and layout->space (address order).
void ScanCellContent(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                     std::int64_t start, PageLayout* layout);

// The left child page number of interior cell `index` of a parsed page; 0 when
// the cell's four bytes do not lie inside the page.
std::uint32_t InteriorChild(const std::uint8_t* page, std::int64_t pageSize,
                            const PageLayout& layout, std::int64_t index);

// The key of table cell `offset` of a page image: the rowid of a leaf cell
// (after its payload size) or the key of an interior cell (after its child
// page number). False when the varints do not end inside the page.
bool TableCellKey(const std::uint8_t* page, std::int64_t pageSize, std::uint8_t type,
                  std::int64_t offset, std::int64_t* key);

}  // namespace velmora
