#pragma once
// "Start Converting": converts every listed message, one after the other, by
// running the converter once per file, and says how it went.

#include "convert/result_paths.h"
#include "convert/run_and_wait.h"

#include <QString>

#include <vector>

class QAbstractButton;
class QComboBox;
class QLineEdit;

namespace joblist {
class FileListView;
}
namespace shell {
class Dialogs;
class ProgressBar;
class WindowPointer;
}  // namespace shell

namespace convert {

class ToolSource;

// What happened to one listed file.
struct FileOutcome {
    QString source;
    QString resultPath;
    int status = 0;
    QString reason;  // empty when the file was converted
    bool converted() const { return reason.isEmpty(); }
};

// The message that ends a run: "Done." alone when every file was converted;
// otherwise "Done.", two CRs, "N of M file(s) could not be converted:" and one
// line per failed file with its name and the reason.
QString DoneMessage(const std::vector<FileOutcome>& outcomes);

class ConversionRun {
public:
    struct Controls {
        joblist::FileListView* list;
        QAbstractButton* option1;
        QAbstractButton* option2;
        QLineEdit* text1;
        shell::ProgressBar* progressBar;
        shell::WindowPointer* pointer;
        shell::Dialogs* dialogs;
        // "Include message header": when checked, each converter command
        // line gets "--header". May be null (no header).
        QAbstractButton* header = nullptr;
        // "Include attachments": when checked, "--attachments". May be null.
        QAbstractButton* attachments = nullptr;
        // "Save pages as": "PDF" gives "--format pdf" and results "name.pdf",
        // "TIFF" "--format tiff" and "name.tif"; "JPEG" (or null) neither.
        QComboBox* format = nullptr;
    };

    // `tools` must outlive the run.
    ConversionRun(const Controls& controls, const ToolSource& tools,
                  RunAndWaitOptions waitOptions = {});

    // The click handler's body. A second call while a run is under way does
    // nothing.
    void start();

    bool converting() const { return m_converting; }
    // The outcomes of the last run, in list order.
    const std::vector<FileOutcome>& outcomes() const { return m_outcomes; }

private:
    FileOutcome convertOne(const QString& source, const QString& resultPath, int count);

    Controls m_controls;
    const ToolSource& m_tools;
    RunAndWaitOptions m_waitOptions;
    bool m_converting = false;
    std::vector<FileOutcome> m_outcomes;
};

}  // namespace convert
