// The deleted-records pass (see DeletedRecords.h).
#include "engine/passes/DeletedRecords.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"
#include "engine/pages/RecordDecoder.h"
#include "engine/pages/RecordVisitor.h"
#include "engine/passes/PagePasses.h"
#include "engine/passes/RecoveryState.h"
#include "engine/schema/TableColumns.h"
#include "engine/schema/WorkingDatabase.h"

namespace velmora {
namespace {

// B-tree page header fields the free-space reading needs.
constexpr int kFirstFreeblock = 1;
constexpr int kContentStart = 5;
// The most payload bytes a deleted record is assembled from (its local
// bytes and its free overflow pages); values past it are kept cut.
constexpr std::int64_t kMaxPayloadBytes = 4 * kMaxDeletedValueBytes;
// The most columns a rebuilt record is tried with.
constexpr int kMaxRebuiltColumns = 200;
// The most partial-value patterns per table compared with the live rows.
constexpr std::size_t kMaxMasks = 16;

int VarintLength(std::uint64_t v) {
  if (v > 0x00FFFFFFFFFFFFFFull) return 9;
  int n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

// The minimal varint of `v`, as SQLite writes it.
int EncodeVarint(std::uint64_t v, std::uint8_t* out) {
  const int n = VarintLength(v);
  if (n == 9) {
    out[8] = static_cast<std::uint8_t>(v);
    v >>= 8;
    for (int i = 7; i >= 0; --i) {
      out[i] = static_cast<std::uint8_t>((v & 0x7F) | 0x80);
      v >>= 7;
    }
    return 9;
  }
  for (int i = n - 1; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>((v & 0x7F) | (i == n - 1 ? 0 : 0x80));
    v >>= 7;
  }
  return n;
}

// The free space of a b-tree leaf whose header starts at `header`: the
// unallocated gap between the cell pointer array and the cell content area,
// and the freeblocks of the chain, rising and inside the content area. A
// chain that goes back, leaves the page or holds a block too small ends
// there; it is followed at most usable / 4 steps.
struct FreeRegions {
  std::int64_t gapStart = 0;  // the end of the cell pointer array
  std::int64_t gapEnd = 0;    // the start of the cell content area (gapEnd <= gapStart: no gap)
  std::vector<std::pair<std::int64_t, std::int64_t>> blocks;  // [start, end) of each freeblock
};

FreeRegions ReadFreeRegions(const std::uint8_t* data, std::int64_t header, std::int64_t cells,
                            std::int64_t usable) {
  FreeRegions regions;
  regions.gapStart = header + format::kLeafHeaderSize + 2 * cells;
  std::int64_t contentStart = format::ReadBigEndian16(data + header + kContentStart);
  if (contentStart == 0) contentStart = format::kMaxPageSize;
  regions.gapEnd = std::min(contentStart, usable);
  std::int64_t at = format::ReadBigEndian16(data + header + kFirstFreeblock);
  std::int64_t floor = std::max(regions.gapStart, regions.gapEnd);
  for (std::int64_t guard = usable / 4; at != 0 && guard > 0; --guard) {
    if (at < floor || at + 4 > usable) break;
    const std::int64_t size = format::ReadBigEndian16(data + at + 2);
    if (size < 4 || at + size > usable) break;
    regions.blocks.emplace_back(at, at + size);
    floor = at + size;
    at = format::ReadBigEndian16(data + at);
  }
  return regions;
}

// Where the old cell pointers end that follow `pos` (the end of a page's
// cell pointer array, or of a freelist trunk's used entries): entries of a
// longer array the page once had, each the offset of a cell past them. They
// are not cells, and a chance reading of them as one would be a phantom.
std::int64_t SkipStalePointers(const std::uint8_t* data, std::int64_t pos, std::int64_t hi,
                               std::int64_t usable) {
  while (pos + 2 <= hi) {
    const std::int64_t pointer = format::ReadBigEndian16(data + pos);
    if (pointer < pos + 2 || pointer >= usable) break;
    pos += 2;
  }
  return pos;
}

StorageClass ClassOf(std::uint64_t type) {
  if (type == 0 || type == 10 || type == 11) return StorageClass::Null;
  if (type <= 6 || type == 8 || type == 9) return StorageClass::Integer;
  if (type == 7) return StorageClass::Real;
  return type % 2 == 0 ? StorageClass::Blob : StorageClass::Text;
}

// The sizes of the fixed-size serial types of the classes `allowed`.
std::vector<std::int64_t> FixedSizes(std::uint8_t allowed) {
  std::vector<std::int64_t> sizes;
  if ((allowed & (kClassNull | kClassInteger)) != 0) sizes.push_back(0);
  if ((allowed & kClassInteger) != 0) sizes.insert(sizes.end(), {1, 2, 3, 4, 6});
  if ((allowed & (kClassInteger | kClassReal)) != 0) sizes.push_back(8);
  return sizes;
}

// Whether `bytes` is a text the library could have stored in `encoding`:
// well-formed UTF-8 or UTF-16 (even length, surrogates paired). A text
// holding a zero character is refused too: rebuilt cells are judged by it,
// and SQLite's own texts never hold one unless bound so.
bool ValidText(const std::uint8_t* p, std::int64_t n, std::uint32_t encoding) {
  if (encoding == format::kEncodingUtf16le || encoding == format::kEncodingUtf16be) {
    if (n % 2 != 0) return false;
    const bool le = encoding == format::kEncodingUtf16le;
    for (std::int64_t i = 0; i < n; i += 2) {
      const unsigned u = le ? (p[i] | (p[i + 1] << 8)) : ((p[i] << 8) | p[i + 1]);
      if (u == 0) return false;
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 3 >= n) return false;
        const unsigned v = le ? (p[i + 2] | (p[i + 3] << 8)) : ((p[i + 2] << 8) | p[i + 3]);
        if (v < 0xDC00 || v > 0xDFFF) return false;
        i += 2;
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        return false;
      }
    }
    return true;
  }
  for (std::int64_t i = 0; i < n;) {
    const std::uint8_t c = p[i];
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    int more = 0;
    std::uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
      more = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + more >= n) return false;
    for (int k = 1; k <= more; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((more == 1 && cp < 0x80) || (more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += more + 1;
  }
  return true;
}

// A table as the pass weighs records against it.
struct Shape {
  QString name;
  std::int64_t root = 0;
  std::vector<std::uint8_t> allowed;  // per stored column
  int alias = -1;
};

// The bytes a deleted record's payload still has: its local bytes, then
// what its free overflow pages hold, up to kMaxPayloadBytes.
struct Payload {
  std::vector<std::uint8_t> bytes;
  std::int64_t size = 0;  // the payload size the cell gives (or its rebuilt header implies)
};

// A record found, before it is weighed against the live rows.
struct Found {
  int table = -1;               // index into the shapes; -1: a free page no live table took
  std::int64_t group = 0;       // free pages: the tree (cluster) the page belongs to
  std::vector<int> candidates;  // several live tables fit it
  std::int64_t image = 0;       // 0: the page as read; n: older image n - 1 of the page source
  DeletedRecord record;
};

class Pass {
 public:
  Pass(RecoveryState& state, IProgress& progress)
      : m_state(state),
        m_source(state.source),
        m_progress(progress),
        m_geometry(state.source.geometry()),
        m_usable(std::min(m_geometry.usableSize, m_geometry.pageSize)) {}
  DeletedRecords Run();

 private:
  // One reading of a cell whose first bytes were overwritten.
  struct Reading {
    std::vector<std::uint64_t> types;
    bool firstKnown = true;      // the first serial type survived (or the sizes decide it)
    std::int64_t bodyStart = 0;  // offset in the page
    std::int64_t cellEnd = 0;    // offset in the page just past the cell
    std::int64_t payload = 0;
    std::int64_t localEnd = 0;   // offset just past the local payload
    std::uint32_t overflow = 0;  // first overflow page; 0 when none (or lost)
    bool exact = false;          // the cell ends where its freeblock ends
    bool rowidKnown = false;
    std::int64_t rowid = 0;
    RecordValues values;
    bool partial = false;
  };

  bool Stopped() { return m_progress.Poll(); }
  // Whether `page` is on the freelist: where a freed cell's overflow chain
  // went. Its first page may have become a trunk, which kept the chain's
  // bytes after its own entries but not the link to the next page: the
  // value is then kept cut there (ReadOverflow follows free leaves only).
  bool FreedPage(std::int64_t page) const {
    const PageRole role = page >= 2 ? m_state.pages.Role(page) : PageRole::Unknown;
    return role == PageRole::FreeLeaf || role == PageRole::FreeTrunk;
  }
  void ReadShapes();
  bool ScanPages();
  void ScanLiveLeaf(std::int64_t page, const std::uint8_t* data, int table);
  void ScanFreePage(std::int64_t page, const std::uint8_t* data, bool trunk);
  // `allCells`: the page is an older image, whose cells are read too.
  void ScanSchemaLeaf(const std::uint8_t* data, int headerOffset, bool allCells = false);
  // Reads the older images of pages (PageSource::OlderImages).
  bool ScanOlderImages();
  void ScanOlderImage(std::int64_t page, const std::uint8_t* data);
  // Scans the unallocated gap and the freeblocks of the leaf `data` holds
  // (`cells` cells, its header at 0) for records of the shapes `tables`.
  void ScanFreeRegions(std::int64_t page, const std::uint8_t* data, std::int64_t cells,
                       const std::vector<int>& tables, std::vector<Found>* found);
  // Walks the free region [lo, hi) of page `page` for records. `headLost`:
  // it starts with a freeblock header (a rebuilt cell first); `exact`: a
  // cell starting at lo ends at hi or leaves room for another. `tables`:
  // the shapes a record may have. Appends what it finds to `out`.
  void ScanRegion(std::int64_t page, const std::uint8_t* data, std::int64_t lo, std::int64_t hi,
                  bool headLost, bool exact, const std::vector<int>& tables, DeletedSource source,
                  std::vector<Found>* out);
  // Whether the four bytes at `pos` of the unallocated space [.., hi) are
  // the header of a freeblock that the space took over when the cell before
  // it was freed: a block that ends at `hi`, holds no whole cell, and links
  // to no block below `hi`.
  bool LeftoverFreeblock(std::int64_t page, const std::uint8_t* data, std::int64_t pos,
                         std::int64_t hi);
  // Whether the freeblock [pos, hi) reads as freed cells of the shapes
  // `tables` from `pos` to its end; `budget` bounds the readings tried.
  bool ReadsToEnd(const std::uint8_t* data, std::int64_t pos, std::int64_t hi,
                  const std::vector<int>& tables, std::unordered_map<std::int64_t, bool>& memo,
                  int& budget);
  // An intact cell at `x` (payload size, rowid and record header agree) that
  // ends by `hi`: its extent, and its record in `found`; 0 when none. With
  // `cut`, only a cell whose head and record header end by `hi` but whose
  // values run past it (the end of its freeblock or of the unallocated
  // space was given to a later cell): its record partial, extent to `hi`.
  std::int64_t IntactCell(std::int64_t page, const std::uint8_t* data, std::int64_t x,
                          std::int64_t hi, Found* found, bool cut = false);
  // Rebuilds a cell at `x` whose first four bytes were overwritten, for
  // shape `table`; the readings that fit.
  void Rebuild(const std::uint8_t* data, std::int64_t x, std::int64_t hi, std::int64_t exactEnd,
               const Shape& table, std::vector<Reading>* out);
  // Decodes the values of `types` from the payload bytes `payload` (the
  // record body from `bodyStart`); values past the bytes held are cut or
  // unknown. False when a value held whole is not what a record can hold
  // (a text that is not valid text).
  bool DecodeValues(const std::vector<std::uint64_t>& types, const std::uint8_t* body,
                    std::int64_t held, bool knownFirst, RecordValues* values, bool* partial,
                    bool strictText);
  void ReadOverflow(std::uint32_t first, std::int64_t want, std::vector<std::uint8_t>* bytes);
  bool Fits(const Shape& table, const RecordValues& values) const;
  std::int64_t Charge(std::int64_t bytes);
  void Attribute(std::vector<Found>& found, std::int64_t page, std::int64_t group);
  // Looks up the live row of `rowid` in the tree at `root`.
  enum class Seek { Found, Absent, Unsure };
  Seek SeekRow(std::int64_t root, std::int64_t rowid, RecordView& view);
  void DropLiveRows();
  // Drops records given twice (older images repeat what a page holds) and
  // partial records that a whole one of the same table agrees with.
  void DropRepeats();
  void Collect();

  RecoveryState& m_state;
  const PageSource& m_source;
  IProgress& m_progress;
  const Geometry& m_geometry;
  std::int64_t m_usable;
  std::vector<Shape> m_shapes;
  std::unordered_map<std::int64_t, int> m_byRoot;
  std::vector<Found> m_found;
  // Free interior table pages: child -> parent, to group a dropped tree.
  std::unordered_map<std::int64_t, std::int64_t> m_freeParent;
  // Deleted schema rows of tables: root page -> (name, sql).
  std::map<std::int64_t, std::pair<QString, QString>> m_droppedRows;
  std::int64_t m_held = 0;
  std::vector<std::uint8_t> m_seekPage;  // the page SeekRow reads
  // The page scanned is free: an intact cell is taken whatever its shape
  // (its table may be a dropped one). A live leaf's cells must fit its table.
  bool m_anyShape = false;
  DeletedRecords m_result;
};

std::int64_t Pass::Charge(std::int64_t bytes) {
  const std::int64_t room = std::max<std::int64_t>(0, kMaxDeletedBytes - m_held);
  const std::int64_t taken = std::min({bytes, room, kMaxDeletedValueBytes});
  m_held += taken;
  return taken;
}

void Pass::ReadShapes() {
  sqlite3* db = m_state.working ? m_state.working->Db() : nullptr;
  for (const QString& name : m_state.tableNames) {
    const SchemaObject* object = m_state.catalog.FindTable(name);
    if (object == nullptr || object->rootPage <= 1 || m_byRoot.count(object->rootPage)) continue;
    StoredColumns stored;
    if (!ReadStoredColumns(db, name, &stored)) continue;
    Shape shape;
    shape.name = name;
    shape.root = object->rootPage;
    shape.alias = stored.alias;
    for (const StoredColumn& column : stored.columns) shape.allowed.push_back(column.allowed);
    m_byRoot.emplace(shape.root, static_cast<int>(m_shapes.size()));
    m_shapes.push_back(std::move(shape));
  }
}

bool Pass::Fits(const Shape& table, const RecordValues& values) const {
  if (values.empty() || values.size() > table.allowed.size()) return false;
  for (std::size_t c = 0; c < values.size(); ++c) {
    const ITEM& v = values[c];
    if (!v.complete && v.storage == StorageClass::Null) continue;  // not known
    if ((ClassBit(v.storage) & table.allowed[c]) == 0) return false;
  }
  return true;
}

void Pass::ReadOverflow(std::uint32_t first, std::int64_t want, std::vector<std::uint8_t>* bytes) {
  // Only pages the page map calls free: a live page's bytes are not the
  // deleted record's. Each page once, at most as many as the payload needs.
  const std::int64_t per = m_usable - format::kOverflowHeaderSize;
  if (per <= 0) return;
  std::unordered_set<std::int64_t> seen;
  std::int64_t page = first;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(m_geometry.pageSize));
  while (want > 0 && page >= 2 && page <= m_geometry.pageCount &&
         m_state.pages.Role(page) == PageRole::FreeLeaf && seen.insert(page).second) {
    if (m_source.ReadPage(page, buffer.data()) != PageRead::Ok) return;
    const std::int64_t take = std::min(want, per);
    bytes->insert(bytes->end(), buffer.begin() + format::kOverflowHeaderSize,
                  buffer.begin() + format::kOverflowHeaderSize + take);
    want -= take;
    page = format::ReadBigEndian32(buffer.data());
  }
}

bool Pass::DecodeValues(const std::vector<std::uint64_t>& types, const std::uint8_t* body,
                        std::int64_t held, bool knownFirst, RecordValues* values, bool* partial,
                        bool strictText) {
  values->clear();
  static const std::uint8_t kNothing = 0;
  if (body == nullptr || held <= 0) {
    body = &kNothing;
    held = 0;
  }
  const std::uint32_t encoding = m_geometry.textEncoding;
  std::int64_t at = 0;
  for (std::size_t i = 0; i < types.size(); ++i) {
    ITEM item;
    const std::uint64_t t = types[i];
    const auto size = static_cast<std::int64_t>(format::SerialTypeSize(t));
    if (i == 0 && !knownFirst) {
      item.complete = false;
      *partial = true;
      values->push_back(std::move(item));
      at += size;
      continue;
    }
    item.storage = ClassOf(t);
    item.serialType = static_cast<std::int64_t>(t);
    const std::int64_t avail = std::clamp<std::int64_t>(held - at, 0, size);
    if (item.storage == StorageClass::Text || item.storage == StorageClass::Blob) {
      item.length = size;
      const std::int64_t keep = Charge(avail);
      if (strictText && item.storage == StorageClass::Text && avail == size &&
          !ValidText(body + at, size, encoding))
        return false;
      item.bytes =
          QByteArray(reinterpret_cast<const char*>(body + at), static_cast<qsizetype>(keep));
      if (keep < size) {
        item.complete = false;
        *partial = true;
      }
    } else if (item.storage == StorageClass::Integer || item.storage == StorageClass::Real) {
      if (avail < size) {
        item = ITEM();  // its bytes are gone: not known
        item.complete = false;
        *partial = true;
      } else if (t == 8 || t == 9) {
        item.intValue = t == 8 ? 0 : 1;
      } else {
        std::uint64_t u = 0;
        for (std::int64_t k = 0; k < size; ++k) u = (u << 8) | body[at + k];
        if (t == 7) {
          std::memcpy(&item.realValue, &u, sizeof u);
        } else {
          const int bits = static_cast<int>(size * 8);
          if (bits < 64 && (u >> (bits - 1)) != 0) u |= ~std::uint64_t{0} << bits;
          item.intValue = static_cast<std::int64_t>(u);
        }
      }
    }
    values->push_back(std::move(item));
    at += size;
  }
  return true;
}

std::int64_t Pass::IntactCell(std::int64_t page, const std::uint8_t* data, std::int64_t x,
                              std::int64_t hi, Found* found, bool cut) {
  // A cut cell's bytes past `hi` are another cell's now: only its head and
  // record header must lie before `hi`; its values are read up to there.
  const std::uint8_t* const end = data + (cut ? m_usable : hi);
  const std::uint8_t* p = data + x;
  std::uint64_t payload = 0, rowid = 0;
  int n = format::ReadVarint(p, end, &payload);
  if (n == 0 || payload == 0 || n != VarintLength(payload)) return 0;
  p += n;
  n = format::ReadVarint(p, end, &rowid);
  if (n == 0) return 0;
  p += n;
  const std::int64_t local = format::LocalPayloadSize(payload, format::kLeafTable, m_usable);
  if (local <= 0 || local > end - p) return 0;
  // The record header: its size, serial types that SQLite writes, values
  // that add up to the payload size exactly.
  std::uint64_t headerSize = 0;
  const int h = format::ReadVarint(p, p + local, &headerSize);
  if (h == 0 || headerSize <= static_cast<std::uint64_t>(h) ||
      headerSize > static_cast<std::uint64_t>(local) ||
      (p - data) + static_cast<std::int64_t>(headerSize) > hi)
    return 0;
  std::vector<std::uint64_t> types;
  std::uint64_t total = headerSize;
  for (const std::uint8_t* t = p + h; t < p + headerSize;) {
    std::uint64_t type = 0;
    const int k = format::ReadVarint(t, p + headerSize, &type);
    if (k == 0 || type == 10 || type == 11 || types.size() >= 2000) return 0;
    t += k;
    total += format::SerialTypeSize(type);
    if (total > payload) return 0;
    types.push_back(type);
  }
  if (total != payload || types.empty()) return 0;
  std::int64_t extent = (p - (data + x)) + local;
  std::uint32_t overflow = 0;
  if (payload > static_cast<std::uint64_t>(local)) {
    if (end - p < local + 4) return 0;
    overflow = format::ReadBigEndian32(p + local);
    // A freed cell's chain was freed with it.
    if (!FreedPage(overflow)) return 0;
    extent += 4;
  }
  if (x + extent > hi) {
    if (!cut) return 0;
    overflow = 0;  // the link is among the bytes lost
    extent = hi - x;
  } else if (cut) {
    return 0;  // whole: IntactCell without `cut` takes it
  }
  Payload bytes;
  bytes.bytes.assign(p, std::min(p + local, data + hi));
  if (overflow != 0)
    ReadOverflow(
        overflow,
        std::min<std::int64_t>(static_cast<std::int64_t>(payload), kMaxPayloadBytes) - local,
        &bytes.bytes);
  DeletedRecord& record = found->record;
  record = DeletedRecord();
  record.page = page;
  record.offset = static_cast<int>(x);
  record.rowidKnown = true;
  record.rowid = static_cast<std::int64_t>(rowid);
  const std::int64_t held =
      static_cast<std::int64_t>(bytes.bytes.size()) - static_cast<std::int64_t>(headerSize);
  if (!DecodeValues(types, bytes.bytes.data() + headerSize, held, true, &record.values,
                    &record.partial, true))
    return 0;
  return extent;
}

void Pass::Rebuild(const std::uint8_t* data, std::int64_t x, std::int64_t hi, std::int64_t exactEnd,
                   const Shape& table, std::vector<Reading>* out) {
  const int columns = static_cast<int>(table.allowed.size());
  if (columns == 0 || columns > kMaxRebuiltColumns || x + 4 >= hi) return;
  const std::uint8_t* const end = data + hi;
  std::vector<std::uint64_t> types;
  // a: the bytes of payload size, rowid and header size before the serial
  // types (3 to 14). With a = 3 the first serial type lies in the four
  // overwritten bytes.
  for (int a = 3; a <= 14; ++a) {
    const bool firstLost = a == 3;
    const std::uint8_t* t = data + x + (firstLost ? 4 : a);
    types.assign(firstLost ? 1 : 0, 0);
    int typeBytes = firstLost ? 1 : 0;
    std::int64_t known = 0;
    bool ok = true;
    for (int c = firstLost ? 1 : 0; c < columns && ok; ++c) {
      std::uint64_t type = 0;
      const int k = format::ReadVarint(t, end, &type);
      ok = k > 0 && type != 10 && type != 11 && type < (std::uint64_t{1} << 32) &&
           (ClassBit(ClassOf(type)) & table.allowed[static_cast<std::size_t>(c)]) != 0;
      t += k;
      typeBytes += k;
      known += static_cast<std::int64_t>(format::SerialTypeSize(type));
      types.push_back(type);
    }
    if (!ok) continue;
    bool placed = false;  // one reading per place of the serial types
    for (int h = 1; h <= 2 && !placed; ++h) {
      const std::uint64_t headerSize = static_cast<std::uint64_t>(h + typeBytes);
      if (VarintLength(headerSize) != h) continue;
      for (int p = 1; p <= 4; ++p) {
        const int r = a - p - h;
        if (r < 1 || r > 9) continue;
        const std::int64_t bodyStart = x + p + r + static_cast<std::int64_t>(headerSize);
        // The first value's size when its serial type was overwritten: the
        // one that makes the cell fill its freeblock, and, since SQLite
        // merges the freeblocks of neighbours freed together, each size of
        // the column's fixed-size types (a cell that leaves room for
        // another after it).
        std::vector<std::int64_t> sizes{0};
        if (firstLost) {
          sizes.clear();
          if (exactEnd < 0) continue;
          if (exactEnd - bodyStart - known >= 0) sizes.push_back(exactEnd - bodyStart - known);
          for (std::int64_t size : FixedSizes(table.allowed[0]))
            if (bodyStart + known + size + 4 <= exactEnd) sizes.push_back(size);
        }
        for (const std::int64_t size0 : sizes) {
          Reading reading;
          reading.types = types;
          std::int64_t payload = static_cast<std::int64_t>(headerSize) + known;
          if (firstLost) {
            payload += size0;
            if (VarintLength(static_cast<std::uint64_t>(payload)) != p) continue;
            // The one-byte serial types of that size the column can hold.
            std::vector<std::uint64_t> options;
            const std::uint8_t allowed = table.allowed[0];
            auto offer = [&](std::uint64_t type) {
              if (type < 128 && format::SerialTypeSize(type) == static_cast<std::uint64_t>(size0) &&
                  (ClassBit(ClassOf(type)) & allowed) != 0)
                options.push_back(type);
            };
            for (std::uint64_t type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) offer(type);
            offer(12 + 2 * static_cast<std::uint64_t>(size0));
            if (bodyStart + size0 <= hi &&
                ValidText(data + bodyStart, size0, m_geometry.textEncoding))
              offer(13 + 2 * static_cast<std::uint64_t>(size0));
            if (options.empty()) continue;
            reading.types[0] = options.front();
            reading.firstKnown = options.size() == 1;
          } else if (VarintLength(static_cast<std::uint64_t>(payload)) != p) {
            continue;
          }
          // The bytes of the prefix that survive must read as its varints.
          std::uint8_t enc[9 * 3] = {};
          EncodeVarint(static_cast<std::uint64_t>(payload), enc);
          EncodeVarint(headerSize, enc + 9);
          bool prefix = true;
          for (int i = 4; i < a && prefix; ++i) {
            const std::uint8_t b = data[x + i];
            if (i < p) {
              prefix = b == enc[i];
            } else if (i < p + r) {
              const int j = i - p;
              const bool last = j == r - 1;
              prefix = (r == 9 && last) || ((b & 0x80) != 0) == !last;
              if (j == 0 && r > 1 && b == 0x80) prefix = false;  // not minimal
            } else {
              prefix = b == enc[9 + i - p - r];
            }
          }
          if (!prefix) continue;
          if (p >= 4) {
            std::uint64_t rowid = 0;
            if (format::ReadVarint(data + x + p, end, &rowid) == r) {
              reading.rowidKnown = true;
              reading.rowid = static_cast<std::int64_t>(rowid);
            }
          }
          const std::int64_t local = format::LocalPayloadSize(static_cast<std::uint64_t>(payload),
                                                              format::kLeafTable, m_usable);
          const bool overflows = payload > local;
          reading.payload = payload;
          reading.bodyStart = bodyStart;
          reading.localEnd = x + p + r + local;
          reading.cellEnd = reading.localEnd + (overflows ? 4 : 0);
          // Where the cell's bytes end for sure: the freeblock's end (a cell
          // allocated later from its end overwrote the rest), else the region.
          std::int64_t surviving = std::min(reading.localEnd, hi);
          if (exactEnd >= 0) {
            reading.exact = reading.cellEnd == exactEnd;
            if (!reading.exact && reading.cellEnd < exactEnd && exactEnd - reading.cellEnd < 4)
              continue;                          // a freeblock never leaves less than four bytes
            if (bodyStart > exactEnd) continue;  // the header itself is not in the block
            surviving = std::min(surviving, exactEnd);
          } else if (reading.cellEnd > hi) {
            continue;
          }
          if (overflows && reading.cellEnd <= (exactEnd >= 0 ? exactEnd : hi)) {
            reading.overflow = format::ReadBigEndian32(data + reading.localEnd);
            if (!FreedPage(reading.overflow)) continue;
          }
          std::vector<std::uint8_t> body(data + bodyStart, data + std::max(surviving, bodyStart));
          if (reading.overflow != 0 && surviving == reading.localEnd)
            ReadOverflow(reading.overflow, std::min(payload, kMaxPayloadBytes) - (local), &body);
          const std::int64_t keep = m_held;
          if (!DecodeValues(reading.types, body.data(), static_cast<std::int64_t>(body.size()),
                            reading.firstKnown, &reading.values, &reading.partial, true)) {
            m_held = keep;
            continue;
          }
          m_held = keep;  // charged again when the reading is kept
          // Zeroed bytes read as a record of NULLs: a reading must hold some
          // value with bytes of its own.
          if (!Fits(table, reading.values) ||
              std::none_of(reading.types.begin(), reading.types.end(),
                           [](std::uint64_t type) { return format::SerialTypeSize(type) > 0; }))
            continue;
          if (!reading.exact && exactEnd >= 0 && reading.cellEnd > exactEnd) reading.partial = true;
          out->push_back(std::move(reading));
          placed = true;
        }
        if (placed) break;
      }
    }
  }
}

// Whether two values are the same value.
bool SameItem(const ITEM& a, const ITEM& b) {
  return a.storage == b.storage && a.complete == b.complete && a.intValue == b.intValue &&
         std::memcmp(&a.realValue, &b.realValue, sizeof(double)) == 0 && a.bytes == b.bytes &&
         a.length == b.length;
}

void Pass::ScanRegion(std::int64_t page, const std::uint8_t* data, std::int64_t lo, std::int64_t hi,
                      bool headLost, bool exact, const std::vector<int>& tables,
                      DeletedSource source, std::vector<Found>* out) {
  std::int64_t pos = lo;
  bool rebuildHere = headLost;
  int guard = 0;
  while (pos + 4 <= hi && ++guard < 70000) {
    // A freeblock that the unallocated space of a live leaf took over when
    // the cell before it was freed keeps its header, and ends where the
    // cell content area starts: the cells it covered are read as a
    // freeblock's.
    const bool leftovers = source == DeletedSource::FreeSpace && !m_anyShape;
    auto endsHere = [&](std::int64_t at) {
      return leftovers && format::ReadBigEndian16(data + at + 2) == hi - at;
    };
    if (endsHere(pos) && LeftoverFreeblock(page, data, pos, hi)) {
      const std::size_t before = out->size();
      ScanRegion(page, data, pos, hi, true, true, tables, DeletedSource::Freeblock, out);
      if (out->size() > before) return;
    }
    if (!rebuildHere && data[pos] == 0) {
      // A cell starts with its payload size, a varint whose first byte is
      // never zero: runs of zeros are passed over at once (up to a
      // freeblock header, whose link may be zero).
      ++pos;
      while (pos + 4 <= hi && data[pos] == 0 && !endsHere(pos)) ++pos;
      continue;
    }
    Found found;
    std::int64_t extent = IntactCell(page, data, pos, hi, &found);
    if (extent > 0) {
      bool fits = false;
      for (int t : tables)
        fits = fits || Fits(m_shapes[static_cast<std::size_t>(t)], found.record.values);
      if (!fits && m_anyShape) fits = true;  // a free page: any shape (a dropped table's)
      if (fits) {
        found.record.source = source;
        out->push_back(std::move(found));
        pos += extent;
        rebuildHere = true;  // a freed neighbour may follow, its head overwritten
        continue;
      }
    }
    // A cell freed next to a free neighbour keeps its head (SQLite writes
    // the header of the merged block only); when a later cell took the end
    // of the block its head still reads, its values cut. A freeblock's own
    // first cell lost its head to the header.
    if (!(headLost && pos == lo) && IntactCell(page, data, pos, hi, &found, true) > 0) {
      bool fits = m_anyShape;
      for (int t : tables)
        fits = fits || Fits(m_shapes[static_cast<std::size_t>(t)], found.record.values);
      if (fits) {
        found.record.source = source;
        out->push_back(std::move(found));
        return;
      }
    }
    if (rebuildHere) {
      rebuildHere = false;
      std::vector<Reading> readings;
      std::vector<int> owners;
      for (int t : tables) {
        const std::size_t before = readings.size();
        Rebuild(data, pos, hi, exact ? hi : -1, m_shapes[static_cast<std::size_t>(t)], &readings);
        owners.insert(owners.end(), readings.size() - before, t);
      }
      // Readings that end the freeblock exactly are preferred to those that
      // leave room after the cell; one that runs past the block (its end
      // given to a later cell) stays beside them: which is right is not
      // known, and what they disagree on is left unknown.
      if (std::any_of(readings.begin(), readings.end(), [](const Reading& r) { return r.exact; })) {
        std::vector<Reading> exactOnes;
        std::vector<int> exactOwners;
        for (std::size_t i = 0; i < readings.size(); ++i)
          if (readings[i].exact || (exact && readings[i].cellEnd > hi)) {
            exactOnes.push_back(std::move(readings[i]));
            exactOwners.push_back(owners[i]);
          }
        readings = std::move(exactOnes);
        owners = std::move(exactOwners);
      }
      // In a freeblock, a reading that leaves room after its cell holds only
      // when the rest of the block reads as freed cells to its end
      // (neighbours freed together share one freeblock).
      if (exact && !readings.empty() && !readings.front().exact) {
        std::vector<Reading> followed;
        std::vector<int> followedOwners;
        std::unordered_map<std::int64_t, bool> memo;
        int budget = 256;
        for (std::size_t i = 0; i < readings.size(); ++i) {
          if (readings[i].cellEnd < hi &&
              !ReadsToEnd(data, readings[i].cellEnd, hi, tables, memo, budget))
            continue;
          followed.push_back(std::move(readings[i]));
          followedOwners.push_back(owners[i]);
        }
        readings = std::move(followed);
        owners = std::move(followedOwners);
      }
      if (!readings.empty()) {
        Reading& first = readings.front();
        Found found;
        DeletedRecord& record = found.record;
        record.page = page;
        record.offset = static_cast<int>(pos);
        record.source = source;
        record.rowidKnown = first.rowidKnown;
        record.rowid = first.rowid;
        record.partial = first.partial;
        record.values = first.values;
        bool agree = true;
        for (std::size_t i = 1; i < readings.size(); ++i) {
          const Reading& other = readings[i];
          if (other.values.size() != record.values.size()) {
            agree = false;
            break;
          }
          for (std::size_t c = 0; c < record.values.size(); ++c) {
            if (!SameItem(record.values[c], other.values[c])) {
              record.values[c] = ITEM();
              record.values[c].complete = false;
              record.partial = true;
            }
          }
          if (other.rowidKnown != record.rowidKnown || other.rowid != record.rowid)
            record.rowidKnown = false;
        }
        std::sort(owners.begin(), owners.end());
        owners.erase(std::unique(owners.begin(), owners.end()), owners.end());
        const bool anyKnown = std::any_of(record.values.begin(), record.values.end(),
                                          [](const ITEM& v) { return v.complete; });
        if (agree && anyKnown) {
          if (readings.size() > 1) ++m_result.ambiguous;
          found.table = owners.size() == 1 ? owners.front() : -1;
          if (owners.size() > 1) found.candidates = owners;
          for (const ITEM& v : record.values) Charge(v.bytes.size());
          out->push_back(std::move(found));
          // Where the next cell starts is certain only for one reading.
          if (readings.size() == 1 && first.cellEnd < hi) {
            pos = first.cellEnd;
            rebuildHere = true;
            continue;
          }
          return;
        }
      }
    }
    ++pos;
  }
}

bool Pass::LeftoverFreeblock(std::int64_t page, const std::uint8_t* data, std::int64_t pos,
                             std::int64_t hi) {
  const std::int64_t next = format::ReadBigEndian16(data + pos);
  const std::int64_t size = format::ReadBigEndian16(data + pos + 2);
  if (size < 4 || pos + size != hi || (next != 0 && (next < hi || next >= m_usable))) return false;
  // Inside a freeblock every cell lost its head when it was freed: a whole
  // cell in the block says the header is a chance pattern.
  for (std::int64_t x = pos + 4; x + 4 <= hi; ++x) {
    Found inside;
    if (data[x] != 0 && IntactCell(page, data, x, hi, &inside) > 0) return false;
  }
  return true;
}

bool Pass::ReadsToEnd(const std::uint8_t* data, std::int64_t pos, std::int64_t hi,
                      const std::vector<int>& tables, std::unordered_map<std::int64_t, bool>& memo,
                      int& budget) {
  // Fewer than four bytes left: a fragment that SQLite merged into the block.
  if (hi - pos < 4) return true;
  const auto known = memo.find(pos);
  if (known != memo.end()) return known->second;
  if (--budget < 0) return false;
  bool reaches = false;
  for (std::size_t t = 0; t < tables.size() && !reaches; ++t) {
    std::vector<Reading> next;
    Rebuild(data, pos, hi, hi, m_shapes[static_cast<std::size_t>(tables[t])], &next);
    for (const Reading& r : next)
      if (r.exact || (r.cellEnd < hi && ReadsToEnd(data, r.cellEnd, hi, tables, memo, budget))) {
        reaches = true;
        break;
      }
  }
  memo[pos] = reaches;
  return reaches;
}

void Pass::ScanLiveLeaf(std::int64_t page, const std::uint8_t* data, int table) {
  // Most leaves of a healthy file hold nothing freed: no freeblock and an
  // unallocated gap that is all zeros. Those are passed over without
  // parsing the page.
  if (FreeSpaceBlank(data, 0, m_usable)) return;
  PageLayout layout;
  if (!ParsePageLayout(data, m_geometry.pageSize, m_usable, false, &layout) ||
      layout.type != format::kLeafTable || layout.pointersDamaged || layout.scanned)
    return;  // a damaged page's free space is not trusted
  m_anyShape = false;
  std::vector<Found> found;
  ScanFreeRegions(page, data, layout.CellCount(), {table}, &found);
  for (Found& f : found) {
    f.table = table;
    f.candidates.clear();
    m_found.push_back(std::move(f));
  }
}

void Pass::ScanFreeRegions(std::int64_t page, const std::uint8_t* data, std::int64_t cells,
                           const std::vector<int>& tables, std::vector<Found>* found) {
  const FreeRegions regions = ReadFreeRegions(data, 0, cells, m_usable);
  if (regions.gapEnd > regions.gapStart)
    ScanRegion(page, data, SkipStalePointers(data, regions.gapStart, regions.gapEnd, m_usable),
               regions.gapEnd, false, true, tables, DeletedSource::FreeSpace, found);
  for (const auto& [lo, hi] : regions.blocks)
    ScanRegion(page, data, lo, hi, true, true, tables, DeletedSource::Freeblock, found);
}

void Pass::ScanFreePage(std::int64_t page, const std::uint8_t* data, bool trunk) {
  m_anyShape = true;
  std::vector<int> all(m_shapes.size());
  for (std::size_t t = 0; t < all.size(); ++t) all[t] = static_cast<int>(t);
  std::vector<Found> found;
  if (trunk) {
    // The bytes after the trunk's used entries keep what the page held.
    const std::int64_t used = std::min<std::int64_t>(
        format::ReadBigEndian32(data + format::kTrunkLeafCount), format::TrunkCapacity(m_usable));
    ScanRegion(page, data,
               SkipStalePointers(data, format::kTrunkLeaves + 4 * used, m_usable, m_usable),
               m_usable, false, false, all, DeletedSource::FreeSpace, &found);
    Attribute(found, page, page);
    return;
  }
  PageLayout layout;
  if (!ParsePageLayout(data, m_geometry.pageSize, m_usable, false, &layout)) return;
  if (layout.type == format::kInteriorTable) {
    // A freed interior page links the free pages of its old tree.
    for (std::int64_t i = 0; i <= layout.CellCount(); ++i) {
      const std::int64_t child = i < layout.CellCount()
                                     ? InteriorChild(data, m_geometry.pageSize, layout, i)
                                     : layout.rightChild;
      if (child >= 2 && child <= m_geometry.pageCount && child != page &&
          m_state.pages.Role(child) == PageRole::FreeLeaf)
        m_freeParent.emplace(child, page);
    }
    return;
  }
  if (layout.type != format::kLeafTable) return;
  // Its cells (those the content scan found when the pointers contradict
  // the page), then its free space when the pointers can be trusted.
  for (std::size_t i = 0; i < layout.cells.size(); ++i) {
    Found f;
    const std::int64_t x = layout.cells[i];
    if (IntactCell(page, data, x, std::min<std::int64_t>(x + layout.space[i], m_usable), &f) > 0) {
      f.record.source = DeletedSource::FreelistPage;
      found.push_back(std::move(f));
    }
  }
  if (!layout.pointersDamaged && !layout.scanned)
    ScanFreeRegions(page, data, layout.CellCount(), all, &found);
  Attribute(found, page, page);
}

// The records of one free page belong to one table: the one live table
// whose columns take every record the page held whole (with its header),
// when exactly one does; else they are a dropped table's, or undecided.
void Pass::Attribute(std::vector<Found>& found, std::int64_t page, std::int64_t group) {
  std::vector<int> fit;
  for (std::size_t t = 0; t < m_shapes.size(); ++t) {
    bool all = true;
    for (const Found& f : found)
      if (f.table < 0 && f.candidates.empty() && !Fits(m_shapes[t], f.record.values)) all = false;
    if (all) fit.push_back(static_cast<int>(t));
  }
  const bool anyWhole = std::any_of(found.begin(), found.end(), [](const Found& f) {
    return f.table < 0 && f.candidates.empty();
  });
  for (Found& f : found) {
    f.group = group;
    if (f.table >= 0 || !f.candidates.empty()) {
      // A rebuilt cell: its own fit, narrowed by the page's.
      if (anyWhole) {
        std::vector<int> both;
        std::vector<int> own = f.table >= 0 ? std::vector<int>{f.table} : f.candidates;
        for (int t : own)
          if (std::find(fit.begin(), fit.end(), t) != fit.end()) both.push_back(t);
        f.table = both.size() == 1 ? both.front() : -1;
        f.candidates = both.size() > 1 ? both : std::vector<int>{};
      }
    } else {
      f.table = fit.size() == 1 ? fit.front() : -1;
      if (fit.size() > 1) f.candidates = fit;
    }
    if (f.table < 0) f.record.source = DeletedSource::DroppedTable;
    (void)page;
    m_found.push_back(std::move(f));
  }
}

void Pass::ScanSchemaLeaf(const std::uint8_t* data, int headerOffset, bool allCells) {
  // Deleted schema rows (type, name, tbl_name, rootpage, sql) name the
  // dropped tables whose pages are free.
  Shape schema;
  schema.allowed = {kClassText, kClassText, kClassText, kClassInteger,
                    static_cast<std::uint8_t>(kClassText | kClassNull)};
  const std::uint32_t encoding = m_geometry.textEncoding;
  if (encoding != format::kEncodingUtf8 && encoding != 0) return;  // named by number
  auto take = [this](const RecordValues& values) {
    if (values.size() != 5 || !values[0].complete || !values[1].complete || !values[3].complete ||
        values[0].storage != StorageClass::Text || values[1].storage != StorageClass::Text ||
        values[3].storage != StorageClass::Integer || values[3].intValue < 2 ||
        QString::fromUtf8(values[0].bytes) != QLatin1String("table") ||
        m_state.catalog.FindTable(QString::fromUtf8(values[1].bytes)) != nullptr)
      return;  // not a table's row, or the row of a table that lives
    m_droppedRows.emplace(
        values[3].intValue,
        std::make_pair(QString::fromUtf8(values[1].bytes),
                       values[4].complete && values[4].storage == StorageClass::Text
                           ? QString::fromUtf8(values[4].bytes)
                           : QString()));
  };
  if (allCells) {
    PageLayout layout;
    if (ParsePageLayout(data, m_geometry.pageSize, m_usable, headerOffset != 0, &layout))
      for (std::size_t i = 0; i < layout.cells.size(); ++i) {
        Found found;
        const std::int64_t x = layout.cells[i];
        if (IntactCell(0, data, x, std::min<std::int64_t>(x + layout.space[i], m_usable), &found) >
            0)
          take(found.record.values);
      }
  }
  // A row freed at the start of the cell content area is left whole in the
  // unallocated space.
  FreeRegions regions = ReadFreeRegions(
      data, headerOffset, format::ReadBigEndian16(data + headerOffset + format::kPageCellCount),
      m_usable);
  for (std::int64_t x = regions.gapStart; x + 4 <= regions.gapEnd;) {
    Found found;
    const std::int64_t extent = IntactCell(0, data, x, regions.gapEnd, &found);
    if (extent > 0) take(found.record.values);
    if (extent == 0 && LeftoverFreeblock(0, data, x, regions.gapEnd))
      regions.blocks.emplace_back(x, regions.gapEnd);
    x += extent > 0 ? extent : 1;
  }
  for (const auto& [lo, hi] : regions.blocks) {
    std::vector<Reading> readings;
    Rebuild(data, lo, hi, hi, schema, &readings);
    if (readings.size() == 1) take(readings.front().values);
  }
}

bool Pass::ScanPages() {
  // Which pages are read, from the page map alone: live table leaves (and
  // their interior pages, passed over once read), the schema's pages, free
  // pages.
  auto wanted = [this](std::int64_t page, int* table) {
    *table = -1;
    const PageRole role = m_state.pages.Role(page);
    if (role == PageRole::FreeLeaf || role == PageRole::FreeTrunk) return true;
    // A page the walks found holding nothing freed is not read again.
    if (role != PageRole::Btree || m_state.pages.NothingFreed(page)) return false;
    const std::uint32_t owner = m_state.pages.Owner(page);
    if (owner == 1) return !m_state.schema.firstPageLoose;
    const auto found = m_byRoot.find(owner);
    if (found == m_byRoot.end()) return false;
    *table = found->second;
    return true;
  };
  // Consecutive pages are read from the file in runs: one read instead of
  // one per page.
  constexpr std::int64_t kRun = 64;
  const std::int64_t pageSize = m_geometry.pageSize;
  const std::int64_t pageCount = m_geometry.pageCount;
  std::vector<std::uint8_t> run(static_cast<std::size_t>(kRun * pageSize));
  std::vector<std::uint8_t> single(static_cast<std::size_t>(pageSize));
  std::int64_t runFirst = 0, runPages = 0;
  for (std::int64_t page = 1; page <= pageCount; ++page) {
    if (page % 64 == 0 && Stopped()) return false;
    int table = -1;
    if (!wanted(page, &table)) continue;
    const std::uint8_t* data = nullptr;
    if (page >= runFirst && page < runFirst + runPages) {
      data = run.data() + (page - runFirst) * pageSize;
    } else {
      std::int64_t length = 1;
      int ignored = -1;
      while (length < kRun && page + length <= pageCount && wanted(page + length, &ignored))
        ++length;
      runFirst = page;
      runPages = length > 1 ? m_source.ReadRun(page, length, run.data()) : 0;
      if (runPages > 0) {
        data = run.data();
      } else if (m_source.ReadPage(page, single.data()) == PageRead::Ok) {
        data = single.data();
      } else {
        continue;
      }
    }
    const PageRole role = m_state.pages.Role(page);
    const int header = page == 1 ? format::kHeaderSize : 0;
    if (role == PageRole::Btree && data[header] != format::kLeafTable) continue;  // interior
    ++m_result.pagesRead;
    if (role == PageRole::Btree && table < 0)
      ScanSchemaLeaf(data, header);
    else if (role == PageRole::Btree)
      ScanLiveLeaf(page, data, table);
    else
      ScanFreePage(page, data, role == PageRole::FreeTrunk);
  }
  return ScanOlderImages();
}

bool Pass::ScanOlderImages() {
  const std::vector<PageSource::OlderImage>& images = m_source.OlderImages();
  std::vector<std::uint8_t> data(static_cast<std::size_t>(m_geometry.pageSize));
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (i % 64 == 0 && Stopped()) return false;
    if (m_source.ReadOlderImage(i, data.data()) != PageRead::Ok) continue;
    const std::size_t before = m_found.size();
    ScanOlderImage(images[i].page, data.data());
    for (std::size_t k = before; k < m_found.size(); ++k) {
      DeletedRecord& record = m_found[k].record;
      m_found[k].image = static_cast<std::int64_t>(i) + 1;
      record.source = images[i].origin == PageSource::Origin::Wal ? DeletedSource::WalFrame
                                                                  : DeletedSource::ReplacedPage;
      record.walFrame = images[i].origin == PageSource::Origin::Wal
                            ? static_cast<int>(std::min<std::int64_t>(images[i].frame, INT32_MAX))
                            : -1;
    }
  }
  return true;
}

void Pass::ScanOlderImage(std::int64_t page, const std::uint8_t* data) {
  // An older image held rows that were live when it was written: every cell
  // is read, and what is still live is dropped later like any other copy of
  // a live row. The image goes to the table that owns the page now when all
  // its whole cells fit that table; else it is weighed like a free page.
  const int header = page == 1 ? format::kHeaderSize : 0;
  if (data[header] != format::kLeafTable) return;
  ++m_result.pagesRead;
  const bool btree = m_state.pages.Role(page) == PageRole::Btree;
  if (page == 1 || (btree && m_state.pages.Owner(page) == 1)) {
    if (!m_state.schema.firstPageLoose) ScanSchemaLeaf(data, header, true);
    return;
  }
  PageLayout layout;
  if (!ParsePageLayout(data, m_geometry.pageSize, m_usable, false, &layout)) return;
  std::vector<Found> found;
  m_anyShape = true;
  for (std::size_t i = 0; i < layout.cells.size(); ++i) {
    Found f;
    const std::int64_t x = layout.cells[i];
    if (IntactCell(page, data, x, std::min<std::int64_t>(x + layout.space[i], m_usable), &f) > 0)
      found.push_back(std::move(f));
  }
  int table = -1;
  if (btree) {
    const auto owner = m_byRoot.find(m_state.pages.Owner(page));
    if (owner != m_byRoot.end() && std::all_of(found.begin(), found.end(), [&](const Found& f) {
          return Fits(m_shapes[static_cast<std::size_t>(owner->second)], f.record.values);
        }))
      table = owner->second;
  }
  std::vector<int> tables;
  if (table >= 0) {
    tables.push_back(table);
  } else {
    for (std::size_t t = 0; t < m_shapes.size(); ++t) tables.push_back(static_cast<int>(t));
  }
  m_anyShape = table < 0;
  if (!layout.pointersDamaged && !layout.scanned)
    ScanFreeRegions(page, data, layout.CellCount(), tables, &found);
  if (table < 0) {
    Attribute(found, page, page);
    return;
  }
  for (Found& f : found) {
    f.table = table;
    f.candidates.clear();
    m_found.push_back(std::move(f));
  }
}

// A hash of the values at the positions of `mask` (bit c: value c is
// compared; the values past 64 always are).
std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  h *= 0xFF51AFD7ED558CCDull;
  return h ^ (h >> 33);
}
std::uint64_t HashValue(std::uint64_t h, StorageClass storage, std::int64_t i, double d,
                        const char* bytes, std::int64_t n) {
  h = Mix(h, static_cast<std::uint64_t>(storage) + 1);
  switch (storage) {
    case StorageClass::Null:
      return h;
    case StorageClass::Integer:
      return Mix(h, static_cast<std::uint64_t>(i));
    case StorageClass::Real: {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &d, sizeof bits);
      return Mix(h, bits);
    }
    default:
      break;
  }
  h = Mix(h, static_cast<std::uint64_t>(n));
  std::int64_t k = 0;
  for (; k + 8 <= n; k += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + k, sizeof word);
    h = Mix(h, word);
  }
  for (; k < n; ++k) h = Mix(h, static_cast<std::uint8_t>(bytes[k]));
  return h;
}

