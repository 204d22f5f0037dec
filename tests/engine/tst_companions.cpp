// The file as SQLite would see it: databases copied with their write-ahead
// log while the writer was open, with a hot rollback journal in the middle of
// a transaction, or with a damaged page-size or encoding field. Each case
// compares every recovered row with what SQLite itself reads from a copy of
// the same files.
#include <sqlite3.h>

#include <QtTest/QtTest>

#include "engine/pages/Companions.h"
#include "output/RecoveredDatabase.h"
#include "output/SaveDispatch.h"
#include "platform/File64.h"
#include "tests/support/EngineHarness.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

namespace {

enum class Case {
  WalCheckpointed,  // 1000 rows in the file, 2000 more committed only in the log
  WalMixed,         // updates, deletes, a new table, an overflowing value: all only in the log
  WalUncommitted,   // a transaction that spilled frames but never committed ends the log
  WalBadChecksum,   // a frame in the middle has a wrong checksum
  WalStale,         // the header's salts belong to another generation than the frames
  WalBadHeader,     // the log's magic is damaged
  WalLeftOut,       // the log is there but the user leaves it out
  WalPageSizeZero,  // header bytes 16-17 zeroed in the file; the log's page size holds
  JournalHot,       // an update and inserts interrupted after pages were written
  PageSizeZero,     // header bytes 16-17 zeroed
  PageSizeWrong,    // a valid but wrong page size
  EncodingDamaged,  // the text-encoding field holds 7
};

bool Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  const bool ok = sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK;
  if (!ok) qWarning("%s: %s", sql, error ? error : "?");
  sqlite3_free(error);
  return ok;
}

// Copies the database and whichever companions exist into `folder`.
bool Snapshot(const QString& db, const QString& folder, QString* copy) {
  QDir().mkpath(folder);
  *copy = folder + QStringLiteral("/app.db");
  bool ok = true;
  for (const char* suffix : {"", "-wal", "-journal"}) {
    const QString from = db + QLatin1String(suffix);
    QFile::remove(*copy + QLatin1String(suffix));
    if (QFile::exists(from)) ok = ok && QFile::copy(from, *copy + QLatin1String(suffix));
  }
  return ok;
}

qint64 FileSize(const QString& path) { return QFileInfo(path).size(); }

// The log's header checksum (little- or big-endian words as the magic says).
void SealWalHeader(QByteArray& header) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(header.constData());
  const bool big = (b[3] & 1) != 0;
  std::uint32_t s1 = 0, s2 = 0;
  for (int i = 0; i < 24; i += 8) {
    auto word = [&](int at) {
      return big ? (std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
                    std::uint32_t(b[at + 2]) << 8 | b[at + 3])
                 : (std::uint32_t(b[at + 3]) << 24 | std::uint32_t(b[at + 2]) << 16 |
                    std::uint32_t(b[at + 1]) << 8 | b[at]);
    };
    s1 += word(i) + s2;
    s2 += word(i + 4) + s1;
  }
  for (int k = 0; k < 4; ++k) {
    header[24 + k] = char(s1 >> (24 - 8 * k));
    header[28 + k] = char(s2 >> (24 - 8 * k));
  }
}

// What a case leaves on disk: the files to recover and what to expect.
struct Built {
  QString damaged;    // the database to recover (its companions beside it)
  QString reference;  // a copy that SQLite reads as the expected state
  bool useCompanions = true;
  int walUsed = -1;      // 1/0: the log must / must not be used; -1: no log
  int journalUsed = -1;  // the same for the journal
  QString noteHas;       // a text the report must contain
  qint64 mainRows = -1;  // rows of table t expected, when known
};

