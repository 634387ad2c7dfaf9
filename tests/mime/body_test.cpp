// The body a mail program shows, the pictures it links, the attachments
// around it, and the text of each by its charset.
#include "test_support.h"

#include <mime/mime.h>

#include <gtest/gtest.h>

namespace {

using mime::Message;
using mime_test::base64;
using mime_test::bytesOf;
using mime_test::hasWarning;
using mime_test::message;
using mime_test::textOf;

// A message of one text/plain part with the given parameters and bytes.
Message plain(const std::string& parameters, const std::string& bytes) {
    return message("Subject: x\nContent-Type: text/plain" + parameters + "\n\n" + bytes);
}

TEST(MimeBody, AlternativeShowsTheRichestPart) {
    const Message htmlLast = message(
        "Subject: x\nContent-Type: multipart/alternative; boundary=b\n\n"
        "--b\nContent-Type: text/plain\n\nplain\n"
        "--b\nContent-Type: text/html\n\n<p>html</p>\n"
        "--b--\n");
    EXPECT_EQ(htmlLast.bodyKind, Message::BodyKind::Html);
    EXPECT_EQ(htmlLast.body, "<p>html</p>");
    EXPECT_TRUE(htmlLast.attachments.empty());

    const Message htmlFirst = message(
        "Subject: x\nContent-Type: multipart/alternative; boundary=b\n\n"
        "--b\nContent-Type: text/html\n\n<p>html</p>\n"
        "--b\nContent-Type: text/plain\n\nplain\n"
        "--b--\n");
    EXPECT_EQ(htmlFirst.body, "<p>html</p>");

    // text/enriched over text/plain, and it comes as HTML.
    const Message enriched = message(
        "Subject: x\nContent-Type: multipart/alternative; boundary=b\n\n"
        "--b\nContent-Type: text/plain\n\nplain\n"
        "--b\nContent-Type: text/enriched\n\n<bold>Bold</bold> and <italic>slanted</italic>\n"
        "--b\nContent-Type: application/x-unknown\n\nnot shown\n"
        "--b--\n");
    EXPECT_EQ(enriched.bodyKind, Message::BodyKind::Html);
    EXPECT_NE(enriched.body.find("<b>Bold</b>"), std::string::npos) << enriched.body;
    EXPECT_NE(enriched.body.find("<i>slanted</i>"), std::string::npos) << enriched.body;
    EXPECT_TRUE(enriched.attachments.empty());

    // Nothing to show: every alternative is kept.
    const Message none = message(
        "Subject: x\nContent-Type: multipart/alternative; boundary=b\n\n"
        "--b\nContent-Type: text/calendar\n\nBEGIN:VCALENDAR\n"
        "--b\nContent-Type: application/ms-tnef\n\ntnef\n"
        "--b--\n");
    EXPECT_EQ(none.bodyKind, Message::BodyKind::None);
    ASSERT_EQ(none.attachments.size(), 2u);
    EXPECT_EQ(none.attachments[0].part.contentType, "text/calendar");
}

TEST(MimeBody, RelatedPicturesAreTheOnesTheHtmlLinks) {
    const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(40, '\x01');
    const Message m = message(
        "Subject: x\nContent-Type: multipart/alternative; boundary=outer\n\n"
        "--outer\nContent-Type: text/plain\n\nplain\n"
        "--outer\nContent-Type: multipart/related; boundary=rel; type=\"text/html\"\n\n"
        "--rel\nContent-Type: text/html; charset=utf-8\n\n"
        "<img src=\"cid:Logo.PNG@01D\"><img src='pictures/map.gif'>\n"
        "--rel\nContent-Type: image/png; name=logo.png\nContent-ID: <logo.png@01d>\n"
        "Content-Transfer-Encoding: base64\nContent-Disposition: inline\n\n" +
        base64(png) +
        "--rel\nContent-Type: image/gif\nContent-Location: pictures/map.gif\n\nGIF89a\n"
        "--rel\nContent-Type: image/jpeg; name=unlinked.jpg\nContent-ID: <other@01d>\n\njpeg\n"
        "--rel--\n"
        "--outer--\n");
    EXPECT_EQ(m.bodyKind, Message::BodyKind::Html);
    ASSERT_EQ(m.related.size(), 2u);
    // cid: URLs match without regard to case.
    EXPECT_EQ(m.related[0].contentId, "logo.png@01d");
    EXPECT_EQ(m.related[0].fileName, "logo.png");
    EXPECT_TRUE(m.related[0].inlineDisposition);
    EXPECT_EQ(textOf(m.related[0].bytes), png);
    EXPECT_EQ(m.related[1].contentLocation, "pictures/map.gif");
    EXPECT_EQ(textOf(m.related[1].bytes), "GIF89a");
    // A picture the HTML does not link is an attachment, so it is not lost.
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.fileName, "unlinked.jpg");
}

