#include "tree.h"

#include <scan/add_folder.h>
#include <shell/dialogs.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>

#include <sys/stat.h>

#include <algorithm>
#include <set>

using testtree::Tree;

namespace {

QStringList walk(QStringList list, bool recurse = true) {
    shell::ScriptedDialogs dialogs;
    scan::GetSubDirectories2016(list, recurse, dialogs);
    EXPECT_TRUE(dialogs.shown.empty());
    return list;
}

std::set<QString> namesOf(const scan::FileNameArray& names) {
    std::set<QString> result;
    for (int i = 1; i <= names.upperBound(); ++i) {
        result.insert(names.at(i));
    }
    return result;
}

}  // namespace

// --- The folder walk ------------------------------------------------------

TEST(FolderWalk, EmptyListStaysEmpty) {
    EXPECT_TRUE(walk({}).isEmpty());
}

TEST(FolderWalk, FolderWithoutSubFoldersStaysAlone) {
    Tree tree;
    tree.file(QByteArray("a.msg"));
    const QString start = tree.root() + QLatin1Char('/');
    EXPECT_EQ(walk({start}), QStringList{start});
}

TEST(FolderWalk, IsBreadthFirstGroupedByParent) {
    // A holds B and C; B holds D; C holds E; D holds F.
    Tree tree;
    for (const char* f : {"A", "A/B", "A/C", "A/B/D", "A/C/E", "A/B/D/F"}) {
        tree.folder(QByteArray(f));
    }
    const QString a = tree.path(QStringLiteral("A/"));
    const QStringList result = walk({a});
    ASSERT_EQ(result.size(), 6);
    EXPECT_EQ(result.at(0), a);
    EXPECT_EQ((std::set<QString>{result.at(1), result.at(2)}),
              (std::set<QString>{a + QStringLiteral("B/"), a + QStringLiteral("C/")}));
    // The second level follows its parents' order.
    const bool bFirst = result.at(1) == a + QStringLiteral("B/");
    EXPECT_EQ(result.at(3), a + (bFirst ? QStringLiteral("B/D/") : QStringLiteral("C/E/")));
    EXPECT_EQ(result.at(4), a + (bFirst ? QStringLiteral("C/E/") : QStringLiteral("B/D/")));
    EXPECT_EQ(result.at(5), a + QStringLiteral("B/D/F/"));
}

TEST(FolderWalk, WithoutRecursionOnlyTheDirectLevelIsAdded) {
    Tree tree;
    tree.folder(QByteArray("B"));
    tree.folder(QByteArray("B/D"));
    const QString start = tree.root() + QLatin1Char('/');
    EXPECT_EQ(walk({start}, false), (QStringList{start, start + QStringLiteral("B/")}));
}

TEST(FolderWalk, HiddenFoldersAreListedAndDescended) {
    Tree tree;
    tree.folder(QByteArray(".hidden"));
    tree.folder(QByteArray(".hidden/inner"));
    const QString start = tree.root() + QLatin1Char('/');
    EXPECT_EQ(walk({start}), (QStringList{start, start + QStringLiteral(".hidden/"),
                                          start + QStringLiteral(".hidden/inner/")}));
}

TEST(FolderWalk, SymbolicLinkLoopEnds) {
    Tree tree;
    tree.folder(QByteArray("A"));
    tree.folder(QByteArray("A/B"));
    tree.link(tree.native("A"), "A/B/loop");
    tree.link("..", "A/up");
    const QString a = tree.path(QStringLiteral("A/"));
    EXPECT_EQ(walk({a}), (QStringList{a, a + QStringLiteral("B/")}));
}

TEST(FolderWalk, StartFolderThatIsALinkIsDescended) {
    Tree tree;
    tree.folder(QByteArray("real"));
    tree.folder(QByteArray("real/sub"));
    tree.link(tree.native("real"), "named");
    const QString named = tree.path(QStringLiteral("named/"));
    EXPECT_EQ(walk({named}), (QStringList{named, named + QStringLiteral("sub/")}));
}

