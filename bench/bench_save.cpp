// Save benchmark: times `velmora-recover save` against SQLite copying the same
// file itself, on databases made once and cached in the build folder:
//
//   mixed      ~300 MB: integers, reals and short texts, texts some longer
//              than a page, overflowing blobs, one index (about 2.5 million rows)
//   shaped     an INTEGER PRIMARY KEY table of ROWS rows (texts, reals, small
//              blobs, one index) and a table of ROWS/15 rows; ~280 MB at the
//              default 3 million
//   large      one row holding a 50 MB text and, in the last column, a 200 MB blob
//   large-mid  the same with the blob before the text (not run by default)
//
// The peers, run by the sqlite3 shell on the intact file: VACUUM INTO, and a
// fair copy (ATTACH, every table created and filled with INSERT INTO main.t
// SELECT * FROM src.t in one transaction, indexes, views and triggers created
// after, with the pragmas the save uses). The `.dump | sqlite3` pipeline is
// kept for comparison. The contestants run alternately, one of each per round;
// the figures are medians over the rounds, wall time and processor time (user
// plus system: the machine is shared, and waiting for a processor shows in the
// wall time only). Peak resident memory is the child's own (getrusage of the
// waited child); for the large values the growth of the machine's shared
// memory (memory file systems) during the save is sampled from /proc/meminfo.
//
//   bench_save [--make-only] [--data DIR] [--tool PATH] [--sqlite3 PATH] [--rounds N]
//              [--rows N] [--cases mixed,shaped,large,large-mid] [--no-dump]
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/schema/SqliteDb.h"

namespace fs = std::filesystem;
using velmora::Statement;

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
  static const char alphabet[] =
      "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'\",.";
  std::string s(len, ' ');
  for (char& c : s) c = alphabet[rng() % (sizeof(alphabet) - 1)];
  return s;
}

void RandomBytes(std::mt19937_64& rng, std::vector<unsigned char>& out, size_t len) {
  out.resize(len);
  size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    const std::uint64_t r = rng();
    std::memcpy(out.data() + i, &r, 8);
  }
  for (; i < len; ++i) out[i] = static_cast<unsigned char>(rng());
}

