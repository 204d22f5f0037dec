// The damaged file as numbered pages.
//
// The page source is the one place that opens and reads the damaged file and
// its companions. It owns the geometry (page size, reserved bytes, usable
// size, text encoding, page count, file size) and reads page N, or a part of
// it, into a buffer the caller provides. Nothing above it knows where a
// page's bytes come from: the database file itself, the committed frames of
// its write-ahead log, or the original images in its hot rollback journal,
// as SQLite itself would read the file.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/core/Format.h"
#include "platform/File64.h"

namespace velmora {

// What the file's header and size say about its pages.
struct Geometry {
  std::int64_t pageSize = 0;       // 512..65536; 0 when the header gives no usable size
  std::int64_t reserved = 0;       // bytes at the end of every page that hold no b-tree data
  std::int64_t usableSize = 0;     // pageSize - reserved
  std::uint32_t textEncoding = 0;  // 1 UTF-8, 2 UTF-16le, 3 UTF-16be; other values read like 1
  std::int64_t pageCount = 0;      // pages of the database as read (see SourceReport)
  std::int64_t fileSize = 0;       // bytes of the database file itself
};

// One companion file of the database and what became of it.
struct CompanionUse {
  QString path;            // FILE-wal or FILE-journal
  bool found = false;      // it lies beside the database file
  bool used = false;       // its page images take the place of the file's
  std::int64_t pages = 0;  // pages of the database read from it
  QString note;            // why it was not used, or what of it was left out
};

// Where the pages came from and what was detected instead of read from the
// header; the completion report and the tool show it (see DescribeSource).
struct SourceReport {
  bool companionsAllowed = true;    // false when the user left the companion files out
  CompanionUse wal;                 // FILE-wal
  CompanionUse journal;             // FILE-journal
  std::int64_t mainFilePages = 0;   // pages read from the database file itself
  std::int64_t absentPages = 0;     // pages of the database that no file holds
  std::int64_t headerPageSize = 0;  // as bytes 16-17 give it (1 read as 65536)
  QString pageSizeOrigin;           // empty: the header's; else where the page size came from
  QString reservedOrigin;           // empty: the header's; else why the reserved count differs
  QString encodingOrigin;           // empty: the header's; else how the text encoding was found
};

// The database's own settings that its header holds, each only when the
// header field is plausible (see ReadHeaderSettings).
struct HeaderSettings {
  std::int64_t pageSize = 0;       // the page size the pages are read at; 0 unknown
  int autoVacuum = -1;             // 0 none, 1 full, 2 incremental; -1 not plausible
  bool hasUserVersion = false;     // the header's magic is intact
  std::int32_t userVersion = 0;    // PRAGMA user_version
  bool hasApplicationId = false;   // the header's magic is intact
  std::int32_t applicationId = 0;  // PRAGMA application_id
};

// The report's lines for the user: one per file that pages came from, one per
// companion that was found but not used, one per detected setting. Empty when
// every page came from the database file at the header's settings.
QStringList DescribeSource(const SourceReport& report);

// Result of reading a page.
enum class PageRead {
  Ok,          // the whole page was read
  OutOfRange,  // no such page (0, negative, or past the page count)
  Short,       // the file ended or refused inside the page; the rest of the buffer is zero
};

class PageSource {
 public:
  // How opening went, in the terms the program reports it.
  enum class OpenResult {
    Opened,     // header read, geometry known, at least one page
    NotOpen,    // the system refused the file ("File Not Open !")
    Corrupted,  // opened, but no usable page size or no whole page ("File Corrupted")
  };

  PageSource() = default;
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  // Takes `geometry` as given, with no file behind it: pages and overflow
  // chains read as missing. For decoding page images that come from elsewhere.
  void SetGeometry(const Geometry& geometry) { m_geometry = geometry; }

  // Opens `path` read-only and settles the geometry. The path is trimmed
  // first. With `useCompanions`, FILE-wal and FILE-journal beside it are read
  // too (read-only): the original images of a hot journal replace the file's
  // pages and its page count, then the committed frames of a valid log
  // replace those and give the page count. The page size is the log's, else
  // the journal's, else the header's; when the header's is invalid, or fewer
  // pages parse at it than at another size, it is detected from the pages.
  // A text-encoding field other than 1, 2 or 3 is detected from the schema.
  OpenResult Open(const QString& path, bool useCompanions = true);

