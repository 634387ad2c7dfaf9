#pragma once
// PagedDocument: the engine behind the rendering library. It recognises a
// document's format from its bytes (RTF, HTML or plain text), or takes the
// format a caller names (also a picture file, a PDF file or a placeholder
// page), lays it out in pages of the document's own paper size and margins,
// and paints or saves one page as an image at the resolution asked.
//
// Needs a QGuiApplication (the library's C entry points create one on the
// offscreen platform). Not thread-safe; one document per thread.

#include "engine/source.h"

#include <common/inline_image.h>
#include <rtf/rtf_reader.h>

#include <QImage>
#include <QPainter>
#include <QSizeF>
#include <QString>
#include <QTextDocument>
#include <QTextFormat>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace render::engine {

// A failure that ends the work on a document: input refused, page out of
// range, image not written. The text says what and where.
class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a caller knows about a document beyond its bytes.
struct LoadOptions {
    // The Windows code page of text or HTML that does not declare its
    // encoding (no byte-order mark, no <meta> charset); 0: guess.
    int codePage = 0;
    // What the bytes are, when the caller knows (a message's HTML body is
    // HTML even as a bare fragment); empty: recognised from the content.
    std::optional<SourceFormat> format;
    // The paper: the document's own (RTF's \paperw/\paperh; Letter for HTML
    // and text), or Letter or A4 for every document, its margins kept.
    enum class Paper { Document, Letter, A4 };
    Paper paper = Paper::Document;
    // The header block above the body, at the top of the first page (the
    // message's envelope), as orv_document_set_header describes it; empty:
    // none.
    QString header;
    // One line at the top of the first page, above everything else (an
    // attachment's name, type and size), elided to the body's width, a rule
    // under it; empty: none.
    QString caption;
    // Plain text (SourceFormat::Text) in Liberation Mono at 10 pt, as
    // attachments such as .txt, .csv and .log are shown.
    bool monospace = false;
    // false: no ligatures ("fi" stays two glyphs), for pages whose text is
    // read back from a PDF file; the glyphs are the font's own letters, a
    // 64th of a percent apart.
    bool ligatures = true;
};

// The underline style (QTextCharFormat::UnderlineStyle) of text in
// document(): the engine draws underlines itself, below the descenders, and
// moves the style out of QTextFormat::TextUnderlineStyle before the layout.
inline constexpr int kUnderlineStyleProperty = QTextFormat::UserProperty + 0x0E01;

// Resolutions a page may be rendered at (dots per inch).
inline constexpr int kDefaultDpi = 96;
inline constexpr int kMinDpi = 72;
inline constexpr int kMaxDpi = 600;

// The band a stamp adds below every page, in twips: half an inch (150
// pixels at 300 dpi, 36 points in a PDF file).
inline constexpr int kStampBandTwips = 720;

// A stamp (orv_document_set_stamp): a band added below the paper of every
// page, white, with `left` (a legend) drawn left-aligned and `right` (a Bates
// number) right-aligned, each half an inch in from its edge of the paper, on
// one line, vertically centred, black, in Liberation Sans at 10 pt. A text
// too long for its room is elided; `right` keeps its room first and is
// elided only when it alone does not fit. Both empty: no band.
struct PageStamp {
    QString left;
    QString right;
    bool empty() const { return left.isEmpty() && right.isEmpty(); }
};

class PagedDocument {
public:
    // Loads and lays out a document. Throws RenderError for input over
    // kMaxInputBytes, and rtf::RtfError (with its byte offset) for RTF the
    // reader refuses (malformed beyond recovery, over the reader's limits);
    // the library's C interface turns either into its text. Everything the
    // engine recovers from (a picture it cannot decode, a page size out of
    // range, a cut text) is in warnings(). HTML, plain or wrapped in RTF,
    // shows the `images` it links to.
    static PagedDocument load(std::span<const std::uint8_t> bytes,
                              const std::vector<common::InlineImage>& images = {},
                              const LoadOptions& options = {});

    PagedDocument(PagedDocument&&) noexcept;
    PagedDocument& operator=(PagedDocument&&) noexcept;
    ~PagedDocument();

    // Pages to render: at least 1 (an empty document is one blank page), at
    // most kMaxPages.
    int pageCount() const;
    // Pages the whole document lays out to; above pageCount() when truncated.
    int laidOutPageCount() const;
    bool truncated() const { return laidOutPageCount() > pageCount(); }

    // One page as a white 24-bit image of the paper's size at `dpi` dots per
    // inch (kMinDpi..kMaxDpi): the layout is the same at every resolution,
    // and text and pictures are drawn at the resolution asked, not scaled
    // up from 96 dpi. With a stamp, the image is taller by the stamp's band
    // below the paper, the paper's pixels the same as without it. Throws
    // RenderError for an index outside [0, pageCount()) or a resolution out
    // of range.
    QImage renderPage(int pageIndex, int dpi = kDefaultDpi) const;
    // The same page drawn with `painter` on a device of `dpi` dots per inch
    // whose origin is the paper's top left corner (a page of a PDF file,
    // pageHeightTwips() high: the stamp's band is drawn below the paper).
    // Throws as renderPage() does.
    void paintPage(QPainter& painter, int pageIndex, int dpi) const;
    // renderPage() written as JPEG of the given quality (0..100). The file is
    // replaced only when the whole image has been written; on failure an
    // existing file of that name is left as it was. Throws RenderError.
    void savePageAsJpeg(int pageIndex, const QString& fileName, int quality,
                        int dpi = kDefaultDpi) const;

    // The words of the rendered pages in reading order, as plain text: the
    // caption and header block, then the body, a paragraph (or table cell)
    // a line; pictures leave nothing, a line break inside a paragraph is a
    // line break, a no-break space is a space. For a PDF file, the text of
    // each of its shown pages as Poppler reads it; for a picture, only what
    // stands above it. A cut document gives the words of its rendered pages.
    QString text() const;

    SourceFormat format() const;
    // Paper and margins in twips, as laid out (the document's own, within
    // the engine's limits).
    rtf::PageSetup geometry() const;
    // The page in pixels at `dpi`, as renderPage() makes it: the paper, and
    // the stamp's band below it when there is a stamp.
    QSize pagePixelSize(int dpi = kDefaultDpi) const;
    // The page's height in twips as drawn: the paper's, plus kStampBandTwips
    // when there is a stamp.
    int pageHeightTwips() const;

    // The stamp of the pages rendered, painted or saved from now on (its
    // texts made one line: line breaks, tabs and other control characters
    // become spaces); an empty one, the default, adds no band. Neither the
    // layout, the page count nor text() changes with it.
    void setStamp(const PageStamp& stamp);
    const PageStamp& stamp() const;
    // The laid-out document, for inspection; one page of it is
    // layoutPageHeight() tall in layout units. For pictures and PDF files,
    // the caption and header block drawn above the first page's content.
    const QTextDocument& document() const;
    double layoutPageHeight() const;
    // The page on which the line holding character position `position` lies.
    int pageOfPosition(int position) const;
    const std::vector<std::string>& warnings() const;
    // Why the pages are a placeholder the engine made instead of the content
    // (a password-protected PDF, a picture too large to decode, bytes that
    // are no picture or no PDF); nothing when the content is shown.
    const std::optional<std::string>& placeholderReason() const;

private:
    struct State;
    explicit PagedDocument(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

}  // namespace render::engine
