// Orphan pages put back into their own tables, and the lost-and-found table.
//
// Each case builds a database with SQLite, keeps an intact copy, damages the
// other copy (pages zeroed, rows deleted into the freelist), saves everything
// the program recovers from it, and sorts every recovered row against what
// SQLite reads from the intact copy: in its own table, in lost and found, or
// wrong (a row SQLite does not have there, or has with other values).
#include <sqlite3.h>

#include <QFileInfo>
#include <QtTest>
#include <functional>
#include <map>

#include "engine/passes/RecoveredTrees.h"
#include "engine/schema/TableLayout.h"
#include "output/CsvExport.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"
#include "output/TableExtraction.h"
#include "tests/support/Damager.h"
#include "tests/support/DbBuilder.h"
#include "tests/support/PageProbe.h"
#include "tests/support/Recorders.h"
#include "tests/support/ReferenceReader.h"
#include "tests/support/TestEnv.h"

using namespace velmora;
using namespace velmora::test;

namespace {

std::int64_t RootPage(const QString& path, const QString& table) {
  sqlite3* db = nullptr;
  std::int64_t root = 0;
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name = ?1", -1, &stmt,
                       nullptr);
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(stmt, 1, name.constData(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW) root = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return root;
}

// A non-root interior page of the table's tree (the first one a walk meets).
std::int64_t InnerPage(const QString& path, const QString& table) {
  const TreePages tree = PageProbe(path).Tree(RootPage(path, table));
  return tree.interior.size() > 1 ? tree.interior.at(1) : 0;
}

// `untyped`: `got` comes from columns without declared type, which keep a
// record's integer where a REAL column reads it as the equal real; `gotTypes`
// (when given): the declared types of got's columns, an empty one untyped.
bool SameRow(const QList<RefValue>& got, const RefRow& want, bool untyped = false,
             const QStringList& gotTypes = {}) {
  if (got.size() != want.values.size()) return false;
  for (int i = 0; i < got.size(); ++i) {
    const RefValue& a = got.at(i);
    const RefValue& b = want.values.at(i);
    const bool noAffinity = untyped || (i < gotTypes.size() && gotTypes.at(i).isEmpty());
    const bool realStoredAsInteger = noAffinity && a.storage == StorageClass::Integer &&
                                     b.storage == StorageClass::Real &&
                                     static_cast<double>(a.intValue) == b.realValue;
    if (!SameValue(a, b) && !realStoredAsInteger) return false;
  }
  return true;
}

const RefRow* FindRow(const RefTable& table, std::int64_t rowid) {
  for (const RefRow& row : table.rows)
    if (row.rowid == rowid) return &row;
  return nullptr;
}

// The recovered database the last Recover wrote.
QString& LastOut() {
  static QString path;
  return path;
}

// The records of a CSV file (quoted fields may hold line breaks), each as
// its fields; the header line is left out.
QList<QStringList> CsvRecords(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QString text = QString::fromUtf8(file.readAll());
  QList<QStringList> records;
  QStringList fields;
  QString field;
  bool quoted = false;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text.at(i + 1) == '"') {
        field += c;
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields << field;
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n') {
      fields << field;
      field.clear();
      records << fields;
      fields.clear();
      ++i;
    } else {
      field += c;
    }
  }
  if (!records.isEmpty()) records.removeFirst();
  return records;
}

// The same rows from every reader of a table: the save's count, the CSV
// export and the grid, row for row, and the summary's count.
void CheckReadersAgree(CSQLiteRecovery& engine, const QString& name, const ObjectOutcome& saved,
                       const QString& folder) {
  const QString csv = folder + QStringLiteral("/") + CsvFileName(name);
  SilentProgressBar noBar;
  const CsvOutcome exported = ExportTableCsv(engine, NoProgress(), name, csv, false, noBar);
  QVERIFY2(exported.written && exported.error.isEmpty(), qPrintable(name + exported.error));
  const QList<QStringList> rows = CsvRecords(csv);
  QCOMPARE(exported.rows, saved.records);
  QCOMPARE(std::int64_t(rows.size()), saved.records);
  QCOMPARE(exported.rowsPutBack, saved.putBack);
  GridRecorder grid;
  StatusTextRecorder status;
  ProgressBarRecorder bar;
  SilentStatementEdit edit;
  SilentControl stop;
  DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, name},
                 DisplayPane{grid, edit, status, bar, stop});
  QCOMPARE(std::int64_t(grid.rows.size()), saved.records);
  // The first column: an integer key in these tables, the same text in both.
  for (int r = 0; r < rows.size(); ++r)
    if (!rows[r].isEmpty() && !grid.rows[r].isEmpty() && rows[r][0].toLongLong() != 0)
      QCOMPARE(grid.rows[r][0], rows[r][0]);
  // Rows put back from orphan pages come among the others in rowid order,
  // not after the last rowid of the table's own tree.
  TableLayout layout;
  if (ReadTableLayout(engine.WorkingDb(), name, &layout) && layout.rowidAlias == 0)
    for (int r = 1; r < grid.rows.size(); ++r)
      QVERIFY2(grid.rows[r][0].toLongLong() > grid.rows[r - 1][0].toLongLong(),
               qPrintable(QStringLiteral("%1: row %2 out of rowid order").arg(name).arg(r)));
  const TableRowCounts counts = CountTableRows(engine, NoProgress(), name);
  QCOMPARE(counts.own + counts.putBack + counts.lost, saved.records);
}

