// The program's own folder and where the working database lives.
#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// The folder of the running executable: QCoreApplication::applicationDirPath()
// when an application object exists, else the folder of /proc/self/exe.
// SetProgramFolderOverride() replaces it (tests running in parallel give each
// process its own folder); an empty text removes the override.
QString ProgramFolder();
void SetProgramFolderOverride(const QString& folder);

// The per-user cache folder of the program, QStandardPaths::CacheLocation
// (~/.cache/<program name>, or under $XDG_CACHE_HOME). Created when missing;
// empty when it cannot be created.
QString UserCacheFolder();

// The folder, relative to the program folder, where an installed program
// finds its manual (share/doc/velmora-sqlite-recovery beside bin/).
inline constexpr const char* kInstalledDocFolder = "../share/doc/velmora-sqlite-recovery";

// True when the program runs from an installed tree: its manual folder
// (kInstalledDocFolder) lies beside the program folder. An installed program
// never writes into its own folder (a system folder such as /usr/bin).
bool RunsInstalled();

// The folders in which the manual is looked for, in order: the current
// folder, the program folder, and the installed manual folder.
QStringList ManualFolders();

// The folder for the working database: the program folder when it is a
// writable directory and the program is not installed, else the per-user
// cache folder (created). Never empty: when none can be had, the program folder is returned and
// opening the database there will fail and be reported.
QString WorkingFolder();

// True when `folder` is an existing directory that this process may create
// files in.
bool IsWritableFolder(const QString& folder);

}  // namespace velmora
