#pragma once
// The header and footer bands of a paginated document (RTF's \header and
// \footer): laid out once at the body's width and drawn in the margins of
// every page, a page number field showing the number of the page it is on.

#include "text_formats.h"

#include <rtf/rtf_reader.h>

#include <QRectF>
#include <QTextDocument>

#include <memory>

class QPainter;

namespace render::engine {

// Where the bands go on a page, in pixels of 96 dpi from the paper's top
// left corner.
struct BandPlacement {
    double left = 0;          // the body's left edge
    double width = 0;         // the body's width
    double headerTop = 0;     // the header's top edge
    double footerBottom = 0;  // the footer's bottom edge
    double paperWidth = 0;
    double paperHeight = 0;
};

class PageBands {
public:
    PageBands() = default;
    // Takes the reader's documents, their formats already prepared
    // (prepareFormats) and pictures fitted; lays them out at `width`.
    PageBands(rtf::HeadersFooters parts, double width);

    bool empty() const;
    // The tallest header and footer (pixels), of the first page or the others.
    double headerHeight() const;
    double footerHeight() const;
    // Draws the header and footer of page `pageIndex` (from 0) of
    // `pageCount`, each clipped to its half of the paper.
    void draw(QPainter& painter, int pageIndex, int pageCount, const BandPlacement& place) const;

private:
    struct Band {
        std::unique_ptr<QTextDocument> doc;
        bool pageFields = false;  // laid out again per page, its numbers put in
        Underlines underlines;
    };
    static Band prepare(std::unique_ptr<QTextDocument> doc, double width);
    static void drawBand(QPainter& painter, const Band& band, int pageIndex, int pageCount,
                         const BandPlacement& place, bool header);

    Band m_header, m_footer, m_firstHeader, m_firstFooter;
    bool m_titlePage = false;
};

// Puts the page number and page count in place of the text that stands
// for them (rtf::kPageFieldProperty); a run of such text becomes one
// number. Returns whether the document had any.
bool fillPageFields(QTextDocument& doc, int pageNumber, int pageCount);

}  // namespace render::engine
