// The engine: format recognition, pagination, page images and limits. Runs
// with a QApplication on the offscreen platform.
#include "engine/paged_document.h"
#include "engine/fonts.h"
#include "engine/render_limits.h"
#include "page_documents.h"

#include <fontconfig/fontconfig.h>

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFile>
#include <QFontInfo>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The machine's own font configuration, made hostile before anything of Qt
// starts: FONTCONFIG_FILE names one folder, in the user's home, whose only
// font (a copy of DejaVu Serif) every face resolves to, and which claims
// to be Tahoma, Segoe UI and the rest. The renderer's configuration is then
// installed as the library installs it, before the first font is used, and
// must resolve every face as if that folder did not exist.
struct HostileMachineFonts {
    std::filesystem::path root;
    std::string decoy;
    HostileMachineFonts() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orv-fonts-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        root = pattern;
        const std::filesystem::path fonts = root / ".fonts";
        std::filesystem::create_directories(fonts);
        decoy = (fonts / "DejaVuSerif.ttf").string();
        std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", decoy);
        std::string conf = "<?xml version=\"1.0\"?><fontconfig><dir>" + fonts.string() +
                           "</dir><cachedir>" + (root / "cache").string() + "</cachedir>";
        for (const char* face : {"Tahoma", "Segoe UI", "Verdana", "Georgia", "Consolas", "Aptos",
                                 "Calibri", "MS Gothic", "SimSun", "Malgun Gothic"}) {
            conf += std::string("<alias binding=\"strong\"><family>") + face +
                    "</family><prefer><family>DejaVu Serif</family></prefer></alias>";
        }
        conf += "</fontconfig>";
        const std::string confFile = (root / "fonts.conf").string();
        QFile file(QString::fromStdString(confFile));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(conf.data(), static_cast<qint64>(conf.size()));
        }
        file.close();
        setenv("FONTCONFIG_FILE", confFile.c_str(), 1);
        setenv("HOME", root.c_str(), 1);
        setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
        render::engine::useRendererFonts();
    }
    ~HostileMachineFonts() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    HostileMachineFonts(const HostileMachineFonts&) = delete;
    HostileMachineFonts& operator=(const HostileMachineFonts&) = delete;
};
// Constructed before main(), so before the tests' QApplication.
const HostileMachineFonts g_machineFonts;

using render::engine::PagedDocument;
using render::engine::SourceFormat;

std::span<const std::uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

PagedDocument loadText(const std::string& s, const std::vector<common::InlineImage>& images = {}) {
    return PagedDocument::load(bytesOf(s), images);
}

render::engine::LoadOptions inCodePage(int codePage) {
    render::engine::LoadOptions options;
    options.codePage = codePage;
    return options;
}

std::string numberedLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "Line number " + std::to_string(i) + "\n";
    }
    return text;
}

int pageOfText(const PagedDocument& doc, const QString& needle) {
    const QTextCursor found = doc.document().find(needle);
    if (found.isNull()) {
        return -1;
    }
    return doc.pageOfPosition(found.selectionStart());
}

bool isDark(QRgb pixel) {
    return qGray(pixel) < 128;
}

int countPixels(const QImage& image, const QRect& area, bool (*test)(QRgb)) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += test(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

bool isRed(QRgb p) {
    return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90;
}

// ---------------------------------------------------------------------------

TEST(FormatDetection, RecognisesRtfAfterByteOrderMarkAndWhiteSpace) {
    EXPECT_EQ(render::engine::detectFormat(bytesOf("{\\rtf1\\ansi hello}")), SourceFormat::Rtf);
    EXPECT_EQ(render::engine::detectFormat(bytesOf("\xEF\xBB\xBF \r\n{\\rtf1 x}")),
              SourceFormat::Rtf);
    EXPECT_EQ(render::engine::detectFormat(bytesOf("{\\RTF1 x}")), SourceFormat::Text);
}

TEST(FormatDetection, RecognisesHtmlDocumentsButNotTextThatStartsWithAngleBracket) {
    EXPECT_EQ(render::engine::detectFormat(bytesOf("<!DOCTYPE html><p>x")), SourceFormat::Html);
    EXPECT_EQ(render::engine::detectFormat(bytesOf("\n  <HTML><BODY>x</BODY></HTML>")),
              SourceFormat::Html);
    EXPECT_EQ(render::engine::detectFormat(bytesOf("<john@example.com> wrote:\nhi")),
              SourceFormat::Text);
    EXPECT_EQ(render::engine::detectFormat(bytesOf("Plain <html> mention")), SourceFormat::Text);
    const std::string utf16Html("\xFF\xFE<\0h\0t\0m\0l\0>\0", 14);
    EXPECT_EQ(render::engine::detectFormat(bytesOf(utf16Html)), SourceFormat::Html);
}

TEST(FormatDetection, DecodesTextByByteOrderMarkThenUtf8ThenWindows1252) {
    EXPECT_EQ(render::engine::decodeText(bytesOf("caf\xC3\xA9")), QStringLiteral("caf\u00E9"));
    EXPECT_EQ(render::engine::decodeText(bytesOf("\x93quoted\x94 \x80")),
              QStringLiteral("\u201Cquoted\u201D \u20AC"));
    EXPECT_EQ(render::engine::decodeText(bytesOf(std::string("\xFF\xFE\x1F\x04\x40\x04", 6))),
              QStringLiteral("\u041F\u0440"));
}

TEST(FormatDetection, HtmlUsesTheCharsetItsMetaTagNames) {
    const auto doc = loadText(
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=windows-1251\"></head><body>\xCF\xF0\xE8\xE2\xE5\xF2</body></html>");
    EXPECT_EQ(doc.format(), SourceFormat::Html);
    EXPECT_EQ(doc.document().toPlainText().trimmed(), QStringLiteral("Привет"));
}

// Newer mail programs and webmail store bare fragments in the HTML body; the
// caller knows it is HTML, and no markup may reach the page as text.
TEST(FormatDetection, HtmlTheCallerNamesIsHtmlEvenAsABareFragment) {
    render::engine::LoadOptions html;
    html.format = SourceFormat::Html;
    for (const std::string fragment :
         {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">Hello "
          "<b>there</b>",
          "<div dir=\"ltr\">Hello <b>there</b></div>", "Hello<br>there<br>"}) {
        EXPECT_EQ(PagedDocument::load(bytesOf(fragment)).format(), SourceFormat::Text);
        const auto doc = PagedDocument::load(bytesOf(fragment), {}, html);
        EXPECT_EQ(doc.format(), SourceFormat::Html);
        const QString text = doc.document().toPlainText();
        EXPECT_FALSE(text.contains(u'<')) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("there"))) << text.toStdString();
    }
}

