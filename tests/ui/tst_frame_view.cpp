// The window's views of what came back: the summary of the root item with
// the tree's warning marks, and the value viewer with Save Value As.
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QtTest/QtTest>
#include <vector>

#include "tst_frame_helpers.h"
#include "ui/frame/WidgetMessageBox.h"
#include "ui/grid/RightView.h"
#include "ui/grid/ValueViewer.h"

using namespace velmora;
using namespace velmora::test;

namespace {

QTreeWidgetItem* TableItem(CMainFrame& frame, const QString& name) {
  for (int i = 0; frame.m_hTablesItem && i < frame.m_hTablesItem->childCount(); ++i)
    if (frame.m_hTablesItem->child(i)->text(0) == name) return frame.m_hTablesItem->child(i);
  return nullptr;
}

QByteArray PngBytes() {
  QImage image(300, 200, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x, y, (x * y) & 0xFF));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace

class TestFrameView : public QObject {
  Q_OBJECT
 private slots:
  void summaryAndMarks_data();
  void summaryAndMarks();
  void valueViewer_data();
  void valueViewer();
  void suggestedFileName_data();
  void suggestedFileName();
  void hexDump();
  void namesThatLookLikeTags();
  void deletedRecords_data();
  void deletedRecords();
};

// The damaged table is marked as soon as the tree is filled, its tooltip and
// the hint over the grid say what was lost and what came back; the summary
// counts every table, sqlite_sequence included.
void TestFrameView::summaryAndMarks_data() {
  QTest::addColumn<bool>("inner");  // an inner page zeroed (its leaves come back), else a leaf
  QTest::newRow("leaf zeroed") << false;
  QTest::newRow("inner page zeroed") << true;
}

void TestFrameView::summaryAndMarks() {
  QFETCH(bool, inner);
  const QString path = NewTestFolder(QStringLiteral("summary")) + QStringLiteral("/s.db");
  const int rows = inner ? 4000 : 300;
  {
    DbOptions options;
    options.pageSize = 1024;
    DbBuilder db(path, options);
    db.Exec(
        "CREATE TABLE big (id INTEGER PRIMARY KEY, t TEXT); CREATE TABLE small (a);"
        "CREATE TABLE seq (id INTEGER PRIMARY KEY AUTOINCREMENT, v)");
    db.Begin();
    for (int i = 0; i < rows; ++i) db.Insert("big", {i, QString(40, QChar('a' + i % 26))});
    db.Insert("small", {1});
    db.Insert("seq", {QVariant(), 1});
    db.Commit();
    db.Close();
    QVERIFY(db.Ok());
  }
  PageProbe probe(path);
  const TreePages tree = probe.Tree(PageProbe::RootPage(path, "big"));
  QVERIFY(tree.leaves.size() > 2);
  int lost = 0;
  if (inner) {
    QVERIFY(tree.depth >= 3 && tree.interior.size() > 2);
    QVERIFY(ZeroPage(path, tree.interior.at(1)));
  } else {
    lost = probe.CellCount(tree.leaves.first());
    QVERIFY(ZeroPage(path, tree.leaves.first()));
  }

  MessageBoxRecorder boxes;
  CMainFrame frame;
  frame.show();
  QVERIFY(frame.OpenDatabasePath(path));
  QVERIFY(frame.Summary() == nullptr);
  // Before any click: the mark, and a tooltip from the engine's own counts.
  const QString tip = TableItem(frame, "big")->toolTip(0);
  QVERIFY2(tip.contains("Lost: 1 page of its tree could not be used"), qPrintable(tip));
  const PutBackPages* back = frame.Recovery().PutBack(QStringLiteral("big"));
  if (inner) {
    QVERIFY(back != nullptr && back->rows > 0);
    QVERIFY2(
        tip.contains(QStringLiteral("%1 rows were put back from orphan pages").arg(back->rows)),
        qPrintable(tip));
  } else {
    QVERIFY(back == nullptr);
    QVERIFY2(tip.contains("they are lost"), qPrintable(tip));
  }
  QVERIFY(TableItem(frame, "small")->toolTip(0).isEmpty());

  // A click on the damaged table shows the hint over the grid; another table hides it.
  frame.OnShowRecords(TableItem(frame, "big"));
  QLabel* hint = frame.RightPane()->Hint();
  QVERIFY(hint->isVisible());
  QVERIFY2(hint->text().contains("1 page of its tree could not be used"), qPrintable(hint->text()));
  QVERIFY(hint->geometry().bottom() < frame.RightPane()->Grid()->geometry().top());
  frame.OnShowRecords(TableItem(frame, "small"));
  QVERIFY(!hint->isVisible());

  frame.OnShowRecords(frame.m_hRootItem);
  QVERIFY(frame.Summary() != nullptr);
  CSummaryView* view = frame.RightPane()->Summary();
  QVERIFY(view->isVisible());
  QVERIFY(!frame.RightPane()->Grid()->isVisible());
  const QString text = view->toPlainText();
  if (!inner)
    QVERIFY2(text.contains(QStringLiteral("big: %1 rows").arg(rows - lost)), qPrintable(text));
  QVERIFY2(text.contains(QStringLiteral("sqlite_sequence: 1 row from its own tree")),
           qPrintable(text));
  QVERIFY(TableItem(frame, "big")->toolTip(0).contains("Lost: 1 page of its tree"));

  // The page map under it: one square per page; a click names the page.
  CPageMapView* map = frame.RightPane()->PageMap();
  QVERIFY(map->isVisible());
  QVERIFY2(map->LegendText().contains("unreadable: 1"), qPrintable(map->LegendText()));
  CPageMapCanvas* canvas = map->Canvas();
  struct Click {
    std::int64_t page;
    QString text;
  };
  // The zeroed page is unreadable; with an inner page zeroed the leaves under
  // it were put back, so the sound page clicked is one outside its span.
  const std::vector<Click> clicks = {
      {inner ? tree.interior.at(1) : tree.leaves.first(), QStringLiteral("unreadable")},
      {tree.leaves.last(),
       inner ? QString() : QStringLiteral("a page of the tree of table \"big\"")},
      {1, QStringLiteral("a page of the schema tree")},
  };
  for (const auto& click : clicks) {
    canvas->SelectPage(0);
    const QRect square = canvas->SquareOf(click.page);
    QVERIFY(!square.isEmpty());
    QCOMPARE(canvas->PageAt(square.center()), click.page);
    QTest::mouseClick(canvas->viewport(), Qt::LeftButton, {}, square.center());
    QCOMPARE(canvas->SelectedPage(), click.page);
    QVERIFY2(map->PageText().startsWith(
                 QStringLiteral("Page %1 of %2: ").arg(click.page).arg(probe.PageCount())) &&
                 map->PageText().contains(click.text),
             qPrintable(map->PageText()));
  }

  // A table click takes the pane back; a second root click reuses the count.
  const RecoverySummary* first = frame.Summary();
  frame.OnShowRecords(TableItem(frame, "small"));
  QVERIFY(!view->isVisible());
  QVERIFY(frame.RightPane()->Grid()->isVisible());
  frame.OnShowRecords(frame.m_hRootItem);
  QCOMPARE(frame.Summary(), first);
  // A new Open forgets it.
  QVERIFY(frame.OpenDatabasePath(path));
  QVERIFY(frame.Summary() == nullptr);
}

void TestFrameView::valueViewer_data() {
  QTest::addColumn<int>("column");
  QTest::newRow("long text") << 1;
  QTest::newRow("picture larger than a page") << 2;
}

void TestFrameView::valueViewer() {
  QFETCH(int, column);
  const QString folder = NewTestFolder(QStringLiteral("viewer"));
  const QString path = folder + QStringLiteral("/v.db");
  const QString text = MixedText(20000, 11);
  const QByteArray png = PngBytes();
  QVERIFY(png.size() > 4096);
  {
    DbBuilder db(path);
    db.Exec("CREATE TABLE v (id INTEGER PRIMARY KEY, t TEXT, b BLOB)");
    db.Insert("v", {1, "first", QByteArray("x")});
    db.Insert("v", {2, text, png});
    db.Close();
    QVERIFY(db.Ok());
  }
  MessageBoxRecorder boxes;
  CMainFrame frame;
  frame.show();
  QVERIFY(frame.OpenDatabasePath(path));
  frame.OnShowRecords(TableItem(frame, "v"));
  QCOMPARE(frame.ShownTableName(), QStringLiteral("v"));
  // The grid keeps only the start of the long text; the viewer has all of it.
  QVERIFY(frame.RightPane()->Grid()->model()->index(1, 1).data().toString().size() < text.size());

  QString shown, title;
  bool picture = false;
  // The viewer is answered from its modal loop (the fetch before it pumps
  // events too, so the poll waits for the dialog).
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* viewer = qobject_cast<CValueViewerDlg*>(QApplication::activeModalWidget());
    if (viewer == nullptr) return;
    poll.stop();
    title = viewer->windowTitle();
    shown = viewer->TextView()->toPlainText();
    picture = viewer->Picture() != nullptr && !viewer->Picture()->pixmap().isNull();
    viewer->reject();
  });
  poll.start();
  QVERIFY(frame.OnViewValue(frame.RightPane()->Grid()->model()->index(1, column)));
  // The title names the record by its rowid, not by its place in the grid.
  QCOMPARE(title, QStringLiteral("Value of v.%1, rowid 2").arg(column == 1 ? "t" : "b"));
  if (column == 1) {
    QCOMPARE(shown, text);
  } else {
    QVERIFY(picture);
    QVERIFY(shown.startsWith("00000000  89 50 4e 47"));
  }
  const QString saved = folder + QStringLiteral("/value.bin");
  QCOMPARE(frame.SaveValueTo(1, column, saved), QString());
  QFile file(saved);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), column == 1 ? text.toUtf8() : png);
  // The damaged file is never written.
  QVERIFY(!frame.SaveValueTo(1, column, path).isEmpty());
}

