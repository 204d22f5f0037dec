// The record display and the Save command inside the main window: a click
// in the tree fills the grid, Save asks for the folder, shows the progress
// window, writes the file and reports; Stop in the progress window ends the
// save with a truthful report.
#include <sqlite3.h>
#include <sys/stat.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "platform/MessageBox.h"
#include "platform/Text.h"
#include "tests/support/Recorders.h"
#include "tests/ui/tst_frame_helpers.h"
#include "ui/dialogs/ErrorDlg.h"
#include "ui/dialogs/SaveSQLiteFile.h"
#include "ui/dialogs/SavingProcessDlg.h"
#include "ui/grid/RightView.h"

using namespace velmora;
using namespace velmora::test;

namespace {

QString MakeSource(const QString& folder, int numberRows) {
  const QString path = folder + QStringLiteral("/work.db");
  DbBuilder db(path);
  db.Exec(
      QStringLiteral("CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT);"
                     "CREATE TABLE numbers(n INTEGER, t TEXT);"
                     "CREATE VIEW named AS SELECT name FROM people;"));
  db.Insert(QStringLiteral("people"), {1, QStringLiteral("Ann \"A\"")});
  db.Insert(QStringLiteral("people"), {2, QStringLiteral("Bob")});
  db.Begin();
  for (int i = 0; i < numberRows; ++i)
    db.Insert(QStringLiteral("numbers"), {i, QStringLiteral("row number %1").arg(i)});
  db.Commit();
  db.Close();
  return path;
}

QTreeWidgetItem* Child(QTreeWidgetItem* category, const QString& text) {
  for (int i = 0; category && i < category->childCount(); ++i)
    if (category->child(i)->text(0) == text) return category->child(i);
  return nullptr;
}

// Answers the next modal dialog of type T with `answer`, from its own loop.
template <typename T>
void AnswerNext(std::function<void(T*)> answer) {
  auto* poll = new QTimer(qApp);
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll->stop();
    poll->deleteLater();
    answer(dialog);
  });
  poll->start();
}

struct Boxes {
  QStringList texts;
  MessageBoxHook previous;
  Boxes() {
    previous = SetMessageBoxHook([this](const QString& t, MsgButtons b, MsgIcon) {
      texts << t;
      return b == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    });
  }
  ~Boxes() { SetMessageBoxHook(previous); }
};

