#include "test_util.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>

#include <gtest/gtest.h>

using namespace rtftest;

namespace {

// An Outlook-style \fromhtml1 body: HTML tags in \*\htmltag, the RTF
// rendition of the same text inside \htmlrtf, shared text outside both.
const std::string kOutlookBody =
    "{\\rtf1\\ansi\\ansicpg1251\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss\\fcharset204 Arial;}}\r\n"
    "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}"
    "{\\*\\htmltag241 <style><!-- p.MsoNormal \\{margin:0cm;font-family:\"Calibri\"\\} --></style>}"
    "{\\*\\htmltag241 <!--[if gte mso 9]><xml><o:shapedefaults v:ext=\"edit\"/></xml><![endif]-->}"
    "{\\*\\htmltag41 </head>}{\\*\\htmltag2 \\par }"
    "{\\*\\htmltag50 <body>}\\htmlrtf {\\htmlrtf0 "
    "{\\*\\htmltag64 <p class=MsoNormal>}\\htmlrtf {\\htmlrtf0 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 world"
    "{\\*\\htmltag84 <o:p>}{\\*\\htmltag84 &nbsp;}{\\*\\htmltag92 </o:p>}"
    "\\htmlrtf\\par}\\htmlrtf0 {\\*\\htmltag72 </p>}"
    "{\\*\\htmltag64 <p>}\\htmlrtf {\\htmlrtf0 line\\par two\\tab x"
    "{\\*\\htmltag84 <img src=\"cid:Image001.PNG@01D0\" alt=\"logo\">}"
    "{\\*\\htmltag84 <img src=\"https://tracker.example/pixel.gif\" width=120 height=30 "
    "alt=\"remote pic\">}"
    "\\htmlrtf }\\htmlrtf0 {\\*\\htmltag72 </p>}"
    "{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}}";

}  // namespace

TEST(HtmlExtraction, TagsAndSharedTextComeOutRtfOnlyPartsDoNot) {
    const std::string html = rtf::extractHtml(bytesOf(kOutlookBody));
    const QString text = QString::fromStdString(html);
    EXPECT_TRUE(text.startsWith(QStringLiteral("<html><head><style>")));
    EXPECT_TRUE(
        text.contains(QStringLiteral(u"<p class=MsoNormal>Привет world<o:p>&nbsp;</o:p></p>")));
    // \par and \tab outside \htmlrtf are CR LF and tab.
    EXPECT_TRUE(text.contains(QStringLiteral("line\r\ntwo\tx")));
    EXPECT_TRUE(text.contains(QStringLiteral("margin:0cm;font-family:\"Calibri\"}")));
    EXPECT_FALSE(text.contains(QStringLiteral("htmlrtf")));
}

// Outlook writes a list item's bullet for RTF readers in \pntext, outside
// \htmlrtf; the <li> already makes one.
TEST(HtmlExtraction, ListBulletsWrittenForRtfReadersDoNotComeOut) {
    const std::string html = rtf::extractHtml(
        bytesOf("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag96 <ul>}"
                "{\\*\\htmltag64 <li>}\\htmlrtf {{\\*\\pn\\pnlvlblt{\\pntxtb\\'b7}}\\htmlrtf0 "
                "\\li360 {\\pntext *\\tab}{\\listtext 1.\\tab}item\\htmlrtf\\par}\\htmlrtf0 "
                "{\\*\\htmltag72 </li>}{\\*\\htmltag104 </ul>}}"));
    EXPECT_EQ(html, "<ul><li>item</li></ul>");
}

