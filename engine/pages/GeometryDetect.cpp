#include "engine/pages/GeometryDetect.h"

#include <QByteArray>
#include <array>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"

namespace velmora {
namespace {

// The most fragmented bytes a well-formed page holds.
constexpr int kMaxFragmentedBytes = 60;
// Children of an interior page 1 that encoding detection reads.
constexpr int kMaxSchemaChildren = 64;

// The usable size for `pageSize` with `reserved` bytes, or the whole page
// when the reserved bytes would leave less than the format allows.
std::int64_t UsableFor(std::int64_t pageSize, std::int64_t reserved) {
  return pageSize - reserved >= format::kMinUsableSize ? pageSize - reserved : pageSize;
}

// Votes of one schema row's first value for an encoding: its bytes are one of
// the type words in UTF-8, UTF-16le or UTF-16be.
void VoteForEncoding(const std::uint8_t* value, std::int64_t length, std::array<int, 4>& votes) {
  static const char* const kWords[] = {"table", "index", "view", "trigger"};
  const QByteArray bytes(reinterpret_cast<const char*>(value), static_cast<qsizetype>(length));
  for (const char* word : kWords) {
    const QByteArray utf8(word);
    QByteArray le, be;
    for (const char c : utf8) {
      le.append(c).append('\0');
      be.append('\0').append(c);
    }
    if (bytes == utf8) ++votes[format::kEncodingUtf8];
    if (bytes == le) ++votes[format::kEncodingUtf16le];
    if (bytes == be) ++votes[format::kEncodingUtf16be];
  }
}

// Looks at the first value of every cell of the leaf table page `page`.
void VotePage(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
              bool firstPage, std::array<int, 4>& votes, std::vector<std::int64_t>* children) {
  PageLayout layout;
  if (!ParsePageLayout(page, pageSize, usableSize, firstPage, &layout)) return;
  if (layout.type == format::kInteriorTable && children != nullptr) {
    for (std::int64_t i = 0; i < layout.CellCount() && i < kMaxSchemaChildren; ++i)
      children->push_back(InteriorChild(page, pageSize, layout, i));
    children->push_back(layout.rightChild);
    return;
  }
  if (layout.type != format::kLeafTable) return;
  const std::uint8_t* const end = page + usableSize;
  for (const std::uint32_t cell : layout.cells) {
    if (cell >= usableSize) continue;
    const std::uint8_t* p = page + cell;
    std::uint64_t payload = 0, rowid = 0, headerSize = 0, type = 0;
    int n = format::ReadVarint(p, end, &payload);
    if (n == 0) continue;
    p += n;
    if ((n = format::ReadVarint(p, end, &rowid)) == 0) continue;
    p += n;
    const std::uint8_t* const record = p;
    if ((n = format::ReadVarint(p, end, &headerSize)) == 0) continue;
    if (format::ReadVarint(p + n, end, &type) == 0) continue;
    if (type < 13 || type % 2 == 0 || headerSize > static_cast<std::uint64_t>(end - record))
      continue;
    const std::uint64_t length = format::SerialTypeSize(type);
    if (length > static_cast<std::uint64_t>(end - record) - headerSize) continue;
    VoteForEncoding(record + headerSize, static_cast<std::int64_t>(length), votes);
  }
}

}  // namespace

bool IsWellFormedBtreePage(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                           bool firstPage) {
  const std::int64_t h = firstPage ? format::kHeaderSize : 0;
  if (page == nullptr || usableSize > pageSize || h + format::kInteriorHeaderSize > usableSize)
    return false;
  const std::uint8_t type = page[h + format::kPageType];
  if (!format::IsPageType(type)) return false;
  const bool interior = format::IsInterior(type);
  const std::int64_t freeblock = format::ReadBigEndian16(page + h + 1);
  const std::int64_t cells = format::ReadBigEndian16(page + h + format::kPageCellCount);
  std::int64_t top = format::ReadBigEndian16(page + h + 5);
  if (top == 0) top = 65536;  // the format's encoding of a content area starting at 65536
  const int fragmented = page[h + 7];
  const std::int64_t pointers =
      h + (interior ? format::kInteriorHeaderSize : format::kLeafHeaderSize);
  const std::int64_t pointerEnd = pointers + 2 * cells;
  if (pointerEnd > top || top > usableSize || fragmented > kMaxFragmentedBytes) return false;
  if (freeblock != 0 && (freeblock < top || freeblock + 4 > usableSize)) return false;
  if (interior && format::ReadBigEndian32(page + h + format::kPageRightChild) == 0) return false;
  const std::int64_t smallestCell = interior ? 4 : 2;
  for (std::int64_t i = 0; i < cells; ++i) {
    const std::int64_t cell = format::ReadBigEndian16(page + pointers + 2 * i);
    if (cell < top || cell + smallestCell > usableSize) return false;
  }
  return true;
}

std::int64_t CountWellFormedPages(const std::uint8_t* sample, std::int64_t sampleLength,
                                  std::int64_t pageSize, std::int64_t reserved) {
  const std::int64_t usable = UsableFor(pageSize, reserved);
  std::int64_t count = 0;
  for (std::int64_t at = 0; at + pageSize <= sampleLength; at += pageSize)
    if (IsWellFormedBtreePage(sample + at, pageSize, usable, at == 0)) ++count;
  return count;
}

PageSizeGuess DetectPageSize(const std::uint8_t* sample, std::int64_t sampleLength,
                             std::int64_t headerReserved) {
  PageSizeGuess best;
  for (std::int64_t size = format::kMinPageSize; size <= format::kMaxPageSize; size *= 2) {
    for (const std::int64_t reserved : {headerReserved, std::int64_t{0}}) {
      const std::int64_t usedReserved = UsableFor(size, reserved) == size ? 0 : reserved;
      const std::int64_t count = CountWellFormedPages(sample, sampleLength, size, usedReserved);
      if (count > best.wellFormed) best = {size, usedReserved, count};
      if (reserved == 0) break;
    }
  }
  return best;
}

std::uint32_t DetectTextEncoding(const PageReader& read, std::int64_t pageSize,
                                 std::int64_t usableSize) {
  std::array<int, 4> votes = {0, 0, 0, 0};
  std::vector<std::uint8_t> page;
  std::vector<std::int64_t> children;
  if (read(1, page) && static_cast<std::int64_t>(page.size()) == pageSize)
    VotePage(page.data(), pageSize, usableSize, true, votes, &children);
  for (const std::int64_t child : children) {
    if (child <= 1 || !read(child, page) || static_cast<std::int64_t>(page.size()) != pageSize)
      continue;
    VotePage(page.data(), pageSize, usableSize, false, votes, nullptr);
  }
  std::uint32_t encoding = 0;
  int most = 0;
  for (std::uint32_t e = format::kEncodingUtf8; e <= format::kEncodingUtf16be; ++e) {
    if (votes[e] > most) {
      most = votes[e];
      encoding = e;
    }
  }
  return encoding;
}

}  // namespace velmora
