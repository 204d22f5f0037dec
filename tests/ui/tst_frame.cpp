// The main window: Open flow (dialog, dropped file, recent files), close
// confirmation, long work (Stop, Esc, dropped clicks, saving-dialog keys),
// keyboard commands, find and copy in the grid, status-bar geometry, Help and
// Home Page.
#include <sys/stat.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <QtTest/QtTest>
#include <cstdio>
#include <optional>

#include "platform/Folders.h"
#include "platform/Text.h"
#include "tst_frame_helpers.h"
#include "ui/grid/RightView.h"
#include "ui/style/AppStyle.h"

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
  void schemaPageGarbageKeepsRows();
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
  void droppedFile_data();
  void droppedFile();
  void recentFiles();
  void rawBytePaths_data();
  void rawBytePaths();
  void paneFocus();
  void keyboardCommands_data();
  void keyboardCommands();
  void escapeStopsWork_data();
  void escapeStopsWork();
  void escapeStopsOpen();
  void findBar();
  void copySelection();

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
  AppSettings().remove(QStringLiteral("RecentFiles"));
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
  QCOMPARE(m_frame->Action(CMainFrame::ID_FILE_OPEN_DB)->shortcut(),
           QKeySequence(Qt::CTRL | Qt::Key_O));
  QCOMPARE(m_frame->Action(CMainFrame::ID_FILE_OPEN_DB)->statusTip(),
           QStringLiteral("Select SQLite database objects "));
  QStringList menus;
  for (QAction* a : m_frame->menuBar()->actions()) menus << a->text();
  QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Help"}));
  QCOMPARE(m_frame->Action(CMainFrame::ID_FILE_SAVE_DB)->shortcut(),
           QKeySequence(Qt::CTRL | Qt::Key_S));
  QCOMPARE(m_frame->Action(CMainFrame::ID_HELP_DB)->shortcut(), QKeySequence(Qt::Key_F1));
  QCOMPARE(m_frame->Action(CMainFrame::ID_EDIT_FIND)->shortcut(),
           QKeySequence(Qt::CTRL | Qt::Key_F));
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
  QTest::newRow("missing file") << "missing"
                                << "The file \"%1\" does not exist.";
  QTest::newRow("not a database") << "garbage"
                                  << "File Corrupted";
}

void TestFrame::schemaPageGarbageKeepsRows() {
  // With page 1 unreadable no table has a schema row, but the rows of the
  // intact table pages are still shown: each tree as a table of its own,
  // whatever fits none in the lost-and-found table.
  const QString path = NewTestFolder(QStringLiteral("garbage1")) + QStringLiteral("/bad.db");
  QVERIFY(CopyDatabase(m_shop, path));
  QVERIFY(GarbagePage(path, 1, 7));
  MessageBoxRecorder boxes;
  OpenThrough(*m_frame, path);
  QVERIFY2(!boxes.Saw(QStringLiteral("File Corrupted")), qPrintable(boxes.Texts().join('|')));
  const CSQLiteRecovery& recovery = m_frame->Recovery();
  QVERIFY(!recovery.TableNames().isEmpty());
  std::int64_t rows = recovery.Orphans().lostRows;
  for (const QString& name : recovery.TableNames()) {
    const SchemaObject* table = recovery.Catalog().FindTable(name);
    QVERIFY2(table != nullptr && (table->origin == SchemaOrigin::RecoveredTree ||
                                  table->origin == SchemaOrigin::LostAndFound),
             qPrintable(name));
    if (const PutBackPages* pages = recovery.PutBack(name)) rows += pages->rows;
  }
  QVERIFY(rows > 0);
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
  }
  MessageBoxRecorder boxes;
  // The selection dialog refuses a missing file itself; other ways of
  // opening come to OpenDatabasePath with it.
  if (kind == QLatin1String("missing")) {
    QVERIFY(!m_frame->OpenDatabasePath(path));
  } else {
    OpenThrough(*m_frame, path);
  }
  QVERIFY(!boxes.boxes.isEmpty());
  QCOMPARE(boxes.boxes.last().text,
           kind == QLatin1String("missing") ? lastMessage.arg(path) : lastMessage);
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
  const QString bad = NewTestFolder(QStringLiteral("gone")) + QStringLiteral("/none.db");
  {
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'z'));
  }
  OpenThrough(*m_frame, bad);
  QCOMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 0);
  QVERIFY(m_frame->m_hRootItem == nullptr && m_frame->m_hTablesItem == nullptr);
  QVERIFY(!m_frame->StatusTextCtl()->isVisible());
  QCOMPARE(m_frame->m_strDbName, QStringLiteral("none.db"));
  QCOMPARE(boxes.Texts().last(), QStringLiteral("File Corrupted"));
}

