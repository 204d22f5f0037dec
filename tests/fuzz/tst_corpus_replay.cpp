// Every seed of the fuzz corpus and a few hundred deterministic mutations of
// them go through the entries of both fuzz targets under the sanitizers of
// the test build, so that crash regressions are caught without libFuzzer too.
// The only check is that each run ends (in bounded time) without a report.
#include <QElapsedTimer>
#include <QtTest/QtTest>

#include "engine/session/SQLiteRecovery.h"
#include "tests/fuzz/FuzzEntry.h"
#include "tests/fuzz/PagesEntry.h"
#include "tests/fuzz/SeedCorpus.h"
#include "tests/support/TestSupport.h"

using namespace velmora;
using namespace velmora::test;

class CorpusReplayTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void seeds();
  void mutations_data();
  void mutations();
  void headerFields();
  void pagesSeeds();

 private:
  QStringList m_seeds;
  QList<QByteArray> m_seedBytes;
};

void CorpusReplayTest::initTestCase() {
  QString error;
  m_seeds = fuzz::WriteSeedCorpus(NewTestFolder(QStringLiteral("seeds")), true, &error);
  QVERIFY2(!m_seeds.isEmpty(), qPrintable(error));
  QVERIFY(m_seeds.size() >= 20);
  for (const QString& path : std::as_const(m_seeds)) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_seedBytes << file.readAll();
  }
}

void CorpusReplayTest::seeds() {
  // The intact seeds decode records at all: the entry really walks tables.
  std::int64_t records = 0;
  for (const QString& path : std::as_const(m_seeds)) records += fuzz::RecoverFile(path);
  QVERIFY(records > 1000);
}

void CorpusReplayTest::mutations_data() {
  QTest::addColumn<int>("seed");
  QTest::addColumn<int>("kind");  // 0 byte flips anywhere, 1 flips in b-tree headers, 2 splices
  for (int seed = 0; seed < 3 * 100; ++seed) QTest::addRow("mutation %d", seed) << seed << seed % 3;
}

void CorpusReplayTest::mutations() {
  QFETCH(int, seed);
  QFETCH(int, kind);
  SeededRandom random(std::uint32_t(seed) * 2654435761u + 1);
  QByteArray bytes = m_seedBytes[int(random.Below(std::uint32_t(m_seedBytes.size())))];
  const int pageSize = bytes.size() >= 18 ? ((uchar(bytes[16]) << 8) | uchar(bytes[17])) : 0;
  const int flips = 1 + int(random.Below(16));
  for (int i = 0; i < flips && !bytes.isEmpty(); ++i) {
    qsizetype at = qsizetype(random.Below(std::uint32_t(bytes.size())));
    if (kind == 1 && pageSize >= 512) {
      // The first bytes of a page: page type, cell count, child pointers,
      // cell pointer array (page 1 after its file header).
      const qsizetype page = qsizetype(random.Below(std::uint32_t(bytes.size() / pageSize)));
      at = page * pageSize + (page == 0 ? 100 : 0) + qsizetype(random.Below(24));
      if (at >= bytes.size()) continue;
    }
    if (kind == 2 && i == 0) {
      // A block of the file copied over another place.
      const qsizetype from = qsizetype(random.Below(std::uint32_t(bytes.size())));
      const qsizetype len =
          std::min<qsizetype>(qsizetype(random.Below(2048)), bytes.size() - std::max(at, from));
      if (len > 0) bytes.replace(at, len, bytes.mid(from, len));
      continue;
    }
    bytes[at] = char(uchar(bytes[at]) ^ uchar(1u << random.Below(8)));
    if (random.Below(4) == 0) bytes[at] = char(random.Below(2) ? 0xFF : 0x00);
  }
  if (random.Below(10) == 0) bytes.truncate(qsizetype(random.Below(std::uint32_t(bytes.size()))));
  QElapsedTimer timer;
  timer.start();
  fuzz::RecoverBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                     std::size_t(bytes.size()));
  fuzz::WalkPagesOfBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                         std::size_t(bytes.size()));
  // Generous: only a run away walk takes this long.
  QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
}

void CorpusReplayTest::headerFields() {
  // Every value of the page-size bytes and a few of the encoding and
  // reserved-bytes fields on one seed.
  const QByteArray seed = m_seedBytes.value(0);
  QVERIFY(seed.size() > 1024);
  for (int raw = 0; raw < 65536; raw += raw < 520 ? 1 : 1021) {
    QByteArray bytes = seed;
    bytes[16] = char(raw >> 8);
    bytes[17] = char(raw);
    fuzz::RecoverBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       std::size_t(bytes.size()));
  }
  for (int value : {0, 2, 3, 4, 255}) {
    QByteArray enc = seed, reserved = seed;
    enc[59] = char(value);
    reserved[20] = char(value);
    fuzz::RecoverBytes(reinterpret_cast<const std::uint8_t*>(enc.constData()),
                       std::size_t(enc.size()));
    fuzz::RecoverBytes(reinterpret_cast<const std::uint8_t*>(reserved.constData()),
                       std::size_t(reserved.size()));
  }
}

void CorpusReplayTest::pagesSeeds() {
  // The lower-layer entry decodes the records of the seeds and of the small
  // seeds: it really walks the trees the scan finds.
  std::int64_t records = 0;
  for (const QString& path : std::as_const(m_seeds)) records += fuzz::WalkPagesOfFile(path);
  QVERIFY(records > 1000);
  QString error;
  const QStringList small = fuzz::WriteSmallSeeds(NewTestFolder(QStringLiteral("small")), &error);
  QVERIFY2(!small.isEmpty(), qPrintable(error));
  for (const QString& path : small) {
    const bool empty = path.endsWith(QStringLiteral("small-empty.db"));
    QVERIFY2(empty || fuzz::WalkPagesOfFile(path) > 0, qPrintable(path));
  }
}

VELMORA_TEST_MAIN(CorpusReplayTest)
#include "tst_corpus_replay.moc"
