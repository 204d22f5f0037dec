#include "engine/pages/Companions.h"

#include <array>
#include <cstring>
#include <vector>

#include "engine/core/Format.h"
#include "platform/File64.h"

namespace velmora {
namespace {

using format::kJournalHeaderFields;
using format::kJournalMagic;
using format::kWalFrameHeaderSize;
using format::kWalHeaderSize;

constexpr std::int64_t kMinSectorSize = 32;
constexpr std::int64_t kMaxSectorSize = 65536;
// Longest super-journal name the library writes (a path).
constexpr std::int64_t kMaxSuperJournalName = 4096;

bool PowerOfTwoIn(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high && (value & (value - 1)) == 0;
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// The log's checksum over `bytes` (a multiple of 8 long), continuing from
// `sum`: two running sums over pairs of 32-bit words, read big-endian or
// little-endian as the header's magic says.
void WalChecksum(bool bigEndianWords, const std::uint8_t* bytes, std::int64_t length,
                 std::array<std::uint32_t, 2>& sum) {
  std::uint32_t s1 = sum[0];
  std::uint32_t s2 = sum[1];
  for (std::int64_t i = 0; i + 8 <= length; i += 8) {
    const std::uint32_t a =
        bigEndianWords ? format::ReadBigEndian32(bytes + i) : ReadLittleEndian32(bytes + i);
    const std::uint32_t b =
        bigEndianWords ? format::ReadBigEndian32(bytes + i + 4) : ReadLittleEndian32(bytes + i + 4);
    s1 += a + s2;
    s2 += b + s1;
  }
  sum = {s1, s2};
}

bool ReadExactly(const CFile64& file, std::int64_t offset, void* out, std::int64_t count) {
  return file.ReadAt(offset, out, count) == count;
}

}  // namespace

WalIndex ReadWal(const CFile64& file, std::int64_t fileSize) {
  WalIndex wal;
  std::uint8_t header[format::kWalHeaderSize] = {};
  if (fileSize < kWalHeaderSize || !ReadExactly(file, 0, header, kWalHeaderSize)) {
    wal.note = QStringLiteral("it is shorter than its header");
    return wal;
  }
  const std::uint32_t magic = format::ReadBigEndian32(header);
  const std::int64_t pageSize = format::ReadBigEndian32(header + format::kWalPageSize);
  if ((magic & 0xFFFFFFFEu) != format::kWalMagic ||
      !PowerOfTwoIn(pageSize, format::kMinPageSize, format::kMaxPageSize)) {
    wal.note = QStringLiteral("its header is not a write-ahead log header");
    return wal;
  }
  const bool bigEndianWords = (magic & 1u) != 0;
  std::array<std::uint32_t, 2> sum = {0, 0};
  WalChecksum(bigEndianWords, header, format::kWalChecksum, sum);
  if (sum[0] != format::ReadBigEndian32(header + format::kWalChecksum) ||
      sum[1] != format::ReadBigEndian32(header + format::kWalChecksum + 4)) {
    wal.note = QStringLiteral("its header checksum is wrong");
    return wal;
  }
  if (format::ReadBigEndian32(header + format::kWalVersionField) != format::kWalVersion) {
    wal.note = QStringLiteral("its format version is unknown");
    return wal;
  }
  wal.headerValid = true;
  wal.pageSize = pageSize;

  // Frames are read in order while they are valid; the pages of frames after
  // the last commit frame belong to a transaction that never committed.
  const std::int64_t frameSize = kWalFrameHeaderSize + pageSize;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(frameSize));
  PageImageOffsets pending;
  bool staleFirstFrame = false;
  for (std::int64_t offset = kWalHeaderSize; offset + frameSize <= fileSize; offset += frameSize) {
    if (!ReadExactly(file, offset, frame.data(), frameSize)) break;
    const std::uint8_t* h = frame.data();
    if (std::memcmp(h + format::kWalFrameSalt, header + format::kWalSalt, 8) != 0) {
      staleFirstFrame = wal.validFrames == 0;
      break;
    }
    const std::int64_t page = format::ReadBigEndian32(h + format::kWalFramePage);
    if (page == 0) break;
    WalChecksum(bigEndianWords, h, format::kWalFrameSalt, sum);
    WalChecksum(bigEndianWords, h + kWalFrameHeaderSize, pageSize, sum);
    if (sum[0] != format::ReadBigEndian32(h + format::kWalFrameChecksum) ||
        sum[1] != format::ReadBigEndian32(h + format::kWalFrameChecksum + 4))
      break;
    ++wal.validFrames;
    pending[page] = offset + kWalFrameHeaderSize;
    if (static_cast<std::int64_t>(wal.frames.size()) < kMaxListedFrames)
      wal.frames.emplace_back(page, offset + kWalFrameHeaderSize);
    const std::int64_t commitSize = format::ReadBigEndian32(h + format::kWalFrameCommitSize);
    if (commitSize != 0) {
      for (const auto& [number, at] : pending) wal.pages[number] = at;
      pending.clear();
      wal.committedFrames = wal.validFrames;
      wal.databasePages = commitSize;
    }
  }
  // Pages past the committed database size do not exist for a reader.
  for (auto it = wal.pages.begin(); it != wal.pages.end();)
    it = it->first > wal.databasePages ? wal.pages.erase(it) : std::next(it);

