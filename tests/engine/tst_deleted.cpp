// Deleted records given back from free space and free pages.
//
// Each case builds a database with SQLite, reads its rows, deletes (or
// updates, or drops) with SQLite, and compares what the pass gives back with
// what was deleted: a record given whole must equal a deleted row, a partial
// one must agree with a deleted row on every value it calls known, and no
// live row may come back as deleted.
#include <sqlite3.h>

#include <QtTest>
#include <cstring>

#include "engine/session/SQLiteRecovery.h"
#include "tests/support/Damager.h"
#include "tests/support/DbBuilder.h"
#include "tests/support/PageProbe.h"
#include "tests/support/ReferenceReader.h"
#include "tests/support/TestEnv.h"

using namespace velmora;
using namespace velmora::test;

namespace {

bool SameValue(const ITEM& got, const RefValue& want) {
  // A REAL column stores a real with an integral value as an integer.
  if (got.storage == StorageClass::Integer && want.storage == StorageClass::Real)
    return static_cast<double>(got.intValue) == want.realValue;
  return velmora::test::SameValue(RefValue{got.storage, got.intValue, got.realValue, got.bytes},
                                  want);
}

// Whether `record` agrees with `row` on every value it calls known; the
// rowid alias (stored NULL) is skipped.
bool Agrees(const DeletedRecord& record, const RefRow& row, int alias) {
  if (record.values.size() != static_cast<std::size_t>(row.values.size())) return false;
  if (record.rowidKnown && record.rowid != row.rowid) return false;
  for (int c = 0; c < row.values.size(); ++c) {
    const ITEM& v = record.values[static_cast<std::size_t>(c)];
    if (c == alias) continue;
    if (!v.complete) {
      if (!v.bytes.isEmpty() && !row.values[c].bytes.startsWith(v.bytes)) return false;
      continue;
    }
    if (!SameValue(v, row.values[c])) return false;
  }
  return true;
}

// The rows of `before` that `after` no longer holds with the same values.
QList<RefRow> DeletedRows(const RefTable& before, const RefTable& after, int alias) {
  QList<RefRow> gone;
  for (const RefRow& row : before.rows) {
    bool kept = false;
    for (const RefRow& live : after.rows) {
      if (live.rowid != row.rowid) continue;
      DeletedRecord same;
      for (const RefValue& v : live.values) {
        ITEM item;
        item.storage = v.storage;
        item.intValue = v.intValue;
        item.realValue = v.realValue;
        item.bytes = v.bytes;
        same.values.push_back(item);
      }
      kept = Agrees(same, row, alias);
    }
    if (!kept) gone << row;
  }
  return gone;
}

struct Tally {
  qsizetype deleted = 0;   // rows the deletion removed
  qsizetype whole = 0;     // of those, given back whole
  qsizetype any = 0;       // given back whole or partial
  qsizetype given = 0;     // records the pass gave for the table
  qsizetype phantoms = 0;  // records equal to no row the table ever had
  qsizetype live = 0;      // records equal to a live row only
};

// Weighs the records the pass gave under `name` against the rows.
Tally Weigh(const DeletedRecords& found, const QString& name, const QList<RefRow>& gone,
            const RefTable& after, int alias) {
  Tally tally;
  tally.deleted = gone.size();
  std::vector<int> best(static_cast<std::size_t>(gone.size()), 0);  // 2 whole, 1 partial
  for (const DeletedTable& table : found.tables) {
    if (table.table != name) continue;
    for (const DeletedRecord& record : table.records) {
      ++tally.given;
      bool matched = false;
      for (qsizetype i = 0; i < gone.size(); ++i) {
        if (!Agrees(record, gone[i], alias)) continue;
        matched = true;
        int& b = best[static_cast<std::size_t>(i)];
        b = std::max(b, record.partial ? 1 : 2);
      }
      if (matched) continue;
      bool live = false;
      for (const RefRow& row : after.rows) live = live || Agrees(record, row, alias);
      ++(live ? tally.live : tally.phantoms);
      if (tally.live + tally.phantoms <= 3) {
        QStringList text;
        for (const ITEM& v : record.values)
          text << (v.complete
                       ? QString::number(int(v.storage)) + ":" + QString::number(v.intValue) + ":" +
                             QString::fromLatin1(v.bytes.toHex().left(40))
                       : QStringLiteral("?"));
        qInfo("%s record at page %lld offset %d (%s) rowid %d %lld: %s", live ? "live" : "phantom",
              static_cast<long long>(record.page), record.offset,
              record.partial ? "partial" : "whole", record.rowidKnown, (long long)record.rowid,
              qPrintable(text.join(" | ")));
      }
    }
  }
  for (const int b : best) {
    tally.whole += b == 2;
    tally.any += b > 0;
  }
  return tally;
}

QString Fill(const QString& table, int rows, const QString& columns, const QString& values) {
  return QStringLiteral(
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
             "INSERT INTO %1(%3) SELECT %4 FROM n;")
      .arg(table)
      .arg(rows)
      .arg(columns, values);
}

const QString kTable =
    QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB, d INTEGER);");
