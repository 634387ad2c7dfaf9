#include "engine/paged_document.h"

#include "engine/render_limits.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QColor>
#include <QFont>
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
constexpr std::size_t kSniffBytes = 4096;

int toPixels(int twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

std::string str(const QString& s) {
    return s.toStdString();
}

// The paint device every layout measures against: fonts in points and
// pictures in pixels come out at 96 dpi whatever the screen says.
QPaintDevice* layoutDevice() {
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(kDotsPerMeter96);
        image.setDotsPerMeterY(kDotsPerMeter96);
        return image;
    }();
    return &device;
}

QByteArrayView view(std::span<const std::uint8_t> bytes) {
    return QByteArrayView(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
}

std::span<const std::uint8_t> skipUtf8Bom(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return bytes.subspan(3);
    }
    return bytes;
}

bool isValidUtf8(QByteArrayView data) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(data);
    return !decoder.hasError();
}

// Windows-1252 without relying on a codec being present: Latin-1 except for
// 0x80..0x9F.
QString decodeWindows1252(QByteArrayView data) {
    static constexpr std::array<char16_t, 32> kHigh = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    QString out;
    out.reserve(data.size());
    for (const char c : data) {
        const auto b = static_cast<unsigned char>(c);
        out.append(b >= 0x80 && b < 0xA0 ? QChar(kHigh[b - 0x80u]) : QChar(b));
    }
    return out;
}

// Decodes with a named encoding; nothing when the name is unknown.
std::optional<QString> decodeWith(const QByteArray& encodingName, QByteArrayView data) {
    if (encodingName.isEmpty()) {
        return std::nullopt;
    }
    QStringDecoder decoder(encodingName.constData());
    if (!decoder.isValid()) {
        return std::nullopt;
    }
    return decoder.decode(data);
}

// UTF-8 when the bytes are valid UTF-8, else Windows-1252.
QString decodeGuessing(QByteArrayView data) {
    return isValidUtf8(data) ? QString::fromUtf8(data) : decodeWindows1252(data);
}

bool hasByteOrderMark(QByteArrayView data) {
    return data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") ||
           data.startsWith("\xFE\xFF");
}

QString lowerAsciiPrefix(std::span<const std::uint8_t> bytes, std::size_t limit) {
    const auto head = bytes.first(std::min(bytes.size(), limit));
    return QString::fromLatin1(view(head)).toLower();
}

// The charset an HTML document names in a <meta> tag, if any.
QByteArray htmlCharset(std::span<const std::uint8_t> bytes) {
    const QString head = lowerAsciiPrefix(bytes, kSniffBytes);
    const qsizetype at = head.indexOf(QLatin1String("charset="));
    if (at < 0) {
        return {};
    }
    qsizetype begin = at + 8;
    while (begin < head.size() && (head[begin] == u'"' || head[begin] == u'\'')) {
        ++begin;
    }
    qsizetype end = begin;
    while (end < head.size() && (head[end].isLetterOrNumber() || head[end] == u'-' ||
                                 head[end] == u'_' || head[end] == u':')) {
        ++end;
    }
    return head.mid(begin, end - begin).toLatin1();
}

// HTML: a byte-order mark, else the charset its <meta> names, else the
// encoding the caller knows, else a guess.
QString decodeHtml(std::span<const std::uint8_t> bytes, const QByteArray& encoding) {
    const QByteArrayView data = view(bytes);
    if (hasByteOrderMark(data)) {
        return decodeText(bytes);
    }
    if (auto named = decodeWith(htmlCharset(bytes), data)) {
        return *named;
    }
    return decodeText(bytes, encoding);
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

// A small grey box standing in for a picture that is missing or cannot be
// decoded, so the reader sees that something was there.
QImage placeholderImage() {
    QImage image(48, 36, QImage::Format_RGB32);
    image.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter painter(&image);
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.drawRect(0, 0, image.width() - 1, image.height() - 1);
    painter.drawLine(0, 0, image.width() - 1, image.height() - 1);
    painter.drawLine(0, image.height() - 1, image.width() - 1, 0);
    return image;
}

QImage decodeImage(QByteArrayView data) {
    QByteArray copy = data.toByteArray();
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && static_cast<long long>(size.width()) * size.height() > kMaxImagePixels) {
        const double factor =
            std::sqrt(static_cast<double>(kMaxImagePixels) /
                      (static_cast<double>(size.width()) * static_cast<double>(size.height())));
        reader.setScaledSize(QSize(std::max(1, static_cast<int>(size.width() * factor)),
                                   std::max(1, static_cast<int>(size.height() * factor))));
    }
    return reader.read();
}

