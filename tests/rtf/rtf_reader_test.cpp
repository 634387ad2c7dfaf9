#include "test_util.h"

#include <rtf/faces.h>

#include <QTextTable>

#include <algorithm>

#include <gtest/gtest.h>

using namespace rtftest;

// ---- Text and characters -------------------------------------------------

TEST(RtfText, BoldRunIsBoldAndTheRestIsNot) {
    auto r = read(R"({\rtf1\ansi plain {\b bold} after\par})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral("plain bold after"));
    EXPECT_EQ(formatOf(*r.document, QStringLiteral("bold"))->fontWeight(), QFont::Bold);
    EXPECT_NE(formatOf(*r.document, QStringLiteral("after"))->fontWeight(), QFont::Bold);
}

TEST(RtfText, CharacterFormatsReachTheDocument) {
    auto r = read(R"({\rtf1{\colortbl;\red255\green0\blue0;\red0\green0\blue255;})"
                  R"({\i it}{\ul ul}{\uldash da}{\strike st}{\super sp}{\fs40 big}{\cf1 red})"
                  R"({\highlight2 hl}{\caps cp}})");
    const QTextDocument& d = *r.document;
    EXPECT_TRUE(formatOf(d, QStringLiteral("it"))->fontItalic());
    EXPECT_EQ(formatOf(d, QStringLiteral("ul"))->underlineStyle(),
              QTextCharFormat::SingleUnderline);
    EXPECT_EQ(formatOf(d, QStringLiteral("da"))->underlineStyle(), QTextCharFormat::DashUnderline);
    EXPECT_TRUE(formatOf(d, QStringLiteral("st"))->fontStrikeOut());
    EXPECT_EQ(formatOf(d, QStringLiteral("sp"))->verticalAlignment(),
              QTextCharFormat::AlignSuperScript);
    EXPECT_DOUBLE_EQ(formatOf(d, QStringLiteral("big"))->fontPointSize(), 20.0);
    EXPECT_EQ(formatOf(d, QStringLiteral("red"))->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(formatOf(d, QStringLiteral("hl"))->background().color(), QColor(0, 0, 255));
    EXPECT_EQ(formatOf(d, QStringLiteral("cp"))->fontCapitalization(), QFont::AllUppercase);
}

TEST(RtfText, CyrillicHexBytesUnderAnsiCodePage1251) {
    auto r = read(R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral(u"Привет"));
}

TEST(RtfText, FontCharsetOverridesAnsiCodePage) {
    auto r = read(
        R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Arial;}{\f1\fcharset204 Arial;}{\f2\fcharset161 Arial;}})"
        R"(\f0\'e9 \f1\'e9 \f2\'e1})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral(u"é й α"));
}