const QString kRows =
    Fill("t", 400, "a, b, c, d",
         "'row-' || i || '-' || substr('abcdefghijklmnopqrstuvwxyz', 1 + i % 20), i * 0.25, "
         "randomblob(i % 13), i * 7");

}  // namespace

class TestDeleted : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitTestEnvironment(); }
  void deletions_data();
  void deletions();
  void hostileFreeblocks_data();
  void hostileFreeblocks();
};

void TestDeleted::deletions_data() {
  QTest::addColumn<QString>("build");
  QTest::addColumn<QString>("change");   // run with secure_delete off unless it says otherwise
  QTest::addColumn<QString>("table");    // the table whose rows are weighed
  QTest::addColumn<QString>("givenAs");  // the name the records come back under
  QTest::addColumn<int>("wholeFloor");   // per cent of the deleted rows given back whole
  QTest::addColumn<int>("anyFloor");     // ... whole or partial
  QTest::addColumn<bool>("nothing");     // nothing can be found
  QTest::addColumn<bool>("inLog");       // the change is left in the write-ahead log

  const QString base = kTable + kRows;
  QTest::newRow("single rows") << base << "DELETE FROM t WHERE id % 17 = 0;"
                               << "t"
                               << "t" << 90 << 90 << false << false;
  QTest::newRow("runs of rows") << base
                                << "DELETE FROM t WHERE id BETWEEN 40 AND 52 OR id BETWEEN "
                                   "300 AND 309;"
                                << "t"
                                << "t" << 90 << 90 << false << false;
  QTest::newRow("whole leaves freed") << base << "DELETE FROM t WHERE id > 100 AND id <= 260;"
                                      << "t"
                                      << "t" << 85 << 95 << false << false;
  QTest::newRow("rows with overflow")
      << kTable + Fill("t", 60, "a, b, c, d",
                       "'long-' || i || '-' || hex(randomblob(600 + i * 10)), i, "
                       "randomblob(300), i")
      << "DELETE FROM t WHERE id % 5 = 0;"
      << "t"
      << "t" << 85 << 85 << false << false;
  QTest::newRow("update frees the old version")
      << base << "UPDATE t SET a = 'changed-' || id || '-' || hex(randomblob(4)) WHERE id % 9 = 0;"
      << "t"
      << "t" << 85 << 95 << false << false;
  QTest::newRow("updates that grow rows, then deletions")
      << base
      << "UPDATE t SET a = upper(a) || ' (moved)' WHERE id % 20 = 0; DELETE FROM t WHERE id % 30 = "
         "7;"
      << "t"
      << "t" << 85 << 90 << false << false;
  QTest::newRow("the same on 4096-byte pages")
      << kTable +
             Fill("t", 3000, "a, b, c, d",
                  "substr(hex(randomblob(16)), 1, 6 + i % 11), i * 0.37, randomblob(4), i * 7") +
             "PRAGMA page_size=4096; VACUUM;"
      << "UPDATE t SET a = lower(a) || ' (moved)' WHERE id % 20 = 0; DELETE FROM t WHERE id % 30 = "
         "7;"
      << "t"
      << "t" << 85 << 90 << false << false;
  QTest::newRow("no rowid alias") << QStringLiteral("CREATE TABLE t(a TEXT, b INTEGER, c REAL);") +
                                         Fill("t", 300, "a, b, c", "'name-' || i, i * 3, i + 0.5")
                                  << "DELETE FROM t WHERE b % 11 = 0;"
                                  << "t"
                                  << "t" << 55 << 95 << false << false;
  QTest::newRow("dropped table")
      << base + QStringLiteral("CREATE TABLE gone(x TEXT, y INTEGER, z BLOB);") +
             Fill("gone", 200, "x, y, z", "'gone-' || i, i, randomblob(5)")
      << "DROP TABLE gone;"
      << "gone"
      << "gone" << 85 << 95 << false << false;
  QTest::newRow("secure_delete on")
      << base << "PRAGMA secure_delete=ON; DELETE FROM t WHERE id % 3 = 0;"
      << "t"
      << "t" << 0 << 0 << true << false;
  QTest::newRow("vacuumed") << base << "DELETE FROM t WHERE id % 3 = 0; VACUUM;"
                            << "t"
                            << "t" << 0 << 0 << true << false;
  QTest::newRow("deleted only in the log")
      << base << "DELETE FROM t WHERE id % 7 = 0 OR id BETWEEN 200 AND 230;"
      << "t"
      << "t" << 85 << 95 << false << true;
  QTest::newRow("updated only in the log")
      << base << "UPDATE t SET a = 'new-' || id WHERE id % 5 = 0;"
      << "t"
      << "t" << 85 << 95 << false << true;
}

