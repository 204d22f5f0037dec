// velmora-tour OUTDIR: drives the real main window headless through its
// first steps and writes a picture of the window after each step.
//
// Steps are a list of named functions; each one acts on the window and the
// picture is taken when it returns. Dialogs and menus open at that moment are
// drawn over the window where they stand.
#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest/QtTest>
#include <cstdio>
#include <functional>
#include <vector>

#include "tests/support/TestSupport.h"
#include "ui/dialogs/AboutDlg.h"
#include "ui/dialogs/ErrorDlg.h"
#include "ui/dialogs/SaveSQLiteFile.h"
#include "ui/frame/LeftView.h"
#include "ui/frame/MainFrame.h"
#include "ui/frame/SQLiteOpenFile.h"
#include "ui/grid/CustomEvents.h"
#include "ui/grid/RightView.h"
#include "ui/grid/ValueViewer.h"

using namespace velmora;

namespace {

struct Tour {
  CMainFrame* frame = nullptr;
  QString outDir;
  QString sample;      // the damaged sample database
  QString saveFolder;  // where the tour's Save writes the recovered database
  int shot = 0;
};

QTreeWidgetItem* FindItem(Tour& tour, const QString& text) {
  const auto found = tour.frame->TreeCtrl()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return found.isEmpty() ? nullptr : found.first();
}

void ClickItem(Tour& tour, QTreeWidgetItem* item, bool onBox) {
  CTreeCtrlEx* tree = tour.frame->TreeCtrl();
  if (item == nullptr) return;
  tree->scrollToItem(item);
  const QRect r = tree->visualItemRect(item);
  const QPoint at =
      onBox ? tree->CheckBoxRect(item).center() : QPoint(r.left() + r.width() / 2, r.center().y());
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
}

constexpr int kCaptionHeight = 26;

// A plain caption bar, as a window manager would draw one (the offscreen
// platform draws none).
void DrawCaption(QPainter& painter, const QRect& bar, const QString& title) {
  QLinearGradient g(bar.topLeft(), bar.bottomLeft());
  g.setColorAt(0, QColor(224, 234, 248));
  g.setColorAt(1, QColor(196, 214, 238));
  painter.fillRect(bar, g);
  painter.setPen(QColor(30, 50, 90));
  QFont f = QApplication::font();
  f.setBold(true);
  painter.setFont(f);
  painter.drawText(bar.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
  painter.drawText(bar.adjusted(10, 0, -12, 0), Qt::AlignVCenter | Qt::AlignRight,
                   QStringLiteral("\u2715"));
}

// The window with its caption, and every visible dialog (with its caption)
// and popup drawn over it where it stands.
QImage Picture(Tour& tour) {
  QApplication::processEvents();
  const QPixmap window = tour.frame->grab();
  QImage image(window.width(), window.height() + kCaptionHeight,
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  DrawCaption(painter, QRect(0, 0, window.width(), kCaptionHeight), tour.frame->windowTitle());
  painter.drawPixmap(0, kCaptionHeight, window);
  const QPoint origin = tour.frame->mapToGlobal(QPoint(0, 0)) - QPoint(0, kCaptionHeight);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == tour.frame || !w->isVisible()) continue;
    if (!w->isWindow() || w->windowType() == Qt::ToolTip) continue;
    QPoint at = w->mapToGlobal(QPoint(0, 0)) - origin;
    const QPixmap pm = w->grab();
    const bool popup = w->windowType() == Qt::Popup;
    if (!popup) {
      DrawCaption(painter, QRect(at.x(), at.y() - kCaptionHeight, pm.width(), kCaptionHeight),
                  w->windowTitle());
    }
    painter.drawPixmap(at, pm);
    painter.setPen(QColor(90, 110, 140));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(at - QPoint(0, popup ? 0 : kCaptionHeight),
                           QSize(pm.width(), pm.height() + (popup ? 0 : kCaptionHeight)))
                         .adjusted(-1, -1, 0, 0));
  }
  return image;
}

void Snap(Tour& tour, const char* name) {
  const QString file = QDir(tour.outDir)
                           .filePath(QStringLiteral("%1-%2.png")
                                         .arg(++tour.shot, 2, 10, QLatin1Char('0'))
                                         .arg(QString::fromLatin1(name)));
  if (!Picture(tour).save(file))
    std::fprintf(stderr, "velmora-tour: cannot write %s\n", qPrintable(file));
  else
    std::printf("%s\n", qPrintable(file));
}

// Places a modal dialog in the middle of the window.
void CentreOver(QWidget* dialog, QWidget* frame) {
  const QPoint centre = frame->mapToGlobal(frame->rect().center());
  dialog->move(centre - QPoint(dialog->width() / 2, dialog->height() / 2));
}

