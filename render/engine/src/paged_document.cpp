#include "engine/paged_document.h"

#include "engine/fonts.h"
#include "engine/render_limits.h"
#include "page_bands.h"
#include "text_formats.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextLayout>
#include <QTextTable>
#include <QUrl>

#include <rtf/rtf_reader.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>

namespace render::engine {

namespace {

constexpr double kTwipsPerPixel = 15.0;  // 1440 twips per inch, 96 pixels per inch
constexpr int kDotsPerMeter96 = 3780;    // 96 dpi

int toPixels(int twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

int toPixels(int twips, int dpi) {
    return static_cast<int>(std::lround(twips * static_cast<double>(dpi) / 1440.0));
}

rtf::PageSetup withPaper(rtf::PageSetup page, LoadOptions::Paper paper) {
    switch (paper) {
        case LoadOptions::Paper::Letter:
            page.paperWidth = 12240;
            page.paperHeight = 15840;
            break;
        case LoadOptions::Paper::A4:
            page.paperWidth = 11906;
            page.paperHeight = 16838;
            break;
        case LoadOptions::Paper::Document:
            break;
    }
    return page;
}

// The header block goes in front of the body as blocks of its own; the
// body's first block keeps its format. It is drawn in one face, Arial
// (Liberation Sans) at 10 pt, regular and bold, a size many bodies use:
// every further face and size is a font to load. Its rows are paragraphs of
// a bold label, a tab and the value: the values stand in one column after
// the widest label, their wrapped lines under their first, as in a
// two-column table, which would cost a second layout pass.
void insertHeader(QTextDocument& doc, const QString& text) {
    constexpr double kGap = 16;  // px between the widest label and the values
    QTextCharFormat face;
    const QString arial = QStringLiteral("Arial");
    const QString standIn = standInFor(arial);
    face.setFontFamilies(QStringList{standIn.isEmpty() ? arial : standIn});
    face.setFontPointSize(10);
    face.setForeground(QColor(Qt::black));
    QTextCharFormat bold = face;
    bold.setFontWeight(QFont::Bold);

    const QStringList lines = text.split(u'\n');
    // Measured in the font the layout will use (the format resolved against
    // the document's default), or Qt loads the face twice.
    const QFontMetricsF labels(bold.font().resolve(doc.defaultFont()), layoutDevice());
    double widest = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        widest = std::max(widest, labels.horizontalAdvance(lines[i].section(u'\t', 0, 0)));
    }
    const double column = widest + kGap;

    // A block inserted at the start takes the text after it into a block of
    // the format given: the body's first paragraph keeps its own format, and
    // the header goes into the empty block before it.
    const QTextBlock first = doc.begin();
    const QTextBlockFormat bodyFormat = first.blockFormat();
    const QTextCharFormat bodyCharFormat = first.charFormat();
    QTextCursor cursor(&doc);
    cursor.movePosition(QTextCursor::Start);
    cursor.insertBlock(bodyFormat, bodyCharFormat);
    cursor.movePosition(QTextCursor::Start);

    QTextBlockFormat title;
    title.setBottomMargin(4);
    cursor.setBlockFormat(title);
    cursor.setBlockCharFormat(bold);
    cursor.insertText(lines.first(), bold);

    QTextBlockFormat rule;
    rule.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                     QTextLength(QTextLength::PercentageLength, 100));
    rule.setBackground(QColor(0x80, 0x80, 0x80));
    cursor.insertBlock(rule, face);

    QTextBlockFormat row;
    row.setBottomMargin(2);
    row.setLeftMargin(column);
    row.setTextIndent(-column);
    row.setTabPositions({QTextOption::Tab(column, QTextOption::LeftTab)});
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype tab = lines[i].indexOf(u'\t');
        cursor.insertBlock(row, face);
        cursor.insertText(lines[i].left(tab < 0 ? lines[i].size() : tab), bold);
        if (tab >= 0) {
            cursor.insertText(lines[i].mid(tab), face);
        }
    }
    // A line's space before the body.
    cursor.insertBlock(QTextBlockFormat(), face);
}

std::string str(const QString& s) {
    return s.toStdString();
}