void TestFrame::treeDisabledDuringScan() {
  // A schema of many pages, so that the scan calls the progress callback.
  const QString path = NewTestFolder(QStringLiteral("scan")) + QStringLiteral("/wide.db");
  {
    DbBuilder db(path, DbOptions{512});
    db.Begin();
    for (int i = 0; i < 60; ++i)
      db.Exec(QStringLiteral("CREATE TABLE t%1 (a INTEGER, b TEXT)").arg(i));
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
  QVERIFY(m_frame->EngineProgress().Poll());
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
    answer = m_frame->EngineProgress().Poll();
  }
  QVERIFY(!answer);
  QVERIFY(saving.isVisible());
  QCOMPARE(saving.result(), 0);
  // Enter does not close it either.
  QTest::qWait(15);
  QTimer::singleShot(0, &saving, [&] { QTest::keyClick(&saving, Qt::Key_Return); });
  {
    CMainFrame::EngineCall call(*m_frame);
    answer = m_frame->EngineProgress().Poll();
  }
  QVERIFY(!answer);
  QVERIFY(saving.isVisible());
  // Without a key the stop flag is reported again.
  QTest::qWait(15);
  QVERIFY(m_frame->EngineProgress().Poll());
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
  QTest::newRow("where an installed program keeps it") << "installed";
  QTest::newRow("no program opens it") << "no viewer";
}

void TestFrame::help() {
  QFETCH(QString, where);
  const QString name = QString::fromLatin1(kHelpFileName);
  const QString current = NewTestFolder(QStringLiteral("cwd"));
  const QString saved = QDir::currentPath();
  QVERIFY(QDir::setCurrent(current));
  QString placed;
  if (where == QLatin1String("current")) placed = QDir(current).filePath(name);
  if (where == QLatin1String("program"))
    placed = QDir(QCoreApplication::applicationDirPath()).filePath(name);
  const QString installed =
      QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(kInstalledDocFolder));
  const bool installedBefore = QFileInfo::exists(installed);
  if (where == QLatin1String("installed")) {
    QVERIFY(QDir().mkpath(installed));
    placed = QDir(installed).filePath(name);
  }
  const bool noViewer = where == QLatin1String("no viewer");
  if (noViewer) placed = QDir(current).filePath(name);
  // Without a PDF program the desktop cannot open the manual; its folder opens.
  const UrlOpener opener = SetUrlOpener([this](const QUrl& url) {
    m_opened << url;
    return !url.toLocalFile().endsWith(QLatin1String(".pdf"));
  });
  if (!noViewer) SetUrlOpener(opener);
  const bool existedBefore = !placed.isEmpty() && QFileInfo::exists(placed);
  if (!placed.isEmpty() && !existedBefore) {
    QFile f(placed);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("%PDF-1.4\n");
  }
  // Nothing is found next to the test program unless placed there.
  const bool programCopy =
      QFileInfo::exists(QDir(QCoreApplication::applicationDirPath()).filePath(name));
  MessageBoxRecorder boxes(MsgResult::Yes);
  m_frame->Action(CMainFrame::ID_HELP_DB)->trigger();
  if (noViewer) SetUrlOpener(opener);
  if (!placed.isEmpty() && !existedBefore) QFile::remove(placed);
  if (!installedBefore) QDir(installed).removeRecursively();
  QDir::setCurrent(saved);

  if (noViewer) {
    // Where the manual is, and its folder opened on Yes.
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes.first().buttons, MsgButtons::YesNo);
    QVERIFY2(boxes.boxes.first().text.contains(QFileInfo(placed).absoluteFilePath()),
             qPrintable(boxes.boxes.first().text));
    QCOMPARE(m_opened, (QList<QUrl>{QUrl::fromLocalFile(QFileInfo(placed).absoluteFilePath()),
                                    QUrl::fromLocalFile(QFileInfo(placed).absolutePath())}));
    return;
  }

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

// What a drop of `urls` on the window does: accepted and opened, or refused.
void TestFrame::droppedFile_data() {
  QTest::addColumn<QString>("what");  // "file", "web", "file after web", "busy"
  QTest::addColumn<bool>("opened");
  QTest::newRow("local file") << "file" << true;
  QTest::newRow("web address refused") << "web" << false;
  QTest::newRow("first local file of several") << "file after web" << true;
  QTest::newRow("refused during long work") << "busy" << false;
}

