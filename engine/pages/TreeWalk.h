// Walking the b-tree under a root page and handing each cell to a visitor.
//
// The walk knows pages and cells only: no grid, no text, no bar. Stop and
// progress go through one callback, which the presentation turns into
// whatever it shows. Damage costs only what it touches: an unusable child is
// counted and its siblings are still walked.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "engine/core/PageLayout.h"
#include "engine/core/PageMap.h"
#include "engine/core/PageSet.h"
#include "engine/core/Progress.h"
#include "engine/pages/PageSource.h"

namespace velmora {

// A cell the walk hands on: a leaf cell, or a cell of an interior index page
// (which carries a key). `space` is what the page leaves it (see PageLayout).
struct CellRef {
  std::int64_t pageNumber = 0;
  std::uint8_t pageType = 0;
  const std::uint8_t* page = nullptr;
  std::int64_t pageSize = 0;
  std::int64_t offset = 0;
  std::int64_t space = 0;
  std::uint32_t tree = 0;            // root page of the tree walked
  PageSet* overflowPages = nullptr;  // overflow pages used so far in this walk
  PageMap* map = nullptr;            // the session's page map, or null
};

// What a visitor did with a cell.
enum class CellUse : std::uint8_t {
  Used,     // decoded and handed on
  Skipped,  // the cell does not fit its page (damage): counted, the walk goes on
  Stop,     // the visitor saw a stop request: the walk ends
};

class ICellVisitor {
 public:
  virtual ~ICellVisitor() = default;
  virtual CellUse VisitCell(const CellRef& cell) = 0;
};

// A range of rowids, both ends included: what a refused child of a table
// tree should have covered, as its parent's keys bound it.
struct RowidRange {
  std::int64_t first = INT64_MIN;
  std::int64_t last = INT64_MAX;
  bool operator==(const RowidRange&) const = default;
};

// What a walk found.
struct WalkReport {
  bool complete = true;  // every page and cell under the root was used
  bool stopped = false;  // the callback or the visitor asked to stop
  std::int64_t pagesWalked = 0;
  std::int64_t pagesUnusable = 0;  // children that could not be used (their subtrees are lost)
  std::int64_t cellsSkipped = 0;   // cells whose pointer or size does not fit their page
  std::int64_t pagesScanned = 0;   // leaf pages whose cells were found by the content scan
  // Table trees: the rowid ranges of the children that were refused or could
  // not be read, in walk order (the whole range when the root itself was).
  std::vector<RowidRange> holes;
};

// Told of every leaf child an index-only descent claims (the session's
// mapping of the live trees): the tree walked, the child page, the range its
// parent gives it, and false when the page map already gave it to another
// tree.
class ILeafChildren {
 public:
  virtual ~ILeafChildren() = default;
  virtual void LeafChild(std::uint32_t tree, std::int64_t page, RowidRange range, bool claimed) = 0;
  // The same for a child above leaf depth: an interior page the descent
  // claimed and walked, or (claimed false) one the page map already gave to
  // another tree.
  virtual void InnerChild(std::uint32_t, std::int64_t, RowidRange, bool) {}
};

// Which pages a walk may take as children. A child is used only when it lies
// in the file, is not another tree's page or root in the page map, has a page
// type of the root's family (table pages under a table root, index pages
// under an index root), keeps leaves at one depth, and, in a table tree,
// holds only keys inside the rowid range its parent's keys give it.
struct WalkRules {
  // Index-only descent: leaf children are claimed in the page map at the
  // depth of the tree's first leaf without being read, and no cell is
  // visited (the session's mapping of the live trees).
  bool interiorOnly = false;
  // Told in interiorOnly mode of every leaf child claimed (may be null).
  ILeafChildren* leafChildren = nullptr;
  // Page 1 as the session read it when its b-tree header is damaged (the
  // cells a scan found, and for an interior page the children): used in
  // place of parsing page 1 when it is the root. Null: page 1 is parsed.
  const PageLayout* firstPage = nullptr;
};

class TreeWalk {
 public:
  // `map` may be null; when given, every page used is recorded in it.
  TreeWalk(const PageSource& source, PageMap* map) : m_source(source), m_map(map) {}

  // Walks the tree rooted at `root`: interior pages in cell order then the
  // right-most child, an interior index page's own cells after its children,
  // a leaf's cells in pointer order. Each page is entered at most once per
  // walk and the depth is bounded, so a damaged tree cannot loop.
  //
  // Children are validated as WalkRules says; a refused child is counted in
  // pagesUnusable, gives a hole (table trees), and loses its subtree only. A
  // refused page that the page map held for this tree is released there.
  // `progress` is told of every page begun and every cell or child done; a
  // stop ends the walk after the cell in progress.
  WalkReport Walk(std::int64_t root, ICellVisitor& visitor, IProgress& progress,
                  const WalkRules& rules = {});

 private:
  bool WalkAt(std::int64_t page, int depth, RowidRange range);
  // True when `page` (read into `buffer`, parsed into `layout`) may be used
  // as a page of this tree at `depth` covering `range`.
  bool Fits(const std::uint8_t* buffer, const PageLayout& layout, int depth, RowidRange range);
  void Refuse(std::int64_t page, int depth, RowidRange range);
  bool Poll(WalkStep::Kind kind = WalkStep::Kind::Poll, int depth = 0, std::int64_t index = 0,
            std::int64_t count = 0);

  const PageSource& m_source;
  PageMap* m_map;
  ICellVisitor* m_visitor = nullptr;
  IProgress* m_progress = nullptr;
  std::uint32_t m_root = 0;
  WalkRules m_rules;
  bool m_tableTree = true;   // the root's family
  bool m_strayKeys = false;  // Fits found keys outside the page's range
  int m_leafDepth = -1;      // depth of the first leaf, -1 until one is seen
  WalkReport m_report;
  PageSet m_visited;
  PageSet m_overflow;
  // One page buffer and layout per tree level, reused from walk to walk.
  std::vector<std::vector<std::uint8_t>> m_pages;
  std::vector<PageLayout> m_layouts;
};

}  // namespace velmora
