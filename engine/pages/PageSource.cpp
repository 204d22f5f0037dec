#include "engine/pages/PageSource.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/Values.h"
#include "engine/pages/Companions.h"
#include "engine/pages/GeometryDetect.h"
#include "platform/Text.h"

namespace velmora {
namespace {

// Page-size detection looks at the pages in the first bytes of the file.
constexpr std::int64_t kDetectionSample = 8 * 1024 * 1024;
// How far past the pages the files hold a companion's page numbers may reach.
constexpr std::int64_t kAbsentPerHeld = 4;
constexpr std::int64_t kAbsentAllowance = 4096;

// The path's bytes are NativePath(path): a name that is not UTF-8 is found.
bool IsFile(const QString& path) {
  struct stat st {};
  return ::stat(NativePath(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileExists(const QString& path) {
  struct stat st {};
  return ::stat(NativePath(path).constData(), &st) == 0;
}

}  // namespace

QStringList DescribeSource(const SourceReport& report) {
  QStringList lines;
  const bool fromCompanion = report.wal.pages > 0 || report.journal.pages > 0;
  if (fromCompanion)
    lines << QStringLiteral("%1 pages from the database file").arg(report.mainFilePages);
  for (const CompanionUse* companion : {&report.journal, &report.wal}) {
    if (!companion->found) continue;
    const QString name = QFileInfo(companion->path).fileName();
    const QString what = companion == &report.wal ? QStringLiteral("write-ahead log")
                                                  : QStringLiteral("rollback journal");
    if (!report.companionsAllowed) {
      lines << QStringLiteral("the %1 %2 was left out, as asked").arg(what, name);
    } else if (companion->used) {
      QString line =
          QStringLiteral("%1 pages from the %2 %3").arg(companion->pages).arg(what, name);
      if (!companion->note.isEmpty()) line += QStringLiteral(" (%1)").arg(companion->note);
      lines << line;
    } else {
      lines << QStringLiteral("the %1 %2 was not used: %3").arg(what, name, companion->note);
    }
  }
  if (fromCompanion && report.absentPages > 0)
    lines << QStringLiteral("%1 pages held by no file").arg(report.absentPages);
  if (!report.pageSizeOrigin.isEmpty()) lines << report.pageSizeOrigin;
  if (!report.reservedOrigin.isEmpty()) lines << report.reservedOrigin;
  if (!report.encodingOrigin.isEmpty()) lines << report.encodingOrigin;
  return lines;
}

PageSource::OpenResult PageSource::Open(const QString& path, bool useCompanions) {
  // A path typed or pasted may carry blanks around it; a file whose name
  // really begins or ends with a blank is taken as it is.
  m_path = FileExists(path) ? path : path.trimmed();
  m_geometry = Geometry();
  m_report = SourceReport();
  m_report.companionsAllowed = useCompanions;
  m_overlay.clear();
  m_older.clear();
  m_olderAt.clear();
  m_mainPages = 0;
  m_walFile.Close();
  m_journalFile.Close();
  std::memset(m_header, 0, sizeof m_header);
  if (!m_file.Open(m_path)) {
    m_path.clear();
    return OpenResult::NotOpen;
  }
  m_geometry.fileSize = std::max<std::int64_t>(m_file.Size(), 0);
  m_file.ReadAt(0, m_header, sizeof m_header);

  m_report.wal.path = m_path + QStringLiteral("-wal");
  m_report.journal.path = m_path + QStringLiteral("-journal");
  m_report.wal.found = IsFile(m_report.wal.path);
  m_report.journal.found = IsFile(m_report.journal.path);

  WalIndex wal;
  if (useCompanions && m_report.wal.found) {
    if (m_walFile.Open(m_report.wal.path)) {
      wal = ReadWal(m_walFile, std::max<std::int64_t>(m_walFile.Size(), 0));
    } else {
      wal.note = QStringLiteral("it cannot be read");
    }
    m_report.wal.note = wal.note;
  }

  // The page size: the log's when it is valid; else the header's, unless the
  // pages parse better at another size.
  std::int64_t headerPageSize = format::ReadBigEndian16(m_header + format::kHeaderPageSize);
  if (headerPageSize == 1) headerPageSize = format::kMaxPageSize;  // the format's encoding of 65536
  m_report.headerPageSize = headerPageSize;
  const bool headerSizeValid = headerPageSize >= format::kMinPageSize &&
                               headerPageSize <= format::kMaxPageSize &&
                               (headerPageSize & (headerPageSize - 1)) == 0;
  const std::int64_t headerReserved = m_header[format::kHeaderReservedBytes];
  std::int64_t pageSize = headerSizeValid ? headerPageSize : 0;
  std::int64_t reserved = headerReserved;
  if (wal.headerValid) {
    if (pageSize != wal.pageSize)
      m_report.pageSizeOrigin = QStringLiteral(
                                    "page size %1 taken from the write-ahead log "
                                    "(the header gives %2)")
                                    .arg(wal.pageSize)
                                    .arg(headerPageSize);
    pageSize = wal.pageSize;
  } else {
    const std::int64_t length = std::min(m_geometry.fileSize, kDetectionSample);
    std::vector<std::uint8_t> sample(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)));
    const std::int64_t got = length > 0 ? m_file.ReadAt(0, sample.data(), length) : 0;
    const PageSizeGuess guess =
        DetectPageSize(sample.data(), std::max<std::int64_t>(got, 0), headerReserved);
    const std::int64_t atHeader =
        pageSize > 0 ? CountWellFormedPages(sample.data(), std::max<std::int64_t>(got, 0), pageSize,
                                            headerReserved)
                     : 0;
    if (guess.pageSize > 0 && guess.wellFormed > atHeader) {
      if (guess.pageSize != pageSize)
        m_report.pageSizeOrigin =
            QStringLiteral("page size %1 detected from the pages (the header gives %2)")
                .arg(guess.pageSize)
                .arg(headerPageSize);
      if (guess.reserved != headerReserved)
        m_report.reservedOrigin =
            QStringLiteral("%1 reserved bytes per page detected (the header gives %2)")
                .arg(guess.reserved)
                .arg(headerReserved);
      pageSize = guess.pageSize;
      reserved = guess.reserved;
    }
  }

  // A hot journal restores the pages as they were before its transaction.
  JournalIndex journal;
  if (useCompanions && m_report.journal.found) {
    if (!m_journalFile.Open(m_report.journal.path)) {
      journal.note = QStringLiteral("it cannot be read");
    } else if (m_geometry.fileSize == 0) {
      journal.note = QStringLiteral("the database file is empty");
    } else {
      journal = ReadHotJournal(m_journalFile, std::max<std::int64_t>(m_journalFile.Size(), 0),
                               pageSize, &FileExists);
      if (journal.used && pageSize != 0 && journal.pageSize != pageSize) {
        if (wal.used) {
          journal.used = false;
          journal.note = QStringLiteral("its page size %1 differs from the write-ahead log's")
                             .arg(journal.pageSize);
        } else {
          m_report.pageSizeOrigin =
              QStringLiteral("page size %1 taken from the rollback journal (the header gives %2)")
                  .arg(journal.pageSize)
                  .arg(headerPageSize);
        }
      }
      if (journal.used && !wal.used) pageSize = journal.pageSize;
    }
    m_report.journal.note = journal.note;
  }

  if (pageSize < format::kMinPageSize) return OpenResult::Corrupted;
  m_geometry.pageSize = pageSize;
  m_mainPages = m_geometry.fileSize / pageSize;
  m_geometry.pageCount = m_mainPages;
  if (journal.used) {
    m_report.journal.used = true;
    m_geometry.pageCount = journal.originalPages;
    for (const auto& [page, offset] : journal.pages) m_overlay[page] = {&m_journalFile, offset};
  }
  if (wal.used) {
    m_report.wal.used = true;
    m_geometry.pageCount = wal.databasePages;
    for (const auto& [page, offset] : wal.pages) m_overlay[page] = {&m_walFile, offset};
  }
  for (auto it = m_overlay.begin(); it != m_overlay.end();)
    it = it->first > m_geometry.pageCount ? m_overlay.erase(it) : std::next(it);
  // The size a commit frame or a journal header records is only a claim, and
  // so is the page number of a frame: every later pass visits and keeps a
  // little state for each page up to the count. The count is cut to the last
  // page some file holds, and a page held far beyond the others (more absent
  // pages below it than kAbsentPerHeld per page held, plus kAbsentAllowance)
  // is left out, so that the work stays in proportion to the pages held.
  std::vector<std::int64_t> beyond;
  for (const auto& entry : m_overlay)
    if (entry.first > m_mainPages) beyond.push_back(entry.first);
  std::sort(beyond.begin(), beyond.end());
  std::int64_t lastHeld = m_mainPages;
  std::int64_t held = m_mainPages;
  for (const std::int64_t page : beyond) {
    ++held;
    if (page <= kAbsentPerHeld * held + kAbsentAllowance) lastHeld = page;
  }
  if (m_geometry.pageCount > lastHeld) {
    for (auto it = m_overlay.begin(); it != m_overlay.end();)
      it = it->first > lastHeld ? m_overlay.erase(it) : std::next(it);
    CompanionUse& claimant = wal.used ? m_report.wal : m_report.journal;
    const QString cut = QStringLiteral(
                            "it gives the database %1 pages; the %2 past page %3, "
                            "which the files hold almost none of, were left out")
                            .arg(m_geometry.pageCount)
                            .arg(m_geometry.pageCount - lastHeld)
                            .arg(lastHeld);
    claimant.note = claimant.note.isEmpty() ? cut : claimant.note + QStringLiteral("; ") + cut;
    m_geometry.pageCount = lastHeld;
  }

  // The images a reader no longer sees: the file's own image of each page a
  // companion replaced, and the log's frames other than the one it reads.
  for (std::int64_t page = 1; page <= std::min(m_mainPages, m_geometry.pageCount); ++page)
    if (Locate(page).file != &m_file) {
      m_older.push_back({page, Origin::File, 0});
      m_olderAt.push_back({&m_file, (page - 1) * pageSize});
    }
  if (wal.used) {
    std::int64_t number = 0;
    for (const auto& [page, offset] : wal.frames) {
      ++number;
      const Overlay now = Locate(page);
      if (page > m_geometry.pageCount || (now.file == &m_walFile && now.offset == offset)) continue;
      m_older.push_back({page, Origin::Wal, number});
      m_olderAt.push_back({&m_walFile, offset});
    }
  }

  // Page 1 as read gives the header fields from here on.
  if (const Overlay one = Locate(1); one.file != nullptr && one.file != &m_file) {
    std::uint8_t header[format::kHeaderSize] = {};
    if (one.file->ReadAt(one.offset, header, sizeof header) == format::kHeaderSize) {
      std::memcpy(m_header, header, sizeof header);
      if (m_report.reservedOrigin.isEmpty()) reserved = m_header[format::kHeaderReservedBytes];
    }
  }
  // The usable part of every page excludes the reserved bytes at its end. A
  // reserved count that leaves less than the format's minimum is damage in
  // the header byte, and the whole page is taken as usable instead.
  m_geometry.reserved = pageSize - reserved >= format::kMinUsableSize ? reserved : 0;
  m_geometry.usableSize = pageSize - m_geometry.reserved;

  for (std::int64_t page = 1; page <= m_geometry.pageCount; ++page) {
    const Overlay where = Locate(page);
    if (where.file == &m_walFile)
      ++m_report.wal.pages;
    else if (where.file == &m_journalFile)
      ++m_report.journal.pages;
    else if (where.file == &m_file)
      ++m_report.mainFilePages;
    else
      ++m_report.absentPages;
  }

  const std::uint32_t encoding = format::ReadBigEndian32(m_header + format::kHeaderTextEncoding);
  m_geometry.textEncoding = encoding;
  if (encoding < format::kEncodingUtf8 || encoding > format::kEncodingUtf16be) {
    const PageReader read = [this](std::int64_t number, std::vector<std::uint8_t>& out) {
      out.assign(static_cast<std::size_t>(m_geometry.pageSize), 0);
      return ReadPage(number, out.data()) == PageRead::Ok;
    };
    const std::uint32_t detected = DetectTextEncoding(read, pageSize, m_geometry.usableSize);
    if (detected != 0) {
      m_geometry.textEncoding = detected;
      m_report.encodingOrigin =
          QStringLiteral("text encoding %1 detected from the schema (the header gives %2)")
              .arg(EncodingText(detected))
              .arg(encoding);
    }
  }
  return m_geometry.pageCount >= 1 ? OpenResult::Opened : OpenResult::Corrupted;
}

HeaderSettings PageSource::ReadHeaderSettings() const {
  static constexpr char kMagic[] = "SQLite format 3";  // with its terminating zero: 16 bytes
  HeaderSettings settings;
  settings.pageSize = m_geometry.pageSize;
  const bool magic = std::memcmp(m_header, kMagic, sizeof kMagic) == 0;
  settings.hasUserVersion = settings.hasApplicationId = magic;
  settings.userVersion =
      static_cast<std::int32_t>(format::ReadBigEndian32(m_header + format::kHeaderUserVersion));
  settings.applicationId =
      static_cast<std::int32_t>(format::ReadBigEndian32(m_header + format::kHeaderApplicationId));
  const std::int64_t largestRoot = format::ReadBigEndian32(m_header + format::kHeaderLargestRoot);
  const std::uint32_t incremental = format::ReadBigEndian32(m_header + format::kHeaderIncremental);
  if (magic && largestRoot <= m_geometry.pageCount && incremental <= 1)
    settings.autoVacuum = largestRoot == 0 ? 0 : incremental == 1 ? 2 : 1;
  return settings;
}

PageSource::Overlay PageSource::Locate(std::int64_t number) const {
  if (!m_overlay.empty()) {
    const auto it = m_overlay.find(number);
    if (it != m_overlay.end()) return it->second;
  }
  if (number <= m_mainPages) return {&m_file, (number - 1) * m_geometry.pageSize};
  return {};
}

std::int64_t PageSource::ReadRun(std::int64_t first, std::int64_t count, std::uint8_t* out) const {
  const std::int64_t size = m_geometry.pageSize;
  if (first <= 0 || size <= 0) return 0;
  const std::int64_t last = std::min(m_geometry.pageCount, m_mainPages);
  std::int64_t n = 0;
  while (n < count && first + n <= last && (m_overlay.empty() || !m_overlay.count(first + n))) ++n;
  if (n == 0) return 0;
  const std::int64_t got = m_file.ReadAt((first - 1) * size, out, n * size);
  return got > 0 ? got / size : 0;
}

PageRead PageSource::ReadOlderImage(std::size_t index, std::uint8_t* out) const {
  const std::int64_t size = m_geometry.pageSize;
  if (index >= m_olderAt.size() || size <= 0) return PageRead::OutOfRange;
  const Overlay where = m_olderAt[index];
  const std::int64_t got = std::max<std::int64_t>(where.file->ReadAt(where.offset, out, size), 0);
  if (got == size) return PageRead::Ok;
  std::memset(out + got, 0, static_cast<std::size_t>(size - got));
  return PageRead::Short;
}

PageRead PageSource::ReadPage(std::int64_t number, std::uint8_t* out) const {
  const std::int64_t size = m_geometry.pageSize;
  if (number <= 0 || number > m_geometry.pageCount || size <= 0) return PageRead::OutOfRange;
  const Overlay where = Locate(number);
  const std::int64_t got =
      where.file != nullptr ? std::max<std::int64_t>(where.file->ReadAt(where.offset, out, size), 0)
                            : 0;
  if (got == size) return PageRead::Ok;
  std::memset(out + got, 0, static_cast<std::size_t>(size - got));
  return PageRead::Short;
}

std::int64_t PageSource::ReadPart(std::int64_t number, std::int64_t offset, std::uint8_t* out,
                                  std::int64_t count) const {
  const std::int64_t size = m_geometry.pageSize;
  if (number <= 0 || number > m_geometry.pageCount || offset < 0 || offset >= size || count <= 0)
    return 0;
  count = std::min(count, size - offset);
  const Overlay where = Locate(number);
  if (where.file == nullptr) return 0;
  return std::max<std::int64_t>(where.file->ReadAt(where.offset + offset, out, count), 0);
}

}  // namespace velmora
