// The record grid: the model over the column stores (cell texts, bounds,
// rows arriving during a load), the cell painting, copy and find over the
// selection, the right pane, and the display of a clicked tree item with its
// hand-over between loads.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QTreeWidget>

#include "output/SaveDispatch.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestEnv.h"
#include "ui/grid/RecordDisplay.h"
#include "ui/grid/RecordGrid.h"
#include "ui/grid/RightView.h"

using namespace velmora;
using velmora::test::ProgressBarRecorder;
using velmora::test::ProgressCounter;
using velmora::test::StatusTextRecorder;

namespace {

struct ControlRecorder : IControl {
  void SetVisible(bool visible) override { visibility << visible; }
  QList<bool> visibility;
};

// A tree as the Open command builds it.
struct Tree {
  QTreeWidget widget;
  QTreeWidgetItem* root;
  QTreeWidgetItem* tables;
  QTreeWidgetItem* views;
  QTreeWidgetItem* triggers;
  QTreeWidgetItem* indexes;
  Tree() {
    root = new QTreeWidgetItem(&widget, {QStringLiteral("SQLite Database Objects")});
    tables = new QTreeWidgetItem(root, {QStringLiteral("Tables")});
    indexes = new QTreeWidgetItem(root, {QStringLiteral("Indexes")});
    views = new QTreeWidgetItem(root, {QStringLiteral("Views")});
    triggers = new QTreeWidgetItem(root, {QStringLiteral("Triggers")});
  }
  QTreeWidgetItem* Add(QTreeWidgetItem* category, const QString& text, const QString& real = {}) {
    auto* item = new QTreeWidgetItem(category, {text});
    if (!real.isEmpty()) item->setData(0, Qt::UserRole, real);
    return item;
  }
};

// A display over a tree, a right pane and recorded status controls.
struct DisplayFixture {
  bool stop = false;
  Tree tree;
  CRightView pane;
  StatusTextRecorder status;
  ProgressBarRecorder progress;
  ControlRecorder stopButton;
  CRecordDisplay display{stop, &tree.widget, &pane, &status, &progress, &stopButton};
  struct Call {
    QString name;
    int kind;
  };
  QList<Call> calls;
  // What the dispatch does for a name: by default it adds one column and
  // `rows` rows named after the object.
  std::function<void(const QString&, int)> body;
  DisplayFixture() {
    display.SetDispatch([this](const QString& name, ObjectKind objectKind) {
      const int kind = int(objectKind);
      calls << Call{name, kind};
      if (body) body(name, kind);
    });
  }
  void Fill(const QString& name, int rows) {
    CListCtrlEx* grid = pane.Grid();
    grid->AddGridColumn(0, QStringLiteral("c"));
    for (int i = 0; i < rows; ++i) grid->AddGridCell(0, name + QString::number(i));
  }
};

}  // namespace

class TestGrid : public QObject {
  Q_OBJECT
 private slots:
  void modelUnderTester();
  void cellTexts_data();
  void cellTexts();
  void dataOutOfRange();
  void rowsAppearWhileLoading();
  void resetDeletesStores();
  void selectionLook();
  void selectionText_data();
  void selectionText();
  void copyStops();
  void findText_data();
  void findText();
  void sortByColumn_data();
  void sortByColumn();
  void columnWidths();
  void cellMarginAndClipping();
  void scrollToLastRow();
  void rightPaneCoversBoth();
  void statementLineBreaks_data();
  void statementLineBreaks();

  void kindFromCategory_data();
  void kindFromCategory();
  void displayRootOrCategory_data();
  void displayRootOrCategory();
  void displayTable();
  void displayEmptyTable();
  void displayView();
  void handOverToAnotherItem();
  void requestBackToLoadingItem();
  void requestSameItemWhileLoading();
  void requestedItemDeletedWhileLoading();
  void nullItem();
};

void TestGrid::modelUnderTester() {
  CRecordGridModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  model.AddGridColumn(0, QStringLiteral("a"));
  model.AddGridColumn(1, QStringLiteral("b"));
  for (int r = 0; r < 120; ++r) {
    model.AddGridCell(0, QString::number(r));
    model.AddGridCell(1, QStringLiteral("x%1").arg(r));
    if (r % 50 == 49) model.Redraw();
  }
  QTRY_COMPARE(model.rowCount(), 120);
  QCOMPARE(model.columnCount(), 2);
  QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("b"));
  model.ResetGrid();
  QCOMPARE(model.rowCount(), 0);
  QCOMPARE(model.columnCount(), 2);
  model.DeleteAllColumns();
  QCOMPARE(model.columnCount(), 0);
  model.AddGridColumn(0, QStringLiteral("z"));
  model.AddGridCell(0, QStringLiteral("again"));
  model.Redraw();
  QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("again"));
  model.DeleteAllItems();
  QCOMPARE(model.rowCount(), 0);
}

