// Checks that the test kit builds what it promises: the layouts asked for,
// trees of the requested depth, overflow chains, and damage where it was
// aimed. The engine tests rely on these facts.
#include <QtTest/QtTest>

#include "tests/support/EngineHarness.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

class TestSupportTest : public QObject {
  Q_OBJECT

 private slots:
  void layout_data();
  void layout();
  void deepTree_data();
  void deepTree();
  void samplesMatchSqlite();
  void referenceReader();
  void damage();
  void schemaSqlDamage();
  void collector();
};

void TestSupportTest::layout_data() {
  QTest::addColumn<int>("pageSize");
  QTest::addColumn<int>("encoding");
  QTest::addColumn<int>("reserved");
  QTest::addColumn<bool>("autoVacuum");
  QTest::newRow("512 utf8") << 512 << 1 << 0 << false;
  QTest::newRow("1024 utf16le reserved 32") << 1024 << 2 << 32 << false;
  QTest::newRow("4096 utf16be") << 4096 << 3 << 0 << false;
  QTest::newRow("4096 utf16le reserved 64 autovacuum") << 4096 << 2 << 64 << true;
  QTest::newRow("8192 utf8 reserved 255") << 8192 << 1 << 255 << false;
  QTest::newRow("65536 utf16le reserved 8") << 65536 << 2 << 8 << false;
}

void TestSupportTest::layout() {
  QFETCH(int, pageSize);
  QFETCH(int, encoding);
  QFETCH(int, reserved);
  QFETCH(bool, autoVacuum);
  const QString path = NewTestFolder(QStringLiteral("layout")) + QStringLiteral("/long.db");
  DbOptions options;
  options.pageSize = pageSize;
  options.encoding = TextEncoding(encoding);
  options.reservedBytes = reserved;
  options.autoVacuum = autoVacuum;
  QCOMPARE(MakeLongValuesDatabase(path, options), QString());
  PageProbe in(path);
  QVERIFY(in.Ok());
  QCOMPARE(in.PageSize(), pageSize);
  QCOMPARE(in.ReservedBytes(), reserved);
  QCOMPARE(int(in.TextEncoding()), encoding);
  QCOMPARE(PageProbe::Be32(in.Data(), 52) != 0, autoVacuum);  // largest root page: auto-vacuum on
  const TreePages tree = in.Tree(PageProbe::RootPage(path, QStringLiteral("longs")));
  QVERIFY(!tree.leaves.isEmpty());
  // Multi-page chains exist, and the probe's local-size rule agrees with
  // SQLite's: every chain it follows holds overflow pages only.
  QVERIFY2(tree.overflow.size() >= 10, qPrintable(QString::number(tree.overflow.size())));
  for (std::int64_t page : tree.overflow) {
    QVERIFY(!tree.leaves.contains(page));
    QVERIFY(!tree.interior.contains(page));
  }
  const RefTable ref = ReadReferenceTable(path, QStringLiteral("longs"));
  QCOMPARE(ref.error, QString());
  QCOMPARE(ref.encoding, encoding);
  QVERIFY(ref.rows.size() >= 30);
}

void TestSupportTest::deepTree_data() {
  QTest::addColumn<int>("pageSize");
  QTest::addColumn<int>("reserved");
  QTest::newRow("512") << 512 << 0;
  QTest::newRow("1024 reserved 100") << 1024 << 100;
  QTest::newRow("4096") << 4096 << 0;
}

void TestSupportTest::deepTree() {
  QFETCH(int, pageSize);
  QFETCH(int, reserved);
  const QString path = NewTestFolder(QStringLiteral("deep")) + QStringLiteral("/deep.db");
  DbOptions options;
  options.pageSize = pageSize;
  options.reservedBytes = reserved;
  QCOMPARE(MakeDeepTreeDatabase(path, options, 3), QString());
  PageProbe in(path);
  for (const char* table : {"deep", "deepkeys"}) {
    const TreePages tree = in.Tree(PageProbe::RootPage(path, QString::fromLatin1(table)));
    QVERIFY2(tree.depth >= 3, table);
    QVERIFY(tree.interior.size() >= 2);
    const int expectedLeafType = QByteArray(table) == "deep" ? kLeafTable : kLeafIndex;
    for (std::int64_t leaf : tree.leaves) QCOMPARE(in.Type(leaf), expectedLeafType);
  }
}

