// Pages written into PDF and TIFF files by the engine, read back the way a
// viewer would: Poppler for the PDF (pages, paper, words, information),
// libtiff for the TIFF (compression, resolution, every bilevel pixel); and
// the words of a document as the text file beside its pages gets them.
#include "engine/page_file.h"
#include "engine/paged_document.h"
#include "page_documents.h"

#include <poppler-qt6.h>
#include <tiffio.h>

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using render::engine::LoadOptions;
using render::engine::PagedDocument;
using render::engine::PdfFile;
using render::engine::RenderError;
using render::engine::SourceFormat;
using render::engine::TiffColour;
using render::engine::TiffFile;

using render_test::letterRtf;
using render_test::load;
using render_test::picture;
using render_test::span;

// A one-page PDF whose page holds `words` as text.
QByteArray pdfWithText(const QString& words) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter(&writer);
    painter.setFont(QFont(QStringLiteral("Liberation Sans"), 12));
    painter.drawText(QPointF(500, 500), words);
    painter.end();
    return bytes;
}

class PageFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QStringList files() const { return QDir(m_dir.path()).entryList(QDir::Files); }
    QTemporaryDir m_dir;
};

TEST_F(PageFiles, APdfHoldsThePagesOfSeveralDocumentsWithTheirPaperWordsAndInformation) {
    const PagedDocument letter = load(letterRtf(90));
    ASSERT_GE(letter.pageCount(), 2);
    LoadOptions a4;
    a4.paper = LoadOptions::Paper::A4;
    a4.format = SourceFormat::Text;
    const PagedDocument note = load("delta echo foxtrot", a4);
    const PagedDocument red = load(picture({400, 300}, Qt::red), [] {
        LoadOptions o;
        o.format = SourceFormat::Picture;
        return o;
    }());

    PdfFile pdf(path(QStringLiteral("m.pdf")),
                {QStringLiteral("Subject with ü and 中文"), QStringLiteral("Ann <ann@example.org>"),
                 std::int64_t{1700000000}},
                150);
    pdf.add(letter, 0);
    pdf.add(letter, 1);
    pdf.add(note, 0);
    pdf.add(red, 0);
    EXPECT_TRUE(files().isEmpty()) << "nothing is in place before the file is finished";
    pdf.finish();
    EXPECT_EQ(files(), QStringList{QStringLiteral("m.pdf")});

    const auto doc = Poppler::Document::load(path(QStringLiteral("m.pdf")));
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->numPages(), 4);
    const auto page = [&](int i) { return std::unique_ptr<Poppler::Page>(doc->page(i)); };
    EXPECT_NEAR(page(0)->pageSizeF().width(), 612, 0.5);
    EXPECT_NEAR(page(0)->pageSizeF().height(), 792, 0.5);
    EXPECT_NEAR(page(2)->pageSizeF().width(), 595.3, 0.5);
    EXPECT_NEAR(page(2)->pageSizeF().height(), 841.9, 0.5);
    // Text stays text: the words come back from the file itself.
    EXPECT_TRUE(page(0)->text(QRectF()).contains(QStringLiteral("Paragraph 1 alpha bravo")));
    EXPECT_TRUE(page(1)->text(QRectF()).contains(QStringLiteral("Paragraph 90 alpha")));
    EXPECT_TRUE(page(2)->text(QRectF()).contains(QStringLiteral("delta echo foxtrot")));
    // A picture is an image on its page, drawn where the page image has it.
    const QImage drawn = page(3)->renderToImage(96, 96);
    const QImage expected = red.renderPage(0, 96);
    ASSERT_EQ(drawn.size(), expected.size());
    const QPoint centre(expected.width() / 2, 96 + 150);
    EXPECT_EQ(expected.pixelColor(centre), QColor(Qt::red));
    EXPECT_GT(drawn.pixelColor(centre).red(), 200);
    EXPECT_LT(drawn.pixelColor(centre).green(), 60);

    EXPECT_EQ(doc->info(QStringLiteral("Title")), QStringLiteral("Subject with ü and 中文"));
    EXPECT_EQ(doc->info(QStringLiteral("Author")), QStringLiteral("Ann <ann@example.org>"));
    EXPECT_EQ(doc->info(QStringLiteral("Creator")), QStringLiteral("Orvaline"));
    EXPECT_EQ(doc->date(QStringLiteral("CreationDate")).toUTC(),
              QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));

    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), path(QStringLiteral("m.pdf"))});
    ASSERT_TRUE(qpdf.waitForFinished(60000)) << "qpdf (Debian: qpdf) is needed";
    EXPECT_EQ(qpdf.exitCode(), 0) << qpdf.readAllStandardOutput().toStdString();
}

// Calibri's stand-in joins "fi", "ffi", "ti" into ligatures, whose glyphs a
// PDF's text cannot map back to letters: laid out without them, every word
// comes back whole.
TEST_F(PageFiles, WithoutLigaturesAPdfGivesBackEveryLetter) {
    const QByteArray rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Calibri;}}\\f0\\fs24 "
        "an efficient office meeting to find the fitting affiliation\\par}";
    const QString words =
        QStringLiteral("an efficient office meeting to find the fitting affiliation");
    const auto textOfPdf = [&](bool ligatures) {
        LoadOptions options;
        options.ligatures = ligatures;
        const PagedDocument doc = load(rtf, options);
        const QString file =
            path(ligatures ? QStringLiteral("with.pdf") : QStringLiteral("without.pdf"));
        PdfFile pdf(file, {}, 96);
        pdf.add(doc, 0);
        pdf.finish();
        const auto read = Poppler::Document::load(file);
        return read ? std::unique_ptr<Poppler::Page>(read->page(0))->text(QRectF()).simplified()
                    : QString();
    };
    EXPECT_EQ(textOfPdf(false), words);
    // The reason for the option: with ligatures the letters are lost.
    EXPECT_NE(textOfPdf(true), words);
}

