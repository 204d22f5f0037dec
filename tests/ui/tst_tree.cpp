// The object tree: what an Open builds from a database, and the check-box
// rules of mouse clicks and the keyboard.
#include <QtTest/QtTest>

#include "tst_frame_helpers.h"
#include "ui/grid/RightView.h"

using namespace velmora;
using namespace velmora::test;

class TestTree : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanup();
  void shopTree();
  void oddNames();
  void emptyCategories();
  void checkBoxClicks_data();
  void checkBoxClicks();
  void keyboardToggleAndArrows();

 private:
  // Opens `path` in a fresh frame.
  void OpenFresh(const QString& path);
  QTreeWidgetItem* Find(const QString& text) const;

  std::unique_ptr<CMainFrame> m_frame;
  QString m_shop;
};

void TestTree::initTestCase() {
  m_shop = NewTestFolder(QStringLiteral("tree")) + QStringLiteral("/shop.db");
  QCOMPARE(MakeShopDatabase(m_shop), QString());
}

void TestTree::cleanup() { m_frame.reset(); }

void TestTree::OpenFresh(const QString& path) {
  m_frame = std::make_unique<CMainFrame>();
  m_frame->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
  OpenThrough(*m_frame, path);
}

QTreeWidgetItem* TestTree::Find(const QString& text) const {
  const auto found = m_frame->TreeCtrl()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

void TestTree::shopTree() {
  MessageBoxRecorder boxes;
  OpenFresh(m_shop);
  QVERIFY(boxes.boxes.isEmpty());
  CTreeCtrlEx* tree = m_frame->TreeCtrl();
  QVERIFY(tree->isEnabled());
  const CSQLiteRecovery& engine = m_frame->Recovery();

  // The outline follows the engine's lists, each in list order.
  QStringList expected{QStringLiteral("0:SQLite Database Objects"), QStringLiteral("1:Tables")};
  for (const QString& t : engine.TableNames()) expected << QStringLiteral("2:") + t;
  auto category = [&](const char* name, SchemaKind kind) {
    expected << QStringLiteral("1:") + QLatin1String(name);
    for (const SchemaObject* object : engine.Catalog().OfKind(kind))
      expected << QStringLiteral("2:") + object->name;
  };
  category("Indexes", SchemaKind::Index);
  category("Views", SchemaKind::View);
  category("Triggers", SchemaKind::Trigger);
  QCOMPARE(TreeOutline(tree), expected);

  // And the database's own objects are all there.
  const SampleSchema schema = ShopSchema();
  // (SQLite adds sqlite_sequence to the working database by itself.)
  QStringList tables = engine.TableNames();
  tables.removeAll(QStringLiteral("sqlite_sequence"));
  QVERIFY2(tables == schema.tables, qPrintable(engine.TableNames().join(QLatin1Char('|'))));
  for (const QString& name : schema.indexes)
    QVERIFY2(Find(name) && Find(name)->parent() == m_frame->m_hIndexesItem, qPrintable(name));
  for (const QString& name : schema.views)
    QVERIFY2(Find(name) && Find(name)->parent() == m_frame->m_hViewsItem, qPrintable(name));
  for (const QString& name : schema.triggers)
    QVERIFY2(Find(name) && Find(name)->parent() == m_frame->m_hTriggersItem, qPrintable(name));

  // Expansion: the root and "Tables" only.
  QVERIFY(m_frame->m_hRootItem->isExpanded());
  QVERIFY(m_frame->m_hTablesItem->isExpanded());
  QVERIFY(!m_frame->m_hIndexesItem->isExpanded());
  QVERIFY(!m_frame->m_hViewsItem->isExpanded());
  QVERIFY(!m_frame->m_hTriggersItem->isExpanded());

  // Every item has an empty box; tables carry their real names.
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    QCOMPARE((*it)->checkState(0), Qt::Unchecked);
    QVERIFY(!((*it)->flags() & Qt::ItemIsAutoTristate));
  }
  QCOMPARE(CTreeCtrlEx::ObjectName(Find(QStringLiteral("customers"))), QStringLiteral("customers"));
}

