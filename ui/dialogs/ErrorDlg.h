// CErrorDlg: the report shown when a save has ended ("Process Completed").
//
// It says what happened: "saving done successfully..." only when every ticked
// object was written in full; otherwise that the save was stopped, that
// objects failed, or that tables could not be read completely from the
// damaged file. One line per object tells what was saved (tables with their
// record counts) and what was not, and why. The file written is always named.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <vector>

#include "output/SaveDispatch.h"

class QPlainTextEdit;

namespace velmora {

// One ticked object and what became of it.
struct SaveReportEntry {
  QString name;
  ObjectKind kind = ObjectKind::Table;
  ObjectOutcome outcome;
};

struct SaveReport {
  QString filePath;                      // the recovered database that was written
  bool stopped = false;                  // the user stopped the save
  std::vector<SaveReportEntry> entries;  // in the order they were dispatched
  QStringList source;  // where the damaged file's pages came from (DescribeSource); may be empty
};

// True when the object was written in full (no stop, no error).
bool FullySaved(const ObjectOutcome& outcome);

// The report's text, lines separated by "\n".
QString FormatSaveReport(const SaveReport& report);

class CErrorDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CErrorDlg(const SaveReport& report, QWidget* parent = nullptr);

  QString m_strMessage;  // the text shown
  QPlainTextEdit* MessageEdit() const { return m_pEdit; }

 private:
  QPlainTextEdit* m_pEdit = nullptr;
};

}  // namespace velmora