sqlite3* CreateScratch(const fs::path& tmp) {
  fs::remove(tmp);
  sqlite3* db = nullptr;
  Check(sqlite3_open(tmp.c_str(), &db), db, "open");
  Exec(db, "PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
  return db;
}

// Tables: integers (1.2M rows), reals and short texts (1M), texts with some
// longer than a page (300k), overflowing blobs (7k). About 2.5 million rows.
void MakeMixed(const fs::path& path) {
  const fs::path tmp = path.string() + ".part";
  sqlite3* db = CreateScratch(tmp);
  Exec(db,
       "CREATE TABLE numbers(id INTEGER PRIMARY KEY, a INTEGER, b INTEGER, c INTEGER);"
       "CREATE TABLE measures(id INTEGER PRIMARY KEY, r REAL, label TEXT, n INTEGER, flag INTEGER);"
       "CREATE TABLE notes(id INTEGER PRIMARY KEY, title TEXT, body TEXT);"
       "CREATE TABLE files(id INTEGER PRIMARY KEY, name TEXT, data BLOB);"
       "CREATE VIEW big_numbers AS SELECT * FROM numbers WHERE a > 1000000;");
  Exec(db, "BEGIN");
  std::mt19937_64 rng(20261209);
  Statement st;
  Check(sqlite3_prepare_v2(db, "INSERT INTO numbers VALUES(?,?,?,?)", -1, st.Out(), nullptr), db,
        "prep");
  for (int i = 1; i <= 1200000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(rng() % 100000000));
    sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(rng()));
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(rng() % 1000) - 500);
    Check(sqlite3_step(st), db, "numbers");
    sqlite3_reset(st);
  }
  Check(sqlite3_prepare_v2(db, "INSERT INTO measures VALUES(?,?,?,?,?)", -1, st.Out(), nullptr), db,
        "prep");
  std::uniform_real_distribution<double> real(-1e6, 1e6);
  for (int i = 1; i <= 1000000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_double(st, 2, real(rng));
    const std::string label = RandomText(rng, 8 + rng() % 24);
    sqlite3_bind_text(st, 3, label.data(), static_cast<int>(label.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(rng() % 1000000));
    if (i % 7 == 0)
      sqlite3_bind_null(st, 5);
    else
      sqlite3_bind_int(st, 5, static_cast<int>(rng() % 2));
    Check(sqlite3_step(st), db, "measures");
    sqlite3_reset(st);
  }
  Check(sqlite3_prepare_v2(db, "INSERT INTO notes VALUES(?,?,?)", -1, st.Out(), nullptr), db,
        "prep");
  for (int i = 1; i <= 300000; ++i) {
    sqlite3_bind_int64(st, 1, i);
    const std::string title = RandomText(rng, 10 + rng() % 40);
    const std::string body =
        RandomText(rng, i % 100 == 0 ? 6000 + rng() % 4000 : 150 + rng() % 300);
    sqlite3_bind_text(st, 2, title.data(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(st), db, "notes");
    sqlite3_reset(st);
  }
  Check(sqlite3_prepare_v2(db, "INSERT INTO files VALUES(?,?,?)", -1, st.Out(), nullptr), db,
        "prep");
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
  Exec(db, "COMMIT");
  Exec(db, "CREATE INDEX numbers_a ON numbers(a)");
  sqlite3_close_v2(db);  // closes when `st` is finalized, at the end of the function
  fs::rename(tmp, path);
}

// An order table of `rows` rows keyed by an INTEGER PRIMARY KEY (a customer
// number, an item text, a price, a quantity, a note that is sometimes NULL, a
// small blob code) with an index on the customer, and a customer table of
// rows/15 rows.
void MakeShaped(const fs::path& path, long rows) {
  const fs::path tmp = path.string() + ".part";
  sqlite3* db = CreateScratch(tmp);
  Exec(db,
       "CREATE TABLE orders(id INTEGER PRIMARY KEY, customer INTEGER, item TEXT, price REAL,"
       " qty INTEGER, note TEXT, code BLOB);"
       "CREATE TABLE customers(id INTEGER PRIMARY KEY, name TEXT, email TEXT, since INTEGER,"
       " balance REAL);");
  Exec(db, "BEGIN");
  std::mt19937_64 rng(20270113);
  std::uniform_real_distribution<double> price(0.5, 5000.0);
  const long customers = std::max(1L, rows / 15);
  Statement st;
  Check(sqlite3_prepare_v2(db, "INSERT INTO orders VALUES(?,?,?,?,?,?,?)", -1, st.Out(), nullptr),
        db, "prep");
  std::vector<unsigned char> code;
  for (long i = 1; i <= rows; ++i) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(1 + rng() % customers));
    const std::string item = RandomText(rng, 10 + rng() % 20);
    sqlite3_bind_text(st, 3, item.data(), static_cast<int>(item.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(st, 4, price(rng));
    sqlite3_bind_int64(st, 5, static_cast<sqlite3_int64>(1 + rng() % 50));
    const std::string note = RandomText(rng, 5 + rng() % 30);
    if (i % 5 == 0)
      sqlite3_bind_null(st, 6);
    else
      sqlite3_bind_text(st, 6, note.data(), static_cast<int>(note.size()), SQLITE_TRANSIENT);
    RandomBytes(rng, code, 8 + rng() % 9);
    sqlite3_bind_blob(st, 7, code.data(), static_cast<int>(code.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(st), db, "orders");
    sqlite3_reset(st);
  }
  Check(sqlite3_prepare_v2(db, "INSERT INTO customers VALUES(?,?,?,?,?)", -1, st.Out(), nullptr),
        db, "prep");
  for (long i = 1; i <= customers; ++i) {
    sqlite3_bind_int64(st, 1, i);
    const std::string name = RandomText(rng, 8 + rng() % 16);
    const std::string email = RandomText(rng, 12 + rng() % 20) + "@example.org";
    sqlite3_bind_text(st, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, email.data(), static_cast<int>(email.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(1500000000 + rng() % 300000000));
    sqlite3_bind_double(st, 5, price(rng));
    Check(sqlite3_step(st), db, "customers");
    sqlite3_reset(st);
  }
  Exec(db, "COMMIT");
  Exec(db, "CREATE INDEX orders_customer ON orders(customer)");
  sqlite3_close_v2(db);  // closes when `st` is finalized, at the end of the function
  fs::rename(tmp, path);
}

constexpr long kLargeBlob = 200L * 1000 * 1000;
constexpr long kLargeText = 50L * 1000 * 1000;

// One row holding a 200 MB blob and a 50 MB text, between two small rows.
// With `blobLast` the blob is the last column (what the save can stream into
// the row in pieces); otherwise the text follows it, and the library builds
// the whole record in memory whatever the save does.
void MakeLarge(const fs::path& path, bool blobLast) {
  const fs::path tmp = path.string() + ".part";
  sqlite3* db = CreateScratch(tmp);
  Exec(db, blobLast ? "CREATE TABLE big(id INTEGER PRIMARY KEY, name TEXT, body TEXT, data BLOB);"
                    : "CREATE TABLE big(id INTEGER PRIMARY KEY, name TEXT, data BLOB, body TEXT);");
  Exec(db, "BEGIN");
  Exec(db, "INSERT INTO big(id, name, data, body) VALUES(1, 'before', x'00ff', 'short')");
  std::mt19937_64 rng(20270114);
  std::vector<unsigned char> blob;
  RandomBytes(rng, blob, kLargeBlob);
  const std::string text = RandomText(rng, kLargeText);
  Statement st;
  Check(sqlite3_prepare_v2(db, "INSERT INTO big(id, name, data, body) VALUES(2, 'large', ?1, ?2)",
                           -1, st.Out(), nullptr),
        db, "prep");
  sqlite3_bind_blob64(st, 1, blob.data(), blob.size(), SQLITE_STATIC);
  sqlite3_bind_text64(st, 2, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
  Check(sqlite3_step(st), db, "big");
  Exec(db, "INSERT INTO big(id, name, data, body) VALUES(3, 'after', x'01', 'short too')");
  Exec(db, "COMMIT");
  sqlite3_close_v2(db);  // closes when `st` is finalized, at the end of the function
  fs::rename(tmp, path);
}

// The machine's shared memory (memory file systems among it), in kB.
long ShmemKb() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (f == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "Shmem:", 6) == 0) {
      kb = std::atol(line + 6);
      break;
    }
  }
  std::fclose(f);
  return kb;
}

struct RunResult {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system time of the child and what it waited for
  long maxRssKb = 0;
  long shmemGrowthKb = 0;  // only when sampled
  int status = 0;
};

// Runs `argv` (stdout to `out` when given), waits for it, reports its wall
// time and peak resident memory; with `sampleShmem` also the largest growth
// of the machine's shared memory while it ran (sampled every 5 ms).
RunResult Run(const std::vector<std::string>& argv, const char* out = nullptr,
              bool sampleShmem = false) {
  std::fflush(stdout);
  const long shmemBefore = sampleShmem ? ShmemKb() : 0;
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
  RunResult r;
  if (sampleShmem) {
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
      r.shmemGrowthKb = std::max(r.shmemGrowthKb, ShmemKb() - shmemBefore);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  } else {
    wait4(pid, &status, 0, &usage);
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.maxRssKb = usage.ru_maxrss;
  r.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
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

// The fair copy: the recovered database's own pragmas, every table created
// and filled in one transaction, then the indexes, views and triggers.
std::string CopyScript(const fs::path& src) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(src.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open source");
  Statement st;
  Check(sqlite3_prepare_v2(db,
                           "SELECT type, name, sql FROM sqlite_schema WHERE sql IS NOT NULL "
                           "ORDER BY type <> 'table', type = 'trigger', rowid",
                           -1, st.Out(), nullptr),
        db, "schema");
  std::string script =
      "PRAGMA synchronous = OFF;\nPRAGMA journal_mode = MEMORY;\nPRAGMA cache_size = -2048;\n"
      "ATTACH " +
      SqlQuote(src.string()) + " AS src;\nBEGIN;\n";
  while (sqlite3_step(st) == SQLITE_ROW) {
    const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    script += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 2))) + ";\n";
    if (type == "table")
      script += "INSERT INTO main.\"" + name + "\" SELECT * FROM src.\"" + name + "\";\n";
  }
  sqlite3_close_v2(db);  // closes when `st` is finalized, at the end of the function
  return script + "COMMIT;\n";
}