// Symbol words, control symbols and \uN outside \htmlrtf are the
// characters the reader shows for them in RTF (one mapping), but for \line,
// which breaks the HTML's source line as \par does.
TEST(HtmlExtraction, SymbolsComeOutAsTheReaderShowsThemInRtf) {
    const std::string symbols =
        "\\emdash\\endash\\lquote\\rquote\\ldblquote\\rdblquote"
        "\\bullet\\emspace\\enspace\\qmspace\\zwj\\zwnj\\ltrmark"
        "\\rtlmark\\~\\-\\_\\tab \\u8364?\\u-3913?";
    const QString html = QString::fromStdString(rtf::extractHtml(
        bytesOf("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <p>}a" + symbols + "b\\line c}")));
    const QString shown = allText(*read("{\\rtf1\\ansi a" + symbols + "b}").document).trimmed();
    EXPECT_EQ(shown,
              QStringLiteral(u"a\u2014\u2013\u2018\u2019\u201c\u201d\u2022\u2003\u2002"
                             u"\u2005\u200d\u200c\u200e\u200f\u00a0\u00ad\u2011\t\u20ac\uf0b7b"));
    EXPECT_EQ(html, QStringLiteral("<p>") + shown + QStringLiteral("\r\nc"));
}

TEST(HtmlExtraction, RejectsRtfThatWrapsNoHtml) {
    EXPECT_THROW(rtf::extractHtml(bytesOf("{\\rtf1 plain}")), rtf::RtfError);
    EXPECT_THROW(rtf::extractHtml(bytesOf("<html></html>")), rtf::RtfError);
}

TEST(HtmlLayout, StylesCommentsAndOfficeTagsNeverShowAsText) {
    auto r = read(kOutlookBody);
    EXPECT_EQ(r.encapsulation, rtf::Encapsulation::Html);
    const QString text = allText(*r.document);
    EXPECT_TRUE(text.contains(QStringLiteral(u"Привет world")));
    EXPECT_EQ(text.count(QStringLiteral("world")), 1);
    for (const char* leak : {"margin", "Calibri", "o:p", "shapedefaults", "endif", "<", "{"}) {
        EXPECT_FALSE(text.contains(QString::fromLatin1(leak))) << leak;
    }
}

TEST(HtmlLayout, CidImageIsResolvedByContentIdIgnoringCaseAndBrackets) {
    QImage green(30, 10, QImage::Format_RGB32);
    green.fill(Qt::green);
    std::vector<rtf::InlineImage> images{
        {std::string("\0 <image001.png@01d0> ", 22), "other.png", encodeImage(green, "PNG")}};
    auto r = read(kOutlookBody, images);
    std::vector<QImage> shown;
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
            if (f.isValid()) {
                shown.push_back(r.document->resource(QTextDocument::ImageResource, QUrl(f.name()))
                                    .value<QImage>());
            }
        }
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].size(), QSize(30, 10));
    EXPECT_EQ(shown[0].pixelColor(3, 3), QColor(Qt::green));
    // The remote picture is a placeholder of its declared size, never fetched.
    EXPECT_EQ(shown[1].size(), QSize(120, 30));
    EXPECT_NE(shown[1].pixelColor(60, 15), QColor(Qt::green));
}

TEST(HtmlLayout, CidImageFallsBackToTheFileName) {
    QImage blue(8, 8, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    std::vector<rtf::InlineImage> images{{"", "IMAGE001.png", encodeImage(blue, "PNG")}};
    auto r = read(kOutlookBody, images);
    EXPECT_TRUE(std::none_of(r.warnings.begin(), r.warnings.end(), [](const std::string& w) {
        return w.find("not attached") != std::string::npos;
    }));
}

TEST(HtmlLayout, WideImagesAreScaledToTheTextWidth) {
    QImage wide(2000, 100, QImage::Format_RGB32);
    wide.fill(Qt::gray);
    const std::string body =
        "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <html><body><img src=\"cid:w\"></body></html>}}";
    auto r = read(body, {{"w", "w.png", encodeImage(wide, "PNG")}});
    auto f = formatOf(*r.document, QString(QChar::ObjectReplacementCharacter));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(f->toImageFormat().width(), 576.0);
    EXPECT_DOUBLE_EQ(f->toImageFormat().height(), 28.0);
}

TEST(HtmlLayout, LocalFileImagesAreNeverRead) {
    const std::string body =
        "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <html><body><img src=\"file:///etc/hostname\">"
        "<table background=\"/etc/passwd\"><tr><td>x</td></tr></table></body></html>}}";
    auto r = read(body);
    EXPECT_FALSE(
        r.document
            ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("file:///etc/hostname")))
            .isValid());
    EXPECT_FALSE(
        r.document->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("/etc/passwd")))
            .isValid());
}

