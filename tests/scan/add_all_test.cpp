#include "tree.h"

#include <scan/add_all.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/settings.h>

#include <set>

using testtree::Tree;

namespace {

class AddAll : public ::testing::Test {
protected:
    void SetUp() override { shell::UseSettingsFile(settings.filePath(QStringLiteral("s.ini"))); }
    void TearDown() override { shell::UseSettingsFile(QString()); }

    // One run with an extension answer and a folder answer (empty cancels).
    void run(const QString& answer, const QString& folder) {
        dialogs.inputAnswers.push_back(answer);
        dialogs.folderAnswers.push_back(folder);
        scan::AddAllCommand(dialogs, pointer, [this](const QString& path) {
            listed.append(path);
            busyWhileAdding = busyWhileAdding && pointer.busy();
        }).run();
    }
    QString setting(const char* key) {
        return shell::ReadSetting(QString::fromLatin1(key), QStringLiteral("<unset>"));
    }
    std::set<QString> listedSet() const { return {listed.begin(), listed.end()}; }

    QTemporaryDir settings;
    shell::ScriptedDialogs dialogs;
    shell::WindowPointer pointer{nullptr};
    QStringList listed;
    bool busyWhileAdding = true;
};

}  // namespace

TEST_F(AddAll, CancelsKeepSettingsAsTheyShould) {
    run(QString(), QString());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt "
                             "files, doc for all doc files, etc.)"));
    EXPECT_EQ(dialogs.shown[0].detail, QStringLiteral("msg"));
    EXPECT_EQ(setting(shell::key::kExtension), QStringLiteral("<unset>"));

    // Cancelling the folder picker still keeps the typed extension.
    run(QStringLiteral("txt"), QString());
    EXPECT_EQ(setting(shell::key::kExtension), QStringLiteral("txt"));
    EXPECT_EQ(setting(shell::key::kLastFolder), QStringLiteral("<unset>"));
    run(QString(), QString());
    EXPECT_EQ(dialogs.of(QStringLiteral("input")).back().detail, QStringLiteral("txt"));
    EXPECT_TRUE(listed.isEmpty());
    EXPECT_FALSE(pointer.busy());
}

TEST_F(AddAll, AddsTheTreeFolderByFolderWithTheSkips) {
    Tree t;
    t.folder("sub");
    t.folder("sub/deep");
    t.file("top.MSG");
    t.file("~$note.msg");
    t.file("a~b.msg");
    t.file(".archive-hidden.msg");          // exactly 34: skipped
    t.file(".read-only-hidden.msg", 0444);  // 35: listed
    t.file("sub/a.msg");
    t.file("sub/notes.txt");
    t.file("sub/deep/b.msg");
    run(QStringLiteral("msg"), t.root());
    ASSERT_EQ(listed.size(), 5);
    EXPECT_EQ(
        std::set<QString>(listed.begin(), listed.begin() + 3),
        (std::set<QString>{t.path("top.MSG"), t.path("a~b.msg"), t.path(".read-only-hidden.msg")}));
    EXPECT_EQ(listed.mid(3), (QStringList{t.path("sub/a.msg"), t.path("sub/deep/b.msg")}));
    EXPECT_TRUE(busyWhileAdding);
    EXPECT_FALSE(pointer.busy());
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());

    // The folder is remembered and offered next time; a second run lists
    // every file again.
    EXPECT_EQ(setting(shell::key::kLastFolder), t.root());
    run(QStringLiteral("MSG"), t.root() + QLatin1Char('/'));
    EXPECT_EQ(dialogs.of(QStringLiteral("folder")).back().detail, t.root());
    EXPECT_EQ(listed.size(), 10);
}

TEST_F(AddAll, AnswerIsUsedAsTypedAndStarTakesEveryFile) {
    Tree t;
    t.file("a.msg");
    t.file("b..msg");
    t.file("README");
    t.folder("dir.msg");
    run(QStringLiteral(".msg"), t.root());
    EXPECT_EQ(listed, QStringList{t.path("b..msg")});
    listed.clear();
    run(QStringLiteral("*"), t.root());
    EXPECT_EQ(listedSet(),
              (std::set<QString>{t.path("a.msg"), t.path("b..msg"), t.path("README")}));
}
