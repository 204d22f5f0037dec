// What the user sees of a recovery before saving: the summary figures, single
// values read again from the file, and the CSV export.
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <QtTest>

#include "output/CsvExport.h"
#include "output/RecoverySummary.h"
#include "output/TableValues.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The fields of RFC 4180 text, line by line.
QList<QList<QByteArray>> ParseCsv(const QByteArray& text) {
  QList<QList<QByteArray>> rows;
  QList<QByteArray> row;
  QByteArray field;
  bool quoted = false, any = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text.at(i);
    any = true;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text.at(i + 1) == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row << field;
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n') {
      row << field;
      rows << row;
      row.clear();
      field.clear();
      any = false;
      ++i;
    } else {
      field += c;
    }
  }
  if (any) rows << (row << field);
  return rows;
}

QByteArray Encoded(const QString& text, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf16le:
      return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    case TextEncoding::Utf16be: {
      QByteArray out;
      for (QChar c : text) out.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
      return out;
    }
    case TextEncoding::Utf8:
      break;
  }
  return text.toUtf8();
}

}  // namespace

class OutputViewTest : public QObject {
  Q_OBJECT

 private slots:
  // The summary of an intact file and of the same file with one leaf of a
  // table zeroed: the rows of that leaf and the page are the known losses.
  void summaryFigures_data() {
    QTest::addColumn<bool>("damaged");
    QTest::newRow("intact") << false;
    QTest::newRow("leaf zeroed") << true;
  }
  void summaryFigures() {
    QFETCH(bool, damaged);
    const QString folder = NewTestFolder("summary");
    const QString path = folder + "/s.db";
    {
      DbOptions options;
      options.pageSize = 1024;
      DbBuilder db(path, options);
      db.Exec(
          "CREATE TABLE big (id INTEGER PRIMARY KEY, t TEXT); CREATE TABLE small (a, b);"
          "CREATE INDEX big_t ON big(t)");
      db.Begin();
      for (int i = 1; i <= 400; ++i)
        db.Insert("big", {i, QStringLiteral("row %1 ").arg(i).repeated(3)});
      for (int i = 0; i < 5; ++i) db.Insert("small", {i, QByteArray(3000, char('a' + i))});
      db.Commit();
      db.Close();
      QVERIFY(db.Ok());
    }
    PageProbe probe(path);
    const TreePages tree = probe.Tree(PageProbe::RootPage(path, "big"));
    QVERIFY(tree.leaves.size() > 3);
    const std::int64_t leaf = tree.leaves.at(1);
    const int lostRows = damaged ? probe.CellCount(leaf) : 0;
    if (damaged) QVERIFY(ZeroPage(path, leaf));

    RecoveryHarness h(path);
    const RecoverySummary s = MakeSummary(h.engine, NoProgress());
    QCOMPARE(s.pageSize, std::int64_t(1024));
    QCOMPARE(s.pageCount, probe.PageCount());
    QCOMPARE(s.fileSize, probe.PageCount() * 1024);
    QCOMPARE(EncodingText(s.encoding), QStringLiteral("UTF-8"));
    QVERIFY(!s.stopped);
    // Every page of the file belongs to a live tree, except the zeroed one.
    QCOMPARE(s.pagesInTrees, probe.PageCount() - (damaged ? 1 : 0));
    QCOMPARE(s.pagesUnusable, std::int64_t(damaged ? 1 : 0));
    QCOMPARE(s.pagesFreelist, std::int64_t(0));
    QCOMPARE(s.pagesOrphan, std::int64_t(0));  // a zeroed page is no table page
    QCOMPARE(s.rowsLostAndFound, std::int64_t(0));
    QVERIFY(s.companions.isEmpty());
    const TableSummary* big = s.Table("big");
    const TableSummary* small = s.Table("small");
    QVERIFY(big && small);
    QCOMPARE(big->rows, std::int64_t(400 - lostRows));
    QCOMPARE(big->pagesLost, std::int64_t(damaged ? 1 : 0));
    QCOMPARE(big->HasLosses(), damaged);
    QCOMPARE(big->LossText().contains("1 page of its tree could not be used"), damaged);
    QCOMPARE(small->rows, std::int64_t(5));
    QVERIFY(!small->HasLosses());
    const QString text = FormatSummary(s);
    QVERIFY2(text.contains(QStringLiteral("big: %1 rows from its own tree").arg(400 - lostRows)),
             qPrintable(text));
    QCOMPARE(text.contains("LOST:"), damaged);
  }

