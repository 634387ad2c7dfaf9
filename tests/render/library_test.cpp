// The rendering library as the converter loads it: dlopen of the deployed
// file, the C interface behind render/document.h, and its own offscreen
// QGuiApplication. No Qt in this test process.
#include "render/document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string libraryPath() {
    const char* bin = std::getenv("ORVALINE_BIN");
    return std::string(bin != nullptr ? bin : ORVALINE_BIN_DIR) + "/" + render::kLibraryFileName;
}

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Width and height from a JPEG's start-of-frame marker, or 0x0.
std::pair<int, int> jpegSize(const std::vector<std::uint8_t>& jpeg) {
    for (std::size_t i = 2; i + 9 < jpeg.size();) {
        if (jpeg[i] != 0xFF) {
            return {0, 0};
        }
        const std::uint8_t marker = jpeg[i + 1];
        const std::size_t length = static_cast<std::size_t>(jpeg[i + 2] << 8 | jpeg[i + 3]);
        if (marker == 0xC0 || marker == 0xC2) {
            return {jpeg[i + 7] << 8 | jpeg[i + 8], jpeg[i + 5] << 8 | jpeg[i + 6]};
        }
        i += 2 + length;
    }
    return {0, 0};
}

class LibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The library must not depend on the caller's display settings.
        unsetenv("QT_QPA_PLATFORM");
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        s_library = new render::Library(libraryPath());
    }
    static void TearDownTestSuite() {
        delete s_library;
        s_library = nullptr;
    }
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("render-library-test-" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static render::Library* s_library;
    fs::path m_dir;
};

render::Library* LibraryTest::s_library = nullptr;

TEST_F(LibraryTest, LoadsAFileAndWritesEachPageAsJpegWithoutADisplay) {
    const fs::path source = m_dir / "body.txt";
    std::ofstream(source) << "Dear reader,\nthis is a message body.\n";
    render::Document doc(*s_library, source.string());
    ASSERT_EQ(doc.PageCount(), 1);
    render::ImageOptions options;
    options.JpegQuality = 80;
    const fs::path out = m_dir / "out.jpg";
    doc.SaveToImage(0, 1, out.string(), options);
    const auto jpeg = readAll(out);
    ASSERT_GT(jpeg.size(), 1000u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpegSize(jpeg), std::make_pair(816, 1056));
}

TEST_F(LibraryTest, LoadsFromMemoryAndCountsPages) {
    std::string html = "<html><body>";
    for (int i = 0; i < 5; ++i) {
        html += "<p style=\"page-break-before: always\">Page " + std::to_string(i) + "</p>";
    }
    html += "</body></html>";
    const std::vector<std::uint8_t> bytes(html.begin(), html.end());
    render::Document doc(*s_library, bytes);
    // The first paragraph's break before it is at the top of page one and
    // adds no page.
    EXPECT_EQ(doc.PageCount(), 5);
}

TEST_F(LibraryTest, WarningsOfTheLayoutCrossTheInterface) {
    const std::string clean = "<html><body>Hello</body></html>";
    EXPECT_TRUE(render::Document(*s_library, std::vector<std::uint8_t>(clean.begin(), clean.end()))
                    .Warnings()
                    .empty());
    const std::string html = "<html><body><img src=\"cid:absent@x\"></body></html>";
    render::LoadOptions options;
    options.codePage = 1251;
    const render::Document doc(*s_library, std::vector<std::uint8_t>(html.begin(), html.end()), {},
                               options);
    const std::vector<std::string> warnings = doc.Warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("cid:absent@x"), std::string::npos) << warnings[0];
}

TEST_F(LibraryTest, FailuresCarryTheLibrarysText) {
    try {
        render::Document doc(*s_library, (m_dir / "absent.rtf").string());
        FAIL() << "no failure";
    } catch (const render::RenderError& e) {
        EXPECT_NE(std::string(e.what()).find("absent.rtf"), std::string::npos) << e.what();
    }
    const std::vector<std::uint8_t> bytes{'x'};
    render::Document doc(*s_library, bytes);
    render::ImageOptions options;
    EXPECT_THROW(doc.SaveToImage(3, 1, (m_dir / "p.jpg").string(), options), render::RenderError);
    EXPECT_THROW(doc.SaveToImage(0, 2, (m_dir / "p.jpg").string(), options), render::RenderError);
    EXPECT_FALSE(fs::exists(m_dir / "p.jpg"));
}

