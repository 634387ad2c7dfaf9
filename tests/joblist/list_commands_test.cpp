#include "tree.h"

#include <joblist/file_list_view.h>
#include <joblist/list_commands.h>
#include <scan/add_folder.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/paths.h>

#include <gtest/gtest.h>

using joblist::FileListView;
using testtree::Tree;

namespace {

QStringList textsOf(const FileListView& list) {
    QStringList result;
    for (int i = 1; i <= list.count(); ++i) {
        result.append(list.itemText(i));
    }
    return result;
}

QString nulJoined(const QStringList& parts) {
    return parts.join(QChar(u'\0'));
}

}  // namespace

TEST(ListContainsPath, ComparesWholeTextsExactly) {
    FileListView list;
    EXPECT_FALSE(joblist::ListContainsPath(list, QString()));
    list.appendItem(QStringLiteral("/mail/A.msg"));
    list.appendItem(QStringLiteral("/mail/b.msg"));
    EXPECT_TRUE(joblist::ListContainsPath(list, QStringLiteral("/mail/b.msg")));
    EXPECT_FALSE(joblist::ListContainsPath(list, QStringLiteral("/mail/a.msg")));
    EXPECT_FALSE(joblist::ListContainsPath(list, QStringLiteral("/mail/b.ms")));
}

// --- Add MSG File(s) ------------------------------------------------------

TEST(AddFiles, CancelAddsNothingAndShowsOnlyTheDialog) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    joblist::AddFilesCommand(list, dialogs).run();
    EXPECT_EQ(list.count(), 0);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    EXPECT_EQ(dialogs.shown[0].detail, QStringLiteral("MSG File (*.msg)"));
}

TEST(AddFiles, OneFileIsAddedExactlyAsReturned) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    dialogs.openAnswers = {QStringLiteral("/mail//odd.msg")};
    joblist::AddFilesCommand(list, dialogs).run();
    EXPECT_EQ(textsOf(list), QStringList{QStringLiteral("/mail//odd.msg")});
}

TEST(AddFiles, SeveralFilesAreFolderSeparatorNameInDialogOrder) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    dialogs.openAnswers = {
        nulJoined({QStringLiteral("/home/clerk/Mail"), QStringLiteral("c.msg"),
                   QStringLiteral("a.msg"), QStringLiteral("b.msg")}),
        nulJoined({QStringLiteral("/"), QStringLiteral("a.msg"), QStringLiteral("b.msg")})};
    joblist::AddFilesCommand(list, dialogs).run();
    joblist::AddFilesCommand(list, dialogs).run();
    EXPECT_EQ(textsOf(list), (QStringList{QStringLiteral("/home/clerk/Mail/c.msg"),
                                          QStringLiteral("/home/clerk/Mail/a.msg"),
                                          QStringLiteral("/home/clerk/Mail/b.msg"),
                                          QStringLiteral("/a.msg"), QStringLiteral("/b.msg")}));
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
}

TEST(AddFiles, SameFileTwiceGivesTwoItems) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    dialogs.openAnswers = {QStringLiteral("/m/a.msg"), QStringLiteral("/m/a.msg")};
    joblist::AddFilesCommand(list, dialogs).run();
    joblist::AddFilesCommand(list, dialogs).run();
    EXPECT_EQ(textsOf(list), QStringList(2, QStringLiteral("/m/a.msg")));
}

TEST(AddFiles, SelectionTooLargeShowsTheNoticeAndAddsNothing) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    QStringList parts{QStringLiteral("/m")};
    while (nulJoined(parts).size() <= joblist::kAddFilesMaxNameLength) {
        parts.append(QString(200, QLatin1Char('n')) + QStringLiteral(".msg"));
    }
    dialogs.openAnswers = {nulJoined(parts)};
    joblist::AddFilesCommand(list, dialogs).run();
    EXPECT_EQ(list.count(), 0);
    const auto messages = dialogs.of(QStringLiteral("message"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                             "the \"Add All\" button."));
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
}

// --- Clear List -----------------------------------------------------------

TEST(ClearList, EmptiesTheListUnlessBusy) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    shell::WindowPointer pointer(nullptr);
    list.appendItem(QStringLiteral("a"));
    list.appendItem(QStringLiteral("b"));
    pointer.set(shell::WindowPointer::kHourglass);
    joblist::ClearListCommand(list, pointer, dialogs).run();
    EXPECT_EQ(list.count(), 2);
    pointer.set(shell::WindowPointer::kDefault);
    joblist::ClearListCommand(list, pointer, dialogs).run();
    EXPECT_EQ(list.count(), 0);
    joblist::ClearListCommand(list, pointer, dialogs).run();
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

// --- Load Sample/Example Files --------------------------------------------

namespace {

class Samples : public ::testing::Test {
protected:
    void SetUp() override { shell::SetApplicationFolder(app.root()); }
    void TearDown() override { shell::SetApplicationFolder(QString()); }

    void addSamples() {
        app.folder(QByteArray("Samples"));
        for (const char* name : {"one.msg", "two.msg", "three.txt"}) {
            app.file(QByteArray("Samples/") + name);
        }
    }
    QStringList samplePaths() const {
        const QString folder = app.path(QStringLiteral("Samples"));
        const scan::FileNameArray names = scan::GetFilesInFolder(folder, QStringLiteral("*.*"));
        QStringList result;
        for (int i = 1; i <= names.upperBound(); ++i) {
            result.append(folder + QLatin1Char('/') + names.at(i));
        }
        return result;
    }
    void press() { joblist::LoadSamplesCommand(list, dialogs).run(); }

    Tree app;
    FileListView list;
    shell::ScriptedDialogs dialogs;
};

}  // namespace

TEST_F(Samples, AppendsEverySampleInListingOrderAndAsks) {
    addSamples();
    press();
    EXPECT_EQ(textsOf(list), samplePaths());
    EXPECT_EQ(list.count(), 3);
    const auto questions = dialogs.of(QStringLiteral("question"));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].text,
              QStringLiteral("Would you like this software to open the folder where these sample "
                             "files are stored (so that you can view them before working with "
                             "them)?"));
    EXPECT_TRUE(dialogs.of(QStringLiteral("open-folder")).empty());
}

TEST_F(Samples, SecondPressAddsNothingButAsksAgain) {
    addSamples();
    press();
    press();
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(dialogs.of(QStringLiteral("question")).size(), 2u);
}

TEST_F(Samples, RemovedSampleComesBackAtTheEnd) {
    addSamples();
    press();
    const QString first = list.itemText(1);
    list.setCurrentItem(list.topLevelItem(0));
    list.removeSelectedItem();
    press();
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.itemText(3), first);
}

TEST_F(Samples, ComparisonWithListedPathsIsExact) {
    addSamples();
    const QString upper = app.path(QStringLiteral("SAMPLES/one.msg"));
    list.appendItem(upper);
    press();
    EXPECT_EQ(list.count(), 4);
}

TEST_F(Samples, YesOpensTheSampleFolderEvenWhenMissing) {
    dialogs.yesNoAnswers = {true};
    press();
    EXPECT_EQ(list.count(), 0);
    const auto opened = dialogs.of(QStringLiteral("open-folder"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].text, app.path(QStringLiteral("Samples/")));
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
}
