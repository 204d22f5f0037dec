// Cell and record decoding: varints, the record header, values and their
// overflow chains.
#include "engine/pages/RecordDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"

namespace velmora {
namespace {

// The payload of one cell as one stream of bytes: first the local bytes on
// the cell's page, then the overflow chain. Reads strictly in order; pages of
// the chain are read one at a time into one buffer. The chain is bounded by
// the page count and by the claims on overflow pages: in an intact file every
// overflow page belongs to one chain, so a chain that runs into a claimed
// page (a loop, or a chain shared by damaged cells) ends, and one walk reads
// every page at most once as an overflow page.
class PayloadReader {
 public:
  PayloadReader(const PageSource& source, const std::uint8_t* local, std::int64_t localAvail,
                std::int64_t localSize, std::uint64_t total, bool hasOverflow,
                std::uint32_t firstOverflow, IOverflowClaims* claims)
      : m_source(source),
        m_claims(claims),
        m_local(local),
        m_localAvail(localAvail),
        m_localSize(localSize),
        m_total(total),
        m_hasOverflow(hasOverflow),
        m_nextPage(firstOverflow) {}

  // Payload bytes not read yet (as the cell announces them).
  std::uint64_t Remaining() const { return m_total - m_pos; }
  // The first overflow page number was unusable.
  bool FirstPageInvalid() const { return m_firstInvalid; }

  // Hands the next `n` bytes to `sink(const uint8_t*, int64)` in pieces; with
  // `skip` it only advances. Returns the number of bytes delivered, less than
  // `n` when the payload is broken.
  template <class Sink>
  std::int64_t Read(std::int64_t n, Sink&& sink, bool skip = false) {
    std::int64_t done = 0;
    while (done < n && !m_broken) {
      if (m_pos < static_cast<std::uint64_t>(m_localSize)) {
        if (m_pos >= static_cast<std::uint64_t>(m_localAvail)) {
          m_broken = true;  // the local bytes run past the page image
          break;
        }
        const std::int64_t k =
            std::min<std::int64_t>(n - done, m_localAvail - static_cast<std::int64_t>(m_pos));
        if (!skip) sink(m_local + m_pos, k);
        m_pos += static_cast<std::uint64_t>(k);
        done += k;
        continue;
      }
      if (m_pageLeft == 0) {
        const std::int64_t dataPerPage =
            m_source.geometry().usableSize - format::kOverflowHeaderSize;
        if (!NextPage(skip && n - done >= dataPerPage)) break;
        continue;
      }
      const std::int64_t k = std::min<std::int64_t>(n - done, m_pageLeft);
      if (!skip) sink(m_pageData, k);
      if (m_pageData != nullptr) m_pageData += k;
      m_pageLeft -= k;
      m_pos += static_cast<std::uint64_t>(k);
      done += k;
    }
    return done;
  }

  std::int64_t Skip(std::int64_t n) {
    return Read(
        n, [](const std::uint8_t*, std::int64_t) {}, true);
  }

  // Copies the next `n` (at most 8) bytes into `out`; false when they are not all there.
  bool ReadFixed(std::uint8_t* out, std::int64_t n) {
    std::int64_t at = 0;
    const std::int64_t got = Read(n, [&](const std::uint8_t* d, std::int64_t k) {
      std::memcpy(out + at, d, static_cast<std::size_t>(k));
      at += k;
    });
    return got == n;
  }

 private:
  // Moves to the next page of the chain. With `headerOnly` only its next-page
  // number is read (its whole content is about to be skipped).
  bool NextPage(bool headerOnly) {
    const Geometry& g = m_source.geometry();
    const std::int64_t page = m_nextPage;
    if (!m_started) {
      m_started = true;
      if (!m_hasOverflow || page == 0 || page > g.pageCount) {
        m_firstInvalid = true;
        m_broken = true;
        return false;
      }
    }
    if (page == 0 || page > g.pageCount || m_pagesRead >= g.pageCount ||
        !(m_claims != nullptr ? m_claims->ClaimOverflow(page) : m_visited.Insert(page))) {
      m_broken = true;
      return false;
    }
    ++m_pagesRead;
    const std::int64_t usable = g.usableSize;
    if (headerOnly) {
      std::uint8_t next[4];
      if (m_source.ReadPart(page, 0, next, 4) < 4) {
        m_broken = true;
        return false;
      }
      m_nextPage = format::ReadBigEndian32(next);
      m_pageData = nullptr;
      m_pageLeft = usable - format::kOverflowHeaderSize;
      return true;
    }
    m_buffer.resize(static_cast<std::size_t>(usable));
    const std::int64_t got = m_source.ReadPart(page, 0, m_buffer.data(), usable);
    if (got < format::kOverflowHeaderSize + 1) {
      m_broken = true;
      return false;
    }
    m_nextPage = got < usable ? 0 : format::ReadBigEndian32(m_buffer.data());
    m_pageData = m_buffer.data() + format::kOverflowHeaderSize;
    m_pageLeft = got - format::kOverflowHeaderSize;
    return true;
  }

