// The working database: replay of the recovered CREATE TABLE statements and
// where the database lives.
#include <sqlite3.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "EngineTestUtil.h"
#include "engine/SQLiteRecovery.h"
#include "platform/Folders.h"

using namespace velmora;
using namespace enginetest;

namespace {

QString TableSql(const QString& name) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(CSQLiteRecovery::WorkingConnection(),
                     "SELECT sql FROM sqlite_master WHERE name = ?1", -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, name.toUtf8().constData(), -1, SQLITE_TRANSIENT);
  QString sql;
  if (sqlite3_step(stmt) == SQLITE_ROW)
    sql = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  return sql;
}

QString Row(const QString& name, const QString& sql) {
  return QStringLiteral("table,%1,%1,2,%2").arg(name, sql);
}

}  // namespace

class TestWorkingDb : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;

 private slots:
  void init() { SetProgramFolderOverride(m_dir.path()); }
  void cleanup() {
    CSQLiteRecovery::CloseWorkingDatabase();
    SetProgramFolderOverride(QString());
  }

  void replay_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("tables");
    QTest::newRow("plain") << QStringList{Row("t1", "CREATE TABLE t1(a INTEGER, b TEXT)")}
                           << QStringList{"t1"};
    QTest::newRow("truncated statement fails alone")
        << QStringList{Row("a", "CREATE TABLE a(x"), Row("b", "CREATE TABLE b(y)")}
        << QStringList{"b"};
    QTest::newRow("duplicate name listed once")
        << QStringList{Row("d", "CREATE TABLE d(x)"), Row("d", "CREATE TABLE d(y, z)")}
        << QStringList{"d"};
    QTest::newRow("schema order kept")
        << QStringList{Row("z", "CREATE TABLE z(x)"), Row("a", "CREATE TABLE a(x)")}
        << QStringList{"z", "a"};
    QTest::newRow("without rowid and unique")
        << QStringList{Row("w", "CREATE TABLE w(k TEXT PRIMARY KEY, v UNIQUE) WITHOUT ROWID")}
        << QStringList{"w"};
    // Hostile texts from a damaged file: only the creation of one table runs.
    QTest::newRow("create as select refused")
        << QStringList{Row("q",
                           "CREATE TABLE q AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                           "SELECT x+1 FROM c) SELECT x FROM c")}
        << QStringList{};
    QTest::newRow("second statement ignored")
        << QStringList{Row("s", "CREATE TABLE s(x); CREATE TABLE extra(y)")} << QStringList{"s"};
    QTest::newRow("attach refused")
        << QStringList{"table,x,x,2,ATTACH 'evil.db' AS e"} << QStringList{};
    QTest::newRow("temp table refused")
        << QStringList{Row("tt", "CREATE TEMP TABLE tt(x)")} << QStringList{};
  }
  void replay() {
    QFETCH(QStringList, rows);
    QFETCH(QStringList, tables);
    CSQLiteRecovery engine;
    engine.m_lstTableRows = rows;
    const QString path = engine.BuildWorkingDatabase();
    QCOMPARE(path, m_dir.path() + QStringLiteral("/SQLiteDb.db"));
    QCOMPARE(engine.m_strWorkDbPath, path);
    QCOMPARE(engine.m_lstTableNames, tables);
    QVERIFY(!QFile::exists(m_dir.path() + QStringLiteral("/evil.db")));
  }

  void collations_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("created");
    QTest::newRow("UTF16 becomes BINARY") << "CREATE TABLE c(a TEXT COLLATE UTF16, b)"
                                          << "CREATE TABLE c(a TEXT COLLATE BINARY, b)";
    QTest::newRow("UNICODE removed, blanks stay") << "CREATE TABLE c(a TEXT COLLATE UNICODE , b)"
                                                  << "CREATE TABLE c(a TEXT  , b)";
    QTest::newRow("case-sensitive") << "CREATE TABLE c(a TEXT collate nocase)"
                                    << "CREATE TABLE c(a TEXT collate nocase)";
  }
  void collations() {
    QFETCH(QString, sql);
    QFETCH(QString, created);
    CSQLiteRecovery engine;
    engine.m_lstTableRows = {Row("c", sql)};
    engine.BuildWorkingDatabase();
    QCOMPARE(engine.m_lstTableNames, QStringList{"c"});
    QCOMPARE(TableSql("c"), created);
    QCOMPARE(engine.m_strCurrentSql, created);
  }

  void staleDatabaseReplaced() {
    const QString path = m_dir.path() + QStringLiteral("/SQLiteDb.db");
    QVERIFY(BuildDb(path, {}, QStringLiteral("CREATE TABLE stale(x)")));
    CSQLiteRecovery engine;
    engine.m_lstTableRows = {Row("fresh", "CREATE TABLE fresh(x)")};
    engine.BuildWorkingDatabase();
    QCOMPARE(engine.m_lstTableNames, QStringList{"fresh"});
    QCOMPARE(CSQLiteRecovery::CloseWorkingDatabase(), 0);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(CSQLiteRecovery::CloseWorkingDatabase(), 0);  // nothing open any more
  }

  void noTableRowsGiveEmptyDatabase() {
    CSQLiteRecovery engine;
    const QString path = engine.BuildWorkingDatabase();
    QVERIFY(QFile::exists(path));
    QVERIFY(engine.m_lstTableNames.isEmpty());
  }

  void programFolderNotWritable() {
    // A "folder" that is a regular file can never take the database, whoever
    // runs the test; the per-user data folder takes over.
    QFile blocker(m_dir.path() + QStringLiteral("/blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/data")));
    SetProgramFolderOverride(blocker.fileName() + QStringLiteral("/bin"));
    CSQLiteRecovery engine;
    engine.m_lstTableRows = {Row("t", "CREATE TABLE t(x)")};
    MessageRecorder messages;
    const QString path = engine.BuildWorkingDatabase();
    QCOMPARE(path,
             m_dir.path() + QStringLiteral("/data/Velmora SQLite Database Recovery/SQLiteDb.db"));
    QCOMPARE(engine.m_lstTableNames, QStringList{"t"});
    QVERIFY(messages.texts.isEmpty());
    qputenv("XDG_DATA_HOME", oldData);
  }

  void workingDatabaseCannotBeCreated() {
    QFile blocker(m_dir.path() + QStringLiteral("/blocker2"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName() + QStringLiteral("/data")));
    SetProgramFolderOverride(blocker.fileName() + QStringLiteral("/bin"));
    CSQLiteRecovery engine;
    engine.m_lstTableRows = {Row("t", "CREATE TABLE t(x)")};
    MessageRecorder messages;
    const QString path = engine.BuildWorkingDatabase();
    qputenv("XDG_DATA_HOME", oldData);
    QVERIFY(engine.m_lstTableNames.isEmpty());
    QVERIFY(CSQLiteRecovery::WorkingConnection() == nullptr);
    QCOMPARE(messages.texts.size(), 1);
    QVERIFY(messages.texts.at(0).contains(path));
  }
};

QTEST_GUILESS_MAIN(TestWorkingDb)
#include "tst_workingdb.moc"
