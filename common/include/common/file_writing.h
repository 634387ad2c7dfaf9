#pragma once
// Result files (page images, PDF and TIFF files, text files) are written
// beside their final name and renamed over it once complete, flushed to the
// disk first: no reader ever sees half a file, an existing file of that name
// stays as it was when writing fails, and the failure names the system's
// reason ("No space left on device"):
//
//   cannot write "<path>": <reason>
//
// Standard C++ and POSIX, for the converter and the rendering library alike.

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace common {

class FileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FileBeside {
public:
    // Creates the temporary file beside `path`. Throws FileWriteError.
    explicit FileBeside(std::string path) : m_path(std::move(path)) {
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
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;
    // Removes the temporary file unless committed.
    ~FileBeside() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_committed && !m_temporary.empty()) {
            ::unlink(m_temporary.c_str());
        }
    }

    // Appends `size` bytes; false when the system refused them (commit()
    // then throws with the reason).
    bool write(const void* data, std::size_t size) {
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

    // Flushes the file to the disk and renames it over the final name.
    // Throws FileWriteError with the first failure's reason.
    void commit() {
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

private:
    [[noreturn]] void fail(int why) const {
        throw FileWriteError("cannot write \"" + m_path + "\": " + std::strerror(why));
    }

    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
    int m_error = 0;
    bool m_committed = false;
};

// `bytes` as the whole content of `path`, through FileBeside.
inline void writeWholeFile(const std::string& path, std::string_view bytes) {
    FileBeside file(path);
    file.write(bytes.data(), bytes.size());
    file.commit();
}

}  // namespace common
