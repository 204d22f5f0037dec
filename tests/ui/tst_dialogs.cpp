// The save destination, saving progress, completion report and About dialogs.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "platform/MessageBox.h"
#include "ui/dialogs/AboutDlg.h"
#include "ui/dialogs/ErrorDlg.h"
#include "ui/dialogs/SaveSQLiteFile.h"
#include "ui/dialogs/SavingProcessDlg.h"

using namespace velmora;

namespace {

// Records every message box and answers with `answer`.
struct BoxRecorder {
  QStringList texts;
  MsgResult answer = MsgResult::Ok;
  MessageBoxHook previous;
  BoxRecorder() {
    previous = SetMessageBoxHook([this](const QString& text, MsgButtons, MsgIcon) {
      texts << text;
      return answer;
    });
  }
  ~BoxRecorder() { SetMessageBoxHook(previous); }
};

ObjectOutcome Outcome(bool written, bool stopped, std::int64_t records, const QString& error = {}) {
  ObjectOutcome o;
  o.written = written;
  o.stopped = stopped;
  o.records = records;
  o.error = error;
  return o;
}

}  // namespace

class TestDialogs : public QObject {
  Q_OBJECT
 private slots:
  void init() { QVERIFY(m_dir.isValid()); }

  void destinationOk_data();
  void destinationOk();
  void destinationEnterActsAsOk();
  void destinationCancelChecksNothing();
  void destinationBrowse_data();
  void destinationBrowse();

  void savingStop_data();
  void savingStop();
  void savingEscapeKeepsWindow();
  void savingAnimationPlaysWhileShown();

  void report_data();
  void report();
  void reportIsReadOnly();

  void aboutLinks_data();
  void aboutLinks();
  void aboutVersionText();

 private:
  QTemporaryDir m_dir;
};

// ---- save destination --------------------------------------------------------

void TestDialogs::destinationOk_data() {
  QTest::addColumn<QString>("path");      // relative to the temporary folder, or absolute
  QTest::addColumn<QString>("fileName");  // the recovered database's name
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<QString>("message");  // start of the expected message

  QTest::newRow("empty") << "<empty>"
                         << "db.sqlite" << false << "Please, enter a valid file path.";
  QTest::newRow("missing folder") << "no/such/folder"
                                  << "db.sqlite" << false << "Please, enter a valid file path.";
  QTest::newRow("existing folder") << "out"
                                   << "db.sqlite" << true << "";
  QTest::newRow("existing file is accepted") << "plainfile"
                                             << "db.sqlite" << true << "";
  QTest::newRow("160 characters") << "<len160>"
                                  << "db.sqlite" << true << "";
  QTest::newRow("161 characters") << "<len161>"
                                  << "db.sqlite" << false
                                  << "Path is to long to save data, please enter a valid file fath";
  QTest::newRow("folder holds the file already")
      << "holder"
      << "db.sqlite" << false << "The folder already holds a file named \"db.sqlite\"";
  QTest::newRow("dangling link of that name")
      << "linker"
      << "db.sqlite" << false << "The folder already holds a file named \"db.sqlite\"";
  QTest::newRow("no name given skips that check") << "holder"
                                                  << "" << true << "";
}

