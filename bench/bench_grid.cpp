// Grid benchmark: loads the largest table of the benchmark database into the
// real record grid (offscreen, visible, with the event pump of the progress
// callback), and prints values per second, the time until the first 50 rows
// are in the view, the cost of painting the last page against the first, and
// the memory growth during the load. The peer is SQLite reading the same
// table with SELECT * in the same run.
//
//   bench_grid [--db PATH] [--table NAME] [--data DIR] [--hidden]
#include <sqlite3.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/schema/SqliteDb.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/SaveDispatch.h"
#include "ui/grid/RecordDisplay.h"
#include "ui/grid/RightView.h"

namespace fs = std::filesystem;
using namespace velmora;

namespace {

long RssKb() {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}

// The same shape as the largest table of the save benchmark's database.
void MakeDatabase(const fs::path& path, int rows) {
  const fs::path tmp = path.string() + ".part";
  fs::remove(tmp);
  sqlite3* db = nullptr;
  sqlite3_open(tmp.c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
               "CREATE TABLE numbers(id INTEGER PRIMARY KEY, a INTEGER, b INTEGER, c INTEGER);"
               "BEGIN;",
               nullptr, nullptr, nullptr);
  Statement st;
  sqlite3_prepare_v2(db, "INSERT INTO numbers VALUES(?,?,?,?)", -1, st.Out(), nullptr);
  std::mt19937_64 rng(20261209);
  for (int i = 1; i <= rows; ++i) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(rng() % 100000000));
    sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(rng()));
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(rng() % 1000) - 500);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);  // closes when `st` is finalized, at the end of the function
  fs::rename(tmp, path);
}

// SQLite reading every value of the table as text: what any grid fed from
// the file must at least spend.
double PeerSeconds(const fs::path& path, const std::string& table, long long* values) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  const std::string sql = "SELECT * FROM \"" + table + "\"";
  Statement st;
  QElapsedTimer t;
  t.start();
  sqlite3_prepare_v2(db, sql.c_str(), -1, st.Out(), nullptr);
  long long n = 0;
  const int columns = sqlite3_column_count(st);
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int c = 0; c < columns; ++c) {
      sqlite3_column_text(st, c);
      ++n;
    }
  }
  const double s = t.nsecsElapsed() / 1e9;
  sqlite3_close_v2(db);  // closes when `st` is finalized, at the end of the function
  *values = n;
  return s;
}

struct Pump : IProgress {
  QElapsedTimer sinceStart, sincePump;
  CListCtrlEx* grid = nullptr;
  qint64 firstRowsNs = -1;
  qint64 columnsNs = -1;  // all columns (and their stores) made
  qint64 firstRowNs = -1;
  long rssAtTenth = 0;
  int expectedRows = 0;
  bool Step(const WalkStep&) override {
    Pump* self = this;
    if (self->sincePump.elapsed() >= 10) {  // the program's progress pumps every ~10 ms
      QCoreApplication::processEvents();
      self->sincePump.restart();
    }
    if (self->firstRowNs < 0 && self->grid->ItemCount() >= 1)
      self->firstRowNs = self->sinceStart.nsecsElapsed();
    if (self->columnsNs < 0 && self->grid->ColumnCount() > 0)
      self->columnsNs = self->sinceStart.nsecsElapsed();
    if (self->firstRowsNs < 0 && self->grid->model()->rowCount() >= 50)
      self->firstRowsNs = self->sinceStart.nsecsElapsed();
    if (self->rssAtTenth == 0 && self->grid->ItemCount() >= self->expectedRows / 10)
      self->rssAtTenth = RssKb();
    return false;
  }
};

