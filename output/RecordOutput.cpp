#include "output/RecordOutput.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "engine/core/SqlQuote.h"
#include "engine/core/Values.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/StandIns.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

// Long values up to this size are read from their temporary file into one
// buffer; longer blobs of rowid tables are written into the row in pieces
// when the record allows it (see TableSaver::MarkStreams).
constexpr std::int64_t kInMemoryLimit = 8 * 1024 * 1024;
// Long values of this size and more have a temporary file of their own (see
// CTableReader::PathFor), which is not needed once the value has been read.
constexpr std::int64_t kOwnFileLength = 1024 * 1024;
constexpr std::int64_t kStreamPiece = 1024 * 1024;
// Records without long values in temporary files go into the recovered
// database several per INSERT: one statement per row costs the library a
// cursor opened, a search from the root of the table and a halt, per row.
// A record holding more than kBatchRecordBytes goes alone; the records held
// back are inserted once there are kBatchRows of them or kBatchBytes in all.
constexpr int kBatchRows = 32;
constexpr std::int64_t kBatchRecordBytes = 64 * 1024;
constexpr std::int64_t kBatchBytes = 1024 * 1024;
// SQLite refuses values longer than this anyway (its default length limit).
constexpr std::int64_t kMaxValueLength = 1000000000;

// A file that this program wrote into its temporary folder: opened without
// following a symbolic link, regular files only. -1 otherwise.
int OpenTempFile(const QString& path, std::int64_t* size) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  *size = static_cast<std::int64_t>(st.st_size);
  return fd;
}

// Reads up to `count` bytes at `offset`; the number read.
std::int64_t ReadSome(int fd, std::int64_t offset, char* out, std::int64_t count) {
  std::int64_t total = 0;
  while (total < count) {
    const ssize_t got = ::pread(fd, out + total, static_cast<size_t>(count - total),
                                static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += got;
  }
  return total;
}

}  // namespace

QString FormatRecordStatus(IRecordGrid* grid) {
  const int n = grid != nullptr ? grid->ItemCount() : 0;
  if (n == 50 && grid != nullptr) grid->Redraw();
  return QStringLiteral(" Records: %1").arg(n);
}

TableSaver::TableSaver(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout,
                       sqlite3* db)
    : m_progress(progress),
      m_layout(layout),
      m_db(db),
      m_tempFolder(GetTempFolderPath()),
      m_diskTempFolder(GetDiskTempFolderPath()) {
  switch (engine.geometry().textEncoding) {
    case 2:
      m_textEncoding = SQLITE_UTF16LE;
      break;
    case 3:
      m_textEncoding = SQLITE_UTF16BE;
      break;
    default:
      m_textEncoding = SQLITE_UTF8;
      break;
  }
  ReportWritten();
}

TableSaver::~TableSaver() {
  Flush();
  RemoveHeldFiles();
  if (m_zeros != nullptr) ::munmap(m_zeros, m_zerosSize);
}

void TableSaver::NoteError(const QString& error) {
  if (m_firstError.isEmpty()) m_firstError = error;
}

bool TableSaver::Take(const RecordView& record, RowOrigin origin) {
  if (record.values.empty()) return true;
  if (m_transaction < 0) m_transaction = sqlite3_get_autocommit(m_db) == 0 ? 1 : 0;
  SaveRecord(record, origin);
  // Nothing written since the transaction began is left: no use going on.
  if (!m_lostError.isEmpty()) return false;
  // The record has been handed on whole; a stop takes effect after it, with
  // every record held back inserted.
  if (!m_progress.Poll()) return true;
  Flush();
  return false;
}

