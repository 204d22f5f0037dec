// The main window: Open flow, close confirmation, long work (Stop, dropped
// clicks, saving-dialog keys), status-bar geometry, Help and Home Page.
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <QtTest/QtTest>

#include "tst_frame_helpers.h"

using namespace velmora;
using namespace velmora::test;

class TestFrame : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void commandsAndCaptions();
  void openFailures_data();
  void openFailures();
  void cancelKeepsDatabase();
  void badFileAfterGoodOneEmptiesTree();
  void treeDisabledDuringScan();
  void closeConfirmation_data();
  void closeConfirmation();
  void closeWhileSavingRefused();
  void closeDuringEngineCallWaits();
  void stopButtonDuringLongWork();
  void menuAndToolbarClicksDropped();
  void savingDialogKeys();
  void minimiseWhileSaving();
  void statusGeometry_data();
  void statusGeometry();
  void help_data();
  void help();
  void homePage();

 private:
  std::unique_ptr<CMainFrame> m_frame;
  QString m_shop;
  QList<QUrl> m_opened;
  UrlOpener m_previousOpener;
};

void TestFrame::initTestCase() {
  m_shop = NewTestFolder(QStringLiteral("frame")) + QStringLiteral("/shop.db");
  QCOMPARE(MakeShopDatabase(m_shop), QString());
  m_previousOpener = SetUrlOpener([this](const QUrl& url) {
    m_opened << url;
    return true;
  });
}

void TestFrame::init() {
  m_opened.clear();
  m_frame = std::make_unique<CMainFrame>();
  m_frame->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
}

void TestFrame::cleanup() { m_frame.reset(); }

void TestFrame::commandsAndCaptions() {
  QCOMPARE(m_frame->windowTitle(), QStringLiteral("Velmora SQLite Database Recovery"));
  QCOMPARE(m_frame->ToolBar()->windowTitle(), QStringLiteral("Standard"));
  QCOMPARE(m_frame->ToolBar()->actions(),
           (QList<QAction*>{m_frame->Action(CMainFrame::ID_FILE_OPEN_DB),
                            m_frame->Action(CMainFrame::ID_FILE_SAVE_DB),
                            m_frame->Action(CMainFrame::ID_HELP_DB)}));
  QCOMPARE(m_frame->Action(CMainFrame::ID_FILE_OPEN_DB)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  QCOMPARE(m_frame->Action(CMainFrame::ID_FILE_OPEN_DB)->statusTip(),
           QStringLiteral("Select SQLite database objects "));
  QStringList menus;
  for (QAction* a : m_frame->menuBar()->actions()) menus << a->text();
  QCOMPARE(menus, (QStringList{"&File", "&Help"}));
  QCOMPARE(m_frame->MessagePane()->text(), QStringLiteral("Ready"));
  QVERIFY(!m_frame->ProgressCtl()->isVisible());
  QVERIFY(!m_frame->StopButton()->isVisible());
  QCOMPARE(m_frame->StopButton()->text(), QStringLiteral("Stop"));
  QCOMPARE(m_frame->StopButton()->cursor().shape(), Qt::PointingHandCursor);
  // The look menu marks the stored look.
  QAction* look = m_frame->Action(m_frame->AppLook());
  if (look != nullptr) QVERIFY(look->isChecked());
}

void TestFrame::openFailures_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("lastMessage");
  QTest::newRow("missing file") << "missing" << "File Corrupted";
  QTest::newRow("not a database") << "garbage" << "File Corrupted";
  QTest::newRow("schema page zeroed") << "zeroed" << "File Corrupted";
}

void TestFrame::openFailures() {
  QFETCH(QString, kind);
  QFETCH(QString, lastMessage);
  const QString folder = NewTestFolder(QStringLiteral("fail"));
  QString path = folder + QStringLiteral("/bad.db");
  if (kind == QLatin1String("garbage")) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'z'));
  } else if (kind == QLatin1String("zeroed")) {
    QVERIFY(CopyDatabase(m_shop, path));
    QVERIFY(GarbagePage(path, 1, 7));
  }
  MessageBoxRecorder boxes;
  OpenThrough(*m_frame, path);
  QVERIFY(!boxes.boxes.isEmpty());
  QCOMPARE(boxes.boxes.last().text, lastMessage);
  QCOMPARE(boxes.boxes.last().buttons, MsgButtons::Ok);
  QCOMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 0);
  QVERIFY(m_frame->TreeCtrl()->isEnabled());
  QVERIFY(m_frame->Recovery().TableNames().isEmpty());
}