// A picture that is not loaded and gives no size (a spacer, a logo) took a
// 160 x 40 box and pushed narrow layouts apart; it now takes the room of
// its label, while a given size is kept.
TEST(HtmlLayout, UnloadedPicturesOfUnknownSizeTakeTheRoomOfTheirLabel) {
    auto r = rtf::readHtml(
        QStringLiteral("<p><img src=\"res://msoeres.dll/dot.gif\">"
                       "<img src=\"https://example.com/logo.png\" alt=\"Company logo\">"
                       "<img src=\"https://example.com/b.png\" width=300 height=50></p>"));
    std::vector<QSizeF> sizes;
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
            if (f.isValid()) {
                sizes.emplace_back(f.width(), f.height());
            }
        }
    }
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_LT(sizes[0].width(), 80);  // "[image]"
    EXPECT_LE(sizes[0].height(), 30);
    EXPECT_GT(sizes[1].width(), sizes[0].width());  // the longer label
    EXPECT_LT(sizes[1].width(), 160);
    EXPECT_EQ(sizes[2], QSizeF(300, 50));
}

TEST(HtmlLayout, WordStyleLengthsInCentimetresApplyAndBodyTextKeepsItsUnits) {
    const std::string body =
        "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <html><head><style>p.MsoNormal \\{margin:0cm;\\}"
        "</style></head><body><p class=MsoNormal>first</p><p class=MsoNormal "
        "style='margin-left:2.54cm'>second is 5cm long</p></body></html>}}";
    auto r = read(body);
    const QTextBlockFormat second = blockWith(*r.document, QStringLiteral("second"))->blockFormat();
    EXPECT_DOUBLE_EQ(second.topMargin(), 0.0);
    EXPECT_NEAR(second.leftMargin(), 96.0, 0.5);
    EXPECT_TRUE(allText(*r.document).contains(QStringLiteral("5cm long")));
}

TEST(HtmlLayout, DeeplyNestedTablesAreFlattenedBeyondTheLimitAndKeepTheirText) {
    std::string body = "{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <html><body>";
    for (int i = 0; i < 3000; ++i) {
        body += "<table><tr><td>";
    }
    body += "deep";
    for (int i = 0; i < 3000; ++i) {
        body += "</td></tr></table>";
    }
    body += "</body></html>}}";
    auto r = read(body);
    int tables = 0;
    for (QTextFrame* frame : r.document->rootFrame()->childFrames()) {
        for (QTextFrame* f = frame; f != nullptr;
             f = f->childFrames().isEmpty() ? nullptr : f->childFrames().first()) {
            ++tables;
        }
    }
    EXPECT_EQ(tables, rtf::kMaxTableNesting);
    EXPECT_TRUE(allText(*r.document).contains(QStringLiteral("deep")));
    r.document->setPageSize(QSizeF(576, 864));
    EXPECT_GE(r.document->pageCount(), 1);  // lays out without exhausting the stack
}

// Mail sizes its layout tables in CSS, which Qt's HTML ignores for tables:
// without the widths, columns shrank to a few characters each.
TEST(HtmlLayout, CssWidthsOfTablesAndCellsApply) {
    auto r = rtf::readHtml(QStringLiteral(
        "<table style=\"width: 500px;border-collapse: collapse;\"><tr>"
        "<td style=\"width:18%\">a</td><td style='color:red; width:64%'>b</td>"
        "<td width=\"10\" style=\"width:50%\">c</td><td style=\"max-width:5px\">d</td>"
        "</tr></table>"));
    const QTextTable* table = nullptr;
    for (QTextFrame* frame : r.document->rootFrame()->childFrames()) {
        table = table != nullptr ? table : qobject_cast<QTextTable*>(frame);
    }
    ASSERT_NE(table, nullptr);
    const QTextTableFormat format = table->format();
    EXPECT_EQ(format.width(), QTextLength(QTextLength::FixedLength, 500));
    const auto columns = format.columnWidthConstraints();
    ASSERT_EQ(columns.size(), 4);
    EXPECT_EQ(columns[0], QTextLength(QTextLength::PercentageLength, 18));
    EXPECT_EQ(columns[1], QTextLength(QTextLength::PercentageLength, 64));
    EXPECT_EQ(columns[2], QTextLength(QTextLength::FixedLength, 10));  // the attribute wins
    EXPECT_EQ(columns[3].type(), QTextLength::VariableLength);         // max-width is not width
}