void TestDialogs::destinationOk() {
  QFETCH(QString, path);
  QFETCH(QString, fileName);
  QFETCH(bool, accepted);
  QFETCH(QString, message);

  const QString root = m_dir.path();
  QDir(root).mkpath(QStringLiteral("out"));
  QDir(root).mkpath(QStringLiteral("holder"));
  QDir(root).mkpath(QStringLiteral("linker"));
  {
    QFile f(root + QStringLiteral("/plainfile"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QFile g(root + QStringLiteral("/holder/db.sqlite"));
    QVERIFY(g.open(QIODevice::WriteOnly));
  }
  QFile::link(root + QStringLiteral("/nowhere"), root + QStringLiteral("/linker/db.sqlite"));

  QString text;
  if (path == QLatin1String("<empty>")) {
    text.clear();
  } else if (path.startsWith(QLatin1String("<len"))) {
    // An existing folder whose path has exactly the wanted length.
    const int want = path.mid(4, 3).toInt();
    QString p = root + QStringLiteral("/");
    const int fill = want - static_cast<int>(p.size());
    QVERIFY(fill > 2);
    // Split into components of at most 60 characters.
    QString rest = QString(fill, QLatin1Char('d'));
    for (int i = 60; i < rest.size(); i += 61) rest[i] = QLatin1Char('/');
    if (rest.endsWith(QLatin1Char('/'))) rest[rest.size() - 1] = QLatin1Char('e');
    p += rest;
    QVERIFY(QDir().mkpath(p));
    QCOMPARE(p.size(), want);
    text = p;
  } else {
    text = root + QLatin1Char('/') + path;
  }

  BoxRecorder boxes;
  CSaveSQLiteFile dlg(nullptr, fileName);
  dlg.show();
  dlg.PathEdit()->setText(text);
  QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
  QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
  QCOMPARE(dlg.isVisible(), !accepted);
  if (accepted) {
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(dlg.m_strPath, text);
  } else {
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.first().startsWith(message), qPrintable(boxes.texts.first()));
    QCOMPARE(dlg.PathEdit()->text(), text);  // the field stays as typed
  }
}

void TestDialogs::destinationEnterActsAsOk() {
  BoxRecorder boxes;
  CSaveSQLiteFile dlg(nullptr, QStringLiteral("x.db"));
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  dlg.PathEdit()->setFocus();
  dlg.PathEdit()->setText(m_dir.path());
  QTest::keyClick(dlg.PathEdit(), Qt::Key_Return);
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_strPath, m_dir.path());
}

void TestDialogs::destinationCancelChecksNothing() {
  BoxRecorder boxes;
  CSaveSQLiteFile dlg;
  dlg.show();
  QTest::mouseClick(dlg.CancelButton(), Qt::LeftButton);
  QCOMPARE(dlg.result(), int(QDialog::Rejected));
  QVERIFY(boxes.texts.isEmpty());
}

void TestDialogs::destinationBrowse_data() {
  QTest::addColumn<int>("pick");  // 0 cancel, 1 empty path, 2 a folder
  QTest::addColumn<bool>("cdrom");
  QTest::addColumn<QString>("field");  // expected field text; "<dir>" = the folder
  QTest::addColumn<QString>("message");

  QTest::newRow("cancel keeps the field") << 0 << false << "typed"
                                          << "";
  QTest::newRow("no file-system path empties it") << 1 << false << ""
                                                  << "";
  QTest::newRow("folder") << 2 << false << "<dir>"
                          << "";
  QTest::newRow("folder on a CD-ROM") << 2 << true << ""
                                      << "Please accurate  path for saving repaired file(s)";
}

void TestDialogs::destinationBrowse() {
  QFETCH(int, pick);
  QFETCH(bool, cdrom);
  QFETCH(QString, field);
  QFETCH(QString, message);
  const QString dir = m_dir.path();
  QString askedTitle;
  FolderPicker previous =
      SetFolderPicker([&](QWidget*, const QString& title) -> std::optional<QString> {
        askedTitle = title;
        if (pick == 0) return std::nullopt;
        if (pick == 1) return QString();
        return dir;
      });
  QStringList probed;
  CdromProbe previousProbe = SetCdromProbe([&](const QString& p) {
    probed << p;
    return cdrom;
  });
  BoxRecorder boxes;
  CSaveSQLiteFile dlg;
  dlg.PathEdit()->setText(QStringLiteral("typed"));
  QTest::mouseClick(dlg.BrowseButton(), Qt::LeftButton);
  SetFolderPicker(previous);
  SetCdromProbe(previousProbe);

  QCOMPARE(askedTitle, QStringLiteral("Select location to save recovered database"));
  QCOMPARE(dlg.PathEdit()->text(), field == QLatin1String("<dir>") ? dir : field);
  if (message.isEmpty()) {
    QVERIFY(boxes.texts.isEmpty());
  } else {
    QCOMPARE(boxes.texts, QStringList{message});
  }
  if (pick == 2) QCOMPARE(probed, QStringList{dir});
}

// ---- saving progress -----------------------------------------------------------

void TestDialogs::savingStop_data() {
  QTest::addColumn<int>("answer");  // MsgResult
  QTest::addColumn<bool>("acknowledged");
  QTest::addColumn<int>("stopRequests");
  QTest::addColumn<bool>("visibleAfter");

  QTest::newRow("No keeps the save going") << int(MsgResult::No) << true << 0 << true;
  QTest::newRow("Yes stops and hides") << int(MsgResult::Yes) << true << 1 << false;
  QTest::newRow("Yes, not acknowledged") << int(MsgResult::Yes) << false << 1 << true;
}

