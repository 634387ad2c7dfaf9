// Header fields: RFC 2047 words, 8-bit bytes without an encoding, address
// lists, dates, ids, importance, the list of every field; and the test of
// whether bytes are mail at all.
#include "test_support.h"

#include <mime/mime.h>

#include <gtest/gtest.h>

namespace {

using mime::Message;
using mime_test::bytesOf;
using mime_test::hasWarning;
using mime_test::message;

TEST(MimeHeader, EncodedWordsAndEightBitBytesBecomeUtf8) {
    const Message m = message(
        "From: =?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>\r\n"
        "To: \"=?utf-8?b?SsO2cmc=?= M\xC3\xBCller\" <jm@example.de>, \xE9ric <eric@example.fr>\r\n"
        "Subject: =?utf-8?q?Caf=C3=A9?= =?utf-8?q?_cr=C3=A8me?= and\r\n"
        " =?iso-8859-2?b?s7PzIA==?=plain\r\n"
        "X-Windows: price \x80 5, quote \x93ok\x94, undefined \x81\r\n"
        "X-Mixed: caf\xC3\xA9 and caf\xE9\r\n"
        "\r\n"
        "body\r\n");
    // Adjacent encoded words join without the space between them.
    EXPECT_EQ(m.subject, "Caf\xC3\xA9 cr\xC3\xA8me and \xC5\x82\xC5\x82\xC3\xB3 plain");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "Andr\xC3\xA9 Pirard");
    EXPECT_EQ(m.from[0].address, "PIRARD@vm1.ulg.ac.be");
    ASSERT_EQ(m.to.size(), 2u);
    EXPECT_EQ(m.to[0].name, "J\xC3\xB6rg M\xC3\xBCller");
    EXPECT_EQ(m.to[1].name, "\xC3\xA9ric");  // windows-1252 0xE9
    EXPECT_EQ(m.to[1].address, "eric@example.fr");
    ASSERT_EQ(m.headers.size(), 5u);
    EXPECT_EQ(m.headers[3].name, "X-Windows");
    // windows-1252, with its undefined 0x81 as U+0081.
    EXPECT_EQ(m.headers[3].value,
              "price \xE2\x82\xAC 5, quote \xE2\x80\x9Cok\xE2\x80\x9D, undefined \xC2\x81");
    // Each run of 8-bit bytes is guessed on its own.
    EXPECT_EQ(m.headers[4].value, "caf\xC3\xA9 and caf\xC3\xA9");
    EXPECT_EQ(m.body, "body\n");
    // The parser's notes go to the warnings, never into the text.
    EXPECT_TRUE(hasWarning(m, "8-bit bytes without an encoding"));
}

TEST(MimeHeader, AddressListsGroupsAndRepeatedFields) {
    const Message m = message(
        "From: \"Doe, Jane\" <jane@example.com>\n"
        "Sender: secretary@example.com (The Secretary)\n"
        "Reply-To: replies@example.com\n"
        "To: undisclosed-recipients:;\n"
        "To: team: ann@example.com, Bob <bob@example.com>;, carol@example.com\n"
        "Cc: <dave@example.com>\n"
        "Bcc: eve@example.com\n"
        "Subject: addresses\n"
        "\n"
        "x\n");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "Doe, Jane");
    EXPECT_EQ(m.from[0].address, "jane@example.com");
    ASSERT_EQ(m.sender.size(), 1u);
    EXPECT_EQ(m.sender[0].address, "secretary@example.com");
    ASSERT_EQ(m.replyTo.size(), 1u);
    EXPECT_EQ(m.replyTo[0].address, "replies@example.com");
    // Both To fields; an empty group by its name, a group's members one by one.
    ASSERT_EQ(m.to.size(), 4u);
    EXPECT_EQ(m.to[0].name, "undisclosed-recipients");
    EXPECT_EQ(m.to[0].address, "");
    EXPECT_EQ(m.to[1].address, "ann@example.com");
    EXPECT_EQ(m.to[2].name, "Bob");
    EXPECT_EQ(m.to[2].address, "bob@example.com");
    EXPECT_EQ(m.to[3].address, "carol@example.com");
    ASSERT_EQ(m.cc.size(), 1u);
    EXPECT_EQ(m.cc[0].address, "dave@example.com");
    ASSERT_EQ(m.bcc.size(), 1u);
    EXPECT_EQ(m.bcc[0].address, "eve@example.com");
}