struct Tally {
  std::int64_t reference = 0;  // rows SQLite reads from the intact copy
  std::int64_t own = 0;        // recovered into their own table, exact
  std::int64_t lostAndFound = 0;
  std::int64_t wrong = 0;
  std::int64_t putBack = 0;  // as the save reported it
  QString lostName;
};

// Saves everything recovered from `damaged` and sorts the rows against the
// intact copy.
Tally Recover(const QString& intact, const QString& damaged) {
  Tally tally;
  CSQLiteRecovery engine;
  engine.ScanDatabase(damaged);
  engine.BuildWorkingDatabase();
  if (const SchemaObject* lost = engine.LostAndFound()) tally.lostName = lost->name;
  const QString folder = NewTestFolder(QStringLiteral("orphans"));
  RecoveredDatabase target;
  QString error;
  if (!target.Open(engine, folder, QStringLiteral("out.db"), &error)) {
    qWarning("%s", qPrintable(error));
    tally.wrong = -1;
    return tally;
  }
  std::map<QString, ObjectOutcome> saved;
  for (const QString& name : CategoryNames(engine, ObjectKind::Table)) {
    saved[name] = DispatchObject(engine, NoProgress(), ObjectRef{ObjectKind::Table, name}, target);
    tally.putBack += saved[name].putBack;
  }
  target.Close();
  const QString csvFolder = NewTestFolder(QStringLiteral("csv"));
  for (const auto& [name, outcome] : saved) {
    CheckReadersAgree(engine, name, outcome, csvFolder);
    if (QTest::currentTestFailed()) {
      tally.wrong = -1;
      return tally;
    }
  }
  const QString out = folder + QStringLiteral("/out.db");
  LastOut() = out;

  const RefSchema schema = ReadReferenceSchema(intact);
  QList<RefTable> reference;
  for (const QString& name : schema.tables) {
    reference << ReadReferenceTable(intact, name);
    tally.reference += reference.back().rows.size();
  }
  for (const RefTable& want : reference) {
    const RefTable got = ReadReferenceTable(out, want.name);
    for (const RefRow& row : got.rows) {
      const RefRow* match = FindRow(want, row.rowid);
      if (match != nullptr && SameRow(row.values, *match, false, got.declaredTypes)) {
        ++tally.own;
      } else {
        ++tally.wrong;
        qInfo("wrong row %lld of %s", static_cast<long long>(row.rowid), qPrintable(want.name));
      }
    }
  }
  if (!tally.lostName.isEmpty()) {
    // page, id, nfield, c1..cN: the row is right when some table of the
    // intact copy (its AUTOINCREMENT counters included) has that rowid with
    // exactly those values.
    reference << ReadReferenceTable(intact, QStringLiteral("sqlite_sequence"));
    for (const RefRow& row : ReadReferenceTable(out, tally.lostName).rows) {
      const std::int64_t id = row.values.value(1).intValue;
      const int fields = static_cast<int>(row.values.value(2).intValue);
      const QList<RefValue> values = row.values.mid(3, fields);
      bool found = false;
      for (const RefTable& want : reference) {
        const RefRow* match = FindRow(want, id);
        found = found || (match != nullptr && SameRow(values, *match, true));
      }
      if (found) {
        ++tally.lostAndFound;
      } else {
        ++tally.wrong;
        qInfo("wrong row %lld in lost and found (page %lld, %d fields)", static_cast<long long>(id),
              static_cast<long long>(row.values.value(0).intValue), fields);
      }
    }
  }
  return tally;
}

