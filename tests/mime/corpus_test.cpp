// The reader over test messages of public mail-parser suites
// (tests/mime/data/MANIFEST.tsv names each one's source and licence).
#include "test_support.h"

#include <mime/mime.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

using mime::Message;
using mime_test::dataFile;
using mime_test::hasWarning;
using mime_test::textOf;

Message read(const std::string& name) {
    return mime::parseMessage(dataFile(name));
}

TEST(MimeCorpus, EveryFileIsListedInTheManifestAndReads) {
    std::set<std::string> listed;
    std::ifstream manifest(std::string(MIME_TEST_DATA) + "/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // the column names
    while (std::getline(manifest, line)) {
        listed.insert(line.substr(0, line.find('\t')));
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(MIME_TEST_DATA)) {
        const std::string name = entry.path().filename().string();
        if (name == "MANIFEST.tsv" || name.front() == '.') {
            continue;
        }
        ++files;
        EXPECT_TRUE(listed.count(name) == 1) << name << " has no MANIFEST row";
        const std::vector<std::uint8_t> bytes = dataFile(name);
        EXPECT_TRUE(mime::looksLikeMail(bytes)) << name;
        if (name.ends_with(".mbox")) {
            EXPECT_FALSE(mime::parseMailbox(bytes).empty()) << name;
        } else {
            EXPECT_NO_THROW(mime::parseMessage(bytes)) << name;
        }
    }
    EXPECT_EQ(files, listed.size());
}

TEST(MimeCorpus, TransferEncodingsAreRemoved) {
    const Message m = read("python__msg_10.eml");
    EXPECT_EQ(m.subject, "Lyrics");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "Barry Warsaw");
    EXPECT_EQ(m.from[0].address, "barry@python.org");
    ASSERT_EQ(m.to.size(), 1u);
    EXPECT_EQ(m.to[0].name, "Dingus Lovers");
    EXPECT_EQ(m.to[0].address, "cravindogs@cravindogs.com");
    EXPECT_TRUE(m.date.valid);
    EXPECT_EQ(m.date.seconds, 987809702);  // 2001-04-20 23:35:02 UTC
    EXPECT_EQ(m.date.zoneOffsetMinutes, -240);
    EXPECT_EQ(m.date.text, "Fri, 20 Apr 2001 19:35:02 -0400");
    // Every field in order, the Content- ones included.
    ASSERT_EQ(m.headers.size(), 6u);
    EXPECT_EQ(m.headers[0].name, "MIME-Version");
    EXPECT_EQ(m.headers[4].name, "Date");
    EXPECT_EQ(m.headers[5].name, "Content-Type");
    EXPECT_EQ(m.headers[5].value, "multipart/mixed; boundary=\"BOUNDARY\"");
    // multipart/mixed: the first text part is the body, the rest attachments.
    EXPECT_EQ(m.bodyKind, Message::BodyKind::Text);
    EXPECT_EQ(m.body, "This is a 7bit encoded message.\n");
    ASSERT_EQ(m.attachments.size(), 4u);
    EXPECT_EQ(m.attachments[0].part.contentType, "text/html");
    EXPECT_EQ(textOf(m.attachments[0].part.bytes),
              "\xA1This is a Quoted Printable encoded message!\n");
    EXPECT_EQ(textOf(m.attachments[1].part.bytes), "This is a Base64 encoded message.");
    EXPECT_EQ(textOf(m.attachments[2].part.bytes), "This is a Base64 encoded message.\n");
    EXPECT_EQ(textOf(m.attachments[3].part.bytes),
              "This has no Content-Transfer-Encoding: header.\n");
    EXPECT_EQ(m.security, mime::Security::None);
    EXPECT_TRUE(m.warnings.empty());
}

