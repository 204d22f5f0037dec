#include "tests/fuzz/PagesEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/core/Format.h"
#include "engine/session/SQLiteRecovery.h"

namespace velmora::fuzz {
namespace {

// Header fields that name pages: the first freelist trunk page and, in an
// auto-vacuum file, the largest root page.
constexpr int kHeaderFreelistTrunk = 32;
constexpr int kHeaderLargestRoot = 52;

// Walks no further than this many progress steps: the walks of the chosen
// pages stop early, so that a stop in the middle of a page or of a chain is
// fuzzed too.
constexpr std::int64_t kNoStop = INT64_MAX;

// A libFuzzer crash, with the sanitizers' stack, when a view is inconsistent.
[[noreturn]] void Broken() { __builtin_trap(); }

// Decodes every cell it is handed in one mode and keeps nothing; checks that
// each record view is consistent and reads every byte it holds.
class DiscardingReader : public ICellVisitor, public IProgress, public ILongValueFiles {
 public:
  DiscardingReader(const CSQLiteRecovery& session, DecodeMode mode, std::int64_t stopAfter)
      : m_session(session), m_mode(mode), m_stopAfter(stopAfter) {}

  CellUse VisitCell(const CellRef& cell) override {
    const bool fits = m_session.DecodeCell(cell, m_mode, this, m_view);
    Check();
    if (!fits) return CellUse::Skipped;
    ++records;
    return CellUse::Used;
  }
  bool Step(const WalkStep&) override { return ++m_steps > m_stopAfter; }
  // No temporary files: long values are held in memory.
  QString PathFor(std::int64_t) override { return QString(); }

  std::int64_t records = 0;
  std::uint8_t checksum = 0;

 private:
  void Check() {
    const auto size = static_cast<std::int64_t>(m_view.bytes.size());
    if (!m_view.tempFiles.empty()) Broken();
    for (const ValueView& v : m_view.values) {
      if (v.tempFile != -1 || v.offset < 0 || v.held < 0 || v.offset > size ||
          v.held > size - v.offset)
        Broken();
      const bool bytes = v.storage == StorageClass::Text || v.storage == StorageClass::Blob;
      if (!bytes && v.held != 0) Broken();
      if (bytes && v.held > v.length) Broken();
      // A value neither cut short nor shortened for its display is held whole.
      if (bytes && v.complete && !v.prefixOnly && v.held != v.length) Broken();
      if (v.prefixOnly && (m_mode != DecodeMode::Display || v.held > kLongTextPrefixBytes))
        Broken();
      const std::uint8_t* data = m_view.Data(v);
      for (std::int64_t i = 0; i < v.held; ++i) checksum ^= data[i];
    }
  }

  const CSQLiteRecovery& m_session;
  const DecodeMode m_mode;
  const std::int64_t m_stopAfter;
  std::int64_t m_steps = 0;
  RecordView m_view;  // reused from cell to cell, as the program's readers do
};

QString& ScratchFile() {
  static std::unique_ptr<QTemporaryDir> folder;
  static QString file;
  if (!folder) {
    const QString shm = QStringLiteral("/dev/shm");
    const QFileInfo info(shm);
    const QString base = info.isDir() && info.isWritable() ? shm : QDir::tempPath();
    folder = std::make_unique<QTemporaryDir>(base + QStringLiteral("/velmora-pages-XXXXXX"));
    if (!folder->isValid()) std::abort();
    file = QDir(folder->path()).filePath(QStringLiteral("input.db"));
  }
  return file;
}

std::uint32_t HeaderPage(const PageSource& source, int offset) {
  return format::ReadBigEndian32(source.Header() + offset);
}

}  // namespace

std::int64_t WalkPagesOfFile(const QString& path) {
  CSQLiteRecovery session;
  if (session.ScanDatabase(path) != CSQLiteRecovery::ScanOutcome::Opened) return 0;
  const PageSource& source = session.Source();
  const Geometry& g = session.geometry();

  std::vector<std::int64_t> roots;
  for (const SchemaObject& object : session.Catalog().Objects())
    if (object.rootPage > 0) roots.push_back(object.rootPage);
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());

  std::vector<std::int64_t> chosen = {HeaderPage(source, kHeaderFreelistTrunk),
                                      HeaderPage(source, kHeaderLargestRoot)};
  std::uint8_t tail[4] = {};
  std::uint8_t stopByte = 0;
  if (g.fileSize >= 4 && source.ReadRaw(g.fileSize - 4, tail, 4) == 4) {
    chosen.push_back(1 + ((tail[0] << 8) | tail[1]) % g.pageCount);
    chosen.push_back(1 + tail[2] % g.pageCount);
    stopByte = tail[3];
  }

  std::int64_t records = 0;
  std::uint8_t checksum = 0;
  auto walk = [&](std::int64_t root, DecodeMode mode, std::int64_t stopAfter) {
    DiscardingReader reader(session, mode, stopAfter);
    session.WalkPage(root, reader, reader);
    records += reader.records;
    checksum ^= reader.checksum;
  };
  for (const std::int64_t root : roots) {
    walk(root, DecodeMode::Display, kNoStop);
    walk(root, DecodeMode::Save, kNoStop);
  }
  for (const std::int64_t page : chosen) {
    walk(page, DecodeMode::Display, stopByte);
    walk(page, DecodeMode::Save, kNoStop);
  }
  // Keeps the reads of the held bytes from being optimised away.
  static volatile std::uint8_t sink;
  sink = checksum;
  return records;
}