// --- attachments through the interface --------------------------------------

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// A 24-bit BMP of `width` x `height` red pixels that records no resolution.
std::vector<std::uint8_t> redBmp(std::uint32_t width, std::uint32_t height) {
    const std::uint32_t row = (width * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> bmp{'B', 'M'};
    putLe(bmp, 54 + row * height, 4);
    putLe(bmp, 0, 4);
    putLe(bmp, 54, 4);
    putLe(bmp, 40, 4);
    putLe(bmp, width, 4);
    putLe(bmp, height, 4);
    putLe(bmp, 1, 2);
    putLe(bmp, 24, 2);
    for (int i = 0; i < 6; ++i) {
        putLe(bmp, 0, 4);  // no compression, size, resolution, colours
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < row; ++x) {
            bmp.push_back(x < width * 3 && x % 3 == 2 ? 0xFF : 0x00);
        }
    }
    return bmp;
}

std::uint32_t crc32(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void putBe(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift : {24, 16, 8, 0}) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// A PNG header claiming 30000 x 30000 pixels, with almost no pixel data.
std::vector<std::uint8_t> pngBomb() {
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    putBe(png, 13);
    const std::size_t type = png.size();
    for (const char c : std::string("IHDR")) {
        png.push_back(static_cast<std::uint8_t>(c));
    }
    putBe(png, 30000);
    putBe(png, 30000);
    for (const std::uint8_t b : std::initializer_list<std::uint8_t>{8, 2, 0, 0, 0}) {
        png.push_back(b);  // 8-bit RGB
    }
    putBe(png, crc32(png, type));
    // libpng reads up to the first pixel data: two bytes of it.
    putBe(png, 2);
    const std::size_t data = png.size();
    for (const std::uint8_t b : std::initializer_list<std::uint8_t>{'I', 'D', 'A', 'T', 0x78, 1}) {
        png.push_back(b);
    }
    putBe(png, crc32(png, data));
    const std::size_t end = png.size() + 4;
    putBe(png, 0);
    for (const char c : std::string("IEND")) {
        png.push_back(static_cast<std::uint8_t>(c));
    }
    putBe(png, crc32(png, end));
    return png;
}

// A PDF of two Letter pages, each a black rectangle.
std::vector<std::uint8_t> twoPagePdf() {
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    const auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Count 2 /Kids [4 0 R 5 0 R] /MediaBox [0 0 612 792] >>");
    const std::string content = "0 0 0 rg 72 72 468 648 re f";
    object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
           "\nendstream");
    object("<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>");
    object("<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>");
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        std::string number = std::to_string(offset);
        pdf += std::string(10 - number.size(), '0') + number + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return bytesOf(pdf);
}

render::LoadOptions as(render::LoadOptions::Format format, const std::string& caption = {}) {
    render::LoadOptions options;
    options.format = format;
    options.caption = caption;
    return options;
}

TEST_F(LibraryTest, PicturesAndPdfFilesArePagesOfTheirPaperAtTheResolutionAsked) {
    using Format = render::LoadOptions::Format;
    const render::Document picture(*s_library, redBmp(200, 100), {},
                                   as(Format::Picture, "red.bmp \u2014 BMP picture, 59 KB"));
    const render::Document pdf(*s_library, twoPagePdf(), {}, as(Format::Pdf));
    EXPECT_EQ(picture.PageCount(), 1);
    EXPECT_EQ(pdf.PageCount(), 2);
    for (const render::Document* doc : {&picture, &pdf}) {
        EXPECT_FALSE(doc->PlaceholderReason());
        EXPECT_TRUE(doc->Warnings().empty());
        for (const int dpi : {96, 300}) {
            render::ImageOptions options;
            options.Resolution = dpi;
            const fs::path out = m_dir / ("page-" + std::to_string(dpi) + ".jpg");
            doc->SaveToImage(doc->PageCount() - 1, 1, out.string(), options);
            EXPECT_EQ(jpegSize(readAll(out)),
                      dpi == 96 ? std::make_pair(816, 1056) : std::make_pair(2550, 3300));
        }
    }
}

