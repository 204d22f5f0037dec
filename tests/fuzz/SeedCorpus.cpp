#include "tests/fuzz/SeedCorpus.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <functional>

#include "tests/fuzz/FuzzEntry.h"
#include "tests/fuzz/PagesEntry.h"
#include "tests/support/TestSupport.h"

namespace velmora::fuzz {

using namespace velmora::test;

QStringList WriteSeedCorpus(const QString& folder, bool withLargePages, QString* error) {
  QDir().mkpath(folder);
  QStringList paths;
  struct Seed {
    const char* name;
    std::function<QString(const QString&)> make;
  };
  auto opts = [](int pageSize, TextEncoding e = TextEncoding::Utf8, int reserved = 0,
                 bool av = false) {
    return DbOptions{pageSize, e, reserved, av};
  };
  // Damage applied to a copy of an intact seed, found with the probe.
  auto damaged = [&](std::function<QString(const QString&)> make,
                     std::function<bool(const QString&)> damage) {
    return [make, damage](const QString& path) {
      const QString e = make(path);
      if (!e.isEmpty()) return e;
      return damage(path) ? QString() : QStringLiteral("damage failed");
    };
  };
  auto firstLeaf = [](const QString& path, const char* table) {
    PageProbe in(path);
    return in.Tree(PageProbe::RootPage(path, QString::fromLatin1(table))).leaves.value(0);
  };
  std::vector<Seed> seeds = {
      {"shop-512-utf8", [&](const QString& p) { return MakeShopDatabase(p, opts(512)); }},
      {"shop-1024-utf16le",
       [&](const QString& p) { return MakeShopDatabase(p, opts(1024, TextEncoding::Utf16le)); }},
      {"shop-1024-utf16be",
       [&](const QString& p) { return MakeShopDatabase(p, opts(1024, TextEncoding::Utf16be)); }},
      {"shop-2048-reserved32",
       [&](const QString& p) { return MakeShopDatabase(p, opts(2048, TextEncoding::Utf8, 32)); }},
      {"shop-1024-autovacuum",
       [&](const QString& p) {
         return MakeShopDatabase(p, opts(1024, TextEncoding::Utf8, 0, true));
       }},
      {"odd-names-512", [&](const QString& p) { return MakeOddNamesDatabase(p, opts(512)); }},
      {"odd-names-1024-utf16be",
       [&](const QString& p) {
         return MakeOddNamesDatabase(p, opts(1024, TextEncoding::Utf16be));
       }},
      {"all-types-512", [&](const QString& p) { return MakeAllTypesDatabase(p, opts(512)); }},
      {"all-types-1024-utf16le",
       [&](const QString& p) {
         return MakeAllTypesDatabase(p, opts(1024, TextEncoding::Utf16le));
       }},
      {"all-types-512-utf16be-reserved40",
       [&](const QString& p) {
         return MakeAllTypesDatabase(p, opts(512, TextEncoding::Utf16be, 40));
       }},
      {"long-values-512", [&](const QString& p) { return MakeLongValuesDatabase(p, opts(512)); }},
      {"long-values-1024-utf16le-reserved16",
       [&](const QString& p) {
         return MakeLongValuesDatabase(p, opts(1024, TextEncoding::Utf16le, 16));
       }},
      {"deep-512", [&](const QString& p) { return MakeDeepTreeDatabase(p, opts(512), 3); }},
      {"many-tables-512",
       [&](const QString& p) {
         DbBuilder db(p, opts(512));
         for (int i = 0; i < 40; ++i)
           db.Exec(QStringLiteral(
                       "CREATE TABLE t%1 (a INTEGER PRIMARY KEY, b TEXT UNIQUE, c REAL);"
                       "CREATE INDEX i%1 ON t%1(c); INSERT INTO t%1 VALUES (%1, 'v%1', %1.5);")
                       .arg(i));
         db.Close();
         return db.LastError();
       }},
      {"freelist-512",
       [&](const QString& p) {
         // Deleted rows leave free pages and freeblocks behind.
         const QString e = MakeLongValuesDatabase(p, opts(512));
         return e.isEmpty() ? ExecOnFile(p, QStringLiteral("DELETE FROM longs WHERE id % 2 = 0"))
                            : e;
       }},
      {"zeroed-leaf-512",
       damaged([&](const QString& p) { return MakeLongValuesDatabase(p, opts(512)); },
               [&](const QString& p) { return ZeroPage(p, firstLeaf(p, "longs")); })},
      {"overflow-loop-1024",
       damaged([&](const QString& p) { return MakeLongValuesDatabase(p, opts(1024)); },
               [&](const QString& p) {
                 PageProbe in(p);
                 const TreePages t = in.Tree(PageProbe::RootPage(p, QStringLiteral("longs")));
                 return t.overflow.size() > 2 &&
                        SetOverflowNext(p, t.overflow[1], std::uint32_t(t.overflow[0]));
               })},
      {"child-loop-512",
       damaged([&](const QString& p) { return MakeDeepTreeDatabase(p, opts(512), 3); },
               [&](const QString& p) {
                 const std::int64_t root = PageProbe::RootPage(p, QStringLiteral("deep"));
                 return SetChildPointer(p, root, 0, std::uint32_t(root));
               })},
      {"garbage-schema-1024",
       damaged([&](const QString& p) { return MakeShopDatabase(p, opts(1024)); },
               [&](const QString& p) {
                 return DamageSchemaSql(p, QStringLiteral("orders"), 10, 12, '\xff');
               })},
      {"truncated-1024",
       damaged([&](const QString& p) { return MakeShopDatabase(p, opts(1024)); },
               [&](const QString& p) { return TruncateFile(p, QFileInfo(p).size() / 2 + 77); })},
  };
  if (withLargePages)
    seeds.push_back(
        {"shop-65536", [&](const QString& p) { return MakeShopDatabase(p, opts(65536)); }});
  for (const Seed& seed : seeds) {
    const QString path =
        QDir(folder).filePath(QString::fromLatin1(seed.name) + QStringLiteral(".db"));
    const QString e = seed.make(path);
    if (!e.isEmpty()) {
      if (error) *error = QStringLiteral("%1: %2").arg(QString::fromLatin1(seed.name), e);
      return {};
    }
    paths << path;
  }
  return paths;
}

QStringList WriteSmallSeeds(const QString& folder, QString* error) {
  QDir().mkpath(folder);
  struct Seed {
    const char* name;
    const char* sql;
  };
  const Seed seeds[] = {
      {"small-empty", "PRAGMA user_version = 7;"},
      {"small-table",
       "CREATE TABLE t (a INTEGER PRIMARY KEY, b, c);"
       "INSERT INTO t VALUES (1, 'one', 1.5), (2, x'0102', NULL), (-3, 4, 'x');"},
      {"small-index",
       "CREATE TABLE t (a, b); CREATE INDEX ti ON t (b, a);"
       "INSERT INTO t VALUES (1, 'b'), (2, 'a'), (3, NULL);"},
      {"small-without-rowid",
       "CREATE TABLE w (k TEXT PRIMARY KEY, v) WITHOUT ROWID;"
       "INSERT INTO w VALUES ('k1', 1), ('k2', 2.25);"},
      {"small-overflow",
       "CREATE TABLE o (a INTEGER PRIMARY KEY, b);"
       "INSERT INTO o VALUES (1, zeroblob(1200)), (2, printf('%.900c', 'z'));"},
      {"small-interior",
       "CREATE TABLE r (a INTEGER PRIMARY KEY, b);"
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60)"
       " INSERT INTO r SELECT i, printf('%.20c', 'r') FROM n;"},
      {"small-interior-index",
       "CREATE TABLE s (a); CREATE INDEX si ON s (a);"
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)"
       " INSERT INTO s SELECT printf('%.30c', char(64 + i % 26)) || i FROM n;"},
  };
  QStringList paths;
  for (const Seed& seed : seeds) {
    const QString path =
        QDir(folder).filePath(QString::fromLatin1(seed.name) + QStringLiteral(".db"));
    DbBuilder db(path, DbOptions{512, TextEncoding::Utf8, 0, false});
    db.Exec(QString::fromLatin1(seed.sql));
    db.Close();
    if (!db.Ok()) {
      if (error)
        *error = QStringLiteral("%1: %2").arg(QString::fromLatin1(seed.name), db.LastError());
      return {};
    }
    paths << path;
  }
  return paths;
}

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteSeed(const QString& path, const QByteArray& bytes, QStringList* paths) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    return false;
  *paths << path;
  return true;
}

