// velmora-recover show and save, run as the user runs them.
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "tests/support/TestSupport.h"

using namespace velmora::test;

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

Result Tool(const QStringList& args, int timeoutMs = 120000) {
  QProcess p;
  p.start(QStringLiteral(VELMORA_RECOVER_PATH), QStringList{"--work-dir", ProgramFolder()} + args);
  Result r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QString IntegrityOf(const QString& path) {
  sqlite3* db = nullptr;
  QString result;
  if (sqlite3_open_v2(path.toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

}  // namespace

class OutputCliTest : public QObject {
  Q_OBJECT

 private slots:
  void showTable() {
    const QString folder = NewTestFolder("show");
    const QString source = folder + "/cells.db";
    {
      DbBuilder db(source);
      db.Exec("CREATE TABLE \"t x\" (id INTEGER PRIMARY KEY, \"a\tb\" TEXT, c TEXT)");
      db.Insert("t x", {1, "tab\there", "line\nbreak"});
      db.Insert("t x", {2, "back\\slash", QString(1200, 'L')});
      db.Insert("t x", {3, "say \"hi\"", "O'Brien"});
      db.Close();
      QVERIFY(db.Ok());
    }
    const Result r = Tool({"show", source, "t x"});
    QCOMPARE(r.code, 0);
    const QStringList lines = r.out.split('\n');
    QCOMPARE(lines.value(0), QStringLiteral("id\ta\\tb\tc"));
    QCOMPARE(lines.value(1), QStringLiteral("1\ttab\\there\tline\\nbreak"));
    QCOMPARE(lines.value(2), "2\tback\\\\slash\t" + QString(1000, 'L') + "<more data>...");
    QCOMPARE(lines.value(3), QStringLiteral("3\tsay \"hi\"\tO'Brien"));
    QCOMPARE(lines.size(), 5);  // and the final line end
    QVERIFY2(r.err.contains("  Records : 3"), qPrintable(r.err));
  }

  // Names that a comma-joined schema row used to cut keep their objects in
  // list, show and save.
  void namesWithSeparators_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("listed");
    QTest::newRow("comma") << ","
                           << ",";
    QTest::newRow("two commas") << "a,b,c"
                                << "a,b,c";
    QTest::newRow("apostrophe") << "O'Hara"
                                << "O'Hara";
    QTest::newRow("double quote") << "x\"y"
                                  << "xy";
    QTest::newRow("brackets") << "[br]"
                              << "br";
    QTest::newRow("tab and line break") << "t\tn\nl"
                                        << "t\\tn\\nl";
  }
  void namesWithSeparators() {
    QFETCH(QString, table);
    QFETCH(QString, listed);
    const QString folder = NewTestFolder("names");
    const QString source = folder + "/names.db";
    {
      DbBuilder db(source);
      db.Exec("CREATE TABLE " + QStringLiteral("\"%1\"").arg(QString(table).replace("\"", "\"\"")) +
              " (v TEXT, w INTEGER)");
      db.Insert(table, {"p,q", 1});
      db.Insert(table, {"r", 2});
      db.Exec("CREATE INDEX \"i," + QString(table).replace("\"", "\"\"") + "\" ON \"" +
              QString(table).replace("\"", "\"\"") + "\"(w)");
      db.Close();
      QVERIFY(db.Ok());
    }
    const Result list = Tool({"list", source});
    QCOMPARE(list.code, 0);
    QVERIFY2(list.out.split('\n').contains("Tables\t" + listed), qPrintable(list.out));
    QVERIFY2(list.out.contains("Indexes\ti,"), qPrintable(list.out));
    const Result show = Tool({"show", source, table});
    QCOMPARE(show.code, 0);
    QCOMPARE(show.out, QStringLiteral("v\tw\np,q\t1\nr\t2\n"));
    const Result save = Tool({"save", source, folder + "/out"});
    QCOMPARE(save.code, 0);
    QVERIFY2(save.out.contains("saved, 2 records"), qPrintable(save.out));
    QCOMPARE(IntegrityOf(folder + "/out/names.db"), QStringLiteral("ok"));
  }

  void showStatementAndErrors() {
    const QString folder = NewTestFolder("showsql");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    Result r = Tool({"show", source, "order_totals", "--kind", "view"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.startsWith("CREATE VIEW order_totals"));
    QVERIFY(!r.out.contains('\r'));
    r = Tool({"show", source, "no_such_table"});
    QCOMPARE(r.code, 2);
    r = Tool({"show", source});
    QCOMPARE(r.code, 2);
    r = Tool({"show", source, "x", "--kind", "nonsense"});
    QCOMPARE(r.code, 2);
    QFile junk(folder + "/junk.db");
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'j'));
    junk.close();
    r = Tool({"show", junk.fileName(), "t"});
    QCOMPARE(r.code, 1);
  }

  // What the tool says when it is asked for something it cannot do as asked.
  void toolMessages_data() {
    QTest::addColumn<QStringList>("args");  // "SRC" is the shop database, "DIR" its folder
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");  // the start of standard output
    QTest::addColumn<QString>("err");  // standard error, exactly
    QTest::newRow("a missing file: one message") << QStringList{"list", "DIR/missing.db"} << 1 << ""
                                                 << "File Not Open !\n";
    QTest::newRow("a view found by its name alone")
        << QStringList{"show", "SRC", "order_totals"} << 0 << "CREATE VIEW order_totals"
        << "";
    QTest::newRow("a trigger found by its name alone")
        << QStringList{"show", "SRC", "orders_stock"} << 0 << "CREATE TRIGGER orders_stock"
        << "";
    QTest::newRow("a name two kinds hold")
        << QStringList{"show", "SRC", "orders"} << 2 << ""
        << "velmora-recover: orders names a table and a trigger: say which with --kind "
           "table|trigger\n";
    QTest::newRow("the ambiguity settled by --kind")
        << QStringList{"show", "SRC", "orders", "--kind", "trigger"} << 0
        << "CREATE TRIGGER orders AFTER"
        << "";
    QTest::newRow("no such object") << QStringList{"show", "SRC", "nothing"} << 2 << ""
                                    << "velmora-recover: no object named nothing\n";
    QTest::newRow("export into a folder still to be made")
        << QStringList{"export", "SRC", "DIR/new/csv", "--table", "tags"} << 0
        << "table\ttags\texported"
        << "";
  }

  void toolMessages() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const QString folder = NewTestFolder("messages");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    {
      // A trigger that bears a table's name (triggers have names of their own).
      sqlite3* db = nullptr;
      QCOMPARE(sqlite3_open(source.toUtf8(), &db), SQLITE_OK);
      const int rc =
          sqlite3_exec(db, "CREATE TRIGGER orders AFTER DELETE ON tags BEGIN SELECT 1; END",
                       nullptr, nullptr, nullptr);
      sqlite3_close(db);
      QCOMPARE(rc, SQLITE_OK);
    }
    for (QString& arg : args) {
      arg.replace("SRC", source);
      arg.replace("DIR", folder);
    }
    const Result r = Tool(args);
    QCOMPARE(r.code, code);
    QVERIFY2(out.isEmpty() ? r.out.isEmpty() : r.out.startsWith(out), qPrintable(r.out));
    QCOMPARE(r.err, err);
  }

  void saveExitCodes() {
    const QString folder = NewTestFolder("save");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    const QString out = folder + "/out";

    Result r = Tool({"save", source, out});
    QCOMPARE(r.code, 0);
    QCOMPARE(IntegrityOf(out + "/shop.db"), QStringLiteral("ok"));
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    // One line per object of the tree.
    QCOMPARE(lines.size(), Tool({"list", source}).out.split('\n', Qt::SkipEmptyParts).size());
    QVERIFY(lines.first().startsWith("table\t"));
    QVERIFY(lines.last().startsWith("index\t"));
    for (const QString& line : lines) QVERIFY2(line.contains("\tsaved"), qPrintable(line));

    // The destination exists now: refused, nothing written over.
    const QByteArray before = [&] {
      QFile f(out + "/shop.db");
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    r = Tool({"save", source, out, "--table", "tags"});
    QCOMPARE(r.code, 2);
    QVERIFY(r.err.contains("already exists"));
    QFile f(out + "/shop.db");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == before);

    // An index without its table fails: exit 3, the other objects are saved.
    r = Tool(
        {"save", source, folder + "/partial", "--table", "tags", "--index", "idx_orders_customer"});
    QCOMPARE(r.code, 3);
    QVERIFY(r.out.contains("table\ttags\tsaved"));
    QVERIFY(r.out.contains("index\tidx_orders_customer\tnot saved"));

    r = Tool({"save", source, folder + "/x", "--table", "nope"});
    QCOMPARE(r.code, 2);
    QVERIFY(!QFileInfo::exists(folder + "/x/shop.db"));
    r = Tool({"save", source});
    QCOMPARE(r.code, 2);
  }

  // Deleted rows are shown and saved apart only with --deleted; the saved
  // table takes a free name and holds what the tool says it holds.
  void deletedRecords_data() {
    QTest::addColumn<bool>("clash");  // a live table already has the name t_deleted
    QTest::newRow("own name") << false;
    QTest::newRow("name taken") << true;
  }
  void deletedRecords() {
    QFETCH(bool, clash);
    const QString folder = NewTestFolder(clash ? "deleted-clash" : "deleted");
    const QString source = folder + "/gone.db";
    {
      DbBuilder db(source);
      db.Exec("PRAGMA secure_delete=OFF");
      db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INTEGER)");
      if (clash) db.Exec("CREATE TABLE t_deleted(x)");
      for (int i = 1; i <= 60; ++i)
        db.Insert("t", {i, QStringLiteral("row number %1 of the table").arg(i), i * 1000});
      db.Exec("DELETE FROM t WHERE id % 4 = 0");
      db.Close();
      QVERIFY(db.Ok());
    }
    const QString plain = Tool({"list", source}).out;
    QVERIFY(!plain.contains("Deleted Records"));
    const Result list = Tool({"list", "--deleted", source});
    QCOMPARE(list.code, 0);
    QVERIFY2(list.out.startsWith(plain), qPrintable(list.out));
    QVERIFY2(list.out.contains(QRegularExpression("Deleted Records\tt\t[1-9][0-9]* whole\t")),
             qPrintable(list.out));

    const Result show = Tool({"show", source, "t", "--deleted"});
    QCOMPARE(show.code, 0);
    const QStringList rows = show.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.value(0),
             QStringLiteral("id\tname\tn\told_rowid\tpage\toffset\tfound_in\twhole"));
    QVERIFY(rows.size() > 1);
    for (int i = 1; i < rows.size(); ++i) {
      // Only deleted rows: a number that is a multiple of 4 wherever it is known.
      const QRegularExpressionMatch m =
          QRegularExpression("row number (\\d+) of").match(rows.at(i));
      if (m.hasMatch()) QCOMPARE(m.captured(1).toInt() % 4, 0);
    }
    QVERIFY(Tool({"show", source, "t"}).out.count('\n') == 46);  // live rows unchanged

    const QString out = folder + "/out";
    const Result save = Tool({"save", source, out, "--deleted"});
    QCOMPARE(save.code, 0);
    const QString target = clash ? "t_deleted_2" : "t_deleted";
    const QRegularExpressionMatch saved =
        QRegularExpression("deleted records\tt\tsaved as (\\S+), (\\d+) records \\((\\d+) whole")
            .match(save.out);
    QVERIFY2(saved.hasMatch(), qPrintable(save.out));
    QCOMPARE(saved.captured(1), target);
    QCOMPARE(saved.captured(2).toInt(), rows.size() - 1);
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2((out + "/gone.db").toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr),
             SQLITE_OK);
    auto count = [&](const QString& sql) {
      sqlite3_stmt* st = nullptr;
      int n = -1;
      if (sqlite3_prepare_v2(db, sql.toUtf8(), -1, &st, nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
      sqlite3_finalize(st);
      return n;
    };
    QCOMPARE(count("SELECT count(*) FROM " + target), saved.captured(2).toInt());
    QCOMPARE(count("SELECT count(*) FROM " + target + " WHERE whole = 1"),
             saved.captured(3).toInt());
    QCOMPARE(count("SELECT count(*) FROM t"), 45);
    sqlite3_close(db);
    // Without --deleted the save writes no such table.
    QVERIFY(!Tool({"save", source, folder + "/plain"}).out.contains("deleted records"));
  }

  // Ctrl+C during a save: the save ends, what was written stays readable.
  void countsAndExport() {
    const QString folder = NewTestFolder("export");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    // Default list output keeps two fields; --counts adds three to each table.
    const QStringList plain = Tool({"list", source}).out.split('\n', Qt::SkipEmptyParts);
    const Result counted = Tool({"list", "--counts", source});
    QCOMPARE(counted.code, 0);
    const QStringList lines = counted.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), plain.size());
    QVERIFY(lines.contains(QStringLiteral("Tables\torders\t40\t0\t-")));
    for (const QString& line : plain) QCOMPARE(line.count('\t'), 1);

    const QString out = folder + "/csv";
    QVERIFY(QDir().mkpath(out));
    Result r = Tool({"export", source, out, "--table", "orders"});
    QCOMPARE(r.code, 0);
    QFile csv(out + "/orders.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    QCOMPARE(rows.size(), 42);  // the captions, 40 rows, and after the last line end
    QVERIFY(rows.first().startsWith("id,"));
    // An existing file is never replaced: exit 3; an unknown table: 2.
    r = Tool({"export", source, out});
    QCOMPARE(r.code, 3);
    QVERIFY(r.out.contains("orders\tnot exported"));
    QCOMPARE(Tool({"export", source, out, "--table", "nope"}).code, 2);

    // An intact file with AUTOINCREMENT: every table exports, sqlite_sequence
    // with its counter, and the tool exits 0.
    const QString counters = folder + "/counters.db";
    {
      DbBuilder db(counters);
      db.Exec("CREATE TABLE c (id INTEGER PRIMARY KEY AUTOINCREMENT, v TEXT)");
      for (int i = 0; i < 5; ++i) db.Insert("c", {QVariant(), QString("v%1").arg(i)});
      db.Close();
    }
    const QString all = folder + "/all";
    QVERIFY(QDir().mkpath(all));
    r = Tool({"export", counters, all});
    QCOMPARE(r.code, 0);
    QFile sequence(all + "/sqlite_sequence.csv");
    QVERIFY(sequence.open(QIODevice::ReadOnly));
    QCOMPARE(sequence.readAll(), QByteArray("name,seq\r\nc,5\r\n"));
  }

  void interruptedSave() {
    const QString folder = NewTestFolder("sigint");
    const QString source = folder + "/many.db";
    {
      DbBuilder db(source);
      db.Begin();
      for (int t = 0; t < 12; ++t) {
        db.Exec(QString("CREATE TABLE t%1 (id INTEGER PRIMARY KEY, v TEXT, n REAL)").arg(t));
        for (int i = 0; i < 20000; ++i)
          db.Insert(QString("t%1").arg(t), {i, QString("value %1").arg(i), i * 0.5});
      }
      db.Commit();
      db.Close();
      QVERIFY(db.Ok());
    }
    QProcess p;
    p.start(QStringLiteral(VELMORA_RECOVER_PATH),
            {"--work-dir", ProgramFolder(), "save", source, folder + "/out"});
    QVERIFY(p.waitForStarted());
    // The first finished table shows that the save is under way.
    QElapsedTimer timer;
    timer.start();
    while (!p.canReadLine() && p.state() == QProcess::Running && timer.elapsed() < 60000)
      p.waitForReadyRead(100);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(p.readAll());
    QVERIFY(p.exitCode() == 3 || p.exitCode() == 0);
    if (p.exitCode() == 3) QVERIFY2(out.contains("stopped"), qPrintable(out));
    QCOMPARE(IntegrityOf(folder + "/out/many.db"), QStringLiteral("ok"));
    QVERIFY(out.startsWith("table\tt0\tsaved, 20000 records"));
  }
};

VELMORA_TEST_MAIN(OutputCliTest)
#include "tst_output_cli.moc"