namespace {

// The width a document is laid out at on its page, in pixels.
qreal textWidthOf(const rtf::ReadResult& r) {
    return (r.page.paperWidth - r.page.marginLeft - r.page.marginRight) / 15.0;
}

std::vector<const QTextTable*> tablesOf(const QTextFrame* frame) {
    std::vector<const QTextTable*> tables;
    for (const QTextFrame* child : frame->childFrames()) {
        if (const auto* table = qobject_cast<const QTextTable*>(child)) {
            tables.push_back(table);
        }
        for (const QTextTable* inner : tablesOf(child)) {
            tables.push_back(inner);
        }
    }
    return tables;
}

}  // namespace

// Newsletters hide Outlook's own markup in conditional comments and reveal
// the rows every other reader gets with "<!--[if !mso]><!-- -->": losing
// those rows put the cells of several rows side by side.
TEST(HtmlLayout, RowsRevealedToOtherReadersStayOutlookOnlyRowsGo) {
    auto r = rtf::readHtml(
        QStringLiteral("<table><tr><td>first</td></tr>"
                       "<!--[if mso]><tr><td>outlook only</td></tr><![endif]-->"
                       "<!--[if !mso]><!-- --><tr><td>everyone</td></tr><!--<![endif]-->"
                       "<!--[if !mso]><!--><tr><td>short marker</td></tr><!--<![endif]-->"
                       "</table>"));
    const QString text = allText(*r.document);
    EXPECT_FALSE(text.contains(QStringLiteral("outlook only")));
    EXPECT_FALSE(text.contains(QStringLiteral("endif")));
    const auto tables = tablesOf(r.document->rootFrame());
    ASSERT_EQ(tables.size(), 1u);
    ASSERT_EQ(tables[0]->rows(), 3);
    EXPECT_EQ(tables[0]->columns(), 1);
    EXPECT_EQ(allText(*r.document).count(QStringLiteral("everyone")), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("short marker")));
}

// Qt shared a spanning cell's width out over its columns: a row
// "width=100% colspan=4" turned a thin coloured bar into a quarter of the
// page. A browser makes only the columns together that wide.
TEST(HtmlLayout, WidthOfACellSpanningColumnsIsNotSharedOutOverThem) {
    auto r = rtf::readHtml(QStringLiteral(
        "<table width=100%><tr><td width=100%>text</td><td bgcolor=#003399> </td><td>side</td>"
        "</tr><tr><td width=100% colspan=3>footer</td></tr></table>"
        "<table width=100%><tr><td>b</td><td>c</td></tr>"
        "<tr><td colspan=\"2\" style=\"width:50%\">a</td></tr></table>"));
    const auto tables = tablesOf(r.document->rootFrame());
    ASSERT_EQ(tables.size(), 2u);
    const auto first = tables[0]->format().columnWidthConstraints();
    ASSERT_EQ(first.size(), 3);
    EXPECT_EQ(first[0], QTextLength(QTextLength::PercentageLength, 100));
    EXPECT_EQ(first[1].type(), QTextLength::VariableLength);
    EXPECT_EQ(first[2].type(), QTextLength::VariableLength);
    for (const QTextLength& column : tables[1]->format().columnWidthConstraints()) {
        EXPECT_EQ(column.type(), QTextLength::VariableLength);
    }
}

// Qt paints no background for a table that collapses its borders: yellow
// warning text on a blue box came out yellow on white.
TEST(HtmlLayout, BackgroundOfATableWithCollapsedBordersIsPainted) {
    auto r = rtf::readHtml(QStringLiteral(
        "<table width=200 style='background:#0067C5;border-collapse:collapse'><tr>"
        "<td style='padding:10px'><span style='color:yellow'>WARNING: external mail</span></td>"
        "<td style='background:#ff0000'>red</td></tr></table>"));
    r.document->setPageSize(QSizeF(400, 200));
    QImage page(400, 200, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        r.document->drawContents(&painter);
    }
    const auto tables = tablesOf(r.document->rootFrame());
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(page.pixelColor(4, 4), QColor(0x00, 0x67, 0xC5));
    EXPECT_EQ(tables[0]->cellAt(0, 1).format().background().color(), QColor(Qt::red));
}

