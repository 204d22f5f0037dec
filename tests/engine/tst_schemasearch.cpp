// Schema recovery: page 1 with a damaged b-tree header, schema leaves cut off
// from the schema tree, and old schema pages on the freelist.
//
// Each case builds a database with SQLite, keeps an intact copy, damages the
// other, saves every table the program recovers from it and compares every
// row with what SQLite reads from the intact copy.
#include <sqlite3.h>

#include <QFileInfo>
#include <QtTest>

#include "engine/passes/SchemaSearch.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"
#include "tests/support/Damager.h"
#include "tests/support/DbBuilder.h"
#include "tests/support/PageProbe.h"
#include "tests/support/ReferenceReader.h"
#include "tests/support/TestEnv.h"

using namespace velmora;
using namespace velmora::test;

namespace {

bool SameValues(const QList<RefValue>& a, const QList<RefValue>& b) {
  if (a.size() != b.size()) return false;
  for (int i = 0; i < a.size(); ++i)
    if (!SameValue(a[i], b[i])) return false;
  return true;
}

// Tables `count` tables t0..t<count-1> with long statements (padding columns
// with long names), a UNIQUE column (an automatic index), one AUTOINCREMENT
// table, and `rows` rows each.
QString Schema(int count, int padding, int rows, const QString& prefix = QStringLiteral("t")) {
  QString sql;
  for (int t = 0; t < count; ++t) {
    const QString name = prefix + QString::number(t);
    sql += QStringLiteral("CREATE TABLE %1(id INTEGER PRIMARY KEY%2, a TEXT UNIQUE, b REAL, c BLOB")
               .arg(name, t == 1 ? QStringLiteral(" AUTOINCREMENT") : QString());
    for (int p = 0; p < padding; ++p)
      sql += QStringLiteral(", padding_column_with_a_long_descriptive_name_%1 TEXT").arg(p);
    sql += QStringLiteral(");");
    sql += QStringLiteral(
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
               "INSERT INTO %1(a, b, c) SELECT '%1-' || i || '-' || hex(randomblob(6)), i * 0.25, "
               "randomblob(i % 9) FROM n;")
               .arg(name)
               .arg(rows);
  }
  return sql;
}

// The pages the freelist's first trunk lists (the trunk included).
QList<std::int64_t> FreePages(const QString& path) {
  PageProbe probe(path);
  QList<std::int64_t> pages;
  const std::int64_t trunk = PageProbe::Be32(probe.Data(), 32);
  if (trunk < 2 || trunk > probe.PageCount()) return pages;
  pages << trunk;
  const QByteArray page = probe.Page(trunk);
  const std::int64_t count =
      std::min<std::int64_t>(PageProbe::Be32(page, 4), probe.PageSize() / 4 - 2);
  for (std::int64_t i = 0; i < count; ++i) pages << PageProbe::Be32(page, 8 + 4 * i);
  return pages;
}

}  // namespace

class TestSchemaSearch : public QObject {
  Q_OBJECT

 private slots:
  void recovery_data();
  void recovery();
  void truncatedEncodings_data();
  void truncatedEncodings();
};

void TestSchemaSearch::recovery_data() {
  QTest::addColumn<QString>("build");
  QTest::addColumn<QString>("after");   // statements run on the intact copy after the build
  QTest::addColumn<QString>("damage");  // header-zero, header-garbage, header-leaf-garbage, child
  QTest::addColumn<bool>("interiorRoot");  // page 1 is an interior page
  QTest::addColumn<bool>("foundRows");     // schema rows come from the whole-file search

  const QString small = Schema(4, 0, 40);
  const QString large = Schema(60, 4, 6);
  QTest::newRow("leaf page 1, header zeroed")
      << small << QString() << "header-zero" << false << false;
  QTest::newRow("leaf page 1, header garbage")
      << small << QString() << "header-garbage" << false << false;
  QTest::newRow("leaf page 1, header garbage with a leaf type")
      << small << QString() << "header-leaf-garbage" << false << false;
  QTest::newRow("interior page 1, header zeroed")
      << large << QString() << "header-zero" << true << false;
  QTest::newRow("interior page 1, header garbage")
      << large << QString() << "header-garbage" << true << false;
  QTest::newRow("interior page 1, header garbage with a leaf type")
      << large << QString() << "header-leaf-garbage" << true << false;
  QTest::newRow("schema leaf cut off by its child pointer")
      << large << QString() << "child" << true << true;
  // Dropped tables leave schema pages on the freelist: never searched.
  QTest::newRow("old schema page on the freelist, header zeroed")
      << Schema(30, 4, 4) + Schema(30, 4, 2, QStringLiteral("gone_")) + Schema(30, 4, 4, "u") <<
      [] {
        QString drop = QStringLiteral("PRAGMA secure_delete=OFF;");
        for (int t = 0; t < 30; ++t) drop += QStringLiteral("DROP TABLE gone_%1;").arg(t);
        return drop;
      }()
      << "header-zero" << true << false;
  // Page 1 was a leaf when a table was altered and another dropped, then the
  // schema outgrew it: the rows it held before it became an interior page
  // (the old statement among them) are left in its free space.
  QTest::newRow("interior page 1 over stale schema rows, header zeroed")
      << QStringLiteral("PRAGMA secure_delete=OFF;") + Schema(5, 0, 30) +
             QStringLiteral(
                 "ALTER TABLE t2 ADD COLUMN added_later TEXT DEFAULT 'x';"
                 "DROP TABLE t4;") +
             Schema(60, 4, 6, QStringLiteral("v"))
      << QString() << "header-zero" << true << false;
}