QString Build(Case c, const QString& folder, Built* out) {
  const QString live = folder + QStringLiteral("/live/app.db");
  QDir().mkpath(folder + QStringLiteral("/live"));
  const bool wal = c <= Case::WalPageSizeZero;
  const bool journal = c == Case::JournalHot;
  DbOptions options;
  options.pageSize = c == Case::PageSizeWrong ? 1024 : c == Case::PageSizeZero ? 2048 : 4096;
  if (c == Case::EncodingDamaged) options.encoding = TextEncoding::Utf16le;
  DbBuilder b(live, options);
  sqlite3* db = b.Handle();
  if (!b.Ok() || db == nullptr) return b.LastError();
  if (wal && !Exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"))
    return QStringLiteral("no WAL mode");
  Exec(db,
       "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b REAL, c BLOB);"
       "CREATE INDEX t_a ON t(a);");
  auto insert = [&](int from, int to) {
    const QString sql =
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
            "INSERT INTO t SELECT i, 'row ' || i || printf('%.*c', i % 90, 'x'), i * 0.5, "
            "randomblob(i % 40) FROM n")
            .arg(from)
            .arg(to);
    return Exec(db, sql.toUtf8().constData());
  };
  insert(1, 1000);
  if (wal) Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  const QString reference = folder + QStringLiteral("/ref");
  const QString damaged = folder + QStringLiteral("/damaged");
  out->walUsed = wal ? 1 : -1;
  out->journalUsed = journal ? 1 : -1;

  switch (c) {
    case Case::WalCheckpointed:
    case Case::WalLeftOut:
    case Case::WalPageSizeZero:
    case Case::WalStale:
    case Case::WalBadHeader:
      insert(1001, 2000);
      insert(2001, 3000);
      out->mainRows = 3000;
      break;
    case Case::WalMixed:
      Exec(db,
           "UPDATE t SET a = upper(a), b = -b WHERE id % 7 = 0;"
           "DELETE FROM t WHERE id BETWEEN 200 AND 450;"
           "CREATE TABLE u(k TEXT PRIMARY KEY, v) WITHOUT ROWID;"
           "INSERT INTO u SELECT 'k' || id, a FROM t WHERE id < 300;"
           "INSERT INTO t(id, a, c) VALUES (5000, printf('%.20000c', 'L'), zeroblob(30000));");
      out->mainRows = 1000 - 251 + 1;
      break;
    case Case::WalUncommitted:
    case Case::WalBadChecksum: {
      insert(1001, 1200);
      const qint64 committed = FileSize(live + QStringLiteral("-wal"));
      if (c == Case::WalBadChecksum) {
        insert(1201, 1400);
        insert(1401, 1600);
        if (!Snapshot(live, damaged, &out->damaged)) return QStringLiteral("snapshot failed");
        // One byte of the first frame after the first transaction's.
        if (!PatchBytes(out->damaged + QStringLiteral("-wal"), committed + 24 + 100, "\x5a"))
          return QStringLiteral("patch failed");
        out->noteHas = QStringLiteral("after the first invalid one");
      } else {
        Exec(db, "PRAGMA cache_size=10; BEGIN;");
        insert(1201, 4000);
        if (FileSize(live + QStringLiteral("-wal")) <= committed)
          return QStringLiteral("the open transaction wrote no frame");
        if (!Snapshot(live, damaged, &out->damaged)) return QStringLiteral("snapshot failed");
        Exec(db, "ROLLBACK");
        out->noteHas = QStringLiteral("never committed");
      }
      out->mainRows = 1200;
      break;
    }
    case Case::JournalHot: {
      Exec(db,
           "PRAGMA cache_size=10; BEGIN;"
           "UPDATE t SET a = a || a, b = b + 1;"
           "DELETE FROM t WHERE id % 3 = 0;");
      insert(2000, 3500);
      if (!QFile::exists(live + QStringLiteral("-journal")))
        return QStringLiteral("no journal during the transaction");
      if (!Snapshot(live, damaged, &out->damaged)) return QStringLiteral("snapshot failed");
      Exec(db, "ROLLBACK");
      out->mainRows = 1000;
      break;
    }
    default:
      break;
  }
  if (out->damaged.isEmpty() && !Snapshot(live, damaged, &out->damaged))
    return QStringLiteral("snapshot failed");
  // SQLite reads its own copy: it replays the log or rolls the journal back.
  if (!Snapshot(out->damaged, reference, &out->reference)) return QStringLiteral("snapshot failed");
  if (c == Case::WalLeftOut) {
    QFile::remove(out->reference + QStringLiteral("-wal"));
    out->useCompanions = false;
    out->walUsed = 0;
    out->mainRows = 1000;
  }
  const QString walFile = out->damaged + QStringLiteral("-wal");
  if (c == Case::WalStale || c == Case::WalBadHeader) {
    QFile f(walFile);
    if (!f.open(QIODevice::ReadWrite)) return QStringLiteral("no log");
    QByteArray header = f.read(32);
    if (c == Case::WalStale) {
      header[19] = char(header[19] + 1);  // salt-1 of the next generation
      SealWalHeader(header);
      out->noteHas = QStringLiteral("earlier generation");
    } else {
      header[0] = 0;
      out->noteHas = QStringLiteral("not a write-ahead log header");
    }
    f.seek(0);
    f.write(header);
    f.close();
    QFile::remove(out->reference + QStringLiteral("-wal"));
    QFile::copy(walFile, out->reference + QStringLiteral("-wal"));
    out->walUsed = 0;
    out->mainRows = 1000;
  }
  const QString error = ExecOnFile(out->reference, QStringLiteral("PRAGMA journal_mode=DELETE"));
  if (!error.isEmpty()) return error;
  if (c == Case::WalPageSizeZero || c == Case::PageSizeZero) {
    if (!SetHeaderPageSize(out->damaged, 0)) return QStringLiteral("patch failed");
    out->noteHas = c == Case::PageSizeZero ? QStringLiteral("page size 2048 detected")
                                           : QStringLiteral("taken from the write-ahead log");
  } else if (c == Case::PageSizeWrong) {
    if (!SetHeaderPageSize(out->damaged, 4096)) return QStringLiteral("patch failed");
    out->noteHas = QStringLiteral("page size 1024 detected");
  } else if (c == Case::EncodingDamaged) {
    if (!SetHeaderEncoding(out->damaged, 7)) return QStringLiteral("patch failed");
    out->noteHas = QStringLiteral("UTF-16le detected");
  }
  return QString();
}

