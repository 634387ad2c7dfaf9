#include "jpeg_writer.h"

#include "engine/paged_document.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace render::engine {

namespace {

// Writes `bytes` to a new file beside `path`, flushes it to the disk and
// renames it over `path`: the file is whole or absent. Returns "" or the
// system's reason. (Qt's file classes lose the reason of a write that fails
// after a part went through, as on a disk that fills up.)
std::string writeWholeFile(const std::string& path, const QByteArray& bytes) {
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".writing-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return std::strerror(errno);
        }
    }
    if (fd < 0) {
        return std::strerror(EEXIST);
    }
    const auto fail = [&](int why) {
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temporary.c_str());
        return std::string(std::strerror(why));
    };
    const char* data = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t wrote = ::write(fd, data, left);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return fail(wrote < 0 ? errno : EIO);
        }
        data += wrote;
        left -= static_cast<std::size_t>(wrote);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        return fail(errno);
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) {
        return fail(errno);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail(errno);
    }
    return {};
}

}  // namespace

void writeJpeg(const QImage& image, const QString& fileName, int quality) {
    const std::string name = fileName.toStdString();
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(quality);
        if (!writer.write(image)) {
            throw RenderError("cannot make the JPEG image of \"" + name +
                              "\": " + writer.errorString().toStdString());
        }
    }
    const std::string why = writeWholeFile(QFile::encodeName(fileName).toStdString(), bytes);
    if (!why.empty()) {
        throw RenderError("cannot write \"" + name + "\": " + why);
    }
}

}  // namespace render::engine