TEST(Header, GoesAboveTheBodyWhoseFirstParagraphKeepsItsFormat) {
    render::engine::LoadOptions options;
    options.header = QStringLiteral("Ann\nFrom:\tAnn");
    const auto doc = PagedDocument::load(
        bytesOf("{\\rtf1\\ansi\\pard\\qc Centered first\\par\\pard Second\\par}"), {}, options);
    const QString text = doc.document().toPlainText();
    EXPECT_LT(text.indexOf(QStringLiteral("From:\tAnn")), text.indexOf(QStringLiteral("Centered")));
    const QTextBlock body = doc.document().find(QStringLiteral("Centered first")).block();
    EXPECT_EQ(body.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST(Header, ValuesStandInOneColumnAfterTheWidestLabelAndWrapUnderIt) {
    render::engine::LoadOptions options;
    options.header = QStringLiteral("Ann\nTo:\tBob\nAttachments:\t") +
                     QStringLiteral("report.pdf (8 KB); ").repeated(20) +
                     QStringLiteral("\nSent:\tfirst line\u2028second line");
    const auto paged = PagedDocument::load(bytesOf("Body"), {}, options);
    const QTextDocument& doc = paged.document();
    // Where the layout put the character at `offset` of the block holding
    // `text`, and the left end of the block's line `n`.
    const auto x = [&](const QString& text, int offset) {
        const QTextBlock block = doc.find(text).block();
        const QTextLayout* layout = block.layout();
        return layout->position().x() + layout->lineForTextPosition(offset).cursorToX(offset);
    };
    const auto lineStart = [&](const QString& text, int n) {
        const QTextLayout* layout = doc.find(text).block().layout();
        EXPECT_GT(layout->lineCount(), n) << text.toStdString();
        return layout->position().x() + layout->lineAt(n).x();
    };
    const double column = x(QStringLiteral("Attachments:"), 13);
    EXPECT_GT(column, x(QStringLiteral("Attachments:"), 12));  // after the label
    EXPECT_NEAR(x(QStringLiteral("To:"), 4), column, 0.5);
    EXPECT_NEAR(lineStart(QStringLiteral("Attachments:"), 1), column, 0.5);
    EXPECT_NEAR(lineStart(QStringLiteral("Sent:"), 1), column, 0.5);
    EXPECT_NEAR(lineStart(QStringLiteral("Body"), 0), 0, 0.5);
}

TEST(FormatDetection, CallersCodePageAppliesOnlyWhereTheContentNamesNone) {
    const std::string cyrillic = "\xCF\xF0\xE8\xE2\xE5\xF2";
    const auto text = PagedDocument::load(bytesOf(cyrillic), {}, inCodePage(1251));
    EXPECT_EQ(text.document().toPlainText(), QStringLiteral("Привет"));
    // Windows' own table for 949 (Unified Hangul), not IBM's: 81 41 is a
    // syllable only the Windows table has.
    EXPECT_EQ(
        PagedDocument::load(bytesOf("\x81\x41"), {}, inCodePage(949)).document().toPlainText(),
        QString(QChar(0xAC02)));
    const auto html = PagedDocument::load(
        bytesOf("<html><head><meta charset=\"utf-8\"></head><body>caf\xC3\xA9</body></html>"), {},
        inCodePage(1251));
    EXPECT_EQ(html.document().toPlainText().trimmed(), QStringLiteral("caf\u00E9"));
    const auto unknown = PagedDocument::load(bytesOf("caf\xE9"), {}, inCodePage(9999));
    EXPECT_EQ(unknown.document().toPlainText(), QStringLiteral("caf\u00E9"));
}

// ---------------------------------------------------------------------------

TEST(Pagination, EmptyOrBlankInputIsOneBlankPage) {
    for (const std::string input : {"", "\r\n", "  \n\t \n"}) {
        const auto doc = loadText(input);
        ASSERT_EQ(doc.pageCount(), 1);
        const QImage page = doc.renderPage(0);
        EXPECT_EQ(countPixels(page, page.rect(), [](QRgb p) { return qGray(p) < 250; }), 0);
    }
}

TEST(Pagination, NoLineIsSplitAcrossAPageBoundary) {
    std::string text;
    for (int i = 0; i < 60; ++i) {
        text +=
            "A paragraph that wraps over several lines of the page because it is long, "
            "repeated to fill the page body many times over. ";
        if (i % 3 == 0) {
            text += "\n";
        }
    }
    const auto doc = loadText(text);
    ASSERT_GE(doc.pageCount(), 2);
    const double pageHeight = doc.layoutPageHeight();
    int lines = 0;
    for (QTextBlock block = doc.document().begin(); block.isValid(); block = block.next()) {
        const double blockTop = doc.document().documentLayout()->blockBoundingRect(block).top();
        for (int i = 0; i < block.layout()->lineCount(); ++i) {
            const QTextLine line = block.layout()->lineAt(i);
            const double top = blockTop + line.y();
            const double bottom = top + line.height();
            EXPECT_EQ(static_cast<int>(top / pageHeight),
                      static_cast<int>((bottom - 0.01) / pageHeight))
                << "line at " << top;
            ++lines;
        }
    }
    EXPECT_GT(lines, 60);
}

TEST(Pagination, HtmlPageBreakStartsANewPage) {
    const auto doc = loadText(
        "<html><body><p>First page</p>"
        "<p style=\"page-break-before: always\">Second page</p></body></html>");
    EXPECT_EQ(doc.pageCount(), 2);
    EXPECT_EQ(pageOfText(doc, QStringLiteral("First page")), 0);
    EXPECT_EQ(pageOfText(doc, QStringLiteral("Second page")), 1);
}

TEST(Pagination, RtfPageBreakGivesTwoPagesAndATrailingBreakNoEmptyThird) {
    const auto doc = loadText("{\\rtf1\\ansi First page\\par\\page Second page\\par\\page\\par}");
    EXPECT_EQ(doc.format(), SourceFormat::Rtf);
    EXPECT_EQ(doc.pageCount(), 2);
    EXPECT_EQ(pageOfText(doc, QStringLiteral("First page")), 0);
    EXPECT_EQ(pageOfText(doc, QStringLiteral("Second page")), 1);
}

TEST(Pagination, LongTableRunsOverPagesAndKeepsItsLastRows) {
    std::string html = "<html><body><table border=1>";
    for (int i = 1; i <= 150; ++i) {
        html += "<tr><td>Row " + std::to_string(i) + "</td><td>cell</td></tr>";
    }
    html += "</table></body></html>";
    const auto doc = loadText(html);
    EXPECT_GE(doc.pageCount(), 3);
    EXPECT_EQ(pageOfText(doc, QStringLiteral("Row 150")), doc.pageCount() - 1);
}

// ---------------------------------------------------------------------------

TEST(PageImage, JpegIsLetterAt96DpiWithTextInsideTheMargins) {
    QTemporaryDir dir;
    const auto doc = loadText("Hello, this is the body of a message.\nSecond line.");
    const QString file = dir.filePath(QStringLiteral("page.jpg"));
    doc.savePageAsJpeg(0, file, 80);

    QImage page(file);
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(page.size(), QSize(816, 1056));  // 8.5 x 11 inches
    EXPECT_GT(countPixels(page, QRect(120, 96, 576, 60), isDark), 50);
    // Nothing in the 1.25 inch left margin or the 1 inch top margin.
    EXPECT_EQ(countPixels(page, QRect(0, 0, 816, 90), isDark), 0);
    EXPECT_EQ(countPixels(page, QRect(0, 0, 114, 1056), isDark), 0);
}

TEST(PageImage, RtfPaperSizeAndMarginsApplyToEveryPage) {
    // 8000 x 6000 twips paper, 720-twip (48-pixel) margins all round.
    std::string rtf =
        "{\\rtf1\\ansi\\paperw8000\\paperh6000\\margl720\\margr720\\margt720\\margb720 ";
    for (int i = 0; i < 60; ++i) {
        rtf += "Line " + std::to_string(i) + "\\par ";
    }
    rtf += "}";
    const auto doc = loadText(rtf);
    ASSERT_GE(doc.pageCount(), 2);
    for (const int index : {0, doc.pageCount() - 1}) {
        const QImage page = doc.renderPage(index);
        EXPECT_EQ(page.size(), QSize(533, 400));
        EXPECT_EQ(countPixels(page, QRect(0, 0, 533, 44), isDark), 0) << index;
        EXPECT_EQ(countPixels(page, QRect(0, 0, 44, 400), isDark), 0) << index;
        EXPECT_EQ(countPixels(page, QRect(0, 400 - 44, 533, 44), isDark), 0) << index;
        EXPECT_GT(countPixels(page, QRect(48, 48, 100, 20), isDark), 10) << index;
    }
}

// Headers and footers are drawn in the margins of every page: the first
// page's own with \titlepg (none here), a page number field showing the page
// it is on; a header taller than the top margin moves the body down.
TEST(PageImage, RtfHeadersAndFootersRepeatWithTheirPageNumbers) {
    std::string rtf =
        "{\\rtf1\\ansi{\\colortbl;\\red255\\green0\\blue0;}\\paperw8000\\paperh6000"
        "\\margl720\\margr720\\margt720\\margb720\\headery144\\footery144\\titlepg"
        "{\\header\\pard\\cf1\\fs28 Header one\\par Header two\\par Header three\\par}"
        "{\\footer\\pard Page {\\field{\\*\\fldinst PAGE}{\\fldrslt 1}} of "
        "{\\field{\\*\\fldinst NUMPAGES}{\\fldrslt 1}}\\par}\\pard ";
    for (int i = 0; i < 60; ++i) {
        rtf += "Line " + std::to_string(i) + "\\par ";
    }
    rtf += "}";
    const auto doc = loadText(rtf);
    ASSERT_GE(doc.pageCount(), 3);
    const int headerBottom = doc.geometry().marginTop / 15;
    EXPECT_GT(headerBottom, 48 + 20);  // three lines of 14 pt from 144 twips down
    const QImage first = doc.renderPage(0);
    const QImage second = doc.renderPage(1);
    const QImage third = doc.renderPage(2);
    EXPECT_EQ(countPixels(first, QRect(0, 0, 533, headerBottom), isRed), 0);
    EXPECT_GT(countPixels(second, QRect(48, 8, 200, headerBottom - 8), isRed), 50);
    // The body starts below the header: nothing red or dark between them.
    EXPECT_EQ(countPixels(second, QRect(0, headerBottom, 533, 40), isRed), 0);
    EXPECT_GT(countPixels(second, QRect(48, headerBottom, 100, 30), isDark), 10);
    // The first page has no footer of its own; the others theirs, each
    // with its own number.
    const QRect footer(48, 400 - 10 - 30, 300, 30);
    EXPECT_EQ(countPixels(first, footer, isDark), 0);
    EXPECT_GT(countPixels(second, footer, isDark), 20);
    EXPECT_NE(second.copy(footer), third.copy(footer));

    // A header longer than any real one is cut, and the pages still render.
    const std::string longHeader =
        "{\\rtf1\\ansi{\\header " + std::string(200000, 'x') + "\\par}Body\\par}";
    const auto cut = loadText(longHeader);
    EXPECT_NO_THROW(cut.renderPage(0));
    bool warned = false;
    for (const std::string& warning : cut.warnings()) {
        warned = warned || warning.find("header or footer") != std::string::npos;
    }
    EXPECT_TRUE(warned);
}

TEST(PageImage, EveryPageRendersItsOwnSliceOnly) {
    const auto doc = loadText(numberedLines(120));
    ASSERT_GE(doc.pageCount(), 2);
    const QImage first = doc.renderPage(0);
    const QImage last = doc.renderPage(doc.pageCount() - 1);
    // The bottom margin of a full page stays empty: the next page's first
    // line is not drawn there.
    EXPECT_EQ(countPixels(first, QRect(0, 1056 - 90, 816, 90), isDark), 0);
    EXPECT_GT(countPixels(last, QRect(120, 96, 576, 30), isDark), 20);
}

TEST(PageImage, OutOfRangePageAndBadQualityAreRefusedAndLeaveExistingFileAlone) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("keep.jpg"));
    {
        QFile existing(file);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("user data");
    }
    const auto doc = loadText("one page");
    EXPECT_THROW(doc.savePageAsJpeg(1, file, 80), render::engine::RenderError);
    EXPECT_THROW(doc.savePageAsJpeg(-1, file, 80), render::engine::RenderError);
    EXPECT_THROW(doc.savePageAsJpeg(0, file, 101), render::engine::RenderError);
    QFile existing(file);
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("user data"));
}

