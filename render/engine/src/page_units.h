#pragma once
// Page lengths: the twips of a page setup (1440 an inch) in pixels, at the
// layout's 96 dots per inch or at the resolution a page is drawn at.

#include <rtf/rtf_reader.h>

#include <QSize>

#include <cmath>

namespace render::engine {

using rtf::kTwipsPerPixel;
inline constexpr int kDotsPerMeter96 = 3780;  // 96 dpi

// Twips in pixels at 96 dpi, rounded.
inline int toPixels(int twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

// Twips in pixels at `dpi`, rounded.
inline int toPixels(int twips, int dpi) {
    return static_cast<int>(std::lround(twips * static_cast<double>(dpi) / rtf::kTwipsPerInch));
}

// The paper of `page` in pixels at `dpi`.
inline QSize paperPixels(const rtf::PageSetup& page, int dpi) {
    return {toPixels(page.paperWidth, dpi), toPixels(page.paperHeight, dpi)};
}

}  // namespace render::engine
