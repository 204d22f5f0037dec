// Save benchmark: times `velmora-recover save` of a ~300 MB database against
// SQLite's own `.dump` pipeline and against the copy floor (ATTACH and
// INSERT ... SELECT * per table in one transaction), and `show` of the largest
// table. Prints wall times (median of three), the ratios and the peak memory of
// velmora-recover. The database is made once and cached in the build folder.
//
//   bench_save [--make-only] [--data DIR] [--tool PATH] [--sqlite3 PATH]
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    std::exit(1);
  }
}

void Exec(sqlite3* db, const std::string& sql) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), msg ? msg : "?");
    std::exit(1);
  }
}

std::string RandomText(std::mt19937_64& rng, size_t len) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'\",.";
  std::string s(len, ' ');
  for (char& c : s) c = alphabet[rng() % (sizeof(alphabet) - 1)];
  return s;
}

// Tables: integers (1.2M rows), reals and short texts (1M), texts with some
// longer than a page (300k), overflowing blobs (7k). About 2.5 million rows.
void MakeDatabase(const fs::path& path) {
  const fs::path tmp = path.string() + ".part";
  fs::remove(tmp);
  sqlite3* db = nullptr;
  Check(sqlite3_open(tmp.c_str(), &db), db, "open");
  Exec(db, "PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
  Exec(db,
       "CREATE TABLE numbers(id INTEGER PRIMARY KEY, a INTEGER, b INTEGER, c INTEGER);"
       "CREATE TABLE measures(id INTEGER PRIMARY KEY, r REAL, label TEXT, n INTEGER, flag INTEGER);"
       "CREATE TABLE notes(id INTEGER PRIMARY KEY, title TEXT, body TEXT);"
       "CREATE TABLE files(id INTEGER PRIMARY KEY, name TEXT, data BLOB);"
       "CREATE VIEW big_numbers AS SELECT * FROM numbers WHERE a > 1000000;");
  Exec(db, "BEGIN");
  std::mt19937_64 rng(20261209);
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO numbers VALUES(?,?,?,?)", -1, &st, nullptr), db, "prep");
  for (int i = 1; i <= 1200000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(rng() % 100000000));
    sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(rng()));
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(rng() % 1000) - 500);
    Check(sqlite3_step(st), db, "numbers");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_prepare_v2(db, "INSERT INTO measures VALUES(?,?,?,?,?)", -1, &st, nullptr), db, "prep");
  std::uniform_real_distribution<double> real(-1e6, 1e6);
  for (int i = 1; i <= 1000000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_double(st, 2, real(rng));
    const std::string label = RandomText(rng, 8 + rng() % 24);
    sqlite3_bind_text(st, 3, label.data(), static_cast<int>(label.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(rng() % 1000000));
    if (i % 7 == 0) sqlite3_bind_null(st, 5); else sqlite3_bind_int(st, 5, static_cast<int>(rng() % 2));
    Check(sqlite3_step(st), db, "measures");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_prepare_v2(db, "INSERT INTO notes VALUES(?,?,?)", -1, &st, nullptr), db, "prep");
  for (int i = 1; i <= 300000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    const std::string title = RandomText(rng, 10 + rng() % 40);
    const std::string body = RandomText(rng, i % 100 == 0 ? 6000 + rng() % 4000 : 150 + rng() % 300);
    sqlite3_bind_text(st, 2, title.data(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(st), db, "notes");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_prepare_v2(db, "INSERT INTO files VALUES(?,?,?)", -1, &st, nullptr), db, "prep");
  std::vector<unsigned char> blob;
  for (int i = 1; i <= 7000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    const std::string name = "file" + std::to_string(i) + ".bin";
    blob.resize(6000 + rng() % 16000);
    for (unsigned char& b : blob) b = static_cast<unsigned char>(rng());
    sqlite3_bind_text(st, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 3, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(st), db, "files");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Exec(db, "COMMIT");
  Exec(db, "CREATE INDEX numbers_a ON numbers(a)");
  sqlite3_close(db);
  fs::rename(tmp, path);
}

struct RunResult {
  double seconds = 0;
  long maxRssKb = 0;
  int status = 0;
};

// Runs `argv` (stdout to `out` when given), waits for it, reports its wall
// time and peak resident memory.
RunResult Run(const std::vector<std::string>& argv, const char* out = nullptr) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (out != nullptr) {
      if (std::freopen(out, "w", stdout) == nullptr) _exit(127);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  RunResult r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.maxRssKb = usage.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string SqlQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

std::string CopyFloorScript(const fs::path& src) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(src.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open source");
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master WHERE type='table'", -1, &st, nullptr),
        db, "schema");
  std::string script = "PRAGMA synchronous = OFF;\nPRAGMA journal_mode = MEMORY;\nATTACH " +
                       SqlQuote(src.string()) + " AS src;\nBEGIN;\n";
  std::string inserts;
  while (sqlite3_step(st) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    script += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) + ";\n";
    inserts += "INSERT INTO main.\"" + name + "\" SELECT * FROM src.\"" + name + "\";\n";
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return script + inserts + "COMMIT;\n";
}

}  // namespace

int main(int argc, char** argv) {
  fs::path data = VELMORA_BENCH_DATA_DIR;
  std::string tool = VELMORA_RECOVER_PATH;
  std::string sqlite3Tool = "sqlite3";
  bool makeOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--make-only") makeOnly = true;
    else if (a == "--data" && i + 1 < argc) data = argv[++i];
    else if (a == "--tool" && i + 1 < argc) tool = argv[++i];
    else if (a == "--sqlite3" && i + 1 < argc) sqlite3Tool = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--make-only] [--data DIR] [--tool PATH] [--sqlite3 PATH]\n", argv[0]);
      return 2;
    }
  }
  fs::create_directories(data);
  const fs::path src = data / "bench-source.db";
  if (!fs::exists(src)) {
    std::printf("making %s (once) ...\n", src.c_str());
    std::fflush(stdout);
    MakeDatabase(src);
  }
  std::printf("source: %s, %.1f MB\n", src.c_str(), fs::file_size(src) / 1e6);
  if (makeOnly) return 0;

  const fs::path work = data / "bench-work";
  std::vector<double> saveTimes, dumpTimes, floorTimes, showTimes;
  long peakKb = 0;
  int failures = 0;
  const std::string floorScript = CopyFloorScript(src);
  const fs::path scriptPath = data / "copy-floor.sql";
  {
    FILE* f = std::fopen(scriptPath.c_str(), "w");
    std::fputs(floorScript.c_str(), f);
    std::fclose(f);
  }
  for (int round = 0; round < 3; ++round) {
    fs::remove_all(work);
    fs::create_directories(work / "save");
    RunResult r = Run({tool, "save", src.string(), (work / "save").string()}, "/dev/null");
    if (r.status != 0) ++failures;
    saveTimes.push_back(r.seconds);
    peakKb = std::max(peakKb, r.maxRssKb);

    const fs::path dumpOut = work / "dump.db";
    r = Run({"/bin/sh", "-c",
             Quote(sqlite3Tool) + " " + Quote(src.string()) + " .dump | " + Quote(sqlite3Tool) + " " +
                 Quote(dumpOut.string())});
    if (r.status != 0) ++failures;
    dumpTimes.push_back(r.seconds);

    const fs::path floorOut = work / "floor.db";
    r = Run({"/bin/sh", "-c",
             Quote(sqlite3Tool) + " " + Quote(floorOut.string()) + " < " + Quote(scriptPath.string())});
    if (r.status != 0) ++failures;
    floorTimes.push_back(r.seconds);

    r = Run({tool, "show", src.string(), "numbers"}, "/dev/null");
    if (r.status != 0) ++failures;
    showTimes.push_back(r.seconds);
  }
  fs::remove_all(work);
  const double save = Median(saveTimes), dump = Median(dumpTimes), floor = Median(floorTimes);
  const double show = Median(showTimes);
  std::printf("velmora-recover save : %8.2f s   (peak memory %.1f MB)\n", save, peakKb / 1024.0);
  std::printf("sqlite3 .dump | sqlite3: %6.2f s\n", dump);
  std::printf("copy floor (ATTACH + INSERT SELECT): %6.2f s\n", floor);
  std::printf("save / dump pipeline: %.2fx   (goal <= 0.5x)\n", save / dump);
  std::printf("save / copy floor   : %.2fx   (goal <= 2x)\n", save / floor);
  std::printf("show numbers (1200000 records) > /dev/null: %.2f s, %.0f records/s\n", show,
              1200000 / show);
  if (failures != 0) std::printf("WARNING: %d runs ended with a non-zero status\n", failures);
  return failures == 0 ? 0 : 1;
}
