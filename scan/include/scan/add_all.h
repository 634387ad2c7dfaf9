#pragma once
// The "Add All MSG File(s) In Folder" command: asks for an extension and a
// folder, walks the folder tree and appends every matching file to the list.

#include <QString>

#include <functional>

namespace shell {
class Dialogs;
class WindowPointer;
}  // namespace shell

namespace scan {

inline constexpr const char* kExtensionPrompt =
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc "
    "files, etc.)";
inline constexpr const char* kFolderPrompt = "Please select folder:";

class AddAllCommand {
public:
    // Appends one item with the given text at the end of the file list.
    using AppendItem = std::function<void(const QString&)>;

    // `dialogs` shows the prompt, the folder picker and failure reports;
    // `pointer` is the window's pointer (the hourglass shows while the tree is
    // walked and the list filled). Both must outlive the command.
    AddAllCommand(shell::Dialogs& dialogs, shell::WindowPointer& pointer, AppendItem append);

    // Runs the command under the failure policy with its own location text.
    // The `Extension` and `LastFolder` settings are read and written as the
    // user answers. Every file of the chosen tree whose name matches "*." +
    // the answer (letter case ignored) is appended, folder by folder in
    // breadth-first order, except names beginning with "~", files that cannot
    // be opened and files whose attributes are exactly archive + hidden.
    void run();

private:
    shell::Dialogs& m_dialogs;
    shell::WindowPointer& m_pointer;
    AppendItem m_append;
};

}  // namespace scan