  // The page map: every page of the file once, by what the recovery made of
  // it, in agreement with the summary's figures and with what the file holds.
  void pageMap_data() {
    QTest::addColumn<QString>("damage");
    QTest::newRow("intact") << "none";
    QTest::newRow("a leaf zeroed") << "leaf";
    QTest::newRow("an interior page zeroed: orphans put back") << "interior";
    QTest::newRow("deleted rows on the freelist") << "freelist";
    QTest::newRow("pages in the write-ahead log") << "wal";
  }
  void pageMap() {
    QFETCH(QString, damage);
    const QString folder = NewTestFolder("pagemap");
    const QString path = folder + "/m.db";
    {
      DbOptions options;
      options.pageSize = 1024;
      DbBuilder db(path, options);
      db.Exec(
          "CREATE TABLE big (id INTEGER PRIMARY KEY, t TEXT); CREATE INDEX big_t ON big(t);"
          "CREATE TABLE notes (n TEXT)");
      db.Begin();
      for (int i = 1; i <= 1500; ++i)
        db.Insert("big", {i, QStringLiteral("row %1 ").arg(i).repeated(30)});
      db.Insert("notes", {QString(5000, QLatin1Char('n'))});  // overflow pages
      db.Commit();
      if (damage == QLatin1String("freelist")) db.Exec("DELETE FROM big WHERE id > 700");
      db.Close();
      QVERIFY(db.Ok());
    }
    if (damage == QLatin1String("wal")) {
      // Rows committed to the log and not yet written back: the copy keeps
      // both files as a crash would leave them.
      sqlite3* db = nullptr;
      QCOMPARE(sqlite3_open(path.toUtf8(), &db), SQLITE_OK);
      sqlite3_exec(db,
                   "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                   "UPDATE big SET t = t || 'changed' WHERE id % 7 = 0;",
                   nullptr, nullptr, nullptr);
      QVERIFY(QFile::copy(path, folder + "/w.db"));
      QVERIFY(QFile::copy(path + "-wal", folder + "/w.db-wal"));
      sqlite3_close(db);
    }
    const QString opened = damage == QLatin1String("wal") ? folder + "/w.db" : path;
    PageProbe probe(opened);
    const TreePages tree = probe.Tree(PageProbe::RootPage(opened, "big"));
    QVERIFY(tree.interior.size() > 1);
    std::int64_t zeroed = 0;
    QList<std::int64_t> orphans;  // leaves cut off from the tree
    if (damage == QLatin1String("leaf")) zeroed = tree.leaves.at(1);
    if (damage == QLatin1String("interior")) {
      zeroed = tree.interior.at(1);
      orphans = probe.Tree(zeroed).leaves;
    }
    if (zeroed != 0) QVERIFY(ZeroPage(opened, zeroed));

    RecoveryHarness h(opened);
    const RecoverySummary s = MakeSummary(h.engine, NoProgress());
    const PagePicture& map = s.pageMap;
    QVERIFY(!s.stopped && !map.stopped);
    QCOMPARE(map.pageCount, h.engine.geometry().pageCount);
    QCOMPARE(std::int64_t(map.pages.size()), map.pageCount);
    std::int64_t sum = 0;
    for (const std::int64_t n : map.counts) sum += n;
    QCOMPARE(sum, map.pageCount);
    QCOMPARE(map.Count(PageUse::NotClassified), std::int64_t(0));
    QCOMPARE(map.Count(PageUse::Schema) + map.Count(PageUse::Table) + map.Count(PageUse::Index),
             s.pagesInTrees);
    QCOMPARE(map.Count(PageUse::Freelist), s.pagesFreelist);
    const QByteArray header = ReadAll(opened).left(100);
    QCOMPARE(map.Count(PageUse::Freelist),
             std::int64_t(qFromBigEndian<quint32>(header.constData() + 36)));
    QCOMPARE(map.Count(PageUse::Freelist) > 0, damage == QLatin1String("freelist"));
    QCOMPARE(map.Use(1), PageUse::Schema);

    // Each live page names its own tree, and an index page its table.
    const std::int64_t indexRoot = PageProbe::RootPage(opened, "big_t");
    QCOMPARE(map.Use(indexRoot), PageUse::Index);
    QCOMPARE(map.Tree(indexRoot)->tableName, QStringLiteral("big"));
    for (const std::int64_t page : probe.Tree(PageProbe::RootPage(opened, "notes")).overflow) {
      QCOMPARE(map.Use(page), PageUse::Table);
      QCOMPARE(map.Tree(page)->name, QStringLiteral("notes"));
    }
    for (const std::int64_t leaf : tree.leaves) {
      const PageUse want = leaf == zeroed           ? PageUse::Unreadable
                           : orphans.contains(leaf) ? PageUse::PutBack
                                                    : PageUse::Table;
      QCOMPARE(map.Use(leaf), want);
      if (want != PageUse::Unreadable) QCOMPARE(map.Tree(leaf)->name, QStringLiteral("big"));
    }
    if (zeroed != 0) QCOMPARE(map.Use(zeroed), PageUse::Unreadable);
    QCOMPARE(map.Count(PageUse::PutBack), std::int64_t(orphans.size()));
    QCOMPARE(map.Count(PageUse::Unreadable), std::int64_t(zeroed != 0 ? 1 : 0));

    // Pages whose image is the log's are marked, as many as the log gave.
    const SourceReport& source = h.engine.SourceInfo();
    QCOMPARE(map.fromCompanions, source.wal.pages + source.journal.pages);
    QCOMPARE(map.fromCompanions > 0, damage == QLatin1String("wal"));
    for (std::int64_t page = 1; page <= map.pageCount; ++page)
      QCOMPARE((map.Flags(page) & kPageFromWal) != 0,
               h.engine.Source().PageOrigin(page) == PageSource::Origin::Wal);
  }

