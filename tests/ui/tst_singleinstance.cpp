// The single-instance guard: in one process (hand-over of the command line)
// and with the real program started twice, after a crash, and against a
// first copy that does not answer; the file named on the command line.
#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest/QtTest>
#include <csignal>
#include <cstdio>

#include "platform/Text.h"
#include "tests/support/TestSupport.h"
#include "ui/app/SQLiteApp.h"
#include "ui/app/SingleInstance.h"
#include "ui/frame/LeftView.h"
#include "ui/frame/MainFrame.h"
#include "ui/frame/SQLiteOpenFile.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const char* const kAlreadyRunning = "Velmora SQLite Database Recovery software is already running.";

class TestSingleInstance : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void handOver_data();
  void handOver();
  void secondProcessEnds();
  void crashedCopyDoesNotBlock();
  void silentFirstCopyCannotHang();
  void startupOpensSelection();
  void commandLine_data();
  void commandLine();
  void startupOpensCommandLineFile();

 private:
  // Starts the program with a private instance name and runtime folder.
  void Start(QProcess& process, const QStringList& arguments = {});
  QString m_runtime;
  QString m_instance;
};

void TestSingleInstance::initTestCase() {
  m_runtime = NewTestFolder(QStringLiteral("run"));
  QFile::setPermissions(m_runtime,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  m_instance = QStringLiteral("velmora-test-%1").arg(QCoreApplication::applicationPid());
}

void TestSingleInstance::Start(QProcess& process, const QStringList& arguments) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
  env.insert(QStringLiteral("VELMORA_INSTANCE_NAME"), m_instance);
  env.insert(QStringLiteral("VELMORA_MESSAGES_TO_STDERR"), QStringLiteral("1"));
  env.insert(QStringLiteral("VELMORA_TRACE_WAKEUP"), QStringLiteral("1"));
  env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
  process.setProcessEnvironment(env);
  process.setWorkingDirectory(NewTestFolder(QStringLiteral("cwd")));
  process.start(QStringLiteral(VELMORA_EXE), arguments);
  QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
}

void TestSingleInstance::handOver_data() {
  QTest::addColumn<QString>("commandLine");
  QTest::addColumn<QString>("received");
  QTest::newRow("short") << "velmora-sqlite-recovery /tmp/x.db"
                         << "velmora-sqlite-recovery /tmp/x.db";
  QTest::newRow("255 characters") << QString(255, QLatin1Char('a'))
                                  << QString(255, QLatin1Char('a'));
  QTest::newRow("256 characters are not handed over") << QString(256, QLatin1Char('b')) << "";
  QTest::newRow("non-ASCII") << QStringLiteral("prog /tmp/d\u00e9j\u00e0 \u4e2d.db")
                             << QStringLiteral("prog /tmp/d\u00e9j\u00e0 \u4e2d.db");
  // A file name's bytes that are not UTF-8 arrive as they were.
  const QString raw = PathFromNative("prog \"/tmp/d\xe9p/\xff\xfe.db\"");
  QTest::newRow("bytes that are not UTF-8") << raw << raw;
}

void TestSingleInstance::handOver() {
  QFETCH(QString, commandLine);
  QFETCH(QString, received);
  const QString name = QStringLiteral("in-process-%1").arg(QTest::currentDataTag());
  CSingleInstance first(name, m_runtime);
  QVERIFY(first.Create(QStringLiteral("first")));
  QSignalSpy woken(&first, &CSingleInstance::WokenUp);
  {
    CSingleInstance second(name, m_runtime);
    QVERIFY(!second.Create(commandLine));
  }
  QVERIFY(woken.wait(5000));
  QCOMPARE(woken.first().first().toString(), received);
}

