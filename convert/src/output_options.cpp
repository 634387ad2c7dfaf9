#include "convert/output_options.h"

#include <scan/add_folder.h>
#include <shell/dialogs.h>
#include <shell/failure.h>
#include <shell/failure_report.h>
#include <shell/paths.h>
#include <shell/settings.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QWidget>

#include <cstdio>

namespace convert {

OutputOptions::OutputOptions(QAbstractButton* option1, QAbstractButton* option2, QWidget* frame4,
                             QLineEdit* text1)
    : m_option1(option1), m_option2(option2), m_frame4(frame4), m_text1(text1) {}

void OutputOptions::setChosen(QAbstractButton* option, bool chosen) {
    if (option->isChecked() == chosen) {
        return;
    }
    const bool exclusive = option->autoExclusive();
    option->setAutoExclusive(false);
    option->setChecked(chosen);
    option->setAutoExclusive(exclusive);
    if (chosen && exclusive && option->parentWidget() != nullptr) {
        // Choosing one button of the group releases the others.
        for (auto* other : option->parentWidget()->findChildren<QAbstractButton*>(
                 QString(), Qt::FindDirectChildrenOnly)) {
            if (other != option && other->autoExclusive() && other->isChecked()) {
                other->setAutoExclusive(false);
                other->setChecked(false);
                other->setAutoExclusive(true);
            }
        }
    }
}

void OutputOptions::restore(shell::StepRunner& runner) {
    using shell::ReadSetting;
    using shell::Setting;
    // Text1's default (the desktop folder) is worked out even when a folder
    // is stored, so a machine without one fails at this step.
    runner.step(136, [&] { m_text1->setText(ReadSetting(Setting::Text1)); });
    runner.step(138,
                [&] { setChosen(m_option1, shell::ToBoolean(ReadSetting(Setting::Option1))); });
    runner.step(140,
                [&] { setChosen(m_option2, shell::ToBoolean(ReadSetting(Setting::Option2))); });
    if (runner.test(142, [&] { return m_option1->isChecked(); })) {
        runner.step(144, [&] { m_frame4->setEnabled(true); });
    } else {
        runner.step(146, [&] { m_frame4->setEnabled(false); });
    }
}

void OutputOptions::optionClicked() {
    // No failure report here: a store that cannot be written leaves the
    // controls as the user set them.
    try {
        shell::WriteSetting(shell::Setting::Option1, shell::BooleanText(m_option1->isChecked()));
        shell::WriteSetting(shell::Setting::Option2, shell::BooleanText(m_option2->isChecked()));
    } catch (const shell::Failure& failure) {
        std::fprintf(stderr, "orvaline: settings not saved: %s\n", failure.what());
    }
    m_frame4->setEnabled(m_option1->isChecked());
}

void OutputOptions::textChanged(const QString& text) {
    try {
        shell::WriteSetting(shell::Setting::Text1, text);
    } catch (const shell::Failure& failure) {
        std::fprintf(stderr, "orvaline: settings not saved: %s\n", failure.what());
    }
}

void OutputOptions::browse(shell::Dialogs& dialogs) {
    shell::StepRunner runner(dialogs, QString::fromLatin1(shell::location::kBrowseOutput));
    QString chosen;
    runner.step(100, [&] {
        const QString start = shell::ReadSetting(shell::Setting::LastFolderDot);
        chosen = scan::BrowseFolder(dialogs, QStringLiteral("Please select folder:"), start);
    });
    if (runner.test(102, [&] { return chosen.isEmpty(); })) {
        return;
    }
    runner.step(104, [&] { shell::WriteSetting(shell::Setting::LastFolderDot, chosen); });
    runner.step(106, [&] {
        const QChar separator = shell::Separator();
        m_text1->setText(chosen.endsWith(separator) ? chosen : chosen + separator);
    });
}

}  // namespace convert