// The database and its companion, copied while `setup` then `work` left the
// library in the middle of a write (the connection still open).
bool Snapshot(const QString& path, const char* setup, const char* work, CompanionInput* out) {
  QFile::remove(path);
  QFile::remove(path + QStringLiteral("-wal"));
  QFile::remove(path + QStringLiteral("-journal"));
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
            sqlite3_exec(db, setup, nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, work, nullptr, nullptr, nullptr) == SQLITE_OK;
  out->db = ReadAll(path);
  out->wal = ReadAll(path + QStringLiteral("-wal"));
  out->journal = ReadAll(path + QStringLiteral("-journal"));
  sqlite3_close_v2(db);
  return ok && !out->db.isEmpty() && !(out->wal.isEmpty() && out->journal.isEmpty());
}

}  // namespace

QStringList WriteCompanionSeeds(const QString& folder, QString* error) {
  QDir().mkpath(folder + QStringLiteral("/live"));
  const char* rows =
      "PRAGMA page_size = 512; CREATE TABLE t (a INTEGER PRIMARY KEY, b, c);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 12)"
      " INSERT INTO t SELECT i, printf('%.*c', i * 3, 'w'), i * 0.5 FROM n;";
  const QString setupWal =
      QString::fromLatin1(rows) + QStringLiteral(
                                      "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                                      "PRAGMA wal_checkpoint(TRUNCATE);");
  const QString setupJournal = QString::fromLatin1(rows) + QStringLiteral("PRAGMA cache_size = 1;");
  CompanionInput wal, journal;
  const QString live = folder + QStringLiteral("/live/seed.db");
  if (!Snapshot(live, setupWal.toUtf8().constData(),
                "UPDATE t SET b = zeroblob(600) WHERE a % 7 = 0; DELETE FROM t WHERE a > 10;"
                "CREATE TABLE u (k PRIMARY KEY, v) WITHOUT ROWID; INSERT INTO u VALUES (1, 2);",
                &wal) ||
      !Snapshot(live, setupJournal.toUtf8().constData(),
                "BEGIN; UPDATE t SET b = printf('%.*c', 100, 'j'), c = NULL;", &journal)) {
    if (error) *error = QStringLiteral("the companion seeds could not be made");
    return {};
  }
  QDir(folder + QStringLiteral("/live")).removeRecursively();
  // The same log with its last commit frame claiming 0xFFFFFFFF pages.
  CompanionInput claims = wal;
  claims.flags = 1;
  const qsizetype frame = 24 + 512;
  const qsizetype last = 32 + ((claims.wal.size() - 32) / frame - 1) * frame;
  for (int k = 0; k < 4; ++k) claims.wal[last + 4 + k] = char(0xFF);
  CompanionInput sealedWal = wal, sealedJournal = journal;
  sealedWal.flags = 1;
  sealedJournal.flags = 2;
  QStringList paths;
  const std::pair<const char*, const CompanionInput*> seeds[] = {
      {"wal", &wal},
      {"wal-sealed", &sealedWal},
      {"wal-claims", &claims},
      {"journal", &journal},
      {"journal-sealed", &sealedJournal}};
  for (const auto& [name, input] : seeds) {
    if (!WriteSeed(QDir(folder).filePath(QLatin1String(name)), PackCompanions(*input), &paths)) {
      if (error) *error = QStringLiteral("cannot write the seed %1").arg(QLatin1String(name));
      return {};
    }
  }
  return paths;
}

QStringList WriteSchemaSeeds(const QString& folder, QString* error) {
  QDir().mkpath(folder);
  struct Seed {
    int kind;
    const char* name;
    const char* sql;
  };
  const Seed seeds[] = {
      {0, "t", "CREATE TABLE t (a INTEGER PRIMARY KEY, b CHECK (b > 0), c)"},
      {0, "t", "CREATE TABLE t (a INTEGER PRIMARY KEY, b, c CHECK (json_valid(c) OR json(c)))"},
      {0, "t",
       "CREATE TABLE t (a INTEGER PRIMARY KEY, b, c CHECK (length(randomblob(900000000))))"},
      {0, "t", "CREATE TABLE t (a INTEGER PRIMARY KEY AUTOINCREMENT, b UNIQUE, c NOT NULL)"},
      {0, "t",
       "CREATE TABLE t (a INTEGER PRIMARY KEY, b COLLATE LOCALIZED, c, d AS (myfunc(b)) STORED)"},
      {0, "t", "CREATE TABLE t AS SELECT 1 AS a"},
      {1, "v", "CREATE VIEW v AS SELECT * FROM t WHERE b > 0"},
      {1, "v",
       "CREATE TABLE v AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
       "SELECT x FROM c"},
      {1, "v", "CREATE TEMP VIEW v AS SELECT 1"},
      {2, "i", "CREATE INDEX i ON t (c COLLATE NOCASE) WHERE b > 0"},
      {2, "i", "CREATE UNIQUE INDEX i ON t (b)"},
      {2, "i", "CREATE INDEX i ON t (length(randomblob(a * 100000000)))"},
      {3, "g", "CREATE TRIGGER g AFTER INSERT ON t BEGIN INSERT INTO t VALUES (NULL, 1, 2); END"},
      {3, "g", "CREATE TABLE g AS SELECT 1"},
  };
  QStringList paths;
  int n = 0;
  for (const Seed& seed : seeds) {
    const QString path = QDir(folder).filePath(QStringLiteral("schema-%1").arg(n++));
    if (!WriteSeed(path, PackSchemaRow(seed.kind, seed.name, seed.sql), &paths)) {
      if (error) *error = QStringLiteral("cannot write %1").arg(path);
      return {};
    }
  }
  return paths;
}

}  // namespace velmora::fuzz