TEST_F(LibraryTest, PlaceholderReasonsAndPlaceholderPagesCrossTheInterface) {
    using Format = render::LoadOptions::Format;
    const render::Document bomb(*s_library, pngBomb(), {}, as(Format::Picture));
    ASSERT_TRUE(bomb.PlaceholderReason());
    EXPECT_NE(bomb.PlaceholderReason()->find("30000 x 30000"), std::string::npos)
        << *bomb.PlaceholderReason();
    EXPECT_EQ(bomb.PageCount(), 1);
    ASSERT_EQ(bomb.Warnings().size(), 1u);
    EXPECT_NE(bomb.Warnings()[0].find(*bomb.PlaceholderReason()), std::string::npos);

    const render::Document notPdf(*s_library, bytesOf("%PDF-1.7 and nothing more"), {},
                                  as(Format::Pdf));
    ASSERT_TRUE(notPdf.PlaceholderReason());
    EXPECT_EQ(notPdf.PageCount(), 1);

    // The caller's own placeholder shows its content: no reason.
    const render::Document rows(*s_library,
                                bytesOf("Attachment not shown\nName\tvirus.exe\nReason\tA program"),
                                {}, as(Format::Placeholder, "virus.exe"));
    EXPECT_FALSE(rows.PlaceholderReason());
    EXPECT_EQ(rows.PageCount(), 1);
    const fs::path out = m_dir / "placeholder.jpg";
    rows.SaveToImage(0, 1, out.string(), render::ImageOptions());
    EXPECT_EQ(jpegSize(readAll(out)), std::make_pair(816, 1056));
}

TEST_F(LibraryTest, NewSettingsAreRefusedAfterLoadingAndBadValuesAlways) {
    orv_document* doc = s_library->create();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(s_library->placeholderReason(doc), nullptr);
    EXPECT_NE(std::string(s_library->lastError()).find("not loaded"), std::string::npos);
    EXPECT_EQ(s_library->setFormat(doc, 7), -1);
    EXPECT_EQ(s_library->setCaption(doc, nullptr, 3), -1);
    EXPECT_EQ(s_library->setCaption(doc, nullptr, 0), 0);
    EXPECT_EQ(s_library->setMonospace(doc, 1), 0);
    const std::string text = "a\tb";
    ASSERT_EQ(s_library->loadMemory(doc, reinterpret_cast<const unsigned char*>(text.data()),
                                    text.size()),
              0);
    EXPECT_STREQ(s_library->placeholderReason(doc), "");
    EXPECT_EQ(s_library->setCaption(doc, "x", 1), -1);
    EXPECT_NE(std::string(s_library->lastError()).find("before the document is loaded"),
              std::string::npos);
    EXPECT_EQ(s_library->setMonospace(doc, 0), -1);
    // The stamp changes no layout: it may be set after loading, between pages.
    const std::string number = "ABC-000001";
    EXPECT_EQ(s_library->setStamp(doc, nullptr, 0, number.data(), number.size()), 0);
    EXPECT_EQ(s_library->setStamp(doc, nullptr, 3, number.data(), number.size()), -1);
    EXPECT_NE(std::string(s_library->lastError()).find("the stamp's left text data missing"),
              std::string::npos)
        << s_library->lastError();
    EXPECT_EQ(s_library->setStamp(doc, nullptr, 0, nullptr, 0), 0);
    s_library->destroy(doc);
}

// --- the stamp band -----------------------------------------------------------

TEST_F(LibraryTest, AStampAddsABandBelowEveryPageAndChangesBetweenPages) {
    const std::string body = "Dear reader,\nthis is a message body.\n";
    const render::Document doc(*s_library, bytesOf(body));
    const std::string words = doc.Text();
    const auto save = [&](const std::string& name, int dpi) {
        render::ImageOptions options;
        options.Resolution = dpi;
        const fs::path out = m_dir / name;
        doc.SaveToImage(0, 1, out.string(), options);
        return readAll(out);
    };
    const auto plain = save("plain.jpg", 96);
    EXPECT_EQ(jpegSize(plain), std::make_pair(816, 1056));

    doc.SetStamp("CONFIDENTIAL", "ABC-000001");
    const auto first = save("first.jpg", 96);
    EXPECT_EQ(jpegSize(first), std::make_pair(816, 1056 + 48));
    EXPECT_EQ(jpegSize(save("first-300.jpg", 300)), std::make_pair(2550, 3300 + 150));
    doc.SetStamp("CONFIDENTIAL", "ABC-000002");
    const auto second = save("second.jpg", 96);
    EXPECT_EQ(jpegSize(second), std::make_pair(816, 1104));
    EXPECT_NE(first, second) << "each page has its own number";
    // Only the right text, or only the left, is a stamp too.
    doc.SetStamp("", "ABC-000003");
    EXPECT_EQ(jpegSize(save("number.jpg", 96)), std::make_pair(816, 1104));
    doc.SetStamp("CONFIDENTIAL", "");
    EXPECT_EQ(jpegSize(save("legend.jpg", 96)), std::make_pair(816, 1104));
    // The words and the page count stay; both texts empty: the page as before.
    EXPECT_EQ(doc.Text(), words);
    EXPECT_EQ(doc.PageCount(), 1);
    doc.SetStamp("", "");
    EXPECT_EQ(save("again.jpg", 96), plain);
}

