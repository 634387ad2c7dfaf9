#include "picture_pages.h"

#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace render::engine {

namespace {

// The formats shown, by the name of Qt's reader. The readers of other
// formats (icons, TGA, MNG, ...) are never given the bytes.
const QList<QByteArray>& shownFormats() {
    static const QList<QByteArray> kFormats = {"jpeg", "png", "gif", "bmp", "tiff", "webp"};
    return kFormats;
}

QByteArray formatOf(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QByteArray format = QImageReader::imageFormat(&buffer).toLower();
    if (format == "jpg") {
        format = "jpeg";
    } else if (format == "tif") {
        format = "tiff";
    }
    return shownFormats().contains(format) ? format : QByteArray();
}

// A frame as its header describes it.
struct Frame {
    QSize stored;                          // pixels as stored
    bool turned = false;                   // shown a quarter turn from how it is stored
    QSizeF dpi{kDefaultDpi, kDefaultDpi};  // recorded, as shown
    QSizeF shown;                          // pixels of 96 dpi as drawn
    QSize own() const { return turned ? stored.transposed() : stored; }
};

// The resolution a decoded frame records (as shown), or 96 dpi for none or
// an implausible one. Qt gives a picture that records none the resolution
// of a new image.
QSizeF recordedDpi(const QImage& image, bool turned) {
    static const int kUnset = QImage(1, 1, QImage::Format_RGB32).dotsPerMeterX();
    const QSizeF none(kDefaultDpi, kDefaultDpi);
    if (image.dotsPerMeterX() == kUnset && image.dotsPerMeterY() == kUnset) {
        return none;
    }
    const QSizeF dpi(image.dotsPerMeterX() * 0.0254, image.dotsPerMeterY() * 0.0254);
    const auto plausible = [](double v) { return v >= kMinPictureDpi && v <= kMaxPictureDpi; };
    if (!plausible(dpi.width()) || !plausible(dpi.height())) {
        return none;
    }
    return turned ? dpi.transposed() : dpi;
}

// The frame drawn at `device` pixels needs this many of its own: no more
// than it has.
QSize pixelsFor(const Frame& frame, QSize device) {
    const QSize own = frame.own();
    const double factor = std::min({1.0, own.width() / static_cast<double>(device.width()),
                                    own.height() / static_cast<double>(device.height())});
    return {std::max(1, static_cast<int>(std::lround(device.width() * factor))),
            std::max(1, static_cast<int>(std::lround(device.height() * factor)))};
}

class PictureContent : public PageContent {
public:
    PictureContent(QByteArray bytes, QByteArray format)
        : m_bytes(std::move(bytes)), m_format(std::move(format)) {}

    QImage render(int index, QSize device, int dpi, QString& why) const override {
        const auto at = static_cast<std::size_t>(index);
        if (at >= frames.size()) {
            why = QStringLiteral("the frame cannot be found in the file");
            return {};
        }
        const QSize wanted = pixelsFor(frames[at], device);
        if (dpi == kDefaultDpi && !kept[at].isNull() && kept[at].size() == wanted) {
            return kept[at];
        }
        return decode(index, wanted, why);
    }

    // Reads frame `index`'s header into frames[index]; returns why it
    // cannot be decoded, or "".
    QString readHeader(int index) {
        Frame& frame = frames[static_cast<std::size_t>(index)];
        QImageReader* reader = readerAt(index);
        if (reader == nullptr) {
            return QStringLiteral("the frame cannot be found in the file");
        }
        frame.stored = reader->size();
        if (!frame.stored.isValid() || frame.stored.isEmpty()) {
            QString why = QStringLiteral("its size cannot be read (%1)").arg(reader->errorString());
            m_reader.reset();
            return why;
        }
        const long long pixels =
            static_cast<long long>(frame.stored.width()) * frame.stored.height();
        if (pixels > kMaxPicturePixels) {
            return QStringLiteral(
                       "the picture is %1 x %2 pixels (%3 megapixels); pictures of more than %4 "
                       "megapixels are not decoded")
                .arg(frame.stored.width())
                .arg(frame.stored.height())
                .arg(static_cast<double>(pixels) / 1e6, 0, 'f', 1)
                .arg(kMaxPicturePixels / 1'000'000);
        }
        frame.turned = reader->transformation().testFlag(QImageIOHandler::TransformationRotate90);
        return {};
    }

    // Decodes frame `index` (its header read) for its room at 96 dpi: its
    // shown size, and the image kept when `keep`. Returns why it cannot be
    // shown, or "".
    QString load(int index, QSizeF room, bool keep) {
        Frame& frame = frames[static_cast<std::size_t>(index)];
        // First as if its pixels were 96 dpi; the image says what it records.
        QSizeF shown = fitWithin(QSizeF(frame.own()), room);
        if (shown.isEmpty()) {
            return QStringLiteral("there is no room for it on the page");
        }
        QString why;
        QImage image = decode(index, pixelsFor(frame, deviceSize(shown, kDefaultDpi)), why);
        if (image.isNull()) {
            return why;
        }
        frame.dpi = recordedDpi(image, frame.turned);
        const QSizeF physical(frame.own().width() * kDefaultDpi / frame.dpi.width(),
                              frame.own().height() * kDefaultDpi / frame.dpi.height());
        frame.shown = fitWithin(physical, room);
        if (!keep) {
            return {};
        }
        const QSize wanted = pixelsFor(frame, deviceSize(frame.shown, kDefaultDpi));
        if (image.size() != wanted) {
            image = image.width() >= wanted.width() && image.height() >= wanted.height()
                        ? image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        : decode(index, wanted, why);
        }
        kept[static_cast<std::size_t>(index)] = std::move(image);
        return {};
    }