void TestSingleInstance::secondProcessEnds() {
  QProcess first;
  Start(first);
  const CSingleInstance names(m_instance, m_runtime);
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(names.ServerPath()), 20000);

  QProcess second;
  Start(second, {QStringLiteral("second-copy")});
  QVERIFY(second.waitForFinished(20000));
  QVERIFY(
      QString::fromUtf8(second.readAllStandardError()).contains(QLatin1String(kAlreadyRunning)));
  // The first copy was woken with the second one's command line.
  QString firstOutput;
  QTRY_VERIFY_WITH_TIMEOUT((firstOutput += QString::fromUtf8(first.readAllStandardError()))
                                   .contains(QLatin1String("woken up: ")) &&
                               firstOutput.contains(QLatin1String("second-copy")),
                           10000);
  QCOMPARE(first.state(), QProcess::Running);
  first.kill();
  first.waitForFinished(10000);
}

void TestSingleInstance::crashedCopyDoesNotBlock() {
  QProcess crashed;
  Start(crashed);
  const CSingleInstance names(m_instance, m_runtime);
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(names.ServerPath()), 20000);
  crashed.kill();  // no clean-up: lock file and socket stay behind
  QVERIFY(crashed.waitForFinished(10000));
  QVERIFY(QFileInfo::exists(names.LockPath()));

  QProcess next;
  Start(next);
  // The new copy takes the stale lock and runs on.
  QVERIFY(!next.waitForFinished(3000));
  QVERIFY(!QString::fromUtf8(next.readAllStandardError()).contains(QLatin1String(kAlreadyRunning)));
  QLockFile probe(names.LockPath());
  qint64 pid = 0;
  QString host, app;
  QVERIFY(probe.getLockInfo(&pid, &host, &app));
  QCOMPARE(pid, next.processId());
  next.kill();
  next.waitForFinished(10000);
}

void TestSingleInstance::silentFirstCopyCannotHang() {
  // This test holds the lock as the "first copy" and listens without ever
  // reading; the program must still end with the message.
  const CSingleInstance names(m_instance, m_runtime);
  QLockFile lock(names.LockPath());
  QVERIFY(lock.tryLock(1000));
  QLocalServer::removeServer(names.ServerPath());
  QLocalServer silent;
  QVERIFY(silent.listen(names.ServerPath()));
  silent.setMaxPendingConnections(1);

  QProcess second;
  Start(second, {QString(200, QLatin1Char('x'))});
  // No event loop runs here while the program waits: the hand-over must
  // give up on its own.
  QVERIFY(second.waitForFinished(30000));
  QVERIFY(
      QString::fromUtf8(second.readAllStandardError()).contains(QLatin1String(kAlreadyRunning)));
  silent.close();
  lock.unlock();

  // And with the lock held but nobody listening at all.
  QVERIFY(lock.tryLock(1000));
  QProcess third;
  Start(third);
  QVERIFY(third.waitForFinished(30000));
  QVERIFY(QString::fromUtf8(third.readAllStandardError()).contains(QLatin1String(kAlreadyRunning)));
  lock.unlock();
}

void TestSingleInstance::startupOpensSelection() {
  qputenv("VELMORA_INSTANCE_NAME",
          QStringLiteral("startup-%1").arg(QCoreApplication::applicationPid()).toUtf8());
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
  qputenv("VELMORA_MESSAGES_TO_STDERR", "1");
  MessageBoxRecorder boxes;
  CSQLiteApp app;
  QVERIFY(app.InitInstance({QStringLiteral("prog")}));
  QVERIFY(app.MainFrame() != nullptr && app.MainFrame()->isVisible());
  // The selection dialog opens as soon as events run; cancel it.
  bool seen = false;
  QTimer poll;
  connect(&poll, &QTimer::timeout, this, [&] {
    if (auto* dialog = qobject_cast<CSQLiteOpenFile*>(QApplication::activeModalWidget())) {
      seen = true;
      dialog->CancelButton()->click();
    }
  });
  poll.start(5);
  QTRY_VERIFY_WITH_TIMEOUT(seen, 10000);
  QVERIFY(boxes.boxes.isEmpty());
  // A second guard of the same name finds this one running.
  CSingleInstance second(CSingleInstance::DefaultInstanceName(),
                         CSingleInstance::DefaultRuntimeFolder());
  QVERIFY(!second.Create(QStringLiteral("again")));
}

