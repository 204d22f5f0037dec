#include "output/CsvExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <QStringDecoder>
#include <algorithm>
#include <functional>

#include "engine/core/Format.h"
#include "output/TableExtraction.h"
#include "output/TableValues.h"
#include "platform/NativeFiles.h"
#include "platform/Text.h"

namespace velmora {
namespace {

constexpr qint64 kPiece = 256 * 1024;

bool NeedsQuotes(const char* data, qsizetype size) {
  for (qsizetype i = 0; i < size; ++i) {
    const char c = data[i];
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
  }
  return false;
}

void AppendQuotedBody(QByteArray& out, const char* data, qsizetype size) {
  for (qsizetype i = 0; i < size; ++i) {
    if (data[i] == '"') out.append('"');
    out.append(data[i]);
  }
}

// Hands the text of `path` (in the database's `encoding`) to `piece` as UTF-8
// in pieces of about kPiece bytes; false when the file cannot be read.
bool ForEachUtf8Piece(const QString& path, std::uint32_t encoding,
                      const std::function<void(const QByteArray&)>& piece) {
  QFile in(path);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const bool utf16 = encoding == format::kEncodingUtf16le || encoding == format::kEncodingUtf16be;
  QStringDecoder decoder(encoding == format::kEncodingUtf16be ? QStringConverter::Utf16BE
                                                              : QStringConverter::Utf16LE);
  while (!in.atEnd()) {
    const QByteArray bytes = in.read(kPiece);
    if (bytes.isEmpty()) return false;
    if (utf16) {
      const QString text = decoder.decode(bytes);
      piece(text.toUtf8());
    } else {
      piece(bytes);  // UTF-8 as stored, byte for byte
    }
  }
  return true;
}

}  // namespace

QByteArray CsvField(const QByteArray& field) {
  if (!NeedsQuotes(field.constData(), field.size())) return field;
  QByteArray out;
  out.reserve(field.size() + 2);
  out.append('"');
  AppendQuotedBody(out, field.constData(), field.size());
  out.append('"');
  return out;
}

QString CsvFileName(const QString& table) {
  QString name = table;
  for (QChar& c : name)
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
      c = QLatin1Char('_');
  if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) name.prepend(QLatin1Char('_'));
  // Long names are cut so that the file name stays within common limits.
  while (name.toUtf8().size() > 200) name.chop(1);
  return name + QStringLiteral(".csv");
}

CsvSink::CsvSink(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout,
                 QFile& out, IProgressBar& progressBar)
    : m_progress(progress),
      m_layout(layout),
      m_out(out),
      m_bar(progressBar),
      m_encoding(engine.geometry().textEncoding) {}

void CsvSink::Walked(const WalkStep& step) {
  // As a table display: the children of the root page, or its cells when
  // the root is a leaf.
  if ((step.kind == WalkStep::Kind::InteriorBegin || step.kind == WalkStep::Kind::LeafBegin) &&
      step.depth == 0) {
    m_bar.SetRange(0, 100);
    m_bar.SetPos(0);
  } else if ((step.kind == WalkStep::Kind::InteriorChild ||
              step.kind == WalkStep::Kind::LeafCell) &&
             step.depth == 0) {
    m_bar.SetPos(static_cast<int>((step.index + 1) * 100 / std::max<std::int64_t>(step.count, 1)));
    m_bar.SetBarColor(0x0000FF);
  }
}

void CsvSink::Write(const QByteArray& bytes) {
  if (m_writeFailed || bytes.isEmpty()) return;
  if (m_out.write(bytes) != bytes.size()) m_writeFailed = true;
}

bool CsvSink::WriteHeader() {
  m_line.clear();
  for (int c = 0; c < m_layout.ColumnCount(); ++c) {
    if (c > 0) m_line.append(',');
    m_line.append(CsvField(m_layout.columns[size_t(c)].name.toUtf8()));
  }
  m_line.append("\r\n");
  Write(m_line);
  return !m_writeFailed;
}

bool CsvSink::Take(const RecordView& record, RowOrigin) {
  m_line.clear();
  for (int c = 0; c < m_layout.ColumnCount(); ++c) {
    if (c > 0) m_line.append(',');
    ValueView rowid;
    const ValueView* value = ColumnValue(m_layout, record, c, &rowid);
    if (value != nullptr) WriteValue(record, *value);
  }
  m_line.append("\r\n");
  Write(m_line);
  if (m_writeFailed) return false;
  ++m_rows;
  // The line has been written whole; a stop takes effect after it.
  return !m_progress.Poll();
}