void TestGrid::cellTexts_data() {
  QTest::addColumn<int>("column");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("shown");
  const QString long2000 = QString(1990, QLatin1Char('a')) + QStringLiteral("0123456789");
  QTest::newRow("plain") << 1 << "hello"
                         << "hello";
  QTest::newRow("double quotes stay, column 0") << 0 << "say \"hi\""
                                                << "say \"hi\"";
  QTest::newRow("double quotes stay, column 1") << 1 << "say \"hi\""
                                                << "say \"hi\"";
  QTest::newRow("apostrophes") << 2 << "it's"
                               << "it's";
  QTest::newRow("sql-like text") << 1 << "x'); DROP TABLE \"table\";--"
                                 << "x'); DROP TABLE \"table\";--";
  QTest::newRow("empty") << 1 << ""
                         << "";
  QTest::newRow("non-latin") << 1 << QStringLiteral("Grüße 日本 \U0001F600")
                             << QStringLiteral("Grüße 日本 \U0001F600");
  QTest::newRow("2000 chars, column 0 whole") << 0 << long2000 << long2000;
  QTest::newRow("2000 chars, column 1 cut")
      << 1 << long2000 << QString(1000, QLatin1Char('a')) + "<more data>...";
  QTest::newRow("1000 chars kept whole")
      << 2 << QString(1000, QLatin1Char('b')) << QString(1000, QLatin1Char('b'));
}

void TestGrid::cellTexts() {
  QFETCH(int, column);
  QFETCH(QString, value);
  QFETCH(QString, shown);
  CListCtrlEx grid;
  for (int c = 0; c < 3; ++c) grid.AddGridColumn(c, QStringLiteral("c%1").arg(c));
  // Row 0 holds other values, row 1 the one under test.
  for (int c = 0; c < 3; ++c) grid.AddGridCell(c, QStringLiteral("first%1").arg(c));
  for (int c = 0; c < 3; ++c)
    grid.AddGridCell(c, c == column ? value : QStringLiteral("o%1").arg(c));
  grid.Redraw();
  QCOMPARE(grid.ItemCount(), 2);
  QCOMPARE(grid.model()->index(1, column).data().toString(), shown);
  QCOMPARE(grid.model()->index(0, column).data().toString(), QStringLiteral("first%1").arg(column));
}

void TestGrid::dataOutOfRange() {
  struct OpenModel : CRecordGridModel {
    using QAbstractItemModel::createIndex;
  } model;
  model.AddGridColumn(0, QStringLiteral("a"));
  model.AddGridCell(0, QStringLiteral("v"));
  model.Redraw();
  QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("v"));
  QVERIFY(!model.data(model.index(1, 0)).isValid());
  QVERIFY(!model.data(model.index(0, 1)).isValid());
  QVERIFY(!model.data(model.createIndex(5, 0)).isValid());
  QVERIFY(!model.data(model.createIndex(-1, 0)).isValid());
  QVERIFY(!model.data(model.createIndex(0, 7)).isValid());
  QVERIFY(!model.headerData(3, Qt::Horizontal).isValid());
  QVERIFY(!model.data(model.index(0, 0), Qt::EditRole).isValid());
  // A cell whose column never got a value reads as empty.
  model.AddGridColumn(1, QStringLiteral("b"));
  model.Redraw();
  QCOMPARE(model.data(model.index(0, 1)).toString(), QString());
}

void TestGrid::rowsAppearWhileLoading() {
  CListCtrlEx grid;
  grid.resize(400, 300);
  grid.show();
  grid.AddGridColumn(0, QStringLiteral("a"));
  for (int i = 0; i < 10; ++i) grid.AddGridCell(0, QString::number(i));
  QCOMPARE(grid.ItemCount(), 10);  // known at once
  // The view learns of them in batches, when events are pumped (the table
  // walk's progress callback does so between records).
  QCOMPARE(grid.model()->rowCount(), 0);
  QTRY_COMPARE(grid.model()->rowCount(), 10);
  grid.AddGridCell(0, QStringLiteral("10"));
  grid.Redraw();
  QCOMPARE(grid.model()->rowCount(), 11);
  QCOMPARE(grid.model()->index(10, 0).data().toString(), QStringLiteral("10"));
}

void TestGrid::resetDeletesStores() {
  CListCtrlEx grid;
  for (int c = 0; c < 3; ++c) grid.AddGridColumn(c, QString::number(c));
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) grid.AddGridCell(c, QStringLiteral("%1/%2").arg(r).arg(c));
  const QStringList paths = grid.GridModel()->StorePaths();
  QCOMPARE(paths.size(), 3);
  for (int c = 0; c < 3; ++c) {
    QCOMPARE(QFileInfo(paths[c]).fileName(), QStringLiteral("%1SQlite.db").arg(c));
    QVERIFY(QFileInfo::exists(paths[c]));
  }
  grid.ResetRecordGrid();
  for (const QString& p : paths) QVERIFY2(!QFileInfo::exists(p), qPrintable(p));
  QCOMPARE(grid.ItemCount(), 0);
  QCOMPARE(grid.ColumnCount(), 3);  // columns are not touched
  QCOMPARE(grid.model()->rowCount(), 0);
}

