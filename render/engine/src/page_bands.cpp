#include "page_bands.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFragment>

#include <algorithm>
#include <vector>

namespace render::engine {

bool fillPageFields(QTextDocument& doc, int pageNumber, int pageCount) {
    struct Run {
        int start;
        int end;
        int kind;
    };
    std::vector<Run> runs;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int kind = fragment.charFormat().intProperty(rtf::kPageFieldProperty);
            if (kind != rtf::kPageNumber && kind != rtf::kPageCount) {
                continue;
            }
            const int start = fragment.position();
            const int end = start + fragment.length();
            if (!runs.empty() && runs.back().end == start && runs.back().kind == kind) {
                runs.back().end = end;
            } else {
                runs.push_back({start, end, kind});
            }
        }
    }
    // From the last: each replacement leaves the earlier positions valid.
    QTextCursor cursor(&doc);
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        cursor.setPosition(run->start);
        cursor.setPosition(run->end, QTextCursor::KeepAnchor);
        const QTextCharFormat format = cursor.charFormat();
        cursor.insertText(QString::number(run->kind == rtf::kPageNumber ? pageNumber : pageCount),
                          format);
    }
    return !runs.empty();
}

PageBands::Band PageBands::prepare(std::unique_ptr<QTextDocument> doc, double width) {
    Band band;
    if (!doc || doc->isEmpty()) {
        return band;
    }
    doc->documentLayout()->setPaintDevice(layoutDevice());
    doc->setTextWidth(width);
    band.pageFields = fillPageFields(*doc, 1, 1);
    band.underlines = Underlines::index(*doc);
    band.doc = std::move(doc);
    return band;
}

PageBands::PageBands(rtf::HeadersFooters parts, double width)
    : m_header(prepare(std::move(parts.header), width)),
      m_footer(prepare(std::move(parts.footer), width)),
      m_firstHeader(prepare(std::move(parts.firstHeader), width)),
      m_firstFooter(prepare(std::move(parts.firstFooter), width)),
      m_titlePage(parts.titlePage) {}

bool PageBands::empty() const {
    return !m_header.doc && !m_footer.doc && !m_firstHeader.doc && !m_firstFooter.doc;
}

namespace {

double heightOf(const std::unique_ptr<QTextDocument>& doc) {
    return doc ? doc->size().height() : 0.0;
}

}  // namespace

double PageBands::headerHeight() const {
    return std::max(heightOf(m_header.doc), heightOf(m_firstHeader.doc));
}

double PageBands::footerHeight() const {
    return std::max(heightOf(m_footer.doc), heightOf(m_firstFooter.doc));
}

void PageBands::draw(QPainter& painter, int pageIndex, int pageCount,
                     const BandPlacement& place) const {
    const bool first = pageIndex == 0 && m_titlePage;
    drawBand(painter, first ? m_firstHeader : m_header, pageIndex, pageCount, place, true);
    drawBand(painter, first ? m_firstFooter : m_footer, pageIndex, pageCount, place, false);
}

void PageBands::drawBand(QPainter& painter, const Band& band, int pageIndex, int pageCount,
                         const BandPlacement& place, bool header) {
    if (!band.doc) {
        return;
    }
    // A band with page numbers is a copy with this page's numbers, laid out
    // again: a few lines, at most rtf::kMaxHeaderFooterChars characters.
    std::unique_ptr<QTextDocument> numbered;
    Underlines numberedUnderlines;
    const QTextDocument* doc = band.doc.get();
    const Underlines* underlines = &band.underlines;
    if (band.pageFields) {
        numbered.reset(band.doc->clone());
        fillPageFields(*numbered, pageIndex + 1, pageCount);
        numbered->documentLayout()->setPaintDevice(layoutDevice());
        numbered->setTextWidth(band.doc->textWidth());
        numberedUnderlines = Underlines::index(*numbered);
        doc = numbered.get();
        underlines = &numberedUnderlines;
    }
    const double height = doc->size().height();
    const double top = header ? place.headerTop : place.footerBottom - height;
    // The header may grow down and the footer up, each to the middle of the
    // paper; left and right, to the paper's edges.
    const QRectF area =
        header ? QRectF(0, 0, place.paperWidth, place.paperHeight / 2)
               : QRectF(0, place.paperHeight / 2, place.paperWidth, place.paperHeight / 2);
    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    painter.translate(place.left, top);
    const QRectF clip = area.translated(-place.left, -top);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    context.palette.setColor(QPalette::Text, Qt::black);
    doc->documentLayout()->draw(&painter, context);
    underlines->draw(painter, *doc, clip);
    painter.restore();
}

}  // namespace render::engine
