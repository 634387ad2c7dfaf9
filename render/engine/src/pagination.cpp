#include "pagination.h"

#include "document_repairs.h"
#include "engine/render_limits.h"
#include "page_units.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace render::engine {

namespace {

// Headers and footers are laid out at the body's width, their pictures at
// most a third of the paper high. A header that reaches below the top
// margin moves the body's top down to it, and a footer that reaches above
// the bottom margin its bottom up, as word processors do, as long as the
// body keeps its least height.
PageBands placeBands(rtf::HeadersFooters parts, rtf::PageSetup& g,
                     std::vector<std::string>& warnings) {
    const double width = toPixels(g.paperWidth - g.marginLeft - g.marginRight);
    for (std::unique_ptr<QTextDocument>* band :
         {&parts.header, &parts.footer, &parts.firstHeader, &parts.firstFooter}) {
        if (*band) {
            repairForLayout(**band, QSizeF(width, toPixels(g.paperHeight) / 3.0), warnings);
        }
    }
    PageBands bands(std::move(parts), width);
    if (bands.empty()) {
        return bands;
    }
    const int headerBottom =
        g.headerY + static_cast<int>(std::ceil(bands.headerHeight() * kTwipsPerPixel));
    const int footerTop =
        g.footerY + static_cast<int>(std::ceil(bands.footerHeight() * kTwipsPerPixel));
    const int room = g.paperHeight - kMinBodyTwips;
    g.marginTop = std::max(g.marginTop, std::min(headerBottom, room - g.marginBottom));
    g.marginBottom = std::max(g.marginBottom, std::min(footerTop, room - g.marginTop));
    return bands;
}

// Pages after the last one that shows any text or picture: a document that
// ends in a page or section break would otherwise end in an empty page.
int pagesWithContent(const QTextDocument& doc, double pageHeight) {
    int last = 0;
    const QAbstractTextDocumentLayout* layout = doc.documentLayout();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.text().trimmed().isEmpty() || block.layout() == nullptr ||
            block.layout()->lineCount() == 0) {
            continue;
        }
        const QTextLine line = block.layout()->lineAt(block.layout()->lineCount() - 1);
        const double top = layout->blockBoundingRect(block).top() + line.y();
        last = std::max(last, static_cast<int>(std::floor((top + 0.5) / pageHeight)));
    }
    return last + 1;
}

}  // namespace

PagedLayout paginate(std::unique_ptr<QTextDocument> document, const rtf::PageSetup& page,
                     rtf::HeadersFooters bands, bool htmlLayout,
                     std::vector<std::string>& warnings) {
    PagedLayout paged;
    paged.geometry = page;
    paged.bands = placeBands(std::move(bands), paged.geometry, warnings);
    const rtf::PageSetup& g = paged.geometry;
    const QSizeF body(toPixels(g.paperWidth - g.marginLeft - g.marginRight),
                      toPixels(g.paperHeight - g.marginTop - g.marginBottom));
    QTextDocument& doc = *document;
    repairForLayout(doc, body, warnings);
    if (htmlLayout) {
        wrapAsBrowsers(doc);
    }
    doc.documentLayout()->setPaintDevice(layoutDevice());
    doc.setPageSize(body);
    paged.layoutPage = body;
    paged.laidOutPages = doc.pageCount();

    // Content wider than the paper (a fixed-width table) is shrunk to the
    // body width, as a browser shrinks a page to print it.
    const double paperWidth = toPixels(g.paperWidth - g.marginLeft);
    if (doc.idealWidth() > paperWidth + 0.5) {
        paged.scale = std::max(kMinFitScale, body.width() / doc.idealWidth());
        paged.layoutPage = QSizeF(body.width() / paged.scale, body.height() / paged.scale);
        doc.setPageSize(paged.layoutPage);
        paged.laidOutPages = doc.pageCount();
        warnings.push_back("content wider than the paper is shrunk to " +
                           std::to_string(std::lround(paged.scale * 100)) + "%");
    }
    paged.laidOutPages = std::clamp(pagesWithContent(doc, paged.layoutPage.height()), 1,
                                    std::max(1, paged.laidOutPages));
    paged.underlines = Underlines::index(doc);
    paged.doc = std::move(document);
    return paged;
}

int pageOfPosition(const PagedLayout& paged, int position) {
    const QTextDocument& doc = *paged.doc;
    const QTextBlock block = doc.findBlock(position);
    if (!block.isValid() || block.layout() == nullptr) {
        return -1;
    }
    const QTextLine line = block.layout()->lineForTextPosition(position - block.position());
    if (!line.isValid()) {
        return -1;
    }
    const double top = doc.documentLayout()->blockBoundingRect(block).top() + line.y();
    return static_cast<int>(std::floor((top + 0.5) / paged.layoutPage.height()));
}

}  // namespace render::engine
