#pragma once
// Real folder trees in a temporary folder for the scan and job list tests.
// Paths are relative to the root; names may hold any bytes.

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testtree {

class Tree {
public:
    QString root() const { return m_dir.path(); }
    QString path(const char* relative) const {
        return root() + QLatin1Char('/') + QString::fromUtf8(relative);
    }
    QByteArray native(const QByteArray& relative) const {
        return QFile::encodeName(root()) + '/' + relative;
    }
    void folder(const QByteArray& relative) const {
        EXPECT_EQ(::mkdir(native(relative).constData(), 0755), 0) << relative.constData();
    }
    void file(const QByteArray& relative, mode_t mode = 0644) const {
        const int fd = ::open(native(relative).constData(), O_CREAT | O_WRONLY, 0600);
        EXPECT_GE(fd, 0) << relative.constData();
        ::close(fd);
        ::chmod(native(relative).constData(), mode);
    }
    void link(const QByteArray& target, const QByteArray& relative) const {
        EXPECT_EQ(::symlink(target.constData(), native(relative).constData()), 0);
    }

private:
    QTemporaryDir m_dir;
};

// Permissions do not stop root, and CI runs as root.
#define SKIP_AS_ROOT()                                          \
    if (::geteuid() == 0) {                                     \
        GTEST_SKIP() << "permissions do not stop root's reads"; \
    }

}  // namespace testtree