// Rows of a table "name" with text, real and blob values that tell the
// table apart: 'name-<i>'.
QString FillSql(const QString& table, int rows, const QString& tag) {
  return QStringLiteral(
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
             "INSERT INTO %1(a, b, c) SELECT '%3-' || i || '-' || hex(randomblob(8)), i * 0.5, "
             "randomblob(i % 20) FROM n;")
      .arg(table)
      .arg(rows)
      .arg(tag);
}

struct Case {
  std::function<bool(DbBuilder&)> build;
  std::function<bool(const QString& damaged)> damage;
};

}  // namespace

class TestOrphans : public QObject {
  Q_OBJECT

 private slots:
  void recovery_data();
  void recovery();
  void intactFileHasNoOrphans();
  void treesWithoutSchemaRow_data();
  void treesWithoutSchemaRow();
  void lostTreeGrouping();
  void schemaPagesCutOff();
  void damagedCellPayloadSize_data();
  void damagedCellPayloadSize();
};

void TestOrphans::recovery_data() {
  QTest::addColumn<int>("autoVacuum");
  QTest::addColumn<QString>("build");
  QTest::addColumn<QStringList>(
      "zeroInner");                           // tables whose first non-root interior page is zeroed
  QTest::addColumn<QStringList>("zeroRoot");  // tables whose root page is zeroed
  QTest::addColumn<QString>("after");         // statements run after the build (deletions)
  QTest::addColumn<bool>("allBack");          // every row of the intact copy is recovered
  QTest::addColumn<bool>("intoLostAndFound");  // the orphan rows go to lost and found
  QTest::addColumn<QString>("lostName");
  // Other damage, "swap:A,B" (the schema rows of A and B name each other's
  // root page), "aim:A,B" (A's first child pointer aimed at B's last leaf)
  // "aimsame:A,B" (a child pointer of A aimed at B's leaf over the same
  // rowids as the leaf it named) or "aimsub:A,B" (A's root's second child
  // aimed at B's root's second child, an inner page over the same rowids).
  QTest::addColumn<QString>("edit");

  const QString one = QStringLiteral(
                          "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);"
                          "CREATE TABLE u(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);") +
                      FillSql("t", 6000, "t") + FillSql("u", 300, "u");
  QTest::newRow("inner page of a large table zeroed")
      << 0 << one << QStringList{"t"} << QStringList{} << QString() << true << false << QString()
      << QString();
  QTest::newRow("AUTOINCREMENT, inner page zeroed")
      << 0
      << QStringLiteral(
             "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, a TEXT, b REAL, c BLOB);"
             "CREATE TABLE u(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);") +
             FillSql("t", 6000, "t") + FillSql("u", 300, "u")
      << QStringList{"t"} << QStringList{} << QString() << true << false << QString() << QString();
  QTest::newRow("root page of a table zeroed")
      << 0 << one << QStringList{} << QStringList{"t"} << QString() << true << false << QString()
      << QString();
  // An INTEGER PRIMARY KEY DESC column is a stored column beside the rowid.
  QTest::newRow("INTEGER PRIMARY KEY DESC, inner page zeroed")
      << 0
      << QStringLiteral(
             "CREATE TABLE t(id INTEGER PRIMARY KEY DESC, a TEXT, b REAL, c BLOB);"
             "CREATE TABLE u(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);") +
             FillSql("t", 6000, "t") + "UPDATE t SET id = rowid * 2;" + FillSql("u", 300, "u")
      << QStringList{"t"} << QStringList{} << QString() << true << false << QString() << QString();

  const QString twins = QStringLiteral(
                            "CREATE TABLE t(a TEXT, b REAL, c BLOB);"
                            "CREATE TABLE u(a TEXT, b REAL, c BLOB);"
                            "CREATE INDEX t_a ON t(a);") +
                        FillSql("t", 6000, "t") + FillSql("u", 6000, "u");
  // Both trees have holes over the same rowids and the same shape: the
  // index of t tells the groups apart.
  QTest::newRow("same columns, one indexed, inner pages of both zeroed")
      << 0 << twins << QStringList{"t", "u"} << QStringList{} << QString() << true << false
      << QString() << QString();
  QString bare = twins;
  bare.replace(QStringLiteral("CREATE INDEX t_a ON t(a);"),
               QStringLiteral("CREATE TABLE lost_and_found(x);"));
  // Nothing tells them apart: kept in lost and found, under a free name.
  QTest::newRow("same columns, no index, inner pages of both zeroed")
      << 0 << bare << QStringList{"t", "u"} << QStringList{} << QString() << false << true
      << QStringLiteral("lost_and_found_1") << QString();
  QString plain = twins;
  plain.remove(QStringLiteral("CREATE INDEX t_a ON t(a);"));
  // The pointer map names each page's parent: the zeroed roots.
  QTest::newRow("auto-vacuum, roots of both zeroed")
      << 1 << plain << QStringList{} << QStringList{"t", "u"} << QString() << true << false
      << QString() << QString();
  // Deleted rows of t lie on free pages with rowids in t's holes: none may
  // come back.
  QTest::newRow("freelist of deleted rows, inner page zeroed")
      << 0 << one << QStringList{"t"} << QStringList{}
      << QStringLiteral("PRAGMA secure_delete=OFF; DELETE FROM t WHERE id % 3 <> 0 AND id > 1500;")
      << true << false << QString() << QString();
  // A child pointer of t aimed into u: u keeps its leaf, t's own leaf
  // goes back into the hole the refused pointer leaves.
  QTest::newRow("child pointer into another table")
      << 0 << one << QStringList{} << QStringList{} << QString() << true << false << QString()
      << QStringLiteral("aim:t,u");
  // Two tables of one shape over the same rowids: where a child pointer of t
  // names u's leaf over the rowids of its own, that leaf fits both trees.
  // The index of t decides; without it both leaves stay in lost and found.
  QTest::newRow("same columns, one indexed, child pointer into the other's same rowids")
      << 0 << twins << QStringList{} << QStringList{} << QString() << true << false << QString()
      << QStringLiteral("aimsame:t,u");
  QTest::newRow("same columns, no index, child pointer into the other's same rowids")
      << 0 << bare << QStringList{} << QStringList{} << QString() << false << true
      << QStringLiteral("lost_and_found_1") << QStringLiteral("aimsame:t,u");
  QTest::newRow("same columns, no index, child pointer into the other's same subtree")
      << 0 << bare << QStringList{} << QStringList{} << QString() << false << true
      << QStringLiteral("lost_and_found_1") << QStringLiteral("aimsub:t,u");
  // Roots swapped between tables of one shape: t's index shows that the
  // root its schema row names holds other rows.
  QTest::newRow("same columns, one indexed, root pages swapped")
      << 0 << twins << QStringList{} << QStringList{} << QString() << true << false << QString()
      << QStringLiteral("swap:t,u");
  // The schema rows of two tables of different shapes name each other's
  // root page: both roots are refused, and each tree goes back to the one
  // table whose columns its records fit.
  const QString shapes =
      QStringLiteral(
          "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);"
          "CREATE TABLE w(p TEXT NOT NULL, q INTEGER);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
          "INSERT INTO w SELECT 'w-' || i, i FROM n;") +
      FillSql("t", 3000, "t");
  QTest::newRow("root pages swapped in the schema")
      << 0 << shapes << QStringList{} << QStringList{} << QString() << true << false << QString()
      << QStringLiteral("swap:t,w");
}