// A header row spanning every column had its least width shared out over
// the columns below: a thin coloured bar became a slab a quarter of the page
// wide, squeezing the text beside it.
TEST(HtmlLayout, AHeaderRowSpanningEveryColumnWidensNoneOfThem) {
    auto r = rtf::readHtml(QStringLiteral(
        "<table width=100%><tr><td colspan=3><table width=480><tr><td>header</td></tr></table>"
        "</td></tr><tr><td width=100%>main text</td><td bgcolor=#003399> </td>"
        "<td>side</td></tr></table>"));
    const qreal textWidth = textWidthOf(r);
    r.document->setTextWidth(textWidth);
    r.document->size();  // lays the document out
    const QTextTable* body = nullptr;
    for (const QTextTable* table : tablesOf(r.document->rootFrame())) {
        if (table->columns() == 3) {
            body = table;
        }
    }
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->rows(), 1);
    const QTextBlock bar = body->cellAt(0, 1).firstCursorPosition().block();
    EXPECT_LT(r.document->documentLayout()->blockBoundingRect(bar).width(), 30);
    EXPECT_TRUE(allText(*r.document).contains(QStringLiteral("header")));
    const QTextBlock main = body->cellAt(0, 0).firstCursorPosition().block();
    EXPECT_GT(r.document->documentLayout()->blockBoundingRect(main).width(), textWidth / 2);
}

// Webmail writes each empty line as "<div><br></div>"; Qt made two lines of
// it, and of every "text<br></div>" a line of text and an empty one.
TEST(HtmlLayout, ABreakThatEndsABlockAddsNoLine) {
    auto r = rtf::readHtml(
        QStringLiteral("<div>one</div><div><br></div><div>after one empty line</div>"
                       "<div>text<br></div><p><b>bold<br></b></p><div>first<br>second</div>"));
    QStringList blocks;
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        blocks << b.text().trimmed();
    }
    blocks.removeAll(QString());  // empty blocks Qt keeps around block elements
    const QString text = allText(*r.document);
    EXPECT_EQ(text.count(QChar::LineSeparator), 1) << text.toStdString();  // first<br>second
    EXPECT_TRUE(blocks.contains(QStringLiteral("text")));
    EXPECT_TRUE(blocks.contains(QStringLiteral("bold")));
    // The empty line stays one line: a block of its own holding a no-break space.
    int emptyLines = 0;
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        emptyLines += b.text() == QString(QChar(0x00A0)) ? 1 : 0;
    }
    EXPECT_EQ(emptyLines, 1);
}

// Layout tables are spaced by empty rows and cells of a set height; each
// takes that height, as in a browser, not a line of text.
TEST(HtmlLayout, EmptyRowsAndCellsKeepTheirHeight) {
    const auto gap = [](const QString& spacer) {
        auto r = rtf::readHtml(
            QStringLiteral("<table cellpadding=0 cellspacing=0><tr><td>above</td></tr>") + spacer +
            QStringLiteral("<tr><td>below</td></tr></table>"));
        r.document->setTextWidth(600);
        const auto* layout = r.document->documentLayout();
        return layout->blockBoundingRect(*blockWith(*r.document, QStringLiteral("below"))).top() -
               layout->blockBoundingRect(*blockWith(*r.document, QStringLiteral("above"))).top();
    };
    const qreal none = gap(QString());
    EXPECT_NEAR(gap(QStringLiteral("<tr style=\"height:70px\"></tr>")) - none, 70, 3);
    EXPECT_NEAR(gap(QStringLiteral("<tr style='height:5px'> </tr>")) - none, 5, 3);
    EXPECT_NEAR(gap(QStringLiteral("<tr><td height=\"40\">&nbsp;</td></tr>")) - none, 40, 3);
    // A row of content keeps the height of its content; an absurd spacer
    // is bounded.
    EXPECT_NEAR(gap(QStringLiteral("<tr style=\"height:70px\"><td>x</td></tr>")) - none,
                gap(QStringLiteral("<tr><td>x</td></tr>")) - none, 1);
    EXPECT_LT(gap(QStringLiteral("<tr style=\"height:99999999px\"></tr>")), 1100);
}

