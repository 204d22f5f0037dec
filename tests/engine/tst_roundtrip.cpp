// Round trip: databases built with SQLite are scanned and every table is
// walked in display and in save mode; each decoded record must equal, value
// by value and type by type, what SQLite itself reads from the intact file.
#include <QLocale>
#include <QRegularExpression>
#include <QtTest/QtTest>
#include <cmath>
#include <cstring>

#include "output/SaveDispatch.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// The working database creates sqlite_sequence by itself when it replays a
// table with AUTOINCREMENT, so the recovered table list may hold it too.
QStringList WithoutSequence(QStringList names) {
  names.removeAll(QStringLiteral("sqlite_sequence"));
  return names;
}

enum class Sample { AllTypes, LongValues, Shop, OddNames, Deep };

QString Make(Sample sample, const QString& path, const DbOptions& options) {
  switch (sample) {
    case Sample::AllTypes:
      return MakeAllTypesDatabase(path, options);
    case Sample::LongValues:
      return MakeLongValuesDatabase(path, options);
    case Sample::Shop:
      return MakeShopDatabase(path, options);
    case Sample::OddNames:
      return MakeOddNamesDatabase(path, options);
    case Sample::Deep:
      return MakeDeepTreeDatabase(path, options, 3);
  }
  return QStringLiteral("unknown sample");
}

// Records written before ALTER TABLE ADD COLUMN hold fewer fields than the
// table has columns; SQLite fills in the defaults when it reads them.
int FieldsBeforeAlter(const QString& table) { return table == QLatin1String("customers") ? 5 : -1; }

// The display text the grid must show for a value, derived from the value
// as SQLite reads it.
QString ExpectedDisplay(const RefValue& ref, const ITEM& item, int encoding,
                        std::int64_t pageSize) {
  switch (item.storage) {
    case StorageClass::Null:
      return QStringLiteral("NULL");
    case StorageClass::Integer:
      return QString::number(item.intValue);
    case StorageClass::Real: {
      // "%f", unless it shows a non-zero value as zero or holds more than 15
      // significant digits: then the shortest text that reads back the same.
      const double v = item.realValue;
      const QString fixed = QString::asprintf("%f", v);
      QString significant =
          QRegularExpression(QStringLiteral("[1-9](?:[0-9.]*[1-9])?")).match(fixed).captured(0);
      significant.remove(QLatin1Char('.'));
      if (v == 0 || !std::isfinite(v) || (!significant.isEmpty() && significant.size() <= 15))
        return fixed;
      return QString::number(v, 'g', QLocale::FloatingPointShortest);
    }
    case StorageClass::Blob:
      return QStringLiteral("Blob");
    case StorageClass::Text:
      break;
  }
  QString text;
  if (encoding == 2)
    text = QString::fromUtf16(reinterpret_cast<const char16_t*>(ref.bytes.constData()),
                              ref.bytes.size() / 2);
  else if (encoding == 3) {
    for (int i = 0; i + 1 < ref.bytes.size(); i += 2)
      text += QChar(char16_t((uchar(ref.bytes[i]) << 8) | uchar(ref.bytes[i + 1])));
  } else {
    text = QString::fromUtf8(ref.bytes);
  }
  const qsizetype zero = text.indexOf(QChar(0));
  if (zero >= 0) text.truncate(zero);
  if (ref.bytes.size() > pageSize) {
    // The first 1000 characters, without splitting a surrogate pair.
    text = text.trimmed();
    const int keep = text.size() > 1000 && text.at(999).isHighSurrogate() ? 999 : 1000;
    return text.left(keep) + QStringLiteral("<more data>...");
  }
  return text.trimmed();
}

// The key of a WITHOUT ROWID record (its first field) as comparable bytes.
QByteArray KeyOf(StorageClass storage, std::int64_t i, const QByteArray& bytes) {
  return QByteArray::number(int(storage)) + ':' + QByteArray::number(qlonglong(i)) + ':' + bytes;
}

// Reference rows in the order the walk must deliver them. A rowid table's
// records come in rowid order. The records of a WITHOUT ROWID table live in
// an index b-tree whose interior pages hold records too; those arrive after
// the records of the page's children, so the expected order is taken from
// the decoded keys (which must each match exactly one reference row).
QList<RefRow> InWalkOrder(const RefTable& ref, const QList<CollectedRecord>& got, QString* error) {
  if (!ref.withoutRowid) return ref.rows;
  QHash<QByteArray, int> byKey;
  for (int i = 0; i < ref.rows.size(); ++i) {
    const RefValue& k = ref.rows[i].values.value(0);
    byKey.insert(KeyOf(k.storage, k.intValue, k.bytes), i);
  }
  QList<RefRow> ordered;
  for (const CollectedRecord& record : got) {
    if (record.values.isEmpty()) {
      *error = QStringLiteral("a record without values");
      return {};
    }
    const ITEM& k = record.values[0].item;
    const auto it = byKey.constFind(KeyOf(k.storage, k.intValue, k.bytes));
    if (it == byKey.cend()) {
      *error = QStringLiteral("decoded key %1 is not in the table, or came twice")
                   .arg(Describe(k.bytes));
      return {};
    }
    ordered << ref.rows[*it];
    byKey.erase(it);
  }
  return ordered;
}

}  // namespace

