// Damage at a known place, and what must survive it. Each case builds an
// intact database with SQLite, damages a copy byte by byte where the page
// probe says, scans the copy and walks its tables, and checks that
// every record outside the damaged pages comes back exact, that the walk
// ends, and that the loss is reported as such (a false walk result).
#include <QElapsedTimer>
#include <QSet>
#include <QtTest/QtTest>

#include "tests/support/EngineHarness.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Rowids of the table-leaf cells reachable from `root` in the intact file
// when the pages in `lost` (and everything below them) cannot be used.
QSet<std::int64_t> ReachableRowids(const PageProbe& in, std::int64_t root,
                                   const QSet<std::int64_t>& lost) {
  QSet<std::int64_t> rowids, seen;
  QList<std::int64_t> stack{root};
  while (!stack.isEmpty()) {
    const std::int64_t page = stack.takeLast();
    if (lost.contains(page) || seen.contains(page) || page < 1 || page > in.PageCount()) continue;
    seen.insert(page);
    const int type = in.Type(page);
    if (type == kInteriorTable || type == kInteriorIndex) {
      stack << in.Children(page);
    } else if (type == kLeafTable) {
      for (const CellInfo& cell : in.Cells(page)) rowids.insert(cell.rowid);
    }
  }
  return rowids;
}

// Rowids held below `page` (the page itself included).
QSet<std::int64_t> RowidsBelow(const PageProbe& in, std::int64_t page) {
  return ReachableRowids(in, page, {});
}

struct Intact {
  QString path;
  RefTable ref;
  QHash<std::int64_t, RefRow> byRowid;
};

// Builds the intact database once per `key` in this process; the cases that
// share a layout damage copies of the same file.
Intact Build(const QString& key, const std::function<QString(const QString&)>& make,
             const QString& table) {
  static QHash<QString, QString> built;
  Intact intact;
  if (built.contains(key)) {
    intact.path = built.value(key);
  } else {
    intact.path = NewTestFolder(QStringLiteral("intact")) + QStringLiteral("/intact.db");
    const QString error = make(intact.path);
    if (!error.isEmpty()) qFatal("building %s failed: %s", qPrintable(key), qPrintable(error));
    built.insert(key, intact.path);
  }
  intact.ref = ReadReferenceTable(intact.path, table);
  for (const RefRow& row : intact.ref.rows) intact.byRowid.insert(row.rowid, row);
  return intact;
}

QString Damaged(const Intact& intact) {
  const QString path = NewTestFolder(QStringLiteral("damaged")) + QStringLiteral("/damaged.db");
  if (!CopyDatabase(intact.path, path)) qFatal("copy failed");
  return path;
}

// Every decoded record whose rowid belongs to the intact table must equal
// the intact row exactly (unless `maybeCut` holds its rowid: such a record
// may end early, but what it holds must be a prefix of the truth). Returns
// the rowids decoded, or an error text in *error.
//
// With `lenient`, records that differ from the intact row are passed over
// instead of failing (garbage bytes can decode as records with any rowid);
// only the exact ones count as survivors.
QSet<std::int64_t> CheckRecords(const QList<CollectedRecord>& records, const Intact& intact,
                                CompareMode mode, std::int64_t pageSize, QString* error,
                                const QSet<std::int64_t>& maybeCut = {}, bool lenient = false) {
  QSet<std::int64_t> rowids;
  for (const CollectedRecord& record : records) {
    if (!record.hasRowid) continue;
    const auto it = intact.byRowid.constFind(record.rowid);
    if (it == intact.byRowid.cend()) continue;  // garbage that happened to decode
    if (lenient) {
      if (CompareRecord(record.values, *it, intact.ref, mode, pageSize).isEmpty())
        rowids.insert(record.rowid);
      continue;
    }
    if (rowids.contains(record.rowid)) {
      *error = QStringLiteral("rowid %1 decoded twice").arg(record.rowid);
      return rowids;
    }
    rowids.insert(record.rowid);
    RefRow want = *it;
    QList<DecodedValue> got = record.values;
    if (maybeCut.contains(record.rowid) && got.size() <= want.values.size()) {
      // Values before the cut are exact; the last one may be incomplete.
      if (!got.isEmpty() && !got.last().item.complete) {
        const DecodedValue last = got.takeLast();
        const RefValue& truth = want.values[got.size()];
        const QByteArray bytes = last.item.inTempFile ? last.fileBytes : last.item.bytes;
        if (last.item.storage != truth.storage || !truth.bytes.startsWith(bytes)) {
          *error = QStringLiteral("rowid %1: the cut value is not a prefix of the truth")
                       .arg(record.rowid);
          return rowids;
        }
      }
      want.values = want.values.mid(0, got.size());
    }
    const QString diff = CompareRecord(got, want, intact.ref, mode, pageSize);
    if (!diff.isEmpty()) {
      *error = QStringLiteral("rowid %1: %2").arg(record.rowid).arg(diff);
      return rowids;
    }
  }
  return rowids;
}

