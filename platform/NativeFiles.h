// File system questions asked with a path's exact bytes.
//
// A path the program holds may carry bytes that are not UTF-8, kept as the
// lone surrogates of PathFromNative (platform/Text.h). Qt's own file classes
// encode a QString as UTF-8 and would name another file (or none), so every
// test, creation and open of a path that may hold such bytes goes through
// here, with NativePath's bytes.
//
// Qt's file dialogs, and its file URLs, decode names lossily: each invalid
// byte becomes U+FFFD. ResolveLossyPath finds the real names again from the
// folder entries, and PathFromFileUrl reads a file URL's bytes itself.
#pragma once

#include <QFile>
#include <QString>
#include <QUrl>

namespace velmora {

// Whether `path` names a regular file, or a directory (links followed).
bool IsNativeFile(const QString& path);
bool IsNativeFolder(const QString& path);

// Whether `path` names anything (links followed: a dangling link does not count).
bool NativePathExists(const QString& path);

// Whether anything bears the name, even a dangling symbolic link.
bool NativeNameTaken(const QString& path);

// `path` made absolute (a relative path counts from the working folder, whose
// bytes are kept) and cleaned of "." and ".." parts and doubled slashes.
QString NativeAbsolutePath(const QString& path);

// Whether `a` and `b` name the same file: the same device and inode when both
// exist, else the same absolute path.
bool SameNativeFile(const QString& a, const QString& b);

// Creates `folder` and every missing folder above it (mode 0777 less the
// umask). True when `folder` is a directory afterwards.
bool MakeNativeFolders(const QString& folder);

// Opens `path` with open(2) and `flags` (O_CLOEXEC is added; a created file
// gets mode 0644 less the umask) and hands the descriptor to `file`, which
// closes it. False with `*error` set to the system's reason otherwise.
bool OpenNativeFile(QFile& file, const QString& path, int flags, QIODevice::OpenMode mode,
                    QString* error = nullptr);

// A path that does not exist as given may be a lossy decoding of a real one.
// Each level that does not exist is looked up among the entries of the folder
// above: when exactly one entry decodes (as Qt decodes names) to the text
// given, its exact bytes take the level's place. Levels that exist, and a last
// level that matches no entry (a file about to be created), stay as given; so
// does the whole path when a level cannot be resolved.
QString ResolveLossyPath(const QString& path);

// The local path of a file URL with its exact bytes (the percent-encoded
// bytes of the URL's path, decoded with PathFromNative); empty for a URL that
// is not a local file. QUrl::toLocalFile would turn bytes that are not UTF-8
// into U+FFFD.
QString PathFromFileUrl(const QUrl& url);

}  // namespace velmora
