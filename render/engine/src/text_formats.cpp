#include "text_formats.h"

#include "engine/paged_document.h"
#include "page_units.h"

#include <rtf/faces.h>

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QRawFont>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextFragment>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

namespace render::engine {

QPaintDevice* layoutDevice() {
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(kDotsPerMeter96);
        image.setDotsPerMeterY(kDotsPerMeter96);
        return image;
    }();
    return &device;
}

QFont defaultBodyFont() {
    QFont font(QStringLiteral("Calibri"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(11.0);
    return font;
}

namespace {

// The families a text format names, with each face's stand-in
// (rtf::standInFace) and without the faces this machine's configuration
// does not have. The engine names stand-ins in the documents themselves: Qt
// resolves an absent face through fontconfig by family name only, which
// loses a stand-in that is a width of a larger family (condensed) and the
// region of a CJK face; and it would resolve an absent first face by its
// own fallback, ahead of the faces the reader put after it (the generic
// face of the RTF font family, the CJK face of the text's region).
QStringList availableFamilies(const QStringList& families, std::map<QString, bool>& known) {
    QStringList result;
    for (const QString& family : families) {
        const QString standIn = rtf::standInFace(family);
        const QString name = standIn.isEmpty() ? family : standIn;
        auto it = known.find(name);
        if (it == known.end()) {
            it = known.emplace(name, QFontDatabase::hasFamily(name)).first;
        }
        static const QStringList kGeneric = {
            QStringLiteral("sans-serif"), QStringLiteral("serif"),   QStringLiteral("monospace"),
            QStringLiteral("cursive"),    QStringLiteral("fantasy"), QStringLiteral("system-ui")};
        if (it->second || kGeneric.contains(name, Qt::CaseInsensitive)) {
            result << name;
        }
    }
    if (result.isEmpty() && !families.isEmpty()) {
        result << families.last();
    }
    result.removeDuplicates();
    return result;
}

bool isEastAsian(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x1100 && c <= 0x11FF) || (c >= 0x20000 && c <= 0x3FFFF);
}

// Qt picks the face of Han, Kana and Hangul text by script alone: the first
// family if it has the script, else its own first face that has it, never
// the later families a format names. Where a format names a CJK face after
// a Latin one (the region the reader found in the font's charset or the
// text's language), the East Asian runs of its text name that face first.
template <typename Edits>
void eastAsianRuns(const QTextFragment& fragment, const QStringList& families, Edits& edits) {
    if (families.size() < 2 || rtf::isCjkFace(families.first())) {
        return;
    }
    const auto cjk = std::find_if(families.begin(), families.end(), rtf::isCjkFace);
    if (cjk == families.end()) {
        return;
    }
    QStringList first{*cjk};
    first += families;
    first.removeDuplicates();
    const QString text = fragment.text();
    qsizetype start = -1;
    qsizetype end = -1;
    const auto flush = [&] {
        if (start >= 0) {
            typename Edits::value_type edit{static_cast<int>(fragment.position() + start),
                                            static_cast<int>(end - start), QTextCharFormat()};
            edit.change.setFontFamilies(first);
            edits.push_back(edit);
        }
        start = -1;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        qsizetype width = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() &&
            text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            width = 2;
        }
        if (isEastAsian(c)) {
            start = start < 0 ? i : start;
            end = i + width;
        } else if (start >= 0 &&
                   !(text.at(i).isSpace() || text.at(i).isPunct() || text.at(i).isDigit())) {
            // Spaces, digits and punctuation between East Asian characters
            // stay in their run: fewer, longer runs.
            flush();
        }
        i += width - 1;
    }
    flush();
}

}  // namespace

namespace {

bool g_noLigatures = false;

}  // namespace

NoLigatures::NoLigatures(bool active) : m_previous(g_noLigatures) {
    g_noLigatures = g_noLigatures || active;
}

NoLigatures::~NoLigatures() {
    g_noLigatures = m_previous;
}