// Renders the grid's viewport.
static QImage Render(CListCtrlEx& grid) {
  QCoreApplication::processEvents();
  return grid.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A grid of `rows` x 3 cells "r<row>c<column>", captions "A", "B", "C".
static void FillGrid(CListCtrlEx& grid, int rows) {
  for (int c = 0; c < 3; ++c) grid.AddGridColumn(c, QString(QLatin1Char('A' + c)));
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < 3; ++c) grid.AddGridCell(c, QStringLiteral("r%1c%2").arg(r).arg(c));
  grid.Redraw();
}

// A selected cell is filled with the selection colour inside its margin; the
// margins and a current cell that is not selected look like any other cell.
void TestGrid::selectionLook() {
  CListCtrlEx grid;
  grid.resize(300, 200);
  FillGrid(grid, 3);
  grid.show();
  QVERIFY(QTest::qWaitForWindowExposed(&grid));
  grid.setFocus();
  grid.selectionModel()->setCurrentIndex(grid.model()->index(2, 1), QItemSelectionModel::NoUpdate);
  grid.selectionModel()->select(grid.model()->index(1, 0), QItemSelectionModel::ClearAndSelect);
  const QImage image = Render(grid);
  const QRect selected = grid.visualRect(grid.model()->index(1, 0));
  const QRect plain = grid.visualRect(grid.model()->index(0, 0));
  const QRect inner = CGridCellDelegate::InnerRect(selected);
  QCOMPARE(image.pixelColor(inner.topLeft()), QColor::fromRgb(kGridSelectionRgb));
  QCOMPARE(image.pixelColor(selected.left() + 1, inner.top()),
           image.pixelColor(plain.left() + 1, plain.top() + 2));
  QCOMPARE(image.pixelColor(CGridCellDelegate::InnerRect(plain).topLeft()), QColor(Qt::white));
  // The current, unselected cell (2, 1) looks like (0, 1) with its own text.
  const QRect current = grid.visualRect(grid.model()->index(2, 1));
  QCOMPARE(image.pixelColor(CGridCellDelegate::InnerRect(current).topLeft()), QColor(Qt::white));
  QCOMPARE(image.pixelColor(current.topLeft()), image.pixelColor(plain.topLeft()));
}

// Selections as lists of rectangles "top,left,bottom,right"; the expected text
// uses | for line ends.
void TestGrid::selectionText_data() {
  QTest::addColumn<QStringList>("ranges");
  QTest::addColumn<QString>("expected");
  QTest::newRow("nothing") << QStringList{} << "";
  QTest::newRow("one cell") << QStringList{"1,1,1,1"} << "B|r1c1|";
  QTest::newRow("one row") << QStringList{"2,0,2,2"} << "A\tB\tC|r2c0\tr2c1\tr2c2|";
  QTest::newRow("block") << QStringList{"0,1,1,2"} << "B\tC|r0c1\tr0c2|r1c1\tr1c2|";
  QTest::newRow("scattered cells leave gaps empty")
      << QStringList{"0,0,0,0", "2,2,2,2"} << "A\tC|r0c0\t|\tr2c2|";
  QTest::newRow("rows out of order, overlapping")
      << QStringList{"3,0,3,0", "1,0,2,0", "2,0,3,0"} << "A|r1c0|r2c0|r3c0|";
  QTest::newRow("special texts quoted")
      << QStringList{"4,0,4,2"} << "A\tB\tC|\"tab\there\"\t\"two|lines\"\t\"say \"\"hi\"\"\"|";
  QTest::newRow("NULL copied as an empty field, the text NULL kept")
      << QStringList{"5,0,5,2"} << "A\tB\tC|\tNULL\tx|";
}

void TestGrid::selectionText() {
  QFETCH(QStringList, ranges);
  QFETCH(QString, expected);
  CListCtrlEx grid;
  for (int c = 0; c < 3; ++c) grid.AddGridColumn(c, QString(QLatin1Char('A' + c)));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c) grid.AddGridCell(c, QStringLiteral("r%1c%2").arg(r).arg(c));
  grid.AddGridCell(0, QStringLiteral("tab\there"));
  grid.AddGridCell(1, QStringLiteral("two\nlines"));
  grid.AddGridCell(2, QStringLiteral("say \"hi\""));
  grid.AddGridValue(0, QStringLiteral("NULL"), CellSortKey{CellSortKey::Kind::Null});
  grid.AddGridValue(1, QStringLiteral("NULL"), CellSortKey{CellSortKey::Kind::Text});
  grid.AddGridCell(2, QStringLiteral("x"));
  grid.Redraw();
  for (const QString& range : ranges) {
    const QStringList n = range.split(QLatin1Char(','));
    grid.selectionModel()->select(QItemSelection(grid.model()->index(n[0].toInt(), n[1].toInt()),
                                                 grid.model()->index(n[2].toInt(), n[3].toInt())),
                                  QItemSelectionModel::Select);
  }
  bool stopped = true;
  QCOMPARE(grid.SelectionText(NoProgress(), &stopped),
           QString(expected).replace(QLatin1Char('|'), QLatin1Char('\n')));
  QVERIFY(!stopped);
}