void TestFrameView::suggestedFileName_data() {
  QTest::addColumn<QString>("table");
  QTest::addColumn<int>("storage");
  QTest::addColumn<QByteArray>("head");
  QTest::addColumn<bool>("hasRowid");
  QTest::addColumn<QString>("name");
  const int text = int(StorageClass::Text), blob = int(StorageClass::Blob);
  QTest::newRow("text") << "notes" << text << QByteArray("hi") << true << "notes_body_42.txt";
  QTest::newRow("png") << "pics" << blob << PngBytes().left(16) << true << "pics_body_42.png";
  QTest::newRow("pdf") << "docs" << blob << QByteArray("%PDF-1.4") << true << "docs_body_42.pdf";
  QTest::newRow("unknown blob") << "b" << blob << QByteArray("\x01\x02") << true << "b_body_42.bin";
  QTest::newRow("no rowid") << "w" << text << QByteArray("x") << false << "w_body_row8.txt";
  QTest::newRow("unsafe characters")
      << "../a/b:c" << text << QByteArray("x") << true << "_._a_b_c_body_42.txt";
}

void TestFrameView::suggestedFileName() {
  QFETCH(QString, table);
  QFETCH(int, storage);
  QFETCH(QByteArray, head);
  QFETCH(bool, hasRowid);
  QFETCH(QString, name);
  FetchedValue value;
  value.storage = StorageClass(storage);
  value.head = head;
  value.hasRowid = hasRowid;
  value.rowid = 42;
  QCOMPARE(SuggestedValueFileName(table, QStringLiteral("body"), 7, value), name);
}

