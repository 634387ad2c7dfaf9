// A message's attachments as orvaline-convert shows them (on by default
// there): each after its message in the message's order, embedded messages
// among them with their own, the body's own pictures left to the body, and
// the report's record of how each was shown, checked against the files.
#include "batch_support.h"

#include <made_files.h>
#include <msg_builder/msg_builder.h>

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>

namespace {

using namespace batch_test;
using msg_builder::Bytes;

constexpr std::int32_t kByValue = 1;
constexpr std::int32_t kByReference = 2;
constexpr std::int32_t kEmbedded = 5;

Bytes pngPicture() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(bytes.begin(), bytes.end());
}

Bytes jpegPhoto() {
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return Bytes(bytes.begin(), bytes.end());
}

Bytes pdfOfPages(int pages) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter(&writer);
    for (int i = 0; i < pages; ++i) {
        if (i > 0) {
            writer.newPage();
        }
        painter.drawText(200, 400, QStringLiteral("Page %1 of the attached PDF").arg(i + 1));
    }
    painter.end();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes fileBytes(const fs::path& path) {
    const std::string text = readFile(path);
    return Bytes(text.begin(), text.end());
}

bool libreOfficeInstalled() {
    return std::system(
               "command -v soffice >/dev/null 2>&1 && "
               "/usr/bin/python3 -c 'import uno' >/dev/null 2>&1") == 0;
}

// Whether an image file holds anything but white paper.
bool hasInk(const fs::path& path) {
    const QImage image(QString::fromStdString(path.string()));
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            if (qGray(image.pixel(x, y)) < 160) {
                return true;
            }
        }
    }
    return false;
}

msg_builder::AttachmentBuilder& fileAttachment(msg_builder::MessageBuilder& message,
                                               std::string_view name, Bytes data) {
    return message.addAttachment()
        .int32(0x3705, kByValue)
        .unicode(0x3707, name)
        .binary(0x3701, std::move(data));
}

