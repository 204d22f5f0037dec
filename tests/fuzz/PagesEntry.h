// The entry of the fast fuzz target over the engine's lower layers: the page
// source, the page layout, the tree walk and the record decoder, with no
// working database, no SQLite connection and no event loop. The fuzz target
// and the corpus replay test both call it.
#pragma once

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

}  // namespace velmora::fuzz
