#pragma once
// JPEG writing: a page image saved so that no reader ever sees half a file.

#include <QImage>
#include <QString>

namespace render::engine {

// Writes `image` as JPEG of `quality` (0..100) to `fileName`. The file is
// replaced only when the whole image has been written; on failure an
// existing file of that name is left as it was. Throws RenderError with the
// file's name and the reason.
void writeJpeg(const QImage& image, const QString& fileName, int quality);

}  // namespace render::engine