void CsvSink::WriteValue(const RecordView& record, const ValueView& value) {
  if (!value.complete) ++m_cut;
  switch (value.storage) {
    case StorageClass::Null:
      return;
    case StorageClass::Integer:
    case StorageClass::Real:
      m_line.append(SqliteNumberText(value));
      return;
    case StorageClass::Text: {
      if (const QString* path = record.TempFile(value)) {
        WriteLongText(*path);
        return;
      }
      const QByteArray bytes = record.Bytes(value);
      const bool utf16 =
          m_encoding == format::kEncodingUtf16le || m_encoding == format::kEncodingUtf16be;
      if (!utf16) {
        m_line.append(CsvField(bytes));
      } else {
        QStringDecoder decoder(m_encoding == format::kEncodingUtf16be ? QStringConverter::Utf16BE
                                                                      : QStringConverter::Utf16LE);
        m_line.append(CsvField(QString(decoder.decode(bytes)).toUtf8()));
      }
      return;
    }
    case StorageClass::Blob: {
      if (const QString* path = record.TempFile(value)) {
        WriteLongBlob(*path);
        return;
      }
      m_line.append(record.Bytes(value).toHex().toUpper());
      return;
    }
  }
}

void CsvSink::WriteLongText(const QString& path) {
  // Two passes over the file: whether the text needs quotes, then the text.
  // Only one piece is held at a time.
  bool quote = false;
  if (!ForEachUtf8Piece(path, m_encoding, [&](const QByteArray& piece) {
        quote = quote || NeedsQuotes(piece.constData(), piece.size());
      })) {
    ++m_cut;
    return;
  }
  if (quote) m_line.append('"');
  ForEachUtf8Piece(path, m_encoding, [&](const QByteArray& piece) {
    if (quote)
      AppendQuotedBody(m_line, piece.constData(), piece.size());
    else
      m_line.append(piece);
    Write(m_line);
    m_line.clear();
  });
  if (quote) m_line.append('"');
}

void CsvSink::WriteLongBlob(const QString& path) {
  QFile in(path);
  if (!in.open(QIODevice::ReadOnly)) {
    ++m_cut;
    return;
  }
  while (!in.atEnd()) {
    const QByteArray piece = in.read(kPiece);
    if (piece.isEmpty()) break;
    m_line.append(piece.toHex().toUpper());
    Write(m_line);
    m_line.clear();
  }
}

CsvOutcome ExportTableCsv(CSQLiteRecovery& engine, IProgress& progress, const QString& table,
                          const QString& path, bool overwrite, IProgressBar& progressBar) {
  CsvOutcome outcome;
  const QString source = engine.FilePath();
  if (!source.isEmpty()) {
    for (const char* suffix : {"", "-wal", "-journal", "-shm"}) {
      if (SameNativeFile(path, source + QLatin1String(suffix))) {
        outcome.error = QStringLiteral("the damaged file and its companions are never written");
        return outcome;
      }
    }
  }
  TableLayout layout;
  if (!engine.HasTable(table) || !ReadTableLayout(engine.WorkingDb(), table, &layout)) {
    outcome.error = QStringLiteral("the table \"%1\" is not known").arg(table);
    return outcome;
  }
  // Opened by its exact bytes: the name need not be UTF-8.
  QFile out;
  QString reason;
  if (!OpenNativeFile(out, path, O_WRONLY | O_CREAT | (overwrite ? O_TRUNC : O_EXCL),
                      QIODevice::WriteOnly, &reason)) {
    outcome.error = NativeNameTaken(path) && !overwrite
                        ? QStringLiteral("%1 exists already").arg(path)
                        : QStringLiteral("%1 cannot be created: %2").arg(path, reason);
    return outcome;
  }
  outcome.written = true;
  bool complete = true;
  {
    CsvSink sink(engine, progress, layout, out, progressBar);
    if (sink.WriteHeader()) {
      const TableRead read = ReadTable(engine, layout, sink, progress);
      complete = read.complete;
      outcome.stopped = read.stopped && !sink.WriteFailed();
      outcome.recordsSkipped = read.recordsSkipped;
      outcome.rowsPutBack = read.rowsPutBack;
    }
    outcome.rows = sink.Rows();
    outcome.valuesCut = sink.ValuesCut();
    if (sink.WriteFailed())
      outcome.error = QStringLiteral("writing %1 failed: %2").arg(path, out.errorString());
  }
  // Every write, the last buffer and the close are checked: a full disk (or
  // the file size limit) may refuse any of them, and the rows counted are
  // then not what the file holds.
  if (!out.flush() && outcome.error.isEmpty())
    outcome.error = QStringLiteral("writing %1 failed: %2").arg(path, out.errorString());
  out.close();
  if (out.error() != QFileDevice::NoError && outcome.error.isEmpty())
    outcome.error = QStringLiteral("writing %1 failed: %2").arg(path, out.errorString());
  if (!outcome.error.isEmpty()) {
    // A file cut short is no export: it is reported as not written, and the
    // file this export created is removed (a file it was asked to replace is
    // left as it is).
    outcome.written = false;
    outcome.rows = 0;
    if (!overwrite) ::unlink(NativePath(path).constData());
    return outcome;
  }
  outcome.incomplete = !complete && !outcome.stopped;
  return outcome;
}

}  // namespace velmora
