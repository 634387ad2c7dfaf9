#include "app/cursor_file.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace app {

namespace {

// The hot spot of the first image of a .cur file: ICONDIR (reserved 0, type 2,
// count), then 16-byte entries whose bytes 4..7 hold the hot spot x and y.
QPoint curHotSpot(const QByteArray& bytes) {
    constexpr int kDirSize = 6;
    constexpr int kEntrySize = 16;
    if (bytes.size() < kDirSize + kEntrySize) {
        return {};
    }
    auto u16 = [&](int offset) {
        return static_cast<int>(static_cast<unsigned char>(bytes[offset]) |
                                (static_cast<unsigned char>(bytes[offset + 1]) << 8));
    };
    if (u16(0) != 0 || u16(2) != 2 || u16(4) < 1) {
        return {};
    }
    return {u16(kDirSize + 4), u16(kDirSize + 6)};
}

}  // namespace

std::optional<QCursor> LoadCursorFile(const QString& path) {
    QFile file(path);
    constexpr qint64 kMaxCursorFile = 1 << 20;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCursorFile) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    QImage image;
    // Qt's ICO plug-in reads pointer files too once they are typed as icons
    // (the type field is the only difference in the header).
    QByteArray asIcon = bytes;
    if (asIcon.size() >= 4 && asIcon[2] == 2) {
        asIcon[2] = 1;
    }
    if (!image.loadFromData(asIcon, "ICO") && !image.loadFromData(bytes)) {
        return std::nullopt;
    }
    const QPoint hot = curHotSpot(bytes);
    const int x = hot.x() < image.width() ? hot.x() : 0;
    const int y = hot.y() < image.height() ? hot.y() : 0;
    return QCursor(QPixmap::fromImage(image), x, y);
}

}  // namespace app
