#include "shell/paths.h"

#include "shell/failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace shell {

QChar Separator(PathStyle style) {
    return style == PathStyle::Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

bool FileExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

std::optional<bool> IsFolder(const QString& path) {
    if (path.isEmpty()) {
        return std::nullopt;
    }
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return S_ISDIR(info.st_mode);
}

QString NormalizePath(const QString& path, PathStyle style) {
    const QChar sep = Separator(style);
    const QString doubled = QString(2, sep);
    if (style == PathStyle::Posix || !path.startsWith(sep)) {
        // One left-to-right pass: after a replacement the scan goes on behind
        // the two characters replaced, so three separators become two.
        QString result = path;
        return result.replace(doubled, QString(sep));
    }
    qsizetype k = 1;
    while (k < path.size() && path.at(k) == sep) {
        ++k;
    }
    QString rest = path.mid(k);
    return doubled + rest.replace(doubled, QString(sep));
}

QString FileNameOf(const QString& path, PathStyle style) {
    const qsizetype last = path.lastIndexOf(Separator(style));
    return last < 0 ? path : path.mid(last + 1);
}

QString FolderOf(const QString& path, PathStyle style) {
    const qsizetype last = path.lastIndexOf(Separator(style));
    return last < 0 ? QString() : path.left(last + 1);
}

QString StripExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 1 ? name.left(dot) : name;
}

void WriteFileIfMissing(const QByteArray& data, const QString& path) {
    PumpEvents();
    if (FileExists(path)) {
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        throw Failure::fromErrno(errno != 0 ? errno : EACCES);
    }
    if (file.write(data) != data.size() || !file.flush()) {
        const int err = errno != 0 ? errno : EIO;
        file.close();
        throw Failure::fromErrno(err);
    }
    file.close();
}

void ForceDeleteFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        throw Failure::fromErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        throw Failure::fromErrno(EISDIR);
    }
    if (!S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
        ::chmod(native.constData(), info.st_mode | S_IWUSR);
    }
    if (::unlink(native.constData()) != 0) {
        throw Failure::fromErrno(errno);
    }
}

void DeleteFileQuietly(const QString& path) {
    PumpEvents();
    if (!path.isEmpty() && ::unlink(QFile::encodeName(path).constData()) == 0) {
        return;
    }
    try {
        ForceDeleteFile(path);
    } catch (const Failure&) {
        // Quiet by contract: the file may still exist afterwards.
    }
}

QString GetSpecialFolderPath(int number) {
    if (number != 0) {
        return {};
    }
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && IsFolder(desktop).value_or(false)) {
        return QDir::cleanPath(desktop);
    }
    // Many Linux accounts have no desktop folder; the home folder is where a
    // user then expects results.
    const QString home = QDir::homePath();
    return IsFolder(home).value_or(false) ? QDir::cleanPath(home) : QString();
}

QString DesktopFolder() {
    const QString folder = GetSpecialFolderPath(0);
    if (folder.isEmpty()) {
        throw Failure(QStringLiteral("Invalid procedure call or argument"), kErrorInvalidArgument);
    }
    return folder.endsWith(Separator()) ? folder : folder + Separator();
}

void PumpEvents() {
    QCoreApplication::processEvents();
}

namespace {
QString& applicationFolderOverride() {
    static QString folder;
    return folder;
}
}  // namespace

QString ApplicationFolder() {
    if (!applicationFolderOverride().isEmpty()) {
        return applicationFolderOverride();
    }
    return QCoreApplication::applicationDirPath();
}

void SetApplicationFolder(const QString& folder) {
    applicationFolderOverride() = folder;
}

}  // namespace shell
