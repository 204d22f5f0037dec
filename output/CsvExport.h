// A recovered table as a CSV file (RFC 4180): a line of column names, then
// one line per row as a table read gives it (output/TableReader.h: the rows
// of its own tree and those put back into it, as the save takes them), lines ending in CR LF,
// UTF-8 throughout. Values are exact: integers and reals as SQLite prints
// them (reals with "%!.15g"), texts whole, blobs as upper-case hexadecimal,
// NULL as an empty field. A field holding a comma, a double quote, a CR or a
// LF is put between double quotes with its quotes doubled.
//
// Shared by the window's File > Export Table as CSV... and the tool's
// `export` verb.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

#include "engine/session/SQLiteRecovery.h"
#include "engine/session/Sinks.h"
#include "output/RecordOutput.h"

namespace velmora {

// `field` (UTF-8) as one CSV field: quoted when it holds a comma, a double
// quote, a CR or a LF, otherwise as it is.
QByteArray CsvField(const QByteArray& field);

// The file name a table's export gets in a folder: the table's name with
// every character a file name cannot hold ('/', control characters) as '_',
// a leading '.' as '_', then ".csv". Never empty.
QString CsvFileName(const QString& table);

// What exporting one table came to.
struct CsvOutcome {
  bool written =
      false;  // the file was written whole (it holds the rows written, also after a
              // stop); false when a write or the close failed, and the file made is removed
  bool stopped = false;   // the progress asked to stop
  std::int64_t rows = 0;  // records written
  std::int64_t valuesCut =
      0;  // values that damage cut short (written as far as they could be read)
  std::int64_t recordsSkipped = 0;  // records with more values than the table has columns
  std::int64_t rowsPutBack = 0;     // of `rows`, those from orphan pages put back into the table
  bool incomplete = false;          // pages or cells of the table could not be used
  QString error;                    // why the file could not be written; empty on success
};

// Writes each row of a table read as a CSV line to an open file, formatting
// straight from the record view (long values are streamed from their
// temporary files). Moves the progress bar as a table display does.
class CsvSink : public ITableSink {
 public:
  CsvSink(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout, QFile& out,
          IProgressBar& progressBar);

  DecodeMode Decoding() const override { return DecodeMode::Save; }
  bool Take(const RecordView& row, RowOrigin origin) override;
  void Walked(const WalkStep& step) override;

  // Writes the line of column names; false on a write error.
  bool WriteHeader();

  std::int64_t Rows() const { return m_rows; }
  std::int64_t ValuesCut() const { return m_cut; }
  bool WriteFailed() const { return m_writeFailed; }

 private:
  void WriteValue(const RecordView& record, const ValueView& value);
  void WriteLongText(const QString& path);
  void WriteLongBlob(const QString& path);
  void Write(const QByteArray& bytes);

  IProgress& m_progress;
  const TableLayout& m_layout;
  QFile& m_out;
  IProgressBar& m_bar;
  const std::uint32_t m_encoding;
  QByteArray m_line;  // the line being built, reused
  std::int64_t m_rows = 0, m_cut = 0;
  bool m_writeFailed = false;
};

// Writes the table `table` (real name) of `engine` to the file `path`. The
// file is created new; an existing file is never replaced unless
// `overwrite`, and never when it is the damaged file or one of its
// companions (-wal, -journal, -shm). `progress` stops the export; the rows
// written so far stay in the file. Any table the
// session lists is exported, the internal ones (sqlite_sequence, the
// statistics) and the lost-and-found table included.
CsvOutcome ExportTableCsv(CSQLiteRecovery& engine, IProgress& progress, const QString& table,
                          const QString& path, bool overwrite, IProgressBar& progressBar);

}  // namespace velmora
