// Schema rows that the schema tree does not give: page 1 read without its
// b-tree header when that header is damaged, and the search of the whole
// file for records shaped like schema rows when the schema tree is damaged.
#pragma once

#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/PageLayout.h"
#include "engine/core/RecordView.h"
#include "engine/passes/PagePasses.h"
#include "engine/schema/SchemaCatalog.h"

namespace velmora {

struct SchemaScan;

// True when `view` is shaped like a row of the schema table: five values;
// the type is the text "table", "index", "view" or "trigger"; name and
// tbl_name are texts; rootpage is an integer, from 2 to `pageCount` for a
// table or an index and 0 for a view, a trigger or a virtual table; sql is a
// text that begins with CREATE (leading blanks aside), or NULL for an index
// (an automatic index has no statement).
bool SchemaRowShape(const RecordView& view, std::uint32_t encoding, std::int64_t pageCount);

// True when the parsed page 1 `parsed` cannot be trusted as the schema tree's
// root: it is not a b-tree page, not a table page, or an interior page whose
// cell pointers contradict the page.
bool FirstPageNeedsLooseRead(const PageLayout& parsed);

// True when the b-tree header of page 1 (image `page`, parsed as `parsed`,
// `usableSize` usable bytes) contradicts itself: a cell content start
// inside the header or the pointer array or past the usable end, a first
// freeblock there, more than 60 fragmented bytes (SQLite defragments before
// that).
bool FirstPageHeaderContradicts(const std::uint8_t* page, const PageLayout& parsed,
                                std::int64_t usableSize);

// Reads page 1 (its image `page`, as the page source `source` gives it)
// without trusting its b-tree header (file bytes 100-111). First as a leaf
// table page: the cell content is scanned from just after the 8-byte header
// to the usable end, the freeblock chain ignored (its first link is a header
// field), and only cells whose record is shaped like a schema row are kept;
// when the cell pointer array still names some of them, only the named ones
// are kept (cells it does not name were deleted). When that finds no schema
// row, as an interior table page: a cell (4-byte child, rowid varint) may
// start at each place from byte 112 whose child is a table b-tree page of
// the file holding keys up to the cell's key; the places the pointer array
// names are kept (else those that do not overlap), ordered by key; the right
// child is taken from bytes 108-111 when it names a table page that no cell
// names. Fills `out` (type, cells, space, right child; pointersDamaged set)
// and returns true; false when neither reading finds anything.
//
// Schema-shaped cells that no pointer lists may be stale rows left in the
// free space of page 1 when it turned from a leaf into an interior page: the
// interior reading is preferred to them, and they are returned in
// `fragments` (may be null) so that they can only describe objects that no
// live schema row describes.
bool ReadFirstPageLoosely(const PageSource& source, const std::uint8_t* page, PageLayout* out,
                          std::vector<std::uint32_t>* fragments = nullptr);

// How many cells of the page image `page` (parsed as `layout`; a leaf table
// page) hold records that SchemaRowShape accepts.
std::int64_t CountSchemaRows(const PageSource& source, const std::uint8_t* page,
                             const PageLayout& layout);

// A record shaped like a schema row, found outside the schema tree.
struct FoundSchemaRow {
  SchemaObject object;  // type, name, tbl_name, rootpage, sql; page: where it was found
  bool catalogRow =
      false;            // RecognizeSchemaRow keeps it (else an automatic index or sqlite_sequence)
  RootCandidate claim;  // its claim on a root page; rootPage 0 when it has none
};

struct SchemaSearchResult {
  std::vector<FoundSchemaRow> rows;       // in page and cell order
  std::vector<std::int64_t> schemaPages;  // leaf pages whose every cell is shaped like a schema row
  std::int64_t pagesRead = 0;
  bool stopped = false;  // the progress asked to stop; rows are partial
};

// Decodes the cells `cells` of the page image `page` (page `pageNumber`, a
// leaf table page) and appends those shaped like schema rows to `out`.
void AppendSchemaRows(const PageSource& source, const std::uint8_t* page, std::int64_t pageNumber,
                      const std::vector<std::uint32_t>& cells, std::vector<FoundSchemaRow>* out);

// Reads every page of the file from 2 on that the page map leaves unclaimed
// and that is not in `freePages` (sorted), not the lock-byte page and a leaf
// table page (by its pointers, or by the cell-content scan when they are
// damaged), each once, and collects the records shaped like schema rows.
// `progress` is polled once per page.
SchemaSearchResult SearchSchemaRows(const PageSource& source, const PageMap& map,
                                    const std::vector<std::uint32_t>& freePages,
                                    IProgress& progress);

// Decides which found rows are taken. A row is not taken when an identical
// row came before it, when `known(type, name)` says the schema tree already
// gave that object, or when it has a root page (a table that is not virtual,
// an index) that `rootFree` refuses or that ChooseRoots (with `probe`) does
// not give it. A row with rootpage 0 must be a view, a trigger or a virtual
// table. Rows left that name one object (same type and name) are all refused
// unless exactly one remains. Returns one flag per row.
std::vector<bool> ChooseFoundRows(const std::vector<FoundSchemaRow>& rows,
                                  const std::function<bool(const QString&, const QString&)>& known,
                                  const std::function<bool(std::int64_t)>& rootFree,
                                  const std::function<RootEvidence(std::int64_t)>& probe);

// What the session did to recover the schema, one line each, for the
// summary, the tool and the save report: page 1 read without its damaged
// b-tree header, and how many schema rows were found outside the schema
// tree when it was searched. Empty when the schema tree was read as it is.
QStringList DescribeSchemaRecovery(const SchemaScan& scan);

}  // namespace velmora
