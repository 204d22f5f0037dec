// Record output: the sinks of a table read (output/TableReader.h) that save
// its rows into the recovered database and that show them in the grid.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/pages/RecordDecoder.h"
#include "engine/pages/TreeWalk.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/TableLayout.h"
#include "engine/session/SQLiteRecovery.h"
#include "engine/session/Sinks.h"
#include "output/TableReader.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// " Records: %d" with the grid's row count; repaints the grid when it holds
// exactly 50 rows, so that the first rows show while the table loads.
QString FormatRecordStatus(IRecordGrid* grid);

// Saves the rows of a table read into the recovered database.
//
// Every record is inserted with a prepared INSERT that is reused (one per
// number of values a record holds), every value bound straight from the
// record view with its own storage class: integers as integers, reals with
// every bit, NULL as NULL, texts byte for byte in the database's encoding,
// blobs byte for byte, long values from their temporary file, read once.
// Values over 8 MB of a rowid table without trigger or CHECK constraint are
// not held in memory: the row goes in with zeros in their place (a zeroblob
// where nothing stored after it holds bytes, else zeros of the value's own
// storage class mapped from no memory at all) and the values are written
// into it in pieces; should anything of that fail, the row is undone and
// goes in the ordinary way. The rowid is kept.
// Columns a short record lacks are left to the table's own default (NULL
// without one); a NOT NULL column without default receives the empty text.
// The caller wraps the read in a transaction.
class TableSaver : public ITableSink {
 public:
  // `db` is the recovered database, open; it must outlive the saver. The
  // records written are reported to `progress` (RecordsSaved) as they go in.
  TableSaver(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout, sqlite3* db);
  ~TableSaver() override;
  TableSaver(const TableSaver&) = delete;
  TableSaver& operator=(const TableSaver&) = delete;

  DecodeMode Decoding() const override { return DecodeMode::Save; }
  // Inserts one row (or holds it back for a multi-row INSERT); false when a
  // stop was requested or the transaction was lost.
  bool Take(const RecordView& row, RowOrigin origin) override;
  // Hands one row of the table's own tree on (for callers with their own walk).
  bool EmitRecord(const RecordView& record) { return Take(record, RowOrigin::Tree); }

  // Save mode: inserts the records held back for a multi-row INSERT (see
  // SaveRecord). The walk's caller flushes before it commits the table's
  // transaction; the counters below flush first, so they always include every
  // record handed on.
  void Flush();
  // What the caller knows of the table it just created: the statement it ran
  // and that the database holds no trigger. The multi-row INSERT is then
  // decided from these instead of a search of the recovered schema, which
  // grows with every table saved.
  void KnowSchema(const QString& createSql) {
    m_knownSql = createSql;
    m_schemaKnown = true;
  }

  std::int64_t RecordsWritten() {
    Flush();
    return m_written;
  }
  // Of RecordsWritten, the rows from pages put back into the table.
  std::int64_t RecordsWrittenPutBack() {
    Flush();
    return m_writtenPutBack;
  }
  std::int64_t RecordsRejected() {
    Flush();
    return m_rejected;
  }
  QString FirstError() {
    Flush();
    return m_firstError;
  }
  // Records that break a CHECK constraint (saved as the file holds them).
  std::int64_t RecordsBreakingChecks() {
    Flush();
    return m_checkBroken;
  }
  // Values that damage (or a failed temporary file) cut short.
  std::int64_t ValuesCut() const { return m_cut; }

  // Values of a storage class their column's declared type would convert
  // (a text that reads as a number in an INTEGER column, a number in a TEXT
  // column, an integral real in an INTEGER column) or, in a STRICT table,
  // refuse. Their records are not inserted as they come: they are held
  // back (at most kMaxHeldBack; the rest are counted in RecordsNotHeld),
  // with copies of their long values' temporary files, for
  // the caller to insert with InsertHeldBack once the table's statement
  // lets those columns take every value as it is bound.
  static constexpr std::size_t kMaxHeldBack = 100000;
  // Off until this is called: such records are inserted as they come.
  void HoldForeignValues(bool strict) {
    m_holdForeign = true;
    m_strict = strict;
  }
  std::int64_t ForeignValues() const { return m_foreignValues; }
  std::size_t RecordsHeldBack() const { return m_heldBack.size(); }
  std::int64_t RecordsNotHeld() const { return m_notHeld; }
  // The names of the columns that hold such values.
  QStringList ForeignColumns() const;
  // Inserts the records held back; returns how many went in.
  std::int64_t InsertHeldBack();
  // The library's message when it rolled back the transaction the records
  // went into (a full disk, an I/O error): none of them are kept, and the
  // walk was stopped. Empty otherwise.
  QString TransactionLostError() {
    Flush();
    return m_lostError;
  }

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
  // How a long value of a temporary file goes into its row (MarkStreams).
  enum class Stream : std::uint8_t {
    None,         // read into memory and bound
    Zeroblob,     // a blob with nothing holding bytes after it: bound as a zeroblob
    Placeholder,  // bound as zeros of its storage class from m_zeros
  };
  // A long value bound as zeros and written after the insert, in pieces.
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
  bool SaveRecord(const RecordView& record, RowOrigin origin);
  // Inserts one record with the single-row INSERT (the CHECK-failure re-step,
  // the long-value streams, the counters and the first error as ever).
  bool InsertOne(const RecordView& record, RowOrigin origin);
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
  void ReportWritten() { m_progress.RecordsSaved(m_written); }
  // After a row went in alone: the next rowid follows the one it received.
  void NoteInsertedRowid();
  // Fills m_stream: per record position, how the value goes into the row;
  // true when one is written after the insert. m_zerosWanted receives the
  // longest placeholder.
  bool MarkStreams(const RecordView& record);
  // Whether values may go into a new row as zeros and be written after the
  // insert: a rowid table that no trigger or CHECK constraint of the
  // recovered database sees the zeros of.
  bool StreamsAllowed();
  // The schema facts BatchAllowed and StreamsAllowed decide from (read once).
  void ReadSchemaFacts();
  // The record with its marked values bound as zeros, inside a savepoint;
  // then the values written into the new row. True when the row is in,
  // whole; otherwise the savepoint is rolled back, or `*lost` tells that the
  // library lost the transaction meanwhile (see TransactionLost).
  bool InsertStreaming(Insert& insert, const RecordView& record, bool* lost);
  // Writes m_streams into the row `rowid`; false at the first failure.
  bool WriteStreams(std::int64_t rowid);
  // Read-only zeros of at least `length` bytes in a mapping no page of which
  // takes memory (reads see the kernel's zero page); null when it cannot be
  // mapped.
  const char* Zeros(std::int64_t length);
  bool BindValue(sqlite3_stmt* stmt, int index, const RecordView& record, const ValueView& value,
                 int column, Stream stream);
  // After a step that failed: true when the library has rolled back the
  // transaction that was open when the first record came (the records
  // written are gone: the count returns to zero).
  bool TransactionLost();
  void NoteError(const QString& error);

