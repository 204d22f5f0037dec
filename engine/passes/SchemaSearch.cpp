#include "engine/passes/SchemaSearch.h"

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

#include "engine/core/Format.h"
#include "engine/core/Values.h"
#include "engine/pages/RecordDecoder.h"

namespace velmora {
namespace {

bool IsTextType(std::uint64_t serialType) { return serialType >= 13 && (serialType & 1) != 0; }

// A cheap test before decoding: the record of the leaf table cell at
// `offset` has five fields, texts for type, name and tbl_name, an integer
// rootpage and a text or NULL statement.
bool SchemaRecordHeader(const std::uint8_t* page, std::int64_t limit, std::int64_t offset) {
  if (offset < 0 || offset >= limit) return false;
  const std::uint8_t* p = page + offset;
  const std::uint8_t* const end = page + limit;
  std::uint64_t value = 0;
  for (int skip = 0; skip < 2; ++skip) {  // payload size, rowid
    const int n = format::ReadVarint(p, end, &value);
    if (n == 0) return false;
    p += n;
  }
  std::uint64_t headerSize = 0;
  const int n = format::ReadVarint(p, end, &headerSize);
  if (n == 0 || headerSize < static_cast<std::uint64_t>(n) + 5 ||
      headerSize > static_cast<std::uint64_t>(end - p))
    return false;
  std::uint64_t types[5] = {};
  const std::uint8_t* t = p + n;
  const std::uint8_t* const headerEnd = p + headerSize;
  for (int field = 0; field < 5; ++field) {
    const int k = format::ReadVarint(t, headerEnd, &types[field]);
    if (k == 0) return false;
    t += k;
  }
  if (t != headerEnd) return false;
  const bool integer = (types[3] >= 1 && types[3] <= 6) || types[3] == 8;
  return IsTextType(types[0]) && IsTextType(types[1]) && IsTextType(types[2]) && integer &&
         (IsTextType(types[4]) || types[4] == 0);
}

bool StartsWithWords(const QString& sql, const char* words) {
  return sql.simplified().startsWith(QLatin1String(words), Qt::CaseInsensitive);
}

// Decodes the leaf table cell at `offset` and tells whether it is shaped like
// a schema row.
bool DecodeSchemaCell(const PageSource& source, const std::uint8_t* page, std::int64_t offset,
                      RecordView& view) {
  const Geometry& g = source.geometry();
  if (!SchemaRecordHeader(page, std::min(g.usableSize, g.pageSize), offset)) return false;
  DecodeCellPayload(source, {format::kLeafTable, page, g.pageSize, offset}, DecodeMode::Schema,
                    view);
  return SchemaRowShape(view, g.textEncoding, g.pageCount);
}

// Table cells of an interior page image found by scanning [from, usable):
// 4-byte child page and key varint.
struct InteriorCell {
  std::uint32_t offset = 0;
  std::uint32_t child = 0;
  std::int64_t key = 0;
  int extent = 0;
};

// The pages an interior scan asks about, each read once: per page, whether
// it is a table b-tree page, and its first key (INT64_MIN when it has none).
class ChildPages {
 public:
  explicit ChildPages(const PageSource& source)
      : m_source(source), m_buffer(static_cast<std::size_t>(source.geometry().pageSize)) {}

  // True when page `child` is a table b-tree page whose first key is at most
  // `key` (an interior child's keys never exceed its parent cell's key).
  bool Fits(std::int64_t child, std::int64_t key) {
    const Geometry& g = m_source.geometry();
    if (child < 2 || child > g.pageCount) return false;
    auto known = m_first.find(child);
    if (known == m_first.end()) {
      std::optional<std::int64_t> first;
      if (m_source.ReadPage(child, m_buffer.data()) == PageRead::Ok &&
          ParsePageLayout(m_buffer.data(), g.pageSize, g.usableSize, false, &m_layout) &&
          (m_layout.type == format::kLeafTable || m_layout.type == format::kInteriorTable)) {
        std::int64_t k = INT64_MIN;
        if (m_layout.CellCount() == 0 ||
            !TableCellKey(m_buffer.data(), g.pageSize, m_layout.type, m_layout.cells[0], &k))
          k = INT64_MIN;
        first = k;
      }
      known = m_first.emplace(child, first).first;
    }
    return known->second.has_value() && *known->second <= key;
  }

