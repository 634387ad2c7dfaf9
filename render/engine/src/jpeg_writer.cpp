#include "jpeg_writer.h"

#include "engine/paged_document.h"

#include <QImageWriter>
#include <QSaveFile>

namespace render::engine {

void writeJpeg(const QImage& image, const QString& fileName, int quality) {
    const std::string name = fileName.toStdString();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        throw RenderError("cannot write \"" + name + "\": " + file.errorString().toStdString());
    }
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image)) {
        file.cancelWriting();
        throw RenderError("cannot write JPEG \"" + name +
                          "\": " + writer.errorString().toStdString());
    }
    if (!file.commit()) {
        throw RenderError("cannot write \"" + name + "\": " + file.errorString().toStdString());
    }
}

}  // namespace render::engine
