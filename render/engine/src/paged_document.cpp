// PagedDocument: reads a document in its format, has it repaired and
// paginated, and hands out its pages (document_repairs, header_block,
// pagination, page_painter, jpeg_writer do the work).

#include "engine/paged_document.h"

#include "document_repairs.h"
#include "engine/render_limits.h"
#include "header_block.h"
#include "jpeg_writer.h"
#include "page_painter.h"
#include "page_units.h"
#include "pagination.h"
#include "text_formats.h"

#include <rtf/rtf_reader.h>

#include <algorithm>
#include <utility>

namespace render::engine {

struct PagedDocument::State {
    SourceFormat format = SourceFormat::Text;
    std::vector<std::string> warnings;
    PagedLayout paged;
};

namespace {

// A document as the reader of its format made it.
struct Source {
    std::unique_ptr<QTextDocument> doc;
    rtf::PageSetup page;  // as the document asks (RTF), else the default
    rtf::HeadersFooters bands;
    bool htmlLayout = false;  // HTML, plain or wrapped in RTF
};

Source readSource(std::span<const std::uint8_t> bytes,
                  const std::vector<common::InlineImage>& images, SourceFormat format, int codePage,
                  std::vector<std::string>& warnings) {
    Source source;
    switch (format) {
        case SourceFormat::Rtf: {
            rtf::ReadResult result = rtf::readRtf(bytes, images);
            if (!result.document) {
                throw RenderError("the RTF reader returned no document");
            }
            source.doc = std::move(result.document);
            source.htmlLayout = result.encapsulation == rtf::Encapsulation::Html;
            source.page = result.page;
            source.bands = std::move(result.headersFooters);
            for (std::string& warning : result.warnings) {
                warnings.push_back(std::move(warning));
            }
            break;
        }
        case SourceFormat::Html: {
            // Mail HTML gets the treatment of HTML wrapped in RTF (Word's
            // conditional comments and <o:p> removed, cid: pictures).
            rtf::ReadResult result =
                rtf::readHtml(cutText(decodeHtml(bytes, codePage), warnings), images);
            if (!result.document) {
                throw RenderError("the HTML reader returned no document");
            }
            source.doc = std::move(result.document);
            source.htmlLayout = true;
            for (std::string& warning : result.warnings) {
                warnings.push_back(std::move(warning));
            }
            break;
        }
        case SourceFormat::Text:
            // Plain text names no resources; RTF and HTML documents come
            // from the reader, whose documents serve only the pictures put
            // into them and never read a file or the network.
            source.doc = std::make_unique<QTextDocument>();
            source.doc->setDefaultFont(defaultBodyFont());
            source.doc->setPlainText(cutText(decodeText(bytes, codePage), warnings));
            break;
    }
    return source;
}

}  // namespace

PagedDocument::PagedDocument(std::unique_ptr<State> state) : m_state(std::move(state)) {}
PagedDocument::PagedDocument(PagedDocument&&) noexcept = default;
PagedDocument& PagedDocument::operator=(PagedDocument&&) noexcept = default;
PagedDocument::~PagedDocument() = default;

PagedDocument PagedDocument::load(std::span<const std::uint8_t> bytes,
                                  const std::vector<common::InlineImage>& images,
                                  const LoadOptions& options) {
    if (bytes.size() > kMaxInputBytes) {
        throw RenderError("document is " + std::to_string(bytes.size()) +
                          " bytes; the renderer accepts at most " + std::to_string(kMaxInputBytes));
    }
    auto state = std::make_unique<State>();
    state->format = options.format.value_or(detectFormat(bytes));
    Source source = readSource(bytes, images, state->format, options.codePage, state->warnings);
    settleBody(*source.doc);
    if (!options.header.isEmpty()) {
        insertHeader(*source.doc, options.header);
    }
    const rtf::PageSetup page = pageSetupFor(source.page, options.paper, state->warnings);
    state->paged = paginate(std::move(source.doc), page, std::move(source.bands), source.htmlLayout,
                            state->warnings);
    return PagedDocument(std::move(state));
}

int PagedDocument::pageCount() const {
    return std::min(m_state->paged.laidOutPages, kMaxPages);
}

int PagedDocument::laidOutPageCount() const {
    return m_state->paged.laidOutPages;
}

SourceFormat PagedDocument::format() const {
    return m_state->format;
}

rtf::PageSetup PagedDocument::geometry() const {
    return m_state->paged.geometry;
}

QSize PagedDocument::pagePixelSize(int dpi) const {
    return paperPixels(m_state->paged.geometry, dpi);
}

const QTextDocument& PagedDocument::document() const {
    return *m_state->paged.doc;
}

double PagedDocument::layoutPageHeight() const {
    return m_state->paged.layoutPage.height();
}

const std::vector<std::string>& PagedDocument::warnings() const {
    return m_state->warnings;
}

int PagedDocument::pageOfPosition(int position) const {
    return engine::pageOfPosition(m_state->paged, position);
}

QImage PagedDocument::renderPage(int pageIndex, int dpi) const {
    if (pageIndex < 0 || pageIndex >= pageCount()) {
        throw RenderError("page index " + std::to_string(pageIndex) + " is out of range (" +
                          std::to_string(pageCount()) + " pages)");
    }
    if (dpi < kMinDpi || dpi > kMaxDpi) {
        throw RenderError("resolution " + std::to_string(dpi) + " dpi is outside " +
                          std::to_string(kMinDpi) + ".." + std::to_string(kMaxDpi));
    }
    return paintPage(m_state->paged, pageIndex, dpi, pageCount());
}

void PagedDocument::savePageAsJpeg(int pageIndex, const QString& fileName, int quality,
                                   int dpi) const {
    if (quality < 0 || quality > 100) {
        throw RenderError("JPEG quality " + std::to_string(quality) + " is outside 0..100");
    }
    writeJpeg(renderPage(pageIndex, dpi), fileName, quality);
}

}  // namespace render::engine