    std::vector<Frame> frames;
    std::vector<QImage> kept;  // a frame as drawn at 96 dpi, while they fit the budget

private:
    // A reader at frame `index`, orientation applied; nullptr when the
    // file has no such frame. Frames are read in order: the reader moves on
    // from the frame before (a TIFF's directories are a chain, which a
    // jump walks from the start), and starts again only to go back or to
    // read a frame once more.
    QImageReader* readerAt(int index) const {
        if (m_reader && (m_at > index || (m_at == index && m_consumed))) {
            m_reader.reset();
        }
        if (!m_reader) {
            m_reader = std::make_unique<Reader>();
            m_reader->buffer.setData(m_bytes);
            m_reader->buffer.open(QIODevice::ReadOnly);
            m_reader->reader.setDevice(&m_reader->buffer);
            m_reader->reader.setFormat(m_format);
            m_reader->reader.setAutoTransform(true);
            // The TIFF reader counts its frames once, from the start of the
            // bytes: before anything is read, or it starts counting where
            // the reading stopped.
            if (m_format == "tiff") {
                m_reader->reader.imageCount();
            }
            m_at = 0;
            m_consumed = false;
            if (index > 0 && !m_reader->reader.jumpToImage(index)) {
                m_reader.reset();
                return nullptr;
            }
            m_at = index;
        }
        while (m_at < index) {
            if (!m_reader->reader.jumpToNextImage()) {
                m_reader.reset();
                return nullptr;
            }
            ++m_at;
            m_consumed = false;
        }
        return &m_reader->reader;
    }

    // Frame `index` decoded at `wanted` pixels (as shown), or a null image
    // and the reader's reason.
    QImage decode(int index, QSize wanted, QString& why) const {
        QImageReader::setAllocationLimit(kMaxPictureAllocationMiB);
        const Frame& frame = frames[static_cast<std::size_t>(index)];
        QImageReader* reader = readerAt(index);
        if (reader == nullptr) {
            why = QStringLiteral("the frame cannot be found in the file");
            return {};
        }
        // JPEG is decoded at the size asked (its decoder scales by 1/2, 1/4
        // or 1/8 as it goes); other formats whole, then scaled. Qt's PNG
        // reader would also scale the resolution it records, which must stay
        // the file's.
        if (m_format == "jpeg" && wanted != frame.own()) {
            reader->setScaledSize(frame.turned ? wanted.transposed() : wanted);
        } else {
            reader->setScaledSize(QSize());
        }
        QImage image = reader->read();
        m_consumed = true;
        if (image.isNull()) {
            why = QStringLiteral("it cannot be decoded (%1)").arg(reader->errorString());
            // A reader that failed has closed the file: the next frame
            // starts afresh.
            m_reader.reset();
            return image;
        }
        if (image.size() != wanted) {
            image = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        return image;
    }

    struct Reader {
        QBuffer buffer;
        QImageReader reader;
    };
    QByteArray m_bytes;
    QByteArray m_format;
    mutable std::unique_ptr<Reader> m_reader;
    mutable int m_at = 0;             // the frame m_reader is at
    mutable bool m_consumed = false;  // whether it has been read
};

}  // namespace

ContentPages readPicture(const QByteArray& bytes, const RoomFor& roomFor,
                         std::vector<std::string>& warnings) {
    ContentPages result;
    const QByteArray format = formatOf(bytes);
    if (format.isEmpty()) {
        result.refusal = QStringLiteral(
            "the bytes are not a picture in a format the renderer reads (JPEG, PNG, GIF, BMP, "
            "TIFF, WebP)");
        return result;
    }
    int frames = 1;
    if (format == "tiff") {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        frames = std::max(1, QImageReader(&buffer, format).imageCount());
    }
    auto content = std::make_unique<PictureContent>(bytes, format);
    result.total = frames;
    const int shown = std::min(frames, kMaxPages);
    content->frames.resize(static_cast<std::size_t>(shown));
    content->kept.resize(static_cast<std::size_t>(shown));
    long long keptBytes = 0;
    std::vector<std::string> failures;
    QString firstFailure;
    bool anyShown = false;
    for (int i = 0; i < shown; ++i) {
        ContentPage page;
        page.failure = content->readHeader(i);
        if (page.failure.isEmpty()) {
            const Frame& frame = content->frames[static_cast<std::size_t>(i)];
            const QSizeF room = roomFor(i);
            const QSize device = deviceSize(fitWithin(QSizeF(frame.own()), room), kDefaultDpi);
            const long long bytesKept = 4LL * device.width() * device.height();
            // Frames are kept from the first while they fit the budget.
            const bool keep = keptBytes + bytesKept <= kMaxKeptPictureBytes;
            page.failure = content->load(i, room, keep);
            if (page.failure.isEmpty()) {
                keptBytes += keep ? bytesKept : 0;
                page.shown = frame.shown;
            }
        }
        if (!page.failure.isEmpty()) {
            if (firstFailure.isEmpty()) {
                firstFailure = page.failure;
            }
            const QString what = frames > 1 ? QStringLiteral("page %1 of the picture").arg(i + 1)
                                            : QStringLiteral("the picture");
            failures.push_back(
                (what + QStringLiteral(" is not shown: ") + page.failure).toStdString());
        } else {
            anyShown = true;
        }
        result.pages.push_back(std::move(page));
    }
    if (!anyShown) {
        // Nothing to show: one placeholder page instead, its reason the
        // first frame's.
        result.refusal = firstFailure;
        result.pages.clear();
        return result;
    }
    warnings.insert(warnings.end(), failures.begin(), failures.end());
    result.content = std::move(content);
    return result;
}

}  // namespace render::engine
