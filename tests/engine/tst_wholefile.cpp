// Whole-file recovery: damage that makes a tree point at the wrong pages, and
// the page map of the whole file. Each case builds an intact database with
// SQLite, damages a copy byte by byte, scans it and walks every table; each
// decoded row is checked against what SQLite reads from the intact copy: in
// its own table and exact, lost, or wrong (never allowed).
#include <QtTest/QtTest>
#include <functional>

#include "engine/core/Format.h"
#include "engine/passes/PagePasses.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

struct Tally {
  int own = 0, lost = 0, wrong = 0;
};

// Walks `table` of the damaged file in save mode and sorts its rows against
// the intact file's rows of the same table.
Tally Score(RecoveryHarness& h, const QString& intact, const QString& table) {
  Tally t;
  const RefTable ref = ReadReferenceTable(intact, table);
  QHash<std::int64_t, RefRow> byRowid;
  for (const RefRow& row : ref.rows) byRowid.insert(row.rowid, row);
  RecoveryHarness::Walk walk = h.WalkTable(table, true);
  QSet<std::int64_t> seen;
  for (const CollectedRecord& record : walk.records()) {
    const auto it = byRowid.constFind(record.rowid);
    if (it == byRowid.cend() || seen.contains(record.rowid) ||
        !CompareRecord(record.values, *it, ref, CompareMode::Exact, h.engine.geometry().pageSize)
             .isEmpty()) {
      ++t.wrong;
      continue;
    }
    seen.insert(record.rowid);
    ++t.own;
  }
  t.lost = int(ref.rows.size()) - t.own;
  return t;
}

// Two tables of different shapes, filled in turn so that their leaves lie
// between each other, an index on the second, and a free page chain.
QString MakeTwoTables(const QString& path) {
  DbOptions options;
  options.pageSize = 1024;
  DbBuilder db(path, options);
  db.Exec(
      QStringLiteral("CREATE TABLE a(x INTEGER, y TEXT, z TEXT);"
                     "CREATE TABLE b(p TEXT, q INTEGER, r TEXT, s TEXT, t REAL);"
                     "CREATE INDEX bq ON b(q);"
                     "CREATE TABLE gone(v TEXT);"));
  db.Begin();
  for (int i = 1; i <= 1200; ++i) {
    db.Insert(QStringLiteral("a"),
              {i, QStringLiteral("a row %1").arg(i), QStringLiteral("z%1").arg(i * 7)});
    db.Insert(QStringLiteral("b"), {QStringLiteral("b%1").arg(i), i * 3, QStringLiteral("r"),
                                    QStringLiteral("s%1").arg(i), i * 0.5});
    db.Insert(QStringLiteral("gone"), {QStringLiteral("deleted %1").arg(i)});
  }
  db.Commit();
  db.Exec(QStringLiteral("DROP TABLE gone"));
  db.Close();
  return db.Ok() ? QString() : db.LastError();
}

std::int64_t RootOf(const QString& path, const QString& table) {
  RecoveryHarness h(path, false);
  const SchemaObject* object = h.Table(table);
  return object != nullptr ? object->rootPage : 0;
}

using Damage = std::function<bool(const QString& path)>;

}  // namespace

class TestWholeFile : public QObject {
  Q_OBJECT