  const PageSource& m_source;
  IOverflowClaims* m_claims;  // null outside a walk
  const std::uint8_t* m_local;
  std::int64_t m_localAvail;
  std::int64_t m_localSize;
  std::uint64_t m_total;
  bool m_hasOverflow;
  std::int64_t m_nextPage;
  std::uint64_t m_pos = 0;
  bool m_started = false;
  bool m_broken = false;
  bool m_firstInvalid = false;
  std::int64_t m_pagesRead = 0;
  PageSet m_visited;  // this chain's pages, when nothing claims them
  std::vector<std::uint8_t> m_buffer;
  const std::uint8_t* m_pageData = nullptr;
  std::int64_t m_pageLeft = 0;
};

std::int64_t SignExtend(const std::uint8_t* p, int size) {
  std::uint64_t v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | p[i];
  if (size < 8 && size > 0 && (p[0] & 0x80u) != 0) v |= ~std::uint64_t{0} << (8 * size);
  return static_cast<std::int64_t>(v);
}

// Appends `k` bytes to the view's buffer.
void Append(RecordView& view, const std::uint8_t* d, std::int64_t k) {
  view.bytes.insert(view.bytes.end(), d, d + k);
}

}  // namespace

bool WalkOverflowClaims::ClaimOverflow(std::int64_t page) {
  if (!(m_used != nullptr ? m_used->Insert(page) : m_own.Insert(page))) return false;
  if (m_map != nullptr) m_map->Claim(page, PageRole::Overflow, m_tree);
  return true;
}

TempFileSpill::~TempFileSpill() = default;

QString TempFileSpill::Open(std::int64_t length) {
  m_file.reset();
  const QString path = m_files != nullptr ? m_files->PathFor(length) : QString();
  if (path.isEmpty()) return QString();
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) return QString();
  m_file = std::move(file);
  return path;
}

bool TempFileSpill::Write(const std::uint8_t* data, std::int64_t size) {
  return m_file != nullptr && m_file->write(reinterpret_cast<const char*>(data), size) == size;
}

void TempFileSpill::Close() {
  if (m_file != nullptr) m_file->close();
  m_file.reset();
}

