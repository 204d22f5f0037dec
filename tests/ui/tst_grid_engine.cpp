// The right pane and the Save command over the real engine and output: a
// damaged-file reader feeding the grid, a view's statement, the hand-over
// between two table loads, and saves that finish, stop or are refused.
#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "engine/session/SQLiteRecovery.h"
#include "output/SaveDispatch.h"
#include "platform/MessageBox.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSupport.h"
#include "ui/dialogs/SaveCommand.h"
#include "ui/dialogs/SaveSQLiteFile.h"
#include "ui/grid/RecordDisplay.h"
#include "ui/grid/RightView.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// The progress of these tests: counts steps, can run an action on the n-th
// step (as a click pumped by the window's progress would), and returns the
// stop flag.
struct Progress : IProgress {
  bool stop = false;
  int calls = 0;
  int actAt = -1;
  std::function<void()> action;
  bool Step(const WalkStep&) override {
    if (++calls == actAt && action) action();
    return stop;
  }
};

struct ControlRecorder : IControl {
  void SetVisible(bool v) override { visible = v; }
  bool visible = false;
};

// A database with two tables, a view, an index and a trigger, opened by the
// engine, and a tree as the Open command builds it.
struct Opened {
  QString folder = NewTestFolder(QStringLiteral("grid"));
  QString source = folder + QStringLiteral("/shop.db");
  CSQLiteRecovery engine;
  Progress progress;
  QTreeWidget tree;
  QTreeWidgetItem *root, *tables, *indexes, *views, *triggers;
  QTreeWidgetItem *people = nullptr, *numbers = nullptr, *view = nullptr;

  explicit Opened(int numberRows = 300) {
    {
      DbBuilder db(source);
      db.Exec(QStringLiteral(
          "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, note TEXT, score REAL);"
          "CREATE TABLE numbers(n INTEGER, sq INTEGER);"
          "CREATE VIEW rich AS\nSELECT name FROM people\nWHERE score > 1;"
          "CREATE INDEX people_name ON people(name);"
          "CREATE TRIGGER keep AFTER DELETE ON people BEGIN SELECT 1; END;"));
      db.Insert(QStringLiteral("people"),
                {1, QStringLiteral("Ann"), QStringLiteral("say \"hi\""), 2.5});
      db.Insert(QStringLiteral("people"),
                {2, QStringLiteral("Bob"), QString(2000, QLatin1Char('x')), QVariant()});
      db.Insert(QStringLiteral("people"),
                {3, QStringLiteral("Grüße \"Zoë\""), QStringLiteral("it's"), -0.5});
      db.Begin();
      for (int i = 0; i < numberRows; ++i) db.Insert(QStringLiteral("numbers"), {i, i * i});
      db.Commit();
      QVERIFY2(db.Close(), qPrintable(db.LastError()));
    }
    engine.ScanDatabase(source);
    engine.BuildWorkingDatabase();
    root = new QTreeWidgetItem(&tree, {QStringLiteral("SQLite Database Objects")});
    tables = new QTreeWidgetItem(root, {QStringLiteral("Tables")});
    indexes = new QTreeWidgetItem(root, {QStringLiteral("Indexes")});
    views = new QTreeWidgetItem(root, {QStringLiteral("Views")});
    triggers = new QTreeWidgetItem(root, {QStringLiteral("Triggers")});
    for (const QString& t : engine.TableNames()) {
      auto* item = new QTreeWidgetItem(tables, {t});
      item->setData(0, Qt::UserRole, t);
      if (t == QLatin1String("people")) people = item;
      if (t == QLatin1String("numbers")) numbers = item;
    }
    view = new QTreeWidgetItem(views, {QStringLiteral("rich")});
    new QTreeWidgetItem(indexes, {QStringLiteral("people_name")});
    new QTreeWidgetItem(triggers, {QStringLiteral("keep")});
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) (*it)->setCheckState(0, Qt::Unchecked);
  }
};

// A display wired to the real dispatch.
struct Pane {
  CRightView right;
  StatusTextRecorder status;
  ProgressBarRecorder bar;
  ControlRecorder stopButton;
  std::unique_ptr<CRecordDisplay> display;
  explicit Pane(Opened& o) {
    display = std::make_unique<CRecordDisplay>(o.progress.stop, &o.tree, &right, &status, &bar,
                                               &stopButton);
    display->SetDispatch([this, &o](const QString& name, ObjectKind kind) {
      DispatchObject(o.engine, o.progress, ObjectRef{kind, name},
                     DisplayPane{*right.Grid(), *right.StatementEdit(), status, bar, stopButton});
    });
  }
  QString Cell(int row, int column) const {
    return right.Grid()->model()->index(row, column).data().toString();
  }
};

QVariantList Rows(const QString& path, const QString& sql) {
  QVariantList out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(st); ++c)
          row << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)));
        out << row.join(QLatin1Char('|'));
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace

