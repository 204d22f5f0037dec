// Whole-file passes benchmark: what the passes that look beyond the live
// trees cost a save of an intact file. In one process, per database and per
// round:
//
//   save     ScanDatabase, BuildWorkingDatabase and the save of every object
//            into a new recovered database, as `velmora-recover save` does
//   mapping  the live trees mapped before any table is read (MapLiveTrees on
//            a fresh page map), run again on its own
//   orphan   the orphan pass (page classification, orphan pages grouped and
//            attributed), run again on its own
//
//   open     ScanDatabase and BuildWorkingDatabase, as the window's Open
//            does without the deleted records
//   deleted  the deleted-records pass, run on its own after that Open
//
// Both passes are part of the save; the figure printed is what they add to
// the rest of it: (mapping + orphan) / (save - mapping - orphan). The
// deleted-records figure is what that pass adds to the Open: deleted / open.
// Medians over the rounds, wall and processor time.
//
//   bench_passes [--rounds N] FILE...
// With no FILE, the databases bench_save made in its data folder are used.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/passes/PagePasses.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"

using namespace velmora;

namespace {

struct Times {
  double wall = 0;  // seconds
  double cpu = 0;   // user + system seconds of this process
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename F>
Times Measure(F&& work) {
  QElapsedTimer timer;
  const double cpu = CpuSeconds();
  timer.start();
  work();
  return Times{double(timer.nsecsElapsed()) / 1e9, CpuSeconds() - cpu};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Opens and saves every object of `file` into `folder`; false when the file
// cannot be opened.
bool Save(const QString& file, const QString& folder) {
  CSQLiteRecovery engine;
  if (engine.ScanDatabase(file) != CSQLiteRecovery::ScanOutcome::Opened) return false;
  engine.BuildWorkingDatabase();
  RecoveredDatabase target;
  QString error;
  if (!target.Open(engine, folder, QFileInfo(file).fileName(), &error)) return false;
  const auto plan = MakeSavePlan(
      CategoryNames(engine, ObjectKind::Table), CategoryNames(engine, ObjectKind::View),
      CategoryNames(engine, ObjectKind::Trigger), CategoryNames(engine, ObjectKind::Index));
  for (const PlannedObject& object : plan)
    DispatchObject(engine, NoProgress(), ObjectRef{object.kind, object.name}, target);
  target.Close();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int rounds = 3;
  QStringList files;
  for (int i = 1; i < argc; ++i) {
    const QString a = QString::fromLocal8Bit(argv[i]);
    if (a == QLatin1String("--rounds") && i + 1 < argc)
      rounds = std::max(1, atoi(argv[++i]));
    else
      files << a;
  }
  if (files.isEmpty()) {
    const QDir data(QStringLiteral(VELMORA_BENCH_DATA_DIR));
    for (const QString& name :
         data.entryList({QStringLiteral("bench-source.db"), QStringLiteral("bench-shaped-*.db")},
                        QDir::Files, QDir::Name))
      files << data.filePath(name);
  }
  if (files.isEmpty()) {
    std::fprintf(stderr, "no database: run bench_save --make-only first, or name files\n");
    return 2;
  }
  for (const QString& file : files) {
    std::vector<double> saveWall, saveCpu, passWall, passCpu, mapWall, orphanWall;
    std::vector<double> openWall, openCpu, deletedWall, deletedCpu;
    std::int64_t deletedFound = 0;
    for (int round = 0; round < rounds; ++round) {
      QTemporaryDir folder;
      bool opened = true;
      const Times save = Measure([&] { opened = Save(file, folder.path()); });
      if (!opened) {
        std::fprintf(stderr, "%s: cannot be opened\n", qPrintable(file));
        return 1;
      }
      CSQLiteRecovery engine;
      engine.ScanDatabase(file);
      engine.BuildWorkingDatabase();
      std::vector<bool> indexTrees;
      for (const std::int64_t root : engine.LiveRoots())
        indexTrees.push_back(ProbeRoot(engine.Source(), root).indexTree);
      const Times mapping = Measure([&] {
        PageMap fresh;
        MapLiveTrees(engine.Source(), fresh, engine.LiveRoots(), indexTrees, NoProgress());
      });
      const Times orphan = Measure([&] { engine.RunPassAgain("orphan pages", NoProgress()); });
      CSQLiteRecovery::ScanOptions options;
      options.findDeleted = true;
      CSQLiteRecovery opened2;
      const Times open = Measure([&] {
        CSQLiteRecovery plain;
        plain.ScanDatabase(file);
        plain.BuildWorkingDatabase();
      });
      opened2.ScanDatabase(file, options);
      opened2.BuildWorkingDatabase();
      const Times deleted = Measure([&] { opened2.RunPassAgain("deleted records", NoProgress()); });
      deletedFound = opened2.Deleted().whole + opened2.Deleted().partial;
      openWall.push_back(open.wall);
      openCpu.push_back(open.cpu);
      deletedWall.push_back(deleted.wall);
      deletedCpu.push_back(deleted.cpu);
      saveWall.push_back(save.wall);
      saveCpu.push_back(save.cpu);
      passWall.push_back(mapping.wall + orphan.wall);
      passCpu.push_back(mapping.cpu + orphan.cpu);
      mapWall.push_back(mapping.wall);
      orphanWall.push_back(orphan.wall);
    }
    const double sw = Median(saveWall), sc = Median(saveCpu);
    const double pw = Median(passWall), pc = Median(passCpu);
    std::printf("%s (%d rounds, medians)\n", qPrintable(QFileInfo(file).fileName()), rounds);
    std::printf("  save            %8.2f s wall %8.2f s cpu\n", sw, sc);
    std::printf("  mapping         %8.2f s wall\n", Median(mapWall));
    std::printf("  orphan pass     %8.2f s wall\n", Median(orphanWall));
    std::printf("  passes          %8.2f s wall %8.2f s cpu\n", pw, pc);
    std::printf("  passes add      %7.1f %% wall %7.1f %% cpu to the rest of the save\n",
                sw > pw ? 100 * pw / (sw - pw) : 0.0, sc > pc ? 100 * pc / (sc - pc) : 0.0);
    const double ow = Median(openWall), oc = Median(openCpu);
    const double dw = Median(deletedWall), dc = Median(deletedCpu);
    std::printf("  open            %8.2f s wall %8.2f s cpu\n", ow, oc);
    std::printf("  deleted records %8.2f s wall %8.2f s cpu (%lld found)\n", dw, dc,
                static_cast<long long>(deletedFound));
    std::printf("  deleted adds    %7.1f %% wall %7.1f %% cpu to the open\n",
                ow > 0 ? 100 * dw / ow : 0.0, oc > 0 ? 100 * dc / oc : 0.0);
  }
  return 0;
}