  wal.used = wal.committedFrames > 0;
  if (!wal.used) {
    wal.note = staleFirstFrame ? QStringLiteral(
                                     "it is left from an earlier generation of the log (its salts "
                                     "do not match)")
                               : QStringLiteral("it holds no committed transaction");
    wal.pages.clear();
  } else if (wal.validFrames > wal.committedFrames) {
    wal.note = QStringLiteral("%1 frames of a transaction that never committed were left out")
                   .arg(wal.validFrames - wal.committedFrames);
  }
  const std::int64_t frames = (fileSize - kWalHeaderSize) / frameSize;
  if (wal.used && frames > wal.validFrames) {
    const QString rest = QStringLiteral("%1 frames after the first invalid one were left out")
                             .arg(frames - wal.validFrames);
    wal.note = wal.note.isEmpty() ? rest : wal.note + QStringLiteral("; ") + rest;
  }
  return wal;
}

JournalIndex ReadHotJournal(const CFile64& file, std::int64_t fileSize,
                            std::int64_t databasePageSize,
                            bool (*superJournalExists)(const QString& name)) {
  JournalIndex journal;
  std::uint8_t fields[kJournalHeaderFields] = {};
  if (fileSize < kJournalHeaderFields || !ReadExactly(file, 0, fields, kJournalHeaderFields) ||
      std::memcmp(fields, kJournalMagic, sizeof kJournalMagic) != 0) {
    journal.note = QStringLiteral("it has no journal header (the transaction was finished)");
    return journal;
  }
  const std::int64_t sectorSize = format::ReadBigEndian32(fields + format::kJournalSectorSize);
  std::int64_t pageSize = format::ReadBigEndian32(fields + format::kJournalPageSize);
  if (pageSize == 0) pageSize = databasePageSize;
  if (!PowerOfTwoIn(pageSize, format::kMinPageSize, format::kMaxPageSize) ||
      !PowerOfTwoIn(sectorSize, kMinSectorSize, kMaxSectorSize)) {
    journal.note = QStringLiteral("its header gives no valid page or sector size");
    return journal;
  }
  journal.pageSize = pageSize;
  journal.originalPages = format::ReadBigEndian32(fields + format::kJournalOriginalPages);

  // A journal that ends with the name of a super-journal belongs to a
  // transaction over several databases; when that file is gone, the
  // transaction committed and this journal must not be rolled back.
  if (fileSize >= format::kSuperJournalTrailer) {
    std::uint8_t tail[format::kSuperJournalTrailer] = {};
    if (ReadExactly(file, fileSize - format::kSuperJournalTrailer, tail,
                    format::kSuperJournalTrailer) &&
        std::memcmp(tail + 8, kJournalMagic, sizeof kJournalMagic) == 0) {
      const std::int64_t length = format::ReadBigEndian32(tail);
      std::uint32_t sum = format::ReadBigEndian32(tail + 4);
      if (length > 0 && length <= kMaxSuperJournalName &&
          length <= fileSize - format::kSuperJournalTrailer) {
        QByteArray name(static_cast<qsizetype>(length), '\0');
        if (ReadExactly(file, fileSize - format::kSuperJournalTrailer - length, name.data(),
                        length)) {
          for (const char c : name) sum -= static_cast<std::uint8_t>(c);
          const QString super =
              QString::fromUtf8(name.constData(), qstrnlen(name.constData(), name.size()));
          if (sum == 0 && !super.isEmpty() &&
              (superJournalExists == nullptr || !superJournalExists(super))) {
            journal.note = QStringLiteral(
                "its transaction over several databases committed (the super-journal is gone)");
            return journal;
          }
        }
      }
    }
  }

  // The lock-byte page is never written to a journal.
  const std::int64_t lockBytePage = format::LockBytePage(pageSize);
  const std::int64_t recordSize =
      format::kJournalRecordPage + pageSize + format::kJournalRecordChecksum;
  std::vector<std::uint8_t> record(static_cast<std::size_t>(recordSize));
  std::int64_t offset = 0;
  bool stopped = false;
  bool first = true;
  while (!stopped) {
    // Every header starts at a sector boundary.
    offset = (offset + sectorSize - 1) / sectorSize * sectorSize;
    if (offset + sectorSize > fileSize) break;
    if (!first) {
      // A later header: its fields up to the sector size (which, with the
      // page size, only the first header gives).
      if (!ReadExactly(file, offset, fields, format::kJournalSectorSize) ||
          std::memcmp(fields, kJournalMagic, sizeof kJournalMagic) != 0)
        break;
    }
    std::int64_t records = format::ReadBigEndian32(fields + format::kJournalRecordCount);
    const std::uint32_t checksumStart =
        format::ReadBigEndian32(fields + format::kJournalChecksumInit);
    first = false;
    offset += sectorSize;
    if (records == 0xFFFFFFFF) records = (fileSize - offset) / recordSize;
    for (std::int64_t r = 0; r < records; ++r, offset += recordSize) {
      if (offset + recordSize > fileSize || !ReadExactly(file, offset, record.data(), recordSize)) {
        stopped = true;
        break;
      }
      const std::int64_t page = format::ReadBigEndian32(record.data());
      if (page == 0 || page == lockBytePage) {
        stopped = true;
        break;
      }
      // Pages the transaction added are simply cut off with the size.
      if (page > journal.originalPages) continue;
      const std::uint8_t* image = record.data() + format::kJournalRecordPage;
      std::uint32_t sum = checksumStart;
      for (std::int64_t i = pageSize - format::kJournalChecksumStride; i > 0;
           i -= format::kJournalChecksumStride)
        sum += image[i];
      if (sum != format::ReadBigEndian32(image + pageSize)) {
        journal.note = QStringLiteral("reading stopped at a record with a wrong checksum");
        stopped = true;
        break;
      }
      journal.pages[page] = offset + format::kJournalRecordPage;
      ++journal.records;
    }
  }
  journal.used = journal.records > 0;
  if (!journal.used) {
    journal.note = QStringLiteral("it holds no page image that passes its checksum");
    journal.pages.clear();
  }
  return journal;
}

}  // namespace velmora