TEST(PageImage, UnwritableTargetIsAFailureNamingThePath) {
    const auto doc = loadText("text");
    try {
        doc.savePageAsJpeg(0, QStringLiteral("/nonexistent-folder/x.jpg"), 80);
        FAIL() << "no failure";
    } catch (const render::engine::RenderError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent-folder/x.jpg"), std::string::npos);
    }
}

// ---------------------------------------------------------------------------

TEST(Pictures, HtmlFindsInlinePicturesByContentIdAndFitsLargeOnesToTheBody) {
    const QByteArray png = render_test::picture(QSize(3000, 200), Qt::red);
    common::InlineImage image{"logo@1", "logo.png", {png.begin(), png.end()}};
    const auto doc = loadText("<html><body><img src=\"cid:logo@1\"></body></html>", {image});
    const QImage page = doc.renderPage(0);
    // Drawn scaled to the 576-pixel body: red from margin to margin, none
    // beyond.
    EXPECT_GT(countPixels(page, QRect(130, 98, 550, 30), isRed), 550 * 30 * 9 / 10);
    EXPECT_EQ(countPixels(page, QRect(700, 0, 116, 1056), isRed), 0);
}

TEST(Pictures, LocalFilesNamedByTheDocumentAreNeverRead) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("secret.png"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(render_test::picture(QSize(200, 200), Qt::red));
    out.close();
    for (const QString& src : {file, QUrl::fromLocalFile(file).toString()}) {
        const std::string html = "<html><body><img src=\"" + src.toStdString() +
                                 "\" width=200 height=200></body></html>";
        const QImage page = loadText(html).renderPage(0);
        EXPECT_EQ(countPixels(page, page.rect(), isRed), 0) << src.toStdString();
    }
}

