#include "convert/deployment.h"

#include <shell/failure.h>
#include <shell/paths.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

namespace convert {

namespace {

QByteArray readResource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        throw shell::Failure(
            QStringLiteral("The file %1 is not built into this application").arg(name));
    }
    return file.readAll();
}

// True when `path` is a regular file holding exactly `bytes`.
bool holdsExactly(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || QFileInfo(path).isSymLink() || file.size() != bytes.size() ||
        !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    return file.readAll() == bytes;
}

}  // namespace

QByteArray EmbeddedTools::converter() const {
    return readResource(QStringLiteral(":/CUSTOM/101"));
}

QByteArray EmbeddedTools::renderer() const {
    return readResource(QStringLiteral(":/CUSTOM/102"));
}

QString TempFolder() {
    const QByteArray temp = qgetenv("TEMP");
    if (!temp.isEmpty()) {
        return QFile::decodeName(temp);
    }
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    QString folder = base + QStringLiteral("/Orvaline/tmp");
    if (!QDir().mkpath(folder)) {
        throw shell::Failure::fromErrno(errno != 0 ? errno : EACCES);
    }
    const QByteArray native = QFile::encodeName(folder);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        throw shell::Failure::fromErrno(errno);
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        throw shell::Failure(
            QStringLiteral("The private temporary folder %1 belongs to someone else").arg(folder));
    }
    if ((info.st_mode & 07777) != S_IRWXU && ::chmod(native.constData(), S_IRWXU) != 0) {
        throw shell::Failure::fromErrno(errno);
    }
    return folder;
}

void DeployFile(const QByteArray& bytes, const QString& path, bool executable) {
    shell::PumpEvents();
    if (holdsExactly(path, bytes)) {
        return;
    }
    const QString temporary =
        path + QStringLiteral(".new-%1").arg(QRandomGenerator::global()->generate64(), 16, 16,
                                             QLatin1Char('0'));
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    const mode_t mode = executable ? S_IRWXU : (S_IRUSR | S_IWUSR);
    const int fd =
        ::open(nativeTemporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        throw shell::Failure::fromErrno(errno);
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written,
                                  static_cast<std::size_t>(bytes.size() - written));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            ::unlink(nativeTemporary.constData());
            throw shell::Failure::fromErrno(err);
        }
        written += n;
    }
    if (::close(fd) != 0 ||
        ::rename(nativeTemporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        ::unlink(nativeTemporary.constData());
        throw shell::Failure::fromErrno(err);
    }
}

}  // namespace convert
