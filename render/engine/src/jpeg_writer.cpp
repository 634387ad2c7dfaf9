#include "jpeg_writer.h"

#include "engine/paged_document.h"
#include "file_beside.h"

#include <QBuffer>
#include <QImageWriter>

namespace render::engine {

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
    writeWholeFile(fileName, bytes);
}

}  // namespace render::engine