TEST(Pictures, MissingPictureShowsAPlaceholderBox) {
    const QImage page =
        loadText("<html><body><img src=\"cid:absent\" width=100 height=80></body></html>")
            .renderPage(0);
    EXPECT_GT(countPixels(page, QRect(120, 96, 100, 80), [](QRgb p) { return qGray(p) < 240; }),
              100);
}

// ---------------------------------------------------------------------------

TEST(Limits, InputOverTheSizeCapIsRefusedWithBothSizes) {
    const std::string big(render::engine::kMaxInputBytes + 1, 'a');
    try {
        loadText(big);
        FAIL() << "no failure";
    } catch (const render::engine::RenderError& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(render::engine::kMaxInputBytes + 1)),
                  std::string::npos);
    }
}

TEST(Limits, PagesBeyondTheCapAreCutWithAVisibleNote) {
    const auto doc = loadText(numberedLines(render::engine::kMaxPages * 50));
    EXPECT_EQ(doc.pageCount(), render::engine::kMaxPages);
    EXPECT_GT(doc.laidOutPageCount(), render::engine::kMaxPages);
    const QImage last = doc.renderPage(render::engine::kMaxPages - 1);
    EXPECT_GT(countPixels(last, QRect(0, 1056 - 96, 816, 96),
                          [](QRgb p) { return qRed(p) > 120 && qGreen(p) < 100; }),
              20);
    const QImage earlier = doc.renderPage(render::engine::kMaxPages - 2);
    EXPECT_EQ(countPixels(earlier, QRect(0, 1056 - 96, 816, 96), isDark), 0);
}