TEST(RtfText, DoubleByteHexPairsUnderShiftJis) {
    auto r = read(R"({\rtf1\ansi{\fonttbl{\f0\fcharset128 MS Mincho;}}\f0 \'93\'fa\'96\'7b})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral(u"日本"));
}

TEST(RtfText, UnicodeSkipsItsFallbackCharacters) {
    auto r = read(R"({\rtf1 a\u8364?b{\uc2\u8364\'80\'80c}{\uc0\u-3913}d\u1046 \'3fe})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral(u"a€b€c\uF0B7dЖe"));
}

TEST(RtfText, BinaryDataIsSkippedWholeEvenWithBraces) {
    auto r = read("{\\rtf1 x{\\*\\blob \\bin4 }}{{}y z\\bin2 {}!}");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral("xy z!"));
}

TEST(RtfText, UnknownStarredDestinationsAndHiddenTextAreNotShown) {
    auto r = read(R"({\rtf1 a{\*\unknownthing secret {nested}}b{\v hidden}c{\*\htmltag <p>}d})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral("abcd"));
}

TEST(RtfText, SpecialCharacters) {
    auto r =
        read(R"({\rtf1 a\~b\emdash c\lquote d\rquote\ldblquote e\rdblquote\tab f\line g\{\}\\})");
    EXPECT_EQ(allText(*r.document).trimmed(),
              QStringLiteral(u"a\u00a0b\u2014c\u2018d\u2019\u201ce\u201d\tf\u2028g{}\\"));
}

TEST(RtfText, StylesheetInfoAndFontTableDoNotLeakText) {
    auto r = read(R"({\rtf1{\fonttbl{\f0\fswiss Calibri;}}{\stylesheet{\s0 Normal;}})"
                  R"({\info{\title T}{\author A}}\f0 body})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral("body"));
}

// ---- Fonts ---------------------------------------------------------------

TEST(RtfFonts, WindowsFacesMapToMetricCompatibleOnes) {
    auto r = read(
        R"({\rtf1{\fonttbl{\f0\fswiss Calibri;}{\f1\froman Times New Roman;}{\f2\fmodern Courier New;}})"
        R"(\f0 one \f1 two \f2 three})");
    EXPECT_EQ(formatOf(*r.document, QStringLiteral("one"))->fontFamilies().toStringList().first(),
              QStringLiteral("Carlito"));
    EXPECT_EQ(formatOf(*r.document, QStringLiteral("two"))->fontFamilies().toStringList().first(),
              QStringLiteral("Liberation Serif"));
    const QStringList mono =
        formatOf(*r.document, QStringLiteral("three"))->fontFamilies().toStringList();
    EXPECT_EQ(mono.first(), QStringLiteral("Liberation Mono"));
    EXPECT_TRUE(mono.contains(QStringLiteral("Noto Sans CJK JP")));  // fallback for other scripts
}

// The reader names the metric twins of the one face table (rtf/faces.h) the
// engine's font configuration is built from; faces whose stand-in is only
// close in width, or of their region, keep their names for the engine to
// replace.
TEST(RtfFonts, TheReaderNamesTheMetricTwinsOfTheFaceTable) {
    int twins = 0;
    for (const rtf::FaceSubstitute& s : rtf::faceSubstitutes()) {
        const std::string face(s.face);
        if (std::any_of(face.begin(), face.end(), [](char c) { return (c & 0x80) != 0; })) {
            continue;  // native names reach the font table in their code page
        }
        auto r = read("{\\rtf1{\\fonttbl{\\f0\\fnil " + face + ";}}\\f0 sample}");
        const QString first =
            formatOf(*r.document, QStringLiteral("sample"))->fontFamilies().toStringList().first();
        const QString expected = QString::fromUtf8(
            s.metricTwin ? s.standIn.data() : s.face.data(),
            static_cast<qsizetype>(s.metricTwin ? s.standIn.size() : s.face.size()));
        EXPECT_EQ(first, expected) << face;
        twins += s.metricTwin ? 1 : 0;
    }
    EXPECT_GE(twins, 9);
    EXPECT_EQ(rtf::standInFace(QStringLiteral(" cALIBRI ")), QStringLiteral("Carlito"));
    EXPECT_EQ(rtf::standInFace(QStringLiteral("Georgia")),
              QStringLiteral("DejaVu Serif Condensed"));
    EXPECT_EQ(rtf::metricTwinFace(QStringLiteral("Georgia")), QString());
    EXPECT_EQ(rtf::standInFace(QStringLiteral("A face nobody has")), QString());
    EXPECT_TRUE(rtf::isCjkFace(rtf::standInFace(QStringLiteral("MS Gothic"))));
    EXPECT_TRUE(rtf::isCjkFace(rtf::cjkFace(rtf::CjkRegion::Korea)));
    EXPECT_FALSE(rtf::isCjkFace(QStringLiteral("Liberation Sans")));
}

// ---- Paragraphs and pages ------------------------------------------------

TEST(RtfParagraphs, PageBreakStartsTheNextBlockOnANewPage) {
    auto r = read(R"({\rtf1 first\par\page second\par})");
    auto second = blockWith(*r.document, QStringLiteral("second"));
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore);
    EXPECT_FALSE(blockWith(*r.document, QStringLiteral("first"))->blockFormat().pageBreakPolicy() &
                 QTextFormat::PageBreak_AlwaysBefore);
}

TEST(RtfParagraphs, SectionBreaksThePageUnlessTheNextSectionSaysNone) {
    auto r = read(R"({\rtf1 one\sect\sectd two\sect\sectd\sbknone three\par})");
    EXPECT_TRUE(blockWith(*r.document, QStringLiteral("two"))->blockFormat().pageBreakPolicy() &
                QTextFormat::PageBreak_AlwaysBefore);
    EXPECT_FALSE(blockWith(*r.document, QStringLiteral("three"))->blockFormat().pageBreakPolicy() &
                 QTextFormat::PageBreak_AlwaysBefore);
}

TEST(RtfParagraphs, AlignmentIndentsAndSpacingInPixels) {
    auto r = read(R"({\rtf1\pard\qc\li1440\ri720\fi-360\sb240\sa120 centred\par\pard next\par})");
    const QTextBlockFormat f = blockWith(*r.document, QStringLiteral("centred"))->blockFormat();
    EXPECT_EQ(f.alignment(), Qt::AlignHCenter);
    EXPECT_DOUBLE_EQ(f.leftMargin(), 96.0);
    EXPECT_DOUBLE_EQ(f.rightMargin(), 48.0);
    EXPECT_DOUBLE_EQ(f.textIndent(), -24.0);
    EXPECT_DOUBLE_EQ(f.topMargin(), 16.0);
    EXPECT_DOUBLE_EQ(f.bottomMargin(), 8.0);
    EXPECT_EQ(blockWith(*r.document, QStringLiteral("next"))->blockFormat().alignment(),
              Qt::AlignLeft);
}

TEST(RtfParagraphs, EveryParIsABlockAndTheLastMarkAddsNone) {
    auto r = read(R"({\rtf1 a\par\par b\par})");
    EXPECT_EQ(r.document->blockCount(), 3);
    EXPECT_EQ(allText(*r.document), QStringLiteral("a\n\nb\n"));
}

TEST(RtfParagraphs, PageSizeAndMargins) {
    auto r = read(R"({\rtf1\paperw11906\paperh16838\margl1000\margr1100\margt1200\margb1300 x})");
    EXPECT_EQ(r.page.paperWidth, 11906);
    EXPECT_EQ(r.page.paperHeight, 16838);
    EXPECT_EQ(r.page.marginLeft, 1000);
    EXPECT_EQ(r.page.marginRight, 1100);
    EXPECT_EQ(r.page.marginTop, 1200);
    EXPECT_EQ(r.page.marginBottom, 1300);
    auto defaults = read(R"({\rtf1 x})");
    EXPECT_EQ(defaults.page.paperWidth, 12240);
    EXPECT_EQ(defaults.page.marginLeft, 1800);
    // The first section's page (a landscape one here) is the pages'; a later
    // section's is not drawn.
    auto landscape =
        read(R"({\rtf1\paperw12240\paperh15840\margl1800\sectd\lndscpsxn\pgwsxn15840\pghsxn12240)"
             R"(\marglsxn1440\margtsxn700 a\sect\sectd\pgwsxn5000\pghsxn5000\marglsxn0 b})");
    EXPECT_EQ(landscape.page.paperWidth, 15840);
    EXPECT_EQ(landscape.page.paperHeight, 12240);
    EXPECT_EQ(landscape.page.marginLeft, 1440);
    EXPECT_EQ(landscape.page.marginTop, 700);
    // Words that set no part of the page leave it alone.
    EXPECT_EQ(landscape.page.headerY, 720);
    EXPECT_EQ(landscape.page.footerY, 720);
    EXPECT_EQ(landscape.page.marginRight, 1800);
    auto header = read(R"({\rtf1\headery300\footery-5\margr0\paperw0 x})");
    EXPECT_EQ(header.page.headerY, 300);
    EXPECT_EQ(header.page.footerY, 720);       // negative: not a distance
    EXPECT_EQ(header.page.marginRight, 0);     // no margin is one
    EXPECT_EQ(header.page.paperWidth, 12240);  // no paper is none
}

// ---- Tables --------------------------------------------------------------

namespace {
QTextTable* firstTable(QTextDocument& doc) {
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (QTextTable* t = QTextCursor(b).currentTable()) {
            return t;
        }
    }
    return nullptr;
}
}  // namespace

TEST(RtfTables, CellsOfARowSitSideBySide) {
    auto r = read(R"({\rtf1 before\par\trowd\clbrdrt\brdrs\cellx2000\cellx5000)"
                  R"(\pard\intbl left\cell right\cell\row)"
                  R"(\trowd\cellx2000\cellx5000\pard\intbl l2\cell r2\cell\row\pard after\par})");
    QTextTable* table = firstTable(*r.document);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 2);
    EXPECT_EQ(table->columns(), 2);
    auto cellText = [&](int row, int col) {
        QTextCursor c = table->cellAt(row, col).firstCursorPosition();
        c.setPosition(table->cellAt(row, col).lastCursorPosition().position(),
                      QTextCursor::KeepAnchor);
        return c.selectedText();
    };
    EXPECT_EQ(cellText(0, 0), QStringLiteral("left"));
    EXPECT_EQ(cellText(0, 1), QStringLiteral("right"));
    EXPECT_EQ(cellText(1, 1), QStringLiteral("r2"));
    const auto widths = table->format().columnWidthConstraints();
    ASSERT_EQ(widths.size(), 2);
    EXPECT_NEAR(widths[0].rawValue(), 2000 / 15.0, 0.01);
    EXPECT_NEAR(widths[1].rawValue(), 3000 / 15.0, 0.01);
    // Only the first cell of the first row declared a (top) border.
    const QTextTableCellFormat bordered = table->cellAt(0, 0).format().toTableCellFormat();
    EXPECT_GE(bordered.topBorder(), 1.0);
    EXPECT_EQ(bordered.topBorderStyle(), QTextFrameFormat::BorderStyle_Solid);
    EXPECT_EQ(bordered.bottomBorder(), 0.0);
    EXPECT_EQ(table->cellAt(0, 1).format().toTableCellFormat().topBorder(), 0.0);
    EXPECT_TRUE(blockWith(*r.document, QStringLiteral("after")));
    EXPECT_EQ(QTextCursor(*blockWith(*r.document, QStringLiteral("after"))).currentTable(),
              nullptr);
}

