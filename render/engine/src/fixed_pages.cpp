#include "fixed_pages.h"

#include "document_repairs.h"
#include "engine/render_limits.h"
#include "header_block.h"
#include "page_painter.h"
#include "page_units.h"
#include "text_formats.h"

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPalette>
#include <QTextBlock>

#include <algorithm>
#include <cmath>
#include <utility>

namespace render::engine {

QSizeF fitWithin(QSizeF own, QSizeF room) {
    if (own.width() <= 0 || own.height() <= 0 || room.width() <= 0 || room.height() <= 0) {
        return {};
    }
    const double factor = std::min({1.0, room.width() / own.width(), room.height() / own.height()});
    return own * factor;
}

QSize deviceSize(QSizeF shown, int dpi) {
    const double scale = dpi / static_cast<double>(kDefaultDpi);
    return {std::max(1, static_cast<int>(std::lround(shown.width() * scale))),
            std::max(1, static_cast<int>(std::lround(shown.height() * scale)))};
}

std::unique_ptr<QTextDocument> bandDocument(const QString& header, const QString& caption,
                                            double width, double& height) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(defaultBodyFont());
    settleBody(*doc);
    if (!header.isEmpty()) {
        insertHeader(*doc, header);
    }
    if (!caption.isEmpty()) {
        insertCaption(*doc, caption, width);
    }
    prepareFormats(*doc);
    doc->documentLayout()->setPaintDevice(layoutDevice());
    doc->setTextWidth(width);
    // The bands end where the body's (empty) first block begins.
    const QTextBlock last = doc->lastBlock();
    height = header.isEmpty() && caption.isEmpty()
                 ? 0.0
                 : doc->documentLayout()->blockBoundingRect(last).top();
    return doc;
}

FixedPages::FixedPages(const rtf::PageSetup& page, const QString& header, const QString& caption,
                       std::vector<std::string>& warnings)
    : m_page(page),
      m_area(toPixels(page.paperWidth - page.marginLeft - page.marginRight),
             toPixels(page.paperHeight - page.marginTop - page.marginBottom)) {
    m_topMatter = bandDocument(header, caption, m_area.width(), m_topHeight);
    if (m_topHeight > m_area.height() * 2 / 3) {
        m_firstContent = 1;
        if (m_topHeight > m_area.height()) {
            warnings.push_back("the header block is taller than a page and is cut at its foot");
        }
    }
}

QSizeF FixedPages::room(int index) const {
    if (index == 0 && m_firstContent == 0) {
        return {m_area.width(), m_area.height() - m_topHeight};
    }
    return m_area;
}

void FixedPages::setContent(ContentPages pages) {
    m_content = std::move(pages);
}

int FixedPages::laidOutPages() const {
    return std::max(1, m_firstContent + m_content.total);
}

// A page that cannot show its content says so, in the header block's form.
void FixedPages::drawNote(QPainter& painter, QPointF at, const QString& title,
                          const QString& why) const {
    double height = 0;
    const auto note = bandDocument(placeholderRows(title, QStringLiteral("Reason"), why), {},
                                   m_area.width(), height);
    painter.save();
    painter.translate(at);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = QRectF(QPointF(0, 0), m_area);
    context.palette.setColor(QPalette::Text, Qt::black);
    note->documentLayout()->draw(&painter, context);
    painter.restore();
}

QImage FixedPages::paint(int pageIndex, int dpi, int pageCount) const {
    QImage image = blankPage(m_page, dpi);
    QPainter painter(&image);
    beginPage(painter, dpi);
    paint(painter, pageIndex, dpi, pageCount);
    painter.end();
    return image;
}

void FixedPages::paint(QPainter& painter, int pageIndex, int dpi, int pageCount) const {
    const QPointF origin(toPixels(m_page.marginLeft), toPixels(m_page.marginTop));
    if (pageIndex == 0 && m_topHeight > 0) {
        painter.save();
        painter.translate(origin);
        const QRectF clip(QPointF(0, 0),
                          QSizeF(m_area.width(), std::min(m_topHeight, m_area.height())));
        painter.setClipRect(clip);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = clip;
        context.palette.setColor(QPalette::Text, Qt::black);
        m_topMatter->documentLayout()->draw(&painter, context);
        painter.restore();
    }

    const int index = pageIndex - m_firstContent;
    if (index >= 0 && index < static_cast<int>(m_content.pages.size()) && m_content.content) {
        const ContentPage& page = m_content.pages[static_cast<std::size_t>(index)];
        const double top = origin.y() + (index == 0 && m_firstContent == 0 ? m_topHeight : 0);
        QString why = page.failure;
        if (why.isEmpty() && !page.shown.isEmpty()) {
            // Drawn in the image's own pixels: the content is rendered for
            // them, not scaled from 96 dpi.
            const double scale = dpi / static_cast<double>(kDefaultDpi);
            const QSize device = deviceSize(page.shown, dpi);
            const double left = origin.x() + (m_area.width() - page.shown.width()) / 2;
            const QRectF target(std::round(left * scale), std::round(top * scale), device.width(),
                                device.height());
            const QImage content = m_content.content->render(index, device, dpi, why);
            if (!content.isNull()) {
                painter.save();
                painter.resetTransform();
                painter.drawImage(target, content);
                painter.restore();
                if (!why.isEmpty()) {
                    // Incomplete: said in the top margin.
                    QFont font = defaultBodyFont();
                    font.setPointSizeF(9.0);
                    painter.setFont(font);
                    painter.setPen(QColor(0xB0, 0x00, 0x00));
                    painter.drawText(QRectF(origin.x(), 0, m_area.width(), origin.y()),
                                     Qt::AlignCenter | Qt::TextWordWrap, why);
                    why.clear();
                }
            }
        }
        if (!why.isEmpty()) {
            drawNote(painter, QPointF(origin.x(), top),
                     QStringLiteral("Page %1 not shown").arg(index + 1), why);
        }
    }
    if (laidOutPages() > pageCount && pageIndex == pageCount - 1) {
        drawCutNote(painter, m_page, laidOutPages(), pageCount);
    }
}

}  // namespace render::engine
