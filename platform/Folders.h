// The program's own folder and where the working database lives.
#pragma once

#include <QString>

namespace velmora {

// The folder of the running executable: QCoreApplication::applicationDirPath()
// when an application object exists, else the folder of /proc/self/exe.
// SetProgramFolderOverride() replaces it (tests running in parallel give each
// process its own folder); an empty text removes the override.
QString ProgramFolder();
void SetProgramFolderOverride(const QString& folder);

// The per-user data folder of the program:
// QStandardPaths::GenericDataLocation + "/Velmora SQLite Database Recovery".
// Created when missing; empty when it cannot be created.
QString UserDataFolder();

// The folder for the working database: the program folder when it is a
// writable directory, else the per-user data folder (created). Never empty:
// when neither can be had, the program folder is returned and opening the
// database there will fail and be reported.
QString WorkingFolder();

// True when `folder` is an existing directory that this process may create
// files in.
bool IsWritableFolder(const QString& folder);

}  // namespace velmora
