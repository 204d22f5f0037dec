#include "output/TableValues.h"

#include <fcntl.h>
#include <sqlite3.h>

#include <QFile>
#include <QStringList>
#include <algorithm>

#include "engine/core/Format.h"
#include "output/TableExtraction.h"
#include "platform/NativeFiles.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

constexpr std::int64_t kCopyPiece = 1024 * 1024;

// Reads to grid row `row` and copies out what FetchValue returns.
class ValueFinder : public ITableSink {
 public:
  ValueFinder(IProgress& progress, const TableLayout& layout, std::int64_t row, int column,
              std::int64_t headLimit, const QString& saveTo, FetchedValue& out)
      : m_progress(progress),
        m_layout(layout),
        m_row(row),
        m_column(column),
        m_headLimit(std::max<std::int64_t>(headLimit, 0)),
        m_saveTo(saveTo),
        m_out(out) {}

  // The row that is row `row` is decoded whole; the ones before it only as
  // far as counting them needs.
  DecodeMode Decoding() const override {
    return m_shown == m_row ? DecodeMode::Save : DecodeMode::Display;
  }

  bool Take(const RecordView& row, RowOrigin) override {
    if (m_shown != m_row) {
      ++m_shown;
      return !m_progress.Poll();
    }
    Copy(row);
    found = true;
    return false;  // nothing after it is needed
  }

  bool found = false;

 private:
  void Copy(const RecordView& view) {
    ValueView rowid;
    const ValueView* value = ColumnValue(m_layout, view, m_column, &rowid);
    m_out.result = FetchedValue::Result::Found;
    m_out.hasRowid = view.hasRowid;
    m_out.rowid = view.rowid;
    if (value == nullptr) {
      if (!m_saveTo.isEmpty()) m_out.saved = WriteAll(QByteArray(), QString());
      return;
    }
    m_out.storage = value->storage;
    m_out.serialType = value->serialType;
    m_out.intValue = value->intValue;
    m_out.realValue = value->realValue;
    m_out.complete = value->complete;
    if (value->storage != StorageClass::Text && value->storage != StorageClass::Blob) {
      if (!m_saveTo.isEmpty()) {
        const QByteArray text =
            value->storage == StorageClass::Null ? QByteArray() : SqliteNumberText(*value);
        m_out.saved = WriteAll(text, QString());
      }
      return;
    }
    const QString* temp = view.TempFile(*value);
    if (temp == nullptr) {
      m_out.length = value->held;
      m_out.head = view.Bytes(*value).left(static_cast<qsizetype>(m_headLimit));
      if (!m_saveTo.isEmpty()) m_out.saved = WriteAll(view.Bytes(*value), QString());
      return;
    }
    QFile in(*temp);
    if (!in.open(QIODevice::ReadOnly)) {
      m_out.complete = false;
      m_out.error =
          QStringLiteral("the value's temporary file cannot be read: ") + in.errorString();
      return;
    }
    m_out.length = in.size();
    m_out.head = in.read(static_cast<qint64>(std::min(m_headLimit, m_out.length)));
    if (!m_saveTo.isEmpty()) {
      in.seek(0);
      m_out.saved = WriteAll(QByteArray(), *temp);
    }
  }

  // Writes `bytes`, or the whole file `from` in pieces, to the file asked for.
  bool WriteAll(const QByteArray& bytes, const QString& from) {
    // Opened by its exact bytes: the name need not be UTF-8.
    QFile out;
    if (!OpenNativeFile(out, m_saveTo, O_WRONLY | O_CREAT | O_TRUNC, QIODevice::WriteOnly,
                        &m_out.error))
      return false;
    bool ok = true;
    if (from.isEmpty()) {
      ok = out.write(bytes) == bytes.size();
    } else {
      QFile in(from);
      ok = in.open(QIODevice::ReadOnly);
      while (ok && !in.atEnd()) {
        const QByteArray piece = in.read(kCopyPiece);
        if (piece.isEmpty() || out.write(piece) != piece.size()) ok = false;
      }
    }
    if (!out.flush()) ok = false;
    out.close();
    if (!ok)
      m_out.error = out.errorString().isEmpty() ? QStringLiteral("write error") : out.errorString();
    return ok;
  }

  IProgress& m_progress;
  const TableLayout& m_layout;
  const std::int64_t m_row;
  const int m_column;
  const std::int64_t m_headLimit;
  const QString m_saveTo;
  FetchedValue& m_out;
  std::int64_t m_shown = 0;
};

}  // namespace

const ValueView* ColumnValue(const TableLayout& layout, const RecordView& view, int column,
                             ValueView* scratch) {
  for (int k = 0; k < view.Size() && k < static_cast<int>(layout.recordToColumn.size()); ++k) {
    if (layout.recordToColumn[size_t(k)] != column) continue;
    const ValueView& value = view.values[size_t(k)];
    if (column == layout.rowidAlias && value.storage == StorageClass::Null && view.hasRowid) {
      *scratch = ValueView();
      scratch->storage = StorageClass::Integer;
      scratch->serialType = 6;
      scratch->intValue = view.rowid;
      return scratch;
    }
    if (value.storage == StorageClass::Integer && column < layout.ColumnCount() &&
        layout.columns[size_t(column)].affinity == ColumnAffinity::Real) {
      *scratch = value;
      scratch->storage = StorageClass::Real;
      scratch->serialType = 7;
      scratch->realValue = static_cast<double>(value.intValue);
      return scratch;
    }
    return &value;
  }
  return nullptr;
}

QByteArray SqliteNumberText(const ValueView& value) {
  if (value.storage == StorageClass::Integer) return QByteArray::number(qint64(value.intValue));
  if (value.storage != StorageClass::Real) return QByteArray();
  // The library's own conversion of a real to text.
  char buffer[64];
  sqlite3_snprintf(sizeof buffer, buffer, "%!.15g", value.realValue);
  return QByteArray(buffer);
}

QString PictureFormat(const QByteArray& head) {
  if (head.startsWith("\x89PNG\r\n\x1a\n")) return QStringLiteral("PNG");
  if (head.startsWith("\xff\xd8\xff")) return QStringLiteral("JPEG");
  if (head.startsWith("GIF87a") || head.startsWith("GIF89a")) return QStringLiteral("GIF");
  if (head.startsWith("BM") && head.size() >= 14) return QStringLiteral("BMP");
  if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
    return QStringLiteral("WebP");
  return QString();
}

FetchedValue FetchValue(CSQLiteRecovery& engine, IProgress& progress, const QString& table,
                        std::int64_t row, int column, std::int64_t headLimit,
                        const QString& saveTo) {
  FetchedValue out;
  TableLayout layout;
  if (!engine.HasTable(table) || !ReadTableLayout(engine.WorkingDb(), table, &layout)) {
    out.result = FetchedValue::Result::NoSuchTable;
    return out;
  }
  if (row < 0 || column < 0 || column >= layout.ColumnCount()) return out;
  ValueFinder finder(progress, layout, row, column, headLimit, saveTo, out);
  ReadTable(engine, layout, finder, progress);
  if (!finder.found) {
    out = FetchedValue();
    out.result = progress.Poll() ? FetchedValue::Result::Stopped : FetchedValue::Result::NoSuchRow;
  }
  return out;
}

}  // namespace velmora