 private:
  const PageSource& m_source;
  std::vector<std::uint8_t> m_buffer;
  PageLayout m_layout;
  std::unordered_map<std::int64_t, std::optional<std::int64_t>> m_first;
};

}  // namespace

bool SchemaRowShape(const RecordView& view, std::uint32_t encoding, std::int64_t pageCount) {
  const auto& v = view.values;
  if (v.size() != 5) return false;
  for (const ValueView& value : v)
    if (!value.complete || value.prefixOnly) return false;
  if (v[0].storage != StorageClass::Text || v[1].storage != StorageClass::Text ||
      v[2].storage != StorageClass::Text || v[3].storage != StorageClass::Integer)
    return false;
  const QString type = ExactText(view, v[0], encoding);
  const bool table = type == QLatin1String("table");
  const bool index = type == QLatin1String("index");
  if (!table && !index && type != QLatin1String("view") && type != QLatin1String("trigger"))
    return false;
  if (ExactText(view, v[1], encoding).isEmpty()) return false;
  QString sql;
  if (v[4].storage == StorageClass::Text) {
    sql = ExactText(view, v[4], encoding);
    if (!StartsWithWords(sql, "CREATE ")) return false;
  } else if (v[4].storage != StorageClass::Null || !index) {
    return false;
  }
  const std::int64_t root = v[3].intValue;
  if (table && root == 0) return StartsWithWords(sql, "CREATE VIRTUAL TABLE");
  if (table || index) return root >= 2 && root <= pageCount;
  return root == 0;
}

bool FirstPageNeedsLooseRead(const PageLayout& parsed) {
  if (!parsed.Usable()) return true;
  if (parsed.type != format::kLeafTable && parsed.type != format::kInteriorTable) return true;
  return parsed.interior && (parsed.pointersDamaged || parsed.cellCountCut);
}

bool FirstPageHeaderContradicts(const std::uint8_t* page, const PageLayout& parsed,
                                std::int64_t usableSize) {
  const std::int64_t h = format::kHeaderSize;
  const std::int64_t arrayEnd =
      h + (parsed.interior ? format::kInteriorHeaderSize : format::kLeafHeaderSize) +
      2 * parsed.declaredCells;
  std::int64_t contentStart = format::ReadBigEndian16(page + h + 5);
  if (contentStart == 0) contentStart = format::kMaxPageSize;
  const std::int64_t freeblock = format::ReadBigEndian16(page + h + 1);
  return contentStart < arrayEnd || contentStart > usableSize ||
         (freeblock != 0 && (freeblock < arrayEnd || freeblock + 4 > usableSize)) ||
         page[h + 7] > 60;
}

std::int64_t CountSchemaRows(const PageSource& source, const std::uint8_t* page,
                             const PageLayout& layout) {
  if (layout.interior || layout.type != format::kLeafTable) return 0;
  RecordView view;
  std::int64_t rows = 0;
  for (const std::uint32_t offset : layout.cells)
    if (DecodeSchemaCell(source, page, offset, view)) ++rows;
  return rows;
}

bool ReadFirstPageLoosely(const PageSource& source, const std::uint8_t* page, PageLayout* out,
                          std::vector<std::uint32_t>* fragments) {
  const Geometry& g = source.geometry();
  const std::int64_t usable = std::min(g.usableSize, g.pageSize);
  const std::int64_t h = format::kHeaderSize;
  if (page == nullptr || usable < h + format::kInteriorHeaderSize + 4) return false;
  PageLayout& l = *out;
  l = PageLayout();
  l.headerOffset = static_cast<int>(h);
  l.pointersDamaged = true;

  // As a leaf: a copy whose freeblock link is cleared, so that a damaged
  // link hides no cell; deleted cells are kept out by the pointer array.
  std::vector<std::uint8_t> copy(page, page + g.pageSize);
  copy[static_cast<std::size_t>(h + 1)] = 0;
  copy[static_cast<std::size_t>(h + 2)] = 0;
  l.type = format::kLeafTable;
  ScanCellContent(copy.data(), g.pageSize, g.usableSize, h + format::kLeafHeaderSize, &l);
  RecordView view;
  std::vector<std::uint32_t> cells, space;
  PageLayout leaf;  // the unlisted schema-shaped cells, when there are some
  if (fragments != nullptr) fragments->clear();
  for (std::size_t i = 0; i < l.cells.size(); ++i) {
    if (DecodeSchemaCell(source, page, l.cells[i], view)) {
      cells.push_back(l.cells[i]);
      space.push_back(l.space[i]);
    }
  }
  if (!cells.empty()) {
    // The pointer array after the header, read while each entry names a
    // cell the scan found (once): the cells SQLite still lists.
    std::set<std::uint32_t> found(l.cells.begin(), l.cells.end()), named;
    for (std::int64_t at = h + format::kLeafHeaderSize; at + 2 <= usable; at += 2) {
      const std::uint32_t pointer = format::ReadBigEndian16(page + at);
      if (found.count(pointer) == 0 || !named.insert(pointer).second) break;
    }
    std::vector<std::uint32_t> keptCells, keptSpace;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (named.count(cells[i]) != 0) {
        keptCells.push_back(cells[i]);
        keptSpace.push_back(space[i]);
      }
    }
    if (!keptCells.empty()) {
      // Cells the pointer array still lists: page 1 is a leaf.
      l.cells = std::move(keptCells);
      l.space = std::move(keptSpace);
      l.declaredCells = l.CellCount();
      return true;
    }
    // No pointer names them: they may be rows page 1 held as a leaf before
    // the schema outgrew it, left in the free space of the interior page it
    // became. The interior reading is tried first; they are kept only as
    // fragments when it finds nothing.
    l.cells = std::move(cells);
    l.space = std::move(space);
    l.declaredCells = l.CellCount();
    leaf = l;
  }

