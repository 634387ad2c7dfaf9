#pragma once
// The "Save Option" frame: which folder the images go to. The two option
// buttons and the output folder text are mirrored into the settings store on
// every change and restored when the window loads.

#include <QString>

#include <optional>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace shell {
class Dialogs;
class StepRunner;
}  // namespace shell

namespace convert {

class OutputOptions {
public:
    // option1: "Save results to this folder:"; option2: "Save results in
    // folder of original file"; frame4 holds text1 and the "..." button.
    OutputOptions(QAbstractButton* option1, QAbstractButton* option2, QWidget* frame4,
                  QLineEdit* text1);

    // The window load's restore steps [136]..[146], run through `runner`.
    void restore(shell::StepRunner& runner);

    // Either option button was clicked (the group has already moved the choice).
    void optionClicked();
    // Text1 changed, typed or set by the program.
    void textChanged(const QString& text);

    // "...": picks the output folder, starting where the last pick ended.
    void browse(shell::Dialogs& dialogs);

    // Sets an option button's state; unlike a click, false is allowed even
    // for the chosen button, so that neither may be chosen.
    static void setChosen(QAbstractButton* option, bool chosen);

private:
    QAbstractButton* m_option1;
    QAbstractButton* m_option2;
    QWidget* m_frame4;
    QLineEdit* m_text1;
};

}  // namespace convert
