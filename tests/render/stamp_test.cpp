// The stamp band of a legal production (PagedDocument::setStamp): a band
// added below every page, the legend on the left and the Bates number on the
// right, in JPEG pages (decoded again), PDF pages (read back by Poppler and
// pdfinfo) and TIFF pages (read back by libtiff); the page's own pixels are
// the same as without it.
#include "engine/page_file.h"
#include "engine/paged_document.h"
#include "page_documents.h"

#include <poppler-qt6.h>
#include <tiffio.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using render::engine::kStampBandTwips;
using render::engine::LoadOptions;
using render::engine::PagedDocument;
using render::engine::PageStamp;
using render::engine::PdfFile;
using render::engine::SourceFormat;
using render::engine::TiffColour;
using render::engine::TiffFile;

using render_test::letterRtf;
using render_test::load;
using render_test::picture;
using render_test::span;

const QString kLegend = QStringLiteral("CONFIDENTIAL");
const QString kNumber = QStringLiteral("ABC-000123");

bool isDark(QRgb p) {
    return qGray(p) < 128;
}

// The dark pixels of `image` inside `area` (the image's own rows/columns).
int darkPixels(const QImage& image, const QRect& area) {
    int count = 0;
    const QRect within = area.intersected(image.rect());
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            count += isDark(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

// The smallest rectangle holding the dark pixels of `area`; null when none.
QRect inkBox(const QImage& image, const QRect& area) {
    QRect box;
    const QRect within = area.intersected(image.rect());
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x) {
            if (isDark(image.pixel(x, y))) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

// Whether the rows [0, rows) of `a` and `b`, both of the same width, hold
// the same pixels.
bool sameRows(const QImage& a, const QImage& b, int rows) {
    if (a.width() != b.width() || a.height() < rows || b.height() < rows) {
        return false;
    }
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < rows; ++row) {
        if (std::memcmp(x.constScanLine(row), y.constScanLine(row),
                        static_cast<std::size_t>(x.width()) * 4) != 0) {
            return false;
        }
    }
    return true;
}

int bandPixels(int dpi) {
    return kStampBandTwips * dpi / 1440;
}

class StampedPages : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(StampedPages, AJpegPageIsTallerByTheBandAndItsPaperDecodesToThePixelsWithoutIt) {
    PagedDocument doc = load(letterRtf(5));
    for (const int dpi : {96, 300}) {
        const QString plainFile = path(QStringLiteral("plain-%1.jpg").arg(dpi));
        const QString stampedFile = path(QStringLiteral("stamped-%1.jpg").arg(dpi));
        doc.setStamp({});
        doc.savePageAsJpeg(0, plainFile, 80, dpi);
        doc.setStamp({kLegend, kNumber});
        doc.savePageAsJpeg(0, stampedFile, 80, dpi);
        const QImage plain(plainFile);
        const QImage stamped(stampedFile);
        ASSERT_FALSE(plain.isNull());
        ASSERT_FALSE(stamped.isNull());
        const int paperHeight = 11 * dpi;
        EXPECT_EQ(plain.size(), QSize(17 * dpi / 2, paperHeight));
        EXPECT_EQ(stamped.size(), QSize(17 * dpi / 2, paperHeight + bandPixels(dpi)));
        EXPECT_EQ(bandPixels(300), 150);
        EXPECT_EQ(stamped.dotsPerMeterY(), plain.dotsPerMeterY());
        EXPECT_TRUE(sameRows(plain, stamped, paperHeight))
            << "the page's own content moved or changed at " << dpi << " dpi";
        // The band: the legend at its left end, the number at its right end,
        // nothing between them nor outside the half-inch insets.
        const int inset = dpi / 2;
        const int width = stamped.width();
        const QRect band(0, paperHeight, width, bandPixels(dpi));
        EXPECT_GT(darkPixels(stamped, QRect(inset, band.top(), width / 4, band.height())), 20);
        EXPECT_GT(darkPixels(stamped, QRect(width - inset - width / 4, band.top(), width / 4,
                                            band.height())),
                  20);
        EXPECT_EQ(darkPixels(stamped, QRect(width / 3, band.top(), width / 3, band.height())), 0);
        EXPECT_EQ(darkPixels(stamped, QRect(0, band.top(), inset - 2, band.height())), 0);
        EXPECT_EQ(darkPixels(stamped, QRect(width - inset + 2, band.top(), inset, band.height())),
                  0);
    }
}

TEST_F(StampedPages, TheTextsStandHalfAnInchInFromTheEdgesVerticallyCentredAtTenPoints) {
    PagedDocument doc = load(letterRtf(3));
    const QImage plain = doc.renderPage(0, 300);
    doc.setStamp({kLegend, kNumber});
    const QImage page = doc.renderPage(0, 300);
    ASSERT_EQ(page.size(), QSize(2550, 3450));
    EXPECT_TRUE(sameRows(plain, page, 3300));
    const QRect band(0, 3300, 2550, 150);
    const QRect legend = inkBox(page, QRect(0, band.top(), 1275, band.height()));
    const QRect number = inkBox(page, QRect(1275, band.top(), 1275, band.height()));
    ASSERT_FALSE(legend.isNull());
    ASSERT_FALSE(number.isNull());
    // Left-aligned at 150 pixels and right-aligned at 2400 (a glyph's side
    // bearing away).
    EXPECT_NEAR(legend.left(), 150, 8);
    EXPECT_NEAR(number.right(), 2400, 8);
    // Capitals of 10 pt at 300 dpi: about 30 pixels high, centred in the band.
    EXPECT_NEAR(legend.height(), 30, 5);
    EXPECT_NEAR(number.height(), 30, 5);
    EXPECT_NEAR(legend.center().y(), band.center().y(), 8);
    EXPECT_NEAR(number.center().y(), band.center().y(), 8);
    // Black, on white.
    EXPECT_EQ(page.pixelColor(10, band.top() + 10), QColor(Qt::white));
    int black = 0;
    for (int x = number.left(); x <= number.right(); ++x) {
        for (int y = number.top(); y <= number.bottom(); ++y) {
            const QColor c = page.pixelColor(x, y);
            black += c.red() == 0 && c.green() == 0 && c.blue() == 0 ? 1 : 0;
        }
    }
    EXPECT_GT(black, 100);
}

TEST_F(StampedPages, TheNumberKeepsItsRoomAndALongLegendIsElidedBeforeIt) {
    PagedDocument doc = load(letterRtf(1));
    QString longLegend;
    for (int i = 0; i < 40; ++i) {
        longLegend += QStringLiteral("CONFIDENTIAL SUBJECT TO PROTECTIVE ORDER ");
    }
    doc.setStamp({QString(), kNumber});
    const QImage numberOnly = doc.renderPage(0, 96);
    doc.setStamp({longLegend, kNumber});
    const QImage both = doc.renderPage(0, 96);
    const QRect band(0, 1056, 816, 48);
    const QRect number = inkBox(numberOnly, band);
    ASSERT_FALSE(number.isNull());
    // The number is drawn whole, where it is alone.
    EXPECT_EQ(both.copy(number), numberOnly.copy(number));
    // The legend runs from the left inset and ends, elided, short of it.
    const QRect legend = inkBox(both, QRect(0, band.top(), number.left() - 1, band.height()));
    ASSERT_FALSE(legend.isNull());
    EXPECT_NEAR(legend.left(), 48, 4);
    EXPECT_LT(legend.right(), number.left() - 12) << "the texts run into each other";
    EXPECT_GT(legend.right(), number.left() - 48) << "the legend is cut short of its room";

    // A number too long for the band alone is elided, at its start, within
    // the insets.
    QString longNumber;
    for (int i = 0; i < 60; ++i) {
        longNumber += QStringLiteral("ABC%1").arg(i, 4, 10, QLatin1Char('0'));
    }
    doc.setStamp({kLegend, longNumber});
    const QImage tooLong = doc.renderPage(0, 96);
    const QRect ink = inkBox(tooLong, band);
    ASSERT_FALSE(ink.isNull());
    EXPECT_GE(ink.left(), 44);
    EXPECT_LE(ink.right(), 816 - 44);
    EXPECT_GT(ink.width(), 816 - 96 - 30) << "the number takes the whole line";
    // Its last digits stay: the end of the line is the end of the number.
    doc.setStamp({QString(), QStringLiteral("ABC0059")});
    const QImage tail = doc.renderPage(0, 96);
    const QRect tailInk = inkBox(tail, band);
    ASSERT_FALSE(tailInk.isNull());
    // (Short of its first column, where the digit before may touch it.)
    const QRect tailCheck = tailInk.adjusted(3, 0, 0, 0);
    EXPECT_EQ(tooLong.copy(tailCheck), tail.copy(tailCheck));
}

TEST_F(StampedPages, ATextIsOneLineAndTheLayoutPageCountAndWordsDoNotChange) {
    PagedDocument doc = load(letterRtf(80));
    const int pages = doc.pageCount();
    const QString words = doc.text();
    const QSize paper = doc.pagePixelSize(300);
    EXPECT_EQ(doc.pageHeightTwips(), 15840);
    doc.setStamp({QStringLiteral("line one\nline two\ttab"), QStringLiteral("ABC\r\n0001")});
    EXPECT_EQ(doc.stamp().left, QStringLiteral("line one line two tab"));
    EXPECT_EQ(doc.stamp().right, QStringLiteral("ABC  0001"));
    EXPECT_EQ(doc.pageCount(), pages);
    EXPECT_EQ(doc.text(), words);
    EXPECT_EQ(doc.pageHeightTwips(), 15840 + 720);
    EXPECT_EQ(doc.pagePixelSize(300), paper + QSize(0, 150));
    const QImage page = doc.renderPage(pages - 1, 300);
    EXPECT_EQ(page.size(), doc.pagePixelSize(300));
    // One line of ink, centred in the band.
    const QRect ink = inkBox(page, QRect(0, 3300, 2550, 150));
    ASSERT_FALSE(ink.isNull());
    EXPECT_LT(ink.height(), 45);
    doc.setStamp({});
    EXPECT_EQ(doc.renderPage(pages - 1, 300).size(), paper);
}

TEST_F(StampedPages, PicturePagesGetTheBandBelowTheirPaperToo) {
    LoadOptions asPicture;
    asPicture.format = SourceFormat::Picture;
    asPicture.caption = QStringLiteral("red.png");
    PagedDocument doc = load(picture({400, 300}, Qt::red), asPicture);
    const QImage plain = doc.renderPage(0, 150);
    doc.setStamp({kLegend, kNumber});
    const QImage stamped = doc.renderPage(0, 150);
    EXPECT_EQ(stamped.size(), plain.size() + QSize(0, 75));
    EXPECT_TRUE(sameRows(plain, stamped, plain.height()));
    EXPECT_GT(darkPixels(stamped, QRect(0, plain.height(), plain.width(), 75)), 50);
}

// pdfinfo's MediaBox of each page of `file` (Debian: poppler-utils), as
// "x0 y0 x1 y1".
QStringList mediaBoxes(const QString& file) {
    QProcess process;
    process.start(QStringLiteral("pdfinfo"),
                  {QStringLiteral("-box"), QStringLiteral("-f"), QStringLiteral("1"),
                   QStringLiteral("-l"), QStringLiteral("99"), file});
    if (!process.waitForFinished(60000)) {
        return {};
    }
    QStringList boxes;
    const QRegularExpression line(QStringLiteral("^Page +\\d+ MediaBox: +(.*)$"),
                                  QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromUtf8(process.readAllStandardOutput()));
    while (it.hasNext()) {
        boxes << it.next().captured(1).simplified();
    }
    return boxes;
}

TEST_F(StampedPages, APdfPageIs36PointsTallerItsContentWhereItWasAndEachPageItsOwnNumber) {
    LoadOptions noLigatures;
    noLigatures.ligatures = false;
    PagedDocument doc = load(letterRtf(90), noLigatures);
    ASSERT_GE(doc.pageCount(), 2);
    const QString file = path(QStringLiteral("p.pdf"));
    {
        PdfFile pdf(file, {}, 150);
        pdf.add(doc, 0);
        doc.setStamp({QStringLiteral("Confidential"), QStringLiteral("ABC-0001")});
        pdf.add(doc, 0);
        doc.setStamp({QStringLiteral("Confidential"), QStringLiteral("ABC-0002")});
        pdf.add(doc, 1);
        pdf.finish();
    }
    const QStringList boxes = mediaBoxes(file);
    ASSERT_EQ(boxes.size(), 3) << "pdfinfo (Debian: poppler-utils) is needed";
    EXPECT_EQ(boxes[0], QStringLiteral("0.00 0.00 612.00 792.00"));
    EXPECT_EQ(boxes[1], QStringLiteral("0.00 0.00 612.00 828.00"));
    EXPECT_EQ(boxes[2], QStringLiteral("0.00 0.00 612.00 828.00"));

    const auto read = Poppler::Document::load(file);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->numPages(), 3);
    const auto page = [&](int i) { return std::unique_ptr<Poppler::Page>(read->page(i)); };
    // The band's texts are text, every letter kept.
    const QString first = page(1)->text(QRectF());
    EXPECT_TRUE(first.contains(QStringLiteral("Confidential"))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("ABC-0001"))) << first.toStdString();
    EXPECT_TRUE(page(2)->text(QRectF()).contains(QStringLiteral("ABC-0002")));
    EXPECT_FALSE(page(0)->text(QRectF()).contains(QStringLiteral("ABC-")));
    // In the band, below the paper: the number's box is in the last 36 points.
    bool found = false;
    for (const auto& box : page(1)->textList()) {
        if (box->text() == QStringLiteral("ABC-0001")) {
            found = true;
            EXPECT_GT(box->boundingBox().top(), 792);
            EXPECT_LT(box->boundingBox().bottom(), 828);
            EXPECT_GT(box->boundingBox().right(), 612 - 36 - 60);
            EXPECT_LT(box->boundingBox().right(), 612 - 36 + 1);
        }
    }
    EXPECT_TRUE(found) << "the number is not one word of the page's text";
    // The page's own words stand where they stand without the stamp.
    const auto words = [](const std::unique_ptr<Poppler::Page>& p) {
        QStringList placed;
        for (const auto& box : p->textList()) {
            if (box->boundingBox().top() < 792) {
                const QRectF r = box->boundingBox();
                placed << QStringLiteral("%1@%2,%3")
                              .arg(box->text())
                              .arg(r.left(), 0, 'f', 2)
                              .arg(r.top(), 0, 'f', 2);
            }
        }
        return placed;
    };
    EXPECT_FALSE(words(page(0)).isEmpty());
    EXPECT_EQ(words(page(0)), words(page(1)));
    // The two bands differ, and only in the number.
    const QImage a = page(1)->renderToImage(96, 96);
    const QImage b = page(2)->renderToImage(96, 96);
    ASSERT_EQ(a.size(), QSize(816, 1104));
    const QRect band(0, 1056, 816, 48);
    EXPECT_NE(a.copy(band), b.copy(band));
    EXPECT_EQ(a.copy(QRect(0, 1056, 408, 48)), b.copy(QRect(0, 1056, 408, 48)));
    EXPECT_GT(darkPixels(a, band), 20);
}

