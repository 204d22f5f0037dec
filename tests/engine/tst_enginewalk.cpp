// The engine on real files: header checks, the schema walk, table walks that
// must give exactly what SQLite reads, and what survives damage.
#include <sqlite3.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "EngineTestUtil.h"
#include "engine/core/Values.h"
#include "engine/session/SQLiteRecovery.h"
#include "platform/Folders.h"
#include "tests/support/PageProbe.h"

using namespace velmora;
using namespace enginetest;

namespace {

struct Expected {
  std::int64_t rowid;
  int type;  // SQLITE_INTEGER ...
  std::int64_t i;
  double r;
  QString text;
  QByteArray blob;
  qint64 storedBytes;  // text: bytes in the database's encoding
};

std::vector<std::vector<Expected>> ReadWithSqlite(const QString& path, const QString& table,
                                                  int columns, bool utf16) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  const QByteArray sql =
      QStringLiteral("SELECT rowid, * FROM \"%1\" ORDER BY rowid").arg(table).toUtf8();
  sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr);
  std::vector<std::vector<Expected>> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<Expected> row;
    for (int c = 1; c <= columns; ++c) {
      Expected e{sqlite3_column_int64(stmt, 0), sqlite3_column_type(stmt, c), 0, 0, {}, {}, 0};
      if (e.type == SQLITE_INTEGER) e.i = sqlite3_column_int64(stmt, c);
      if (e.type == SQLITE_FLOAT) e.r = sqlite3_column_double(stmt, c);
      if (e.type == SQLITE_BLOB) {
        const auto* b = static_cast<const char*>(sqlite3_column_blob(stmt, c));
        e.blob = QByteArray(b, sqlite3_column_bytes(stmt, c));
      }
      if (e.type == SQLITE_TEXT) {
        const auto* t = static_cast<const char16_t*>(sqlite3_column_text16(stmt, c));
        const int n = sqlite3_column_bytes16(stmt, c);
        e.text = QString::fromUtf16(t, n / 2);
        e.storedBytes = utf16 ? n : sqlite3_column_bytes(stmt, c);
      }
      row.push_back(e);
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

QByteArray ValueBytes(const ITEM& item) {
  if (!item.inTempFile) return item.bytes;
  QFile f(item.tempFilePath);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.readAll();
}

// Page numbers of `name`'s b-tree by kind ("internal", "leaf", "overflow").
std::vector<std::int64_t> Pages(const QString& path, const QString& name, const char* kind) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT pageno FROM dbstat WHERE name = ?1 AND pagetype = ?2 ORDER BY path",
                     -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, name.toUtf8().constData(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, kind, -1, SQLITE_STATIC);
  std::vector<std::int64_t> pages;
  while (sqlite3_step(stmt) == SQLITE_ROW) pages.push_back(sqlite3_column_int64(stmt, 0));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return pages;
}

void Patch(const QString& path, qint64 offset, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadWrite));
  QVERIFY(f.seek(offset));
  QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

QByteArray BigEndian32(std::uint32_t v) {
  QByteArray b(4, '\0');
  b[0] = char(v >> 24);
  b[1] = char(v >> 16);
  b[2] = char(v >> 8);
  b[3] = char(v);
  return b;
}

struct StopAlways : IProgress {
  bool Step(const WalkStep&) override { return true; }
};

}  // namespace

