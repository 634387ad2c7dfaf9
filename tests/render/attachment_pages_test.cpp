// Attachments as pages: picture files, PDF files, placeholder pages, the
// caption band and monospace text. Every picture and PDF here is a real file,
// written by Qt, by hand (a multi-page TIFF, EXIF orientation, a PNG header
// alone, a PDF of 100,000 pages) or by qpdf (a password-protected PDF), and
// is decoded back through the engine; the pages that come out are measured.
// Runs in render_engine_test (its QApplication, its font configuration).
#include "engine/paged_document.h"
#include "engine/render_limits.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGlyphRun>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>

#include <made_files.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace {

using made_files::manyPagesPdf;
using made_files::pngClaiming;
using made_files::put32be;

using render::engine::LoadOptions;
using render::engine::PagedDocument;
using render::engine::SourceFormat;

// Letter at 96 dpi, with the margins of HTML and text: 1.25 in left and
// right, 1 in top and bottom.
constexpr int kPaperWidth = 816;
constexpr int kPaperHeight = 1056;
constexpr int kLeft = 120;
constexpr int kTop = 96;
constexpr int kAreaWidth = 576;
constexpr int kAreaHeight = 864;

std::span<const std::uint8_t> spanOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

PagedDocument loadAs(SourceFormat format, const QByteArray& bytes, LoadOptions options = {}) {
    options.format = format;
    return PagedDocument::load(spanOf(bytes), {}, options);
}

QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0) {
        writer.setQuality(quality);
    }
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

// A picture whose left half is black and right half red.
QImage halves(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, size.width() / 2, size.height()), Qt::black);
    return image;
}