  // The trimmed path as opened; empty when it could not be opened.
  const QString& Path() const { return m_path; }
  const Geometry& geometry() const { return m_geometry; }
  const SourceReport& Report() const { return m_report; }
  // The settings in page 1's header as read: user_version and application_id
  // when the header's magic is intact; the auto-vacuum mode when the largest
  // root page (bytes 52-55) lies inside the database and the incremental
  // flag (bytes 64-67) is 0 or 1; the page size the pages are read at.
  HeaderSettings ReadHeaderSettings() const;
  bool Usable() const {
    return m_geometry.pageSize >= format::kMinPageSize && m_geometry.pageCount > 0;
  }
  // The first 100 bytes of page 1 as read (from a companion when it holds
  // page 1; bytes that could not be read are 0).
  const std::uint8_t* Header() const { return m_header; }

  // Reads page `number` (1-based) into `out`, which holds geometry().pageSize
  // bytes. On Short the bytes that could not be read are set to zero.
  PageRead ReadPage(std::int64_t number, std::uint8_t* out) const;

  // Reads pages `first`, `first` + 1, ... (at most `count`) that the
  // database file itself holds one after the other, in one read, into `out`
  // (count * page size bytes). Returns how many whole pages were read; 0
  // when page `first` comes from a companion or does not exist (ReadPage
  // reads it then). For passes that read most pages in order.
  std::int64_t ReadRun(std::int64_t first, std::int64_t count, std::uint8_t* out) const;

  // Reads `count` bytes of page `number` from `offset` inside it into `out`.
  // Returns the number of bytes read: fewer when the page or the file ends
  // first, 0 when the page does not exist. Never reads past the page.
  std::int64_t ReadPart(std::int64_t number, std::int64_t offset, std::uint8_t* out,
                        std::int64_t count) const;

  // Where the image of page `number` comes from.
  enum class Origin { None, File, Wal, Journal };
  Origin PageOrigin(std::int64_t number) const {
    if (number <= 0 || number > m_geometry.pageCount) return Origin::None;
    const Overlay where = Locate(number);
    return where.file == &m_walFile       ? Origin::Wal
           : where.file == &m_journalFile ? Origin::Journal
           : where.file == &m_file        ? Origin::File
                                          : Origin::None;
  }

  // A page image that a reader of the database no longer sees: a frame of
  // the write-ahead log that a later one replaced or that no commit
  // followed, or the database file's own image of a page that the log or a
  // hot journal replaced. Deleted rows may live on in them.
  struct OlderImage {
    std::int64_t page = 0;
    Origin origin = Origin::None;  // Wal, or File (the file's image, replaced)
    std::int64_t frame = 0;        // for Wal: the frame's number in the log, from 1
  };
  const std::vector<OlderImage>& OlderImages() const { return m_older; }
  // Reads the older image `index` of OlderImages() as ReadPage reads a page.
  PageRead ReadOlderImage(std::size_t index, std::uint8_t* out) const;

  // Raw bytes of the file at `offset` (the header and the file's own tail);
  // the number of bytes read.
  std::int64_t ReadRaw(std::int64_t offset, void* out, std::int64_t count) const {
    return m_file.ReadAt(offset, out, count);
  }

 private:
  // Where a page that a companion holds lies.
  struct Overlay {
    const CFile64* file = nullptr;
    std::int64_t offset = 0;
  };
  // The file and offset of page `number`'s image; null file for none.
  Overlay Locate(std::int64_t number) const;

  CFile64 m_file;
  CFile64 m_walFile;
  CFile64 m_journalFile;
  QString m_path;
  Geometry m_geometry;
  SourceReport m_report;
  std::int64_t m_mainPages = 0;  // whole pages in the database file itself
  std::unordered_map<std::int64_t, Overlay> m_overlay;
  std::vector<OlderImage> m_older;
  std::vector<Overlay> m_olderAt;  // where each of m_older lies
  std::uint8_t m_header[format::kHeaderSize] = {};
};

}  // namespace velmora
