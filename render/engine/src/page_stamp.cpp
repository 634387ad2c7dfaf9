#include "page_stamp.h"

#include "page_units.h"
#include "text_formats.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>

namespace render::engine {

namespace {

// Each text's distance from its edge of the paper: half an inch.
constexpr int kStampInsetTwips = 720;
// The least room between the legend and the number: a quarter inch.
constexpr int kStampGapTwips = 360;
constexpr double kStampPointSize = 10.0;

double twipsAt(int twips, int dpi) {
    return twips * static_cast<double>(dpi) / rtf::kTwipsPerInch;
}

// Liberation Sans at 10 pt on a page of `dpi` drawn on `device`, without
// ligatures (a PDF file's text keeps every letter, as for the pages whose
// layout has none).
QFont stampFont(const QPaintDevice* device, int dpi) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    // The device turns points into its pixels at its own resolution; the
    // band's pixels are the page's, at `dpi`.
    const int deviceDpi =
        device != nullptr && device->logicalDpiY() > 0 ? device->logicalDpiY() : dpi;
    font.setPointSizeF(kStampPointSize * dpi / deviceDpi);
    font.setLetterSpacing(QFont::PercentageSpacing, kNoLigatureSpacing);
    return font;
}

}  // namespace

int stampBandPixels(int dpi) {
    return toPixels(kStampBandTwips, dpi);
}

QString stampLine(const QString& text) {
    QString line = text;
    for (QChar& c : line) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph) {
            c = u' ';
        }
    }
    return line;
}

void drawStampBand(QPainter& painter, const PageStamp& stamp, const QRectF& band, int dpi) {
    painter.save();
    painter.setClipRect(band);
    painter.fillRect(band, Qt::white);
    const double inset = twipsAt(kStampInsetTwips, dpi);
    const double room = band.width() - 2 * inset;
    if (room > 0) {
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        painter.setFont(stampFont(painter.device(), dpi));
        painter.setPen(Qt::black);
        const QFontMetricsF metrics(painter.font(), painter.device());
        // The number first: it is elided only when it alone is too long.
        const QString right = metrics.elidedText(stamp.right, Qt::ElideLeft, room);
        const double taken =
            right.isEmpty() ? 0.0 : metrics.horizontalAdvance(right) + twipsAt(kStampGapTwips, dpi);
        const QString left = room - taken > 0
                                 ? metrics.elidedText(stamp.left, Qt::ElideRight, room - taken)
                                 : QString();
        const QRectF line(band.left() + inset, band.top(), room, band.height());
        const int flags = Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextSingleLine;
        if (!left.isEmpty()) {
            painter.drawText(line, flags | Qt::AlignLeft, left);
        }
        if (!right.isEmpty()) {
            painter.drawText(line, flags | Qt::AlignRight, right);
        }
    }
    painter.restore();
}

}  // namespace render::engine