// As in a browser, a cell's content is centred vertically unless the cell
// or its row says otherwise (a signature's lines beside its logo).
TEST(HtmlLayout, CellsAreCentredVerticallyUnlessTheyOrTheirRowSayOtherwise) {
    auto r = rtf::readHtml(QStringLiteral(
        "<table><tr><td>plain</td><td valign=top>own top</td>"
        "<td style='vertical-align:bottom'>own bottom</td></tr>"
        "<tr valign=\"top\"><td>row top<table><tr><td>nested plain</td></tr></table></td>"
        "<td>row top too</td></tr></table>"));
    const auto alignment = [&](const char* text) {
        const QTextCursor found = r.document->find(QString::fromLatin1(text));
        const QTextTable* table = found.currentTable();
        return table == nullptr ? QTextCharFormat::AlignNormal
                                : table->cellAt(found).format().verticalAlignment();
    };
    EXPECT_EQ(alignment("plain"), QTextCharFormat::AlignMiddle);
    EXPECT_EQ(alignment("own top"), QTextCharFormat::AlignTop);
    EXPECT_EQ(alignment("own bottom"), QTextCharFormat::AlignBottom);
    EXPECT_EQ(alignment("row top"), QTextCharFormat::AlignTop);
    EXPECT_EQ(alignment("row top too"), QTextCharFormat::AlignTop);
    EXPECT_EQ(alignment("nested plain"), QTextCharFormat::AlignMiddle);
}

// Outlook's reply header "From: ... Sent: ..." sits under the top border of
// its block, which Qt does not draw: a rule of that colour stands for it.
TEST(HtmlLayout, TheTopBorderOfAReplyHeaderIsDrawnAsARule) {
    auto r = rtf::readHtml(
        QStringLiteral("<p>Thanks</p><div style='border:none;border-top:solid #E1E1E1 1.0pt;"
                       "padding:3.0pt 0in 0in 0in'><p><b>From:</b> Someone</p></div>"
                       "<div style='border-top:none'>no rule</div>"));
    int rules = 0;
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth)) {
            ++rules;
            EXPECT_EQ(b.blockFormat().background().color(), QColor(0xE1, 0xE1, 0xE1));
            EXPECT_TRUE(b.next().text().startsWith(QStringLiteral("From:")));
        }
    }
    EXPECT_EQ(rules, 1);
    // A body that begins with the reply header (a bare fragment) gets its
    // rule too.
    auto fragment = rtf::readHtml(
        QStringLiteral("<div style='border-top:solid #E1E1E1 1.0pt'><p>From: Someone</p></div>"));
    const QTextBlock first = fragment.document->begin();
    EXPECT_TRUE(first.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth));
    EXPECT_TRUE(first.next().text().startsWith(QStringLiteral("From:")));
}

// A table sized wider than the text made the whole page shrink until its
// text was too small to read; it now takes the text width, its columns keep
// their proportions, and "nowrap" gives way so long links wrap.
TEST(HtmlLayout, TablesWiderThanTheTextTakeItsWidthAndKeepTheirProportions) {
    const QString link(120, QLatin1Char('x'));
    auto r = rtf::readHtml(
        QStringLiteral("<table width=1138><tr><td width=75 nowrap>1</td>"
                       "<td width=366 nowrap>name</td><td width=697 nowrap>%1</td></tr></table>"
                       "<table width=300><tr><td><table style='width:900px'><tr>"
                       "<td>inner</td></tr></table></td></tr></table>")
            .arg(link));
    const auto tables = tablesOf(r.document->rootFrame());
    ASSERT_EQ(tables.size(), 3u);
    const QTextTableFormat wide = tables[0]->format();
    EXPECT_EQ(wide.width(), QTextLength(QTextLength::PercentageLength, 100));
    const auto columns = wide.columnWidthConstraints();
    ASSERT_EQ(columns.size(), 3);
    EXPECT_EQ(columns[0].type(), QTextLength::PercentageLength);
    EXPECT_NEAR(columns[0].rawValue(), 100.0 * 75 / 1138, 0.01);
    EXPECT_NEAR(columns[2].rawValue(), 100.0 * 697 / 1138, 0.01);
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        EXPECT_FALSE(b.blockFormat().nonBreakableLines()) << b.text().toStdString();
    }
    // A table that fits keeps its size; one nested in it is fitted too.
    EXPECT_EQ(tables[1]->format().width(), QTextLength(QTextLength::FixedLength, 300));
    EXPECT_EQ(tables[2]->format().width(), QTextLength(QTextLength::PercentageLength, 100));
    // Laid out at the text width, nothing sticks out.
    const qreal textWidth = textWidthOf(r);
    r.document->setTextWidth(textWidth);
    EXPECT_LE(r.document->idealWidth(), textWidth + 1);
}