// Answers every resource the layout asks for: pictures the message carries,
// "data:" pictures, and a placeholder for everything else. Nothing is ever
// read from the file system or the network on behalf of a document.
class ResourceStore {
public:
    // Pictures are decoded when the document first asks for them, so a
    // message with many attachments pays only for those its body shows.
    explicit ResourceStore(const std::vector<InlineImage>& images) {
        for (const InlineImage& image : images) {
            auto shared = std::make_shared<const InlineImage>(image);
            if (!image.contentId.empty()) {
                m_pending.emplace(cidKey(QString::fromStdString(image.contentId)), shared);
            }
            if (!image.fileName.empty()) {
                m_pending.emplace(nameKey(QString::fromStdString(image.fileName)), shared);
            }
        }
    }

    QVariant resource(const QUrl& url) {
        const QString scheme = url.scheme().toLower();
        QString key;
        if (scheme == QLatin1String("cid")) {
            key = cidKey(url.path());
        } else if (scheme == QLatin1String("data")) {
            key = QStringLiteral("data:") + url.toString(QUrl::FullyEncoded);
            if (m_byKey.find(key) == m_byKey.end()) {
                m_byKey.emplace(key, decodeDataUrl(url));
            }
        } else {
            key = nameKey(url.fileName());
        }
        if (const auto pending = m_pending.find(key); pending != m_pending.end()) {
            const InlineImage& image = *pending->second;
            QImage decoded =
                decodeImage(QByteArrayView(reinterpret_cast<const char*>(image.data.data()),
                                           static_cast<qsizetype>(image.data.size())));
            if (decoded.isNull()) {
                m_warnings.push_back("inline picture \"" + image.fileName +
                                     "\" could not be decoded");
            }
            m_byKey.emplace(key, std::move(decoded));
            m_pending.erase(pending);
        }
        const auto found = m_byKey.find(key);
        if (found != m_byKey.end() && !found->second.isNull()) {
            return found->second;
        }
        if (m_placeholder.isNull()) {
            m_placeholder = placeholderImage();
        }
        return m_placeholder;
    }

    std::vector<std::string> takeWarnings() { return std::move(m_warnings); }

private:
    static QString cidKey(QString id) {
        id = id.trimmed();
        if (id.startsWith(u'<') && id.endsWith(u'>')) {
            id = id.mid(1, id.size() - 2);
        }
        return QStringLiteral("cid:") + id.toLower();
    }
    static QString nameKey(const QString& name) { return QStringLiteral("name:") + name.toLower(); }
    static QImage decodeDataUrl(const QUrl& url) {
        const QString path = url.path(QUrl::FullyEncoded);
        const qsizetype comma = path.indexOf(u',');
        if (comma < 0) {
            return {};
        }
        const QByteArray payload = path.mid(comma + 1).toLatin1();
        const bool base64 =
            path.left(comma).contains(QLatin1String(";base64"), Qt::CaseInsensitive);
        const QByteArray bytes =
            base64 ? QByteArray::fromBase64(QByteArray::fromPercentEncoding(payload))
                   : QByteArray::fromPercentEncoding(payload);
        return decodeImage(bytes);
    }

    std::map<QString, std::shared_ptr<const InlineImage>> m_pending;
    std::map<QString, QImage> m_byKey;
    QImage m_placeholder;
    std::vector<std::string> m_warnings;
};

// QTextDocument asks its parent document for every resource first and, when
// the parent is a document, never falls back to reading files itself. Every
// laid-out document is therefore parented to one of these.
class ResourceGuard : public QTextDocument {
public:
    explicit ResourceGuard(const std::vector<InlineImage>& images) : m_store(images) {}

    QVariant loadResource(int, const QUrl& name) override { return m_store.resource(name); }

    std::vector<std::string> takeWarnings() { return m_store.takeWarnings(); }

private:
    ResourceStore m_store;
};