  // A value read again is exact: its first bytes within the limit, and all
  // of it in the saved file, for long texts and blobs larger than a page.
  void fetchExactBytes_data() {
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    for (TextEncoding e : {TextEncoding::Utf8, TextEncoding::Utf16le, TextEncoding::Utf16be}) {
      const QByteArray name = EncodingName(e).toLatin1();
      QTest::newRow(name + " long text") << int(e) << 2 << 1;
      QTest::newRow(name + " long blob") << int(e) << 2 << 2;
      QTest::newRow(name + " short text") << int(e) << 0 << 1;
      QTest::newRow(name + " rowid alias") << int(e) << 1 << 0;
      QTest::newRow(name + " real") << int(e) << 1 << 3;
      QTest::newRow(name + " null") << int(e) << 1 << 2;
    }
  }
  void fetchExactBytes() {
    QFETCH(int, encoding);
    QFETCH(int, row);
    QFETCH(int, column);
    const QString folder = NewTestFolder("fetch");
    const QString path = folder + "/v.db";
    const QString longText = MixedText(9000, 7);
    const QByteArray longBlob = PatternBytes(20000, 3);
    DbOptions options;
    options.pageSize = 1024;
    options.encoding = TextEncoding(encoding);
    {
      DbBuilder db(path, options);
      db.Exec("CREATE TABLE v (id INTEGER PRIMARY KEY, t TEXT, b BLOB, r REAL)");
      db.Insert("v", {5, "short", QByteArray("\x00\x01", 2), 1.5});
      db.Insert("v", {6, "x", QVariant(), 0.1});
      db.Insert("v", {7, longText, longBlob, QVariant()});
      db.Close();
      QVERIFY(db.Ok());
    }
    const QList<QByteArray> expected[] = {
        {"5", Encoded("short", TextEncoding(encoding)), QByteArray("\x00\x01", 2), "1.5"},
        {"6", Encoded("x", TextEncoding(encoding)), QByteArray(), "0.1"},
        {"7", Encoded(longText, TextEncoding(encoding)), longBlob, QByteArray()}};
    const QByteArray want = expected[row].at(column);

    RecoveryHarness h(path);
    const QString saved = folder + "/value.bin";
    const FetchedValue v = FetchValue(h.engine, NoProgress(), "v", row, column, 1000, saved);
    QCOMPARE(int(v.result), int(FetchedValue::Result::Found));
    QVERIFY(v.saved);
    QVERIFY(v.complete);
    QCOMPARE(ReadAll(saved), want);
    if (v.storage == StorageClass::Text || v.storage == StorageClass::Blob) {
      QCOMPARE(v.length, std::int64_t(want.size()));
      QCOMPARE(v.head, want.left(1000));
    }
    QCOMPARE(FetchValue(h.engine, NoProgress(), "v", 3, 0, 10).result,
             FetchedValue::Result::NoSuchRow);
    QCOMPARE(FetchValue(h.engine, NoProgress(), "nope", 0, 0, 10).result,
             FetchedValue::Result::NoSuchTable);
  }