namespace {

// Decodes the record of a cell whose payload is `payloadSize` bytes, `localSize`
// of them on the page from `p` (after the cell's payload-size and rowid
// varints). Adds the values to `view`. `*recordSize` receives the size the
// record header announces (header plus every value's size), read in the same
// pass as the values; 0 when the header cannot be read whole inside the local
// bytes.
void DecodeRecord(const PageSource& source, const std::uint8_t* p, const std::uint8_t* end,
                  std::uint64_t payloadSize, std::int64_t localSize, DecodeMode mode,
                  RecordView& view, IOverflowClaims* claims, ILongValueSpill* spill,
                  std::uint64_t* recordSize) {
  *recordSize = 0;
  const Geometry& g = source.geometry();
  const std::int64_t avail = end - p;
  const std::int64_t localAvail = std::min(localSize, avail);
  const bool overflows = payloadSize > static_cast<std::uint64_t>(localSize);
  bool hasOverflowPointer = false;
  std::uint32_t firstOverflow = 0;
  if (overflows && avail >= localSize + 4) {
    hasOverflowPointer = true;
    firstOverflow = format::ReadBigEndian32(p + localSize);
  }
  PayloadReader reader(source, p, localAvail, localSize, payloadSize, hasOverflowPointer,
                       firstOverflow, claims);

  // Record header: its size (counting itself), then one serial type per value.
  std::uint64_t headerSize = 0;
  int n = format::ReadVarint(p, p + localAvail, &headerSize);
  if (n == 0) return;
  if (headerSize <= static_cast<std::uint64_t>(n) ||
      headerSize > static_cast<std::uint64_t>(localAvail))
    return;  // no values
  const std::uint8_t* types = p + n;
  const std::uint8_t* const typesEnd = p + headerSize;
  reader.Skip(static_cast<std::int64_t>(headerSize));
  std::uint64_t total = headerSize;
  bool headerRead = false;

  // A failed allocation ends the record; the values decoded so far stay.
  try {
    while (types < typesEnd) {
      std::uint64_t serialType = 0;
      n = format::ReadVarint(types, typesEnd, &serialType);
      if (n == 0) break;
      types += n;
      const std::uint64_t size = format::SerialTypeSize(serialType);
      total += size;
      if (types == typesEnd) headerRead = true;
      // A header that announces more than the payload holds ends the record.
      if (size > reader.Remaining()) break;

      ValueView v;
      v.serialType = static_cast<std::int64_t>(serialType);
      if (serialType == 0 || serialType == 10 || serialType == 11) {
        v.storage = StorageClass::Null;
      } else if (serialType == 8 || serialType == 9) {
        v.storage = StorageClass::Integer;
        v.intValue = serialType == 9 ? 1 : 0;
      } else if (serialType <= 6) {
        v.storage = StorageClass::Integer;
        std::uint8_t buf[8];
        if (!reader.ReadFixed(buf, static_cast<std::int64_t>(size))) break;  // never partial
        v.intValue = SignExtend(buf, static_cast<int>(size));
      } else if (serialType == 7) {
        v.storage = StorageClass::Real;
        std::uint8_t buf[8];
        if (!reader.ReadFixed(buf, 8)) break;
        const std::uint64_t bits = static_cast<std::uint64_t>(SignExtend(buf, 8));
        std::memcpy(&v.realValue, &bits, sizeof bits);
      } else {
        const bool isText = (serialType & 1u) != 0;
        v.storage = isText ? StorageClass::Text : StorageClass::Blob;
        const std::int64_t length = static_cast<std::int64_t>(size);
        v.length = length;
        v.offset = static_cast<std::int64_t>(view.bytes.size());
        std::int64_t got = 0;
        auto append = [&](const std::uint8_t* d, std::int64_t k) { Append(view, d, k); };
        const bool longValue = length > g.pageSize;
        if (!longValue || mode == DecodeMode::Schema) {
          // Held in memory: a page at most, or a schema text (bounded by the
          // chain that actually exists, never by the announced length).
          got = reader.Read(length, append);
          v.held = got;
        } else if (mode == DecodeMode::Save) {
          const QString path = spill != nullptr ? spill->Open(length) : QString();
          if (!path.isEmpty()) {
            bool writeFailed = false;
            got = reader.Read(length, [&](const std::uint8_t* d, std::int64_t k) {
              if (!spill->Write(d, k)) writeFailed = true;
            });
            spill->Close();
            v.tempFile = static_cast<int>(view.tempFiles.size());
            view.tempFiles.push_back(path);
            if (writeFailed) v.complete = false;
          } else {
            // No place for it: the value is held in memory rather than lost.
            got = reader.Read(length, append);
            v.held = got;
          }
        } else if (isText) {
          const std::int64_t prefix = std::min(length, kLongTextPrefixBytes);
          got = reader.Read(prefix, append);
          v.held = got;
          if (got == prefix) got += reader.Skip(length - prefix);
          v.prefixOnly = true;
        } else {
          got = reader.Skip(length);
          v.prefixOnly = true;
        }
        if (reader.FirstPageInvalid()) break;  // this value and the rest are lost
        if (got < length) v.complete = false;
      }
      const bool complete = v.complete;
      view.values.push_back(v);
      if (!complete) break;  // the payload ended inside this value
    }
  } catch (const std::bad_alloc&) {
  }
  // The rest of the header, when the values ended early: only its sizes.
  while (!headerRead && types < typesEnd) {
    std::uint64_t serialType = 0;
    n = format::ReadVarint(types, typesEnd, &serialType);
    if (n == 0) return;
    types += n;
    total += format::SerialTypeSize(serialType);
    headerRead = types == typesEnd;
  }
  if (types == typesEnd && total <= (std::uint64_t{1} << 40)) *recordSize = total;
}

}  // namespace