// Every row of a query on the database `path`, as text (types included).
QStringList QueryRows(const QString& path, const char* sql) {
  QStringList rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList values;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
          values << QStringLiteral("%1:%2")
                        .arg(sqlite3_column_type(stmt, i))
                        .arg(QString::fromUtf8(
                            reinterpret_cast<const char*>(sqlite3_column_text(stmt, i))));
        rows << values.join(QLatin1Char('|'));
      }
    } else {
      rows << QStringLiteral("error: %1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return rows;
}

}  // namespace

class CompanionsTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsAsSqliteSees_data();
  void rowsAsSqliteSees();
  void hostileCompanions_data();
  void hostileCompanions();
  void savedSettings_data();
  void savedSettings();
  void claimedSizeBounded_data();
  void claimedSizeBounded();
  void readsMatchTheFile();
};

void CompanionsTest::rowsAsSqliteSees_data() {
  QTest::addColumn<int>("scenario");
  QTest::newRow("log: checkpointed rows and committed transactions") << int(Case::WalCheckpointed);
  QTest::newRow("log: updates, deletes, new table, overflow") << int(Case::WalMixed);
  QTest::newRow("log: uncommitted tail") << int(Case::WalUncommitted);
  QTest::newRow("log: bad checksum in the middle") << int(Case::WalBadChecksum);
  QTest::newRow("log: stale generation") << int(Case::WalStale);
  QTest::newRow("log: bad header") << int(Case::WalBadHeader);
  QTest::newRow("log: left out by the user") << int(Case::WalLeftOut);
  QTest::newRow("log: page size zeroed in the file") << int(Case::WalPageSizeZero);
  QTest::newRow("journal: interrupted transaction") << int(Case::JournalHot);
  QTest::newRow("page size zeroed") << int(Case::PageSizeZero);
  QTest::newRow("page size 4096 in a 1024 file") << int(Case::PageSizeWrong);
  QTest::newRow("encoding field 7 in a UTF-16le file") << int(Case::EncodingDamaged);
}

