// Declared-type affinity, the private temporary folder and the column value
// stores: the parts of the output that need no damaged file.
#include <linux/magic.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "output/ColumnStoreSet.h"
#include "output/ColumnStores.h"
#include "platform/TempFolder.h"

using namespace velmora;

namespace {

// A grid that counts its notifications.
class CountingGrid : public StoreBackedGrid {
 public:
  int columnsChanged = 0, rowsAppended = 0, resets = 0;

 protected:
  void OnColumnsChanged() override { ++columnsChanged; }
  void OnRowsAppended(int, int) override { ++rowsAppended; }
  void OnRowsReset() override { ++resets; }
};

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

class OutputLocalTest : public QObject {
  Q_OBJECT

 private slots:
  // Every test gets a fresh temporary directory of its own as TMPDIR.
  void init() {
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp->path()));
    m_user = m_tmp->path() + QStringLiteral("/ZORSQLI-") + QString::number(getuid());
  }
  void cleanup() {
    qunsetenv("TMPDIR");
    m_tmp.reset();
  }

  void guidName() {
    const QUuid id(0x0012ABCD, 0x00F0, 0x4001, 0x8A, 0x05, 0x00, 0x1C, 0x2D, 0x3E, 0x4F, 0x06);
    QCOMPARE(FormatGuidName(id), QStringLiteral("12ABCD-F0-4001-8A5-01C2D3E4F6"));
    const QString a = MakeGuidName(), b = MakeGuidName();
    QVERIFY(a != b);
    QVERIFY(QRegularExpression(
                "^[0-9A-F]{1,8}-[0-9A-F]{1,4}-[0-9A-F]{1,4}-[0-9A-F]{2,4}-[0-9A-F]{6,12}$")
                .match(a)
                .hasMatch());
  }

  void tempFolderIsPrivate() {
    QVERIFY(!QFileInfo::exists(m_user));
    const QString path = MakeTempFilePath();
    QVERIFY(!path.isEmpty());
    QVERIFY(!QFileInfo::exists(path));
    const QString folder = GetTempFolderPath();
    QVERIFY(folder.endsWith('/'));
    QVERIFY(path.startsWith(folder));
    QVERIFY(folder.startsWith(m_user + '/'));
    for (const QString& dir : {m_user, folder.chopped(1)}) {
      struct stat st {};
      QCOMPARE(lstat(QFile::encodeName(dir).constData(), &st), 0);
      QVERIFY(S_ISDIR(st.st_mode));
      QCOMPARE(st.st_uid, getuid());
      QCOMPARE(st.st_mode & 0777, 0700u);
    }
  }

  void tempFolderRefusesLinkAndForeignEntries_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("symlink to a directory") << "link";
    QTest::newRow("regular file") << "file";
  }
  void tempFolderRefusesLinkAndForeignEntries() {
    QFETCH(QString, kind);
    const QString target = m_tmp->path() + "/elsewhere";
    QVERIFY(QDir().mkpath(target));
    if (kind == "link") {
      QVERIFY(QFile::link(target, m_user));
    } else {
      WriteFile(m_user, "x");
    }
    QVERIFY(GetTempFolderPath().isEmpty());
    QVERIFY(MakeTempFilePath().isEmpty());
    QVERIFY(GetColumnStoreFolderPath().isEmpty());
    QVERIFY(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
  }

  void tempFolderNarrowsOwnModes() {
    QVERIFY(QDir().mkpath(m_user));
    QVERIFY(chmod(QFile::encodeName(m_user).constData(), 0777) == 0);
    QVERIFY(!GetTempFolderPath().isEmpty());
    struct stat st {};
    QCOMPARE(lstat(QFile::encodeName(m_user).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
  }

  // The emptying removes long-value files and nested folders, keeps the
  // stores sub-folder, and removes a symbolic link without touching what it
  // points to.
  void emptyingKeepsStoresAndNeverFollowsLinks() {
    const QString outside = m_tmp->path() + "/outside";
    QVERIFY(QDir().mkpath(outside));
    WriteFile(outside + "/precious", "keep me");
    const QString longValue = MakeTempFilePath();
    WriteFile(longValue, "long value");
    const QString folder = GetTempFolderPath();
    QVERIFY(QDir().mkpath(folder + "nested/deeper"));
    WriteFile(folder + "nested/deeper/f", "x");
    QVERIFY(QFile::link(outside, folder + "link"));
    QVERIFY(QFile::link(outside + "/precious", folder + "filelink"));
    const QString stores = GetColumnStoreFolderPath();
    WriteFile(stores + "0SQlite.db", "store");

    QVERIFY(!EmptyTempFolder());  // the stores keep the folder
    QVERIFY(!QFileInfo::exists(longValue));
    QVERIFY(!QFileInfo::exists(folder + "nested"));
    QVERIFY(!QFileInfo(folder + "link").isSymLink());
    QVERIFY(!QFileInfo(folder + "filelink").isSymLink());
    QVERIFY(QFileInfo::exists(stores + "0SQlite.db"));
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"precious"});

    // Without stores, the folder itself goes; nothing to do afterwards.
    QVERIFY(DeleteFolderTree(stores));
    MakeTempFilePath();
    QVERIFY(EmptyTempFolder());
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(!EmptyTempFolder());
  }

  void deleteFolderTreeRefusesLinkAndEmpty() {
    QVERIFY(!DeleteFolderTree(QString()));
    const QString real = m_tmp->path() + "/real";
    QVERIFY(QDir().mkpath(real));
    WriteFile(real + "/f", "x");
    QVERIFY(QFile::link(real, m_tmp->path() + "/alias"));
    QVERIFY(!DeleteFolderTree(m_tmp->path() + "/alias"));
    QVERIFY(!DeleteFolderTree(m_tmp->path() + "/alias/"));
    QVERIFY(QFileInfo::exists(real + "/f"));
  }

  void staleWorkFoldersRemoved() {
    QVERIFY(QDir().mkpath(m_user + "/999999998/stores"));
    WriteFile(m_user + "/999999998/leftover", "x");
    QVERIFY(QDir().mkpath(m_user + "/notapid"));
    QVERIFY(!GetTempFolderPath().isEmpty());
    QVERIFY(!QFileInfo::exists(m_user + "/999999998"));
    QVERIFY(QFileInfo::exists(m_user + "/notapid"));
  }

  // Without TMPDIR, long values go to a memory file system when there is one;
  // the stores stay under the temporary directory. The emptying covers both.
  void longValuesInMemoryFolder() {
    qunsetenv("TMPDIR");
    const QString longFolder = GetTempFolderPath();
    const QString storeFolder = GetColumnStoreFolderPath();
    QVERIFY(!longFolder.isEmpty());
    QVERIFY(!storeFolder.isEmpty());
    QVERIFY(storeFolder.startsWith(QDir::tempPath() + "/ZORSQLI-"));
    struct statfs fs {};
    const bool memory = statfs("/dev/shm", &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    if (memory && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
      QVERIFY2(longFolder.startsWith("/dev/shm/ZORSQLI-"), qPrintable(longFolder));
    for (const QString& dir : {longFolder.chopped(1), storeFolder.chopped(1)}) {
      struct stat st {};
      QCOMPARE(lstat(QFile::encodeName(dir).constData(), &st), 0);
      QCOMPARE(st.st_mode & 0777, 0700u);
    }
    const QString longValue = MakeTempFilePath();
    QVERIFY(longValue.startsWith(longFolder));
    // A value larger than the memory folder can hold goes to the disk folder,
    // so that a full memory file system cannot cut it short.
    const QString diskFolder = GetDiskTempFolderPath();
    QVERIFY(diskFolder.startsWith(QDir::tempPath() + "/ZORSQLI-"));
    QCOMPARE(GetTempFolderPathFor(std::int64_t(1) << 60), diskFolder);
    QCOMPARE(GetTempFolderPathFor(16), longFolder);
    WriteFile(longValue, "bytes");
    WriteFile(storeFolder + "0SQlite.db", "store");
    EmptyTempFolder();
    QVERIFY(!QFileInfo::exists(longValue));
    QVERIFY(QFileInfo::exists(storeFolder + "0SQlite.db"));
    QVERIFY(DeleteFolderTree(storeFolder.section('/', 0, -3)));
    DeleteFolderTree(longFolder);
  }

  // --- column value stores -------------------------------------------------

  void storeCellTexts_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    const QString k2000 = QString(2000, 'x');
    const QString k1000 = QString(1000, 'y');
    const QString k1001 = QString(1001, 'z');
    QTest::newRow("2000 chars, first column") << 0 << k2000 << k2000;
    QTest::newRow("2000 chars, second column") << 1 << k2000 << k2000.left(1000) + "<more data>...";
    QTest::newRow("exactly 1000") << 1 << k1000 << k1000;
    QTest::newRow("1001 gives 1014") << 2 << k1001 << k1001.left(1000) + "<more data>...";
    QTest::newRow("quotes, second column") << 1 << "say \"hi\""
                                           << "say \"hi\"";
    QTest::newRow("quote, first column") << 0 << "a\"b"
                                         << "a\"b";
    QTest::newRow("apostrophe") << 1 << "O'Brien"
                                << "O'Brien";
    QTest::newRow("SQL-looking") << 2 << "x\"); DROP TABLE \"table\"; --"
                                 << "x\"); DROP TABLE \"table\"; --";
    QTest::newRow("empty") << 1 << ""
                           << "";
    const QString pair = QString(999, 'a') + QString::fromUtf8("\xf0\x9f\x98\x80") + "tail";
    QTest::newRow("surrogate pair at the cut") << 1 << pair << QString(999, 'a') + "<more data>...";
    QTest::newRow("non-ascii") << 1 << QString::fromUtf8("\xc3\xa9t\xc3\xa9 \xe6\x97\xa5")
                               << QString::fromUtf8("\xc3\xa9t\xc3\xa9 \xe6\x97\xa5");
  }
  void storeCellTexts() {
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(QString, stored);
    StoreBackedGrid grid;
    for (int c = 0; c < 3; ++c) grid.AddGridColumn(c, QString("c%1").arg(c));
    grid.AddGridCell(0, column == 0 ? text : "first");
    if (column != 0) grid.AddGridCell(column, text);
    QCOMPARE(grid.CellText(0, column), stored);
    grid.Flush();
    QCOMPARE(grid.CellText(0, column), stored);
  }

  void storesFilesAndIds() {
    CountingGrid grid;
    const QStringList captions{"id", "first name", "a\"b"};
    for (int c = 0; c < 3; ++c) grid.AddGridColumn(c, captions[c]);
    QCOMPARE(grid.ColumnCount(), 3);
    QCOMPARE(grid.ColumnCaption(2), QStringLiteral("a\"b"));
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 3; ++c) grid.AddGridCell(c, QString("r%1c%2").arg(r).arg(c));
    }
    QCOMPARE(grid.ItemCount(), 2);
    QCOMPARE(grid.rowsAppended, 2);
    const QStringList paths = grid.StorePaths();
    QCOMPARE(paths.size(), 3);
    for (int c = 0; c < 3; ++c) {
      QVERIFY2(paths[c].endsWith(QString("/%1SQlite.db").arg(c)), qPrintable(paths[c]));
      QVERIFY(paths[c].startsWith(GetColumnStoreFolderPath()));
    }
    grid.Flush();
    for (const QString& path : paths) {
      QVERIFY(QFileInfo::exists(path));
      // SQLite's own reading of the store: ids 0 and 1.
      sqlite3* db = nullptr;
      QCOMPARE(sqlite3_open_v2(path.toUtf8(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
      sqlite3_stmt* st = nullptr;
      QCOMPARE(sqlite3_prepare_v2(db, "SELECT group_concat(id) FROM \"table\"", -1, &st, nullptr),
               SQLITE_OK);
      QCOMPARE(sqlite3_step(st), SQLITE_ROW);
      QCOMPARE(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))),
               QStringLiteral("0,1"));
      sqlite3_finalize(st);
      sqlite3_close(db);
    }
    QCOMPARE(grid.CellText(1, 2), QStringLiteral("r1c2"));
    QCOMPARE(grid.CellText(2, 0), QString());  // never stored
    QCOMPARE(grid.CellText(0, 3), QString());  // no such column
    QCOMPARE(grid.CellText(-1, 0), QString());

    grid.ResetRecordGrid();
    QCOMPARE(grid.ItemCount(), 0);
    for (const QString& path : paths) QVERIFY(!QFileInfo::exists(path));
    QVERIFY(grid.StorePaths().isEmpty());

    // Another table: stores from index 0 again.
    grid.DeleteAllColumns();
    QCOMPARE(grid.ColumnCount(), 0);
    grid.AddGridColumn(0, "x");
    QVERIFY(grid.StorePaths().value(0).endsWith("/0SQlite.db"));
    grid.AddGridCell(0, "new");
    QCOMPARE(grid.CellText(0, 0), QStringLiteral("new"));
  }

  // Rows restarted without a reset must not show the old rows' values in
  // cells that the new rows leave empty; columns deleted drop their stores.
  void rowsRestartShowNoStaleValues() {
    StoreBackedGrid grid;
    grid.AddGridColumn(0, "a");
    grid.AddGridColumn(1, "b");
    grid.AddGridCell(0, "old");
    grid.AddGridCell(1, "old b");
    grid.DeleteAllItems();
    QCOMPARE(grid.ItemCount(), 0);
    grid.AddGridCell(0, "new");
    QCOMPARE(grid.CellText(0, 0), QStringLiteral("new"));
    QCOMPARE(grid.CellText(0, 1), QString());

    grid.DeleteAllColumns();
    grid.AddGridColumn(0, "c");
    grid.AddGridColumn(1, "d");
    QCOMPARE(grid.ItemCount(), 0);
    grid.AddGridCell(0, "x");
    QCOMPARE(grid.CellText(0, 1), QString());
    grid.AddGridCell(1, "y");
    QCOMPARE(grid.CellText(0, 1), QStringLiteral("y"));
  }

  // A cell for a column without a row, or a column that was never added, is
  // dropped without harm.
  void cellsWithoutRowOrColumn() {
    StoreBackedGrid grid;
    grid.AddGridCell(1, "no row yet");
    grid.AddGridCell(0, "no column");
    QCOMPARE(grid.ItemCount(), 1);
    QCOMPARE(grid.CellText(0, 0), QString());
    grid.AddGridColumn(0, "a");
    grid.AddGridCell(5, "far");
    QCOMPARE(grid.CellText(0, 5), QString());
  }

  void storesSurviveEmptying() {
    StoreBackedGrid grid;
    grid.AddGridColumn(0, "a");
    grid.AddGridColumn(1, "b");
    grid.AddGridCell(0, "v0");
    WriteFile(MakeTempFilePath(), "long value");
    EmptyTempFolder();
    grid.AddGridCell(1, "v1");
    grid.AddGridCell(0, "w0");
    QCOMPARE(grid.CellText(0, 0), QStringLiteral("v0"));
    QCOMPARE(grid.CellText(0, 1), QStringLiteral("v1"));
    QCOMPARE(grid.CellText(1, 0), QStringLiteral("w0"));
    for (const QString& path : grid.StorePaths()) QVERIFY(QFileInfo::exists(path));
  }

  // Two grids at once keep separate stores.
  void twoGridsApart() {
    StoreBackedGrid a, b;
    a.AddGridColumn(0, "a");
    b.AddGridColumn(0, "b");
    a.AddGridCell(0, "from a");
    b.AddGridCell(0, "from b");
    QCOMPARE(a.CellText(0, 0), QStringLiteral("from a"));
    QCOMPARE(b.CellText(0, 0), QStringLiteral("from b"));
    QVERIFY(a.StorePaths() != b.StorePaths());
  }

  // Without a usable temporary folder the columns exist but stay empty.
  void storeThatCannotBeOpened() {
    qputenv("TMPDIR", "/dev/null/none");
    StoreBackedGrid grid;
    grid.AddGridColumn(0, "a");
    grid.AddGridColumn(1, "b");
    grid.AddGridCell(0, "x");
    grid.AddGridCell(1, "y");
    QCOMPARE(grid.ColumnCount(), 2);
    QCOMPARE(grid.ItemCount(), 1);
    QCOMPARE(grid.CellText(0, 0), QString());
    QCOMPARE(grid.CellText(0, 1), QString());
    grid.ResetRecordGrid();
  }

  // Many rows: committed in batches, each read back by id.
  void manyRows() {
    StoreBackedGrid grid;
    grid.AddGridColumn(0, "n");
    grid.AddGridColumn(1, "sq");
    const int n = 20000;
    for (int r = 0; r < n; ++r) {
      grid.AddGridCell(0, QString::number(r));
      grid.AddGridCell(1, QString::number(qint64(r) * r));
    }
    QCOMPARE(grid.ItemCount(), n);
    for (int r : {0, 1, 8191, 8192, 8193, 19999}) {
      QCOMPARE(grid.CellText(r, 0), QString::number(r));
      QCOMPARE(grid.CellText(r, 1), QString::number(qint64(r) * r));
    }
  }

 private:
  std::unique_ptr<QTemporaryDir> m_tmp;
  QString m_user;
};

QTEST_GUILESS_MAIN(OutputLocalTest)
#include "tst_output_local.moc"