void TestOrphans::recovery() {
  QFETCH(int, autoVacuum);
  QFETCH(QString, build);
  QFETCH(QStringList, zeroInner);
  QFETCH(QStringList, zeroRoot);
  QFETCH(QString, after);
  QFETCH(bool, allBack);
  QFETCH(bool, intoLostAndFound);
  QFETCH(QString, lostName);
  QFETCH(QString, edit);

  const QString folder = NewTestFolder(QStringLiteral("case"));
  const QString intact = folder + QStringLiteral("/intact.db");
  const QString damaged = folder + QStringLiteral("/damaged.db");
  {
    DbOptions options;
    options.pageSize = 1024;
    options.autoVacuum = autoVacuum != 0;
    DbBuilder db(intact, options);
    db.Exec(build);
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  if (!after.isEmpty()) QCOMPARE(ExecOnFile(intact, after), QString());
  QVERIFY(CopyDatabase(intact, damaged));
  for (const QString& table : zeroInner) {
    const std::int64_t page = InnerPage(intact, table);
    QVERIFY2(page > 0, qPrintable(table));
    QVERIFY(ZeroPage(damaged, page));
  }
  for (const QString& table : zeroRoot) QVERIFY(ZeroPage(damaged, RootPage(intact, table)));
  const QStringList pair = edit.mid(edit.indexOf(QLatin1Char(':')) + 1).split(QLatin1Char(','));
  if (edit.startsWith(QLatin1String("swap:"))) {
    QCOMPARE(ExecOnFile(damaged, QStringLiteral("PRAGMA writable_schema=ON; UPDATE sqlite_schema "
                                                "SET rootpage = CASE name WHEN '%1' THEN %3 "
                                                "ELSE %4 END WHERE name IN ('%1', '%2')")
                                     .arg(pair[0], pair[1])
                                     .arg(RootPage(intact, pair[1]))
                                     .arg(RootPage(intact, pair[0]))),
             QString());
  } else if (edit.startsWith(QLatin1String("aim:"))) {
    PageProbe probe(intact);
    const TreePages from = probe.Tree(RootPage(intact, pair[0]));
    const TreePages into = probe.Tree(RootPage(intact, pair[1]));
    QVERIFY(!from.interior.isEmpty() && !into.leaves.isEmpty());
    QVERIFY(SetChildPointer(damaged, from.interior.last(), 0, std::uint32_t(into.leaves.last())));
  } else if (edit.startsWith(QLatin1String("aimsame:"))) {
    PageProbe probe(intact);
    const std::int64_t parent = probe.Tree(RootPage(intact, pair[0])).interior.last();
    const std::int64_t first = probe.Cells(probe.Children(parent).at(1)).at(0).rowid;
    std::int64_t twin = 0;
    for (const std::int64_t leaf : probe.Tree(RootPage(intact, pair[1])).leaves)
      if (probe.Cells(leaf).at(0).rowid == first) twin = leaf;
    QVERIFY(twin > 0);
    QVERIFY(SetChildPointer(damaged, parent, 1, std::uint32_t(twin)));
  } else if (edit.startsWith(QLatin1String("aimsub:"))) {
    PageProbe probe(intact);
    const std::int64_t from = RootPage(intact, pair[0]);
    const std::int64_t into = probe.Children(RootPage(intact, pair[1])).at(1);
    QCOMPARE(probe.Type(into), int(kInteriorTable));
    QCOMPARE(probe.Cells(probe.Children(from).at(1)).at(0).rowid, probe.Cells(into).at(0).rowid);
    QVERIFY(SetChildPointer(damaged, from, 1, std::uint32_t(into)));
  }

  const Tally tally = Recover(intact, damaged);
  qInfo(
      "%s: %lld rows in the intact copy; %lld in their own table (%lld put back from orphan "
      "pages), %lld in lost and found, %lld lost, %lld wrong",
      QTest::currentDataTag(), static_cast<long long>(tally.reference),
      static_cast<long long>(tally.own), static_cast<long long>(tally.putBack),
      static_cast<long long>(tally.lostAndFound),
      static_cast<long long>(tally.reference - tally.own - tally.lostAndFound),
      static_cast<long long>(tally.wrong));
  QCOMPARE(tally.wrong, std::int64_t{0});
  QVERIFY(tally.putBack > 0 || intoLostAndFound);
  if (allBack) QCOMPARE(tally.own, tally.reference);
  if (intoLostAndFound) {
    QCOMPARE(tally.lostName, lostName);
    QVERIFY(tally.lostAndFound > 0);
    QCOMPARE(tally.own + tally.lostAndFound, tally.reference);
  } else {
    QCOMPARE(tally.lostName, QString());
  }
}

// An intact file: the pass finds nothing, puts nothing back and makes no
// lost-and-found table, with or without free pages.
void TestOrphans::intactFileHasNoOrphans() {
  for (const bool autoVacuum : {false, true}) {
    const QString path = NewTestFolder(QStringLiteral("intact")) + QStringLiteral("/db.db");
    {
      DbOptions options;
      options.pageSize = 1024;
      options.autoVacuum = autoVacuum;
      DbBuilder db(path, options);
      db.Exec(QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);") +
              FillSql("t", 3000, "t") + QStringLiteral("DELETE FROM t WHERE id > 2000;"));
      QVERIFY(db.Close());
    }
    CSQLiteRecovery engine;
    engine.ScanDatabase(path);
    engine.BuildWorkingDatabase();
    QVERIFY(engine.Orphans().ran);
    QCOMPARE(engine.Orphans().orphanPages, std::int64_t{0});
    QVERIFY(engine.LostAndFound() == nullptr);
    QCOMPARE(CountTableRows(engine, NoProgress(), QStringLiteral("t")).own, std::int64_t{2000});
  }
}

