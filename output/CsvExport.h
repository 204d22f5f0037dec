// A recovered table as a CSV file (RFC 4180): a line of column names, then
// one line per record as the table walk finds it, lines ending in CR LF,
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

#include "engine/SQLiteRecovery.h"
#include "engine/Sinks.h"
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
  bool incomplete = false;          // pages or cells of the table could not be used
  QString error;                    // why the file could not be written; empty on success
};

// Reads the cells of one table walk and writes each record as a CSV line to
// an open file, formatting straight from the record view (long values are
// streamed from their temporary files). Drives the progress bar (may be
// null) as a table display does.
class CCsvWriter : public CTableReader {
 public:
  CCsvWriter(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout, QFile& out,
             IProgressBar* progressBar = nullptr);

  bool Step(const WalkStep& step) override;

  // Writes the line of column names; false on a write error.
  bool WriteHeader();

  std::int64_t Rows() const { return m_nRows; }
  std::int64_t ValuesCut() const { return m_nCut; }
  std::int64_t RecordsSkipped() const { return m_nSkipped; }
  bool WriteFailed() const { return m_bWriteFailed; }

 protected:
  bool OnRecord(const RecordView& record, const QString& recordStatus) override;

 private:
  void WriteValue(const RecordView& record, const ValueView& value);
  void WriteLongText(const QString& path);
  void WriteLongBlob(const QString& path);
  void Write(const QByteArray& bytes);

  const TableLayout& m_layout;
  QFile& m_out;
  IProgressBar* const m_pBar;
  const std::uint32_t m_nEncoding;
  QByteArray m_line;  // the line being built, reused
  std::int64_t m_nRows = 0, m_nCut = 0, m_nSkipped = 0;
  bool m_bWriteFailed = false;
};

// Writes the table `table` (real name) of `engine` to the file `path`. The
// file is created new; an existing file is never replaced unless
// `overwrite`, and never when it is the damaged file or one of its
// companions (-wal, -journal, -shm). `progress` stops the export; the rows
// written so far stay in the file.
CsvOutcome ExportTableCsv(CSQLiteRecovery& engine, IProgress& progress, const QString& table,
                          const QString& path, bool overwrite,
                          IProgressBar* progressBar = nullptr);

}  // namespace velmora
