#pragma once
// Limits of the rendering engine. Each one keeps a hostile or absurd body from
// hanging the converter or exhausting the machine; docs/formats/rendering.md
// says what happens when one is reached.

#include <common/page_files.h>
#include <rtf/rtf_reader.h>

#include <cstddef>

namespace render::engine {

// Largest document the engine accepts, in bytes (file or memory): the RTF
// reader's limit, for every format. Larger input is refused with a text
// naming both sizes.
inline constexpr std::size_t kMaxInputBytes = rtf::kMaxInputBytes;

// Plain text and HTML longer than this many characters are cut, and a visible
// note at the end of the text says so.
inline constexpr int kMaxTextCharacters = 2'000'000;

// Pages rendered at most (common/page_files.h). A longer document renders
// this many pages; the last one carries a visible note with the real page
// count.
using common::kMaxPages;

// Paper edge, in twips, accepted from the document (2 inches to 22 inches).
// A size outside this range falls back to Letter, with a warning.
inline constexpr int kMinPaperTwips = 2880;
inline constexpr int kMaxPaperTwips = 31680;

// The text body keeps at least this much of the paper, in twips, whatever the
// margins ask for (2 inches). On a page shorter than a row, Qt lays the row
// out again on every page it crosses, at every level of nesting: 10 nested
// tables on a body half an inch high took 40 s to lay out.
inline constexpr int kMinBodyTwips = 2880;

// Tables nested deeper than rtf::kMaxTableNesting are replaced by their
// text: the layout's cost doubles with every level of nesting.
using rtf::kMaxTableNesting;

// Content wider than the paper is shrunk to the body width, but never below
// this factor; beyond it the right-hand side is cut at the paper edge.
inline constexpr double kMinFitScale = 0.4;

// Pictures (ORV_FORMAT_PICTURE). A frame whose header claims more pixels
// than this is never decoded: the page says so, and a picture with no frame
// shown becomes a placeholder page. A 50-megapixel photo is shown; 30,000 x
// 30,000 (900 megapixels) is refused.
inline constexpr long long kMaxPicturePixels = 64'000'000;
// What the image reader may allocate for one frame, in MiB
// (QImageReader::setAllocationLimit): a frame of kMaxPicturePixels at 4
// bytes a pixel fits; a frame that needs more fails to decode, with a
// warning, and its page says so.
inline constexpr int kMaxPictureAllocationMiB = 256;
// A recorded resolution outside this range (dots per inch, each axis) is
// taken for none: the picture's pixels are then 96 dpi.
inline constexpr double kMinPictureDpi = 30;
inline constexpr double kMaxPictureDpi = 4800;
// Frames decoded while loading are kept for pages rendered at 96 dpi up to
// this many bytes in all; the others are decoded again when drawn.
inline constexpr long long kMaxKeptPictureBytes = 64LL * 1024 * 1024;

// A stamp's texts (orv_document_set_stamp): each at most this many bytes of
// UTF-8; a longer one is refused. A band is one line (across Letter paper,
// about a hundred characters); what does not fit is elided.
inline constexpr std::size_t kMaxStampBytes = 4096;

// PDF files (ORV_FORMAT_PDF): one page is rendered for at most this long;
// Poppler stops then, and the page shows what was drawn and says it was cut.
inline constexpr int kMaxPdfPageMilliseconds = 4000;

}  // namespace render::engine