void TestDeleted::deletions() {
  QFETCH(QString, build);
  QFETCH(QString, change);
  QFETCH(QString, table);
  QFETCH(QString, givenAs);
  QFETCH(int, wholeFloor);
  QFETCH(int, anyFloor);
  QFETCH(bool, nothing);
  QFETCH(bool, inLog);

  const QString folder = NewTestFolder(QStringLiteral("deleted"));
  QString path = folder + QStringLiteral("/db.db");
  {
    DbOptions options;
    options.pageSize = 1024;
    DbBuilder db(path, options);
    db.Exec(build);
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  const RefTable before = ReadReferenceTable(path, table);
  QVERIFY(before.error.isEmpty());
  if (inLog) {
    // A second connection keeps the first from checkpointing the log when
    // it closes; the files are copied while both are in that state.
    QCOMPARE(ExecOnFile(path, QStringLiteral("PRAGMA journal_mode=WAL;")), QString());
    sqlite3* keeper = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &keeper, SQLITE_OPEN_READWRITE,
                             nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(keeper, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr),
             SQLITE_OK);
    QCOMPARE(ExecOnFile(path, QStringLiteral("PRAGMA secure_delete=OFF;") + change), QString());
    QDir().mkpath(folder + QStringLiteral("/copy"));
    for (const QString& suffix : {QString(), QStringLiteral("-wal")})
      QVERIFY(QFile::copy(path + suffix, folder + QStringLiteral("/copy/db.db") + suffix));
    sqlite3_close(keeper);
    path = folder + QStringLiteral("/copy/db.db");
  } else {
    QCOMPARE(ExecOnFile(path, QStringLiteral("PRAGMA secure_delete=OFF;") + change), QString());
  }
  RefTable after = ReadReferenceTable(path, table);
  if (!after.error.isEmpty()) after.rows.clear();  // dropped
  const QList<RefRow> deleted = DeletedRows(before, after, before.rowidAlias);
  QVERIFY(!deleted.isEmpty());
  // The rows whose bytes the file still holds (their first text value is
  // still somewhere in it): the others were overwritten, by a later cell or
  // by the page rebuilt around them.
  QByteArray file = PageProbe(path).Data();
  if (QFile log(path + QStringLiteral("-wal")); log.open(QIODevice::ReadOnly))
    file += log.readAll();
  QList<RefRow> gone;
  for (const RefRow& row : deleted)
    for (const RefValue& v : row.values)
      if (v.storage == StorageClass::Text) {
        if (file.contains(v.bytes.left(40))) gone << row;
        break;
      }

  CSQLiteRecovery engine;
  CSQLiteRecovery::ScanOptions withDeleted;
  withDeleted.findDeleted = true;
  QCOMPARE(engine.ScanDatabase(path, withDeleted), CSQLiteRecovery::ScanOutcome::Opened);
  engine.BuildWorkingDatabase();
  const DeletedRecords& found = engine.Deleted();
  QVERIFY(found.ran);
  const Tally tally = Weigh(found, givenAs, gone, after, before.rowidAlias);
  qInfo(
      "%s: %lld deleted; %lld given back whole, %lld whole or partial; %lld records given, "
      "%lld phantoms, %lld live",
      QTest::currentDataTag(), static_cast<long long>(tally.deleted),
      static_cast<long long>(tally.whole), static_cast<long long>(tally.any),
      static_cast<long long>(tally.given), static_cast<long long>(tally.phantoms),
      static_cast<long long>(tally.live));
  for (const DeletedTable& t : found.tables)
    qInfo("  under %s: %d records", qPrintable(t.table), int(t.records.size()));
  QCOMPARE(tally.live, qsizetype{0});
  // No table's live rows come back as deleted, whatever name they are under.
  for (const DeletedTable& t : found.tables) {
    if (t.table == givenAs || t.dropped) continue;
    const RefTable live = ReadReferenceTable(path, t.table);
    for (const DeletedRecord& record : t.records)
      for (const RefRow& row : live.rows) QVERIFY(!Agrees(record, row, live.rowidAlias));
  }
  if (nothing || gone.isEmpty()) {
    QCOMPARE(found.whole + found.partial, std::int64_t{0});
    return;
  }
  QVERIFY2(tally.whole * 100 >= tally.deleted * wholeFloor, "too few given back whole");
  QVERIFY2(tally.any * 100 >= tally.deleted * anyFloor, "too few given back");
  QVERIFY2(tally.phantoms * 100 <= tally.given, "phantoms");
}

