#include "output/ColumnStores.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "engine/schema/SqliteDb.h"
#include "output/ColumnStoreSet.h"
#include "output/SaveDispatch.h"
#include "platform/TempFolder.h"

namespace velmora {
namespace {

// A store commits after this many rows, which bounds what its connection
// keeps in memory while a long table is displayed.
constexpr int kRowsPerCommit = 8192;
// Rows written by one INSERT: the statement's own cost, which dominates for
// short cells, is paid once for them all.
constexpr int kBatchRows = 64;

std::atomic<unsigned> g_nextSetNumber{0};

QString TextFromColumn(sqlite3_stmt* stmt, int column) {
  const void* p = sqlite3_column_text16(stmt, column);
  if (p == nullptr) return QString();
  const int bytes = sqlite3_column_bytes16(stmt, column);
  return QString(static_cast<const QChar*>(p), bytes / 2);
}

// Binds what the cell sorts by (see the store table's Key column).
void BindSortKey(sqlite3_stmt* stmt, int index, const CellSortKey& key) {
  switch (key.kind) {
    case CellSortKey::Kind::Null:
      sqlite3_bind_null(stmt, index);
      break;
    case CellSortKey::Kind::Integer:
      sqlite3_bind_int64(stmt, index, key.intValue);
      break;
    case CellSortKey::Kind::Real:
      // NaN cannot be stored as a real: the library makes it NULL.
      sqlite3_bind_double(stmt, index, key.realValue);
      break;
    case CellSortKey::Kind::Blob:
      sqlite3_bind_zeroblob(stmt, index, 0);
      break;
    case CellSortKey::Kind::Text:
    case CellSortKey::Kind::Unknown:
      sqlite3_bind_text(stmt, index, "", 0, SQLITE_STATIC);
      break;
  }
}

}  // namespace

QString CutStoreCellText(const QString& text) {
  if (text.size() <= kStoreCellMaxChars) return text;
  qsizetype keep = kStoreCellMaxChars;
  if (text.at(keep - 1).isHighSurrogate()) --keep;
  return text.left(keep) + QLatin1String(kStoreCellMoreMarker);
}

// ---------------------------------------------------------------------------
// ColumnStoreSet

ColumnStoreSet::ColumnStoreSet() = default;

ColumnStoreSet::~ColumnStoreSet() { Discard(); }

bool ColumnStoreSet::CreateColumnStore(int index, int position) {
  position = std::clamp(position, 0, Count());
  Store store;
  if (m_folder.isEmpty()) {
    const QString base = GetColumnStoreFolderPath();
    if (!base.isEmpty()) {
      const QString folder = base + QLatin1Char('g') + QString::number(g_nextSetNumber++);
      if (QDir().mkpath(folder)) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_folder = folder + QLatin1Char('/');
      }
    }
  }
  if (m_folder.isEmpty()) {
    std::fprintf(stderr, "column store %d: no private temporary folder\n", index);
    m_stores.insert(m_stores.begin() + position, std::move(store));
    return false;
  }
  store.path = m_folder + QString::number(index) + QStringLiteral("SQlite.db");
  QFile::remove(store.path);  // a stale file of an earlier grid of this set
  const QByteArray pathUtf8 = store.path.toUtf8();
  store.db = OpenSqliteDb(pathUtf8, nullptr, SQLITE_OPEN_NOMUTEX);
  if (store.db == nullptr) {
    m_stores.insert(m_stores.begin() + position, std::move(store));
    return false;
  }
  // Cell texts arrive and are read back as UTF-16: the store keeps them so.
  ExecSql(store.db, "PRAGMA encoding = 'UTF-16le'");
  // The settings come before the CREATE, so that the CREATE is not written
  // with a full sync of its own (a few tens of milliseconds per column before
  // the first row could be shown).
  ExecSql(store.db, " PRAGMA synchronous =OFF");
  ExecSql(store.db, "PRAGMA journal_mode = MEMORY");
  ExecSql(store.db,
          "CREATE TABLE \"table\" (\"id\" INTEGER PRIMARY KEY ,\"Column\" TEXT, \"Key\")");
  ExecSql(store.db, "PRAGMA cache_size = -1024");
  // A row written again (rows restarted without a reset) replaces the old one.
  sqlite3_prepare_v2(
      store.db, "INSERT OR REPLACE INTO \"table\" (\"id\",\"Column\",\"Key\") VALUES (?1, ?2, ?3)",
      -1, store.insert.Out(), nullptr);
  QByteArray batch = "INSERT OR REPLACE INTO \"table\" (\"id\",\"Column\",\"Key\") VALUES (?,?,?)";
  for (int i = 1; i < kBatchRows; ++i) batch += ",(?,?,?)";
  sqlite3_prepare_v2(store.db, batch.constData(), static_cast<int>(batch.size()),
                     store.insertBatch.Out(), nullptr);
  store.pending.reserve(kBatchRows);
  sqlite3_prepare_v2(store.db,
                     "SELECT \"Column\", \"Key\" IS NULL FROM \"table\" WHERE \"id\" = ?1", -1,
                     store.select.Out(), nullptr);
  if (store.insert == nullptr || store.select == nullptr) {
    ReportSqlError(store.db);
  }
  const bool ok = store.insert != nullptr;
  m_stores.insert(m_stores.begin() + position, std::move(store));
  return ok;
}