// The schema tree has two levels (page 1 interior); one of its leaves is
// zeroed. The tables named on it come back as tables of their own with all
// their rows; t is named by its surviving index, the AUTOINCREMENT counters
// as sqlite_sequence; the rest by number.
void TestOrphans::treesWithoutSchemaRow_data() {
  QTest::addColumn<bool>("zeroLostRoot");  // the root of lost table a is zeroed too: its leaves
                                           // are single orphan pages
  QTest::addColumn<bool>("zeroBigInner");  // an inner page of table big (schema row intact)
  QTest::newRow("schema leaf zeroed") << false << false;
  QTest::newRow("schema leaf and the lost table's root zeroed") << true << false;
  QTest::newRow("schema leaf and an inner page of a live table zeroed") << false << true;
}

void TestOrphans::treesWithoutSchemaRow() {
  QFETCH(bool, zeroLostRoot);
  QFETCH(bool, zeroBigInner);
  const QString folder = NewTestFolder(QStringLiteral("noschema"));
  const QString intact = folder + QStringLiteral("/intact.db");
  const QString damaged = folder + QStringLiteral("/damaged.db");
  // Long statements spread the schema over several leaves; the index of t
  // is created last, so its row lies on another leaf than t's.
  QString build;
  auto filler = [](int from, int to) {
    QString sql;
    for (int i = from; i < to; ++i)
      sql += QStringLiteral(
                 "CREATE TABLE filler_%1(first_column_with_a_long_name_%1 TEXT, "
                 "second_column_with_a_long_name_%1 INTEGER, "
                 "third_column_with_a_long_name_%1 BLOB);")
                 .arg(i);
    return sql;
  };
  build += filler(0, 6);
  build += QStringLiteral(
      "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, b TEXT, c REAL);"
      "CREATE TABLE a(n INTEGER DEFAULT 5, a TEXT, b REAL, c BLOB);"
      "CREATE TABLE b(n INTEGER, m TEXT, o INTEGER, p TEXT);");
  build += filler(6, 20);
  build += QStringLiteral("CREATE TABLE big(a TEXT, b REAL, c BLOB);");
  build += QStringLiteral(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 120) "
      "INSERT INTO t(b, c) SELECT 't-' || i, i * 0.25 FROM n;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50) "
      "INSERT INTO b SELECT i * 7, 'b-' || i, i, hex(randomblob(4)) FROM n;"
      "CREATE INDEX t_b ON t(b);");
  build += FillSql("a", 700, "a") + FillSql("big", 4000, "big");
  {
    DbOptions options;
    options.pageSize = 1024;
    DbBuilder db(intact, options);
    db.Exec(build);
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  QVERIFY(CopyDatabase(intact, damaged));
  const PageProbe probe(intact);
  QCOMPARE(probe.Type(1), int(kInteriorTable));
  // The schema leaf that holds t's statement, and the tables named on it.
  std::int64_t leaf = 0;
  for (std::int64_t page : probe.Tree(1).leaves)
    if (probe.Page(page).contains("CREATE TABLE t(")) leaf = page;
  QVERIFY(leaf > 0);
  QStringList lost;
  // (An empty table whose schema row is lost leaves nothing to find.)
  for (const QString& name : ReadReferenceSchema(intact).tables)
    if (probe.Page(leaf).contains(("CREATE TABLE " + name + "(").toUtf8()) &&
        !ReadReferenceTable(intact, name).rows.isEmpty())
      lost << name;
  QVERIFY(lost.contains("t") && lost.contains("a"));
  QVERIFY(!probe.Page(leaf).contains("CREATE INDEX t_b"));
  QVERIFY(ZeroPage(damaged, leaf));
  if (zeroLostRoot) {
    QVERIFY(probe.Tree(RootPage(intact, "a")).depth == 2);
    QVERIFY(ZeroPage(damaged, RootPage(intact, "a")));
  }
  if (zeroBigInner) {
    QVERIFY(!lost.contains("big"));
    QVERIFY(ZeroPage(damaged, InnerPage(intact, "big")));
  }

  const Tally tally = Recover(intact, damaged);
  QCOMPARE(tally.wrong, std::int64_t{0});
  // With big's hole open, the counters' page fits big's shape and rowids:
  // the orphan pass keeps it in lost and found.
  QCOMPARE(tally.lostName.isEmpty(), !zeroBigInner);
  const QString out = LastOut();
  // Every out table whose name the intact copy does not have holds the rows
  // of exactly one lost table, all of them, in as many columns.
  QList<RefTable> reference;
  for (const QString& name : ReadReferenceSchema(intact).tables)
    reference << ReadReferenceTable(intact, name);
  QMap<QString, QString> holder;  // lost table -> out table
  for (const QString& name : ReadReferenceSchema(out).tables) {
    if (name == tally.lostName) continue;  // checked by Recover
    const RefTable got = ReadReferenceTable(out, name);
    if (got.rows.isEmpty()) {
      QVERIFY2(ReadReferenceSchema(intact).tables.contains(name), qPrintable(name));
      continue;
    }
    const RefTable* source = nullptr;
    for (const RefTable& want : reference) {
      bool all = !got.rows.isEmpty();
      for (const RefRow& row : got.rows) {
        const RefRow* match = FindRow(want, row.rowid);
        all = all && match != nullptr && SameRow(row.values, *match, true);
      }
      if (all) source = &want;
    }
    QVERIFY2(source != nullptr, qPrintable(name));
    if (!lost.contains(source->name)) {
      QCOMPARE(name, source->name);
    } else {
      QVERIFY2(!holder.contains(source->name), qPrintable(source->name));
      holder[source->name] = name;
    }
    // (With big's hole open, its leaf that shares rowids with the counters'
    // page stays in lost and found with it.)
    if (!zeroBigInner || name != QLatin1String("big"))
      QCOMPARE(got.rows.size(), source->rows.size());
    QCOMPARE(got.columns.size(), source->columns.size());
  }
  // With big's hole open, the lost trees of big's shape fit big too: the
  // orphan pass keeps them in lost and found.
  if (zeroBigInner) return;
  for (const QString& name : lost) QVERIFY2(holder.contains(name), qPrintable(name));
  QCOMPARE(holder.value("t"), QStringLiteral("t"));
  QVERIFY(ReadReferenceTable(out, "t").columns.contains("b"));
  QVERIFY(holder.value("a").startsWith(QStringLiteral("recovered_table_")));
  const RefTable sequence = ReadReferenceTable(out, "sqlite_sequence");
  const RefTable wantSequence = ReadReferenceTable(intact, "sqlite_sequence");
  QCOMPARE(sequence.rows.size(), wantSequence.rows.size());
  for (int i = 0; i < sequence.rows.size(); ++i)
    QVERIFY(SameRow(sequence.rows[i].values, wantSequence.rows[i]));
}