void CloseMenus() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* menu = qobject_cast<QMenu*>(w)) menu->hide();
}

CSaveSQLiteFile* DestinationDialog(Tour& tour) {
  auto* dialog = qobject_cast<CSaveSQLiteFile*>(QApplication::activeModalWidget());
  if (dialog != nullptr) CentreOver(dialog, tour.frame);
  return dialog;
}

// Takes the picture "saving" once, at the first event pump after the saving
// window has been shown (the save is then running).
void WatchSavingWindow(Tour& tour) {
  QWidget* saving = tour.frame->m_pSavingDlg;
  if (saving == nullptr) return;
  struct Watch : QObject {
    Tour* tour;
    bool fired = false;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Show && !fired) {
        fired = true;
        QTimer::singleShot(0, this, [this] {
          Snap(*tour, "saving");
          deleteLater();
        });
      }
      return false;
    }
  };
  auto* watch = new Watch;
  watch->tour = &tour;
  watch->setParent(saving);
  saving->installEventFilter(watch);
}

CSQLiteOpenFile* SelectionDialog() {
  return qobject_cast<CSQLiteOpenFile*>(QApplication::activeModalWidget());
}

// One step of the tour: what it does, when its picture may be taken, and
// the picture's name. Steps run from a timer, so that they also run inside
// the modal loops of the dialogs they open; a step never waits itself.
struct Step {
  const char* name;
  std::function<void(Tour&)> run;
  std::function<bool(Tour&)> done;  // empty: at once
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  velmora::test::InitTestEnvironment();
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-tour OUTDIR\n");
    return 2;
  }
  Tour tour;
  tour.outDir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(tour.outDir);

  // The sample: the shop database with one of its table pages destroyed.
  tour.sample =
      velmora::test::NewTestFolder(QStringLiteral("tour")) + QStringLiteral("/shop-damaged.db");
  const QString made = velmora::test::MakeShopDatabase(tour.sample, velmora::test::DbOptions{1024});
  if (!made.isEmpty()) {
    std::fprintf(stderr, "velmora-tour: %s\n", qPrintable(made));
    return 1;
  }
  {
    // Some orders deleted by the application: their rows stay in the file's
    // free space and come back under Deleted Records.
    sqlite3* db = nullptr;
    if (sqlite3_open(tour.sample.toUtf8().constData(), &db) == SQLITE_OK)
      sqlite3_exec(db, "PRAGMA secure_delete=OFF; DELETE FROM orders WHERE id % 7 = 3", nullptr,
                   nullptr, nullptr);
    sqlite3_close(db);
  }
  {
    const std::int64_t root =
        velmora::test::PageProbe::RootPage(tour.sample, QStringLiteral("customers"));
    const velmora::test::PageProbe pages(tour.sample);
    const auto tree = pages.Tree(root);
    if (!tree.leaves.isEmpty()) velmora::test::GarbagePage(tour.sample, tree.leaves.last(), 2024);
  }
  tour.saveFolder = velmora::test::NewTestFolder(QStringLiteral("tour-save"));
  // Message boxes are answered at once and written to standard error.
  velmora::test::MessageBoxRecorder boxes(MsgResult::No);

  CMainFrame frame;
  tour.frame = &frame;

  const std::vector<Step> steps = {
      {"startup",
       [](Tour& t) {
         t.frame->show();
         // Start-up runs Open at once: the selection dialog comes up.
         QTimer::singleShot(0, t.frame, [&t] { SendCustom(t.frame, WMU_OPEN_DATABASE); });
       },
       [](Tour& t) {
         CSQLiteOpenFile* dialog = SelectionDialog();
         if (dialog != nullptr) CentreOver(dialog, t.frame);
         return dialog != nullptr;
       }},
      {"selection-browsed",
       [](Tour& t) {
         CSQLiteOpenFile* dialog = SelectionDialog();
         if (dialog == nullptr) return;
         const QString sample = t.sample;
         const OpenFileChooser previous = SetOpenFileChooser([sample](QWidget*) { return sample; });
         dialog->BrowseButton()->click();
         SetOpenFileChooser(previous);
       },
       {}},
      {"opened",
       [](Tour&) {
         if (CSQLiteOpenFile* dialog = SelectionDialog()) dialog->RecoverButton()->click();
       },
       [](Tour& t) {
         return SelectionDialog() == nullptr && !t.frame->EngineBusy() &&
                t.frame->TreeCtrl()->topLevelItemCount() > 0;
       }},
      {"tree-expanded", [](Tour& t) { t.frame->TreeCtrl()->expandAll(); }, {}},
      {"summary",
       [](Tour& t) {
         // The root item: what came back, before anything is saved; the
         // damaged table carries a warning mark.
         ClickItem(t, t.frame->m_hRootItem, false);
       },
       [](Tour& t) { return !t.frame->EngineBusy() && t.frame->Summary() != nullptr; }},
      {"page-map",
       [](Tour& t) {
         // The page map under the summary: a damaged page clicked (else the
         // first page of a table), so that the line under the map names it.
         CPageMapCanvas* canvas = t.frame->RightPane()->PageMap()->Canvas();
         const PagePicture* map = t.frame->Summary() ? &t.frame->Summary()->pageMap : nullptr;
         std::int64_t page = 0;
         for (std::int64_t p = 1; map != nullptr && p <= std::int64_t(map->pages.size()); ++p) {
           if (map->Use(p) == PageUse::Unreadable || map->Use(p) == PageUse::PutBack) {
             page = p;
             break;
           }
           if (page == 0 && map->Use(p) == PageUse::Table) page = p;
         }
         const QRect square = canvas->SquareOf(page);
         if (!square.isEmpty())
           QTest::mouseClick(canvas->viewport(), Qt::LeftButton, {}, square.center());
       },
       {}},
      {"tables-ticked", [](Tour& t) { ClickItem(t, t.frame->m_hTablesItem, true); }, {}},
      {"table-clicked", [](Tour& t) { ClickItem(t, FindItem(t, QStringLiteral("orders")), false); },
       [](Tour& t) { return !t.frame->EngineBusy(); }},
      {"find-bar",
       [](Tour& t) {
         t.frame->Action(CMainFrame::ID_EDIT_FIND)->trigger();
         QTest::keyClicks(t.frame->FindEdit(), QStringLiteral("2"));
         QTest::keyClick(t.frame->FindEdit(), Qt::Key_Return);
       },
       [](Tour& t) { return !t.frame->EngineBusy(); }},
      {"cells-copied",
       [](Tour& t) {
         // A block of cells selected and copied with Ctrl+C.
         CListCtrlEx* grid = t.frame->RightPane()->Grid();
         t.frame->FindBar()->hide();
         grid->selectionModel()->select(
             QItemSelection(grid->model()->index(0, 0), grid->model()->index(2, 1)),
             QItemSelectionModel::ClearAndSelect);
         grid->setFocus();
         QTest::keySequence(grid, QKeySequence::Copy);
       },
       [](Tour& t) { return !t.frame->EngineBusy(); }},
      {"value-viewer",
       [](Tour& t) {
         // A double-click on a cell opens its whole value.
         CListCtrlEx* grid = t.frame->RightPane()->Grid();
         grid->clearSelection();
         // The last column (the order's note) of the first row that has one.
         const int column = grid->model()->columnCount() - 1;
         QModelIndex cell = grid->model()->index(0, column);
         for (int row = 0; row < grid->model()->rowCount(); ++row) {
           const QModelIndex at = grid->model()->index(row, column);
           if (at.data().toString() != QLatin1String("NULL")) {
             cell = at;
             break;
           }
         }
         QTimer::singleShot(0, t.frame, [&t, cell] { t.frame->OnViewValue(cell); });
       },
       [](Tour& t) {
         auto* viewer = qobject_cast<CValueViewerDlg*>(QApplication::activeModalWidget());
         if (viewer != nullptr) CentreOver(viewer, t.frame);
         return viewer != nullptr;
       }},
      {"file-menu",
       [](Tour& t) {
         if (auto* viewer = qobject_cast<CValueViewerDlg*>(QApplication::activeModalWidget()))
           viewer->reject();
         QMenuBar* bar = t.frame->menuBar();
         QAction* fileAction = bar->actions().first();
         fileAction->menu()->popup(bar->mapToGlobal(bar->actionGeometry(fileAction).bottomLeft()));
         // File > Export Table as CSV... writes the clicked table.
         fileAction->menu()->setActiveAction(t.frame->Action(CMainFrame::ID_FILE_EXPORT_CSV));
       },
       {}},
      {"help-menu",
       [](Tour& t) {
         QMenuBar* bar = t.frame->menuBar();
         bar->actions().first()->menu()->hide();
         QAction* helpAction = bar->actions().last();
         helpAction->menu()->popup(bar->mapToGlobal(bar->actionGeometry(helpAction).bottomLeft()));
       },
       {}},
      {"view-clicked",
       [](Tour& t) {
         CloseMenus();
         ClickItem(t, FindItem(t, QStringLiteral("order_totals")), false);
       },
       [](Tour& t) { return !t.frame->EngineBusy(); }},
      {"objects-ticked",
       [](Tour& t) {
         // A view and a trigger besides the tables; the click on the box of
         // the unselected trigger also shows its statement.
         ClickItem(t, FindItem(t, QStringLiteral("order_totals")), true);
         ClickItem(t, FindItem(t, QStringLiteral("orders_stock")), true);
       },
       [](Tour& t) { return !t.frame->EngineBusy(); }},
      {"save-destination",
       [](Tour& t) {
         // Save runs its dialogs modally: start it from the event loop.
         QTimer::singleShot(0, t.frame,
                            [&t] { t.frame->Action(CMainFrame::ID_FILE_SAVE_DB)->trigger(); });
       },
       [](Tour& t) { return DestinationDialog(t) != nullptr; }},
      {"destination-browsed",
       [](Tour& t) {
         CSaveSQLiteFile* dialog = DestinationDialog(t);
         if (dialog == nullptr) return;
         const QString folder = t.saveFolder;
         const FolderPicker previous = SetFolderPicker(
             [folder](QWidget*, const QString&) { return std::optional<QString>(folder); });
         dialog->BrowseButton()->click();
         SetFolderPicker(previous);
       },
       {}},
      {"completion-report",
       [](Tour& t) {
         CSaveSQLiteFile* dialog = DestinationDialog(t);
         if (dialog == nullptr) return;
         // The saving window is pictured while the save runs: at the first
         // event pump after it is shown.
         WatchSavingWindow(t);
         dialog->OkButton()->click();
       },
       [](Tour& t) {
         auto* report = qobject_cast<CErrorDlg*>(QApplication::activeModalWidget());
         if (report != nullptr) CentreOver(report, t.frame);
         return report != nullptr;
       }},
      {"about",
       [](Tour& t) {
         if (auto* report = qobject_cast<CErrorDlg*>(QApplication::activeModalWidget()))
           report->accept();
         QTimer::singleShot(0, t.frame,
                            [&t] { t.frame->Action(CMainFrame::ID_APP_ABOUT)->trigger(); });
       },
       [](Tour& t) {
         auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
         if (about != nullptr) CentreOver(about, t.frame);
         return about != nullptr;
       }},
      {"about-closed",
       [](Tour&) {
         if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()))
           about->accept();
       },
       [](Tour&) { return QApplication::activeModalWidget() == nullptr; }},
      {"file-dropped",
       [](Tour& t) {
         // The sample dropped on the window from a file manager opens it
         // again, as naming it on the command line does.
         t.frame->TreeCtrl()->clear();
         auto* mime = new QMimeData;
         mime->setUrls({QUrl::fromLocalFile(t.sample)});
         const QPoint at = t.frame->TreeCtrl()->mapTo(t.frame, QPoint(20, 20));
         QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(t.frame, &enter);
         QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(t.frame, &drop);
         delete mime;
       },
       [](Tour& t) {
         return !t.frame->EngineBusy() && t.frame->TreeCtrl()->topLevelItemCount() > 0;
       }},
      {"recent-files",
       [](Tour& t) {
         QMenuBar* bar = t.frame->menuBar();
         QAction* fileAction = bar->actions().first();
         fileAction->menu()->popup(bar->mapToGlobal(bar->actionGeometry(fileAction).bottomLeft()));
         QMenu* recent = t.frame->RecentMenu();
         recent->popup(fileAction->menu()->geometry().topRight() +
                       QPoint(0, fileAction->menu()->actionGeometry(recent->menuAction()).top()));
       },
       {}},
      {"deleted-records",
       [](Tour& t) {
         // The deleted orders, apart from the live ones: where each was
         // found and whether it came back whole.
         CloseMenus();
         if (t.frame->m_hDeletedItem == nullptr) return;
         t.frame->m_hDeletedItem->setExpanded(true);
         if (t.frame->m_hDeletedItem->childCount() > 0)
           ClickItem(t, t.frame->m_hDeletedItem->child(0), false);
       },
       [](Tour& t) { return !t.frame->EngineBusy(); }},
  };

  std::size_t next = 0;
  bool started = false;
  int waited = 0;
  int status = 0;
  QTimer driver;
  driver.setInterval(40);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    if (next >= steps.size()) {
      driver.stop();
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* menu = qobject_cast<QMenu*>(w)) menu->hide();
      QCoreApplication::exit(status);
      return;
    }
    const Step& step = steps[next];
    if (!started) {
      started = true;
      waited = 0;
      step.run(tour);
      return;  // the picture is taken on a later tick, once things have settled
    }
    if (step.done && !step.done(tour)) {
      if (++waited < 500) return;  // 20 s
      std::fprintf(stderr, "velmora-tour: step %s did not finish\n", step.name);
      status = 1;
    }
    Snap(tour, step.name);
    ++next;
    started = false;
  });
  driver.start();
  const int result = QApplication::exec();
  for (const auto& box : boxes.boxes)
    std::fprintf(stderr, "message box: %s\n", qPrintable(box.text));
  return result;
}