QString cutText(QString text, std::vector<std::string>& warnings) {
    if (text.size() <= kMaxTextCharacters) {
        return text;
    }
    const auto total = text.size();
    text.truncate(kMaxTextCharacters);
    const QString note = QStringLiteral(
                             "[The text is cut here: it holds %1 characters, of which "
                             "the first %2 are shown.]")
                             .arg(total)
                             .arg(kMaxTextCharacters);
    warnings.push_back(str(note));
    return text + QStringLiteral("\n\n") + note;
}

rtf::PageSetup sanitize(rtf::PageSetup g, std::vector<std::string>& warnings) {
    const rtf::PageSetup letter;
    auto paperOk = [](int v) { return v >= kMinPaperTwips && v <= kMaxPaperTwips; };
    if (!paperOk(g.paperWidth) || !paperOk(g.paperHeight)) {
        warnings.push_back("paper size " + std::to_string(g.paperWidth) + " x " +
                           std::to_string(g.paperHeight) +
                           " twips is out of range; Letter is used");
        g.paperWidth = letter.paperWidth;
        g.paperHeight = letter.paperHeight;
    }
    auto fitMargins = [&](int& a, int& b, int paper, const char* what) {
        a = std::clamp(a, 0, paper);
        b = std::clamp(b, 0, paper);
        const int room = paper - kMinBodyTwips;
        if (a + b > room) {
            warnings.push_back(std::string(what) + " margins leave no room for text; reduced");
            const double factor = room / static_cast<double>(a + b);
            a = static_cast<int>(a * factor);
            b = static_cast<int>(b * factor);
        }
    };
    fitMargins(g.marginLeft, g.marginRight, g.paperWidth, "left and right");
    fitMargins(g.marginTop, g.marginBottom, g.paperHeight, "top and bottom");
    g.headerY = std::clamp(g.headerY, 0, g.paperHeight / 2);
    g.footerY = std::clamp(g.footerY, 0, g.paperHeight / 2);
    return g;
}

// Pictures larger than the text body are shown scaled down to fit it, so no
// picture is cut at the paper edge or split across pages.
void fitImages(QTextDocument& doc, QSizeF body) {
    struct Edit {
        int position;
        int length;
        QTextImageFormat format;
    };
    std::vector<Edit> edits;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) {
                continue;
            }
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            double width = format.width();
            double height = format.height();
            if (width <= 0 || height <= 0) {
                const QImage image =
                    doc.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
                if (image.isNull() || image.width() == 0 || image.height() == 0) {
                    continue;
                }
                if (width <= 0 && height <= 0) {
                    width = image.width();
                    height = image.height();
                } else if (width <= 0) {
                    width = height * image.width() / image.height();
                } else {
                    height = width * image.height() / image.width();
                }
            }
            const double factor = std::min({1.0, body.width() / width, body.height() / height});
            if (factor >= 1.0) {
                continue;
            }
            format.setWidth(width * factor);
            format.setHeight(height * factor);
            edits.push_back({fragment.position(), fragment.length(), format});
        }
    }
    for (const Edit& edit : edits) {
        QTextCursor cursor(&doc);
        cursor.setPosition(edit.position);
        cursor.setPosition(edit.position + edit.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(edit.format);
    }
}

// The layout measures every table twice (its cells at unbounded width for
// the column widths, then at their widths), and a cell's nested table is laid
// out whole in each pass of the cell: content n tables deep costs about 2^n
// times its plain layout. The layout's weight of a document is its blocks'
// characters (plus a fixed cost per block), each doubled per table around it.
constexpr double kBlockWeight = 64.0;
// What a layout may weigh: well under a second of layout on this engine. The
// heaviest mail of our corpus (tables six deep) weighs 113,000; a table of
// some 9,000 cells alone weighs this much, and is shown as paragraphs.
constexpr double kMaxLayoutWeight = 2.0e6;

// The weight of a document's blocks at each table depth (0: outside tables),
// and the tables one level down from every depth.
struct TableLevels {
    std::vector<double> weightAt;
    std::vector<std::vector<QTextTable*>> tablesAt;  // tablesAt[d]: tables at depth d
};