TEST(RtfTables, NestedTableLandsInsideTheOuterCell) {
    auto r =
        read(R"({\rtf1\trowd\cellx3000\cellx6000\pard\intbl outer\cell)"
             R"(\pard\intbl\itap2 in1\nestcell in2\nestcell)"
             R"({\*\nesttableprops\trowd\cellx1000\cellx2000\nestrow}{\nonesttables FALLBACK\par})"
             R"(\pard\intbl\itap1\cell\row})");
    QTextTable* outer = firstTable(*r.document);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->columns(), 2);
    QTextCursor inCell = outer->cellAt(0, 1).firstCursorPosition();
    QTextTable* inner = nullptr;
    for (QTextBlock b = inCell.block(); b.isValid(); b = b.next()) {
        QTextTable* t = QTextCursor(b).currentTable();
        if (t != nullptr && t != outer) {
            inner = t;
            break;
        }
    }
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->columns(), 2);
    EXPECT_EQ(allText(*r.document).count(QStringLiteral("in1")), 1);
    EXPECT_FALSE(allText(*r.document).contains(QStringLiteral("FALLBACK")));
}

TEST(RtfTables, LongTableIsOneTableWithEveryRowInOrder) {
    std::string rtf = "{\\rtf1";
    for (int i = 0; i < 100; ++i) {
        // Row 70 is wider: the table grows a column for it.
        rtf += i == 70 ? "\\trowd\\cellx1000\\cellx2000\\cellx3000\\pard\\intbl a70\\cell "
                         "b70\\cell c70\\cell\\row"
                       : "\\trowd\\cellx1000\\cellx2000\\pard\\intbl a" + std::to_string(i) +
                             "\\cell b" + std::to_string(i) + "\\cell\\row";
    }
    rtf += "\\pard after}";
    auto r = read(rtf);
    QTextTable* table = firstTable(*r.document);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 100);
    EXPECT_EQ(table->columns(), 3);
    auto cellText = [&](int row, int col) {
        QTextCursor c = table->cellAt(row, col).firstCursorPosition();
        c.setPosition(table->cellAt(row, col).lastCursorPosition().position(),
                      QTextCursor::KeepAnchor);
        return c.selectedText();
    };
    EXPECT_EQ(cellText(0, 0), QStringLiteral("a0"));
    EXPECT_EQ(cellText(40, 1), QStringLiteral("b40"));
    EXPECT_EQ(cellText(70, 2), QStringLiteral("c70"));
    EXPECT_EQ(cellText(99, 1), QStringLiteral("b99"));
}

