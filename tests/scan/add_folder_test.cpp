#include "tree.h"

#include <scan/add_folder.h>
#include <shell/dialogs.h>

#include <QRegularExpression>

#include <random>
#include <set>

using testtree::Tree;

namespace {

QStringList walk(QStringList list, bool recurse = true) {
    shell::ScriptedDialogs dialogs;
    scan::GetSubDirectories2016(list, recurse, dialogs);
    EXPECT_TRUE(dialogs.shown.empty());
    return list;
}

std::set<QString> namesIn(const QString& folder, const char* pattern = "*.*") {
    const scan::FileNameArray names = scan::GetFilesInFolder(folder, QString::fromLatin1(pattern));
    std::set<QString> result;
    for (int i = 1; i <= names.upperBound(); ++i) {
        result.insert(names.at(i));
    }
    return result;
}

}  // namespace

TEST(FolderWalk, IsBreadthFirstGroupedByParent) {
    EXPECT_TRUE(walk({}).isEmpty());
    Tree t;
    for (const char* f : {"A", "A/B", "A/.C", "A/B/D", "A/.C/E", "A/B/D/F"}) {
        t.folder(f);
    }
    const QString a = t.path("A/");
    const QStringList got = walk({a});
    ASSERT_EQ(got.size(), 6);
    const bool bFirst = got.at(1) == a + QStringLiteral("B/");
    const QString b = a + QStringLiteral("B/"), c = a + QStringLiteral(".C/");
    EXPECT_EQ(got, (QStringList{a, bFirst ? b : c, bFirst ? c : b,
                                bFirst ? b + QStringLiteral("D/") : c + QStringLiteral("E/"),
                                bFirst ? c + QStringLiteral("E/") : b + QStringLiteral("D/"),
                                b + QStringLiteral("D/F/")}));
    EXPECT_EQ(walk({b}, false), (QStringList{b, b + QStringLiteral("D/")}));
}

TEST(FolderWalk, LinkedSubFoldersAreNotFollowedButNamedLinksAre) {
    Tree t;
    t.folder("A");
    t.folder("A/B");
    t.link(t.native("A"), "A/B/loop");
    t.link("..", "A/up");
    const QString a = t.path("A/");
    EXPECT_EQ(walk({a}), (QStringList{a, a + QStringLiteral("B/")}));
    t.link(t.native("A"), "named");
    EXPECT_EQ(walk({t.path("named/")}), (QStringList{t.path("named/"), t.path("named/B/")}));
}

TEST(FolderWalk, UnsafeNamesAreSkippedWithEverythingBelow) {
    Tree t;
    t.folder("Über 邮件");
    for (const QByteArray name : {"ctl\x01", "what?", "latin1-\xe9", "c1-\xc2\x85", "del\x7f"}) {
        t.folder(name);
        t.folder(name + "/below");
    }
    const QString root = t.root() + QLatin1Char('/');
    EXPECT_EQ(walk({root}), (QStringList{root, t.path("Über 邮件/")}));
}

TEST(FolderWalk, PathOf260CharactersStaysButIsNotDescended) {
    Tree t;
    QByteArray relative;
    while (t.root().size() + relative.size() + 102 < 260) {
        relative += QByteArray(99, 'd');
        t.folder(relative);
        relative += '/';
    }
    relative += QByteArray(259 - static_cast<int>(t.root().size() + 1 + relative.size()), 'e');
    t.folder(relative);
    t.folder(relative + "/below");
    const QString full = t.path(relative.constData()) + QLatin1Char('/');
    ASSERT_EQ(full.size(), 260);
    EXPECT_EQ(walk({full}), QStringList{full});
    const QString shorter = full.chopped(2) + QLatin1Char('/');  // "e" shorter
    ASSERT_EQ(
        ::rename(t.native(relative).constData(), QFile::encodeName(full.chopped(2)).constData()),
        0);
    EXPECT_EQ(walk({shorter}), (QStringList{shorter, shorter + QStringLiteral("below/")}));
}

TEST(FolderWalk, EntriesThatAreNotFoldersStayUntouched) {
    Tree t;
    t.file("plain");
    const QStringList list{t.path("missing/"), t.path("plain")};
    EXPECT_EQ(walk(list), list);
}