void TestFrame::cancelKeepsDatabase() {
  OpenThrough(*m_frame, m_shop);
  CSQLiteRecovery* engine = &m_frame->Recovery();
  m_frame->m_hTablesItem->setCheckState(0, Qt::Checked);
  const QStringList before = TreeOutline(m_frame->TreeCtrl());
  MessageBoxRecorder boxes;
  OpenThrough(*m_frame, QString());  // the dialog is cancelled
  QVERIFY(boxes.boxes.isEmpty());
  QCOMPARE(&m_frame->Recovery(), engine);
  QCOMPARE(TreeOutline(m_frame->TreeCtrl()), before);
  QCOMPARE(m_frame->m_hTablesItem->checkState(0), Qt::Checked);
}

void TestFrame::badFileAfterGoodOneEmptiesTree() {
  OpenThrough(*m_frame, m_shop);
  QVERIFY(m_frame->TreeCtrl()->topLevelItemCount() == 1);
  m_frame->StatusTextCtl()->show();
  MessageBoxRecorder boxes;
  OpenThrough(*m_frame, NewTestFolder(QStringLiteral("gone")) + QStringLiteral("/none.db"));
  QCOMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 0);
  QVERIFY(m_frame->m_hRootItem == nullptr && m_frame->m_hTablesItem == nullptr);
  QVERIFY(!m_frame->StatusTextCtl()->isVisible());
  QCOMPARE(m_frame->m_strDbName, QStringLiteral("none.db"));
}

void TestFrame::treeDisabledDuringScan() {
  // A schema of many pages, so that the scan calls the progress callback.
  const QString path = NewTestFolder(QStringLiteral("scan")) + QStringLiteral("/wide.db");
  {
    DbBuilder db(path, DbOptions{512});
    db.Begin();
    for (int i = 0; i < 60; ++i) db.Exec(QStringLiteral("CREATE TABLE t%1 (a INTEGER, b TEXT)").arg(i));
    db.Commit();
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  OpenThrough(*m_frame, m_shop);
  QVERIFY(m_frame->TreeCtrl()->topLevelItemCount() == 1);

  // Look at the tree from inside the scan, the first time the callback lets
  // events through.
  bool seenBusy = false, enabledWhileBusy = true;
  int itemsWhileBusy = -1;
  auto* probe = new QTimer(m_frame.get());
  probe->setInterval(0);
  connect(probe, &QTimer::timeout, this, [&] {
    if (!m_frame->EngineBusy()) return;
    probe->stop();
    seenBusy = true;
    enabledWhileBusy = m_frame->TreeCtrl()->isEnabled();
    itemsWhileBusy = m_frame->TreeCtrl()->topLevelItemCount();
  });
  probe->start();
  OpenThrough(*m_frame, path);
  probe->stop();
  QVERIFY2(seenBusy, "the scan never let events through");
  QVERIFY(!enabledWhileBusy);
  QCOMPARE(itemsWhileBusy, 0);
  QVERIFY(m_frame->TreeCtrl()->isEnabled());
  QVERIFY(m_frame->TreeCtrl()->topLevelItemCount() == 1);
}

void TestFrame::closeConfirmation_data() {
  QTest::addColumn<bool>("yes");
  QTest::newRow("No keeps the window") << false;
  QTest::newRow("Yes closes and deletes the working database") << true;
}

void TestFrame::closeConfirmation() {
  QFETCH(bool, yes);
  OpenThrough(*m_frame, m_shop);
  const QString work = m_frame->Recovery().WorkingDbPath();
  QVERIFY(QFileInfo::exists(work));
  MessageBoxRecorder boxes(yes ? MsgResult::Yes : MsgResult::No);
  m_frame->Action(CMainFrame::ID_APP_EXIT)->trigger();
  QCOMPARE(boxes.Texts(), QStringList{"Please confirm if you want to close the application?"});
  QCOMPARE(boxes.boxes.first().buttons, MsgButtons::YesNo);
  QCOMPARE(m_frame->isVisible(), !yes);
  QCOMPARE(QFileInfo::exists(work), !yes);
  if (!yes) QCOMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 1);
}

void TestFrame::closeWhileSavingRefused() {
  MessageBoxRecorder boxes(MsgResult::Yes);
  m_frame->m_bSaving = true;
  QVERIFY(!m_frame->close());
  m_frame->m_bSaving = false;
  QCOMPARE(boxes.Texts(), QStringList{"Please confirm if you want to stop the current process?"});
  QCOMPARE(boxes.boxes.first().buttons, MsgButtons::Ok);
  QVERIFY(m_frame->isVisible());
}