class TestEngineWalk : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  int m_n = 0;
  QString NewPath() { return m_dir.path() + QStringLiteral("/db%1.sqlite").arg(m_n++); }

 private slots:
  void initTestCase() { SetProgramFolderOverride(m_dir.path()); }

  void roundTrip_data() {
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("reserved");
    for (int pageSize : {512, 1024, 4096, 65536})
      for (const char* enc : {"UTF-8", "UTF-16le", "UTF-16be"})
        for (int reserved : {0, 40})
          if (pageSize - reserved >= 480)  // the format's smallest usable size
            QTest::addRow("%d %s reserved %d", pageSize, enc, reserved)
                << pageSize << QString::fromLatin1(enc) << reserved;
  }
  // Every value of every record as SQLite reads it, storage class and exact
  // content, including values that span overflow chains.
  void roundTrip() {
    QFETCH(int, pageSize);
    QFETCH(QString, encoding);
    QFETCH(int, reserved);
    const QString path = NewPath();
    const QByteArray enc = encoding.toLatin1();
    const QString sql =
        QStringLiteral(
            "CREATE TABLE t(a, b, c);"
            "INSERT INTO t VALUES (0, 1, -1), (127, -128, 32767), (-8388608, 2147483647, "
            "-2147483649),"
            " (140737488355327, -140737488355328, 9223372036854775807), (-9223372036854775808, "
            "NULL, 8),"
            " (1.5, 1e20, -0.0), (0.1, -2.5e-300, 3.0),"
            " ('', '  abc  ', 'caf\u00e9'), ('\u00e9', 'a\u0100\U0001F600b', CAST(X'610062' AS "
            "TEXT)),"
            " (X'', X'00FF10', NULL);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)"
            " INSERT INTO t SELECT i, replace(hex(zeroblob(i * 7 % 1000)), '00', 'd') || i || "
            "'\u00e9\u20ac', randomblob(i * 13) FROM n;"
            "INSERT INTO t VALUES (replace(hex(zeroblob(%1)), '00', '\u00e9x'), 42,"
            " randomblob(%2));"
            "INSERT INTO t VALUES (randomblob(%2), replace(hex(zeroblob(%1)), '00', 'y\u20ac'), "
            "-7);")
            .arg(pageSize + 3)
            .arg(3 * pageSize + 11);
    QVERIFY(BuildDb(path, {pageSize, enc.constData(), reserved}, sql));

    CSQLiteRecovery engine;
    QVERIFY(Opened(engine, path));
    QCOMPARE(engine.geometry().pageSize, qint64(pageSize));
    QCOMPARE(engine.geometry().usableSize, qint64(pageSize - reserved));
    const SchemaObject* t = FindTable(engine, QStringLiteral("t"));
    QVERIFY(t != nullptr);
    QCOMPARE(t->sql, QStringLiteral("CREATE TABLE t(a, b, c)"));

    RecordRecorder recorder(engine, true);
    QVERIFY(recorder.Walk(t->rootPage));
    const bool utf16 = encoding != QLatin1String("UTF-8");
    const auto expected = ReadWithSqlite(path, QStringLiteral("t"), 3, utf16);
    QCOMPARE(recorder.records.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
      const auto& rec = recorder.records[r];
      QVERIFY(rec.hasRowid);
      QCOMPARE(rec.rowid, expected[r][0].rowid);
      QCOMPARE(rec.values.size(), std::size_t(3));
      for (int c = 0; c < 3; ++c) {
        const ITEM& item = rec.values[c];
        const Expected& e = expected[r][c];
        QVERIFY(item.complete);
        switch (e.type) {
          case SQLITE_NULL:
            QCOMPARE(int(item.storage), int(StorageClass::Null));
            break;
          case SQLITE_INTEGER:
            QCOMPARE(int(item.storage), int(StorageClass::Integer));
            QCOMPARE(item.intValue, e.i);
            break;
          case SQLITE_FLOAT:
            QCOMPARE(int(item.storage), int(StorageClass::Real));
            QCOMPARE(std::memcmp(&item.realValue, &e.r, sizeof e.r), 0);
            break;
          case SQLITE_TEXT:
            QCOMPARE(int(item.storage), int(StorageClass::Text));
            QCOMPARE(item.length, e.storedBytes);
            QCOMPARE(DecodeText(ValueBytes(item), engine.geometry().textEncoding), e.text);
            QCOMPARE(item.inTempFile, item.length > pageSize);
            break;
          case SQLITE_BLOB:
            QCOMPARE(int(item.storage), int(StorageClass::Blob));
            QCOMPARE(ValueBytes(item), e.blob);
            break;
        }
      }
    }

    // Display mode: long values are not read whole.
    RecordRecorder display(engine, false);
    QVERIFY(display.Walk(t->rootPage));
    QCOMPARE(display.records.size(), expected.size());
    const auto& longText = display.records[display.records.size() - 2].values[0];
    QCOMPARE(longText.storage, StorageClass::Text);
    QVERIFY(longText.bytes.isEmpty());
    QCOMPARE(longText.display,
             QString(QString::fromUtf8("\xc3\xa9x").repeated(500)) + QLatin1String(kMoreDataMark));
    const auto& last = display.records.back().values;
    QCOMPARE(last[0].display, QStringLiteral("Blob"));
    QCOMPARE(last[2].intValue, qint64(-7));  // read after two overflowing values
  }

  void header_data() {
    QTest::addColumn<QByteArray>("pageSizeBytes");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("pageCount");
    QTest::newRow("512") << QByteArray("\x02\x00", 2) << qint64(2048) << true << qint64(4);
    QTest::newRow("511") << QByteArray("\x01\xFF", 2) << qint64(2048) << false << qint64(0);
    QTest::newRow("1 means 65536")
        << QByteArray("\x00\x01", 2) << qint64(65536 * 2) << true << qint64(2);
    QTest::newRow("0") << QByteArray("\x00\x00", 2) << qint64(4096) << false << qint64(0);
    QTest::newRow("partial page not counted")
        << QByteArray("\x10\x00", 2) << qint64(10000) << true << qint64(2);
    QTest::newRow("shorter than a page")
        << QByteArray("\x10\x00", 2) << qint64(4000) << false << qint64(0);
  }
  void header() {
    QFETCH(QByteArray, pageSizeBytes);
    QFETCH(qint64, fileSize);
    QFETCH(bool, accepted);
    QFETCH(qint64, pageCount);
    const QString path = NewPath();
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QByteArray bytes(fileSize, '\0');
      bytes.replace(16, 2, pageSizeBytes);
      bytes[100] = 13;  // an empty leaf table page
      f.write(bytes);
    }
    MessageRecorder messages;
    CSQLiteRecovery engine;
    QVERIFY(Opened(engine, QStringLiteral("  ") + path + QStringLiteral(" ")));
    QCOMPARE(engine.FilePath(), path);
    QCOMPARE(messages.texts, accepted ? QStringList() : QStringList{"File Corrupted"});
    if (accepted) QCOMPARE(engine.geometry().pageCount, pageCount);
  }

  void fileNotOpen() {
    MessageRecorder messages;
    CSQLiteRecovery engine;
    QVERIFY(Opened(engine, m_dir.path() + QStringLiteral("/missing.db")));
    QCOMPARE(messages.texts, QStringList{"File Not Open !"});
    QVERIFY(engine.FilePath().isEmpty());
    QVERIFY(engine.Catalog().Objects().empty());
    engine.BuildWorkingDatabase();
    QVERIFY(engine.TableNames().isEmpty());
  }

  // A bad child costs only its own subtree; the page still reports the loss.
  void damagedLeafCostsOnlyItself_data() {
    QTest::addColumn<QByteArray>("garbage");
    QTest::newRow("zeroed") << QByteArray(512, '\0');
    QTest::newRow("bad type") << QByteArray(512, '\x07');
  }
  void damagedLeafCostsOnlyItself() {
    QFETCH(QByteArray, garbage);
    const QString path = NewPath();
    QVERIFY(BuildDb(
        path, {512, "UTF-8", 0},
        QStringLiteral("CREATE TABLE t(a, b);"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                       "WHERE i < 3000) INSERT INTO t SELECT i, printf('row %d', i) FROM n;")));
    const auto leaves = Pages(path, QStringLiteral("t"), "leaf");
    QVERIFY(leaves.size() > 20);
    QVERIFY(Pages(path, QStringLiteral("t"), "internal").size() > 1);  // three levels
    const std::int64_t victim = leaves[leaves.size() / 3];
    Patch(path, (victim - 1) * 512, garbage);

    CSQLiteRecovery engine;
    Opened(engine, path);
    RecordRecorder recorder(engine, false);
    const SchemaObject* t = FindTable(engine, QStringLiteral("t"));
    QVERIFY(t != nullptr);
    QVERIFY(!recorder.Walk(t->rootPage));
    // One leaf of 512 bytes holds a few dozen of these rows at most.
    QVERIFY(recorder.records.size() > 2900);
    QVERIFY(recorder.records.size() < 3000);
    QCOMPARE(recorder.records.back().rowid, qint64(3000));  // the right-most leaf survived
  }

  void childLoopEnds() {
    const QString path = NewPath();
    QVERIFY(
        BuildDb(path, {512, "UTF-8", 0},
                QStringLiteral("CREATE TABLE t(a);"
                               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 500) INSERT INTO t SELECT printf('%.40d', i) FROM n;")));
    const auto interior = Pages(path, QStringLiteral("t"), "internal");
    QVERIFY(!interior.empty());
    const std::int64_t root = interior.front();
    // The right-most child of the root points back at the root.
    Patch(path, (root - 1) * 512 + 8, BigEndian32(static_cast<std::uint32_t>(root)));
    CSQLiteRecovery engine;
    Opened(engine, path);
    RecordRecorder recorder(engine, false);
    QVERIFY(!recorder.Walk(root));
    QVERIFY(!recorder.records.empty());
    QVERIFY(recorder.records.size() < 500);
  }

  void overflowLoopEnds() {
    const QString path = NewPath();
    QVERIFY(BuildDb(path, {512, "UTF-8", 0},
                    QStringLiteral("CREATE TABLE t(a, b); INSERT INTO t VALUES (zeroblob(5000), 9);"
                                   "INSERT INTO t VALUES (1, 2);")));
    const auto overflow = Pages(path, QStringLiteral("t"), "overflow");
    QVERIFY(overflow.size() > 3);
    // The third overflow page points back at the first.
    Patch(path, (overflow[2] - 1) * 512, BigEndian32(static_cast<std::uint32_t>(overflow[0])));
    CSQLiteRecovery engine;
    Opened(engine, path);
    RecordRecorder recorder(engine, true);
    const SchemaObject* t = FindTable(engine, QStringLiteral("t"));
    QVERIFY(t != nullptr);
    recorder.Walk(t->rootPage);
    QCOMPARE(recorder.records.size(), std::size_t(2));
    const ITEM& blob = recorder.records[0].values.at(0);
    QVERIFY(!blob.complete);
    QVERIFY(ValueBytes(blob).size() < 5000);
    QCOMPARE(recorder.records[1].values.at(1).intValue, qint64(2));
  }

  // Two damaged cells claiming one overflow chain: it is read once per walk,
  // so a file cannot make the walk read the same chain for every cell.
  void sharedChainReadOnce() {
    const QString path = NewPath();
    QVERIFY(BuildDb(path, {4096, "UTF-8", 0},
                    QStringLiteral("CREATE TABLE t(a); INSERT INTO t VALUES (randomblob(5000));"
                                   "INSERT INTO t VALUES (randomblob(5000));")));
    const SchemaObject* t = nullptr;
    std::int64_t root = 0;
    {
      CSQLiteRecovery probe;
      probe.ScanDatabase(path);
      t = FindTable(probe, QStringLiteral("t"));
      QVERIFY(t != nullptr);
      root = t->rootPage;
    }
    test::PageProbe probe(path);
    const auto cells = probe.Cells(root);
    QCOMPARE(cells.size(), 2);
    QVERIFY(cells[0].firstOverflow != 0 && cells[1].firstOverflow != 0);
    Patch(path, probe.PageOffset(root) + cells[1].payloadOffset + cells[1].localSize,
          BigEndian32(static_cast<std::uint32_t>(cells[0].firstOverflow)));
    CSQLiteRecovery engine;
    Opened(engine, path);
    RecordRecorder recorder(engine, true);
    recorder.Walk(root);
    QCOMPARE(recorder.records.size(), std::size_t(2));
    QVERIFY(recorder.records[0].values.at(0).complete);
    QCOMPARE(ValueBytes(recorder.records[0].values.at(0)).size(), 5000);
    QVERIFY(!recorder.records[1].values.at(0).complete);
    // A new walk may read the chain again.
    RecordRecorder again(engine, false);
    again.Walk(root);
    QVERIFY(again.records.at(0).values.at(0).complete);
  }

  // Save mode without a temporary file: a long value is held in memory
  // rather than lost.
  void longValueWithoutTempFile() {
    const QString path = NewPath();
    QVERIFY(BuildDb(path, {512, "UTF-8", 0},
                    QStringLiteral("CREATE TABLE t(a, b); INSERT INTO t VALUES "
                                   "(printf('%.3000c', 'z'), zeroblob(2000));")));
    CSQLiteRecovery engine;
    Opened(engine, path);
    const SchemaObject* t = FindTable(engine, QStringLiteral("t"));
    QVERIFY(t != nullptr);
    RecordRecorder recorder(engine, true);
    recorder.noTempFiles = true;
    QVERIFY(recorder.Walk(t->rootPage));
    QCOMPARE(recorder.records.size(), std::size_t(1));
    const auto& values = recorder.records[0].values;
    QVERIFY(!values.at(0).inTempFile);
    QCOMPARE(values.at(0).bytes, QByteArray(3000, 'z'));
    QCOMPARE(values.at(1).bytes, QByteArray(2000, '\0'));
    QVERIFY(values.at(0).complete && values.at(1).complete);
  }

  // A CREATE TABLE longer than a page reaches the schema lists whole.
  void longSchemaText() {
    const QString path = NewPath();
    QStringList columns;
    for (int i = 0; i < 300; ++i) columns << QStringLiteral("column_number_%1 TEXT").arg(i);
    const QString create =
        QStringLiteral("CREATE TABLE wide(%1)").arg(columns.join(QStringLiteral(", ")));
    QVERIFY(BuildDb(path, {512, "UTF-16be", 0}, create));
    CSQLiteRecovery engine;
    Opened(engine, path);
    engine.BuildWorkingDatabase();
    QCOMPARE(engine.TableNames(), QStringList{"wide"});
    QCOMPARE(engine.Catalog().Objects().size(), std::size_t(1));
    const SchemaObject& wide = engine.Catalog().Objects().at(0);
    QCOMPARE(wide.sql, create);
    QCOMPARE(wide.type, QStringLiteral("table"));
    QCOMPARE(wide.tableName, QStringLiteral("wide"));
    QCOMPARE(wide.rootPage, qint64(2));
  }

  void stopEndsAtOnce() {
    const QString path = NewPath();
    QVERIFY(BuildDb(path, {512, "UTF-8", 0},
                    QStringLiteral("CREATE TABLE t(a);"
                                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                   "WHERE i < 2000) INSERT INTO t SELECT i FROM n;")));
    CSQLiteRecovery engine;
    Opened(engine, path);
    const SchemaObject* t = FindTable(engine, QStringLiteral("t"));
    QVERIFY(t != nullptr);
    RecordRecorder recorder(engine, false);
    recorder.stopAfter = 10;
    QVERIFY(!recorder.Walk(t->rootPage));
    QCOMPARE(recorder.records.size(), std::size_t(10));
    recorder.records.clear();
    StopAlways stop;
    RecordRecorder stopped(engine, false, stop);
    QVERIFY(!stopped.Walk(t->rootPage));
    QVERIFY(stopped.records.empty());
  }

  // Random damage over a file with overflow chains, indexes and a WITHOUT
  // ROWID table: scanning and walking every table in both modes must end
  // without a sanitizer report, whatever the bytes say.
  void mutatedFilesEnd() {
    const QString seedPath = NewPath();
    QVERIFY(
        BuildDb(seedPath, {512, "UTF-8", 0},
                QStringLiteral(
                    "CREATE TABLE t1(a INTEGER, b TEXT, c BLOB); CREATE INDEX i1 ON t1(b);"
                    "CREATE TABLE w(k PRIMARY KEY, v) WITHOUT ROWID;"
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150)"
                    " INSERT INTO t1 SELECT i, substr(replace(hex(zeroblob(i * 5)), '00', "
                    "'x\u00e9'), 1, i * 7),"
                    " randomblob(i * 11) FROM n;"
                    "INSERT INTO w SELECT b, c FROM t1;")));
    QFile seedFile(seedPath);
    QVERIFY(seedFile.open(QIODevice::ReadOnly));
    const QByteArray seed = seedFile.readAll();
    const QString path = NewPath();
    for (int round = 0; round < 120; ++round) {
      QRandomGenerator rng(static_cast<quint32>(round));
      QByteArray bytes = seed;
      const int edits = 1 + rng.bounded(30);
      for (int e = 0; e < edits; ++e) {
        const int at = rng.bounded(static_cast<int>(bytes.size()));
        const int kind = rng.bounded(3);
        if (kind == 0) {
          bytes[at] = static_cast<char>(rng.bounded(256));
        } else if (kind == 1) {
          const int n = std::min<int>(1 + rng.bounded(512), static_cast<int>(bytes.size()) - at);
          bytes.replace(at, n, QByteArray(n, '\0'));
        } else if (at + 4 <= bytes.size()) {
          bytes.replace(at, 4,
                        BigEndian32(1 + rng.bounded(static_cast<quint32>(bytes.size() / 512 + 2))));
        }
      }
      if (rng.bounded(10) == 0) bytes.truncate(rng.bounded(static_cast<int>(bytes.size())));
      {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
      }
      MessageRecorder messages;
      CSQLiteRecovery engine;
      engine.ScanDatabase(path);
      for (bool save : {false, round % 30 == 0}) {
        for (const SchemaObject* object : engine.Catalog().OfKind(SchemaKind::Table)) {
          RecordRecorder recorder(engine, save);
          recorder.Walk(object->rootPage);
        }
      }
    }
  }

  void schemaOfIntactFile() {
    const QString path = NewPath();
    QVERIFY(
        BuildDb(path, {1024, "UTF-16le", 0},
                QStringLiteral(
                    "CREATE TABLE t1(a INTEGER, b TEXT); CREATE TABLE REVIEWS(id INTEGER PRIMARY "
                    "KEY AUTOINCREMENT, txt UNIQUE); CREATE INDEX i1 ON t1(a);"
                    "CREATE VIEW MYVIEW AS SELECT * FROM t1;"
                    "CREATE TRIGGER tr AFTER INSERT ON t1 BEGIN SELECT * FROM MYVIEW; END;"
                    "CREATE TABLE w(k PRIMARY KEY, v) WITHOUT ROWID;"
                    "INSERT INTO REVIEWS(txt) VALUES ('x');")));
    CSQLiteRecovery engine;
    Opened(engine, path);
    engine.BuildWorkingDatabase();
    QCOMPARE(engine.TableNames(), (QStringList{"t1", "REVIEWS", "sqlite_sequence", "w"}));
    const SchemaCatalog& catalog = engine.Catalog();
    const auto tables = catalog.OfKind(SchemaKind::Table);
    QCOMPARE(tables.size(), std::size_t(3));
    QCOMPARE(tables[0]->name, QStringLiteral("t1"));
    QCOMPARE(tables[0]->sql, QStringLiteral("CREATE TABLE t1(a INTEGER, b TEXT)"));
    QCOMPARE(tables[1]->name, QStringLiteral("REVIEWS"));
    QCOMPARE(tables[1]->rootPage, qint64(3));
    const auto indexes = catalog.OfKind(SchemaKind::Index);
    QCOMPARE(indexes.size(), std::size_t(1));
    QCOMPARE(indexes[0]->name, QStringLiteral("i1"));
    QCOMPARE(indexes[0]->tableName, QStringLiteral("t1"));
    QCOMPARE(indexes[0]->rootPage, qint64(6));
    QCOMPARE(indexes[0]->sql, QStringLiteral("CREATE INDEX i1 ON t1(a)"));
    QCOMPARE(catalog.OfKind(SchemaKind::View).size(), std::size_t(1));
    QCOMPARE(catalog.OfKind(SchemaKind::Trigger).size(), std::size_t(1));
  }
};

QTEST_GUILESS_MAIN(TestEngineWalk)
#include "tst_enginewalk.moc"
