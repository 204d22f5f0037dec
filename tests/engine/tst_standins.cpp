// Stand-in collations and functions, tables with generated columns filled
// from their records, rows that break a CHECK constraint, and the tokenizer of
// schema statements.
#include <sqlite3.h>

#include <QTemporaryDir>
#include <QtTest>

#include "engine/core/SqlQuote.h"
#include "engine/schema/StandIns.h"

using namespace velmora;

namespace {

// One connection, closed at the end of the scope.
struct Db {
  sqlite3* db = nullptr;
  explicit Db(const QString& path) { sqlite3_open(QFile::encodeName(path).constData(), &db); }
  ~Db() { sqlite3_close_v2(db); }
  bool Exec(const QString& sql) {
    char* error = nullptr;
    const bool ok =
        sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok) qWarning("%s: %s", qPrintable(sql), error);
    sqlite3_free(error);
    return ok;
  }
  // The rows of `sql`, each as its values' texts joined with "|" ("~" for NULL).
  QStringList Rows(const QString& sql) {
    QStringList rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
      return {QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db))};
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      QStringList values;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c)
        values << (sqlite3_column_type(stmt, c) == SQLITE_NULL
                       ? QStringLiteral("~")
                       : QString::fromUtf8(
                             reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))));
      rows << values.join(QLatin1Char('|'));
    }
    if (rc != SQLITE_DONE)
      rows << QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    return rows;
  }
  int Prepare(const QString& sql, QStringList* functions = nullptr) {
    sqlite3_stmt* stmt = nullptr;
    int rc = PrepareWithStandIns(db, sql.toUtf8(), &stmt, nullptr, functions);
    if (rc == SQLITE_OK) rc = sqlite3_step(stmt) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
    sqlite3_finalize(stmt);
    return rc;
  }
};

// The applications' own collation and function: case-insensitive order, ten
// times the argument.
int NoCase(void*, int n1, const void* a, int n2, const void* b) {
  return QString::fromUtf8(static_cast<const char*>(a), n1)
      .compare(QString::fromUtf8(static_cast<const char*>(b), n2), Qt::CaseInsensitive);
}
void TimesTen(sqlite3_context* context, int, sqlite3_value** argv) {
  sqlite3_result_int64(context, sqlite3_value_int64(argv[0]) * 10);
}
void ReturnNull(sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_null(context); }

void AddOwnersNames(sqlite3* db) {
  for (const char* name : {"LOCALIZED", "UNICODE"})
    sqlite3_create_collation(db, name, SQLITE_UTF8, nullptr, NoCase);
  sqlite3_create_function(db, "myfunc", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, TimesTen,
                          nullptr, nullptr);
}

QString Tokens(const QString& sql) {
  static const char kKinds[] = "_CWQSBNP";
  QStringList out;
  for (const SqlToken& t : TokenizeSql(sql)) {
    if (t.kind == SqlTokenKind::Space) continue;
    const QString text = t.kind == SqlTokenKind::QuotedName || t.kind == SqlTokenKind::String
                             ? SqlTokenName(sql, t)
                             : sql.mid(t.begin, t.length);
    out << QLatin1Char(kKinds[int(t.kind)]) + text + (t.complete ? "" : "!");
  }
  return out.join(QLatin1Char(' '));
}

}  // namespace

