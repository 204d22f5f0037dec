// Record output: each record that a table walk decodes goes either into the
// recovered database (save mode) or into the record grid (display mode).
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/RecordDecoder.h"
#include "engine/SQLiteRecovery.h"
#include "engine/Sinks.h"
#include "engine/SqliteDb.h"
#include "engine/TreeWalk.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// One column of a table, as "pragma table_xinfo" and the column metadata of
// the working database report it (all texts).
struct SQLiteColumnInfo {
  QString name;
  QString declaredType;
  QString notNull;        // "0" or "1"
  QString defaultValue;   // dflt_value as SQL text, empty when none
  QString primaryKey;     // "0" when not part of the primary key, else its 1-based key position
  QString autoIncrement;  // "0" or "1"
};

// How the stored records of one table map onto its declared columns, as the
// working database describes the table.
struct TableLayout {
  QString name;                           // the table's real name
  std::vector<SQLiteColumnInfo> columns;  // stored columns in declaration order
  std::vector<int> hidden;                // per column: 0 ordinary, 3 stored generated
  bool withoutRowid = false;
  bool primaryKeyIndexed = false;  // the primary key has an index of its own
  // Record position k holds the value of columns[recordToColumn[k]]. A rowid
  // table stores its columns in declaration order; a WITHOUT ROWID table
  // stores its primary-key columns first, in key order, then the others.
  std::vector<int> recordToColumn;
  // the single INTEGER PRIMARY KEY column of a rowid table, when it is the
  // rowid (its key has no index of its own)
  int rowidAlias = -1;
  // Name under which the cell's rowid is inserted (rowid, _rowid_ or oid, the
  // first that no column shadows); empty when the table has no rowid, when the
  // alias carries it, or when every name is taken.
  QString rowidName;

  int ColumnCount() const { return static_cast<int>(columns.size()); }
  // Fills recordToColumn, rowidAlias and rowidName from the other fields.
  void Derive();
};

// " Records: %d" with the grid's row count; repaints the grid when it holds
// exactly 50 rows, so that the first rows show while the table loads.
QString FormatRecordStatus(IRecordGrid* grid);

// Reads the cells of one table walk: decodes each cell in the mode of the
// walk (save or display), drops cells whose payload does not fit their page,
// and hands each record to OnRecord. In display mode with a grid it keeps the
// record-count text and the progress bar as the walk goes. It is the walk's
// progress: each step goes on to `progress`, whose answer stops the walk.
class CTableReader : public ICellVisitor, public IProgress, public ILongValueFiles {
 public:
  // `save` selects how long values are kept (temporary files, or only the
  // start of a long text for its display). The display targets may be null.
  CTableReader(CSQLiteRecovery& engine, IProgress& progress, bool save,
               IRecordGrid* grid = nullptr, IStatusText* statusText = nullptr,
               IProgressBar* progressBar = nullptr);
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
  // One decoded record; `recordStatus` is the record-count text to show with
  // it (display mode with a grid, else empty). False asks the walk to stop.
  virtual bool OnRecord(const RecordView& record, const QString& recordStatus) = 0;

  CSQLiteRecovery& m_engine;
  IProgress& m_progress;
  const bool m_bSave;
  IRecordGrid* const m_pGrid;
  IStatusText* const m_pStatusText;
  IProgressBar* const m_pProgressBar;

 private:
  // Removes the files of values of kOwnFileLength bytes and more.
  void RemoveOwnTempFiles();

  RecordView m_view;            // reused from cell to cell
  QString m_strTempFolder;      // long-value files of the memory folder
  QString m_strDiskTempFolder;  // ... and of the disk folder, for values too big for memory
  // Long-value files are reused from record to record (the decoder truncates
  // a file when it writes it): creating and deleting a file per value costs
  // far more than the value itself on common file systems.
  QStringList m_lstTempFiles;
  // Files of large values and of the disk folder, removed once their record
  // has been handed on.
  QStringList m_lstBigTempFiles;
  int m_nNextTempFile = 0;
  std::int64_t m_nHeldInRecord = 0;  // long-value bytes of this record held in memory

  friend class CRecordWriter;
};

