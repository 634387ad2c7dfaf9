#pragma once
// What the page-file and stamp tests load: documents from bytes, RTF on
// Letter paper with numbered paragraphs, and a picture of one colour; and
// the TIFF files they write, read back by libtiff.
#include "engine/paged_document.h"

#include <tiffio.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>
#include <vector>

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

// A page of a TIFF file as libtiff reads it.
struct TiffPage {
    std::uint16_t compression = 0;
    std::uint16_t bits = 0;
    std::uint16_t samples = 0;
    float xres = 0;
    float yres = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> rgba;  // bottom row first, as libtiff gives it

    // Whether the pixel at (x, y), counted from the top left, is black.
    bool ink(std::uint32_t x, std::uint32_t y) const {
        return TIFFGetR(rgba[std::size_t{height - 1 - y} * width + x]) == 0;
    }
};

// Every page of a TIFF file; none when it cannot be opened.
inline std::vector<TiffPage> readTiff(const QString& file) {
    std::vector<TiffPage> pages;
    TIFF* tiff = TIFFOpen(QFile::encodeName(file).constData(), "r");
    if (tiff == nullptr) {
        return pages;
    }
    do {
        TiffPage page;
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &page.bits);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &page.xres);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &page.yres);
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
        page.rgba.resize(std::size_t{page.width} * page.height);
        if (TIFFReadRGBAImage(tiff, page.width, page.height, page.rgba.data(), 0) == 0) {
            page.rgba.clear();
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tiff) != 0);
    TIFFClose(tiff);
    return pages;
}

}  // namespace render_test