// Pieces of lost trees: one shape with disjoint rowids is one tree; two
// overlapping pieces of one shape are two tables; another shape is apart.
void TestOrphans::lostTreeGrouping() {
  auto group = [](std::int64_t top, std::int64_t low, std::int64_t high,
                  std::vector<std::uint8_t> classes) {
    LostGroup g;
    g.top = top;
    g.minRowid = low;
    g.maxRowid = high;
    g.minFields = g.maxFields = static_cast<int>(classes.size());
    g.classes = std::move(classes);
    return g;
  };
  const std::vector<LostGroup> groups{
      group(10, 1, 50, {8, 2 | 4}), group(11, 51, 90, {8 | 1, 2 | 4}), group(12, 91, 99, {8, 2}),
      group(20, 1, 40, {8, 16}),    group(21, 30, 60, {8, 16}),        group(30, 5, 6, {2, 2, 2})};
  const auto trees = GroupLostTrees(groups, {0, 1, 2, 3, 4, 5});
  const std::vector<std::vector<std::size_t>> want{{0, 1, 2}, {3}, {4}, {5}};
  QCOMPARE(trees, want);
  QString table;
  QStringList names;
  QVERIFY(IndexKeyNames("CREATE INDEX i ON \"my t\"(b COLLATE NOCASE DESC, lower(c), [d])", &table,
                        &names));
  QCOMPARE(table, QStringLiteral("my t"));
  QCOMPARE(names, (QStringList{"b", QString(), "d"}));
  QVERIFY(!IndexKeyNames("CREATE INDEX i ON t(b) WHERE b > 0", &table, &names));
  QCOMPARE(RecoveredTableName({"Recovered_Table_1", "x"}), QStringLiteral("recovered_table_2"));
}

