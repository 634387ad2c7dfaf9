#include "convert/conversion_run.h"

#include "convert/deployment.h"

#include <joblist/file_list_view.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/failure.h>
#include <shell/failure_report.h>
#include <shell/paths.h>
#include <shell/progress_bar.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>

#include <sys/stat.h>

#include <array>
#include <cstdint>

namespace convert {

namespace {

QString firstLine(const QByteArray& text) {
    const QString all = QString::fromUtf8(text).trimmed();
    const qsizetype end = all.indexOf(QLatin1Char('\n'));
    return (end < 0 ? all : all.left(end)).trimmed();
}

// What a result path's image files are before the converter runs, so that
// afterwards a written image is told from one left by an earlier run. The
// file's identity and modification time are compared, not a clock: file
// times come from the kernel's coarse clock, which may lag the one a start
// time is read from, and the converter renames a new file into place.
struct FileState {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileState&) const = default;
};

FileState stateOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    return {true, info.st_dev, info.st_ino, info.st_size,
            std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec};
}

using ImageStates = std::array<FileState, 2>;

// The result path itself and the first page's name.
ImageStates imageStates(const QString& resultPath) {
    return {stateOf(resultPath), stateOf(PageImagePath(resultPath, 1))};
}

// True when an image of the result path is there and not the one (if any)
// that was there before the converter ran.
bool imageWritten(const ImageStates& before, const ImageStates& after) {
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i].present && after[i] != before[i]) {
            return true;
        }
    }
    return false;
}

// "JPEG", "PDF" or "TIFF" as "Save pages as" shows it.
QString chosenFormat(const QComboBox* format) {
    const QString text = format != nullptr ? format->currentText() : QString();
    return text == QStringLiteral("PDF") || text == QStringLiteral("TIFF") ? text
                                                                           : QStringLiteral("JPEG");
}

QString resultExtension(const QComboBox* format) {
    const QString chosen = chosenFormat(format);
    return chosen == QStringLiteral("PDF")    ? QStringLiteral(".pdf")
           : chosen == QStringLiteral("TIFF") ? QStringLiteral(".tif")
                                              : QStringLiteral(".jpg");
}

}  // namespace

QString DoneMessage(const std::vector<FileOutcome>& outcomes) {
    QString message = QStringLiteral("Done.");
    qsizetype failed = 0;
    for (const auto& outcome : outcomes) {
        failed += outcome.converted() ? 0 : 1;
    }
    if (failed == 0) {
        return message;
    }
    message += QStringLiteral("\r\r%1 of %2 file(s) could not be converted:")
                   .arg(failed)
                   .arg(outcomes.size());
    for (const auto& outcome : outcomes) {
        if (!outcome.converted()) {
            message += QLatin1Char('\r') + shell::FileNameOf(outcome.source) +
                       QStringLiteral(": ") + outcome.reason;
        }
    }
    return message;
}

ConversionRun::ConversionRun(const Controls& controls, const ToolSource& tools,
                             RunAndWaitOptions waitOptions)
    : m_controls(controls), m_tools(tools), m_waitOptions(waitOptions) {}

FileOutcome ConversionRun::convertOne(const QString& source, const QString& resultPath, int count) {
    FileOutcome outcome{source, resultPath, 0, {}};
    if (resultPath.isEmpty()) {
        outcome.reason = QStringLiteral("no result path");
        return outcome;
    }
    const QString temp = TempFolder();
    CommandLine command{temp + QLatin1Char('/') + QString::fromLatin1(kToolFileName),
                        {source, resultPath}};
    if (m_controls.header != nullptr && m_controls.header->isChecked()) {
        command.arguments << QStringLiteral("--header");
    }
    if (m_controls.attachments != nullptr && m_controls.attachments->isChecked()) {
        command.arguments << QStringLiteral("--attachments");
    }
    if (const QString format = chosenFormat(m_controls.format); format != QStringLiteral("JPEG")) {
        command.arguments << QStringLiteral("--format") << format.toLower();
    }
    const ImageStates before = imageStates(resultPath);
    QByteArray errors;
    RunAndWaitOptions options = m_waitOptions;
    options.standardError = &errors;
    auto* bar = m_controls.progressBar;
    outcome.status = RunAndWait(command, 0, bar, bar->text(), bar->value(), count, options);
    if (outcome.status < 0 && outcome.status != -1) {
        outcome.reason = QStringLiteral("the converter could not be started");
    } else if (outcome.status != 0) {
        outcome.reason = firstLine(errors);
        if (outcome.reason.isEmpty()) {
            outcome.reason =
                outcome.status == -1
                    ? QStringLiteral("the converter crashed")
                    : QStringLiteral("the converter ended with status %1").arg(outcome.status);
        }
    } else if (!imageWritten(before, imageStates(resultPath))) {
        outcome.reason = QStringLiteral("no image was written");
    }
    return outcome;
}

