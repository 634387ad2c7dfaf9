#include "header_block.h"

#include "text_formats.h"

#include <rtf/faces.h>

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLength>

#include <algorithm>

namespace render::engine {

namespace {

// The header block and the caption are drawn in one face, Arial (Liberation
// Sans) at 10 pt, regular and bold, a size many bodies use: every further
// face and size is a font to load.
QTextCharFormat bandFace() {
    QTextCharFormat face;
    const QString arial = QStringLiteral("Arial");
    const QString standIn = rtf::standInFace(arial);
    face.setFontFamilies(QStringList{standIn.isEmpty() ? arial : standIn});
    face.setFontPointSize(10);
    face.setForeground(QColor(Qt::black));
    return face;
}

// A cursor in a new empty block at the start of `doc`. A block inserted at
// the start takes the text after it into a block of the format given: the
// body's first paragraph keeps its own format, and the band goes into the
// empty block before it.
QTextCursor blockBeforeBody(QTextDocument& doc) {
    const QTextBlock first = doc.begin();
    const QTextBlockFormat bodyFormat = first.blockFormat();
    const QTextCharFormat bodyCharFormat = first.charFormat();
    QTextCursor cursor(&doc);
    cursor.movePosition(QTextCursor::Start);
    cursor.insertBlock(bodyFormat, bodyCharFormat);
    cursor.movePosition(QTextCursor::Start);
    return cursor;
}

// The rule under a band's first line: a block of its own.
void insertRule(QTextCursor& cursor, const QTextCharFormat& face) {
    QTextBlockFormat rule;
    rule.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                     QTextLength(QTextLength::PercentageLength, 100));
    rule.setBackground(QColor(0x80, 0x80, 0x80));
    cursor.insertBlock(rule, face);
}

}  // namespace

// Its rows are paragraphs of a bold label, a tab and the value: the values
// stand in one column after the widest label, their wrapped lines under
// their first, as in a two-column table, which would cost a second layout
// pass.
void insertHeader(QTextDocument& doc, const QString& text) {
    constexpr double kGap = 16;  // px between the widest label and the values
    const QTextCharFormat face = bandFace();
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

    QTextCursor cursor = blockBeforeBody(doc);
    QTextBlockFormat title;
    title.setBottomMargin(4);
    cursor.setBlockFormat(title);
    cursor.setBlockCharFormat(bold);
    cursor.insertText(lines.first(), bold);
    insertRule(cursor, face);

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

void insertCaption(QTextDocument& doc, const QString& text, double width) {
    const QTextCharFormat face = bandFace();
    QString line = text;
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = u' ';
        }
    }
    // Elided in the middle: the start of a name and its end (its type, the
    // size after it) both stay.
    const QFontMetricsF metrics(face.font().resolve(doc.defaultFont()), layoutDevice());
    line = metrics.elidedText(line.simplified(), Qt::ElideMiddle, std::max(0.0, width));

    QTextCursor cursor = blockBeforeBody(doc);
    QTextBlockFormat caption;
    caption.setBottomMargin(2);
    caption.setNonBreakableLines(true);
    cursor.setBlockFormat(caption);
    cursor.setBlockCharFormat(face);
    cursor.insertText(line, face);
    insertRule(cursor, face);
}

QString placeholderRows(const QString& title, const QString& label, const QString& value) {
    return title + u'\n' + label + u'\t' + value;
}

}  // namespace render::engine