struct Options {
  fs::path data = VELMORA_BENCH_DATA_DIR;
  std::string tool = VELMORA_RECOVER_PATH;
  std::string sqlite3Tool = "sqlite3";
  int rounds = 3;
  long rows = 3000000;
  bool dump = true;
  std::vector<std::string> cases = {"mixed", "shaped", "large"};
};

struct Series {
  std::vector<double> times;
  std::vector<double> cpu;
  long peakKb = 0;
  long shmemKb = 0;
  void Add(const RunResult& r) {
    times.push_back(r.seconds);
    cpu.push_back(r.cpuSeconds);
    peakKb = std::max(peakKb, r.maxRssKb);
    shmemKb = std::max(shmemKb, r.shmemGrowthKb);
  }
};

// Runs the contestants on `src` alternately for the configured rounds and
// prints the medians and ratios. The number of runs that failed.
int Compare(const Options& opt, const std::string& label, const fs::path& src, bool large,
            const char* showTable, long showRecords) {
  std::printf("\n== %s: %s, %.1f MB\n", label.c_str(), src.c_str(), fs::file_size(src) / 1e6);
  const fs::path work = opt.data / "bench-work";
  const fs::path scriptPath = opt.data / ("copy-" + label + ".sql");
  {
    FILE* f = std::fopen(scriptPath.c_str(), "w");
    std::fputs(CopyScript(src).c_str(), f);
    std::fclose(f);
  }
  Series save, vacuum, copy, dump, show;
  int failures = 0;
  auto note = [&failures](const char* what, const RunResult& r) {
    if (r.status == 0) return;
    ++failures;
    std::printf("  %s ended with status %d\n", what, r.status);
  };
  const bool withDump = opt.dump && !large;
  for (int round = 0; round < opt.rounds; ++round) {
    fs::remove_all(work);
    fs::create_directories(work / "save");
    RunResult r =
        Run({opt.tool, "save", src.string(), (work / "save").string()}, "/dev/null", large);
    note("save", r);
    save.Add(r);
    fs::remove_all(work / "save");

    const fs::path vacuumOut = work / "vacuum.db";
    r = Run(
        {opt.sqlite3Tool, "-readonly", src.string(), "VACUUM INTO " + SqlQuote(vacuumOut.string())},
        "/dev/null", large);
    note("VACUUM INTO", r);
    vacuum.Add(r);
    fs::remove(vacuumOut);

    const fs::path copyOut = work / "copy.db";
    r = Run({"/bin/sh", "-c",
             Quote(opt.sqlite3Tool) + " " + Quote(copyOut.string()) + " < " +
                 Quote(scriptPath.string()) + " > /dev/null"},
            nullptr, large);
    note("INSERT ... SELECT", r);
    copy.Add(r);
    fs::remove(copyOut);

    if (withDump) {
      const fs::path dumpOut = work / "dump.db";
      r = Run({"/bin/sh", "-c",
               Quote(opt.sqlite3Tool) + " " + Quote(src.string()) + " .dump | " +
                   Quote(opt.sqlite3Tool) + " " + Quote(dumpOut.string())});
      note(".dump pipeline", r);
      dump.Add(r);
      fs::remove(dumpOut);
    }
    if (showTable != nullptr) {
      r = Run({opt.tool, "show", src.string(), showTable}, "/dev/null");
      note("show", r);
      show.Add(r);
    }
  }
  fs::remove_all(work);

  const double s = Median(save.times), v = Median(vacuum.times), c = Median(copy.times);
  const double sc = Median(save.cpu), vc = Median(vacuum.cpu), cc = Median(copy.cpu);
  std::printf("                               wall        cpu (user+sys)\n");
  std::printf("  velmora-recover save       : %7.2f s %7.2f s   peak RSS %7.1f MB", s, sc,
              save.peakKb / 1024.0);
  if (large) std::printf("   shared memory growth %.1f MB", save.shmemKb / 1024.0);
  std::printf("\n  sqlite3 VACUUM INTO        : %7.2f s %7.2f s   peak RSS %7.1f MB\n", v, vc,
              vacuum.peakKb / 1024.0);
  std::printf("  sqlite3 INSERT ... SELECT  : %7.2f s %7.2f s   peak RSS %7.1f MB\n", c, cc,
              copy.peakKb / 1024.0);
  if (withDump)
    std::printf("  sqlite3 .dump | sqlite3    : %7.2f s %7.2f s\n", Median(dump.times),
                Median(dump.cpu));
  std::printf("  save / VACUUM INTO         : %5.2fx   %5.2fx   (goal <= 3x, aim 2x)\n", s / v,
              sc / vc);
  std::printf("  save / INSERT ... SELECT   : %5.2fx   %5.2fx   (aim <= 1x)\n", s / c, sc / cc);
  if (withDump)
    std::printf("  save / .dump pipeline      : %5.2fx   %5.2fx\n", s / Median(dump.times),
                sc / Median(dump.cpu));
  if (large)
    std::printf("  save peak RSS - largest text: %.1f MB   (goal < 100 MB)\n",
                save.peakKb / 1024.0 - kLargeText / 1048576.0);
  else
    std::printf("  save peak RSS              : %.1f MB   (goal < 100 MB)\n", save.peakKb / 1024.0);
  if (showTable != nullptr) {
    const double t = Median(show.times);
    std::printf("  show %s (%ld records) > /dev/null: %.2f s, %.0f records/s\n", showTable,
                showRecords, t, showRecords / t);
  }
  std::printf("  (medians of %d alternating rounds)\n", opt.rounds);
  std::fflush(stdout);
  return failures;
}

