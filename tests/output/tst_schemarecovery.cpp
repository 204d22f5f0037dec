// Schema recovery: tables whose CREATE statement was damaged in the file,
// virtual tables recreated with their shadow tables, and virtual tables of a
// module the program does not run. Every table is checked against SQLite's
// reading of the intact file.
#include <sqlite3.h>

#include <QFileInfo>
#include <QProcess>
#include <QtTest>
#include <cstring>

#include "engine/SQLiteRecovery.h"
#include "output/SaveDispatch.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

struct SaveRun {
  QString path;
  QHash<QString, ObjectOutcome> outcomes;  // by object name
  QStringList failures;
};

SaveRun SaveAll(const QString& source, const QString& folder) {
  CSQLiteRecovery engine;
  engine.ScanDatabase(source);
  engine.BuildWorkingDatabase();
  SaveRun run;
  QString error;
  RecoveredDatabase target;
  if (!target.Open(engine, folder, QFileInfo(source).fileName(), &error)) {
    run.failures << "open: " + error;
    return run;
  }
  run.path = target.Path();
  for (const PlannedObject& object :
       MakeSavePlan(CategoryNames(engine, ObjectKind::Table), CategoryNames(engine, ObjectKind::View),
                    CategoryNames(engine, ObjectKind::Trigger), CategoryNames(engine, ObjectKind::Index))) {
    const ObjectOutcome outcome = DispatchObject(engine, ObjectRef{object.kind, object.name}, target);
    run.outcomes.insert(object.name, outcome);
    if (!outcome.written || !outcome.error.isEmpty() || outcome.stopped)
      run.failures << object.name + ": " + outcome.error;
  }
  target.Close();
  return run;
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

// How the rows of a recovered table compare with the intact file's: rows
// matched by rowid (WITHOUT ROWID: by key order), every value exact.
struct RowCount {
  int wanted = 0, recovered = 0, wrong = 0;
  QString firstWrong;
};

RowCount CompareRows(const RefTable& want, const RefTable& got) {
  RowCount c;
  c.wanted = int(want.rows.size());
  QHash<std::int64_t, int> byRowid;
  for (int i = 0; i < want.rows.size(); ++i) byRowid.insert(want.rows[i].rowid, i);
  for (int r = 0; r < got.rows.size(); ++r) {
    const RefRow& row = got.rows[r];
    const int at = want.withoutRowid ? r : byRowid.value(row.rowid, -1);
    bool same =
        at >= 0 && at < want.rows.size() && want.rows[at].values.size() == row.values.size();
    for (int v = 0; same && v < row.values.size(); ++v)
      same = SameValue(want.rows[at].values[v], row.values[v]);
    if (same) {
      ++c.recovered;
    } else {
      ++c.wrong;
      if (c.firstWrong.isEmpty()) c.firstWrong = QString("row %1").arg(r);
    }
  }
  return c;
}

// The rows of `sql` on the database `path`, each as its columns' texts
// joined with "|", the rows joined with ";".
QString Query(const QString& path, const QString& sql) {
  sqlite3* db = nullptr;
  QStringList rows;
  if (sqlite3_open_v2(path.toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8(), -1, &st, nullptr) != SQLITE_OK) {
      rows << "error: " + QString::fromUtf8(sqlite3_errmsg(db));
    } else {
      while (sqlite3_step(st) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 0; i < sqlite3_column_count(st); ++i)
          cells << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
        rows << cells.join('|');
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return rows.join(';');
}

struct ToolResult {
  int code = -1;
  QString out, err;
};

ToolResult Tool(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(VELMORA_RECOVER_PATH), QStringList{"--work-dir", ProgramFolder()} + args);
  ToolResult r;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace

class SchemaRecoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void damagedCreateTable_data() {
    QTest::addColumn<QString>("create");
    QTest::addColumn<QString>("hit");     // the text whose first four bytes are overwritten
    QTest::addColumn<bool>("namesKept");  // every column keeps its name

    const QString people =
        "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, age INTEGER, "
        "score REAL, photo BLOB)";
    QTest::newRow("a column's type") << people << "TEXT" << true;
    QTest::newRow("a column's name") << people << "name TEXT" << false;
    QTest::newRow("the table name in the text") << people << "people(" << true;
    QTest::newRow("the opening parenthesis") << people << "(id I" << false;
    QTest::newRow("the comma between two columns") << people << ", age" << false;
    QTest::newRow("a key column of a WITHOUT ROWID table")
        << "CREATE TABLE people(k TEXT PRIMARY KEY, name TEXT, age INTEGER, score REAL, "
           "photo BLOB) WITHOUT ROWID"
        << "TEXT" << false;
  }

  void damagedCreateTable() {
    QFETCH(QString, create);
    QFETCH(QString, hit);
    QFETCH(bool, namesKept);
    const QString folder = NewTestFolder("damagedsql");
    const QString intact = folder + "/intact.db";
    const QString damaged = folder + "/damaged.db";
    {
      DbBuilder db(intact);
      db.Exec("CREATE TABLE others(a TEXT, b INTEGER)");
      db.Exec(create);
      db.Begin();
      for (int i = 1; i <= 400; ++i) {
        const bool rowid = !create.contains("WITHOUT ROWID");
        // Every fourth score is whole: a REAL column stores it as an integer.
        db.Insert("people", {rowid ? QVariant(i) : QVariant(QString("key%1").arg(i)),
                             i % 9 == 0 ? QVariant() : QVariant(QString("name %1").arg(i)), i * 7,
                             i / 4.0, QByteArray(i % 13, char(i))});
        db.Insert("others", {QString("other %1").arg(i), i});
      }
      db.Commit();
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    QVERIFY(CopyDatabase(intact, damaged));
    const int at = create.indexOf(hit);
    QVERIFY(at >= 0);
    QVERIFY(DamageSchemaSql(damaged, "people", at, 4, '#'));

    {
      CSQLiteRecovery engine;
      QCOMPARE(engine.ScanDatabase(damaged), CSQLiteRecovery::ScanOutcome::Opened);
      engine.BuildWorkingDatabase();
      QCOMPARE(engine.TableNames(), QStringList({"others", "people"}));
      const SchemaObject* table = engine.Catalog().FindTable("people");
      QVERIFY(table != nullptr && table->sqlRebuilt);
      QVERIFY2(table->originalSql.contains("####"), qPrintable(table->originalSql));
      QVERIFY(ObjectTreeNote(engine, ObjectKind::Table, "people").contains("rebuilt"));
    }

    const SaveRun run = SaveAll(damaged, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join('\n')));
    const QString note = run.outcomes.value("people").note;
    QVERIFY2(note.contains("rebuilt") && note.contains("####"), qPrintable(note));

    const RefTable want = ReadReferenceTable(intact, "people");
    const RefTable got = ReadReferenceTable(run.path, "people");
    QVERIFY2(got.error.isEmpty(), qPrintable(got.error));
    QCOMPARE(got.columns.size(), want.columns.size());
    if (namesKept) QCOMPARE(got.columns, want.columns);
    const RowCount rows = CompareRows(want, got);
    qInfo("%s: %d of %d rows recovered, %d wrong", QTest::currentDataTag(), rows.recovered,
          rows.wanted, rows.wrong);
    QVERIFY2(rows.wrong == 0, qPrintable(rows.firstWrong));
    QVERIFY(rows.recovered * 100 >= rows.wanted * 95);

    // The table with an intact statement keeps its name, shape and rows.
    const RefTable othersWant = ReadReferenceTable(intact, "others");
    const RefTable othersGot = ReadReferenceTable(run.path, "others");
    QCOMPARE(othersGot.columns, othersWant.columns);
    const RowCount others = CompareRows(othersWant, othersGot);
    QCOMPARE(others.recovered, others.wanted);
  }

  void virtualTables_data() {
    QTest::addColumn<QString>("create");
    QTest::addColumn<QStringList>("queries");
    const QStringList fts = {"SELECT rowid FROM t WHERE t MATCH 'word17'",
                             "SELECT count(*) FROM t WHERE t MATCH 'common'",
                             "SELECT rowid FROM t WHERE t MATCH 'body AND word2*' ORDER BY rowid"};
    QTest::newRow("fts5") << "CREATE VIRTUAL TABLE t USING fts5(title, body)" << fts;
    QTest::newRow("fts5 contentless")
        << "CREATE VIRTUAL TABLE t USING fts5(title, body, content='')" << fts;
    QTest::newRow("fts4") << "CREATE VIRTUAL TABLE t USING fts4(title, body)" << fts;
    QTest::newRow("fts3") << "CREATE VIRTUAL TABLE t USING fts3(title, body)" << fts;
    QTest::newRow("rtree") << "CREATE VIRTUAL TABLE t USING rtree(id, x0, x1, y0, y1)"
                           << QStringList{
                                  "SELECT id FROM t WHERE x0 >= 10 AND x1 <= 20 ORDER BY id",
                                  "SELECT count(*) FROM t WHERE y0 > 300",
                                  "SELECT id, x0, y1 FROM t WHERE id = 77"};
  }

  void virtualTables() {
    QFETCH(QString, create);
    QFETCH(QStringList, queries);
    const QString folder = NewTestFolder("virtual");
    const QString source = folder + "/virtual.db";
    const bool rtree = create.contains("rtree");
    {
      DbBuilder db(source);
      db.Exec("CREATE TABLE before_it(a TEXT)");
      db.Exec(create);
      db.Exec("CREATE TABLE after_it(b INTEGER)");
      db.Begin();
      for (int i = 1; i <= 250; ++i) {
        if (rtree)
          db.Run("INSERT INTO t VALUES (?1, ?2, ?3, ?4, ?5)", {i, i, i + 1, i * 2, i * 2 + 1});
        else
          db.Run("INSERT INTO t(rowid, title, body) VALUES (?1, ?2, ?3)",
                 {i, QString("title %1").arg(i), QString("body word%1 common").arg(i)});
        db.Insert("before_it", {QString("x%1").arg(i)});
        db.Insert("after_it", {i});
      }
      db.Commit();
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    {
      CSQLiteRecovery engine;
      engine.ScanDatabase(source);
      engine.BuildWorkingDatabase();
      QVERIFY(engine.TableNames().contains("t"));
      QVERIFY(ObjectTreeNote(engine, ObjectKind::Table, "t").startsWith("virtual table"));
      QCOMPARE(ObjectSql(engine, ObjectKind::Table, "t"), create);
    }
    const SaveRun run = SaveAll(source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join('\n')));
    QVERIFY(run.outcomes.value("t").written);
    QCOMPARE(Query(run.path, "SELECT sql FROM sqlite_schema WHERE name = 't'"), create);
    for (const QString& sql : queries) {
      const QString want = Query(source, sql);
      QVERIFY2(!want.isEmpty() && !want.startsWith("error"), qPrintable(want));
      QCOMPARE(Query(run.path, sql), want);
    }
    QCOMPARE(Query(run.path, "SELECT count(*) FROM after_it"), QStringLiteral("250"));
    QCOMPARE(Query(run.path, "PRAGMA integrity_check"), QStringLiteral("ok"));
  }

  void unknownModuleIsReported() {
    const QString folder = NewTestFolder("module");
    const QString source = folder + "/module.db";
    {
      // A virtual table of a module only its own application has, and the
      // table that module keeps its rows in.
      DbBuilder db(source);
      db.Exec("CREATE TABLE odd_data(id INTEGER PRIMARY KEY, block BLOB)");
      for (int i = 1; i <= 20; ++i) db.Insert("odd_data", {i, QByteArray(8, char(i))});
      db.Exec("PRAGMA writable_schema = ON");
      db.Exec(
          "INSERT INTO sqlite_schema VALUES('table', 'odd', 'odd', 0, "
          "'CREATE VIRTUAL TABLE odd USING mystery(a, b)')");
      db.Exec("PRAGMA writable_schema = OFF");
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    const ToolResult r = Tool({"save", source, folder + "/out"});
    QCOMPARE(r.code, 3);
    QString oddLine, dataLine;
    for (const QString& line : r.out.split('\n')) {
      if (line.startsWith("table\todd\t")) oddLine = line;
      if (line.startsWith("table\todd_data\t")) dataLine = line;
    }
    QVERIFY2(oddLine.contains("not saved") && oddLine.contains("mystery") &&
                 oddLine.contains("CREATE VIRTUAL TABLE odd USING mystery(a, b)"),
             qPrintable(r.out));
    QVERIFY2(dataLine.startsWith("table\todd_data\tsaved, 20 records"), qPrintable(r.out));
    const QString saved = folder + "/out/module.db";
    QCOMPARE(Query(saved, "SELECT count(*) FROM odd_data"), QStringLiteral("20"));
    QCOMPARE(Query(saved, "SELECT count(*) FROM sqlite_schema WHERE name = 'odd'"),
             QStringLiteral("0"));
  }
};

QTEST_GUILESS_MAIN(SchemaRecoveryTest)
#include "tst_schemarecovery.moc"