void TestGrid::copyStops() {
  CListCtrlEx grid;
  FillGrid(grid, 400);
  grid.selectAll();
  ProgressCounter secondStep;
  secondStep.stopAfter = 1;
  bool stopped = false;
  QCOMPARE(grid.SelectionText(secondStep, &stopped), QString());
  QVERIFY(stopped);
  QCOMPARE(secondStep.calls, std::int64_t{2});
  // A stop ends a search through many cells too.
  QModelIndex found;
  ProgressCounter stopNow;
  stopNow.stopAfter = 0;
  QCOMPARE(grid.FindText(QStringLiteral("zzz"), true, stopNow, &found),
           CListCtrlEx::FindOutcome::Stopped);
  // Shift+Space widens a cell to its row.
  grid.selectionModel()->setCurrentIndex(grid.model()->index(5, 1),
                                         QItemSelectionModel::ClearAndSelect);
  QTest::keyClick(&grid, Qt::Key_Space, Qt::ShiftModifier);
  QCOMPARE(grid.SelectionText(), QStringLiteral("A\tB\tC\nr5c0\tr5c1\tr5c2\n"));
}

// Searches from a current cell ("row,column" or "" for none); the result is
// "row,column" plus "+wrap", or "none".
void TestGrid::findText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("from");
  QTest::addColumn<bool>("forward");
  QTest::addColumn<QString>("result");
  QTest::newRow("no current cell starts at the first") << "r0c0"
                                                       << "" << true << "0,0";
  QTest::newRow("no current cell backwards starts at the last") << "c2"
                                                                << "" << false << "3,2";
  QTest::newRow("next along the row") << "r1"
                                      << "1,0" << true << "1,1";
  QTest::newRow("next row") << "c0"
                            << "1,0" << true << "2,0";
  QTest::newRow("case-insensitive") << "R2C1"
                                    << "" << true << "2,1";
  QTest::newRow("wraps to the top") << "c0"
                                    << "3,0" << true << "0,0+wrap";
  QTest::newRow("backwards wraps to the end") << "c2"
                                              << "0,1" << false << "3,2+wrap";
  QTest::newRow("only the current cell") << "r2c2"
                                         << "2,2" << true << "2,2+wrap";
  QTest::newRow("none") << "zzz"
                        << "1,1" << true << "none";
  QTest::newRow("empty text") << ""
                              << "" << true << "none";
}

void TestGrid::findText() {
  QFETCH(QString, text);
  QFETCH(QString, from);
  QFETCH(bool, forward);
  QFETCH(QString, result);
  CListCtrlEx grid;
  FillGrid(grid, 4);
  if (!from.isEmpty())
    grid.setCurrentIndex(
        grid.model()->index(from.section(',', 0, 0).toInt(), from.section(',', 1, 1).toInt()));
  QModelIndex found;
  bool wrapped = false;
  const auto outcome = grid.FindText(text, forward, NoProgress(), &found, &wrapped);
  const QString got = outcome != CListCtrlEx::FindOutcome::Found ? QStringLiteral("none")
                                                                 : QStringLiteral("%1,%2%3")
                                                                       .arg(found.row())
                                                                       .arg(found.column())
                                                                       .arg(wrapped ? "+wrap" : "");
  QCOMPARE(got, result);
}

// A click on a caption orders the rows as SQLite orders values: NULL, then
// numbers by value (integers and reals together), then texts, then blobs
// (a row without the value shows empty and comes first); descending
// reverses it; the third state is the order the table was read in.
void TestGrid::sortByColumn_data() {
  QTest::addColumn<int>("state");
  QTest::addColumn<QString>("rows");
  using State = CRecordGridModel::SortState;
  QTest::newRow("ascending") << int(State::Ascending) << "r7,r2,r6,r3,r8,r1,r5,r0,r4";
  QTest::newRow("descending") << int(State::Descending) << "r4,r0,r5,r1,r8,r3,r6,r2,r7";
  QTest::newRow("reading order") << int(State::None) << "r0,r1,r2,r3,r4,r5,r6,r7,r8";
}