void TestSupportTest::samplesMatchSqlite() {
  const QString folder = NewTestFolder(QStringLiteral("samples"));
  QCOMPARE(MakeShopDatabase(folder + QStringLiteral("/shop.db")), QString());
  const RefSchema shop = ReadReferenceSchema(folder + QStringLiteral("/shop.db"));
  QCOMPARE(shop.tables, ShopSchema().tables);
  QCOMPARE(shop.indexes, ShopSchema().indexes);
  QCOMPARE(shop.views, ShopSchema().views);
  QCOMPARE(shop.triggers, ShopSchema().triggers);
  QCOMPARE(MakeOddNamesDatabase(folder + QStringLiteral("/odd.db")), QString());
  const RefSchema odd = ReadReferenceSchema(folder + QStringLiteral("/odd.db"));
  QCOMPARE(odd.tables, OddNamesSchema().tables);
  QCOMPARE(odd.indexes, OddNamesSchema().indexes);
  QCOMPARE(odd.views, OddNamesSchema().views);
  QCOMPARE(odd.triggers, OddNamesSchema().triggers);
}

void TestSupportTest::referenceReader() {
  const QString folder = NewTestFolder(QStringLiteral("ref"));
  QCOMPARE(MakeShopDatabase(folder + QStringLiteral("/shop.db")), QString());
  const RefTable customers =
      ReadReferenceTable(folder + QStringLiteral("/shop.db"), QStringLiteral("customers"));
  QCOMPARE(customers.error, QString());
  QCOMPARE(customers.rowidAlias, 0);
  QCOMPARE(customers.rows.size(), 7);
  QCOMPARE(customers.rows[0].values[0].storage,
           StorageClass::Null);  // stored as NULL: it is the rowid
  QCOMPARE(customers.rows[0].rowid, 1);
  const RefTable tags =
      ReadReferenceTable(folder + QStringLiteral("/shop.db"), QStringLiteral("tags"));
  QVERIFY(tags.withoutRowid);
  QCOMPARE(tags.columns, (QStringList{QStringLiteral("tag"), QStringLiteral("weight")}));
  QCOMPARE(tags.rows.size(), 4);
  QCOMPARE(tags.rows[0].values[0].bytes, QByteArray("bio"));  // key order

  QCOMPARE(MakeAllTypesDatabase(folder + QStringLiteral("/types.db"),
                                {4096, TextEncoding::Utf16be, 0, false}),
           QString());
  const RefTable vals =
      ReadReferenceTable(folder + QStringLiteral("/types.db"), QStringLiteral("vals"));
  bool sawZeroInside = false;
  for (const RefRow& row : vals.rows)
    if (row.values[1].storage == StorageClass::Text &&
        row.values[1].bytes == QByteArray("\0a\0\0\0b", 6))
      sawZeroInside = true;
  QVERIFY2(sawZeroInside, "a text with a zero character keeps all its bytes in UTF-16be");
}

void TestSupportTest::damage() {
  const QString folder = NewTestFolder(QStringLiteral("damage"));
  const QString intact = folder + QStringLiteral("/intact.db");
  QCOMPARE(MakeLongValuesDatabase(intact, {1024, TextEncoding::Utf8, 0, false}), QString());
  const QString path = folder + QStringLiteral("/damaged.db");
  QVERIFY(CopyDatabase(intact, path));
  PageProbe before(path);
  const std::int64_t root = PageProbe::RootPage(intact, QStringLiteral("longs"));
  const TreePages tree = before.Tree(root);
  QVERIFY(!tree.interior.isEmpty());

  QVERIFY(ZeroPage(path, tree.leaves.first()));
  QVERIFY(GarbagePage(path, tree.leaves.last(), 42));
  QVERIFY(SetChildPointer(path, root, 0, std::uint32_t(root)));
  QVERIFY(SetOverflowNext(path, tree.overflow.first(), std::uint32_t(tree.overflow.first())));
  PageProbe after(path);
  QCOMPARE(after.Page(tree.leaves.first()), QByteArray(after.PageSize(), 0));
  QVERIFY(after.Page(tree.leaves.last()) != before.Page(tree.leaves.last()));
  QCOMPARE(after.Children(root).first(), root);
  QCOMPARE(after.OverflowChain(tree.overflow.first()).size(), 1);
  // The same seed gives the same garbage.
  const QString again = folder + QStringLiteral("/again.db");
  QVERIFY(CopyDatabase(intact, again));
  QVERIFY(GarbagePage(again, tree.leaves.last(), 42));
  QCOMPARE(PageProbe(again).Page(tree.leaves.last()), after.Page(tree.leaves.last()));
  // Intact file untouched.
  QCOMPARE(PageProbe(intact).Data(), before.Data());

  QVERIFY(SetHeaderPageSize(again, 1));
  QCOMPARE(PageProbe(again).PageSize(), 65536);
  QVERIFY(TruncateFile(again, 1500));
  QCOMPARE(QFileInfo(again).size(), 1500);
  QVERIFY(!ZeroPage(again, 5));  // beyond the end
}