QImage filled(QSize size, const QColor& colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool isInk(QRgb p) {
    return qGray(p) < 235;
}
bool isDark(QRgb p) {
    return qGray(p) < 100 && qRed(p) < 100;
}
bool isRed(QRgb p) {
    return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90;
}

// The bounding box of the pixels that pass `test` within `area`.
QRect boxOf(const QImage& image, bool (*test)(QRgb), QRect area = {}) {
    if (area.isNull()) {
        area = image.rect();
    }
    int left = area.right() + 1, top = area.bottom() + 1, right = area.left() - 1,
        bottom = area.top() - 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            if (test(line[x])) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < left ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

void expectNear(QRect actual, QRect expected, int slack = 2) {
    EXPECT_NEAR(actual.left(), expected.left(), slack) << "left";
    EXPECT_NEAR(actual.top(), expected.top(), slack) << "top";
    EXPECT_NEAR(actual.width(), expected.width(), slack) << "width";
    EXPECT_NEAR(actual.height(), expected.height(), slack) << "height";
}

// A rectangle of the text area's width centred, at `top`, in pixels at 96 dpi.
QRect centred(int width, int height, int top = kTop) {
    return {kLeft + (kAreaWidth - width) / 2, top, width, height};
}

QRect scaled(QRect r, int dpi) {
    const double f = dpi / 96.0;
    return {static_cast<int>(r.left() * f), static_cast<int>(r.top() * f),
            static_cast<int>(r.width() * f), static_cast<int>(r.height() * f)};
}

bool anyWarningHas(const PagedDocument& doc, const std::string& text) {
    for (const std::string& w : doc.warnings()) {
        if (w.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// --- files written by hand -------------------------------------------------

void put16(QByteArray& b, unsigned v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>((v >> 8) & 0xFF));
}
void put32(QByteArray& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A JPEG with an EXIF block whose only tag is the orientation (1..8), put
// after the start-of-image marker.
QByteArray withExifOrientation(const QByteArray& jpeg, unsigned orientation) {
    QByteArray tiff("II*\0", 4);
    put32(tiff, 8);  // the first directory
    put16(tiff, 1);  // one entry
    put16(tiff, 0x0112);
    put16(tiff, 3);  // SHORT
    put32(tiff, 1);
    put16(tiff, orientation);
    put16(tiff, 0);
    put32(tiff, 0);  // no next directory
    QByteArray app1("Exif\0\0", 6);
    app1 += tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(static_cast<char>(((app1.size() + 2) >> 8) & 0xFF));
    segment.append(static_cast<char>((app1.size() + 2) & 0xFF));
    segment += app1;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

// An uncompressed multi-page TIFF, one page for each image (8-bit RGB, one
// strip); `brokenPage` (if any) points its strip past the end of the file.
QByteArray multiPageTiff(const std::vector<QImage>& pages, int brokenPage = -1) {
    QByteArray file("II*\0", 4);
    put32(file, 0);  // patched: the first directory
    std::uint32_t previousNextField = 4;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const QImage image = pages[p].convertToFormat(QImage::Format_RGB888);
        const auto w = static_cast<std::uint32_t>(image.width());
        const auto h = static_cast<std::uint32_t>(image.height());
        const auto stripOffset = static_cast<std::uint32_t>(file.size());
        for (int y = 0; y < image.height(); ++y) {
            file.append(reinterpret_cast<const char*>(image.constScanLine(y)),
                        static_cast<qsizetype>(w * 3));
        }
        const auto bitsOffset = static_cast<std::uint32_t>(file.size());
        put16(file, 8);
        put16(file, 8);
        put16(file, 8);
        if (file.size() % 2 != 0) {
            file.append('\0');
        }
        const auto directory = static_cast<std::uint32_t>(file.size());
        // Patch the previous "next directory" field.
        for (int i = 0; i < 4; ++i) {
            file[previousNextField + static_cast<std::uint32_t>(i)] =
                static_cast<char>((directory >> (8 * i)) & 0xFF);
        }
        struct Entry {
            unsigned tag, type;
            std::uint32_t count, value;
        };
        const std::uint32_t strip = static_cast<int>(p) == brokenPage ? 0x7FFFFFF0u : stripOffset;
        const std::array<Entry, 10> entries{{{256, 4, 1, w},
                                             {257, 4, 1, h},
                                             {258, 3, 3, bitsOffset},
                                             {259, 3, 1, 1},
                                             {262, 3, 1, 2},
                                             {273, 4, 1, strip},
                                             {277, 3, 1, 3},
                                             {278, 4, 1, h},
                                             {279, 4, 1, w * h * 3},
                                             {284, 3, 1, 1}}};
        put16(file, entries.size());
        for (const Entry& e : entries) {
            put16(file, e.tag);
            put16(file, e.type);
            put32(file, e.count);
            if (e.type == 3 && e.count == 1) {
                put16(file, e.value);
                put16(file, 0);
            } else {
                put32(file, e.value);
            }
        }
        previousNextField = static_cast<std::uint32_t>(file.size());
        put32(file, 0);
    }
    return file;
}

// An animated GIF of two 1 x 1 frames, black then white.
QByteArray twoFrameGif() {
    QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
    gif += QByteArray("\x00\x00\x00\xFF\xFF\xFF", 6);
    for (const char* frame : {"\x02\x02\x44\x01\x00", "\x02\x02\x4C\x01\x00"}) {
        gif += QByteArray("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);
        gif += QByteArray("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
        gif += QByteArray(frame, 5);
    }
    gif += ';';
    return gif;
}

// A PDF whose pages are drawn by `draw` (page index, page rectangle in
// device units), each of `sizes` (points).
QByteArray pdfOf(const std::vector<QSizeF>& sizes,
                 const std::function<void(QPainter&, int, QRectF)>& draw) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(sizes.front(), QPageSize::Point));
    QPainter painter(&writer);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (i > 0) {
            writer.setPageSize(QPageSize(sizes[i], QPageSize::Point));
            writer.newPage();
        }
        draw(painter, static_cast<int>(i), QRectF(QPointF(0, 0), sizes[i]));
    }
    painter.end();
    return bytes;
}

// A black page with a white left half... of `count` Letter pages: page i
// shows i + 1 black bars from the left edge, each a tenth of the width.
QByteArray barsPdf(int count) {
    return pdfOf(std::vector<QSizeF>(static_cast<std::size_t>(count), QSizeF(612, 792)),
                 [](QPainter& p, int i, QRectF page) {
                     for (int b = 0; b <= i; ++b) {
                         p.fillRect(
                             QRectF(page.width() / 10 * 2 * b, 0, page.width() / 10, page.height()),
                             Qt::black);
                     }
                 });
}

// ---------------------------------------------------------------------------

TEST(PicturePages, EveryFormatIsOnePageAtItsOwnSizeCentredAtTheTop) {
    const QImage picture = filled(QSize(200, 100), Qt::red);
    // (Qt writes no GIF: AnimatedGifShowsItsFirstFrameOnly reads one.)
    for (const char* format : {"png", "jpeg", "bmp", "webp", "tiff"}) {
        SCOPED_TRACE(format);
        const auto doc = loadAs(SourceFormat::Picture, encoded(picture, format, 95));
        ASSERT_EQ(doc.pageCount(), 1);
        EXPECT_FALSE(doc.placeholderReason()) << *doc.placeholderReason();
        EXPECT_TRUE(doc.warnings().empty());
        const QImage page = doc.renderPage(0);
        EXPECT_EQ(page.size(), QSize(kPaperWidth, kPaperHeight));
        expectNear(boxOf(page, isRed), centred(200, 100));
        // Drawn at the resolution asked, at the same place on the paper.
        const QImage fine = doc.renderPage(0, 300);
        EXPECT_EQ(fine.size(), QSize(2550, 3300));
        expectNear(boxOf(fine, isRed), scaled(centred(200, 100), 300), 4);
    }
}

TEST(PicturePages, LargePicturesAreFittedToTheTextAreaSmallOnesNeverEnlarged) {
    const auto wide = loadAs(SourceFormat::Picture, encoded(filled({2000, 1000}, Qt::red), "png"));
    expectNear(boxOf(wide.renderPage(0), isRed), centred(kAreaWidth, kAreaWidth / 2));
    const auto tall = loadAs(SourceFormat::Picture, encoded(filled({500, 3000}, Qt::red), "png"));
    expectNear(boxOf(tall.renderPage(0), isRed), centred(kAreaHeight / 6, kAreaHeight));
    const auto tiny = loadAs(SourceFormat::Picture, encoded(filled({3, 2}, Qt::red), "png"));
    expectNear(boxOf(tiny.renderPage(0), isRed), centred(3, 2), 1);
    // At 300 dpi a small picture is still its own size on paper.
    expectNear(boxOf(tiny.renderPage(0, 300), isRed), scaled(centred(3, 2), 300), 2);
}

TEST(PicturePages, RecordedResolutionSetsTheSizeOnPaperImplausibleOnesCountAs96Dpi) {
    QImage picture = filled({600, 300}, Qt::red);
    picture.setDotsPerMeterX(11811);  // 300 dpi: 2 x 1 inches
    picture.setDotsPerMeterY(11811);
    for (const char* format : {"png", "jpeg", "tiff"}) {
        SCOPED_TRACE(format);
        const auto doc = loadAs(SourceFormat::Picture, encoded(picture, format, 95));
        expectNear(boxOf(doc.renderPage(0), isRed), centred(192, 96));
        expectNear(boxOf(doc.renderPage(0, 300), isRed), scaled(centred(192, 96), 300), 4);
    }
    // A fax: 204 x 98 dpi, so twice as tall on paper as its pixels say.
    QImage fax = filled({408, 98}, Qt::red);
    fax.setDotsPerMeterX(8031);
    fax.setDotsPerMeterY(3858);
    const auto faxDoc = loadAs(SourceFormat::Picture, encoded(fax, "tiff"));
    expectNear(boxOf(faxDoc.renderPage(0), isRed), centred(192, 96));
    // 1 dpi would make it 600 inches wide: taken for no resolution.
    QImage odd = filled({200, 100}, Qt::red);
    odd.setDotsPerMeterX(39);
    odd.setDotsPerMeterY(39);
    const auto oddDoc = loadAs(SourceFormat::Picture, encoded(odd, "png"));
    expectNear(boxOf(oddDoc.renderPage(0), isRed), centred(200, 100));
}

TEST(PicturePages, ExifOrientationIsApplied) {
    // Stored with its left half black; orientation 6 turns it a quarter
    // clockwise, so the black half is on top and the picture is tall.
    const QByteArray jpeg = withExifOrientation(encoded(halves({200, 100}), "jpeg", 95), 6);
    const auto doc = loadAs(SourceFormat::Picture, jpeg);
    for (const int dpi : {96, 300}) {
        SCOPED_TRACE(dpi);
        const QImage page = doc.renderPage(0, dpi);
        const QRect picture = boxOf(page, isInk);
        expectNear(picture, scaled(centred(100, 200), dpi), 4);
        const QRect dark = boxOf(page, isDark);
        expectNear(dark,
                   QRect(picture.left(), picture.top(), picture.width(), picture.height() / 2), 4);
        expectNear(boxOf(page, isRed),
                   QRect(picture.left(), picture.top() + picture.height() / 2, picture.width(),
                         picture.height() / 2),
                   4);
    }
}

TEST(PicturePages, EveryFrameOfATiffIsAPageAFrameThatFailsSaysSo) {
    const QByteArray tiff = multiPageTiff(
        {filled({300, 100}, Qt::red), filled({100, 300}, Qt::black), filled({50, 50}, Qt::red)}, 1);
    const auto doc = loadAs(SourceFormat::Picture, tiff);
    ASSERT_EQ(doc.pageCount(), 3);
    EXPECT_FALSE(doc.placeholderReason());
    expectNear(boxOf(doc.renderPage(0), isRed), centred(300, 100));
    expectNear(boxOf(doc.renderPage(2), isRed), centred(50, 50));
    // The second frame's strip lies beyond the file: a warning, and its page
    // says so in text instead of a picture.
    ASSERT_EQ(doc.warnings().size(), 1u);
    EXPECT_NE(doc.warnings()[0].find("page 2 of the picture is not shown"), std::string::npos)
        << doc.warnings()[0];
    const QImage broken = doc.renderPage(1);
    const QRect text = boxOf(broken, isInk);
    EXPECT_FALSE(text.isEmpty());
    EXPECT_LT(text.height(), 100);
    EXPECT_GE(text.top(), kTop);
}

TEST(PicturePages, ATiffOfMoreFramesThanTheCapIsCutAndReadQuickly) {
    std::vector<QImage> frames;
    for (int i = 0; i < render::engine::kMaxPages + 100; ++i) {
        frames.push_back(filled({4, 2}, i % 2 == 0 ? Qt::red : Qt::black));
    }
    QElapsedTimer timer;
    timer.start();
    const auto doc = loadAs(SourceFormat::Picture, multiPageTiff(frames));
    EXPECT_EQ(doc.pageCount(), render::engine::kMaxPages);
    EXPECT_EQ(doc.laidOutPageCount(), render::engine::kMaxPages + 100);
    // In order at 300 dpi (each frame decoded again), then back to the
    // first and a jump to the last.
    for (int i = 0; i < 20; ++i) {
        const QImage page = doc.renderPage(i, 300);
        EXPECT_FALSE(boxOf(page, i % 2 == 0 ? isRed : isDark).isEmpty()) << i;
    }
    EXPECT_FALSE(boxOf(doc.renderPage(0, 300), isRed).isEmpty());
    const QImage last = doc.renderPage(render::engine::kMaxPages - 1, 300);
    EXPECT_FALSE(boxOf(last, isDark, QRect(0, 0, 2550, 1000)).isEmpty());
    EXPECT_TRUE(doc.warnings().empty());
    // Frame after frame: no walk of the whole file's chain for each (that
    // takes minutes; the bound leaves room for a sanitizer on a busy machine).
    EXPECT_LT(timer.elapsed(), 30000);
}

TEST(PicturePages, AnimatedGifShowsItsFirstFrameOnly) {
    const auto doc = loadAs(SourceFormat::Picture, twoFrameGif());
    ASSERT_EQ(doc.pageCount(), 1);
    const QImage page = doc.renderPage(0);
    EXPECT_TRUE(isDark(page.pixel(kLeft + kAreaWidth / 2, kTop)));
}

TEST(PicturePages, APictureClaimingTooManyPixelsIsNeverDecoded) {
    QElapsedTimer timer;
    timer.start();
    const auto doc = loadAs(SourceFormat::Picture, pngClaiming(30000, 30000));
    EXPECT_LT(timer.elapsed(), 2000);
    ASSERT_EQ(doc.pageCount(), 1);
    ASSERT_TRUE(doc.placeholderReason());
    EXPECT_NE(doc.placeholderReason()->find("30000 x 30000 pixels (900.0 megapixels)"),
              std::string::npos)
        << *doc.placeholderReason();
    EXPECT_TRUE(anyWarningHas(doc, *doc.placeholderReason()));
    // The placeholder page says so in the header block's form.
    EXPECT_TRUE(doc.document().toPlainText().startsWith(QStringLiteral("Picture not shown\n")));
    EXPECT_TRUE(doc.document().toPlainText().contains(QStringLiteral("900.0 megapixels")));
    EXPECT_FALSE(boxOf(doc.renderPage(0), isInk).isEmpty());
}

TEST(PicturePages, AFiftyMegapixelPhotoIsShown) {
    QImage photo = halves({8660, 5774});
    const QByteArray jpeg = encoded(photo, "jpeg", 50);
    photo = QImage();
    const auto doc = loadAs(SourceFormat::Picture, jpeg);
    EXPECT_FALSE(doc.placeholderReason());
    const QImage page = doc.renderPage(0);
    const int height = static_cast<int>(kAreaWidth * 5774.0 / 8660.0);
    expectNear(boxOf(page, isInk), centred(kAreaWidth, height));
    expectNear(boxOf(doc.renderPage(0, 300), isInk), scaled(centred(kAreaWidth, height), 300), 4);
}

TEST(PicturePages, BytesThatAreNoPictureShownBecomeAPlaceholder) {
    const QByteArray icon = encoded(filled({16, 16}, Qt::red), "ico");
    for (const QByteArray& bytes : {QByteArray("not a picture at all"), QByteArray(), icon,
                                    encoded(filled({50, 50}, Qt::red), "png").left(60)}) {
        const auto doc = loadAs(SourceFormat::Picture, bytes);
        ASSERT_EQ(doc.pageCount(), 1);
        ASSERT_TRUE(doc.placeholderReason());
        EXPECT_FALSE(doc.placeholderReason()->empty());
        EXPECT_TRUE(anyWarningHas(doc, *doc.placeholderReason()));
    }
    EXPECT_NE(loadAs(SourceFormat::Picture, icon).placeholderReason()->find("not a picture"),
              std::string::npos);
}

TEST(PicturePages, ACaptionStandsAboveThePictureOnTheFirstPageOnly) {
    LoadOptions options;
    options.caption = QStringLiteral("scan.tif \u2014 TIFF picture, 2 pages, 41 KB");
    const auto doc =
        loadAs(SourceFormat::Picture,
               multiPageTiff({filled({100, 50}, Qt::red), filled({100, 50}, Qt::red)}), options);
    ASSERT_EQ(doc.pageCount(), 2);
    const QImage first = doc.renderPage(0);
    const QRect caption = boxOf(first, isInk, QRect(0, 0, kPaperWidth, kTop + 30));
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_GE(caption.top(), kTop);
    const QRect picture = boxOf(first, isRed);
    EXPECT_GT(picture.top(), caption.bottom());
    EXPECT_LT(picture.top(), kTop + 40);
    expectNear(boxOf(doc.renderPage(1), isRed), centred(100, 50));
    EXPECT_EQ(doc.document().begin().text(), options.caption);
}

// ---------------------------------------------------------------------------

TEST(PdfPages, EveryPageIsFittedToTheTextAreaAtTheResolutionAsked) {
    const auto doc = loadAs(SourceFormat::Pdf, barsPdf(3));
    ASSERT_EQ(doc.pageCount(), 3);
    EXPECT_FALSE(doc.placeholderReason());
    EXPECT_TRUE(doc.warnings().empty());
    // Letter (816 x 1056 at 96 dpi) fitted to 576 x 864: 576 x 745.
    const QRect area = centred(kAreaWidth, 745);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const QImage page = doc.renderPage(i);
        const QRect ink = boxOf(page, isDark);
        EXPECT_NEAR(ink.left(), area.left(), 2);
        EXPECT_NEAR(ink.top(), area.top(), 2);
        EXPECT_NEAR(ink.height(), area.height(), 2);
        // i + 1 bars, every other tenth of the width.
        EXPECT_NEAR(ink.width(), kAreaWidth / 10 * (2 * i + 1), 3);
    }
    const QImage fine = doc.renderPage(2, 300);
    EXPECT_EQ(fine.size(), QSize(2550, 3300));
    const QRect ink = boxOf(fine, isDark);
    EXPECT_NEAR(ink.height(), 745 * 300 / 96, 4);
    EXPECT_NEAR(ink.top(), kTop * 300 / 96, 3);
}

TEST(PdfPages, SmallPagesAreNotEnlargedLandscapePagesAreFittedByWidth) {
    const auto doc =
        loadAs(SourceFormat::Pdf,
               pdfOf({QSizeF(216, 144), QSizeF(792, 612)},
                     [](QPainter& p, int, QRectF page) { p.fillRect(page, Qt::black); }));
    ASSERT_EQ(doc.pageCount(), 2);
    expectNear(boxOf(doc.renderPage(0), isDark), centred(288, 192));
    expectNear(boxOf(doc.renderPage(1), isDark), centred(kAreaWidth, 445));
}

TEST(PdfPages, APasswordProtectedPdfIsAPlaceholderSayingSo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath(QStringLiteral("plain.pdf")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write(barsPdf(2));
    plain.close();
    const QString locked = dir.filePath(QStringLiteral("locked.pdf"));
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"),
               {QStringLiteral("--encrypt"), QStringLiteral("secret"), QStringLiteral("owner"),
                QStringLiteral("256"), QStringLiteral("--"), plain.fileName(), locked});
    ASSERT_TRUE(qpdf.waitForFinished(30000)) << "qpdf (package qpdf) is needed";
    ASSERT_EQ(qpdf.exitCode(), 0) << qpdf.readAllStandardError().toStdString();
    QFile file(locked);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto doc = loadAs(SourceFormat::Pdf, file.readAll());
    ASSERT_EQ(doc.pageCount(), 1);
    ASSERT_TRUE(doc.placeholderReason());
    EXPECT_EQ(*doc.placeholderReason(), "the PDF file is password-protected");
    EXPECT_TRUE(anyWarningHas(doc, "password-protected"));
    EXPECT_TRUE(doc.document().toPlainText().startsWith(QStringLiteral("PDF file not shown\n")));
}

TEST(PdfPages, BytesPopplerCannotOpenAreAPlaceholder) {
    for (const QByteArray& bytes :
         {QByteArray("%PDF-1.4\nnothing else"), QByteArray("hello"), QByteArray()}) {
        const auto doc = loadAs(SourceFormat::Pdf, bytes);
        ASSERT_EQ(doc.pageCount(), 1);
        ASSERT_TRUE(doc.placeholderReason());
        EXPECT_TRUE(anyWarningHas(doc, *doc.placeholderReason()));
    }
}

TEST(PdfPages, AHundredThousandPagesRenderTheCapsWorthQuickly) {
    QElapsedTimer timer;
    timer.start();
    const auto doc = loadAs(SourceFormat::Pdf, manyPagesPdf(100'000));
    EXPECT_EQ(doc.pageCount(), render::engine::kMaxPages);
    EXPECT_EQ(doc.laidOutPageCount(), 100'000);
    const QImage last = doc.renderPage(render::engine::kMaxPages - 1);
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_FALSE(boxOf(last, isDark).isEmpty());
    // The cut note at the foot of the last page rendered.
    EXPECT_FALSE(boxOf(last, isRed, QRect(0, kPaperHeight - kTop, kPaperWidth, kTop)).isEmpty());
    EXPECT_TRUE(boxOf(doc.renderPage(0), isRed, QRect(0, kPaperHeight - kTop, kPaperWidth, kTop))
                    .isEmpty());
}

// ---------------------------------------------------------------------------

TEST(PlaceholderPages, RowsAreDrawnAsTheHeaderBlockUnderTheCaption) {
    LoadOptions options;
    options.caption = QStringLiteral("setup.exe \u2014 program, 2.1 MB");
    const QByteArray rows = "Attachment not shown\r\nName\tsetup.exe\r\nReason\tA program.\r\n";
    const auto doc = loadAs(SourceFormat::Placeholder, rows, options);
    ASSERT_EQ(doc.pageCount(), 1);
    EXPECT_FALSE(doc.placeholderReason());
    const QTextDocument& text = doc.document();
    EXPECT_EQ(text.begin().text(), options.caption);
    EXPECT_EQ(text.findBlockByNumber(2).text(), QStringLiteral("Attachment not shown"));
    EXPECT_TRUE(text.findBlockByNumber(2).charFormat().font().bold() ||
                text.findBlockByNumber(2).begin().fragment().charFormat().fontWeight() >=
                    QFont::Bold);
    EXPECT_EQ(text.findBlockByNumber(4).text(), QStringLiteral("Name\tsetup.exe"));
    EXPECT_EQ(text.findBlockByNumber(5).text(), QStringLiteral("Reason\tA program."));
    EXPECT_FALSE(boxOf(doc.renderPage(0), isInk).isEmpty());
}

// ---------------------------------------------------------------------------

TEST(Caption, StandsAboveTheHeaderBlockAndTheBodyOfTextHtmlAndRtf) {
    LoadOptions options;
    options.caption = QStringLiteral("notes.txt \u2014 text, 1 KB");
    options.header = QStringLiteral("Message\nFrom\tA. Sender");
    const std::vector<std::pair<SourceFormat, QByteArray>> documents{
        {SourceFormat::Text, "The body."},
        {SourceFormat::Html, "<html><body><p>The body.</p></body></html>"},
        {SourceFormat::Rtf, "{\\rtf1\\ansi The body.\\par}"}};
    for (const auto& [format, bytes] : documents) {
        const auto doc = loadAs(format, bytes, options);
        const QTextDocument& text = doc.document();
        EXPECT_EQ(text.begin().text(), options.caption);
        EXPECT_EQ(text.findBlockByNumber(2).text(), QStringLiteral("Message"));
        EXPECT_TRUE(text.toPlainText().contains(QStringLiteral("The body.")));
        const QImage page = doc.renderPage(0);
        const QRect caption = boxOf(page, isInk, QRect(0, kTop, kPaperWidth, 16));
        EXPECT_FALSE(caption.isEmpty());
    }
}

TEST(Caption, IsOneLineElidedInTheMiddleAndWithoutLineBreaks) {
    LoadOptions options;
    const QString name = QStringLiteral("A very long attachment name ").repeated(10);
    options.caption = name + QStringLiteral("\nreport.pdf \u2014 PDF file, 3 pages, 1.2 MB");
    const auto doc = loadAs(SourceFormat::Text, "Body", options);
    const QTextBlock caption = doc.document().begin();
    EXPECT_EQ(caption.layout()->lineCount(), 1);
    EXPECT_TRUE(caption.text().contains(QChar(0x2026)));
    EXPECT_TRUE(caption.text().startsWith(QStringLiteral("A very long")));
    EXPECT_TRUE(caption.text().endsWith(QStringLiteral("1.2 MB")));
    EXPECT_FALSE(caption.text().contains(u'\n'));
    EXPECT_LE(caption.layout()->lineAt(0).naturalTextWidth(), kAreaWidth);
}

TEST(Caption, WithoutOneTheDocumentIsAsBefore) {
    const auto doc = loadAs(SourceFormat::Text, "Body");
    EXPECT_EQ(doc.document().toPlainText(), QStringLiteral("Body"));
}

// ---------------------------------------------------------------------------

QString familyAt(const PagedDocument& doc, const QString& text) {
    const QTextCursor found = doc.document().find(text);
    if (found.isNull()) {
        return {};
    }
    const QTextBlock block = doc.document().findBlock(found.selectionStart());
    const auto runs = block.layout()->glyphRuns(found.selectionStart() - block.position(),
                                                found.selectionEnd() - found.selectionStart());
    return runs.isEmpty() ? QString() : runs.first().rawFont().familyName();
}

TEST(Monospace, TextIsLiberationMonoAt10PointAndLongRunsWrap) {
    LoadOptions options;
    options.monospace = true;
    const QByteArray run(300, 'x');
    const auto doc =
        loadAs(SourceFormat::Text, "id,name\tvalue\n" + run + "\nend of the log", options);
    EXPECT_EQ(familyAt(doc, QStringLiteral("name")), QStringLiteral("Liberation Mono"));
    EXPECT_EQ(doc.document().defaultFont().pointSizeF(), 10.0);
    const QTextBlock runBlock = doc.document().findBlockByNumber(1);
    // 300 characters of 8 px do not fit 576 px: the run is broken anywhere.
    EXPECT_EQ(runBlock.layout()->lineCount(), 5);
    for (int i = 0; i < runBlock.layout()->lineCount(); ++i) {
        EXPECT_LE(runBlock.layout()->lineAt(i).naturalTextWidth(), kAreaWidth);
    }
    // Without the option, text keeps the body face.
    const auto plain = loadAs(SourceFormat::Text, "id,name\tvalue");
    EXPECT_NE(familyAt(plain, QStringLiteral("name")), QStringLiteral("Liberation Mono"));
    // HTML and RTF keep their own faces.
    const auto html = loadAs(SourceFormat::Html, "<html><body>name</body></html>", options);
    EXPECT_NE(familyAt(html, QStringLiteral("name")), QStringLiteral("Liberation Mono"));
}

}  // namespace
