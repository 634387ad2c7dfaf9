#pragma once
// Painting: one page of a paged document as an image.

#include "pagination.h"

#include <rtf/rtf_reader.h>

#include <QImage>

class QPainter;

namespace render::engine {

// A white 24-bit image of the paper of `g` at `dpi`, `extraRows` taller
// below it (a stamp's band), its resolution recorded. Throws RenderError
// when it cannot be allocated.
QImage blankPage(const rtf::PageSetup& g, int dpi, int extraRows = 0);

// Sets a painter on a page image of `dpi` up to draw in pixels of 96 dpi,
// smoothly: the drawing is scaled, so glyphs and pictures are rasterised at
// the resolution of the image.
void beginPage(QPainter& painter, int dpi);

// The note at the foot of the last page rendered of a document cut at
// kMaxPages pages (the painter set up by beginPage).
void drawCutNote(QPainter& painter, const rtf::PageSetup& g, int laidOutPages, int pageCount);

// Page `pageIndex` of `paged` (valid, of `pageCount` pages rendered) as a
// white 24-bit image of the paper at `dpi` (kMinDpi..kMaxDpi): the body's
// slice of the layout, the underlines, the header and footer, and on the
// last page of a cut document a note with the real page count. Throws
// RenderError when the image cannot be allocated.
QImage paintPage(const PagedLayout& paged, int pageIndex, int dpi, int pageCount);
// The same page drawn with `painter`, set up by beginPage for a device of
// `dpi` (a page image, or a page of a PDF file at that resolution).
void paintPage(QPainter& painter, const PagedLayout& paged, int pageIndex, int pageCount);

}  // namespace render::engine