void TestDialogs::savingStop() {
  QFETCH(int, answer);
  QFETCH(bool, acknowledged);
  QFETCH(int, stopRequests);
  QFETCH(bool, visibleAfter);
  int requests = 0;
  CSavingProcessDlg dlg(nullptr, [&] {
    ++requests;
    return acknowledged;
  });
  dlg.show();
  BoxRecorder boxes;
  boxes.answer = static_cast<MsgResult>(answer);
  QTest::mouseClick(dlg.StopButton(), Qt::LeftButton);
  QCOMPARE(boxes.texts,
           QStringList{QStringLiteral("Please confirm if you want to stop the current process?")});
  QCOMPARE(requests, stopRequests);
  QCOMPARE(dlg.isVisible(), visibleAfter);
}

void TestDialogs::savingEscapeKeepsWindow() {
  int requests = 0;
  CSavingProcessDlg dlg(nullptr, [&] { return ++requests > 0; });
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  BoxRecorder boxes;
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QTest::keyClick(&dlg, key);
    QVERIFY(dlg.isVisible());
  }
  QCOMPARE(requests, 0);
  QVERIFY(boxes.texts.isEmpty());
  // The close box asks like Stop; answering No keeps everything.
  boxes.answer = MsgResult::No;
  dlg.close();
  QVERIFY(dlg.isVisible());
  QCOMPARE(boxes.texts.size(), 1);
  QCOMPARE(requests, 0);
}

void TestDialogs::savingAnimationPlaysWhileShown() {
  CSavingProcessDlg dlg(nullptr, [] { return true; });
  QVERIFY(!dlg.Animation()->IsPlaying());
  dlg.show();
  QVERIFY(dlg.Animation()->IsPlaying());
  QCOMPARE(dlg.Animation()->size(), QSize(60, 60));
  // The clip advances (at 16 frames a second a frame lasts 62.5 ms).
  QTRY_VERIFY_WITH_TIMEOUT(dlg.Animation()->CurrentFrame() != 0, 5000);
  dlg.hide();
  QVERIFY(!dlg.Animation()->IsPlaying());
}

// ---- completion report ---------------------------------------------------------

void TestDialogs::report_data() {
  QTest::addColumn<bool>("stopped");
  QTest::addColumn<QList<int>>("kinds");
  // 0 written, 1 passed over, 2 failed, 3 partly (stopped), 4 written with damaged pages
  QTest::addColumn<QList<int>>("states");
  QTest::addColumn<QStringList>("present");
  QTest::addColumn<QStringList>("absent");

  QTest::newRow("everything written")
      << false << QList<int>{int(ObjectKind::Table), int(ObjectKind::View), int(ObjectKind::Index)}
      << QList<int>{0, 0, 0}
      << QStringList{"saving done successfully...", "Recovered database: /out/a.db",
                     "Table \"o0\": 10 records", "View \"o1\"", "Index \"o2\""}
      << QStringList{"Not saved", "stopped"};
  QTest::newRow("one record") << false << QList<int>{int(ObjectKind::Table)} << QList<int>{0}
                              << QStringList{"saving done successfully...",
                                             "Table \"o0\": 1 record"}
                              << QStringList{"1 records"};
  QTest::newRow("stopped during the second of three tables")
      << true
      << QList<int>{int(ObjectKind::Table), int(ObjectKind::Table), int(ObjectKind::Table),
                    int(ObjectKind::Trigger)}
      << QList<int>{0, 3, 1, 1}
      << QStringList{"The save was stopped: 1 of 4 object(s) were saved completely.",
                     "Recovered database: /out/a.db",
                     "Saved:",
                     "Table \"o0\": 10 records",
                     "Saved in part:",
                     "Table \"o1\": 11 records written, then the save was stopped",
                     "Not saved:",
                     "Table \"o2\": passed over, the save was stopped",
                     "Trigger \"o3\": passed over, the save was stopped"}
      << QStringList{"successfully"};
  QTest::newRow("an index failed")
      << false << QList<int>{int(ObjectKind::Table), int(ObjectKind::Index)} << QList<int>{0, 2}
      << QStringList{"could not be saved completely", "Index \"o1\": no such table: main.t",
                     "Table \"o0\": 10 records"}
      << QStringList{"successfully", "stopped"};
  QTest::newRow("a table with unreadable pages")
      << false << QList<int>{int(ObjectKind::Table)} << QList<int>{4}
      << QStringList{"Saving done: every ticked object was written, but 1 table(s)\n"
                     "could not be read completely from the damaged file.",
                     "Table \"o0\": 1 record (part of it could not be read from the damaged file)"}
      << QStringList{"Not saved", "successfully"};
  QTest::newRow("stopped before anything")
      << true << QList<int>{int(ObjectKind::View)} << QList<int>{1}
      << QStringList{"0 of 1 object(s)", "View \"o0\": passed over"} << QStringList{"Saved:"};
}

