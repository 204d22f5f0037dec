#include "tests/fuzz/FuzzEntry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

#include "engine/SQLiteRecovery.h"
#include "platform/Folders.h"
#include "platform/MessageBox.h"
#include "tests/support/Recorders.h"

namespace velmora::fuzz {
namespace {

struct Environment {
  std::unique_ptr<QTemporaryDir> root;
  QString scratchFile;
};

Environment& Env() {
  static Environment env;
  return env;
}

}  // namespace

void InitFuzzEnvironment() {
  Environment& env = Env();
  if (env.root) return;
  const QString shm = QStringLiteral("/dev/shm");
  const QString base = QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
  env.root = std::make_unique<QTemporaryDir>(base + QStringLiteral("/velmora-fuzz-XXXXXX"));
  if (!env.root->isValid()) std::abort();
  QDir dir(env.root->path());
  dir.mkpath(QStringLiteral("tmp"));
  dir.mkpath(QStringLiteral("program"));
  ::setenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("tmp"))).constData(), 1);
  SetProgramFolderOverride(dir.filePath(QStringLiteral("program")));
  env.scratchFile = dir.filePath(QStringLiteral("input.db"));
  SetMessageBoxHook([](const QString&, MsgButtons buttons, MsgIcon) {
    return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::No;
  });
}

std::int64_t RecoverFile(const QString& path) {
  InitFuzzEnvironment();
  std::int64_t records = 0;
  CSQLiteRecovery engine;
  test::ProgressCounter progress;
  engine.ScanDatabase(path, CSQLiteRecovery::ScanOptions(), progress);
  engine.BuildWorkingDatabase(progress);

  std::vector<std::int64_t> roots;
  for (const SchemaObject* o : engine.Catalog().OfKind(SchemaKind::Table)) roots.push_back(o->rootPage);
  for (const SchemaObject* o : engine.Catalog().OfKind(SchemaKind::Index)) roots.push_back(o->rootPage);
  for (const std::int64_t root : roots) {
    for (const bool saveMode : {false, true}) {
      test::GridRecorder grid;
      test::StatusTextRecorder status;
      test::ProgressBarRecorder bar;
      test::RecordCollector sink(engine, progress, saveMode, &grid, &status, &bar);
      engine.WalkPage(root, sink, sink);
      records += sink.records.size();
    }
  }
  return records;
}

std::int64_t RecoverBytes(const std::uint8_t* data, std::size_t size) {
  InitFuzzEnvironment();
  const QString& path = Env().scratchFile;
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (size > 0 && file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) std::abort();
  }
  return RecoverFile(path);
}

}  // namespace velmora::fuzz