// "<td> </td><td width=100%>text</td><td> </td>" above a row spanning all
// three: the empty columns took the spanning cell's width between them and
// left the text a strip a few words wide.
TEST(HtmlLayout, EmptyColumnsBesideAFullWidthColumnTakeNoSpace) {
    const QString sentence =
        QStringLiteral("Participants who bought this course also bought the following ones:");
    auto r = rtf::readHtml(
        QStringLiteral("<table width=100%><tr><td> </td><td width=100%>%1</td><td>&nbsp;</td></tr>"
                       "<tr><td colspan=3><table><tr><td width=380>card</td></tr></table>"
                       "</td></tr></table>"
                       "<table width=100%><tr><td bgcolor=#003399> </td><td width=100%>kept</td>"
                       "<td width=20></td></tr></table>"
                       "<table width=100%><tr><td> </td><td width=50%>half</td></tr></table>")
            .arg(sentence));
    const auto tables = tablesOf(r.document->rootFrame());
    ASSERT_EQ(tables.size(), 4u);
    EXPECT_EQ(tables[0]->columns(), 1);
    EXPECT_EQ(tables[0]->rows(), 2);
    EXPECT_EQ(tables[2]->columns(), 3);  // a coloured bar and a fixed gap stay
    EXPECT_EQ(tables[3]->columns(), 2);  // beside 50% an empty column has room
    const qreal textWidth = textWidthOf(r);
    r.document->setTextWidth(textWidth);
    r.document->size();  // lays the document out
    QTextBlock block = r.document->begin();
    while (block.isValid() && !block.text().contains(sentence)) {
        block = block.next();
    }
    ASSERT_TRUE(block.isValid());
    EXPECT_EQ(block.layout()->lineCount(), 1);
    EXPECT_TRUE(allText(*r.document).contains(QStringLiteral("card")));
}

