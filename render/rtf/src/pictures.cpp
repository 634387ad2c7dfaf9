#include "pictures.h"

#include <common/byte_reader.h>
#include <rtf/rtf_reader.h>

#include <QBuffer>
#include <QFontMetrics>
#include <QImageReader>
#include <QPainter>

#include <algorithm>

namespace rtf::detail {
namespace {

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrBitBlt = 76;
constexpr std::uint32_t kEmrStretchBlt = 77;
constexpr std::uint32_t kEmrSetDiBitsToDevice = 80;
constexpr std::uint32_t kEmrStretchDiBits = 81;
constexpr std::uint32_t kWmfPlaceableKey = 0x9AC6CDD7;
constexpr std::uint16_t kMetaStretchDib = 0x0F43;
constexpr std::uint16_t kMetaDibStretchBlt = 0x0B41;
constexpr std::uint16_t kMetaDibBitBlt = 0x0940;
constexpr std::uint16_t kMetaSetDibToDev = 0x0D33;
constexpr std::uint16_t kMetaEof = 0x0000;
// Largest number of metafile records looked at; more only costs time.
constexpr std::size_t kMaxMetafileRecords = 200000;

void keepLarger(std::vector<std::uint8_t>& best, std::span<const std::uint8_t> dib) {
    std::vector<std::uint8_t> bmp = dibToBmp(dib);
    if (bmp.size() > best.size()) {
        best = std::move(bmp);
    }
}

// [MS-EMF] 2.3.1: bitmap records carry offsets of the BITMAPINFO and of
// the bits, relative to the record's start.
void emfBitmaps(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& best) {
    common::ByteReader reader(data);
    for (std::size_t n = 0; n < kMaxMetafileRecords && reader.remaining() >= 8; ++n) {
        const std::size_t start = reader.position();
        const std::uint32_t type = reader.readU32();
        const std::uint32_t size = reader.readU32();
        if (size < 8 || size % 4 != 0 || size > reader.remaining() + 8) {
            return;
        }
        if ((n == 0 && type != kEmrHeader) || type == kEmrEof) {
            return;
        }
        std::size_t offsetField = 0;
        if (type == kEmrStretchDiBits || type == kEmrSetDiBitsToDevice) {
            offsetField = 48;
        } else if (type == kEmrBitBlt || type == kEmrStretchBlt) {
            offsetField = 84;
        }
        auto record = data.subspan(start, size);
        if (offsetField != 0 && record.size() >= offsetField + 16) {
            common::ByteReader fields(record);
            fields.seek(offsetField);
            const std::uint32_t offBmi = fields.readU32();
            const std::uint32_t cbBmi = fields.readU32();
            const std::uint32_t offBits = fields.readU32();
            const std::uint32_t cbBits = fields.readU32();
            if (cbBmi != 0 && offBmi <= record.size() && cbBmi <= record.size() - offBmi &&
                offBits <= record.size() && cbBits <= record.size() - offBits &&
                offBits >= offBmi + cbBmi) {
                // The DIB is header then bits; they may have a gap between them.
                std::vector<std::uint8_t> dib(record.begin() + offBmi,
                                              record.begin() + offBmi + cbBmi);
                dib.insert(dib.end(), record.begin() + offBits, record.begin() + offBits + cbBits);
                keepLarger(best, dib);
            }
        }
        reader.seek(start + size);
    }
}

// [MS-WMF] 2.3: records are sized in 16-bit words; the DIB sits after the
// fixed parameters of the bitmap records.
void wmfBitmaps(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& best) {
    common::ByteReader reader(data);
    if (reader.remaining() >= 22) {
        if (reader.readU32() == kWmfPlaceableKey) {
            reader.seek(22);
        } else {
            reader.seek(0);
        }
    }
    if (reader.remaining() < 18) {
        return;
    }
    const std::size_t headerStart = reader.position();
    reader.skip(2);
    const std::uint16_t headerWords = reader.readU16();
    if (headerWords < 9) {
        return;
    }
    reader.seek(headerStart);
    if (std::size_t{headerWords} * 2 > reader.remaining()) {
        return;
    }
    reader.skip(std::size_t{headerWords} * 2);
    for (std::size_t n = 0; n < kMaxMetafileRecords && reader.remaining() >= 6; ++n) {
        const std::size_t start = reader.position();
        const std::uint32_t words = reader.readU32();
        const std::uint16_t function = reader.readU16();
        if (words < 3 || words > reader.remaining() / 2 + 3 || function == kMetaEof) {
            return;
        }
        const std::size_t size = std::size_t{words} * 2;
        std::size_t dibOffset = 0;
        switch (function) {
            case kMetaStretchDib:
                dibOffset = 28;
                break;
            case kMetaDibStretchBlt:
                dibOffset = 26;
                break;
            case kMetaDibBitBlt:
                dibOffset = 22;
                break;
            case kMetaSetDibToDev:
                dibOffset = 24;
                break;
            default:
                break;
        }
        if (dibOffset != 0 && size > dibOffset) {
            keepLarger(best, data.subspan(start + dibOffset, size - dibOffset));
        }
        reader.seek(start + size);
    }
}

}  // namespace

QImage decodeImage(std::span<const std::uint8_t> data, std::string* why, PixelBudget& budget) {
    const std::int64_t limit = std::min(kMaxPicturePixels, budget.left);
    QByteArray bytes(reinterpret_cast<const char*>(data.data()),
                     static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::int64_t{size.width()} * std::int64_t{size.height()} > limit) {
        *why = "picture of " + std::to_string(size.width()) + "x" + std::to_string(size.height()) +
               " pixels exceeds the picture limit";
        return {};
    }
    QImage image = reader.read();
    if (image.isNull()) {
        *why = "picture could not be decoded (" + reader.errorString().toStdString() + ")";
        return {};
    }
    const std::int64_t pixels = std::int64_t{image.width()} * std::int64_t{image.height()};
    if (pixels > limit) {  // formats that do not tell their size before decoding
        *why = "picture exceeds the picture limit";
        return {};
    }
    budget.left -= pixels;
    return image;
}

std::vector<std::uint8_t> dibToBmp(std::span<const std::uint8_t> dib) {
    try {
        common::ByteReader reader(dib);
        const std::uint32_t headerSize = reader.readU32();
        if (headerSize < 12 || headerSize > dib.size()) {
            return {};
        }
        std::size_t paletteBytes = 0;
        if (headerSize == 12) {  // BITMAPCOREHEADER
            reader.seek(10);
            const std::uint16_t bits = reader.readU16();
            paletteBytes = bits <= 8 ? (std::size_t{1} << bits) * 3 : 0;
        } else if (headerSize >= 40) {
            reader.seek(14);
            const std::uint16_t bits = reader.readU16();
            const std::uint32_t compression = reader.readU32();
            reader.seek(32);
            const std::uint32_t used = reader.readU32();
            std::size_t entries = used != 0 ? used : (bits <= 8 ? std::size_t{1} << bits : 0);
            if (entries > 256 && bits <= 8) {
                entries = 256;
            }
            paletteBytes = entries * 4;
            if (headerSize == 40 && (compression == 3 || compression == 6)) {
                paletteBytes += compression == 3 ? 12 : 16;  // BI_BITFIELDS masks
            }
        } else {
            return {};
        }
        if (paletteBytes > dib.size() - headerSize) {
            return {};
        }
        const std::size_t fileSize = 14 + dib.size();
        const std::size_t bitsOffset = 14 + headerSize + paletteBytes;
        if (fileSize > 0xFFFFFFFFu) {
            return {};
        }
        std::vector<std::uint8_t> bmp;
        bmp.reserve(fileSize);
        auto put32 = [&bmp](std::size_t v) {
            for (int i = 0; i < 4; ++i) {
                bmp.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
            }
        };
        bmp.push_back('B');
        bmp.push_back('M');
        put32(fileSize);
        put32(0);
        put32(bitsOffset);
        bmp.insert(bmp.end(), dib.begin(), dib.end());
        return bmp;
    } catch (const common::FormatError&) {
        return {};
    }
}

std::vector<std::uint8_t> metafileBitmap(PictureFormat format, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> best;
    try {
        if (format == PictureFormat::Emf) {
            emfBitmaps(data, best);
        } else if (format == PictureFormat::Wmf) {
            wmfBitmaps(data, best);
        }
    } catch (const common::FormatError&) {
        // A damaged record ends the walk; what was found so far stands.
    }
    return best;
}

namespace {

QFont placeholderFont(int pixelSize) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixelSize);
    return font;
}

}  // namespace

