// Record output: each record that a table walk decodes goes either into the
// recovered database (save mode) or into the record grid (display mode).
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/SQLiteRecovery.h"
#include "engine/Sinks.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// How the stored records of one table map onto its declared columns, as the
// working database describes the table.
struct TableLayout {
  QString name;                          // the table's real name
  std::vector<SQLiteColumnInfo> columns;  // stored columns in declaration order
  std::vector<int> hidden;               // per column: 0 ordinary, 3 stored generated
  bool withoutRowid = false;
  // Record position k holds the value of columns[recordToColumn[k]]. A rowid
  // table stores its columns in declaration order; a WITHOUT ROWID table
  // stores its primary-key columns first, in key order, then the others.
  std::vector<int> recordToColumn;
  int rowidAlias = -1;  // the single INTEGER PRIMARY KEY column of a rowid table
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

// The record sink of one table walk.
//
// Save mode: every record is inserted with a prepared INSERT that is reused
// (one per number of values a record holds), every value bound with its own
// storage class: integers as integers, reals with every bit, NULL as NULL,
// texts byte for byte in the database's encoding, blobs byte for byte, long
// values from their temporary file. The rowid is kept. Columns a short record
// lacks are left to the table's own default (NULL without one); a NOT NULL
// column without default receives the empty text. The caller wraps the walk
// in a transaction.
//
// Display mode: every record becomes one grid row, its values in declared
// column order.
class CRecordWriter : public IRecordSink {
 public:
  // `db` is the recovered database (save mode) or null (display mode).
  CRecordWriter(CSQLiteRecovery& engine, const TableLayout& layout, sqlite3* db);
  ~CRecordWriter() override;
  CRecordWriter(const CRecordWriter&) = delete;
  CRecordWriter& operator=(const CRecordWriter&) = delete;

  QString FormatRecordStatus(IRecordGrid* grid) override;
  void BeforeCell() override;
  QString MakeTempFilePath() override;
  QString MakeTempFilePathFor(std::int64_t length) override;
  bool EmitRecord(RecordValues& values, bool hasRowid, std::int64_t rowid, IRecordGrid* grid,
                  IStatusText* statusText, const QString& recordStatus) override;

  std::int64_t RecordsWritten() const { return m_nWritten; }
  std::int64_t RecordsRejected() const { return m_nRejected; }
  std::int64_t RecordsSkipped() const { return m_nSkipped; }  // more values than columns
  QString FirstError() const { return m_strFirstError; }
  // Values that damage (or a failed temporary file) cut short.
  std::int64_t ValuesCut() const { return m_nCut; }

 private:
  enum class Source { Value, EmptyText, Rowid };
  struct Param {
    Source source = Source::Value;
    int recordPos = -1;  // Source::Value
    int column = -1;     // index into the layout's columns
  };
  struct Insert {
    sqlite3_stmt* stmt = nullptr;
    std::vector<Param> params;
  };
  // A long blob bound as zeros and written after the insert, in pieces.
  struct PendingStream {
    int column = -1;
    QString path;
    std::int64_t length = 0;
  };

  Insert* InsertFor(int valueCount);
  bool SaveRecord(const RecordValues& values, bool hasRowid, std::int64_t rowid);
  bool BindItem(sqlite3_stmt* stmt, int index, const ITEM& item, int column,
                std::vector<PendingStream>& streams, std::vector<QByteArray>& keep);
  bool ShowRecord(const RecordValues& values, bool hasRowid, std::int64_t rowid,
                  IRecordGrid* grid, IStatusText* statusText, const QString& recordStatus);
  void NoteError(const QString& error);

  CSQLiteRecovery& m_engine;
  const TableLayout& m_layout;
  sqlite3* m_db;
  int m_nTextEncoding;  // SQLITE_UTF8, SQLITE_UTF16LE or SQLITE_UTF16BE
  std::map<int, Insert> m_inserts;
  std::vector<PendingStream> m_streams;  // reused from record to record
  std::vector<QByteArray> m_keep;
  QString m_strTempFolder;  // long-value files are accepted only from here
  QString m_strDiskTempFolder;  // ... and from here, for values too big for memory
  QStringList m_lstBigTempFiles;  // files of the disk folder, removed at the end
  std::int64_t m_nCut = 0;
  // Long-value files are reused from record to record (the decoder truncates
  // a file when it writes it): creating and deleting a file per value costs
  // far more than the value itself on common file systems. Deleted by the
  // destructor.
  QStringList m_lstTempFiles;
  int m_nNextTempFile = 0;
  std::int64_t m_nWritten = 0, m_nRejected = 0, m_nSkipped = 0;
  QString m_strFirstError;
};

// The running count of records inserted by the save in progress (for progress
// displays).
std::int64_t CurrentSaveRecordCount();

}  // namespace velmora