void ConversionRun::start() {
    shell::StepRunner runner(*m_controls.dialogs,
                             QString::fromLatin1(shell::location::kStartConverting));
    auto* list = m_controls.list;
    auto* bar = m_controls.progressBar;
    auto* pointer = m_controls.pointer;
    auto* dialogs = m_controls.dialogs;

    if (runner.test(100, [&] { return m_converting; })) {
        return;
    }
    runner.step(102, [&] { m_converting = true; });

    bool refused = false;
    if (runner.test(104, [&] { return list->count() == 0; })) {
        runner.step(160, [&] { dialogs->message(QStringLiteral("No files added.")); });
        refused = true;
    } else if (!runner.test(106, [&] {
                   return shell::IsFolder(m_controls.text1->text()).value_or(false) ||
                          m_controls.option2->isChecked();
               })) {
        runner.step(158, [&] {
            dialogs->message(
                QStringLiteral("Folder does not exist. Please select another folder."));
        });
        refused = true;
    }

    if (!refused) {
        runner.step(108, [&] { pointer->set(shell::WindowPointer::kHourglass); });
        QByteArray converterBytes;
        QByteArray rendererBytes;
        runner.step(110, [&] { converterBytes = m_tools.converter(); });
        runner.step(112, [&] {
            DeployFile(converterBytes,
                       TempFolder() + QLatin1Char('/') + QString::fromLatin1(kToolFileName), true);
        });
        runner.step(114, [&] { rendererBytes = m_tools.renderer(); });
        runner.step(116, [&] {
            DeployFile(rendererBytes,
                       TempFolder() + QLatin1Char('/') + QString::fromLatin1(kRendererFileName),
                       false);
        });

        m_outcomes.clear();
        ResultPathClaims claims;
        const QString extension = resultExtension(m_controls.format);
        int n = 0;
        runner.step(118, [&] { n = list->count(); });
        for (int i = 1; i <= n; ++i) {
            QString source;
            QString resultPath;
            runner.step(120, [&] { source = list->itemText(i); });
            runner.step(122, [&] {
                bar->setValue(RoundHalfEven(static_cast<double>(i) / list->count() * 100.0));
            });
            runner.step(124, [&] {
                bar->setText(QStringLiteral("Processing: ") + shell::FileNameOf(source));
            });
            runner.step(126, [&] { shell::PumpEvents(); });
            runner.step(128, [&] { pointer->set(shell::WindowPointer::kHourglass); });
            // The options are read anew for each file. When neither reads as
            // chosen, the image goes beside its source.
            if (runner.test(130, [&] { return m_controls.option1->isChecked(); })) {
                runner.step(132, [&] {
                    resultPath = ResultPath(source, true, m_controls.text1->text(),
                                            shell::kNativeStyle, extension);
                });
            } else {
                runner.step(136, [&] {
                    resultPath =
                        ResultPath(source, false, QString(), shell::kNativeStyle, extension);
                });
            }
            runner.step(138, [&] { resultPath = claims.claim(source, resultPath); });
            runner.step(
                142, [&] { m_outcomes.push_back(convertOne(source, resultPath, list->count())); });
        }

        runner.step(146, [&] {
            shell::DeleteFileQuietly(TempFolder() + QLatin1Char('/') +
                                     QString::fromLatin1(kToolFileName));
        });
        runner.step(148, [&] {
            shell::DeleteFileQuietly(TempFolder() + QLatin1Char('/') +
                                     QString::fromLatin1(kRendererFileName));
        });
        runner.step(150, [&] { pointer->set(shell::WindowPointer::kDefault); });
        runner.step(152, [&] { bar->setValue(0); });
        runner.step(154, [&] { bar->setText(QStringLiteral("Progress Bar")); });
        runner.step(156, [&] { dialogs->message(DoneMessage(m_outcomes)); });
    }
    runner.step(162, [&] { m_converting = false; });
}

}  // namespace convert
