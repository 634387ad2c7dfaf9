#include "file_beside.h"

#include "engine/paged_document.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace render::engine {

FileBeside::FileBeside(const QString& fileName)
    : m_name(fileName.toStdString()), m_path(QFile::encodeName(fileName).toStdString()) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temporary = m_path + ".writing-" + std::to_string(::getpid()) + "-" +
                      std::to_string(counter.fetch_add(1));
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) {
            fail(errno);
        }
    }
    if (m_fd < 0) {
        fail(EEXIST);
    }
}

FileBeside::~FileBeside() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    if (!m_committed && !m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
}

void FileBeside::fail(int why) {
    throw RenderError("cannot write \"" + m_name + "\": " + std::strerror(why));
}

bool FileBeside::write(const void* data, std::size_t size) {
    const auto* next = static_cast<const char*>(data);
    while (size > 0 && m_error == 0) {
        const ssize_t wrote = ::write(m_fd, next, size);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            m_error = wrote < 0 ? errno : EIO;
            break;
        }
        next += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return m_error == 0;
}

void FileBeside::commit() {
    if (m_error != 0) {
        fail(m_error);
    }
    if (::fsync(m_fd) != 0 && errno != EINVAL) {
        fail(errno);
    }
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        fail(errno);
    }
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        fail(errno);
    }
    m_committed = true;
}

void writeWholeFile(const QString& fileName, const QByteArray& bytes) {
    FileBeside file(fileName);
    file.write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    file.commit();
}

}  // namespace render::engine