TEST(Limits, OverlongTextIsCutWithANoteAtItsEnd) {
    std::string text(static_cast<std::size_t>(render::engine::kMaxTextCharacters) + 10, 'x');
    for (std::size_t i = 80; i < text.size(); i += 80) {
        text[i] = '\n';
    }
    const auto doc = loadText(text);
    EXPECT_TRUE(
        doc.document().toPlainText().endsWith(QStringLiteral("of which the first %1 are shown.]")
                                                  .arg(render::engine::kMaxTextCharacters)));
    EXPECT_FALSE(doc.warnings().empty());
}

// A fuzzer find: pictures 143 million pixels tall hung the layout, whose
// fixed-point lengths overflow; they must be fitted before the first layout.
TEST(Limits, PictureTallerThanTheLayoutCanHoldIsFittedBeforeLayout) {
    QFile file(QStringLiteral(ORVALINE_RENDER_REGRESS "/picture_taller_than_layout_limit.rtf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    const auto doc = PagedDocument::load({reinterpret_cast<const std::uint8_t*>(data.constData()),
                                          static_cast<std::size_t>(data.size())});
    EXPECT_GE(doc.pageCount(), 1);
    for (QTextBlock block = doc.document().begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                EXPECT_LE(format.toImageFormat().height(), doc.layoutPageHeight());
            }
        }
    }
}

int tableDepth(const QTextFrame* frame) {
    int deepest = 0;
    for (const QTextFrame* child : frame->childFrames()) {
        const int below = tableDepth(child) + (qobject_cast<const QTextTable*>(child) ? 1 : 0);
        deepest = std::max(deepest, below);
    }
    return deepest;
}

// Layout cost doubles with each level of table nesting (a fuzzer find: an
// RTF with \itap20 took minutes). Deeper tables become their text.
TEST(Limits, TablesNestedTooDeepAreShownAsText) {
    std::string html = "<html><body>";
    for (int i = 0; i < 30; ++i) {
        html += "<table border=1><tr><td>level" + std::to_string(i);
    }
    html += " innermost";
    for (int i = 0; i < 30; ++i) {
        html += "</td><td>side</td></tr></table>";
    }
    html += "</body></html>";
    const auto doc = loadText(html);
    EXPECT_EQ(tableDepth(doc.document().rootFrame()), render::engine::kMaxTableNesting);
    EXPECT_GE(pageOfText(doc, QStringLiteral("level29 innermost")), 0);
    EXPECT_FALSE(doc.warnings().empty());

    QFile file(QStringLiteral(ORVALINE_RENDER_REGRESS "/rtf_tables_nested_twenty_deep.rtf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray rtf = file.readAll();
    const auto fromRtf =
        PagedDocument::load({reinterpret_cast<const std::uint8_t*>(rtf.constData()),
                             static_cast<std::size_t>(rtf.size())});
    EXPECT_LE(tableDepth(fromRtf.document().rootFrame()), render::engine::kMaxTableNesting);
}

// Mail nests layout tables a few deep and keeps them; much content deep down
// would cost 2^depth times its layout, so the innermost levels give way to
// their cells' paragraphs, formatting kept.
TEST(Limits, MuchContentInDeeplyNestedTablesIsUnwrappedToABoundedLayout) {
    std::string open, close;
    for (int i = 0; i < 9; ++i) {
        open += "<table><tr><td>";
        close += "</td></tr></table>";
    }
    const auto shallow =
        loadText("<html><body>" + open + "<table><tr><td>one cell</td></tr></table>" + close +
                 "</body></html>");
    EXPECT_EQ(tableDepth(shallow.document().rootFrame()), 10);

    std::string rows;
    for (int i = 0; i < 300; ++i) {
        rows += "<tr><td><b>cell " + std::to_string(i) + "</b> of a long table</td></tr>";
    }
    const auto deep =
        loadText("<html><body>" + open + "<table>" + rows + "</table>" + close + "</body></html>");
    EXPECT_LT(tableDepth(deep.document().rootFrame()), 10);
    const QString text = deep.document().toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("cell 0 of a long table")));
    EXPECT_TRUE(text.contains(QStringLiteral("cell 299 of a long table")));
    const auto found = deep.document().find(QStringLiteral("cell 299"));
    EXPECT_EQ(found.charFormat().fontWeight(), QFont::Bold);
    EXPECT_FALSE(deep.warnings().empty());
}

