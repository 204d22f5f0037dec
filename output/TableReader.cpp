#include "output/TableReader.h"

#include <QFile>
#include <algorithm>
#include <climits>
#include <exception>
#include <vector>

#include "engine/core/Format.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

// Long values of this size and more get a temporary file of their own, which
// goes as soon as the record has been handed on; smaller ones reuse a few
// files from record to record.
constexpr std::int64_t kOwnFileLength = 1024 * 1024;
// Smaller long values are held in the record view while a record holds no
// more than this in all: a temporary file per value costs system calls (and
// file system work) worth far more than the bytes.
constexpr std::int64_t kHeldPerRecord = 4 * 1024 * 1024;

// The rowid of a table leaf cell (after its payload-size varint), read
// without decoding the record; false when the cell is not a table leaf cell
// or its varints do not end on the page.
bool CellRowid(const CellRef& cell, std::int64_t* rowid) {
  if (cell.pageType != format::kLeafTable || cell.page == nullptr || cell.offset < 0 ||
      cell.offset >= cell.pageSize)
    return false;
  const std::uint8_t* limit = cell.page + cell.pageSize;
  const std::uint8_t* p = cell.page + cell.offset;
  std::uint64_t value = 0;
  const int used = format::ReadVarint(p, limit, &value);
  if (used == 0 || format::ReadVarint(p + used, limit, &value) == 0) return false;
  *rowid = static_cast<std::int64_t>(value);
  return true;
}

// A put-back page and the smallest rowid its cells carry.
struct PutBackPage {
  std::int64_t firstRowid = LLONG_MAX;  // LLONG_MAX: no readable rowid (goes last)
  std::int64_t page = 0;
};

// Reads the smallest rowid of each page walked, without decoding records.
class RowidScanner : public ICellVisitor {
 public:
  std::int64_t smallest = LLONG_MAX;
  CellUse VisitCell(const CellRef& cell) override {
    std::int64_t rowid = 0;
    if (CellRowid(cell, &rowid)) smallest = std::min(smallest, rowid);
    return CellUse::Used;
  }
};

// Polls only: the walks of put-back pages must not move a progress display
// that follows the table's own tree.
class PollOnly : public IProgress {
 public:
  explicit PollOnly(IProgress& progress) : m_progress(progress) {}
  bool Step(const WalkStep&) override { return m_progress.Poll(); }

 private:
  IProgress& m_progress;
};

class RowReader : public CTableReader {
 public:
  RowReader(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout,
            ITableSink& sink, bool lostAndFound)
      : CTableReader(engine, progress, sink.Decoding()),
        m_layout(layout),
        m_sink(sink),
        m_poll(progress),
        m_lostAndFound(lostAndFound) {}

  // Put-back pages to merge into the walk of the own tree, by first rowid.
  void SetPending(std::vector<PutBackPage> pages) {
    std::stable_sort(pages.begin(), pages.end(), [](const PutBackPage& a, const PutBackPage& b) {
      return a.firstRowid < b.firstRowid;
    });
    m_pending = std::move(pages);
    m_next = 0;
  }

  // Walks the own tree at `root`, the pending pages merged in; the rest of
  // them after it.
  WalkReport WalkTree(std::int64_t root) {
    m_origin = RowOrigin::Tree;
    m_merging = true;
    WalkReport report = m_engine.WalkPage(root, *this, *this);
    m_merging = false;
    if (!report.stopped && !m_stopped) EmitPendingBelow(LLONG_MAX, true);
    return report;
  }

  // Walks loose pages of the table as its own rows (origin Tree).
  void WalkPages(const std::vector<std::int64_t>& pages) {
    m_origin = RowOrigin::Tree;
    for (std::int64_t page : pages) {
      if (m_stopped || m_progress.Poll()) {
        m_stopped = true;
        break;
      }
      if (m_engine.WalkLoosePage(page, *this, m_poll).stopped) m_stopped = true;
    }
  }

