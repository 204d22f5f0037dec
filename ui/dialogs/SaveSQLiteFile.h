// CSaveSQLiteFile: asks for the folder that receives the recovered database.
//
// OK accepts only an existing path of at most 160 characters that does not
// already hold a file with the recovered database's name (so that a save
// never writes into an existing file, the damaged file least of all).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

class QLineEdit;
class QPushButton;

namespace velmora {

inline constexpr int kMaxSavePathLength = 160;

// The folder chooser behind Browse: returns the chosen folder, an empty text
// when the choice gives no file-system path, std::nullopt when the user
// cancelled. Tests install their own; an empty hook restores QFileDialog.
using FolderPicker = std::function<std::optional<QString>(QWidget* owner, const QString& title)>;
FolderPicker SetFolderPicker(FolderPicker picker);

// Whether `path` lies on a CD-ROM (an ISO 9660 or UDF file system, by statfs).
// Tests may replace the probe; an empty hook restores statfs.
using CdromProbe = std::function<bool(const QString& path)>;
CdromProbe SetCdromProbe(CdromProbe probe);
bool IsOnCdrom(const QString& path);

class CSaveSQLiteFile : public QDialog {
  Q_OBJECT
 public:
  // `recoveredFileName`: file name the recovered database will have (the
  // damaged file's name); empty skips the existing-file check.
  explicit CSaveSQLiteFile(QWidget* parent = nullptr, const QString& recoveredFileName = {});

  // The accepted folder (valid after exec() returned Accepted).
  QString m_strPath;

  QLineEdit* PathEdit() const { return m_pEdit; }
  QPushButton* BrowseButton() const { return m_pBrowse; }
  QPushButton* OkButton() const { return m_pOk; }
  QPushButton* CancelButton() const { return m_pCancel; }

 public slots:
  void OnBrowse();
  void accept() override;  // OK: the checks below

 private:
  QString m_strRecoveredFileName;
  QLineEdit* m_pEdit = nullptr;
  QPushButton* m_pBrowse = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
};

}  // namespace velmora