void prepareFormats(QTextDocument& doc) {
    struct Edit {
        int position;
        int length;
        QTextCharFormat change;
    };
    std::vector<Edit> edits;
    std::vector<std::pair<QTextBlock, QStringList>> emptyBlocks;
    std::map<QString, bool> known;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        // An empty paragraph is as high as its own format's face: named by
        // its stand-in as the text's faces are, or Qt looks the name up by a
        // fallback search of its own (a fontconfig sort over every face),
        // which can end on another face than text of that format gets.
        if (block.length() <= 1) {
            const QStringList families = block.charFormat().fontFamilies().toStringList();
            if (!families.isEmpty()) {
                QStringList available = availableFamilies(families, known);
                if (available != families) {
                    emptyBlocks.emplace_back(block, std::move(available));
                }
            }
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isImageFormat()) {
                continue;
            }
            QTextCharFormat change;
            QTextCharFormat::UnderlineStyle style = format.underlineStyle();
            if (style == QTextCharFormat::NoUnderline && format.fontUnderline()) {
                style = QTextCharFormat::SingleUnderline;
            }
            if (style != QTextCharFormat::NoUnderline) {
                change.setUnderlineStyle(QTextCharFormat::NoUnderline);
                change.setProperty(kUnderlineStyleProperty, static_cast<int>(style));
            }
            const QStringList families = format.fontFamilies().toStringList();
            if (!families.isEmpty()) {
                const QStringList available = availableFamilies(families, known);
                if (available != families) {
                    change.setFontFamilies(available);
                }
            }
            if (g_noLigatures && !format.hasProperty(QTextFormat::FontLetterSpacing)) {
                change.setFontLetterSpacingType(QFont::PercentageSpacing);
                change.setFontLetterSpacing(kNoLigatureSpacing);
            }
            if (!change.properties().isEmpty()) {
                edits.push_back({fragment.position(), fragment.length(), change});
            }
            const QStringList named = change.hasProperty(QTextFormat::FontFamilies)
                                          ? change.fontFamilies().toStringList()
                                          : families;
            eastAsianRuns(fragment, named, edits);
        }
    }
    for (const auto& [block, families] : emptyBlocks) {
        QTextCharFormat format = block.charFormat();
        format.setFontFamilies(families);
        QTextCursor(block).setBlockCharFormat(format);
    }
    QTextCursor cursor(&doc);
    for (const Edit& edit : edits) {
        cursor.setPosition(edit.position);
        cursor.setPosition(edit.position + edit.length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(edit.change);
    }
}

void wrapAsBrowsers(QTextDocument& doc) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (text.size() <= kLongestUnbrokenRun) {
            continue;
        }
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
        qsizetype start = 0;
        for (qsizetype next = finder.toNextBoundary(); next >= 0; next = finder.toNextBoundary()) {
            qsizetype end = next;
            while (end > start && text.at(end - 1).isSpace()) {
                --end;
            }
            if (end - start > kLongestUnbrokenRun) {
                return;  // breaks anywhere, as it may have to
            }
            start = next;
        }
    }
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WordWrap);
    doc.setDefaultTextOption(option);
}

namespace {

QColor underlineColor(const QTextCharFormat& format) {
    if (format.underlineColor().isValid()) {
        return format.underlineColor();
    }
    if (format.foreground().style() != Qt::NoBrush) {
        return format.foreground().color();
    }
    return Qt::black;
}

}  // namespace

Underlines Underlines::index(const QTextDocument& doc) {
    Underlines index;
    std::vector<UnderlinedBlock>& blocks = index.m_blocks;
    const QAbstractTextDocumentLayout* layout = doc.documentLayout();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        UnderlinedBlock entry;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const int style = format.intProperty(kUnderlineStyleProperty);
            if (style == QTextCharFormat::NoUnderline) {
                continue;
            }
            entry.runs.push_back({fragment.position() - block.position(), fragment.length(), style,
                                  format.font().resolve(doc.defaultFont()),
                                  underlineColor(format)});
        }
        if (entry.runs.empty() || block.layout() == nullptr) {
            continue;
        }
        const QRectF rect = layout->blockBoundingRect(block);
        entry.top = rect.top();
        entry.bottom = rect.bottom();
        entry.position = block.position();
        blocks.push_back(std::move(entry));
    }
    std::stable_sort(
        blocks.begin(), blocks.end(),
        [](const UnderlinedBlock& a, const UnderlinedBlock& b) { return a.top < b.top; });
    double maxBottom = 0;
    for (const UnderlinedBlock& block : blocks) {
        maxBottom = std::max(maxBottom, block.bottom);
        index.m_maxBottom.push_back(maxBottom);
    }
    return index;
}