// Which values of a deleted record are known (and so compared).
std::uint64_t KnownMask(const DeletedRecord& record, int alias) {
  std::uint64_t mask = 0;
  for (std::size_t c = 0; c < record.values.size() && c < 64; ++c)
    if (record.values[c].complete && static_cast<int>(c) != alias) mask |= std::uint64_t{1} << c;
  return mask;
}

// The hash of the values under `mask` with the rowid: the values' hash
// mixed with it, so that a row's two hashes cost one pass over its values.
std::uint64_t WithRowid(std::uint64_t valuesHash, std::int64_t rowid) {
  return Mix(valuesHash ^ 0x5BD1E995u, static_cast<std::uint64_t>(rowid));
}

std::uint64_t HashDeleted(const DeletedRecord& record, std::uint64_t mask, bool withRowid) {
  std::uint64_t h = Mix(0, record.values.size());
  for (std::size_t c = 0; c < record.values.size(); ++c) {
    if (c < 64 && (mask & (std::uint64_t{1} << c)) == 0) continue;
    const ITEM& v = record.values[c];
    h = HashValue(h, v.storage, v.intValue, v.realValue, v.bytes.constData(), v.bytes.size());
  }
  return withRowid ? WithRowid(h, record.rowid) : h;
}

// The hash of a decoded live row under `mask`, as HashDeleted hashes a
// deleted record.
std::uint64_t HashView(const RecordView& view, std::uint64_t mask, bool withRowid) {
  std::uint64_t h = Mix(0, view.values.size());
  for (std::size_t c = 0; c < view.values.size(); ++c) {
    if (c < 64 && (mask & (std::uint64_t{1} << c)) == 0) continue;
    const ValueView& v = view.values[c];
    h = HashValue(h, v.storage, v.intValue, v.realValue,
                  reinterpret_cast<const char*>(view.Data(v)), v.held);
  }
  return withRowid ? WithRowid(h, view.rowid) : h;
}