PageGeometry sanitize(PageGeometry g, std::vector<std::string>& warnings) {
    const PageGeometry letter;
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

// The first table nested more than kMaxTableNesting tables deep, or null.
// Iterative: frames may nest arbitrarily deep in hostile input.
QTextTable* tooDeepTable(QTextFrame* root) {
    std::vector<std::pair<QTextFrame*, int>> pending{{root, 0}};
    while (!pending.empty()) {
        const auto [frame, depth] = pending.back();
        pending.pop_back();
        for (QTextFrame* child : frame->childFrames()) {
            auto* table = qobject_cast<QTextTable*>(child);
            const int childDepth = depth + (table != nullptr ? 1 : 0);
            if (table != nullptr && childDepth > kMaxTableNesting) {
                return table;
            }
            pending.emplace_back(child, childDepth);
        }
    }
    return nullptr;
}

// Replaces tables nested too deep by their text, outermost first. Each pass
// removes one table with everything inside it, so the loop ends.
void flattenDeepTables(QTextDocument& doc, std::vector<std::string>& warnings) {
    int flattened = 0;
    while (QTextTable* table = tooDeepTable(doc.rootFrame())) {
        QTextCursor cursor(&doc);
        cursor.setPosition(table->firstPosition());
        cursor.setPosition(table->lastPosition(), QTextCursor::KeepAnchor);
        const QString text = cursor.selection().toPlainText();
        const int at = table->firstPosition() - 1;
        table->removeRows(0, table->rows());
        QTextCursor insert(&doc);
        insert.setPosition(std::clamp(at, 0, doc.characterCount() - 1));
        insert.insertText(text);
        ++flattened;
    }
    if (flattened > 0) {
        warnings.push_back(std::to_string(flattened) + " tables nested more than " +
                           std::to_string(kMaxTableNesting) + " deep are shown as text");
    }
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

SourceFormat detectFormat(std::span<const std::uint8_t> bytes) {
    auto rest = skipUtf8Bom(bytes);
    std::size_t start = 0;
    while (start < rest.size() && (rest[start] == ' ' || rest[start] == '\t' ||
                                   rest[start] == '\r' || rest[start] == '\n')) {
        ++start;
    }
    rest = rest.subspan(start);
    static constexpr std::string_view kRtf = "{\\rtf";
    if (rest.size() >= kRtf.size() &&
        std::equal(kRtf.begin(), kRtf.end(), rest.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
        return SourceFormat::Rtf;
    }
    // UTF-16 markup is decoded before it is looked at.
    const QString head =
        (bytes.size() >= 2 &&
         ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
            ? decodeText(bytes.first(std::min(bytes.size(), kSniffBytes))).trimmed().toLower()
            : lowerAsciiPrefix(rest, kSniffBytes);
    if (!head.startsWith(u'<')) {
        return SourceFormat::Text;
    }
    for (const char* tag : {"<html", "<!doctype html", "<head", "<body"}) {
        if (head.contains(QLatin1String(tag))) {
            return SourceFormat::Html;
        }
    }
    return SourceFormat::Text;
}

QString decodeText(std::span<const std::uint8_t> bytes, const QByteArray& encoding) {
    const QByteArrayView data = view(bytes);
    if (data.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(data.sliced(3));
    }
    if (data.startsWith("\xFF\xFE")) {
        return QStringDecoder(QStringDecoder::Utf16LE).decode(data.sliced(2));
    }
    if (data.startsWith("\xFE\xFF")) {
        return QStringDecoder(QStringDecoder::Utf16BE).decode(data.sliced(2));
    }
    if (auto known = decodeWith(encoding, data)) {
        return *known;
    }
    return decodeGuessing(data);
}

struct PagedDocument::State {
    // Declared first so that it is destroyed last: it is the document's parent.
    std::unique_ptr<ResourceGuard> guard;
    std::unique_ptr<QTextDocument> doc;
    SourceFormat format = SourceFormat::Text;
    PageGeometry geometry;
    double scale = 1.0;  // layout units to pixels
    QSizeF layoutPage;   // one page body in layout units
    int laidOutPages = 1;
    std::vector<std::string> warnings;
};

PagedDocument::PagedDocument(std::unique_ptr<State> state) : m_state(std::move(state)) {}
PagedDocument::PagedDocument(PagedDocument&&) noexcept = default;
PagedDocument& PagedDocument::operator=(PagedDocument&&) noexcept = default;
PagedDocument::~PagedDocument() = default;

PagedDocument PagedDocument::load(std::span<const std::uint8_t> bytes,
                                  const std::vector<InlineImage>& images,
                                  const QByteArray& encoding) {
    if (bytes.size() > kMaxInputBytes) {
        throw RenderError("document is " + std::to_string(bytes.size()) +
                          " bytes; the renderer accepts at most " + std::to_string(kMaxInputBytes));
    }
    auto state = std::make_unique<State>();
    state->format = detectFormat(bytes);
    state->guard = std::make_unique<ResourceGuard>(images);
    PageGeometry requested;

    std::vector<rtf::InlineImage> rtfImages;
    rtfImages.reserve(images.size());
    for (const InlineImage& image : images) {
        rtfImages.push_back({image.contentId, image.fileName, image.data});
    }
    switch (state->format) {
        case SourceFormat::Rtf: {
            rtf::ReadResult result = rtf::readRtf(bytes, rtfImages);
            if (!result.document) {
                throw RenderError("the RTF reader returned no document");
            }
            state->doc = std::move(result.document);
            requested = {result.page.paperWidth, result.page.paperHeight,
                         result.page.marginLeft, result.page.marginRight,
                         result.page.marginTop,  result.page.marginBottom};
            state->warnings = std::move(result.warnings);
            break;
        }
        case SourceFormat::Html: {
            // Mail HTML gets the treatment of HTML wrapped in RTF (Word's
            // conditional comments and <o:p> removed, cid: pictures).
            rtf::ReadResult result =
                rtf::readHtml(cutText(decodeHtml(bytes, encoding), state->warnings), rtfImages);
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
    // Set before any content is parsed, so that no stylesheet or picture link
    // ever reaches the file system.
    doc.setParent(state->guard.get());
    if (state->format == SourceFormat::Text) {
        doc.setPlainText(cutText(decodeText(bytes, encoding), state->warnings));
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

    state->geometry = sanitize(requested, state->warnings);
    const PageGeometry& g = state->geometry;
    const QSizeF body(toPixels(g.paperWidth - g.marginLeft - g.marginRight),
                      toPixels(g.paperHeight - g.marginTop - g.marginBottom));
    // Before the layout exists (documentLayout() creates it and lays out at
    // once): sizes beyond what the layout's fixed-point arithmetic holds must
    // never reach it.
    fitImages(doc, body);
    flattenDeepTables(doc, state->warnings);
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
    for (std::string& warning : state->guard->takeWarnings()) {
        state->warnings.push_back(std::move(warning));
    }
    state->laidOutPages = std::clamp(pagesWithContent(doc, state->layoutPage.height()), 1,
                                     std::max(1, state->laidOutPages));
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

PageGeometry PagedDocument::geometry() const {
    return m_state->geometry;
}

QSize PagedDocument::pagePixelSize() const {
    return {toPixels(m_state->geometry.paperWidth), toPixels(m_state->geometry.paperHeight)};
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

QImage PagedDocument::renderPage(int pageIndex) const {
    if (pageIndex < 0 || pageIndex >= pageCount()) {
        throw RenderError("page index " + std::to_string(pageIndex) + " is out of range (" +
                          std::to_string(pageCount()) + " pages)");
    }
    const QSize paper = pagePixelSize();
    const PageGeometry& g = m_state->geometry;
    QImage image(paper, QImage::Format_RGB32);
    if (image.isNull()) {
        throw RenderError("cannot allocate a page image of " + std::to_string(paper.width()) +
                          " x " + std::to_string(paper.height()) + " pixels");
    }
    image.setDotsPerMeterX(kDotsPerMeter96);
    image.setDotsPerMeterY(kDotsPerMeter96);
    image.fill(Qt::white);

    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
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
    painter.restore();

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

void PagedDocument::savePageAsJpeg(int pageIndex, const QString& fileName, int quality) const {
    if (quality < 0 || quality > 100) {
        throw RenderError("JPEG quality " + std::to_string(quality) + " is outside 0..100");
    }
    const QImage image = renderPage(pageIndex);
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
