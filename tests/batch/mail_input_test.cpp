// Internet mail and mbox files in a batch run: found in folders by name and
// by content, each mbox message a record of its own with stable names,
// resumed and sharded as any message is.
#include "batch_support.h"

#include <QCryptographicHash>

#include <set>

namespace {

using namespace batch_test;

std::string mail(const std::string& subject, const std::string& body) {
    return "From: Ann Example <ann@example.com>\nTo: bob@example.com\nSubject: " + subject +
           "\nDate: Tue, 3 Mar 2020 10:00:00 +0100\nMIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=utf-8\n\n" +
           body + "\n";
}

// Three messages: a body line quoted as ">From", one that was not quoted
// (and starts no message: no header follows it), CRLF line ends in the last.
std::vector<std::string> mailboxMessages() {
    std::string crlf;
    for (const char c : mail("third", "Line ends of another system.")) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    return {"From ann@example.com Tue Mar  3 10:00:00 2020\n" +
                mail("first", "Quoted below:\n>From the archive.\n\nFrom here on, still body."),
            "From ann@example.com Tue Mar  3 10:00:01 2020\n" + mail("second", "Two."),
            "From ann@example.com Tue Mar  3 10:00:02 2020\r\n" + crlf};
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string joined(const std::vector<std::string>& messages) {
    std::string text;
    for (const std::string& message : messages) {
        text += message + "\n";  // the empty line a writer puts after each
    }
    return text;
}

std::string sha256(const std::string& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::map<std::string, std::vector<std::string>> imageNamesBySource(
    const std::map<std::string, Record>& records, const fs::path& in) {
    std::map<std::string, std::vector<std::string>> names;
    for (const auto& [source, record] : records) {
        EXPECT_EQ(record.status, Record::Status::Converted) << source << ": " << record.error;
        for (const auto& image : record.images) {
            names[fs::relative(source, in).string()].push_back(image.path);
        }
    }
    return names;
}

TEST_F(BatchRun, MailFilesAndMboxMessagesAreRecordsOfTheirOwnWithStableNames) {
    const fs::path in = m_root / "in";
    copyCorpus(kOnePage[0], in / "a.msg");
    writeText(in / "b.eml", mail("b", "An Internet mail file."));
    writeText(in / "sub" / "C.EML", mail("c", "Its extension in capitals."));
    writeText(in / "sub" / "~d.eml", mail("d", "A lock file's name."));
    writeText(in / "notes.txt", "Not mail at all.\n");
    const std::vector<std::string> messages = mailboxMessages();
    writeText(in / "sub" / "Inbox", joined(messages));
    const fs::path out = m_root / "out";

    // Without --mbox a folder's mbox files are not looked at.
    ASSERT_EQ(run({"-q", in.string(), "-o", (m_root / "plain").string()}).status, 0);
    EXPECT_EQ(imageNamesBySource(reportBySource(m_root / "plain" / "orvaline-report.jsonl"), in),
              (std::map<std::string, std::vector<std::string>>{
                  {"a.msg", {"a.jpg"}}, {"b.eml", {"b.jpg"}}, {"sub/C.EML", {"C.jpg"}}}));

    const Outcome first = run({"-j", "2", "--mbox", in.string(), "-o", out.string()});
    ASSERT_EQ(first.status, 0) << first.err;
    const auto records = reportBySource(out / "orvaline-report.jsonl");
    EXPECT_EQ(imageNamesBySource(records, in),
              (std::map<std::string, std::vector<std::string>>{{"a.msg", {"a.jpg"}},
                                                               {"b.eml", {"b.jpg"}},
                                                               {"sub/C.EML", {"C.jpg"}},
                                                               {"sub/Inbox#1", {"Inbox_1.jpg"}},
                                                               {"sub/Inbox#2", {"Inbox_2.jpg"}},
                                                               {"sub/Inbox#3", {"Inbox_3.jpg"}}}));
    // Each mbox record's size and digest are of its own message's bytes.
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const Record& record =
            records.at((in / "sub" / ("Inbox#" + std::to_string(i + 1))).string());
        EXPECT_EQ(record.size, messages[i].size()) << i;
        EXPECT_EQ(record.sha256, sha256(messages[i])) << i;
        for (const auto& image : record.images) {
            EXPECT_EQ(image.sha256, qtSha256(out / image.path));
        }
    }
    // The quoted and the unquoted "From " lines are the first message's body:
    // it is a page of its own, not cut short.
    EXPECT_GT(fs::file_size(out / "Inbox_1.jpg"), fs::file_size(out / "Inbox_2.jpg"));

    // An mbox file named on the command line needs no --mbox; its records
    // name it as given.
    const fs::path named = m_root / "named";
    ASSERT_EQ(run({"-q", (in / "sub" / "Inbox").string(), "-o", named.string()}).status, 0);
    const auto byName = reportBySource(named / "orvaline-report.jsonl");
    ASSERT_EQ(byName.size(), 3u);
    EXPECT_EQ(byName.at((in / "sub" / "Inbox#2").string()).images.at(0).path, "Inbox_2.jpg");
    EXPECT_EQ(imagesUnder(named),
              (std::map<std::string, std::string>{{"Inbox_1.jpg", readFile(out / "Inbox_1.jpg")},
                                                  {"Inbox_2.jpg", readFile(out / "Inbox_2.jpg")},
                                                  {"Inbox_3.jpg", readFile(out / "Inbox_3.jpg")}}));

    // Resumed: every record kept; a message changed inside the mbox (same
    // length, so the others keep their places) is the only one converted.
    const Outcome kept = run({"--resume", "--mbox", in.string(), "-o", out.string()});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_NE(kept.err.find("(6 kept from the report)"), std::string::npos) << kept.err;
    std::vector<std::string> changed = messages;
    changed[1].replace(changed[1].find("Two."), 4, "2nd.");
    writeText(in / "sub" / "Inbox", joined(changed));
    const Outcome redone = run({"--resume", "--mbox", in.string(), "-o", out.string()});
    EXPECT_EQ(redone.status, 0) << redone.err;
    EXPECT_NE(redone.err.find("(5 kept from the report)"), std::string::npos) << redone.err;
    EXPECT_EQ(
        reportBySource(out / "orvaline-report.jsonl").at((in / "sub" / "Inbox#2").string()).sha256,
        sha256(changed[1]));
}

TEST_F(BatchRun, MboxMessagesSplitOverShardsAsAnyMessagesDo) {
    const fs::path in = m_root / "in";
    std::vector<std::string> messages;
    for (int i = 1; i <= 12; ++i) {
        messages.push_back("From ann@example.com Tue Mar  3 10:00:00 2020\n" +
                           mail("number " + std::to_string(i), "Body " + std::to_string(i)));
    }
    writeText(in / "archive.mbox", joined(messages));
    writeText(in / "single.eml", mail("single", "One more."));
    const fs::path plain = m_root / "plain";
    ASSERT_EQ(run({"-q", "--mbox", in.string(), "-o", plain.string()}).status, 0);
    const fs::path shared = m_root / "shared";
    for (const char* shard : {"0/2", "1/2"}) {
        ASSERT_EQ(
            run({"-q", "--mbox", "--shard", shard, in.string(), "-o", shared.string()}).status, 0);
    }
    EXPECT_GT(lineCount(shared / "orvaline-report.0-of-2.jsonl"), 0u);
    EXPECT_GT(lineCount(shared / "orvaline-report.1-of-2.jsonl"), 0u);
    const Outcome merged = run({"--merge-reports", shared.string()});
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(imagesUnder(shared), imagesUnder(plain));
    EXPECT_EQ(imagesUnder(plain).size(), 13u);
    EXPECT_TRUE(fs::exists(plain / "archive_12.jpg"));
}

}  // namespace