class RoundTripTest : public QObject {
  Q_OBJECT

 private slots:
  void tables_data();
  void tables();
  void schemaLists();
  void progressAndGrid();
};

void RoundTripTest::tables_data() {
  QTest::addColumn<int>("pageSize");
  QTest::addColumn<int>("encoding");
  QTest::addColumn<int>("reserved");
  QTest::addColumn<bool>("autoVacuum");
  QTest::addColumn<int>("sample");
  struct Layout {
    const char* name;
    int pageSize, encoding, reserved;
    bool autoVacuum;
  };
  const Layout layouts[] = {
      {"512 utf8", 512, 1, 0, false},
      {"512 utf16be reserved 32", 512, 3, 32, false},
      {"1024 utf16le", 1024, 2, 0, false},
      {"2048 utf8 reserved 255", 2048, 1, 255, false},
      {"4096 utf8", 4096, 1, 0, false},
      {"4096 utf16be", 4096, 3, 0, false},
      {"4096 utf16le reserved 64 autovacuum", 4096, 2, 64, true},
      {"65536 utf8", 65536, 1, 0, false},
      {"65536 utf16be reserved 16", 65536, 3, 16, false},
  };
  const struct {
    const char* name;
    Sample sample;
  } samples[] = {{"all types", Sample::AllTypes},
                 {"long values", Sample::LongValues},
                 {"shop", Sample::Shop},
                 {"odd names", Sample::OddNames},
                 {"deep", Sample::Deep}};
  for (const Layout& l : layouts)
    for (const auto& s : samples) {
      // Three-level trees at 64 KiB pages need far too many rows for a test.
      if (s.sample == Sample::Deep && l.pageSize > 4096) continue;
      // One UTF-16 layout with deep trees at 4096 is enough (and slow).
      if (s.sample == Sample::Deep && l.pageSize == 4096 && l.encoding == 3) continue;
      QTest::addRow("%s, %s", l.name, s.name)
          << l.pageSize << l.encoding << l.reserved << l.autoVacuum << int(s.sample);
    }
}

