#pragma once
// The RTF reader of the rendering engine: RTF bytes in, a QTextDocument out,
// ready for the engine to paginate and paint.
//
// Units: every length the reader puts into the document (indents, spacing,
// tab stops, table widths, image sizes) is in pixels at 96 dots per inch,
// i.e. twips / kTwipsPerPixel (15). Font sizes are in points. The
// document's own margin is 0: page margins are the caller's to apply
// (PageSetup).
//
// Input is untrusted. Every loop and allocation is bounded by the input's
// size and by the limits below; crossing a limit that would make the result
// unusable throws RtfError, crossing one that only loses detail (table
// size, picture size) truncates visibly and adds a warning.

#include <common/inline_image.h>
#include <common/twips.h>

#include <QTextDocument>
#include <QTextFormat>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace rtf {

// Twips (RTF's unit of length) per inch, and per pixel at 96 dots per inch:
// the reader's lengths in pixels are twips / kTwipsPerPixel.
using common::kTwipsPerInch;
inline constexpr double kTwipsPerPixel = common::kTwipsPerPixel;

// Deepest nesting of { } groups accepted; deeper input throws.
inline constexpr int kMaxGroupDepth = 1024;
// Largest input accepted (bytes); larger input throws.
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} * 1024 * 1024;
// Most characters of text the document may hold; the rest is cut off with a
// visible "[... text truncated ...]" line and a warning.
inline constexpr std::size_t kMaxTextChars = std::size_t{8} * 1024 * 1024;
// Largest data of one picture (bytes) and of all pictures together; larger
// pictures become placeholder boxes.
inline constexpr std::size_t kMaxPictureBytes = std::size_t{32} * 1024 * 1024;
inline constexpr std::size_t kMaxTotalPictureBytes = std::size_t{128} * 1024 * 1024;
// Largest decoded picture, and all pictures and placeholder boxes of one
// document together (pixels); beyond them pictures become placeholder boxes,
// drawn at a reduced resolution once the total is spent.
inline constexpr std::int64_t kMaxPicturePixels = 16'000'000;
inline constexpr std::int64_t kMaxTotalPicturePixels = 32'000'000;
// Columns per table row (the format's own maximum is 63): further cells of a
// row share its last column. Table cells per document: further cells are
// written as tab-separated paragraphs (warning).
inline constexpr int kMaxTableColumns = 63;
inline constexpr int kMaxTableCells = 20000;
// Deepest table nesting turned into nested tables; deeper levels are flattened.
inline constexpr int kMaxTableNesting = 10;
// Most characters of one header or footer; the rest is left out (warning).
// A header with a page number is laid out again for every page.
inline constexpr int kMaxHeaderFooterChars = 4096;
// Bytes of a font's name kept from the font table; the rest is cut.
inline constexpr std::size_t kMaxFontNameBytes = 256;
// Fonts the font table keeps at most; text in further fonts takes the reader's default face.
inline constexpr std::size_t kMaxFonts = 4096;
// Characters of a field instruction read (HYPERLINK "url", PAGE); the rest is ignored.
inline constexpr qsizetype kMaxFieldInstructionChars = 4096;
// Fields open inside one another that are read as fields; deeper ones show only their result.
inline constexpr std::size_t kMaxOpenFields = 64;
// Tab stops of one paragraph; further \tx are ignored.
inline constexpr qsizetype kMaxTabStops = 64;
// Fallback characters \ucN skips after each \uN at most; a larger N counts as this.
inline constexpr int kMaxUnicodeSkip = 16;
// Tokens from the start looked at for \fromhtml or \fromtext; later ones mean plain RTF.
inline constexpr int kMaxEncapsulationTokens = 4096;
// Width and height an HTML picture's attributes give at most (pixels); larger is taken as this.
inline constexpr int kMaxHtmlImageEdge = 10000;
// Edge of a placeholder box's image at most (pixels); a larger box shows it scaled.
inline constexpr int kMaxPlaceholderEdge = 1600;
// Pixels a placeholder box may always take, the document's picture budget spent or not.
inline constexpr std::int64_t kMinPlaceholderPixels = 4096;

