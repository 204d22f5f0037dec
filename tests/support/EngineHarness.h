// Drives the recovery engine the way the Open command and the table
// extraction do, with recorders in place of the window: scan, build the
// working database, walk one table's b-tree into a RecordCollector.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "engine/SQLiteRecovery.h"
#include "tests/support/Recorders.h"

namespace velmora::test {

class RecoveryHarness {
 public:
  // Scans `path` and builds the working database; message boxes are
  // recorded (see boxes), progress calls counted (see progress).
  explicit RecoveryHarness(const QString& path, bool buildWorkingDatabase = true) {
    engine.m_pfnProgress = &ProgressCounter::Proc;
    engine.m_pOwner = &progress;
    engine.ScanDatabase(path);
    scanProgressCalls = progress.calls;
    if (buildWorkingDatabase) engine.BuildWorkingDatabase();
  }

  // The schema row of table `name` (exact name), or null.
  const SchemaObject* Table(const QString& name) const {
    for (const SchemaObject& o : engine.m_vecTableObjects)
      if (o.name == name) return &o;
    return nullptr;
  }

  struct Walk {
    bool result = false;
    std::unique_ptr<RecordCollector> sink = std::make_unique<RecordCollector>();
    std::int64_t progressCalls = 0;
    QList<CollectedRecord>& records() { return sink->records; }
  };

  // Walks the b-tree rooted at `root` in display mode (saveMode false, with a
  // grid when one is given) or save mode, as the table extraction does.
  Walk WalkRoot(std::int64_t root, bool saveMode, IRecordGrid* grid = nullptr,
                IStatusText* status = nullptr, IProgressBar* bar = nullptr,
                int stopAtRecord = -1) {
    Walk walk;
    walk.sink->stopAtRecord = stopAtRecord;
    const std::int64_t before = progress.calls;
    engine.m_bSaveMode = saveMode;
    engine.m_pRecordSink = walk.sink.get();
    walk.result = engine.WalkPage(root, saveMode ? nullptr : grid, status, saveMode ? nullptr : bar, true);
    engine.m_pRecordSink = nullptr;
    engine.m_bSaveMode = false;
    walk.progressCalls = progress.calls - before;
    return walk;
  }

  // The same for table `name`; a table that the scan did not find gives a
  // failed walk without records.
  Walk WalkTable(const QString& name, bool saveMode, IRecordGrid* grid = nullptr) {
    const SchemaObject* table = Table(name);
    if (!table) return Walk{};
    return WalkRoot(table->rootPage, saveMode, grid);
  }

  MessageBoxRecorder boxes;  // constructed first: the scan's boxes are recorded
  ProgressCounter progress;
  std::int64_t scanProgressCalls = 0;
  CSQLiteRecovery engine;
};

}  // namespace velmora::test
