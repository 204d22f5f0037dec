// Cell and record decoding: varints, the record header, values and their
// overflow chains.
#include <QFile>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/Format.h"
#include "engine/SQLiteRecovery.h"
#include "engine/Values.h"
#include "platform/Text.h"

namespace velmora {
namespace {

// The payload of one cell as one stream of bytes: first the local bytes on
// the cell's page, then the overflow chain. Reads strictly in order; pages of
// the chain are read one at a time into one buffer. The chain is bounded by
// the page count and by the walk's set of overflow pages already used: in an
// intact file every overflow page belongs to one chain, so a chain that runs
// into a used page (a loop, or a chain shared by damaged cells) ends, and one
// walk reads every page at most once as an overflow page.
class PayloadReader {
 public:
  PayloadReader(const CSQLiteRecovery& engine, const std::uint8_t* local, std::int64_t localAvail,
                std::int64_t localSize, std::uint64_t total, bool hasOverflow,
                std::uint32_t firstOverflow, PageSet* usedPages)
      : m_engine(engine),
        m_usedPages(usedPages),
        m_local(local),
        m_localAvail(localAvail),
        m_localSize(localSize),
        m_total(total),
        m_hasOverflow(hasOverflow),
        m_nextPage(firstOverflow) {}

  // Payload bytes not read yet (as the cell announces them).
  std::uint64_t Remaining() const { return m_total - m_pos; }
  // The chain or the local part ended before the payload did.
  bool Broken() const { return m_broken; }
  // The first overflow page number was unusable.
  bool FirstPageInvalid() const { return m_firstInvalid; }

  // Hands the next `n` bytes to `sink(const uint8_t*, int64)` in pieces; a
  // null-like sink (skip == true) only advances. Returns the number of bytes
  // delivered, less than `n` when the payload is broken.
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
        const std::int64_t dataPerPage = m_engine.m_nUsableSize - format::kOverflowHeaderSize;
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

 private:
  // Moves to the next page of the chain. With `headerOnly` only its next-page
  // number is read (its whole content is about to be skipped).
  bool NextPage(bool headerOnly) {
    const std::int64_t pageCount = m_engine.m_nPageCount;
    const std::int64_t pageSize = m_engine.m_nPageSize;
    const std::int64_t page = m_nextPage;
    if (!m_started) {
      m_started = true;
      if (!m_hasOverflow || page == 0 || page > pageCount) {
        m_firstInvalid = true;
        m_broken = true;
        return false;
      }
    }
    if (page == 0 || page > pageCount || m_pagesRead >= pageCount ||
        !(m_usedPages != nullptr ? m_usedPages->Insert(page) : m_visited.Insert(page))) {
      m_broken = true;
      return false;
    }
    ++m_pagesRead;
    const std::int64_t offset = (page - 1) * pageSize;
    if (offset >= m_engine.m_nFileSize) {
      m_broken = true;
      return false;
    }
    const std::int64_t usable = m_engine.m_nUsableSize;
    if (headerOnly) {
      std::uint8_t next[4];
      if (m_engine.m_file.ReadAt(offset, next, 4) < 4) {
        m_broken = true;
        return false;
      }
      m_nextPage = format::ReadBigEndian32(next);
      m_pageData = nullptr;
      m_pageLeft = usable - format::kOverflowHeaderSize;
      return true;
    }
    m_buffer.resize(static_cast<std::size_t>(usable));
    const std::int64_t got = m_engine.m_file.ReadAt(offset, m_buffer.data(), usable);
    if (got < format::kOverflowHeaderSize + 1) {
      m_broken = true;
      return false;
    }
    m_nextPage = got < usable ? 0 : format::ReadBigEndian32(m_buffer.data());
    m_pageData = m_buffer.data() + format::kOverflowHeaderSize;
    m_pageLeft = got - format::kOverflowHeaderSize;
    return true;
  }