// Word hides its style sheet in "<!-- -->", and once Qt reads a sheet that
// sets a paragraph's font, text nested in a styled span took the
// paragraph's font: an address line in 7.5 pt came out at 11 pt.
TEST(HtmlLayout, StyleSheetRulesApplyAndTheElementsOwnStyleWins) {
    auto r = rtf::readHtml(QStringLiteral(
        "<html><head><style><!--\n/* Style Definitions */\n"
        "@font-face {font-family:Calibri; panose-1:2 15 5 2 2 2 4 3 2 4;}\n"
        "@import url('https://fonts.example/css?family=Sans');\n"
        "p.MsoNormal, li.MsoNormal {margin:0cm; font-size:11.0pt;"
        " font-family:\"Calibri\",sans-serif; mso-fareast-language:EN-US;}\n"
        "a:link, span.MsoHyperlink {color:#0563C1; text-decoration:underline;}\n"
        ".Big {font-size:20pt} p {font-size:9pt} td p.MsoNormal {color:red}\n"
        "@media screen { p {color:green} }\n"
        "--></Style></head><body>"
        "<p class=MsoNormal>plain paragraph</p>"
        "<p class='other big'>big paragraph</p>"
        "<p class=MsoNormal><b><span style='font-size:7.5pt;font-family:\"Arial\"'>Mail: "
        "<a href=\"mailto:x\"><span style='color:blue'>address</span></a></span></b></p>"
        "<p>no class <a href=\"x\">link</a></p>"
        "<p><a name=\"_MailOriginal\"><b>From:</b></a> a named anchor, no link</p>"
        "</body></html>"));
    const QString text = allText(*r.document);
    for (const char* leak : {"Calibri", "mso", "Style Definitions", "{", "<!--"}) {
        EXPECT_FALSE(text.contains(QString::fromLatin1(leak))) << leak;
    }
    const auto plain = formatOf(*r.document, QStringLiteral("plain paragraph"));
    ASSERT_TRUE(plain);
    EXPECT_DOUBLE_EQ(plain->fontPointSize(), 11.0);
    EXPECT_EQ(plain->fontFamilies().toStringList().value(0), QStringLiteral("Calibri"));
    const auto paragraph = blockWith(*r.document, QStringLiteral("plain paragraph"));
    ASSERT_TRUE(paragraph);
    EXPECT_DOUBLE_EQ(paragraph->blockFormat().bottomMargin(), 0.0);
    // A class rule outranks an element rule, whatever their order.
    EXPECT_DOUBLE_EQ(formatOf(*r.document, QStringLiteral("big paragraph"))->fontPointSize(), 20.0);
    const auto address = formatOf(*r.document, QStringLiteral("address"));
    ASSERT_TRUE(address);
    EXPECT_DOUBLE_EQ(address->fontPointSize(), 7.5);
    EXPECT_EQ(address->fontWeight(), QFont::Bold);
    EXPECT_EQ(address->foreground().color(), QColor(Qt::blue));
    const auto link = formatOf(*r.document, QStringLiteral("link"));
    ASSERT_TRUE(link);
    EXPECT_DOUBLE_EQ(link->fontPointSize(), 9.0);
    EXPECT_NE(formatOf(*r.document, QStringLiteral("no class"))->foreground().color(),
              QColor(Qt::green));  // rules inside @media are not read
    EXPECT_EQ(link->foreground().color(), QColor(0x05, 0x63, 0xC1));
    EXPECT_TRUE(link->fontUnderline());
    // a:link is for links: Word's bookmark around a forwarded header's
    // first label stays plain.
    const auto anchor = formatOf(*r.document, QStringLiteral("rom:"));
    ASSERT_TRUE(anchor);
    EXPECT_FALSE(anchor->fontUnderline());
    EXPECT_NE(anchor->foreground().color(), QColor(0x05, 0x63, 0xC1));
}

TEST(HtmlBody, MailHtmlWithoutRtfGetsTheSameTreatment) {
    QImage red(6, 6, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString html = QStringLiteral(
        "<html><head><!--[if gte mso 9]><xml>settings</xml><![endif]--></head><body>"
        "<p>Hello<o:p></o:p></p><img src=\"cid:Logo.PNG\" title=\"a > b\"><img "
        "src=\"http://x/y.png\" "
        "alt=\"far\">"
        "</body></html>");
    auto r = rtf::readHtml(html, {{"<logo.png>", "", encodeImage(red, "PNG")}});
    EXPECT_EQ(allText(*r.document).count(QChar::ObjectReplacementCharacter), 2);
    EXPECT_FALSE(allText(*r.document).contains(QStringLiteral("settings")));
    auto f = formatOf(*r.document, QString(QChar::ObjectReplacementCharacter));
    ASSERT_TRUE(f);
    const QImage shown =
        r.document->resource(QTextDocument::ImageResource, QUrl(f->toImageFormat().name()))
            .value<QImage>();
    EXPECT_EQ(shown.pixelColor(2, 2), QColor(Qt::red));
}

TEST(TextEncapsulation, FromTextKeepsItsLineBreaks) {
    auto r = read(
        "{\\rtf1\\ansi\\fromtext \\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}\\f0 first "
        "line\\par\n"
        "second line\\par\\par after blank\\par}");
    EXPECT_EQ(r.encapsulation, rtf::Encapsulation::Text);
    EXPECT_EQ(allText(*r.document), QStringLiteral("first line\nsecond line\n\nafter blank\n"));
}
