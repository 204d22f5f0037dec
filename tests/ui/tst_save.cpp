// The Save command: what is saved and in which order, its refusals, a failed
// open, and a stop in the middle.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>

#include "platform/MessageBox.h"
#include "ui/dialogs/SaveCommand.h"
#include "ui/dialogs/SavingProcessDlg.h"

using namespace velmora;

namespace {

struct Fixture {
  bool stop = false, saving = false;
  QTreeWidget tree;
  QWidget dialog;
  QTreeWidgetItem *root, *tables, *indexes, *views, *triggers;
  SaveContext context;
  SaveOperations ops;
  QStringList boxes;
  MessageBoxHook previousHook;
  struct Call {
    QString name;
    int kind;
    bool treeEnabled, saving, dialogVisible;
  };
  QList<Call> calls;
  QStringList opened;
  int closes = 0;
  QList<SaveReport> reports;
  QList<SaveProgress> progress;
  bool openSucceeds = true;
  bool hasDb = true;
  std::optional<QString> folder = QStringLiteral("/dest");
  std::function<ObjectOutcome(const QString&, int)> body;

  Fixture() {
    root = new QTreeWidgetItem(&tree, {QStringLiteral("SQLite Database Objects")});
    tables = new QTreeWidgetItem(root, {QStringLiteral("Tables")});
    indexes = new QTreeWidgetItem(root, {QStringLiteral("Indexes")});
    views = new QTreeWidgetItem(root, {QStringLiteral("Views")});
    triggers = new QTreeWidgetItem(root, {QStringLiteral("Triggers")});
    for (auto* c : {root, tables, indexes, views, triggers}) c->setCheckState(0, Qt::Unchecked);
    context.stopRequested = &stop;
    context.saving = &saving;
    context.tree = &tree;
    context.tables = tables;
    context.views = views;
    context.triggers = triggers;
    context.indexes = indexes;
    context.savingDialog = &dialog;
    context.dbName = QStringLiteral("shop.db");
    context.progress = [this](const SaveProgress& p) { progress << p; };
    ops.hasDatabase = [this] { return hasDb; };
    ops.askFolder = [this](const QString& name) {
      opened << QStringLiteral("ask:") + name;
      return folder;
    };
    ops.open = [this](const QString& f, const QString& name, QString* path, QString* error) {
      opened << f + QLatin1Char('/') + name;
      if (!openSucceeds) {
        *error = QStringLiteral("cannot create /dest/shop.db: permission denied");
        return false;
      }
      *path = f + QLatin1Char('/') + name;
      return true;
    };
    ops.dispatch = [this](const ObjectRef& object) {
      const QString& name = object.name;
      const int kind = int(object.kind);
      calls << Call{name, kind, tree.isEnabled(), saving, dialog.isVisible()};
      if (body) return body(name, kind);
      ObjectOutcome o;
      o.written = true;
      o.records = kind == int(ObjectKind::Table) ? 3 : 0;
      return o;
    };
    ops.close = [this] { ++closes; };
    ops.report = [this](const SaveReport& r) { reports << r; };
    previousHook = SetMessageBoxHook([this](const QString& text, MsgButtons, MsgIcon) {
      boxes << text;
      return MsgResult::Ok;
    });
  }
  ~Fixture() { SetMessageBoxHook(previousHook); }

  QTreeWidgetItem* Add(QTreeWidgetItem* category, const QString& text, bool ticked,
                       const QString& real = {}) {
    auto* item = new QTreeWidgetItem(category, {text});
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    if (!real.isEmpty()) item->setData(0, Qt::UserRole, real);
    return item;
  }
  QStringList Order() const {
    QStringList out;
    for (const Call& c : calls) out << QStringLiteral("%1:%2").arg(c.kind).arg(c.name);
    return out;
  }
};

}  // namespace

class TestSave : public QObject {
  Q_OBJECT
 private slots:
  void order_data();
  void order();
  void savingWindowShowsProgress();
  void refusals_data();
  void refusals();
  void cancelledDestination();
  void openFails();
  void stopDuringSecondOfFiveTables();
  void stopAfterTheLastObject();
  void failedObjectsReported();
};

void TestSave::order_data() {
  QTest::addColumn<QStringList>("tables");  // "name" ticked, "-name" not ticked
  QTest::addColumn<QStringList>("views");
  QTest::addColumn<QStringList>("triggers");
  QTest::addColumn<QStringList>("indexes");
  QTest::addColumn<QStringList>("expected");  // kind:name in dispatch order
  QTest::newRow("all kinds, tables first then views, triggers, indexes")
      << QStringList{"t1", "t2"} << QStringList{"v1"} << QStringList{"tr1"}
      << QStringList{"i1", "i2"} << QStringList{"8:t1", "8:t2", "9:v1", "11:tr1", "10:i1", "10:i2"};
  QTest::newRow("tree order within a kind, unticked left out")
      << QStringList{"b", "-c", "a"} << QStringList{} << QStringList{} << QStringList{"-x"}
      << QStringList{"8:b", "8:a"};
  QTest::newRow("a view and a trigger only")
      << QStringList{"-t"} << QStringList{"v"} << QStringList{"tr"} << QStringList{}
      << QStringList{"9:v", "11:tr"};
  QTest::newRow("same name in two kinds")
      << QStringList{} << QStringList{} << QStringList{"same"} << QStringList{"same"}
      << QStringList{"11:same", "10:same"};
}