using render_test::readTiff;
using render_test::TiffPage;

TEST_F(StampedPages, ABilevelTiffPageStaysGroup4WithItsBandAndEachPageHasItsOwnNumber) {
    PagedDocument doc = load(letterRtf(5));
    const QString file = path(QStringLiteral("p.tif"));
    {
        TiffFile tiff(file, TiffColour::Auto, 80);
        tiff.add(doc, 0, 200);
        doc.setStamp({kLegend, QStringLiteral("ABC-0001")});
        tiff.add(doc, 0, 200);
        doc.setStamp({kLegend, QStringLiteral("ABC-0002")});
        tiff.add(doc, 0, 200);
        tiff.finish();
    }
    const std::vector<TiffPage> pages = readTiff(file);
    ASSERT_EQ(pages.size(), 3u);
    for (const TiffPage& page : pages) {
        EXPECT_EQ(page.compression, COMPRESSION_CCITTFAX4);
        EXPECT_EQ(page.bits, 1);
        EXPECT_EQ(page.width, 1700u);
        ASSERT_FALSE(page.rgba.empty()) << "libtiff cannot decode the page";
    }
    EXPECT_EQ(pages[0].height, 2200u);
    EXPECT_EQ(pages[1].height, 2300u);
    EXPECT_EQ(pages[2].height, 2300u);
    int paperDiffering = 0;
    int bandInk = 0;
    int bandDiffering = 0;
    int numberDiffering = 0;
    for (std::uint32_t y = 0; y < 2300; ++y) {
        for (std::uint32_t x = 0; x < 1700; ++x) {
            if (y < 2200) {
                paperDiffering += pages[0].ink(x, y) != pages[1].ink(x, y) ? 1 : 0;
                continue;
            }
            bandInk += pages[1].ink(x, y) ? 1 : 0;
            const bool differs = pages[1].ink(x, y) != pages[2].ink(x, y);
            bandDiffering += differs ? 1 : 0;
            numberDiffering += differs && x > 1700 / 2 ? 1 : 0;
        }
    }
    EXPECT_EQ(paperDiffering, 0);
    EXPECT_GT(bandInk, 200);
    EXPECT_GT(bandDiffering, 10) << "the second number is not drawn";
    EXPECT_EQ(bandDiffering, numberDiffering) << "the legend changed with the number";
}

}  // namespace
