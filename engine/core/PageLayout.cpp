#include "engine/core/PageLayout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "engine/core/Format.h"

namespace velmora {
namespace {

// B-tree page header fields that only the pointer checks read.
constexpr int kPageFirstFreeblock = 1;
constexpr int kPageContentStart = 5;

// One freeblock: [start, end) in the page.
using Span = std::pair<std::uint32_t, std::uint32_t>;

// The freeblock chain of a page, in address order. Each freeblock holds the
// offset of the next one (0 ends the chain) and its own size; the chain must
// rise and stay inside the usable space. A link that breaks these rules ends
// the chain (what was read stays), and the chain is bounded by the number of
// 4-byte places in the page.
void ReadFreeblocks(const std::uint8_t* page, std::int64_t usableSize, int headerOffset,
                    std::vector<Span>* out) {
  out->clear();
  std::int64_t at = format::ReadBigEndian16(page + headerOffset + kPageFirstFreeblock);
  std::int64_t floor = headerOffset + format::kLeafHeaderSize;
  for (std::int64_t guard = usableSize / 4; at != 0 && guard > 0; --guard) {
    if (at < floor || at + 4 > usableSize) return;
    const std::int64_t size = format::ReadBigEndian16(page + at + 2);
    if (size < 4 || at + size > usableSize) return;
    out->emplace_back(static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(at + size));
    floor = at + size;
    at = format::ReadBigEndian16(page + at);
  }
}

}  // namespace

std::uint64_t RecordSizeFromHeader(const std::uint8_t* p, const std::uint8_t* limit,
                                   std::uint64_t local, bool strict) {
  std::uint64_t headerSize = 0;
  const int n = format::ReadVarint(p, limit, &headerSize);
  if (n == 0 || headerSize < static_cast<std::uint64_t>(n) || headerSize > local ||
      headerSize > static_cast<std::uint64_t>(limit - p))
    return 0;
  std::uint64_t total = headerSize;
  const std::uint8_t* t = p + n;
  const std::uint8_t* const end = p + headerSize;
  while (t < end) {
    std::uint64_t type = 0;
    const int k = format::ReadVarint(t, end, &type);
    if (k == 0) return 0;
    if (strict && (type == 10 || type == 11)) return 0;
    t += k;
    total += format::SerialTypeSize(type);
    if (total > (std::uint64_t{1} << 40)) return 0;  // no payload is that large
  }
  return total;
}

namespace {

// The strict reading of a leaf cell at `offset` for the content scan: its
// payload size equals what its record header announces, and the cell ends by
// `limit`. Returns its extent (at least 4, SQLite's smallest cell, when that
// fits), 0 when the place holds no such cell.
std::int64_t StrictLeafCell(const std::uint8_t* page, std::int64_t limit, std::uint8_t type,
                            std::int64_t offset, std::int64_t usableSize) {
  const std::uint8_t* const end = page + limit;
  const std::uint8_t* p = page + offset;
  std::uint64_t payload = 0;
  int n = format::ReadVarint(p, end, &payload);
  if (n == 0 || payload == 0) return 0;
  p += n;
  if (type == format::kLeafTable) {
    std::uint64_t rowid = 0;
    n = format::ReadVarint(p, end, &rowid);
    if (n == 0) return 0;
    p += n;
  }
  const std::int64_t local = format::LocalPayloadSize(payload, type, usableSize);
  if (local <= 0 || local > end - p) return 0;
  if (RecordSizeFromHeader(p, p + local, static_cast<std::uint64_t>(local), true) != payload)
    return 0;
  std::int64_t extent = (p - (page + offset)) + local;
  if (payload > static_cast<std::uint64_t>(local)) {
    if (end - p < local + 4 || format::ReadBigEndian32(p + local) == 0) return 0;
    extent += 4;
  }
  if (offset + extent > limit) return 0;
  return extent < 4 && offset + 4 <= limit ? 4 : extent;
}

}  // namespace

std::int64_t CellExtent(const std::uint8_t* page, std::int64_t limit, std::uint8_t pageType,
                        std::int64_t offset, std::int64_t usableSize) {
  if (page == nullptr || offset < 0 || offset >= limit) return 0;
  const std::uint8_t* const end = page + limit;
  const std::uint8_t* p = page + offset;
  if (format::IsInterior(pageType)) {
    if (end - p < 4) return 0;
    p += 4;
  }
  std::uint64_t value = 0;
  int n = format::ReadVarint(p, end, &value);
  if (n == 0) return 0;
  p += n;
  if (pageType == format::kInteriorTable) return p - (page + offset);
  const std::uint64_t payload = value;
  if (pageType == format::kLeafTable) {
    n = format::ReadVarint(p, end, &value);
    if (n == 0) return 0;
    p += n;
  }
  const std::int64_t local = format::LocalPayloadSize(payload, pageType, usableSize);
  const std::int64_t overflow = payload > static_cast<std::uint64_t>(local) ? 4 : 0;
  return (p - (page + offset)) + local + overflow;
}

std::int64_t CellExtentByRecord(const std::uint8_t* page, std::int64_t limit, std::uint8_t pageType,
                                std::int64_t offset, std::int64_t usableSize) {
  if (page == nullptr || offset < 0 || offset >= limit) return 0;
  if (pageType != format::kLeafTable && pageType != format::kLeafIndex) return 0;
  const std::uint8_t* const end = page + limit;
  const std::uint8_t* p = page + offset;
  std::uint64_t value = 0;
  int n = format::ReadVarint(p, end, &value);
  if (n == 0) return 0;
  p += n;
  if (pageType == format::kLeafTable) {
    n = format::ReadVarint(p, end, &value);
    if (n == 0) return 0;
    p += n;
  }
  const std::uint64_t record =
      RecordSizeFromHeader(p, end, static_cast<std::uint64_t>(end - p), false);
  if (record == 0) return 0;
  const std::int64_t local = format::LocalPayloadSize(record, pageType, usableSize);
  const std::int64_t overflow = record > static_cast<std::uint64_t>(local) ? 4 : 0;
  const std::int64_t extent = (p - (page + offset)) + local + overflow;
  return offset + extent <= limit ? extent : 0;
}

void ScanCellContent(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                     std::int64_t start, PageLayout* out) {
  PageLayout& l = *out;
  l.cells.clear();
  l.space.clear();
  l.scanned = true;
  const std::int64_t usable = std::min(usableSize, pageSize);
  thread_local std::vector<Span> frees;
  ReadFreeblocks(page, usable, l.headerOffset, &frees);
  std::size_t next = 0;
  std::int64_t at = std::max<std::int64_t>(start, l.headerOffset + format::kLeafHeaderSize);
  while (at + 2 <= usable) {
    while (next < frees.size() && frees[next].second <= at) ++next;
    if (next < frees.size() && at >= frees[next].first) {
      at = frees[next].second;  // deleted cells: never live
      continue;
    }
    const std::int64_t limit = next < frees.size() ? std::int64_t{frees[next].first} : usable;
    const std::int64_t extent = StrictLeafCell(page, limit, l.type, at, usable);
    if (extent > 0) {
      l.cells.push_back(static_cast<std::uint32_t>(at));
      l.space.push_back(static_cast<std::uint32_t>(extent));
      at += extent;
    } else {
      ++at;
    }
  }
}

// Sorts cell offsets (each below 65536) in ascending order: two counting
// passes over eight bits each, which for the hundreds of cells of an index
// page cost a fraction of a comparison sort.
static void SortOffsets(std::vector<std::uint32_t>& offsets) {
  if (offsets.size() < 64) {
    std::sort(offsets.begin(), offsets.end());
    return;
  }
  thread_local std::vector<std::uint32_t> scratch;
  scratch.resize(offsets.size());
  for (const int shift : {0, 8}) {
    std::array<std::uint32_t, 257> start{};
    for (const std::uint32_t o : offsets) ++start[((o >> shift) & 0xFFu) + 1];
    for (std::size_t b = 0; b < 256; ++b) start[b + 1] += start[b];
    for (const std::uint32_t o : offsets) scratch[start[(o >> shift) & 0xFFu]++] = o;
    offsets.swap(scratch);
  }
}

bool ParsePageLayout(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                     bool firstPage, PageLayout* out) {
  PageLayout& l = *out;
  l.cells.clear();
  l.space.clear();
  l.cellCountCut = false;
  l.pointersDamaged = false;
  l.scanned = false;
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
  // A leaf's records can be found by scanning its content area whatever its
  // count says (see below); an interior page with more cells than bytes has
  // no child pointers worth following.
  if (l.interior && count >= pageSize) {
    l.problem = PageProblem::BadCellCount;
    return false;
  }
  const std::int64_t usable = std::min(usableSize, pageSize);
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

  // The cell content area starts at the header's offset (0 meaning 65536)
  // and must lie after the pointer array; every cell lies inside it.
  const std::int64_t arrayEnd = pointers + 2 * count;
  std::int64_t contentStart = format::ReadBigEndian16(page + h + kPageContentStart);
  if (contentStart == 0) contentStart = format::kMaxPageSize;
  const bool contentPlausible = contentStart >= pointers && contentStart <= usable;
  bool damaged =
      l.cellCountCut || arrayEnd > usable || (contentPlausible && contentStart < arrayEnd);

  // Each cell's space: from its start to the next cell start by address, the
  // last one to the end of the usable area.
  thread_local std::vector<std::uint32_t> sorted;
  sorted.assign(l.cells.begin(), l.cells.end());
  // The library fills a page's content area from its end, so the pointers of
  // most pages are already in descending (or ascending) address order.
  if (!std::is_sorted(sorted.begin(), sorted.end())) {
    if (std::is_sorted(sorted.rbegin(), sorted.rend()))
      std::reverse(sorted.begin(), sorted.end());
    else
      SortOffsets(sorted);
  }
  thread_local std::vector<Span> frees;
  ReadFreeblocks(page, usable, static_cast<int>(h), &frees);
  l.space.resize(l.cells.size());
  // Two pointers to one cell: the first keeps it, the others get no space (the
  // same record is never handed on twice). Only a page with a repeated
  // pointer needs the map of starts already seen.
  const bool repeated = std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
  // Per cell start, the next greater start by address (the end of the usable
  // area after the last): entries of other offsets are stale and never read.
  thread_local std::vector<std::uint32_t> nextStart(static_cast<std::size_t>(format::kMaxPageSize));
  const auto areaEnd =
      static_cast<std::uint32_t>(std::clamp<std::int64_t>(usableSize, 0, 0xFFFFFFFF));
  for (std::size_t j = 0; j < sorted.size(); ++j)
    nextStart[sorted[j]] = j + 1 < sorted.size() ? sorted[j + 1] : areaEnd;
  thread_local std::vector<bool> seen;
  if (repeated) seen.assign(static_cast<std::size_t>(format::kMaxPageSize), false);
  for (std::size_t i = 0; i < l.cells.size(); ++i) {
    const std::uint32_t start = l.cells[i];
    if (repeated) {
      if (seen[start]) {
        l.space[i] = 0;
        damaged = true;
        continue;
      }
      seen[start] = true;
    }
    const std::int64_t end = nextStart[start];
    l.space[i] = static_cast<std::uint32_t>(std::max<std::int64_t>(end - start, 0));
    if (damaged) continue;
    // The pointer must lie in the content area and outside every freeblock,
    // and the cell must end before the next one starts.
    if (start < arrayEnd || start + 4 > usable || (contentPlausible && start < contentStart)) {
      damaged = true;
      continue;
    }
    const auto free = std::upper_bound(frees.begin(), frees.end(), Span{start, 0xFFFFFFFFu});
    if (free != frees.begin() && std::prev(free)->second > start) {
      damaged = true;
      continue;
    }
    const std::int64_t limit = std::min<std::int64_t>(end, usable);
    const std::int64_t extent = CellExtent(page, usable, l.type, start, usable);
    if (extent == 0 || start + extent > limit) {
      // A payload-size varint that contradicts its record header: the
      // record header, bounded by the space up to the next cell, decides.
      if (CellExtentByRecord(page, limit, l.type, start, usable) == 0) damaged = true;
    }
  }
  l.pointersDamaged = damaged;
  if (damaged && !l.interior) {
    const std::int64_t from = contentPlausible ? contentStart : pointers;
    ScanCellContent(page, pageSize, usableSize, from, &l);
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

bool TableCellKey(const std::uint8_t* page, std::int64_t pageSize, std::uint8_t type,
                  std::int64_t offset, std::int64_t* key) {
  if (offset < 0 || offset >= pageSize) return false;
  const std::uint8_t* p = page + offset;
  const std::uint8_t* const end = page + pageSize;
  std::uint64_t value = 0;
  if (type == format::kInteriorTable) {
    if (end - p < 4) return false;
    p += 4;
  } else {
    const int n = format::ReadVarint(p, end, &value);
    if (n == 0) return false;
    p += n;
  }
  if (format::ReadVarint(p, end, &value) == 0) return false;
  *key = static_cast<std::int64_t>(value);
  return true;
}

bool FreeSpaceBlank(const std::uint8_t* page, std::int64_t header, std::int64_t usableSize) {
  if (header + format::kLeafHeaderSize > usableSize) return false;
  if (format::ReadBigEndian16(page + header + 1) != 0) return false;  // a freeblock
  const std::int64_t arrayEnd =
      header + format::kLeafHeaderSize + 2 * format::ReadBigEndian16(page + header + 3);
  std::int64_t contentStart = format::ReadBigEndian16(page + header + 5);
  if (contentStart == 0) contentStart = format::kMaxPageSize;
  contentStart = std::min(contentStart, usableSize);
  static const std::uint8_t kZeros[256] = {};
  for (std::int64_t i = arrayEnd; i < contentStart;) {
    const std::int64_t k = std::min<std::int64_t>(contentStart - i, sizeof kZeros);
    if (std::memcmp(page + i, kZeros, static_cast<std::size_t>(k)) != 0) return false;
    i += k;
  }
  return true;
}

}  // namespace velmora
