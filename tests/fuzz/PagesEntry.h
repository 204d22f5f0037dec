// The entry of the fast fuzz target over the engine's lower layers: the page
// source, the page layout, the tree walk and the record decoder, with no
// working database, no SQLite connection and no event loop. The fuzz target
// and the corpus replay test both call it.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace velmora::fuzz {

// Opens the file at `path` with the session's scan (page source, schema walk
// from page 1, schema catalog), then walks, once in display mode and once in
// save mode, the root page of every schema object found, the first freelist
// trunk page and the largest root page that the header names, and two pages
// chosen by the file's last four bytes. Every cell is decoded by a visitor
// that keeps nothing and writes no temporary file (long values are held in
// memory); the walks of the chosen pages in display mode are stopped after a
// number of steps given by the file's last byte. Aborts when a decoded record
// view breaks its own invariants (a span outside its buffer, more bytes held
// than announced). Returns the number of records decoded.
std::int64_t WalkPagesOfFile(const QString& path);

// Writes `size` bytes to a scratch file in a private temporary folder (made
// once per process, on a memory file system when there is one) and runs
// WalkPagesOfFile on it.
std::int64_t WalkPagesOfBytes(const std::uint8_t* data, std::size_t size);

// An input of the companion-file target: the database and the write-ahead
// log and rollback journal beside it, in one byte string (a flags byte, the
// lengths of the database and of the log as 32-bit little-endian numbers,
// then the three files). With the flags, the checksums of the log's header
// and frames (1) and of the journal's records (2) are made right before the
// files are written, so that mutations reach what lies behind them.
struct CompanionInput {
  QByteArray db, wal, journal;
  std::uint8_t flags = 0;
};
QByteArray PackCompanions(const CompanionInput& input);
CompanionInput UnpackCompanions(const std::uint8_t* data, std::size_t size);

// Writes the database of a packed companion input to the scratch file and
// its log and journal beside it (each only when not empty, the other
// removed), and runs WalkPagesOfFile: the scan reads the companions.
std::int64_t WalkPagesWithCompanions(const std::uint8_t* data, std::size_t size);

}  // namespace velmora::fuzz