QString Missing(const QSet<std::int64_t>& expected, const QSet<std::int64_t>& got) {
  QSet<std::int64_t> missing = expected;
  missing.subtract(got);
  if (missing.isEmpty()) return {};
  QList<std::int64_t> list = missing.values();
  std::sort(list.begin(), list.end());
  QStringList texts;
  for (std::int64_t r : list.mid(0, 10)) texts << QString::number(r);
  return QStringLiteral("%1 rowids lost that should survive, e.g. %2")
      .arg(list.size())
      .arg(texts.join(u','));
}

DbOptions Layout(int pageSize, int encoding = 1, int reserved = 0) {
  return DbOptions{pageSize, TextEncoding(encoding), reserved, false};
}

}  // namespace

class CorruptionTest : public QObject {
  Q_OBJECT

 private slots:
  void lostPage_data();
  void lostPage();
  void truncated_data();
  void truncated();
  void childLoop_data();
  void childLoop();
  void schemaTreeLoop();
  void overflowDamage_data();
  void overflowDamage();
  void schemaRowDamage_data();
  void schemaRowDamage();
  void header_data();
  void header();
  void unusableFiles_data();
  void unusableFiles();
  void hostilePageHeader_data();
  void hostilePageHeader();
  void indexTreeLeafLost();
  void readOnlyFileUntouched();
};

// --- pages of a table's tree that cannot be used ---------------------------

void CorruptionTest::lostPage_data() {
  QTest::addColumn<int>("pageSize");
  QTest::addColumn<int>("encoding");
  QTest::addColumn<int>("reserved");
  QTest::addColumn<QString>(
      "which");  // first-leaf, middle-leaf, last-leaf, interior, interior-last
  QTest::addColumn<bool>("garbage");
  const struct {
    const char* name;
    int pageSize, encoding, reserved;
  } layouts[] = {
      {"512", 512, 1, 0}, {"1024 utf16le reserved 40", 1024, 2, 40}, {"2048 utf16be", 2048, 3, 0}};
  for (const auto& l : layouts)
    for (const char* which :
         {"first-leaf", "middle-leaf", "last-leaf", "interior", "interior-last"})
      for (bool garbage : {false, true})
        QTest::addRow("%s %s %s", l.name, which, garbage ? "garbage" : "zeroed")
            << l.pageSize << l.encoding << l.reserved << QString::fromLatin1(which) << garbage;
}

void CorruptionTest::lostPage() {
  QFETCH(int, pageSize);
  QFETCH(int, encoding);
  QFETCH(int, reserved);
  QFETCH(QString, which);
  QFETCH(bool, garbage);
  const Intact intact = Build(
      QStringLiteral("deep %1 %2 %3").arg(pageSize).arg(encoding).arg(reserved),
      [&](const QString& p) {
        return MakeDeepTreeDatabase(p, Layout(pageSize, encoding, reserved), 3);
      },
      QStringLiteral("deep"));
  const PageProbe in(intact.path);
  const std::int64_t root = PageProbe::RootPage(intact.path, QStringLiteral("deep"));
  const TreePages tree = in.Tree(root);
  QVERIFY(tree.depth >= 3);
  // The interior pages one level below the root.
  const QList<std::int64_t> middle = in.Children(root);
  std::int64_t victim = 0;
  if (which == QLatin1String("first-leaf"))
    victim = tree.leaves.first();
  else if (which == QLatin1String("middle-leaf"))
    victim = tree.leaves[tree.leaves.size() / 2];
  else if (which == QLatin1String("last-leaf"))
    victim = tree.leaves.last();
  else if (which == QLatin1String("interior"))
    victim = middle.first();
  else
    victim = middle.last();  // the right-most child of the root
  QVERIFY(victim > 1);

  const QString path = Damaged(intact);
  QVERIFY(garbage ? GarbagePage(path, victim, std::uint32_t(victim) * 2654435761u)
                  : ZeroPage(path, victim));

  RecoveryHarness run(path);
  QVERIFY(run.engine.TableNames().contains(QStringLiteral("deep")));
  const QSet<std::int64_t> expected = ReachableRowids(in, root, {victim});
  const QSet<std::int64_t> lost = RowidsBelow(in, victim);
  QVERIFY(!lost.isEmpty());
  for (bool saveMode : {true, false}) {
    RecoveryHarness::Walk walk = run.WalkRoot(root, saveMode);
    QString error;
    const QSet<std::int64_t> got =
        CheckRecords(walk.records(), intact, saveMode ? CompareMode::Exact : CompareMode::Display,
                     pageSize, &error, {}, garbage);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(Missing(expected, got).isEmpty(), qPrintable(Missing(expected, got)));
    if (!garbage) {
      // A zeroed page holds no records: exactly the survivors come back.
      QCOMPARE(got.size(), expected.size());
      // The damage is reported to the caller, also when it hit the right-most child.
      QVERIFY(!walk.result);
    }
  }
}