void CompanionsTest::rowsAsSqliteSees() {
  QFETCH(int, scenario);
  Built built;
  const QString folder = NewTestFolder(QStringLiteral("companions"));
  const QString error = Build(Case(scenario), folder, &built);
  QVERIFY2(error.isEmpty(), qPrintable(error));
  const QByteArray damagedBefore = PageProbe(built.damaged).Data();
  const QByteArray walBefore = [&] {
    QFile f(built.damaged + QStringLiteral("-wal"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();

  CSQLiteRecovery engine;
  CSQLiteRecovery::ScanOptions options;
  options.useCompanions = built.useCompanions;
  QCOMPARE(engine.ScanDatabase(built.damaged, options), CSQLiteRecovery::ScanOutcome::Opened);
  QVERIFY(engine.BuildWorkingDatabase().message.isEmpty());
  const SourceReport& report = engine.SourceInfo();
  const QString lines = DescribeSource(report).join(QLatin1Char('\n'));
  if (built.walUsed >= 0) QCOMPARE(report.wal.used, built.walUsed == 1);
  if (built.journalUsed >= 0) QCOMPARE(report.journal.used, built.journalUsed == 1);
  if (!built.noteHas.isEmpty()) QVERIFY2(lines.contains(built.noteHas), qPrintable(lines));

  const RefSchema schema = ReadReferenceSchema(built.reference);
  qint64 expected = 0, recovered = 0;
  for (const QString& name : schema.tables) {
    const RefTable ref = ReadReferenceTable(built.reference, name);
    QCOMPARE(ref.error, QString());
    if (name == QLatin1String("t") && built.mainRows >= 0)
      QCOMPARE(ref.rows.size(), built.mainRows);
    const SchemaObject* table = engine.Catalog().Find(SchemaKind::Table, name);
    QVERIFY2(table, qPrintable(name));
    RecordCollector sink(engine, NoProgress(), true);
    QVERIFY(engine.WalkPage(table->rootPage, sink, sink).complete);
    expected += ref.rows.size();
    QCOMPARE(sink.records.size(), ref.rows.size());
    // A WITHOUT ROWID table's interior records come after their children's:
    // its rows are matched by key.
    QHash<QByteArray, int> byKey;
    for (int r = 0; ref.withoutRowid && r < ref.rows.size(); ++r)
      byKey.insert(ref.rows[r].values.value(0).bytes, r);
    for (int r = 0; r < ref.rows.size(); ++r) {
      const CollectedRecord& got = sink.records[r];
      const int want =
          ref.withoutRowid && !got.values.isEmpty() ? byKey.take(got.values[0].item.bytes) : r;
      if (!ref.withoutRowid) QCOMPARE(got.rowid, ref.rows[r].rowid);
      const QString diff = CompareRecord(got.values, ref.rows[want], ref, CompareMode::Exact,
                                         engine.geometry().pageSize);
      QVERIFY2(diff.isEmpty(),
               qPrintable(QStringLiteral("%1 row %2: %3").arg(name).arg(r).arg(diff)));
      ++recovered;
    }
  }
  qInfo("%s: %lld of %lld rows recovered exactly; %s", QTest::currentDataTag(), recovered, expected,
        qPrintable(QString(lines).replace(QLatin1Char('\n'), QLatin1String("; "))));
  // The damaged file and its log are only read.
  QCOMPARE(PageProbe(built.damaged).Data(), damagedBefore);
  QFile wal(built.damaged + QStringLiteral("-wal"));
  if (wal.open(QIODevice::ReadOnly)) QCOMPARE(wal.readAll(), walBefore);
}

// Companion files cut or damaged at their weak points: the readers stay
// inside the file and take no frame or record that fails its checks.
void CompanionsTest::hostileCompanions_data() {
  QTest::addColumn<bool>("journal");
  QTest::addColumn<QString>("damage");
  QTest::addColumn<qint64>("pagesTaken");  // -1: some, but not all
  QTest::newRow("log cut inside its header") << false << "cut header" << qint64(0);
  QTest::newRow("log cut inside the first frame") << false << "cut first" << qint64(0);
  QTest::newRow("log's first frame for page 0") << false << "page 0" << qint64(0);
  QTest::newRow("log's first frame with a wrong checksum") << false << "checksum" << qint64(0);
  QTest::newRow("journal cut inside its header") << true << "cut header" << qint64(0);
  QTest::newRow("journal with a bad sector size") << true << "sector" << qint64(0);
  QTest::newRow("journal's first record for page 0") << true << "page 0" << qint64(0);
  QTest::newRow("journal's first record with a wrong checksum") << true << "checksum" << qint64(0);
  QTest::newRow("journal cut inside its third record") << true << "cut third" << qint64(2);
}

void CompanionsTest::hostileCompanions() {
  QFETCH(bool, journal);
  QFETCH(QString, damage);
  QFETCH(qint64, pagesTaken);
  Built built;
  const QString folder = NewTestFolder(QStringLiteral("hostile"));
  const QString error = Build(journal ? Case::JournalHot : Case::WalCheckpointed, folder, &built);
  QVERIFY2(error.isEmpty(), qPrintable(error));
  const QString path =
      built.damaged + (journal ? QStringLiteral("-journal") : QStringLiteral("-wal"));
  // Where the first frame or record starts and how long each is (4096-byte pages).
  qint64 first = 32, step = 24 + 4096, pageAt = 0, sumAt = 16;
  if (journal) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray header = f.read(28);
    first = qFromBigEndian<quint32>(header.constData() + 20);  // the sector size
    step = 4096 + 8;
    sumAt = 4 + 4096;
  }
  auto flip = [&](qint64 offset) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(offset);
    char byte = 0;
    f.getChar(&byte);
    f.seek(offset);
    f.putChar(char(byte ^ 0x5a));
  };
  if (damage == QLatin1String("cut header")) QVERIFY(TruncateFile(path, 20));
  if (damage == QLatin1String("cut first")) QVERIFY(TruncateFile(path, first + 100));
  if (damage == QLatin1String("cut third")) QVERIFY(TruncateFile(path, first + 2 * step + 10));
  if (damage == QLatin1String("page 0")) QVERIFY(PatchBe32(path, first + pageAt, 0));
  if (damage == QLatin1String("checksum")) flip(first + sumAt + 1);
  if (damage == QLatin1String("sector")) QVERIFY(PatchBe32(path, 20, 1000));

  CFile64 file;
  QVERIFY(file.Open(path));
  qint64 taken = 0;
  if (journal) {
    const JournalIndex index = ReadHotJournal(file, file.Size(), 4096);
    taken = index.records;
    QCOMPARE(index.used, taken > 0);
  } else {
    const WalIndex index = ReadWal(file, file.Size());
    taken = qint64(index.pages.size());
    QCOMPARE(index.used, taken > 0);
  }
  QCOMPARE(taken, pagesTaken);
  // The session opens the file whatever its companion holds.
  RecoveryHarness run(built.damaged);
  QCOMPARE(run.scan, CSQLiteRecovery::ScanOutcome::Opened);
}

// A commit frame or a journal header that claims 0xFFFFFFFF pages beside a
// four-page database: the session opens it in moments, reads every row, and
// counts no page that no file holds.
void CompanionsTest::claimedSizeBounded_data() {
  QTest::addColumn<bool>("journal");
  QTest::newRow("log commit frame") << false;
  QTest::newRow("journal header") << true;
}

void CompanionsTest::claimedSizeBounded() {
  QFETCH(bool, journal);
  const QString db = NewTestFolder(QStringLiteral("claimed")) + QStringLiteral("/app.db");
  sqlite3* handle = nullptr;
  QCOMPARE(sqlite3_open(db.toUtf8().constData(), &handle), SQLITE_OK);
  QVERIFY(Exec(handle,
               "PRAGMA page_size=4096; CREATE TABLE t(a, b); CREATE TABLE u(c);"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)"
               " INSERT INTO t SELECT i, printf('%.*c', i, 'x') FROM n;"));
  sqlite3_close(handle);
  QFile file(db);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray pageOne = file.read(4096);
  const qint64 pages = file.size() / 4096;
  auto be32 = [](QByteArray& b, int at, quint32 v) { qToBigEndian<quint32>(v, b.data() + at); };
  QByteArray companion;
  if (journal) {
    // One record: page 1's image with its checksum (initial value 0).
    companion = QByteArray(512, '\0');
    companion.replace(0, 8, QByteArray("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8));
    be32(companion, 8, 1);
    be32(companion, 16, 0xFFFFFFFFu);
    be32(companion, 20, 512);
    be32(companion, 24, 4096);
    QByteArray record(4 + 4096 + 4, '\0');
    be32(record, 0, 1);
    record.replace(4, 4096, pageOne);
    quint32 sum = 0;
    for (int i = 4096 - 200; i > 0; i -= 200) sum += quint8(pageOne[i]);
    be32(record, 4 + 4096, sum);
    companion += record;
  } else {
    // Header and one commit frame for page 1, big-endian checksums.
    companion = QByteArray(32, '\0');
    be32(companion, 0, 0x377f0683);
    be32(companion, 4, 3007000);
    be32(companion, 8, 4096);
    be32(companion, 16, 0x11111111);
    be32(companion, 20, 0x22222222);
    SealWalHeader(companion);
    QByteArray frame(24, '\0');
    be32(frame, 0, 1);
    be32(frame, 4, 0xFFFFFFFFu);
    frame.replace(8, 8, companion.mid(16, 8));
    quint32 s1 = qFromBigEndian<quint32>(companion.constData() + 24);
    quint32 s2 = qFromBigEndian<quint32>(companion.constData() + 28);
    const QByteArray summed = frame.left(8) + pageOne;
    for (int i = 0; i < summed.size(); i += 8) {
      s1 += qFromBigEndian<quint32>(summed.constData() + i) + s2;
      s2 += qFromBigEndian<quint32>(summed.constData() + i + 4) + s1;
    }
    be32(frame, 16, s1);
    be32(frame, 20, s2);
    companion += frame + pageOne;
  }
  QFile out(db + (journal ? QStringLiteral("-journal") : QStringLiteral("-wal")));
  QVERIFY(out.open(QIODevice::WriteOnly));
  QCOMPARE(out.write(companion), qint64(companion.size()));
  out.close();

  RecoveryHarness run(db);
  QCOMPARE(run.scan, CSQLiteRecovery::ScanOutcome::Opened);
  QCOMPARE(run.engine.geometry().pageCount, pages);
  const SourceReport& report = run.engine.Source().Report();
  QCOMPARE((journal ? report.journal : report.wal).used, true);
  QVERIFY((journal ? report.journal : report.wal).note.contains(QStringLiteral("4294967295")));
  QCOMPARE(report.absentPages, qint64(0));
  QCOMPARE(run.WalkTable(QStringLiteral("t"), true).records().size(), 40);
}

// The saved database keeps the file's own settings, its AUTOINCREMENT
// counters and its planner statistics, and every committed row.
// The read-ahead window of the file reader returns exactly the file's bytes
// whatever the order of the reads: page after page across window ends and
// the end of the file, a far read between two runs, reads that straddle the
// window's end, larger than it, or start past the end of the file.
void CompanionsTest::readsMatchTheFile() {
  const QString path = NewTestFolder(QStringLiteral("reads")) + QStringLiteral("/bytes.bin");
  QByteArray bytes(300 * 1024 + 100, Qt::Uninitialized);
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 131 + i / 4096) & 0xff);
  QFile out(path);
  QVERIFY(out.open(QIODevice::WriteOnly));
  QCOMPARE(out.write(bytes), qint64(bytes.size()));
  out.close();
  CFile64 file;
  QVERIFY(file.Open(path));
  const qint64 size = bytes.size();
  std::vector<std::pair<qint64, qint64>> reads;  // offset, count
  for (qint64 at = 0; at < size + 8192; at += 4096) reads.push_back({at, 4096});
  for (qint64 at = 4096; at < 40 * 4096; at += 4096) {
    reads.push_back({at, 4096});
    if (at % (8 * 4096) == 0) reads.push_back({250 * 1024, 4096});
  }
  for (qint64 at = 1000; at < size; at += 5000) reads.push_back({at, 5000});
  reads.push_back({0, 4096});
  reads.push_back({4096, 200 * 1024});
  reads.push_back({size - 10, 4096});
  reads.push_back({size - 10 + 4096, 4096});
  std::vector<char> buffer;
  for (const auto& [offset, count] : reads) {
    buffer.assign(size_t(count), '\x7f');
    const qint64 got = file.ReadAt(offset, buffer.data(), count);
    const qint64 want = std::max<qint64>(0, std::min(count, size - offset));
    QCOMPARE(got, want);
    QVERIFY2(QByteArray(buffer.data(), int(got)) == bytes.mid(offset, got),
             qPrintable(QStringLiteral("read of %1 at %2").arg(count).arg(offset)));
  }
}

