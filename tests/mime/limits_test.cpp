// Every limit of the reader, and what happens at it: nothing crashes,
// nothing is dropped without a warning.
#include "test_support.h"

#include <mime/mime.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using mime::Message;
using mime_test::base64;
using mime_test::bytesOf;
using mime_test::hasWarning;
using mime_test::message;
using mime_test::textOf;

// Multiparts nested `levels` deep around one text part.
std::string nestedMultiparts(int levels) {
    std::string head = "Subject: deep\nContent-Type: multipart/mixed; boundary=b0\n\n";
    std::string tail;
    for (int i = 1; i < levels; ++i) {
        head += "--b" + std::to_string(i - 1) + "\nContent-Type: multipart/mixed; boundary=b" +
                std::to_string(i) + "\n\n";
        tail = "--b" + std::to_string(i - 1) + "--\n" + tail;
    }
    head += "--b" + std::to_string(levels - 1) + "\nContent-Type: text/plain\n\ninnermost\n--b" +
            std::to_string(levels - 1) + "--\n";
    return head + tail;
}

// Messages nested `levels` deep (message/rfc822 in message/rfc822).
std::string nestedMessages(int levels) {
    std::string text = "Subject: level " + std::to_string(levels) + "\n\ninnermost text\n";
    for (int i = levels - 1; i >= 1; --i) {
        text = "Subject: level " + std::to_string(i) + "\nContent-Type: message/rfc822\n\n" + text;
    }
    return text;
}

TEST(MimeLimits, PartsNestedDeeperThanTheCapBecomeOneAttachment) {
    const Message within = message(nestedMultiparts(static_cast<int>(mime::kMaxPartDepth)));
    EXPECT_EQ(within.body, "innermost");
    EXPECT_TRUE(within.attachments.empty());

    const Message deep = message(nestedMultiparts(100));
    EXPECT_EQ(deep.bodyKind, Message::BodyKind::None);
    ASSERT_EQ(deep.attachments.size(), 1u);
    EXPECT_EQ(deep.attachments[0].part.contentType, "multipart/mixed");
    // The raw entity, so its content is still there.
    EXPECT_NE(textOf(deep.attachments[0].part.bytes).find("innermost"), std::string::npos);
    EXPECT_TRUE(hasWarning(deep, "nested deeper than 32 levels"));
}

TEST(MimeLimits, MessagesNestedAHundredDeep) {
    const Message m = message(nestedMessages(100));
    const Message* level = &m;
    std::size_t depth = 1;
    while (!level->attachments.empty() && level->attachments[0].message) {
        EXPECT_EQ(level->subject, "level " + std::to_string(depth));
        level = level->attachments[0].message.get();
        ++depth;
    }
    EXPECT_EQ(depth, mime::kMaxMessageDepth);
    // The deepest one read holds the rest as bytes, unread.
    ASSERT_EQ(level->attachments.size(), 1u);
    EXPECT_EQ(level->attachments[0].part.contentType, "message/rfc822");
    EXPECT_NE(textOf(level->attachments[0].part.bytes).find("Subject: level 100"),
              std::string::npos);
    EXPECT_TRUE(hasWarning(*level, "messages nested deeper than 32 levels"));

    // Encoded messages (read from their decoded bytes) are held to it too.
    std::string encoded = "Subject: bottom\n\ntext\n";
    for (int i = 0; i < 34; ++i) {
        encoded =
            "Subject: wrapper\nContent-Type: message/rfc822\n"
            "Content-Transfer-Encoding: base64\n\n" +
            base64(encoded);
    }
    const Message wrapped = message(encoded);
    level = &wrapped;
    depth = 1;
    while (!level->attachments.empty() && level->attachments[0].message) {
        level = level->attachments[0].message.get();
        ++depth;
    }
    EXPECT_EQ(depth, mime::kMaxMessageDepth);
}

TEST(MimeLimits, PartsOverTheCapAreLeftOutWithAWarning) {
    std::string text = "Subject: many\nContent-Type: multipart/mixed; boundary=p\n\n";
    for (int i = 0; i < 20; ++i) {
        text += "--p\nContent-Type: application/octet-stream; name=f" + std::to_string(i) +
                "\n\ndata\n";
    }
    text += "--p--\n";
    mime::Limits limits;
    limits.parts = 6;
    const Message m = message(text, limits);
    // The multipart itself is one of the six.
    ASSERT_EQ(m.attachments.size(), 5u);
    EXPECT_EQ(m.attachments[4].part.fileName, "f4");
    EXPECT_TRUE(hasWarning(m, "more than 6 parts"));
    EXPECT_EQ(message(text).attachments.size(), 20u);
}