void TestGrid::sortByColumn() {
  QFETCH(int, state);
  QFETCH(QString, rows);
  using Kind = CellSortKey::Kind;
  struct Cell {
    Kind kind;
    const char* text;
    std::int64_t i;
    double r;
  };
  const Cell cells[] = {{Kind::Text, "b", 0, 0},         {Kind::Integer, "10", 10, 0},
                        {Kind::Null, "NULL", 0, 0},      {Kind::Real, "2.500000", 0, 2.5},
                        {Kind::Blob, "Blob", 0, 0},      {Kind::Text, "a", 0, 0},
                        {Kind::Integer, "-3", -3, 0},    {Kind::Null, "", 0, 0},
                        {Kind::Real, "9.900000", 0, 9.9}};
  CListCtrlEx grid;
  QAbstractItemModelTester tester(grid.model());
  grid.AddGridColumn(0, QStringLiteral("row"));
  grid.AddGridColumn(1, QStringLiteral("value"));
  for (int r = 0; r < 9; ++r) {
    grid.AddGridCell(0, QStringLiteral("r%1").arg(r));
    if (r == 7) continue;  // the record lacks the column
    const Cell& c = cells[r];
    grid.AddGridValue(1, QString::fromLatin1(c.text), CellSortKey{c.kind, c.i, c.r});
  }
  grid.Redraw();
  const auto target = CRecordGridModel::SortState(state);
  if (target == CRecordGridModel::SortState::None) {
    QVERIFY(grid.SortByColumn(1, CRecordGridModel::SortState::Descending));
    QCOMPARE(grid.NextSortState(1), CRecordGridModel::SortState::None);
  }
  QVERIFY(grid.SortByColumn(1, target));
  QStringList shown;
  for (int r = 0; r < grid.model()->rowCount(); ++r)
    shown << grid.model()->index(r, 0).data().toString();
  QCOMPARE(shown.join(QLatin1Char(',')), rows);
  QCOMPARE(grid.horizontalHeader()->isSortIndicatorShown(),
           target != CRecordGridModel::SortState::None);
  // The store row behind each view row is the record the value viewer reads.
  QCOMPARE(grid.GridModel()->ShownCellText(0, 0),
           QStringLiteral("r%1").arg(grid.GridModel()->StoreRow(0)));
  // A row that arrives after the sort is appended at the end.
  grid.AddGridCell(0, QStringLiteral("r9"));
  grid.Redraw();
  QCOMPARE(grid.model()->index(9, 0).data().toString(), QStringLiteral("r9"));
  // A new table forgets the order.
  grid.DeleteAllColumns();
  QCOMPARE(grid.GridModel()->Sort(), CRecordGridModel::SortState::None);
  QVERIFY(!grid.horizontalHeader()->isSortIndicatorShown());
}

// Columns take the width of their caption and first texts (capped), the last
// one reaches the edge, and a double click on a border fits the column.
void TestGrid::columnWidths() {
  CListCtrlEx grid;
  grid.resize(900, 300);
  grid.AddGridColumn(0, QStringLiteral("id"));
  grid.AddGridColumn(1, QStringLiteral("name"));
  grid.AddGridColumn(2, QStringLiteral("note"));
  const QString longText(400, QLatin1Char('W'));
  for (int r = 0; r < 3; ++r) {
    grid.AddGridCell(0, QString::number(r));
    grid.AddGridCell(1, r == 1 ? QStringLiteral("a rather longer name here") : QStringLiteral("x"));
    grid.AddGridCell(2, longText);
  }
  grid.Redraw();
  grid.show();
  QVERIFY(QTest::qWaitForWindowExposed(&grid));
  QHeaderView* header = grid.horizontalHeader();
  const int nameWidth =
      grid.fontMetrics().horizontalAdvance(QStringLiteral("a rather longer name here"));
  QVERIFY2(header->sectionSize(0) < kGridColumnWidth,
           qPrintable(QString::number(header->sectionSize(0))));
  QVERIFY(header->sectionSize(1) > nameWidth);
  QVERIFY(header->sectionSize(1) <= kGridAutoMaxWidth);
  QCOMPARE(header->sectionViewportPosition(2) + header->sectionSize(2), grid.viewport()->width());
  // The border's double click fits the column to its texts, never narrower.
  header->resizeSection(1, 20);
  emit header->sectionHandleDoubleClicked(1);
  QVERIFY(header->sectionSize(1) > nameWidth);
}