void TestSingleInstance::commandLine_data() {
  QTest::addColumn<QStringList>("arguments");  // the program name first
  QTest::addColumn<QString>("file");
  QTest::newRow("none") << QStringList{"prog"} << "";
  QTest::newRow("plain") << QStringList{"prog", "/tmp/x.db"} << "/tmp/x.db";
  QTest::newRow("options skipped")
      << QStringList{"prog", "-v", "--style=x", "a.db", "b.db"} << "a.db";
  QTest::newRow("after --") << QStringList{"prog", "--", "-odd name.db"} << "-odd name.db";
  QTest::newRow("blanks, quotes, backslashes")
      << QStringList{"/opt/my prog", "/tmp/a \"b\" \\c.db"} << "/tmp/a \"b\" \\c.db";
  QTest::newRow("non-ASCII") << QStringList{"prog", QStringLiteral("/tmp/d\u00e9j\u00e0 \u4e2d.db")}
                             << QStringLiteral("/tmp/d\u00e9j\u00e0 \u4e2d.db");
}

void TestSingleInstance::commandLine() {
  QFETCH(QStringList, arguments);
  QFETCH(QString, file);
  QCOMPARE(DatabaseArgument(arguments.mid(1)), file);
  // The hand-over text gives the arguments back unchanged.
  QCOMPARE(SplitCommandLine(JoinCommandLine(arguments)), arguments);
}

void TestSingleInstance::startupOpensCommandLineFile() {
  const QString folder = NewTestFolder(QStringLiteral("cmdline"));
  const QString shop = folder + QStringLiteral("/shop.db");
  QCOMPARE(MakeShopDatabase(shop), QString());
  qputenv("VELMORA_INSTANCE_NAME",
          QStringLiteral("cmdline-%1").arg(QCoreApplication::applicationPid()).toUtf8());
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
  bool dialogSeen = false;
  QTimer poll;
  connect(&poll, &QTimer::timeout, this, [&] {
    if (auto* dialog = qobject_cast<CSQLiteOpenFile*>(QApplication::activeModalWidget())) {
      dialogSeen = true;
      dialog->CancelButton()->click();
    }
  });
  poll.start(5);
  MessageBoxRecorder boxes;
  CSQLiteApp app;
  // A relative path counts from the working folder.
  const QString saved = QDir::currentPath();
  QVERIFY(QDir::setCurrent(folder));
  QVERIFY(app.InitInstance({QStringLiteral("prog"), QStringLiteral("shop.db")}));
  QDir::setCurrent(saved);
  CMainFrame* frame = app.MainFrame();
  QTRY_COMPARE_WITH_TIMEOUT(frame->TreeCtrl()->topLevelItemCount(), 1, 10000);
  QCOMPARE(frame->m_strDbName, QStringLiteral("shop.db"));
  QTest::qWait(50);
  QVERIFY(!dialogSeen);
  QVERIFY(boxes.boxes.isEmpty());

  // A later copy's file is opened by this one.
  const QString other = folder + QStringLiteral("/other copy.db");
  QVERIFY(QFile::copy(shop, other));
  app.OnWokenUp(JoinCommandLine({QStringLiteral("prog"), other}));
  QTRY_COMPARE(frame->m_strDbName, QStringLiteral("other copy.db"));
  QTRY_COMPARE(frame->TreeCtrl()->topLevelItemCount(), 1);
  // And one whose name is not UTF-8.
  const QString raw = PathFromNative(QFile::encodeName(folder) + "/\xff\xfe.db");
  QVERIFY(::rename(QFile::encodeName(other).constData(), NativePath(raw).constData()) == 0);
  app.OnWokenUp(JoinCommandLine({QStringLiteral("prog"), raw}));
  QTRY_COMPARE(frame->m_strDbName, PathFromNative("\xff\xfe.db"));
  QCOMPARE(frame->Recovery().FilePath(), raw);
  QVERIFY(boxes.boxes.isEmpty());
}

}  // namespace

VELMORA_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
