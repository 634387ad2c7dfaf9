#pragma once
// Builds real folder trees in a temporary folder for the scan and job list
// tests. Paths are given relative to the tree's root with "/" separators;
// names may hold any bytes (QByteArray overloads).

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testtree {

class Tree {
public:
    Tree() { EXPECT_TRUE(m_dir.isValid()); }

    // The root, without a trailing "/".
    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return root() + QLatin1Char('/') + relative; }
    QByteArray native(const QByteArray& relative) const {
        return QFile::encodeName(root()) + '/' + relative;
    }

    void folder(const QByteArray& relative) const {
        EXPECT_EQ(::mkdir(native(relative).constData(), 0755), 0) << relative.constData();
    }
    void folder(const QString& relative) const { folder(QFile::encodeName(relative)); }
    void file(const QByteArray& relative, mode_t mode = 0644) const {
        const int fd = ::open(native(relative).constData(), O_CREAT | O_WRONLY | O_TRUNC, mode);
        EXPECT_GE(fd, 0) << relative.constData();
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, "x", 1), 1);
            ::close(fd);
        }
        ::chmod(native(relative).constData(), mode);
    }
    void file(const QString& relative, mode_t mode = 0644) const {
        file(QFile::encodeName(relative), mode);
    }
    void link(const QByteArray& target, const QByteArray& relative) const {
        EXPECT_EQ(::symlink(target.constData(), native(relative).constData()), 0);
    }
    void chmod(const QByteArray& relative, mode_t mode) const {
        EXPECT_EQ(::chmod(native(relative).constData(), mode), 0);
    }

private:
    QTemporaryDir m_dir;
};

// Permission tests need a user that permissions stop.
inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace testtree