TEST(FolderWalk, UnsafeSubFolderNamesAreSkippedWithEverythingBelow) {
    Tree tree;
    tree.folder(QByteArray("ok"));
    for (const QByteArray& name :
         {QByteArray("ctl\x01x"), QByteArray("what?"), QByteArray("latin1-\xe9"),
          QByteArray("c1-\xc2\x85"), QByteArray("del\x7f")}) {
        tree.folder(name);
        tree.folder(name + "/below");
    }
    const QString start = tree.root() + QLatin1Char('/');
    EXPECT_EQ(walk({start}), (QStringList{start, start + QStringLiteral("ok/")}));
}

TEST(FolderWalk, NonAsciiUtf8NamesAreKept) {
    Tree tree;
    tree.folder(QString::fromUtf8("Über – 邮件"));
    const QString start = tree.root() + QLatin1Char('/');
    EXPECT_EQ(walk({start}), (QStringList{start, start + QString::fromUtf8("Über – 邮件/")}));
}

TEST(FolderWalk, PathOf260CharactersStaysButIsNotDescended) {
    Tree tree;
    // Build a folder whose path (trailing "/" included) is exactly 260
    // characters, with a sub-folder below it.
    QString relative;
    while (tree.root().size() + 1 + relative.size() + 1 + 100 < 260) {
        relative += QString(99, QLatin1Char('d')) + QLatin1Char('/');
        tree.folder(relative.chopped(1));
    }
    const int rest = 260 - static_cast<int>(tree.root().size() + 1 + relative.size()) - 1;
    ASSERT_GT(rest, 0);
    relative += QString(rest, QLatin1Char('e'));
    tree.folder(relative);
    tree.folder(relative + QStringLiteral("/below"));
    const QString longFolder = tree.path(relative) + QLatin1Char('/');
    ASSERT_EQ(longFolder.size(), 260);
    EXPECT_EQ(walk({longFolder}), QStringList{longFolder});

    // One character shorter, it is descended into.
    const QString shorter = tree.path(relative.chopped(1));
    ASSERT_EQ(::rename(QFile::encodeName(tree.path(relative)).constData(),
                       QFile::encodeName(shorter).constData()),
              0);
    EXPECT_EQ(walk({shorter + QLatin1Char('/')}),
              (QStringList{shorter + QLatin1Char('/'), shorter + QStringLiteral("/below/")}));
}

TEST(FolderWalk, EntriesThatAreNotFoldersStayUntouched) {
    Tree tree;
    tree.file(QByteArray("plain"));
    const QStringList list{tree.path(QStringLiteral("missing/")),
                           tree.path(QStringLiteral("plain"))};
    EXPECT_EQ(walk(list), list);
}

TEST(FolderWalk, UnreadableSubFolderIsDroppedAndSiblingsKept) {
    if (testtree::RunningAsRoot()) {
        GTEST_SKIP() << "permissions do not stop root from listing folders";
    }
    Tree tree;
    tree.folder(QByteArray("locked"));
    tree.folder(QByteArray("locked/inner"));
    tree.folder(QByteArray("open"));
    tree.chmod("locked", 0);
    const QString start = tree.root() + QLatin1Char('/');
    const QStringList result = walk({start});
    tree.chmod("locked", 0755);
    EXPECT_EQ(result, (QStringList{start, start + QStringLiteral("open/")}));
}

TEST(FolderWalk, UnreadableStartFolderLeavesTheCallersList) {
    if (testtree::RunningAsRoot()) {
        GTEST_SKIP() << "permissions do not stop root from listing folders";
    }
    Tree tree;
    tree.folder(QByteArray("locked"));
    tree.folder(QByteArray("open"));
    tree.chmod("locked", 0);
    const QString locked = tree.path(QStringLiteral("locked/"));
    const QString open = tree.path(QStringLiteral("open/"));
    const QStringList result = walk({locked, open});
    tree.chmod("locked", 0755);
    EXPECT_EQ(result, QStringList{open});
}

