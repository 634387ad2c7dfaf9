#include "picture_pages.h"

#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <utility>

namespace render::engine {

namespace {

// The formats shown, by the name of Qt's reader. The readers of other
// formats (icons, TGA, MNG, ...) are never given the bytes.
const QList<QByteArray>& shownFormats() {
    static const QList<QByteArray> kFormats = {"jpeg", "png", "gif", "bmp", "tiff", "webp"};
    return kFormats;
}

// A reader of one frame over the bytes, orientation applied.
struct FrameReader {
    QBuffer buffer;
    QImageReader reader;
    FrameReader(const QByteArray& bytes, const QByteArray& format, int index) {
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat(format);
        reader.setAutoTransform(true);
        m_found = index == 0 || reader.jumpToImage(index);
    }
    bool found() const { return m_found; }

private:
    bool m_found = true;
};

// A frame as its header describes it.
struct Frame {
    QSize stored;                          // pixels as stored
    bool turned = false;                   // shown a quarter turn from how it is stored
    QSizeF dpi{kDefaultDpi, kDefaultDpi};  // recorded, as shown
    QSizeF shown;                          // pixels of 96 dpi as drawn at the first decode
    QSize own() const { return turned ? stored.transposed() : stored; }
};

QString pixelText(QSize size) {
    return QStringLiteral("%1 x %2 pixels").arg(size.width()).arg(size.height());
}

// The frame's header, or why it cannot be decoded.
QString readHeader(const QByteArray& bytes, const QByteArray& format, int index, Frame& frame) {
    FrameReader r(bytes, format, index);
    if (!r.found()) {
        return QStringLiteral("the frame cannot be found in the file");
    }
    frame.stored = r.reader.size();
    if (!frame.stored.isValid() || frame.stored.isEmpty()) {
        return QStringLiteral("its size cannot be read (%1)").arg(r.reader.errorString());
    }
    const long long pixels = static_cast<long long>(frame.stored.width()) * frame.stored.height();
    if (pixels > kMaxPicturePixels) {
        return QStringLiteral(
                   "the picture is %1 (%2 megapixels); pictures of more than %3 "
                   "megapixels are not decoded")
            .arg(pixelText(frame.stored))
            .arg(static_cast<double>(pixels) / 1e6, 0, 'f', 1)
            .arg(kMaxPicturePixels / 1'000'000);
    }
    frame.turned = r.reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    return {};
}

// Frame `index` decoded at `wanted` pixels (as shown), or a null image and
// the reader's reason.
QImage decodeFrame(const QByteArray& bytes, const QByteArray& format, int index, const Frame& frame,
                   QSize wanted, QString& why) {
    QImageReader::setAllocationLimit(kMaxPictureAllocationMiB);
    FrameReader r(bytes, format, index);
    if (!r.found()) {
        why = QStringLiteral("the frame cannot be found in the file");
        return {};
    }
    // JPEG is decoded at the size asked (its decoder scales by 1/2, 1/4 or
    // 1/8 as it goes); other formats whole, then scaled. Qt's PNG reader
    // would also scale the resolution it records, which must stay the
    // file's.
    const bool scaledRead = format == "jpeg";
    if (scaledRead && wanted != frame.own()) {
        r.reader.setScaledSize(frame.turned ? wanted.transposed() : wanted);
    }
    QImage image = r.reader.read();
    if (image.isNull()) {
        why = QStringLiteral("it cannot be decoded (%1)").arg(r.reader.errorString());
        return image;
    }
    if (image.size() != wanted) {
        image = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return image;
}

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
        return decodeFrame(m_bytes, m_format, index, frames[at], wanted, why);
    }

    // Decodes frame `index` for its room at 96 dpi: its shown size, and the
    // image kept when `keep`. Returns why it cannot be shown, or "".
    QString load(int index, QSizeF room, bool keep) {
        Frame& frame = frames[static_cast<std::size_t>(index)];
        // First as if its pixels were 96 dpi; the image says what it records.
        QSizeF shown = fitWithin(QSizeF(frame.own()), room);
        if (shown.isEmpty()) {
            return QStringLiteral("there is no room for it on the page");
        }
        QString why;
        QImage image = decodeFrame(m_bytes, m_format, index, frame,
                                   pixelsFor(frame, deviceSize(shown, 96)), why);
        if (image.isNull()) {
            return why;
        }
        frame.dpi = recordedDpi(image, frame.turned);
        const QSizeF physical(frame.own().width() * kDefaultDpi / frame.dpi.width(),
                              frame.own().height() * kDefaultDpi / frame.dpi.height());
        shown = fitWithin(physical, room);
        frame.shown = shown;
        if (!keep) {
            return {};
        }
        const QSize wanted = pixelsFor(frame, deviceSize(shown, kDefaultDpi));
        if (image.size() != wanted) {
            image = image.width() >= wanted.width() && image.height() >= wanted.height()
                        ? image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        : decodeFrame(m_bytes, m_format, index, frame, wanted, why);
        }
        kept[static_cast<std::size_t>(index)] = std::move(image);
        return {};
    }

    std::vector<Frame> frames;
    std::vector<QImage> kept;  // a frame as drawn at 96 dpi, while they fit the budget

private:
    QByteArray m_bytes;
    QByteArray m_format;
};

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
        FrameReader r(bytes, format, 0);
        frames = std::max(1, r.reader.imageCount());
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
        Frame& frame = content->frames[static_cast<std::size_t>(i)];
        page.failure = readHeader(bytes, format, i, frame);
        if (page.failure.isEmpty()) {
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
