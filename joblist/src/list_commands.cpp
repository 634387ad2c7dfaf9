#include "joblist/list_commands.h"

#include "joblist/file_list_view.h"

#include <scan/add_folder.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/failure_report.h>
#include <shell/paths.h>

namespace joblist {

namespace {

constexpr QLatin1Char kSeparator('/');

}  // namespace

bool ListContainsPath(const FileListView& list, const QString& text) {
    const int count = list.count();
    for (int index = 1; index <= count; ++index) {
        if (list.itemText(index) == text) {
            return true;
        }
    }
    return false;
}

void AddFilesCommand::run() {
    shell::StepRunner runner(m_dialogs, QString::fromLatin1(shell::location::kAddFiles));
    // A selection too large for the dialog's buffer is turned away with a
    // pointer to Add All, and the command ends.
    runner.setInterceptor([this](const shell::Failure& failure) {
        if (failure.number() != shell::kErrorSelectionTooLarge) {
            return false;
        }
        m_dialogs.message(QString::fromLatin1(kTooManyFiles));
        return true;
    });
    QString fileName;
    runner.step(100, [&] {
        fileName = m_dialogs.openFiles(QString::fromLatin1(kAddFilesTitle),
                                       QString::fromLatin1(kAddFilesFilter) + QStringLiteral(";;") +
                                           QString::fromLatin1(kAddMailFilter),
                                       kAddFilesMaxNameLength);
    });
    if (runner.ended() || runner.test(102, [&] { return fileName.isEmpty(); })) {
        return;
    }
    QStringList parts;
    runner.step(104, [&] { parts = fileName.split(QChar(u'\0')); });
    if (runner.test(106, [&] { return parts.size() == 1; })) {
        runner.step(108, [&] { m_list.appendItem(parts.value(0)); });
        return;
    }
    for (qsizetype k = 1; k < parts.size(); ++k) {
        runner.step(110, [&] {
            m_list.appendItem(shell::NormalizePath(parts.at(0) + kSeparator + parts.at(k)));
        });
    }
}

void ClearListCommand::run() {
    shell::StepRunner runner(m_dialogs, QString::fromLatin1(shell::location::kClearList));
    if (runner.test(100, [&] { return m_pointer.busy(); })) {
        return;
    }
    runner.step(102, [&] { m_list.clear(); });
}

void LoadSampleFiles(FileListView& list, shell::Dialogs& dialogs) {
    const QString folder = shell::ApplicationFolder() + QStringLiteral("/Samples");
    const scan::FileNameArray names = scan::GetFilesInFolder(folder, QStringLiteral("*.*"));
    for (int index = 1; index <= names.upperBound(); ++index) {
        const QString path = folder + kSeparator + names.at(index);
        if (shell::FileExists(path) && !ListContainsPath(list, path)) {
            list.appendItem(path);
        }
    }
    if (dialogs.askYesNo(QString::fromLatin1(kOpenSamplesQuestion))) {
        dialogs.openFolder(folder + kSeparator);
    }
}

void LoadSamplesCommand::run() {
    shell::StepRunner runner(m_dialogs, QString::fromLatin1(shell::location::kLoadSamples));
    runner.step(100, [&] { LoadSampleFiles(m_list, m_dialogs); });
}

void AddDroppedPaths(FileListView& list, const QStringList& paths, shell::Dialogs& dialogs) {
    for (const QString& dropped : paths) {
        const std::optional<bool> folder = shell::IsFolder(dropped);
        if (!folder) {
            // Vanished between the drag and the drop (or cannot be examined).
            continue;
        }
        if (!*folder) {
            list.appendItem(dropped);
            continue;
        }
        QStringList folders{dropped + kSeparator};
        scan::GetSubDirectories2016(folders, true, dialogs);
        for (QString current : folders) {
            current.chop(1);
            const scan::FileNameArray names =
                scan::GetFilesInFolder(current, QStringLiteral("*.*"));
            for (int index = 1; index <= names.upperBound(); ++index) {
                const QString name = names.at(index);
                if (name.startsWith(QLatin1Char('~'))) {
                    continue;
                }
                const QString path = current + kSeparator + name;
                if (scan::IsListableFile(path)) {
                    list.appendItem(shell::NormalizePath(path));
                }
            }
        }
    }
}

}  // namespace joblist