TEST(MimeBody, RelatedRootIsTheStartPartAndPlainRootsLinkNothing) {
    const Message m = message(
        "Subject: x\nContent-Type: multipart/related; boundary=r; start=\"<root@x>\"\n\n"
        "--r\nContent-Type: image/png\nContent-ID: <pic@x>\n\npng\n"
        "--r\nContent-Type: text/html\nContent-ID: <root@x>\n\n<img src=\"cid:pic@x\">\n"
        "--r--\n");
    EXPECT_EQ(m.body, "<img src=\"cid:pic@x\">");
    ASSERT_EQ(m.related.size(), 1u);
    EXPECT_EQ(m.related[0].contentId, "pic@x");
    EXPECT_TRUE(m.attachments.empty());

    const Message plainRoot = message(
        "Subject: x\nContent-Type: multipart/related; boundary=r\n\n"
        "--r\nContent-Type: text/plain\n\nsee cid:pic@x\n"
        "--r\nContent-Type: image/png\nContent-ID: <pic@x>\n\npng\n"
        "--r--\n");
    EXPECT_EQ(plainRoot.bodyKind, Message::BodyKind::Text);
    EXPECT_TRUE(plainRoot.related.empty());
    ASSERT_EQ(plainRoot.attachments.size(), 1u);
}

TEST(MimeBody, MixedBodyIsTheFirstTextThatIsNoAttachment) {
    const Message m = message(
        "Subject: x\nContent-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: text/plain\nContent-Disposition: attachment; filename=notes.txt\n\n"
        "attached text\n"
        "--m\nContent-Type: image/png\nContent-Disposition: inline\n\npng\n"
        "--m\nContent-Type: text/plain; charset=us-ascii\n\nthe body\n"
        "--m\nContent-Type: text/plain\n\na second inline text\n"
        "--m\nContent-Type: application/pdf; name=\"ignored.pdf\"\n"
        "Content-Disposition: attachment;\n filename*=UTF-8''%E2%82%AC%20report.pdf; size=3\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64("PDF") +
        "--m\nContent-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename=\"=?utf-8?q?Gr=C3=BC=C3=9Fe?=.bin\"\n\n"
        "bin\n"
        "--m\nContent-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename=\"r\xE9sum\xE9.doc\"\n\ndoc\n"
        "--m--\n");
    // The line end before a boundary belongs to the boundary.
    EXPECT_EQ(m.body, "the body");
    ASSERT_EQ(m.attachments.size(), 6u);
    EXPECT_EQ(m.attachments[0].part.fileName, "notes.txt");
    EXPECT_EQ(textOf(m.attachments[0].part.bytes), "attached text");
    EXPECT_TRUE(m.attachments[1].part.inlineDisposition);
    EXPECT_EQ(m.attachments[1].part.contentType, "image/png");
    // Later inline text stays in order, marked inline.
    EXPECT_EQ(textOf(m.attachments[2].part.bytes), "a second inline text");
    EXPECT_FALSE(m.attachments[2].part.inlineDisposition);
    // RFC 2231 over the Content-Type name; the declared size.
    EXPECT_EQ(m.attachments[3].part.fileName, "\xE2\x82\xAC report.pdf");
    EXPECT_EQ(m.attachments[3].part.declaredSize, 3u);
    EXPECT_EQ(textOf(m.attachments[3].part.bytes), "PDF");
    // RFC 2047 inside the quotes; 8-bit bytes guessed as windows-1252.
    EXPECT_EQ(m.attachments[4].part.fileName,
              "Gr\xC3\xBC\xC3\x9F"
              "e.bin");
    EXPECT_EQ(m.attachments[5].part.fileName, "r\xC3\xA9sum\xC3\xA9.doc");
}

