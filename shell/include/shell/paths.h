#pragma once
// File and path helpers shared by the window's handlers.
//
// Path texts use one separator style. Windows style ("\", with the "\\server"
// network prefix) keeps every rule of the Windows design and is tested on its
// tables; POSIX style ("/") is what the application uses here and never turns
// a leading "/" into "//". Functions without a style parameter use
// kNativeStyle.

#include <QByteArray>
#include <QString>

#include <optional>

namespace shell {

enum class PathStyle { Windows, Posix };

inline constexpr PathStyle kNativeStyle = PathStyle::Posix;

QChar Separator(PathStyle style = kNativeStyle);

// True when the entry's modification time can be read (files and folders).
bool FileExists(const QString& path);
// True for a folder, false for another entry, no answer when the entry
// cannot be examined.
std::optional<bool> IsFolder(const QString& path);
// Collapses doubled separators in one left-to-right pass. Windows style: a
// path starting with "\" starts with exactly two. POSIX style: a leading "/"
// stays single.
QString NormalizePath(const QString& path, PathStyle style = kNativeStyle);
// The text after the last separator (the whole path without one).
QString FileNameOf(const QString& path, PathStyle style = kNativeStyle);
// The text up to and including the last separator (empty without one).
QString FolderOf(const QString& path, PathStyle style = kNativeStyle);
// The name without its last extension, unless the only dot is the first
// character.
QString StripExtension(const QString& name);

// Pumps pending events; then, unless `path` exists, writes `data` to a new
// file. Throws Failure when the file cannot be written.
void WriteFileIfMissing(const QByteArray& data, const QString& path);
// Pumps pending events and deletes `path`, read-only files too; never fails.
void DeleteFileQuietly(const QString& path);
// Deletes `path` even when it is read-only. Throws Failure on failure.
void ForceDeleteFile(const QString& path);

// The path of a special folder (0: the desktop); empty when there is none.
QString GetSpecialFolderPath(int number);
// The desktop folder followed by the separator. Throws Failure (invalid
// argument) when there is no desktop folder.
QString DesktopFolder();

// Pumps pending window events (QCoreApplication::processEvents()).
void PumpEvents();

// The folder of the running executable, or the folder set for tests.
QString ApplicationFolder();
void SetApplicationFolder(const QString& folder);

}  // namespace shell