// --- the file ends early ------------------------------------------------------

void CorruptionTest::truncated_data() {
  QTest::addColumn<double>("keep");     // share of the file kept
  QTest::addColumn<int>("extraBytes");  // bytes of a partial page after that
  QTest::newRow("three quarters") << 0.75 << 0;
  QTest::newRow("half and a partial page") << 0.5 << 300;
  QTest::newRow("all but one byte") << 1.0 << -1;
  QTest::newRow("a quarter") << 0.25 << 17;
}

void CorruptionTest::truncated() {
  QFETCH(double, keep);
  QFETCH(int, extraBytes);
  const Intact intact = Build(
      QStringLiteral("deep 1024 1 0"),
      [](const QString& p) { return MakeDeepTreeDatabase(p, Layout(1024), 3); },
      QStringLiteral("deep"));
  const PageProbe in(intact.path);
  const std::int64_t root = PageProbe::RootPage(intact.path, QStringLiteral("deep"));
  const std::int64_t pages = std::int64_t(in.PageCount() * keep);
  const std::int64_t size = pages * in.PageSize() + extraBytes;
  const std::int64_t whole = size / in.PageSize();
  const QString path = Damaged(intact);
  QVERIFY(TruncateFile(path, size));

  QSet<std::int64_t> cut;
  for (std::int64_t p = whole + 1; p <= in.PageCount(); ++p) cut.insert(p);
  RecoveryHarness run(path);
  QCOMPARE(run.engine.geometry().pageCount, whole);
  const QSet<std::int64_t> expected = ReachableRowids(in, root, cut);
  RecoveryHarness::Walk walk = run.WalkRoot(root, true);
  QString error;
  const QSet<std::int64_t> got =
      CheckRecords(walk.records(), intact, CompareMode::Exact, in.PageSize(), &error);
  QVERIFY2(error.isEmpty(), qPrintable(error));
  QCOMPARE(got, expected);
  if (expected.size() < intact.ref.rows.size()) QVERIFY(!walk.result);
}

// --- child pointers that lead back -------------------------------------------

void CorruptionTest::childLoop_data() {
  QTest::addColumn<QString>("target");  // root, self, sibling, page1, beyond
  QTest::addColumn<bool>("rightMost");
  for (const char* target : {"root", "self", "sibling", "page1", "beyond"})
    for (bool rightMost : {false, true})
      QTest::addRow("%s %s", target, rightMost ? "right-most" : "left")
          << QString::fromLatin1(target) << rightMost;
}