void TestFrameView::hexDump() {
  QCOMPARE(HexDump(QByteArray("AB\x00\x7f"
                              "0123456789abcdefg",
                              21),
                   1000),
           QStringLiteral(
               "00000000  41 42 00 7f 30 31 32 33  34 35 36 37 38 39 61 62 |AB..0123456789ab|\n"
               "00000010  63 64 65 66 67                                   |cdefg|\n"));
  QCOMPARE(HexDump(QByteArray(64, 'z'), 16).count('\n'), 1);
}

void TestFrameView::namesThatLookLikeTags() {
  // Names read from the file are shown as they are written: a name that
  // looks like a tag is never taken for HTML (an <img> would be loaded from
  // its source: /dev/zero for ever, or a picture of the user's).
  const QString folder = NewTestFolder(QStringLiteral("tags"));
  const QString picture = folder + QStringLiteral("/local.png");
  {
    QFile file(picture);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(PngBytes()) > 0);
  }
  const QString zero = QStringLiteral("<img src=\"/dev/zero\">");
  const QString local = QStringLiteral("<img src=\"%1\">").arg(picture);
  const QString path = folder + QStringLiteral("/tags.db");
  {
    DbBuilder db(path);
    db.Exec(QStringLiteral("CREATE VIRTUAL TABLE \"%1\" USING rtree(id, a, b)")
                .arg(QString(zero).replace('"', "\"\"")));
    db.Exec(QStringLiteral("CREATE VIRTUAL TABLE \"%1\" USING rtree(id, a, b)")
                .arg(QString(local).replace('"', "\"\"")));
    db.Exec(QStringLiteral("CREATE TABLE \"<b>bold</b>\" (\"<i>x</i>\")"));
    db.Insert("<b>bold</b>", {QStringLiteral("<img src=\"/dev/zero\">")});
    db.Close();
    QVERIFY(db.Ok());
  }
  MessageBoxRecorder boxes;
  CMainFrame frame;
  frame.show();
  QVERIFY(frame.OpenDatabasePath(path));
  QTreeWidget* tree = frame.TreeCtrl();
  for (const QString& name : {zero, local}) {
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < frame.m_hTablesItem->childCount(); ++i)
      if (frame.m_hTablesItem->child(i)->data(0, Qt::UserRole).toString() == name)
        item = frame.m_hTablesItem->child(i);
    QVERIFY(item != nullptr);
    const QString tip = item->toolTip(0);
    QVERIFY(!tip.isEmpty());
    QCOMPARE(QTextDocumentFragment::fromHtml(tip).toPlainText(),
             item->text(0) + QStringLiteral(" — virtual table (module rtree)"));
    // Hovering shows the tooltip (it must not hang), then a click shows the statement.
    tree->scrollToItem(item);
    const QPoint at = tree->visualItemRect(item).center();
    QHelpEvent hover(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &hover);
    QCOMPARE(QToolTip::text(), tip);
    QToolTip::hideText();
    frame.OnShowRecords(item);
  }
  frame.OnShowRecords(TableItem(frame, QStringLiteral("<b>bold</b>")));
  QVERIFY(boxes.boxes.isEmpty());

  // The window's message boxes show their text as plain text.
  InstallWidgetMessageBoxHook();
  Qt::TextFormat format = Qt::RichText;
  QString shown;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      format = box->textFormat();
      shown = box->text();
      box->accept();
    }
  });
  ShowMessageBox(QStringLiteral("The table ") + zero + QStringLiteral(" was not saved."));
  QCOMPARE(format, Qt::PlainText);
  QCOMPARE(shown, QStringLiteral("The table ") + zero + QStringLiteral(" was not saved."));
}

