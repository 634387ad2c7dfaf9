#include "tree.h"

#include <scan/add_all.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/settings.h>

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include <set>

using testtree::Tree;

namespace {

class AddAll : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_settingsDir.isValid());
        shell::UseSettingsFile(m_settingsDir.filePath(QStringLiteral("settings.ini")));
    }
    void TearDown() override { shell::UseSettingsFile(QString()); }

    // Runs the command with one extension answer and one folder answer
    // (empty texts cancel).
    void run(const QString& answer, const QString& folder) {
        dialogs.inputAnswers.push_back(answer);
        dialogs.folderAnswers.push_back(folder);
        scan::AddAllCommand command(dialogs, pointer, [this](const QString& path) {
            listed.append(path);
            busyWhileAdding = busyWhileAdding && pointer.busy();
        });
        command.run();
    }

    QString setting(const char* key) {
        return shell::ReadSetting(QString::fromLatin1(key), QStringLiteral("<unset>"));
    }

    QTemporaryDir m_settingsDir;
    shell::ScriptedDialogs dialogs;
    shell::WindowPointer pointer{nullptr};
    QStringList listed;
    bool busyWhileAdding = true;
};

}  // namespace

TEST_F(AddAll, PromptShowsItsTextAndTheDefaultExtension) {
    run(QString(), QString());
    const auto inputs = dialogs.of(QStringLiteral("input"));
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].text,
              QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt "
                             "files, doc for all doc files, etc.)"));
    EXPECT_EQ(inputs[0].detail, QStringLiteral("msg"));
}

TEST_F(AddAll, CancelledPromptChangesNothing) {
    run(QString(), QString());
    EXPECT_TRUE(dialogs.of(QStringLiteral("folder")).empty());
    EXPECT_EQ(setting(shell::key::kExtension), QStringLiteral("<unset>"));
    EXPECT_EQ(setting(shell::key::kLastFolder), QStringLiteral("<unset>"));
    EXPECT_TRUE(listed.isEmpty());
}

TEST_F(AddAll, CancelledFolderDialogStillSavesTheExtension) {
    run(QStringLiteral("txt"), QString());
    EXPECT_EQ(setting(shell::key::kExtension), QStringLiteral("txt"));
    EXPECT_EQ(setting(shell::key::kLastFolder), QStringLiteral("<unset>"));
    EXPECT_FALSE(pointer.busy());
    // The next prompt shows the saved answer.
    run(QString(), QString());
    EXPECT_EQ(dialogs.of(QStringLiteral("input")).back().detail, QStringLiteral("txt"));
}

TEST_F(AddAll, ChosenFolderIsRememberedAndOfferedNextTime) {
    Tree tree;
    run(QStringLiteral("msg"), tree.root() + QLatin1Char('/'));
    EXPECT_EQ(setting(shell::key::kLastFolder), tree.root());
    run(QStringLiteral("msg"), QString());
    const auto pickers = dialogs.of(QStringLiteral("folder"));
    ASSERT_EQ(pickers.size(), 2u);
    EXPECT_EQ(pickers[0].text, QStringLiteral("Please select folder:"));
    EXPECT_EQ(pickers[0].detail, QString());
    EXPECT_EQ(pickers[1].detail, tree.root());
}

TEST_F(AddAll, AddsMatchingFilesOfTheWholeTreeFolderByFolder) {
    Tree tree;
    tree.folder(QByteArray("sub"));
    tree.folder(QByteArray("sub/deep"));
    tree.file(QByteArray("top.MSG"));
    tree.file(QByteArray("sub/a.msg"));
    tree.file(QByteArray("sub/deep/b.msg"));
    tree.file(QByteArray("sub/notes.txt"));
    run(QStringLiteral("msg"), tree.root());
    EXPECT_EQ(listed, (QStringList{tree.path(QStringLiteral("top.MSG")),
                                   tree.path(QStringLiteral("sub/a.msg")),
                                   tree.path(QStringLiteral("sub/deep/b.msg"))}));
    EXPECT_TRUE(busyWhileAdding);
    EXPECT_FALSE(pointer.busy());
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
}

TEST_F(AddAll, UpperCaseAnswerMatchesLowerCaseNames) {
    Tree tree;
    tree.file(QByteArray("a.msg"));
    run(QStringLiteral("MSG"), tree.root());
    EXPECT_EQ(listed, QStringList{tree.path(QStringLiteral("a.msg"))});
}

TEST_F(AddAll, StarAddsEveryFileWhateverItsExtension) {
    Tree tree;
    tree.file(QByteArray("a.msg"));
    tree.file(QByteArray("README"));
    tree.file(QByteArray("b.txt"));
    tree.folder(QByteArray("dir.msg"));
    run(QStringLiteral("*"), tree.root());
    EXPECT_EQ(
        std::set<QString>(listed.begin(), listed.end()),
        (std::set<QString>{tree.path(QStringLiteral("a.msg")), tree.path(QStringLiteral("README")),
                           tree.path(QStringLiteral("b.txt"))}));
}

TEST_F(AddAll, SkipsTildeNamesAndArchiveHiddenFiles) {
    Tree tree;
    tree.file(QByteArray("~$note.msg"));
    tree.file(QByteArray("a~b.msg"));
    tree.file(QByteArray(".archive-hidden.msg"));          // exactly 34
    tree.file(QByteArray(".read-only-hidden.msg"), 0444);  // 35
    run(QStringLiteral("msg"), tree.root());
    EXPECT_EQ(std::set<QString>(listed.begin(), listed.end()),
              (std::set<QString>{tree.path(QStringLiteral("a~b.msg")),
                                 tree.path(QStringLiteral(".read-only-hidden.msg"))}));
}

TEST_F(AddAll, RunningTwiceListsEveryFileTwice) {
    Tree tree;
    tree.file(QByteArray("a.msg"));
    run(QStringLiteral("msg"), tree.root());
    run(QStringLiteral("msg"), tree.root());
    EXPECT_EQ(listed, QStringList(2, tree.path(QStringLiteral("a.msg"))));
}

TEST_F(AddAll, AnswerIsUsedExactlyAsTyped) {
    Tree tree;
    tree.file(QByteArray("a.msg"));
    tree.file(QByteArray("b..msg"));
    // ".msg" gives the pattern "*..msg": only names with two dots before msg.
    run(QStringLiteral(".msg"), tree.root());
    EXPECT_EQ(listed, QStringList{tree.path(QStringLiteral("b..msg"))});
    EXPECT_EQ(setting(shell::key::kExtension), QStringLiteral(".msg"));
}
