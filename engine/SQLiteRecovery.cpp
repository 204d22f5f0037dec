// The recovery engine object, the damaged file's header check and the
// b-tree page walk.
#include "engine/SQLiteRecovery.h"

#include <algorithm>
#include <vector>

#include "engine/Format.h"
#include "platform/MessageBox.h"

namespace velmora {

CSQLiteRecovery::CSQLiteRecovery() = default;
CSQLiteRecovery::~CSQLiteRecovery() = default;

bool CSQLiteRecovery::ScanDatabase(const QString& path) {
  m_strSourcePath = path;
  m_bOpened = false;
  OpenAndValidate(path);
  m_bOpened = true;
  return true;
}

void CSQLiteRecovery::OpenAndValidate(const QString& path) {
  m_strFilePath = path.trimmed();
  if (!m_file.Open(m_strFilePath)) {
    m_strFilePath.clear();
    ShowMessageBox(QStringLiteral("File Not Open !"));
    return;
  }
  m_nFileSize = std::max<std::int64_t>(m_file.Size(), 0);

  // Bytes of the header that cannot be read count as 0.
  std::uint8_t header[format::kHeaderSize] = {};
  m_file.ReadAt(0, header, sizeof header);

  std::int64_t pageSize = format::ReadBigEndian16(header + format::kHeaderPageSize);
  if (pageSize == 1) pageSize = format::kMaxPageSize;  // the format's encoding of 65536
  m_nPageSize = pageSize;
  if (pageSize < format::kMinPageSize) {
    m_nPageSize = 0;
    ShowMessageBox(QStringLiteral("File Corrupted"));
    return;
  }
  // The usable part of every page excludes the reserved bytes at its end. A
  // reserved count that leaves less than the format's minimum is damage in
  // the header byte, and the whole page is taken as usable instead.
  const std::int64_t reserved = header[format::kHeaderReservedBytes];
  m_nUsableSize = pageSize - reserved >= format::kMinUsableSize ? pageSize - reserved : pageSize;
  m_nTextEncoding = format::ReadBigEndian32(header + format::kHeaderTextEncoding);
  m_nPageCount = m_nFileSize / m_nPageSize;
  if (m_nPageCount < 1) {
    ShowMessageBox(QStringLiteral("File Corrupted"));
    return;
  }

  // The schema walk hands nothing to a record sink.
  IRecordSink* const sink = m_pRecordSink;
  m_pRecordSink = nullptr;
  m_bOpened = false;
  m_visitedPages.Clear();
  m_overflowPages.Clear();
  m_bStopped = false;
  m_bWalking = true;
  WalkPageAt(1, nullptr, nullptr, nullptr, false, 0);
  m_bWalking = false;
  m_visitedPages.Clear();
  m_overflowPages.Clear();
  m_pRecordSink = sink;
  m_bOpened = true;
}

bool CSQLiteRecovery::CheckStop() {
  if (m_bStopped) return true;
  if (ProgressStop()) m_bStopped = true;
  return m_bStopped;
}

bool CSQLiteRecovery::WalkPage(std::int64_t pageNumber, IRecordGrid* grid, IStatusText* statusText,
                               IProgressBar* progressBar, bool topLevel) {
  m_visitedPages.Clear();
  m_overflowPages.Clear();
  m_bStopped = false;
  m_bWalking = true;
  const bool ok = WalkPageAt(pageNumber, grid, statusText, progressBar, topLevel, 0);
  m_bWalking = false;
  m_visitedPages.Clear();
  m_overflowPages.Clear();
  return ok;
}

bool CSQLiteRecovery::WalkPageAt(std::int64_t pageNumber, IRecordGrid* grid,
                                 IStatusText* statusText, IProgressBar* progressBar, bool topLevel,
                                 int depth) {
  if (CheckStop()) return false;
  if (CheckStop()) return false;
  bool result = true;

  const std::int64_t h = pageNumber == 1 ? format::kHeaderSize : 0;
  if (pageNumber <= 0 || pageNumber > m_nPageCount || m_nPageSize < format::kMinPageSize)
    return false;
  // One visit per page and walk: a child pointer back to a page already seen
  // (a cycle, or two parents claiming one child) counts as an unusable child.
  if (depth > format::kMaxTreeDepth || !m_visitedPages.Insert(pageNumber)) return false;

  std::vector<std::uint8_t> page(static_cast<std::size_t>(m_nPageSize));
  const std::int64_t got = m_file.ReadAt((pageNumber - 1) * m_nPageSize, page.data(), m_nPageSize);
  if (got < m_nPageSize) return false;

  const std::uint8_t type = page[h + format::kPageType];
  if (!format::IsPageType(type)) return false;
  std::int64_t count = format::ReadBigEndian16(&page[h + format::kPageCellCount]);
  if (count >= m_nPageSize) return false;

  const bool interior = format::IsInterior(type);
  const std::int64_t pointers =
      h + (interior ? format::kInteriorHeaderSize : format::kLeafHeaderSize);
  // A cell count larger than the pointer array can hold: the pointers that
  // fit are used, the page reports the loss.
  const std::int64_t fits = (m_nPageSize - pointers) / 2;
  if (count > fits) {
    count = fits;
    result = false;
  }
  auto cellOffset = [&](std::int64_t i) -> std::int64_t {
    return format::ReadBigEndian16(&page[pointers + 2 * i]);
  };

  if (interior) {
    if (grid != nullptr && progressBar != nullptr) {
      progressBar->SetRange(0, 100);
      progressBar->SetPos(0);
    }
    for (std::int64_t i = 0; i < count; ++i) {
      if (CheckStop()) return false;
      const std::int64_t offset = cellOffset(i);
      if (offset + 4 > m_nPageSize) {
        result = false;  // this child is lost; the others are still walked
      } else {
        const std::int64_t child = format::ReadBigEndian32(&page[offset]);
        if (!WalkPageAt(child, grid, statusText, progressBar, false, depth + 1)) result = false;
        if (m_bStopped) return false;
      }
      if (grid != nullptr && progressBar != nullptr) {
        progressBar->SetPos(static_cast<int>((i + 1) * 100 / count));
        progressBar->SetBarColor(0x0000FF);
      }
    }
    const std::int64_t right = format::ReadBigEndian32(&page[h + format::kPageRightChild]);
    if (!WalkPageAt(right, grid, statusText, progressBar, false, depth + 1)) result = false;
    if (CheckStop()) return false;
    if (type == format::kInteriorTable) return result;
    // An interior index page's own cells carry keys: decoded after its children.
  }

  if (CheckStop()) result = false;
  const bool pageProgress = grid != nullptr && progressBar != nullptr && topLevel;
  if (pageProgress) {
    progressBar->SetRange(0, 100);
    progressBar->SetPos(0);
  }

  // Each cell's space: from its start to the next cell start by address, the
  // last one to the end of the usable area.
  std::vector<SQLiteRowOffset> offsets;
  offsets.reserve(static_cast<std::size_t>(count));
  {
    std::vector<std::int32_t> sorted;
    sorted.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
      if (CheckStop()) result = false;
      sorted.push_back(static_cast<std::int32_t>(cellOffset(i)));
    }
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t k = 0; k < sorted.size(); ++k) {
      SQLiteRowOffset ro;
      ro.m_nOffset = sorted[k];
      const std::int64_t end = k + 1 < sorted.size() ? sorted[k + 1] : m_nUsableSize;
      ro.m_nLength = static_cast<std::int32_t>(std::max<std::int64_t>(end - sorted[k], 0));
      offsets.push_back(ro);
    }
  }

  const bool tableLeaf = type == format::kLeafTable;
  for (std::int64_t i = 0; i < count; ++i) {
    if (CheckStop()) {
      result = false;
      break;
    }
    QString recordStatus;
    if (grid != nullptr && !m_bSaveMode && m_pRecordSink != nullptr)
      recordStatus = m_pRecordSink->FormatRecordStatus(grid);

    const std::int64_t offset = cellOffset(i);
    std::int64_t space = 0;
    // Offsets are sorted: the first entry with this start is found by bisection.
    const auto it = std::lower_bound(
        offsets.begin(), offsets.end(), offset,
        [](const SQLiteRowOffset& ro, std::int64_t o) { return ro.m_nOffset < o; });
    if (it != offsets.end() && it->m_nOffset == offset) space = it->m_nLength;
    if (offset >= m_nPageSize) continue;

    m_strRowId.clear();
    if (m_pRecordSink != nullptr) m_pRecordSink->BeforeCell();
    RecordValues values;
    CellInfo info;
    DecodeCell(type, page.data(), m_nPageSize, offset, values, &info);

    if (info.localPayload > space || info.localPayload > m_nPageSize) continue;
    if (m_pRecordSink != nullptr &&
        !m_pRecordSink->EmitRecord(values, tableLeaf && info.hasRowid, info.rowid, grid, statusText,
                                   recordStatus)) {
      result = false;
      m_bStopped = true;  // the sink saw the stop request; the walk ends with it
    }
    if (pageProgress) {
      progressBar->SetPos(static_cast<int>((i + 1) * 100 / count));
      progressBar->SetBarColor(0x0000FF);
    }
  }
  return result;
}

}  // namespace velmora