TEST_F(PageFiles, AFileNeverFinishedIsNeverWrittenAndAFailureNamesTheSystemsReason) {
    const PagedDocument note = load("words");
    {
        PdfFile pdf(path(QStringLiteral("a.pdf")), {}, 96);
        pdf.add(note, 0);
        TiffFile tiff(path(QStringLiteral("a.tif")), TiffColour::Auto, 80);
        tiff.add(note, 0, 96);
    }
    EXPECT_TRUE(files().isEmpty()) << files().join(u' ').toStdString();

    PdfFile pdf(path(QStringLiteral("a.pdf")), {}, 96);
    EXPECT_THROW(pdf.finish(), RenderError) << "a file without pages";
    try {
        PdfFile missing(path(QStringLiteral("no/such/folder/a.pdf")), {}, 96);
        missing.add(note, 0);
        missing.finish();
        ADD_FAILURE() << "written into a folder that does not exist";
    } catch (const RenderError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(PdfFile(path(QStringLiteral("b.pdf")), {}, 20), RenderError);
    EXPECT_THROW(TiffFile(path(QStringLiteral("b.tif")), TiffColour::Auto, 0), RenderError);
    EXPECT_THROW(pdf.add(note, 1), RenderError) << "a page the document does not have";
}

using render_test::readTiff;
using render_test::TiffPage;

TEST_F(PageFiles, GreyPagesAreGroup4BitForBitAndPagesWithColourJpegAsTheSettingSays) {
    const PagedDocument text = load(letterRtf(5));
    LoadOptions asPicture;
    asPicture.format = SourceFormat::Picture;
    const PagedDocument blue = load(picture({300, 200}, QColor(0x20, 0x40, 0xC0)), asPicture);
    for (const TiffColour colour : {TiffColour::Auto, TiffColour::Never, TiffColour::Always}) {
        const QString file = path(QStringLiteral("m%1.tif").arg(static_cast<int>(colour)));
        TiffFile tiff(file, colour, 85);
        tiff.add(text, 0, 200);
        tiff.add(blue, 0, 200);
        tiff.finish();
        const std::vector<TiffPage> pages = readTiff(file);
        ASSERT_EQ(pages.size(), 2u);
        for (const TiffPage& page : pages) {
            EXPECT_EQ(page.width, 1700u);  // Letter at 200 dpi
            EXPECT_EQ(page.height, 2200u);
            EXPECT_FLOAT_EQ(page.xres, 200);
            EXPECT_FLOAT_EQ(page.yres, 200);
            ASSERT_FALSE(page.rgba.empty()) << "libtiff cannot decode the page";
        }
        const bool firstBilevel = colour != TiffColour::Always;
        const bool secondBilevel = colour == TiffColour::Never;
        EXPECT_EQ(pages[0].compression, firstBilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_JPEG);
        EXPECT_EQ(pages[1].compression, secondBilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_JPEG);
        EXPECT_EQ(pages[0].bits, firstBilevel ? 1 : 8);
        EXPECT_EQ(pages[1].samples, secondBilevel ? 1 : 3);
    }
    // The bilevel page is the page image with every dark pixel black.
    const QImage image = text.renderPage(0, 200);
    const TiffPage page = readTiff(path(QStringLiteral("m0.tif")))[0];
    int differing = 0;
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool dark = qGray(image.pixel(x, y)) < 128;
            const std::uint32_t p =
                page.rgba[static_cast<std::size_t>(image.height() - 1 - y) * page.width +
                          static_cast<std::size_t>(x)];
            ink += dark ? 1 : 0;
            differing += dark != (TIFFGetR(p) == 0) ? 1 : 0;
        }
    }
    EXPECT_GT(ink, 5000);
    EXPECT_EQ(differing, 0);
}

TEST_F(PageFiles, TheTextOfADocumentIsTheWordsOfItsRenderedPagesInOrder) {
    LoadOptions withHeader;
    withHeader.header = QStringLiteral("Ann\nFrom:\tAnn <ann@example.org>\nSubject:\tMinutes");
    withHeader.caption = QStringLiteral("Attachment 1: minutes.rtf");
    const QByteArray table =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Before\\line broken\\~here\\par"
        "\\trowd\\cellx2000\\cellx4000 left\\cell right\\cell\\row After\\par}";
    const QString text = load(table, withHeader).text();
    EXPECT_EQ(text,
              QStringLiteral("Attachment 1: minutes.rtf\n\nAnn\n\nFrom:\tAnn <ann@example.org>\n"
                             "Subject:\tMinutes\n\nBefore\nbroken here\nleft\nright\nAfter\n"))
        << text.toStdString();

    // A PDF file gives its own words; a picture only what stands above it.
    LoadOptions asPdf;
    asPdf.format = SourceFormat::Pdf;
    asPdf.caption = QStringLiteral("Attachment 2: report.pdf");
    const QString pdfText = load(pdfWithText(QStringLiteral("golf hotel india")), asPdf).text();
    EXPECT_TRUE(pdfText.startsWith(QStringLiteral("Attachment 2: report.pdf\n")))
        << pdfText.toStdString();
    EXPECT_TRUE(pdfText.contains(QStringLiteral("golf hotel india"))) << pdfText.toStdString();
    LoadOptions asPicture;
    asPicture.format = SourceFormat::Picture;
    EXPECT_TRUE(load(picture({50, 50}, Qt::green), asPicture).text().isEmpty());
}

}  // namespace