void TestSchemaSearch::recovery() {
  QFETCH(QString, build);
  QFETCH(QString, after);
  QFETCH(QString, damage);
  QFETCH(bool, interiorRoot);
  QFETCH(bool, foundRows);

  const QString folder = NewTestFolder(QStringLiteral("schema"));
  const QString intact = folder + QStringLiteral("/intact.db");
  const QString damaged = folder + QStringLiteral("/damaged.db");
  {
    DbOptions options;
    options.pageSize = 1024;
    DbBuilder db(intact, options);
    db.Exec(build);
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  if (!after.isEmpty()) {
    QCOMPARE(ExecOnFile(intact, after), QString());
    // The old schema rows are still in the file, on free pages.
    bool onFreePage = false;
    const PageProbe probe(intact);
    for (const std::int64_t page : FreePages(intact))
      onFreePage = onFreePage || probe.Page(page).contains("CREATE TABLE gone_");
    QVERIFY(onFreePage);
  }
  QCOMPARE(PageProbe(intact).Type(1) == 5, interiorRoot);
  QVERIFY(CopyDatabase(intact, damaged));
  if (damage == QLatin1String("header-zero")) {
    QVERIFY(PatchBytes(damaged, 100, QByteArray(8, '\0')));
  } else if (damage == QLatin1String("header-garbage")) {
    QVERIFY(PatchBytes(damaged, 100, QByteArray::fromHex("a73c91e25d08f46b")));
  } else if (damage == QLatin1String("header-leaf-garbage")) {
    // A leaf type, a freeblock link past the page, two cells, a content start
    // inside the header.
    QVERIFY(PatchBytes(damaged, 100, QByteArray::fromHex("0d13370002000711")));
  } else {
    // The second child of page 1 points past the end of the file.
    QVERIFY(SetChildPointer(damaged, 1, 1, 0x00FFFFF0));
  }

  CSQLiteRecovery engine;
  QCOMPARE(engine.ScanDatabase(damaged), CSQLiteRecovery::ScanOutcome::Opened);
  QVERIFY(engine.SchemaSearched());
  QCOMPARE(engine.SchemaRowsFound() > 0, foundRows);
  QCOMPARE(engine.FirstPageReadLoosely(), damage != QLatin1String("child"));
  if (foundRows)
    QVERIFY(DescribeSchemaRecovery(engine).join('|').contains(
        QStringLiteral("%1 schema rows found outside the schema tree")
            .arg(engine.SchemaRowsFound())));
  engine.BuildWorkingDatabase();
  const QString out = folder + QStringLiteral("/out");
  QVERIFY(QDir().mkpath(out));
  {
    RecoveredDatabase target;
    QString error;
    QVERIFY2(target.Open(engine, out, QStringLiteral("out.db"), &error), qPrintable(error));
    for (const QString& name : CategoryNames(engine, ObjectKind::Table))
      DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, name}, target);
    target.Close();
  }

  // Every table keeps its name; >= 95% of the rows in it, none wrong.
  const RefSchema schema = ReadReferenceSchema(intact);
  std::int64_t reference = 0, own = 0, wrong = 0;
  for (const QString& name : schema.tables) {
    QVERIFY2(engine.TableNames().contains(name), qPrintable(name));
    const RefTable want = ReadReferenceTable(intact, name);
    const RefTable got = ReadReferenceTable(out + QStringLiteral("/out.db"), name);
    QVERIFY2(got.error.isEmpty(), qPrintable(name + ": " + got.error));
    QCOMPARE(got.columns, want.columns);
    reference += want.rows.size();
    for (const RefRow& row : got.rows) {
      bool match = false;
      for (const RefRow& w : want.rows)
        if (w.rowid == row.rowid) match = SameValues(row.values, w.values);
      ++(match ? own : wrong);
    }
  }
  for (const QString& name : engine.TableNames())
    QVERIFY2(!name.startsWith(QLatin1String("gone_")), qPrintable(name));
  QCOMPARE(wrong, 0);
  // Read through the schema tree, every row is in its own table.
  QVERIFY2(own * 100 >= reference * (foundRows ? 95 : 100),
           qPrintable(QStringLiteral("%1 of %2 rows").arg(own).arg(reference)));

  // The intact copy opened in the same session: nothing of the damaged
  // file's reading survives (page 1, found rows, refused roots, holes).
  QCOMPARE(engine.ScanDatabase(intact), CSQLiteRecovery::ScanOutcome::Opened);
  QVERIFY(!engine.FirstPageReadLoosely());
  QVERIFY(!engine.SchemaSearched());
  QCOMPARE(engine.SchemaRowsFound(), std::int64_t{0});
  QVERIFY(DescribeSchemaRecovery(engine).isEmpty());
  QVERIFY(engine.TableNames().isEmpty());
  QCOMPARE(engine.WorkingDb(), nullptr);
  for (const SchemaObject& object : engine.Catalog().Objects()) {
    QCOMPARE(object.origin == SchemaOrigin::FoundInFile, false);
    QVERIFY(!engine.RootRefused(object.rootPage));
    QVERIFY(engine.Holes(object.rootPage).empty());
  }
}