TEST(Limits, ContentWiderThanThePaperIsShrunkToFit) {
    // An RTF table 18,000 twips (1,200 px) wide: the page is shrunk, and
    // the right cell's text stays on the paper.
    const auto doc = loadText(
        "{\\rtf1\\ansi\\trowd\\cellx3000\\cellx18000\\pard\\intbl left\\cell"
        "\\pard\\intbl RIGHTMOST\\cell\\row}");
    const QImage page = doc.renderPage(0);
    EXPECT_GT(countPixels(page, QRect(200, 90, 616, 30), isDark), 10);
    EXPECT_FALSE(doc.warnings().empty());
    // An HTML table as wide is fitted to the text width instead, at full
    // size; its right cell's text ends inside the right margin.
    const auto html = loadText(
        "<html><body><table width=\"1200\" border=\"1\"><tr><td>left</td>"
        "<td align=\"right\">RIGHTMOST</td></tr></table></body></html>");
    EXPECT_GT(countPixels(html.renderPage(0), QRect(560, 96, 140, 20), isDark), 10);
    EXPECT_TRUE(html.warnings().empty());
}

}  // namespace

// ---------------------------------------------------------------------------
// Fonts: the renderer's own configuration, whatever the machine says.

// The family of the font the layout drew a piece of text with.
QString drawnFamily(const PagedDocument& doc, const QString& text) {
    const QTextCursor found = doc.document().find(text);
    if (found.isNull()) {
        return {};
    }
    const QTextBlock block = doc.document().findBlock(found.selectionStart());
    const auto runs = block.layout()->glyphRuns(found.selectionStart() - block.position(),
                                                found.selectionEnd() - found.selectionStart());
    return runs.isEmpty() ? QString() : runs.first().rawFont().familyName();
}

// The faces mail is written in, and the file each must be drawn with: the
// metric twin, or the face closest in width, or the Noto CJK face of the
// face's region.
TEST(Fonts, EveryFaceResolvesToItsStandInWhateverTheMachineConfigures) {
    ASSERT_FALSE(g_machineFonts.decoy.empty());
    // The machine's configuration really is changed: by it, every face is the
    // decoy in the home folder.
    FcConfig* machine = FcInitLoadConfigAndFonts();
    ASSERT_NE(machine, nullptr);
    {
        FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("Tahoma"));
        FcConfigSubstitute(machine, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(machine, pattern, &result);
        FcChar8* file = nullptr;
        ASSERT_NE(match, nullptr);
        ASSERT_EQ(FcPatternGetString(match, FC_FILE, 0, &file), FcResultMatch);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(file)), g_machineFonts.decoy);
        FcPatternDestroy(match);
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(machine);

    ASSERT_TRUE(render::engine::rendererFontsInUse());
    struct Case {
        const char* face;
        const char* file;    // under /usr/share
        const char* family;  // as Qt resolves the face
    };
    const Case cases[] = {
        {"Calibri", "fonts/truetype/crosextra/Carlito-Regular.ttf", "Carlito"},
        {"Cambria", "fonts/truetype/crosextra/Caladea-Regular.ttf", "Caladea"},
        {"Arial", "fonts/truetype/liberation/LiberationSans-Regular.ttf", "Liberation Sans"},
        {"Times New Roman", "fonts/truetype/liberation/LiberationSerif-Regular.ttf",
         "Liberation Serif"},
        {"Courier New", "fonts/truetype/liberation/LiberationMono-Regular.ttf", "Liberation Mono"},
        {"Tahoma", "wine/fonts/tahoma.ttf", "Tahoma"},
        {"Segoe UI", "fonts/truetype/liberation/LiberationSans-Regular.ttf", "Liberation Sans"},
        {"Verdana", "fonts/truetype/dejavu/DejaVuSans.ttf", "DejaVu Sans"},
        {"Aptos", "fonts/truetype/liberation/LiberationSans-Regular.ttf", "Liberation Sans"},
        {"Georgia", "fonts/truetype/dejavu/DejaVuSerifCondensed.ttf", "DejaVu Serif Condensed"},
        {"Consolas", "fonts/truetype/inconsolata/Inconsolata.otf", "Inconsolata"},
        {"MS Gothic", "fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans Mono CJK JP"},
        {"MS PGothic", "fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans CJK JP"},
        {"SimSun", "fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans Mono CJK SC"},
        {"Microsoft YaHei", "fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans CJK SC"},
        {"PMingLiU", "fonts/opentype/noto/NotoSerifCJK-Regular.ttc", "Noto Serif CJK TC"},
        {"Malgun Gothic", "fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans CJK KR"},
        {"A face nobody has", "fonts/truetype/liberation/LiberationSans-Regular.ttf",
         "Liberation Sans"},
    };
    for (const Case& c : cases) {
        const QString face = QString::fromUtf8(c.face);
        EXPECT_EQ(render::engine::fontFileFor(face).toStdString(),
                  std::string("/usr/share/") + c.file)
            << c.face;
        // And the face a page draws, in RTF and in HTML.
        const std::string name(c.face);
        const auto rtf = PagedDocument::load(
            bytesOf("{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil " + name + ";}}\\f0 Sample\\par}"));
        EXPECT_EQ(drawnFamily(rtf, QStringLiteral("Sample")).toStdString(), c.family) << c.face;
        render::engine::LoadOptions html;
        html.format = SourceFormat::Html;
        const auto mail = PagedDocument::load(
            bytesOf("<p style=\"font-family:'" + name + "'\">Sample</p>"), {}, html);
        EXPECT_EQ(drawnFamily(mail, QStringLiteral("Sample")).toStdString(), c.family) << c.face;
    }
}