// Collects, for one live table, the hashes of its rows under each mask:
// appended while the table is walked, sorted once (Seal), then looked up.
class LiveRows : public ICellVisitor {
 public:
  LiveRows(const PageSource& source, const std::vector<std::uint64_t>& masks)
      : m_source(source), m_masks(masks), m_byMask(masks.size()) {}
  CellUse VisitCell(const CellRef& cell) override {
    DecodeWalkedCell(m_source, cell, DecodeMode::Schema, nullptr, m_view);
    if (!m_view.hasRowid) return CellUse::Used;
    for (std::size_t m = 0; m < m_masks.size(); ++m) {
      const std::uint64_t hash = HashView(m_view, m_masks[m], false);
      m_byMask[m].push_back(hash);
      m_withRowid.push_back(WithRowid(hash, m_view.rowid));
    }
    return CellUse::Used;
  }
  void Seal() {
    for (std::vector<std::uint64_t>* list : All()) std::sort(list->begin(), list->end());
  }
  bool Holds(std::size_t mask, std::uint64_t hash) const {
    return std::binary_search(m_byMask[mask].begin(), m_byMask[mask].end(), hash);
  }
  bool HoldsWithRowid(std::uint64_t hash) const {
    return std::binary_search(m_withRowid.begin(), m_withRowid.end(), hash);
  }

