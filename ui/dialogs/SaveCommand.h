// The Save command: writes the objects ticked in the tree into a new
// database in a folder the user chooses, with the saving progress window
// while it runs and the completion report at the end.
//
// The frame provides the state it shares (stop and saving flags, the tree and
// its four categories, the progress window) and the operations of the output
// (open, dispatch, close); everything else happens here.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "output/SaveDispatch.h"
#include "ui/dialogs/ErrorDlg.h"

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace velmora {

// Appends to `names` the object name of every direct child of `category`
// whose box is ticked, in tree order (a table item's real name when it
// carries one). Grandchildren and the category's own box are not looked at.
void CollectCheckedChildren(const QTreeWidgetItem* category, QStringList& names);

// The ticked objects, by category.
struct SaveSelection {
  QStringList tables, views, triggers, indexes, deleted;
  bool Empty() const {
    return tables.isEmpty() && views.isEmpty() && triggers.isEmpty() && indexes.isEmpty() &&
           deleted.isEmpty();
  }
};

// Where a running save stands, for the saving window.
//  done / total    objects written so far / objects to write
//  name, kind      the object being written now (empty once all are done)
//  recordsBefore   records inserted by the tables finished before it
struct SaveProgress {
  int done = 0;
  int total = 0;
  QString name;
  int kind = 0;
  std::int64_t recordsBefore = 0;
};

// What the save shares with the main frame.
struct SaveContext {
  bool* stopRequested = nullptr;  // the frame's stop flag (the progress callback returns it)
  bool* saving = nullptr;         // true while the objects are written
  QTreeWidget* tree = nullptr;    // disabled while saving
  const QTreeWidgetItem* tables = nullptr;
  const QTreeWidgetItem* views = nullptr;
  const QTreeWidgetItem* triggers = nullptr;
  const QTreeWidgetItem* indexes = nullptr;
  const QTreeWidgetItem* deleted = nullptr;  // the Deleted Records category, when there is one
  QWidget* savingDialog = nullptr;           // shown while saving
  QString dbName;                            // file name of the opened database
  QStringList sourceLines;                   // where the pages came from (DescribeSource)
  // Told before each object is written and once all are (may be empty).
  std::function<void(const SaveProgress& progress)> progress;
};

// The operations the save uses.
struct SaveOperations {
  // True when a database with at least one table is opened.
  std::function<bool()> hasDatabase;
  // The destination dialog for a recovered database named `fileName`: the
  // chosen folder, or nothing when the user cancelled.
  std::function<std::optional<QString>(const QString& fileName)> askFolder;
  // Opens the recovered database; on success sets *path to the file, on
  // failure sets *error to a message for the user.
  std::function<bool(const QString& folder, const QString& fileName, QString* path, QString* error)>
      open;
  // Writes one object (save mode); the outcome says how far it got.
  std::function<ObjectOutcome(const ObjectRef& object)> dispatch;
  // Closes the recovered database.
  std::function<void()> close;
  // Shows the completion report.
  std::function<void(const SaveReport& report)> report;
};

// The destination dialog run modally over `parent`.
std::optional<QString> AskSaveDestination(QWidget* parent, const QString& fileName);

// The completion report run modally over `parent`.
void ShowSaveReport(QWidget* parent, const SaveReport& report);

// Runs the Save command. Returns the report when objects were dispatched,
// nothing when the command ended before (no database, nothing ticked,
// destination cancelled, recovered database not opened).
std::optional<SaveReport> RunSaveCommand(const SaveContext& context, const SaveOperations& ops);

}  // namespace velmora