TEST(MimeLimits, DecodedBytesOverTheCapAreCutAndMarked) {
    const std::string data(3000, 'x');
    const std::string text =
        "Subject: big\nContent-Type: multipart/mixed; boundary=p\n\n"
        "--p\nContent-Type: text/plain\n\nbody text\n"
        "--p\nContent-Type: application/octet-stream; name=a\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64(data) + "--p\nContent-Type: application/octet-stream; name=b\n\nmore\n--p--\n";
    mime::Limits limits;
    limits.decodedBytes = 1000;
    const Message m = message(text, limits);
    EXPECT_EQ(m.body, "body text");
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_TRUE(m.attachments[0].part.truncated);
    EXPECT_EQ(m.attachments[0].part.bytes.size(), 1000u - 9u);
    EXPECT_TRUE(m.attachments[1].part.truncated);
    EXPECT_TRUE(m.attachments[1].part.bytes.empty());
    EXPECT_TRUE(hasWarning(m, "the part a is cut at 991 bytes"));
    EXPECT_FALSE(message(text).attachments[0].part.truncated);
}

TEST(MimeLimits, AFiftyMegabytePartIsReadWhole) {
    std::string data(50u << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>((i * 131u) >> 7);
    }
    const std::string text =
        "Subject: large\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n"
        "--p\r\nContent-Type: text/plain\r\n\r\nsee the attachment\r\n"
        "--p\r\nContent-Type: application/octet-stream; name=large.bin\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        base64(data) + "--p--\r\n";
    const Message m = message(text);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_FALSE(m.attachments[0].part.truncated);
    ASSERT_EQ(m.attachments[0].part.bytes.size(), data.size());
    EXPECT_TRUE(textOf(m.attachments[0].part.bytes) == data);
}

TEST(MimeLimits, MailboxMessagesAndWarningsAreCapped) {
    const std::string mbox =
        "From a@example.com Mon Jan  1 00:00:00 2024\nSubject: one\n\nfirst\n\n"
        "From b@example.com Mon Jan  1 00:00:00 2024\nSubject: two\n\nsecond\n>From quoted\n\n"
        "From c@example.com Mon Jan  1 00:00:00 2024\nSubject: three\n\nthird\n";
    const std::vector<Message> all = mime::parseMailbox(bytesOf(mbox));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].subject, "one");
    EXPECT_EQ(all[1].body, "second\n>From quoted\n");
    EXPECT_EQ(all[2].body, "third\n");
    mime::Limits limits;
    limits.mailboxMessages = 2;
    const std::vector<Message> two = mime::parseMailbox(bytesOf(mbox), limits);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(hasWarning(two[1], "more than 2 messages"));
    EXPECT_THROW(mime::parseMailbox(bytesOf("Subject: no From line\n\n")), mime::ParseError);

    std::string noisy = "Subject: noisy\n";
    for (int i = 0; i < 600; ++i) {
        noisy += "Subject: again " + std::to_string(i) + "\n";
    }
    const Message m = message(noisy + "\nbody\n");
    EXPECT_EQ(m.subject, "noisy");
    EXPECT_EQ(m.body, "body\n");
    EXPECT_LE(m.warnings.size(), mime::kMaxWarnings + 1);
    EXPECT_TRUE(hasWarning(m, "left out"));
}

TEST(MimeLimits, ReadsInSeveralThreadsAtOnce) {
    const std::string text =
        "Subject: =?utf-8?q?caf=C3=A9?=\nContent-Type: multipart/alternative; boundary=a\n\n"
        "--a\nContent-Type: text/plain; charset=koi8-r\n\n\xF0\xD2\xC9\n"
        "--a\nContent-Type: text/html; charset=iso-8859-2\n\n<p>\xB3</p>\n--a--\n";
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (std::size_t t = 0; t < good.size(); ++t) {
        threads.emplace_back([&text, &good, t] {
            for (int i = 0; i < 200; ++i) {
                const Message m = message(text);
                good[t] += m.subject == "caf\xC3\xA9" && m.body == "<p>\xC5\x82</p>" ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const int count : good) {
        EXPECT_EQ(count, 200);
    }
}

}  // namespace
