#pragma once
// The stamp band below a page (engine/paged_document.h, PageStamp): a
// production's confidentiality legend on the left and its Bates number on
// the right, drawn in a white band added under the paper, so that nothing of
// the page itself is moved, scaled or covered.

#include "engine/paged_document.h"

#include <QRectF>
#include <QString>

class QPainter;

namespace render::engine {

// The band's height in pixels at `dpi`, rounded as the paper's are.
int stampBandPixels(int dpi);

// A stamp's text as one line: line breaks, tabs and other control
// characters are spaces.
QString stampLine(const QString& text);

// Fills `band` white (in the painter's coordinates, which are the device's
// pixels at `dpi`; nothing is drawn outside it) and draws `stamp` in it as
// PageStamp says. The legend is elided at its end; the number, should it
// alone not fit, at its start, so that its last digits stay.
void drawStampBand(QPainter& painter, const PageStamp& stamp, const QRectF& band, int dpi);

}  // namespace render::engine