TEST(FolderWalk, UnreadableFoldersLeaveTheListThatHoldsThem) {
    SKIP_AS_ROOT();
    Tree t;
    for (const char* f : {"locked", "locked/inner", "open", "open/shut", "open/fine"}) {
        t.folder(f);
    }
    ::chmod(t.native("locked").constData(), 0);
    ::chmod(t.native("open/shut").constData(), 0);
    const QStringList got = walk({t.path("locked/"), t.path("open/")});
    ::chmod(t.native("locked").constData(), 0755);
    ::chmod(t.native("open/shut").constData(), 0755);
    EXPECT_EQ(got, (QStringList{t.path("open/"), t.path("open/fine/")}));
}

TEST(FolderWalk, RootAlwaysQualifies) {
    EXPECT_TRUE(scan::IsQualifyingFolder(QStringLiteral("/")));
    EXPECT_FALSE(scan::IsQualifyingFolder(QStringLiteral("/no/such/folder")));
}

TEST(UnsafeNames, ControlsQuestionMarkAndBrokenUtf8) {
    for (const char* safe :
         {"", "Mail 2021", "\xc3\xa9t\xc3\xa9", "\xc2\xa0", "\xf0\x9f\x93\xa7"}) {
        EXPECT_FALSE(scan::HasUnsafeNameChars(safe)) << safe;
    }
    for (const char* unsafe : {"tab\t", "\x1f", "\x7f", "\xc2\x80", "\xc2\x9f", "why?", "\xe9",
                               "\xc0\xaf", "\xed\xa0\x80", "cut\xe2\x82"}) {
        EXPECT_TRUE(scan::HasUnsafeNameChars(unsafe)) << unsafe;
    }
    EXPECT_TRUE(scan::HasUnsafeNameChars(std::string_view("nul\0x", 5)));
}

TEST(Wildcard, IgnoresLetterCaseAndStarDotStarMatchesAll) {
    auto m = [](const char* name, const char* pattern) {
        return scan::MatchesWildcard(QString::fromUtf8(name), QString::fromUtf8(pattern));
    };
    EXPECT_TRUE(m("A.MSG", "*.msg") && m("x.ÄÖ", "*.äö") && m("a.b.msg", "*.msg"));
    EXPECT_FALSE(m("a.msgx", "*.msg") || m("msg", "*.msg") || m("a.msg", "*.msg/../x"));
    EXPECT_TRUE(m("README", "*.*") && m(".hidden", "*.*") && m("a.mag", "*.m?g"));
    EXPECT_FALSE(m(std::string(250, 'a').c_str(), ("*." + std::string(200, '*') + "b").c_str()));
}

TEST(Wildcard, AgreesWithARegularExpressionOnGeneratedNames) {
    auto regex = [](const QString& wildcard) {
        QString rx;
        for (QChar c : wildcard) {
            rx += c == u'*'   ? QStringLiteral(".*")
                  : c == u'?' ? QStringLiteral(".")
                              : QRegularExpression::escape(QString(c));
        }
        return QRegularExpression(QRegularExpression::anchoredPattern(rx),
                                  QRegularExpression::CaseInsensitiveOption);
    };
    std::minstd_rand rng(2021);
    auto draw = [&](const QString& alphabet, unsigned maxLength) {
        QString s;
        for (auto n = rng() % (maxLength + 1); n > 0; --n) {
            s += alphabet.at(
                static_cast<qsizetype>(rng() % static_cast<std::uint_fast32_t>(alphabet.size())));
        }
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        const QString name = draw(QStringLiteral("aAbB.é~ "), 8);
        const QString pattern = draw(QStringLiteral("aBb.*?É"), 6);
        const bool expected = regex(pattern).match(name).hasMatch() ||
                              (pattern.endsWith(QLatin1String(".*")) &&
                               regex(pattern.chopped(2)).match(name).hasMatch());
        ASSERT_EQ(scan::MatchesWildcard(name, pattern), expected)
            << name.toStdString() << " / " << pattern.toStdString();
    }
}

