#pragma once
// Every modal interaction of the application goes through Dialogs: the Qt
// implementation shows real dialogs; tests install ScriptedDialogs, which
// records what was shown and answers as told.

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

class QWidget;

namespace shell {

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A plain notice: OK button, no icon, the application title as caption.
    virtual void message(const QString& text) = 0;
    // A Yes/No question, no icon, the application title as caption. True for Yes.
    virtual bool askYesNo(const QString& text) = 0;
    // A warning box with one OK button and the given caption.
    virtual void warning(const QString& caption, const QString& text) = 0;
    // A text-input box with the application title as caption. Empty on cancel.
    virtual QString inputText(const QString& prompt, const QString& preset) = 0;
    // A multi-select open dialog. Returns what the platform's common dialog
    // returns in its file name: empty on cancel, the full path for one file,
    // or the folder followed by each name, separated by NUL characters.
    // Throws Failure(kErrorSelectionTooLarge) when that text would exceed
    // maxNameLength characters.
    virtual QString openFiles(const QString& title, const QString& filter, int maxNameLength) = 0;
    // A modal folder picker opening at startFolder (when it exists). Returns the
    // chosen folder's full path, or empty on cancel.
    virtual QString pickFolder(const QString& prompt, const QString& startFolder) = 0;
    // Opens a folder in the desktop's file manager.
    virtual void openFolder(const QString& path) = 0;
};

// The real dialogs, owned by `owner` (may be null).
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner) : m_owner(owner) {}

    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void warning(const QString& caption, const QString& text) override;
    QString inputText(const QString& prompt, const QString& preset) override;
    QString openFiles(const QString& title, const QString& filter, int maxNameLength) override;
    QString pickFolder(const QString& prompt, const QString& startFolder) override;
    void openFolder(const QString& path) override;

private:
    QWidget* m_owner;
};

// Records every interaction and answers from queues filled by the test. An
// empty queue answers No / cancel.
class ScriptedDialogs final : public Dialogs {
public:
    struct Shown {
        QString kind;  // "message", "question", "warning", "input", "open", "folder", "open-folder"
        QString caption;  // for warnings
        QString text;     // the message, prompt or path
        QString detail;   // preset, filter or start folder
    };

    std::vector<Shown> shown;
    std::deque<bool> yesNoAnswers;
    std::deque<QString> inputAnswers;
    std::deque<QString> openAnswers;  // raw common-dialog file name texts
    std::deque<QString> folderAnswers;
    bool openFailsTooLarge = false;

    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void warning(const QString& caption, const QString& text) override;
    QString inputText(const QString& prompt, const QString& preset) override;
    QString openFiles(const QString& title, const QString& filter, int maxNameLength) override;
    QString pickFolder(const QString& prompt, const QString& startFolder) override;
    void openFolder(const QString& path) override;

    // The shown entries of one kind.
    std::vector<Shown> of(const QString& kind) const;
};

}  // namespace shell
