#pragma once
// Form1: Orvaline's one window. It owns the controls (with their fixed names),
// the window's pointer state and the dialogs; its handlers stay thin and call
// the job list, the folder scan and the conversion run.

#include <shell/application.h>

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace joblist {
class FileListView;
}
namespace shell {
class Dialogs;
class ProgressBar;
}  // namespace shell
namespace convert {
class ConversionRun;
class OutputOptions;
class ToolSource;
}  // namespace convert

namespace app {

class Form1 : public QWidget {
    Q_OBJECT
public:
    // Builds the controls at their places. `dialogs` (not owned) replaces the
    // real dialogs, for tests; null means the real ones.
    explicit Form1(shell::Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    // As above, converting with `tools` (not owned) instead of the converter
    // built into the executable.
    Form1(shell::Dialogs* dialogs, const convert::ToolSource* tools, QWidget* parent = nullptr);
    ~Form1() override;

    // The window's load: skin, pointers, caption, list column, output options.
    void Form_Load();

    // Lists the files and folders the window was started with ("orvaline
    // FILE...", as a file manager's "Open with" starts it), as if they had
    // been dropped on the list. Without any, nothing changes.
    void addStartPaths(const QStringList& paths);

    shell::WindowPointer& pointer() { return m_pointer; }
    shell::Dialogs& dialogs() { return *m_dialogs; }
    convert::ConversionRun& conversionRun() { return *m_conversionRun; }

    // What closing the window does; by default the process ends at once.
    void setCloseAction(std::function<void()> action) { m_closeAction = std::move(action); }

    // The controls, by their fixed names.
    joblist::FileListView* ListView1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* PushButton9 = nullptr;
    QRadioButton* Option2 = nullptr;
    // "Include message header", in Frame1 beside Option2; its state is the
    // setting "Header".
    QCheckBox* Check1 = nullptr;
    // "Include attachments", under Check1; its state is the setting
    // "Attachments".
    QCheckBox* Check2 = nullptr;
    // "Save pages as": JPEG, PDF or TIFF; setting "Format".
    QLabel* Label1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    shell::ProgressBar* ProgressBar1 = nullptr;

    // Window size in pixels (8040 x 6720 twips).
    static constexpr int kClientWidth = 536;
    static constexpr int kClientHeight = 468;

public slots:
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton4_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void PushButton9_Click();
    void Option1_Click();
    void Option2_Click();
    void Text1_Change();
    void Check1_Click();
    void Check2_Click();
    void Combo1_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void ApplySkin();
    void loadHandPointer();

    std::unique_ptr<shell::Dialogs> m_ownDialogs;
    shell::Dialogs* m_dialogs;
    shell::WindowPointer m_pointer;
    std::unique_ptr<convert::OutputOptions> m_outputOptions;
    std::unique_ptr<convert::ToolSource> m_ownTools;
    std::unique_ptr<convert::ConversionRun> m_conversionRun;
    std::function<void()> m_closeAction;
};

}  // namespace app