  const CSQLiteRecovery& m_engine;
  PageSet* m_usedPages;  // the walk's; null outside a walk
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
  PageSet m_visited;  // this chain's pages, when there is no walk
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

// The bytes of a long text that its display needs: enough for
// kLongTextChars characters in any encoding (at most 4 bytes each).
constexpr std::int64_t kLongTextPrefixBytes = 4 * kLongTextChars + 4;

QString LongTextDisplay(const QByteArray& prefix, std::uint32_t encoding) {
  QString text = DecodeText(prefix, encoding);
  const qsizetype zero = text.indexOf(QChar(0));
  if (zero >= 0) text.truncate(zero);
  // Leading white space goes; the end of the prefix is not the end of the text.
  qsizetype start = 0;
  while (start < text.size() && text.at(start).isSpace()) ++start;
  text.remove(0, start);
  qsizetype keep = std::min<qsizetype>(text.size(), kLongTextChars);
  if (keep > 0 && keep < text.size() && text.at(keep - 1).isHighSurrogate()) --keep;
  text.truncate(keep);
  return text + QLatin1String(kMoreDataMark);
}

}  // namespace

bool CSQLiteRecovery::DecodeCell(std::uint8_t pageType, const std::uint8_t* page,
                                 std::int64_t pageLength, std::int64_t cellOffset,
                                 RecordValues& values, CellInfo* info) {
  CellInfo local;
  CellInfo& ci = info != nullptr ? *info : local;
  ci = CellInfo();
  if (page == nullptr || cellOffset < 0 || cellOffset >= pageLength) return true;
  const std::uint8_t* const end = page + pageLength;
  const std::uint8_t* p = page + cellOffset;

  if (pageType == format::kInteriorIndex || pageType == format::kInteriorTable) {
    if (end - p < 4) return true;
    p += 4;                                               // left child page number
    if (pageType == format::kInteriorTable) return true;  // holds no record
  }
  std::uint64_t payloadSize = 0;
  int n = format::ReadVarint(p, end, &payloadSize);
  if (n == 0) return true;
  p += n;
  const std::int64_t localSize = format::LocalPayloadSize(payloadSize, pageType, m_nUsableSize);
  ci.localPayload = localSize;
  if (pageType == format::kLeafTable) {
    std::uint64_t rowid = 0;
    n = format::ReadVarint(p, end, &rowid);
    if (n == 0) return true;
    p += n;
    ci.hasRowid = true;
    ci.rowid = static_cast<std::int64_t>(rowid);
    m_strRowId = QString::number(ci.rowid);
  }
  if (localSize <= 0) return true;

  const std::int64_t avail = end - p;
  const std::int64_t localAvail = std::min(localSize, avail);
  const bool overflows = payloadSize > static_cast<std::uint64_t>(localSize);
  bool hasOverflowPointer = false;
  std::uint32_t firstOverflow = 0;
  if (overflows && avail >= localSize + 4) {
    hasOverflowPointer = true;
    firstOverflow = format::ReadBigEndian32(p + localSize);
  }
  PayloadReader reader(*this, p, localAvail, localSize, payloadSize, hasOverflowPointer,
                       firstOverflow, m_bWalking ? &m_overflowPages : nullptr);

  // Record header: its size (counting itself), then one serial type per value.
  std::uint64_t headerSize = 0;
  n = format::ReadVarint(p, p + localAvail, &headerSize);
  if (n == 0) return true;
  if (headerSize <= static_cast<std::uint64_t>(n) ||
      headerSize > static_cast<std::uint64_t>(localAvail))
    return true;  // no values, and not offered as a schema row
  const std::uint8_t* types = p + n;
  const std::uint8_t* const typesEnd = p + headerSize;
  reader.Skip(static_cast<std::int64_t>(headerSize));

  QString rowText;
  QString lastText;
  bool autoindex = false;
  std::int64_t lastInteger = 0;
  const std::uint32_t encoding = m_nTextEncoding;
  // A save of a table binds the values themselves; nobody reads their display
  // texts, so they are not made (the schema walk always needs them).
  const bool needDisplay = !(m_bSaveMode && m_bOpened);

  // A failed allocation ends the record; the values decoded so far stay.
  try {
    while (types < typesEnd) {
      std::uint64_t serialType = 0;
      n = format::ReadVarint(types, typesEnd, &serialType);
      if (n == 0) break;
      types += n;
      const std::uint64_t size = format::SerialTypeSize(serialType);
      // A header that announces more than the payload holds ends the record.
      if (size > reader.Remaining()) break;

      ITEM item;
      item.serialType = static_cast<std::int64_t>(serialType);
      bool isText = false;
      if (serialType == 0 || serialType == 10 || serialType == 11) {
        item.storage = StorageClass::Null;
      } else if (serialType <= 6 || serialType == 8 || serialType == 9) {
        item.storage = StorageClass::Integer;
        if (serialType == 8 || serialType == 9) {
          item.intValue = serialType == 9 ? 1 : 0;
        } else {
          std::uint8_t buf[8];
          std::int64_t at = 0;
          const std::int64_t got = reader.Read(static_cast<std::int64_t>(size),
                                               [&](const std::uint8_t* d, std::int64_t k) {
                                                 std::memcpy(buf + at, d, static_cast<size_t>(k));
                                                 at += k;
                                               });
          if (got < static_cast<std::int64_t>(size)) break;  // an integer cannot be partial
          item.intValue = SignExtend(buf, static_cast<int>(size));
          lastInteger = item.intValue;
        }
      } else if (serialType == 7) {
        item.storage = StorageClass::Real;
        std::uint8_t buf[8];
        std::int64_t at = 0;
        const std::int64_t got = reader.Read(8, [&](const std::uint8_t* d, std::int64_t k) {
          std::memcpy(buf + at, d, static_cast<size_t>(k));
          at += k;
        });
        if (got < 8) break;
        const std::uint64_t bits = static_cast<std::uint64_t>(SignExtend(buf, 8));
        std::memcpy(&item.realValue, &bits, sizeof bits);
      } else {
        isText = (serialType & 1u) != 0;
        item.storage = isText ? StorageClass::Text : StorageClass::Blob;
        const std::int64_t length = static_cast<std::int64_t>(size);
        item.length = length;
        bool displaySet = false;
        std::int64_t got = 0;
        auto append = [&](const std::uint8_t* d, std::int64_t k) {
          item.bytes.append(reinterpret_cast<const char*>(d), static_cast<qsizetype>(k));
        };
        const bool longValue = length > m_nPageSize;
        if (!longValue || (isText && !m_bOpened)) {
          // Held in memory: a page at most, or a schema text (bounded by the
          // chain that actually exists, never by the announced length).
          item.bytes.reserve(static_cast<qsizetype>(std::min(length, m_nPageSize)));
          got = reader.Read(length, append);
        } else if (m_bSaveMode) {
          const QString path =
              m_pRecordSink != nullptr ? m_pRecordSink->MakeTempFilePathFor(length) : QString();
          QFile file(path);
          if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            bool writeFailed = false;
            got = reader.Read(length, [&](const std::uint8_t* d, std::int64_t k) {
              if (file.write(reinterpret_cast<const char*>(d), k) != k) writeFailed = true;
            });
            file.close();
            item.inTempFile = true;
            item.tempFilePath = path;
            if (writeFailed) item.complete = false;
          } else {
            // No temporary file: the value is held in memory rather than lost.
            got = reader.Read(length, append);
          }
        } else if (isText) {
          const std::int64_t prefix = std::min(length, kLongTextPrefixBytes);
          got = reader.Read(prefix, append);
          if (got == prefix) got += reader.Skip(length - prefix);
          item.display = LongTextDisplay(item.bytes, encoding);
          item.bytes.clear();
          displaySet = true;
        } else {
          got = reader.Skip(length);
        }
        if (reader.FirstPageInvalid()) break;  // this value and the rest are lost
        if (got < length) item.complete = false;
        if (!displaySet && needDisplay) item.display = RenderDisplay(item, encoding);
      }
      if (needDisplay && item.storage != StorageClass::Text && item.storage != StorageClass::Blob)
        item.display = RenderDisplay(item, encoding);

      if (serialType == 0 && autoindex && !m_bOpened) {
        // The schema row of an automatic index has no SQL; its text is taken
        // from the page after the index's root page, after that page's first
        // four bytes.
        autoindex = false;
        const std::int64_t root = static_cast<std::uint32_t>(lastInteger);
        std::vector<char> buf(static_cast<std::size_t>(m_nPageSize - 4));
        const std::int64_t got = m_file.ReadAt(root * m_nPageSize + 4, buf.data(), m_nPageSize - 4);
        const std::int64_t len = static_cast<std::int64_t>(
            std::find(buf.begin(), buf.begin() + std::max<std::int64_t>(got, 0), '\0') -
            buf.begin());
        QString text = AnsiToText(buf.data(), len);
        if (text.startsWith(QLatin1Char(','))) text.remove(0, 1);
        item.display = text;
      }
      if (!m_bOpened) {
        // What the schema-row recognition reads.
        if (item.display.contains(QLatin1String("sqlite_autoindex_"))) autoindex = true;
        if (isText) lastText = item.display;
        if (!rowText.isEmpty()) rowText += QLatin1Char(',');
        rowText += item.display;
      }
      const bool complete = item.complete;
      values.push_back(std::move(item));
      if (!complete) break;  // the payload ended inside this value
    }
  } catch (const std::bad_alloc&) {
  }

  if (!m_bOpened) RecognizeSchemaRow(values, rowText, lastText);
  return true;
}

}  // namespace velmora