// Page size and margins in twips; defaults: Letter, 1800 left/right, 1440 top/bottom.
// The header's top and the footer's bottom lie headerY and footerY from the
// paper's edge (\headery, \footery).
struct PageSetup {
    int paperWidth = 12240, paperHeight = 15840;
    int marginLeft = 1800, marginRight = 1800, marginTop = 1440, marginBottom = 1440;
    int headerY = 720, footerY = 720;
};

// Text that stands for a page number (a PAGE field, \chpgn) or for the
// number of pages (NUMPAGES, SECTIONPAGES) carries this character-format
// property with kPageNumber or kPageCount: whoever paginates puts the
// number in its place.
inline constexpr int kPageFieldProperty = QTextFormat::UserProperty + 0x0E02;
inline constexpr int kPageNumber = 1;
inline constexpr int kPageCount = 2;

// The headers and footers of the document's first section: those of every
// page, and with \titlepg those of its first page (absent ones are blank).
struct HeadersFooters {
    std::unique_ptr<QTextDocument> header, footer;
    std::unique_ptr<QTextDocument> firstHeader, firstFooter;
    bool titlePage = false;
};

// What the RTF wraps: \fromhtml1 (HTML per [MS-OXRTFEX]), \fromtext (plain text).
enum class Encapsulation { None, Html, Text };

// A picture the message carries as an attachment, for cid: references in
// encapsulated HTML. contentId and fileName are compared as readRtf describes.
using common::InlineImage;

struct ReadResult {
    std::unique_ptr<QTextDocument> document;  // ready to lay out; page size not yet set
    PageSetup page;
    Encapsulation encapsulation = Encapsulation::None;
    HeadersFooters headersFooters;
    std::vector<std::string> warnings;  // recoverable problems (unknown picture format, ...)
};

// Input that is not RTF at all, or that exceeds a hard limit. offset() is the
// byte offset in the input where it was found.
class RtfError : public std::runtime_error {
public:
    RtfError(const std::string& what, std::size_t offset)
        : std::runtime_error(what), m_offset(offset) {}
    std::size_t offset() const { return m_offset; }

private:
    std::size_t m_offset;
};

// Reads RTF bytes: "{\rtf..." after optional white space; a group opening
// with another control word ("{\pard...", a headerless fragment) is read
// too, with a warning.
// \fromhtml1 input is de-encapsulated and laid out as HTML (images of
// "cid:" references come from `images`: content ids are compared without
// NULs, blanks and <>, case-insensitively, falling back to the file name;
// no other resource is ever loaded, remote images become placeholder boxes).
// \fromtext input is read as the plain text it wraps. Must run in the thread
// that owns the QGuiApplication (the document and its images are Qt GUI
// objects). Throws RtfError as described above; the returned document is
// owned by the caller.
ReadResult readRtf(std::span<const std::uint8_t> bytes,
                   const std::vector<InlineImage>& images = {});

// Lays out mail HTML (a message's HTML body) exactly as readRtf lays out
// the HTML a \fromhtml1 body wraps: Word's conditional comments and <o:p>
// removed, cid: pictures from `images`, placeholder boxes for every other
// picture, nothing loaded from files or the network, tables nested beyond
// kMaxTableNesting flattened. HTML longer than twice kMaxTextChars is cut
// (warning). Never throws; `page` of the result is the default PageSetup.
ReadResult readHtml(const QString& html, const std::vector<InlineImage>& images = {});

// De-encapsulates HTML from \fromhtml1 RTF per [MS-OXRTFEX] and returns it as
// UTF-8 text (\'hh bytes decoded with the code page in force). Throws
// RtfError for input that is not RTF or not \fromhtml1.
std::string extractHtml(std::span<const std::uint8_t> bytes);

}  // namespace rtf
