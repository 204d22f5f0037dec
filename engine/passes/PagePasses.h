// Passes over the whole file that give pages their roles in the page map:
// the choice of the schema's root pages, the mapping of the live trees before
// any table is read, and the classification of every page after the walks.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/PageMap.h"
#include "engine/core/Progress.h"
#include "engine/pages/PageSource.h"
#include "engine/pages/TreeWalk.h"
#include "engine/passes/PassFindings.h"

namespace velmora {

struct RecoveryState;

// What a root page holds, as ChooseRoots weighs it.
struct RootEvidence {
  bool readable = false;   // in the file, and a b-tree page
  bool indexTree = false;  // page type 2 or 10
  int fields = -1;         // fields of the first record under it; -1 when none was read
};

// Decides which candidates keep their root page. A root outside the file, not
// a b-tree page, of the wrong family (table pages for a table, index pages for
// an index or a WITHOUT ROWID table) or whose first record holds more fields
// than the table has columns is refused. Two candidates naming one page: the
// page goes to the only one that fits it, to none when both or neither do.
// A table whose root holds records shorter than its columns (rows written
// before ADD COLUMN) loses that root when a table that lost its own root has
// exactly that many columns (root pages swapped between schema rows).
// `probe` is asked once per distinct root page. Returns one flag per
// candidate, in order: true when it keeps its root.
std::vector<bool> ChooseRoots(const std::vector<RootCandidate>& candidates,
                              const std::function<RootEvidence(std::int64_t)>& probe);

// Reads the evidence for page `root`: its type, and the field count of the
// first record of its left-most leaf (bounded descent).
RootEvidence ProbeRoot(const PageSource& source, std::int64_t root);

// The number of columns a CREATE TABLE statement declares (table constraints
// aside), and whether it is WITHOUT ROWID; 0 columns when it cannot be read
// or the library cannot compile it (damaged text is no evidence).
int DeclaredColumns(const QString& sql, bool* withoutRowid);

// Marks the pointer-map pages of an auto-vacuum file in `map`, placed as
// format::PointerMapPageOf places them. Returns how many were marked.
std::int64_t MarkPointerMapPages(const PageSource& source, PageMap& map);

// One entry of the pointer map: the page's kind (format::kPointerMapRoot ...)
// and its parent.
struct PointerMapEntry {
  std::uint8_t kind = 0;
  std::uint32_t parent = 0;
};
// Reads the pointer-map entry of `page` into `entry`. False when the file
// keeps no pointer map, the page has no entry (a pointer-map page, the
// lock-byte page, a page outside the file) or the entry cannot be read.
bool ReadPointerMapEntry(const PageSource& source, std::int64_t page, PointerMapEntry* entry);

// Maps the live trees under `roots` before any table is read: each root is
// claimed, interior pages are read and validated, leaves are claimed unread.
// A leaf that two trees (or a tree and a root) claim goes to the one tree
// whose page family and rowid range it fits; when none or several fit it is
// marked Orphan and every claimant loses it. Returns the roots that lost
// their own page this way. `firstPage` (may be null): page 1 as the session
// read it without its damaged b-tree header (WalkRules::firstPage).
std::vector<std::int64_t> MapLiveTrees(const PageSource& source, PageMap& map,
                                       const std::vector<std::int64_t>& roots,
                                       const std::vector<bool>& indexTrees, IProgress& progress,
                                       const PageLayout* firstPage = nullptr);

// Follows the freelist chain from header offset 32 with bounds (each trunk
// once, at most as many trunks as the file has pages, page numbers inside
// the file) and calls `visit` for each trunk, before reading it (false ends
// the chain there), and for each leaf page number the trunk lists.
void FollowFreelist(const PageSource& source,
                    const std::function<bool(std::int64_t page, bool trunk)>& visit);

// The free pages as the freelist chain lists them (trunks and leaves),
// sorted, each once.
std::vector<std::uint32_t> FreelistPages(const PageSource& source);

// The classification pass, run after the table walks: walks every live tree
// again without decoding records (page layouts and overflow chains only),
// follows the freelist from header offset 32 (bounded; a trunk or leaf that
// a live tree holds keeps its tree role), and gives every page left the role
// Orphan (a cut last page: Unreadable). Fills the state's page map and
// returns the counts per role.
PageCounts ClassifyPages(RecoveryState& state, IProgress& progress);

}  // namespace velmora