void TestSave::order() {
  QFETCH(QStringList, tables);
  QFETCH(QStringList, views);
  QFETCH(QStringList, triggers);
  QFETCH(QStringList, indexes);
  QFETCH(QStringList, expected);
  Fixture f;
  auto add = [&](QTreeWidgetItem* category, const QStringList& names) {
    for (const QString& n : names) {
      const bool ticked = !n.startsWith(QLatin1Char('-'));
      f.Add(category, ticked ? n : n.mid(1), ticked);
    }
  };
  add(f.tables, tables);
  add(f.views, views);
  add(f.triggers, triggers);
  add(f.indexes, indexes);
  const auto report = RunSaveCommand(f.context, f.ops);
  QVERIFY(report.has_value());
  QCOMPARE(f.Order(), expected);
  QCOMPARE(f.opened, (QStringList{"ask:shop.db", "/dest/shop.db"}));
  for (const auto& c : f.calls) {
    QVERIFY(!c.treeEnabled);  // ticks cannot change during the save
    QVERIFY(c.saving);
    QVERIFY(c.dialogVisible);
  }
  // The saving window is told of each object before it is written, with the
  // objects done and the records the finished tables wrote, then of the end.
  QCOMPARE(f.progress.size(), expected.size() + 1);
  std::int64_t records = 0;
  for (int i = 0; i <= expected.size(); ++i) {
    const SaveProgress& p = f.progress.at(i);
    QCOMPARE(p.done, i);
    QCOMPARE(p.total, int(expected.size()));
    QCOMPARE(p.recordsBefore, records);
    if (i == expected.size()) {
      QVERIFY(p.name.isEmpty());
      break;
    }
    QCOMPARE(QStringLiteral("%1:%2").arg(p.kind).arg(p.name), expected.at(i));
    if (p.kind == int(ObjectKind::Table)) records += 3;
  }
  QCOMPARE(f.closes, 1);
  QVERIFY(f.tree.isEnabled());
  QVERIFY(!f.saving);
  QVERIFY(!f.dialog.isVisible());
  QCOMPARE(f.reports.size(), 1);
  QVERIFY(!f.reports[0].stopped);
  QCOMPARE(f.reports[0].filePath, QStringLiteral("/dest/shop.db"));
  QVERIFY(FormatSaveReport(f.reports[0]).startsWith(QStringLiteral("saving done successfully...")));
  QVERIFY(f.boxes.isEmpty());
}

void TestSave::savingWindowShowsProgress() {
  CSavingProcessDlg dialog(nullptr, [] { return true; });
  dialog.show();
  dialog.SetProgress(2, 5, QStringLiteral("<b>orders</b>"), int(ObjectKind::Table), 1234);
  QCOMPARE(dialog.ObjectLabel()->text(), QStringLiteral("Saving table \"<b>orders</b>\""));
  QCOMPARE(dialog.ObjectLabel()->textFormat(), Qt::PlainText);
  QCOMPARE(dialog.CountLabel()->text(),
           QStringLiteral("2 of 5 objects done, 1234 records written"));
  QCOMPARE(dialog.Bar()->maximum(), 5);
  QCOMPARE(dialog.Bar()->value(), 2);
  dialog.SetProgress(5, 5, QString(), 0, 2000);
  QCOMPARE(dialog.Bar()->value(), 5);
  QCOMPARE(dialog.CountLabel()->text(),
           QStringLiteral("5 of 5 objects done, 2000 records written"));
}

void TestSave::refusals_data() {
  QTest::addColumn<bool>("hasDb");
  QTest::addColumn<bool>("tickChild");
  QTest::addColumn<QString>("message");
  QTest::newRow("no database, whatever is ticked") << false << true << "No database is opened.";
  QTest::newRow("ticked category, children unticked")
      << true << false << "Please Choose object(s) to save.";
}

void TestSave::refusals() {
  QFETCH(bool, hasDb);
  QFETCH(bool, tickChild);
  QFETCH(QString, message);
  Fixture f;
  f.hasDb = hasDb;
  f.tables->setCheckState(0, Qt::Checked);  // the category's own box is not consulted
  f.Add(f.tables, QStringLiteral("t"), tickChild);
  f.stop = true;
  QVERIFY(!RunSaveCommand(f.context, f.ops).has_value());
  QCOMPARE(f.boxes, QStringList{message});
  QVERIFY(f.opened.isEmpty());
  QVERIFY(f.calls.isEmpty());
  QVERIFY(f.reports.isEmpty());
  QVERIFY(!f.stop);  // cleared when the command starts
}

