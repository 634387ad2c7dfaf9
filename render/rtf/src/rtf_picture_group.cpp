// The \pict groups of the RTF: their properties, their data (hex digits or
// \binN bytes) and the image they become, decoded when the group closes.

#include "parser.h"
#include "reader.h"

#include <QImage>
#include <QTextCursor>
#include <QTextFormat>
#include <QUrl>

#include <algorithm>

namespace rtf::detail {

void Parser::startPicture() {
    m_picture = PictureState{};
    m_picture.depth = m_stack.size();
    state().dest = Dest::Picture;
}

void Parser::handlePictureWord(Word word, const Token& token) {
    const int v = paramOf(token);
    switch (word) {
        case Word::PngBlip:
            m_picture.format = PictureFormat::Png;
            break;
        case Word::JpegBlip:
            m_picture.format = PictureFormat::Jpeg;
            break;
        case Word::EmfBlip:
            m_picture.format = PictureFormat::Emf;
            break;
        case Word::WMetafile:
            m_picture.format = PictureFormat::Wmf;
            break;
        case Word::DiBitmap:
            m_picture.format = PictureFormat::Dib;
            break;
        case Word::WBitmap:
            m_picture.format = PictureFormat::Ddb;
            break;
        case Word::OtherBlip:
            m_picture.format = PictureFormat::Unknown;
            break;
        case Word::PicW:
            m_picture.width = v;
            break;
        case Word::PicH:
            m_picture.height = v;
            break;
        case Word::PicWGoal:
            m_picture.goalWidth = v;
            break;
        case Word::PicHGoal:
            m_picture.goalHeight = v;
            break;
        case Word::PicScaleX:
            m_picture.scaleX = v;
            break;
        case Word::PicScaleY:
            m_picture.scaleY = v;
            break;
        default:
            break;
    }
}

// Picture data as hex digits; the line breaks and blanks between them do not
// count.
void Parser::addPictureHex(std::span<const std::uint8_t> text) {
    if (m_picture.tooLarge) {
        return;
    }
    for (const std::uint8_t c : text) {
        int v = -1;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        }
        if (v < 0) {
            continue;
        }
        if (m_picture.pendingNibble < 0) {
            m_picture.pendingNibble = v;
        } else {
            if (m_picture.data.size() >= kMaxPictureBytes) {
                m_picture.tooLarge = true;
                return;
            }
            m_picture.data.push_back(static_cast<std::uint8_t>(m_picture.pendingNibble * 16 + v));
            m_picture.pendingNibble = -1;
        }
    }
}

// \binN data goes in whole, or not at all past kMaxPictureBytes.
void Parser::addPictureBinary(std::span<const std::uint8_t> data) {
    if (m_picture.tooLarge) {
        return;
    }
    if (data.size() > kMaxPictureBytes - m_picture.data.size()) {
        m_picture.tooLarge = true;
    } else {
        m_picture.data.insert(m_picture.data.end(), data.begin(), data.end());
    }
}

void Parser::finishPicture() {
    PictureState pict = std::move(m_picture);
    m_picture = PictureState{};
    if (m_stack.empty() || state().chr.hidden) {
        return;
    }
    // Display size: \picwgoal/\pichgoal in twips, else \picw/\pich (pixels
    // for bitmaps, 0.01 mm for metafiles), scaled by \picscalex/\picscaley.
    const bool metafile = pict.format == PictureFormat::Emf || pict.format == PictureFormat::Wmf;
    auto natural = [&](int goal, int size) -> qreal {
        if (goal > 0) {
            return px(goal);
        }
        if (size > 0) {
            return metafile ? size * 96.0 / 2540.0 : size;
        }
        return 0;
    };
    qreal width = natural(pict.goalWidth, pict.width);
    qreal height = natural(pict.goalHeight, pict.height);

    QImage image;
    std::string why;
    if (pict.tooLarge || m_pictureBytes > kMaxTotalPictureBytes -
                                              std::min(pict.data.size(), kMaxTotalPictureBytes)) {
        why = "picture data exceeds the size limit";
    } else {
        m_pictureBytes += pict.data.size();
        switch (pict.format) {
            case PictureFormat::Png:
            case PictureFormat::Jpeg:
            case PictureFormat::Unknown:
                image = decodeImage(pict.data, &why, m_pixels);
                break;
            case PictureFormat::Dib: {
                const std::vector<std::uint8_t> bmp = dibToBmp(pict.data);
                image = bmp.empty() ? QImage() : decodeImage(bmp, &why, m_pixels);
                if (bmp.empty()) {
                    why = "device-independent bitmap header is malformed";
                }
                break;
            }
            case PictureFormat::Emf:
            case PictureFormat::Wmf: {
                const std::vector<std::uint8_t> bmp = metafileBitmap(pict.format, pict.data);
                if (!bmp.empty()) {
                    image = decodeImage(bmp, &why, m_pixels);
                } else {
                    why = "metafile picture without an embedded bitmap is shown as a box";
                }
                break;
            }
            case PictureFormat::Ddb:
                why = "device-dependent bitmap is shown as a box";
                break;
        }
    }
    if (!image.isNull()) {
        if (width <= 0 || height <= 0) {
            width = image.width();
            height = image.height();
        }
    }
    width = width * std::clamp(pict.scaleX > 0 ? pict.scaleX : 100, 1, 1000) / 100.0;
    height = height * std::clamp(pict.scaleY > 0 ? pict.scaleY : 100, 1, 1000) / 100.0;
    if (width <= 0 || height <= 0) {
        width = 96;
        height = 96;
    }
    if (image.isNull()) {
        warn(why);
        image = placeholderImage(static_cast<int>(width), static_cast<int>(height), QString(),
                                 m_pixels);
    }
    insertImage(image, width, height);
}

void Parser::insertImage(const QImage& image, qreal width, qreal height) {
    // Never wider than the text area; keep the aspect ratio.
    const qreal maxWidth = textWidthPixels(m_result.page);
    if (width > maxWidth) {
        height = height * maxWidth / width;
        width = maxWidth;
    }
    const QString name = QStringLiteral("rtf-image:%1").arg(++m_imageCount);
    m_doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.merge(charFormat());
    format.setName(name);
    format.setWidth(width);
    format.setHeight(height);
    Sink sink = currentSink();
    sink.cursor->insertImage(format);
    if (!m_tables.empty()) {
        m_tables.back().cellHasContent = true;
    }
}

}  // namespace rtf::detail
