#include "ui/dialogs/SaveCommand.h"

#include <QTreeWidget>

#include "platform/MessageBox.h"
#include "ui/dialogs/SaveSQLiteFile.h"
#include "ui/grid/RecordDisplay.h"

namespace velmora {

void CollectCheckedChildren(const QTreeWidgetItem* category, QStringList& names) {
  if (category == nullptr) return;
  for (int i = 0; i < category->childCount(); ++i) {
    const QTreeWidgetItem* child = category->child(i);
    if (child->checkState(0) == Qt::Checked) names << ObjectNameOfItem(child);
  }
}

std::optional<QString> AskSaveDestination(QWidget* parent, const QString& fileName) {
  CSaveSQLiteFile dialog(parent, fileName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.m_strPath;
}

void ShowSaveReport(QWidget* parent, const SaveReport& report) {
  CErrorDlg dialog(report, parent);
  dialog.exec();
}

std::optional<SaveReport> RunSaveCommand(const SaveContext& context, const SaveOperations& ops) {
  bool unusedStop = false, unusedSaving = false;
  bool& stop = context.stopRequested ? *context.stopRequested : unusedStop;
  bool& saving = context.saving ? *context.saving : unusedSaving;

  stop = false;
  if (!ops.hasDatabase || !ops.hasDatabase()) {
    ShowMessageBox(QStringLiteral("No database is opened."));
    return std::nullopt;
  }
  SaveSelection ticked;
  CollectCheckedChildren(context.tables, ticked.tables);
  CollectCheckedChildren(context.views, ticked.views);
  CollectCheckedChildren(context.triggers, ticked.triggers);
  CollectCheckedChildren(context.indexes, ticked.indexes);
  if (context.deleted != nullptr) CollectCheckedChildren(context.deleted, ticked.deleted);
  if (ticked.Empty()) {
    ShowMessageBox(QStringLiteral("Please Choose object(s) to save."));
    return std::nullopt;
  }

  const std::optional<QString> folder =
      ops.askFolder ? ops.askFolder(context.dbName) : std::nullopt;
  if (!folder) return std::nullopt;

  saving = true;
  SaveReport report;
  report.source = context.sourceLines;
  QString error;
  if (!ops.open || !ops.open(*folder, context.dbName, &report.filePath, &error)) {
    // Nothing was written; the tree and the window are as before.
    saving = false;
    ShowMessageBox(!error.isEmpty()
                       ? error
                       : QStringLiteral("The recovered database could not be created in \"%1\".")
                             .arg(*folder));
    return std::nullopt;
  }

  if (context.tree) context.tree->setEnabled(false);
  if (context.savingDialog) context.savingDialog->show();

  // After a stop every remaining object is still handed over; the dispatch
  // passes it over at once and the report lists it.
  const auto plan =
      MakeSavePlan(ticked.tables, ticked.views, ticked.triggers, ticked.indexes, ticked.deleted);
  SaveProgress progress;
  progress.total = static_cast<int>(plan.size());
  for (const PlannedObject& object : plan) {
    SaveReportEntry entry;
    entry.name = object.name;
    entry.kind = object.kind;
    progress.name = object.name;
    progress.kind = static_cast<int>(object.kind);
    if (context.progress) context.progress(progress);
    if (ops.dispatch) {
      entry.outcome = ops.dispatch(object);
    } else {
      entry.outcome.error = QStringLiteral("nothing to write it with");
    }
    ++progress.done;
    progress.recordsBefore += entry.outcome.records;
    report.entries.push_back(std::move(entry));
  }
  progress.name.clear();
  if (context.progress) context.progress(progress);

  if (ops.close) ops.close();
  if (context.tree) context.tree->setEnabled(true);
  saving = false;
  if (context.savingDialog) context.savingDialog->hide();

  // A stop that came after the last object had been written cost nothing:
  // the report then tells of a complete save.
  bool allSaved = true;
  for (const SaveReportEntry& e : report.entries) {
    report.stopped = report.stopped || e.outcome.stopped;
    allSaved = allSaved && FullySaved(e.outcome);
  }
  report.stopped = report.stopped || (stop && !allSaved);
  if (ops.report) ops.report(report);
  return report;
}

}  // namespace velmora
