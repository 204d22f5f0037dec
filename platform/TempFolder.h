// The program's private temporary folder: long-value files of a save and the
// column value stores of the record grid.
//
// Layout (every level created 0700 and checked with lstat: a real directory
// owned by the user, never a symbolic link):
//
//   <QDir::tempPath()>/ZORSQLI-<uid>/      private per-user folder
//       <pid>/                             this process's work folder
//           <guid name>                    one long value's bytes (no extension)
//           stores/                        column value stores; kept by the emptying
//
// When TMPDIR is not set and a memory file system with room is at hand
// ($XDG_RUNTIME_DIR, else /dev/shm), the long values go to the same layout
// there instead: a file per long value on a journaling disk can cost a
// synchronous disk write, in memory it costs nothing. The column stores, which
// grow with the table shown, always stay under the temporary directory.
//
// Each running process has its own work folder, so a second copy of the program
// or the command-line tool never empties the files of another one. Work folders
// of processes that no longer run are removed the first time a process asks for
// its own.
#pragma once

#include <QString>
#include <QUuid>
#include <cstdint>

namespace velmora {

// A new unique name: a fresh 128-bit UUID formatted with
// "%X-%X-%X-%X%X-%X%X%X%X%X%X" (32-bit part, two 16-bit parts, then the eight
// bytes one by one, upper-case hexadecimal without leading zeros).
QString MakeGuidName();
// The same formatting for a given UUID.
QString FormatGuidName(const QUuid& id);

// The work folder of long values with a trailing "/", created when missing;
// empty when it cannot be created or fails the safety checks.
QString GetTempFolderPath();

// The work folder, with a trailing "/", for the bytes of one long value of
// `bytes` bytes: the folder GetTempFolderPath() gives when it can hold the
// value with room to spare, else the one on disk (a memory file system that
// fills up would cut the value short). Empty when no folder can be had.
QString GetTempFolderPathFor(std::int64_t bytes);

// The work folder on disk, with a trailing "/" (the same as
// GetTempFolderPath() when long values are not kept in memory).
QString GetDiskTempFolderPath();

// The work folder followed by MakeGuidName(); the file is not created. Empty
// when the folder cannot be had.
QString MakeTempFilePath();

// The sub-folder of the work folder that holds the column value stores, with a
// trailing "/", created when missing; EmptyTempFolder never touches it. Empty
// when it cannot be created.
QString GetColumnStoreFolderPath();

// Deletes everything below `folder` and then `folder` itself; returns whether
// the folder was removed (false for the empty text, for a path that is not a
// directory, and for a symbolic link, which is never followed). Entries below
// are removed without following any symbolic link: a link is removed as a
// link. An entry named `keep` directly inside `folder` is left alone (and the
// folder then stays). What cannot be removed is left in place silently.
bool DeleteFolderTree(const QString& folder, const QString& keep = QString());

// Deletes the long-value files of the work folders (everything but the
// stores sub-folder). True when the work folders themselves were removed,
// which they are not while the stores sub-folder exists. Does nothing and
// returns false when no long-value path was handed out since the last call.
bool EmptyTempFolder();

// The name of the stores sub-folder ("stores").
QString ColumnStoreFolderName();

}  // namespace velmora