void TestSupportTest::schemaSqlDamage() {
  const QString folder = NewTestFolder(QStringLiteral("schema"));
  for (TextEncoding encoding : {TextEncoding::Utf8, TextEncoding::Utf16le, TextEncoding::Utf16be}) {
    const QString path = folder + QStringLiteral("/shop%1.db").arg(int(encoding));
    QCOMPARE(MakeShopDatabase(path, {4096, encoding, 0, false}), QString());
    QVERIFY(DamageSchemaSql(path, QStringLiteral("orders"), 0, 6, 'x'));
    // SQLite now refuses the schema: the damage hit the statement.
    const RefTable t = ReadReferenceTable(path, QStringLiteral("customers"));
    QVERIFY2(!t.error.isEmpty() || t.rows.isEmpty(), qPrintable(t.error));
    QVERIFY(!DamageSchemaSql(path, QStringLiteral("no_such_table"), 0, 1, 'x'));
  }
}

void TestSupportTest::collector() {
  // The collector keeps the records of a real walk, long values read back
  // from their files before the walk writes them again.
  const QString path = NewTestFolder(QStringLiteral("collector")) + QStringLiteral("/long.db");
  QCOMPARE(MakeLongValuesDatabase(path, {1024, TextEncoding::Utf8, 0, false}), QString());
  RecoveryHarness run(path);
  const RefSchema schema = ReadReferenceSchema(path);
  QVERIFY(!schema.tables.isEmpty());
  const RefTable ref = ReadReferenceTable(path, schema.tables.first());
  RecoveryHarness::Walk save = run.WalkTable(schema.tables.first(), true);
  QVERIFY(save.result);
  QCOMPARE(save.records().size(), ref.rows.size());
  bool sawFile = false;
  for (const CollectedRecord& record : save.records()) {
    for (const DecodedValue& value : record.values) {
      if (!value.item.inTempFile) continue;
      sawFile = true;
      QVERIFY(value.fileRead);
      QCOMPARE(value.fileBytes.size(), value.item.length);
    }
  }
  QVERIFY(sawFile);
  GridRecorder grid;
  StatusTextRecorder status;
  RecoveryHarness::Walk display =
      run.WalkRoot(run.Table(schema.tables.first())->rootPage, false, &grid, &status);
  QCOMPARE(grid.rows.size(), ref.rows.size());
  QCOMPARE(status.Last(), QStringLiteral(" Records: %1").arg(ref.rows.size() - 1));
  QCOMPARE(display.sink->recordStatuses.size(), ref.rows.size());

  MessageBoxRecorder boxes(MsgResult::No);
  boxes.answers << MsgResult::Yes;
  QCOMPARE(ShowMessageBox(QStringLiteral("File Corrupted")), MsgResult::Ok);
  QCOMPARE(ShowMessageBox(QStringLiteral("Sure?"), MsgButtons::YesNo), MsgResult::Yes);
  QCOMPARE(ShowMessageBox(QStringLiteral("Again?"), MsgButtons::YesNo), MsgResult::No);
  QCOMPARE(boxes.Texts(), (QStringList{QStringLiteral("File Corrupted"), QStringLiteral("Sure?"),
                                       QStringLiteral("Again?")}));

  // Each process has its own TMPDIR below its private root.
  QVERIFY(QDir::tempPath().startsWith(TestRoot()));
}

VELMORA_TEST_MAIN(TestSupportTest)
#include "tst_testsupport.moc"
