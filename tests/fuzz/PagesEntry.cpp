#include "tests/fuzz/PagesEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/Format.h"
#include "engine/SQLiteRecovery.h"

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
class DiscardingReader : public ICellVisitor, public IWalkProgress, public ILongValueFiles {
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
    session.WalkPage(root, reader, &reader);
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

}  // namespace velmora::fuzz