TEST(RtfTables, CellShadingFromColourTable) {
    auto r = read(
        R"({\rtf1{\colortbl;\red0\green128\blue0;}\trowd\clcbpat1\cellx2000\pard\intbl g\cell\row})");
    QTextTable* table = firstTable(*r.document);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->cellAt(0, 0).format().background().color(), QColor(0, 128, 0));
}

TEST(RtfTables, RowWithoutRowEndStillShowsItsText) {
    auto r = read(R"({\rtf1\trowd\cellx2000\pard\intbl lonely\cell unfinished})");
    EXPECT_TRUE(allText(*r.document).contains(QStringLiteral("lonely")));
    EXPECT_TRUE(allText(*r.document).contains(QStringLiteral("unfinished")));
}

// ---- Fields and lists ----------------------------------------------------

TEST(RtfFields, HyperlinkResultIsALinkInLinkColour) {
    auto r = read(
        R"({\rtf1 see {\field{\*\fldinst{HYPERLINK "https://example.org/a" }}{\fldrslt{\ul here}}} now})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral("see here now"));
    auto f = formatOf(*r.document, QStringLiteral("here"));
    EXPECT_TRUE(f->isAnchor());
    EXPECT_EQ(f->anchorHref(), QStringLiteral("https://example.org/a"));
    EXPECT_NE(f->foreground().color(), QColor(Qt::black));
    EXPECT_FALSE(formatOf(*r.document, QStringLiteral("now"))->isAnchor());
}

TEST(RtfLists, ListTextShowsTheBulletFromTheSymbolFont) {
    auto r = read(R"({\rtf1{\fonttbl{\f0 Arial;}{\f1\fcharset2 Symbol;}})"
                  R"({\*\listtable{\list{\listlevel{\leveltext \'01\'b7;}}}})"
                  R"(\pard\li720\fi-360{\listtext\f1\'b7\tab}\f0 item\par})");
    EXPECT_EQ(allText(*r.document).trimmed(), QStringLiteral(u"\u2022\titem"));
}

// ---- Pictures ------------------------------------------------------------

TEST(RtfPictures, PngIsShownAtItsGoalSize) {
    QImage red(40, 20, QImage::Format_RGB32);
    red.fill(Qt::red);
    const std::string data = hex(encodeImage(red, "PNG"));
    auto r = read("{\\rtf1 a{\\pict\\pngblip\\picw40\\pich20\\picwgoal1200\\pichgoal600 " + data +
                  "}b}");
    EXPECT_TRUE(r.warnings.empty());
    bool found = false;
    for (QTextBlock b = r.document->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
            if (!f.isValid()) {
                continue;
            }
            found = true;
            EXPECT_DOUBLE_EQ(f.width(), 80.0);
            EXPECT_DOUBLE_EQ(f.height(), 40.0);
            const QImage stored =
                r.document->resource(QTextDocument::ImageResource, QUrl(f.name())).value<QImage>();
            ASSERT_FALSE(stored.isNull());
            EXPECT_EQ(stored.size(), QSize(40, 20));
            EXPECT_EQ(stored.pixelColor(5, 5), QColor(Qt::red));
        }
    }
    EXPECT_TRUE(found);
}

