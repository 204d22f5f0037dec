#include "tests/support/TestEnv.h"

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <memory>

#include "platform/Folders.h"
#include "platform/TempFolder.h"

namespace velmora::test {
namespace {

struct Environment {
  std::unique_ptr<QTemporaryDir> root;
  QString programFolder;
  QString tmpFolder;
  // Removed by the names' bytes: tests make names that are not UTF-8, which
  // QTemporaryDir could not remove.
  ~Environment() {
    if (root) DeleteFolderTree(root->path());
  }
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
  env.root =
      std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX"));
  if (!env.root->isValid())
    qFatal("cannot create the test folder: %s", qPrintable(env.root->errorString()));
  QDir base(env.root->path());
  base.mkpath(QStringLiteral("tmp"));
  base.mkpath(QStringLiteral("program"));
  env.tmpFolder = base.filePath(QStringLiteral("tmp"));
  env.programFolder = base.filePath(QStringLiteral("program"));
  ::setenv("TMPDIR", QFile::encodeName(env.tmpFolder).constData(), 1);
  // Settings (the window look) are written into the test folder, never into
  // the settings of the user who runs the tests.
  base.mkpath(QStringLiteral("config"));
  ::setenv("XDG_CONFIG_HOME",
           QFile::encodeName(base.filePath(QStringLiteral("config"))).constData(), 1);
  // Every test process keeps its working database in its own folder.
  velmora::SetProgramFolderOverride(env.programFolder);
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
