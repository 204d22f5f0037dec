#include "tests/support/ReferenceReader.h"

#include <sqlite3.h>

#include <QFile>
#include <cstring>

namespace velmora::test {
namespace {

struct Db {
  sqlite3* db = nullptr;
  explicit Db(const QString& path) {
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
      sqlite3_close(db);
      db = nullptr;
    }
  }
  ~Db() { sqlite3_close(db); }
};

struct Stmt {
  sqlite3_stmt* stmt = nullptr;
  Stmt(sqlite3* db, const QString& sql) {
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
      stmt = nullptr;
  }
  ~Stmt() { sqlite3_finalize(stmt); }
  bool Row() { return stmt && sqlite3_step(stmt) == SQLITE_ROW; }
  QString Text(int column) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
  }
};

QString Quote(const QString& name) {
  QString q = name;
  q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

QString SqlString(const QString& text) {
  QString q = text;
  q.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + q + QLatin1Char('\'');
}

RefValue ReadValue(sqlite3_stmt* stmt, int column, int encoding) {
  RefValue v;
  sqlite3_value* value = sqlite3_column_value(stmt, column);
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      v.storage = StorageClass::Integer;
      v.intValue = sqlite3_value_int64(value);
      break;
    case SQLITE_FLOAT:
      v.storage = StorageClass::Real;
      v.realValue = sqlite3_value_double(value);
      break;
    case SQLITE_TEXT: {
      v.storage = StorageClass::Text;
      const void* data = nullptr;
      int size = 0;
      if (encoding == 2) {
        data = sqlite3_value_text16le(value);
        size = sqlite3_value_bytes16(value);
      } else if (encoding == 3) {
        data = sqlite3_value_text16be(value);
        size = sqlite3_value_bytes16(value);
      } else {
        data = sqlite3_value_text(value);
        size = sqlite3_value_bytes(value);
      }
      v.bytes = QByteArray(static_cast<const char*>(data), size);
      break;
    }
    case SQLITE_BLOB:
      v.storage = StorageClass::Blob;
      v.bytes = QByteArray(static_cast<const char*>(sqlite3_value_blob(value)),
                           sqlite3_value_bytes(value));
      break;
    default:
      v.storage = StorageClass::Null;
  }
  return v;
}

const char* ClassName(StorageClass c) {
  switch (c) {
    case StorageClass::Null:
      return "NULL";
    case StorageClass::Integer:
      return "INTEGER";
    case StorageClass::Real:
      return "REAL";
    case StorageClass::Text:
      return "TEXT";
    case StorageClass::Blob:
      return "BLOB";
  }
  return "?";
}

bool HasRealAffinity(const QString& declared) {
  // Affinity rules of the SQLite file format, in their order.
  const QString t = declared.toUpper();
  if (t.contains(QLatin1String("INT"))) return false;
  if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) ||
      t.contains(QLatin1String("TEXT")))
    return false;
  if (t.contains(QLatin1String("BLOB")) || t.isEmpty()) return false;
  return t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) ||
         t.contains(QLatin1String("DOUB"));
}

}  // namespace

QString Describe(const QByteArray& bytes) {
  QString s = QString::fromLatin1(bytes.left(24).toHex(' '));
  if (bytes.size() > 24) s += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
  return s;
}

RefTable ReadReferenceTable(const QString& dbPath, const QString& table) {
  RefTable out;
  out.name = table;
  Db db(dbPath);
  if (!db.db) {
    out.error = QStringLiteral("cannot open %1").arg(dbPath);
    return out;
  }
  {
    Stmt enc(db.db, QStringLiteral("PRAGMA encoding"));
    if (enc.Row()) {
      const QString e = enc.Text(0);
      out.encoding = e == QLatin1String("UTF-16le") ? 2 : e == QLatin1String("UTF-16be") ? 3 : 1;
    }
  }
  {
    Stmt list(db.db,
              QStringLiteral("SELECT wr FROM pragma_table_list WHERE name = %1 AND schema = 'main'")
                  .arg(SqlString(table)));
    if (list.Row()) out.withoutRowid = sqlite3_column_int(list.stmt, 0) != 0;
  }
  // Columns in declaration order with their key positions.
  QStringList names, types;
  QList<int> pk;
  {
    Stmt info(
        db.db,
        QStringLiteral("SELECT name, type, pk FROM pragma_table_info(%1)").arg(SqlString(table)));
    while (info.Row()) {
      names << info.Text(0);
      types << info.Text(1);
      pk << sqlite3_column_int(info.stmt, 2);
    }
  }
  if (names.isEmpty()) {
    out.error = QStringLiteral("no such table %1").arg(table);
    return out;
  }
  if (out.withoutRowid) {
    // The record of a WITHOUT ROWID table stores the key columns first, then
    // the others, as the primary-key index lists them.
    Stmt x(db.db, QStringLiteral("SELECT cid FROM pragma_index_xinfo(%1) ORDER BY seqno")
                      .arg(SqlString(table)));
    while (x.Row()) {
      const int cid = sqlite3_column_int(x.stmt, 0);
      if (cid < 0 || cid >= names.size()) continue;
      out.columns << names[cid];
      out.declaredTypes << types[cid];
    }
  } else {
    out.columns = names;
    out.declaredTypes = types;
    int keys = 0, keyColumn = -1;
    for (int i = 0; i < pk.size(); ++i)
      if (pk[i] > 0) {
        ++keys;
        keyColumn = i;
      }
    // An INTEGER PRIMARY KEY column is the rowid; its record field is NULL.
    // (A DESC key is not an alias; the test databases do not use one.)
    if (keys == 1 && types[keyColumn].compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0)
      out.rowidAlias = keyColumn;
  }
  QStringList select;
  if (!out.withoutRowid) select << QStringLiteral("_rowid_");
  for (const QString& c : out.columns) select << Quote(c);
  Stmt rows(db.db, QStringLiteral("SELECT %1 FROM %2 NOT INDEXED")
                       .arg(select.join(QLatin1Char(',')), Quote(table)));
  if (!rows.stmt) {
    out.error = QString::fromUtf8(sqlite3_errmsg(db.db));
    return out;
  }
  const int first = out.withoutRowid ? 0 : 1;
  while (rows.Row()) {
    RefRow row;
    if (!out.withoutRowid) row.rowid = sqlite3_column_int64(rows.stmt, 0);
    for (int i = 0; i < out.columns.size(); ++i) {
      if (i == out.rowidAlias) {
        row.values << RefValue{};
        continue;
      }
      row.values << ReadValue(rows.stmt, first + i, out.encoding);
    }
    out.rows << row;
  }
  return out;
}