TableSaver::Insert* TableSaver::InsertFor(int valueCount) {
  if (valueCount < 0) return nullptr;
  if (static_cast<std::size_t>(valueCount) >= m_inserts.size()) {
    m_inserts.resize(static_cast<std::size_t>(valueCount) + 1);
    m_insertFailed.resize(static_cast<std::size_t>(valueCount) + 1, false);
  }
  Insert& insert = m_inserts[static_cast<std::size_t>(valueCount)];
  if (insert.stmt != nullptr) return &insert;
  if (m_insertFailed[static_cast<std::size_t>(valueCount)]) return nullptr;
  insert.params.clear();
  QStringList names;
  std::vector<bool> present(size_t(m_layout.ColumnCount()), false);
  for (int k = 0; k < valueCount; ++k) {
    const int column = m_layout.recordToColumn[size_t(k)];
    present[size_t(column)] = true;
    if (m_layout.columns[size_t(column)].generated) continue;  // a stored generated column
    names << QuoteIdentifier(m_layout.columns[size_t(column)].name);
    insert.params.push_back({Source::Value, k, column});
  }
  for (int column = 0; column < m_layout.ColumnCount(); ++column) {
    if (present[size_t(column)] || m_layout.columns[size_t(column)].generated) continue;
    const TableColumn& info = m_layout.columns[size_t(column)];
    if (column == m_layout.rowidAlias) {
      names << QuoteIdentifier(info.name);
      insert.params.push_back({Source::Rowid, -1, column});
    } else if (info.notNull && info.defaultValue.isEmpty()) {
      // Left out it would fail the NOT NULL constraint and lose the record.
      names << QuoteIdentifier(info.name);
      insert.params.push_back({Source::EmptyText, -1, column});
    }
    // Any other column is left out: the table's own default (or NULL) fills it.
  }
  if (!m_layout.rowidName.isEmpty()) {
    names << m_layout.rowidName;
    insert.params.push_back({Source::Rowid, -1, -1});
  }
  QString sql = QStringLiteral("INSERT INTO ") + QuoteIdentifier(m_layout.name);
  if (names.isEmpty()) {
    sql += QStringLiteral(" DEFAULT VALUES");
  } else {
    QStringList marks;
    for (int i = 1; i <= names.size(); ++i) marks << QStringLiteral("?%1").arg(i);
    sql += QStringLiteral(" (") + names.join(QLatin1Char(',')) + QStringLiteral(") VALUES (") +
           marks.join(QLatin1Char(',')) + QLatin1Char(')');
  }
  const QByteArray utf8 = sql.toUtf8();
  if (sqlite3_prepare_v2(m_db, utf8.constData(), static_cast<int>(utf8.size()), insert.stmt.Out(),
                         nullptr) != SQLITE_OK) {
    NoteError(QString::fromUtf8(sqlite3_errmsg(m_db)));
    ReportSqlError(m_db);
    m_insertFailed[static_cast<std::size_t>(valueCount)] = true;
    return nullptr;
  }
  return &insert;
}

void TableSaver::ReadSchemaFacts() {
  if (m_factsRead) return;
  m_factsRead = true;
  if (m_schemaKnown) {
    m_tableFound = true;
    m_tableSql = m_knownSql;
    return;
  }
  const QByteArray name = m_layout.name.toUtf8();
  Statement stmt;
  if (sqlite3_prepare_v2(m_db,
                         "SELECT type, sql FROM sqlite_schema WHERE (type = 'table' AND name = ?1)"
                         " OR (type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE)",
                         -1, stmt.Out(), nullptr) != SQLITE_OK) {
    return;
  }
  sqlite3_bind_text(stmt, 1, name.constData(), static_cast<int>(name.size()), SQLITE_STATIC);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const char* type = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    const char* sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
    if (type == nullptr || sql == nullptr || std::strcmp(type, "table") != 0) {
      m_hasTrigger = true;  // or a row that cannot be read: counted as one
      continue;
    }
    m_tableFound = true;
    m_tableSql = QString::fromUtf8(sql);
  }
}

bool TableSaver::BatchAllowed() {
  if (m_batchAllowed >= 0) return m_batchAllowed == 1;
  ReadSchemaFacts();
  // Conservative: the word anywhere in the statement (a name, a comment)
  // keeps the rows one per statement.
  m_batchAllowed = m_tableFound && !m_hasTrigger &&
                           !m_tableSql.contains(QLatin1String("CONFLICT"), Qt::CaseInsensitive)
                       ? 1
                       : 0;
  return m_batchAllowed == 1;
}

bool TableSaver::StreamsAllowed() {
  if (m_streamsAllowed >= 0) return m_streamsAllowed == 1;
  ReadSchemaFacts();
  // A trigger or a CHECK expression would see the zeros instead of the
  // values (the word anywhere in the statement counts). Incremental blob
  // I/O needs a rowid.
  m_streamsAllowed = m_db != nullptr && !m_layout.withoutRowid && m_tableFound && !m_hasTrigger &&
                             !m_tableSql.contains(QLatin1String("CHECK"), Qt::CaseInsensitive)
                         ? 1
                         : 0;
  return m_streamsAllowed == 1;
}

TableSaver::Batch* TableSaver::BatchFor(int valueCount, const Insert& insert) {
  if (valueCount < 0 || static_cast<std::size_t>(valueCount) >= m_inserts.size()) return nullptr;
  if (static_cast<std::size_t>(valueCount) >= m_batches.size())
    m_batches.resize(static_cast<std::size_t>(valueCount) + 1);
  Batch& batch = m_batches[static_cast<std::size_t>(valueCount)];
  if (batch.stmt != nullptr) return &batch;
  if (batch.failed) return nullptr;
  batch.failed = true;
  const int params = static_cast<int>(insert.params.size());
  const int limit = sqlite3_limit(m_db, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
  const int rows = params > 0 ? std::min(kBatchRows, limit / params) : 0;
  if (rows < 2) return nullptr;
  // The single-row statement's text up to its VALUES list, then the list
  // once per row with its parameters numbered on.
  // The last ") VALUES (" is the statement's own: a quoted name may hold the
  // words, but nothing follows the list but parameters.
  const char* text = sqlite3_sql(insert.stmt);
  const std::string_view single = text != nullptr ? text : "";
  const std::size_t values = single.rfind(") VALUES (");
  if (values == std::string_view::npos) return nullptr;
  std::string sql(single.substr(0, values + std::strlen(") VALUES ")));
  for (int row = 0; row < rows; ++row) {
    sql += row == 0 ? "(" : ",(";
    for (int p = 1; p <= params; ++p) {
      if (p > 1) sql += ',';
      sql += '?';
      sql += std::to_string(row * params + p);
    }
    sql += ')';
  }
  if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), batch.stmt.Out(),
                         nullptr) != SQLITE_OK)
    return nullptr;
  batch.failed = false;
  batch.rows = rows;
  return &batch;
}

