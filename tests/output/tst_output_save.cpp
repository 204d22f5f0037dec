// Save and display of recovered tables: round trips compared with SQLite's
// own reading of the intact file, the recovered database's refusals, display
// mode through recorders, and stops in the middle of a save.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <csignal>
#include <cstring>

#include "engine/core/SqlQuote.h"
#include "engine/schema/StandIns.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/BufferedVfs.h"
#include "output/ColumnStores.h"
#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"
#include "output/TableExtraction.h"
#include "platform/TempFolder.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using Maker = QString (*)(const QString&, const DbOptions&);

// Opens `source` as the Open command does.
void Scan(CSQLiteRecovery& engine, const QString& source) {
  engine.ScanDatabase(source);
  engine.BuildWorkingDatabase();
}

struct SaveRun {
  QString path;  // the recovered database
  QList<ObjectOutcome> outcomes;
  QStringList failures;  // "name: error" of every object not written cleanly
};

// Saves every object of the tree into `folder`, in the Save command's order.
SaveRun SaveAll(CSQLiteRecovery& engine, const QString& source, const QString& folder,
                IProgress& progress = NoProgress()) {
  SaveRun run;
  QString error;
  const QString fileName = QFileInfo(source).fileName();
  RecoveredDatabase target;
  if (!target.Open(engine, folder, fileName, &error)) {
    run.failures << "open: " + error;
    return run;
  }
  run.path = folder + "/" + fileName;
  const std::vector<PlannedObject> plan = MakeSavePlan(
      CategoryNames(engine, ObjectKind::Table), CategoryNames(engine, ObjectKind::View),
      CategoryNames(engine, ObjectKind::Trigger), CategoryNames(engine, ObjectKind::Index));
  for (const PlannedObject& object : plan) {
    const ObjectOutcome outcome =
        DispatchObject(engine, progress, ObjectRef{object.kind, object.name}, target);
    run.outcomes << outcome;
    if (!outcome.written || !outcome.error.isEmpty() || outcome.stopped)
      run.failures << object.name + ": " + outcome.error;
  }
  target.Close();
  return run;
}

QString Show(const RefValue& v) {
  switch (v.storage) {
    case StorageClass::Null:
      return "NULL";
    case StorageClass::Integer:
      return QString::number(v.intValue);
    case StorageClass::Real:
      return QString::number(v.realValue, 'g', 17);
    case StorageClass::Text:
      return "text " + Describe(v.bytes);
    case StorageClass::Blob:
      return "blob " + Describe(v.bytes);
  }
  return {};
}

// Empty when table `name` reads the same from both files: same rows in the
// same order, same rowids, every value of the same storage class and content.
// With `prefixOnly` the recovered table may hold only the first rows.
QString CompareTable(const QString& source, const QString& recovered, const QString& name,
                     bool prefixOnly = false) {
  const RefTable want = ReadReferenceTable(source, name);
  const RefTable got = ReadReferenceTable(recovered, name);
  if (!want.error.isEmpty()) return "source: " + want.error;
  if (!got.error.isEmpty()) return "recovered: " + got.error;
  if (got.columns != want.columns) return "columns " + got.columns.join(",");
  if (prefixOnly ? got.rows.size() > want.rows.size() : got.rows.size() != want.rows.size())
    return QString("%1 rows instead of %2").arg(got.rows.size()).arg(want.rows.size());
  for (int r = 0; r < got.rows.size(); ++r) {
    const RefRow& a = want.rows[r];
    const RefRow& b = got.rows[r];
    if (!want.withoutRowid && a.rowid != b.rowid)
      return QString("row %1: rowid %2 instead of %3").arg(r).arg(b.rowid).arg(a.rowid);
    if (a.values.size() != b.values.size()) return QString("row %1: value count").arg(r);
    for (int v = 0; v < a.values.size(); ++v) {
      if (!SameValue(a.values[v], b.values[v]))
        return QString("row %1 column %2: %3 instead of %4")
            .arg(r)
            .arg(want.columns.value(v), Show(b.values[v]), Show(a.values[v]));
    }
  }
  return {};
}

QString Pragma(const QString& path, const char* sql) {
  sqlite3* db = nullptr;
  QString result;
  if (sqlite3_open_v2(path.toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

QString MakeRowidsDatabase(const QString& path, const DbOptions& options) {
  DbBuilder db(path, options);
  db.Exec(
      "CREATE TABLE plain (x TEXT, y);"
      "CREATE TABLE shadowed (rowid TEXT, oid INTEGER, v);"
      "CREATE TABLE pairs (a INTEGER, b INTEGER, note TEXT, PRIMARY KEY (a, b));"
      "CREATE TABLE wr (k2 TEXT, v TEXT, k1 INTEGER, PRIMARY KEY (k1, k2)) WITHOUT ROWID;"
      "CREATE TABLE gen (a INTEGER, b INTEGER GENERATED ALWAYS AS (a * 2) STORED,"
      " c INTEGER GENERATED ALWAYS AS (a + 1) VIRTUAL, d TEXT);"
      "CREATE TABLE \"O'Hara's\" (\"a b\" TEXT, \"select\" INTEGER, \"q\"\"uote\" REAL);"
      "CREATE TABLE \"[br]\" (\"x\" INTEGER);"
      "CREATE TABLE alias (id integer PRIMARY KEY, v TEXT);");
  db.Insert("alias", {9, "i"});
  db.Insert("alias", {3, "c"});
  db.Run("INSERT INTO plain (rowid, x, y) VALUES (?1, ?2, ?3)", {5, "five", 5.5});
  db.Run("INSERT INTO plain (rowid, x, y) VALUES (?1, ?2, ?3)", {10, "O'Brien", QVariant()});
  db.Run("INSERT INTO plain (rowid, x, y) VALUES (?1, ?2, ?3)",
         {qint64(1) << 40, "/tmp/ZORSQLI-0/not-a-file", QByteArray("\x00\x01", 2)});
  db.Run("INSERT INTO plain (rowid, x, y) VALUES (?1, ?2, ?3)", {-7, "negative rowid", 1});
  db.Run("INSERT INTO shadowed (_rowid_, rowid, oid, v) VALUES (?1, ?2, ?3, ?4)",
         {42, "r", 1, "v"});
  db.Run("INSERT INTO shadowed (_rowid_, rowid, oid, v) VALUES (?1, ?2, ?3, ?4)", {7, "s", 2, "w"});
  db.Insert("pairs", {1, 2, "one two"});
  db.Insert("pairs", {2, 1, "two one"});
  db.Insert("wr", {"b", "vb", 1});
  db.Insert("wr", {"a", "va", 2});
  db.Insert("wr", {"a", "say \"hi\"", 1});
  db.Run("INSERT INTO gen (a, d) VALUES (?1, ?2)", {3, "three"});
  db.Run("INSERT INTO gen (a, d) VALUES (?1, ?2)", {4, "four"});
  db.Insert("O'Hara's", {"x'y", 1, 2.25});
  db.Insert("[br]", {9});
  db.Close();
  return db.Ok() ? QString() : db.LastError();
}

// Records written before columns were added: SQLite reads the added
// columns' defaults for them.
QString MakeAddedColumnsDatabase(const QString& path, const DbOptions& options) {
  DbBuilder db(path, options);
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, a TEXT)");
  for (int i = 1; i <= 5; ++i) db.Insert("t", {i, QString("old %1").arg(i)});
  db.Exec("ALTER TABLE t ADD COLUMN s TEXT DEFAULT 'it''s'");
  db.Exec("ALTER TABLE t ADD COLUMN n INTEGER DEFAULT 42");
  db.Exec("ALTER TABLE t ADD COLUMN r REAL DEFAULT -1.5");
  db.Exec("ALTER TABLE t ADD COLUMN z BLOB");
  db.Exec("ALTER TABLE t ADD COLUMN nn TEXT NOT NULL DEFAULT 'x'");
  db.Exec("ALTER TABLE t ADD COLUMN neg INTEGER DEFAULT -3");
  db.Insert("t", {6, "new", "s", 1, 2.0, QByteArray("b"), "y", 0});
  db.Close();
  return db.Ok() ? QString() : db.LastError();
}

// Stand-ins for the application's own collations and function: LOCALIZED
// and UNICODE compare like the real ones would not (reverse order), myfunc
// multiplies by ten, so that a recomputed value would differ from a stored one.
int ReverseCollation(void*, int n1, const void* a, int n2, const void* b) {
  const int c = std::memcmp(b, a, static_cast<size_t>(std::min(n1, n2)));
  return c != 0 ? c : n2 - n1;
}
void TimesTen(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) * 10);
}

