#include "ui/frame/SQLiteOpenFile.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

#include "platform/MessageBox.h"
#include "platform/NativeFiles.h"

namespace velmora {
namespace {

QString SystemFileChooser(QWidget* parent) {
  // Every file is offered: damaged databases carry any name and extension.
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(),
                                      QStringLiteral("All Files (*)"));
}

OpenFileChooser& Chooser() {
  static OpenFileChooser chooser = SystemFileChooser;
  return chooser;
}

}  // namespace

OpenFileChooser SetOpenFileChooser(OpenFileChooser chooser) {
  OpenFileChooser previous = Chooser();
  Chooser() = chooser ? std::move(chooser) : OpenFileChooser(SystemFileChooser);
  return previous;
}

CSQLiteOpenFile::CSQLiteOpenFile(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("databaseSelection"));
  setWindowTitle(QStringLiteral("Database Selection"));
  setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                 ~Qt::WindowContextHelpButtonHint);
  setModal(true);

  // The layout is given in dialog units: a quarter of the average character
  // width across, an eighth of the font height down.
  const QFontMetrics fm(font());
  const double dluX =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
      52.0 / 4.0;
  const double dluY = fm.height() / 8.0;
  auto place = [&](QWidget* w, int x, int y, int cx, int cy) {
    w->setGeometry(int(x * dluX + 0.5), int(y * dluY + 0.5), int(cx * dluX + 0.5),
                   int(cy * dluY + 0.5));
  };

  auto* prompt = new QLabel(
      QStringLiteral("Please click the Browse button and select the  SQLite database."), this);
  place(prompt, 30, 17, 270, 12);
  m_pEdit = new QLineEdit(this);
  m_pEdit->setObjectName(QStringLiteral("id1001"));
  place(m_pEdit, 30, 33, 211, 14);
  m_pBrowse = new QPushButton(QStringLiteral("Browse"), this);
  m_pBrowse->setObjectName(QStringLiteral("id1000"));
  place(m_pBrowse, 243, 33, 50, 14);
  // The write-ahead log and the rollback journal beside the file hold its
  // last committed state; the user sees which were found and may leave them
  // out (they are only ever read).
  m_pCompanions = new QLabel(this);
  m_pCompanions->setObjectName(QStringLiteral("companionFiles"));
  m_pCompanions->setTextFormat(Qt::PlainText);
  place(m_pCompanions, 30, 51, 270, 10);
  m_pMainFileOnly = new QCheckBox(
      QStringLiteral("Read the database file alone (leave out the files beside it)"), this);
  m_pMainFileOnly->setObjectName(QStringLiteral("mainFileOnly"));
  place(m_pMainFileOnly, 30, 63, 270, 11);
  m_pMainFileOnly->setEnabled(false);
  m_pRecover = new QPushButton(QStringLiteral("Recover"), this);
  m_pRecover->setObjectName(QStringLiteral("id1003"));
  place(m_pRecover, 95, 80, 50, 14);
  m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_pCancel->setObjectName(QStringLiteral("id2"));
  place(m_pCancel, 148, 80, 50, 14);
  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pOk->setObjectName(QStringLiteral("id1"));
  place(m_pOk, 244, 79, 50, 14);
  m_pOk->hide();
  for (QPushButton* b : {m_pBrowse, m_pRecover, m_pCancel, m_pOk}) b->setAutoDefault(false);
  // Recover is what Enter does from the path box, and is drawn as the default.
  m_pRecover->setDefault(true);

  setTabOrder(m_pEdit, m_pBrowse);
  setTabOrder(m_pBrowse, m_pRecover);
  setTabOrder(m_pBrowse, m_pMainFileOnly);
  setTabOrder(m_pMainFileOnly, m_pRecover);
  setTabOrder(m_pRecover, m_pCancel);
  setFixedSize(int(306 * dluX + 0.5), int(116 * dluY + 0.5));

  connect(m_pBrowse, &QPushButton::clicked, this, &CSQLiteOpenFile::OnBrowse);
  connect(m_pRecover, &QPushButton::clicked, this, &CSQLiteOpenFile::OnRecover);
  connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pOk, &QPushButton::clicked, this, &CSQLiteOpenFile::OnOK);
  connect(m_pEdit, &QLineEdit::textChanged, this, &CSQLiteOpenFile::UpdateCompanions);
  connect(m_pMainFileOnly, &QCheckBox::toggled, this, [this](bool on) { m_bMainFileOnly = on; });
}