// Freeblock chains a damaged page can hold: none of them may make the pass
// read outside the page, loop, or give anything back.
void TestDeleted::hostileFreeblocks_data() {
  QTest::addColumn<int>("first");  // the page's first freeblock
  QTest::addColumn<int>("next");   // what that freeblock names as the next one
  QTest::addColumn<int>("size");   // its size
  QTest::newRow("into the cell pointer array") << 10 << 0 << 40;
  QTest::newRow("a loop") << 600 << 600 << 8;
  QTest::newRow("size past the page") << 900 << 0 << 4000;
  QTest::newRow("over a live cell") << -1 << 0 << 200;
}

void TestDeleted::hostileFreeblocks() {
  QFETCH(int, first);
  QFETCH(int, next);
  QFETCH(int, size);
  const QString path = NewTestFolder(QStringLiteral("hostile")) + QStringLiteral("/db.db");
  {
    DbOptions options;
    options.pageSize = 1024;
    DbBuilder db(path, options);
    db.Exec(kTable + kRows);
    QVERIFY(db.Close());
  }
  // Freed bytes zeroed: whatever the pass finds comes from the damage.
  QCOMPARE(ExecOnFile(path, QStringLiteral("PRAGMA secure_delete=ON; DELETE FROM t WHERE id % 4 "
                                           "= 0;")),
           QString());
  PageProbe probe(path);
  const TreePages tree = probe.Tree(PageProbe::RootPage(path, QStringLiteral("t")));
  QVERIFY(tree.leaves.size() > 2);
  const std::int64_t leaf = tree.leaves.at(1);
  if (first < 0) first = probe.Cells(leaf).value(0).offset;
  const std::int64_t at = probe.PageOffset(leaf);
  QVERIFY(PatchBe16(path, at + 1, static_cast<std::uint16_t>(first)));
  if (first + 4 <= 1024) {
    QVERIFY(PatchBe16(path, at + first, static_cast<std::uint16_t>(next)));
    QVERIFY(PatchBe16(path, at + first + 2, static_cast<std::uint16_t>(size)));
  }
  CSQLiteRecovery engine;
  CSQLiteRecovery::ScanOptions withDeleted;
  withDeleted.findDeleted = true;
  QCOMPARE(engine.ScanDatabase(path, withDeleted), CSQLiteRecovery::ScanOutcome::Opened);
  engine.BuildWorkingDatabase();
  QVERIFY(engine.Deleted().ran);
  for (const DeletedTable& t : engine.Deleted().tables)
    for (const DeletedRecord& record : t.records)
      QVERIFY2(record.page != leaf, "a record from the damaged page");
}

QTEST_GUILESS_MAIN(TestDeleted)
#include "tst_deleted.moc"