double PaintMs(CListCtrlEx* grid, bool bottom) {
  QElapsedTimer t;
  const int rounds = 20;
  double total = 0;
  for (int i = 0; i < rounds; ++i) {
    // Away and back, so that each round paints a fresh page.
    if (bottom)
      grid->scrollToTop();
    else
      grid->scrollToBottom();
    grid->viewport()->repaint();
    t.start();
    if (bottom)
      grid->scrollToBottom();
    else
      grid->scrollToTop();
    grid->viewport()->repaint();
    total += t.nsecsElapsed() / 1e6;
  }
  return total / rounds;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  fs::path data = VELMORA_BENCH_DATA_DIR;
  fs::path db;
  std::string table = "numbers";
  bool hidden = false;  // --hidden: the grid's view not shown (measures the stores alone)
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--db" && i + 1 < argc)
      db = argv[++i];
    else if (a == "--table" && i + 1 < argc)
      table = argv[++i];
    else if (a == "--data" && i + 1 < argc)
      data = argv[++i];
    else if (a == "--hidden")
      hidden = true;
    else {
      std::fprintf(stderr, "usage: %s [--db PATH] [--table NAME] [--data DIR] [--hidden]\n",
                   argv[0]);
      return 2;
    }
  }
  fs::create_directories(data);
  if (db.empty()) {
    db = data / "bench-source.db";  // the save benchmark's database, when it was made
    if (!fs::exists(db)) {
      db = data / "grid-source.db";
      if (!fs::exists(db)) {
        std::printf("making %s (once) ...\n", db.c_str());
        std::fflush(stdout);
        MakeDatabase(db, 1200000);
      }
    }
  }
  std::printf("source: %s, table %s\n", db.c_str(), table.c_str());

  long long peerValues = 0;
  const double peer = PeerSeconds(db, table, &peerValues);

  CSQLiteRecovery engine;
  engine.ScanDatabase(QString::fromStdString(db.string()));
  engine.BuildWorkingDatabase();
  if (!engine.TableNames().contains(QString::fromStdString(table))) {
    std::fprintf(stderr, "table %s not recovered\n", table.c_str());
    return 1;
  }

  {
    // The program has drawn text long before a table is clicked: load the
    // fonts now so that their start-up cost is not counted as the grid's.
    QPixmap warm(64, 16);
    QPainter p(&warm);
    p.drawText(2, 12, QStringLiteral("0123456789"));
  }
  CRightView pane;
  pane.resize(1000, 700);
  if (!hidden) pane.show();
  QCoreApplication::processEvents();
  Pump pump;
  pump.grid = pane.Grid();
  pump.expectedRows = static_cast<int>(peerValues / std::max(1, 4));

  const long rssBefore = RssKb();
  pump.sinceStart.start();
  pump.sincePump.start();
  SilentStatusText status;
  SilentProgressBar bar;
  SilentControl stop;
  DispatchObject(engine, pump, ObjectRef{ObjectKind::Table, QString::fromStdString(table)},
                 DisplayPane{*pane.Grid(), *pane.StatementEdit(), status, bar, stop});
  pane.Grid()->Redraw();
  const double load = pump.sinceStart.nsecsElapsed() / 1e9;
  const long rssAfter = RssKb();

  const int rows = pane.Grid()->ItemCount();
  const long long values = static_cast<long long>(rows) * pane.Grid()->ColumnCount();
  std::printf("rows %d, columns %d, values %lld (peer read %lld)\n", rows,
              pane.Grid()->ColumnCount(), values, peerValues);
  std::printf("load into the grid: %.2f s, %.0f values/s (goal >= 300000)\n", load, values / load);
  std::printf("peer SELECT * as text: %.2f s, %.0f values/s; grid/peer time %.1fx\n", peer,
              peerValues / peer, load / peer);
  std::printf(
      "first 50 rows in the view after %.1f ms (goal <= 100); columns and stores made "
      "after %.1f ms, first row after %.1f ms\n",
      pump.firstRowsNs / 1e6, pump.columnsNs / 1e6, pump.firstRowNs / 1e6);
  const double top = PaintMs(pane.Grid(), false);
  const double bottom = PaintMs(pane.Grid(), true);
  std::printf("paint after scrolling: first page %.2f ms, last page %.2f ms\n", top, bottom);
  std::printf("resident memory: before %ld kB, at 10%% of rows %+ld kB, at the end %+ld kB\n",
              rssBefore, pump.rssAtTenth - rssBefore, rssAfter - rssBefore);
  pane.Grid()->ResetRecordGrid();
  return 0;
}
