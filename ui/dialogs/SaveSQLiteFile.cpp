#include "ui/dialogs/SaveSQLiteFile.h"

#include <sys/statfs.h>

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/MessageBox.h"
#include "platform/NativeFiles.h"
#include "platform/Text.h"

namespace velmora {
namespace {

constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

std::optional<QString> DefaultFolderPicker(QWidget* owner, const QString& title) {
  QFileDialog dialog(owner, title);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen.first());
}

bool StatfsCdrom(const QString& path) {
  struct statfs info {};
  const QByteArray native = NativePath(path);
  if (statfs(native.constData(), &info) != 0) return false;
  const long type = static_cast<long>(info.f_type);
  return type == kIso9660Magic || type == kUdfMagic;
}

FolderPicker& Picker() {
  static FolderPicker picker = DefaultFolderPicker;
  return picker;
}

CdromProbe& Probe() {
  static CdromProbe probe = StatfsCdrom;
  return probe;
}

}  // namespace

FolderPicker SetFolderPicker(FolderPicker picker) {
  FolderPicker previous = Picker();
  Picker() = picker ? std::move(picker) : FolderPicker(DefaultFolderPicker);
  return previous;
}

CdromProbe SetCdromProbe(CdromProbe probe) {
  CdromProbe previous = Probe();
  Probe() = probe ? std::move(probe) : CdromProbe(StatfsCdrom);
  return previous;
}

bool IsOnCdrom(const QString& path) { return Probe()(path); }

CSaveSQLiteFile::CSaveSQLiteFile(QWidget* parent, const QString& recoveredFileName)
    : QDialog(parent), m_strRecoveredFileName(recoveredFileName) {
  setWindowTitle(QStringLiteral("Saving SQLite Database"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* label =
      new QLabel(QStringLiteral("Please select folder to save recovered SQLite database"));
  label->setAlignment(Qt::AlignCenter);
  m_pEdit = new QLineEdit;
  m_pEdit->setObjectName(QStringLiteral("edit1007"));
  m_pEdit->setMinimumWidth(260);
  m_pBrowse = new QPushButton(QStringLiteral("Browse"));
  m_pBrowse->setObjectName(QStringLiteral("button1006"));
  m_pBrowse->setAutoDefault(false);
  m_pOk = new QPushButton(QStringLiteral("OK"));
  m_pOk->setDefault(true);
  m_pCancel = new QPushButton(QStringLiteral("Cancel"));
  m_pCancel->setAutoDefault(false);
  for (QPushButton* b : {m_pBrowse, m_pOk, m_pCancel}) b->setMinimumWidth(80);

  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(m_pEdit, 1);
  pathRow->addSpacing(12);
  pathRow->addWidget(m_pBrowse);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_pOk);
  buttons->addSpacing(16);
  buttons->addWidget(m_pCancel);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 22, 28, 18);
  layout->addWidget(label);
  layout->addSpacing(14);
  layout->addLayout(pathRow);
  layout->addSpacing(14);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(465, 0)));

  connect(m_pBrowse, &QPushButton::clicked, this, &CSaveSQLiteFile::OnBrowse);
  connect(m_pOk, &QPushButton::clicked, this, &CSaveSQLiteFile::accept);
  connect(m_pCancel, &QPushButton::clicked, this, &CSaveSQLiteFile::reject);
}

void CSaveSQLiteFile::OnBrowse() {
  const std::optional<QString> chosen =
      Picker()(this, QStringLiteral("Select location to save recovered database"));
  if (!chosen) return;  // cancelled: the field keeps its text
  // The folder dialog decodes a name that is not UTF-8 lossily: the real
  // name is found again among the entries above it.
  const QString path = ResolveLossyPath(*chosen);
  if (path.isEmpty()) {
    m_pEdit->clear();
    return;
  }
  if (IsOnCdrom(path)) {
    ShowMessageBox(QStringLiteral("Please accurate  path for saving repaired file(s)"));
    m_pEdit->clear();
    return;
  }
  m_pEdit->setText(path);
}

void CSaveSQLiteFile::accept() {
  m_strPath = ResolveLossyPath(m_pEdit->text());
  if (m_strPath.isEmpty() || !NativePathExists(m_strPath)) {
    ShowMessageBox(QStringLiteral("Please, enter a valid file path."));
    return;
  }
  if (m_strPath.size() > kMaxSavePathLength) {
    ShowMessageBox(QStringLiteral("Path is to long to save data, please enter a valid file fath"));
    return;
  }
  if (!m_strRecoveredFileName.isEmpty()) {
    const QString target = QDir(m_strPath).filePath(m_strRecoveredFileName);
    if (NativeNameTaken(target)) {
      ShowMessageBox(QStringLiteral("The folder already holds a file named \"%1\":\n%2\n\n"
                                    "The recovered database is never written over an existing "
                                    "file. Please choose another folder.")
                         .arg(m_strRecoveredFileName, QDir::toNativeSeparators(target)));
      return;
    }
  }
  QDialog::accept();
}

}  // namespace velmora