TEST(MimeCorpus, DigestMessagesBecomeNestedMessages) {
    const Message m = read("python__msg_02.eml");
    EXPECT_EQ(m.subject, "Ppp digest, Vol 1 #2 - 5 msgs");
    ASSERT_EQ(m.sender.size(), 1u);
    EXPECT_EQ(m.sender[0].address, "ppp-admin@zzz.org");
    EXPECT_EQ(m.date.zoneOffsetMinutes, -240);
    EXPECT_EQ(m.body.substr(0, 50), "Send Ppp mailing list submissions to\n\tppp@zzz.org\n");
    // Today's topics, the five digest messages, the footer.
    ASSERT_EQ(m.attachments.size(), 7u);
    EXPECT_EQ(m.attachments[0].part.contentType, "text/plain");
    EXPECT_EQ(textOf(m.attachments[0].part.bytes).substr(0, 16), "Today's Topics:\n");
    const char* subjects[] = {"[Ppp] testing #1", "", "[Ppp] testing #3", "[Ppp] testing #4",
                              "[Ppp] testing #5"};
    for (int i = 0; i < 5; ++i) {
        const auto& attachment = m.attachments[static_cast<std::size_t>(i) + 1];
        // The digest's parts are message/rfc822 by default.
        EXPECT_EQ(attachment.part.contentType, "message/rfc822");
        ASSERT_TRUE(attachment.message) << i;
        const Message& inner = *attachment.message;
        EXPECT_EQ(inner.subject, subjects[i]);
        ASSERT_EQ(inner.from.size(), 1u);
        // The old comment form gives the display name.
        EXPECT_EQ(inner.from[0].name, "Barry A. Warsaw");
        EXPECT_EQ(inner.from[0].address, "barry@digicool.com");
        EXPECT_EQ(inner.body.substr(0, 7), "\nhello\n");
        EXPECT_FALSE(attachment.part.bytes.empty());
    }
    EXPECT_EQ(m.attachments[1].message->date.seconds, 987812173);
    EXPECT_EQ(textOf(m.attachments[6].part.bytes).substr(0, 47),
              "_______________________________________________");
}

TEST(MimeCorpus, InnerBoundaryLikeTheOuterAndBase64ThatIsNone) {
    const Message m = read("python__msg_15.eml");
    EXPECT_EQ(m.subject, "XX");
    EXPECT_EQ(m.messageId, "xxxx");
    // The alternative's HTML is the body; its text/plain is not listed.
    EXPECT_EQ(m.bodyKind, Message::BodyKind::Html);
    EXPECT_EQ(m.body.substr(0, 14), "<HTML>\n<HEAD>\n");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.contentType, "image/gif");
    EXPECT_EQ(m.attachments[0].part.fileName, "xx.gif");
    EXPECT_FALSE(m.attachments[0].part.inlineDisposition);
}

TEST(MimeCorpus, HeaderWithoutEmptyLineKeepsTheBodyLine) {
    const Message m = read("python__msg_35.eml");
    EXPECT_EQ(m.subject, "here's something interesting");
    EXPECT_EQ(m.body, "counter to RFC 5322, there's no separating newline here\n");
    EXPECT_TRUE(hasWarning(m, "without an empty line at byte 80"));
}

TEST(MimeCorpus, TextPartsWithANameAfterTheBodyAreAttachments) {
    const Message m = read("python__msg_44.eml");
    EXPECT_EQ(m.messageId, "15261.36209.358846.118674@anthem.python.org");
    EXPECT_EQ(m.from[0].name, "Barry A. Warsaw");
    EXPECT_EQ(m.body, "a simple kind of mirror\nto reflect upon our own\n");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.fileName, "msg.txt");
    EXPECT_EQ(textOf(m.attachments[0].part.bytes),
              "a simple kind of mirror\nto reflect upon our own\n");
}

TEST(MimeCorpus, AnImpossibleDateKeepsItsText) {
    const Message m = read("python__msg_47.eml");
    EXPECT_FALSE(m.date.valid);
    EXPECT_EQ(m.date.text, "Tue, 06 Jun 2017 27:39:33 +0600");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "123@abuse.net");
    EXPECT_EQ(m.from[0].address, "123@example.com");
    EXPECT_EQ(m.body, "### PHARRMACY ON1INE 24/7 ###\n");
}