 private:
  std::vector<std::vector<std::uint64_t>*> All() {
    std::vector<std::vector<std::uint64_t>*> all{&m_withRowid};
    for (std::vector<std::uint64_t>& list : m_byMask) all.push_back(&list);
    return all;
  }
  const PageSource& m_source;
  const std::vector<std::uint64_t>& m_masks;
  RecordView m_view;
  std::vector<std::vector<std::uint64_t>> m_byMask;
  std::vector<std::uint64_t> m_withRowid;
};

Pass::Seek Pass::SeekRow(std::int64_t root, std::int64_t rowid, RecordView& view) {
  // Down the table's interior pages by their keys (a left child holds the
  // rowids up to its cell's key) to the leaf that holds `rowid` if any row
  // does. Only pages the page map gives to this tree are read; anything
  // else leaves the answer to the walk.
  m_seekPage.resize(static_cast<std::size_t>(m_geometry.pageSize));
  std::uint8_t* const d = m_seekPage.data();
  std::int64_t page = root;
  for (int depth = 0; depth < format::kMaxTreeDepth; ++depth) {
    if (page < 2 || page > m_geometry.pageCount || m_state.pages.Role(page) != PageRole::Btree ||
        m_state.pages.Owner(page) != root || m_source.ReadPage(page, d) != PageRead::Ok)
      return Seek::Unsure;
    const std::uint8_t type = d[0];
    const bool leaf = type == format::kLeafTable;
    if (!leaf && type != format::kInteriorTable) return Seek::Unsure;
    const std::int64_t header = leaf ? format::kLeafHeaderSize : format::kInteriorHeaderSize;
    const std::int64_t count = format::ReadBigEndian16(d + format::kPageCellCount);
    if (header + 2 * count > m_usable) return Seek::Unsure;
    const std::uint8_t* const end = d + m_usable;
    auto keyAt = [&](std::int64_t i, std::int64_t* offset, std::int64_t* key) {
      *offset = format::ReadBigEndian16(d + header + 2 * i);
      if (*offset < header + 2 * count || *offset + 4 >= m_usable) return false;
      const std::uint8_t* p = d + *offset + (leaf ? 0 : 4);
      std::uint64_t v = 0;
      if (leaf) {
        const int n = format::ReadVarint(p, end, &v);
        if (n == 0) return false;
        p += n;
      }
      if (format::ReadVarint(p, end, &v) == 0) return false;
      *key = static_cast<std::int64_t>(v);
      return true;
    };
    std::int64_t lo = 0, hi = count, offset = 0, key = 0;
    while (lo < hi) {
      const std::int64_t mid = lo + (hi - lo) / 2;
      if (!keyAt(mid, &offset, &key)) return Seek::Unsure;
      if (key < rowid)
        lo = mid + 1;
      else
        hi = mid;
    }
    if (leaf) {
      if (lo >= count) return Seek::Absent;
      if (!keyAt(lo, &offset, &key)) return Seek::Unsure;
      if (key != rowid) return Seek::Absent;
      if (!DecodeCellPayload(m_source, {type, d, m_geometry.pageSize, offset}, DecodeMode::Schema,
                             view) ||
          !view.hasRowid)
        return Seek::Unsure;
      return Seek::Found;
    }
    if (lo < count) {
      if (!keyAt(lo, &offset, &key)) return Seek::Unsure;
      page = format::ReadBigEndian32(d + offset);
    } else {
      page = format::ReadBigEndian32(d + 8);  // the right child
    }
  }
  return Seek::Unsure;
}

