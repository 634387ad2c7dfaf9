#pragma once
// Page files are written beside their final name and renamed over it once
// complete: no reader ever sees half a file, an existing file of that name
// stays as it was when writing fails, and the failure carries the system's
// reason ("No space left on device"), which Qt's file classes lose when a
// write fails after a part of it went through.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <string>

namespace render::engine {

class FileBeside {
public:
    // Creates the temporary file beside `fileName`. Throws RenderError
    // ("cannot write "name": reason").
    explicit FileBeside(const QString& fileName);
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;
    // Removes the temporary file unless committed.
    ~FileBeside();

    // Appends `size` bytes; false when the system refused them (the reason
    // is kept for commit(), which then throws).
    bool write(const void* data, std::size_t size);
    // Flushes the file to the disk and renames it over the final name.
    // Throws RenderError with the first failure's reason.
    void commit();

private:
    [[noreturn]] void fail(int why);

    std::string m_name;  // as the caller spelt it, for texts
    std::string m_path;  // the final name's bytes
    std::string m_temporary;
    int m_fd = -1;
    int m_error = 0;
    bool m_committed = false;
};

// `bytes` as the whole content of `fileName`, through FileBeside.
void writeWholeFile(const QString& fileName, const QByteArray& bytes);

}  // namespace render::engine