class TestStandIns : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  int m_next = 0;
  QString NewPath() { return m_dir.filePath(QStringLiteral("db%1.sqlite").arg(++m_next)); }

  // Builds the owner's database with `setup`, then saves every table as the
  // save does: its statement replayed with stand-ins (the plain one for
  // generated columns), the stored values of its records inserted (rows that
  // break a CHECK kept), the original statement given back, then the indexes.
  // Returns the saved file's path; *report gets the stand-ins and reindex list.
  QString Save(const QString& setup, const char* encoding, QString* source, QStringList* report,
               int* brokeChecks) {
    *source = NewPath();
    const QString saved = NewPath();
    Db owner(*source);
    AddOwnersNames(owner.db);
    owner.Exec(QStringLiteral("PRAGMA encoding='%1'").arg(QLatin1String(encoding)));
    if (!owner.Exec(setup)) return QString();
    Db out(saved);
    InstallStandInCollations(out.db);
    out.Exec(QStringLiteral("PRAGMA encoding='%1'").arg(QLatin1String(encoding)));
    QStringList functions;
    *brokeChecks = 0;
    for (const QString& row :
         owner.Rows("SELECT name, sql FROM sqlite_schema WHERE type='table' ORDER BY rowid")) {
      const QString name = row.section(QLatin1Char('|'), 0, 0);
      const QString sql = row.section(QLatin1Char('|'), 1);
      const PlainTable plain = PlainTableForFilling(sql);
      if (out.Prepare(plain.sql, &functions) != SQLITE_OK) return QString();
      QStringList columns;
      for (const QString& c :
           owner.Rows(QStringLiteral("SELECT name FROM pragma_table_xinfo(%1) WHERE hidden <> 2")
                          .arg("'" + name + "'")))
        columns << QuoteIdentifier(c);
      // One row at a time, the way the record writer binds them.
      sqlite3_stmt* select = nullptr;
      sqlite3_prepare_v2(owner.db,
                         QStringLiteral("SELECT %1 FROM %2")
                             .arg(columns.join(','), QuoteIdentifier(name))
                             .toUtf8()
                             .constData(),
                         -1, &select, nullptr);
      QStringList marks;
      for (int i = 1; i <= columns.size(); ++i) marks << QStringLiteral("?%1").arg(i);
      sqlite3_stmt* stmt = nullptr;
      PrepareWithStandIns(out.db,
                          QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                              .arg(QuoteIdentifier(name), columns.join(','), marks.join(','))
                              .toUtf8(),
                          &stmt, nullptr, &functions);
      while (sqlite3_step(select) == SQLITE_ROW) {
        for (int c = 0; c < columns.size(); ++c)
          sqlite3_bind_value(stmt, c + 1, sqlite3_column_value(select, c));
        bool broke = false;
        if (StepKeepingCheckFailures(stmt, &broke) != SQLITE_DONE) qWarning("row lost");
        *brokeChecks += broke;
        sqlite3_reset(stmt);
      }
      sqlite3_finalize(select);
      sqlite3_finalize(stmt);
      QString error;
      if (plain.changed && !RestoreOriginalStatement(out.db, name, sql, &error))
        qWarning("%s", qPrintable(error));
    }
    for (const QString& sql :
         owner.Rows("SELECT sql FROM sqlite_schema WHERE type='index' AND sql NOT NULL"))
      if (out.Prepare(sql, &functions) != SQLITE_OK) return QString();
    *report = StandInCollations(out.db) + StandInFunctions(out.db) +
              IndexesNeedingReindex(out.db, StandInCollations(out.db), StandInFunctions(out.db));
    return saved;
  }

 private slots:
  void tokenizer_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("quotes doubled") << "SELECT \"a\"\"b\", 'it''s', `c``d`, [e\"f]"
                                    << "WSELECT Qa\"b P, Sit's P, Qc`d P, Qe\"f";
    QTest::newRow("comments") << "a -- x, (\n b /* ) ' */ c"
                              << "Wa C-- x, ( Wb C/* ) ' */ Wc";
    QTest::newRow("numbers blob words") << "1.5e-3 .5 0x1F x'0A' _$w2 é"
                                        << "N1.5e-3 N.5 N0x1F Bx'0A' W_$w2 Wé";
    QTest::newRow("open string") << "a 'b, c"
                                 << "Wa Sb, c!";
    QTest::newRow("open comment") << "a /* b"
                                  << "Wa C/* b!";
    QTest::newRow("open bracket") << "[a b"
                                  << "Qa b!";
  }
  void tokenizer() {
    QFETCH(QString, sql);
    QFETCH(QString, tokens);
    QCOMPARE(Tokens(sql), tokens);
  }

  void plainTable_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("virtuals");
    QTest::addColumn<bool>("unsure");
    QTest::newRow("none") << "CREATE TABLE t(a, b CHECK(b > 0))"
                          << "CREATE TABLE t(a, b CHECK(b > 0))" << QStringList{} << QStringList{}
                          << false;
    QTest::newRow("stored keeps type and constraints")
        << "CREATE TABLE t(a INT, b REAL GENERATED ALWAYS AS (a*2) STORED NOT NULL, c)"
        << "CREATE TABLE t(a INT, b REAL NOT NULL, c)" << QStringList{"b"} << QStringList{}
        << false;
    QTest::newRow("AS without GENERATED is virtual")
        << "CREATE TABLE t(a, v AS (a+1), b)"
        << "CREATE TABLE t(a, b)" << QStringList{} << QStringList{"v"} << false;
    QTest::newRow("virtual first and last")
        << "CREATE TABLE t(v AS (1) VIRTUAL, a, w TEXT AS (a), x AS (2))"
        << "CREATE TABLE t(a)" << QStringList{} << QStringList{"v", "w", "x"} << false;
    QTest::newRow("quotes comments nesting")
        << "CREATE TABLE \"t(x\"(\"a,b\" TEXT /* c, AS (x) */, [v w] TEXT AS ('), AS ('),\n"
           "  g INT CONSTRAINT k GENERATED ALWAYS AS (length((\"a,b\")||(1))) STORED, \"as\") "
           "WITHOUT ROWID"
        << "CREATE TABLE \"t(x\"(\"a,b\" TEXT /* c, AS (x) */,\n  g INT, \"as\") WITHOUT ROWID"
        << QStringList{"g"} << QStringList{"v w"} << false;
    QTest::newRow("column named generated") << "CREATE TABLE t(generated ALWAYS AS (1) STORED, a)"
                                            << "CREATE TABLE t(generated ALWAYS, a)"
                                            << QStringList{"generated"} << QStringList{} << false;
    QTest::newRow("virtual named by a check")
        << "CREATE TABLE t(a, v AS (a), CHECK(V > 0))"
        << "CREATE TABLE t(a, v AS (a), CHECK(V > 0))" << QStringList{} << QStringList{"v"} << true;
    QTest::newRow("virtual in a key")
        << "CREATE TABLE t(a, v AS (a) UNIQUE)"
        << "CREATE TABLE t(a, v AS (a) UNIQUE)" << QStringList{} << QStringList{"v"} << true;
    QTest::newRow("create as select")
        << "CREATE TABLE t AS SELECT 1 AS x"
        << "CREATE TABLE t AS SELECT 1 AS x" << QStringList{} << QStringList{} << false;
    QTest::newRow("unbalanced") << "CREATE TABLE t(a, b AS (a"
                                << "CREATE TABLE t(a, b AS (a" << QStringList{} << QStringList{}
                                << false;
  }
  void plainTable() {
    QFETCH(QString, sql);
    QFETCH(QString, plain);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, virtuals);
    QFETCH(bool, unsure);
    const PlainTable result = PlainTableForFilling(sql);
    QCOMPARE(result.sql, plain);
    QCOMPARE(result.changed, plain != sql);
    QCOMPARE(result.storedGenerated, stored);
    QCOMPARE(result.virtualGenerated, virtuals);
    QCOMPARE(!result.unsure.isEmpty(), unsure);
  }

  // Saves the owner's database and compares the saved one, opened fresh with
  // stand-ins, against it: schema text byte for byte, every row, integrity.
  void save_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QStringList>("report");  // collations, functions, indexes to rebuild
    QTest::addColumn<int>("brokeChecks");
    const QString rows = "INSERT INTO t(a, v) VALUES (1, 'b'), (2, 'A'), (3, 'c');";
    QTest::newRow("collations: table, index, unique")
        << "CREATE TABLE t(a INTEGER PRIMARY KEY, v TEXT COLLATE LOCALIZED UNIQUE, w DEFAULT 0);"
           "CREATE INDEX iv ON t(w COLLATE \"UNICODE\");" +
               rows
        << "UTF-8" << QStringList{"LOCALIZED", "UNICODE", "sqlite_autoindex_t_1", "iv"} << 0;
    QTest::newRow("collation in a UTF-16 database")
        << "CREATE TABLE t(a, v TEXT COLLATE UNICODE);CREATE INDEX iv ON t(v);" + rows << "UTF-16le"
        << QStringList{"UNICODE", "iv"} << 0;
    QTest::newRow("function in a check") << "CREATE TABLE t(a, v TEXT CHECK(myfunc(a) > 0));" + rows
                                         << "UTF-8" << QStringList{"myfunc"} << 0;
    QTest::newRow("stored and virtual generated columns")
        << "CREATE TABLE t(a INT, g INT GENERATED ALWAYS AS (myfunc(a)) STORED, v TEXT,"
           " h AS (myfunc(a) + 1));CREATE INDEX ih ON t(h);CREATE INDEX ig ON t(g);" +
               rows
        << "UTF-8" << QStringList{"myfunc", "ih"} << 0;
    QTest::newRow("generated column without rowid")
        << "CREATE TABLE t(a INT PRIMARY KEY, v, g AS (myfunc(a)) STORED) WITHOUT ROWID;" + rows
        << "UTF-8" << QStringList{} << 0;  // stored values only: nothing calls it
    QTest::newRow("rows breaking checks")
        << "CREATE TABLE t(a, v CHECK(v <> 'A'), CHECK(a < 3));" +
               QString(rows).replace("INSERT", "PRAGMA ignore_check_constraints=1; INSERT")
        << "UTF-8" << QStringList{} << 2;
  }
  void save() {
    QFETCH(QString, setup);
    QFETCH(QString, encoding);
    QFETCH(QStringList, report);
    QFETCH(int, brokeChecks);
    QStringList got;
    int broke = -1;
    QString source;
    const QString saved = Save(setup, encoding.toLatin1().constData(), &source, &got, &broke);
    QVERIFY(!saved.isEmpty());
    QCOMPARE(got, report);
    QCOMPARE(broke, brokeChecks);

    Db owner(source);
    AddOwnersNames(owner.db);
    Db fresh(saved);
    // Opened where only stand-ins exist.
    InstallStandInCollations(fresh.db);
    sqlite3_create_function(fresh.db, "myfunc", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            ReturnNull, nullptr, nullptr);
    QCOMPARE(fresh.Rows("SELECT type, name, sql FROM sqlite_schema ORDER BY name"),
             owner.Rows("SELECT type, name, sql FROM sqlite_schema ORDER BY name"));
    QCOMPARE(fresh.Rows("PRAGMA integrity_check").value(0).startsWith("ok") ||
                 fresh.Rows("PRAGMA integrity_check").value(0).startsWith("CHECK constraint"),
             true);
    // Every stored value as the owner's file holds it (the virtual ones are
    // the stand-in's NULLs, so they are left out).
    QString columns;
    for (const QString& c :
         owner.Rows("SELECT name FROM pragma_table_xinfo('t') WHERE hidden <> 2"))
      columns += (columns.isEmpty() ? "" : ",") + QuoteIdentifier(c);
    const QString select = "SELECT " + columns + " FROM t ORDER BY a";
    QCOMPARE(fresh.Rows(select), owner.Rows(select));
    QCOMPARE(fresh.Rows(select).size(), 3);
  }

  void restoreRefused_data() {
    QTest::addColumn<QString>("original");
    QTest::newRow("another column layout") << "CREATE TABLE t(a, x, g AS (a) STORED)";
    QTest::newRow("unreadable") << "CREATE TABLE t(a, g AS (a) STORED";
    QTest::newRow("another table") << "CREATE TABLE u(a, g AS (a) STORED)";
  }
  void restoreRefused() {
    QFETCH(QString, original);
    Db db(NewPath());
    QVERIFY(db.Exec("CREATE TABLE t(a, g); INSERT INTO t VALUES (1, 7)"));
    QString error;
    QVERIFY(!RestoreOriginalStatement(db.db, "t", original, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(db.Rows("SELECT sql FROM sqlite_schema"), QStringList{"CREATE TABLE t(a, g)"});
    QCOMPARE(db.Rows("SELECT * FROM t"), QStringList{"1|7"});
    QCOMPARE(db.Rows("PRAGMA writable_schema"), QStringList{"0"});
    QCOMPARE(db.Rows("PRAGMA integrity_check"), QStringList{"ok"});
  }

  // The CHECK constraints are off for the one row only; other constraints hold.
  void uncheckedStepKeepsOtherConstraints() {
    Db db(NewPath());
    QVERIFY(db.Exec("CREATE TABLE t(a NOT NULL CHECK(a > 0)); CREATE TABLE u(b CHECK(b > 0))"));
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* other = nullptr;
    sqlite3_prepare_v2(db.db, "INSERT INTO t VALUES (?1)", -1, &insert, nullptr);
    sqlite3_prepare_v2(db.db, "INSERT INTO u VALUES (?1)", -1, &other, nullptr);
    QVERIFY(db.Exec("BEGIN"));
    bool broke = false;
    sqlite3_bind_int(insert, 1, -1);
    QCOMPARE(StepKeepingCheckFailures(insert, &broke), SQLITE_DONE);
    QVERIFY(broke);
    sqlite3_reset(insert);
    sqlite3_bind_null(insert, 1);
    QCOMPARE(StepKeepingCheckFailures(insert, &broke) & 0xff, SQLITE_CONSTRAINT);
    QVERIFY(!broke);
    sqlite3_reset(insert);
    sqlite3_bind_int(other, 1, -2);  // compiled before: checks again
    QCOMPARE(sqlite3_step(other) & 0xff, SQLITE_CONSTRAINT);
    QVERIFY(db.Exec("COMMIT"));
    sqlite3_finalize(insert);
    sqlite3_finalize(other);
    QCOMPARE(db.Rows("PRAGMA ignore_check_constraints"), QStringList{"0"});
    QCOMPARE(db.Rows("SELECT a FROM t"), QStringList{"-1"});
  }

  void standInsEndWithConnection() {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    InstallStandInCollations(db);
    sqlite3_exec(db, "CREATE TABLE t(a COLLATE Odd); SELECT * FROM t ORDER BY a", nullptr, nullptr,
                 nullptr);
    QCOMPARE(StandInCollations(db), QStringList{"Odd"});
    sqlite3_close(db);
    QVERIFY(StandInCollations(db).isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestStandIns)
#include "tst_standins.moc"
