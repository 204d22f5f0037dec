// The verbs of velmora-recover. Each verb lives in its own file and is listed
// once in the verb table of main.cpp.
#pragma once

#include <QStringList>

namespace velmora::cli {

// Exit statuses shared by every verb.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the file yielded nothing usable, or the work failed
inline constexpr int kExitUsage = 2;    // wrong arguments

// `list FILE`: the object tree that the Open command would show, one
// "CATEGORY<TAB>NAME" line per object. `args` are the verb's arguments
// (without the verb).
int RunList(const QStringList& args);

// Writes "velmora-recover: <message>\n" to standard error.
void PrintError(const QString& message);

}  // namespace velmora::cli