void Pass::DropLiveRows() {
  // A candidate equal to a live row of its table (by rowid and values when
  // its rowid is known, else by the values it still has) is the live row's
  // old copy, not a deleted one. A known rowid is looked up in the table's
  // tree; the others are compared with the hashes of every live row under
  // the masks of known values the candidates have, for the tables that
  // have such candidates only.
  std::vector<bool> drop(m_found.size(), false);
  std::vector<bool> walk(m_found.size(), false);
  std::map<int, std::vector<std::uint64_t>> masks;
  RecordView view;
  for (std::size_t i = 0; i < m_found.size(); ++i) {
    const Found& f = m_found[i];
    if (f.table < 0) continue;
    if (i % 256 == 0 && Stopped()) return;
    const Shape& shape = m_shapes[size_t(f.table)];
    const std::uint64_t mask = KnownMask(f.record, shape.alias);
    if (f.record.rowidKnown) {
      switch (SeekRow(shape.root, f.record.rowid, view)) {
        case Seek::Found:
          drop[i] = HashView(view, mask, false) == HashDeleted(f.record, mask, false);
          continue;
        case Seek::Absent:
          continue;
        case Seek::Unsure:
          break;
      }
    }
    walk[i] = true;
    std::vector<std::uint64_t>& list = masks[f.table];
    if (std::find(list.begin(), list.end(), mask) == list.end() && list.size() < kMaxMasks)
      list.push_back(mask);
  }
  for (const auto& [table, list] : masks) {
    const Shape& shape = m_shapes[size_t(table)];
    LiveRows live(m_source, list);
    if (m_state.Walk(shape.root, live, m_progress).stopped) return;
    live.Seal();
    for (std::size_t i = 0; i < m_found.size(); ++i) {
      const Found& f = m_found[i];
      if (f.table != table || !walk[i]) continue;
      const std::uint64_t mask = KnownMask(f.record, shape.alias);
      const auto at = std::find(list.begin(), list.end(), mask);
      if (at == list.end()) {
        drop[i] = true;  // too many patterns to compare: not given as deleted
        continue;
      }
      const std::size_t m = static_cast<std::size_t>(at - list.begin());
      if (f.record.rowidKnown) {
        if (live.HoldsWithRowid(HashDeleted(f.record, mask, true)) &&
            live.Holds(m, HashDeleted(f.record, mask, false)))
          drop[i] = true;
      } else if (live.Holds(m, HashDeleted(f.record, mask, false))) {
        drop[i] = true;
      }
    }
  }
  // The same cell read twice (a free region scanned from two starts) is one.
  std::vector<Found> kept;
  std::set<std::tuple<std::int64_t, std::int64_t, int>> places;
  for (std::size_t i = 0; i < m_found.size(); ++i) {
    if (drop[i]) continue;
    const Found& f = m_found[i];
    if (!places.emplace(f.image, f.record.page, f.record.offset).second) continue;
    kept.push_back(std::move(m_found[i]));
  }
  m_found = std::move(kept);
}