void TestDialogs::report() {
  QFETCH(bool, stopped);
  QFETCH(QList<int>, kinds);
  QFETCH(QList<int>, states);
  QFETCH(QStringList, present);
  QFETCH(QStringList, absent);
  SaveReport r;
  r.filePath = QStringLiteral("/out/a.db");
  r.stopped = stopped;
  for (int i = 0; i < kinds.size(); ++i) {
    SaveReportEntry e;
    e.name = QStringLiteral("o%1").arg(i);
    e.kind = ObjectKind(kinds[i]);
    const std::int64_t n = kinds.size() == 1 && !stopped ? 1 : 10 + i;
    switch (states[i]) {
      case 0:
        e.outcome = Outcome(true, false, e.kind == ObjectKind::Table ? n : 0);
        break;
      case 1:
        e.outcome = Outcome(false, true, 0);
        break;
      case 2:
        e.outcome = Outcome(false, false, 0, QStringLiteral("no such table: main.t"));
        break;
      case 3:
        e.outcome = Outcome(true, true, n);
        break;
      default:
        e.outcome = Outcome(true, false, n);
        e.outcome.incomplete = true;
        break;
    }
    r.entries.push_back(e);
  }
  CErrorDlg dlg(r);
  QCOMPARE(dlg.windowTitle(), QStringLiteral("Process Completed"));
  const QString text = dlg.MessageEdit()->toPlainText();
  QCOMPARE(text, dlg.m_strMessage);
  for (const QString& s : present) QVERIFY2(text.contains(s), qPrintable(s + "\n---\n" + text));
  for (const QString& s : absent) QVERIFY2(!text.contains(s), qPrintable(s + "\n---\n" + text));
}

void TestDialogs::reportIsReadOnly() {
  SaveReport r;
  r.filePath = QStringLiteral("/out/a.db");
  CErrorDlg dlg(r);
  dlg.show();
  QVERIFY(dlg.MessageEdit()->isReadOnly());
  dlg.MessageEdit()->setFocus();
  QTest::keyClicks(dlg.MessageEdit(), QStringLiteral("xyz"));
  QCOMPARE(dlg.MessageEdit()->toPlainText(), dlg.m_strMessage);
  dlg.MessageEdit()->selectAll();
  QVERIFY(dlg.MessageEdit()->textCursor().hasSelection());
}

// ---- About ---------------------------------------------------------------------

void TestDialogs::aboutLinks_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("url");
  QTest::newRow("home page") << int(kLinkHomePage) << "https://www.velmora-recovery.example/";
  QTest::newRow("sales") << int(kLinkSales) << "mailto:sales@velmora-recovery.example";
  QTest::newRow("support") << int(kLinkSupport) << "mailto:support@velmora-recovery.example";
}

void TestDialogs::aboutLinks() {
  QFETCH(int, id);
  QFETCH(QString, url);
  QList<QUrl> opened;
  CAboutDlg dlg(nullptr, [&](const QUrl& u) {
    opened << u;
    return true;
  });
  dlg.show();
  CAboutLink* link = dlg.Link(id);
  QVERIFY(link != nullptr);
  QTest::mouseClick(link, Qt::LeftButton);
  link->setFocus();
  QTest::keyClick(link, Qt::Key_Space);
  QCOMPARE(opened, (QList<QUrl>{QUrl(url), QUrl(url)}));
  QCOMPARE(AboutLinkTarget(id), QUrl(url));
}

void TestDialogs::aboutVersionText() {
  CAboutDlg dlg;
  QCOMPARE(dlg.windowTitle(), QStringLiteral("Velmora SQLite Database Recovery"));
  QVERIFY(
      dlg.VersionLabel()->text().startsWith(QStringLiteral("\t Velmora SQLite Version 23.1\n\t ")));
  QVERIFY(AboutLinkTarget(1234).isEmpty());
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
