#include "file_beside.h"

#include "engine/paged_document.h"

#include <common/file_writing.h>

#include <QFile>

namespace render::engine {

void writeWholeFile(const QString& fileName, const QByteArray& bytes) {
    try {
        common::writeWholeFile(
            QFile::encodeName(fileName).toStdString(),
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    } catch (const common::FileWriteError& e) {
        throw RenderError(e.what());
    }
}

}  // namespace render::engine