bool Wants(const Options& opt, const char* name) {
  return std::find(opt.cases.begin(), opt.cases.end(), name) != opt.cases.end();
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  bool makeOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--make-only") {
      makeOnly = true;
    } else if (a == "--no-dump") {
      opt.dump = false;
    } else if (a == "--data" && hasValue) {
      opt.data = argv[++i];
    } else if (a == "--tool" && hasValue) {
      opt.tool = argv[++i];
    } else if (a == "--sqlite3" && hasValue) {
      opt.sqlite3Tool = argv[++i];
    } else if (a == "--rounds" && hasValue) {
      opt.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--rows" && hasValue) {
      opt.rows = std::max(1L, std::atol(argv[++i]));
    } else if (a == "--cases" && hasValue) {
      opt.cases.clear();
      std::string list = argv[++i];
      for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        opt.cases.push_back(list.substr(at, comma - at));
        at = comma + 1;
      }
    } else {
      std::fprintf(
          stderr,
          "usage: %s [--make-only] [--data DIR] [--tool PATH] [--sqlite3 PATH]\n"
          "          [--rounds N] [--rows N] [--cases mixed,shaped,large,large-mid] [--no-dump]\n",
          argv[0]);
      return 2;
    }
  }
  fs::create_directories(opt.data);
  const fs::path mixed = opt.data / "bench-source.db";
  const fs::path shaped = opt.data / ("bench-shaped-" + std::to_string(opt.rows) + ".db");
  const fs::path large = opt.data / "bench-large.db";
  const fs::path largeMid = opt.data / "bench-large-mid.db";
  auto ensure = [](const fs::path& path, auto make) {
    if (fs::exists(path)) return;
    std::printf("making %s (once) ...\n", path.c_str());
    std::fflush(stdout);
    make(path);
  };
  if (Wants(opt, "mixed")) ensure(mixed, MakeMixed);
  if (Wants(opt, "shaped")) ensure(shaped, [&opt](const fs::path& p) { MakeShaped(p, opt.rows); });
  if (Wants(opt, "large")) ensure(large, [](const fs::path& p) { MakeLarge(p, true); });
  if (Wants(opt, "large-mid")) ensure(largeMid, [](const fs::path& p) { MakeLarge(p, false); });
  if (makeOnly) return 0;

  int failures = 0;
  if (Wants(opt, "mixed")) failures += Compare(opt, "mixed", mixed, false, "numbers", 1200000);
  if (Wants(opt, "shaped")) failures += Compare(opt, "shaped", shaped, false, nullptr, 0);
  if (Wants(opt, "large")) failures += Compare(opt, "large", large, true, nullptr, 0);
  if (Wants(opt, "large-mid")) failures += Compare(opt, "large-mid", largeMid, true, nullptr, 0);
  if (failures != 0) std::printf("WARNING: %d runs ended with a non-zero status\n", failures);
  return failures == 0 ? 0 : 1;
}
