// What SQLite itself reads from an intact file: the reference that decoded
// records are compared with.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "engine/core/Item.h"

namespace velmora::test {

// One value as the record on disk holds it: storage class and exact content.
// Text bytes are in the database's own encoding.
struct RefValue {
  StorageClass storage = StorageClass::Null;
  std::int64_t intValue = 0;
  double realValue = 0.0;
  QByteArray bytes;  // Text and Blob
};

// Whether two values are the same value: storage class, and the value bit
// for bit (a real by its bytes).
bool SameValue(const RefValue& a, const RefValue& b);

struct RefRow {
  std::int64_t rowid = 0;  // rowid tables only
  QList<RefValue> values;  // in the order the record stores them
};

struct RefTable {
  QString name;
  bool withoutRowid = false;
  int rowidAlias = -1;        // column stored as NULL because it is the rowid (INTEGER PRIMARY KEY)
  QStringList columns;        // in record order (WITHOUT ROWID: key columns first)
  QStringList declaredTypes;  // same order
  int encoding = 1;           // 1 UTF-8, 2 UTF-16le, 3 UTF-16be
  QList<RefRow> rows;         // in b-tree order (rowid order, key order)
  QString error;              // non-empty when SQLite could not read the table
};

// Reads every row of `table` from the intact file `dbPath` through SQLite.
RefTable ReadReferenceTable(const QString& dbPath, const QString& table);

// The names of the tables (sqlite_sequence and internal tables aside), in
// sqlite_schema order, and the names of indexes with SQL, views, triggers.
struct RefSchema {
  QStringList tables, indexes, views, triggers;
};
RefSchema ReadReferenceSchema(const QString& dbPath);

// How strictly values are compared.
enum class CompareMode {
  Exact,    // every value's bytes must be present (save mode: long values come from their files)
  Display,  // values longer than a page may be skipped over (bytes empty, length right)
};

// A decoded value with the bytes of its temporary file, when it had one.
struct DecodedValue {
  ITEM item;
  QByteArray fileBytes;  // contents of item.tempFilePath, read back at once
  bool fileRead = false;
};

// Compares one decoded record with a reference row. `longLimit` is the size
// above which Display mode allows a skipped value (the page size). Returns an
// empty text when they agree, else what differs (for QVERIFY2 messages).
QString CompareRecord(const QList<DecodedValue>& got, const RefRow& want, const RefTable& table,
                      CompareMode mode, std::int64_t longLimit);

// Short printable form of bytes for messages.
QString Describe(const QByteArray& bytes);

}  // namespace velmora::test