void TableSaver::Flush() {
  if (m_pendingCount == 0) return;
  const int count = m_pendingCount;
  const int size = m_pendingSize;
  m_pendingCount = 0;
  m_pendingBytes = 0;
  const Insert* insert = size >= 0 && static_cast<std::size_t>(size) < m_inserts.size()
                             ? &m_inserts[static_cast<std::size_t>(size)]
                             : nullptr;
  const Batch* batch = insert != nullptr && static_cast<std::size_t>(size) < m_batches.size()
                           ? &m_batches[static_cast<std::size_t>(size)]
                           : nullptr;
  if (batch != nullptr && batch->stmt != nullptr && batch->rows == count) {
    const int params = static_cast<int>(insert->params.size());
    NextRowidKnown();  // reads the table's largest rowid the first time
    RowidPlan plan = m_rowids;
    for (int row = 0; row < count; ++row)
      BindParams(batch->stmt, *insert, m_pending[size_t(row)], row * params, false, &plan);
    const int rc = sqlite3_step(batch->stmt);
    sqlite3_reset(batch->stmt);
    if (rc == SQLITE_DONE) {
      m_written += count;
      for (int row = 0; row < count; ++row)
        if (m_pendingOrigin[size_t(row)] == RowOrigin::PutBack) ++m_writtenPutBack;
      ReportWritten();
      if (m_rowids.known) {
        m_rowids = plan;
        if (plan.known && sqlite3_last_insert_rowid(m_db) != plan.last) {
          // Cannot happen while nothing else inserts into the table; should
          // it, no later row goes in without its rowid.
          m_rowids.known = false;
          NoteError(QStringLiteral("a row did not receive the rowid it was given"));
        }
      }
      return;
    }
    // The statement failed as a whole and changed nothing (no conflict
    // clause, no trigger: see BatchAllowed): each record is inserted alone,
    // as if it had never been held back, so that the CHECK-failure re-step,
    // the rejected count and the first error are the ones of single rows.
    if (TransactionLost()) return;
  }
  for (int row = 0; row < count && m_lostError.isEmpty(); ++row)
    InsertOne(m_pending[size_t(row)], m_pendingOrigin[size_t(row)]);
}

bool TableSaver::TransactionLost() {
  if (!m_lostError.isEmpty()) return true;
  if (m_transaction != 1 || sqlite3_get_autocommit(m_db) == 0) return false;
  m_lostError = QString::fromUtf8(sqlite3_errmsg(m_db));
  if (m_lostError.isEmpty()) m_lostError = QStringLiteral("the transaction was rolled back");
  m_written = 0;
  m_writtenPutBack = 0;
  ReportWritten();
  return true;
}

bool TableSaver::MarkStreams(const RecordView& record) {
  const int count = m_layout.ColumnCount();
  m_stream.assign(size_t(record.Size()), Stream::None);
  m_zerosWanted = 0;
  if (!StreamsAllowed()) return false;
  // A rowid table stores its columns in declaration order (record position k
  // is column k), the INTEGER PRIMARY KEY as NULL. The library builds every
  // record in memory whole, except for zeroblobs that nothing stored after
  // them holding bytes follows (NULLs, empty values and other zeroblobs hold
  // none): those become zeros in the row without ever being in memory. A
  // zeroblob with bytes after it is built in memory (a copy of its own), so
  // other long values are bound as zeros read from a mapping that takes no
  // memory: the library's record is then the only copy. Values whose stored
  // form is not known for sure count as holding bytes.
  bool bytesAfter = false, any = false;
  for (int column = std::min(count, record.Size()) - 1; column >= 0; --column) {
    if (column == m_layout.rowidAlias) continue;
    if (m_layout.columns[size_t(column)].generated) {
      bytesAfter = true;  // computed by the library
      continue;
    }
    const ValueView& value = record.values[size_t(column)];
    const bool isLong =
        (value.storage == StorageClass::Blob || value.storage == StorageClass::Text) &&
        value.tempFile >= 0 && value.length > kInMemoryLimit;
    if (isLong) {
      any = true;
      if (value.storage == StorageClass::Blob && !bytesAfter) {
        m_stream[size_t(column)] = Stream::Zeroblob;
      } else {
        m_stream[size_t(column)] = Stream::Placeholder;
        m_zerosWanted = std::max(m_zerosWanted, std::min(value.length, kMaxValueLength));
        bytesAfter = true;
      }
      continue;
    }
    const bool empty =
        value.storage == StorageClass::Null ||
        ((value.storage == StorageClass::Text || value.storage == StorageClass::Blob) &&
         value.length == 0 && value.held == 0 && value.tempFile < 0);
    bytesAfter = bytesAfter || !empty;
  }
  // Columns the record lacks come after all of its values: their default, the
  // empty text or NULL. One with bytes turns every zeroblob into a placeholder.
  bool defaultBytes = false;
  for (int column = record.Size(); column < count; ++column) {
    if (column == m_layout.rowidAlias) continue;
    const TableColumn& info = m_layout.columns[size_t(column)];
    defaultBytes = defaultBytes || info.generated ||
                   (!info.defaultValue.isEmpty() &&
                    info.defaultValue.compare(QLatin1String("NULL"), Qt::CaseInsensitive) != 0);
  }
  if (defaultBytes) {
    for (std::size_t k = 0; k < m_stream.size(); ++k) {
      if (m_stream[k] != Stream::Zeroblob) continue;
      m_stream[k] = Stream::Placeholder;
      m_zerosWanted = std::max(m_zerosWanted, std::min(record.values[k].length, kMaxValueLength));
    }
  }
  return any;
}

