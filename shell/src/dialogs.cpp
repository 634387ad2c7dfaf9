#include "shell/dialogs.h"

#include "shell/application.h"
#include "shell/failure.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace shell {

namespace {

// The application's texts use CR (and CR LF) as line breaks; Qt's labels
// break lines at LF.
QString forDisplay(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

}  // namespace

void QtDialogs::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), forDisplay(text), QMessageBox::Ok,
                    m_owner);
    box.exec();
}

bool QtDialogs::askYesNo(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), forDisplay(text),
                    QMessageBox::Yes | QMessageBox::No, m_owner);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::warning(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, forDisplay(text), QMessageBox::Ok, m_owner);
    box.exec();
}

QString QtDialogs::inputText(const QString& prompt, const QString& preset) {
    bool ok = false;
    const QString answer = QInputDialog::getText(m_owner, ApplicationTitle(), forDisplay(prompt),
                                                 QLineEdit::Normal, preset, &ok);
    return ok ? answer : QString();
}

QString QtDialogs::openFiles(const QString& title, const QString& filter, int maxNameLength) {
    const QStringList chosen = QFileDialog::getOpenFileNames(m_owner, title, QString(), filter);
    if (chosen.isEmpty()) {
        return {};
    }
    if (chosen.size() == 1) {
        return chosen.front();
    }
    // Several files: the folder, then each name, NUL-separated.
    QString result = QFileInfo(chosen.front()).absolutePath();
    for (const QString& path : chosen) {
        result += QChar(u'\0') + QFileInfo(path).fileName();
    }
    if (result.size() > maxNameLength) {
        throw Failure(QStringLiteral("The selection is larger than the file name buffer"),
                      kErrorSelectionTooLarge);
    }
    return result;
}

QString QtDialogs::pickFolder(const QString& prompt, const QString& startFolder) {
    const QString start = QFileInfo(startFolder).isDir() ? startFolder : QString();
    const QString chosen = QFileDialog::getExistingDirectory(
        m_owner, prompt, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty()) {
        return {};
    }
    return QDir::toNativeSeparators(QDir::cleanPath(chosen));
}

void QtDialogs::openFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ScriptedDialogs::message(const QString& text) {
    shown.push_back({QStringLiteral("message"), ApplicationTitle(), text, {}});
}

bool ScriptedDialogs::askYesNo(const QString& text) {
    shown.push_back({QStringLiteral("question"), ApplicationTitle(), text, {}});
    if (yesNoAnswers.empty()) {
        return false;
    }
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

void ScriptedDialogs::warning(const QString& caption, const QString& text) {
    shown.push_back({QStringLiteral("warning"), caption, text, {}});
}

QString ScriptedDialogs::inputText(const QString& prompt, const QString& preset) {
    shown.push_back({QStringLiteral("input"), ApplicationTitle(), prompt, preset});
    if (inputAnswers.empty()) {
        return {};
    }
    QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer;
}

QString ScriptedDialogs::openFiles(const QString& title, const QString& filter, int maxNameLength) {
    shown.push_back({QStringLiteral("open"), title, title, filter});
    if (openFailsTooLarge) {
        throw Failure(QStringLiteral("The selection is larger than the file name buffer"),
                      kErrorSelectionTooLarge);
    }
    if (openAnswers.empty()) {
        return {};
    }
    QString answer = openAnswers.front();
    openAnswers.pop_front();
    if (answer.size() > maxNameLength) {
        throw Failure(QStringLiteral("The selection is larger than the file name buffer"),
                      kErrorSelectionTooLarge);
    }
    return answer;
}

QString ScriptedDialogs::pickFolder(const QString& prompt, const QString& startFolder) {
    shown.push_back({QStringLiteral("folder"), {}, prompt, startFolder});
    if (folderAnswers.empty()) {
        return {};
    }
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

void ScriptedDialogs::openFolder(const QString& path) {
    shown.push_back({QStringLiteral("open-folder"), {}, path, {}});
}

std::vector<ScriptedDialogs::Shown> ScriptedDialogs::of(const QString& kind) const {
    std::vector<Shown> result;
    for (const auto& s : shown) {
        if (s.kind == kind) {
            result.push_back(s);
        }
    }
    return result;
}

}  // namespace shell
