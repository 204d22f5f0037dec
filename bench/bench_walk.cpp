// Walk benchmark: decodes every record of a large table with the engine (page
// by page from the file) and reads the same table with SQLite itself, in the
// same run, and prints both: wall time and the process's processor time (the
// machine may be shared; waiting for a processor shows in the wall time only),
// and the ratios of the walks to SQLite's read.
//
//   bench_walk [ROWS]     (default 300000)
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

#include "engine/core/Values.h"
#include "engine/schema/SqliteDb.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/RecordOutput.h"
#include "platform/Folders.h"

using namespace velmora;

namespace {

// Counts what a walk decodes. In display mode it also makes every value's
// display text, as the grid needs them.
class CountingReader : public CTableReader {
 public:
  CountingReader(CSQLiteRecovery& engine, bool save)
      : CTableReader(engine, NoProgress(), save ? DecodeMode::Save : DecodeMode::Display) {}
  std::int64_t records = 0;
  std::int64_t values = 0;
  std::int64_t bytes = 0;

 protected:
  bool OnRecord(const RecordView& view) override {
    ++records;
    values += view.Size();
    for (const ValueView& v : view.values) {
      bytes += v.tempFile >= 0 ? v.length : v.held;
      if (m_mode != DecodeMode::Save)
        m_text = RenderDisplay(view, v, m_engine.geometry().textEncoding);
    }
    return true;
  }

 private:
  QString m_text;
};

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

bool Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "bench_walk: %s\n", error ? error : "?");
    sqlite3_free(error);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const long rows = argc > 1 ? std::atol(argv[1]) : 300000;
  QTemporaryDir dir;
  SetProgramFolderOverride(dir.path());
  const QString path = dir.path() + QStringLiteral("/bench.db");
  {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const QByteArray fill =
        QStringLiteral(
            "PRAGMA page_size=4096; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
            "CREATE TABLE t(id INTEGER, price REAL, name TEXT, data BLOB, note TEXT);"
            "BEGIN;"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
            " INSERT INTO t SELECT i, i * 0.25, printf('name %d of the benchmark table', i),"
            " randomblob(100), CASE WHEN i % 1000 = 0 THEN printf('%.20000c', 'x') ELSE NULL END "
            "FROM n;"
            "COMMIT;")
            .arg(rows)
            .toUtf8();
    if (!Exec(db, fill.constData())) return 1;
    sqlite3_close(db);
  }
  const double mib = static_cast<double>(QFileInfo(path).size()) / (1024.0 * 1024.0);
  std::printf("table: %ld rows, file %.1f MiB\n", rows, mib);

  QElapsedTimer timer;
  timer.start();
  CSQLiteRecovery engine;
  engine.ScanDatabase(path);
  engine.BuildWorkingDatabase();
  std::printf("engine scan + working database: %lld ms\n", static_cast<long long>(timer.elapsed()));
  const auto tables = engine.Catalog().OfKind(SchemaKind::Table);
  if (tables.empty()) return 1;
  const std::int64_t root = tables.front()->rootPage;

  double walkCpu[2] = {0, 0};
  for (bool save : {false, true}) {
    CountingReader sink(engine, save);
    timer.restart();
    const double cpu0 = CpuMs();
    engine.WalkPage(root, sink, sink);
    walkCpu[save ? 1 : 0] = CpuMs() - cpu0;
    const qint64 ms = std::max<qint64>(timer.elapsed(), 1);
    std::printf(
        "engine walk (%s mode): %lld records, %lld value bytes, %lld ms (cpu %.0f ms), %.0f "
        "records/s, %.1f MiB/s\n",
        save ? "save" : "display", static_cast<long long>(sink.records),
        static_cast<long long>(sink.bytes), static_cast<long long>(ms), walkCpu[save ? 1 : 0],
        sink.records * 1000.0 / ms, mib * 1000.0 / ms);
  }

  {
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    Statement stmt;
    timer.restart();
    const double cpu0 = CpuMs();
    sqlite3_prepare_v2(db, "SELECT * FROM t", -1, stmt.Out(), nullptr);
    long long count = 0, bytes = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      ++count;
      for (int c = 0; c < 5; ++c) {
        if (sqlite3_column_type(stmt, c) == SQLITE_BLOB ||
            sqlite3_column_type(stmt, c) == SQLITE_TEXT) {
          sqlite3_column_blob(stmt, c);
          bytes += sqlite3_column_bytes(stmt, c);
        }
      }
    }
    const double cpu = std::max(CpuMs() - cpu0, 0.001);
    const qint64 ms = std::max<qint64>(timer.elapsed(), 1);
    std::printf(
        "peer (SQLite SELECT *): %lld rows, %lld value bytes, %lld ms (cpu %.0f ms), %.0f rows/s\n",
        count, bytes, static_cast<long long>(ms), cpu, count * 1000.0 / ms);
    std::printf("walk / SQLite read, processor time: display mode %.2fx, save mode %.2fx\n",
                walkCpu[0] / cpu, walkCpu[1] / cpu);
    sqlite3_close_v2(db);  // closes when `stmt` is finalized, at the end of the block
  }
  return 0;
}