TEST(FolderWalk, RootFolderQualifies) {
    EXPECT_TRUE(scan::IsQualifyingFolder(QStringLiteral("/")));
    Tree tree;
    tree.file(QByteArray("plain"));
    EXPECT_FALSE(scan::IsQualifyingFolder(tree.path(QStringLiteral("plain"))));
    EXPECT_FALSE(scan::IsQualifyingFolder(tree.path(QStringLiteral("missing"))));
}

// --- Folder names the file functions cannot carry -------------------------

TEST(UnsafeNames, RejectsControlsQuestionMarkAndInvalidUtf8) {
    using scan::HasUnsafeNameChars;
    EXPECT_FALSE(HasUnsafeNameChars(""));
    EXPECT_FALSE(HasUnsafeNameChars("Mail 2021"));
    EXPECT_FALSE(HasUnsafeNameChars("\xc3\xa9t\xc3\xa9"));      // été
    EXPECT_FALSE(HasUnsafeNameChars("\xc2\xa0nbsp"));           // U+00A0 is past the C1 range
    EXPECT_FALSE(HasUnsafeNameChars("\xf0\x9f\x93\xa7 mail"));  // U+1F4E7
    EXPECT_TRUE(HasUnsafeNameChars("tab\there"));
    EXPECT_TRUE(HasUnsafeNameChars(std::string_view("nul\0x", 5)));
    EXPECT_TRUE(HasUnsafeNameChars("\x1f"));
    EXPECT_TRUE(HasUnsafeNameChars("del\x7f"));
    EXPECT_TRUE(HasUnsafeNameChars("c1\xc2\x80"));
    EXPECT_TRUE(HasUnsafeNameChars("c1\xc2\x9f"));
    EXPECT_TRUE(HasUnsafeNameChars("why?"));
    EXPECT_TRUE(HasUnsafeNameChars("latin1 \xe9"));   // not UTF-8
    EXPECT_TRUE(HasUnsafeNameChars("\xc0\xaf"));      // overlong "/"
    EXPECT_TRUE(HasUnsafeNameChars("\xed\xa0\x80"));  // a surrogate
    EXPECT_TRUE(HasUnsafeNameChars("cut \xe2\x82"));  // truncated sequence
}

// --- Wildcards ------------------------------------------------------------

TEST(Wildcard, ExtensionMatchIgnoresLetterCase) {
    using scan::MatchesWildcard;
    EXPECT_TRUE(MatchesWildcard(QStringLiteral("A.MSG"), QStringLiteral("*.msg")));
    EXPECT_TRUE(MatchesWildcard(QStringLiteral("note.Msg"), QStringLiteral("*.MSG")));
    EXPECT_TRUE(MatchesWildcard(QString::fromUtf8("x.ÄÖ"), QString::fromUtf8("*.äö")));
    EXPECT_TRUE(MatchesWildcard(QStringLiteral("a.b.msg"), QStringLiteral("*.msg")));
    EXPECT_FALSE(MatchesWildcard(QStringLiteral("a.msgx"), QStringLiteral("*.msg")));
    EXPECT_FALSE(MatchesWildcard(QStringLiteral("msg"), QStringLiteral("*.msg")));
    EXPECT_FALSE(MatchesWildcard(QStringLiteral("a.ms"), QStringLiteral("*.msg")));
}

TEST(Wildcard, StarDotStarMatchesEveryName) {
    using scan::MatchesWildcard;
    for (const char* name : {"README", "a.msg", ".hidden", "x.", "many.dots.here"}) {
        EXPECT_TRUE(MatchesWildcard(QString::fromLatin1(name), QStringLiteral("*.*"))) << name;
    }
}