void CorruptionTest::childLoop() {
  QFETCH(QString, target);
  QFETCH(bool, rightMost);
  const Intact intact = Build(
      QStringLiteral("deep 512 1 0"),
      [](const QString& p) { return MakeDeepTreeDatabase(p, Layout(512), 3); },
      QStringLiteral("deep"));
  const PageProbe in(intact.path);
  const std::int64_t root = PageProbe::RootPage(intact.path, QStringLiteral("deep"));
  // An interior page one level below the root, not the first one (so that a
  // sibling has been walked before it).
  const QList<std::int64_t> middle = in.Children(root);
  QVERIFY(middle.size() >= 2);
  const std::int64_t page = middle[1];
  QCOMPARE(in.Type(page), int(kInteriorTable));
  const QList<std::int64_t> children = in.Children(page);
  const int cell = rightMost ? -1 : 1;
  const std::int64_t replaced = rightMost ? children.last() : children[1];
  std::uint32_t to = 0;
  if (target == QLatin1String("root"))
    to = std::uint32_t(root);
  else if (target == QLatin1String("self"))
    to = std::uint32_t(page);
  else if (target == QLatin1String("sibling"))
    to = std::uint32_t(middle[0]);
  else if (target == QLatin1String("page1"))
    to = 1;
  else
    to = 0xFFFFFFF0u;

  const QString path = Damaged(intact);
  QVERIFY(SetChildPointer(path, page, cell, to));
  RecoveryHarness run(path);
  QElapsedTimer timer;
  timer.start();
  RecoveryHarness::Walk walk = run.WalkRoot(root, true);
  // One visit per page bounds the work: a few progress calls per page and cell.
  const std::int64_t cells = intact.ref.rows.size() + in.PageCount();
  QVERIFY2(walk.progressCalls < 4 * cells + 100, qPrintable(QString::number(walk.progressCalls)));
  // Page 1 is a usable page that this walk has not seen: the engine cannot
  // tell that it belongs to another tree.
  if (target != QLatin1String("page1")) QVERIFY(!walk.result);
  QString error;
  const QSet<std::int64_t> got = CheckRecords(walk.records(), intact, CompareMode::Exact, 512,
                                              &error, {}, target == QLatin1String("page1"));
  QVERIFY2(error.isEmpty(), qPrintable(error));
  // Everything but the replaced child's subtree survives.
  const QSet<std::int64_t> expected = ReachableRowids(in, root, {replaced});
  QVERIFY2(Missing(expected, got).isEmpty(), qPrintable(Missing(expected, got)));
  QVERIFY(timer.elapsed() < 60000);  // generous: only an endless loop fails this
}