std::int64_t WalkPagesOfBytes(const std::uint8_t* data, std::size_t size) {
  const QString& path = ScratchFile();
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (size > 0 && file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
      std::abort();
  }
  return WalkPagesOfFile(path);
}

namespace {

std::uint32_t Be32(const QByteArray& b, qsizetype at) {
  return format::ReadBigEndian32(reinterpret_cast<const std::uint8_t*>(b.constData()) + at);
}

void PutBe32(QByteArray& b, qsizetype at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = char(v >> (24 - 8 * k));
}

bool ValidPageSize(std::uint32_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

// The log's running checksum over `length` bytes (a multiple of 8) of `b`.
void WalSum(const QByteArray& b, qsizetype at, qsizetype length, bool big, std::uint32_t* s) {
  for (qsizetype i = at; i + 8 <= at + length; i += 8) {
    auto word = [&](qsizetype w) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(b.constData()) + w;
      return big ? format::ReadBigEndian32(p)
                 : std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                       std::uint32_t(p[3]) << 24;
    };
    s[0] += word(i) + s[1];
    s[1] += word(i + 4) + s[0];
  }
}

void SealWal(QByteArray& wal) {
  if (wal.size() < 32) return;
  const bool big = (Be32(wal, 0) & 1u) != 0;
  std::uint32_t sum[2] = {0, 0};
  WalSum(wal, 0, 24, big, sum);
  PutBe32(wal, 24, sum[0]);
  PutBe32(wal, 28, sum[1]);
  const std::uint32_t pageSize = Be32(wal, 8);
  if (!ValidPageSize(pageSize)) return;
  for (qsizetype at = 32; at + 24 + pageSize <= wal.size(); at += 24 + pageSize) {
    wal.replace(at + 8, 8, wal.mid(16, 8));  // this generation's salts
    WalSum(wal, at, 8, big, sum);
    WalSum(wal, at + 24, pageSize, big, sum);
    PutBe32(wal, at + 16, sum[0]);
    PutBe32(wal, at + 20, sum[1]);
  }
}

// The records that follow the journal's first header.
void SealJournal(QByteArray& journal) {
  if (journal.size() < 28) return;
  const std::uint32_t sector = Be32(journal, 20);
  const std::uint32_t pageSize = Be32(journal, 24);
  if (!ValidPageSize(pageSize) || sector < 32 || sector > 65536) return;
  for (qsizetype at = sector; at + 8 + pageSize <= journal.size(); at += 8 + pageSize) {
    std::uint32_t sum = Be32(journal, 12);
    for (qsizetype i = pageSize - 200; i > 0; i -= 200) sum += std::uint8_t(journal[at + 4 + i]);
    PutBe32(journal, at + 4 + pageSize, sum);
  }
}

void WriteOrRemove(const QString& path, const QByteArray& bytes) {
  if (bytes.isEmpty()) {
    QFile::remove(path);
    return;
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    std::abort();
}

}  // namespace

QByteArray PackCompanions(const CompanionInput& input) {
  QByteArray packed(9, '\0');
  packed[0] = char(input.flags);
  for (int k = 0; k < 4; ++k) {
    packed[1 + k] = char(std::uint32_t(input.db.size()) >> (8 * k));
    packed[5 + k] = char(std::uint32_t(input.wal.size()) >> (8 * k));
  }
  return packed + input.db + input.wal + input.journal;
}

CompanionInput UnpackCompanions(const std::uint8_t* data, std::size_t size) {
  CompanionInput input;
  if (size < 9) return input;
  auto le32 = [&](int at) {
    return std::size_t(data[at]) | std::size_t(data[at + 1]) << 8 |
           std::size_t(data[at + 2]) << 16 | std::size_t(data[at + 3]) << 24;
  };
  input.flags = data[0];
  std::size_t at = 9;
  const std::size_t dbLength = std::min(le32(1), size - at);
  input.db = QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(dbLength));
  at += dbLength;
  const std::size_t walLength = std::min(le32(5), size - at);
  input.wal = QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(walLength));
  at += walLength;
  input.journal = QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(size - at));
  if (input.flags & 1) SealWal(input.wal);
  if (input.flags & 2) SealJournal(input.journal);
  return input;
}

std::int64_t WalkPagesWithCompanions(const std::uint8_t* data, std::size_t size) {
  const CompanionInput input = UnpackCompanions(data, size);
  const QString& path = ScratchFile();
  WriteOrRemove(path + QStringLiteral("-wal"), input.wal);
  WriteOrRemove(path + QStringLiteral("-journal"), input.journal);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(input.db) != input.db.size())
    std::abort();
  file.close();
  return WalkPagesOfFile(path);
}

}  // namespace velmora::fuzz