TEST(Wildcard, QuestionMarkAndStarsInsideTheAnswer) {
    using scan::MatchesWildcard;
    EXPECT_TRUE(MatchesWildcard(QStringLiteral("a.mag"), QStringLiteral("*.m?g")));
    EXPECT_FALSE(MatchesWildcard(QStringLiteral("a.mg"), QStringLiteral("*.m?g")));
    EXPECT_TRUE(MatchesWildcard(QStringLiteral("a.msg.bak"), QStringLiteral("*.msg*")));
    EXPECT_TRUE(MatchesWildcard(QStringLiteral("report.docx"), QStringLiteral("*.d*x")));
    EXPECT_FALSE(MatchesWildcard(QStringLiteral("a.msg"), QStringLiteral("*.msg/../x")));
    // Many stars against a long name end quickly.
    EXPECT_FALSE(MatchesWildcard(
        QString(250, QLatin1Char('a')),
        QStringLiteral("*.") + QString(200, QLatin1Char('*')) + QStringLiteral("b")));
}

// --- The file search ------------------------------------------------------

TEST(FileSearch, EmptyResultIsOneEmptyEntryAtIndexZero) {
    Tree tree;
    tree.file(QByteArray("a.txt"));
    const scan::FileNameArray names = scan::GetFilesInFolder(tree.root(), QStringLiteral("*.msg"));
    EXPECT_EQ(names.upperBound(), 0);
    EXPECT_EQ(names.at(0), QString());
    EXPECT_EQ(names.capacity(), 1u);
}

TEST(FileSearch, CapacityGrowsByFiftyAndIsCutToTheCount) {
    Tree tree;
    for (int i = 0; i < 100; ++i) {
        tree.file(QStringLiteral("f%1.msg").arg(i));
    }
    scan::FileNameArray names = scan::GetFilesInFolder(tree.root(), QStringLiteral("*.msg"));
    EXPECT_EQ(names.upperBound(), 100);
    EXPECT_EQ(names.capacity(), 100u);
    tree.file(QByteArray("f100.msg"));
    names = scan::GetFilesInFolder(tree.root() + QLatin1Char('/'), QStringLiteral("*.msg"));
    EXPECT_EQ(names.upperBound(), 101);
    EXPECT_EQ(names.capacity(), 101u);
    std::set<QString> expected;
    for (int i = 0; i <= 100; ++i) {
        expected.insert(QStringLiteral("f%1.msg").arg(i));
    }
    EXPECT_EQ(namesOf(names), expected);
}

TEST(FileSearch, HiddenFilesIncludedFoldersAndSpecialFilesNever) {
    Tree tree;
    tree.file(QByteArray("A.MSG"));
    tree.file(QByteArray(".hidden.msg"));
    tree.file(QByteArray("read-only.msg"), 0444);
    tree.folder(QByteArray("folder.msg"));
    tree.link(tree.native("folder.msg"), "link-to-folder.msg");
    tree.link(tree.native("A.MSG"), "link-to-file.msg");
    tree.link(tree.native("gone"), "dangling.msg");
    ASSERT_EQ(::mkfifo(tree.native("pipe.msg").constData(), 0644), 0);
    tree.file(QByteArray("other.txt"));
    const scan::FileNameArray names = scan::GetFilesInFolder(tree.root(), QStringLiteral("*.msg"));
    EXPECT_EQ(
        namesOf(names),
        (std::set<QString>{QStringLiteral("A.MSG"), QStringLiteral(".hidden.msg"),
                           QStringLiteral("read-only.msg"), QStringLiteral("link-to-file.msg")}));
}

TEST(FileSearch, NamesThatAreNotUtf8AreLeftOut) {
    Tree tree;
    tree.file(QByteArray("caf\xe9.msg"));
    tree.file(QByteArray("ok.msg"));
    const scan::FileNameArray names = scan::GetFilesInFolder(tree.root(), QStringLiteral("*.*"));
    EXPECT_EQ(namesOf(names), std::set<QString>{QStringLiteral("ok.msg")});
}

TEST(FileSearch, UnreadableFilesAreLeftOut) {
    if (testtree::RunningAsRoot()) {
        GTEST_SKIP() << "permissions do not stop root from opening files";
    }
    Tree tree;
    tree.file(QByteArray("secret.msg"), 0);
    tree.file(QByteArray("ok.msg"));
    const scan::FileNameArray names = scan::GetFilesInFolder(tree.root(), QStringLiteral("*.msg"));
    EXPECT_EQ(namesOf(names), std::set<QString>{QStringLiteral("ok.msg")});
}