void TestTree::oddNames() {
  const QString path = NewTestFolder(QStringLiteral("tree")) + QStringLiteral("/odd.db");
  QCOMPARE(MakeOddNamesDatabase(path), QString());
  MessageBoxRecorder boxes;
  OpenFresh(path);
  const CSQLiteRecovery& engine = m_frame->Recovery();
  QTreeWidgetItem* tables = m_frame->m_hTablesItem;
  QVERIFY(tables != nullptr);
  QCOMPARE(tables->childCount(), engine.TableNames().size());
  for (int i = 0; i < tables->childCount(); ++i) {
    const QString real = engine.TableNames().at(i);
    QTreeWidgetItem* item = tables->child(i);
    // Shown without enclosing brackets and without double quotes, addressed
    // by the real name.
    QVERIFY2(!item->text(0).contains(QLatin1Char('"')), qPrintable(item->text(0)));
    QCOMPARE(CTreeCtrlEx::ObjectName(item), real);
  }
  QVERIFY(Find(QStringLiteral("table")) != nullptr);  // tab"le
  QVERIFY(engine.TableNames().contains(QStringLiteral("tab\"le")));
  QVERIFY(Find(QStringLiteral("my table")) != nullptr);
}

void TestTree::emptyCategories() {
  const QString path = NewTestFolder(QStringLiteral("tree")) + QStringLiteral("/plain.db");
  {
    DbBuilder db(path);
    db.Exec(QStringLiteral("CREATE TABLE t(a, b); INSERT INTO t VALUES (1, 2);"));
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  OpenFresh(path);
  QCOMPARE(TreeOutline(m_frame->TreeCtrl()),
           (QStringList{"0:SQLite Database Objects", "1:Tables", "2:t", "1:Indexes", "1:Views",
                        "1:Triggers"}));
  QVERIFY(!m_frame->m_hIndexesItem->isExpanded());
}

// A sequence of clicks, then the expected ticks and requests.
//  click: "box:<text>" on the item's check box, "label:<text>" on its text,
//  "empty" below the last item.
void TestTree::checkBoxClicks_data() {
  QTest::addColumn<QString>("select");  // item selected before the clicks ("" none)
  QTest::addColumn<QStringList>("clicks");
  QTest::addColumn<QStringList>("ticked");     // every ticked item afterwards
  QTest::addColumn<QStringList>("requested");  // items whose records were requested
  QTest::addColumn<QString>("selectedAfter");

  // "@tables" stands for every item under "Tables", in tree order.
  const QStringList allTables{"@tables"};
  QStringList everything{"SQLite Database Objects", "Tables"};
  everything << allTables << "Indexes"
             << "idx_orders_customer"
             << "idx_products_title"
             << "Views"
             << "order_totals"
             << "Triggers"
             << "orders_stock";

  QTest::newRow("Tables box ticks every table")
      << "Tables" << QStringList{"box:Tables"} << (QStringList{"Tables"} + allTables)
      << QStringList{} << "Tables";
  QTest::newRow("root box ticks everything")
      << "SQLite Database Objects" << QStringList{"box:SQLite Database Objects"} << everything
      << QStringList{} << "SQLite Database Objects";
  QTest::newRow("second click unticks the branch")
      << "Tables" << QStringList{"box:Tables", "box:Tables"} << QStringList{} << QStringList{}
      << "Tables";
  QTest::newRow("unticking one table leaves Tables ticked")
      << "Tables" << QStringList{"box:Tables", "box:orders"}
      << QStringList{"Tables", "@tables-orders"} << QStringList{"orders"} << "Tables";
  QTest::newRow("box of unselected table ticks it, requests it, keeps selection")
      << "customers" << QStringList{"box:products"} << QStringList{"products"}
      << QStringList{"products"} << "customers";
  QTest::newRow("label of the selected item requests nothing")
      << "customers" << QStringList{"label:customers"} << QStringList{} << QStringList{}
      << "customers";
  QTest::newRow("label of another item requests it and selects it")
      << "customers" << QStringList{"label:orders"} << QStringList{} << QStringList{"orders"}
      << "orders";
  QTest::newRow("empty space does nothing")
      << "customers" << QStringList{"empty"} << QStringList{} << QStringList{} << "customers";
}

void TestTree::checkBoxClicks() {
  QFETCH(QString, select);
  QFETCH(QStringList, clicks);
  QFETCH(QStringList, ticked);
  QFETCH(QStringList, requested);
  QFETCH(QString, selectedAfter);

  OpenFresh(m_shop);
  CTreeCtrlEx* tree = m_frame->TreeCtrl();
  RequestRecorder recorder;
  tree->SetNotifyTarget(&recorder);
  // Every category open, so that every box can be clicked.
  tree->expandAll();
  if (!select.isEmpty()) tree->setCurrentItem(Find(select));
  QApplication::processEvents();

  for (const QString& click : clicks) {
    if (click == QLatin1String("empty")) {
      const QRect last = tree->visualItemRect(Find(QStringLiteral("orders_stock")));
      const QPoint below(last.left() + 20, last.bottom() + 30);
      QVERIFY(tree->itemAt(below) == nullptr);
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, below);
      continue;
    }
    const QString text = click.section(QLatin1Char(':'), 1);
    QTreeWidgetItem* item = Find(text);
    QVERIFY2(item != nullptr, qPrintable(text));
    QPoint at;
    if (click.startsWith(QLatin1String("box:"))) {
      const QRect box = tree->CheckBoxRect(item);
      QVERIFY(!box.isEmpty());
      at = box.center();
    } else {
      const QRect r = tree->visualItemRect(item);
      at = QPoint(r.right() - 4, r.center().y());
      QVERIFY(!tree->CheckBoxRect(item).contains(at));
    }
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
  }

  QStringList expandedTicks;
  for (const QString& t : ticked) {
    if (!t.startsWith(QLatin1Char('@'))) {
      expandedTicks << t;
      continue;
    }
    const QString except = t.section(QLatin1Char('-'), 1);
    for (int i = 0; i < m_frame->m_hTablesItem->childCount(); ++i)
      if (m_frame->m_hTablesItem->child(i)->text(0) != except)
        expandedTicks << m_frame->m_hTablesItem->child(i)->text(0);
  }
  ticked = expandedTicks;
  QStringList tickedNow;
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->checkState(0) == Qt::Checked) tickedNow << (*it)->text(0);
  QCOMPARE(tickedNow, ticked);
  QStringList requestedNow;
  for (QTreeWidgetItem* item : recorder.requests) requestedNow << item->text(0);
  QCOMPARE(requestedNow, requested);
  QVERIFY(tree->currentItem() != nullptr);
  QCOMPARE(tree->currentItem()->text(0), selectedAfter);
}

