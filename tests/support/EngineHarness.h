// Drives the recovery engine the way the Open command and the table
// extraction do, with recorders in place of the window: scan, build the
// working database, walk one table's b-tree into a RecordCollector.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "engine/session/SQLiteRecovery.h"
#include "platform/MessageBox.h"
#include "tests/support/Recorders.h"

namespace velmora::test {

class RecoveryHarness {
 public:
  // Scans `path` and builds the working database; message boxes are
  // recorded (see boxes), progress calls counted (see progress).
  explicit RecoveryHarness(const QString& path, bool buildWorkingDatabase = true) {
    scan = engine.ScanDatabase(path, CSQLiteRecovery::ScanOptions(), progress);
    // The window shows the outcomes in message boxes; so does the harness.
    if (scan != CSQLiteRecovery::ScanOutcome::Opened)
      ShowMessageBox(CSQLiteRecovery::ScanMessage(scan));
    scanProgressCalls = progress.calls;
    if (buildWorkingDatabase) {
      const CSQLiteRecovery::WorkingDbOutcome working = engine.BuildWorkingDatabase(progress);
      if (!working.message.isEmpty()) ShowMessageBox(working.message);
    }
  }

  // The schema row of table `name` (exact name), or null.
  const SchemaObject* Table(const QString& name) const {
    return engine.Catalog().Find(SchemaKind::Table, name);
  }

  struct Walk {
    bool result = false;
    std::unique_ptr<RecordCollector> sink;
    std::int64_t progressCalls = 0;
    WalkReport report;
    QList<CollectedRecord>& records() {
      static QList<CollectedRecord> none;
      none.clear();
      return sink ? sink->records : none;
    }
  };

  // Walks the b-tree rooted at `root` in display mode (saveMode false, with a
  // grid when one is given) or save mode, as the table extraction does.
  Walk WalkRoot(std::int64_t root, bool saveMode, IRecordGrid* grid = nullptr,
                IStatusText* status = nullptr, IProgressBar* bar = nullptr, int stopAtRecord = -1) {
    Walk walk;
    walk.sink = std::make_unique<RecordCollector>(engine, progress, saveMode, grid, status, bar);
    walk.sink->stopAtRecord = stopAtRecord;
    walk.sink->refuseTempFiles = refuseTempFiles;
    const std::int64_t before = progress.calls;
    walk.report = engine.WalkPage(root, *walk.sink, *walk.sink);
    walk.result = walk.report.complete;
    walk.progressCalls = progress.calls - before;
    return walk;
  }

  // The same for table `name`; a table that the scan did not find gives a
  // failed walk without records.
  Walk WalkTable(const QString& name, bool saveMode, IRecordGrid* grid = nullptr) {
    const SchemaObject* table = Table(name);
    if (!table) return Walk{};  // no records, a failed walk
    return WalkRoot(table->rootPage, saveMode, grid);
  }

  bool refuseTempFiles = false;  // the walks' collectors have no temporary files to give
  CSQLiteRecovery::ScanOutcome scan = CSQLiteRecovery::ScanOutcome::NotOpen;
  MessageBoxRecorder boxes;  // constructed first: the scan's boxes are recorded
  ProgressCounter progress;
  std::int64_t scanProgressCalls = 0;
  CSQLiteRecovery engine;
};

}  // namespace velmora::test
