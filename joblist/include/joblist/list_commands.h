#pragma once
// The job list's commands: adding files by dialog, dropped paths, the sample
// files, and clearing the list. Each is a small class handed only the list
// and the services it needs; the window's button handlers create and run one.

#include <QString>
#include <QStringList>

namespace shell {
class Dialogs;
class WindowPointer;
}  // namespace shell

namespace joblist {

class FileListView;

inline constexpr const char* kAddFilesTitle = "Add File(s) - Hold Ctrl to select multiple files";
inline constexpr const char* kAddFilesFilter = "MSG File (*.msg)";
// Offered after it: Internet mail is converted as message files are.
inline constexpr const char* kAddMailFilter = "Mail messages (*.msg *.eml)";
// The open dialog's name buffer: the folder and the chosen names together.
inline constexpr int kAddFilesMaxNameLength = 30000;
inline constexpr const char* kTooManyFiles =
    "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.";
inline constexpr const char* kOpenSamplesQuestion =
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?";

// True when an item's text equals `text` exactly (letter case included).
bool ListContainsPath(const FileListView& list, const QString& text);

// "Add MSG File(s)": a multi-select open dialog; one chosen file is appended
// as returned, several as folder + "/" + name through NormalizePath. Cancel
// adds nothing; a selection too large for the dialog's name buffer shows
// kTooManyFiles and adds nothing. Other failures are reported under the
// command's location text and the command goes on.
class AddFilesCommand {
public:
    AddFilesCommand(FileListView& list, shell::Dialogs& dialogs)
        : m_list(list), m_dialogs(dialogs) {}
    void run();

private:
    FileListView& m_list;
    shell::Dialogs& m_dialogs;
};

// "Clear List": removes every item, unless the window shows the busy pointer.
class ClearListCommand {
public:
    ClearListCommand(FileListView& list, const shell::WindowPointer& pointer,
                     shell::Dialogs& dialogs)
        : m_list(list), m_pointer(pointer), m_dialogs(dialogs) {}
    void run();

private:
    FileListView& m_list;
    const shell::WindowPointer& m_pointer;
    shell::Dialogs& m_dialogs;
};

// "Load Sample/Example Files": appends every file of <application
// folder>/Samples that exists and is not yet listed, in listing order, then
// asks kOpenSamplesQuestion (every time) and on Yes opens the folder in the
// desktop's file manager. A failure is reported under the command's location
// text and ends the command; items already appended stay.
class LoadSamplesCommand {
public:
    LoadSamplesCommand(FileListView& list, shell::Dialogs& dialogs)
        : m_list(list), m_dialogs(dialogs) {}
    void run();

private:
    FileListView& m_list;
    shell::Dialogs& m_dialogs;
};

// The sample loading itself, without failure handling: failures throw.
void LoadSampleFiles(FileListView& list, shell::Dialogs& dialogs);

// Adds the paths of one drop, in order. A file is appended unchanged; a
// folder is expanded with the folder walk (every file of it and of its
// sub-folders, breadth-first, except names beginning with "~", files that
// cannot be opened and files whose attributes are exactly archive + hidden);
// a path that no longer exists is skipped. Shows no message of its own (the
// folder walk reports its own failures through `dialogs`).
void AddDroppedPaths(FileListView& list, const QStringList& paths, shell::Dialogs& dialogs);

}  // namespace joblist