void ColumnStoreSet::Write(Store& store, int row, const QString& text, const CellSortKey& key) {
  if (store.insert == nullptr || row < 0) return;
  store.pending.push_back(Store::Cell{row, text, key});
  if (static_cast<int>(store.pending.size()) >= kBatchRows) WritePending(store);
}

void ColumnStoreSet::WritePending(Store& store) {
  if (store.pending.empty()) return;
  if (store.uncommitted == 0) ExecSql(store.db, "BEGIN");
  const int count = static_cast<int>(store.pending.size());
  auto run = [&](sqlite3_stmt* stmt, int first, int rows) {
    for (int i = 0; i < rows; ++i) {
      const Store::Cell& cell = store.pending[static_cast<size_t>(first + i)];
      sqlite3_bind_int64(stmt, 3 * i + 1, cell.row);
      sqlite3_bind_text16(stmt, 3 * i + 2, cell.text.utf16(),
                          static_cast<int>(cell.text.size() * 2), SQLITE_STATIC);
      BindSortKey(stmt, 3 * i + 3, cell.key);
    }
    if (sqlite3_step(stmt) != SQLITE_DONE) {
      ReportSqlError(store.db);
    }
    sqlite3_reset(stmt);
  };
  if (count == kBatchRows && store.insertBatch != nullptr) {
    run(store.insertBatch, 0, count);
  } else {
    for (int i = 0; i < count; ++i) run(store.insert, i, 1);
  }
  store.pending.clear();
  store.uncommitted += count;
  if (store.uncommitted >= kRowsPerCommit) Commit(store);
}

void ColumnStoreSet::StoreCellNewRow(int row, const QString& text, const CellSortKey& key) {
  if (m_stores.empty()) return;
  Write(m_stores.front(), row, text, key);
}

void ColumnStoreSet::StoreCell(int column, int row, const QString& text, const CellSortKey& key) {
  if (column < 0 || column >= Count()) return;
  Write(m_stores[static_cast<size_t>(column)], row, CutStoreCellText(text), key);
}

QString ColumnStoreSet::QueryStoreText(int column, int row, bool* isNull) const {
  if (isNull != nullptr) *isNull = false;
  if (column < 0 || column >= Count() || row < 0) return QString();
  const Store& store = m_stores[static_cast<size_t>(column)];
  // The latest cell of that row among those not written yet, if any.
  if (!store.pending.empty() && row >= store.pending.front().row) {
    for (auto it = store.pending.rbegin(); it != store.pending.rend(); ++it) {
      if (it->row == row) {
        if (isNull != nullptr) *isNull = it->key.kind == CellSortKey::Kind::Null;
        return it->text;
      }
      if (it->row < row) break;
    }
  }
  sqlite3_stmt* select = store.select;
  if (select == nullptr) return QString();
  sqlite3_bind_int64(select, 1, row);
  QString text;
  while (sqlite3_step(select) == SQLITE_ROW) {
    text = TextFromColumn(select, 0);
    if (isNull != nullptr) *isNull = sqlite3_column_int(select, 1) != 0;
  }
  sqlite3_reset(select);
  return text;
}

std::vector<int> ColumnStoreSet::SortedRows(int column, bool descending, int rowCount,
                                            IProgress& progress) {
  std::vector<int> rows;
  if (column < 0 || column >= Count() || rowCount <= 0) return rows;
  Store& store = m_stores[static_cast<size_t>(column)];
  if (store.db == nullptr) return rows;
  Commit(store);
  const char* sql =
      descending ? "SELECT \"id\" FROM \"table\" ORDER BY \"Key\" DESC, \"Column\" DESC, \"id\""
                 : "SELECT \"id\" FROM \"table\" ORDER BY \"Key\", \"Column\", \"id\"";
  Statement stmt;
  if (stmt.Prepare(store.db, sql) != SQLITE_OK) {
    ReportSqlError(store.db);
    return rows;
  }
  // The library polls the progress while it sorts.
  sqlite3_progress_handler(
      store.db, 4096, [](void* p) { return static_cast<IProgress*>(p)->Poll() ? 1 : 0; },
      &progress);
  std::vector<bool> seen(static_cast<size_t>(rowCount), false);
  rows.reserve(static_cast<size_t>(rowCount));
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const sqlite3_int64 id = sqlite3_column_int64(stmt, 0);
    if (id < 0 || id >= rowCount || seen[size_t(id)]) continue;
    seen[size_t(id)] = true;
    rows.push_back(static_cast<int>(id));
  }
  stmt.Finalize();
  sqlite3_progress_handler(store.db, 0, nullptr, nullptr);
  if (rc != SQLITE_DONE) return {};
  // Rows without a cell in this store show empty: before the rest ascending,
  // after it descending.
  std::vector<int> missing;
  for (int id = 0; id < rowCount; ++id)
    if (!seen[size_t(id)]) missing.push_back(id);
  rows.insert(descending ? rows.end() : rows.begin(), missing.begin(), missing.end());
  return rows;
}

