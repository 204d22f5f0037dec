// CSQLiteOpenFile: the "Database Selection" dialog with which the user picks
// the damaged database file, and CLinkButton, the hyperlink-style button.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QString>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace velmora {

// Asks the user for an existing file; returns its full path, or an empty
// text when the user cancelled. Replaceable so that tests and the tour can
// answer without a file dialog.
using OpenFileChooser = std::function<QString(QWidget* parent)>;

// Installs `chooser` (an empty one restores the system file dialog) and
// returns the previous one.
OpenFileChooser SetOpenFileChooser(OpenFileChooser chooser);

class CSQLiteOpenFile : public QDialog {
  Q_OBJECT
 public:
  // Control ids of the dialog, also the widgets' object names ("id1000", ...).
  enum : int {
    IDC_EDIT_PATH = 1001,
    IDC_BROWSE = 1000,
    IDC_RECOVER = 1003,
    IDCANCEL = 2,
    IDOK = 1
  };

  explicit CSQLiteOpenFile(QWidget* parent = nullptr);

  QString m_strDbPath;  // full path of the chosen file: set by Browse, and by Recover or Enter from
                        // the edit box
  QString m_strDbName;  // file-name part of m_strDbPath, trimmed
  // The user ticked "read the database file alone": FILE-wal and
  // FILE-journal beside it are left out. Set when the dialog is accepted.
  bool m_bMainFileOnly = false;

  QLineEdit* PathEdit() const { return m_pEdit; }
  QPushButton* BrowseButton() const { return m_pBrowse; }
  QPushButton* RecoverButton() const { return m_pRecover; }
  QPushButton* CancelButton() const { return m_pCancel; }
  QLabel* CompanionLabel() const { return m_pCompanions; }
  QCheckBox* MainFileOnlyBox() const { return m_pMainFileOnly; }

  // The line that names the companion files found beside `path` (FILE-wal,
  // FILE-journal), or says that there are none; empty for an empty path.
  static QString CompanionText(const QString& path);

  // The commands of the dialog's buttons.
  void OnBrowse();
  void OnRecover();
  void OnOK();  // the hidden default button, reached with Enter in the edit

  // The existing regular file that `text` (typed or pasted into the edit box)
  // names, as an absolute path: the text as it stands, else with surrounding
  // blanks cut; a "file:" URL names its local file and a leading "~/" the home
  // folder. Empty when no such file exists.
  static QString ExistingFileOf(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Takes the edit box's path when it names an existing file (then true);
  // shows `refusal` and returns false otherwise.
  bool TakeEditPath(const QString& refusal);
  // Shows which companions lie beside the file the edit box names; the box
  // is enabled only when there is one.
  void UpdateCompanions();

  QLineEdit* m_pEdit;
  QPushButton* m_pBrowse;
  QPushButton* m_pRecover;
  QPushButton* m_pCancel;
  QPushButton* m_pOk;
  QLabel* m_pCompanions;
  QCheckBox* m_pMainFileOnly;
};

// A flat button that shows the hand cursor while the pointer is over it.
class CLinkButton : public QPushButton {
  Q_OBJECT
 public:
  explicit CLinkButton(const QString& text = {}, QWidget* parent = nullptr);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
};

}  // namespace velmora