  // As an interior table page: cells found by a scan, children that are
  // table pages holding keys up to the cell's key.
  l.type = format::kInteriorTable;
  l.interior = true;
  l.scanned = true;
  l.cells.clear();
  l.space.clear();
  ChildPages pages(source);
  std::vector<InteriorCell> found;
  for (std::int64_t at = h + format::kInteriorHeaderSize; at + 5 <= usable; ++at) {
    const std::uint32_t target = format::ReadBigEndian32(page + at);
    std::uint64_t key = 0;
    const int n = format::ReadVarint(page + at + 4, page + usable, &key);
    if (n > 0 && key <= static_cast<std::uint64_t>(INT64_MAX) && target >= 2 &&
        target <= g.pageCount && pages.Fits(target, static_cast<std::int64_t>(key)))
      found.push_back(InteriorCell{static_cast<std::uint32_t>(at), target,
                                   static_cast<std::int64_t>(key), 4 + n});
  }
  // The pointer array after the 12-byte header, read while each entry names
  // a place found (once), tells the live cells from freeblock headers and
  // deleted cells. When it names none, the places that do not overlap an
  // earlier one are kept.
  std::set<std::uint32_t> places, named;
  for (const InteriorCell& cell : found) places.insert(cell.offset);
  for (std::int64_t at = h + format::kInteriorHeaderSize; at + 2 <= usable; at += 2) {
    const std::uint32_t pointer = format::ReadBigEndian16(page + at);
    if (places.count(pointer) == 0 || !named.insert(pointer).second) break;
  }
  std::int64_t end = 0;
  std::erase_if(found, [&](const InteriorCell& c) {
    if (!named.empty()) return named.count(c.offset) == 0;
    if (c.offset < end) return true;
    end = c.offset + c.extent;
    return false;
  });
  std::stable_sort(found.begin(), found.end(),
                   [](const InteriorCell& a, const InteriorCell& b) { return a.key < b.key; });
  std::set<std::uint32_t> children;
  for (const InteriorCell& cell : found) {
    if (!children.insert(cell.child).second) continue;  // one child, one cell
    l.cells.push_back(cell.offset);
    l.space.push_back(4);
  }
  const std::uint32_t right = format::ReadBigEndian32(page + h + format::kPageRightChild);
  if (children.count(right) == 0 && pages.Fits(right, INT64_MAX)) l.rightChild = right;
  l.declaredCells = l.CellCount();
  if (!l.cells.empty() || l.rightChild != 0) {
    if (fragments != nullptr) *fragments = leaf.cells;
    return true;
  }
  if (leaf.cells.empty()) return false;
  l = std::move(leaf);
  return true;
}