namespace {

// Where a font's underline goes, in its own units below the baseline: the
// font's underline position (the centre of the stroke, as its 'post' table
// says), but never closer to the baseline than a gap below the lowest
// descender, as browsers and Word draw it. 1/14 em thick.
struct UnderlineMetrics {
    double top = 0;  // below the baseline
    double thickness = 0;
};

UnderlineMetrics underlineMetrics(const QFont& font) {
    const QFontMetricsF metrics(font, layoutDevice());
    const double size =
        font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * kDefaultDpi / 72.0;
    const double thickness = size / 14.0;
    double position = 0.1 * size;  // centre of the stroke
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray post = raw.fontTable("post");
    if (post.size() >= 12 && raw.unitsPerEm() > 0) {
        const auto u = [&](int at) { return static_cast<std::uint8_t>(post[at]); };
        const auto value = static_cast<std::int16_t>((u(8) << 8) | u(9));
        position = -value * size / raw.unitsPerEm();
    }
    const double descender =
        std::max(0.0, metrics.tightBoundingRect(QStringLiteral("gjpqy")).bottom());
    const double gap = std::max(size / 14.0, 1.0);
    return {std::max(position - thickness / 2, descender + gap), thickness};
}

void drawUnderlineSegment(QPainter& painter, const QRectF& rect, int style, const QColor& color) {
    // Whole device pixels, so a thin underline is one crisp row rather than
    // two grey ones.
    const QTransform device = painter.worldTransform();
    const QRectF mapped = device.mapRect(rect);
    const double top = std::round(mapped.top());
    const double height = std::max(1.0, std::round(mapped.height()));
    const QRectF snapped(mapped.left(), top, mapped.width(), height);
    painter.save();
    painter.resetTransform();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (style == QTextCharFormat::SingleUnderline) {
        painter.fillRect(snapped, color);
    } else {
        QPen pen(color, height);
        pen.setCapStyle(Qt::FlatCap);
        switch (style) {
            case QTextCharFormat::DashUnderline:
                pen.setStyle(Qt::DashLine);
                break;
            case QTextCharFormat::DotLine:
                pen.setStyle(Qt::DotLine);
                break;
            case QTextCharFormat::DashDotLine:
                pen.setStyle(Qt::DashDotLine);
                break;
            case QTextCharFormat::DashDotDotLine:
                pen.setStyle(Qt::DashDotDotLine);
                break;
            default:  // wave and spell-check: a solid line reads as well
                break;
        }
        painter.setPen(pen);
        const double y = top + height / 2;
        painter.drawLine(QPointF(snapped.left(), y), QPointF(snapped.right(), y));
    }
    painter.restore();
}

}  // namespace

// Between an underline and the next line's top: more than a pixel, so that
// a row stays clear once the stroke is snapped to whole pixels.
constexpr double kClearance = 1.5;

void Underlines::draw(QPainter& painter, const QTextDocument& doc, const QRectF& clip) const {
    const std::vector<UnderlinedBlock>& blocks = m_blocks;
    const std::vector<double>& maxBottom = m_maxBottom;
    const auto first = static_cast<std::size_t>(
        std::upper_bound(maxBottom.begin(), maxBottom.end(), clip.top()) - maxBottom.begin());
    const QAbstractTextDocumentLayout* layout = doc.documentLayout();
    std::map<QString, UnderlineMetrics> metricsOf;
    for (std::size_t i = first; i < blocks.size() && blocks[i].top < clip.bottom(); ++i) {
        const UnderlinedBlock& entry = blocks[i];
        if (entry.bottom <= clip.top()) {
            continue;
        }
        const QTextBlock block = doc.findBlock(entry.position);
        const QTextLayout* text = block.layout();
        if (!block.isValid() || text == nullptr) {
            continue;
        }
        const QPointF origin = layout->blockBoundingRect(block).topLeft();
        // The next block's top, when it follows below (not in the next
        // cell of a table row).
        const double nextBlockTop =
            block.next().isValid() ? layout->blockBoundingRect(block.next()).top() : -1.0;
        const QString chars = block.text();
        for (const UnderlineRun& run : entry.runs) {
            auto known = metricsOf.find(run.font.key());
            if (known == metricsOf.end()) {
                known = metricsOf.emplace(run.font.key(), underlineMetrics(run.font)).first;
            }
            const UnderlineMetrics& m = known->second;
            const int runEnd = run.start + run.length;
            for (int l = 0; l < text->lineCount(); ++l) {
                const QTextLine line = text->lineAt(l);
                const int lineStart = line.textStart();
                const int lineEnd = lineStart + line.textLength();
                int from = std::max(run.start, lineStart);
                int to = std::min(runEnd, lineEnd);
                // White space that ends a line is not underlined.
                if (to == lineEnd) {
                    while (to > from && to <= chars.size() && chars.at(to - 1).isSpace()) {
                        --to;
                    }
                }
                if (from >= to) {
                    continue;
                }
                const double baseline = origin.y() + line.y() + line.ascent();
                // Below the descenders, but a pixel clear of the next line:
                // at a tight line pitch (small monospace links, one under
                // the other) the stroke would otherwise join two lines.
                double below = m.top;
                if (l + 1 < text->lineCount()) {
                    below = std::min(below, text->lineAt(l + 1).y() - line.y() - line.ascent() -
                                                m.thickness - kClearance);
                } else if (nextBlockTop > baseline) {
                    below = std::min(below, nextBlockTop - baseline - m.thickness - kClearance);
                }
                const double top = baseline + std::max(1.0, below);
                if (top > clip.bottom() || top + m.thickness < clip.top()) {
                    continue;
                }
                const double x1 = origin.x() + line.cursorToX(from);
                const double x2 = origin.x() + line.cursorToX(to);
                const QRectF rect(std::min(x1, x2), top, std::abs(x2 - x1), m.thickness);
                const QRectF visible = rect.intersected(clip);
                if (!visible.isEmpty()) {
                    drawUnderlineSegment(painter, visible, run.style, run.color);
                }
            }
        }
    }
}

}  // namespace render::engine
