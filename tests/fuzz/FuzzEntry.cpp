#include "tests/fuzz/FuzzEntry.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/session/SQLiteRecovery.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"
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
  const QString base =
      QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
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
  // As the window opens a file: the deleted records read back too.
  CSQLiteRecovery::ScanOptions options;
  options.findDeleted = true;
  engine.ScanDatabase(path, options, progress);
  engine.BuildWorkingDatabase(progress);
  for (const DeletedTable& table : engine.Deleted().tables)
    records += static_cast<std::int64_t>(table.records.size());

  std::vector<std::int64_t> roots;
  for (const SchemaObject* o : engine.Catalog().OfKind(SchemaKind::Table))
    roots.push_back(o->rootPage);
  for (const SchemaObject* o : engine.Catalog().OfKind(SchemaKind::Index))
    roots.push_back(o->rootPage);
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
    if (size > 0 && file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
      std::abort();
  }
  return RecoverFile(path);
}

namespace {

// The database the crafted row goes into, built once.
const QByteArray& SchemaBase() {
  static const QByteArray image = [] {
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
    const char* sql =
        "PRAGMA page_size = 512;"
        "CREATE TABLE t(a INTEGER PRIMARY KEY, b, c);"
        "INSERT INTO t VALUES (1, 2, 'two'), (2, -3.5, x'00ff'), (3, NULL, '{\"k\": [1, 2]}'),"
        " (4, 'x', zeroblob(700)), (5, 9223372036854775807, printf('%.*c', 900, 'y')),"
        " (6, '', 0.1), (7, '{bad', -1);"
        "CREATE INDEX tb ON t(b); CREATE VIEW tv AS SELECT a, c FROM t;"
        "CREATE TRIGGER tt AFTER DELETE ON t BEGIN SELECT 1; END;";
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
    QByteArray copy(reinterpret_cast<const char*>(bytes), qsizetype(size));
    sqlite3_free(bytes);
    sqlite3_close(db);
    return copy;
  }();
  return image;
}

// The base database with the crafted row; empty when the library refuses it.
QByteArray WithSchemaRow(int kind, const QByteArray& name, const QByteArray& sql) {
  const QByteArray& base = SchemaBase();
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
  auto* buffer = static_cast<unsigned char*>(sqlite3_malloc64(sqlite3_uint64(base.size())));
  std::memcpy(buffer, base.constData(), std::size_t(base.size()));
  sqlite3_deserialize(db, "main", buffer, base.size(), base.size(),
                      SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
  sqlite3_exec(db, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  static const char* const kTypes[] = {"table", "view", "index", "trigger"};
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     kind == 0 ? "UPDATE sqlite_schema SET name = ?2, tbl_name = ?2, sql = ?3 "
                                 "WHERE name = 't'"
                               : "INSERT INTO sqlite_schema VALUES (?1, ?2, 't', 0, ?3)",
                     -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, kTypes[kind], -1, SQLITE_STATIC);
  sqlite3_bind_text(stmt, 2, name.constData(), int(name.size()), SQLITE_STATIC);
  sqlite3_bind_text(stmt, 3, sql.constData(), int(sql.size()), SQLITE_STATIC);
  QByteArray image;
  if (stmt != nullptr && sqlite3_step(stmt) == SQLITE_DONE) {
    sqlite3_finalize(stmt);
    stmt = nullptr;
    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
    if (bytes != nullptr) image = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(size));
    sqlite3_free(bytes);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return image;
}

}  // namespace

QByteArray PackSchemaRow(int kind, const QByteArray& name, const QByteArray& sql) {
  return QByteArray(1, char(kind)) + name + QByteArray(1, '\0') + sql;
}

std::int64_t SaveWithSchemaRow(const std::uint8_t* data, std::size_t size) {
  InitFuzzEnvironment();
  if (size < 1) return 0;
  const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
  const qsizetype zero = rest.indexOf('\0');
  if (zero < 0) return 0;
  const QByteArray image = WithSchemaRow(data[0] % 4, rest.left(zero), rest.mid(zero + 1));
  if (image.isEmpty()) return 0;
  const QString& path = Env().scratchFile;
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
      std::abort();
  }
  CSQLiteRecovery engine;
  test::ProgressCounter progress;
  if (engine.ScanDatabase(path, CSQLiteRecovery::ScanOptions(), progress) !=
      CSQLiteRecovery::ScanOutcome::Opened)
    return 0;
  engine.BuildWorkingDatabase(progress);
  const QString folder = QDir(Env().root->path()).filePath(QStringLiteral("out"));
  QFile::remove(folder + QStringLiteral("/saved.db"));
  RecoveredDatabase target;
  if (!target.Open(engine, folder, QStringLiteral("saved.db"), nullptr)) std::abort();
  std::int64_t written = 0;
  const std::vector<PlannedObject> plan = MakeSavePlan(
      CategoryNames(engine, ObjectKind::Table), CategoryNames(engine, ObjectKind::View),
      CategoryNames(engine, ObjectKind::Trigger), CategoryNames(engine, ObjectKind::Index));
  for (const PlannedObject& object : plan)
    written +=
        DispatchObject(engine, progress, ObjectRef{object.kind, object.name}, target).written;
  target.Close();
  QFile::remove(folder + QStringLiteral("/saved.db"));
  return written;
}

}  // namespace velmora::fuzz
