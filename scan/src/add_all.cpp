#include "scan/add_all.h"

#include "scan/add_folder.h"

#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/failure_report.h>
#include <shell/paths.h>
#include <shell/settings.h>

namespace scan {

AddAllCommand::AddAllCommand(shell::Dialogs& dialogs, shell::WindowPointer& pointer,
                             AppendItem append)
    : m_dialogs(dialogs), m_pointer(pointer), m_append(std::move(append)) {}

void AddAllCommand::run() {
    shell::StepRunner runner(m_dialogs, QString::fromLatin1(shell::location::kAddAll));
    const QLatin1Char separator('/');

    QString answer;
    runner.step(100, [&] {
        const QString preset = shell::ReadSetting(shell::Setting::Extension);
        answer = m_dialogs.inputText(QString::fromLatin1(kExtensionPrompt), preset);
        if (!answer.isEmpty()) {
            shell::WriteSetting(shell::Setting::Extension, answer);
        }
    });
    if (runner.test(102, [&] { return answer.isEmpty(); })) {
        return;
    }

    QString folder;
    QString remembered;
    runner.step(104, [&] {
        remembered = shell::ReadSetting(shell::Setting::LastFolder);
        folder = BrowseFolder(m_dialogs, QString::fromLatin1(kFolderPrompt), remembered);
    });
    if (runner.test(106, [&] { return folder.isEmpty(); })) {
        return;
    }
    runner.step(333, [&] { remembered = folder; });
    runner.step(334, [&] { shell::WriteSetting(shell::Setting::LastFolder, remembered); });

    runner.step(112, [&] { m_pointer.set(shell::WindowPointer::kHourglass); });
    QStringList folders;
    runner.step(114, [&] { folders = QStringList{folder + separator}; });
    runner.step(116, [&] { GetSubDirectories2016(folders, true, m_dialogs); });

    // The pattern is "*." and the answer exactly as typed: "*" gives "*.*".
    const QString pattern = QStringLiteral("*.") + answer;
    // [118]..[134] The adding pumps no events: nothing else runs until the
    // last item is in.
    for (QString current : folders) {
        runner.step(120, [&] { current.chop(1); });
        FileNameArray names;
        runner.step(122, [&] { names = GetFilesInFolder(current, pattern); });
        for (int index = 1; index <= names.upperBound(); ++index) {
            const QString name = names.at(index);
            if (runner.test(126, [&] { return name.startsWith(QLatin1Char('~')); })) {
                continue;
            }
            QString path;
            runner.step(128, [&] { path = current + separator + name; });
            if (runner.test(130, [&] { return IsListableFile(path); })) {
                runner.step(132, [&] { m_append(shell::NormalizePath(path)); });
            }
        }
    }
    runner.step(136, [&] { m_pointer.set(shell::WindowPointer::kDefault); });
}

}  // namespace scan