void CorruptionTest::schemaTreeLoop() {
  // Enough tables that the schema tree has interior pages; then one of its
  // child pointers points back at page 1.
  const QString folder = NewTestFolder(QStringLiteral("schemaloop"));
  const QString intactPath = folder + QStringLiteral("/intact.db");
  {
    DbBuilder db(intactPath, Layout(512));
    for (int i = 0; i < 60; ++i)
      db.Exec(
          QStringLiteral("CREATE TABLE t%1 (a INTEGER, b TEXT, c TEXT DEFAULT 'some default text')")
              .arg(i));
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  const PageProbe in(intactPath);
  QCOMPARE(in.Type(1), int(kInteriorTable));
  const QList<std::int64_t> children = in.Children(1);
  QVERIFY(children.size() >= 3);
  const QString path = folder + QStringLiteral("/damaged.db");
  QVERIFY(CopyDatabase(intactPath, path));
  QVERIFY(SetChildPointer(path, 1, 1, 1));

  // Names of the tables in the schema leaves that are still reachable.
  QStringList expected;
  for (std::int64_t leaf : children) {
    if (leaf == children[1]) continue;
    for (const CellInfo& cell : in.Cells(leaf)) {
      const auto fields = in.LocalFields(leaf, cell);
      if (fields.size() >= 2)
        expected << QString::fromUtf8(in.Page(leaf).mid(fields[1].offset, fields[1].size));
    }
  }
  RecoveryHarness run(path);
  QVERIFY(run.scanProgressCalls < 50 * in.PageCount() + 1000);
  QVERIFY(!expected.isEmpty());
  for (const QString& name : expected)
    QVERIFY2(run.engine.TableNames().contains(name), qPrintable(name));
  // The leaf cut off by the loop is found by the search of the whole file.
  QVERIFY(run.engine.SchemaRowsFound() > 0);
  QCOMPARE(run.engine.TableNames().size(), 60);
}

// --- overflow chains ----------------------------------------------------------

void CorruptionTest::overflowDamage_data() {
  QTest::addColumn<QString>(
      "damage");  // loop-to-first, self-loop, beyond, zero-next, first-beyond, first-zero
  QTest::addColumn<int>("encoding");
  for (const char* damage :
       {"loop-to-first", "self-loop", "beyond", "zero-next", "first-beyond", "first-zero"})
    for (int encoding : {1, 2})
      QTest::addRow("%s enc %d", damage, encoding) << QString::fromLatin1(damage) << encoding;
}

void CorruptionTest::overflowDamage() {
  QFETCH(QString, damage);
  QFETCH(int, encoding);
  const Intact intact = Build(
      QStringLiteral("long 1024 %1").arg(encoding),
      [&](const QString& p) { return MakeLongValuesDatabase(p, Layout(1024, encoding)); },
      QStringLiteral("longs"));
  const PageProbe in(intact.path);
  const std::int64_t root = PageProbe::RootPage(intact.path, QStringLiteral("longs"));
  // The record with the longest chain.
  std::int64_t victimRowid = 0, victimLeaf = 0;
  CellInfo victim;
  QList<std::int64_t> chain;
  for (std::int64_t leaf : in.Tree(root).leaves)
    for (const CellInfo& cell : in.Cells(leaf)) {
      if (!cell.firstOverflow) continue;
      const QList<std::int64_t> c = in.OverflowChain(cell.firstOverflow);
      if (c.size() > chain.size()) {
        chain = c;
        victim = cell;
        victimRowid = cell.rowid;
        victimLeaf = leaf;
      }
    }
  QVERIFY(chain.size() >= 4);

  const QString path = Damaged(intact);
  const std::int64_t pointerAt =
      in.PageOffset(victimLeaf) + victim.payloadOffset + victim.localSize;
  if (damage == QLatin1String("loop-to-first"))
    QVERIFY(SetOverflowNext(path, chain[2], std::uint32_t(chain[0])));
  else if (damage == QLatin1String("self-loop"))
    QVERIFY(SetOverflowNext(path, chain[1], std::uint32_t(chain[1])));
  else if (damage == QLatin1String("beyond"))
    QVERIFY(SetOverflowNext(path, chain[1], 0x7FFFFFFFu));
  else if (damage == QLatin1String("zero-next"))
    QVERIFY(SetOverflowNext(path, chain[1], 0));
  else if (damage == QLatin1String("first-beyond"))
    QVERIFY(PatchBe32(path, pointerAt, 0xFFFFFFFFu));
  else
    QVERIFY(PatchBe32(path, pointerAt, 0));

  RecoveryHarness run(path);
  for (bool saveMode : {true, false}) {
    RecoveryHarness::Walk walk = run.WalkRoot(root, saveMode);
    QString error;
    const QSet<std::int64_t> got =
        CheckRecords(walk.records(), intact, saveMode ? CompareMode::Exact : CompareMode::Display,
                     1024, &error, {victimRowid});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // Every other record survives whole.
    QSet<std::int64_t> expected = ReachableRowids(in, root, {});
    expected.remove(victimRowid);
    QVERIFY2(Missing(expected, got).isEmpty(), qPrintable(Missing(expected, got)));
    // The damaged record shows what was readable: never a value longer than
    // its truth, never one marked complete that is not.
    for (const CollectedRecord& record : walk.records()) {
      if (record.rowid != victimRowid) continue;
      QVERIFY(record.values.size() <= intact.byRowid[victimRowid].values.size());
      if (damage.startsWith(QLatin1String("first"))) {
        // The chain cannot even start: the long value and those after it are lost.
        QVERIFY(record.values.size() < intact.byRowid[victimRowid].values.size());
      }
    }
  }
}

// --- damaged schema rows --------------------------------------------------------

void CorruptionTest::schemaRowDamage_data() {
  QTest::addColumn<QString>("object");
  QTest::addColumn<int>("field");
  QTest::addColumn<int>("skip");
  QTest::addColumn<int>("count");
  QTest::addColumn<char>("fill");
  QTest::addColumn<bool>("survives");  // is the damaged table still listed?
  QTest::newRow("CREATE overwritten") << "orders" << 4 << 0 << 6 << 'x' << false;
  // A statement the library refuses is rebuilt: the table stays listed.
  QTest::newRow("column list broken") << "products" << 4 << 22 << 3 << '(' << true;
  QTest::newRow("type field damaged") << "orders" << 0 << 2 << 1 << 'X' << true;
  QTest::newRow("zero bytes inside the SQL") << "customers" << 4 << 30 << 4 << '\0' << true;
  QTest::newRow("index SQL damaged") << "idx_orders_customer" << 4 << 0 << 6 << '#' << true;
}

void CorruptionTest::schemaRowDamage() {
  QFETCH(QString, object);
  QFETCH(int, field);
  QFETCH(int, skip);
  QFETCH(int, count);
  QFETCH(char, fill);
  QFETCH(bool, survives);
  const QString folder = NewTestFolder(QStringLiteral("schemarow"));
  const QString intact = folder + QStringLiteral("/intact.db");
  QCOMPARE(MakeShopDatabase(intact), QString());
  const QString path = folder + QStringLiteral("/damaged.db");
  QVERIFY(CopyDatabase(intact, path));
  QVERIFY(DamageSchemaField(path, object, field, skip, count, fill));

  RecoveryHarness run(path);
  const QStringList tables = ShopSchema().tables;
  for (const QString& t : tables) {
    const bool damaged = t == object;
    QCOMPARE(run.engine.TableNames().contains(t), !damaged || survives);
    if (damaged && !survives) continue;
    // The tables that are listed still walk whole.
    const RefTable ref = ReadReferenceTable(intact, t);
    RecoveryHarness::Walk walk = run.WalkTable(t, true);
    QVERIFY2(walk.result, qPrintable(t));
    QCOMPARE(walk.records().size(), ref.rows.size());
  }
}

// --- the file header ------------------------------------------------------------

void CorruptionTest::header_data() {
  QTest::addColumn<int>("pageSize");       // of the intact file
  QTest::addColumn<int>("rawPageSize");    // written to bytes 16-17, -1: leave
  QTest::addColumn<int>("encodingField");  // written to bytes 56-59, -1: leave
  QTest::addColumn<int>("reservedField");  // written to byte 20, -1: leave
  QTest::addColumn<bool>("allTables");     // every table is still found
  QTest::newRow("64 KiB pages (value 1)") << 65536 << -1 << -1 << -1 << true;
  QTest::newRow("page size 0") << 1024 << 0 << -1 << -1 << true;
  QTest::newRow("page size 511") << 1024 << 511 << -1 << -1 << true;
  QTest::newRow("page size 256") << 1024 << 256 << -1 << -1 << true;
  QTest::newRow("page size 512 in a 1024 file") << 1024 << 512 << -1 << -1 << true;
  QTest::newRow("page size 2048 in a 1024 file") << 1024 << 2048 << -1 << -1 << true;
  QTest::newRow("page size 65535") << 1024 << 65535 << -1 << -1 << true;
  QTest::newRow("page size 1 in a 4096 file") << 4096 << 1 << -1 << -1 << true;
  QTest::newRow("unknown encoding 7") << 4096 << -1 << 7 << -1 << true;
  QTest::newRow("encoding 0") << 4096 << -1 << 0 << -1 << true;
  QTest::newRow("UTF-16be claimed for UTF-8") << 4096 << -1 << 3 << -1 << false;
  QTest::newRow("reserved 255 on 512 pages") << 512 << -1 << -1 << 255 << false;
  QTest::newRow("reserved 200 on 4096 pages") << 4096 << -1 << -1 << 200 << false;
}

void CorruptionTest::header() {
  QFETCH(int, pageSize);
  QFETCH(int, rawPageSize);
  QFETCH(int, encodingField);
  QFETCH(int, reservedField);
  QFETCH(bool, allTables);
  const QString folder = NewTestFolder(QStringLiteral("header"));
  const QString intact = folder + QStringLiteral("/intact.db");
  QCOMPARE(MakeShopDatabase(intact, Layout(pageSize)), QString());
  const QString path = folder + QStringLiteral("/damaged.db");
  QVERIFY(CopyDatabase(intact, path));
  if (rawPageSize >= 0) QVERIFY(SetHeaderPageSize(path, std::uint16_t(rawPageSize)));
  if (encodingField >= 0) QVERIFY(SetHeaderEncoding(path, std::uint32_t(encodingField)));
  if (reservedField >= 0) QVERIFY(PatchBytes(path, 20, QByteArray(1, char(reservedField))));

  // A damaged page-size field is detected from the pages (the value 1 stands
  // for 65536): no file with intact pages is refused.
  RecoveryHarness run(path);
  QVERIFY(!run.boxes.Saw(QStringLiteral("File Corrupted")));
  QCOMPARE(run.engine.geometry().pageSize, pageSize);
  if (allTables) {
    QStringList names = run.engine.TableNames();
    names.removeAll(QStringLiteral("sqlite_sequence"));
    QCOMPARE(names, ShopSchema().tables);
  }
  // Whatever was found walks to its end without harm.
  for (const QString& t : run.engine.TableNames()) {
    if (!run.Table(t)) continue;
    run.WalkTable(t, true);
    run.WalkTable(t, false);
  }
}

void CorruptionTest::unusableFiles_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("message");
  QTest::newRow("missing") << "missing"
                           << "File Not Open !";
  QTest::newRow("folder") << "folder"
                          << "File Not Open !";
  QTest::newRow("empty") << "empty"
                         << "File Corrupted";
  QTest::newRow("header only") << "header"
                               << "File Corrupted";
  QTest::newRow("less than one page") << "short"
                                      << "File Corrupted";
}

