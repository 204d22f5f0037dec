#include "tests/support/TestEnv.h"

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <memory>

// The engine's program-folder override. Declared weak so that the test kit
// links whether or not the engine provides it; when it does, every test
// process keeps its working database in its own folder.
namespace velmora {
void SetProgramFolderOverride(const QString& folder) __attribute__((weak));
}

namespace velmora::test {
namespace {

struct Environment {
  std::unique_ptr<QTemporaryDir> root;
  QString programFolder;
  QString tmpFolder;
};

Environment& Env() {
  static Environment env;
  return env;
}

}  // namespace

void InitTestEnvironment() {
  Environment& env = Env();
  if (env.root) return;
  // The base must exist before TMPDIR is changed; QTemporaryDir reads it.
  env.root = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX"));
  if (!env.root->isValid()) qFatal("cannot create the test folder: %s", qPrintable(env.root->errorString()));
  QDir base(env.root->path());
  base.mkpath(QStringLiteral("tmp"));
  base.mkpath(QStringLiteral("program"));
  env.tmpFolder = base.filePath(QStringLiteral("tmp"));
  env.programFolder = base.filePath(QStringLiteral("program"));
  ::setenv("TMPDIR", QFile::encodeName(env.tmpFolder).constData(), 1);
  if (&velmora::SetProgramFolderOverride != nullptr) velmora::SetProgramFolderOverride(env.programFolder);
}

QString TestRoot() {
  InitTestEnvironment();
  return Env().root->path();
}

QString ProgramFolder() {
  InitTestEnvironment();
  return Env().programFolder;
}

QString NewTestFolder(const QString& stem) {
  static std::atomic<int> counter{0};
  QDir base(TestRoot());
  const QString name = QStringLiteral("%1-%2").arg(stem).arg(++counter);
  base.mkpath(name);
  return base.filePath(name);
}

}  // namespace velmora::test