QSize placeholderLabelSize(const QString& label, int maxWidth) {
    const QFontMetrics metrics(placeholderFont(12));
    const int width = std::clamp(metrics.horizontalAdvance(label) + 12, 24, std::max(24, maxWidth));
    const QRect text = metrics.boundingRect(QRect(0, 0, width - 8, 1000),
                                            Qt::AlignCenter | Qt::TextWordWrap, label);
    return {width, std::clamp(text.height() + 10, 22, 200)};
}

QImage placeholderImage(int width, int height, const QString& label, PixelBudget& budget) {
    // Drawn at its display size, but never larger than a page would show,
    // and smaller still when the document's picture budget runs short.
    int w = std::clamp(width, 8, kMaxPlaceholderEdge);
    int h = std::clamp(height, 8, kMaxPlaceholderEdge);
    const std::int64_t allowed = std::max(budget.left, kMinPlaceholderPixels);
    while (std::int64_t{w} * h > allowed && (w > 8 || h > 8)) {
        w = std::max(8, w / 2);
        h = std::max(8, h / 2);
    }
    budget.left -= std::int64_t{w} * h;
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(0xF2, 0xF2, 0xF2));
    QPainter painter(&image);
    painter.setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 1));
    painter.drawRect(0, 0, w - 1, h - 1);
    if (!label.isEmpty() && w > 16 && h > 12) {
        painter.setFont(placeholderFont(std::clamp(h - 8, 8, 12)));
        painter.setPen(QColor(0x60, 0x60, 0x60));
        painter.drawText(QRect(4, 2, w - 8, h - 4), Qt::AlignCenter | Qt::TextWordWrap, label);
    }
    return image;
}

}  // namespace rtf::detail