void TestGrid::cellMarginAndClipping() {
  CListCtrlEx grid;
  QPalette pal = grid.palette();
  pal.setColor(QPalette::Base, QColor(10, 20, 30));  // makes the margin visible
  grid.setPalette(pal);
  grid.setShowGrid(false);
  grid.resize(400, 200);
  grid.AddGridColumn(0, QStringLiteral("a"));
  grid.AddGridColumn(1, QStringLiteral("b"));
  grid.AddGridCell(0, QString(300, QLatin1Char('W')));  // far wider than a fitted column
  grid.AddGridCell(1, QString());
  grid.Redraw();
  grid.show();
  QVERIFY(QTest::qWaitForWindowExposed(&grid));
  const QImage image = Render(grid);
  const QRect cell = grid.visualRect(grid.model()->index(0, 0));
  QCOMPARE(cell.width(), kGridAutoMaxWidth);
  const QRect inner = CGridCellDelegate::InnerRect(cell);
  const int y = inner.center().y();
  // The margin shows the background; the inner rectangle is white or text.
  QCOMPARE(image.pixelColor(cell.left(), y), QColor(10, 20, 30));
  QCOMPARE(image.pixelColor(cell.left() + 1, y), QColor(10, 20, 30));
  QCOMPARE(image.pixelColor(inner.right() + 1, y), QColor(10, 20, 30));
  QCOMPARE(image.pixelColor(inner.right() + 2, y), QColor(10, 20, 30));
  QCOMPARE(image.pixelColor(inner.left(), inner.top()), QColor(Qt::white));
  // The text is clipped: nothing of it reaches into the next cell.
  const QRect next = CGridCellDelegate::InnerRect(grid.visualRect(grid.model()->index(0, 1)));
  for (int x = next.left(); x <= next.right(); ++x)
    QCOMPARE(image.pixelColor(x, y), QColor(Qt::white));
  int dark = 0;
  for (int x = inner.left(); x <= inner.right(); ++x)
    dark += image.pixelColor(x, y).lightness() < 128;
  QVERIFY(dark > 0);
}

void TestGrid::scrollToLastRow() {
  CListCtrlEx grid;
  grid.resize(300, 200);
  grid.AddGridColumn(0, QStringLiteral("n"));
  grid.AddGridColumn(1, QStringLiteral("t"));
  const int rows = 20000;
  for (int r = 0; r < rows; ++r) {
    grid.AddGridCell(0, QString::number(r));
    grid.AddGridCell(1, QStringLiteral("row %1").arg(r));
  }
  grid.Redraw();
  grid.show();
  QVERIFY(QTest::qWaitForWindowExposed(&grid));
  grid.scrollToBottom();
  QCoreApplication::processEvents();
  const QModelIndex last = grid.indexAt(QPoint(5, grid.viewport()->height() - 8));
  QCOMPARE(last.row(), rows - 1);
  QCOMPARE(last.data().toString(), QString::number(rows - 1));
  QCOMPARE(grid.model()->index(rows - 1, 1).data().toString(),
           QStringLiteral("row %1").arg(rows - 1));
  Render(grid);  // painting the last page reads only its cells
}

void TestGrid::rightPaneCoversBoth() {
  CRightView pane;
  pane.resize(640, 480);
  pane.show();
  QVERIFY(QTest::qWaitForWindowExposed(&pane));
  pane.resize(700, 500);
  QCoreApplication::processEvents();
  QCOMPARE(pane.Grid()->geometry(), QRect(0, 0, 700, 500));
  QCOMPARE(pane.StatementEdit()->geometry(), QRect(0, 0, 700, 500));
  QCOMPARE(pane.StatementEdit()->font(), pane.Grid()->font());
  QVERIFY(!pane.StatementEdit()->isReadOnly());
  pane.Grid()->SetVisible(false);
  QVERIFY(!pane.Grid()->isVisible());
}

void TestGrid::statementLineBreaks_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("shown");
  QTest::newRow("CR LF") << "CREATE VIEW v AS\r\nSELECT 1"
                         << "CREATE VIEW v AS\nSELECT 1";
  QTest::newRow("CR CR LF") << "CREATE VIEW v AS\r\r\nSELECT 1"
                            << "CREATE VIEW v AS\nSELECT 1";
  QTest::newRow("one line") << "CREATE INDEX i ON t(a)"
                            << "CREATE INDEX i ON t(a)";
  QTest::newRow("empty") << ""
                         << "";
}

void TestGrid::statementLineBreaks() {
  QFETCH(QString, text);
  QFETCH(QString, shown);
  CStatementEdit edit;
  edit.SetText(text);
  QCOMPARE(edit.toPlainText(), shown);
}

void TestGrid::kindFromCategory_data() {
  QTest::addColumn<QString>("category");
  QTest::addColumn<int>("kind");
  QTest::newRow("Tables") << "Tables" << int(ObjectKind::Table);
  QTest::newRow("Views") << "Views" << int(ObjectKind::View);
  QTest::newRow("Triggers") << "Triggers" << int(ObjectKind::Trigger);
  QTest::newRow("Indexes") << "Indexes" << int(ObjectKind::Index);
  QTest::newRow("suffix") << "Views(3)" << int(ObjectKind::View);
  QTest::newRow("cut at the last paren only") << "Triggers(a)(b)" << int(ObjectKind::Table);
  QTest::newRow("blank before paren") << "Views (3)" << int(ObjectKind::Table);
  QTest::newRow("case matters") << "views" << int(ObjectKind::Table);
  QTest::newRow("other") << "Something" << int(ObjectKind::Table);
}