// Iterative: frames may nest arbitrarily deep in hostile input.
TableLevels measureTables(QTextFrame* root) {
    TableLevels levels;
    std::vector<std::pair<QTextFrame*, int>> pending{{root, 0}};
    while (!pending.empty()) {
        const auto [frame, depth] = pending.back();
        pending.pop_back();
        const auto at = static_cast<std::size_t>(depth);
        if (levels.weightAt.size() <= at) {
            levels.weightAt.resize(at + 1);
            levels.tablesAt.resize(at + 1);
        }
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                auto* table = qobject_cast<QTextTable*>(child);
                const int childDepth = depth + (table != nullptr ? 1 : 0);
                if (table != nullptr) {
                    if (levels.tablesAt.size() <= static_cast<std::size_t>(childDepth)) {
                        levels.weightAt.resize(static_cast<std::size_t>(childDepth) + 1);
                        levels.tablesAt.resize(static_cast<std::size_t>(childDepth) + 1);
                    }
                    levels.tablesAt[static_cast<std::size_t>(childDepth)].push_back(table);
                }
                pending.emplace_back(child, childDepth);
            } else {
                levels.weightAt[at] += it.currentBlock().length() + kBlockWeight;
            }
        }
    }
    return levels;
}

// The deepest table nesting the layout can afford: every block deeper than
// it counted at that depth, the weight stays within kMaxLayoutWeight.
int affordableDepth(const TableLevels& levels) {
    const int deepest = static_cast<int>(levels.weightAt.size()) - 1;
    for (int depth = std::min(deepest, kMaxTableNesting); depth > 0; --depth) {
        double weight = 0;
        for (int d = 0; d <= deepest; ++d) {
            weight +=
                levels.weightAt[static_cast<std::size_t>(d)] * std::ldexp(1.0, std::min(d, depth));
        }
        if (weight <= kMaxLayoutWeight) {
            return depth;
        }
    }
    return 0;
}

// A table replaced, with every table inside it, by its paragraphs: each
// block's text with its character and paragraph formats, in document order,
// where the table stood.
void unwrapTable(QTextDocument& doc, QTextTable* table) {
    struct Paragraph {
        QTextBlockFormat format;
        QTextCharFormat charFormat;
        QTextDocumentFragment text;
    };
    std::vector<Paragraph> paragraphs;
    QTextCursor range(&doc);
    for (QTextBlock block = doc.findBlock(table->firstPosition());
         block.isValid() && block.position() <= table->lastPosition(); block = block.next()) {
        range.setPosition(block.position());
        range.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        paragraphs.push_back({block.blockFormat(), block.charFormat(), range.selection()});
    }
    const int at = table->firstPosition() - 1;
    table->removeRows(0, table->rows());
    QTextCursor insert(&doc);
    insert.setPosition(std::clamp(at, 0, doc.characterCount() - 1));
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        QTextBlockFormat format = paragraphs[i].format;
        format.clearProperty(QTextFormat::BlockTrailingHorizontalRulerWidth);
        if (i > 0) {
            insert.insertBlock(format, paragraphs[i].charFormat);
        } else {
            insert.setBlockFormat(format);
        }
        insert.insertFragment(paragraphs[i].text);
    }
}

// Unwraps the tables nested deeper than the layout can afford (see
// kMaxLayoutWeight; never deeper than kMaxTableNesting), so that the cost of
// laying out grows with the input, not with 2 to the power of its nesting.
// One pass: every table one level below the affordable depth goes, with all
// it holds.
void boundTableNesting(QTextDocument& doc, std::vector<std::string>& warnings) {
    const TableLevels levels = measureTables(doc.rootFrame());
    const int depth = affordableDepth(levels);
    const auto below = static_cast<std::size_t>(depth) + 1;
    if (below >= levels.tablesAt.size() || levels.tablesAt[below].empty()) {
        return;
    }
    for (QTextTable* table : levels.tablesAt[below]) {
        unwrapTable(doc, table);
    }
    const std::size_t count = levels.tablesAt[below].size();
    warnings.push_back(std::to_string(count) + (count == 1 ? " table" : " tables") +
                       " at nesting depth " + std::to_string(below) +
                       ", and all they hold, are shown as paragraphs: laid out as tables, they "
                       "would take too long");
}