  CellUse VisitCell(const CellRef& cell) override {
    if (m_merging && m_next < m_pending.size()) {
      std::int64_t rowid = 0;
      if (CellRowid(cell, &rowid) && !EmitPendingBelow(rowid, false)) return CellUse::Stop;
    }
    m_page = cell.pageNumber;
    SetMode(m_sink.Decoding());
    return CTableReader::VisitCell(cell);
  }

  bool Step(const WalkStep& step) override {
    if (m_origin == RowOrigin::Tree) m_sink.Walked(step);
    return CTableReader::Step(step);
  }

  bool stopped() const { return m_stopped; }
  std::int64_t rows = 0, rowsPutBack = 0, skipped = 0;

 protected:
  bool OnRecord(const RecordView& record) override {
    if (record.values.empty()) return true;
    const RecordView* row = &record;
    if (m_lostAndFound) {
      // The page the cell is on, the cell's rowid and its field count, then
      // its values as they are. No rowid of its own: the cell's rowid is a
      // value here, and two tables' rows may share one.
      m_row.Clear();
      for (std::int64_t number : {m_page, record.rowid, std::int64_t{record.Size()}}) {
        ValueView value;
        value.storage = StorageClass::Integer;
        value.serialType = 6;
        value.intValue = number;
        m_row.values.push_back(value);
      }
      m_row.values.insert(m_row.values.end(), record.values.begin(), record.values.end());
      m_row.bytes = record.bytes;
      m_row.tempFiles = record.tempFiles;
      m_row.localPayload = record.localPayload;
      m_row.hasRowid = false;
      row = &m_row;
    }
    if (row->Size() > m_layout.ColumnCount()) {
      // Not a record of this table as the working database describes it.
      ++skipped;
      if (!m_progress.Poll()) return true;
      m_stopped = true;
      return false;
    }
    ++rows;
    if (m_origin == RowOrigin::PutBack) ++rowsPutBack;
    if (m_sink.Take(*row, m_origin)) return true;
    m_stopped = true;
    return false;
  }

 private:
  // Walks the pending pages whose first rowid is below `rowid` (all of them
  // with `all`); false when a stop came.
  bool EmitPendingBelow(std::int64_t rowid, bool all) {
    const RowOrigin origin = m_origin;
    const std::int64_t page = m_page;
    m_origin = RowOrigin::PutBack;
    m_merging = false;  // a put-back page's own cells merge nothing
    bool go = true;
    while (go && m_next < m_pending.size() && (all || m_pending[m_next].firstRowid < rowid)) {
      const std::int64_t next = m_pending[m_next++].page;
      if (m_progress.Poll() || m_engine.WalkLoosePage(next, *this, m_poll).stopped) {
        m_stopped = true;
        go = false;
      }
    }
    m_origin = origin;
    m_page = page;
    m_merging = true;
    return go;
  }

  const TableLayout& m_layout;
  ITableSink& m_sink;
  PollOnly m_poll;
  const bool m_lostAndFound;
  RowOrigin m_origin = RowOrigin::Tree;
  bool m_merging = false;
  bool m_stopped = false;
  std::vector<PutBackPage> m_pending;
  std::size_t m_next = 0;
  std::int64_t m_page = 0;
  RecordView m_row;
};

}  // namespace

CTableReader::CTableReader(CSQLiteRecovery& engine, IProgress& progress, DecodeMode mode)
    : m_engine(engine), m_progress(progress), m_mode(mode) {
  if (m_mode == DecodeMode::Save) EmptyTempFolder();  // whatever an earlier walk left
  m_tempFolder = GetTempFolderPath();
  m_diskTempFolder = GetDiskTempFolderPath();
}

CTableReader::~CTableReader() {
  for (const QString& path : m_tempFiles) QFile::remove(path);
  RemoveOwnTempFiles();
}

void CTableReader::RemoveOwnTempFiles() {
  if (m_bigTempFiles.isEmpty()) return;
  for (const QString& path : m_bigTempFiles) QFile::remove(path);
  m_bigTempFiles.clear();
}