TEST(RtfPictures, ScaleAndTextWidthBoundTheSize) {
    QImage blue(10, 10, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    const std::string data = hex(encodeImage(blue, "PNG"));
    auto r = read("{\\rtf1{\\pict\\pngblip\\picwgoal150\\pichgoal150\\picscalex200\\picscaley50 " +
                  data + "}{\\pict\\pngblip\\picwgoal30000\\pichgoal3000 " + data + "}}");
    std::vector<QSizeF> sizes;
    for (auto it = r.document->begin().begin(); !it.atEnd(); ++it) {
        const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
        if (f.isValid()) {
            sizes.emplace_back(f.width(), f.height());
        }
    }
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[0], QSizeF(20, 5));
    EXPECT_EQ(sizes[1], QSizeF(576, 57.6));  // 8640 twips of text width
}

TEST(RtfPictures, MetafileWithoutBitmapBecomesABoxOfItsSize) {
    auto r = read(
        R"({\rtf1{\pict\wmetafile8\picw2540\pich1270\picwgoal1440\pichgoal720 0100090000030a00000000000000}})");
    ASSERT_EQ(r.warnings.size(), 1u);
    auto f = formatOf(*r.document, QString(QChar::ObjectReplacementCharacter));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(f->toImageFormat().width(), 96.0);
    EXPECT_DOUBLE_EQ(f->toImageFormat().height(), 48.0);
}