void TestFrame::droppedFile() {
  QFETCH(QString, what);
  QFETCH(bool, opened);
  QList<QUrl> urls{QUrl::fromLocalFile(m_shop)};
  if (what == QLatin1String("web")) urls = {QUrl(QStringLiteral("https://example.org/shop.db"))};
  if (what == QLatin1String("file after web"))
    urls.prepend(QUrl(QStringLiteral("https://example.org/x.db")));
  QMimeData mime;
  mime.setUrls(urls);
  const QPoint at = m_frame->TreeCtrl()->mapTo(m_frame.get(), QPoint(10, 10));
  std::optional<CMainFrame::EngineCall> busy;
  if (what == QLatin1String("busy")) busy.emplace(*m_frame);
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_frame.get(), &enter);
  QCOMPARE(enter.isAccepted(), opened);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_frame.get(), &drop);
  busy.reset();
  if (opened) {
    QTRY_COMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 1);
    QCOMPARE(m_frame->m_strDbName, QStringLiteral("shop.db"));
  } else {
    QTest::qWait(20);
    QCOMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 0);
  }
}

void TestFrame::recentFiles() {
  const QString folder = NewTestFolder(QStringLiteral("recent"));
  MessageBoxRecorder boxes;
  QStringList files;
  for (int i = 0; i < 10; ++i) {
    files << folder + QStringLiteral("/f%1 & co.db").arg(i);
    QFile f(files.last());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a database");
  }
  for (const QString& file : files) QVERIFY(m_frame->OpenDatabasePath(file));
  QVERIFY(m_frame->OpenDatabasePath(files.at(5)));  // again: moves to the front
  const QStringList expected{files[5], files[9], files[8], files[7],
                             files[6], files[4], files[3], files[2]};
  QCOMPARE(CMainFrame::RecentFiles(), expected);
  QMenu* menu = m_frame->RecentMenu();
  QCOMPARE(menu->actions().size(), CMainFrame::kMaxRecentFiles);
  QCOMPARE(menu->actions().first()->text(),
           QStringLiteral("&1 %1").arg(QString(files[5]).replace("&", "&&")));

  // A file that vanished is dropped from the list when chosen, with a message.
  QVERIFY(QFile::remove(files[9]));
  boxes.boxes.clear();
  menu->actions().at(1)->trigger();
  QTRY_COMPARE(boxes.boxes.size(), 1);
  QVERIFY(boxes.boxes.first().text.contains(QLatin1String("no longer exists")));
  QVERIFY(!CMainFrame::RecentFiles().contains(files[9]));
  QCOMPARE(menu->actions().size(), 7);
  // An existing one is opened (the shop database, chosen from the menu).
  QVERIFY(m_frame->OpenDatabasePath(m_shop));
  m_frame->TreeCtrl()->clear();
  m_frame->RecentMenu()->actions().first()->trigger();
  QTRY_COMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 1);
}

// A database in a folder whose names are not UTF-8 opens from a drop, from
// the recent files once the settings are read again from their file, and
// from a file dialog that hands back the names decoded lossily.
void TestFrame::rawBytePaths_data() {
  QTest::addColumn<QString>("way");
  QTest::newRow("drop") << "drop";
  QTest::newRow("recent files read again") << "recent";
  QTest::newRow("lossy name from the dialog") << "dialog";
}

void TestFrame::rawBytePaths() {
  QFETCH(QString, way);
  const QByteArray folder = NativePath(NewTestFolder(QStringLiteral("raw"))) + "/d\xe9p";
  const QByteArray file = folder + "/\xff\xfe.db";
  QFile shop(m_shop);
  QVERIFY(::mkdir(folder.constData(), 0700) == 0 && shop.open(QIODevice::ReadOnly));
  const QByteArray bytes = shop.readAll();
  std::FILE* out = std::fopen(file.constData(), "wb");
  QVERIFY(out != nullptr);
  QCOMPARE(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out), size_t(bytes.size()));
  std::fclose(out);
  const QString path = PathFromNative(file);
  MessageBoxRecorder boxes;
  if (way == QLatin1String("drop")) {
    QMimeData mime;
    mime.setUrls({QUrl::fromEncoded("file://" + file.toPercentEncoding("/"))});
    const QPoint at = m_frame->TreeCtrl()->mapTo(m_frame.get(), QPoint(10, 10));
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_frame.get(), &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_frame.get(), &drop);
  } else if (way == QLatin1String("recent")) {
    QVERIFY(m_frame->OpenDatabasePath(path));
    AppSettings().sync();
    // A settings file of another size is read again.
    QFile settings(AppSettings().fileName());
    QVERIFY(settings.open(QIODevice::Append) && settings.write("\n") == 1);
    settings.close();
    m_frame = std::make_unique<CMainFrame>();
    m_frame->show();
    QCOMPARE(CMainFrame::RecentFiles().value(0), path);
    m_frame->RecentMenu()->actions().first()->trigger();
  } else {
    // A refused name would leave the dialog open.
    QTimer::singleShot(3000, m_frame.get(), [] {
      if (auto* dialog = qobject_cast<CSQLiteOpenFile*>(QApplication::activeModalWidget()))
        dialog->reject();
    });
    OpenThrough(*m_frame, QFile::decodeName(file));
  }
  QTRY_COMPARE(m_frame->TreeCtrl()->topLevelItemCount(), 1);
  QCOMPARE(m_frame->Recovery().FilePath(), path);
  QCOMPARE(m_frame->m_strDbName, PathFromNative("\xff\xfe.db"));
  QCOMPARE(boxes.Texts(), QStringList());
}