void CompanionsTest::savedSettings_data() {
  QTest::addColumn<bool>("walMode");
  QTest::newRow("rollback-journal file") << false;
  QTest::newRow("log copied while the writer was open") << true;
}

void CompanionsTest::savedSettings() {
  QFETCH(bool, walMode);
  const QString folder = NewTestFolder(QStringLiteral("settings"));
  const QString live = folder + QStringLiteral("/live.db");
  DbOptions options;
  options.pageSize = 8192;
  DbBuilder b(live, options);
  QVERIFY(
      b.Exec(QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL; PRAGMA user_version = 42;"
                            "PRAGMA application_id = -1234567;"
                            "CREATE TABLE a(id INTEGER PRIMARY KEY AUTOINCREMENT, v TEXT);"
                            "CREATE TABLE b(id INTEGER PRIMARY KEY AUTOINCREMENT, v TEXT);"
                            "CREATE INDEX a_v ON a(v);")));
  if (walMode)
    QVERIFY(b.Exec(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;")));
  QVERIFY(b.Exec(QStringLiteral(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
      "INSERT INTO a(v) SELECT i % 7 FROM n;"
      "INSERT INTO b(v) VALUES ('x');"
      "DELETE FROM a WHERE id > 90;"  // the counter stays at 100
      "ANALYZE;"
      "PRAGMA user_version = 43;")));
  QString damaged;
  QVERIFY(Snapshot(live, folder + QStringLiteral("/copy"), &damaged));
  if (walMode) QVERIFY(QFile::exists(damaged + QStringLiteral("-wal")));
  QString reference;
  QVERIFY(Snapshot(damaged, folder + QStringLiteral("/ref"), &reference));
  QCOMPARE(ExecOnFile(reference, QStringLiteral("PRAGMA journal_mode=DELETE")), QString());

  CSQLiteRecovery engine;
  QCOMPARE(engine.ScanDatabase(damaged), CSQLiteRecovery::ScanOutcome::Opened);
  QVERIFY(engine.BuildWorkingDatabase().message.isEmpty());
  const QString outDir = folder + QStringLiteral("/out");
  QVERIFY(QDir().mkpath(outDir));
  {
    RecoveredDatabase target;
    QString error;
    QVERIFY2(target.Open(engine, outDir, QStringLiteral("saved.db"), &error), qPrintable(error));
    const auto plan = MakeSavePlan(
        CategoryNames(engine, ObjectKind::Table), CategoryNames(engine, ObjectKind::View),
        CategoryNames(engine, ObjectKind::Trigger), CategoryNames(engine, ObjectKind::Index));
    for (const PlannedObject& object : plan) {
      const ObjectOutcome outcome =
          DispatchObject(engine, NoProgress(), ObjectRef{object.kind, object.name}, target);
      QVERIFY2(outcome.written && outcome.error.isEmpty(),
               qPrintable(object.name + QStringLiteral(": ") + outcome.error));
    }
  }
  const QString saved = outDir + QStringLiteral("/saved.db");
  for (const char* sql :
       {"PRAGMA page_size", "PRAGMA auto_vacuum", "PRAGMA user_version", "PRAGMA application_id",
        "PRAGMA encoding", "SELECT name, seq FROM sqlite_sequence ORDER BY name",
        "SELECT tbl, idx, stat FROM sqlite_stat1 ORDER BY tbl, idx", "SELECT * FROM a ORDER BY id",
        "SELECT * FROM b ORDER BY id", "SELECT name FROM sqlite_schema ORDER BY name"}) {
    const QStringList want = QueryRows(reference, sql);
    QVERIFY2(!want.isEmpty(), sql);
    QCOMPARE(QueryRows(saved, sql).join(QLatin1Char('\n')), want.join(QLatin1Char('\n')));
  }
  QCOMPARE(QueryRows(saved, "SELECT seq FROM sqlite_sequence WHERE name = 'a'"),
           QStringList{"1:100"});
  QCOMPARE(QueryRows(saved, "PRAGMA integrity_check"), QStringList{"3:ok"});
}

QTEST_GUILESS_MAIN(CompanionsTest)
#include "tst_companions.moc"
