#include <convert/output_options.h>
#include <shell/dialogs.h>
#include <shell/settings.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qt_print.h>

namespace {

class BrowseOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        shell::UseSettingsFile(m_settings.filePath(QStringLiteral("Orvaline.conf")));
        m_text1.setText(QStringLiteral("/before/"));
    }
    void TearDown() override { shell::UseSettingsFile({}); }

    QTemporaryDir m_settings;
    QGroupBox m_frame1, m_frame4;
    QRadioButton m_option1{&m_frame1}, m_option2{&m_frame1};
    QLineEdit m_text1{&m_frame4};
    convert::OutputOptions m_options{&m_option1, &m_option2, &m_frame4, &m_text1};
    shell::ScriptedDialogs m_dialogs;
};

TEST_F(BrowseOutputTest, ChosenFolderGetsOneTrailingSeparatorAndIsRemembered) {
    shell::WriteSetting(QStringLiteral("LastFolderDot"), QStringLiteral("/last/pick"));
    m_dialogs.folderAnswers = {QStringLiteral("/srv/out"), QStringLiteral("/")};
    m_options.browse(m_dialogs);
    ASSERT_EQ(m_dialogs.of(QStringLiteral("folder")).size(), 1u);
    EXPECT_EQ(m_dialogs.shown[0].text, QStringLiteral("Please select folder:"));
    EXPECT_EQ(m_dialogs.shown[0].detail, QStringLiteral("/last/pick"));
    EXPECT_EQ(m_text1.text(), QStringLiteral("/srv/out/"));
    EXPECT_EQ(shell::ReadSetting(QStringLiteral("LastFolderDot"), QString()),
              QStringLiteral("/srv/out"));

    m_options.browse(m_dialogs);  // the root keeps its one separator
    EXPECT_EQ(m_dialogs.shown[1].detail, QStringLiteral("/srv/out"));
    EXPECT_EQ(m_text1.text(), QStringLiteral("/"));
}

TEST_F(BrowseOutputTest, CancelChangesNothing) {
    m_options.browse(m_dialogs);
    EXPECT_EQ(m_text1.text(), QStringLiteral("/before/"));
    EXPECT_EQ(shell::ReadSetting(QStringLiteral("LastFolderDot"), QStringLiteral("unset")),
              QStringLiteral("unset"));
    EXPECT_TRUE(m_dialogs.of(QStringLiteral("warning")).empty());
}

}  // namespace