// Tab, Shift+Tab, F6 and Shift+F6 move the focus between the tree and the
// right pane; the grid does not keep Tab for its cells.
void TestFrame::paneFocus() {
  QVERIFY(m_frame->OpenDatabasePath(m_shop));
  m_frame->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
  CTreeCtrlEx* tree = m_frame->TreeCtrl();
  m_frame->OnShowRecords(m_frame->m_hTablesItem->child(0));
  QWidget* grid = m_frame->ListCtrl();
  QVERIFY(grid->isVisible());
  tree->setFocus();
  QTRY_VERIFY(tree->hasFocus());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QTRY_VERIFY(grid->hasFocus());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QTRY_VERIFY(tree->hasFocus());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  QTRY_VERIFY(grid->hasFocus());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
  QTRY_VERIFY(tree->hasFocus());
  // The menu shows the key.
  QCOMPARE(m_frame->Action(CMainFrame::ID_NEXT_PANE)->shortcut(), QKeySequence(Qt::Key_F6));
}

void TestFrame::keyboardCommands_data() {
  QTest::addColumn<QKeySequence>("key");
  QTest::addColumn<QString>("outcome");
  QTest::newRow("Ctrl+S saves") << QKeySequence(Qt::CTRL | Qt::Key_S) << "No database is opened.";
  QTest::newRow("F1 opens help") << QKeySequence(Qt::Key_F1) << "help";
  QTest::newRow("Ctrl+F finds") << QKeySequence(Qt::CTRL | Qt::Key_F) << "find bar";
}

void TestFrame::keyboardCommands() {
  QFETCH(QKeySequence, key);
  QFETCH(QString, outcome);
  m_frame->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
  m_frame->TreeCtrl()->setFocus();
  MessageBoxRecorder boxes;
  QTest::keySequence(m_frame->TreeCtrl(), key);
  if (outcome == QLatin1String("help")) {
    // The manual opened, or the message that it is missing.
    QCOMPARE(m_opened.size() + boxes.boxes.size(), 1);
  } else if (outcome == QLatin1String("find bar")) {
    QVERIFY(m_frame->FindBar()->isVisible());
    QTRY_VERIFY(m_frame->FindEdit()->hasFocus());
  } else {
    QCOMPARE(boxes.Texts(), QStringList{outcome});
  }
}

// Esc during long work: a display, an Open or a search stops; a save goes on
// (it has its own Stop).
void TestFrame::escapeStopsWork_data() {
  QTest::addColumn<bool>("saving");
  QTest::newRow("display") << false;
  QTest::newRow("save") << true;
}

void TestFrame::escapeStopsWork() {
  QFETCH(bool, saving);
  m_frame->m_bSaving = saving;
  m_frame->m_bStopRequested = false;
  m_frame->TreeCtrl()->setFocus();
  QTimer::singleShot(30, m_frame.get(),
                     [this] { QTest::keyClick(m_frame->TreeCtrl(), Qt::Key_Escape); });
  bool escaped = false;
  QTimer::singleShot(60, m_frame.get(), [&] { escaped = true; });
  const bool stopped = LongWork(*m_frame, 3000, [&] { return escaped && saving; });
  m_frame->m_bSaving = false;
  QCOMPARE(stopped, !saving);
  QCOMPARE(m_frame->m_bStopRequested, !saving);
}