TEST_F(LibraryTest, AStampGivenBeforeLoadingAppliesToThePagesOfTheLoadedDocument) {
    orv_document* doc = s_library->create();
    ASSERT_NE(doc, nullptr);
    const std::string number = "ABC-000001";
    ASSERT_EQ(s_library->setStamp(doc, nullptr, 0, number.data(), number.size()), 0);
    const std::string text = "words";
    ASSERT_EQ(s_library->loadMemory(doc, reinterpret_cast<const unsigned char*>(text.data()),
                                    text.size()),
              0);
    const fs::path out = m_dir / "page.jpg";
    ASSERT_EQ(s_library->saveJpeg(doc, 0, 1, out.string().c_str(), 80), 0);
    EXPECT_EQ(jpegSize(readAll(out)), std::make_pair(816, 1104));
    s_library->destroy(doc);
}

TEST_F(LibraryTest, AStampTooLongOrNotUtf8IsRefusedAndTheStampStaysAsItWas) {
    const render::Document doc(*s_library, bytesOf("words"));
    doc.SetStamp("CONFIDENTIAL", std::string(4096, '7'));  // the limit itself is accepted
    doc.SetStamp("CONFIDENTIAL", "ABC-000001");
    const auto refusal = [&](const std::string& left, const std::string& right) {
        try {
            doc.SetStamp(left, right);
        } catch (const render::RenderError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const std::string tooLong = refusal(std::string(4097, 'x'), "ABC-000002");
    EXPECT_NE(tooLong.find("left text is 4097 bytes; at most 4096"), std::string::npos) << tooLong;
    EXPECT_NE(refusal("", std::string(5000, '1')).find("right text is 5000 bytes"),
              std::string::npos);
    for (const std::string& bad :
         {std::string("\xC3\x28"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
          std::string("ABC-\xFF"), std::string("\xE2\x82")}) {
        const std::string why = refusal("CONFIDENTIAL", bad);
        EXPECT_NE(why.find("the stamp's right text is not valid UTF-8"), std::string::npos) << why;
        EXPECT_NE(refusal(bad, "1").find("left text is not valid UTF-8"), std::string::npos);
    }
    EXPECT_EQ(refusal("Vertraulich \xE2\x80\x94 \xE6\xA9\x9F\xE5\xAF\x86", "\xE2\x84\x96 7"),
              "accepted");
    const std::string number = "1";
    EXPECT_EQ(s_library->setStamp(nullptr, nullptr, 0, number.data(), number.size()), -1);
    EXPECT_EQ(s_library->setStamp(nullptr, nullptr, 0, nullptr, 0), -1);
    EXPECT_NE(std::string(s_library->lastError()).find("no document"), std::string::npos);

    // After a refusal the stamp is the last one accepted: the page has its band.
    doc.SetStamp("CONFIDENTIAL", "ABC-000001");
    const fs::path accepted = m_dir / "accepted.jpg";
    doc.SaveToImage(0, 1, accepted.string(), render::ImageOptions());
    EXPECT_NE(refusal("CONFIDENTIAL", "\xFF"), "accepted");
    const fs::path after = m_dir / "after.jpg";
    doc.SaveToImage(0, 1, after.string(), render::ImageOptions());
    EXPECT_EQ(readAll(after), readAll(accepted));
}

TEST(LibraryLoading, MissingLibraryIsNamedInTheFailure) {
    try {
        render::Library library("/nonexistent/folder/liborvaline-render.so");
        FAIL() << "no failure";
    } catch (const render::RenderError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/folder/liborvaline-render.so"),
                  std::string::npos);
    }
}

TEST(LibraryLoading, AFileThatIsNotTheRenderingLibraryIsRefused) {
    // libc is a loadable library, but not ours.
    EXPECT_THROW(render::Library("libc.so.6"), render::RenderError);
}

}  // namespace