TEST(FileSearch, MissingFolderGivesTheEmptyResult) {
    Tree tree;
    const scan::FileNameArray names =
        scan::GetFilesInFolder(tree.path(QStringLiteral("missing")), QStringLiteral("*.*"));
    EXPECT_EQ(names.upperBound(), 0);
}

// --- Opening files --------------------------------------------------------

TEST(CanOpenFile, OnlyExistingRegularFiles) {
    Tree tree;
    tree.file(QByteArray("a.msg"));
    tree.folder(QByteArray("dir"));
    ASSERT_EQ(::mkfifo(tree.native("pipe").constData(), 0644), 0);
    EXPECT_TRUE(scan::CanOpenFile(tree.path(QStringLiteral("a.msg"))));
    EXPECT_FALSE(scan::CanOpenFile(tree.path(QStringLiteral("dir"))));
    EXPECT_FALSE(scan::CanOpenFile(tree.path(QStringLiteral("pipe"))));  // and does not block
    EXPECT_FALSE(scan::CanOpenFile(tree.path(QStringLiteral("missing"))));
    EXPECT_FALSE(scan::CanOpenFile(QString()));
    EXPECT_FALSE(scan::CanOpenFile(QStringLiteral("/dev/null")));
}

// --- Attributes -----------------------------------------------------------

TEST(Attributes, LinuxMappingOfTheWindowsBits) {
    Tree tree;
    tree.file(QByteArray("plain"));
    tree.file(QByteArray(".hidden"));
    tree.file(QByteArray(".hidden-ro"), 0444);
    tree.folder(QByteArray("dir"));
    tree.folder(QByteArray(".dir"));
    tree.link(tree.native("dir"), "dirlink");
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral("plain"))), 32);
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral(".hidden"))), 34);
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral(".hidden-ro"))), 35);
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral("dir"))), 16);
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral(".dir/"))), 18);
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral("dirlink"))), 16 | 1024);
    EXPECT_EQ(scan::FileAttributes(tree.path(QStringLiteral("missing"))), std::nullopt);
}

TEST(Attributes, ArchiveHiddenFilesAreNotListable) {
    Tree tree;
    tree.file(QByteArray(".hidden.msg"));
    tree.file(QByteArray(".hidden-ro.msg"), 0444);
    tree.file(QByteArray("plain.msg"));
    EXPECT_FALSE(scan::IsListableFile(tree.path(QStringLiteral(".hidden.msg"))));
    EXPECT_TRUE(scan::IsListableFile(tree.path(QStringLiteral(".hidden-ro.msg"))));
    EXPECT_TRUE(scan::IsListableFile(tree.path(QStringLiteral("plain.msg"))));
    EXPECT_FALSE(scan::IsListableFile(tree.path(QStringLiteral("missing.msg"))));
}

// --- The folder picker ----------------------------------------------------

TEST(BrowseFolder, ReturnsThePathWithoutTrailingSeparatorExceptRoot) {
    shell::ScriptedDialogs dialogs;
    dialogs.folderAnswers = {QStringLiteral("/home/clerk/Mail/"), QStringLiteral("/"),
                             QStringLiteral("/srv/x")};
    EXPECT_EQ(scan::BrowseFolder(dialogs, QStringLiteral("Please select folder:"),
                                 QStringLiteral("/start")),
              QStringLiteral("/home/clerk/Mail"));
    EXPECT_EQ(scan::BrowseFolder(dialogs, QStringLiteral("p"), QString()), QStringLiteral("/"));
    EXPECT_EQ(scan::BrowseFolder(dialogs, QStringLiteral("p"), QString()),
              QStringLiteral("/srv/x"));
    EXPECT_EQ(scan::BrowseFolder(dialogs, QStringLiteral("p"), QString()), QString());
    ASSERT_EQ(dialogs.of(QStringLiteral("folder")).size(), 4u);
    EXPECT_EQ(dialogs.of(QStringLiteral("folder")).front().detail, QStringLiteral("/start"));
}
