#include "page_painter.h"

#include "engine/paged_document.h"
#include "page_units.h"

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <string>

namespace render::engine {

void drawCutNote(QPainter& painter, const rtf::PageSetup& g, int laidOutPages, int pageCount) {
    const QSize paper = paperPixels(g, kDefaultDpi);
    QFont font = defaultBodyFont();
    font.setPointSizeF(9.0);
    painter.setFont(font);
    painter.setPen(QColor(0xB0, 0x00, 0x00));
    const QRectF band(toPixels(g.marginLeft), paper.height() - toPixels(g.marginBottom),
                      paper.width() - toPixels(g.marginLeft) - toPixels(g.marginRight),
                      toPixels(g.marginBottom));
    painter.drawText(band, Qt::AlignCenter | Qt::TextWordWrap,
                     QStringLiteral("The document is cut here: it has %1 pages, of which the "
                                    "first %2 are rendered.")
                         .arg(laidOutPages)
                         .arg(pageCount));
}

QImage blankPage(const rtf::PageSetup& g, int dpi, int extraRows) {
    const QSize pixels = paperPixels(g, dpi) + QSize(0, extraRows);
    QImage image(pixels, QImage::Format_RGB32);
    if (image.isNull()) {
        throw RenderError("cannot allocate a page image of " + std::to_string(pixels.width()) +
                          " x " + std::to_string(pixels.height()) + " pixels");
    }
    const int dotsPerMeter =
        dpi == kDefaultDpi ? kDotsPerMeter96 : static_cast<int>(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    return image;
}

void beginPage(QPainter& painter, int dpi) {
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    // Everything is drawn in pixels of 96 dpi; at another resolution the
    // painter scales the drawing itself, so glyphs and pictures are
    // rasterised at the resolution of the image.
    if (dpi != kDefaultDpi) {
        painter.scale(dpi / static_cast<double>(kDefaultDpi),
                      dpi / static_cast<double>(kDefaultDpi));
    }
}

QImage paintPage(const PagedLayout& paged, int pageIndex, int dpi, int pageCount) {
    QImage image = blankPage(paged.geometry, dpi);
    QPainter painter(&image);
    beginPage(painter, dpi);
    paintPage(painter, paged, pageIndex, pageCount);
    painter.end();
    return image;
}

void paintPage(QPainter& painter, const PagedLayout& paged, int pageIndex, int pageCount) {
    const rtf::PageSetup& g = paged.geometry;
    const QSize paper = paperPixels(g, kDefaultDpi);
    const double scale = paged.scale;
    const QSizeF page = paged.layoutPage;
    painter.save();
    painter.translate(toPixels(g.marginLeft), toPixels(g.marginTop));
    painter.scale(scale, scale);
    painter.translate(0, -pageIndex * page.height());
    // Left and right, content may reach into the margins up to the paper
    // edge; top and bottom, exactly this page's slice of the layout.
    const QRectF clip(-toPixels(g.marginLeft) / scale, pageIndex * page.height(),
                      paper.width() / scale, page.height());
    painter.setClipRect(clip);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    context.palette.setColor(QPalette::Text, Qt::black);
    paged.doc->documentLayout()->draw(&painter, context);
    paged.underlines.draw(painter, *paged.doc, clip);
    painter.restore();

    if (!paged.bands.empty()) {
        BandPlacement place;
        place.left = toPixels(g.marginLeft);
        place.width = toPixels(g.paperWidth - g.marginLeft - g.marginRight);
        place.headerTop = toPixels(g.headerY);
        place.footerBottom = paper.height() - toPixels(g.footerY);
        place.paperWidth = paper.width();
        place.paperHeight = paper.height();
        paged.bands.draw(painter, pageIndex, paged.laidOutPages, place);
    }

    if (paged.laidOutPages > pageCount && pageIndex == pageCount - 1) {
        drawCutNote(painter, g, paged.laidOutPages, pageCount);
    }
}

}  // namespace render::engine