VELMORA_TEST_MAIN(TestOrphans)
// The file cut through its schema pages: the tables were filled while the
// schema fitted on page 1, then empty tables with long statements made the
// schema tree grow pages at the end of the file, which is cut there. Every
// row of the filled tables comes back, each table's rows whole in one table
// of its own (named recovered_table_N: no schema row survives), none wrong:
// q.z, mostly reals, keeps its integers as integers.
void TestOrphans::schemaPagesCutOff() {
  const QString folder = NewTestFolder(QStringLiteral("cut"));
  const QString intact = folder + QStringLiteral("/intact.db");
  const QString damaged = folder + QStringLiteral("/damaged.db");
  QString build = QStringLiteral(
      "CREATE TABLE p(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);"
      "CREATE TABLE q(x TEXT, y INTEGER, z);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 900) "
      "INSERT INTO q SELECT 'q-' || i, i * 3, CASE i % 3 WHEN 0 THEN i ELSE i + 0.5 END FROM n;");
  build += FillSql("p", 1500, "p");
  for (int i = 0; i < 40; ++i)
    build +=
        QStringLiteral("CREATE TABLE later_%1(a_long_column_name_%1 TEXT, b_%1 INTEGER);").arg(i);
  {
    DbOptions options;
    options.pageSize = 1024;
    DbBuilder db(intact, options);
    db.Exec(build);
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  const PageProbe probe(intact);
  QCOMPARE(probe.Type(1), int(kInteriorTable));
  const QList<std::int64_t> schemaLeaves = probe.Tree(1).leaves;
  const std::int64_t first = *std::min_element(schemaLeaves.begin(), schemaLeaves.end());
  QVERIFY(first > RootPage(intact, "p") && first > InnerPage(intact, "p"));
  QVERIFY(CopyDatabase(intact, damaged));
  QVERIFY(TruncateFile(damaged, (first - 1) * 1024));

  const Tally tally = Recover(intact, damaged);
  QCOMPARE(tally.wrong, std::int64_t{0});
  const QString out = LastOut();
  for (const QString& want : {QStringLiteral("p"), QStringLiteral("q")}) {
    const RefTable source = ReadReferenceTable(intact, want);
    int holders = 0;
    for (const QString& name : ReadReferenceSchema(out).tables) {
      const RefTable got = ReadReferenceTable(out, name);
      if (got.rows.size() != source.rows.size() || got.columns.size() != source.columns.size())
        continue;
      bool all = true;
      for (const RefRow& row : got.rows) {
        const RefRow* match = FindRow(source, row.rowid);
        all = all && match != nullptr && SameRow(row.values, *match, true);
      }
      if (all) {
        ++holders;
        QVERIFY2(name.startsWith(QLatin1String("recovered_table_")), qPrintable(name));
      }
    }
    QVERIFY2(holders == 1, qPrintable(want));
  }
}

// One byte of the payload-size varint of the first cell of a table leaf
// changed: the leaf is still reached through its table's tree, so its other
// rows stay in their table and the damaged cell costs at most its own row.
void TestOrphans::damagedCellPayloadSize_data() {
  QTest::addColumn<int>("change");  // what is done to the varint's byte
  QTest::newRow("continuation bit set (swallows the rowid)") << 0;
  QTest::newRow("larger than the record") << 1;
  QTest::newRow("smaller than the record") << 2;
  QTest::newRow("zero") << 3;
}

void TestOrphans::damagedCellPayloadSize() {
  QFETCH(int, change);
  const QString folder = NewTestFolder(QStringLiteral("cell"));
  const QString intact = folder + QStringLiteral("/intact.db");
  const QString damaged = folder + QStringLiteral("/damaged.db");
  {
    DbOptions options;
    options.pageSize = 4096;
    DbBuilder db(intact, options);
    db.Exec(QStringLiteral(
        "CREATE TABLE t(a INTEGER, b TEXT);"
        "CREATE TABLE u(a INTEGER, b TEXT);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
        "INSERT INTO t(rowid, a, b) SELECT i, i * 7, 'row-' || i FROM n;"
        "INSERT INTO u(rowid, a, b) SELECT rowid, a + 1, b || 'u' FROM t;"));
    QVERIFY2(db.Close(), qPrintable(db.LastError()));
  }
  QVERIFY(CopyDatabase(intact, damaged));
  const PageProbe probe(intact);
  const TreePages tree = probe.Tree(RootPage(intact, QStringLiteral("t")));
  QVERIFY(tree.leaves.size() > 3);
  const std::int64_t leaf = tree.leaves.at(1);
  QVERIFY(probe.CellCount(leaf) > 100);
  const CellInfo cell = probe.Cells(leaf).first();
  const std::int64_t at = probe.PageOffset(leaf) + cell.offset;
  const auto byte = static_cast<std::uint8_t>(probe.Data().at(at));
  const std::uint8_t changed[] = {std::uint8_t(byte | 0x80), std::uint8_t(byte + 9),
                                  std::uint8_t(byte - 3), 0};
  QVERIFY(PatchBytes(damaged, at, QByteArray(1, char(changed[change]))));

  const Tally tally = Recover(intact, damaged);
  QCOMPARE(tally.wrong, std::int64_t{0});
  QCOMPARE(tally.lostAndFound, std::int64_t{0});
  QCOMPARE(tally.putBack, std::int64_t{0});
  QVERIFY2(tally.own >= tally.reference - 1,
           qPrintable(
               QStringLiteral("%1 of %2 rows in their table").arg(tally.own).arg(tally.reference)));
}

#include "tst_orphans.moc"
