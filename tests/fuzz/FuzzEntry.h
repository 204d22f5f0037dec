// The one entry through which hostile files are pushed: the fuzz target and
// the corpus replay test both call it.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace velmora::fuzz {

// Sets up the process once: private temporary and program folders (on a
// memory file system when there is one, the working database is re-created
// for every input) and a message-box hook that answers silently.
void InitFuzzEnvironment();

// Does to the file at `path` what the program does to a damaged file: scans
// it, builds the working database, and walks the b-tree of every recovered
// table (and index) in display mode, with a grid, status text and progress
// bar, and in save mode, with a sink that reads long values back from their
// temporary files. Returns the number of records decoded.
std::int64_t RecoverFile(const QString& path);

// Writes `size` bytes to the process's scratch file and runs RecoverFile.
std::int64_t RecoverBytes(const std::uint8_t* data, std::size_t size);

}  // namespace velmora::fuzz
