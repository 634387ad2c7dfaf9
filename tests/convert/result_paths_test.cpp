#include <convert/result_paths.h>

#include <gtest/gtest.h>
#include <qt_print.h>

namespace {

using namespace convert;
using shell::PathStyle;

QString q(const char* s) {
    return QString::fromUtf8(s);
}

TEST(ResultPath, OutputFolderOrSourceFolder) {
    EXPECT_EQ(ResultPath(q("/mail/a.b.msg"), true, q("/out")), q("/out/a.b.jpg"));
    EXPECT_EQ(ResultPath(q("/mail/a.b.msg"), true, q("/out/")), q("/out/a.b.jpg"));
    EXPECT_EQ(ResultPath(q("/mail/a.b.msg"), false, q("/out")), q("/mail/a.b.jpg"));
    EXPECT_EQ(ResultPath(q("/mail/.msg"), false, {}), q("/mail/.msg.jpg"));
    EXPECT_EQ(ResultPath(q("/a.msg"), false, {}), q("/a.jpg"));
    EXPECT_EQ(ResultPath(q("/mail/a.msg"), true, q("/")), q("/a.jpg"));
    // Only the result is normalised.
    EXPECT_EQ(ResultPath(q("/mail//x/a.msg"), false, {}), q("/mail/x/a.jpg"));
}

TEST(ResultPath, WindowsStyleRules) {
    EXPECT_EQ(ResultPath(q(R"(C:\Mail\a.b.msg)"), true, q(R"(D:\Out)"), PathStyle::Windows),
              q(R"(D:\Out\a.b.jpg)"));
    EXPECT_EQ(ResultPath(q(R"(C:\Mail\a.b.msg)"), false, q(R"(D:\Out)"), PathStyle::Windows),
              q(R"(C:\Mail\a.b.jpg)"));
    EXPECT_EQ(ResultPath(q(R"(\\srv\share\a.msg)"), false, {}, PathStyle::Windows),
              q(R"(\\srv\share\a.jpg)"));
}

TEST(PageImagePath, OnlyAFinalLowerCaseJpgIsReplaced) {
    EXPECT_EQ(PageImagePath(q("/out/Report.jpg"), 3), q("/out/Report_3.jpg"));
    EXPECT_EQ(PageImagePath(q("/out/photo.jpg.jpg"), 1), q("/out/photo.jpg_1.jpg"));
    EXPECT_EQ(PageImagePath(q("/out/Report.JPG"), 12), q("/out/Report.JPG_12.jpg"));
    EXPECT_EQ(PageImagePath(q("/out.jpg/Report"), 1), q("/out.jpg/Report_1.jpg"));
    EXPECT_EQ(PageImagePath(q(".jpg"), 1), q("_1.jpg"));
    // TIFF pages are named the same way, with their own extension.
    EXPECT_EQ(PageImagePath(q("/out/Report.tif"), 2), q("/out/Report_2.tif"));
    EXPECT_EQ(ResultPath(q("/mail/a.b.msg"), true, q("/out"), PathStyle::Posix, q(".pdf")),
              q("/out/a.b.pdf"));
}

TEST(ResultPathClaims, DifferentSourcesNeverShareAPath) {
    ResultPathClaims claims;
    EXPECT_EQ(claims.claim(q("/a/mail.msg"), q("/out/mail.jpg")), q("/out/mail.jpg"));
    EXPECT_EQ(claims.claim(q("/b/mail.msg"), q("/out/mail.jpg")), q("/out/mail (2).jpg"));
    EXPECT_EQ(claims.claim(q("/c/mail.msg"), q("/out/mail.jpg")), q("/out/mail (3).jpg"));
    // The same source listed again keeps its path.
    EXPECT_EQ(claims.claim(q("/b/mail.msg"), q("/out/mail.jpg")), q("/out/mail (2).jpg"));
    // A source whose own name is taken already moves on too.
    EXPECT_EQ(claims.claim(q("/d/mail (2).msg"), q("/out/mail (2).jpg")),
              q("/out/mail (2) (2).jpg"));
    // PDF and TIFF results keep their extension after the number.
    EXPECT_EQ(claims.claim(q("/a/note.msg"), q("/out/note.pdf")), q("/out/note.pdf"));
    EXPECT_EQ(claims.claim(q("/b/note.msg"), q("/out/note.pdf")), q("/out/note (2).pdf"));
    EXPECT_EQ(claims.claim(q("/c/note.msg"), q("/out/note.tif")), q("/out/note.tif"));
    EXPECT_EQ(claims.claim(q("/d/note.msg"), q("/out/note.tif")), q("/out/note (2).tif"));
}

}  // namespace