VELMORA_TEST_MAIN(TestFrameView)
#include "tst_frame_view.moc"

void TestFrameView::deletedRecords_data() {
  QTest::addColumn<bool>("deletes");
  QTest::newRow("rows deleted") << true;
  QTest::newRow("nothing deleted") << false;
}

// Deleted rows get a category of their own, one item per table, whose grid
// says where each record was found; a file without any shows no category.
void TestFrameView::deletedRecords() {
  QFETCH(bool, deletes);
  const QString path = NewTestFolder(QStringLiteral("deleted")) + QStringLiteral("/gone.db");
  {
    DbBuilder db(path);
    db.Exec(QStringLiteral("PRAGMA secure_delete=OFF"));
    db.Exec(QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT)"));
    for (int i = 1; i <= 40; ++i)
      db.Insert(QStringLiteral("t"), {i, QStringLiteral("name of row %1").arg(i)});
    if (deletes) db.Exec(QStringLiteral("DELETE FROM t WHERE id % 5 = 0"));
    db.Close();
    QVERIFY(db.Ok());
  }
  MessageBoxRecorder boxes;
  CMainFrame frame;
  frame.show();
  QVERIFY(frame.OpenDatabasePath(path));
  QCOMPARE(frame.m_hDeletedItem != nullptr, deletes);
  QCOMPARE(TreeOutline(frame.TreeCtrl()).contains(QStringLiteral("1:Deleted Records")), deletes);
  if (!deletes) return;
  QCOMPARE(frame.m_hDeletedItem->childCount(), 1);
  QTreeWidgetItem* item = frame.m_hDeletedItem->child(0);
  QCOMPARE(item->text(0), QStringLiteral("t"));
  frame.OnShowRecords(item);
  CListCtrlEx* grid = frame.RightPane()->Grid();
  QCOMPARE(grid->ColumnCount(), 7);
  QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("name"));
  QCOMPARE(grid->model()->headerData(5, Qt::Horizontal).toString(), QStringLiteral("found_in"));
  QVERIFY(grid->ItemCount() > 0);
  for (int row = 0; row < grid->ItemCount(); ++row) {
    const QString name = grid->model()->index(row, 1).data().toString();
    if (name.startsWith(QStringLiteral("name of row ")))
      QCOMPARE(name.mid(12).toInt() % 5, 0);  // a deleted row, never a live one
  }
  // The live table still shows its own rows only.
  frame.OnShowRecords(TableItem(frame, QStringLiteral("t")));
  QCOMPARE(grid->ItemCount(), 32);
}
