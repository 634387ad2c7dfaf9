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