int Count(const QString& path, const QString& table) {
  sqlite3* db = nullptr;
  int n = -1;
  if (sqlite3_open_v2(NativePath(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = "SELECT count(*) FROM \"" + table.toUtf8() + "\"";
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return n;
}

}  // namespace

class TestSaveFrame : public QObject {
  Q_OBJECT
 private slots:
  void clickShowsRecordsAndStatement();
  void saveThroughTheWindow_data();
  void saveThroughTheWindow();
  void stopInTheProgressWindow();
  void saveWithoutDatabase();
};

void TestSaveFrame::clickShowsRecordsAndStatement() {
  const QString folder = NewTestFolder(QStringLiteral("frame"));
  CMainFrame frame;
  frame.show();
  OpenThrough(frame, MakeSource(folder, 20));
  QTRY_VERIFY(frame.m_hTablesItem != nullptr);
  QTreeWidgetItem* people = Child(frame.m_hTablesItem, QStringLiteral("people"));
  QVERIFY(people);
  SendCustom(&frame, WMU_SHOW_RECORDS, people);
  CListCtrlEx* grid = frame.RightPane()->Grid();
  QCOMPARE(static_cast<QWidget*>(grid), frame.ListCtrl());  // the pane answers its messages
  QCOMPARE(dynamic_cast<IRecordGrid*>(frame.ListCtrl()), static_cast<IRecordGrid*>(grid));
  QCOMPARE(grid->model()->rowCount(), 2);
  QCOMPARE(grid->model()->index(0, 1).data().toString(), QStringLiteral("Ann \"A\""));
  QCOMPARE(frame.StatusTextCtl()->text(), QStringLiteral("  Records : 2"));
  QVERIFY(frame.StatusTextCtl()->isVisible());
  QVERIFY(!frame.StopButton()->isVisible());
  QCOMPARE(frame.m_hShownItem, people);

  SendCustom(&frame, WMU_SHOW_RECORDS, Child(frame.m_hViewsItem, QStringLiteral("named")));
  QVERIFY(frame.TextCtrl()->isVisible());
  QVERIFY(!grid->isVisible());
  QCOMPARE(frame.TextCtrl()->toPlainText(),
           QStringLiteral("CREATE VIEW named AS SELECT name FROM people"));

  SendCustom(&frame, WMU_SHOW_RECORDS, frame.m_hTablesItem);  // a category
  QCOMPARE(frame.StatusTextCtl()->text(), QStringLiteral("Records:"));
  QVERIFY(!frame.StatusTextCtl()->isVisible());
  QVERIFY(frame.TextCtrl()->isVisible());  // the pane keeps what it showed
}

// The destination is typed as a folder dialog gives it: a name that is not
// UTF-8 decoded lossily.
void TestSaveFrame::saveThroughTheWindow_data() {
  QTest::addColumn<QByteArray>("destName");
  QTest::newRow("plain folder") << QByteArray("out");
  QTest::newRow("folder name not UTF-8") << QByteArray("d\xe9p");
}

void TestSaveFrame::saveThroughTheWindow() {
  QFETCH(QByteArray, destName);
  const QString folder = NewTestFolder(QStringLiteral("frame"));
  const QByteArray destBytes = NativePath(NewTestFolder(QStringLiteral("dest"))) + '/' + destName;
  QVERIFY(::mkdir(destBytes.constData(), 0700) == 0);
  const QString dest = PathFromNative(destBytes);
  CMainFrame frame;
  frame.show();
  OpenThrough(frame, MakeSource(folder, 50));
  QTRY_VERIFY(frame.m_hTablesItem != nullptr);
  Child(frame.m_hTablesItem, QStringLiteral("people"))->setCheckState(0, Qt::Checked);
  Child(frame.m_hViewsItem, QStringLiteral("named"))->setCheckState(0, Qt::Checked);

  Boxes boxes;
  QString askedName, report;
  AnswerNext<CSaveSQLiteFile>([&](CSaveSQLiteFile* d) {
    d->PathEdit()->setText(folder);  // the damaged file's own folder: refused
    d->OkButton()->click();
    d->PathEdit()->setText(QFile::decodeName(destBytes));
    d->OkButton()->click();
    if (d->isVisible()) d->reject();
    AnswerNext<CErrorDlg>([&](CErrorDlg* r) {
      report = r->MessageEdit()->toPlainText();
      r->accept();
    });
  });
  frame.Action(CMainFrame::ID_FILE_SAVE_DB)->trigger();
  QCOMPARE(boxes.texts.size(), 1);
  QVERIFY2(boxes.texts[0].contains(QStringLiteral("work.db")), qPrintable(boxes.texts.join('\n')));
  QVERIFY2(report.startsWith(QStringLiteral("saving done successfully...")), qPrintable(report));
  QVERIFY(report.contains(dest + QStringLiteral("/work.db")));
  QCOMPARE(Count(dest + QStringLiteral("/work.db"), QStringLiteral("people")), 2);
  QCOMPARE(Count(dest + QStringLiteral("/work.db"), QStringLiteral("named")), 2);
  QCOMPARE(Count(dest + QStringLiteral("/work.db"), QStringLiteral("numbers")), -1);  // not ticked
  QVERIFY(frame.TreeCtrl()->isEnabled());
  QVERIFY(!frame.m_bSaving);
  QVERIFY(!frame.m_pSavingDlg->isVisible());
}

void TestSaveFrame::stopInTheProgressWindow() {
  const QString folder = NewTestFolder(QStringLiteral("frame"));
  const QString dest = NewTestFolder(QStringLiteral("dest"));
  CMainFrame frame;
  frame.show();
  OpenThrough(frame, MakeSource(folder, 60000));
  QTRY_VERIFY(frame.m_hTablesItem != nullptr);
  frame.m_hTablesItem->setCheckState(0, Qt::Checked);
  for (int i = 0; i < frame.m_hTablesItem->childCount(); ++i)
    frame.m_hTablesItem->child(i)->setCheckState(0, Qt::Checked);
  Child(frame.m_hViewsItem, QStringLiteral("named"))->setCheckState(0, Qt::Checked);

  Boxes boxes;
  QString report;
  bool sawSaving = false, treeDisabled = false;
  auto* stopper = new QTimer(&frame);
  stopper->setInterval(2);
  connect(stopper, &QTimer::timeout, [&] {
    auto* dlg = qobject_cast<CSavingProcessDlg*>(frame.m_pSavingDlg.data());
    if (!frame.m_bSaving || dlg == nullptr || !dlg->isVisible()) return;
    sawSaving = true;
    treeDisabled = !frame.TreeCtrl()->isEnabled();
    stopper->stop();
    dlg->StopButton()->click();  // confirmed with Yes
  });
  AnswerNext<CSaveSQLiteFile>([&](CSaveSQLiteFile* d) {
    d->PathEdit()->setText(dest);
    stopper->start();
    AnswerNext<CErrorDlg>([&](CErrorDlg* r) {
      report = r->MessageEdit()->toPlainText();
      r->accept();
    });
    d->OkButton()->click();
  });
  frame.Action(CMainFrame::ID_FILE_SAVE_DB)->trigger();
  QVERIFY(sawSaving);
  QVERIFY(treeDisabled);
  QCOMPARE(boxes.texts, QStringList{"Please confirm if you want to stop the current process?"});
  QVERIFY2(report.startsWith(QStringLiteral("The save was stopped")), qPrintable(report));
  QVERIFY(report.contains(QStringLiteral("View \"named\"")));
  QVERIFY(!frame.m_pSavingDlg->isVisible());
  QVERIFY(frame.TreeCtrl()->isEnabled());
  QVERIFY(!frame.m_bSaving);
  // What was written before the stop is in the file.
  QVERIFY(Count(dest + QStringLiteral("/work.db"), QStringLiteral("numbers")) < 60000);
}

void TestSaveFrame::saveWithoutDatabase() {
  CMainFrame frame;
  Boxes boxes;
  frame.Action(CMainFrame::ID_FILE_SAVE_DB)->trigger();
  QCOMPARE(boxes.texts, QStringList{"No database is opened."});
}

VELMORA_TEST_MAIN(TestSaveFrame)
#include "tst_save_frame.moc"