// Han characters are drawn in the face of their region: by the font's
// charset, else by the text's language; a face named in the mail wins.
TEST(Fonts, HanTextTakesTheRegionOfItsFontCharsetOrLanguage) {
    const std::string han = "\\u20013?\\u25991?";  // 中文
    const QString hanText = QStringLiteral("中文");
    const auto rtf = [&](const std::string& fonts, const std::string& body) {
        return PagedDocument::load(
            bytesOf("{\\rtf1\\ansi{\\fonttbl" + fonts + "}\\f0\\fs22 " + body + "\\par}"));
    };
    EXPECT_EQ(drawnFamily(rtf("{\\f0\\fnil\\fcharset134 Unknown;}", han), hanText),
              QStringLiteral("Noto Sans CJK SC"));
    EXPECT_EQ(drawnFamily(rtf("{\\f0\\fnil\\fcharset136 Unknown;}", han), hanText),
              QStringLiteral("Noto Sans CJK TC"));
    EXPECT_EQ(drawnFamily(rtf("{\\f0\\fnil\\fcharset129 Unknown;}", han), hanText),
              QStringLiteral("Noto Sans CJK KR"));
    EXPECT_EQ(drawnFamily(rtf("{\\f0\\fswiss Calibri;}", "\\langfe2052 " + han), hanText),
              QStringLiteral("Noto Sans CJK SC"));
    EXPECT_EQ(drawnFamily(rtf("{\\f0\\fswiss Calibri;}", "\\lang1041 " + han), hanText),
              QStringLiteral("Noto Sans CJK JP"));
    EXPECT_EQ(
        drawnFamily(rtf("{\\f0\\fnil\\fcharset128 MS Gothic;}", "\\langfe2052 " + han), hanText),
        QStringLiteral("Noto Sans Mono CJK JP"));
    render::engine::LoadOptions html;
    html.format = SourceFormat::Html;
    const auto mail = PagedDocument::load(
        bytesOf("<html><body><p style=\"font-family:'Malgun Gothic'\">\xED\x95\x9C "
                "\xE4\xB8\xAD\xE6\x96\x87</p></body></html>"),
        {}, html);
    EXPECT_EQ(drawnFamily(mail, hanText), QStringLiteral("Noto Sans CJK KR"));
}

// The lines the layout made of the block holding `text`.
QStringList linesOf(const PagedDocument& paged, const QString& text) {
    const QTextBlock block = paged.document().find(text).block();
    QStringList lines;
    for (int i = 0; i < block.layout()->lineCount(); ++i) {
        const QTextLine line = block.layout()->lineAt(i);
        lines << block.text().mid(line.textStart(), line.textLength()).trimmed();
    }
    return lines;
}

// A narrow column is as wide as its longest word, as in a browser; a link
// longer than a line still wraps within the page.
TEST(HtmlLayout, NarrowColumnsKeepTheirWordsWholeAndLongLinksStillWrap) {
    render::engine::LoadOptions html;
    html.format = SourceFormat::Html;
    const std::string table =
        "<table width=\"100%\"><tr><td width=\"92%\">Beschreibung</td>"
        "<td width=\"8%\" style=\"font-size:14pt\">LISTENPREIS GUTHABEN</td></tr></table>";
    const auto words = PagedDocument::load(bytesOf(table), {}, html);
    EXPECT_EQ(linesOf(words, QStringLiteral("LISTENPREIS")),
              QStringList({QStringLiteral("LISTENPREIS"), QStringLiteral("GUTHABEN")}));

    const std::string link = "https://example.com/" + std::string(300, 'a');
    const auto wrapped = PagedDocument::load(bytesOf(table + "<p>" + link + "</p>"), {}, html);
    const QTextLayout* layout = wrapped.document().find(QStringLiteral("https:")).block().layout();
    EXPECT_GT(layout->lineCount(), 1);
    for (int i = 0; i < layout->lineCount(); ++i) {
        EXPECT_LE(layout->lineAt(i).naturalTextWidth(), wrapped.document().pageSize().width());
    }
}

// ---------------------------------------------------------------------------
// Underlines: below the descenders, as browsers and Word draw them.

