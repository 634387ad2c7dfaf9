// mbox files split into messages: which "From " lines start one, blocks of
// any size, line ends, the message cap, and the file reader.

#include "test_support.h"

#include <common/file_bytes.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using mime::MailboxEntry;
using mime_test::bytesOf;

std::vector<MailboxEntry> split(std::string_view text, std::size_t block,
                                const mime::Limits& limits = {}) {
    mime::MailboxSplitter splitter(limits);
    for (std::size_t at = 0; at < text.size(); at += block) {
        splitter.add(bytesOf(text.substr(at, block)));
    }
    return splitter.finish();
}

std::vector<std::string> pieces(std::string_view text, const std::vector<MailboxEntry>& entries) {
    std::vector<std::string> out;
    for (const MailboxEntry& entry : entries) {
        out.emplace_back(text.substr(entry.offset, entry.length));
    }
    return out;
}

constexpr std::string_view kThree =
    "From a@example.com Mon Jan  1 00:00:00 2024\nFrom: a@example.com\nSubject: one\n\n"
    "first\n\n"
    // A body line that was not quoted, after an empty line: no header follows.
    "From here on it is the body.\nStill body.\n\n"
    "From b@example.com Mon Jan  1 00:00:00 2024\nSubject: two\n\nsecond\n"
    ">From quoted\n"
    // A "From " line that follows no empty line never starts a message.
    "From: looks like a field\n\n"
    "From c@example.com Mon Jan  1 00:00:00 2024\nDate: Mon, 1 Jan 2024 00:00:00 +0000\n\n"
    "third";

TEST(Mailbox, MessagesStartAtFromLinesFollowedByHeaderFieldsInBlocksOfAnySize) {
    const std::vector<std::string> expected = {
        "From a@example.com Mon Jan  1 00:00:00 2024\nFrom: a@example.com\nSubject: one\n\n"
        "first\n\nFrom here on it is the body.\nStill body.\n",
        "From b@example.com Mon Jan  1 00:00:00 2024\nSubject: two\n\nsecond\n>From quoted\n"
        "From: looks like a field\n",
        "From c@example.com Mon Jan  1 00:00:00 2024\nDate: Mon, 1 Jan 2024 00:00:00 +0000\n\n"
        "third"};
    for (const std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{7},
                                    std::size_t{64}, kThree.size()}) {
        EXPECT_EQ(pieces(kThree, split(kThree, block)), expected) << "block " << block;
    }
    const std::vector<mime::Message> messages = mime::parseMailbox(bytesOf(kThree));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].subject, "one");
    EXPECT_EQ(messages[0].body, "first\n\nFrom here on it is the body.\nStill body.\n");
    // The quoted line is what the file holds.
    EXPECT_EQ(messages[1].body, "second\n>From quoted\nFrom: looks like a field\n");
    EXPECT_EQ(messages[2].body, "third");
}

TEST(Mailbox, CrlfLinesByteOrderMarkAndLongLinesSplitAlike) {
    std::string crlf;
    for (const char c : kThree) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    EXPECT_EQ(split(crlf, 3).size(), 3u);
    const std::string marked = "\xEF\xBB\xBF" + std::string(kThree);
    const auto entries = split(marked, 2);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].offset, 0u);
    EXPECT_TRUE(mime::looksLikeMailbox(bytesOf(marked)));
    // A line far longer than what is kept of it (a base64 line without
    // breaks) and a header longer than the probe.
    const std::string longLine(3u << 20, 'A');
    std::string fields;
    for (int i = 0; i < 300; ++i) {
        fields += "X-Field-" + std::to_string(i) + ": value\n";
    }
    const std::string big = "From x Mon Jan  1 00:00:00 2024\nSubject: a\n\n" + longLine +
                            "\n\nFrom y Mon Jan  1 00:00:00 2024\n" + fields +
                            "Subject: b\n\nbody\n";
    const auto two = split(big, 1000);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(big.substr(two[1].offset, 7), "From y ");
    EXPECT_EQ(two[1].offset + two[1].length, big.size());
}

TEST(Mailbox, WhatIsNoMailboxIsRefusedAndTheCapKeepsTheRestInTheLastMessage) {
    EXPECT_THROW(split("Subject: no From line\n\nbody\n", 4), mime::ParseError);
    EXPECT_THROW(split("", 4), mime::ParseError);
    EXPECT_THROW(split(" From indented\nSubject: x\n\n", 4), mime::ParseError);
    EXPECT_FALSE(mime::looksLikeMailbox(bytesOf("From: a@example.com\nSubject: x\n\n")));
    EXPECT_FALSE(mime::looksLikeMailbox(bytesOf("From the desk of the editor\n\nDear all\n")));
    // A file of one "From " line is one message.
    EXPECT_EQ(split("From nobody", 4).size(), 1u);

    mime::Limits limits;
    limits.mailboxMessages = 2;
    mime::MailboxSplitter splitter(limits);
    splitter.add(bytesOf(kThree));
    const auto entries = splitter.finish();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].offset + entries[1].length, kThree.find("From c@") - 1);
    ASSERT_EQ(splitter.warnings().size(), 1u);
    EXPECT_NE(splitter.warnings()[0].find("more than 2 messages"), std::string::npos);
}

TEST(Mailbox, AFileIsSplitAsItsBytesAreAndAMissingOneSaysWhy) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("mailbox_test_" + std::to_string(::getpid()) + ".mbox");
    {
        std::ofstream out(path, std::ios::binary);
        out << kThree;
    }
    std::vector<std::string> warnings{"stale"};
    const auto entries = mime::splitMailboxFile(path.string(), &warnings);
    EXPECT_EQ(pieces(kThree, entries), pieces(kThree, split(kThree, kThree.size())));
    EXPECT_TRUE(warnings.empty());
    std::filesystem::remove(path);
    try {
        mime::splitMailboxFile(path.string());
        FAIL() << "a missing file was split";
    } catch (const common::FileReadError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos);
    }
}

}  // namespace