RefSchema ReadReferenceSchema(const QString& dbPath) {
  RefSchema out;
  Db db(dbPath);
  if (!db.db) return out;
  Stmt s(db.db, QStringLiteral("SELECT type, name, sql FROM sqlite_schema"));
  while (s.Row()) {
    const QString type = s.Text(0), name = s.Text(1);
    const bool hasSql = sqlite3_column_type(s.stmt, 2) != SQLITE_NULL;
    if (type == QLatin1String("table")) {
      if (name != QLatin1String("sqlite_sequence") &&
          !name.startsWith(QLatin1String("sqlite_stat")))
        out.tables << name;
    } else if (type == QLatin1String("index")) {
      if (hasSql) out.indexes << name;
    } else if (type == QLatin1String("view")) {
      out.views << name;
    } else if (type == QLatin1String("trigger")) {
      out.triggers << name;
    }
  }
  return out;
}

QString CompareRecord(const QList<DecodedValue>& got, const RefRow& want, const RefTable& table,
                      CompareMode mode, std::int64_t longLimit) {
  if (got.size() != want.values.size())
    return QStringLiteral("%1 values decoded, %2 expected").arg(got.size()).arg(want.values.size());
  for (int i = 0; i < got.size(); ++i) {
    const ITEM& item = got[i].item;
    const RefValue& ref = want.values[i];
    const auto where = [&] {
      return QStringLiteral("column %1 (%2): ").arg(i).arg(table.columns.value(i));
    };
    StorageClass expected = ref.storage;
    // A REAL column stores a whole-numbered real as an integer to save room;
    // SQLite turns it back into a real when it reads it.
    if (expected == StorageClass::Real && item.storage == StorageClass::Integer &&
        HasRealAffinity(table.declaredTypes.value(i)) && double(item.intValue) == ref.realValue)
      continue;
    if (item.storage != expected)
      return where() + QStringLiteral("storage class %1, expected %2")
                           .arg(ClassName(item.storage), ClassName(expected));
    switch (expected) {
      case StorageClass::Null:
        break;
      case StorageClass::Integer:
        if (item.intValue != ref.intValue)
          return where() +
                 QStringLiteral("integer %1, expected %2").arg(item.intValue).arg(ref.intValue);
        break;
      case StorageClass::Real:
        if (std::memcmp(&item.realValue, &ref.realValue, sizeof(double)) != 0)
          return where() + QStringLiteral("real %1, expected %2")
                               .arg(item.realValue, 0, 'g', 17)
                               .arg(ref.realValue, 0, 'g', 17);
        break;
      case StorageClass::Text:
      case StorageClass::Blob: {
        if (item.length != ref.bytes.size())
          return where() +
                 QStringLiteral("length %1, expected %2").arg(item.length).arg(ref.bytes.size());
        QByteArray bytes = item.bytes;
        if (item.inTempFile) {
          if (!got[i].fileRead)
            return where() +
                   QStringLiteral("temporary file %1 was not readable").arg(item.tempFilePath);
          bytes = got[i].fileBytes;
        }
        const bool skipped = !item.inTempFile && bytes.isEmpty() && !ref.bytes.isEmpty();
        if (skipped && mode == CompareMode::Display && ref.bytes.size() > longLimit) break;
        if (bytes != ref.bytes)
          return where() +
                 QStringLiteral("bytes %1, expected %2").arg(Describe(bytes), Describe(ref.bytes));
        if (!item.complete) return where() + QStringLiteral("marked incomplete although intact");
        break;
      }
    }
  }
  return {};
}

bool SameValue(const RefValue& a, const RefValue& b) {
  if (a.storage != b.storage) return false;
  switch (a.storage) {
    case StorageClass::Null:
      return true;
    case StorageClass::Integer:
      return a.intValue == b.intValue;
    case StorageClass::Real:
      return std::memcmp(&a.realValue, &b.realValue, sizeof(double)) == 0;
    default:
      return a.bytes == b.bytes;
  }
}

}  // namespace velmora::test