void TestSave::cancelledDestination() {
  Fixture f;
  f.Add(f.tables, QStringLiteral("t"), true);
  f.folder = std::nullopt;
  QVERIFY(!RunSaveCommand(f.context, f.ops).has_value());
  QCOMPARE(f.opened, QStringList{"ask:shop.db"});
  QVERIFY(f.calls.isEmpty());
  QCOMPARE(f.closes, 0);
  QVERIFY(f.tree.isEnabled());
  QVERIFY(!f.saving);
}

void TestSave::openFails() {
  Fixture f;
  f.Add(f.tables, QStringLiteral("t"), true);
  f.openSucceeds = false;
  QVERIFY(!RunSaveCommand(f.context, f.ops).has_value());
  QCOMPARE(f.boxes, QStringList{"cannot create /dest/shop.db: permission denied"});
  QVERIFY(f.calls.isEmpty());
  QCOMPARE(f.closes, 0);
  QVERIFY(f.tree.isEnabled());
  QVERIFY(!f.saving);
  QVERIFY(!f.dialog.isVisible());
  QVERIFY(f.reports.isEmpty());
}

void TestSave::stopDuringSecondOfFiveTables() {
  Fixture f;
  for (int i = 1; i <= 5; ++i) f.Add(f.tables, QStringLiteral("t%1").arg(i), true);
  f.Add(f.views, QStringLiteral("v"), true);
  f.Add(f.indexes, QStringLiteral("i"), true);
  f.body = [&](const QString& name, int kind) {
    ObjectOutcome o;
    if (f.stop) {  // passed over at once, as the dispatch does after a stop
      o.stopped = true;
      return o;
    }
    if (name == QLatin1String("t2")) {
      f.stop = true;  // Stop confirmed while t2 is written
      o.written = true;
      o.stopped = true;
      o.records = 40;
      return o;
    }
    o.written = true;
    o.records = kind == int(ObjectKind::Table) ? 100 : 0;
    return o;
  };
  const auto report = RunSaveCommand(f.context, f.ops);
  QVERIFY(report.has_value());
  // Every object is still handed over; the rest is passed over quickly.
  QCOMPARE(f.Order(), (QStringList{"8:t1", "8:t2", "8:t3", "8:t4", "8:t5", "9:v", "10:i"}));
  QCOMPARE(f.closes, 1);
  QVERIFY(!f.dialog.isVisible());
  QVERIFY(f.tree.isEnabled());
  QCOMPARE(f.reports.size(), 1);
  QVERIFY(f.reports[0].stopped);
  const QString text = FormatSaveReport(f.reports[0]);
  QVERIFY2(!text.contains(QStringLiteral("successfully")), qPrintable(text));
  QVERIFY(text.contains(QStringLiteral("Table \"t1\": 100 records")));
  QVERIFY(
      text.contains(QStringLiteral("Table \"t2\": 40 records written, then the save was stopped")));
  QVERIFY(text.contains(QStringLiteral("Table \"t5\": passed over, the save was stopped")));
  QVERIFY(text.contains(QStringLiteral("Index \"i\": passed over")));
  QVERIFY(text.contains(QStringLiteral("/dest/shop.db")));
}

void TestSave::stopAfterTheLastObject() {
  Fixture f;
  f.Add(f.tables, QStringLiteral("t"), true);
  f.body = [&](const QString&, int) {
    ObjectOutcome o;
    o.written = true;
    o.records = 2;
    f.stop = true;  // pressed just as the last object finished
    return o;
  };
  RunSaveCommand(f.context, f.ops);
  QCOMPARE(f.reports.size(), 1);
  QVERIFY(!f.reports[0].stopped);
  QVERIFY(FormatSaveReport(f.reports[0]).startsWith(QStringLiteral("saving done successfully...")));
}

void TestSave::failedObjectsReported() {
  Fixture f;
  f.Add(f.tables, QStringLiteral("shown name"), true, QStringLiteral("real \"name\""));
  f.Add(f.indexes, QStringLiteral("i"), true);
  f.body = [&](const QString&, int kind) {
    ObjectOutcome o;
    if (kind == int(ObjectKind::Index)) {
      o.error = QStringLiteral("no such table: main.gone");
    } else {
      o.written = true;
      o.records = 1;
    }
    return o;
  };
  RunSaveCommand(f.context, f.ops);
  QCOMPARE(f.calls.first().name, QStringLiteral("real \"name\""));
  const QString text = FormatSaveReport(f.reports.value(0));
  QVERIFY(!text.contains(QStringLiteral("successfully")));
  QVERIFY(text.contains(QStringLiteral("Index \"i\": no such table: main.gone")));
  QVERIFY(text.contains(QStringLiteral("Table \"real \"name\"\": 1 record")));
}

QTEST_MAIN(TestSave)
#include "tst_save.moc"
