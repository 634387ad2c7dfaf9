// PagedDocument: reads a document in its format, has it repaired and
// paginated, and hands out its pages (document_repairs, header_block,
// pagination, page_painter, jpeg_writer do the work). Picture and PDF files
// are pages of their own (fixed_pages, picture_pages, pdf_pages); one that
// cannot be shown becomes a placeholder page saying why.

#include "engine/paged_document.h"

#include "document_repairs.h"
#include "document_state.h"
#include "engine/render_limits.h"
#include "fixed_pages.h"
#include "header_block.h"
#include "jpeg_writer.h"
#include "page_painter.h"
#include "page_stamp.h"
#include "page_units.h"
#include "pagination.h"
#include "pdf_pages.h"
#include "picture_pages.h"
#include "text_formats.h"

#include <rtf/faces.h>
#include <rtf/rtf_reader.h>

#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextOption>

#include <algorithm>
#include <utility>

namespace render::engine {

namespace {

// A document as the reader of its format made it.
struct Source {
    std::unique_ptr<QTextDocument> doc;
    rtf::PageSetup page;  // as the document asks (RTF), else the default
    rtf::HeadersFooters bands;
    bool htmlLayout = false;  // HTML, plain or wrapped in RTF
};

// Plain text as attachments such as .txt, .csv and .log are shown: the
// Courier New twin (Liberation Mono) at 10 pt, a tab stop every 8
// characters.
void setMonospace(QTextDocument& doc) {
    const QString courier = QStringLiteral("Courier New");
    const QString standIn = rtf::standInFace(courier);
    QFont font(standIn.isEmpty() ? courier : standIn);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSizeF(10.0);
    doc.setDefaultFont(font);
    QTextOption option = doc.defaultTextOption();
    option.setTabStopDistance(8 * QFontMetricsF(font, layoutDevice()).horizontalAdvance(u' '));
    doc.setDefaultTextOption(option);
}

// A placeholder page's rows (header block form) as the body of a document.
std::unique_ptr<QTextDocument> placeholderDocument(QString rows) {
    rows.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (rows.endsWith(u'\n')) {
        rows.chop(1);
    }
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(defaultBodyFont());
    insertHeader(*doc, rows);
    return doc;
}

Source readSource(std::span<const std::uint8_t> bytes,
                  const std::vector<common::InlineImage>& images, SourceFormat format,
                  const LoadOptions& options, std::vector<std::string>& warnings) {
    const int codePage = options.codePage;
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
            if (options.monospace) {
                setMonospace(*source.doc);
            }
            source.doc->setPlainText(cutText(decodeText(bytes, codePage), warnings));
            break;
        case SourceFormat::Placeholder:
            source.doc = placeholderDocument(cutText(decodeText(bytes, 65001), warnings));
            break;
        case SourceFormat::Picture:
        case SourceFormat::Pdf:
            throw RenderError("pictures and PDF files are not laid out as text");
    }
    return source;
}

// The pages of a picture or PDF file; nothing, and the reason, when no part
// of it can be shown.
std::unique_ptr<FixedPages> readFixedPages(std::span<const std::uint8_t> bytes, SourceFormat format,
                                           const LoadOptions& options,
                                           std::vector<std::string>& warnings, QString& refusal) {
    const rtf::PageSetup page = pageSetupFor(rtf::PageSetup{}, options.paper, warnings);
    auto fixed = std::make_unique<FixedPages>(page, options.header, options.caption, warnings);
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    const RoomFor room = [&fixed](int index) { return fixed->room(index); };
    ContentPages content = format == SourceFormat::Picture ? readPicture(data, room, warnings)
                                                           : readPdf(data, room, warnings);
    if (!content.refusal.isEmpty()) {
        refusal = content.refusal;
        return nullptr;
    }
    fixed->setContent(std::move(content));
    return fixed;
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
    const NoLigatures shaping(!options.ligatures);
    state->format = options.format.value_or(detectFormat(bytes));
    Source source;
    if (state->format == SourceFormat::Picture || state->format == SourceFormat::Pdf) {
        QString refusal;
        state->fixed = readFixedPages(bytes, state->format, options, state->warnings, refusal);
        if (state->fixed) {
            return PagedDocument(std::move(state));
        }
        state->placeholderReason = refusal.toStdString();
        state->warnings.push_back((state->format == SourceFormat::Picture
                                       ? "the picture is not shown: "
                                       : "the PDF file is not shown: ") +
                                  *state->placeholderReason);
        source.doc = placeholderDocument(placeholderRows(
            state->format == SourceFormat::Picture ? QStringLiteral("Picture not shown")
                                                   : QStringLiteral("PDF file not shown"),
            QStringLiteral("Reason"), refusal.left(1).toUpper() + refusal.mid(1) + u'.'));
    } else {
        source = readSource(bytes, images, state->format, options, state->warnings);
    }
    settleBody(*source.doc);
    if (!options.header.isEmpty()) {
        insertHeader(*source.doc, options.header);
    }
    const rtf::PageSetup page = pageSetupFor(source.page, options.paper, state->warnings);
    if (!options.caption.isEmpty()) {
        insertCaption(*source.doc, options.caption,
                      toPixels(page.paperWidth - page.marginLeft - page.marginRight));
    }
    state->paged = paginate(std::move(source.doc), page, std::move(source.bands), source.htmlLayout,
                            state->warnings);
    return PagedDocument(std::move(state));
}

int PagedDocument::pageCount() const {
    return std::min(laidOutPageCount(), kMaxPages);
}

int PagedDocument::laidOutPageCount() const {
    return m_state->fixed ? m_state->fixed->laidOutPages() : m_state->paged.laidOutPages;
}

SourceFormat PagedDocument::format() const {
    return m_state->format;
}

rtf::PageSetup PagedDocument::geometry() const {
    return m_state->fixed ? m_state->fixed->geometry() : m_state->paged.geometry;
}

QSize PagedDocument::pagePixelSize(int dpi) const {
    const QSize paper = paperPixels(geometry(), dpi);
    return m_state->stamp.empty() ? paper : paper + QSize(0, stampBandPixels(dpi));
}

int PagedDocument::pageHeightTwips() const {
    return geometry().paperHeight + (m_state->stamp.empty() ? 0 : kStampBandTwips);
}

void PagedDocument::setStamp(const PageStamp& stamp) {
    m_state->stamp = {stampLine(stamp.left), stampLine(stamp.right)};
}

const PageStamp& PagedDocument::stamp() const {
    return m_state->stamp;
}

const QTextDocument& PagedDocument::document() const {
    return m_state->fixed ? m_state->fixed->topMatter() : *m_state->paged.doc;
}

double PagedDocument::layoutPageHeight() const {
    return m_state->fixed ? m_state->fixed->area().height() : m_state->paged.layoutPage.height();
}

const std::vector<std::string>& PagedDocument::warnings() const {
    return m_state->warnings;
}

const std::optional<std::string>& PagedDocument::placeholderReason() const {
    return m_state->placeholderReason;
}

int PagedDocument::pageOfPosition(int position) const {
    if (m_state->fixed) {
        // The caption and header block are on the first page.
        return m_state->fixed->topMatter().findBlock(position).isValid() ? 0 : -1;
    }
    return engine::pageOfPosition(m_state->paged, position);
}

namespace {

void checkPage(int pageIndex, int pageCount, int dpi) {
    if (pageIndex < 0 || pageIndex >= pageCount) {
        throw RenderError("page index " + std::to_string(pageIndex) + " is out of range (" +
                          std::to_string(pageCount) + " pages)");
    }
    if (dpi < kMinDpi || dpi > kMaxDpi) {
        throw RenderError("resolution " + std::to_string(dpi) + " dpi is outside " +
                          std::to_string(kMinDpi) + ".." + std::to_string(kMaxDpi));
    }
}

// The page's own content, without a stamp (of `fixed` pages when there are,
// else of `paged`), drawn with `painter` whose origin is the paper's top left
// corner on a device of `dpi`.
void paintContent(const FixedPages* fixed, const PagedLayout& paged, QPainter& painter,
                  int pageIndex, int dpi, int pageCount) {
    painter.save();
    beginPage(painter, dpi);
    if (fixed != nullptr) {
        fixed->paint(painter, pageIndex, dpi, pageCount);
    } else {
        engine::paintPage(painter, paged, pageIndex, pageCount);
    }
    painter.restore();
}

}  // namespace

void PagedDocument::paintPage(QPainter& painter, int pageIndex, int dpi) const {
    checkPage(pageIndex, pageCount(), dpi);
    paintContent(m_state->fixed.get(), m_state->paged, painter, pageIndex, dpi, pageCount());
    if (!m_state->stamp.empty()) {
        // Where the device's page (pageHeightTwips() high) has the paper's
        // foot, exactly.
        const rtf::PageSetup g = geometry();
        const double perTwip = dpi / static_cast<double>(rtf::kTwipsPerInch);
        drawStampBand(
            painter, m_state->stamp,
            QRectF(0, g.paperHeight * perTwip, g.paperWidth * perTwip, kStampBandTwips * perTwip),
            dpi);
    }
}

QImage PagedDocument::renderPage(int pageIndex, int dpi) const {
    checkPage(pageIndex, pageCount(), dpi);
    if (m_state->stamp.empty()) {
        if (m_state->fixed) {
            return m_state->fixed->paint(pageIndex, dpi, pageCount());
        }
        return engine::paintPage(m_state->paged, pageIndex, dpi, pageCount());
    }
    // The paper's pixels as without the stamp (the same drawing on an image
    // of the same width), the band in the rows added below them.
    const QSize paper = paperPixels(geometry(), dpi);
    const int band = stampBandPixels(dpi);
    QImage image = blankPage(geometry(), dpi, band);
    QPainter painter(&image);
    paintContent(m_state->fixed.get(), m_state->paged, painter, pageIndex, dpi, pageCount());
    drawStampBand(painter, m_state->stamp, QRectF(0, paper.height(), paper.width(), band), dpi);
    painter.end();
    return image;
}

void PagedDocument::savePageAsJpeg(int pageIndex, const QString& fileName, int quality,
                                   int dpi) const {
    if (quality < 0 || quality > 100) {
        throw RenderError("JPEG quality " + std::to_string(quality) + " is outside 0..100");
    }
    writeJpeg(renderPage(pageIndex, dpi), fileName, quality);
}

}  // namespace render::engine
