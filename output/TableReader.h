// The one reader of a recovered table's rows, and the interface of what
// receives them.
//
// A table's rows are on its own b-tree and on the pages the recovery passes
// gave it: orphan leaf pages put back into it, the pages of a table made from
// orphan trees, the pages of the lost-and-found table. ReadTable walks all of
// them, decodes each cell once, keeps the cells that are rows of the table
// (the payload fits the page, at least one value, no more values than the
// table has columns) and hands each row to a sink. Saving, the grid, the CSV
// export, the value viewer and the summary's counts are sinks of it, so they
// all hold the same rows in the same order.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "engine/pages/RecordDecoder.h"
#include "engine/pages/TreeWalk.h"
#include "engine/schema/TableLayout.h"
#include "engine/session/SQLiteRecovery.h"

namespace velmora {

// Decodes the cells a walk hands it (in the decode mode given, long values
// kept as the mode says) and passes each record that fits its cell to
// OnRecord. It is the walk's progress: every step goes on to `progress`,
// whose answer stops the walk.
class CTableReader : public ICellVisitor, public IProgress, public ILongValueFiles {
 public:
  CTableReader(CSQLiteRecovery& engine, IProgress& progress, DecodeMode mode);
  ~CTableReader() override;
  CTableReader(const CTableReader&) = delete;
  CTableReader& operator=(const CTableReader&) = delete;

  CellUse VisitCell(const CellRef& cell) override;
  bool Step(const WalkStep& step) override;
  // Empty (the value is held in memory) for values under a megabyte while
  // the record holds no more than 4 MB of them; else a file of the memory
  // folder, or of the disk folder when the memory one lacks room.
  QString PathFor(std::int64_t length) override;

 protected:
  // One decoded record. False asks the walk to stop.
  virtual bool OnRecord(const RecordView& record) = 0;
  // How the cells from now on are decoded.
  void SetMode(DecodeMode mode) { m_mode = mode; }

  CSQLiteRecovery& m_engine;
  IProgress& m_progress;
  DecodeMode m_mode;

 private:
  // Removes the files of values of a megabyte and more.
  void RemoveOwnTempFiles();

  RecordView m_view;         // reused from cell to cell
  QString m_tempFolder;      // long-value files of the memory folder
  QString m_diskTempFolder;  // ... and of the disk folder, for values too big for memory
  // Long-value files are reused from record to record (the decoder truncates
  // a file when it writes it): creating and deleting a file per value costs
  // far more than the value itself on common file systems.
  QStringList m_tempFiles;
  // Files of large values and of the disk folder, removed once their record
  // has been handed on.
  QStringList m_bigTempFiles;
  int m_nextTempFile = 0;
  std::int64_t m_heldInRecord = 0;  // long-value bytes of this record held in memory
};

// Where a row was found: on the table's own pages (its b-tree; for a table
// made from orphan trees and for the lost-and-found table, the pages that
// are theirs), or on an orphan page the orphan pass put back into the table.
enum class RowOrigin { Tree, PutBack };

// What receives the rows of one table read.
class ITableSink {
 public:
  virtual ~ITableSink() = default;
  // How the next cell is to be decoded: Save keeps every value whole (long
  // ones through temporary files), Display only what the grid shows of them.
  virtual DecodeMode Decoding() const = 0;
  // One row: record position k holds column layout.recordToColumn[k]. The
  // view and its temporary files are valid during the call only. False asks
  // the read to stop (after this row).
  virtual bool Take(const RecordView& row, RowOrigin origin) = 0;
  // A step of the walk of the table's own b-tree, for a progress display.
  virtual void Walked(const WalkStep& step) { (void)step; }
};

// What one read of a table came to.
struct TableRead {
  bool found = true;                // the table is known to the session
  bool complete = true;             // every page and cell of its own b-tree was used
  bool stopped = false;             // a stop request (or the sink) ended it
  WalkReport tree;                  // the walk of its own b-tree (empty when it has none)
  std::int64_t rows = 0;            // rows handed to the sink
  std::int64_t rowsPutBack = 0;     // ... of them from pages put back into it
  std::int64_t recordsSkipped = 0;  // records with more values than the table has columns
};

// Reads the table `layout.name` (real name) of `engine` into `sink`: its own
// b-tree, with the pages the orphan pass put back into it merged by rowid
// (a put-back page goes in before the first row of the tree whose rowid
// exceeds the page's first rowid, so rows put back into a hole of the tree
// come among the others; pages whose rowids follow the tree's last come
// after it). Only a few numbers per put-back page are held, never the rows.
// A table made from orphan trees is read from its pages; the lost-and-found
// table from the pages no table took, each record as the row (page, id,
// nfield, values...). `progress` is told of every step and polled between
// cells.
TableRead ReadTable(CSQLiteRecovery& engine, const TableLayout& layout, ITableSink& sink,
                    IProgress& progress);

// Counts the rows of a table read, by origin.
class RowCounter : public ITableSink {
 public:
  DecodeMode Decoding() const override { return DecodeMode::Display; }
  bool Take(const RecordView& row, RowOrigin origin) override;

  std::int64_t tree = 0;
  std::int64_t putBack = 0;
};

}  // namespace velmora