  IProgress& m_progress;
  const TableLayout& m_layout;
  sqlite3* m_db;
  QString m_tempFolder;  // the folders long values' temporary files may lie in
  QString m_diskTempFolder;
  int m_textEncoding;             // SQLITE_UTF8, SQLITE_UTF16LE or SQLITE_UTF16BE
  std::vector<Insert> m_inserts;  // by value count; stmt null until prepared
  std::vector<Batch> m_batches;   // by value count; stmt null until prepared
  int m_batchAllowed = -1;        // BatchAllowed: -1 not yet known, 0 no, 1 yes
  bool m_factsRead = false;       // ReadSchemaFacts has run
  bool m_tableFound = false;      // ... the table's statement is known
  bool m_hasTrigger = false;      // ... a trigger on the table exists
  QString m_tableSql;             // ... the table's statement
  int m_streamsAllowed = -1;      // StreamsAllowed: -1 not yet known, 0 no, 1 yes
  bool m_schemaKnown = false;     // KnowSchema: m_knownSql is the table's statement
  QString m_knownSql;
  bool m_rowidsRead = false;               // NextRowidKnown has read the table
  RowidPlan m_rowids;                      // the table's rowids so far
  std::vector<RecordView> m_pending;       // records held back (copies; slots reused)
  std::vector<RowOrigin> m_pendingOrigin;  // ... where each came from
  int m_pendingCount = 0;                  // ... how many of the slots hold one
  int m_pendingSize = -1;                  // ... their value count
  std::int64_t m_pendingBytes = 0;         // ... their held bytes
  std::vector<bool> m_insertFailed;        // by value count: the INSERT could not be prepared
  std::vector<PendingStream> m_streams;    // reused from record to record
  std::vector<Stream> m_stream;            // by record position, from MarkStreams
  std::int64_t m_zerosWanted = 0;          // the longest placeholder of the record
  bool m_streaming = false;                // binding for InsertStreaming
  void* m_zeros = nullptr;                 // Zeros: the mapping ...
  std::size_t m_zerosSize = 0;             // ... and its size
  std::vector<QByteArray> m_keep;          // long values read from their files, kept until the step
  int m_transaction = -1;                  // at the first record: 1 inside a transaction, 0 not
  QString m_lostError;
  std::int64_t m_cut = 0;
  std::int64_t m_checkBroken = 0;
  bool m_holdForeign = false;
  bool m_strict = false;
  std::vector<RecordView> m_heldBack;
  std::vector<RowOrigin> m_heldBackOrigin;
  QStringList m_heldFiles;  // copies of the long values of the records held back
  // Gives a record held back copies of its temporary files.
  void KeepTempFiles(RecordView& held);
  void RemoveHeldFiles();
  std::vector<bool> m_foreignColumn;  // per column: holds a value of another class
  std::int64_t m_foreignValues = 0, m_notHeld = 0;
  // Counts the record's values of a class their column would change;
  // true when there is one.
  bool HoldsForeignValues(const RecordView& record);
  std::int64_t m_written = 0, m_writtenPutBack = 0, m_rejected = 0;
  QString m_firstError;
};

// Shows the rows of a table read in the record grid: one grid row per
// record, its values in declared column order as the display rules render
// them (a column the record lacks stays empty). Keeps the record-count text
// and the progress bar as the read goes.
class GridSink : public ITableSink {
 public:
  GridSink(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout,
           IRecordGrid& grid, IStatusText& statusText, IProgressBar& progressBar);
  DecodeMode Decoding() const override { return DecodeMode::Display; }
  bool Take(const RecordView& row, RowOrigin origin) override;
  void Walked(const WalkStep& step) override;
  std::int64_t RecordsShown() const { return m_shown; }

 private:
  CSQLiteRecovery& m_engine;
  IProgress& m_progress;
  const TableLayout& m_layout;
  IRecordGrid& m_grid;
  IStatusText& m_status;
  IProgressBar& m_bar;
  std::vector<QString> m_texts;     // one text per column, reused
  std::vector<bool> m_present;      // per column, whether the record holds it
  std::vector<CellSortKey> m_keys;  // per column, how its value sorts
  std::int64_t m_shown = 0;
};

}  // namespace velmora
