// The main frame's views of what came back: the recovery summary for the
// root item, the value viewer of a grid cell, and the CSV export of a table.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStyle>
#include <QTreeWidgetItem>

#include "output/CsvExport.h"
#include "output/TableValues.h"
#include "platform/MessageBox.h"
#include "platform/NativeFiles.h"
#include "ui/frame/LeftView.h"
#include "ui/frame/MainFrame.h"
#include "ui/frame/WidgetMessageBox.h"
#include "ui/grid/RecordDisplay.h"
#include "ui/grid/RightView.h"
#include "ui/grid/ValueViewer.h"

namespace velmora {
namespace {

// Whether `path` is the damaged file or one of its companions, which are
// never written.
bool IsSourceFile(const QString& path, const QString& source) {
  if (source.isEmpty()) return false;
  for (const char* suffix : {"", "-wal", "-journal", "-shm"})
    if (SameNativeFile(path, source + QLatin1String(suffix))) return true;
  return false;
}

}  // namespace

void CMainFrame::RunEngineWork(const std::function<void()>& work) {
  EngineCall call(*this);
  m_bStopRequested = false;
  m_wndProgress->setRange(0, 100);
  m_wndProgress->setValue(0);
  m_wndProgress->show();
  m_btnStop->show();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  work();
  QApplication::restoreOverrideCursor();
  m_btnStop->hide();
  m_wndProgress->hide();
}

bool CMainFrame::ShowSummary() {
  if (m_pRecovery->TableNames().isEmpty() || EngineBusy() || m_bSaving || m_bCloseAfterWork)
    return false;
  if (!m_summary) {
    RecoverySummary summary;
    RunEngineWork([&] { summary = MakeSummary(*m_pRecovery, m_engineProgress, ProgressBar()); });
    if (summary.stopped) {
      // Not kept: the next click on the root item counts again.
      m_pRightView->ShowSummary(FormatSummary(summary), &summary.pageMap);
      return false;
    }
    m_summary = std::move(summary);
    MarkLosses();
  }
  m_pRightView->ShowSummary(FormatSummary(*m_summary), &m_summary->pageMap);
  return true;
}

TableSummary CMainFrame::TableLosses(const QString& table) const {
  if (m_summary)
    if (const TableSummary* counted = m_summary->Table(table)) return *counted;
  return OpenedTableSummary(*m_pRecovery, table);
}

void CMainFrame::MarkLosses() {
  if (m_hTablesItem == nullptr) return;
  for (int i = 0; i < m_hTablesItem->childCount(); ++i) {
    QTreeWidgetItem* item = m_hTablesItem->child(i);
    const TableSummary table = TableLosses(ObjectNameOfItem(item));
    if (!table.HasLosses()) continue;
    item->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setToolTip(0, PlainToolTip(QStringLiteral("Lost: ") + table.LossText()));
  }
}

void CMainFrame::ShowLossHint() {
  const QString table = ShownTableName();
  if (table.isEmpty() || m_pDisplay->IsShowingRecords()) {
    m_pRightView->HideHint();
    return;
  }
  const TableSummary losses = TableLosses(table);
  if (!losses.HasLosses()) {
    m_pRightView->HideHint();
    return;
  }
  m_pRightView->ShowHint(QStringLiteral("This table is damaged: ") + losses.LossText() +
                         QLatin1Char('.'));
  // The walk just made may have found more than the open knew.
  MarkLosses();
}

QString CMainFrame::ShownTableName() const {
  QTreeWidgetItem* shown = m_pDisplay ? m_pDisplay->ShownItem() : nullptr;
  if (shown == nullptr || m_hTablesItem == nullptr || shown->parent() != m_hTablesItem) return {};
  if (!m_pRightView->Grid()->isVisible()) return {};
  return ObjectNameOfItem(shown);
}

bool CMainFrame::OnViewValue(const QModelIndex& index) {
  const QString table = ShownTableName();
  if (table.isEmpty() || !index.isValid() || EngineBusy() || m_bSaving || m_bCloseAfterWork)
    return false;
  // The record behind the grid row, in the order the table was read.
  const std::int64_t row = m_pRightView->Grid()->GridModel()->StoreRow(index.row());
  const int column = index.column();
  FetchedValue value;
  RunEngineWork([&] {
    value = FetchValue(*m_pRecovery, m_engineProgress, table, row, column, kViewerHeadBytes);
  });
  if (value.result != FetchedValue::Result::Found) {
    if (value.result == FetchedValue::Result::NoSuchRow)
      ShowMessageBox(
          QStringLiteral("Row %1 of \"%2\" could not be read again.").arg(row + 1).arg(table));
    return false;
  }
  const QString columnName =
      m_pRightView->Grid()->model()->headerData(column, Qt::Horizontal).toString();
  const QString where = value.hasRowid ? QStringLiteral("rowid %1").arg(value.rowid)
                                       : QStringLiteral("row %1").arg(row + 1);
  CValueViewerDlg viewer(
      this, QStringLiteral("%1.%2, %3").arg(table, columnName, where), value,
      m_pRecovery->geometry().textEncoding, [&] {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        // The dialog decodes folder names that are not UTF-8 lossily.
        const QString path = ResolveLossyPath(QFileDialog::getSaveFileName(
            &viewer, QStringLiteral("Save Value As"),
            QDir(folder).filePath(SuggestedValueFileName(table, columnName, row, value))));
        if (path.isEmpty()) return;
        const QString error = SaveValueTo(row, column, path);
        if (error.isEmpty())
          ShowMessageBox(QStringLiteral("The value was saved to %1.").arg(path), MsgButtons::Ok,
                         MsgIcon::Information);
        else
          ShowMessageBox(error);
      });
  viewer.exec();
  return true;
}

QString CMainFrame::SaveValueTo(std::int64_t row, int column, const QString& path) {
  const QString table = ShownTableName();
  if (table.isEmpty()) return QStringLiteral("No table is shown.");
  if (IsSourceFile(path, m_pRecovery->FilePath()))
    return QStringLiteral("The damaged file and its companions are never written.");
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork)
    return QStringLiteral("Wait until the current work has ended.");
  FetchedValue value;
  RunEngineWork(
      [&] { value = FetchValue(*m_pRecovery, m_engineProgress, table, row, column, 0, path); });
  if (value.result == FetchedValue::Result::Stopped) return QStringLiteral("The save was stopped.");
  if (!value.saved)
    return QStringLiteral("The value could not be saved to %1: %2").arg(path, value.error);
  return {};
}