TEST(RtfPictures, EmfShowsTheBitmapItEmbeds) {
    // EMR_HEADER, EMR_STRETCHDIBITS with a 2x1 24-bit DIB, EMR_EOF.
    std::vector<std::uint8_t> emf;
    auto u32 = [&emf](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            emf.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    u32(1);
    u32(88);
    emf.resize(88, 0);
    const std::size_t rec = emf.size();
    u32(81);
    u32(80 + 40 + 8);
    emf.resize(rec + 48, 0);
    u32(80);
    u32(40);
    u32(120);
    u32(8);  // offBmi, cbBmi, offBits, cbBits
    emf.resize(rec + 80, 0);
    u32(40);
    u32(2);
    u32(1);
    emf.push_back(1);
    emf.push_back(0);
    emf.push_back(24);
    emf.push_back(0);
    emf.resize(rec + 120, 0);
    for (int b : {0, 255, 0, 0, 255, 0, 0, 0})
        emf.push_back(static_cast<std::uint8_t>(b));  // two green pixels (BGR)
    u32(14);
    u32(20);
    u32(0);
    u32(0);
    u32(0);
    auto r = read("{\\rtf1{\\pict\\emfblip\\picwgoal300\\pichgoal150 " + hex(emf) + "}}");
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    auto f = formatOf(*r.document, QString(QChar::ObjectReplacementCharacter));
    ASSERT_TRUE(f);
    const QImage stored =
        r.document->resource(QTextDocument::ImageResource, QUrl(f->toImageFormat().name()))
            .value<QImage>();
    ASSERT_EQ(stored.size(), QSize(2, 1));
    EXPECT_EQ(stored.pixelColor(1, 0), QColor(0, 255, 0));
}

TEST(RtfPictures, NonShapePictureFallbackIsNotShownTwice) {
    QImage img(4, 4, QImage::Format_RGB32);
    img.fill(Qt::green);
    const std::string data = hex(encodeImage(img, "PNG"));
    auto r = read("{\\rtf1{\\*\\shppict{\\pict\\pngblip " + data +
                  "}}{\\nonshppict{\\pict\\pngblip " + data + "}}}");
    EXPECT_EQ(allText(*r.document).count(QChar::ObjectReplacementCharacter), 1);
}

TEST(RtfErrors, HeaderlessFragmentIsReadWholeWithAWarning) {
    auto r = read("{\\pard one\\par}\n{\\pard\\b two\\par}");
    EXPECT_EQ(allText(*r.document), QStringLiteral("one\ntwo\n"));
    EXPECT_EQ(r.warnings.size(), 1u);
}

// ---- Errors and limits ---------------------------------------------------

TEST(RtfErrors, InputThatIsNotRtfIsRejectedWithItsOffset) {
    for (const std::string& bad : {std::string(""), std::string("hello"), std::string("  {\\"),
                                   std::string("{\\\\rtf"), std::string("<html>")}) {
        try {
            read(bad);
            FAIL() << "accepted: " << bad;
        } catch (const rtf::RtfError& e) {
            EXPECT_NE(std::string(e.what()).find("not RTF"), std::string::npos);
        }
    }
    try {
        read("  \r\n{x");
        FAIL();
    } catch (const rtf::RtfError& e) {
        EXPECT_EQ(e.offset(), 4u);
    }
}

TEST(RtfLimits, GroupNestingBeyondTheLimitThrowsWithOffset) {
    const std::string deep = "{\\rtf1 " + std::string(rtf::kMaxGroupDepth + 5, '{') + "x}";
    try {
        read(deep);
        FAIL();
    } catch (const rtf::RtfError& e) {
        EXPECT_EQ(e.offset(), 7u + rtf::kMaxGroupDepth - 1);
        EXPECT_NE(std::string(e.what()).find("nested deeper"), std::string::npos);
    }
    // Just under the limit is fine.
    EXPECT_NO_THROW(read("{\\rtf1 " + std::string(rtf::kMaxGroupDepth - 2, '{') + "x}"));
}

TEST(RtfLimits, EveryTruncationOfAValidDocumentReadsWithoutFailing) {
    QImage img(3, 3, QImage::Format_RGB32);
    img.fill(Qt::red);
    const std::string full =
        "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset204 "
        "Arial;}}{\\colortbl;\\red1\\green2\\blue3;}"
        "\\f0\\'cf {\\b x}\\u1046?\\trowd\\cellx100\\pard\\intbl c\\cell\\row\\pard "
        "{\\field{\\*\\fldinst HYPERLINK \"u\"}{\\fldrslt l}}{\\pict\\pngblip " +
        hex(encodeImage(img, "PNG")) + "}\\bin3 {}\\page y\\par}";
    for (std::size_t n = 5; n <= full.size(); ++n) {
        EXPECT_NO_THROW(read(full.substr(0, n))) << n;
    }
}

TEST(RtfLimits, HugeNumbersAndTableSizesAreBounded) {
    auto r = read(R"({\rtf1\fs99999999999999\li-99999999999 \u99999999999?x\bin999999999999})");
    EXPECT_TRUE(allText(*r.document).contains(u'x'));
    std::string wide = "{\\rtf1\\trowd";
    for (int i = 1; i <= 200; ++i)
        wide += "\\cellx" + std::to_string(i * 50);
    wide += "\\pard\\intbl";
    for (int i = 0; i < 200; ++i)
        wide += " c\\cell";
    wide += "\\row}";
    auto t = read(wide);
    QTextTable* table = firstTable(*t.document);
    ASSERT_NE(table, nullptr);
    EXPECT_LE(table->columns(), rtf::kMaxTableColumns);
    EXPECT_EQ(allText(*t.document).count(u'c'), 200);  // nothing silently lost
}

TEST(RtfLimits, ManyPicturesShareOnePixelBudget) {
    // A few bytes each, a full-width box each: memory must not grow with them.
    std::string many = "{\\rtf1";
    const int count = 3000;
    for (int i = 0; i < count; ++i) {
        many += "{\\pict\\wmetafile8\\picwgoal24000\\pichgoal24000 00}";
    }
    many += "}";
    auto r = read(many);
    std::int64_t pixels = 0;
    int shown = 0;
    for (auto it = r.document->begin().begin(); !it.atEnd(); ++it) {
        const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
        if (!f.isValid()) {
            continue;
        }
        ++shown;
        EXPECT_DOUBLE_EQ(f.width(), 576.0);  // still shown at its size
        const QImage image =
            r.document->resource(QTextDocument::ImageResource, QUrl(f.name())).value<QImage>();
        pixels += std::int64_t{image.width()} * image.height();
    }
    EXPECT_EQ(shown, count);
    EXPECT_LE(pixels, rtf::kMaxTotalPicturePixels + std::int64_t{count} * 4096);
}

TEST(RtfLimits, TableCellBudgetFlattensTheRestVisibly) {
    std::string many = "{\\rtf1";
    for (int i = 0; i < rtf::kMaxTableCells + 10; ++i) {
        many += "\\trowd\\cellx500\\pard\\intbl r" + std::to_string(i) + "\\cell\\row";
    }
    many += "\\pard end}";
    auto r = read(many);
    EXPECT_FALSE(r.warnings.empty());
    const QString text = allText(*r.document);
    EXPECT_TRUE(text.contains(QStringLiteral("r%1").arg(rtf::kMaxTableCells + 9)));
    EXPECT_TRUE(text.contains(QStringLiteral("end")));
}