// Builds `path` the way the owning application would, with its own
// collations and function registered, and runs `sql`.
bool BuildOwnerDb(const QString& path, const QString& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) return false;
  for (const char* name : {"LOCALIZED", "UNICODE"})
    sqlite3_create_collation(db, name, SQLITE_UTF8, nullptr, ReverseCollation);
  sqlite3_create_function(db, "myfunc", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, TimesTen,
                          nullptr, nullptr);
  char* error = nullptr;
  const bool ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) == SQLITE_OK;
  if (!ok) qWarning("BuildOwnerDb: %s", error);
  sqlite3_free(error);
  sqlite3_close(db);
  return ok;
}

// The schema rows and every table's rows (rowid, then each value's type and
// bytes), read as an application without the owner's collations and
// functions would read the file, with stand-ins for them.
QStringList DumpWithStandIns(const QString& path) {
  QStringList lines;
  sqlite3* db = nullptr;
  sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
  InstallStandInCollations(db);
  sqlite3_create_function(
      db, "myfunc", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
      [](sqlite3_context* c, int, sqlite3_value**) { sqlite3_result_null(c); }, nullptr, nullptr);
  auto rows = [&](const QString& sql, QStringList* out) {
    sqlite3_stmt* stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK) {
      *out << QStringLiteral("error: %1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
      return false;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      QStringList cells;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const int type = sqlite3_column_type(stmt, c);
        const QByteArray bytes(static_cast<const char*>(sqlite3_column_blob(stmt, c)),
                               sqlite3_column_bytes(stmt, c));
        cells << QString::number(type) + QLatin1Char(':') + QString::fromLatin1(bytes.toHex());
      }
      *out << cells.join(QLatin1Char('|'));
    }
    sqlite3_finalize(stmt);
    return true;
  };
  QStringList tables;
  rows(QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY type, name"),
       &lines);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name", -1,
                     &stmt, nullptr);
  while (sqlite3_step(stmt) == SQLITE_ROW)
    tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  for (const QString& table : tables) {
    lines << QStringLiteral("table ") + table;
    QStringList withRowid;
    if (!rows(QStringLiteral("SELECT _rowid_, * FROM ") + QuoteIdentifier(table), &withRowid))
      rows(QStringLiteral("SELECT * FROM ") + QuoteIdentifier(table), &lines);
    else
      lines << withRowid;
  }
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  while (sqlite3_step(check) == SQLITE_ROW)
    lines << QStringLiteral("integrity: ") +
                 QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)));
  sqlite3_finalize(check);
  sqlite3_close(db);
  return lines;
}
}  // namespace

class OutputSaveTest : public QObject {
  Q_OBJECT

 private slots:
  void roundTrip_data() {
    QTest::addColumn<void*>("maker");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("reserved");
    const struct {
      const char* name;
      Maker maker;
    } samples[] = {
        {"shop", MakeShopDatabase},          {"odd names", MakeOddNamesDatabase},
        {"all types", MakeAllTypesDatabase}, {"long values", MakeLongValuesDatabase},
        {"rowids", MakeRowidsDatabase},      {"added columns", MakeAddedColumnsDatabase}};
    for (const auto& s : samples) {
      for (int enc = 1; enc <= 3; ++enc) {
        QTest::addRow("%s utf%d 4096", s.name, enc)
            << reinterpret_cast<void*>(s.maker) << 4096 << enc << 0;
      }
      QTest::addRow("%s 512 reserved 8", s.name)
          << reinterpret_cast<void*>(s.maker) << 512 << 1 << 8;
      QTest::addRow("%s 65536", s.name) << reinterpret_cast<void*>(s.maker) << 65536 << 2 << 0;
    }
  }
  void roundTrip() {
    QFETCH(void*, maker);
    QFETCH(int, pageSize);
    QFETCH(int, encoding);
    QFETCH(int, reserved);
    DbOptions options;
    options.pageSize = pageSize;
    options.encoding = static_cast<TextEncoding>(encoding);
    options.reservedBytes = reserved;
    const QString folder = NewTestFolder("rt");
    const QString source = folder + "/source.db";
    const QString made = reinterpret_cast<Maker>(maker)(source, options);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const QByteArray before = [&] {
      QFile f(source);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();

    CSQLiteRecovery engine;
    Scan(engine, source);
    QVERIFY(!engine.TableNames().isEmpty());
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join("\n")));