void TestGrid::kindFromCategory() {
  QFETCH(QString, category);
  QFETCH(int, kind);
  QCOMPARE(int(KindFromCategory(category)), kind);
}

void TestGrid::displayRootOrCategory_data() {
  QTest::addColumn<int>("which");  // 0 root, 1 the Tables category
  QTest::newRow("root") << 0;
  QTest::newRow("category") << 1;
}

void TestGrid::displayRootOrCategory() {
  QFETCH(int, which);
  DisplayFixture d;
  auto* t = d.tree.Add(d.tree.tables, QStringLiteral("t"));
  d.body = [&](const QString& name, int) { d.Fill(name, 3); };
  d.display.OnShowRecords(t);
  QCOMPARE(d.pane.Grid()->ItemCount(), 3);
  d.status.texts.clear();
  d.display.OnShowRecords(which == 0 ? d.tree.root : d.tree.tables);
  QCOMPARE(d.calls.size(), 1);
  QCOMPARE(d.status.texts, QStringList{QStringLiteral("Records:")});
  QCOMPARE(d.status.visibility.last(), false);
  QCOMPARE(d.stopButton.visibility.last(), false);
  QCOMPARE(d.pane.Grid()->ItemCount(), 3);  // the pane keeps what it showed
  QVERIFY(!d.display.IsShowingRecords());
}

void TestGrid::displayTable() {
  DisplayFixture d;
  auto* t = d.tree.Add(d.tree.tables, QStringLiteral("my table"), QStringLiteral("my \"table\""));
  d.body = [&](const QString& name, int) {
    QVERIFY(d.display.IsShowingRecords());
    QCOMPARE(d.stopButton.visibility.last(), true);
    QVERIFY(!d.stop);
    d.Fill(name, 7);
  };
  QCOMPARE(d.display.OnShowRecords(t), 1);
  QCOMPARE(d.calls.size(), 1);
  QCOMPARE(d.calls[0].name, QStringLiteral("my \"table\""));  // the real name
  QCOMPARE(d.calls[0].kind, int(ObjectKind::Table));
  QCOMPARE(d.status.Last(), QStringLiteral("  Records : 7"));
  QCOMPARE(d.status.visibility.last(), true);
  QCOMPARE(d.stopButton.visibility.last(), false);
  QVERIFY(!d.display.IsShowingRecords());
  QVERIFY(d.stop);  // set again at the end
  QCOMPARE(d.tree.widget.currentItem(), t);
  QCOMPARE(d.pane.Grid()->model()->rowCount(), 7);
  QCOMPARE(d.display.ShownItem(), t);
}

void TestGrid::displayEmptyTable() {
  DisplayFixture d;
  auto* t = d.tree.Add(d.tree.tables, QStringLiteral("empty"));
  d.body = [&](const QString&, int) {
    d.pane.Grid()->AddGridColumn(0, QStringLiteral("a"));
    d.status.SetText(QStringLiteral("Records : 0"));
  };
  d.display.OnShowRecords(t);
  QCOMPARE(d.status.Last(), QStringLiteral("Records : 0"));  // left as the dispatch set it
  QCOMPARE(d.pane.Grid()->ColumnCount(), 1);
  QCOMPARE(d.pane.Grid()->ItemCount(), 0);
}

void TestGrid::displayView() {
  DisplayFixture d;
  auto* t = d.tree.Add(d.tree.tables, QStringLiteral("t"));
  auto* v = d.tree.Add(d.tree.views, QStringLiteral("v"));
  auto* tr = d.tree.Add(d.tree.triggers, QStringLiteral("tr"));
  auto* ix = d.tree.Add(d.tree.indexes, QStringLiteral("ix"));
  d.body = [&](const QString& name, int kind) {
    if (kind == int(ObjectKind::Table))
      d.Fill(name, 2);
    else
      d.pane.StatementEdit()->SetText(QStringLiteral("CREATE ... ") + name);
  };
  d.display.OnShowRecords(t);
  d.display.OnShowRecords(v);
  // A new display starts with an empty grid: no columns, no rows.
  QCOMPARE(d.pane.Grid()->ColumnCount(), 0);
  QCOMPARE(d.pane.Grid()->ItemCount(), 0);
  QCOMPARE(d.pane.StatementEdit()->toPlainText(), QStringLiteral("CREATE ... v"));
  d.display.OnShowRecords(tr);
  d.display.OnShowRecords(ix);
  QCOMPARE(d.calls.size(), 4);
  QCOMPARE(d.calls[1].kind, int(ObjectKind::View));
  QCOMPARE(d.calls[2].kind, int(ObjectKind::Trigger));
  QCOMPARE(d.calls[3].kind, int(ObjectKind::Index));
  d.display.OnShowRecords(t);
  QCOMPARE(d.pane.StatementEdit()->toPlainText(), QString());  // emptied by the next display
}

