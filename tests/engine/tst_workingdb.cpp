// The working database: replay of the recovered CREATE TABLE statements and
// where the database lives.
#include <sqlite3.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "EngineTestUtil.h"
#include "engine/schema/SqliteDb.h"
#include "engine/schema/WorkingDatabase.h"
#include "engine/session/SQLiteRecovery.h"
#include "platform/Folders.h"

using namespace velmora;
using namespace enginetest;

namespace {

QString TableSql(sqlite3* db, const QString& name) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = ?1", -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, name.toUtf8().constData(), -1, SQLITE_TRANSIENT);
  QString sql;
  if (sqlite3_step(stmt) == SQLITE_ROW)
    sql = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  return sql;
}

// Replays `statements` into a fresh working database at `path`; the tables it
// accepted. *made (when given) gathers NewTables() after each statement.
QStringList ReplayAll(WorkingDatabase& working, const QString& folder,
                      const QStringList& statements, QStringList* made = nullptr) {
  QString error;
  if (!working.CreateIn(folder, &error)) return {QStringLiteral("create failed: ") + error};
  for (const QString& sql : statements) {
    working.Replay(sql);
    if (made != nullptr) *made += working.NewTables();
  }
  working.Commit();
  return working.TableNames();
}

}  // namespace

class TestWorkingDb : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;

 private slots:
  void init() { SetProgramFolderOverride(m_dir.path()); }
  void cleanup() { SetProgramFolderOverride(QString()); }

  void replay_data() {
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QStringList>("tables");
    QTest::newRow("plain") << QStringList{"CREATE TABLE t1(a INTEGER, b TEXT)"}
                           << QStringList{"t1"};
    QTest::newRow("truncated statement fails alone")
        << QStringList{"CREATE TABLE a(x", "CREATE TABLE b(y)"} << QStringList{"b"};
    QTest::newRow("duplicate name listed once")
        << QStringList{"CREATE TABLE d(x)", "CREATE TABLE d(y, z)"} << QStringList{"d"};
    QTest::newRow("schema order kept")
        << QStringList{"CREATE TABLE z(x)", "CREATE TABLE a(x)"} << QStringList{"z", "a"};
    QTest::newRow("without rowid and unique")
        << QStringList{"CREATE TABLE w(k TEXT PRIMARY KEY, v UNIQUE) WITHOUT ROWID"}
        << QStringList{"w"};
    // Hostile texts from a damaged file: only the creation of one table runs.
    QTest::newRow("create as select refused")
        << QStringList{"CREATE TABLE q AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                       "SELECT x+1 FROM c) SELECT x FROM c"}
        << QStringList{};
    QTest::newRow("second statement ignored")
        << QStringList{"CREATE TABLE s(x); CREATE TABLE extra(y)"} << QStringList{"s"};
    QTest::newRow("attach refused") << QStringList{"ATTACH 'evil.db' AS e"} << QStringList{};
    QTest::newRow("temp table refused") << QStringList{"CREATE TEMP TABLE tt(x)"} << QStringList{};
    QTest::newRow("autoincrement brings sqlite_sequence")
        << QStringList{"CREATE TABLE p(x)", "CREATE TABLE s(id INTEGER PRIMARY KEY AUTOINCREMENT)",
                       "CREATE TABLE u(v UNIQUE)"}
        << QStringList{"p", "s", "sqlite_sequence", "u"};
  }
  void replay() {
    QFETCH(QStringList, statements);
    QFETCH(QStringList, tables);
    WorkingDatabase working;
    QStringList made;
    QCOMPARE(ReplayAll(working, m_dir.path(), statements, &made), tables);
    // The tables each statement made, read past the last schema row seen,
    // are the tables of the schema in its order.
    QCOMPARE(made, tables);
    for (const QString& table : tables) QVERIFY(working.Holds(table.toUpper()));
    QVERIFY(!working.Holds(QStringLiteral("sqlite_schema")));
    QVERIFY(!working.Holds(QStringLiteral("extra")));
    const QString path = working.Path();
    QCOMPARE(QFileInfo(path).absolutePath(), m_dir.path());
    QVERIFY(!QFile::exists(m_dir.path() + QStringLiteral("/evil.db")));
    working.Close();
    QVERIFY(!QFile::exists(path));
  }

  void collations_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("UTF16") << "CREATE TABLE c(a TEXT COLLATE UTF16, b)";
    QTest::newRow("UNICODE, blanks kept") << "CREATE TABLE c(a TEXT COLLATE UNICODE , b)";
    QTest::newRow("LOCALIZED unique") << "CREATE TABLE c(a TEXT COLLATE LOCALIZED UNIQUE)";
    QTest::newRow("known, case kept") << "CREATE TABLE c(a TEXT collate nocase)";
  }
  void collations() {
    // A collation the library lacks gets a stand-in: the statement is replayed exactly.
    QFETCH(QString, sql);
    WorkingDatabase working;
    QCOMPARE(ReplayAll(working, m_dir.path(), {sql}), QStringList{"c"});
    QCOMPARE(TableSql(working.Db(), "c"), sql);
  }

  void otherFilesKept() {
    // Files of the old fixed name (a user's own database and its journal)
    // and another session's database in the same folder stay as they are.
    const QString folder = m_dir.path() + QStringLiteral("/shared");
    QVERIFY(QDir().mkpath(folder));
    SetProgramFolderOverride(folder);
    const QString userDb = folder + QStringLiteral("/SQLiteDb.db");
    QVERIFY(BuildDb(userDb, {}, QStringLiteral("CREATE TABLE mine(x)")));
    QFile journal(userDb + QStringLiteral("-journal"));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.close();
    QString first, second;
    {
      CSQLiteRecovery one, two;
      const CSQLiteRecovery::WorkingDbOutcome a = one.BuildWorkingDatabase();
      const CSQLiteRecovery::WorkingDbOutcome b = two.BuildWorkingDatabase();
      QVERIFY(a.message.isEmpty() && b.message.isEmpty());
      first = a.path;
      second = b.path;
      QVERIFY(first != second && first != userDb && second != userDb);
      QCOMPARE(one.WorkingDbPath(), first);
      QVERIFY(one.TableNames().isEmpty());
      QVERIFY(QFile::exists(first) && QFile::exists(second));
    }
    // Each session deletes its own database when it ends, and nothing else.
    QVERIFY(!QFile::exists(first) && !QFile::exists(second));
    QVERIFY(QFile::exists(userDb) && QFile::exists(userDb + QStringLiteral("-journal")));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
  }

  void chosenFolderHasNoFallBack() {
    // A folder named by the user that takes no file is reported; the
    // database does not go elsewhere.
    const QString file = m_dir.path() + QStringLiteral("/plainfile");
    QFile plain(file);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    WorkingDatabase::SetFolder(file);
    CSQLiteRecovery engine;
    const CSQLiteRecovery::WorkingDbOutcome outcome = engine.BuildWorkingDatabase();
    WorkingDatabase::SetFolder(QString());
    QVERIFY(engine.WorkingDb() == nullptr);
    QVERIFY(outcome.message.startsWith(QStringLiteral("The working database cannot be created:")));
    QVERIFY(outcome.message.contains(file));
  }

  // Where the working database goes when the program's own folder will not
  // do: a "folder" that is a regular file (never writable, whoever runs the
  // test), or the folder of an installed program (never written into).
  void programFolderNotUsed_data() {
    QTest::addColumn<QString>("program");        // relative to the test folder
    QTest::addColumn<QString>("installedDocs");  // made beside it; empty: none
    QTest::newRow("not a folder") << "blocker/bin"
                                  << "";
    QTest::newRow("an installed program") << "usr/bin"
                                          << "usr/share/doc/velmora-sqlite-recovery";
  }

  void programFolderNotUsed() {
    QFETCH(QString, program);
    QFETCH(QString, installedDocs);
    const QString root = m_dir.path() + QStringLiteral("/") + QTest::currentDataTag();
    QVERIFY(QDir().mkpath(root));
    QFile blocker(root + QStringLiteral("/blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    if (!installedDocs.isEmpty()) {
      QVERIFY(QDir().mkpath(root + QStringLiteral("/") + program));
      QVERIFY(QDir().mkpath(root + QStringLiteral("/") + installedDocs));
    }
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    SetProgramFolderOverride(root + QStringLiteral("/") + program);
    const QString damaged = root + QStringLiteral("/t.db");
    QVERIFY(BuildDb(damaged, {}, QStringLiteral("CREATE TABLE t(x)")));
    CSQLiteRecovery engine;
    QVERIFY(engine.ScanDatabase(damaged) == CSQLiteRecovery::ScanOutcome::Opened);
    const CSQLiteRecovery::WorkingDbOutcome outcome = engine.BuildWorkingDatabase();
    qputenv("XDG_CACHE_HOME", oldCache);
    QCOMPARE(QFileInfo(outcome.path).absolutePath(),
             root + QStringLiteral("/cache/") + QCoreApplication::applicationName());
    QCOMPARE(engine.TableNames(), QStringList{"t"});
    QVERIFY(outcome.message.isEmpty());
    QVERIFY(QDir(root + QStringLiteral("/usr/bin")).isEmpty());
  }

  // A statement is finalized when it is prepared again, moved over, or goes
  // out of scope, even one left in the middle of its rows: the connection
  // then closes at once (sqlite3_close refuses while any statement lives).
  void statementsAreFinalized() {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
    {
      Statement first(db, "SELECT 1 UNION ALL SELECT 2");
      QVERIFY(first.Ok());
      QCOMPARE(first.Step(), SQLITE_ROW);
      QCOMPARE(first.Prepare(db, "SELECT 3"), SQLITE_OK);
      Statement second = std::move(first);
      QVERIFY(!first.Ok());
      Statement third(db, "SELECT 4");
      third = std::move(second);
      QCOMPARE(third.Step(), SQLITE_ROW);
      QCOMPARE(sqlite3_column_int(third, 0), 3);
      Statement broken(db, "SELEC");
      QVERIFY(!broken.Ok());
    }
    QCOMPARE(sqlite3_close(db), SQLITE_OK);
  }

  void workingDatabaseCannotBeCreated() {
    QFile blocker(m_dir.path() + QStringLiteral("/blocker2"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(blocker.fileName() + QStringLiteral("/cache")));
    SetProgramFolderOverride(blocker.fileName() + QStringLiteral("/bin"));
    CSQLiteRecovery engine;
    MessageRecorder messages;
    const CSQLiteRecovery::WorkingDbOutcome outcome = engine.BuildWorkingDatabase();
    qputenv("XDG_CACHE_HOME", oldCache);
    QVERIFY(engine.TableNames().isEmpty());
    QVERIFY(engine.WorkingDb() == nullptr);
    QVERIFY(messages.texts.isEmpty());  // the session shows nothing itself
    QVERIFY(outcome.message.startsWith(QStringLiteral("The working database cannot be created:")));
    QVERIFY(outcome.message.contains(outcome.path));
  }
};

QTEST_GUILESS_MAIN(TestWorkingDb)
#include "tst_workingdb.moc"