const char* TableSaver::Zeros(std::int64_t length) {
  if (length <= 0 || length > kMaxValueLength) return nullptr;
  if (m_zeros != nullptr && static_cast<std::size_t>(length) <= m_zerosSize)
    return static_cast<const char*>(m_zeros);
  if (m_zeros != nullptr) ::munmap(m_zeros, m_zerosSize);
  m_zeros = nullptr;
  m_zerosSize = 0;
  // Private anonymous pages that are only read all map the kernel's zero
  // page: no memory is taken however long the mapping.
  const std::size_t size = static_cast<std::size_t>(length);
  void* zeros =
      ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (zeros == MAP_FAILED) return nullptr;
  m_zeros = zeros;
  m_zerosSize = size;
  return static_cast<const char*>(m_zeros);
}

bool TableSaver::BindValue(sqlite3_stmt* stmt, int index, const RecordView& record,
                           const ValueView& value, int column, Stream stream) {
  switch (value.storage) {
    case StorageClass::Null:
      return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    case StorageClass::Integer:
      return sqlite3_bind_int64(stmt, index, value.intValue) == SQLITE_OK;
    case StorageClass::Real:
      return sqlite3_bind_double(stmt, index, value.realValue) == SQLITE_OK;
    case StorageClass::Text:
    case StorageClass::Blob:
      break;
  }
  const bool text = value.storage == StorageClass::Text;
  const char* data = reinterpret_cast<const char*>(record.Data(value));
  std::int64_t size = value.held;
  if (const QString* file = record.TempFile(value)) {
    // Only files of our own temporary folder, named as this program names them.
    const QString& path = *file;
    auto inFolder = [&path](const QString& folder) {
      return !folder.isEmpty() && path.startsWith(folder) &&
             path.indexOf(QLatin1Char('/'), folder.size()) < 0;
    };
    if (!inFolder(m_tempFolder) && !inFolder(m_diskTempFolder)) {
      NoteError(QStringLiteral("a long value was not in the temporary folder"));
      return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    }
    std::int64_t fileSize = 0;
    const int fd = OpenTempFile(path, &fileSize);
    if (fd < 0) {
      NoteError(QStringLiteral("the temporary file of a long value could not be read"));
      return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    }
    // Never more than the value announces, never more than the file holds.
    std::int64_t length = std::min(fileSize, value.length > 0 ? value.length : fileSize);
    length = std::min(length, kMaxValueLength);
    if (text && m_textEncoding != SQLITE_UTF8) length &= ~std::int64_t{1};
    if (stream == Stream::Zeroblob && !text && length > 0) {
      ::close(fd);
      m_streams.push_back({column, path, length});
      return sqlite3_bind_zeroblob64(stmt, index, static_cast<sqlite3_uint64>(length)) == SQLITE_OK;
    }
    const char* zeros = stream == Stream::Placeholder && length > 0 && length <= m_zerosWanted
                            ? Zeros(length)
                            : nullptr;
    if (zeros != nullptr) {
      ::close(fd);
      m_streams.push_back({column, path, length});
      data = zeros;
      size = length;
    } else {
      // Read once into a buffer that lives until the step: the value is held once.
      QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
      const std::int64_t got = ReadSome(fd, 0, bytes.data(), length);
      ::close(fd);
      // A file of its own is not needed any more: it goes now rather than
      // after the insert, so the value is not held in a memory file system
      // meanwhile (unless the record may yet go in the ordinary way).
      if (value.length >= kOwnFileLength && !m_streaming) QFile::remove(path);
      bytes.truncate(static_cast<qsizetype>(got));
      m_keep.push_back(std::move(bytes));
      data = m_keep.back().constData();
      size = m_keep.back().size();
    }
  }
  if (data == nullptr) data = "";
  if (text) {
    if (m_textEncoding != SQLITE_UTF8)
      size &= ~std::int64_t{1};  // a lone last byte is no character
    return sqlite3_bind_text64(stmt, index, data, static_cast<sqlite3_uint64>(size), SQLITE_STATIC,
                               static_cast<unsigned char>(m_textEncoding)) == SQLITE_OK;
  }
  return sqlite3_bind_blob64(stmt, index, data, static_cast<sqlite3_uint64>(size), SQLITE_STATIC) ==
         SQLITE_OK;
}

