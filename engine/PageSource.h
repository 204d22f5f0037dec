// The damaged file as numbered pages.
//
// The page source is the one place that opens and reads the damaged file. It
// owns the geometry (page size, reserved bytes, usable size, text encoding,
// page count, file size) and reads page N, or a part of it, into a buffer the
// caller provides. Nothing above it knows where a page's bytes come from.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/Format.h"
#include "platform/File64.h"

namespace velmora {

// What the file's header and size say about its pages.
struct Geometry {
  std::int64_t pageSize = 0;    // 512..65536; 0 when the header gives no usable size
  std::int64_t reserved = 0;    // bytes at the end of every page that hold no b-tree data
  std::int64_t usableSize = 0;  // pageSize - reserved
  std::uint32_t textEncoding = 0;  // 1 UTF-8, 2 UTF-16le, 3 UTF-16be; other values read like 1
  std::int64_t pageCount = 0;      // whole pages in the file
  std::int64_t fileSize = 0;       // bytes
};

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

  // Opens `path` read-only and reads the header. The path is trimmed first.
  OpenResult Open(const QString& path);

  // The trimmed path as opened; empty when it could not be opened.
  const QString& Path() const { return m_path; }
  const Geometry& geometry() const { return m_geometry; }
  bool Usable() const { return m_geometry.pageSize >= format::kMinPageSize && m_geometry.pageCount > 0; }
  // The first 100 bytes of the file as read (bytes that could not be read are 0).
  const std::uint8_t* Header() const { return m_header; }

  // Reads page `number` (1-based) into `out`, which holds geometry().pageSize
  // bytes. On Short the bytes that could not be read are set to zero.
  PageRead ReadPage(std::int64_t number, std::uint8_t* out) const;

  // Reads `count` bytes of page `number` from `offset` inside it into `out`.
  // Returns the number of bytes read: fewer when the page or the file ends
  // first, 0 when the page does not exist. Never reads past the page.
  std::int64_t ReadPart(std::int64_t number, std::int64_t offset, std::uint8_t* out,
                        std::int64_t count) const;

  // Raw bytes of the file at `offset` (the header and the file's own tail);
  // the number of bytes read.
  std::int64_t ReadRaw(std::int64_t offset, void* out, std::int64_t count) const {
    return m_file.ReadAt(offset, out, count);
  }

 private:
  CFile64 m_file;
  QString m_path;
  Geometry m_geometry;
  std::uint8_t m_header[format::kHeaderSize] = {};
};

}  // namespace velmora