// The record output of one table walk.
//
// Save mode: every record is inserted with a prepared INSERT that is reused
// (one per number of values a record holds), every value bound straight from
// the record view with its own storage class: integers as integers, reals
// with every bit, NULL as NULL, texts byte for byte in the database's
// encoding, blobs byte for byte, long values from their temporary file, read
// once (blobs over 8 MB of a rowid table with nothing stored after them but
// empty values are written into the row in pieces instead). The rowid is kept. Columns a short
// record lacks are left to the table's own default (NULL without one); a NOT
// NULL column without default receives the empty text. The caller wraps the
// walk in a transaction.
//
// Display mode: every record becomes one grid row, its values in declared
// column order, as the display rules render them.
class CRecordWriter : public CTableReader {
 public:
  // `db` is the recovered database (save mode) or null (display mode).
  // The records written are reported to `progress` (RecordsSaved) as they go in.
  CRecordWriter(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout,
                sqlite3* db, IRecordGrid* grid = nullptr, IStatusText* statusText = nullptr,
                IProgressBar* progressBar = nullptr);
  ~CRecordWriter() override;

  // Hands one decoded record to the output (what a walk does for each cell);
  // false when a stop was requested.
  bool EmitRecord(const RecordView& record) { return OnRecord(record, QString()); }

  // Save mode: inserts the records held back for a multi-row INSERT (see
  // SaveRecord). The walk's caller flushes before it commits the table's
  // transaction; the counters below flush first, so they always include every
  // record handed on.
  void Flush();

  std::int64_t RecordsWritten() {
    Flush();
    return m_nWritten;
  }
  std::int64_t RecordsShown() const { return m_nShown; }
  std::int64_t RecordsRejected() {
    Flush();
    return m_nRejected;
  }
  std::int64_t RecordsSkipped() const { return m_nSkipped; }  // more values than columns
  QString FirstError() {
    Flush();
    return m_strFirstError;
  }
  // Records that break a CHECK constraint (saved as the file holds them).
  std::int64_t RecordsBreakingChecks() {
    Flush();
    return m_nCheckBroken;
  }
  // Values that damage (or a failed temporary file) cut short.
  std::int64_t ValuesCut() const { return m_nCut; }
  // The library's message when it rolled back the transaction the records
  // went into (a full disk, an I/O error): none of them are kept, and the
  // walk was stopped. Empty otherwise.
  QString TransactionLostError() {
    Flush();
    return m_strLostError;
  }

 protected:
  bool OnRecord(const RecordView& record, const QString& recordStatus) override;

 private:
  enum class Source { Value, EmptyText, Rowid };
  struct Param {
    Source source = Source::Value;
    int recordPos = -1;  // Source::Value
    int column = -1;     // index into the layout's columns
  };
  struct Insert {
    Statement stmt;
    std::vector<Param> params;
  };
  // A long blob bound as zeros and written after the insert, in pieces.
  struct PendingStream {
    int column = -1;
    QString path;
    std::int64_t length = 0;
  };

  // One multi-row INSERT per record size: `rows` copies of the single-row
  // statement's VALUES list, numbered on.
  struct Batch {
    Statement stmt;
    int rows = 0;
    bool failed = false;  // not to be used (could not be prepared, too many parameters)
  };

