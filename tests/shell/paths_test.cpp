#include <shell/failure.h>
#include <shell/paths.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qt_print.h>

#include <sys/stat.h>

namespace {

using namespace shell;

constexpr PathStyle W = PathStyle::Windows;
constexpr PathStyle P = PathStyle::Posix;

QString q(const char* s) {
    return QString::fromUtf8(s);
}

TEST(NormalizePath, WindowsStyleTable) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {R"(C:\out\\mail.jpg)", R"(C:\out\mail.jpg)"},
        {R"(C:\out\\\mail.jpg)", R"(C:\out\\mail.jpg)"},  // one pass: three become two
        {R"(\\server\share\\mail.msg)", R"(\\server\share\mail.msg)"},
        {R"(\\\server\share\mail.msg)", R"(\\server\share\mail.msg)"},
        {R"(\temp\mail.msg)", R"(\\temp\mail.msg)"},
        {R"(\)", R"(\\)"},
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(NormalizePath(q(row.in), W), q(row.out)) << row.in;
    }
}

TEST(NormalizePath, PosixStyleNeverDoublesTheLeadingSeparator) {
    EXPECT_EQ(NormalizePath(q("/out//mail.jpg"), P), q("/out/mail.jpg"));
    EXPECT_EQ(NormalizePath(q("/out///mail.jpg"), P), q("/out//mail.jpg"));
    EXPECT_EQ(NormalizePath(q("/tmp/mail.msg"), P), q("/tmp/mail.msg"));
    EXPECT_EQ(NormalizePath(q("//srv/mail.msg"), P), q("/srv/mail.msg"));
    EXPECT_EQ(NormalizePath(q("/"), P), q("/"));
    EXPECT_EQ(NormalizePath(q(""), P), q(""));
    // A root chosen as the folder gives a doubled separator that collapses.
    EXPECT_EQ(NormalizePath(q("/") + q("/") + q("a.msg"), P), q("/a.msg"));
}

TEST(PathParts, FileNameFolderAndExtension) {
    EXPECT_EQ(FileNameOf(q(R"(C:\Mail\a.b.msg)"), W), q("a.b.msg"));
    EXPECT_EQ(FileNameOf(q("mail.msg"), W), q("mail.msg"));
    EXPECT_EQ(FileNameOf(q(R"(C:\Mail\)"), W), q(""));
    EXPECT_EQ(FolderOf(q(R"(C:\Mail\a.msg)"), W), q(R"(C:\Mail\)"));
    EXPECT_EQ(FolderOf(q("a.msg"), W), q(""));
    EXPECT_EQ(FileNameOf(q("/home/u/a.msg"), P), q("a.msg"));
    EXPECT_EQ(FileNameOf(q("/home/u/"), P), q(""));
    EXPECT_EQ(FolderOf(q("/home/u/a.msg"), P), q("/home/u/"));
    EXPECT_EQ(FolderOf(q("a.msg"), P), q(""));
    // Backslashes are ordinary name characters in POSIX style.
    EXPECT_EQ(FileNameOf(q(R"(/in/odd\name.msg)"), P), q(R"(odd\name.msg)"));

    EXPECT_EQ(StripExtension(q("mail.msg")), q("mail"));
    EXPECT_EQ(StripExtension(q("a.b.msg")), q("a.b"));
    EXPECT_EQ(StripExtension(q(".msg")), q(".msg"));
    EXPECT_EQ(StripExtension(q("noext")), q("noext"));
    EXPECT_EQ(StripExtension(q("")), q(""));
    EXPECT_EQ(StripExtension(q("trailing.")), q("trailing"));
}

class FileHelpersTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void write(const QString& p, const QByteArray& data) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray read(const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir m_dir;
};

TEST_F(FileHelpersTest, ExistsAndIsFolder) {
    write(path("a.msg"), "x");
    EXPECT_TRUE(FileExists(path("a.msg")));
    EXPECT_TRUE(FileExists(m_dir.path()));  // a folder's date can be read too
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(path("missing")));

    EXPECT_EQ(IsFolder(m_dir.path()), std::optional<bool>(true));
    EXPECT_EQ(IsFolder(m_dir.path() + q("/")), std::optional<bool>(true));
    EXPECT_EQ(IsFolder(q("/")), std::optional<bool>(true));
    EXPECT_EQ(IsFolder(path("a.msg")), std::optional<bool>(false));
    EXPECT_FALSE(IsFolder(path("missing")).has_value());
    EXPECT_FALSE(IsFolder(QString()).has_value());
}

TEST_F(FileHelpersTest, WriteFileIfMissingLeavesExistingFilesAlone) {
    write(path("tool"), "old content, longer");
    WriteFileIfMissing("new", path("tool"));
    EXPECT_EQ(read(path("tool")), QByteArray("old content, longer"));

    WriteFileIfMissing(QByteArray("\0bytes\xff", 7), path("fresh"));
    EXPECT_EQ(read(path("fresh")), QByteArray("\0bytes\xff", 7));
}

TEST_F(FileHelpersTest, WriteFileIfMissingFailsIntoMissingFolder) {
    try {
        WriteFileIfMissing("x", path("no/such/folder/file"));
        ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), q("No such file or directory"));
    }
}

TEST_F(FileHelpersTest, DeletesIncludingReadOnlyFiles) {
    write(path("ro"), "x");
    ASSERT_EQ(::chmod(QFile::encodeName(path("ro")).constData(), S_IRUSR), 0);
    ForceDeleteFile(path("ro"));
    EXPECT_FALSE(FileExists(path("ro")));

    write(path("plain"), "x");
    DeleteFileQuietly(path("plain"));
    EXPECT_FALSE(FileExists(path("plain")));

    DeleteFileQuietly(path("never-existed"));  // nothing visible happens
    EXPECT_THROW(ForceDeleteFile(path("never-existed")), Failure);
    EXPECT_THROW(ForceDeleteFile(m_dir.path()), Failure);  // folders are not files
    EXPECT_TRUE(QDir(m_dir.path()).exists());
}

TEST(SpecialFolders, DesktopFolderEndsWithSeparator) {
    const QString desktop = DesktopFolder();
    EXPECT_TRUE(desktop.endsWith(q("/")));
    EXPECT_TRUE(IsFolder(desktop).value_or(false)) << desktop.toStdString();
    EXPECT_EQ(GetSpecialFolderPath(0) + q("/"), desktop);
    EXPECT_TRUE(GetSpecialFolderPath(5).isEmpty());
}

}  // namespace
