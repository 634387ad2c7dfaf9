#pragma once
// Page files are written whole or not at all (common/file_writing.h); the
// engine's failures are RenderError with the same text.

#include <QByteArray>
#include <QString>

namespace render::engine {

// `bytes` as the whole content of `fileName`. Throws RenderError ("cannot
// write "name": reason").
void writeWholeFile(const QString& fileName, const QByteArray& bytes);

}  // namespace render::engine
