// The HTML layout of mail: the corrections that make Qt lay out mail HTML
// (Word's and webmail's) as a browser would, and its pictures.

#include "css_inline.h"
#include "html_shown_text.h"
#include "match_replace.h"
#include "pictures.h"
#include "reader.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextTable>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace rtf::detail {

namespace {

QString attribute(const QString& tag, const QString& name) {
    const QRegularExpression re(
        QStringLiteral("\\b%1\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(tag);
    if (!m.hasMatch()) {
        return {};
    }
    for (int i = 1; i <= 3; ++i) {
        if (m.capturedStart(i) >= 0) {
            return m.captured(i);
        }
    }
    return {};
}

QString normalisedId(QString id) {
    // Content ids arrive with NULs, blanks and angle brackets around them.
    while (!id.isEmpty() &&
           (id.front() == QChar(0) || id.front().isSpace() || id.front() == u'<')) {
        id.remove(0, 1);
    }
    while (!id.isEmpty() && (id.back() == QChar(0) || id.back().isSpace() || id.back() == u'>')) {
        id.chop(1);
    }
    return id.toLower();
}

const InlineImage* findImage(const std::vector<InlineImage>& images, const QString& cid) {
    const QString wanted = normalisedId(cid);
    if (wanted.isEmpty()) {
        return nullptr;
    }
    for (const InlineImage& image : images) {
        if (normalisedId(QString::fromUtf8(image.contentId.data(),
                                           static_cast<qsizetype>(image.contentId.size()))) ==
            wanted) {
            return &image;
        }
    }
    // Fall back to the file name: "image001.png@01D..." names "image001.png".
    const QString name = wanted.section(u'@', 0, 0);
    for (const InlineImage& image : images) {
        const QString file = normalisedId(QString::fromUtf8(
            image.fileName.data(), static_cast<qsizetype>(image.fileName.size())));
        if (!file.isEmpty() && (file == wanted || file == name)) {
            return &image;
        }
    }
    return nullptr;
}

int lengthAttribute(const QString& tag, const QString& name) {
    const QString value = attribute(tag, name);
    bool ok = false;
    const int v = value.endsWith(QStringLiteral("px"), Qt::CaseInsensitive)
                      ? value.chopped(2).toInt(&ok)
                      : value.toInt(&ok);
    return ok && v > 0 ? std::min(v, kMaxHtmlImageEdge) : 0;
}

// Qt's style sheets take margins and paddings in px only and font sizes in
// px or pt; Word's mail writes cm and pt everywhere ("p.MsoNormal
// {margin:0cm}"), and a length Qt cannot read drops the rule, leaving Qt's
// default paragraph margins. Lengths inside <style> blocks and style=""
// attributes are rewritten (font sizes in pt, everything else in px at 96
// dots per inch); the text of the mail is not touched.
QString withQtUnits(const QString& html) {
    static const QRegularExpression kStyleParts(
        QStringLiteral("<style\\b[^>]*>.*?</style\\s*>|\\bstyle\\s*=\\s*(?:\"[^\"]*\"|'[^']*')"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kLength(
        QStringLiteral("(font-size\\s*:\\s*)?(-?\\d*\\.?\\d+)(cm|mm|in|pt)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    const auto inQtUnits = [](const QRegularExpressionMatch& m) -> std::optional<QString> {
        const bool fontSize = m.capturedStart(1) >= 0;
        const QString unit = m.captured(3).toLower();
        const double points =
            m.captured(2).toDouble() * (unit == QStringLiteral("cm")   ? 72.0 / 2.54
                                        : unit == QStringLiteral("mm") ? 72.0 / 25.4
                                        : unit == QStringLiteral("in") ? 72.0
                                                                       : 1.0);
        return m.captured(1) +
               (fontSize ? QString::number(points, 'f', 2) + QStringLiteral("pt")
                         : QString::number(points * 96.0 / 72.0, 'f', 2) + QStringLiteral("px"));
    };
    return replaceMatches(html, kStyleParts, [&](const QRegularExpressionMatch& part) {
        return std::optional<QString>(replaceMatches(part.captured(), kLength, inQtUnits));
    });
}

// Outlook separates a reply from the message it quotes with the top border
// of the block holding "From: ... Sent: ...". Qt draws no borders of blocks,
// so the separation was lost; a rule of the border's colour goes before such
// a <div> or <p>.
QString withTopBordersAsRules(const QString& html) {
    static const QRegularExpression kBlock(
        QStringLiteral("<(?:div|p)\\b(?:[^>\"']|\"[^\"]*\"|'[^']*')*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kTopBorder(
        QStringLiteral("border-top\\s*:\\s*([^;\"']*\\b(?:solid|double)\\b[^;\"']*)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kColor(QStringLiteral("#[0-9a-fA-F]{3,6}\\b"));
    return replaceMatches(
        html, kBlock, [](const QRegularExpressionMatch& block) -> std::optional<QString> {
            const QRegularExpressionMatch border = kTopBorder.match(block.captured());
            if (!border.hasMatch()) {
                return std::nullopt;
            }
            const QRegularExpressionMatch color = kColor.match(border.captured(1));
            return QStringLiteral("<hr style=\"background-color:") +
                   (color.hasMatch() ? color.captured() : QStringLiteral("#808080")) +
                   QStringLiteral("\">") + block.captured();
        });
}

// Mail HTML sizes tables and cells with CSS ("style=\"width:600px\""), which
// Qt's HTML does not apply to tables; without it columns shrink to a few
// characters. A table, cell or header cell with a CSS width in px or % and no
// width attribute gets that width as an attribute, which Qt applies.
// A cell spanning several columns loses its width instead: Qt shares it out
// evenly over the columns (a banner "width=100% colspan=4" made four columns
// of 25% each), where a browser only makes the columns together that wide.
QString withTableWidthAttributes(const QString& html) {
    static const QRegularExpression kTag(
        QStringLiteral("<(table|td|th)\\b((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kWidthAttribute(QStringLiteral("(?:^|\\s)width\\s*="),
                                                    QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kStyle(QStringLiteral("\\bstyle\\s*=\\s*(\"[^\"]*\"|'[^']*')"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kCssWidth(
        QStringLiteral("(?:^|[;\\s\"'])width\\s*:\\s*(\\d+(?:\\.\\d+)?)\\s*(px|%)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kColspan(
        QStringLiteral("(?:^|\\s)colspan\\s*=\\s*[\"']?\\s*0*([2-9]|[1-9]\\d+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kWidthValue(
        QStringLiteral("(?:^|\\s)width\\s*=\\s*(?:\"[^\"]*\"|'[^']*'|[^\\s>]*)"),
        QRegularExpression::CaseInsensitiveOption);
    return replaceMatches(
        html, kTag, [](const QRegularExpressionMatch& tag) -> std::optional<QString> {
            const QString open = QLatin1Char('<') + tag.captured(1);
            const QString attributes = tag.captured(2);
            if (kColspan.match(attributes).hasMatch()) {
                const QRegularExpressionMatch width = kWidthValue.match(attributes);
                if (!width.hasMatch()) {
                    return std::nullopt;
                }
                return open + attributes.left(width.capturedStart()) + QLatin1Char(' ') +
                       attributes.mid(width.capturedEnd()) + QLatin1Char('>');
            }
            if (kWidthAttribute.match(attributes).hasMatch()) {
                return std::nullopt;
            }
            const QRegularExpressionMatch style = kStyle.match(attributes);
            if (!style.hasMatch()) {
                return std::nullopt;
            }
            const QRegularExpressionMatch width = kCssWidth.match(style.captured(1));
            if (!width.hasMatch()) {
                return std::nullopt;
            }
            const QString value =
                QString::number(qRound(width.captured(1).toDouble())) +
                (width.captured(2) == QStringLiteral("%") ? QStringLiteral("%") : QString());
            return open + QStringLiteral(" width=\"") + value + QLatin1Char('"') + attributes +
                   QLatin1Char('>');
        });
}

// Mail spaces its layout tables with empty rows and cells of a set height
// ("<tr style=\"height:70px\"></tr>", "<td height=\"32\">&nbsp;</td>").
// Qt keeps no row or cell heights: a row without cells became one line of
// text high whatever its height, and an empty cell as high as its text, so
// a footer came up against the pictures above it. Such a row gets one cell,
// and such a cell a paragraph of exactly that height (at most
// kMaxSpacerHeight); rows and cells with content keep Qt's heights.
constexpr int kMaxSpacerHeight = 1000;

int spacerHeight(const QString& attributes) {
    static const QRegularExpression kCss(
        QStringLiteral("(?:^|[;\\s\"'])height\\s*:\\s*(\\d+(?:\\.\\d+)?)\\s*px"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kAttribute(
        QStringLiteral("(?:^|\\s)height\\s*=\\s*[\"']?\\s*(\\d+)(?:px)?\\s*[\"'\\s]"),
        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch m = kCss.match(attributes);
    if (!m.hasMatch()) {
        m = kAttribute.match(attributes + QLatin1Char(' '));
    }
    if (!m.hasMatch()) {
        return -1;
    }
    return std::clamp(qRound(m.captured(1).toDouble()), 0, kMaxSpacerHeight);
}

QString spacerParagraph(int height) {
    return QStringLiteral("<p style=\"margin:0;font-size:1px;line-height:%1px\">&nbsp;</p>")
        .arg(std::max(1, height));
}

QString withSpacerHeights(const QString& html) {
    static const QRegularExpression kEmpty(
        QStringLiteral("<(tr|td|th)\\b((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>"
                       "((?:\\s|&nbsp;|&#160;|<br\\s*/?>)*)</\\1\\s*>"),
        QRegularExpression::CaseInsensitiveOption);
    return replaceMatches(
        html, kEmpty, [](const QRegularExpressionMatch& m) -> std::optional<QString> {
            const int height = spacerHeight(m.captured(2));
            if (height < 0) {
                return std::nullopt;
            }
            const bool row = m.captured(1).compare(QStringLiteral("tr"), Qt::CaseInsensitive) == 0;
            QString spaced = m.captured();
            spaced.replace(m.capturedStart(3) - m.capturedStart(), m.capturedLength(3),
                           row ? QStringLiteral("<td style=\"padding:0\">") +
                                     spacerParagraph(height) + QStringLiteral("</td>")
                               : spacerParagraph(height));
            return spaced;
        });
}

// A browser centres a cell's content vertically unless the cell or its row
// says otherwise; Qt puts it at the top. A signature's text beside its logo,
// a label beside a two-line value, came out high. Every cell without a
// vertical alignment of its own gets its row's, else "middle", as an
// attribute Qt reads.
QString withCellVerticalAlignment(const QString& html) {
    static const QRegularExpression kTag(
        QStringLiteral("<(/?)(table|tr|td|th)\\b((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kValign(
        QStringLiteral("(?:^|\\s)valign\\s*=\\s*[\"']?\\s*(top|middle|center|bottom|baseline)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kCss(
        QStringLiteral("vertical-align\\s*:\\s*(top|middle|bottom|baseline)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto alignmentOf = [](const QString& attributes) {
        QRegularExpressionMatch m = kValign.match(attributes);
        if (!m.hasMatch()) {
            m = kCss.match(attributes);
        }
        return m.hasMatch() ? m.captured(1).toLower() : QString();
    };
    // The alignment of the current row of each open table.
    std::vector<QString> rows;
    return replaceMatches(
        html, kTag, [&](const QRegularExpressionMatch& m) -> std::optional<QString> {
            const QString name = m.captured(2).toLower();
            const bool closing = !m.captured(1).isEmpty();
            if (name == QStringLiteral("table")) {
                if (!closing) {
                    rows.emplace_back();
                } else if (!rows.empty()) {
                    rows.pop_back();
                }
                return std::nullopt;
            }
            if (closing || rows.empty()) {
                return std::nullopt;
            }
            const QString own = alignmentOf(m.captured(3));
            if (name == QStringLiteral("tr")) {
                rows.back() = own;
                return std::nullopt;
            }
            if (!own.isEmpty()) {
                return std::nullopt;
            }
            const QString value = rows.back().isEmpty() ? QStringLiteral("middle") : rows.back();
            QString aligned = m.captured();
            aligned.insert(m.capturedEnd(2) - m.capturedStart(),
                           QStringLiteral(" valign=\"") + value + QLatin1Char('"'));
            return aligned;
        });
}

// Tables nested deeper than kMaxTableNesting lose their inner table markup
// (cells become runs separated by blanks, rows by line breaks): Qt lays
// nested tables out recursively, and hostile mail can nest thousands.
QString withBoundedTableNesting(const QString& html) {
    static const QRegularExpression kTableTag(QStringLiteral("<(/?)(table|tr|td|th)\\b[^>]*>"),
                                              QRegularExpression::CaseInsensitiveOption);
    int depth = 0;
    return replaceMatches(
        html, kTableTag, [&](const QRegularExpressionMatch& m) -> std::optional<QString> {
            const bool closing = !m.captured(1).isEmpty();
            const bool table =
                m.captured(2).compare(QStringLiteral("table"), Qt::CaseInsensitive) == 0;
            const int levelOfTag = table && !closing ? depth + 1 : depth;
            if (table) {
                depth = closing ? std::max(0, depth - 1) : depth + 1;
            }
            if (levelOfTag <= kMaxTableNesting) {
                return std::nullopt;
            }
            const bool rowEnd =
                closing && m.captured(2).compare(QStringLiteral("tr"), Qt::CaseInsensitive) == 0;
            return rowEnd ? QStringLiteral("<br>") : QStringLiteral(" ");
        });
}

// Calls fn for every table under `frame`, nested tables before the tables
// holding them. The children of each frame are listed before any is
// changed, so fn may add tables beside the one it is given.
template <typename Fn>
void forEachTableInnermostFirst(QTextFrame* frame, const Fn& fn) {
    const QList<QTextFrame*> children = frame->childFrames();
    for (QTextFrame* child : children) {
        forEachTableInnermostFirst(child, fn);
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            fn(*table);
        }
    }
}

// A table sized wider than the text (a newsletter's 600 px, a pasted
// spreadsheet's 1138 px) would make the whole page shrink until its text is
// too small to read. Such a table takes the text width instead, its fixed
// column widths become shares of it, and its cells' "nowrap" gives way so
// long links wrap.
void fitWideTable(QTextTable& table, qreal available) {
    QTextTableFormat format = table.format();
    QList<QTextLength> columns = format.columnWidthConstraints();
    qreal fixedColumns = 0;
    for (const QTextLength& column : columns) {
        if (column.type() == QTextLength::FixedLength) {
            fixedColumns += column.rawValue();
        }
    }
    const qreal width = format.width().type() == QTextLength::FixedLength
                            ? std::max(format.width().rawValue(), fixedColumns)
                            : fixedColumns;
    if (width <= available + 0.5) {
        return;
    }
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    for (QTextLength& column : columns) {
        if (column.type() == QTextLength::FixedLength) {
            column = QTextLength(QTextLength::PercentageLength, 100.0 * column.rawValue() / width);
        }
    }
    format.setColumnWidthConstraints(columns);
    table.setFormat(format);
    const QTextDocument& document = *table.document();
    for (QTextBlock block = document.findBlock(table.firstPosition());
         block.isValid() && block.position() <= table.lastPosition(); block = block.next()) {
        if (block.blockFormat().nonBreakableLines()) {
            QTextBlockFormat wrapping;
            wrapping.setNonBreakableLines(false);
            QTextCursor(block).mergeBlockFormat(wrapping);
        }
    }
}

bool isEmptyCell(const QTextTableCell& cell) {
    if (cell.format().hasProperty(QTextFormat::BackgroundBrush)) {
        return false;
    }
    for (auto it = cell.begin(); !it.atEnd(); ++it) {
        if (it.currentFrame() != nullptr) {
            return false;
        }
        const QString text = it.currentBlock().text();
        for (const QChar c : text) {
            if (!c.isSpace() && c != QChar(0x00A0)) {
                return false;
            }
        }
    }
    return true;
}

// Mail layouts put empty cells without a width beside a cell sized 100%
// ("<td> </td><td width=100%>...</td><td> </td>"). A browser gives them no
// width; Qt's table layout spreads the least width of a cell spanning the
// row below over them, squeezing the 100% column to a narrow strip. Such
// columns go when the table's percentage columns add up to the whole width.
void dropEmptyColumnsBesideFullWidthOnes(QTextTable& table) {
    if (table.columns() < 2) {
        return;
    }
    QList<QTextLength> columns = table.format().columnWidthConstraints();
    columns.resize(table.columns());
    qreal percent = 0;
    for (const QTextLength& column : columns) {
        if (column.type() == QTextLength::PercentageLength) {
            percent += column.rawValue();
        }
    }
    if (percent < 99) {
        return;
    }
    for (int c = table.columns() - 1; c >= 0 && table.columns() > 1; --c) {
        if (columns[c].type() != QTextLength::VariableLength) {
            continue;
        }
        bool empty = true;
        for (int r = 0; r < table.rows() && empty; ++r) {
            const QTextTableCell cell = table.cellAt(r, c);
            // A cell spanning rows and columns keeps its columns: Qt's
            // removeColumns() narrows it once for every row it spans, the
            // grid broke, and the cells after it were lost with their text.
            if (!cell.isValid() || (cell.rowSpan() > 1 && cell.columnSpan() > 1)) {
                empty = false;
            } else if (cell.column() == c && cell.columnSpan() == 1) {
                empty = isEmptyCell(cell);
            }
        }
        if (empty) {
            table.removeColumns(c, 1);
            columns.removeAt(c);
        }
    }
}

// Qt paints no table background when the table collapses its borders, and
// mail tables nearly always do ("border-collapse:collapse"): yellow warning
// text on a blue box came out yellow on white. The cells take the table's
// background instead.
void carryTableBackgroundIntoCells(QTextTable& table) {
    if (!table.format().borderCollapse() ||
        !table.format().hasProperty(QTextFormat::BackgroundBrush)) {
        return;
    }
    const QBrush background = table.format().background();
    for (int r = 0; r < table.rows(); ++r) {
        for (int c = 0; c < table.columns(); ++c) {
            QTextTableCell cell = table.cellAt(r, c);
            if (cell.row() != r || cell.column() != c ||
                cell.format().hasProperty(QTextFormat::BackgroundBrush)) {
                continue;
            }
            QTextCharFormat format = cell.format();
            format.setBackground(background);
            cell.setFormat(format);
        }
    }
}

// A first row made of one cell spanning every column (a header, a banner)
// gives no column its width, yet Qt's table layout shares that cell's least
// width out evenly over all columns: an empty coloured bar beside the text
// became a broad slab. Such a row becomes a one-cell table of its own just
// before the rest, which looks the same.
void liftSpanningFirstRow(QTextTable& table) {
    if (table.columns() < 2 || table.rows() < 2) {
        return;
    }
    const QTextTableCell first = table.cellAt(0, 0);
    if (first.columnSpan() != table.columns() || first.rowSpan() != 1) {
        return;
    }
    QTextCursor select = first.firstCursorPosition();
    select.setPosition(first.lastCursorPosition().position(), QTextCursor::KeepAnchor);
    const QTextDocumentFragment content = select.selection();
    const QTextCharFormat cellFormat = first.format();
    QTextTableFormat format = table.format();
    format.clearColumnWidthConstraints();
    format.setHeight(QTextLength());
    format.setBottomMargin(0);
    QTextCursor before(table.document());
    before.setPosition(table.firstPosition() - 1);
    QTextTable* banner = before.insertTable(1, 1, format);
    QTextTableCell cell = banner->cellAt(0, 0);
    cell.setFormat(cellFormat);
    QTextCursor into = cell.firstCursorPosition();
    into.insertFragment(content);
    table.removeRows(0, 1);
}

QString escapeAttribute(const QString& text) {
    return text.toHtmlEscaped();
}

// Word's and Outlook's markup for their own use removed, and the breaks
// that end a block.
QString withoutOfficeMarkup(QString html) {
    // Content meant for every reader but Outlook's own is wrapped as
    // "<!--[if !mso]><!-- -->...<!--<![endif]-->": a browser reads the
    // markers as two comments and shows what lies between. Only the markers
    // go.
    static const QRegularExpression kRevealedComment(
        QStringLiteral("<!--\\[if[^\\]]*\\]>\\s*<!--(?:\\s*--)?>|<!--\\s*<!\\[endif\\]-->"),
        QRegularExpression::CaseInsensitiveOption);
    html.remove(kRevealedComment);
    // Word's conditional comments hold office XML and VML for its own use.
    static const QRegularExpression kConditional(
        QStringLiteral("<!--\\[if[^\\]]*\\]>.*?<!\\[endif\\]-->"),
        QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
    html.remove(kConditional);
    // Downlevel-revealed markers (<![if !supportLists]>) wrap content that
    // every other reader shows: drop the markers, keep the content.
    static const QRegularExpression kRevealed(QStringLiteral("<!\\[(?:if[^\\]]*|endif)\\]>"),
                                              QRegularExpression::CaseInsensitiveOption);
    html.remove(kRevealed);
    // <o:p> is an Office paragraph marker; its content (a no-break space
    // holding an empty line open) stays.
    static const QRegularExpression kOfficeP(QStringLiteral("</?o:p\\s*>"),
                                             QRegularExpression::CaseInsensitiveOption);
    html.remove(kOfficeP);
    // A <br> that ends a block adds no line in a browser ("<div><br></div>"
    // is one empty line, "text<br></p>" one line of text); Qt makes a line of
    // it, so every empty line of a webmail message came out double. It is
    // replaced by a no-break space, which keeps an empty block one line high.
    static const QRegularExpression kTrailingBreak(
        QStringLiteral("<br\\b[^>]*>((?:\\s*</(?:span|font|b|i|u|a|strong|em)\\s*>)*\\s*"
                       "</(?:div|p|li|td|th|h[1-6]|blockquote)\\s*>)"),
        QRegularExpression::CaseInsensitiveOption);
    html.replace(kTrailingBreak, QStringLiteral("&nbsp;\\1"));
    return html;
}

// The picture an <img> shows: the message's inline picture its cid: names,
// decoded within the document's budget; a null image (and a warning for a
// cid: that fails) otherwise.
QImage inlinePicture(const QString& src, const std::vector<InlineImage>& images,
                     PixelBudget& pixels, std::vector<std::string>& warnings) {
    if (!src.startsWith(QStringLiteral("cid:"), Qt::CaseInsensitive)) {
        return {};
    }
    const InlineImage* found = findImage(images, src.mid(4));
    if (found == nullptr) {
        warnings.push_back("inline image " + src.toStdString() + " is not attached");
        return {};
    }
    std::string why;
    QImage image = decodeImage(found->data, &why, pixels);
    if (image.isNull()) {
        warnings.push_back("inline image " + src.toStdString() + ": " + why);
    }
    return image;
}

// Every image replaced by one of our own resources in `document`: a cid:
// picture of the message, or a placeholder box. Nothing is fetched.
QString withOwnImages(const QString& html, QTextDocument& document,
                      const std::vector<InlineImage>& images, qreal textWidth,
                      std::vector<std::string>& warnings) {
    static const QRegularExpression kImg(QStringLiteral("<img\\b(?:[^>\"']|\"[^\"]*\"|'[^']*')*>"),
                                         QRegularExpression::CaseInsensitiveOption);
    int count = 0;
    PixelBudget pixels{kMaxTotalPicturePixels};
    return replaceMatches(html, kImg, [&](const QRegularExpressionMatch& m) {
        const QString tag = m.captured();
        const QString src = attribute(tag, QStringLiteral("src")).trimmed();
        QString alt = attribute(tag, QStringLiteral("alt"));
        int width = lengthAttribute(tag, QStringLiteral("width"));
        int height = lengthAttribute(tag, QStringLiteral("height"));
        QImage image = inlinePicture(src, images, pixels, warnings);
        if (!image.isNull()) {
            if (width == 0 && height == 0) {
                width = image.width();
                height = image.height();
            } else if (width == 0) {
                width = std::max(1, image.width() * height / std::max(1, image.height()));
            } else if (height == 0) {
                height = std::max(1, image.height() * width / std::max(1, image.width()));
            }
        } else {
            if (alt.isEmpty()) {
                alt = QStringLiteral("[image]");
            }
            // A picture of unknown size takes the room of its label, as a
            // mail program shows a picture it did not load: a sizeless
            // spacer or logo must not push the layout apart.
            if (width == 0 || height == 0) {
                const QSize label = placeholderLabelSize(
                    alt, width != 0 ? std::min(width, static_cast<int>(textWidth))
                                    : static_cast<int>(textWidth));
                width = width == 0 ? label.width() : width;
                height = height == 0 ? label.height() : height;
            }
            image = placeholderImage(width, height, alt, pixels);
        }
        if (width > textWidth) {
            height = static_cast<int>(height * textWidth / width);
            width = static_cast<int>(textWidth);
        }
        const QString name = QStringLiteral("html-image:%1").arg(++count);
        document.addResource(QTextDocument::ImageResource, QUrl(name), image);
        return std::optional<QString>(
            QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\">")
                .arg(name)
                .arg(std::max(1, width))
                .arg(std::max(1, height))
                .arg(escapeAttribute(alt)));
    });
}

// Images sized by style sheets can still be too wide: fit them.
void fitWideImages(QTextDocument& document, qreal textWidth) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto f = block.begin(); !f.atEnd(); ++f) {
            const QTextFragment fragment = f.fragment();
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (!format.isValid() || format.width() <= textWidth) {
                continue;
            }
            const qreal scale = textWidth / format.width();
            format.setWidth(textWidth);
            if (format.height() > 0) {
                format.setHeight(format.height() * scale);
            }
            QTextCursor c(&document);
            c.setPosition(fragment.position());
            c.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            c.setCharFormat(format);
        }
    }
}

}  // namespace

void loadHtml(QTextDocument& document, const QString& source,
              const std::vector<InlineImage>& images, qreal textWidth,
              std::vector<std::string>& warnings) {
    QString html = withoutOfficeMarkup(source);
    html = withLegacyEntitiesEnded(html);
    html = withStyleSheetsInlined(html);
    html = withoutHiddenElements(html);
    html = withSelectsAsShownOption(html);
    html = withFormsAndHeadingsAsBlocks(html);
    html = withTopBordersAsRules(html);
    html = withQtUnits(html);
    html = withTableWidthAttributes(html);
    html = withSpacerHeights(html);
    html = withCellVerticalAlignment(html);
    {
        QString bounded = withBoundedTableNesting(html);
        if (bounded != html) {
            warnings.push_back("tables nested more than " + std::to_string(kMaxTableNesting) +
                               " deep are shown as text");
            html = std::move(bounded);
        }
    }
    document.setHtml(withOwnImages(html, document, images, textWidth, warnings));
    QTextFrame* root = document.rootFrame();
    forEachTableInnermostFirst(root, [&](QTextTable& t) { fitWideTable(t, textWidth); });
    forEachTableInnermostFirst(root, liftSpanningFirstRow);
    forEachTableInnermostFirst(root, dropEmptyColumnsBesideFullWidthOnes);
    forEachTableInnermostFirst(root, carryTableBackgroundIntoCells);
    fitWideImages(document, textWidth);
}

}  // namespace rtf::detail