// Whether `whole` has every value `part` knows, and its rowid when both know it.
bool Covers(const DeletedRecord& whole, const DeletedRecord& part) {
  if (whole.values.size() != part.values.size()) return false;
  if (whole.rowidKnown && part.rowidKnown && whole.rowid != part.rowid) return false;
  for (std::size_t c = 0; c < part.values.size(); ++c)
    if (part.values[c].complete && !SameItem(whole.values[c], part.values[c])) return false;
  return true;
}

void Pass::DropRepeats() {
  // An older image repeats what the page as read holds, and a balance of
  // the tree leaves copies of cells in the free space of the pages they
  // left: the same row is given once. A whole row (table, rowid, values)
  // found twice is one, and so is a whole record whose rowid was lost that
  // has the values of a whole row whose rowid is known. A partial record is
  // the same row as a whole one that has every value it knows when that one
  // lies at the same place of another image of the page, or in another
  // image; within one image, records that only agree on what a partial one
  // knows stay apart: they may be two rows.
  std::vector<bool> drop(m_found.size(), false);
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> wholeRows, byValues;
  for (std::size_t i = 0; i < m_found.size(); ++i) {
    const Found& f = m_found[i];
    if (f.record.partial) continue;
    const std::uint64_t table = static_cast<std::uint64_t>(f.table + 1);
    byValues[Mix(HashDeleted(f.record, ~std::uint64_t{0}, false), table)].push_back(i);
    if (!f.record.rowidKnown) continue;
    std::vector<std::size_t>& same =
        wholeRows[Mix(HashDeleted(f.record, ~std::uint64_t{0}, true), table)];
    for (const std::size_t j : same)
      if (m_found[j].table == f.table && m_found[j].candidates == f.candidates &&
          Covers(m_found[j].record, f.record))
        drop[i] = true;
    if (!drop[i]) same.push_back(i);
  }
  auto coveredBy = [&](std::size_t i, const std::vector<std::size_t>& wholes, bool elsewhere) {
    const Found& part = m_found[i];
    return std::any_of(wholes.begin(), wholes.end(), [&](std::size_t j) {
      const Found& whole = m_found[j];
      return j != i && !drop[j] && (!elsewhere || whole.image != part.image) &&
             whole.table == part.table && !whole.record.partial && whole.record.rowidKnown &&
             Covers(whole.record, part.record);
    });
  };
  std::map<std::pair<std::int64_t, int>, std::vector<std::size_t>> byPlace;
  for (std::size_t i = 0; i < m_found.size(); ++i)
    byPlace[{m_found[i].record.page, m_found[i].record.offset}].push_back(i);
  for (std::size_t i = 0; i < m_found.size(); ++i) {
    const Found& f = m_found[i];
    if (drop[i] || (!f.record.partial && f.record.rowidKnown)) continue;
    if (!f.record.partial) {
      const auto same = byValues.find(Mix(HashDeleted(f.record, ~std::uint64_t{0}, false),
                                          static_cast<std::uint64_t>(f.table + 1)));
      if (same != byValues.end() && coveredBy(i, same->second, false)) drop[i] = true;
    }
    if (!drop[i]) drop[i] = coveredBy(i, byPlace[{f.record.page, f.record.offset}], true);
  }
  std::vector<Found> kept;
  for (std::size_t i = 0; i < m_found.size(); ++i)
    if (!drop[i]) kept.push_back(std::move(m_found[i]));
  m_found = std::move(kept);
}