  Insert* InsertFor(int valueCount);
  // The multi-row INSERT for records of `valueCount` values, or null when
  // such records are inserted one by one.
  Batch* BatchFor(int valueCount, const Insert& insert);
  // Whether the table's rows may go in several per statement: a multi-row
  // INSERT that fails must have no effect, so that its records can be
  // inserted again one by one. True unless the table declares a conflict
  // clause (FAIL keeps the rows before the failing one, IGNORE and REPLACE
  // act per row) or has a trigger, or its statement cannot be read.
  bool BatchAllowed();
  // Save mode: counts the record's cut values, then either holds a copy of
  // it back for the next multi-row INSERT (a record without long values in
  // temporary files) or flushes what is held back and inserts it alone.
  bool SaveRecord(const RecordView& record);
  // Inserts one record with the single-row INSERT (the CHECK-failure re-step,
  // the long-value streams, the counters and the first error as ever).
  bool InsertOne(const RecordView& record);
  // The rowids of the rows of one multi-row INSERT as the library will give
  // them. A row inserted without a rowid receives one more than the table's
  // largest rowid, 1 in an empty table (`empty`; `largest` is meaningless
  // then); `last` is the last row's rowid. `known` turns false at a row whose
  // rowid cannot be foreseen.
  struct RowidPlan {
    bool empty = true;
    std::int64_t largest = 0;
    std::int64_t last = 0;
    bool known = false;
    // The rowid the next row inserted without one receives, or false when
    // the library would pick one at random (past the largest rowid).
    bool Next(std::int64_t* next) const;
    void Took(std::int64_t rowid);
  };
  // Binds the parameters of `insert` for `record` at parameters base+1 ...
  // With a plan, a record whose rowid is the plan's next is bound with a NULL
  // rowid: the library gives it that very rowid and appends the row without
  // searching the table for one of the same rowid first.
  void BindParams(sqlite3_stmt* stmt, const Insert& insert, const RecordView& record, int base,
                  bool longValues, RowidPlan* plan = nullptr);
  // Whether m_rowids knows the table's largest rowid (or that it is empty),
  // which decides the rowid the library gives a row inserted without one
  // (m_rowids.known). Read once from the table; known only for a rowid table
  // without AUTOINCREMENT (whose new rowids also follow sqlite_sequence)
  // whose rows go several to a statement (no trigger inserts meanwhile).
  bool NextRowidKnown();
  // Tells the progress how many records are written now.
  void ReportWritten() { m_progress.RecordsSaved(m_nWritten); }
  // After a row went in alone: the next rowid follows the one it received.
  void NoteInsertedRowid();
  // Fills m_stream: per record position, whether the value is a long blob
  // that is bound as a zeroblob and written into the row in pieces.
  void MarkStreams(const RecordView& record);
  bool BindValue(sqlite3_stmt* stmt, int index, const RecordView& record, const ValueView& value,
                 int column, bool stream);
  bool ShowRecord(const RecordView& record, const QString& recordStatus);
  // After a step that failed: true when the library has rolled back the
  // transaction that was open when the first record came (the records
  // written are gone: the count returns to zero).
  bool TransactionLost();
  void NoteError(const QString& error);

  const TableLayout& m_layout;
  sqlite3* m_db;
  int m_nTextEncoding;                   // SQLITE_UTF8, SQLITE_UTF16LE or SQLITE_UTF16BE
  std::vector<Insert> m_inserts;         // by value count; stmt null until prepared
  std::vector<Batch> m_batches;          // by value count; stmt null until prepared
  int m_nBatchAllowed = -1;              // BatchAllowed: -1 not yet known, 0 no, 1 yes
  bool m_bRowidsRead = false;            // NextRowidKnown has read the table
  RowidPlan m_rowids;                    // the table's rowids so far
  std::vector<RecordView> m_pending;     // records held back (copies; slots reused)
  int m_nPending = 0;                    // ... how many of the slots hold one
  int m_nPendingSize = -1;               // ... their value count
  std::int64_t m_nPendingBytes = 0;      // ... their held bytes
  std::vector<bool> m_insertFailed;      // by value count: the INSERT could not be prepared
  std::vector<PendingStream> m_streams;  // reused from record to record
  std::vector<bool> m_stream;            // by record position, from MarkStreams
  std::vector<QByteArray> m_keep;        // long values read from their files, kept until the step
  std::vector<QString> m_texts;          // display mode: one text per column, reused
  std::vector<bool> m_present;           // display mode: per column, whether the record holds it
  std::vector<CellSortKey> m_keys;       // display mode: per column, how its value sorts
  int m_nTransaction = -1;               // at the first record: 1 inside a transaction, 0 not
  QString m_strLostError;
  std::int64_t m_nCut = 0;
  std::int64_t m_nCheckBroken = 0;
  std::int64_t m_nWritten = 0, m_nShown = 0, m_nRejected = 0, m_nSkipped = 0;
  QString m_strFirstError;
};

}  // namespace velmora
