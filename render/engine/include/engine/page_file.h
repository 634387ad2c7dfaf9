#pragma once
// Files that hold pages of one or more documents, one after another: a PDF
// file (text as text in its embedded fonts, pictures as images, each page
// the size of its paper) and a TIFF file (bilevel pages in CCITT Group 4,
// pages with colour in JPEG, the resolution recorded). A page of a document
// with a stamp (PagedDocument::setStamp) has the stamp's band below its
// paper, as the document's stamp is when the page is added. Either is
// written beside its name and renamed over it by finish(): whole or absent.

#include "engine/paged_document.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace render::engine {

// The PDF's document information.
struct PdfInfo {
    QString title;   // the message's subject
    QString author;  // its sender
    // Seconds since 1970 in UTC (the sent time); nothing: none written.
    std::optional<std::int64_t> created;
};

class PdfFile {
public:
    // Pages are drawn at `dpi` (kMinDpi..kMaxDpi): text stays text; the
    // pictures and the pages that are pictures in themselves are images of
    // that resolution. Throws RenderError.
    PdfFile(const QString& fileName, PdfInfo info, int dpi);
    ~PdfFile();
    PdfFile(const PdfFile&) = delete;
    PdfFile& operator=(const PdfFile&) = delete;

    // Draws page `pageIndex` of `document` as the next page. Throws.
    void add(const PagedDocument& document, int pageIndex);
    int pages() const;
    // Completes the file and puts it in place. Throws RenderError.
    void finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// How a TIFF page is stored.
enum class TiffColour {
    Auto,   // bilevel (Group 4) when every pixel is grey, else JPEG
    Never,  // always bilevel
    Always  // always JPEG
};

class TiffFile {
public:
    // Throws RenderError for a quality outside 1..100.
    TiffFile(const QString& fileName, TiffColour colour, int jpegQuality);
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    // Renders page `pageIndex` of `document` at `dpi` as the next page.
    void add(const PagedDocument& document, int pageIndex, int dpi);
    int pages() const;
    void finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace render::engine
