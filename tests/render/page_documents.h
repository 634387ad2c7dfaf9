#pragma once
// What the page-file and stamp tests load: documents from bytes, RTF on
// Letter paper with numbered paragraphs, and a picture of one colour.
#include "engine/paged_document.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>

namespace render_test {

inline std::span<const std::uint8_t> span(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

inline render::engine::PagedDocument load(const QByteArray& bytes,
                                          render::engine::LoadOptions options = {}) {
    return render::engine::PagedDocument::load(span(bytes), {}, options);
}

// RTF on Letter paper (1-inch margins) with `paragraphs` numbered paragraphs
// of words.
inline QByteArray letterRtf(int paragraphs) {
    QByteArray rtf = "{\\rtf1\\ansi\\paperw12240\\paperh15840{\\fonttbl{\\f0 Arial;}}\\f0\\fs24 ";
    for (int i = 1; i <= paragraphs; ++i) {
        rtf += "Paragraph " + QByteArray::number(i) + " alpha bravo charlie\\par ";
    }
    return rtf + "}";
}

// A PNG picture of `size` in one colour.
inline QByteArray picture(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

}  // namespace render_test