void TestFrame::escapeStopsOpen() {
  // A schema of many pages, so that the scan calls the progress callback.
  const QString path = NewTestFolder(QStringLiteral("esc")) + QStringLiteral("/wide.db");
  {
    DbBuilder db(path, DbOptions{512});
    db.Begin();
    for (int i = 0; i < 200; ++i)
      db.Exec(QStringLiteral("CREATE TABLE t%1 (a INTEGER, b TEXT)").arg(i));
    db.Commit();
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  auto* probe = new QTimer(m_frame.get());
  probe->setInterval(0);
  bool stopShown = false;
  connect(probe, &QTimer::timeout, this, [&] {
    if (!m_frame->EngineBusy()) return;
    probe->stop();
    stopShown = m_frame->StopButton()->isVisible();
    QTest::keyClick(m_frame->TreeCtrl(), Qt::Key_Escape);
  });
  probe->start();
  MessageBoxRecorder boxes;
  QVERIFY(m_frame->OpenDatabasePath(path));
  probe->stop();
  QVERIFY(stopShown);
  QVERIFY(!m_frame->StopButton()->isVisible());
  QCOMPARE(boxes.boxes.size(), 1);
  QVERIFY(boxes.boxes.first().text == QLatin1String(kOpenStoppedText) ||
          boxes.boxes.first().text == QLatin1String(kOpenStoppedEmptyText));
  QVERIFY(m_frame->TreeCtrl()->isEnabled());
  QVERIFY(m_frame->Recovery().TableNames().size() < 200);
}

// Fills the frame's grid with `rows` rows of "r<row>c<column>" under the
// captions "A", "B".
static CListCtrlEx* FillFrameGrid(CMainFrame& frame, int rows) {
  CListCtrlEx* grid = frame.RightPane()->Grid();
  grid->show();
  grid->AddGridColumn(0, QStringLiteral("A"));
  grid->AddGridColumn(1, QStringLiteral("B"));
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < 2; ++c) grid->AddGridCell(c, QStringLiteral("r%1c%2").arg(r).arg(c));
  grid->Redraw();
  return grid;
}

void TestFrame::findBar() {
  QVERIFY(!m_frame->FindInGrid(QStringLiteral("r1")));
  QCOMPARE(m_frame->FindStatus()->text(), QStringLiteral("Click a table in the tree first."));
  CListCtrlEx* grid = FillFrameGrid(*m_frame, 5);
  m_frame->Action(CMainFrame::ID_EDIT_FIND)->trigger();
  QVERIFY(m_frame->FindBar()->isVisible());
  QTRY_VERIFY(m_frame->FindEdit()->hasFocus());
  // Enter in the bar moves the current cell from match to match, wrapping.
  QTest::keyClicks(m_frame->FindEdit(), QStringLiteral("C1"));
  QStringList visited;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(m_frame->FindEdit(), Qt::Key_Return);
    visited << QStringLiteral("%1,%2")
                   .arg(grid->currentIndex().row())
                   .arg(grid->currentIndex().column());
  }
  QCOMPARE(visited, (QStringList{"0,1", "1,1", "2,1", "3,1", "4,1", "0,1"}));
  QCOMPARE(m_frame->FindStatus()->text(),
           QStringLiteral("Passed the end; continued from the top."));
  QVERIFY(grid->selectionModel()->isSelected(grid->currentIndex()));
  QVERIFY(!m_frame->FindInGrid(QStringLiteral("absent")));
  QCOMPARE(m_frame->FindStatus()->text(), QStringLiteral("\"absent\" was not found."));
  QCOMPARE(grid->currentIndex().row(), 0);
  // Not while other work runs.
  {
    CMainFrame::EngineCall call(*m_frame);
    QVERIFY(!m_frame->FindInGrid(QStringLiteral("r2")));
  }
  // Esc in the bar closes it.
  QTest::keyClick(m_frame->FindEdit(), Qt::Key_Escape);
  QVERIFY(!m_frame->FindBar()->isVisible());
}

void TestFrame::copySelection() {
  CListCtrlEx* grid = FillFrameGrid(*m_frame, 4);
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  grid->selectionModel()->select(
      QItemSelection(grid->model()->index(1, 0), grid->model()->index(2, 1)),
      QItemSelectionModel::ClearAndSelect);
  grid->setFocus();
  QTest::keySequence(grid, QKeySequence::Copy);
  QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("A\tB\nr1c0\tr1c1\nr2c0\tr2c1\n"));
  // The Edit menu's Copy does the same; nothing selected leaves the clipboard.
  grid->clearSelection();
  m_frame->Action(CMainFrame::ID_EDIT_COPY)->trigger();
  QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("A\tB\nr1c0\tr1c1\nr2c0\tr2c1\n"));
}

VELMORA_TEST_MAIN(TestFrame)
#include "tst_frame.moc"