// Pages after the last one that shows any text or picture: a document that
// ends in a page or section break would otherwise end in an empty page.
int pagesWithContent(const QTextDocument& doc, double pageHeight) {
    int last = 0;
    const QAbstractTextDocumentLayout* layout = doc.documentLayout();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.text().trimmed().isEmpty() || block.layout() == nullptr ||
            block.layout()->lineCount() == 0) {
            continue;
        }
        const QTextLine line = block.layout()->lineAt(block.layout()->lineCount() - 1);
        const double top = layout->blockBoundingRect(block).top() + line.y();
        last = std::max(last, static_cast<int>(std::floor((top + 0.5) / pageHeight)));
    }
    return last + 1;
}

QFont defaultBodyFont() {
    QFont font(QStringLiteral("Calibri"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(11.0);
    return font;
}

}  // namespace

struct PagedDocument::State {
    std::unique_ptr<QTextDocument> doc;
    SourceFormat format = SourceFormat::Text;
    rtf::PageSetup geometry;
    double scale = 1.0;  // layout units to pixels
    QSizeF layoutPage;   // one page body in layout units
    int laidOutPages = 1;
    std::vector<std::string> warnings;
    Underlines underlines;
    PageBands bands;  // the headers and footers of an RTF document
};

namespace {

// Headers and footers are laid out at the body's width, their pictures at
// most a third of the paper high. A header that reaches below the top
// margin moves the body's top down to it, and a footer that reaches above
// the bottom margin its bottom up, as word processors do, as long as the
// body keeps its least height.
PageBands placeBands(rtf::HeadersFooters parts, rtf::PageSetup& g,
                     std::vector<std::string>& warnings) {
    const double width = toPixels(g.paperWidth - g.marginLeft - g.marginRight);
    for (std::unique_ptr<QTextDocument>* band :
         {&parts.header, &parts.footer, &parts.firstHeader, &parts.firstFooter}) {
        if (*band) {
            fitImages(**band, QSizeF(width, toPixels(g.paperHeight) / 3.0));
            boundTableNesting(**band, warnings);
            prepareFormats(**band);
        }
    }
    PageBands bands(std::move(parts), width);
    if (bands.empty()) {
        return bands;
    }
    const int headerBottom =
        g.headerY + static_cast<int>(std::ceil(bands.headerHeight() * kTwipsPerPixel));
    const int footerTop =
        g.footerY + static_cast<int>(std::ceil(bands.footerHeight() * kTwipsPerPixel));
    const int room = g.paperHeight - kMinBodyTwips;
    g.marginTop = std::max(g.marginTop, std::min(headerBottom, room - g.marginBottom));
    g.marginBottom = std::max(g.marginBottom, std::min(footerTop, room - g.marginTop));
    return bands;
}

}  // namespace

PagedDocument::PagedDocument(std::unique_ptr<State> state) : m_state(std::move(state)) {}
PagedDocument::PagedDocument(PagedDocument&&) noexcept = default;
PagedDocument& PagedDocument::operator=(PagedDocument&&) noexcept = default;
PagedDocument::~PagedDocument() = default;

PagedDocument PagedDocument::load(std::span<const std::uint8_t> bytes,
                                  const std::vector<common::InlineImage>& images,
                                  const LoadOptions& options) {
    const int codePage = options.codePage;
    if (bytes.size() > kMaxInputBytes) {
        throw RenderError("document is " + std::to_string(bytes.size()) +
                          " bytes; the renderer accepts at most " + std::to_string(kMaxInputBytes));
    }
    auto state = std::make_unique<State>();
    state->format = options.format.value_or(detectFormat(bytes));
    rtf::PageSetup requested;
    rtf::HeadersFooters bands;
    bool htmlLayout = state->format == SourceFormat::Html;  // or RTF that wraps HTML
    switch (state->format) {
        case SourceFormat::Rtf: {
            rtf::ReadResult result = rtf::readRtf(bytes, images);
            if (!result.document) {
                throw RenderError("the RTF reader returned no document");
            }
            state->doc = std::move(result.document);
            htmlLayout = result.encapsulation == rtf::Encapsulation::Html;
            requested = result.page;
            bands = std::move(result.headersFooters);
            state->warnings = std::move(result.warnings);
            break;
        }
        case SourceFormat::Html: {
            // Mail HTML gets the treatment of HTML wrapped in RTF (Word's
            // conditional comments and <o:p> removed, cid: pictures).
            rtf::ReadResult result =
                rtf::readHtml(cutText(decodeHtml(bytes, codePage), state->warnings), images);
            if (!result.document) {
                throw RenderError("the HTML reader returned no document");
            }
            state->doc = std::move(result.document);
            for (std::string& warning : result.warnings) {
                state->warnings.push_back(std::move(warning));
            }
            break;
        }
        case SourceFormat::Text:
            state->doc = std::make_unique<QTextDocument>();
            state->doc->setDefaultFont(defaultBodyFont());
            break;
    }

    QTextDocument& doc = *state->doc;
    // Plain text names no resources; RTF and HTML documents come from the
    // reader, whose documents serve only the pictures put into them and
    // never read a file or the network.
    if (state->format == SourceFormat::Text) {
        doc.setPlainText(cutText(decodeText(bytes, codePage), state->warnings));
    }
    doc.setDocumentMargin(0);
    QTextOption option = doc.defaultTextOption();
    // A long word or link wraps instead of running off the paper.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);

    // A break before the very first paragraph would only add an empty page.
    const QTextBlock first = doc.begin();
    if (first.isValid() &&
        first.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) {
        QTextBlockFormat format = first.blockFormat();
        format.setPageBreakPolicy(format.pageBreakPolicy() & ~QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(first).setBlockFormat(format);
    }
    if (!options.header.isEmpty()) {
        insertHeader(doc, options.header);
    }

    state->geometry = sanitize(withPaper(requested, options.paper), state->warnings);
    state->bands = placeBands(std::move(bands), state->geometry, state->warnings);
    const rtf::PageSetup& g = state->geometry;
    const QSizeF body(toPixels(g.paperWidth - g.marginLeft - g.marginRight),
                      toPixels(g.paperHeight - g.marginTop - g.marginBottom));
    // Before the layout exists (documentLayout() creates it and lays out at
    // once): sizes beyond what the layout's fixed-point arithmetic holds must
    // never reach it.
    fitImages(doc, body);
    boundTableNesting(doc, state->warnings);
    prepareFormats(doc);
    if (htmlLayout) {
        wrapAsBrowsers(doc);
    }
    doc.documentLayout()->setPaintDevice(layoutDevice());
    doc.setPageSize(body);
    state->layoutPage = body;
    state->laidOutPages = doc.pageCount();

    // Content wider than the paper (a fixed-width table) is shrunk to the
    // body width, as a browser shrinks a page to print it.
    const double paperWidth = toPixels(g.paperWidth - g.marginLeft);
    if (doc.idealWidth() > paperWidth + 0.5) {
        state->scale = std::max(kMinFitScale, body.width() / doc.idealWidth());
        state->layoutPage = QSizeF(body.width() / state->scale, body.height() / state->scale);
        doc.setPageSize(state->layoutPage);
        state->laidOutPages = doc.pageCount();
        state->warnings.push_back("content wider than the paper is shrunk to " +
                                  std::to_string(std::lround(state->scale * 100)) + "%");
    }
    state->laidOutPages = std::clamp(pagesWithContent(doc, state->layoutPage.height()), 1,
                                     std::max(1, state->laidOutPages));
    state->underlines = Underlines::index(doc);
    return PagedDocument(std::move(state));
}

int PagedDocument::pageCount() const {
    return std::min(m_state->laidOutPages, kMaxPages);
}

int PagedDocument::laidOutPageCount() const {
    return m_state->laidOutPages;
}

SourceFormat PagedDocument::format() const {
    return m_state->format;
}

rtf::PageSetup PagedDocument::geometry() const {
    return m_state->geometry;
}

QSize PagedDocument::pagePixelSize(int dpi) const {
    return {toPixels(m_state->geometry.paperWidth, dpi),
            toPixels(m_state->geometry.paperHeight, dpi)};
}

const QTextDocument& PagedDocument::document() const {
    return *m_state->doc;
}

double PagedDocument::layoutPageHeight() const {
    return m_state->layoutPage.height();
}

const std::vector<std::string>& PagedDocument::warnings() const {
    return m_state->warnings;
}

int PagedDocument::pageOfPosition(int position) const {
    const QTextDocument& doc = *m_state->doc;
    const QTextBlock block = doc.findBlock(position);
    if (!block.isValid() || block.layout() == nullptr) {
        return -1;
    }
    const QTextLine line = block.layout()->lineForTextPosition(position - block.position());
    if (!line.isValid()) {
        return -1;
    }
    const double top = doc.documentLayout()->blockBoundingRect(block).top() + line.y();
    return static_cast<int>(std::floor((top + 0.5) / m_state->layoutPage.height()));
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
    const QSize pixels = pagePixelSize(dpi);
    const rtf::PageSetup& g = m_state->geometry;
    QImage image(pixels, QImage::Format_RGB32);
    if (image.isNull()) {
        throw RenderError("cannot allocate a page image of " + std::to_string(pixels.width()) +
                          " x " + std::to_string(pixels.height()) + " pixels");
    }
    const int dotsPerMeter =
        dpi == kDefaultDpi ? kDotsPerMeter96 : static_cast<int>(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);

    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    // Everything below is drawn in pixels of 96 dpi; at another resolution
    // the painter scales the drawing itself, so glyphs and pictures are
    // rasterised at the resolution of the image.
    if (dpi != kDefaultDpi) {
        painter.scale(dpi / static_cast<double>(kDefaultDpi),
                      dpi / static_cast<double>(kDefaultDpi));
    }
    const QSize paper = pagePixelSize();
    const double scale = m_state->scale;
    const QSizeF page = m_state->layoutPage;
    painter.save();
    painter.translate(toPixels(g.marginLeft), toPixels(g.marginTop));
    painter.scale(scale, scale);
    painter.translate(0, -pageIndex * page.height());
    // Left and right, content may reach into the margins up to the paper
    // edge; top and bottom, exactly this page's slice of the layout.
    const QRectF clip(-toPixels(g.marginLeft) / scale, pageIndex * page.height(),
                      paper.width() / scale, page.height());
    painter.setClipRect(clip);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    context.palette.setColor(QPalette::Text, Qt::black);
    m_state->doc->documentLayout()->draw(&painter, context);
    m_state->underlines.draw(painter, *m_state->doc, clip);
    painter.restore();

    if (!m_state->bands.empty()) {
        BandPlacement place;
        place.left = toPixels(g.marginLeft);
        place.width = toPixels(g.paperWidth - g.marginLeft - g.marginRight);
        place.headerTop = toPixels(g.headerY);
        place.footerBottom = paper.height() - toPixels(g.footerY);
        place.paperWidth = paper.width();
        place.paperHeight = paper.height();
        m_state->bands.draw(painter, pageIndex, laidOutPageCount(), place);
    }

    if (truncated() && pageIndex == pageCount() - 1) {
        QFont font = defaultBodyFont();
        font.setPointSizeF(9.0);
        painter.setFont(font);
        painter.setPen(QColor(0xB0, 0x00, 0x00));
        const QRectF band(toPixels(g.marginLeft), paper.height() - toPixels(g.marginBottom),
                          paper.width() - toPixels(g.marginLeft) - toPixels(g.marginRight),
                          toPixels(g.marginBottom));
        painter.drawText(band, Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("The document is cut here: it has %1 pages, of which the "
                                        "first %2 are rendered.")
                             .arg(laidOutPageCount())
                             .arg(pageCount()));
    }
    painter.end();
    return image;
}

void PagedDocument::savePageAsJpeg(int pageIndex, const QString& fileName, int quality,
                                   int dpi) const {
    if (quality < 0 || quality > 100) {
        throw RenderError("JPEG quality " + std::to_string(quality) + " is outside 0..100");
    }
    const QImage image = renderPage(pageIndex, dpi);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        throw RenderError("cannot write \"" + str(fileName) + "\": " + str(file.errorString()));
    }
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image)) {
        file.cancelWriting();
        throw RenderError("cannot write JPEG \"" + str(fileName) +
                          "\": " + str(writer.errorString()));
    }
    if (!file.commit()) {
        throw RenderError("cannot write \"" + str(fileName) + "\": " + str(file.errorString()));
    }
}

}  // namespace render::engine