class TestGridEngine : public QObject {
  Q_OBJECT
 private slots:
  void tableCellsFromTheFile();
  void viewShowsStatement();
  void handOverBetweenRealLoads();
  void saveWritesTickedObjects();
  void stopDuringSave();
  void saveRefusesExistingFile();
};

void TestGridEngine::tableCellsFromTheFile() {
  Opened o;
  QVERIFY(o.people != nullptr);
  Pane p(o);
  p.display->OnShowRecords(o.people);
  CListCtrlEx* grid = p.right.Grid();
  QVERIFY(grid->isVisibleTo(&p.right));
  QVERIFY(!p.right.StatementEdit()->isVisibleTo(&p.right));
  QCOMPARE(grid->ColumnCount(), 4);
  QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("name"));
  QCOMPARE(grid->model()->rowCount(), 3);
  QCOMPARE(p.Cell(0, 1), QStringLiteral("Ann"));
  QCOMPARE(p.Cell(0, 2), QStringLiteral("say \"hi\""));  // quotes as they are
  QCOMPARE(p.Cell(1, 2), QString(1000, QLatin1Char('x')) + QStringLiteral("<more data>..."));
  QCOMPARE(p.Cell(2, 1), QStringLiteral("Grüße \"Zoë\""));
  QCOMPARE(p.Cell(2, 2), QStringLiteral("it's"));
  QCOMPARE(p.status.Last(), QStringLiteral("  Records : 3"));
  QVERIFY(o.progress.stop);  // set again once the display has ended
  QVERIFY(!p.display->IsShowingRecords());
}

void TestGridEngine::viewShowsStatement() {
  Opened o;
  Pane p(o);
  p.display->OnShowRecords(o.people);
  p.display->OnShowRecords(o.view);
  QVERIFY(!p.right.Grid()->isVisibleTo(&p.right));
  QVERIFY(p.right.StatementEdit()->isVisibleTo(&p.right));
  QCOMPARE(p.right.StatementEdit()->toPlainText(),
           QStringLiteral("CREATE VIEW rich AS\nSELECT name FROM people\nWHERE score > 1"));
  QCOMPARE(p.right.Grid()->ColumnCount(), 0);
}

void TestGridEngine::handOverBetweenRealLoads() {
  Opened o(3000);
  Pane p(o);
  // While "numbers" loads, a click on "people" arrives from the event pump.
  o.progress.actAt = 400;
  o.progress.action = [&] { p.display->OnShowRecords(o.people); };
  p.display->OnShowRecords(o.numbers);
  QCOMPARE(p.display->ShownItem(), o.people);
  QCOMPARE(p.right.Grid()->ColumnCount(), 4);
  QCOMPARE(p.right.Grid()->ItemCount(), 3);
  QCOMPARE(p.Cell(0, 1), QStringLiteral("Ann"));
  QCOMPARE(p.status.Last(), QStringLiteral("  Records : 3"));
  // The load of "numbers" had shown its partial count before it stopped.
  bool partial = false;
  for (const QString& t : p.status.texts)
    partial = partial || (t.startsWith(QStringLiteral("  Records : ")) &&
                          t != QStringLiteral("  Records : 3"));
  QVERIFY(partial);
}

void TestGridEngine::saveWritesTickedObjects() {
  Opened o;
  o.people->setCheckState(0, Qt::Checked);
  o.view->setCheckState(0, Qt::Checked);
  o.indexes->child(0)->setCheckState(0, Qt::Checked);
  const QString dest = NewTestFolder(QStringLiteral("dest"));
  bool saving = false;
  QWidget dialog;
  SaveContext context;
  context.stopRequested = &o.progress.stop;
  context.saving = &saving;
  context.tree = &o.tree;
  context.tables = o.tables;
  context.views = o.views;
  context.triggers = o.triggers;
  context.indexes = o.indexes;
  context.savingDialog = &dialog;
  context.dbName = QStringLiteral("shop.db");
  RecoveredDatabase target;
  SaveOperations ops;
  ops.hasDatabase = [&] { return !o.engine.TableNames().isEmpty(); };
  ops.askFolder = [&](const QString&) { return std::optional<QString>(dest); };
  ops.open = [&](const QString& folder, const QString& name, QString* path, QString* error) {
    if (!target.Open(o.engine, folder, name, error)) return false;
    *path = target.Path();
    return true;
  };
  ops.dispatch = [&](const ObjectRef& object) {
    return DispatchObject(o.engine, o.progress, object, target);
  };
  ops.close = [&] { target.Close(); };
  const auto report = RunSaveCommand(context, ops);
  QVERIFY(report.has_value());
  const QString text = FormatSaveReport(*report);
  QVERIFY2(text.startsWith(QStringLiteral("saving done successfully...")), qPrintable(text));
  QVERIFY(text.contains(QStringLiteral("Table \"people\": 3 records")));
  const QString out = dest + QStringLiteral("/shop.db");
  QCOMPARE(report->filePath, out);
  QCOMPARE(Rows(out, QStringLiteral("SELECT name, note FROM people ORDER BY id")).size(), 3);
  QCOMPARE(Rows(out, QStringLiteral("SELECT note FROM people WHERE id = 2")).value(0).toString(),
           QString(2000, QLatin1Char('x')));  // the save keeps the value whole
  QCOMPARE(Rows(out, QStringLiteral("SELECT name FROM sqlite_schema ORDER BY name")),
           (QVariantList{QStringLiteral("people"), QStringLiteral("people_name"),
                         QStringLiteral("rich")}));

  // The same objects again into the same folder: refused, nothing touched.
  QStringList boxes;
  MessageBoxHook previous = SetMessageBoxHook([&](const QString& t, MsgButtons, MsgIcon) {
    boxes << t;
    return MsgResult::Ok;
  });
  QVERIFY(!RunSaveCommand(context, ops).has_value());
  SetMessageBoxHook(previous);
  QCOMPARE(boxes.size(), 1);
  QVERIFY2(boxes[0].contains(QStringLiteral("already exists")), qPrintable(boxes[0]));
  QVERIFY(o.tree.isEnabled());
  QVERIFY(!saving);
  QCOMPARE(Rows(out, QStringLiteral("SELECT count(*) FROM people")).value(0).toString(),
           QStringLiteral("3"));
}