void TestFrame::closeDuringEngineCallWaits() {
  MessageBoxRecorder boxes(MsgResult::Yes);
  QTimer::singleShot(20, m_frame.get(), [this] { m_frame->close(); });
  bool visibleAfterClose = false;
  const bool stopped = LongWork(*m_frame, 3000);
  visibleAfterClose = m_frame->isVisible();
  // The confirmed close asked the work to stop, and the window waited.
  QVERIFY(stopped);
  QVERIFY(visibleAfterClose);
  QCOMPARE(boxes.Texts(), QStringList{"Please confirm if you want to close the application?"});
  // Once the call has returned, the window closes without asking again.
  QTRY_VERIFY(!m_frame->isVisible());
  QCOMPARE(boxes.boxes.size(), 1);
}

void TestFrame::stopButtonDuringLongWork() {
  m_frame->StopButton()->show();
  m_frame->m_bStopRequested = false;
  QTimer::singleShot(30, m_frame.get(),
                     [this] { QTest::mouseClick(m_frame->StopButton(), Qt::LeftButton); });
  QVERIFY(LongWork(*m_frame, 3000));
  QVERIFY(m_frame->m_bStopRequested);
  // The callback keeps reporting the stop until the next operation clears it.
  QVERIFY(EngineProgressProc(0, m_frame.get()));
}

void TestFrame::menuAndToolbarClicksDropped() {
  QAction* open = m_frame->Action(CMainFrame::ID_FILE_OPEN_DB);
  QSignalSpy triggered(open, &QAction::triggered);
  QWidget* openButton = m_frame->ToolBar()->widgetForAction(open);
  QVERIFY(openButton != nullptr);
  QMenuBar* bar = m_frame->menuBar();
  const QRect fileRect = bar->actionGeometry(bar->actions().first());
  bool clicked = false;
  bool popupSeen = false;
  // A context menu that opened anyway is noted and closed again.
  QTimer popupWatch;
  connect(&popupWatch, &QTimer::timeout, this, [&] {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      popupSeen = true;
      popup->close();
    }
  });
  popupWatch.start(20);
  QTimer::singleShot(20, m_frame.get(), [&] {
    QCoreApplication::postEvent(m_frame->ToolBar(),
                                new QContextMenuEvent(QContextMenuEvent::Mouse, QPoint(5, 5)));
    QTest::mouseClick(openButton, Qt::LeftButton);
    QTest::mouseClick(bar, Qt::LeftButton, {}, fileRect.center());
    QTest::keyClick(m_frame.get(), Qt::Key_O, Qt::ControlModifier);
  });
  // Later, so that the posted context-menu event was delivered during the work.
  QTimer::singleShot(120, m_frame.get(), [&] { clicked = true; });
  QVERIFY(!LongWork(*m_frame, 3000, [&] { return clicked; }));
  QVERIFY(clicked);
  QApplication::processEvents();
  QCOMPARE(triggered.count(), 0);
  QVERIFY(!popupSeen);
  QVERIFY(QApplication::activePopupWidget() == nullptr);
  QVERIFY(QApplication::activeModalWidget() == nullptr);
  // Outside long work the same button works.
  AnswerNextSelection(QString());
  QTest::mouseClick(openButton, Qt::LeftButton);
  QCOMPARE(triggered.count(), 1);
}

void TestFrame::savingDialogKeys() {
  QDialog saving(m_frame.get());
  saving.setModal(false);
  m_frame->m_pSavingDlg = &saving;
  m_frame->m_bSaving = true;
  saving.show();
  QVERIFY(QTest::qWaitForWindowExposed(&saving));
  m_frame->m_bStopRequested = true;
  // Escape in the saving dialog: the callback says "go on" this once and
  // the dialog stays on screen.
  QTest::qWait(15);
  QTimer::singleShot(0, &saving, [&] { QTest::keyClick(&saving, Qt::Key_Escape); });
  bool answer = true;
  {
    CMainFrame::EngineCall call(*m_frame);
    answer = EngineProgressProc(0, m_frame.get());
  }
  QVERIFY(!answer);
  QVERIFY(saving.isVisible());
  QCOMPARE(saving.result(), 0);
  // Enter does not close it either.
  QTest::qWait(15);
  QTimer::singleShot(0, &saving, [&] { QTest::keyClick(&saving, Qt::Key_Return); });
  {
    CMainFrame::EngineCall call(*m_frame);
    answer = EngineProgressProc(0, m_frame.get());
  }
  QVERIFY(!answer);
  QVERIFY(saving.isVisible());
  // Without a key the stop flag is reported again.
  QTest::qWait(15);
  QVERIFY(EngineProgressProc(0, m_frame.get()));
  m_frame->m_bSaving = false;
  m_frame->m_pSavingDlg = nullptr;
}