void CorruptionTest::unusableFiles() {
  QFETCH(QString, kind);
  QFETCH(QString, message);
  const QString folder = NewTestFolder(QStringLiteral("unusable"));
  const QString intact = folder + QStringLiteral("/intact.db");
  QCOMPARE(MakeShopDatabase(intact, Layout(4096)), QString());
  QString path = folder + QStringLiteral("/file.db");
  if (kind == QLatin1String("missing")) {
    path = folder + QStringLiteral("/nothing-here.db");
  } else if (kind == QLatin1String("folder")) {
    path = folder;
  } else {
    QVERIFY(CopyDatabase(intact, path));
    const int size = kind == QLatin1String("empty")    ? 0
                     : kind == QLatin1String("header") ? 100
                                                       : 4095;
    QVERIFY(TruncateFile(path, size));
  }
  RecoveryHarness run(path);
  QCOMPARE(run.boxes.Texts(), QStringList{message});
  QVERIFY(run.engine.Catalog().OfKind(SchemaKind::Table).empty());
  QVERIFY(run.engine.TableNames().isEmpty());
  if (message == QLatin1String("File Not Open !")) QVERIFY(run.engine.FilePath().isEmpty());
}

// --- hostile page headers and cells ------------------------------------------------

void CorruptionTest::hostilePageHeader_data() {
  QTest::addColumn<QString>("damage");
  QTest::addColumn<int>("pageSize");
  for (const char* d : {"cell count 0xFFFF", "cell count just fits", "pointers to 0xFFFF",
                        "pointers into the header", "pointers all equal", "payload size huge",
                        "header size huge", "serial type huge"})
    QTest::newRow(d) << QString::fromLatin1(d) << 1024;
  QTest::newRow("cell count 0xFFFF, 65536-byte pages")
      << QStringLiteral("cell count 0xFFFF") << 65536;
}

