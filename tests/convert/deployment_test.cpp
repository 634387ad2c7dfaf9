#include <convert/deployment.h>
#include <shell/failure.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qt_print.h>

#include <sys/stat.h>

namespace {

using namespace convert;

class DeploymentTest : public ::testing::Test {
protected:
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    static QByteArray read(const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString& p, const QByteArray& data) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    static mode_t mode(const QString& p) {
        struct stat info {};
        ::stat(QFile::encodeName(p).constData(), &info);
        return info.st_mode & 07777;
    }
    static ino_t inode(const QString& p) {
        struct stat info {};
        ::stat(QFile::encodeName(p).constData(), &info);
        return info.st_ino;
    }
    QTemporaryDir m_dir;
};

TEST_F(DeploymentTest, MissingFileIsWrittenPrivately) {
    DeployFile("tool bytes", path("Kestrune.exe"), true);
    DeployFile("library bytes", path("liborvaline-render.so"), false);
    EXPECT_EQ(read(path("Kestrune.exe")), QByteArray("tool bytes"));
    EXPECT_EQ(mode(path("Kestrune.exe")), static_cast<mode_t>(0700));
    EXPECT_EQ(mode(path("liborvaline-render.so")), static_cast<mode_t>(0600));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 2);  // no leftovers
}

TEST_F(DeploymentTest, IdenticalFileIsLeftAlone) {
    write(path("Kestrune.exe"), "tool bytes");
    const ino_t before = inode(path("Kestrune.exe"));
    DeployFile("tool bytes", path("Kestrune.exe"), true);
    EXPECT_EQ(inode(path("Kestrune.exe")), before);
}

TEST_F(DeploymentTest, DifferentFileIsReplacedNotExecuted) {
    // A stale release or a planted file: same name, other bytes.
    write(path("Kestrune.exe"), "#!/bin/sh\necho planted\n");
    DeployFile("tool bytes", path("Kestrune.exe"), true);
    EXPECT_EQ(read(path("Kestrune.exe")), QByteArray("tool bytes"));
    EXPECT_EQ(mode(path("Kestrune.exe")), static_cast<mode_t>(0700));

    write(path("short"), "tool");  // a prefix of the right content
    DeployFile("tool bytes", path("short"), false);
    EXPECT_EQ(read(path("short")), QByteArray("tool bytes"));
}

TEST_F(DeploymentTest, ReadOnlyAndSymlinkedFilesAreReplaced) {
    write(path("ro"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path("ro")).constData(), S_IRUSR), 0);
    DeployFile("new", path("ro"), false);
    EXPECT_EQ(read(path("ro")), QByteArray("new"));

    write(path("elsewhere"), "tool bytes");
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("link")));
    DeployFile("tool bytes", path("link"), true);
    EXPECT_FALSE(QFileInfo(path("link")).isSymLink());
    EXPECT_EQ(read(path("elsewhere")), QByteArray("tool bytes"));
}

TEST_F(DeploymentTest, UnwritableFolderIsAFailure) {
    EXPECT_THROW(DeployFile("x", path("missing/Kestrune.exe"), true), shell::Failure);
}

TEST(TempFolder, TempVariableIsUsedUnchanged) {
    const QByteArray saved = qgetenv("TEMP");
    qputenv("TEMP", "/some/where/");
    EXPECT_EQ(TempFolder(), QStringLiteral("/some/where/"));
    qputenv("TEMP", saved);
    if (saved.isEmpty()) {
        qunsetenv("TEMP");
    }
}

TEST(TempFolder, WithoutTempAPrivateFolderInsteadOfTheRoot) {
    const QByteArray saved = qgetenv("TEMP");
    for (const bool unset : {true, false}) {
        if (unset) {
            qunsetenv("TEMP");
        } else {
            qputenv("TEMP", "");
        }
        const QString folder = TempFolder();
        EXPECT_NE(folder, QString());
        EXPECT_NE(folder, QStringLiteral("/"));
        EXPECT_TRUE(QFileInfo(folder).isDir());
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(0700));
    }
    if (!saved.isEmpty()) {
        qputenv("TEMP", saved);
    }
}

}  // namespace