void TestGridEngine::stopDuringSave() {
  Opened o(5000);
  for (int i = 0; i < o.tables->childCount(); ++i)
    o.tables->child(i)->setCheckState(0, Qt::Checked);
  o.view->setCheckState(0, Qt::Checked);
  o.triggers->child(0)->setCheckState(0, Qt::Checked);
  const QString dest = NewTestFolder(QStringLiteral("stopdest"));
  bool saving = false;
  SaveContext context;
  context.stopRequested = &o.progress.stop;
  context.saving = &saving;
  context.tree = &o.tree;
  context.tables = o.tables;
  context.views = o.views;
  context.triggers = o.triggers;
  context.indexes = o.indexes;
  context.dbName = QStringLiteral("shop.db");
  RecoveredDatabase target;
  SaveOperations ops;
  ops.hasDatabase = [] { return true; };
  ops.askFolder = [&](const QString&) { return std::optional<QString>(dest); };
  ops.open = [&](const QString& folder, const QString& name, QString* path, QString* error) {
    *path = folder + QLatin1Char('/') + name;
    return target.Open(o.engine, folder, name, error);
  };
  ops.dispatch = [&](const ObjectRef& object) {
    return DispatchObject(o.engine, o.progress, object, target);
  };
  ops.close = [&] { target.Close(); };
  // The Stop is confirmed in the middle of the first table.
  o.progress.actAt = 200;
  o.progress.action = [&] { o.progress.stop = true; };
  const auto report = RunSaveCommand(context, ops);
  QVERIFY(report.has_value());
  QVERIFY(report->stopped);
  QCOMPARE(int(report->entries.size()), o.tables->childCount() + 2);
  const QString text = FormatSaveReport(*report);
  QVERIFY2(!text.contains(QStringLiteral("successfully")), qPrintable(text));
  QVERIFY(text.contains(QStringLiteral("The save was stopped")));
  QVERIFY(text.contains(QStringLiteral("View \"rich\"")));
  QVERIFY(text.contains(QStringLiteral("Trigger \"keep\"")));
  QVERIFY(text.contains(dest));
  for (const SaveReportEntry& e : report->entries)
    QVERIFY(!FullySaved(e.outcome) || e.kind == ObjectKind::Table);
  QVERIFY(!saving);
  QVERIFY(o.tree.isEnabled());
  QVERIFY(target.Db() == nullptr);
}

void TestGridEngine::saveRefusesExistingFile() {
  // The destination dialog refuses the damaged file's own folder.
  Opened o;
  QStringList boxes;
  MessageBoxHook previous = SetMessageBoxHook([&](const QString& t, MsgButtons, MsgIcon) {
    boxes << t;
    return MsgResult::Ok;
  });
  CSaveSQLiteFile dlg(nullptr, QStringLiteral("shop.db"));
  dlg.show();
  dlg.PathEdit()->setText(o.folder);
  dlg.OkButton()->click();
  SetMessageBoxHook(previous);
  QVERIFY(dlg.isVisible());
  QCOMPARE(boxes.size(), 1);
  QVERIFY(boxes[0].contains(QStringLiteral("shop.db")));
  QVERIFY(boxes[0].contains(QDir::toNativeSeparators(o.source)));
}

VELMORA_TEST_MAIN(TestGridEngine)
#include "tst_grid_engine.moc"