CsvOutcomeText CMainFrame::ExportCsvTo(const QString& table, const QString& path, bool overwrite) {
  CsvOutcomeText result;
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork) {
    result.text = QStringLiteral("Wait until the current work has ended.");
    return result;
  }
  CsvOutcome outcome;
  RunEngineWork([&] {
    outcome =
        ExportTableCsv(*m_pRecovery, m_engineProgress, table, path, overwrite, *ProgressBar());
  });
  if (!outcome.written) {
    result.text = QStringLiteral("The table \"%1\" was not exported: %2").arg(table, outcome.error);
    return result;
  }
  result.text =
      QStringLiteral("%1 rows of \"%2\" were exported to %3.").arg(outcome.rows).arg(table, path);
  if (outcome.stopped)
    result.text +=
        QStringLiteral("\nThe export was stopped; the file holds the rows before the stop.");
  if (outcome.incomplete)
    result.text += QStringLiteral("\nDamaged pages of the table were skipped.");
  if (outcome.valuesCut > 0)
    result.text +=
        QStringLiteral("\n%1 values could not be read completely.").arg(outcome.valuesCut);
  if (outcome.recordsSkipped > 0)
    result.text += QStringLiteral("\n%1 records held more values than the table has columns.")
                       .arg(outcome.recordsSkipped);
  if (!outcome.error.isEmpty()) result.text += QStringLiteral("\n") + outcome.error;
  result.ok = !outcome.stopped && outcome.error.isEmpty();
  return result;
}

void CMainFrame::OnFileExportCsv() {
  if (EngineBusy() || m_bSaving || m_bCloseAfterWork) return;
  QString table = ShownTableName();
  if (table.isEmpty()) {
    // The table item selected in the tree, when no grid shows one.
    QTreeWidgetItem* current = TreeCtrl() ? TreeCtrl()->currentItem() : nullptr;
    if (current != nullptr && m_hTablesItem != nullptr && current->parent() == m_hTablesItem)
      table = ObjectNameOfItem(current);
  }
  if (table.isEmpty()) {
    ShowMessageBox(QStringLiteral("Click a table in the tree first."));
    return;
  }
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  const QString path = ResolveLossyPath(QFileDialog::getSaveFileName(
      this, QStringLiteral("Export Table as CSV"), folder + QLatin1Char('/') + CsvFileName(table),
      QStringLiteral("CSV files (*.csv);;All files (*)")));
  if (path.isEmpty()) return;
  if (IsSourceFile(path, m_pRecovery->FilePath())) {
    ShowMessageBox(QStringLiteral("The damaged file and its companions are never written."));
    return;
  }
  // The file dialog has asked before an existing file is replaced.
  ShowMessageBox(ExportCsvTo(table, path, true).text);
}

}  // namespace velmora