void TestTree::keyboardToggleAndArrows() {
  OpenFresh(m_shop);
  CTreeCtrlEx* tree = m_frame->TreeCtrl();
  RequestRecorder recorder;
  tree->SetNotifyTarget(&recorder);
  tree->setFocus();
  tree->setCurrentItem(m_frame->m_hTablesItem);
  // The space bar changes the current item's own box only.
  QTest::keyClick(tree, Qt::Key_Space);
  QCOMPARE(m_frame->m_hTablesItem->checkState(0), Qt::Checked);
  for (int i = 0; i < m_frame->m_hTablesItem->childCount(); ++i)
    QCOMPARE(m_frame->m_hTablesItem->child(i)->checkState(0), Qt::Unchecked);
  // Arrow keys move the selection, and the right pane follows it.
  QTest::keyClick(tree, Qt::Key_Down);
  QTest::keyClick(tree, Qt::Key_Down);
  QCOMPARE(tree->currentItem()->text(0), QStringLiteral("products"));
  QCOMPARE(recorder.requests.size(), 2);
  QCOMPARE(recorder.requests.last(), tree->currentItem());
  tree->SetNotifyTarget(m_frame.get());
  QTest::keyClick(tree, Qt::Key_Up);
  QCOMPARE(m_frame->ShownTableName(), CTreeCtrlEx::ObjectName(tree->currentItem()));
  QVERIFY(m_frame->RightPane()->Grid()->ItemCount() > 0);
}

VELMORA_TEST_MAIN(TestTree)
#include "tst_tree.moc"
