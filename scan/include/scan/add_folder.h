#pragma once
// AddFolder: turning a chosen folder into the files to convert.
//
// Everything here reads the file system, which is hostile input: names may
// hold any bytes, trees may loop through symbolic links, folders may vanish or
// refuse to be listed while the scan runs. None of these functions throws for
// such input; they skip what they cannot use.
//
// Linux meaning of the Windows attributes used by the callers:
//   hidden       the name begins with "."
//   archive      every regular file
//   read-only    the owner cannot write
//   system       never set
//   reparse      a symbolic link
// Paths use "/" as separator. Every folder path in a folder list ends in "/".

#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>
#include <vector>

namespace shell {
class Dialogs;
}

namespace scan {

// Attribute bits, with their Windows values.
inline constexpr int kAttrReadOnly = 1;
inline constexpr int kAttrHidden = 2;
inline constexpr int kAttrSystem = 4;
inline constexpr int kAttrDirectory = 16;
inline constexpr int kAttrArchive = 32;
inline constexpr int kAttrReparsePoint = 1024;

// A file whose attribute set is exactly this (archive + hidden) is never
// listed by a folder drop or Add All.
inline constexpr int kSkippedFileAttributes = kAttrArchive | kAttrHidden;

// Paths and names of this length or more are not descended into.
inline constexpr int kMaxPathLength = 260;

// The attribute set of `path` in the mapping above; no value when the entry
// cannot be examined (it does not exist, or a folder on its way refuses).
std::optional<int> FileAttributes(const QString& path);

// True when a folder name must be skipped: it is not valid UTF-8, or it holds
// a character below U+0020, between U+007F and U+009F, or "?". `nativeName` is
// the name's bytes as the file system holds them. An empty name gives false.
bool HasUnsafeNameChars(std::string_view nativeName);

// True when `path` is an existing regular file (symbolic links followed) that
// the running user may open for reading, by the kernel's own permission check
// (the one open() makes). Folders, devices, pipes and sockets give false.
// Never opens the file, so it never blocks; never throws.
bool CanOpenFile(const QString& path);

// True when `name` matches the wildcard `pattern`: "*" any run of characters,
// "?" one character, everything else itself, letter case ignored. A pattern
// ending in ".*" also matches without that ending, so "*.*" matches every
// name, names without a dot included.
bool MatchesWildcard(const QString& name, const QString& pattern);

// The names of the files of one folder, at 1-based indices 1..upperBound(),
// in the order the directory listing returns them (no sorting). When no file
// qualifies the array holds one empty entry at index 0 and upperBound() is 0.
class FileNameArray {
public:
    int upperBound() const { return static_cast<int>(m_names.size()); }
    // The entry at `index` (0..upperBound()); index 0 is the empty entry.
    // Out-of-range indices give the empty text.
    QString at(int index) const;
    // Room held for names: 100 to start, 50 more whenever full, cut to the
    // count at the end.
    std::size_t capacity() const { return m_capacity; }

private:
    friend FileNameArray GetFilesInFolder(QString folder, const QString& pattern);
    void add(QString name);
    void cut();

    std::vector<QString> m_names;
    std::size_t m_capacity = 0;
};

// The files of `folder` (with or without a trailing "/") whose names match
// `pattern` and that CanOpenFile accepts, hidden files included, folders
// (also symbolic links to folders) never. Names that are not valid UTF-8 are
// left out: no path text can name them. A folder that cannot be listed gives
// the empty array.
FileNameArray GetFilesInFolder(QString folder, const QString& pattern);

// True when `path` names a folder that may be descended into: it is a folder,
// and its attribute set is neither exactly 22 nor exactly 1046 unless it is
// the root folder.
bool IsQualifyingFolder(const QString& path);

// Extends `folderList` in place, breadth-first: on return it holds its former
// entries (less those whose sub-folders could not be listed because
// permission was denied or the path was not found), then their qualifying
// sub-folders, level by level (with `recurse` false only the direct level).
// Each appended entry is parent + name + "/".
//
// Skipped and not descended into: entries that are not folders, paths of 260
// characters or more, sub-folder names that are 260 characters or more or
// that HasUnsafeNameChars rejects, and sub-folders that are symbolic links
// (so link loops end). Entries passed in are descended into even when they
// are symbolic links: the user named them.
//
// Pending window events are pumped while the walk runs, so other handlers may
// run in the middle of it. Unexpected failures are reported through
// `dialogs` with the scan's own location text and the walk goes on.
void GetSubDirectories2016(QStringList& folderList, bool recurse, shell::Dialogs& dialogs);

// The folder picker: a modal dialog through `dialogs` that opens at
// `startFolder` when it exists and offers only folders. Returns the chosen
// folder's full path without a trailing "/" (except for the root "/"), or the
// empty text when the user cancels.
QString BrowseFolder(shell::Dialogs& dialogs, const QString& prompt, const QString& startFolder);

// True when a file found in a folder walk goes into the list: CanOpenFile
// accepts it and its attribute set is not exactly kSkippedFileAttributes. A
// file that vanishes before its attributes are read is left out.
bool IsListableFile(const QString& path);

}  // namespace scan
