// A file layer for the recovered database: the library's own files, with
// page writes and page reads gathered into larger system calls.
#pragma once

namespace velmora {

// The name of a SQLite VFS that wraps the default one (registered on first
// use, never made the default). Writes that continue one another are held in
// a 64 KB buffer and written in one call; reads that continue one another
// fill a read-ahead window of the same size. Every other operation writes
// the buffer out first, and so does the library's commit (the sync file
// control it sends even with synchronous = OFF), so a failed write is
// reported by the statement that commits. Null when the VFS could not be
// registered: the default VFS is then used.
const char* BufferedVfsName();

}  // namespace velmora