 private slots:
  void damage_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("minOwnA");  // rows of a that must come back (of 1200)
    QTest::addColumn<int>("minOwnB");
    QTest::newRow("child pointer into another table") << 0 << 1000 << 1200;
    QTest::newRow("root pages swapped in the schema") << 1 << 0 << 0;
    QTest::newRow("cell pointer array damaged") << 2 << 1200 << 1200;
    QTest::newRow("payload-size varint damaged") << 3 << 1200 << 1200;
    QTest::newRow("freelist trunk lists live pages") << 4 << 1200 << 1200;
  }

  // Rows in their own table, lost and wrong, per kind of damage.
  void damage() {
    QFETCH(int, kind);
    QFETCH(int, minOwnA);
    QFETCH(int, minOwnB);
    static QString intact;
    if (intact.isEmpty()) {
      intact = NewTestFolder(QStringLiteral("intact")) + QStringLiteral("/two.db");
      QCOMPARE(MakeTwoTables(intact), QString());
    }
    const QString path = NewTestFolder(QStringLiteral("damaged")) + QStringLiteral("/two.db");
    QVERIFY(CopyDatabase(intact, path));
    PageProbe in(intact);
    const std::int64_t rootA = RootOf(intact, QStringLiteral("a"));
    const std::int64_t rootB = RootOf(intact, QStringLiteral("b"));
    const TreePages treeA = in.Tree(rootA), treeB = in.Tree(rootB);
    QVERIFY(!treeA.interior.isEmpty() && treeB.leaves.size() > 4);
    switch (kind) {
      case 0:  // a's first child pointer aimed at b's last leaf
        QVERIFY(
            SetChildPointer(path, treeA.interior.last(), 0, std::uint32_t(treeB.leaves.last())));
        break;
      case 1:
        QCOMPARE(
            ExecOnFile(path, QStringLiteral("PRAGMA writable_schema=ON;"
                                            "UPDATE sqlite_schema SET rootpage = CASE name "
                                            "WHEN 'a' THEN %1 ELSE %2 END WHERE name IN ('a','b')")
                                 .arg(rootB)
                                 .arg(rootA)),
            QString());
        break;
      case 2: {  // on a leaf of each table: one pointer past the page, one into another cell
        const std::int64_t leafA = treeA.leaves[2], leafB = treeB.leaves[3];
        QVERIFY(PatchBe16(path, in.PageOffset(leafA) + in.CellPointerOffset(leafA, 1), 0xFFF0));
        const QList<CellInfo> cells = in.Cells(leafB);
        QVERIFY(PatchBe16(path, in.PageOffset(leafB) + in.CellPointerOffset(leafB, 2),
                          std::uint16_t(cells[4].offset + 3)));
        break;
      }
      case 3: {  // a cell whose payload size is 20 bytes too large (one-byte varints)
        const std::int64_t leaf = treeA.leaves[1];
        const CellInfo cell = in.Cells(leaf)[1];
        QVERIFY(cell.payloadSize < 100);
        QVERIFY(PatchBytes(path, in.PageOffset(leaf) + cell.offset,
                           QByteArray(1, char(cell.payloadSize + 20))));
        break;
      }
      case 4: {  // the first trunk lists two live leaves of a
        const QByteArray page1 = in.Page(1);
        const std::uint32_t trunk =
            format::ReadBigEndian32(reinterpret_cast<const std::uint8_t*>(page1.constData()) + 32);
        QVERIFY(trunk > 1);
        QVERIFY(PatchBe32(path, in.PageOffset(trunk) + 8, std::uint32_t(treeA.leaves[0])));
        QVERIFY(PatchBe32(path, in.PageOffset(trunk) + 12, std::uint32_t(treeA.interior.last())));
        break;
      }
    }
    RecoveryHarness h(path);
    if (kind == 2) QVERIFY(h.WalkTable(QStringLiteral("a"), true).report.pagesScanned == 1);
    const Tally a = Score(h, intact, QStringLiteral("a"));
    const Tally b = Score(h, intact, QStringLiteral("b"));
    qInfo("%s: a own %d lost %d wrong %d; b own %d lost %d wrong %d", QTest::currentDataTag(),
          a.own, a.lost, a.wrong, b.own, b.lost, b.wrong);
    QCOMPARE(a.wrong, 0);
    QCOMPARE(b.wrong, 0);
    QVERIFY2(a.own >= minOwnA, qPrintable(QString::number(a.own)));
    QVERIFY2(b.own >= minOwnB, qPrintable(QString::number(b.own)));
    if (kind == 0) QVERIFY(!h.engine.Holes(rootA).empty());
    if (kind == 4) {
      const PageCounts counts = h.engine.ClassifyPages();
      QCOMPARE(h.engine.Pages().Role(treeA.leaves[0]), PageRole::Btree);
      QCOMPARE(h.engine.Pages().Owner(treeA.leaves[0]), std::uint32_t(rootA));
      QCOMPARE(counts.total, in.PageCount());
    }
  }

  void pageMap_data() {
    QTest::addColumn<bool>("autoVacuum");
    QTest::newRow("plain file with a freelist") << false;
    QTest::newRow("auto-vacuum file") << true;
  }

  // On an intact file every page has exactly one role and none is orphan.
  void pageMap() {
    QFETCH(bool, autoVacuum);
    const QString path = NewTestFolder(QStringLiteral("map")) + QStringLiteral("/map.db");
    {
      DbOptions options;
      options.pageSize = 1024;
      options.autoVacuum = autoVacuum;
      DbBuilder db(path, options);
      db.Exec(QStringLiteral("CREATE TABLE t(k TEXT UNIQUE, v BLOB); CREATE TABLE u(w TEXT);"));
      db.Begin();
      for (int i = 0; i < 600; ++i) {
        db.Insert(QStringLiteral("t"),
                  {QStringLiteral("key %1").arg(i), QByteArray(i % 7 == 0 ? 3000 : 40, 'v')});
        db.Insert(QStringLiteral("u"), {QStringLiteral("u %1").arg(i)});
      }
      db.Commit();
      if (!autoVacuum) db.Exec(QStringLiteral("DELETE FROM u WHERE rowid > 100"));
      QVERIFY2(db.Close(), qPrintable(db.LastError()));
    }
    PageProbe in(path);
    RecoveryHarness h(path);
    QVERIFY(h.WalkTable(QStringLiteral("t"), true).result);
    const PageCounts counts = h.engine.ClassifyPages();
    QVERIFY(!counts.stopped);
    QCOMPARE(counts.total, in.PageCount());
    std::int64_t sum = 0;
    for (const std::int64_t n : counts.byRole) sum += n;
    QCOMPARE(sum, counts.total);
    QCOMPARE(counts.Of(PageRole::Orphan), 0);
    QCOMPARE(counts.Of(PageRole::Unknown), 0);
    const QByteArray page1 = in.Page(1);
    const auto* header = reinterpret_cast<const std::uint8_t*>(page1.constData());
    QCOMPARE(counts.Of(PageRole::FreeTrunk) + counts.Of(PageRole::FreeLeaf),
             std::int64_t(format::ReadBigEndian32(header + 36)));
    if (autoVacuum) {
      const std::int64_t step = in.UsableSize() / 5 + 1;
      QVERIFY(in.PageCount() > 2 + step);
      QCOMPARE(counts.Of(PageRole::PointerMap), (in.PageCount() - 2) / step + 1);
      QCOMPARE(h.engine.Pages().Role(2 + step), PageRole::PointerMap);
    } else {
      QVERIFY(counts.Of(PageRole::FreeLeaf) > 0);
      QVERIFY(counts.Of(PageRole::Overflow) > 0);
    }
  }

  // A file over 1 GiB whose pointer-map span would start on the lock-byte
  // page (page size 1024: every 205th page, and 1048577 = 2 + 5115 * 205): the
  // library puts that pointer-map page after the lock-byte page, and the page
  // map and the pointer-map reading must place it there too. The file is
  // sparse: made with the library, stretched to just below the lock-byte page,
  // then the library appends one row's overflow pages past it.
  void pointerMapPastLockBytePage() {
    const QString path = NewTestFolder(QStringLiteral("lockpage")) + QStringLiteral("/big.db");
    {
      DbOptions options;
      options.pageSize = 1024;
      options.autoVacuum = true;
      DbBuilder db(path, options);
      db.Exec(QStringLiteral("CREATE TABLE t(v BLOB)"));
      QVERIFY2(db.Close(), qPrintable(db.LastError()));
    }
    const std::int64_t lockPage = format::LockBytePage(1024);
    QCOMPARE(lockPage, std::int64_t(1048577));
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::ReadWrite));
      QVERIFY(file.resize((lockPage - 1) * 1024));
      // The database size in the header, so that the library appends there.
      const std::uint32_t pages = static_cast<std::uint32_t>(lockPage - 1);
      const char size[4] = {char(pages >> 24), char(pages >> 16), char(pages >> 8), char(pages)};
      QVERIFY(file.seek(28) && file.write(size, 4) == 4);
    }
    QCOMPARE(ExecOnFile(path, QStringLiteral("INSERT INTO t VALUES (randomblob(3000))")),
             QString());
    const std::int64_t mapPage = lockPage + 1;
    const std::int64_t firstOverflow = lockPage + 2;

    PageSource source;
    QCOMPARE(source.Open(path, false), PageSource::OpenResult::Opened);
    const std::int64_t pageCount = source.geometry().pageCount;
    QVERIFY(pageCount > firstOverflow);
    PageMap map;
    QCOMPARE(MarkPointerMapPages(source, map), (lockPage - 2) / 205 + 1);
    QCOMPARE(map.Role(mapPage), PageRole::PointerMap);
    QVERIFY(map.Role(lockPage) != PageRole::PointerMap);
    QCOMPARE(map.Role(2), PageRole::PointerMap);
    QCOMPARE(map.Role(lockPage - 205), PageRole::PointerMap);

    // The entries the library wrote for the overflow chain of the row on
    // page 3, checked against the chain's own next-page numbers.
    PointerMapEntry entry;
    QVERIFY(!ReadPointerMapEntry(source, lockPage, &entry));
    QVERIFY(!ReadPointerMapEntry(source, mapPage, &entry));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    std::int64_t parent = 3;
    for (std::int64_t page = firstOverflow; page <= pageCount; ++page) {
      QVERIFY(ReadPointerMapEntry(source, page, &entry));
      QCOMPARE(entry.kind,
               page == firstOverflow ? format::kPointerMapOverflow1 : format::kPointerMapOverflow2);
      QCOMPARE(std::int64_t(entry.parent), parent);
      QVERIFY(file.seek((page - 1) * 1024));
      const QByteArray next = file.read(4);
      QCOMPARE(std::int64_t(format::ReadBigEndian32(
                   reinterpret_cast<const std::uint8_t*>(next.constData()))),
               page == pageCount ? 0 : page + 1);
      parent = page;
    }
  }

  // The root choice: family, record shape, and two claims on one page.
  void chooseRoots() {
    const std::map<std::int64_t, RootEvidence> pages = {{3, {true, false, 3}},
                                                        {4, {true, false, 5}},
                                                        {5, {true, true, 2}},
                                                        {6, {false, false, -1}}};
    auto probe = [&](std::int64_t root) {
      const auto found = pages.find(root);
      return found != pages.end() ? found->second : RootEvidence{};
    };
    // Fits; wrong family; more fields than columns; unreadable.
    QCOMPARE(ChooseRoots({{3, false, 3}, {5, false, 2}, {4, false, 3}, {6, false, 1}}, probe),
             (std::vector<bool>{true, false, false, false}));
    // Two claims on page 4: only the five-column table fits it.
    QCOMPARE(ChooseRoots({{4, false, 3}, {4, false, 5}}, probe), (std::vector<bool>{false, true}));
    // Two claims that both fit: neither keeps it.
    QCOMPARE(ChooseRoots({{3, false, 3}, {3, false, 4}}, probe), (std::vector<bool>{false, false}));
    // Shorter records are kept (ADD COLUMN) unless a table that lost its
    // root has exactly that shape.
    QCOMPARE(ChooseRoots({{3, false, 5}}, probe), (std::vector<bool>{true}));
    QCOMPARE(ChooseRoots({{3, false, 5}, {4, false, 3}}, probe), (std::vector<bool>{false, false}));
  }
};

VELMORA_TEST_MAIN(TestWholeFile)
#include "tst_wholefile.moc"
