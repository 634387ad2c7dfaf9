#pragma once
// readFileBytes: a whole file into memory, for the readers of untrusted
// files (readFileRange: a part of one). One read path with one set of
// failure texts:
//
//   cannot open "<path>": <reason>    open(2) failed
//   cannot read "<path>": <reason>    read(2) failed ("Is a directory", ...)
//   "<path>" is larger than the <cap> bytes that are read
//
// <reason> is the system's text for errno (strerror). At most cap + 1 bytes
// are ever read, so a device or pipe without end is refused like a large
// file, and no more memory is taken than the cap allows.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

// A file that cannot be read whole; what() names it and says why.
class FileReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "<doing> "<path>": <the system's reason for errno>".
inline FileReadError systemReadError(const char* doing, const std::string& path) {
    return FileReadError(std::string(doing) + " \"" + path + "\": " + std::strerror(errno));
}

// A file opened for reading, closed with its owner; throws FileReadError
// "cannot open ..." when it cannot be opened.
struct FileForReading {
    explicit FileForReading(const std::string& path)
        : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd < 0)
            throw systemReadError("cannot open", path);
    }
    ~FileForReading() { ::close(fd); }
    FileForReading(const FileForReading&) = delete;
    FileForReading& operator=(const FileForReading&) = delete;
    int fd;
};

// The bytes of the file at path, when it holds at most maxBytes of them.
// Throws FileReadError with one of the texts above.
inline std::vector<std::uint8_t> readFileBytes(const std::string& path, std::size_t maxBytes) {
    const FileForReading file(path);
    const auto tooLarge = [&] {
        return FileReadError("\"" + path + "\" is larger than the " + std::to_string(maxBytes) +
                             " bytes that are read");
    };
    // Read one byte more than the cap allows, to see whether the file ends.
    const std::size_t limit = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    constexpr std::size_t kStep = std::size_t{1} << 16;
    std::size_t first = kStep;
    struct stat info {};
    if (::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (size > maxBytes)
            throw tooLarge();
        // The size is a hint only: the file may grow or shrink while read.
        first = static_cast<std::size_t>(size) + (size < limit ? 1 : 0);
    }
    std::vector<std::uint8_t> bytes(first < limit ? first : limit);
    std::size_t used = 0;
    while (true) {
        if (used == bytes.size()) {
            if (used >= limit)
                break;
            const std::size_t grow = used > kStep ? used : kStep;
            bytes.resize(limit - used > grow ? used + grow : limit);
        }
        // One read(2) moves at most 1 GiB: larger counts are not portable.
        const std::size_t want = bytes.size() - used;
        const ssize_t got = ::read(file.fd, bytes.data() + used,
                                   want < (std::size_t{1} << 30) ? want : std::size_t{1} << 30);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw systemReadError("cannot read", path);
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    if (used > maxBytes)
        throw tooLarge();
    bytes.resize(used);
    return bytes;
}

// `length` bytes of the file at path from `offset` (one message of an mbox
// file), when length is at most maxBytes. Throws FileReadError with the
// texts above, or "<path>" ends before byte <offset + length> when the file
// is shorter than that (it changed since the range was taken).
inline std::vector<std::uint8_t> readFileRange(const std::string& path, std::uint64_t offset,
                                               std::uint64_t length, std::size_t maxBytes) {
    if (length > maxBytes)
        throw FileReadError("\"" + path + "\" holds a message larger than the " +
                            std::to_string(maxBytes) + " bytes that are read");
    const FileForReading file(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    std::size_t used = 0;
    while (used < bytes.size()) {
        const std::size_t want = bytes.size() - used;
        const ssize_t got = ::pread(file.fd, bytes.data() + used,
                                    want < (std::size_t{1} << 30) ? want : std::size_t{1} << 30,
                                    static_cast<off_t>(offset + used));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw systemReadError("cannot read", path);
        }
        if (got == 0)
            throw FileReadError("\"" + path + "\" ends before byte " +
                                std::to_string(offset + length));
        used += static_cast<std::size_t>(got);
    }
    return bytes;
}

}  // namespace common
