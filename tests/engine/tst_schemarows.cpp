// Name helpers of schema objects and the sorting of schema rows.
#include <QtTest>

#include "engine/schema/SchemaCatalog.h"
#include "engine/schema/SchemaRows.h"

using namespace velmora;

class TestSchemaRows : public QObject {
  Q_OBJECT
 private slots:
  void stripBrackets_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("both") << "[my table]"
                          << "my table";
    QTest::newRow("leading only") << "[x"
                                  << "[x";
    QTest::newRow("trailing only") << "x]"
                                   << "x]";
    QTest::newRow("bracketed word at the end") << "weird [name]"
                                               << "weird [name]";
    QTest::newRow("inner kept") << "a[b]c"
                                << "a[b]c";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("just brackets") << "[]"
                                   << "";
  }
  void stripBrackets() {
    QFETCH(QString, text);
    QFETCH(QString, stripped);
    QCOMPARE(StripBrackets(text), stripped);
  }

  // Lookups by name give the first object in catalog order, as a pass over
  // the objects would, whatever the order in which kinds and names come.
  void catalogLookup_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");   // SchemaKind
    QTest::addColumn<int>("found");  // position in the catalog, -1: none
    QTest::newRow("table") << "t" << int(SchemaKind::Table) << 1;
    QTest::newRow("index of the same name") << "t" << int(SchemaKind::Index) << 0;
    QTest::newRow("first of two tables") << "dup" << int(SchemaKind::Table) << 2;
    QTest::newRow("loose: brackets and quotes") << "[\"v t\"]" << int(SchemaKind::Table) << 4;
    QTest::newRow("exact before loose") << "[x]" << int(SchemaKind::Table) << 6;
    QTest::newRow("letter case differs") << "T" << int(SchemaKind::Table) << -1;
    QTest::newRow("no such kind") << "dup" << int(SchemaKind::View) << -1;
    QTest::newRow("unknown") << "none" << int(SchemaKind::Table) << -1;
  }
  void catalogLookup() {
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(int, found);
    SchemaCatalog catalog;
    SchemaObject stale;  // Clear drops it from the index as well
    stale.name = QStringLiteral("none");
    stale.kinds.table = true;
    catalog.Add(stale);
    catalog.Clear();
    auto add = [&catalog](const QString& objectName, bool table, bool index, bool virtualTable) {
      SchemaObject object;
      object.name = objectName;
      object.kinds.table = table;
      object.kinds.index = index;
      object.virtualTable = virtualTable;
      catalog.Add(object);
    };
    add("t", false, true, false);    // 0
    add("t", true, false, false);    // 1
    add("dup", true, false, false);  // 2
    add("dup", true, false, true);   // 3
    add("v t", true, false, false);  // 4
    add("x", true, false, false);    // 5
    add("[x]", true, false, false);  // 6
    const SchemaObject* object = kind == int(SchemaKind::Table)
                                     ? catalog.FindTable(name)
                                     : catalog.Find(static_cast<SchemaKind>(kind), name);
    const int at = object == nullptr ? -1 : int(object - catalog.Objects().data());
    QCOMPARE(at, found);
    QCOMPARE(catalog.VirtualTables().size(), std::size_t(1));
    QCOMPARE(catalog.VirtualTables().front(), &catalog.Objects()[3]);
  }

  void classify_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("lastText");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("lists");  // letters t i v g (trigger)
    const QString t1 = QStringLiteral("CREATE TABLE t1(a INTEGER, b TEXT)");
    QTest::newRow("table") << "table"
                           << "t1" << t1 << t1 << "t";
    QTest::newRow("table named REVIEWS is no view") << "table"
                                                    << "REVIEWS"
                                                    << "CREATE TABLE REVIEWS(id)"
                                                    << "CREATE TABLE REVIEWS(id)"
                                                    << "t";
    QTest::newRow("table with INDEX in a column name") << "table"
                                                       << "x"
                                                       << "CREATE TABLE x(INDEXED_AT)"
                                                       << "CREATE TABLE x(INDEXED_AT)"
                                                       << "t";
    QTest::newRow("sqlite_sequence") << "table"
                                     << "sqlite_sequence"
                                     << "CREATE TABLE sqlite_sequence(name,seq)"
                                     << "CREATE TABLE sqlite_sequence(name,seq)"
                                     << "";
    QTest::newRow("table mentioning sqlite_sequence is kept")
        << "table"
        << "log"
        << "CREATE TABLE log(note DEFAULT 'sqlite_sequence')"
        << "CREATE TABLE log(note DEFAULT 'sqlite_sequence')"
        << "t";
    QTest::newRow("table row without CREATE TABLE") << "table"
                                                    << "t"
                                                    << "garbage"
                                                    << "garbage"
                                                    << "";
    QTest::newRow("index") << "index"
                           << "i1"
                           << "CREATE INDEX i1 ON t1(a)"
                           << "CREATE INDEX i1 ON t1(a)"
                           << "i";
    QTest::newRow("unique index") << "index"
                                  << "i2"
                                  << "CREATE UNIQUE INDEX i2 ON t1(b)"
                                  << "CREATE UNIQUE INDEX i2 ON t1(b)"
                                  << "i";
    QTest::newRow("automatic index") << "index"
                                     << "sqlite_autoindex_t1_1"
                                     << "t1"
                                     << ""
                                     << "";
    QTest::newRow("view") << "view"
                          << "v"
                          << "CREATE VIEW v AS SELECT 1"
                          << "CREATE VIEW v AS SELECT 1"
                          << "v";
    QTest::newRow("trigger mentioning MYVIEW")
        << "trigger"
        << "tr"
        << "CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT * FROM MYVIEW; END"
        << "CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT * FROM MYVIEW; END"
        << "g";
    // A damaged type field: the substring tests decide.
    QTest::newRow("damaged: trigger with view") << "tr\xc3\xa9"
                                                << "tr"
                                                << "CREATE TRIGGER tr ... MYVIEW"
                                                << ""
                                                << "vg";
    QTest::newRow("damaged: table") << ""
                                    << "t"
                                    << "CREATE TABLE t(x)"
                                    << ""
                                    << "t";
    QTest::newRow("damaged: sqlite_sequence") << ""
                                              << ""
                                              << "CREATE TABLE sqlite_sequence(name,seq)"
                                              << ""
                                              << "";
    QTest::newRow("damaged: lower case") << ""
                                         << ""
                                         << "create table t2(x)"
                                         << ""
                                         << "";
    QTest::newRow("damaged: no text at all") << ""
                                             << ""
                                             << ""
                                             << ""
                                             << "";
  }
  void classify() {
    QFETCH(QString, type);
    QFETCH(QString, name);
    QFETCH(QString, lastText);
    QFETCH(QString, sql);
    QFETCH(QString, lists);
    const SchemaRowClass c = ClassifySchemaRow(type, name, lastText, sql);
    QString got;
    if (c.table) got += QLatin1Char('t');
    if (c.index) got += QLatin1Char('i');
    if (c.view) got += QLatin1Char('v');
    if (c.trigger) got += QLatin1Char('g');
    QCOMPARE(got, lists);
  }
};

QTEST_GUILESS_MAIN(TestSchemaRows)
#include "tst_schemarows.moc"
