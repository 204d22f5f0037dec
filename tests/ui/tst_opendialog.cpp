// The database selection dialog: what Browse stores, typed paths, and the two refusals.
#include <QFile>
#include <QLineEdit>
#include <QtTest/QtTest>

#include "tests/support/TestSupport.h"
#include "ui/frame/SQLiteOpenFile.h"

using namespace velmora;
using namespace velmora::test;

class TestOpenDialog : public QObject {
  Q_OBJECT
 private slots:
  void browseStoresPathAndName_data();
  void browseStoresPathAndName();
  void refusals_data();
  void refusals();
  void cancelledBrowseKeepsPrevious();
  void typedAtOnceAndEnterRecovers();
};

void TestOpenDialog::browseStoresPathAndName_data() {
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("name");
  QTest::newRow("plain") << "/data/shop.db"
                         << "shop.db";
  QTest::newRow("trailing blanks") << "/data/shop.db  "
                                   << "shop.db";
  QTest::newRow("leading blank in name") << "/da ta/ my file.sqlite"
                                         << "my file.sqlite";
  QTest::newRow("no folder") << "shop.db"
                             << "shop.db";
}

void TestOpenDialog::browseStoresPathAndName() {
  QFETCH(QString, chosen);
  QFETCH(QString, name);
  const OpenFileChooser previous = SetOpenFileChooser([chosen](QWidget*) { return chosen; });
  CSQLiteOpenFile dialog;
  dialog.OnBrowse();
  SetOpenFileChooser(previous);
  QCOMPARE(dialog.m_strDbPath, chosen);
  QCOMPARE(dialog.m_strDbName, name);
  QCOMPARE(dialog.PathEdit()->text(), chosen);
}

// How the dialog is left: Recover or Enter; with nothing, a path typed or
// pasted into the edit box (%F stands for an existing file, %D for its folder),
// or a Browse to a file that may have been deleted since.
void TestOpenDialog::refusals_data() {
  QTest::addColumn<QString>("setup");  // "typed", "browsed", "deleted"
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("viaEnter");
  QTest::addColumn<QString>("message");  // empty: the dialog ends with OK
  const QString database = QStringLiteral("Please, enter a valid database path.");
  const QString file = QStringLiteral("Please, enter a valid file path.");
  QTest::newRow("recover before browse") << "typed"
                                         << "" << false << database;
  QTest::newRow("enter before browse") << "typed"
                                       << "" << true << file;
  QTest::newRow("recover with typed path") << "typed"
                                           << "%F" << false << "";
  QTest::newRow("enter with typed path") << "typed"
                                         << "%F" << true << "";
  QTest::newRow("typed with blanks around") << "typed"
                                            << "  %F \t" << false << "";
  QTest::newRow("pasted file URL") << "typed"
                                   << "file://%F" << true << "";
  QTest::newRow("recover, typed missing file") << "typed"
                                               << "%F.gone" << false << database;
  QTest::newRow("enter, typed missing file") << "typed"
                                             << "%F.gone" << true << file;
  QTest::newRow("typed folder") << "typed"
                                << "%D" << false << database;
  QTest::newRow("recover after browse") << "browsed"
                                        << "" << false << "";
  QTest::newRow("enter after browse") << "browsed"
                                      << "" << true << "";
  QTest::newRow("enter, file deleted") << "deleted"
                                       << "" << true << file;
  QTest::newRow("recover, file deleted") << "deleted"
                                         << "" << false << database;
}

void TestOpenDialog::refusals() {
  QFETCH(QString, setup);
  QFETCH(QString, typed);
  QFETCH(bool, viaEnter);
  QFETCH(QString, message);
  const QString folder = NewTestFolder(QStringLiteral("dlg"));
  const QString file = folder + QStringLiteral("/some.db");
  {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
  }
  MessageBoxRecorder boxes;
  CSQLiteOpenFile dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  if (!typed.isEmpty())
    QTest::keyClicks(
        dialog.PathEdit(),
        QString(typed).replace(QLatin1String("%F"), file).replace(QLatin1String("%D"), folder));
  if (setup == QLatin1String("browsed") || setup == QLatin1String("deleted")) {
    const OpenFileChooser previous = SetOpenFileChooser([file](QWidget*) { return file; });
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    SetOpenFileChooser(previous);
  }
  if (setup == QLatin1String("deleted")) QVERIFY(QFile::remove(file));

  if (viaEnter) {
    dialog.PathEdit()->setFocus();
    QTest::keyClick(dialog.PathEdit(), Qt::Key_Return);
  } else {
    QTest::mouseClick(dialog.RecoverButton(), Qt::LeftButton);
  }
  if (message.isEmpty()) {
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.m_strDbPath, file);
    QCOMPARE(dialog.m_strDbName, QStringLiteral("some.db"));
  } else {
    QCOMPARE(boxes.Texts(), QStringList{message});
    QCOMPARE(boxes.boxes.first().buttons, MsgButtons::Ok);
    QVERIFY(dialog.isVisible());
  }
}

void TestOpenDialog::cancelledBrowseKeepsPrevious() {
  CSQLiteOpenFile dialog;
  const OpenFileChooser previous =
      SetOpenFileChooser([](QWidget*) { return QStringLiteral("/a/b.db"); });
  dialog.OnBrowse();
  SetOpenFileChooser([](QWidget*) { return QString(); });
  dialog.OnBrowse();
  SetOpenFileChooser(previous);
  QCOMPARE(dialog.m_strDbPath, QStringLiteral("/a/b.db"));
  QCOMPARE(dialog.m_strDbName, QStringLiteral("b.db"));
  QCOMPARE(dialog.PathEdit()->text(), QStringLiteral("/a/b.db"));
}

void TestOpenDialog::typedAtOnceAndEnterRecovers() {
  const QString file = NewTestFolder(QStringLiteral("dlgfocus")) + QStringLiteral("/first.db");
  {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
  }
  MessageBoxRecorder boxes;
  CSQLiteOpenFile dialog;
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Database Selection"));
  QTRY_COMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.PathEdit()));
  QVERIFY(dialog.RecoverButton()->isDefault());
  // Keys go to whatever has the focus, as the keyboard delivers them.
  QTest::keyClicks(dialog.focusWidget(), file);
  QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
  QVERIFY(boxes.boxes.isEmpty());
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(dialog.m_strDbPath, file);

  // Escape still ends the dialog with Cancel.
  CSQLiteOpenFile second;
  second.show();
  QVERIFY(QTest::qWaitForWindowExposed(&second));
  QTest::keyClick(&second, Qt::Key_Escape);
  QCOMPARE(second.result(), int(QDialog::Rejected));
}

VELMORA_TEST_MAIN(TestOpenDialog)
#include "tst_opendialog.moc"
