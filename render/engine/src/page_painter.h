#pragma once
// Painting: one page of a paged document as an image.

#include "pagination.h"

#include <QImage>

namespace render::engine {

// Page `pageIndex` of `paged` (valid, of `pageCount` pages rendered) as a
// white 24-bit image of the paper at `dpi` (kMinDpi..kMaxDpi): the body's
// slice of the layout, the underlines, the header and footer, and on the
// last page of a cut document a note with the real page count. Throws
// RenderError when the image cannot be allocated.
QImage paintPage(const PagedLayout& paged, int pageIndex, int dpi, int pageCount);

}  // namespace render::engine