bool DecodeCellPayload(const PageSource& source, const CellInput& cell, DecodeMode mode,
                       RecordView& view, IOverflowClaims* claims, ILongValueSpill* spill) {
  view.Clear();
  const std::uint8_t* const page = cell.page;
  const std::uint8_t pageType = cell.pageType;
  const std::int64_t pageSize = cell.pageSize;
  const std::int64_t cellOffset = cell.offset;
  const std::int64_t space = cell.space;
  // Whether the record, as far as it was read, fits its cell.
  const auto fits = [&] { return format::RecordFitsCell(view.localPayload, space, pageSize); };
  if (page == nullptr || cellOffset < 0 || cellOffset >= pageSize) return fits();
  const Geometry& g = source.geometry();
  const std::uint8_t* const end = page + pageSize;
  const std::uint8_t* p = page + cellOffset;

  if (pageType == format::kInteriorIndex || pageType == format::kInteriorTable) {
    if (end - p < 4) return fits();
    p += 4;                                                 // left child page number
    if (pageType == format::kInteriorTable) return fits();  // holds no record
  }
  std::uint64_t payloadSize = 0;
  int n = format::ReadVarint(p, end, &payloadSize);
  if (n == 0) return fits();
  p += n;
  std::int64_t localSize = format::LocalPayloadSize(payloadSize, pageType, g.usableSize);
  view.localPayload = localSize;
  if (pageType == format::kLeafTable) {
    std::uint64_t rowid = 0;
    n = format::ReadVarint(p, end, &rowid);
    if (n == 0) return fits();
    p += n;
    view.hasRowid = true;
    view.rowid = static_cast<std::int64_t>(rowid);
  }
  // A local record whose payload size disagrees with its own record header:
  // the header decides when the record it announces is local too and fits
  // the cell's space (the payload size alone would cut the record or read
  // into the next cell). Its size is read in the decoding's own pass; only
  // such a record is decoded a second time.
  bool checkLocal = false;
  std::int64_t cellHeader = 0;
  if (space > 0 && (pageType == format::kLeafTable || pageType == format::kLeafIndex)) {
    // The cell as its payload size lays it out runs past the next cell: the
    // record header, read inside the cell's space, decides the size when the
    // cell it lays out fits that space. Nothing is guessed: otherwise the
    // payload size stands and the record ends where its bytes end.
    cellHeader = p - (page + cellOffset);
    const std::int64_t limit = std::min(pageSize, cellOffset + space);
    const std::int64_t overflow = payloadSize > static_cast<std::uint64_t>(localSize) ? 4 : 0;
    const bool pastSpace = cellHeader + localSize + overflow > space;
    if (pastSpace && p < page + limit) {
      const std::uint64_t record = RecordSizeFromHeader(
          p, page + limit, static_cast<std::uint64_t>(page + limit - p), false);
      const std::int64_t local = format::LocalPayloadSize(record, pageType, g.usableSize);
      const std::int64_t extra = record > static_cast<std::uint64_t>(local) ? 4 : 0;
      if (record > 0 && cellHeader + local + extra <= space) {
        payloadSize = record;
        localSize = local;
      }
    } else if (!pastSpace && overflow == 0 && p < page + limit) {
      checkLocal = true;
    }
  }
  view.localPayload = localSize;
  if (localSize <= 0) return fits();

  std::uint64_t record = 0;
  DecodeRecord(source, p, end, payloadSize, localSize, mode, view, claims, spill, &record);
  if (checkLocal && record != payloadSize) {
    if (record == 0) {
      // The header did not lie inside the payload the size gives: read inside
      // the cell's space.
      const std::int64_t limit = std::min(pageSize, cellOffset + space);
      record = RecordSizeFromHeader(p, page + limit, static_cast<std::uint64_t>(page + limit - p),
                                    false);
    }
    const std::int64_t local = format::LocalPayloadSize(record, pageType, g.usableSize);
    const std::int64_t extra = record > static_cast<std::uint64_t>(local) ? 4 : 0;
    if (record > 0 && record != payloadSize && extra == 0 && cellHeader + local <= space) {
      const std::int64_t rowid = view.rowid;
      const bool hasRowid = view.hasRowid;
      view.Clear();
      view.hasRowid = hasRowid;
      view.rowid = rowid;
      view.localPayload = local;
      DecodeRecord(source, p, end, record, local, mode, view, claims, spill, &record);
    }
  }
  return fits();
}

}  // namespace velmora