void write(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::string qtSha256Of(const Bytes& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::vector<std::string> numbersOf(const Record& record) {
    std::vector<std::string> numbers;
    for (const auto& attachment : record.attachments) {
        numbers.push_back(attachment.number);
    }
    return numbers;
}

const tool::AttachmentRecord& numbered(const Record& record, const std::string& number) {
    for (const auto& attachment : record.attachments) {
        if (attachment.number == number) {
            return attachment;
        }
    }
    throw std::runtime_error("no attachment " + number);
}

TEST_F(BatchRun, AttachmentsFollowTheirMessageInOrderAndTheReportSaysHowEachIsShown) {
    msg_builder::MessageBuilder message;
    message.unicode(0x0037, "with attachments")
        .binary(0x1013, msg_builder::toBytes("<html><body><p>See the logo:</p>"
                                             "<img src=\"cid:logo@example\"></body></html>"));
    fileAttachment(message, "notes.txt", msg_builder::toBytes("first line\r\nsecond line\r\n"));
    msg_builder::MessageBuilder& forwarded = message.addAttachment()
                                                 .int32(0x3705, kEmbedded)
                                                 .unicode(0x3707, "forwarded.msg")
                                                 .embedded();
    forwarded.unicode(0x0037, "forwarded").unicode(0x1000, "the forwarded body");
    fileAttachment(forwarded, "inner.csv", msg_builder::toBytes("a,b\r\n1,2\r\n"));
    fileAttachment(message, "logo.png", pngPicture()).unicode(0x3712, "logo@example");
    const Bytes zip = msg_builder::toBytes(std::string("PK\x03\x04", 4) + "not really an archive");
    fileAttachment(message, "archive.zip", zip);
    message.addAttachment()
        .int32(0x3705, kByReference)
        .unicode(0x3707, "plan.pdf")
        .unicode(0x370D, "\\\\server\\share\\plan.pdf");
    const fs::path in = m_root / "in";
    write(in / "m.msg", message.build());

    const Outcome outcome = run({in.string(), "-o", (m_root / "out").string()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    const Record& record = records.at((in / "m.msg").string());
    expectRecordsTrue(records, m_root / "out");
    // The body, notes.txt, the forwarded message and its inner.csv, and a
    // page each for what is not shown; logo.png is the body's picture.
    ASSERT_EQ(record.images.size(), 6u);
    EXPECT_EQ(numbersOf(record), (std::vector<std::string>{"1", "2", "2.1", "4", "5"}));
    EXPECT_EQ(numbered(record, "1").name, "notes.txt");
    EXPECT_EQ(numbered(record, "1").type, "text/plain");
    EXPECT_EQ(numbered(record, "1").shown, "pages");
    EXPECT_EQ(numbered(record, "1").pages, std::vector<int>{2});
    EXPECT_EQ(numbered(record, "2").name, "forwarded.msg");
    EXPECT_EQ(numbered(record, "2").shown, "pages");
    EXPECT_EQ(numbered(record, "2").pages, std::vector<int>{3});
    EXPECT_EQ(numbered(record, "2.1").name, "inner.csv");
    EXPECT_EQ(numbered(record, "2.1").type, "text/csv");
    EXPECT_EQ(numbered(record, "2.1").pages, std::vector<int>{4});
    const auto& archive = numbered(record, "4");
    EXPECT_EQ(archive.shown, "placeholder");
    EXPECT_EQ(archive.size, zip.size());
    EXPECT_EQ(archive.sha256, qtSha256Of(zip));
    EXPECT_EQ(archive.pages, std::vector<int>{5});
    const auto& link = numbered(record, "5");
    EXPECT_EQ(link.shown, "placeholder");
    EXPECT_NE(link.reason.find("link to a file outside the message"), std::string::npos)
        << link.reason;
    EXPECT_TRUE(link.sha256.empty());
    // Still converted, with a warning naming each attachment not shown.
    EXPECT_EQ(record.status, Record::Status::Converted);
    const auto warned = [&](const std::string& name) {
        return std::any_of(record.warnings.begin(), record.warnings.end(),
                           [&](const std::string& w) { return w.find(name) != std::string::npos; });
    };
    EXPECT_TRUE(warned("\"archive.zip\" is not shown"));
    EXPECT_TRUE(warned("\"plan.pdf\" is not shown"));
    EXPECT_FALSE(warned("notes.txt"));

    // Without them: the message's own pages, and no attachments in the record.
    const Outcome without =
        run({"--no-attachments", in.string(), "-o", (m_root / "without").string()});
    ASSERT_EQ(without.status, 0) << without.err;
    const auto plain = reportBySource(m_root / "without" / "orvaline-report.jsonl");
    EXPECT_EQ(plain.at((in / "m.msg").string()).images.size(), 2u);  // the body, "forwarded"
    EXPECT_TRUE(plain.at((in / "m.msg").string()).attachments.empty());
    EXPECT_EQ(readFile(m_root / "without" / "orvaline-report.jsonl").find("\"attachments\""),
              std::string::npos);
}

// A message file attached as a file (not embedded) is shown as the message it
// is, with its own attachments; a damaged one as the file it is.
TEST_F(BatchRun, AnAttachedMessageFileIsShownAsAMessage) {
    msg_builder::MessageBuilder inner;
    inner.unicode(0x0037, "attached as a file").unicode(0x1000, "its body");
    fileAttachment(inner, "deep.txt", msg_builder::toBytes("deep down"));
    const Bytes innerBytes = inner.build();
    msg_builder::MessageBuilder outer;
    outer.unicode(0x0037, "outer").unicode(0x1000, "the outer body");
    fileAttachment(outer, "Attached.msg", innerBytes);
    Bytes damaged = innerBytes;
    damaged.resize(1024);
    fileAttachment(outer, "Damaged.msg", damaged);
    const fs::path in = m_root / "in";
    write(in / "outer.msg", outer.build());

    const Outcome outcome = run({"--no-header", in.string(), "-o", (m_root / "out").string()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    const Record& record = records.at((in / "outer.msg").string());
    EXPECT_EQ(numbersOf(record), (std::vector<std::string>{"1", "1.1", "2"}));
    EXPECT_EQ(numbered(record, "1").type, "application/vnd.ms-outlook");
    EXPECT_EQ(numbered(record, "1").shown, "pages");
    EXPECT_EQ(numbered(record, "1").sha256, qtSha256Of(innerBytes));
    EXPECT_EQ(numbered(record, "1.1").name, "deep.txt");
    EXPECT_EQ(numbered(record, "1.1").shown, "pages");
    EXPECT_EQ(numbered(record, "2").shown, "placeholder");
    EXPECT_EQ(record.images.size(), 4u);
}

// Each kind through the reader made for it: a picture, a PDF of three pages,
// an Office document through LibreOffice, and Internet mail with its own
// attachment; every page carries something.
TEST_F(BatchRun, PicturesPdfsOfficeDocumentsAndMailBecomePagesOfTheirOwn) {
    msg_builder::MessageBuilder message;
    message.unicode(0x0037, "kinds").unicode(0x1000, "four attachments follow");
    fileAttachment(message, "photo.jpg", jpegPhoto());
    fileAttachment(message, "three pages.pdf", pdfOfPages(3));
    fileAttachment(message, "letter.docx", fileBytes(fs::path(OFFICE_TEST_DATA) / "letter.docx"));
    const std::string eml =
        "From: Ann Example <ann@example.com>\r\nTo: bob@example.com\r\n"
        "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\nDate: Tue, 8 Dec 2026 10:00:00 +0100\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nThe mail's own body.\r\n"
        "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=inner.txt"
        "\r\n\r\nnested text\r\n--b--\r\n";
    fileAttachment(message, "forwarded.eml", msg_builder::toBytes(eml));
    const fs::path in = m_root / "in";
    write(in / "kinds.msg", message.build());

    const Outcome outcome = run({in.string(), "-o", (m_root / "out").string()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    const Record& record = records.at((in / "kinds.msg").string());
    expectRecordsTrue(records, m_root / "out");
    EXPECT_EQ(numbersOf(record), (std::vector<std::string>{"1", "2", "3", "4", "4.1"}));
    EXPECT_EQ(numbered(record, "1").type, "image/jpeg");
    EXPECT_EQ(numbered(record, "1").shown, "pages");
    EXPECT_EQ(numbered(record, "1").pages, std::vector<int>{2});
    EXPECT_EQ(numbered(record, "2").type, "application/pdf");
    EXPECT_EQ(numbered(record, "2").pages, (std::vector<int>{3, 4, 5}));
    const auto& letter = numbered(record, "3");
    if (libreOfficeInstalled()) {
        EXPECT_EQ(letter.shown, "pages") << letter.reason;
        EXPECT_EQ(letter.pages, std::vector<int>{6});
    } else {
        EXPECT_EQ(letter.shown, "placeholder");
        EXPECT_NE(letter.reason.find("LibreOffice"), std::string::npos) << letter.reason;
    }
    EXPECT_EQ(numbered(record, "4").type, "message/rfc822");
    EXPECT_EQ(numbered(record, "4").shown, "pages");
    EXPECT_EQ(numbered(record, "4.1").name, "inner.txt");
    EXPECT_EQ(numbered(record, "4.1").shown, "pages");
    ASSERT_EQ(record.images.size(), 8u);
    for (const auto& image : record.images) {
        EXPECT_TRUE(hasInk(m_root / "out" / image.path)) << image.path;
    }
}

// Signed and encrypted mail of the corpus: a signed message shows its body and
// the signed content's attachments (not its smime.p7m), an encrypted one a
// page that says so; never a blank page.
TEST_F(BatchRun, SignedMailShowsItsContentAndEncryptedMailSaysWhyItCannot) {
    const fs::path in = m_root / "in";
    for (const char* name : {"omp__S_MIME_test_message_signed.msg",
                             "omp__S_MIME_test_message_encrypted.msg", "eom__gpg_signed.msg"}) {
        copyCorpus(name, in / name);
    }
    const Outcome outcome = run({in.string(), "-o", (m_root / "out").string()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    for (const auto& [source, record] : records) {
        for (const auto& image : record.images) {
            EXPECT_TRUE(hasInk(m_root / "out" / image.path)) << image.path;
        }
    }
    const Record& mime = records.at((in / "omp__S_MIME_test_message_signed.msg").string());
    EXPECT_EQ(numbered(mime, "1").shown, "content");
    EXPECT_EQ(numbered(mime, "1").type, "multipart/signed");
    EXPECT_EQ(numbered(mime, "1.1").type, "application/pdf");
    EXPECT_EQ(numbered(mime, "1.1").shown, "pages");
    const Record& gpg = records.at((in / "eom__gpg_signed.msg").string());
    EXPECT_EQ(numbered(gpg, "1").shown, "content");
    const Record& encrypted = records.at((in / "omp__S_MIME_test_message_encrypted.msg").string());
    ASSERT_EQ(encrypted.images.size(), 1u);
    EXPECT_EQ(numbered(encrypted, "1").shown, "placeholder");
    EXPECT_NE(numbered(encrypted, "1").reason.find("recipient's key"), std::string::npos);
}

// Every attachment of every corpus message is pages or a page that says why
// it is not shown, and the report's page numbers stay within the images.
TEST_F(BatchRun, EveryCorpusAttachmentIsShownOrSaysWhyNot) {
    const Outcome outcome = run({kCorpus, "-o", (m_root / "out").string()});
    ASSERT_LE(outcome.status, 1) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    std::size_t attachments = 0;
    for (const auto& [source, record] : records) {
        if (record.status != Record::Status::Converted) {
            continue;
        }
        for (const auto& a : record.attachments) {
            ++attachments;
            SCOPED_TRACE(source + " attachment " + a.number);
            EXPECT_TRUE(a.shown == "pages" || a.shown == "placeholder" || a.shown == "content")
                << a.shown;
            if (a.shown == "placeholder") {
                EXPECT_FALSE(a.reason.empty());
            }
            if (a.shown != "content") {
                EXPECT_FALSE(a.pages.empty());
            }
            for (const int page : a.pages) {
                EXPECT_GE(page, 1);
                EXPECT_LE(static_cast<std::size_t>(page), record.images.size());
            }
        }
    }
    EXPECT_GT(attachments, 0u);
}

// What no attachment may do: take the machine's memory (a picture that claims
// 30,000 x 30,000 pixels, a size that claims 2 GiB), nest without end (mail
// in mail, a hundred deep), or hold up the run (LibreOffice that hangs).
// Each gets a page that says so and a warning; the other pages are written.
TEST_F(BatchRun, AttachmentsThatWouldExhaustOrHangGetAPageSayingSo) {
    msg_builder::MessageBuilder message;
    message.unicode(0x0037, "bounds").unicode(0x1000, "the body");
    const QByteArray bomb = made_files::pngClaiming(30000, 30000);
    fileAttachment(message, "huge.png", Bytes(bomb.begin(), bomb.end()));
    message.addAttachment()
        .int32(0x3705, kByValue)
        .unicode(0x3707, "claims-2GiB.bin")
        .int32(0x0E20, 0x7FFFFFFF);
    std::string nested = "Subject: level 100\r\n\r\nthe innermost body\r\n";
    for (int level = 99; level >= 1; --level) {
        nested = "Subject: level " + std::to_string(level) +
                 "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b" +
                 std::to_string(level) + "\r\n\r\n--b" + std::to_string(level) +
                 "\r\nContent-Type: text/plain\r\n\r\nlevel " + std::to_string(level) + "\r\n--b" +
                 std::to_string(level) + "\r\nContent-Type: message/rfc822\r\n\r\n" + nested +
                 "\r\n--b" + std::to_string(level) + "--\r\n";
    }
    fileAttachment(message, "deep.eml", msg_builder::toBytes(nested));
    fileAttachment(message, "letter.docx", fileBytes(fs::path(OFFICE_TEST_DATA) / "letter.docx"));
    fileAttachment(message, "after.txt", msg_builder::toBytes("still shown"));
    const fs::path in = m_root / "in";
    write(in / "bounds.msg", message.build());
    // A LibreOffice that never answers.
    const fs::path fake = m_root / "fake-office";
    fs::create_directories(fake);
    std::ofstream(fake / "soffice") << "#!/bin/sh\nexit 0\n";
    std::ofstream(fake / "soffice.bin") << "#!/bin/sh\nexec sleep 600\n";
    fs::permissions(fake / "soffice", fs::perms::owner_all);
    fs::permissions(fake / "soffice.bin", fs::perms::owner_all);
    Options options;
    options.env = {{"PATH", fake.string() + ":/usr/bin:/bin"}};

    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome =
        run({"--office-timeout", "2", in.string(), "-o", (m_root / "out").string()}, options);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    const Record& record = records.at((in / "bounds.msg").string());
    expectRecordsTrue(records, m_root / "out");
    const auto warned = [&](const std::string& text) {
        return std::any_of(record.warnings.begin(), record.warnings.end(),
                           [&](const std::string& w) { return w.find(text) != std::string::npos; });
    };
    EXPECT_EQ(numbered(record, "1").shown, "placeholder");
    EXPECT_NE(numbered(record, "1").reason.find("30000 x 30000"), std::string::npos)
        << numbered(record, "1").reason;
    EXPECT_TRUE(warned("\"huge.png\" is not shown"));
    EXPECT_EQ(numbered(record, "2").shown, "placeholder");
    EXPECT_EQ(numbered(record, "2").size, 0x7FFFFFFFu);
    // The mail in mail goes as deep as the limit, then a page says why not.
    std::size_t deepest = 0;
    for (const auto& a : record.attachments) {
        deepest = std::max(
            deepest, static_cast<std::size_t>(std::count(a.number.begin(), a.number.end(), '.')));
        if (a.shown == "placeholder" && a.reason.find("nested deeper") != std::string::npos) {
            EXPECT_TRUE(warned(a.name + "\" is not shown")) << a.name;
        }
    }
    EXPECT_GE(deepest, 30u);
    EXPECT_LE(deepest, 40u);
    const auto& letter = numbered(record, "4");
    EXPECT_EQ(letter.shown, "placeholder");
    EXPECT_NE(letter.reason.find("took longer than 2 s"), std::string::npos) << letter.reason;
    EXPECT_EQ(numbered(record, "5").shown, "pages");
    EXPECT_EQ(record.status, Record::Status::Converted);
}

// The page cap counts an attachment's pages with the message's: a PDF of
// 100,000 pages fills the message's pages to the cap, and says so.
TEST_F(BatchRun, ThePageCapCountsAttachmentPages) {
    msg_builder::MessageBuilder message;
    message.unicode(0x0037, "long").unicode(0x1000, "the body");
    const QByteArray pdf = made_files::manyPagesPdf(100'000);
    fileAttachment(message, "long.pdf", Bytes(pdf.begin(), pdf.end()));
    fileAttachment(message, "after.txt", msg_builder::toBytes("no room left"));
    const fs::path in = m_root / "in";
    write(in / "long.msg", message.build());
    const Outcome outcome =
        run({"--dpi", "72", "--quality", "30", in.string(), "-o", (m_root / "out").string()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto records = reportBySource(m_root / "out" / "orvaline-report.jsonl");
    const Record& record = records.at((in / "long.msg").string());
    EXPECT_EQ(record.images.size(), 500u);
    EXPECT_EQ(numbered(record, "1").pages.size(), 499u);
    EXPECT_EQ(numbersOf(record), std::vector<std::string>{"1"});
    const auto warned = [&](const std::string& text) {
        return std::any_of(record.warnings.begin(), record.warnings.end(),
                           [&](const std::string& w) { return w.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(warned("pages are left out")) << outcome.err;
    EXPECT_TRUE(warned("parts of the message are left out"));
}

TEST(BatchPieces, ReportKeepsEachAttachmentsRecord) {
    Record record;
    record.source = "m.msg";
    record.size = 10;
    record.status = Record::Status::Converted;
    record.images = {{"m_1.jpg", "aa"}, {"m_2.jpg", "bb"}};
    tool::AttachmentRecord shown{
        "1", "plan \"final\".pdf", "application/pdf", 81234, "cc", "pages", "", {2}};
    tool::AttachmentRecord placeholder{
        "1.2", "caf\xc3\xa9\xff.zip", "application/zip",         7,
        "dd",  "placeholder",         "no reader for this kind", {3}};
    record.attachments = {shown, placeholder};
    const std::string line = batch::toLine(record);
    const auto back = batch::fromLine(line.substr(0, line.size() - 1));
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->attachments.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& a = record.attachments[i];
        const auto& b = back->attachments[i];
        EXPECT_EQ(std::tie(a.number, a.name, a.type, a.size, a.sha256, a.shown, a.reason, a.pages),
                  std::tie(b.number, b.name, b.type, b.size, b.sha256, b.shown, b.reason, b.pages));
    }
    EXPECT_EQ(line.find("\"reason\":\"\""), std::string::npos);  // no empty reason written
}

}  // namespace