QString CTableReader::PathFor(std::int64_t length) {
  if (length < kOwnFileLength && m_heldInRecord + length <= kHeldPerRecord) {
    m_heldInRecord += length;
    return QString();  // held in memory
  }
  const QString folder = GetTempFolderPathFor(length);
  if (!folder.isEmpty() &&
      (length >= kOwnFileLength || (folder != m_tempFolder && folder == m_diskTempFolder))) {
    // A large value, or one too big for the memory folder: a file of its own,
    // removed once the record has been handed on (a value of hundreds of
    // megabytes must not stay in a memory file system until the table ends).
    const QString path = folder + MakeGuidName();
    m_bigTempFiles << path;
    return path;
  }
  if (m_nextTempFile < m_tempFiles.size()) return m_tempFiles.at(m_nextTempFile++);
  if (m_tempFolder.isEmpty()) return QString();
  const QString path = m_tempFolder + MakeGuidName();
  m_tempFiles << path;
  ++m_nextTempFile;
  return path;
}

bool CTableReader::Step(const WalkStep& step) {
  // Told of every step: before each cell and again after it, so a stop is
  // seen between any two records.
  return m_progress.Step(step);
}

CellUse CTableReader::VisitCell(const CellRef& cell) {
  // The previous record has been handed on: its files may be written again.
  m_nextTempFile = 0;
  m_heldInRecord = 0;
  CellUse use = CellUse::Skipped;
  if (m_engine.DecodeCell(cell, m_mode, this, m_view))
    use = OnRecord(m_view) ? CellUse::Used : CellUse::Stop;
  // The files of the large values of this record go now, not at the next one.
  RemoveOwnTempFiles();
  return use;
}

bool RowCounter::Take(const RecordView&, RowOrigin origin) {
  ++(origin == RowOrigin::PutBack ? putBack : tree);
  return true;
}

TableRead ReadTable(CSQLiteRecovery& engine, const TableLayout& layout, ITableSink& sink,
                    IProgress& progress) {
  TableRead read;
  const SchemaObject* object = engine.Catalog().FindTable(layout.name);
  std::int64_t root = object != nullptr ? object->rootPage : 0;
  // The internal tables (sqlite_sequence, the statistics) are kept out of
  // the catalog; their schema rows give their roots.
  if (root <= 0) root = engine.InternalTableRoot(layout.name);
  const bool lostAndFound = object != nullptr && object->origin == SchemaOrigin::LostAndFound;
  const bool recoveredTree = object != nullptr && object->origin == SchemaOrigin::RecoveredTree;
  if (object == nullptr && root <= 0) {
    read.found = false;
    read.complete = false;
    return read;
  }
  RowReader reader(engine, progress, layout, sink, lostAndFound);
  try {
    if (lostAndFound) {
      reader.WalkPages(engine.Orphans().lostPages);
    } else if (recoveredTree) {
      if (const PutBackPages* pages = engine.PutBack(layout.name)) reader.WalkPages(pages->pages);
    } else if (root > 0) {
      std::vector<PutBackPage> pending;
      if (const PutBackPages* extra = engine.PutBack(layout.name)) {
        RowidScanner scan;
        PollOnly poll(progress);
        for (std::int64_t page : extra->pages) {
          scan.smallest = LLONG_MAX;
          engine.WalkLoosePage(page, scan, poll);
          pending.push_back({scan.smallest, page});
        }
      }
      reader.SetPending(std::move(pending));
      read.tree = reader.WalkTree(root);
      read.complete = read.tree.complete;
    } else {
      read.complete = false;
    }
  } catch (const std::exception&) {
    read.complete = false;
  }
  read.stopped = reader.stopped() || read.tree.stopped;
  read.rows = reader.rows;
  read.rowsPutBack = reader.rowsPutBack;
  read.recordsSkipped = reader.skipped;
  return read;
}

}  // namespace velmora