void RoundTripTest::tables() {
  QFETCH(int, pageSize);
  QFETCH(int, encoding);
  QFETCH(int, reserved);
  QFETCH(bool, autoVacuum);
  QFETCH(int, sample);
  const QString path = NewTestFolder(QStringLiteral("roundtrip")) + QStringLiteral("/db.sqlite");
  DbOptions options{pageSize, TextEncoding(encoding), reserved, autoVacuum};
  QCOMPARE(Make(Sample(sample), path, options), QString());
  const QByteArray intactBytes = PageProbe(path).Data();

  RecoveryHarness run(path);
  QCOMPARE(run.boxes.Texts(), QStringList());
  QCOMPARE(run.engine.geometry().pageSize, pageSize);
  QCOMPARE(run.engine.geometry().usableSize, pageSize - reserved);
  QCOMPARE(int(run.engine.geometry().textEncoding), encoding);
  const RefSchema schema = ReadReferenceSchema(path);
  QCOMPARE(WithoutSequence(run.engine.TableNames()), schema.tables);

  for (const QString& name : schema.tables) {
    const RefTable ref = ReadReferenceTable(path, name);
    QCOMPARE(ref.error, QString());
    const SchemaObject* object = run.Table(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(object->rootPage, PageProbe::RootPage(path, name));
    for (bool saveMode : {false, true}) {
      const QString what = QStringLiteral("%1 (%2)").arg(name, saveMode ? "save" : "display");
      GridRecorder grid;
      RecoveryHarness::Walk walk =
          run.WalkRoot(object->rootPage, saveMode, saveMode ? nullptr : &grid);
      QVERIFY2(walk.result, qPrintable(what));
      QCOMPARE(walk.records().size(), ref.rows.size());
      QString orderError;
      const QList<RefRow> rows = InWalkOrder(ref, walk.records(), &orderError);
      QVERIFY2(orderError.isEmpty(), qPrintable(what + QStringLiteral(": ") + orderError));
      for (int r = 0; r < rows.size(); ++r) {
        const CollectedRecord& got = walk.records()[r];
        const RefRow& want = rows[r];
        QCOMPARE(got.hasRowid, !ref.withoutRowid);
        if (!ref.withoutRowid) QCOMPARE(got.rowid, want.rowid);
        RefRow expected = want;
        const int short_ = FieldsBeforeAlter(name);
        if (short_ > 0 && got.values.size() >= short_ && got.values.size() < want.values.size())
          expected.values = want.values.mid(0, got.values.size());
        const QString diff =
            CompareRecord(got.values, expected, ref,
                          saveMode ? CompareMode::Exact : CompareMode::Display, pageSize);
        VELMORA_VERIFY(diff.isEmpty(), QStringLiteral("%1 row %2: %3").arg(what).arg(r).arg(diff));
        if (saveMode) continue;
        for (int c = 0; c < got.values.size(); ++c) {
          const ITEM& item = got.values[c].item;
          const QString display = ExpectedDisplay(expected.values[c], item, encoding, pageSize);
          VELMORA_VERIFY(item.display == display,
                         QStringLiteral("%1 row %2 column %3: display \"%4\", expected \"%5\"")
                             .arg(what)
                             .arg(r)
                             .arg(c)
                             .arg(item.display.left(80), display.left(80)));
        }
      }
      if (!saveMode) QCOMPARE(grid.rows.size(), ref.rows.size());
    }
  }
  // The damaged-file reader never writes to its input.
  QCOMPARE(PageProbe(path).Data(), intactBytes);
}

void RoundTripTest::schemaLists() {
  const QString folder = NewTestFolder(QStringLiteral("schema"));
  for (const bool odd : {false, true}) {
    const QString path = folder + (odd ? QStringLiteral("/odd.db") : QStringLiteral("/shop.db"));
    QCOMPARE(odd ? MakeOddNamesDatabase(path) : MakeShopDatabase(path), QString());
    const SampleSchema expected = odd ? OddNamesSchema() : ShopSchema();
    RecoveryHarness run(path);
    QCOMPARE(WithoutSequence(run.engine.TableNames()), expected.tables);
    auto names = [&](SchemaKind kind) {
      QStringList list;
      for (const SchemaObject* o : run.engine.Catalog().OfKind(kind)) list << o->name;
      return list;
    };
    // Each row goes by its type field into exactly one list: a table named
    // REVIEWS is no view, an index on a column named "index" no table.
    QCOMPARE(names(SchemaKind::Index), expected.indexes);
    QCOMPARE(names(SchemaKind::View), expected.views);
    QCOMPARE(names(SchemaKind::Trigger), expected.triggers);
    QCOMPARE(names(SchemaKind::Table).size(), expected.tables.size());
    for (const SchemaObject* table : run.engine.Catalog().OfKind(SchemaKind::Table)) {
      const SchemaObject& o = *table;
      QCOMPARE(o.type, QStringLiteral("table"));
      QCOMPARE(o.rootPage, PageProbe::RootPage(path, o.name));
      QVERIFY(o.sql.startsWith(QLatin1String("CREATE TABLE")));
    }
  }
}

void RoundTripTest::progressAndGrid() {
  // The walk keeps the window responsive: the progress callback is called on
  // every page and every record, and a stop request ends the walk at once.
  const QString path = NewTestFolder(QStringLiteral("progress")) + QStringLiteral("/deep.db");
  QCOMPARE(MakeDeepTreeDatabase(path, {1024, TextEncoding::Utf8, 0, false}, 3), QString());
  RecoveryHarness run(path);
  const SchemaObject* deep = run.Table(QStringLiteral("deep"));
  QVERIFY(deep);
  GridRecorder grid;
  StatusTextRecorder status;
  ProgressBarRecorder bar;
  RecoveryHarness::Walk all = run.WalkRoot(deep->rootPage, false, &grid, &status, &bar);
  QVERIFY(all.result);
  const int rows = int(all.records().size());
  QVERIFY(rows > 100);
  QVERIFY(all.progressCalls >= 2 * rows);
  // The display of the table moves the bar as the walk goes.
  {
    GridRecorder shown;
    SilentStatementEdit edit;
    SilentControl stopButton;
    DispatchObject(run.engine, NoProgress(), ObjectRef{ObjectKind::Table, QStringLiteral("deep")},
                   DisplayPane{shown, edit, status, bar, stopButton});
    QCOMPARE(int(shown.rows.size()), rows);
  }
  QVERIFY(!bar.Positions().isEmpty());
  for (int p : bar.Positions()) QVERIFY(p >= 0 && p <= 100);
  // Record-count texts count the rows already in the grid.
  QCOMPARE(all.sink->recordStatuses.first(), QStringLiteral(" Records: 0"));
  QCOMPARE(all.sink->recordStatuses.last(), QStringLiteral(" Records: %1").arg(rows - 1));

  // A stop request from the callback part-way through.
  run.progress.stopAfter = run.progress.calls + 50;
  RecoveryHarness::Walk stopped = run.WalkRoot(deep->rootPage, false);
  QVERIFY(!stopped.result);
  QVERIFY(stopped.records().size() < rows);
  QVERIFY(stopped.progressCalls <= 52);
  run.progress.stopAfter = -1;

  // A stop seen by the sink ends the walk after that record.
  RecoveryHarness::Walk sinkStop = run.WalkRoot(deep->rootPage, true, nullptr, nullptr, nullptr, 9);
  QVERIFY(!sinkStop.result);
  QCOMPARE(sinkStop.records().size(), 10);

  // The next walk starts afresh.
  RecoveryHarness::Walk again = run.WalkRoot(deep->rootPage, true);
  QVERIFY(again.result);
  QCOMPARE(again.records().size(), rows);
}

VELMORA_TEST_MAIN(RoundTripTest)
#include "tst_roundtrip.moc"