TEST(MimeHeader, DateIdsImportanceAndTheFieldList) {
    const Message m = message(
        "Date: Tue, 1 Jul 2003 10:52:37 +0200\n"
        "Message-ID: <1234@local.machine.example>\n"
        "In-Reply-To: <3456@example.net> <7890@example.net>\n"
        "X-Priority: 1 (Highest)\n"
        "Importance: low\n"
        "Subject: folded\n"
        "  over two lines\n"
        "\n");
    EXPECT_TRUE(m.date.valid);
    EXPECT_EQ(m.date.seconds, 1057049557);  // 08:52:37 UTC
    EXPECT_EQ(m.date.zoneOffsetMinutes, 120);
    EXPECT_EQ(m.messageId, "1234@local.machine.example");
    EXPECT_EQ(m.inReplyTo, "3456@example.net");
    // The first field that says something decides.
    EXPECT_EQ(m.importance, mime::Importance::High);
    EXPECT_EQ(m.subject, "folded  over two lines");
    ASSERT_EQ(m.headers.size(), 6u);
    EXPECT_EQ(m.headers[0].name, "Date");
    EXPECT_EQ(m.headers[0].value, "Tue, 1 Jul 2003 10:52:37 +0200");
    EXPECT_EQ(m.headers[3].name, "X-Priority");
    EXPECT_EQ(m.headers[3].value, "1 (Highest)");
    EXPECT_EQ(m.headers[5].value, "folded  over two lines");

    EXPECT_EQ(message("Importance: Low\nSubject: x\n\n").importance, mime::Importance::Low);
    EXPECT_EQ(message("Priority: urgent\nSubject: x\n\n").importance, mime::Importance::High);
    EXPECT_EQ(message("X-Priority: 5\nSubject: x\n\n").importance, mime::Importance::Low);
    EXPECT_EQ(message("Subject: x\n\n").importance, mime::Importance::Normal);
    const Message western = message("Date: Mon, 31 Dec 2012 23:59:59 -0830\nSubject: x\n\n");
    EXPECT_EQ(western.date.seconds, 1357028999);  // 2013-01-01 08:29:59 UTC
    EXPECT_EQ(western.date.zoneOffsetMinutes, -510);
}

TEST(MimeHeader, LooksLikeMailByTheFieldsAtTheStart) {
    EXPECT_TRUE(mime::looksLikeMail(bytesOf("Subject: hi\r\n\r\nbody")));
    EXPECT_TRUE(mime::looksLikeMail(bytesOf("X-Custom: 1\nReceived: from a\n  by b\nFrom: x\n\n")));
    EXPECT_TRUE(
        mime::looksLikeMail(bytesOf("From someone@example.com Sat Jan  3 01:05:34 1996\n"
                                    "From: someone@example.com\n\n")));
    EXPECT_TRUE(mime::looksLikeMail(bytesOf("\xEF\xBB\xBFMIME-Version: 1.0\n")));
    // The head may end in the middle of a line.
    EXPECT_TRUE(mime::looksLikeMail(bytesOf("Return-Path: <a@b>\nDKIM-Signature: v=1; a=rsa-sh")));

    EXPECT_FALSE(mime::looksLikeMail(bytesOf("")));
    EXPECT_FALSE(mime::looksLikeMail(bytesOf("hello world\n")));
    EXPECT_FALSE(mime::looksLikeMail(bytesOf("Note: a file of notes\nAuthor: me\n\n")));
    EXPECT_FALSE(mime::looksLikeMail(bytesOf("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n")));
    EXPECT_FALSE(mime::looksLikeMail(bytesOf(" Subject: indented\n")));
    EXPECT_FALSE(mime::looksLikeMail(bytesOf("\nSubject: after an empty line\n")));
    const std::string compoundFile("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0\0\0", 12);
    EXPECT_FALSE(mime::looksLikeMail(bytesOf(compoundFile)));
    // A field mail has must come before the header ends.
    EXPECT_FALSE(mime::looksLikeMail(bytesOf("Note: x\n\nSubject: in the body\n")));
}

TEST(MimeHeader, WhatIsNoMailIsRefusedWithAClearText) {
    const auto refused = [](std::string_view input) {
        try {
            mime::parseMessage(bytesOf(input));
        } catch (const mime::ParseError& e) {
            return std::string(e.what());
        }
        return std::string("parsed");
    };
    EXPECT_EQ(refused(""), "the input is empty: no mail header");
    EXPECT_EQ(refused("hello world\n"),
              "not an Internet mail message: it does not start with header fields");
    EXPECT_EQ(refused(std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)),
              "not an Internet mail message: it does not start with header fields");
    mime::Limits small;
    small.inputBytes = 16;
    EXPECT_THROW(mime::parseMessage(bytesOf("Subject: longer than sixteen bytes\n\n"), small),
                 mime::ParseError);
    EXPECT_THROW(mime::parseEntity(bytesOf("Content-Type: text/plain\n\nlonger"), small),
                 mime::ParseError);
}

TEST(MimeHeader, HeaderWithoutBodyAndEntityWithoutHeader) {
    const Message headerOnly = message("From: a@example.com\nSubject: only a header");
    EXPECT_EQ(headerOnly.subject, "only a header");
    EXPECT_EQ(headerOnly.body, "");
    EXPECT_TRUE(headerOnly.attachments.empty());

    // An entity with no header at all is text.
    const Message bare = mime::parseEntity(bytesOf("just some text\nin two lines\n"));
    EXPECT_EQ(bare.bodyKind, Message::BodyKind::Text);
    EXPECT_EQ(bare.body, "just some text\nin two lines\n");
    EXPECT_TRUE(hasWarning(bare, "no header fields at the start"));
    EXPECT_TRUE(bare.headers.empty());

    const Message empty = mime::parseEntity(bytesOf(""));
    EXPECT_EQ(empty.body, "");
    EXPECT_TRUE(empty.attachments.empty());
}

}  // namespace