TEST(MimeCorpus, PgpSignedShowsTheSignedContentAndNoSignature) {
    const Message m = read("python__msg_48.eml");
    EXPECT_EQ(m.security, mime::Security::Signed);
    EXPECT_EQ(m.securityProtocol, "PGP/MIME");
    EXPECT_EQ(m.inReplyTo, "somelonglonglonglonglongunwrappablemessageidtoreplyto@mail.foo.bar");
    EXPECT_EQ(m.body, "This is the signed contents.\n");
    EXPECT_TRUE(m.attachments.empty());
}

TEST(MimeCorpus, EmptyPartsInNestedMultipartsStayInOrder) {
    const Message m = read("python__msg_12.eml");
    EXPECT_EQ(m.bodyKind, Message::BodyKind::Text);
    EXPECT_EQ(m.body, "");
    ASSERT_EQ(m.attachments.size(), 5u);
    EXPECT_EQ(m.attachments[0].part.contentType, "text/html");
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(m.attachments[i].part.contentType, "text/plain");
        EXPECT_TRUE(m.attachments[i].part.bytes.empty());
    }
}

TEST(MimeCorpus, MailboxBodyLineStartingWithFromIsKept) {
    const std::vector<Message> messages = mime::parseMailbox(dataFile("python__mailbox_01.mbox"));
    // The unquoted "From " line in the body is followed by no header: it
    // starts no message, and stays the body's.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].subject, "unquoted From in body; extra info on From line");
    ASSERT_EQ(messages[0].from.size(), 1u);
    EXPECT_EQ(messages[0].from[0].address, "foo");
    EXPECT_EQ(messages[0].body, "Hello\n\nFrom time to time\n");
    // As a single message the "From " line is passed over.
    const Message single = mime::parseMessage(dataFile("python__mailbox_01.mbox"));
    EXPECT_EQ(single.body, "Hello\n\nFrom time to time\n");
}

TEST(MimeCorpus, CrlfMessageWithEncodedAddressesAndOverlappingBoundaries) {
    const Message m = read("mime4j__overlapping-boundaries.eml");
    EXPECT_EQ(m.subject, "Test mail");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "\xEA\xB9\x80\xEC\x9A\xA9\xEC\x84\xB1");
    EXPECT_EQ(m.from[0].address, "yskim@uwiseone.com");
    EXPECT_EQ(m.date.seconds, 1308617305);
    EXPECT_EQ(m.date.zoneOffsetMinutes, 540);
    EXPECT_EQ(m.messageId, "643025386.114751308617305650.JavaMail.root@localhost.localdomain");
    EXPECT_EQ(m.bodyKind, Message::BodyKind::Html);
    EXPECT_EQ(m.body, "test...");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.contentType, "text/html");
    EXPECT_TRUE(m.attachments[0].part.inlineDisposition);
    EXPECT_EQ(textOf(m.attachments[0].part.bytes), "important stuff");
}

TEST(MimeCorpus, Base64MessageAttachmentWithMixedLineEnds) {
    const Message m = read("mime4j__mixed-newlines-base64.eml");
    EXPECT_EQ(m.bodyKind, Message::BodyKind::None);
    ASSERT_EQ(m.attachments.size(), 1u);
    const auto& attachment = m.attachments[0];
    EXPECT_EQ(attachment.part.contentType, "message/rfc822");
    EXPECT_EQ(attachment.part.fileName, "mixed-newlines.msg");
    EXPECT_EQ(attachment.part.bytes.size(), 321u);
    ASSERT_TRUE(attachment.message);
    const Message& inner = *attachment.message;
    ASSERT_GE(inner.headers.size(), 3u);
    EXPECT_EQ(inner.headers[0].name, "X-Header1");
    EXPECT_EQ(inner.headers[0].value, "Header ending with LF");
    EXPECT_EQ(inner.body,
              "\nThe separator between the header and body is LFCR (LF of the last header) and "
              "it should\nbe converted to CRLFCRLF.\nA line ending with LF\na line ending with "
              "CRLF\na line ending with CR\n");
}

}  // namespace