void Pass::Collect() {
  // Live tables in their order, then the dropped or undecided groups.
  std::vector<DeletedTable> live(m_shapes.size());
  for (std::size_t t = 0; t < m_shapes.size(); ++t) {
    live[t].table = m_shapes[t].name;
    live[t].columns = static_cast<int>(m_shapes[t].allowed.size());
  }
  // A free page's group: the top of its old tree, following free interior
  // pages (bounded by the tree depth).
  auto top = [this](std::int64_t page) {
    for (int step = 0; step < format::kMaxTreeDepth; ++step) {
      const auto up = m_freeParent.find(page);
      if (up == m_freeParent.end()) break;
      page = up->second;
    }
    return page;
  };
  std::map<QString, DeletedTable> others;
  QStringList taken = m_state.TakenNames();
  std::map<QString, QString> numbered;  // group key -> deleted_table_N
  int next = 1;
  std::int64_t kept = 0;
  for (Found& f : m_found) {
    if (kept >= kMaxDeletedRecords) {
      ++m_result.dropped;
      continue;
    }
    ++kept;
    (f.record.partial ? m_result.partial : m_result.whole) += 1;
    if (f.table >= 0) {
      live[size_t(f.table)].records.push_back(std::move(f.record));
      continue;
    }
    const std::int64_t root = top(f.group);
    auto named = m_droppedRows.find(root);
    if (named == m_droppedRows.end() && f.candidates.empty()) {
      // The dropped tree's root may have become a trunk page (its links
      // gone): the one deleted table row whose statement declares as many
      // columns as the record has values names it.
      int fitting = 0;
      for (auto row = m_droppedRows.begin(); row != m_droppedRows.end(); ++row) {
        bool withoutRowid = false;
        if (DeclaredColumns(row->second.second, &withoutRowid) ==
                static_cast<int>(f.record.values.size()) &&
            !withoutRowid && ++fitting == 1)
          named = row;
      }
      if (fitting != 1) named = m_droppedRows.end();
    }
    QString key, sql;
    if (named != m_droppedRows.end() && !taken.contains(named->second.first, Qt::CaseInsensitive) &&
        f.candidates.empty()) {
      key = named->second.first;
      sql = named->second.second;
    } else {
      QString shape = QString::number(f.record.values.size());
      for (int c : f.candidates) shape += QLatin1Char(',') + m_shapes[size_t(c)].name;
      auto at = numbered.find(shape);
      if (at == numbered.end()) {
        QString name;
        do {
          name = QStringLiteral("deleted_table_%1").arg(next++);
        } while (taken.contains(name, Qt::CaseInsensitive));
        at = numbered.emplace(shape, name).first;
      }
      key = at->second;
    }
    DeletedTable& group = others[key];
    if (group.table.isEmpty()) {
      group.table = key;
      group.dropped = true;
      group.sql = sql;
      for (int c : f.candidates) group.candidates.push_back(m_shapes[size_t(c)].name);
    }
    group.columns = std::max(group.columns, static_cast<int>(f.record.values.size()));
    group.records.push_back(std::move(f.record));
  }
  for (DeletedTable& table : live)
    if (!table.records.empty()) m_result.tables.push_back(std::move(table));
  for (auto& [key, table] : others) m_result.tables.push_back(std::move(table));
}

DeletedRecords Pass::Run() {
  if (!m_source.Usable() || m_state.working == nullptr || !m_state.orphans.ran ||
      m_usable < format::kMinUsableSize)
    return DeletedRecords();
  ReadShapes();
  bool stopped = !ScanPages() || Stopped();
  if (!stopped) {
    DropLiveRows();
    DropRepeats();
    stopped = Stopped();
  }
  if (stopped) {
    DeletedRecords result;
    result.stopped = true;
    return result;
  }
  std::stable_sort(m_found.begin(), m_found.end(), [](const Found& a, const Found& b) {
    return std::make_pair(a.record.page, a.record.offset) <
           std::make_pair(b.record.page, b.record.offset);
  });
  Collect();
  m_result.ran = true;
  return std::move(m_result);
}

}  // namespace

DeletedRecords FindDeletedRecords(RecoveryState& state, IProgress& progress) {
  return Pass(state, progress).Run();
}

}  // namespace velmora