QString CSQLiteOpenFile::CompanionText(const QString& path) {
  if (path.isEmpty()) return QString();
  QStringList found;
  for (const char* suffix : {"-wal", "-journal"}) {
    const QString companion = path + QLatin1String(suffix);
    if (IsNativeFile(companion)) found << QFileInfo(companion).fileName();
  }
  if (found.isEmpty()) return QStringLiteral("No write-ahead log or rollback journal beside it.");
  return QStringLiteral("Found beside it, read as SQLite would: %1")
      .arg(found.join(QStringLiteral(", ")));
}

void CSQLiteOpenFile::UpdateCompanions() {
  const QString path = ExistingFileOf(m_pEdit->text());
  const QString text = CompanionText(path);
  m_pCompanions->setText(text);
  m_pMainFileOnly->setEnabled(text.startsWith(QLatin1String("Found")));
}

void CSQLiteOpenFile::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A path typed or pasted at once goes into the box.
  m_pEdit->setFocus(Qt::ActiveWindowFocusReason);
}

void CSQLiteOpenFile::OnBrowse() {
  // The file dialog decodes a name that is not UTF-8 lossily: the real name
  // is found again among the folder's entries.
  const QString path = ResolveLossyPath(Chooser()(this));
  if (path.isEmpty()) return;
  m_pEdit->setText(path);
  m_strDbPath = path;
  const int slash = path.lastIndexOf(QLatin1Char('/'));
  m_strDbName = (slash < 0 ? path : path.mid(slash + 1)).trimmed();
}

QString CSQLiteOpenFile::ExistingFileOf(const QString& text) {
  auto resolve = [](QString path) -> QString {
    if (path.isEmpty()) return {};
    if (path.startsWith(QLatin1String("file:"))) path = PathFromFileUrl(QUrl(path));
    if (path.startsWith(QLatin1String("~/"))) path = QDir::home().filePath(path.mid(2));
    path = ResolveLossyPath(path);
    return IsNativeFile(path) ? NativeAbsolutePath(path) : QString();
  };
  const QString asTyped = resolve(text);
  return asTyped.isEmpty() ? resolve(text.trimmed()) : asTyped;
}

bool CSQLiteOpenFile::TakeEditPath(const QString& refusal) {
  // The edit box holds what Browse chose or what the user typed or pasted
  // since: either way it names the file to open.
  const QString path = ExistingFileOf(m_pEdit->text());
  if (path.isEmpty()) {
    ShowMessageBox(refusal);
    return false;
  }
  // A path Browse stored is kept exactly as chosen.
  if (m_pEdit->text() != m_strDbPath) {
    m_strDbPath = path;
    m_strDbName = QFileInfo(path).fileName().trimmed();
  }
  return true;
}

void CSQLiteOpenFile::OnRecover() {
  if (TakeEditPath(QStringLiteral("Please, enter a valid database path."))) accept();
}

void CSQLiteOpenFile::OnOK() {
  if (TakeEditPath(QStringLiteral("Please, enter a valid file path."))) accept();
}

void CSQLiteOpenFile::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter on a button presses that button; anywhere else it reaches the
    // hidden default button.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget());
        button != nullptr && button != m_pOk) {
      button->click();
    } else {
      OnOK();
    }
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

CLinkButton::CLinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setFlat(true);
  setMouseTracking(true);
}

void CLinkButton::mouseMoveEvent(QMouseEvent* event) {
  setCursor(Qt::PointingHandCursor);
  QPushButton::mouseMoveEvent(event);
}

}  // namespace velmora