// A file cut short keeps the name of every table whose root page and schema
// row are still in the file (the schema tree spans several pages), whatever the text
// encoding: UTF-16 files come back as UTF-8 ones do.
void TestSchemaSearch::truncatedEncodings_data() {
  QTest::addColumn<int>("pageSize");
  QTest::addColumn<int>("keptPercent");  // of the file's length
  for (const int pageSize : {1024, 4096})
    for (const int kept : {50, 90})
      QTest::addRow("%d-byte pages, cut at %d%%", pageSize, kept) << pageSize << kept;
}

void TestSchemaSearch::truncatedEncodings() {
  QFETCH(int, pageSize);
  QFETCH(int, keptPercent);
  for (const TextEncoding encoding :
       {TextEncoding::Utf8, TextEncoding::Utf16le, TextEncoding::Utf16be}) {
    const QString folder = NewTestFolder(QStringLiteral("cut"));
    const QString intact = folder + QStringLiteral("/intact.db");
    const QString cut = folder + QStringLiteral("/cut.db");
    {
      DbOptions options;
      options.pageSize = pageSize;
      options.encoding = encoding;
      DbBuilder db(intact, options);
      db.Exec(Schema(40, 6, 30));
      QVERIFY2(db.Close(), qPrintable(db.LastError()));
    }
    QVERIFY(CopyDatabase(intact, cut));
    const std::int64_t pages = QFileInfo(intact).size() * keptPercent / 100 / pageSize;
    QVERIFY(TruncateFile(cut, pages * pageSize));
    CSQLiteRecovery engine;
    QCOMPARE(engine.ScanDatabase(cut), CSQLiteRecovery::ScanOutcome::Opened);
    engine.BuildWorkingDatabase();
    // The schema leaves left in the file.
    QByteArray schemaLeaves;
    const PageProbe probe(intact);
    for (const std::int64_t leaf : probe.Tree(1).leaves)
      if (leaf <= pages) schemaLeaves += probe.Page(leaf);
    auto encoded = [encoding](const QString& text) {
      if (encoding == TextEncoding::Utf8) return text.toUtf8();
      QByteArray bytes;
      for (const QChar c : text) {
        const char low = char(c.unicode() & 0xFF), high = char(c.unicode() >> 8);
        bytes += encoding == TextEncoding::Utf16le ? QByteArray{&low, 1} + QByteArray{&high, 1}
                                                   : QByteArray{&high, 1} + QByteArray{&low, 1};
      }
      return bytes;
    };
    int inFile = 0;
    for (const QString& name : ReadReferenceSchema(intact).tables) {
      if (PageProbe::RootPage(intact, name) > pages ||
          !schemaLeaves.contains(encoded(QStringLiteral("CREATE TABLE %1(").arg(name))))
        continue;
      ++inFile;
      QVERIFY2(engine.TableNames().contains(name),
               qPrintable(EncodingName(encoding) + QLatin1Char(' ') + name + QLatin1String(": ") +
                          engine.TableNames().join(QLatin1Char(','))));
    }
    QVERIFY(inFile > 10);
  }
}

QTEST_GUILESS_MAIN(TestSchemaSearch)
#include "tst_schemasearch.moc"
