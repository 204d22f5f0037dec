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

// An input of the schema-replay target: one schema row, packed as its kind
// (byte 0: 0 table, 1 view, 2 index, 3 trigger), its name, a zero byte and
// its statement. PackSchemaRow makes one.
QByteArray PackSchemaRow(int kind, const QByteArray& name, const QByteArray& sql);

// Puts the schema row of a packed input into a small database of one table
// with rows of every storage class (a table row replaces that table's own
// row, so that its rows are saved under the crafted statement; the other
// kinds are added on that table), then does what a save of every object
// does: scan, working database, and the recovered database in the private
// folder, deleted afterwards. Returns the number of objects written.
std::int64_t SaveWithSchemaRow(const std::uint8_t* data, std::size_t size);

}  // namespace velmora::fuzz