void ColumnStoreSet::Commit(Store& store) {
  WritePending(store);
  if (store.uncommitted == 0) return;
  store.uncommitted = 0;
  ExecSql(store.db, "COMMIT");
}

void ColumnStoreSet::Flush() {
  for (Store& store : m_stores) Commit(store);
}

void ColumnStoreSet::ClearRows() {
  for (Store& store : m_stores) {
    if (store.db == nullptr) continue;
    store.pending.clear();
    Commit(store);
    ExecSql(store.db, "DELETE FROM \"table\"");
  }
}

void ColumnStoreSet::Close(Store& store) {
  if (store.db == nullptr) return;
  Commit(store);
  // The statements go before their connection.
  store.insert.Finalize();
  store.insertBatch.Finalize();
  store.select.Finalize();
  sqlite3_close(store.db);
  store.db = nullptr;
}

void ColumnStoreSet::Discard() {
  for (Store& store : m_stores) {
    Close(store);
    if (!store.path.isEmpty() && QFile::exists(store.path)) QFile::remove(store.path);
  }
  m_stores.clear();
  if (!m_folder.isEmpty()) {
    DeleteFolderTree(m_folder);
    m_folder.clear();
  }
}

bool ColumnStoreSet::IsOpen(int column) const {
  return column >= 0 && column < Count() && m_stores[static_cast<size_t>(column)].insert != nullptr;
}

QStringList ColumnStoreSet::Paths() const {
  QStringList paths;
  for (const Store& store : m_stores) paths << store.path;
  return paths;
}

// ---------------------------------------------------------------------------
// StoreBackedGrid

StoreBackedGrid::StoreBackedGrid() : m_stores(std::make_unique<ColumnStoreSet>()) {}

StoreBackedGrid::~StoreBackedGrid() = default;

int StoreBackedGrid::ItemCount() const { return m_nRows; }

int StoreBackedGrid::ColumnCount() const { return static_cast<int>(m_captions.size()); }

void StoreBackedGrid::DeleteAllColumns() {
  // Store k belongs to column k: without columns the stores mean nothing, and
  // keeping them would pair the next table's columns with this one's values.
  m_stores->Discard();
  m_captions.clear();
  const bool hadRows = m_nRows != 0;
  m_nRows = 0;
  if (hadRows) OnRowsReset();
  OnColumnsChanged();
}

void StoreBackedGrid::DeleteAllItems() {
  // Rows start again at 0: old values must not show through in cells that
  // the new rows leave empty.
  m_stores->ClearRows();
  m_nRows = 0;
  OnRowsReset();
}

void StoreBackedGrid::AddGridColumn(int index, const QString& caption) {
  const int position = std::clamp(index, 0, ColumnCount());
  m_stores->CreateColumnStore(index, position);
  m_captions.insert(position, caption);
  OnColumnsChanged();
}

void StoreBackedGrid::AddGridValue(int column, const QString& text, const CellSortKey& key) {
  // Through AddGridCell, which a derived grid may extend; it takes the key.
  m_cellKey = key;
  AddGridCell(column, text);
  m_cellKey = CellSortKey{};
}

void StoreBackedGrid::AddGridCell(int column, const QString& text) {
  if (column == 0) {
    const int row = m_nRows;
    m_stores->StoreCellNewRow(row, text, m_cellKey);
    ++m_nRows;
    OnRowsAppended(row, row);
    return;
  }
  if (m_nRows == 0) return;  // no row started yet
  m_stores->StoreCell(column, m_nRows - 1, text, m_cellKey);
}

std::vector<int> StoreBackedGrid::SortedRows(int column, bool descending,
                                             IProgress& progress) const {
  return m_stores->SortedRows(column, descending, m_nRows, progress);
}

void StoreBackedGrid::ResetRecordGrid() {
  m_stores->Discard();
  m_nRows = 0;
  OnRowsReset();
}

QString StoreBackedGrid::CellText(int row, int column, bool* isNull) const {
  if (isNull != nullptr) *isNull = false;
  if (row < 0 || row >= m_nRows) return QString();
  return m_stores->QueryStoreText(column, row, isNull);
}

QString StoreBackedGrid::ColumnCaption(int column) const {
  return column >= 0 && column < ColumnCount() ? m_captions.at(column) : QString();
}

void StoreBackedGrid::Flush() const { m_stores->Flush(); }

QString StoreBackedGrid::ShownText(int column, const QString& text) const {
  if (!m_stores->IsOpen(column)) return QString();
  return column == 0 ? text : CutStoreCellText(text);
}

QStringList StoreBackedGrid::StorePaths() const { return m_stores->Paths(); }

}  // namespace velmora
