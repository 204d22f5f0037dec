// Schema recovery: tables whose CREATE statement was damaged in the file,
// virtual tables recreated with their shadow tables, and virtual tables of a
// module the program does not run. Every table is checked against SQLite's
// reading of the intact file.
#include <sqlite3.h>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <cstring>

#include "engine/session/SQLiteRecovery.h"
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
  for (const PlannedObject& object : MakeSavePlan(
           CategoryNames(engine, ObjectKind::Table), CategoryNames(engine, ObjectKind::View),
           CategoryNames(engine, ObjectKind::Trigger), CategoryNames(engine, ObjectKind::Index))) {
    const ObjectOutcome outcome =
        DispatchObject(engine, NoProgress(), ObjectRef{object.kind, object.name}, target);
    run.outcomes.insert(object.name, outcome);
    if (!outcome.written || !outcome.error.isEmpty() || outcome.stopped)
      run.failures << object.name + ": " + outcome.error;
  }
  target.Close();
  return run;
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
    for (int v = 0; same && v < row.values.size(); ++v) {
      // A column rebuilt without a declared type keeps the record's integer
      // where a REAL column reads it as the equal real.
      const RefValue& w = want.rows[at].values[v];
      const RefValue& g = row.values[v];
      same = SameValue(w, g) ||
             (got.declaredTypes.value(v).isEmpty() && g.storage == StorageClass::Integer &&
              w.storage == StorageClass::Real && double(g.intValue) == w.realValue);
    }
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
    // The tool says what was done about the damaged statement, not the
    // library's complaint about its text.
    const ToolResult listed = Tool({"list", damaged});
    QCOMPARE(listed.code, 0);
    QVERIFY2(
        !listed.err.contains("SQL error") &&
            listed.err.contains("table people: its CREATE TABLE statement is damaged; rebuilt"),
        qPrintable(listed.err));

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

  // A damaged statement of a table with indexes: every definition the
  // damage spared is used wherever it stands, the rowid alias is found, a
  // column whose name was hit is named from an index whose entries hold its
  // values, and the indexes are made in the saved file.
  void rebuiltKeepsShape_data() {
    QTest::addColumn<QString>("hit");     // the text whose first four bytes are overwritten
    QTest::addColumn<bool>("namesKept");  // every column keeps its name

    QTest::newRow("the opening parenthesis") << "(\n" << true;
    QTest::newRow("an indexed column's name") << "customer TEXT" << true;
    QTest::newRow("the key column's name") << "id INTEGER" << false;
    QTest::newRow("the comma before an indexed column") << ",\n    customer" << false;
    QTest::newRow("a comma past the middle") << ",\n    note" << false;
  }

  void rebuiltKeepsShape() {
    QFETCH(QString, hit);
    QFETCH(bool, namesKept);
    const QString create =
        "CREATE TABLE orders (\n    id INTEGER PRIMARY KEY,\n    customer TEXT NOT NULL,\n"
        "    placed_at TEXT,\n    total REAL,\n    quantity INTEGER,\n"
        "    status TEXT DEFAULT 'new',\n    note TEXT,\n    weight REAL,\n    payload BLOB\n)";
    const QString folder = NewTestFolder("rebuiltshape");
    const QString intact = folder + "/intact.db";
    const QString damaged = folder + "/damaged.db";
    {
      DbBuilder db(intact);
      db.Exec(create);
      db.Exec(
          "CREATE INDEX orders_customer ON orders(customer, placed_at);"
          "CREATE INDEX orders_status ON orders(status)");
      db.Begin();
      for (int i = 1; i <= 300; ++i)
        db.Insert("orders", {i * 3, QString("customer %1").arg(i % 37),
                             QString("2024-%1-%2").arg(1 + i % 12).arg(1 + i % 28), i * 1.25, i % 7,
                             i % 5 == 0 ? "paid" : "new",
                             i % 4 == 0 ? QVariant() : QVariant(QString("note %1").arg(i)), i / 8.0,
                             QByteArray(i % 11, char(i))});
      db.Commit();
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    QVERIFY(CopyDatabase(intact, damaged));
    const int at = create.indexOf(hit);
    QVERIFY(at >= 0);
    QVERIFY(DamageSchemaSql(damaged, "orders", at, 4, '#'));

    const SaveRun run = SaveAll(damaged, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join('\n')));
    const RefTable want = ReadReferenceTable(intact, "orders");
    const RefTable got = ReadReferenceTable(run.path, "orders");
    QVERIFY2(got.error.isEmpty(), qPrintable(got.error));
    QCOMPARE(got.columns.size(), want.columns.size());
    if (namesKept) QCOMPARE(got.columns, want.columns);
    QCOMPARE(got.rowidAlias, 0);
    const RowCount rows = CompareRows(want, got);
    QVERIFY2(rows.wrong == 0, qPrintable(rows.firstWrong));
    QCOMPARE(rows.recovered, rows.wanted);
    for (const QString& index : {"orders_customer", "orders_status"})
      QCOMPARE(Query(run.path, "SELECT count(*) FROM sqlite_schema WHERE name = '" + index + "'"),
               QStringLiteral("1"));
    QCOMPARE(Query(run.path, "PRAGMA integrity_check"), QStringLiteral("ok"));
    const ToolResult r = Tool({"save", damaged, folder + "/tool"});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
  }

  // Records whose values have a storage class their column's declared type
  // would change (the file's statement was edited after they were written):
  // saved as the file holds them and counted, or, where a STRICT table
  // refuses them, left out with the reason in the table's note.
  void valuesAgainstTheirColumn_data() {
    QTest::addColumn<QString>("made");    // the statement the rows were written under
    QTest::addColumn<QString>("stored");  // the statement the file then holds
    // The value written into column v of row 7, and what the other rows hold
    // there: "integer" or "text".
    QTest::addColumn<QVariantList>("odd");
    QTest::addColumn<QString>("note");
    const QString made = "CREATE TABLE t(id INTEGER PRIMARY KEY, v, w TEXT)";
    QTest::newRow("a numeric text in an INTEGER column")
        << made << "CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER, w TEXT)"
        << QVariantList{QString("2"), "text"} << "1 values of a type their column does not declare";
    QTest::newRow("an integer in a TEXT column")
        << made << "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT NOT NULL, w TEXT)"
        << QVariantList{5, "text"} << "1 values of a type their column does not declare";
    QTest::newRow("a whole real in a NUMERIC column")
        << made << "CREATE TABLE t(id INTEGER PRIMARY KEY, v DECIMAL(10, 2), w TEXT)"
        << QVariantList{3.0, "text"} << "1 values of a type their column does not declare";
    QTest::newRow("a blob in a STRICT table's INTEGER column")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v ANY, w TEXT) STRICT"
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER, w TEXT) STRICT"
        << QVariantList{QByteArray("\x01\x02", 2), "integer"} << "1 records are not kept";
  }

  void valuesAgainstTheirColumn() {
    QFETCH(QString, made);
    QFETCH(QString, stored);
    QFETCH(QVariantList, odd);
    QFETCH(QString, note);
    const QString folder = NewTestFolder("foreignvalues");
    const QString source = folder + "/source.db";
    {
      DbBuilder db(source);
      db.Exec(made);
      for (int i = 1; i <= 40; ++i)
        db.Insert("t", {i,
                        i == 7                              ? odd.at(0)
                        : odd.at(1).toString() == "integer" ? QVariant(i)
                                                            : QVariant(QString("v %1").arg(i)),
                        QString("w %1").arg(i)});
      db.Exec("PRAGMA writable_schema = ON");
      db.Run("UPDATE sqlite_schema SET sql = ?1 WHERE name = 't'", {stored});
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    const SaveRun run = SaveAll(source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join('\n')));
    const QString saidNote = run.outcomes.value("t").note;
    QVERIFY2(saidNote.contains(note), qPrintable(saidNote));
    QCOMPARE(Query(run.path, "SELECT sql FROM sqlite_schema WHERE name = 't'"), stored);
    const RefTable want = ReadReferenceTable(source, "t");
    const RefTable got = ReadReferenceTable(run.path, "t");
    const RowCount rows = CompareRows(want, got);
    QVERIFY2(rows.wrong == 0, qPrintable(rows.firstWrong));
    const bool refused = stored.contains("STRICT");
    QCOMPARE(rows.recovered, rows.wanted - (refused ? 1 : 0));
    QCOMPARE(run.outcomes.value("t").records, std::int64_t(rows.recovered));
    // The library's check finds in the saved file what it finds in the source.
    if (!refused)
      QCOMPARE(Query(run.path, "PRAGMA integrity_check"), Query(source, "PRAGMA integrity_check"));
  }

  void virtualTables_data() {
    QTest::addColumn<QString>("create");
    QTest::addColumn<QStringList>("queries");
    QTest::addColumn<QString>("older");  // the shadow statements an older library wrote
    const QStringList fts = {"SELECT rowid FROM t WHERE t MATCH 'word17'",
                             "SELECT count(*) FROM t WHERE t MATCH 'common'",
                             "SELECT rowid FROM t WHERE t MATCH 'body AND word2*' ORDER BY rowid"};
    const QStringList boxes = {"SELECT id FROM t WHERE x0 >= 10 AND x1 <= 20 ORDER BY id",
                               "SELECT count(*) FROM t WHERE y0 > 300",
                               "SELECT id, x0, y1 FROM t WHERE id = 77"};
    const QString rtree = "CREATE VIRTUAL TABLE t USING rtree(id, x0, x1, y0, y1)";
    QTest::newRow("fts5") << "CREATE VIRTUAL TABLE t USING fts5(title, body)" << fts << "";
    QTest::newRow("fts5 contentless")
        << "CREATE VIRTUAL TABLE t USING fts5(title, body, content='')" << fts << "";
    QTest::newRow("fts4") << "CREATE VIRTUAL TABLE t USING fts4(title, body)" << fts << "";
    QTest::newRow("fts3") << "CREATE VIRTUAL TABLE t USING fts3(title, body)" << fts << "";
    QTest::newRow("rtree") << rtree << boxes << "";
    QTest::newRow("rtree of an older library")
        << rtree << boxes
        << "UPDATE sqlite_schema SET sql = CASE name "
           "WHEN 't_node' THEN 'CREATE TABLE \"t_node\"(nodeno INTEGER PRIMARY KEY, data BLOB)' "
           "WHEN 't_rowid' THEN 'CREATE TABLE \"t_rowid\"(rowid INTEGER PRIMARY KEY, nodeno "
           "INTEGER)' "
           "ELSE 'CREATE TABLE \"t_parent\"(nodeno INTEGER PRIMARY KEY, parentnode INTEGER)' END "
           "WHERE name IN ('t_node', 't_rowid', 't_parent')";
  }

  void virtualTables() {
    QFETCH(QString, create);
    QFETCH(QStringList, queries);
    QFETCH(QString, older);
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
      if (!older.isEmpty()) db.Exec("PRAGMA writable_schema = ON; " + older);
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
    // Every statement as the file holds it, the shadow tables' included.
    const QString schema = "SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY name";
    QCOMPARE(Query(run.path, schema), Query(source, schema));
    for (const QString& sql : queries) {
      const QString want = Query(source, sql);
      QVERIFY2(!want.isEmpty() && !want.startsWith("error"), qPrintable(want));
      QCOMPARE(Query(run.path, sql), want);
    }
    QCOMPARE(Query(run.path, "SELECT count(*) FROM after_it"), QStringLiteral("250"));
    QCOMPARE(Query(run.path, "PRAGMA integrity_check"), QStringLiteral("ok"));
  }

  // Every count the tool prints is what the saved file holds; a full-text
  // index whose documents were lost is kept as the file holds it, not
  // rebuilt from the documents that remain.
  void ftsIndexKeptWhenDocumentsLost() {
    const QString folder = NewTestFolder("ftslost");
    const QString intact = folder + "/intact.db";
    const QString damaged = folder + "/damaged.db";
    {
      DbBuilder db(intact);
      db.Exec("CREATE VIRTUAL TABLE words USING fts3(body); CREATE TABLE notes(a TEXT)");
      for (int i = 1; i <= 3; ++i) {  // one index segment each
        db.Run("INSERT INTO words(body) VALUES (?1)", {QString("word%1 shared").arg(i)});
        db.Insert("notes", {QString("note %1").arg(i)});
      }
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    QVERIFY(CopyDatabase(intact, damaged));
    const QString root =
        Query(intact, "SELECT rootpage FROM sqlite_schema WHERE name = 'words_content'");
    QVERIFY(root.toLongLong() > 1);
    QVERIFY(ZeroPage(damaged, root.toLongLong()));
    const ToolResult r = Tool({"save", damaged, folder + "/out"});
    const QString saved = folder + "/out/damaged.db";
    int counted = 0;
    for (const QString& line : r.out.split('\n')) {
      static const QRegularExpression pattern("^table\t([^\t]+)\tsaved, ([0-9]+) records");
      const QRegularExpressionMatch m = pattern.match(line);
      if (!m.hasMatch()) continue;
      ++counted;
      QCOMPARE(Query(saved, "SELECT count(*) FROM \"" + m.captured(1) + "\""), m.captured(2));
    }
    QVERIFY2(counted >= 5, qPrintable(r.out));
    const QString segments = "SELECT level, idx, hex(root) FROM words_segdir ORDER BY 1, 2";
    QCOMPARE(Query(saved, segments), Query(intact, segments));
    QCOMPARE(Query(saved, "SELECT count(*) FROM words_segdir"), QStringLiteral("3"));
  }

  // A virtual table of a module, or a tokenizer, that only its application
  // has: its schema row is saved as the file holds it, its shadow tables
  // with their own statements and rows.
  void modulesTheLibraryLacks_data() {
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("stored");  // run with writable_schema: what the application made
    QTest::addColumn<QString>("why");     // in the virtual tables' report lines
    QTest::addColumn<QString>("query");   // answered with the application's tokenizer
    QString rows;
    for (int i = 1; i <= 20; ++i)
      rows += QString("INSERT INTO odd_data VALUES (%1, randomblob(%1));").arg(i);
    QTest::newRow("a module the library lacks")
        << "CREATE TABLE odd_data(id INTEGER PRIMARY KEY, block BLOB);" + rows
        << "INSERT INTO sqlite_schema VALUES('table', 'odd', 'odd', 0, "
           "'CREATE VIRTUAL TABLE odd USING mystery(a, b)')"
        << "module \"mystery\""
        << "";
    QString mail =
        "CREATE VIRTUAL TABLE mail USING fts3(subject, body, tokenize simple);"
        "CREATE VIRTUAL TABLE senders USING fts3(address, tokenize simple);";
    for (int i = 1; i <= 60; ++i)
      mail += QString(
                  "INSERT INTO mail VALUES ('subject %1', 'body word%1 text');"
                  "INSERT INTO senders VALUES ('person%1 example');")
                  .arg(i);
    QTest::newRow("fts3 with the application's own tokenizer")
        << mail
        << "UPDATE sqlite_schema SET sql = replace(sql, 'tokenize simple', 'tokenize mailtok') "
           "WHERE rootpage = 0"
        << "unknown tokenizer"
        << "SELECT rowid FROM mail WHERE mail MATCH 'word17 OR word3'";
  }

  void modulesTheLibraryLacks() {
    QFETCH(QString, build);
    QFETCH(QString, stored);
    QFETCH(QString, why);
    QFETCH(QString, query);
    const QString folder = NewTestFolder("module");
    const QString source = folder + "/module.db";
    {
      DbBuilder db(source);
      db.Exec(build);
      db.Exec("PRAGMA writable_schema = ON; " + stored);
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    const ToolResult r = Tool({"save", source, folder + "/out"});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    const QString saved = folder + "/out/module.db";
    const QString schema =
        "SELECT type, name, tbl_name, rootpage = 0, sql FROM sqlite_schema ORDER BY name";
    QCOMPARE(Query(saved, schema), Query(source, schema));
    int virtualLines = 0;
    for (const QString& line : r.out.split('\n')) {
      const QString name = line.section('\t', 1, 1);
      if (Query(source, "SELECT rootpage FROM sqlite_schema WHERE name = '" + name + "'") == "0") {
        ++virtualLines;
        QVERIFY2(line.contains("saved") && line.contains(why) &&
                     line.contains("saved as the file holds it"),
                 qPrintable(line));
        continue;
      }
      if (!line.startsWith("table\t")) continue;
      const RowCount rows =
          CompareRows(ReadReferenceTable(source, name), ReadReferenceTable(saved, name));
      QVERIFY2(rows.recovered == rows.wanted && rows.wrong == 0, qPrintable(name));
    }
    QVERIFY2(virtualLines == (query.isEmpty() ? 1 : 2), qPrintable(r.out));
    if (query.isEmpty()) return;
    // The application, with its tokenizer, finds its index whole.
    auto answer = [&](const QString& path) {
      sqlite3* db = nullptr;
      QStringList result;
      sqlite3_open_v2(path.toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr);
      sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 1, nullptr);
      sqlite3_exec(db, "SELECT fts3_tokenizer('mailtok', fts3_tokenizer('simple'))", nullptr,
                   nullptr, nullptr);
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, query.toUtf8(), -1, &st, nullptr) != SQLITE_OK)
        result << QString::fromUtf8(sqlite3_errmsg(db));
      while (st != nullptr && sqlite3_step(st) == SQLITE_ROW)
        result << QString::number(sqlite3_column_int64(st, 0));
      sqlite3_finalize(st);
      sqlite3_close(db);
      return result.join(',');
    };
    QCOMPARE(answer(saved), QStringLiteral("3,17"));
    QCOMPARE(answer(saved), answer(source));
  }
};

QTEST_GUILESS_MAIN(SchemaRecoveryTest)
#include "tst_schemarecovery.moc"