namespace {

// True when `text` (bytes in the database encoding) reads as a number the
// way a numeric column affinity takes one: white space, a sign, digits with
// at most one point, an exponent, white space. A text taken for a number
// wrongly only goes in by the exact route.
bool LooksNumeric(const std::uint8_t* data, std::int64_t size, int encoding) {
  const int step = encoding == SQLITE_UTF8 ? 1 : 2;
  const int low = encoding == SQLITE_UTF16BE ? 1 : 0;
  std::string text;
  for (std::int64_t i = 0; i + step <= size && text.size() < 400; i += step) {
    if (step == 2 && data[i + 1 - low] != 0) return false;
    text += static_cast<char>(data[i + low]);
  }
  if (size / step > 400) return false;
  std::size_t i = 0;
  auto space = [&] {
    while (i < text.size() && std::strchr(" \t\n\r\f", text[i]) != nullptr && text[i] != 0) ++i;
  };
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i > from;
  };
  space();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa = digits() || mantissa;
  }
  if (!mantissa) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  space();
  return i == text.size();
}

}  // namespace

bool TableSaver::HoldsForeignValues(const RecordView& record) {
  bool foreign = false;
  const int count = std::min<int>(record.Size(), int(m_layout.recordToColumn.size()));
  for (int k = 0; k < count; ++k) {
    const int column = m_layout.recordToColumn[size_t(k)];
    if (column == m_layout.rowidAlias || column < 0 || column >= m_layout.ColumnCount()) continue;
    const TableColumn& info = m_layout.columns[size_t(column)];
    if (info.generated) continue;
    const ValueView& v = record.values[size_t(k)];
    if (v.storage == StorageClass::Null) continue;
    const bool numericText =
        v.storage == StorageClass::Text && LooksNumeric(record.Data(v), v.held, m_textEncoding);
    const bool integralReal =
        v.storage == StorageClass::Real && v.realValue >= -9.2e18 && v.realValue <= 9.2e18 &&
        v.realValue == static_cast<double>(static_cast<std::int64_t>(v.realValue));
    bool changed = false;
    if (m_strict) {
      const QString type = info.declaredType.trimmed().toUpper();
      if (type == QLatin1String("ANY")) continue;
      if (type == QLatin1String("INT") || type == QLatin1String("INTEGER"))
        changed = v.storage != StorageClass::Integer;
      else if (type == QLatin1String("REAL"))
        changed = v.storage != StorageClass::Real && v.storage != StorageClass::Integer;
      else if (type == QLatin1String("TEXT"))
        changed = v.storage != StorageClass::Text;
      else if (type == QLatin1String("BLOB"))
        changed = v.storage != StorageClass::Blob;
    } else {
      switch (info.affinity) {
        case ColumnAffinity::Integer:
        case ColumnAffinity::Numeric:
          changed = numericText || integralReal;
          break;
        case ColumnAffinity::Real:
          changed = numericText;
          break;
        case ColumnAffinity::Text:
          changed = v.storage == StorageClass::Integer || v.storage == StorageClass::Real;
          break;
        case ColumnAffinity::Blob:
          break;
      }
    }
    if (!changed) continue;
    foreign = true;
    ++m_foreignValues;
    if (m_foreignColumn.size() < m_layout.columns.size())
      m_foreignColumn.resize(m_layout.columns.size(), false);
    m_foreignColumn[size_t(column)] = true;
  }
  return foreign;
}

QStringList TableSaver::ForeignColumns() const {
  QStringList names;
  for (std::size_t c = 0; c < m_foreignColumn.size(); ++c)
    if (m_foreignColumn[c]) names << m_layout.columns[c].name;
  return names;
}

std::int64_t TableSaver::InsertHeldBack() {
  Flush();
  std::int64_t inserted = 0;
  for (std::size_t i = 0; i < m_heldBack.size() && m_lostError.isEmpty(); ++i)
    if (InsertOne(m_heldBack[i], m_heldBackOrigin[i])) ++inserted;
  m_heldBack.clear();
  m_heldBackOrigin.clear();
  RemoveHeldFiles();
  return inserted;
}

void TableSaver::RemoveHeldFiles() {
  for (const QString& path : m_heldFiles) QFile::remove(path);
  m_heldFiles.clear();
}

