#pragma once
// Pagination: a repaired document laid out on the pages of its paper, with
// its headers and footers in the margins, and what painting a page needs.

#include "page_bands.h"
#include "text_formats.h"

#include <rtf/rtf_reader.h>

#include <QSizeF>
#include <QTextDocument>

#include <memory>
#include <string>
#include <vector>

namespace render::engine {

// A document laid out in pages.
struct PagedLayout {
    std::unique_ptr<QTextDocument> doc;
    rtf::PageSetup geometry;  // as laid out: margins grown for tall headers and footers
    double scale = 1.0;       // layout units to pixels
    QSizeF layoutPage;        // one page body in layout units
    int laidOutPages = 1;     // pages up to the last that shows any text or picture
    Underlines underlines;
    PageBands bands;  // the headers and footers of an RTF document
};

// Lays `doc` out on pages of `page` (within the engine's limits: see
// pageSetupFor). The headers and footers in `bands` are laid out at the
// body's width first; one taller than its margin moves the body's edge.
// The document and the bands are repaired for the layout
// (repairForLayout); HTML (`htmlLayout`) wraps as browsers do. Content
// wider than the paper is shrunk to the body width, down to kMinFitScale.
PagedLayout paginate(std::unique_ptr<QTextDocument> doc, const rtf::PageSetup& page,
                     rtf::HeadersFooters bands, bool htmlLayout,
                     std::vector<std::string>& warnings);

// The page (from 0) on which the line holding character position
// `position` lies; -1 for a position without a laid-out line.
int pageOfPosition(const PagedLayout& paged, int position);

}  // namespace render::engine
