// TiffFile: pages through libtiff (Qt's TIFF writer has no Group 4), made in
// memory and written whole: a bilevel page in CCITT Group 4 is tens of
// kilobytes at 300 dpi, a page in colour a JPEG of its own.

#include "engine/page_file.h"

#include "file_beside.h"

#include <QImage>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace render::engine {

namespace {

// libtiff's output, in memory: a file it may seek in and read back.
struct MemoryFile {
    std::vector<unsigned char> bytes;
    std::uint64_t position = 0;
};

tmsize_t readMemory(thandle_t handle, void* data, tmsize_t size) {
    auto& file = *static_cast<MemoryFile*>(handle);
    if (size < 0 || file.position >= file.bytes.size()) {
        return 0;
    }
    const auto count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size),
                                               file.bytes.size() - file.position);
    std::memcpy(data, file.bytes.data() + file.position, count);
    file.position += count;
    return static_cast<tmsize_t>(count);
}

// The largest TIFF libtiff writes without BigTIFF.
constexpr std::uint64_t kMaxTiffBytes = std::numeric_limits<std::uint32_t>::max();

tmsize_t writeMemory(thandle_t handle, void* data, tmsize_t size) {
    auto& file = *static_cast<MemoryFile*>(handle);
    if (size < 0 || file.position + static_cast<std::uint64_t>(size) > kMaxTiffBytes) {
        return -1;
    }
    const auto end = file.position + static_cast<std::uint64_t>(size);
    if (end > file.bytes.size()) {
        file.bytes.resize(end);
    }
    std::memcpy(file.bytes.data() + file.position, data, static_cast<std::size_t>(size));
    file.position = end;
    return size;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    auto& file = *static_cast<MemoryFile*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = file.position;
    } else if (whence == SEEK_END) {
        base = file.bytes.size();
    }
    const std::uint64_t target = base + offset;
    if (target > kMaxTiffBytes) {
        return static_cast<toff_t>(-1);
    }
    file.position = target;
    return file.position;
}

int closeMemory(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->bytes.size();
}

int mapMemory(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapMemory(thandle_t, void*, toff_t) {}

// libtiff's last complaint, for the failure's text.
std::string g_tiffError;

void keepTiffError(const char* module, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    g_tiffError = (module != nullptr ? std::string(module) + ": " : std::string()) + text;
}

bool allGrey(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

struct TiffFile::State {
    QString fileName;
    TiffColour colour = TiffColour::Auto;
    int quality = 80;
    MemoryFile memory;
    TIFF* tiff = nullptr;
    int pages = 0;

    [[noreturn]] void fail(const std::string& what) const {
        throw RenderError("cannot write the TIFF file \"" + fileName.toStdString() + "\": " + what +
                          (g_tiffError.empty() ? std::string() : " (" + g_tiffError + ")"));
    }
};

TiffFile::TiffFile(const QString& fileName, TiffColour colour, int jpegQuality)
    : m_state(std::make_unique<State>()) {
    if (jpegQuality < 1 || jpegQuality > 100) {
        throw RenderError("JPEG quality " + std::to_string(jpegQuality) + " is outside 1..100");
    }
    State& s = *m_state;
    s.fileName = fileName;
    s.colour = colour;
    s.quality = jpegQuality;
    TIFFSetErrorHandler(keepTiffError);
    TIFFSetWarningHandler(nullptr);
    g_tiffError.clear();
    s.tiff = TIFFClientOpen("page file", "w", &s.memory, readMemory, writeMemory, seekMemory,
                            closeMemory, sizeOfMemory, mapMemory, unmapMemory);
    if (s.tiff == nullptr) {
        s.fail("libtiff cannot start it");
    }
}

TiffFile::~TiffFile() {
    if (m_state->tiff != nullptr) {
        TIFFClose(m_state->tiff);
    }
}

void TiffFile::add(const PagedDocument& document, int pageIndex, int dpi) {
    State& s = *m_state;
    const QImage page = document.renderPage(pageIndex, dpi).convertToFormat(QImage::Format_RGB32);
    const bool bilevel =
        s.colour == TiffColour::Never || (s.colour == TiffColour::Auto && allGrey(page));
    TIFF* tiff = s.tiff;
    const auto width = static_cast<std::uint32_t>(page.width());
    const auto height = static_cast<std::uint32_t>(page.height());
    g_tiffError.clear();
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, "Orvaline");
    TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(s.pages), std::uint16_t{0});
    bool written = true;
    if (bilevel) {
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
        std::vector<unsigned char> row((width + 7) / 8);
        for (std::uint32_t y = 0; y < height && written; ++y) {
            const auto* pixels =
                reinterpret_cast<const QRgb*>(page.constScanLine(static_cast<int>(y)));
            std::fill(row.begin(), row.end(), 0);
            for (std::uint32_t x = 0; x < width; ++x) {
                // Dark is ink: a 1 bit in min-is-white.
                if (qGray(pixels[x]) < 128) {
                    row[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
                }
            }
            written = TIFFWriteScanline(tiff, row.data(), y, 0) >= 0;
        }
    } else {
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, s.quality);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64);
        const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
        for (std::uint32_t y = 0; y < height && written; ++y) {
            written =
                TIFFWriteScanline(tiff, const_cast<uchar*>(rgb.constScanLine(static_cast<int>(y))),
                                  y, 0) >= 0;
        }
    }
    if (!written || TIFFWriteDirectory(tiff) == 0) {
        s.fail("page " + std::to_string(s.pages + 1) + " was refused");
    }
    ++s.pages;
}

int TiffFile::pages() const {
    return m_state->pages;
}

void TiffFile::finish() {
    State& s = *m_state;
    if (s.pages == 0) {
        s.fail("it has no pages");
    }
    TIFFClose(s.tiff);
    s.tiff = nullptr;
    writeWholeFile(s.fileName, QByteArray(reinterpret_cast<const char*>(s.memory.bytes.data()),
                                          static_cast<qsizetype>(s.memory.bytes.size())));
}

}  // namespace render::engine
