// velmora-recover in hostile surroundings: a shared working folder, a user's
// files beside the working database, a FIFO, names that would act on a
// terminal, file names that are not UTF-8, and a file size limit.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include "platform/Text.h"
#include "tests/support/TestSupport.h"

using namespace velmora::test;

namespace {

struct Result {
  int code = -1;  // -2: ended by a signal; -1: did not end in time
  QByteArray out, err;
};

Result Finish(QProcess& p, int timeoutMs = 120000) {
  Result r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

// Runs the tool; `fileSizeLimit` > 0 sets RLIMIT_FSIZE in the child.
Result Tool(const QStringList& args, bool ownWorkDir = true, rlim_t fileSizeLimit = 0) {
  QProcess p;
  if (fileSizeLimit > 0)
    p.setChildProcessModifier([fileSizeLimit] {
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    });
  p.start(QStringLiteral(VELMORA_RECOVER_PATH),
          (ownWorkDir ? QStringList{"--work-dir", ProgramFolder()} : QStringList{}) + args);
  return Finish(p, 60000);
}

// Bytes below 0x20 other than TAB and LF, and DEL: none may reach the terminal.
bool HasRawControls(const QByteArray& text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t' && u != '\n') || u == 0x7F) return true;
  }
  return false;
}

QString MakeTables(const QString& path, int tables, int rows) {
  DbBuilder db(path);
  db.Begin();
  for (int t = 0; t < tables; ++t) {
    db.Exec(QStringLiteral("CREATE TABLE t%1 (id INTEGER PRIMARY KEY, v TEXT)").arg(t));
    for (int i = 0; i < rows; ++i)
      db.Insert(QStringLiteral("t%1").arg(t), {i, QStringLiteral("v%1").arg(i)});
  }
  db.Commit();
  db.Close();
  return db.LastError();
}

}  // namespace

class OutputSurroundingsTest : public QObject {
  Q_OBJECT

 private slots:
  void twoRunsShareTheProgramFolder() {
    // Without --work-dir both runs keep their working database in the
    // tool's own folder at the same time.
    const QString folder = NewTestFolder("shared");
    const int tables = 150;
    QProcess runs[2];
    for (int i = 0; i < 2; ++i) {
      const QString source = folder + QStringLiteral("/db%1.db").arg(i);
      QVERIFY(MakeTables(source, tables, 3).isEmpty());
    }
    for (int i = 0; i < 2; ++i)
      runs[i].start(QStringLiteral(VELMORA_RECOVER_PATH),
                    {"save", folder + QStringLiteral("/db%1.db").arg(i),
                     folder + QStringLiteral("/out%1").arg(i)});
    for (QProcess& run : runs) {
      const Result r = Finish(run);
      QVERIFY2(r.code == 0, r.err.constData());
      QCOMPARE(r.out.count("\tsaved"), tables);
      QVERIFY2(!r.err.contains("SQL error"), r.err.constData());
    }
  }