// The rows of `image` with ink (anything not near white) between `top` and
// `bottom`, as the first and last; {-1, -1} when none.
std::pair<int, int> inkRows(const QImage& image) {
    int first = -1;
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 235) {
                first = first < 0 ? y : first;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

struct UnderlineRows {
    int descenderBottom = -1;  // last inked row of the text alone
    int firstRow = -1;         // the rows only the underlined page has ink in
    int lastRow = -1;
    int widestRun = 0;  // the underline's longest dark run, in pixels
    int textWidth = 0;  // ink width of the text alone
};

UnderlineRows compareUnderlined(const std::string& plain, const std::string& underlined, int dpi,
                                const render::engine::LoadOptions& options = {}) {
    const QImage a = PagedDocument::load(bytesOf(plain), {}, options).renderPage(0, dpi);
    const QImage b = PagedDocument::load(bytesOf(underlined), {}, options).renderPage(0, dpi);
    UnderlineRows rows;
    rows.descenderBottom = inkRows(a).second;
    int left = a.width();
    int right = -1;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (qGray(a.pixel(x, y)) < 235) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    rows.textWidth = right - left + 1;
    for (int y = 0; y < b.height(); ++y) {
        int run = 0;
        bool differs = false;
        for (int x = 0; x < b.width(); ++x) {
            const bool changed = std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 40;
            differs = differs || changed;
            run = changed ? run + 1 : 0;
            rows.widestRun = std::max(rows.widestRun, run);
        }
        if (differs) {
            rows.firstRow = rows.firstRow < 0 ? y : rows.firstRow;
            rows.lastRow = y;
        }
    }
    return rows;
}

TEST(Underline, IsDrawnBelowTheDescendersInRtfAndHtmlAtEveryResolution) {
    const std::string rtfHead =
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Calibri;}{\\f1\\fswiss Arial;}}";
    render::engine::LoadOptions html;
    html.format = SourceFormat::Html;
    // Small link text in a tinted table row, as newsletters and signatures
    // have it; the row's tint is the same in both pages.
    const auto tintedRow = [](const char* decoration) {
        return std::string(
                   "<html><body><table><tr style=\"background:#dde8f0\"><td "
                   "style=\"font-family:Arial;font-size:8pt\"><a href=\"https://x.test/\" "
                   "style=\"text-decoration:") +
               decoration + "\">gjpqy gjpqy</a></td></tr></table></body></html>";
    };
    struct Case {
        const char* what;
        std::string plain;
        std::string underlined;
        int dpi;
        render::engine::LoadOptions options;
    };
    const Case cases[] = {
        {"RTF Calibri 11 pt",
         rtfHead + "\\f0\\fs22 gjpqy gjpqy\\par}",
         rtfHead + "\\f0\\fs22 \\ul gjpqy gjpqy\\ulnone\\par}",
         96,
         {}},
        {"RTF Arial 8 pt",
         rtfHead + "\\f1\\fs16 gjpqy gjpqy\\par}",
         rtfHead + "\\f1\\fs16 \\ul gjpqy gjpqy\\ulnone\\par}",
         96,
         {}},
        {"RTF Calibri 11 pt at 200 dpi",
         rtfHead + "\\f0\\fs22 gjpqy gjpqy\\par}",
         rtfHead + "\\f0\\fs22 \\ul gjpqy gjpqy\\ulnone\\par}",
         200,
         {}},
        {"HTML link in a tinted row", tintedRow("none"), tintedRow("underline"), 96, html},
    };
    for (const Case& c : cases) {
        const UnderlineRows rows = compareUnderlined(c.plain, c.underlined, c.dpi, c.options);
        ASSERT_GE(rows.firstRow, 0) << c.what << ": no underline drawn";
        // Below the descenders, not touching them.
        EXPECT_GT(rows.firstRow, rows.descenderBottom) << c.what;
        // One stroke, 1/14 em thick (one or two rows at 96 dpi).
        EXPECT_LE(rows.lastRow - rows.firstRow, c.dpi > 96 ? 3 : 1) << c.what;
        // Under the whole text, spaces included.
        EXPECT_GE(rows.widestRun, rows.textWidth * 9 / 10) << c.what;
        EXPECT_LE(rows.widestRun, rows.textWidth + 4) << c.what;
    }

    // Small monospace links one under the other at a tight pitch, as a
    // forwarded message's ids: each underline stays clear of the next line's
    // capitals, or OCR reads the two lines as one.
    const auto tight = [](const char* link) {
        const std::string pre = "<pre style=\"margin:0;font-family:'Courier New';font-size:10pt\">";
        return pre + "<a href=\"https://x.test/\" style=\"" + link + "\">gjpqy</a></pre>" + pre +
               "TTTTT</pre>";
    };
    const UnderlineRows rows = compareUnderlined(tight("text-decoration:none"),
                                                 tight("text-decoration:underline"), 96, html);
    ASSERT_GE(rows.firstRow, 0);
    // The next line's top: the first ink of the page whose link is white.
    const QImage next =
        PagedDocument::load(bytesOf(tight("text-decoration:none;color:white")), {}, html)
            .renderPage(0);
    int nextLineTop = 0;
    while (nextLineTop < next.height() && countPixels(next, QRect(0, nextLineTop, next.width(), 1),
                                                      [](QRgb p) { return qGray(p) < 235; }) == 0) {
        ++nextLineTop;
    }
    // Two clean rows: one antialiased row of a stroke and of a capital
    // still read as touching.
    EXPECT_LE(rows.lastRow, nextLineTop - 3);
}
