#include "tree.h"

#include <joblist/file_list_view.h>
#include <joblist/list_commands.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/paths.h>

using joblist::FileListView;

namespace {

QStringList textsOf(const FileListView& list) {
    QStringList result;
    for (int i = 1; i <= list.count(); ++i) {
        result.append(list.itemText(i));
    }
    return result;
}

QString dialogResult(const QStringList& parts) {
    return parts.join(QChar(u'\0'));
}

}  // namespace

TEST(AddFiles, OneAsReturnedSeveralJoinedToTheirFolder) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    dialogs.openAnswers = {
        QStringLiteral("/m//odd.msg"), QString(),
        dialogResult({QStringLiteral("/m"), QStringLiteral("c.msg"), QStringLiteral("a.msg")}),
        dialogResult({QStringLiteral("/"), QStringLiteral("a.msg")})};
    for (int i = 0; i < 4; ++i) {
        joblist::AddFilesCommand(list, dialogs).run();
    }
    EXPECT_EQ(textsOf(list), (QStringList{QStringLiteral("/m//odd.msg"), QStringLiteral("/m/c.msg"),
                                          QStringLiteral("/m/a.msg"), QStringLiteral("/a.msg")}));
    EXPECT_EQ(dialogs.shown.size(), 4u);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    // The designed filter first, so it is the one chosen; mail beside it.
    EXPECT_EQ(dialogs.shown[0].detail,
              QStringLiteral("MSG File (*.msg);;Mail messages (*.msg *.eml)"));
}

TEST(AddFiles, SelectionTooLargeShowsTheNoticeAndAddsNothing) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    QStringList parts{QStringLiteral("/m")};
    while (dialogResult(parts).size() <= joblist::kAddFilesMaxNameLength) {
        parts.append(QString(200, QLatin1Char('n')));
    }
    dialogs.openAnswers = {dialogResult(parts)};
    joblist::AddFilesCommand(list, dialogs).run();
    EXPECT_EQ(list.count(), 0);
    ASSERT_EQ(dialogs.of(QStringLiteral("message")).size(), 1u);
    EXPECT_EQ(dialogs.of(QStringLiteral("message"))[0].text,
              QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                             "the \"Add All\" button."));
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
}

TEST(ClearList, EmptiesTheListUnlessBusy) {
    FileListView list;
    shell::ScriptedDialogs dialogs;
    shell::WindowPointer pointer(nullptr);
    list.appendItem(QStringLiteral("a"));
    pointer.set(shell::WindowPointer::kHourglass);
    joblist::ClearListCommand(list, pointer, dialogs).run();
    EXPECT_EQ(list.count(), 1);
    pointer.set(shell::WindowPointer::kDefault);
    joblist::ClearListCommand(list, pointer, dialogs).run();
    EXPECT_EQ(list.count(), 0);
}

TEST(Samples, AppendsWhatIsNotListedAndAsksEveryTime) {
    testtree::Tree app;
    shell::SetApplicationFolder(app.root());
    FileListView list;
    shell::ScriptedDialogs dialogs;
    dialogs.yesNoAnswers = {true, false, false};
    joblist::LoadSamplesCommand(list, dialogs).run();  // no sample folder yet
    EXPECT_EQ(list.count(), 0);
    ASSERT_EQ(dialogs.of(QStringLiteral("open-folder")).size(), 1u);
    EXPECT_EQ(dialogs.of(QStringLiteral("open-folder"))[0].text, app.path("Samples/"));

    app.folder("Samples");
    for (const char* name : {"Samples/one.msg", "Samples/two.msg", "Samples/three.txt"}) {
        app.file(name);
    }
    list.appendItem(app.path("SAMPLES/one.msg"));  // exact comparison: not the same
    joblist::LoadSamplesCommand(list, dialogs).run();
    ASSERT_EQ(list.count(), 4);
    const QString first = list.itemText(2);
    list.setCurrentItem(list.topLevelItem(1));
    list.removeSelectedItem();
    joblist::LoadSamplesCommand(list, dialogs).run();
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(list.itemText(4), first);
    EXPECT_EQ(dialogs.of(QStringLiteral("question")).size(), 3u);
    EXPECT_EQ(dialogs.of(QStringLiteral("question"))[0].text,
              QStringLiteral("Would you like this software to open the folder where these sample "
                             "files are stored (so that you can view them before working with "
                             "them)?"));
    EXPECT_EQ(dialogs.of(QStringLiteral("open-folder")).size(), 1u);
    shell::SetApplicationFolder(QString());
}