void TableSaver::KeepTempFiles(RecordView& held) {
  // The reader writes the next record's values into the same files and
  // removes the large ones once the record is handed on: a record held back
  // gets copies of its own, in a folder with room for them.
  QByteArray piece;
  for (QString& path : held.tempFiles) {
    std::int64_t size = 0;
    const int from = OpenTempFile(path, &size);
    const QString folder = from >= 0 ? GetTempFolderPathFor(size) : QString();
    const QString copy = folder.isEmpty() ? QString() : folder + MakeGuidName();
    const int to = copy.isEmpty()
                       ? -1
                       : ::open(QFile::encodeName(copy).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool copied = to >= 0;
    if (copied) m_heldFiles << copy;
    if (copied && piece.isEmpty()) piece.resize(static_cast<qsizetype>(kStreamPiece));
    for (std::int64_t at = 0; copied && at < size; at += kStreamPiece) {
      const std::int64_t want = std::min(kStreamPiece, size - at);
      copied = ReadSome(from, at, piece.data(), want) == want &&
               ::write(to, piece.constData(), static_cast<size_t>(want)) == want;
    }
    if (to >= 0 && ::close(to) != 0) copied = false;
    if (from >= 0) ::close(from);
    if (!copied) {
      // Not bound (NULL in its place), and counted as a value cut short.
      NoteError(QStringLiteral("a long value of a record held back could not be kept"));
      ++m_cut;
    }
    path = copied ? copy : QString();
  }
}

bool TableSaver::SaveRecord(const RecordView& record, RowOrigin origin) {
  for (const ValueView& value : record.values)
    if (!value.complete) ++m_cut;
  if (m_holdForeign && HoldsForeignValues(record)) {
    if (m_heldBack.size() < kMaxHeldBack) {
      m_heldBack.push_back(record);
      m_heldBackOrigin.push_back(origin);
      KeepTempFiles(m_heldBack.back());
    } else {
      ++m_notHeld;
    }
    return true;
  }
  if (record.tempFiles.empty() &&
      static_cast<std::int64_t>(record.bytes.size()) <= kBatchRecordBytes && BatchAllowed()) {
    const Insert* insert = InsertFor(record.Size());
    const Batch* batch = insert != nullptr ? BatchFor(record.Size(), *insert) : nullptr;
    if (batch != nullptr) {
      if (m_pendingCount > 0 && m_pendingSize != record.Size()) Flush();
      if (static_cast<std::size_t>(m_pendingCount) >= m_pending.size()) {
        m_pending.emplace_back();
        m_pendingOrigin.push_back(origin);
      }
      m_pendingOrigin[size_t(m_pendingCount)] = origin;
      RecordView& slot = m_pending[size_t(m_pendingCount)];
      slot.values = record.values;  // the slots keep their capacity
      slot.bytes = record.bytes;
      slot.tempFiles.clear();
      slot.hasRowid = record.hasRowid;
      slot.rowid = record.rowid;
      slot.localPayload = record.localPayload;
      ++m_pendingCount;
      m_pendingSize = record.Size();
      m_pendingBytes += static_cast<std::int64_t>(record.bytes.size());
      if (m_pendingCount >= batch->rows || m_pendingBytes >= kBatchBytes) Flush();
      return true;
    }
  }
  // Records are inserted in the order they were handed on.
  Flush();
  return InsertOne(record, origin);
}

void TableSaver::BindParams(sqlite3_stmt* stmt, const Insert& insert, const RecordView& record,
                            int base, bool longValues, RowidPlan* plan) {
  // What the row's rowid parameter received: the record's rowid, NULL (the
  // library gives the next rowid), or a stored value of the INTEGER PRIMARY
  // KEY column (nothing to foresee).
  enum class Given { None, Rowid, Null, Value } given = Given::None;
  std::int64_t next = 0;
  const bool foreseen = plan != nullptr && plan->known && plan->Next(&next);
  auto bindRowid = [&](int index) {
    if (foreseen && record.rowid == next) {
      sqlite3_bind_null(stmt, index);
    } else {
      sqlite3_bind_int64(stmt, index, record.rowid);
    }
    given = Given::Rowid;
  };
  int index = base;
  for (const Param& param : insert.params) {
    ++index;
    switch (param.source) {
      case Source::Value: {
        const ValueView& value = record.values[size_t(param.recordPos)];
        if (param.column == m_layout.rowidAlias && value.storage == StorageClass::Null &&
            record.hasRowid) {
          // A rowid table keeps its INTEGER PRIMARY KEY as NULL: the rowid is the value.
          bindRowid(index);
        } else {
          if (param.column == m_layout.rowidAlias)
            given = value.storage == StorageClass::Null ? Given::Null : Given::Value;
          BindValue(stmt, index, record, value, param.column,
                    longValues ? m_stream[size_t(param.recordPos)] : Stream::None);
        }
        break;
      }
      case Source::EmptyText:
        sqlite3_bind_text(stmt, index, "", 0, SQLITE_STATIC);
        break;
      case Source::Rowid:
        if (record.hasRowid) {
          bindRowid(index);
        } else {
          sqlite3_bind_null(stmt, index);
          given = Given::Null;
        }
        break;
    }
  }
  if (plan == nullptr || !plan->known) return;
  // The rowid this row receives.
  if (given == Given::Rowid) {
    plan->Took(record.rowid);
  } else if (given != Given::Value && foreseen) {
    plan->Took(next);
  } else {
    plan->known = false;
  }
}

bool TableSaver::RowidPlan::Next(std::int64_t* next) const {
  if (empty) {
    *next = 1;
    return true;
  }
  if (largest == std::numeric_limits<std::int64_t>::max()) return false;
  *next = largest + 1;
  return true;
}

void TableSaver::RowidPlan::Took(std::int64_t rowid) {
  largest = empty ? rowid : std::max(largest, rowid);
  empty = false;
  last = rowid;
}

bool TableSaver::NextRowidKnown() {
  if (m_rowidsRead) return m_rowids.known;
  m_rowidsRead = true;
  const bool autoincrement = m_layout.autoIncrement;
  if (m_db == nullptr || autoincrement || m_layout.withoutRowid || !BatchAllowed()) return false;
  QString rowid;
  if (m_layout.rowidAlias >= 0)
    rowid = QuoteIdentifier(m_layout.columns[size_t(m_layout.rowidAlias)].name);
  else if (!m_layout.rowidName.isEmpty())
    rowid = m_layout.rowidName;
  else
    return false;
  const QByteArray sql =
      (QStringLiteral("SELECT max(%1) FROM %2").arg(rowid, QuoteIdentifier(m_layout.name)))
          .toUtf8();
  Statement stmt;
  if (sqlite3_prepare_v2(m_db, sql.constData(), static_cast<int>(sql.size()), stmt.Out(),
                         nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    const int type = sqlite3_column_type(stmt, 0);
    if (type == SQLITE_INTEGER) m_rowids.Took(sqlite3_column_int64(stmt, 0));
    m_rowids.known = type == SQLITE_NULL || type == SQLITE_INTEGER;  // NULL: an empty table
  }
  return m_rowids.known;
}

void TableSaver::NoteInsertedRowid() {
  if (m_rowids.known) m_rowids.Took(sqlite3_last_insert_rowid(m_db));
}

bool TableSaver::WriteStreams(std::int64_t rowid) {
  const QByteArray table = m_layout.name.toUtf8();
  QByteArray piece(static_cast<qsizetype>(kStreamPiece), '\0');
  for (const PendingStream& stream : m_streams) {
    const QByteArray column = m_layout.columns[size_t(stream.column)].name.toUtf8();
    sqlite3_blob* blob = nullptr;
    std::int64_t size = 0;
    const int fd = OpenTempFile(stream.path, &size);
    // The library refuses (an indexed column, a value of another size) rather
    // than write elsewhere; every byte is the file's, a short read fails.
    bool written = fd >= 0 && size >= stream.length &&
                   sqlite3_blob_open(m_db, "main", table.constData(), column.constData(), rowid, 1,
                                     &blob) == SQLITE_OK &&
                   sqlite3_blob_bytes(blob) == stream.length;
    for (std::int64_t at = 0; written && at < stream.length; at += kStreamPiece) {
      const std::int64_t want = std::min(kStreamPiece, stream.length - at);
      written = ReadSome(fd, at, piece.data(), want) == want &&
                sqlite3_blob_write(blob, piece.constData(), static_cast<int>(want),
                                   static_cast<int>(at)) == SQLITE_OK;
    }
    if (blob != nullptr) sqlite3_blob_close(blob);
    if (fd >= 0) ::close(fd);
    if (!written) return false;
  }
  return true;
}

bool TableSaver::InsertStreaming(Insert& insert, const RecordView& record, bool* lost) {
  *lost = false;
  // Inside the caller's transaction only: the savepoint then undoes the row
  // alone, and the pages the row adds are not copied to undo it.
  if (sqlite3_get_autocommit(m_db) != 0) return false;
  if (m_zerosWanted > 0 && Zeros(m_zerosWanted) == nullptr) return false;
  if (sqlite3_exec(m_db, "SAVEPOINT long_values", nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;
  sqlite3_stmt* stmt = insert.stmt;
  m_streams.clear();
  m_keep.clear();
  m_streaming = true;
  BindParams(stmt, insert, record, 0, true);
  m_streaming = false;
  bool brokeCheck = false;
  const int rc = StepKeepingCheckFailures(stmt, &brokeCheck);
  sqlite3_reset(stmt);
  m_keep.clear();
  // One row inserted (not one a conflict clause let go) and no CHECK seen:
  // the row that last_insert_rowid names is this one.
  bool done = rc == SQLITE_DONE && !brokeCheck && sqlite3_changes(m_db) == 1 &&
              WriteStreams(sqlite3_last_insert_rowid(m_db));
  if (done)
    done = sqlite3_exec(m_db, "RELEASE long_values", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!done) {
    if (TransactionLost()) {
      *lost = true;
      return false;
    }
    sqlite3_exec(m_db, "ROLLBACK TO long_values", nullptr, nullptr, nullptr);
    sqlite3_exec(m_db, "RELEASE long_values", nullptr, nullptr, nullptr);
  }
  return done;
}

bool TableSaver::InsertOne(const RecordView& record, RowOrigin origin) {
  Insert* insert = InsertFor(record.Size());
  if (insert == nullptr) {
    ++m_rejected;
    return false;
  }
  auto counted = [&] {
    ++m_written;
    if (origin == RowOrigin::PutBack) ++m_writtenPutBack;
    ReportWritten();
    NoteInsertedRowid();
  };
  // Only a record with values in temporary files can hold one to stream.
  const bool longValues = !record.tempFiles.empty();
  if (longValues && MarkStreams(record)) {
    bool lost = false;
    if (InsertStreaming(*insert, record, &lost)) {
      counted();
      return true;
    }
    if (lost) {
      NoteError(m_lostError);
      return false;
    }
    // Undone: the record goes in the ordinary way, which reports what fails.
  }
  m_stream.assign(size_t(record.Size()), Stream::None);
  sqlite3_stmt* stmt = insert->stmt;
  m_streams.clear();
  m_keep.clear();  // bound bytes stay valid until the step
  BindParams(stmt, *insert, record, 0, false);
  // A record that breaks a CHECK constraint is kept as the file holds it.
  bool brokeCheck = false;
  const int rc = StepKeepingCheckFailures(stmt, &brokeCheck);
  if (brokeCheck && rc == SQLITE_DONE) ++m_checkBroken;
  const bool ok = rc == SQLITE_DONE;
  if (!ok) NoteError(QString::fromUtf8(sqlite3_errmsg(m_db)));
  sqlite3_reset(stmt);  // every parameter is bound again for the next record
  m_keep.clear();
  if (ok) {
    counted();
  } else if (!TransactionLost()) {
    ++m_rejected;
  }
  return ok;
}

GridSink::GridSink(CSQLiteRecovery& engine, IProgress& progress, const TableLayout& layout,
                   IRecordGrid& grid, IStatusText& statusText, IProgressBar& progressBar)
    : m_engine(engine),
      m_progress(progress),
      m_layout(layout),
      m_grid(grid),
      m_status(statusText),
      m_bar(progressBar) {}

void GridSink::Walked(const WalkStep& step) {
  // The bar follows the children of each interior page, and the cells of
  // the root page when the root is a leaf.
  switch (step.kind) {
    case WalkStep::Kind::InteriorBegin:
      m_bar.SetRange(0, 100);
      m_bar.SetPos(0);
      break;
    case WalkStep::Kind::LeafBegin:
      if (step.depth == 0) {
        m_bar.SetRange(0, 100);
        m_bar.SetPos(0);
      }
      break;
    case WalkStep::Kind::InteriorChild:
    case WalkStep::Kind::LeafCell:
      if (step.kind == WalkStep::Kind::InteriorChild || step.depth == 0) {
        m_bar.SetPos(
            static_cast<int>((step.index + 1) * 100 / std::max<std::int64_t>(step.count, 1)));
        m_bar.SetBarColor(0x0000FF);
      }
      break;
    case WalkStep::Kind::Poll:
      break;
  }
}

bool GridSink::Take(const RecordView& record, RowOrigin) {
  const QString recordStatus = FormatRecordStatus(&m_grid);
  // The values in declared column order; a column the record lacks stays empty.
  const int count = m_layout.ColumnCount();
  const std::uint32_t encoding = m_engine.geometry().textEncoding;
  m_texts.resize(size_t(count));
  for (QString& text : m_texts) text.clear();
  m_present.assign(size_t(count), false);
  m_keys.assign(size_t(count), CellSortKey{});
  for (int k = 0; k < record.Size() && k < static_cast<int>(m_layout.recordToColumn.size()); ++k) {
    const int column = m_layout.recordToColumn[size_t(k)];
    const ValueView& value = record.values[size_t(k)];
    m_present[size_t(column)] = true;
    CellSortKey& key = m_keys[size_t(column)];
    if (column == m_layout.rowidAlias && value.storage == StorageClass::Null && record.hasRowid) {
      m_texts[size_t(column)] = QString::number(record.rowid);
      key.kind = CellSortKey::Kind::Integer;
      key.intValue = record.rowid;
      continue;
    }
    m_texts[size_t(column)] = RenderDisplay(record, value, encoding);
    switch (value.storage) {
      case StorageClass::Null:
        key.kind = CellSortKey::Kind::Null;
        break;
      case StorageClass::Integer:
        key.kind = CellSortKey::Kind::Integer;
        key.intValue = value.intValue;
        break;
      case StorageClass::Real:
        key.kind = CellSortKey::Kind::Real;
        key.realValue = value.realValue;
        break;
      case StorageClass::Text:
        key.kind = CellSortKey::Kind::Text;
        break;
      case StorageClass::Blob:
        key.kind = CellSortKey::Kind::Blob;
        break;
    }
  }
  for (int column = 0; column < count; ++column) {
    if (!m_present[size_t(column)] && column != 0) continue;
    if (m_progress.Poll()) return false;
    m_grid.AddGridValue(column, m_texts[size_t(column)], m_keys[size_t(column)]);
    if (column == 0) m_status.SetText(recordStatus);
  }
  ++m_shown;
  return true;
}

}  // namespace velmora