  void workDirHoldsTheUsersFiles() {
    const QString folder = NewTestFolder("userwork");
    const QString source = folder + "/shop.db";
    QVERIFY(MakeShopDatabase(source).isEmpty());
    // The user's own database under the name the working database once had.
    const QString mine = folder + "/SQLiteDb.db";
    QVERIFY(MakeTables(mine, 1, 5).isEmpty());
    QFile journal(mine + "-journal");
    QVERIFY(journal.open(QIODevice::WriteOnly) && journal.write("mine") == 4);
    journal.close();
    QFile before(mine);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    const QStringList entries = QDir(folder).entryList(QDir::Files, QDir::Name);

    QProcess p;
    p.start(QStringLiteral(VELMORA_RECOVER_PATH), {"--work-dir", folder, "list", source});
    QCOMPARE(Finish(p).code, 0);
    QFile after(mine);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
    QVERIFY(QFile::exists(mine + "-journal"));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), entries);

    // A --work-dir that is no folder is a usage error; nothing goes elsewhere.
    for (const QString& bad : {source, folder + "/missing"}) {
      QProcess q;
      q.start(QStringLiteral(VELMORA_RECOVER_PATH), {"--work-dir", bad, "list", source});
      const Result r = Finish(q);
      QCOMPARE(r.code, 2);
      QVERIFY2(r.err.contains("is not a folder"), r.err.constData());
    }
  }

  void inputsThatAreNoFile() {
    // A FIFO is refused at once (opening it for reading would wait for a
    // writer for ever), and so is a folder.
    const QString folder = NewTestFolder("fifo");
    const QString fifo = folder + "/pipe.db";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& input : {fifo, folder}) {
      const Result r = Tool({"save", input, folder + "/out"}, true);
      QCOMPARE(r.code, 1);
      QVERIFY2(r.err.contains("File Not Open !"), r.err.constData());
    }
  }

  void namesThatActOnTerminals() {
    const QString folder = NewTestFolder("controls");
    const QString source = folder + "/ctl.db";
    {
      DbBuilder db(source);
      db.Exec(QStringLiteral("CREATE TABLE \"clear\x1b[2J\" (v TEXT)"));
      db.Exec(QStringLiteral("CREATE TABLE \"bell\x07\r\" (v TEXT)"));
      db.Exec(QStringLiteral("CREATE TABLE \"line\nforged\" (v TEXT)"));
      db.Exec(QStringLiteral("CREATE TABLE \"nul\" (v TEXT)"));
      db.Exec(QStringLiteral("CREATE VIEW \"v\x1b]52;c;eA==\x07\" AS SELECT 1 AS \"\x1b[31m\""));
      db.Insert("clear\x1b[2J", {QStringLiteral("osc\x1b]0;title\x07 and cr\rforged")});
      db.Insert("nul", {QStringLiteral("x")});
      // A name holding a zero byte, as only a damaged schema has it.
      db.Exec(QStringLiteral("PRAGMA writable_schema = ON"));
      db.Exec(
          QStringLiteral("UPDATE sqlite_master SET name = CAST(X'6E756C0062' AS TEXT), "
                         "tbl_name = CAST(X'6E756C0062' AS TEXT), "
                         "sql = CAST(X'435245415445205441424C4520226E756C006222202876205445585429' "
                         "AS TEXT) WHERE name = 'nul'"));
      db.Close();
      QVERIFY2(db.Ok(), qPrintable(db.LastError()));
    }
    const Result list = Tool({"list", source});
    const Result show = Tool({"show", source, "clear\x1b[2J"});
    const Result view = Tool({"show", source, "v\x1b]52;c;eA==\x07", "--kind", "view"});
    const Result save = Tool({"save", source, folder + "/out"});
    for (const Result* r : {&list, &show, &view, &save}) {
      QVERIFY2(r->code == 0 || r->code == 3, r->err.constData());
      QVERIFY2(!HasRawControls(r->out), r->out.constData());
      QVERIFY2(!HasRawControls(r->err), r->err.constData());
    }
    QVERIFY2(list.out.contains("Tables\tclear\\x1b[2J\n"), list.out.constData());
    QVERIFY(list.out.contains("Tables\tbell\\x07\\x0d\n"));
    QVERIFY(list.out.contains("Tables\tline\\nforged\n"));
    QVERIFY2(list.out.contains("Tables\tnul\\x00b\n"), list.out.constData());
    QVERIFY(show.out.contains("osc\\x1b]0;title\\x07 and cr\\x0dforged"));
    QVERIFY(view.out.contains("AS \"\\x1b[31m\""));
    // Such a name cannot be written in a statement: the save says so.
    QVERIFY2(save.out.contains("table\tnul\\x00b\tnot saved: the table could not be created"),
             save.out.constData());
    QCOMPARE(save.out.count("\tsaved"), 4);
  }

  void fileNameNotUtf8() {
    // "caf\xe9" is Latin-1: no valid UTF-8. The file opens, and the recovered
    // database gets the same bytes as its name.
    const QString folder = NewTestFolder("latin");
    const QString made = folder + "/made.db";
    QVERIFY(MakeShopDatabase(made).isEmpty());
    const QByteArray native = QFile::encodeName(folder) + "/caf\xe9.db";
    QCOMPARE(::rename(QFile::encodeName(made).constData(), native.constData()), 0);
    QProcess p;
    p.start(QStringLiteral("/bin/sh"),
            {"-c", "exec \"$0\" --work-dir \"$1\" save \"$2/$(printf 'caf\\351.db')\" \"$2/out\"",
             QStringLiteral(VELMORA_RECOVER_PATH), ProgramFolder(), folder});
    const Result r = Finish(p);
    QVERIFY2(r.code == 0, r.err.constData());
    QVERIFY2(r.err.contains("saved into " + QFile::encodeName(folder) + "/out/caf\\xe9.db"),
             r.err.constData());
    struct stat st {};
    QCOMPARE(::stat((QFile::encodeName(folder) + "/out/caf\xe9.db").constData(), &st), 0);
    QVERIFY(st.st_size > 0);
    // Qt cannot name these files: they are removed here by their bytes.
    ::unlink((QFile::encodeName(folder) + "/out/caf\xe9.db").constData());
    ::unlink(native.constData());
  }

  void fileSizeLimit() {
    // Past RLIMIT_FSIZE a write fails (EFBIG) and is reported; the signal
    // that would end the tool without a word is ignored.
    const QString folder = NewTestFolder("fsize");
    const QString source = folder + "/big.db";
    QVERIFY(MakeTables(source, 2, 6000).isEmpty());
    const Result save = Tool({"save", source, folder + "/out"}, true, 48 * 1024);
    QCOMPARE(save.code, 3);
    QVERIFY2(save.out.contains("none of its records were kept"), save.out.constData());
    QVERIFY(QDir().mkpath(folder + "/csv"));
    const Result csv = Tool({"export", source, folder + "/csv", "--table", "t0"}, true, 16 * 1024);
    QCOMPARE(csv.code, 3);
    QVERIFY2(csv.out.startsWith("table\tt0\tnot exported: writing "), csv.out.constData());
    QVERIFY(!QFile::exists(folder + "/csv/t0.csv"));
  }
};

VELMORA_TEST_MAIN(OutputSurroundingsTest)
#include "tst_output_surroundings.moc"