  void csvQuoting_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("csv");
    QTest::newRow("plain") << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("blank inside") << QByteArray("a b") << QByteArray("a b");
    QTest::newRow("comma") << QByteArray("a,b") << QByteArray("\"a,b\"");
    QTest::newRow("quote") << QByteArray("say \"hi\"") << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("line feed") << QByteArray("a\nb") << QByteArray("\"a\nb\"");
    QTest::newRow("carriage return") << QByteArray("a\rb") << QByteArray("\"a\rb\"");
    QTest::newRow("only a quote") << QByteArray("\"") << QByteArray("\"\"\"\"");
  }
  void csvQuoting() {
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, csv);
    QCOMPARE(CsvField(field), csv);
    QCOMPARE(ParseCsv(csv + "\r\n").value(0).value(0), field);
  }

  // The export against what sqlite3 itself prints for the intact file:
  // every field the same, numbers included; blobs compared with hex().
  void exportMatchesSqlite_data() {
    QTest::addColumn<int>("encoding");
    QTest::newRow("UTF-8") << int(TextEncoding::Utf8);
    QTest::newRow("UTF-16be") << int(TextEncoding::Utf16be);
  }
  void exportMatchesSqlite() {
    QFETCH(int, encoding);
    const QString shell = QStandardPaths::findExecutable("sqlite3");
    if (shell.isEmpty()) QSKIP("the sqlite3 shell is not installed");
    const QString folder = NewTestFolder("csv");
    const QString path = folder + "/c.db";
    DbOptions options;
    options.pageSize = 1024;
    options.encoding = TextEncoding(encoding);
    {
      DbBuilder db(path, options);
      db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, i INTEGER, r REAL, s TEXT, b BLOB, a)");
      const QVariantList reals = {0.1,   1.0 / 3,
                                  1e300, -2.5e-7,
                                  100.0, 3.141592653589793,
                                  -0.0,  9007199254740993.0,
                                  1e15,  123456789012345678.0};
      const QVariantList texts = {
          "plain",    "a,b", "say \"hi\"", "two\nlines", "cr\r\nlf",
          QVariant(), "",    " padded ",   "é ü ✓",      QString(3000, 'L') + ",\""};
      db.Begin();
      for (int k = 0; k < 10; ++k)
        db.Insert("t",
                  {QVariant(), qint64(k % 2 ? -1 : 1) * (qint64(1) << (k * 6 + 3)) - k, reals.at(k),
                   texts.at(k), k == 3 ? QVariant() : QVariant(PatternBytes(k * 700, k)),
                   k % 3 == 0 ? QVariant(qint64(9223372036854775807LL)) : QVariant(k * 0.25)});
      db.Commit();
      db.Close();
      QVERIFY(db.Ok());
    }
    QProcess p;
    // ".mode csv" (unlike -csv) also ends its lines with CR LF.
    p.start(shell,
            {"-header", "-cmd", ".mode csv", path, "SELECT id, i, r, s, hex(b) AS b, a FROM t"});
    QVERIFY(p.waitForFinished(60000));
    const auto want = ParseCsv(p.readAllStandardOutput());

    RecoveryHarness h(path);
    SilentProgressBar noBar;
    const QString out = folder + "/t.csv";
    const CsvOutcome outcome = ExportTableCsv(h.engine, NoProgress(), "t", out, false, noBar);
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
    QCOMPARE(outcome.rows, std::int64_t(10));
    const QByteArray written = ReadAll(out);
    QVERIFY(written.endsWith("\r\n"));
    const auto got = ParseCsv(written);
    QCOMPARE(got.size(), want.size());
    for (int r = 0; r < got.size(); ++r) QCOMPARE(got.at(r), want.at(r));

    // Never over an existing file, never over the damaged file itself.
    QVERIFY(!ExportTableCsv(h.engine, NoProgress(), "t", out, false, noBar).written);
    QCOMPARE(ReadAll(out), written);
    QVERIFY(!ExportTableCsv(h.engine, NoProgress(), "t", path, true, noBar).written);
    QVERIFY(!ExportTableCsv(h.engine, NoProgress(), "t", path + "-wal", true, noBar).written);
    QVERIFY(!QFile::exists(path + "-wal"));
  }

  void csvFileNames_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "orders"
                           << "orders.csv";
    QTest::newRow("slash") << "a/b"
                           << "a_b.csv";
    QTest::newRow("dot dot") << ".."
                             << "_...csv";
    QTest::newRow("control") << "a\tb"
                             << "a_b.csv";
  }
  void csvFileNames() {
    QFETCH(QString, table);
    QFETCH(QString, file);
    QCOMPARE(CsvFileName(table), file);
  }
};

QTEST_GUILESS_MAIN(OutputViewTest)
#include "tst_output_view.moc"