TEST(MimeBody, AttachmentsOfAnAlternativeNotShownAreKept) {
    const Message m = message(
        "Subject: x\nContent-Type: multipart/alternative; boundary=a\n\n"
        "--a\nContent-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: text/plain\n\nplain\n"
        "--m\nContent-Type: application/zip\nContent-Disposition: attachment; filename=a.zip\n\n"
        "zip\n"
        "--m--\n"
        "--a\nContent-Type: text/html\n\n<p>html</p>\n"
        "--a--\n");
    EXPECT_EQ(m.body, "<p>html</p>");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.fileName, "a.zip");
}

TEST(MimeBody, CharsetsDeclaredMissingAndWrong) {
    // Declared and right.
    EXPECT_EQ(plain("; charset=iso-8859-2", "\xB3\xF3\x64\xBC").body,
              "\xC5\x82\xC3\xB3"
              "d\xC5\xBA");
    EXPECT_EQ(plain("; charset=koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4").body,
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(plain("; charset=\"Windows-1252\"", "\x80 \x85").body, "\xE2\x82\xAC \xE2\x80\xA6");
    EXPECT_EQ(plain("; charset=iso-8859-1", "caf\xE9").body, "caf\xC3\xA9");
    EXPECT_EQ(plain("; charset=utf-8", "caf\xC3\xA9").body, "caf\xC3\xA9");

    // None: UTF-8 when valid, else windows-1252.
    EXPECT_EQ(plain("", "caf\xC3\xA9").body, "caf\xC3\xA9");
    EXPECT_EQ(plain("", "caf\xE9 \x93q\x94").body, "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D");

    // UTF-8 bytes labelled Latin-1 or ASCII.
    const Message labelled = plain("; charset=iso-8859-1", "caf\xC3\xA9");
    EXPECT_EQ(labelled.body, "caf\xC3\xA9");
    EXPECT_TRUE(hasWarning(labelled, "is UTF-8"));
    EXPECT_EQ(plain("; charset=us-ascii", "caf\xC3\xA9").body, "caf\xC3\xA9");
    EXPECT_EQ(plain("; charset=us-ascii", "caf\xE9").body, "caf\xC3\xA9");

    // Declared UTF-8 that is not.
    const Message notUtf8 = plain("; charset=utf-8", "caf\xE9");
    EXPECT_EQ(notUtf8.body, "caf\xC3\xA9");
    EXPECT_TRUE(hasWarning(notUtf8, "not valid UTF-8"));

    // Invalid in a multi-byte charset: each bad byte one U+FFFD.
    const Message badJis = plain("; charset=shift_jis", "\x82\xA0\xFF\x82\xA2");
    EXPECT_EQ(badJis.body, "\xE3\x81\x82\xEF\xBF\xBD\xE3\x81\x84");
    EXPECT_TRUE(hasWarning(badJis, "not valid shift_jis"));

    // Unknown charsets fall back to the guess.
    const Message unknown = plain("; charset=x-no-such-charset", "caf\xE9");
    EXPECT_EQ(unknown.body, "caf\xC3\xA9");
    EXPECT_TRUE(hasWarning(unknown, "unknown charset x-no-such-charset"));
    // A wide charset with ASCII-only bytes still goes through the converter.
    EXPECT_EQ(plain("; charset=utf-16le", std::string("h\0i\0", 4)).body, "hi");

    // HTML without a declaration: its meta element.
    const Message html = message(
        "Subject: x\nContent-Type: text/html\n\n"
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=iso-8859-2\"></head><body>\xB3</body></html>");
    EXPECT_NE(html.body.find("<body>\xC5\x82</body>"), std::string::npos);
}

TEST(MimeBody, FlowedTextIsJoined) {
    EXPECT_EQ(plain("; format=flowed", "This is a \nflowed para \nof text.\nFixed line.\n").body,
              "This is a flowed para of text.\nFixed line.\n");
    EXPECT_EQ(plain("; format=flowed; delsp=yes", "Lange Wor \nte hier.\n").body,
              "Lange Worte hier.\n");
    // Quote depth, space-stuffing, the signature separator.
    EXPECT_EQ(
        plain("; format=flowed", "> quoted and \n> flowed\n>> deeper\n From stuffed\n-- \nsig\n")
            .body,
        "> quoted and flowed\n>> deeper\nFrom stuffed\n-- \nsig\n");
    // A flowed line before a change of depth ends its paragraph.
    EXPECT_EQ(plain("; format=flowed", "> open \nnot quoted\n").body, "> open \nnot quoted\n");
    // Without format=flowed, trailing spaces stay.
    EXPECT_EQ(plain("", "fixed \nlines\n").body, "fixed \nlines\n");
}

TEST(MimeBody, LineEndsAndTransferEncodingsOfCrlfAndLfFiles) {
    const std::string lf =
        "Subject: line ends\nContent-Type: multipart/mixed; boundary=z\n\n"
        "--z\nContent-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\n"
        "soft =\nbreak, caf=C3=A9\nsecond line\n"
        "--z\nContent-Type: application/octet-stream; name=data.bin\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64(std::string("\0\x01\x02\r\n\xFF", 6)) + "--z--\n";
    std::string crlf;
    for (const char c : lf) {
        if (c == '\n') {
            crlf += "\r\n";
        } else if (c != '\r') {
            crlf += c;
        }
    }
    for (const std::string& input : {lf, crlf}) {
        const Message m = message(input);
        EXPECT_EQ(m.body, "soft break, caf\xC3\xA9\nsecond line");
        ASSERT_EQ(m.attachments.size(), 1u);
        EXPECT_EQ(textOf(m.attachments[0].part.bytes), std::string("\0\x01\x02\r\n\xFF", 6));
        EXPECT_TRUE(m.warnings.empty());
    }
}

TEST(MimeBody, DamagedStructureIsReadAsFarAsItGoes) {
    // No closing boundary.
    const Message open = message(
        "Subject: x\nContent-Type: multipart/mixed; boundary=q\n\n"
        "--q\nContent-Type: text/plain\n\nfirst\n"
        "--q\nContent-Type: text/plain; name=last.txt\n\nthe end, cut");
    EXPECT_EQ(open.body, "first");
    ASSERT_EQ(open.attachments.size(), 1u);
    EXPECT_EQ(textOf(open.attachments[0].part.bytes), "the end, cut");
    EXPECT_TRUE(hasWarning(open, "truncated"));

    // Base64 with garbage: what is not base64 is passed over.
    const Message garbage = message(
        "Subject: x\nContent-Type: application/octet-stream; name=g.bin\n"
        "Content-Transfer-Encoding: base64\n\nSGVs*bG8s#IHdv\x01"
        "cmxk!\n");
    ASSERT_EQ(garbage.attachments.size(), 1u);
    EXPECT_EQ(textOf(garbage.attachments[0].part.bytes), "Hello, world");

    // A multipart without a boundary: its content is text.
    const Message noBoundary = message("Subject: x\nContent-Type: multipart/mixed\n\nall text\n");
    EXPECT_EQ(noBoundary.bodyKind, Message::BodyKind::Text);
    EXPECT_EQ(noBoundary.body, "all text\n");
    EXPECT_TRUE(hasWarning(noBoundary, "without a boundary"));

    // uuencode.
    const Message uu = message(
        "Subject: x\nContent-Type: application/octet-stream; name=u.txt\n"
        "Content-Transfer-Encoding: x-uuencode\n\n"
        "begin 644 u.txt\n#0V%T\n`\nend\n");
    ASSERT_EQ(uu.attachments.size(), 1u);
    EXPECT_EQ(textOf(uu.attachments[0].part.bytes), "Cat");
}

}  // namespace