void CorruptionTest::hostilePageHeader() {
  QFETCH(QString, damage);
  QFETCH(int, pageSize);
  const Intact intact = Build(
      QStringLiteral("long %1 1").arg(pageSize),
      [pageSize](const QString& p) { return MakeLongValuesDatabase(p, Layout(pageSize)); },
      QStringLiteral("longs"));
  const PageProbe in(intact.path);
  const std::int64_t root = PageProbe::RootPage(intact.path, QStringLiteral("longs"));
  const TreePages tree = in.Tree(root);
  const std::int64_t leaf = tree.leaves[tree.leaves.size() / 2];
  const std::int64_t base = in.PageOffset(leaf);
  const QList<CellInfo> cells = in.Cells(leaf);
  QVERIFY(!cells.isEmpty());
  const QString path = Damaged(intact);
  if (damage == QLatin1String("cell count 0xFFFF")) {
    QVERIFY(PatchBe16(path, base + 3, 0xFFFF));
  } else if (damage == QLatin1String("cell count just fits")) {
    QVERIFY(PatchBe16(path, base + 3, std::uint16_t((in.PageSize() - 8) / 2)));
  } else {
    for (int i = 0; i < cells.size(); ++i) {
      const std::int64_t pointer = base + in.CellPointerOffset(leaf, i);
      const std::int64_t cell = base + cells[i].offset;
      if (damage == QLatin1String("pointers to 0xFFFF"))
        QVERIFY(PatchBe16(path, pointer, 0xFFFF));
      else if (damage == QLatin1String("pointers into the header"))
        QVERIFY(PatchBe16(path, pointer, std::uint16_t(i % 8)));
      else if (damage == QLatin1String("pointers all equal"))
        QVERIFY(PatchBe16(path, pointer, std::uint16_t(cells[0].offset)));
      else if (damage == QLatin1String("payload size huge"))
        QVERIFY(PatchBytes(path, cell, QByteArray(9, char(0xFF))));
      else if (damage == QLatin1String("header size huge"))
        QVERIFY(PatchBytes(path, base + cells[i].payloadOffset, QByteArray(3, char(0xFF))));
      else
        QVERIFY(PatchBytes(path, base + cells[i].payloadOffset + 1,
                           QByteArray("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8)));
    }
  }
  RecoveryHarness run(path);
  QElapsedTimer timer;
  timer.start();
  // Damaged pointers or cell counts leave every cell's bytes as they were:
  // every record read must be exact. Damaged cell bytes make records of
  // their own, which are passed over.
  const bool cellBytesDamaged = damage.contains(QLatin1String("huge"));
  for (bool saveMode : {true, false}) {
    RecoveryHarness::Walk walk = run.WalkRoot(root, saveMode);
    QString error;
    const QSet<std::int64_t> got =
        CheckRecords(walk.records(), intact, saveMode ? CompareMode::Exact : CompareMode::Display,
                     1024, &error, {}, cellBytesDamaged);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // A leaf whose cell count is past what its page holds is scanned: none
    // of its records is lost.
    const bool scanned = damage.startsWith(QLatin1String("cell count"));
    const QSet<std::int64_t> expected =
        ReachableRowids(in, root, scanned ? QSet<std::int64_t>{} : QSet<std::int64_t>{leaf});
    QVERIFY2(Missing(expected, got).isEmpty(), qPrintable(Missing(expected, got)));
  }
  QVERIFY(timer.elapsed() < 60000);
}

void CorruptionTest::indexTreeLeafLost() {
  // A WITHOUT ROWID table lives in an index b-tree whose interior pages hold
  // records too: a zeroed leaf loses only that leaf's records.
  const QString folder = NewTestFolder(QStringLiteral("indextree"));
  const QString intact = folder + QStringLiteral("/intact.db");
  QCOMPARE(MakeDeepTreeDatabase(intact, Layout(512), 3), QString());
  const PageProbe in(intact);
  const std::int64_t root = PageProbe::RootPage(intact, QStringLiteral("deepkeys"));
  const TreePages tree = in.Tree(root);
  const std::int64_t victim = tree.leaves[tree.leaves.size() / 3];
  auto keysOf = [&](std::int64_t page) {
    QSet<QByteArray> keys;
    for (const CellInfo& cell : in.Cells(page)) {
      const auto fields = in.LocalFields(page, cell);
      if (!fields.isEmpty()) keys.insert(in.Page(page).mid(fields[0].offset, fields[0].size));
    }
    return keys;
  };
  QSet<QByteArray> expected;
  for (std::int64_t p : tree.leaves + tree.interior)
    if (p != victim) expected.unite(keysOf(p));
  const QString path = folder + QStringLiteral("/damaged.db");
  QVERIFY(CopyDatabase(intact, path));
  QVERIFY(ZeroPage(path, victim));
  RecoveryHarness run(path);
  RecoveryHarness::Walk walk = run.WalkTable(QStringLiteral("deepkeys"), true);
  QVERIFY(!walk.result);
  QSet<QByteArray> got;
  for (const CollectedRecord& r : walk.records())
    if (!r.values.isEmpty()) got.insert(r.values[0].item.bytes);
  QCOMPARE(got.size(), int(walk.records().size()));  // no key twice
  QCOMPARE(got, expected);
}

void CorruptionTest::readOnlyFileUntouched() {
  // A damaged file that the user may only read is recovered like any other,
  // and neither scanning nor walking changes a byte of it or leaves files
  // beside it.
  const QString folder = NewTestFolder(QStringLiteral("readonly"));
  const QString intact = folder + QStringLiteral("/intact.db");
  QCOMPARE(MakeLongValuesDatabase(intact, Layout(1024)), QString());
  const QString inner = folder + QStringLiteral("/locked");
  QVERIFY(QDir().mkpath(inner));
  const QString path = inner + QStringLiteral("/damaged.db");
  QVERIFY(CopyDatabase(intact, path));
  const std::int64_t root = PageProbe::RootPage(intact, QStringLiteral("longs"));
  QVERIFY(ZeroPage(path, PageProbe(path).Tree(root).leaves.first()));
  const QByteArray before = PageProbe(path).Data();
  QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
  QVERIFY(QFile::setPermissions(inner, QFile::ReadOwner | QFile::ExeOwner));
  {
    RecoveryHarness run(path);
    QCOMPARE(run.boxes.Texts(), QStringList());
    QVERIFY(run.engine.TableNames().contains(QStringLiteral("longs")));
    RecoveryHarness::Walk save = run.WalkRoot(root, true);
    RecoveryHarness::Walk display = run.WalkRoot(root, false);
    QVERIFY(!save.records().isEmpty());
    QCOMPARE(save.records().size(), display.records().size());
  }
  QFile::setPermissions(inner, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
  QCOMPARE(PageProbe(path).Data(), before);
  QCOMPARE(QDir(inner).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
           QStringList{QStringLiteral("damaged.db")});
}

VELMORA_TEST_MAIN(CorruptionTest)
#include "tst_corruption.moc"