void AppendSchemaRows(const PageSource& source, const std::uint8_t* page, std::int64_t pageNumber,
                      const std::vector<std::uint32_t>& cells, std::vector<FoundSchemaRow>* out) {
  const Geometry& g = source.geometry();
  RecordView view;
  for (const std::uint32_t offset : cells) {
    if (!DecodeSchemaCell(source, page, offset, view)) continue;
    FoundSchemaRow row;
    SchemaObject& object = row.object;
    row.catalogRow = RecognizeSchemaRow(view, g.textEncoding, &object);
    if (!row.catalogRow) {
      object = SchemaObject();
      object.type = ExactText(view, view.values[0], g.textEncoding);
      object.name = ExactText(view, view.values[1], g.textEncoding);
      object.tableName = ExactText(view, view.values[2], g.textEncoding);
      object.rootPage = view.values[3].intValue;
      if (view.values[4].storage == StorageClass::Text)
        object.sql = ExactText(view, view.values[4], g.textEncoding);
    }
    object.origin = SchemaOrigin::FoundInFile;
    object.page = pageNumber;
    if (object.rootPage > 1) {
      row.claim.rootPage = object.rootPage;
      if (object.type == QLatin1String("index"))
        row.claim.indexTree = true;
      else
        row.claim.columns = DeclaredColumns(object.sql, &row.claim.indexTree);
    }
    out->push_back(std::move(row));
  }
}

SchemaSearchResult SearchSchemaRows(const PageSource& source, const PageMap& map,
                                    const std::vector<std::uint32_t>& freePages,
                                    IProgress& progress) {
  SchemaSearchResult result;
  const Geometry& g = source.geometry();
  if (g.pageSize < format::kMinPageSize) return result;
  const std::int64_t lockPage = format::LockBytePage(g.pageSize);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(g.pageSize));
  PageLayout layout;
  RecordView view;
  for (std::int64_t page = 2; page <= g.pageCount; ++page) {
    if (progress.Poll()) {
      result.stopped = true;
      return result;
    }
    if (map.Role(page) != PageRole::Unknown || page == lockPage ||
        std::binary_search(freePages.begin(), freePages.end(), static_cast<std::uint32_t>(page)))
      continue;
    if (source.ReadPage(page, buffer.data()) != PageRead::Ok) continue;
    ++result.pagesRead;
    if (buffer[0] != format::kLeafTable ||
        !ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, false, &layout))
      continue;
    const std::size_t before = result.rows.size();
    AppendSchemaRows(source, buffer.data(), page, layout.cells, &result.rows);
    const auto rows = static_cast<std::int64_t>(result.rows.size() - before);
    if (rows > 0 && rows == layout.CellCount()) result.schemaPages.push_back(page);
  }
  return result;
}

std::vector<bool> ChooseFoundRows(const std::vector<FoundSchemaRow>& rows,
                                  const std::function<bool(const QString&, const QString&)>& known,
                                  const std::function<bool(std::int64_t)>& rootFree,
                                  const std::function<RootEvidence(std::int64_t)>& probe) {
  std::vector<bool> take(rows.size(), false);
  std::set<std::tuple<QString, QString, QString, std::int64_t, QString>> seen;
  std::vector<RootCandidate> claims;
  std::vector<std::size_t> claimOf;  // claims index -> row index
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const SchemaObject& o = rows[i].object;
    if (!seen.emplace(o.type, o.name, o.tableName, o.rootPage, o.sql).second) continue;
    if (known(o.type, o.name)) continue;
    if (o.rootPage == 0) {
      // No tree of its own: a view, a trigger, a virtual table.
      take[i] = o.type != QLatin1String("index");
      continue;
    }
    if (!rootFree(o.rootPage)) continue;
    claims.push_back(rows[i].claim);
    claimOf.push_back(i);
  }
  // Rows that claim one root page: the one whose tree fits it, else none.
  const std::vector<bool> keep = ChooseRoots(claims, probe);
  for (std::size_t c = 0; c < claims.size(); ++c) take[claimOf[c]] = keep[c];
  // Rows that name one object: exactly one may remain.
  std::map<std::pair<QString, QString>, int> byName;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (take[i]) ++byName[{rows[i].object.type, rows[i].object.name}];
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (take[i] && byName[{rows[i].object.type, rows[i].object.name}] > 1) take[i] = false;
  return take;
}

QStringList DescribeSchemaRecovery(const SchemaScan& scan) {
  QStringList lines;
  if (scan.firstPageLoose)
    lines << QStringLiteral(
        "page 1: its b-tree header is damaged; the schema rows were read by scanning the page");
  if (scan.searched) {
    const std::int64_t found = scan.rowsFound;
    lines << (found == 1 ? QStringLiteral("schema: 1 schema row found outside the schema tree")
                         : QStringLiteral("schema: %1 schema rows found outside the schema tree")
                               .arg(found));
  }
  return lines;
}

}  // namespace velmora
