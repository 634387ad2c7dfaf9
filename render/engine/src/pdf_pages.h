#pragma once
// A PDF file as pages (ORV_FORMAT_PDF), read with Poppler: every page, up to
// kMaxPages (pages beyond are never looked at), shown at its own size scaled
// down to fit its room, rendered at the resolution of the page image with
// antialiasing, each for at most kMaxPdfPageMilliseconds.

#include "fixed_pages.h"

#include <QByteArray>

#include <string>
#include <vector>

namespace render::engine {

// Reads `bytes`: the document and the size of each page shown. A page that
// cannot be read gives a warning and says so; a locked (password-protected)
// PDF, bytes Poppler cannot open and a PDF without pages are a refusal.
ContentPages readPdf(const QByteArray& bytes, const RoomFor& roomFor,
                     std::vector<std::string>& warnings);

}  // namespace render::engine