TEST(FileSearch, EmptyResultAndCapacityCutToTheCount) {
    Tree t;
    scan::FileNameArray names = scan::GetFilesInFolder(t.root(), QStringLiteral("*.msg"));
    EXPECT_EQ(names.upperBound(), 0);
    EXPECT_EQ(names.at(0), QString());
    for (int i = 0; i < 100; ++i) {
        t.file(QByteArray("f") + QByteArray::number(i) + ".msg");
    }
    EXPECT_EQ(scan::GetFilesInFolder(t.root(), QStringLiteral("*.msg")).capacity(), 100u);
    t.file("f100.msg");
    names = scan::GetFilesInFolder(t.root() + QLatin1Char('/'), QStringLiteral("*.msg"));
    EXPECT_EQ(names.upperBound(), 101);
    EXPECT_EQ(names.capacity(), 101u);
    EXPECT_EQ(namesIn(t.path("missing")).size(), 0u);
}

TEST(FileSearch, HiddenFilesYesFoldersPipesAndBadNamesNo) {
    Tree t;
    t.file("A.MSG");
    t.file(".hidden.msg");
    t.file("read-only.msg", 0444);
    t.file("caf\xe9.msg");
    t.file("other.txt");
    t.folder("folder.msg");
    t.link(t.native("folder.msg"), "to-folder.msg");
    t.link(t.native("A.MSG"), "to-file.msg");
    t.link(t.native("gone"), "dangling.msg");
    ASSERT_EQ(::mkfifo(t.native("pipe.msg").constData(), 0644), 0);  // must not block
    EXPECT_EQ(namesIn(t.root(), "*.msg"),
              (std::set<QString>{QStringLiteral("A.MSG"), QStringLiteral(".hidden.msg"),
                                 QStringLiteral("read-only.msg"), QStringLiteral("to-file.msg")}));
    EXPECT_FALSE(scan::CanOpenFile(t.path("pipe.msg")) || scan::CanOpenFile(t.path("folder.msg")) ||
                 scan::CanOpenFile(QStringLiteral("/dev/null")) || scan::CanOpenFile(QString()));
}

TEST(FileSearch, UnreadableFilesAreLeftOut) {
    SKIP_AS_ROOT();
    Tree t;
    t.file("secret.msg", 0);
    t.file("ok.msg");
    EXPECT_EQ(namesIn(t.root()), std::set<QString>{QStringLiteral("ok.msg")});
}

TEST(Attributes, LinuxMappingAndTheArchiveHiddenSkip) {
    Tree t;
    t.file("plain");
    t.file(".hidden");
    t.file(".hidden-ro", 0444);
    t.folder(".dir");
    t.link(t.native(".dir"), "link");
    EXPECT_EQ(scan::FileAttributes(t.path("plain")), 32);
    EXPECT_EQ(scan::FileAttributes(t.path(".hidden")), 34);
    EXPECT_EQ(scan::FileAttributes(t.path(".hidden-ro")), 35);
    EXPECT_EQ(scan::FileAttributes(t.path(".dir/")), 18);
    EXPECT_EQ(scan::FileAttributes(t.path("link")), 16 | 1024);
    EXPECT_EQ(scan::FileAttributes(t.path("missing")), std::nullopt);
    EXPECT_TRUE(scan::IsListableFile(t.path("plain")));
    EXPECT_FALSE(scan::IsListableFile(t.path(".hidden")));
    EXPECT_TRUE(scan::IsListableFile(t.path(".hidden-ro")));
    EXPECT_FALSE(scan::IsListableFile(t.path("missing")));
}

TEST(BrowseFolder, NoTrailingSeparatorExceptRootEmptyOnCancel) {
    shell::ScriptedDialogs dialogs;
    dialogs.folderAnswers = {QStringLiteral("/home/clerk/Mail/"), QStringLiteral("/")};
    const QString prompt = QStringLiteral("Please select folder:");
    EXPECT_EQ(scan::BrowseFolder(dialogs, prompt, QStringLiteral("/start")),
              QStringLiteral("/home/clerk/Mail"));
    EXPECT_EQ(scan::BrowseFolder(dialogs, prompt, QString()), QStringLiteral("/"));
    EXPECT_EQ(scan::BrowseFolder(dialogs, prompt, QString()), QString());
    EXPECT_EQ(dialogs.of(QStringLiteral("folder")).front().detail, QStringLiteral("/start"));
}