void TestFrame::minimiseWhileSaving() {
  QDialog saving(m_frame.get());
  m_frame->m_pSavingDlg = &saving;
  m_frame->m_bSaving = true;
  saving.show();
  m_frame->setWindowState(Qt::WindowMinimized);
  QTRY_VERIFY(!saving.isVisible());
  m_frame->setWindowState(Qt::WindowNoState);
  m_frame->show();
  QTRY_VERIFY(saving.isVisible());
  // After a stop request restoring does not bring it back.
  m_frame->m_bStopRequested = true;
  m_frame->setWindowState(Qt::WindowMinimized);
  QTRY_VERIFY(!saving.isVisible());
  m_frame->setWindowState(Qt::WindowNoState);
  QTest::qWait(20);
  QVERIFY(!saving.isVisible());
  m_frame->m_bSaving = false;
  m_frame->m_pSavingDlg = nullptr;
}

void TestFrame::statusGeometry_data() {
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("progressLeft");
  QTest::addColumn<int>("progressRight");  // exclusive
  QTest::addColumn<int>("stopLeft");
  QTest::addColumn<int>("stopRight");
  QTest::newRow("1000") << 1000 << 132 << 902 << 900 << 998;
  QTest::newRow("640") << 640 << 132 << 542 << 540 << 638;
}

void TestFrame::statusGeometry() {
  QFETCH(int, width);
  QFETCH(int, progressLeft);
  QFETCH(int, progressRight);
  QFETCH(int, stopLeft);
  QFETCH(int, stopRight);
  m_frame->resize(width, 600);
  QTRY_COMPARE(m_frame->width(), width);
  const QRect progress = m_frame->ProgressCtl()->geometry();
  const QRect stop = m_frame->StopButton()->geometry();
  QCOMPARE(progress.left(), progressLeft);
  QCOMPARE(progress.left() + progress.width(), progressRight);
  QCOMPARE(progress.top(), 2);
  QCOMPARE(progress.height(), 16);
  QCOMPARE(stop.left(), stopLeft);
  QCOMPARE(stop.left() + stop.width(), stopRight);
  QCOMPARE(m_frame->StatusTextCtl()->geometry().left(), 0);
  QCOMPARE(m_frame->StatusTextCtl()->geometry().width(), 130);
}

void TestFrame::help_data() {
  QTest::addColumn<QString>("where");  // "none", "current", "program"
  QTest::newRow("missing") << "none";
  QTest::newRow("in the current folder") << "current";
  QTest::newRow("next to the executable") << "program";
}

void TestFrame::help() {
  QFETCH(QString, where);
  const QString name = QString::fromLatin1(kHelpFileName);
  const QString current = NewTestFolder(QStringLiteral("cwd"));
  const QString saved = QDir::currentPath();
  QVERIFY(QDir::setCurrent(current));
  QString placed;
  if (where == QLatin1String("current")) placed = QDir(current).filePath(name);
  if (where == QLatin1String("program")) placed = QDir(QCoreApplication::applicationDirPath()).filePath(name);
  const bool existedBefore = !placed.isEmpty() && QFileInfo::exists(placed);
  if (!placed.isEmpty() && !existedBefore) {
    QFile f(placed);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("%PDF-1.4\n");
  }
  // Nothing is found next to the test program unless placed there.
  const bool programCopy = QFileInfo::exists(QDir(QCoreApplication::applicationDirPath()).filePath(name));
  MessageBoxRecorder boxes;
  m_frame->Action(CMainFrame::ID_HELP_DB)->trigger();
  if (!placed.isEmpty() && !existedBefore) QFile::remove(placed);
  QDir::setCurrent(saved);

  if (where == QLatin1String("none")) {
    if (programCopy) QSKIP("a manual lies next to the test program");
    QCOMPARE(boxes.Texts(), QStringList{"Velmora SQLite Database Recovery.pdf file does not exist. "
                                        "Please, reinstall the software."});
    QVERIFY(m_opened.isEmpty());
  } else {
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(placed)});
  }
}

void TestFrame::homePage() {
  m_frame->Action(CMainFrame::ID_HOME_PAGE)->trigger();
  QCOMPARE(m_opened, QList<QUrl>{QUrl(QString::fromLatin1(kHomePageUrl))});
  QVERIFY(m_opened.first().host().endsWith(QLatin1String(".example")));
}

VELMORA_TEST_MAIN(TestFrame)
#include "tst_frame.moc"