void TestGrid::handOverToAnotherItem() {
  DisplayFixture d;
  auto* a = d.tree.Add(d.tree.tables, QStringLiteral("A"));
  auto* b = d.tree.Add(d.tree.tables, QStringLiteral("B"));
  d.body = [&](const QString& name, int) {
    CListCtrlEx* grid = d.pane.Grid();
    grid->AddGridColumn(0, QStringLiteral("c"));
    for (int i = 0; i < 100; ++i) {
      if (d.stop) return;  // the progress callback answers the flag
      grid->AddGridCell(0, name + QString::number(i));
      // A click on B arrives while A is loading (events are pumped here).
      if (name == QLatin1String("A") && i == 4) {
        QCOMPARE(d.display.OnShowRecords(b), 1);
        QVERIFY(d.stop);
        QCOMPARE(d.calls.size(), 1);  // not nested
      }
    }
  };
  d.display.OnShowRecords(a);
  QCOMPARE(d.calls.size(), 2);
  QCOMPARE(d.calls[0].name, QStringLiteral("A"));
  QCOMPARE(d.calls[1].name, QStringLiteral("B"));
  QCOMPARE(d.pane.Grid()->ItemCount(), 100);
  QCOMPARE(d.pane.Grid()->model()->index(0, 0).data().toString(), QStringLiteral("B0"));
  QCOMPARE(d.status.Last(), QStringLiteral("  Records : 100"));
  // A's partial rows were shown before the hand-over.
  QVERIFY(d.status.texts.contains(QStringLiteral("  Records : 5")));
  QCOMPARE(d.display.ShownItem(), b);
  QVERIFY(d.stop);
}

void TestGrid::requestBackToLoadingItem() {
  DisplayFixture d;
  auto* a = d.tree.Add(d.tree.tables, QStringLiteral("A"));
  auto* b = d.tree.Add(d.tree.tables, QStringLiteral("B"));
  d.body = [&](const QString& name, int) {
    CListCtrlEx* grid = d.pane.Grid();
    grid->AddGridColumn(0, QStringLiteral("c"));
    for (int i = 0; i < 100; ++i) {
      if (d.stop) return;
      grid->AddGridCell(0, name + QString::number(i));
      if (i == 2) {
        d.display.OnShowRecords(b);
        d.display.OnShowRecords(a);
      }
    }
  };
  d.display.OnShowRecords(a);
  QCOMPARE(d.calls.size(), 1);  // A stopped, no new load
  QCOMPARE(d.pane.Grid()->ItemCount(), 3);
  // The load of A ended early: the count says so.
  QCOMPARE(d.status.Last(), QStringLiteral("  Records : 3 (load stopped)"));
  QCOMPARE(d.display.ShownItem(), a);
}

void TestGrid::requestSameItemWhileLoading() {
  DisplayFixture d;
  auto* a = d.tree.Add(d.tree.tables, QStringLiteral("A"));
  d.body = [&](const QString& name, int) {
    d.display.OnShowRecords(a);
    QVERIFY(!d.stop);
    d.Fill(name, 4);
  };
  d.display.OnShowRecords(a);
  QCOMPARE(d.calls.size(), 1);
  QCOMPARE(d.pane.Grid()->ItemCount(), 4);
}

void TestGrid::requestedItemDeletedWhileLoading() {
  DisplayFixture d;
  auto* a = d.tree.Add(d.tree.tables, QStringLiteral("A"));
  auto* b = d.tree.Add(d.tree.tables, QStringLiteral("B"));
  d.body = [&](const QString& name, int) {
    if (name == QLatin1String("A")) {
      d.display.OnShowRecords(b);
      delete b;  // e.g. the tree was rebuilt meanwhile
    }
  };
  d.display.OnShowRecords(a);
  QCOMPARE(d.calls.size(), 1);
  QVERIFY(d.display.RequestedItem() == nullptr);
  QVERIFY(!d.display.IsShowingRecords());
}

void TestGrid::nullItem() {
  DisplayFixture d;
  QCOMPARE(d.display.OnShowRecords(nullptr), 1);
  QCOMPARE(d.display.ShowObjectRecords(nullptr), 0);
  QCOMPARE(d.status.Last(), QStringLiteral("Records:"));
  QVERIFY(d.calls.isEmpty());
  QTreeWidget other;
  auto* stranger = new QTreeWidgetItem(&other, {QStringLiteral("x")});
  QCOMPARE(d.display.OnShowRecords(stranger), 1);
  QVERIFY(d.calls.isEmpty());
}

VELMORA_TEST_MAIN(TestGrid)
#include "tst_grid.moc"