    const RefSchema want = ReadReferenceSchema(source);
    const RefSchema got = ReadReferenceSchema(run.path);
    auto sorted = [](QStringList l) {
      l.sort();
      return l;
    };
    QCOMPARE(sorted(got.tables), sorted(want.tables));
    QCOMPARE(sorted(got.views), sorted(want.views));
    QCOMPARE(sorted(got.triggers), sorted(want.triggers));
    QCOMPARE(sorted(got.indexes), sorted(want.indexes));
    for (const QString& table : want.tables) {
      const QString diff = CompareTable(source, run.path, table);
      QVERIFY2(diff.isEmpty(), qPrintable(table + ": " + diff));
    }
    QCOMPARE(Pragma(run.path, "PRAGMA encoding"), Pragma(source, "PRAGMA encoding"));
    QCOMPARE(Pragma(run.path, "PRAGMA integrity_check"), QStringLiteral("ok"));
    QFile f(source);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == before);  // the source is only read
  }

  // Schemas that the SQLite library alone cannot replay, and names and
  // statements that a comma-joined row text used to cut: every object and
  // every row comes back, statements byte for byte.
  void schemasKeptExactly_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("note");
    QTest::newRow("names with commas, quotes, brackets, tabs and line breaks")
        << "CREATE TABLE \",\"(x); CREATE TABLE \"a,b\"(x, y); CREATE TABLE \"O'Hara\"(x);"
           "CREATE TABLE \"x\"\"y\"(x); CREATE TABLE [br](x); CREATE TABLE \"t\tab\"(x);"
           "CREATE TABLE \"new\nline\"(x); CREATE INDEX \"i,1\" ON \"a,b\"(y);"
           "CREATE VIEW \"v,w\" AS SELECT * FROM \"a,b\";"
           "CREATE TRIGGER \"t,r\" AFTER INSERT ON \",\" BEGIN SELECT 1; END;"
           "INSERT INTO \",\" VALUES (1); INSERT INTO \"a,b\" VALUES ('p,q', 2);"
           "INSERT INTO \"O'Hara\" VALUES ('it''s'); INSERT INTO \"x\"\"y\" VALUES (3);"
           "INSERT INTO [br] VALUES (4); INSERT INTO \"t\tab\" VALUES (5);"
           "INSERT INTO \"new\nline\" VALUES (6);"
        << "";
    QTest::newRow("collations the library does not know")
        << "CREATE TABLE c(a TEXT COLLATE LOCALIZED UNIQUE, b TEXT COLLATE UNICODE);"
           "CREATE INDEX cb ON c(b COLLATE LOCALIZED);"
           "INSERT INTO c VALUES ('b', 'y'), ('a', 'x'), ('c', 'z');"
        << "REINDEX";
    QTest::newRow("a CHECK and a stored generated column calling the application's function")
        << "CREATE TABLE f(a INTEGER, v CHECK(myfunc(v) > 0), g INTEGER GENERATED ALWAYS AS "
           "(myfunc(a)) STORED, h AS (myfunc(a) + 1) VIRTUAL);"
           "INSERT INTO f(a, v) VALUES (1, 1), (2, 5), (3, 7);"
        << "generated columns keep the values the file holds";
    QTest::newRow("rows that break a CHECK constraint")
        << "CREATE TABLE k(v INTEGER CHECK(v > 0)); PRAGMA ignore_check_constraints = 1;"
           "INSERT INTO k VALUES (-1), (5), (-7);"
        << "2 records break a CHECK constraint";
    QTest::newRow("statements ending in blanks")
        << "CREATE TABLE t(a, b) ; CREATE INDEX i ON t(a)  ;"
           "CREATE TABLE w(k PRIMARY KEY, v) WITHOUT ROWID ;"
           "INSERT INTO t VALUES (1, 2); INSERT INTO w VALUES ('k', 'v');"
        << "";
  }
  void schemasKeptExactly() {
    QFETCH(QString, sql);
    QFETCH(QString, note);
    const QString folder = NewTestFolder("exact");
    const QString source = folder + "/owner.db";
    QVERIFY(BuildOwnerDb(source, sql));
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join("\n")));
    QStringList notes;
    for (const ObjectOutcome& o : run.outcomes)
      if (!o.note.isEmpty()) notes << o.note;
    if (!note.isEmpty()) QVERIFY2(notes.join("\n").contains(note), qPrintable(notes.join("\n")));
    // The same schema and rows. The saved file's indexes are sound in the
    // stand-ins' order (the source's follow its owner's collations), and
    // rows that break a CHECK are there in both.
    QStringList want = DumpWithStandIns(source);
    QStringList got = DumpWithStandIns(run.path);
    const QStringList integrity = got.filter(QRegularExpression("^integrity: "));
    for (const QString& line : integrity)
      QVERIFY2(line == "integrity: ok" || line.contains("CHECK constraint failed"),
               qPrintable(line));
    want.removeIf([](const QString& l) { return l.startsWith("integrity: "); });
    got.removeIf([](const QString& l) { return l.startsWith("integrity: "); });
    QCOMPARE(got, want);
  }

  // Rows go into the recovered database several per INSERT; a row that the
  // table refuses inside such a batch costs only itself, and the counts and
  // texts are those of rows inserted one by one. A hundred rows fill three
  // batches; the refused rows (37 and 74) lie inside full ones.
  void rowsRefusedInsideBatches_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("note");
    const QString fill =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
        "INSERT INTO t SELECT i, CASE WHEN i % 37 = 0 THEN %1 ELSE i END, printf('row %d', i) "
        "FROM n;";
    const QString notNull =
        "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
        "'CREATE TABLE t(id INTEGER PRIMARY KEY, v NOT NULL%1, s TEXT)' "
        "WHERE name = 't';";
    QTest::newRow("CHECK broken: saved as the file holds them")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER CHECK(v > 0), s TEXT);"
           "PRAGMA ignore_check_constraints = 1;" +
               fill.arg("-i")
        << 100 << ""
        << "2 records break a CHECK constraint";
    // A CHECK that raises an error decides nothing either: those rows are
    // kept and counted like rows that break it.
    QTest::newRow("CHECK raising malformed JSON")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v CHECK(json(v) IS NOT NULL), s TEXT);"
           "PRAGMA ignore_check_constraints = 1;" +
               fill.arg("'{bad'")
        << 100 << ""
        << "2 records break a CHECK constraint";
    QTest::newRow("CHECK calling load_extension")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v CHECK(v > 0 OR load_extension('none')), s "
           "TEXT);"
           "PRAGMA ignore_check_constraints = 1;" +
               fill.arg("-i")
        << 100 << ""
        << "2 records break a CHECK constraint";
    QTest::newRow("CHECK building a blob larger than the file")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v CHECK(v > 0 OR "
           "length(randomblob(900000000))), s TEXT);"
           "PRAGMA ignore_check_constraints = 1;" +
               fill.arg("-i")
        << 100 << ""
        << "2 records break a CHECK constraint";
    QTest::newRow("NOT NULL broken: those rows refused")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v, s TEXT);" + fill.arg("NULL") + notNull.arg("")
        << 98 << "2 records could not be inserted (NOT NULL constraint failed: t.v)"
        << "";
    QTest::newRow("ON CONFLICT FAIL keeps the rows before the refused one")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v, s TEXT);" + fill.arg("NULL") +
               notNull.arg(" ON CONFLICT FAIL")
        << 98 << "2 records could not be inserted (NOT NULL constraint failed: t.v)"
        << "";
  }
  void rowsRefusedInsideBatches() {
    QFETCH(QString, sql);
    QFETCH(int, records);
    QFETCH(QString, error);
    QFETCH(QString, note);
    const QString folder = NewTestFolder("batch");
    const QString source = folder + "/rows.db";
    QVERIFY(BuildOwnerDb(source, sql));
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QCOMPARE(run.outcomes.size(), 1);
    const ObjectOutcome& outcome = run.outcomes.first();
    QCOMPARE(outcome.records, std::int64_t{records});
    QCOMPARE(outcome.error, error);
    QVERIFY2(outcome.note.contains(note), qPrintable(outcome.note));
    QCOMPARE(Pragma(run.path, "SELECT count(*) FROM t"), QString::number(records));
    QCOMPARE(Pragma(run.path, "SELECT count(*) FROM t WHERE s = 'row ' || id"),
             QString::number(records));
  }

  // A schema row's statement creates only the object of that row's kind and
  // name in the main database, and runs no query: a view, trigger or index
  // row whose statement does anything else is not saved, and the saved file
  // holds the sound objects only.
  void replayedStatementsConfined_data() {
    QTest::addColumn<QString>("row");  // type, name, tbl_name, sql
    QTest::newRow("view row creating a table from an endless query")
        << "'view', 'v', 'v', 'CREATE TABLE v AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
           "SELECT x + 1 FROM c) SELECT x FROM c'";
    QTest::newRow("trigger row creating a table of its own name")
        << "'trigger', 'g', 't', 'CREATE TABLE g AS SELECT 1 AS x'";
    QTest::newRow("TEMP view") << "'view', 'tv', 'tv', 'CREATE TEMP VIEW tv AS SELECT 1'";
    QTest::newRow("TEMP trigger")
        << "'trigger', 'tt', 't', 'CREATE TEMP TRIGGER tt AFTER INSERT ON t BEGIN SELECT 1; END'";
    QTest::newRow("index row creating another index")
        << "'index', 'i2', 't', 'CREATE INDEX other ON t(a)'";
    QTest::newRow("view row creating a trigger")
        << "'view', 'v2', 't', 'CREATE TRIGGER v2 AFTER INSERT ON t BEGIN DELETE FROM t; END'";
  }
  void replayedStatementsConfined() {
    QFETCH(QString, row);
    const QString folder = NewTestFolder("confined");
    const QString source = folder + "/schema.db";
    QVERIFY(BuildOwnerDb(source,
                         "CREATE TABLE t(a, b); INSERT INTO t VALUES (1, 2), (3, 4);"
                         "CREATE VIEW gv AS SELECT a FROM t; CREATE INDEX gi ON t(b);"
                         "CREATE TRIGGER gt AFTER DELETE ON t BEGIN SELECT 1; END;"
                         "PRAGMA writable_schema = ON;"
                         "INSERT INTO sqlite_schema VALUES (" +
                             row + ", 0);"));
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    const QString name = row.section(QLatin1Char('\''), 3, 3);
    QCOMPARE(run.failures.size(), 1);
    QVERIFY2(run.failures.first().startsWith(name + ": "), qPrintable(run.failures.first()));
    QCOMPARE(Pragma(run.path,
                    "SELECT group_concat(type || ' ' || name, ',') FROM "
                    "(SELECT type, name FROM sqlite_schema ORDER BY name)"),
             QStringLiteral("index gi,trigger gt,view gv,table t"));
    QCOMPARE(Pragma(run.path, "SELECT count(*) FROM t"), QStringLiteral("2"));
  }

  // Rows held back for a multi-row INSERT whose rowid is the next one the
  // library would give go in without it; every rowid must still come back
  // exactly: runs, gaps, negative rowids, the largest rowid, a rowid column
  // shadowed by a column's name, rows put in one by one after a refused
  // batch, and AUTOINCREMENT (whose next rowid follows sqlite_sequence).
  void rowidsKeptInBatches_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("refused");
    const QString run =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) ";
    QTest::newRow("a run from 1, then a gap and a run")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT);" + run.arg(200) +
               "INSERT INTO t SELECT CASE WHEN i <= 100 THEN i ELSE i + 1000 END, 'r' || i FROM n;"
        << 0;
    QTest::newRow("negative rowids into positive ones")
        << "CREATE TABLE t(a TEXT, b);" + run.arg(150) +
               "INSERT INTO t(rowid, a, b) SELECT i - 75, 'r' || i, i * 0.5 FROM n;"
        << 0;
    QTest::newRow("one negative rowid, then a run from 1")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v);" + run.arg(100) +
               "INSERT INTO t SELECT CASE WHEN i = 1 THEN -10 ELSE i - 1 END, i FROM n;"
        << 0;
    QTest::newRow("INTEGER PRIMARY KEY DESC: a column beside the rowid")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY DESC, v);" + run.arg(100) +
               "INSERT INTO t(rowid, id, v) SELECT i * 3, 101 - i, i FROM n;"
        << 0;
    QTest::newRow("every other rowid") << "CREATE TABLE t(id INTEGER PRIMARY KEY, v);" +
                                              run.arg(150) + "INSERT INTO t SELECT i * 2, i FROM n;"
                                       << 0;
    QTest::newRow("up to the largest rowid")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v);" + run.arg(100) +
               "INSERT INTO t SELECT 9223372036854775807 - 100 + i, i FROM n;"
        << 0;
    QTest::newRow("rowid shadowed by a column")
        << "CREATE TABLE t(rowid TEXT, v);" + run.arg(100) +
               "INSERT INTO t(_rowid_, rowid, v) SELECT i + 3, 'x' || i, i FROM n;"
        << 0;
    QTest::newRow("a refused row inside a batch")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v);" + run.arg(100) +
               "INSERT INTO t SELECT i, CASE WHEN i = 40 THEN NULL ELSE i END FROM n;"
               "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = "
               "'CREATE TABLE t(id INTEGER PRIMARY KEY, v NOT NULL)' WHERE name = 't';"
        << 1;
    // sqlite_sequence comes after the first AUTOINCREMENT table in the
    // schema, so its rows are saved before those of t.
    QTest::newRow("AUTOINCREMENT with sqlite_sequence ahead")
        << "CREATE TABLE a(id INTEGER PRIMARY KEY AUTOINCREMENT);"
           "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, v);" +
               run.arg(100) +
               "INSERT INTO t SELECT i, i FROM n;"
               "UPDATE sqlite_sequence SET seq = 5000 WHERE name = 't';"
        << 0;
  }
  void rowidsKeptInBatches() {
    QFETCH(QString, sql);
    QFETCH(int, refused);
    const QString folder = NewTestFolder("rowids");
    const QString source = folder + "/rowids.db";
    QVERIFY(BuildOwnerDb(source, sql));
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun saved = SaveAll(engine, source, folder + "/out");
    if (refused == 0) {
      const QString diff = CompareTable(source, saved.path, "t");
      QVERIFY2(diff.isEmpty(), qPrintable(diff));
    } else {
      // The other rows, each with its own rowid and values.
      const QString attach = "ATTACH '" + source + "' AS src; ";
      QCOMPARE(Pragma(saved.path, "SELECT count(*) FROM t").toInt(),
               Pragma(source, "SELECT count(*) FROM t").toInt() - refused);
      sqlite3* db = nullptr;
      QCOMPARE(sqlite3_open(QFile::encodeName(saved.path).constData(), &db), SQLITE_OK);
      QCOMPARE(sqlite3_exec(db, qPrintable(attach), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_stmt* stmt = nullptr;
      QCOMPARE(sqlite3_prepare_v2(db,
                                  "SELECT count(*) FROM (SELECT _rowid_, * FROM main.t "
                                  "EXCEPT SELECT _rowid_, * FROM src.t)",
                                  -1, &stmt, nullptr),
               SQLITE_OK);
      QCOMPARE(sqlite3_step(stmt), SQLITE_ROW);
      QCOMPARE(sqlite3_column_int(stmt, 0), 0);
      sqlite3_finalize(stmt);
      sqlite3_close(db);
    }
    if (sql.contains("AUTOINCREMENT"))
      QCOMPARE(Pragma(saved.path, "SELECT seq FROM sqlite_sequence WHERE name = 't'"),
               QStringLiteral("5000"));
    QCOMPARE(Pragma(saved.path, "PRAGMA integrity_check"), QStringLiteral("ok"));
  }

  // The recovered database's file layer gathers page writes and reads into
  // larger calls. The same statements through it and through the library's
  // own layer leave the same content: spilled transactions, a rolled-back
  // transaction and savepoint (pages written back from the memory journal),
  // CREATE INDEX (sorter files), a blob written in pieces, VACUUM, and
  // auto-vacuum truncating the file.
  void bufferedFilesMatchPlainOnes_data() {
    QTest::addColumn<QString>("sql");
    const QString fill =
        "CREATE TABLE t(a INTEGER PRIMARY KEY, b, c TEXT);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
        "INSERT INTO t SELECT i, CAST(printf('%0*d', i % 300, i) AS BLOB), "
        "printf('%08d', (i * 7919) % 20000) FROM n;";
    QTest::newRow("spilled transaction and index")
        << "BEGIN;" + fill + "COMMIT; CREATE INDEX tc ON t(c);";
    QTest::newRow("rolled back") << fill +
                                        "BEGIN; UPDATE t SET b = zeroblob(500); DELETE FROM t "
                                        "WHERE a % 3 = 0; ROLLBACK;";
    QTest::newRow("savepoint rolled back")
        << "BEGIN;" + fill + "SAVEPOINT s; DELETE FROM t WHERE a > 100; ROLLBACK TO s; COMMIT;";
    QTest::newRow("vacuum and auto-vacuum") << "PRAGMA auto_vacuum = FULL;" + fill +
                                                   "DELETE FROM t WHERE a % 2 = 0; VACUUM;"
                                                   "DELETE FROM t WHERE a > 5000;";
  }
  void bufferedFilesMatchPlainOnes() {
    QFETCH(QString, sql);
    QVERIFY(BufferedVfsName() != nullptr);
    const QString folder = NewTestFolder("vfs");
    QStringList contents;
    for (const char* vfs : {static_cast<const char*>(nullptr), BufferedVfsName()}) {
      const QString path = folder + (vfs == nullptr ? "/plain.db" : "/buffered.db");
      sqlite3* db = nullptr;
      QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs),
               SQLITE_OK);
      // The recovered database's settings, with a cache of ten pages: pages
      // leave it and are read again inside one transaction.
      QCOMPARE(sqlite3_exec(db,
                            "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF;"
                            "PRAGMA cache_size = 10;",
                            nullptr, nullptr, nullptr),
               SQLITE_OK);
      char* error = nullptr;
      const int rc = sqlite3_exec(db, qPrintable(sql), nullptr, nullptr, &error);
      QVERIFY2(rc == SQLITE_OK, error);
      // A long blob written in pieces, as the save writes long values.
      QCOMPARE(sqlite3_exec(db, "INSERT INTO t(a, b) VALUES (-1, zeroblob(300000))", nullptr,
                            nullptr, nullptr),
               SQLITE_OK);
      sqlite3_blob* blob = nullptr;
      QCOMPARE(sqlite3_blob_open(db, "main", "t", "b", -1, 1, &blob), SQLITE_OK);
      QByteArray piece(1000, 'x');
      for (int at = 0; at + piece.size() <= 300000; at += 7 * piece.size())
        QCOMPARE(sqlite3_blob_write(blob, piece.constData(), int(piece.size()), at), SQLITE_OK);
      sqlite3_blob_close(blob);
      sqlite3_close(db);
      contents << Pragma(path,
                         "SELECT count(*) || ' ' || total(length(b)) || ' ' || "
                         "group_concat(hex(substr(b, 1, 8)) || c, ',') FROM t")
               << Pragma(path, "PRAGMA integrity_check");
    }
    QCOMPARE(contents[3], QStringLiteral("ok"));
    QCOMPARE(contents[2], contents[0]);
  }

  // The recovered database's file cannot grow past a size (a full disk):
  // while rows are inserted (the cache spills) or only at the commit. The
  // library then rolls the table's transaction back: the save must say so
  // and count none of its rows as saved, never report them saved.
  void fullDiskReported_data() {
    QTest::addColumn<QString>("sql");
    const QString rows =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) ";
    const QString table = "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT);" + rows +
                          "INSERT INTO t SELECT i, printf('%0200d', i) FROM n;";
    QTest::newRow("while inserting") << table.arg(20000);
    QTest::newRow("at the commit") << table.arg(1500);
    QTest::newRow("long values") << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT);"
                                    "INSERT INTO t VALUES(1, randomblob(9000000), "
                                    "hex(randomblob(4500000)));";
    QTest::newRow("virtual table") << "CREATE VIRTUAL TABLE t USING fts5(v);" + rows.arg(1500) +
                                          "INSERT INTO t SELECT printf('%0200d w%d', i, i % 50) "
                                          "FROM n;";
  }
  void fullDiskReported() {
    QFETCH(QString, sql);
    const QString folder = NewTestFolder("full");
    const QString source = folder + "/full.db";
    QVERIFY(BuildOwnerDb(source, sql));
    CSQLiteRecovery engine;
    Scan(engine, source);
    // Writes past 64 KB fail (the signal that would end the process is ignored).
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveRun saved = SaveAll(engine, source, folder + "/out");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    const ObjectOutcome& outcome = saved.outcomes.first();
    QCOMPARE(outcome.records, std::int64_t{0});
    QVERIFY2(outcome.error.contains("none of its records were kept"), qPrintable(outcome.error));
    // No table t, or an empty one.
    if (Pragma(saved.path, "SELECT count(*) FROM sqlite_schema WHERE name = 't'") != "0")
      QCOMPARE(Pragma(saved.path, "SELECT count(*) FROM t"), QStringLiteral("0"));
  }

  // A tree three levels deep, rowid and WITHOUT ROWID.
  void deepTrees() {
    DbOptions options;
    options.pageSize = 1024;
    const QString folder = NewTestFolder("deep");
    const QString source = folder + "/deep.db";
    const QString made = MakeDeepTreeDatabase(source, options, 3);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join("\n")));
    for (const QString& table : {QStringLiteral("deep"), QStringLiteral("deepkeys")}) {
      const QString diff = CompareTable(source, run.path, table);
      QVERIFY2(diff.isEmpty(), qPrintable(table + ": " + diff));
    }
  }

  // Values of several megabytes: blobs over 8 MB written into the row in
  // pieces where nothing with bytes follows them, bound from memory where
  // something does (the library would otherwise build the zeroblob), in
  // WITHOUT ROWID tables, and texts of their own temporary file.
  void largeValuesSaved_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("blob last")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, s TEXT, b BLOB);"
           "INSERT INTO t VALUES(1, 'a', randomblob(9000000)), (2, 'b', x'01');";
    QTest::newRow("text after blob")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT);"
           "INSERT INTO t VALUES(1, randomblob(9000000), printf('%.*c', 3000000, 'y'));"
           "INSERT INTO t VALUES(2, x'02', 'short');";
    QTest::newRow("empty values after blob")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, a BLOB, b BLOB, n, e TEXT, z BLOB);"
           "INSERT INTO t VALUES(7, randomblob(9000000), randomblob(8500000), NULL, '', x'');";
    QTest::newRow("default after blob") << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB);"
                                           "INSERT INTO t VALUES(1, randomblob(9000000));"
                                           "ALTER TABLE t ADD COLUMN d TEXT DEFAULT 'dflt';"
                                           "ALTER TABLE t ADD COLUMN m TEXT NOT NULL DEFAULT '';";
    QTest::newRow("many values under a megabyte")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, a, b, c, d, e, f);"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3)"
           " INSERT INTO t SELECT i, randomblob(900000), printf('%.*c', 900000, 'm'),"
           " randomblob(900000), randomblob(900000 + i), randomblob(900000), randomblob(70000)"
           " FROM n;";
    QTest::newRow("without rowid")
        << "CREATE TABLE t(k TEXT PRIMARY KEY, b BLOB, n INTEGER) WITHOUT ROWID;"
           "INSERT INTO t VALUES('k1', randomblob(9000000), 5), ('k2', randomblob(2000000), NULL);";
    // Columns the library writes into only through the record: the zeros a
    // row would first hold must never stay, nor clash with another row's.
    const QString twoRows =
        "INSERT INTO t VALUES(1, randomblob(9000000), hex(randomblob(4500000))),"
        " (2, randomblob(9000000), hex(randomblob(4500000)));";
    QTest::newRow("unique blob last") << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB UNIQUE);"
                                         "INSERT INTO t VALUES(1, randomblob(9000000)),"
                                         " (2, randomblob(9000000));";
    QTest::newRow("unique text after blob")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT UNIQUE);" + twoRows;
    QTest::newRow("replacing unique text")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT UNIQUE ON CONFLICT REPLACE);" +
               twoRows;
    QTest::newRow("stored column computed from a long value")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT,"
           " n INTEGER AS (length(s)) STORED, e TEXT);"
           "INSERT INTO t(id, b, s, e) VALUES(1, randomblob(9000000),"
           " printf('%.*c', 9000000, 'g'), 'end');";
    QTest::newRow("ignoring rowid conflicts")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY ON CONFLICT IGNORE, b BLOB, s TEXT);" + twoRows;
    // A numeric text in an INTEGER column holds its record back until the
    // table's statement takes it; its long values must wait with it.
    QTest::newRow("held back with long values")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, v, b BLOB, s TEXT);"
           "INSERT INTO t VALUES(1, '2', randomblob(2000000), hex(randomblob(300000))),"
           " (2, 3, randomblob(9000000), 'x');"
           "PRAGMA writable_schema = ON;"
           "UPDATE sqlite_schema SET sql = 'CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER,"
           " b BLOB, s TEXT)' WHERE name = 't';";
    QTest::newRow("check after blob")
        << "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT CHECK(length(s) > 10));" +
               twoRows;
  }
  void largeValuesSaved() {
    QFETCH(QString, sql);
    const QString folder = NewTestFolder("large");
    const QString source = folder + "/large.db";
    {
      DbBuilder db(source, DbOptions());
      db.Exec(sql);
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join("\n")));
    const QString diff = CompareTable(source, run.path, QStringLiteral("t"));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // (A value its column's type would change is kept, and reported alike.)
    QCOMPARE(Pragma(run.path, "PRAGMA integrity_check"), Pragma(source, "PRAGMA integrity_check"));
  }

  // A row whose long values are followed by bytes (a blob, then a text):
  // the library builds its record whole, and that is the only copy of them
  // the save may hold. Measured as the peak resident memory the save adds.
  void longValuesHeldOnce_data() {
    QTest::addColumn<int>("encoding");
    QTest::newRow("UTF-8") << int(TextEncoding::Utf8);
    QTest::newRow("UTF-16le") << int(TextEncoding::Utf16le);
  }
  void longValuesHeldOnce() {
    QFETCH(int, encoding);
    const QString folder = NewTestFolder("heldonce");
    const QString source = folder + "/heldonce.db";
    constexpr std::int64_t kRecord = 48 * 1024 * 1024;  // about, in bytes
    {
      DbOptions options;
      options.encoding = TextEncoding(encoding);
      DbBuilder db(source, options);
      // 32 MB of blob, a text of 16 MB in either encoding.
      db.Exec(
          "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, s TEXT, n INTEGER);"
          "INSERT INTO t VALUES(1, randomblob(32 * 1048576), hex(randomblob(" +
          QString::number(encoding == int(TextEncoding::Utf8) ? 8 : 4) +
          " * 1048576)), 7), (2, x'00', 'short', 8);");
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    CSQLiteRecovery engine;
    Scan(engine, source);
    auto kilobytes = [](const char* field) -> std::int64_t {
      QFile status("/proc/self/status");
      if (!status.open(QIODevice::ReadOnly)) return -1;
      for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
          return line.mid(int(std::strlen(field))).trimmed().split(' ')[0].toLongLong();
      return -1;
    };
    // The peak resident size starts again from the present one.
    QFile clear("/proc/self/clear_refs");
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
      QSKIP("no /proc/self/clear_refs");
    clear.close();
    const std::int64_t before = kilobytes("VmRSS:");
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    const std::int64_t added = (kilobytes("VmHWM:") - before) * 1024;
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join("\n")));
    const QString diff = CompareTable(source, run.path, QStringLiteral("t"));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // The library's record, its memory checker's share, a few pieces: well
    // under a second copy.
    QVERIFY2(added < kRecord * 3 / 2,
             qPrintable(QString("the save added %1 MB").arg(added / 1048576)));
  }

  void destinationRefused_data() {
    QTest::addColumn<QString>("occupant");
    QTest::newRow("earlier save") << "file";
    QTest::newRow("dangling symbolic link") << "link";
    QTest::newRow("the damaged file itself") << "source";
  }
  void destinationRefused() {
    QFETCH(QString, occupant);
    const QString folder = NewTestFolder("refuse");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    QString outFolder = folder + "/out";
    QVERIFY(QDir().mkpath(outFolder));
    if (occupant == "file") {
      QFile f(outFolder + "/shop.db");
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("earlier");
    } else if (occupant == "link") {
      QVERIFY(QFile::link(folder + "/nowhere/target.db", outFolder + "/shop.db"));
    } else {
      outFolder = folder;
    }
    const QByteArray sourceBytes = [&] {
      QFile f(source);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    CSQLiteRecovery engine;
    Scan(engine, source);
    QString error;
    RecoveredDatabase target;
    QVERIFY(!target.Open(engine, outFolder, "shop.db", &error));
    QVERIFY(error.contains("already exists"));
    QVERIFY(error.contains("shop.db"));
    QCOMPARE(target.Db(), nullptr);
    if (occupant == "file") {
      QFile f(outFolder + "/shop.db");
      QVERIFY(f.open(QIODevice::ReadOnly));
      QCOMPARE(f.readAll(), QByteArray("earlier"));
    }
    if (occupant == "link") QVERIFY(!QFileInfo::exists(folder + "/nowhere"));
    QFile f(source);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == sourceBytes);
    // Nothing is written without an open recovered database.
    const ObjectOutcome outcome =
        DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, "customers"}, target);
    QVERIFY(!outcome.written);
    QVERIFY(!outcome.error.isEmpty());
  }

  void vanishedFolderIsCreated_data() {
    QTest::addColumn<QByteArray>("below");
    QTest::newRow("plain names") << QByteArray("gone/deeper");
    QTest::newRow("names that are not UTF-8") << QByteArray("g\xf6ne/d\xe9\x65per");
  }
  void vanishedFolderIsCreated() {
    QFETCH(QByteArray, below);
    const QString folder = NewTestFolder("vanished");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    CSQLiteRecovery engine;
    Scan(engine, source);
    const QString out = folder + "/" + PathFromNative(below);
    QString error;
    RecoveredDatabase target;
    QVERIFY2(target.Open(engine, out, "shop.db", &error), qPrintable(error));
    QCOMPARE(target.Folder(), out);
    QCOMPARE(target.Path(), out + "/shop.db");
    QVERIFY(target.Db() != nullptr);
    target.Close();
    const QByteArray made = QFile::encodeName(folder) + "/" + below + "/shop.db";
    QCOMPARE(::access(made.constData(), F_OK), 0);
  }

  // A statement read from the file runs only when it is one CREATE statement.
  void hostileSchemaStatements() {
    const QString folder = NewTestFolder("hostile");
    const QString source = folder + "/h.db";
    {
      DbBuilder db(source);
      db.Exec(
          "CREATE TABLE t (a INTEGER); CREATE VIEW v AS SELECT a FROM t;"
          "CREATE VIEW w AS SELECT 1;");
      db.Insert("t", {1});
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    const QString intact = folder + "/intact.db";
    QVERIFY(CopyDatabase(source, intact));
    {
      sqlite3* db = nullptr;
      QCOMPARE(sqlite3_open(source.toUtf8(), &db), SQLITE_OK);
      QCOMPARE(sqlite3_exec(db,
                            "PRAGMA writable_schema = ON;"
                            "UPDATE sqlite_master SET sql = 'CREATE VIEW v AS SELECT a FROM t; "
                            "CREATE TABLE evil (x)' WHERE name = 'v';"
                            "UPDATE sqlite_master SET sql = 'DROP TABLE t' WHERE name = 'w';",
                            nullptr, nullptr, nullptr),
               SQLITE_OK);
      sqlite3_close(db);
    }
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QVERIFY(!run.path.isEmpty());
    const RefSchema got = ReadReferenceSchema(run.path);
    QCOMPARE(got.tables, QStringList{"t"});
    QVERIFY(got.views.isEmpty());
    const QString diff = CompareTable(intact, run.path, "t");
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
  }

  // A value is read from a temporary file only when that file lies in the
  // program's own temporary folder.
  void tempFileOutsideFolderRefused() {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "CREATE TABLE t (b BLOB)", nullptr, nullptr, nullptr), SQLITE_OK);
    const QString folder = NewTestFolder("outside");
    QFile secret(folder + "/secret");
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("private bytes");
    secret.close();
    CSQLiteRecovery engine;
    TableLayout layout;
    layout.name = "t";
    TableColumn column;
    column.name = "b";
    column.declaredType = "BLOB";
    layout.columns.push_back(column);
    layout.Derive();
    {
      TableSaver writer(engine, NoProgress(), layout, db);
      for (const QString& path : {secret.fileName(), GetTempFolderPath() + "../secret"}) {
        RecordView record;
        ValueView value;
        value.storage = StorageClass::Blob;
        value.length = 13;
        value.tempFile = 0;
        record.values.push_back(value);
        record.tempFiles.push_back(path);
        record.hasRowid = true;
        record.rowid = 1 + writer.RecordsWritten();
        QVERIFY(writer.EmitRecord(record));
      }
      QCOMPARE(writer.RecordsWritten(), 2);
      QVERIFY(!writer.FirstError().isEmpty());
    }
    sqlite3_stmt* st = nullptr;
    QCOMPARE(sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE b IS NULL", -1, &st, nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_step(st), SQLITE_ROW);
    QCOMPARE(sqlite3_column_int(st, 0), 2);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }

  // Display mode: columns, cells in declared order, rowid alias, status and
  // progress texts, all through the recorders.
  void displayTable_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QStringList>("firstRow");
    QTest::newRow("rowid table, alias shows the rowid")
        << "plain" << QStringList{"x", "y"} << QStringList{"negative rowid", "1"};
    QTest::newRow("WITHOUT ROWID, declared order")
        << "wr" << QStringList{"k2", "v", "k1"} << QStringList{"a", "say \"hi\"", "1"};
    QTest::newRow("odd names, apostrophes kept")
        << "O'Hara's" << QStringList{"a b", "select", "q\"uote"}
        << QStringList{"x'y", "1", "2.250000"};
    QTest::newRow("stored generated column shown, virtual left out")
        << "gen" << QStringList{"a", "b", "d"} << QStringList{"3", "6", "three"};
    QTest::newRow("INTEGER PRIMARY KEY shows the rowid")
        << "alias" << QStringList{"id", "v"} << QStringList{"3", "c"};
    QTest::newRow("brackets in the real name") << "[br]" << QStringList{"x"} << QStringList{"9"};
  }
  void displayTable() {
    QFETCH(QString, table);
    QFETCH(QStringList, captions);
    QFETCH(QStringList, firstRow);
    const QString folder = NewTestFolder("show");
    const QString source = folder + "/r.db";
    QVERIFY(MakeRowidsDatabase(source, {}).isEmpty());
    CSQLiteRecovery engine;
    Scan(engine, source);
    QVERIFY2(engine.TableNames().contains(table), qPrintable(engine.TableNames().join("|")));
    GridRecorder grid;
    StatusTextRecorder status;
    ProgressBarRecorder bar;
    StatementEditRecorder edit;
    ControlRecorder stop;
    const ObjectOutcome outcome =
        DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, table},
                       DisplayPane{grid, edit, status, bar, stop});
    QVERIFY(!outcome.stopped);
    QCOMPARE(grid.captions, captions);
    QVERIFY(!grid.rows.isEmpty());
    QCOMPARE(grid.rows.first(), firstRow);
    QCOMPARE(grid.rows.size(), ReadReferenceTable(source, table).rows.size());
    QVERIFY(grid.visible);
    QVERIFY(!edit.visible);
    QCOMPARE(stop.visibility.value(0), true);
    QCOMPARE(status.texts.value(0), QStringLiteral("  Record : 0"));
    QCOMPARE(status.texts.value(1), QStringLiteral(" Records: 0"));
    QVERIFY(grid.cellsOutOfOrder == 0);
  }

  // The record-count text trails the rows by one, and the grid is repainted
  // once when 50 rows are present and once at the end.
  void displayCountsAndRedraws() {
    const QString folder = NewTestFolder("counts");
    const QString source = folder + "/c.db";
    {
      DbBuilder db(source);
      db.Exec("CREATE TABLE t (v INTEGER)");
      db.Begin();
      for (int i = 0; i < 120; ++i) db.Insert("t", {i});
      db.Commit();
      db.Close();
      QVERIFY(db.Ok());
    }
    CSQLiteRecovery engine;
    Scan(engine, source);
    GridRecorder grid;
    StatusTextRecorder status;
    ProgressBarRecorder bar;
    SilentStatementEdit edit;
    SilentControl stop;
    DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, "t"},
                   DisplayPane{grid, edit, status, bar, stop});
    QCOMPARE(grid.rows.size(), 120);
    QCOMPARE(status.texts.size(), 121);
    for (int i = 0; i < 120; ++i) QCOMPARE(status.texts[i + 1], QString(" Records: %1").arg(i));
    QCOMPARE(grid.redraws, 2);
    QVERIFY(bar.Positions().contains(100));
  }

  // Records shorter than the table as its statement now declares it (the
  // statement was changed after they were written): a column with a default
  // gets the default, one without gets NULL, a NOT NULL one without default
  // the empty text.
  void shortRecordsFilled() {
    const QString folder = NewTestFolder("short");
    const QString source = folder + "/s.db";
    {
      DbBuilder db(source);
      db.Exec("CREATE TABLE t (a INTEGER)");
      db.Insert("t", {1});
      db.Insert("t", {2});
      db.Close();
      QVERIFY(db.Ok());
      sqlite3* raw = nullptr;
      QCOMPARE(sqlite3_open(source.toUtf8(), &raw), SQLITE_OK);
      QCOMPARE(sqlite3_exec(
                   raw,
                   "PRAGMA writable_schema = ON;"
                   "UPDATE sqlite_master SET sql = 'CREATE TABLE t (a INTEGER, b TEXT NOT NULL,"
                   " c INTEGER DEFAULT 7, d REAL, e TEXT DEFAULT ''it''''s'')' WHERE name = 't';",
                   nullptr, nullptr, nullptr),
               SQLITE_OK);
      sqlite3_close(raw);
    }
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    QVERIFY2(run.failures.isEmpty(), qPrintable(run.failures.join("\n")));
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2(run.path.toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    QCOMPARE(sqlite3_prepare_v2(
                 db, "SELECT a, typeof(b), b, typeof(c), c, typeof(d), e FROM t ORDER BY a", -1,
                 &st, nullptr),
             SQLITE_OK);
    for (int a = 1; a <= 2; ++a) {
      QCOMPARE(sqlite3_step(st), SQLITE_ROW);
      QCOMPARE(sqlite3_column_int(st, 0), a);
      auto text = [&](int c) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)));
      };
      QCOMPARE(text(1), QStringLiteral("text"));
      QCOMPARE(text(2), QString());
      QCOMPARE(text(3), QStringLiteral("integer"));
      QCOMPARE(sqlite3_column_int(st, 4), 7);
      QCOMPARE(text(5), QStringLiteral("null"));
      QCOMPARE(text(6), QStringLiteral("it's"));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
  }

  // The same display through the stores: the cells as the grid draws them.
  void displayThroughStores() {
    const QString folder = NewTestFolder("stores");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    CSQLiteRecovery engine;
    Scan(engine, source);
    StoreBackedGrid grid;
    SilentStatementEdit edit;
    SilentStatusText status;
    SilentProgressBar bar;
    SilentControl stop;
    DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, "tags"},
                   DisplayPane{grid, edit, status, bar, stop});
    const RefTable ref = ReadReferenceTable(source, "tags");
    QCOMPARE(grid.ItemCount(), ref.rows.size());
    QCOMPARE(grid.ColumnCount(), 2);
    QCOMPARE(grid.ColumnCaption(0), QStringLiteral("tag"));
    for (int r = 0; r < ref.rows.size(); ++r)
      QCOMPARE(grid.CellText(r, 0).toUtf8(), ref.rows[r].values[0].bytes);
    grid.ResetRecordGrid();
  }

  void displayStatement() {
    const QString folder = NewTestFolder("stmt");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    CSQLiteRecovery engine;
    Scan(engine, source);
    GridRecorder grid;
    StatusTextRecorder status;
    ProgressBarRecorder bar;
    StatementEditRecorder edit;
    SilentControl stop;
    for (const auto& [kind, name] :
         {std::pair{int(ObjectKind::View), QString("order_totals")},
          std::pair{int(ObjectKind::Trigger), QString("orders_stock")},
          std::pair{int(ObjectKind::Index), QString("idx_orders_customer")}}) {
      DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind(kind), name},
                     DisplayPane{grid, edit, status, bar, stop});
      QVERIFY2(edit.text.startsWith("CREATE "), qPrintable(edit.text));
      QVERIFY(edit.text.contains(name));
      QVERIFY(!edit.text.contains(QRegularExpression("[^\r]\n")));
      QVERIFY(edit.visible);
      QVERIFY(!grid.visible);
      QVERIFY(edit.focusCalls > 0);
    }
    DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::View, "no such view"},
                   DisplayPane{grid, edit, status, bar, stop});
    QCOMPARE(edit.text, QString());
  }

  // A stop in the middle of a save: the save ends at once, the rows written
  // are committed, exact, and the file is a sound database.
  void stopInTheMiddle_data() {
    QTest::addColumn<int>("stopAfter");
    QTest::newRow("before anything") << 0;
    QTest::newRow("early") << 40;
    QTest::newRow("in the records") << 400;
    // A stop after many multi-row INSERTs, with records held back for the next.
    QTest::newRow("deep in the records") << 2500;
  }
  void stopInTheMiddle() {
    QFETCH(int, stopAfter);
    DbOptions options;
    options.pageSize = 1024;
    const QString folder = NewTestFolder("stop");
    const QString source = folder + "/deep.db";
    QVERIFY(MakeDeepTreeDatabase(source, options, 3).isEmpty());
    CSQLiteRecovery engine;
    Scan(engine, source);
    ProgressCounter counter;
    counter.stopAfter = stopAfter;
    const SaveRun run = SaveAll(engine, source, folder + "/out", counter);
    QVERIFY(!run.path.isEmpty());
    QVERIFY(!run.outcomes.isEmpty());
    for (const ObjectOutcome& outcome : run.outcomes) QVERIFY(outcome.stopped);
    QCOMPARE(Pragma(run.path, "PRAGMA integrity_check"), QStringLiteral("ok"));
    if (run.outcomes.first().written) {
      const QString diff = CompareTable(source, run.path, engine.TableNames().first(), true);
      QVERIFY2(diff.isEmpty(), qPrintable(diff));
      // Every record handed on before the stop is in the file, and counted.
      QCOMPARE(qint64(ReadReferenceTable(run.path, engine.TableNames().first()).rows.size()),
               qint64(run.outcomes.first().records));
    }
    if (stopAfter == 400) QVERIFY(run.outcomes.first().records > 0);
    if (stopAfter == 2500) QVERIFY(run.outcomes.first().records > 3 * 128);
  }

  // A damaged leaf costs only its own records; everything else is exact.
  void damagedLeaf() {
    DbOptions options;
    options.pageSize = 1024;
    const QString folder = NewTestFolder("damaged");
    const QString source = folder + "/deep.db";
    QVERIFY(MakeDeepTreeDatabase(source, options, 2).isEmpty());
    const QString intact = folder + "/intact.db";
    QVERIFY(CopyDatabase(source, intact));
    const PageProbe probe(source);
    const TreePages tree = probe.Tree(PageProbe::RootPage(source, "deep"));
    QVERIFY(tree.leaves.size() > 3);
    QVERIFY(ZeroPage(source, tree.leaves[1]));
    CSQLiteRecovery engine;
    Scan(engine, source);
    const SaveRun run = SaveAll(engine, source, folder + "/out");
    const RefTable want = ReadReferenceTable(intact, "deep");
    const RefTable got = ReadReferenceTable(run.path, "deep");
    QVERIFY(got.rows.size() < want.rows.size());
    QVERIFY(got.rows.size() > want.rows.size() / 2);
    int w = 0;
    for (const RefRow& row : got.rows) {  // every row saved is a row of the intact file
      while (w < want.rows.size() && want.rows[w].rowid != row.rowid) ++w;
      QVERIFY(w < want.rows.size());
      for (int v = 0; v < row.values.size(); ++v)
        QVERIFY(SameValue(row.values[v], want.rows[w].values[v]));
    }
    bool incomplete = false;
    for (const ObjectOutcome& o : run.outcomes) incomplete = incomplete || o.incomplete;
    QVERIFY(incomplete);
  }
};

VELMORA_TEST_MAIN(OutputSaveTest)
#include "tst_output_save.moc"
