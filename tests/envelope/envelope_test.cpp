// The header block of real corpus messages and of messages built here, laid
// out by the engine as the converter hands it over (body, pictures, header
// HTML), and read back from the laid-out document. 8-bit strings go through
// the rendering library's code-page entry point, loaded as the converter
// loads it.
#include "tool/converter.h"

#include "engine/paged_document.h"

#include <envelope/envelope.h>
#include <msg_builder/msg_builder.h>

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::string libraryPath() {
    const char* bin = std::getenv("ORVALINE_BIN");
    return std::string(bin != nullptr ? bin : ORVALINE_BIN_DIR) + "/" + render::kLibraryFileName;
}

QString corpusDir() {
    const QByteArray root = qgetenv("ORVALINE_CORPUS");
    return (root.isEmpty() ? QStringLiteral(ORVALINE_CORPUS_DIR) : QString::fromLocal8Bit(root)) +
           QStringLiteral("/msg/");
}

// A message's first document as the converter lays it out with --header:
// the text of its first page, and all of it.
struct LaidOut {
    QString firstPage;
    QString all;
    std::vector<std::string> warnings;
};

class EnvelopeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_library = new render::Library(libraryPath()); }
    static void TearDownTestSuite() {
        delete s_library;
        s_library = nullptr;
    }

    static LaidOut layOut(const tool::Message& message, tool::ConvertOptions options = {}) {
        options.header = true;
        const tool::RenderBody body = tool::selectBody(message);
        envelope::Header header =
            tool::messageHeader(message, body, options, tool::codePageDecoder(*s_library));
        render::engine::LoadOptions load;
        load.codePage = static_cast<int>(body.codePage);
        if (body.kind == tool::RenderBody::Kind::Html) {
            load.format = render::engine::SourceFormat::Html;
        } else if (body.kind == tool::RenderBody::Kind::Text) {
            load.format = render::engine::SourceFormat::Text;
        }
        load.header = QString::fromStdString(envelope::toText(header));
        const auto paged = render::engine::PagedDocument::load(body.bytes, body.images, load);
        const QTextDocument& doc = paged.document();
        LaidOut out;
        out.all = doc.toPlainText();
        out.warnings = std::move(header.warnings);
        const double pageHeight = doc.pageSize().height();
        for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
            if (doc.documentLayout()->blockBoundingRect(b).top() < pageHeight) {
                // A row's label and value, as lines of their own.
                out.firstPage += QString(b.text()).replace(u'\t', u'\n') + u'\n';
            }
        }
        return out;
    }

    static LaidOut layOutCorpus(const char* name, const tool::ConvertOptions& options = {}) {
        const tool::Message message{(corpusDir() + QString::fromLatin1(name)).toStdString()};
        return layOut(message, options);
    }

    static QStringList names() {
        return QDir(corpusDir()).entryList({QStringLiteral("*.msg")}, QDir::Files);
    }

    static render::Library* s_library;
};

render::Library* EnvelopeTest::s_library = nullptr;

// What the designed accessors read, when they read it whole (they decode
// 8-bit strings as UTF-8 only).
std::optional<QString> designedText(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    QString q = QString::fromStdString(*text).trimmed();
    q.remove(QChar(0));
    if (q.isEmpty() || q.contains(QChar(QChar::ReplacementCharacter))) {
        return std::nullopt;
    }
    return q;
}

TEST_F(EnvelopeTest, EveryCorpusMessageShowsItsSubjectAndSenderOnItsFirstPage) {
    const QStringList names = QDir(corpusDir()).entryList({QStringLiteral("*.msg")}, QDir::Files);
    ASSERT_FALSE(names.isEmpty()) << "no corpus in " << corpusDir().toStdString();
    int loaded = 0;
    int shown = 0;
    for (const QString& name : names) {
        std::optional<tool::Message> message;
        try {
            message.emplace((corpusDir() + name).toStdString());
        } catch (const std::exception&) {
            continue;  // the three that do not load fail in the converter's test
        }
        ++loaded;
        const LaidOut out = layOut(*message);
        EXPECT_TRUE(out.warnings.empty()) << name.toStdString() << ": " << out.warnings.front();
        const auto subject = designedText(message->Subject());
        auto sender = designedText(message->GetMapiPropertyString("0042"));
        if (!sender) {
            sender = designedText(message->From());
        }
        if (subject) {
            EXPECT_TRUE(out.firstPage.contains(QStringLiteral("Subject:\n") + *subject))
                << name.toStdString() << "\n"
                << out.firstPage.left(600).toStdString();
        }
        if (sender) {
            // The From (or Organizer) row names them, perhaps "on behalf of".
            const QStringList lines = out.firstPage.split(u'\n');
            const auto from = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
                return l == QStringLiteral("From:") || l == QStringLiteral("Organizer:");
            });
            EXPECT_TRUE(from != lines.end() && from + 1 != lines.end() &&
                        (from + 1)->contains(*sender))
                << name.toStdString() << "\n"
                << out.firstPage.left(600).toStdString();
        }
        shown += subject && sender ? 1 : 0;
    }
    // Nearly every real mail has both; some items and drafts lack one.
    EXPECT_GE(shown * 10, loaded * 8) << shown << " of " << loaded;
}

// Rows of real messages as they stand on the laid-out page: label, then value.
TEST_F(EnvelopeTest, CorpusRowsOnTheFirstPage) {
    ASSERT_FALSE(names().isEmpty()) << "no corpus in " << corpusDir().toStdString();
    const struct {
        const char* file;
        std::vector<QString> rows;
        std::vector<QString> absent;
    } cases[] = {
        // A sent item: its Bcc recipients, by type 3 of the recipient table;
        // a recipient without a display name is its address alone.
        {"poi__example_sent_regular.msg",
         {QStringLiteral("From:\nMike Farman <mike.farman@alfresco.com>\nSent:\n"
                         "Monday, 11 January 2010 16:25\nTo:\n'Ashutosh Dandavate' "
                         "<ashutosh.dandavate@alfresco.com>; 'Paul Holmes-Higgin' "
                         "<paul.hh@alfresco.com>; 'Mike Farman' <mikef@alfresco.com>\nCc:\n"
                         "nickb@alfresco.com; nick.burch@alfresco.com; 'Roy Wetherall' "
                         "<roy.wetherall@alfresco.com>\nBcc:\n'David Caruana' "
                         "<dave.caruana@alfresco.com>; 'Vonka Jan' <jan.vonka@alfresco.com>\n"
                         "Subject:\nThis is a test message please ignore\n")},
         {}},
        // Sender and recipients with Exchange and SMTP addresses: SMTP shown.
        {"omp__OutlookMessage_with_X500_dual_address.msg",
         {QStringLiteral("From:\nSven Sielenkemper <sielenkemper@otris.de>\n"),
          QStringLiteral("Attachments:\nsmime.p7m (1.9 MB)\n")},
         {QStringLiteral("/O=")}},
        // The organizer has only an Exchange address; its SMTP twin is the
        // attendee with the same Exchange address.
        {"poi__msgClassAppointment.msg",
         {QStringLiteral("Organizer:\nAllison, Timothy B. <tallison@mitre.org>\n"),
          QStringLiteral("Required Attendees:\nAllison, Timothy B. <tallison@mitre.org>\n"),
          QStringLiteral("When:\nTuesday, 28 February 2017 18:30 \u2013 19:00\n"
                         "Location:\nunder lazy dog\n")},
         {QStringLiteral("/o="), QStringLiteral("(not sent)")}},
        // 8-bit strings in code page 1251.
        {"poi__cyrillic_message.msg",
         {QStringLiteral("To:\n\u0421\u0432\u0438\u0440\u0438\u0434\u043e\u0432 "
                         "\u0414\u043c\u0438\u0442\u0440\u0438\u0439 "
                         "\u0412\u043b\u0430\u0434\u0438\u043c\u0438\u0440\u043e\u0432\u0438\u0447"
                         " <sviridov@niips.ru>\n"),
          QStringLiteral("Subject:\n\u0410\u0432\u0442\u043e\u043c\u0430\u0442\u0438\u0447\u0435"
                         "\u0441\u043a\u0438\u0439 \u043e\u0442\u0432\u0435\u0442")},
         {QString(QChar(QChar::ReplacementCharacter))}},
        // A draft: no date is made up.
        {"omp__unsent_draft.msg",
         {QStringLiteral("Sent:\n(not sent)\nTo:\ntime2talk@online-convert.com\nSubject:\n"
                         "MSG Test File\n")},
         {}},
        {"poi__msgClassContact.msg",
         {QStringLiteral("Full Name:\nDr Quick Brown Fox Jr\nCompany:\nFence Co\nJob Title:\n"
                         "Jumper\nE-mail:\nquickbrown@gmail.com\nBusiness:\n(123) 456-7890\n"
                         "Business Fax:\n(345) 678-9012\nHome:\n(234) 567-8901\nMobile:\n"
                         "(456) 789-0123\nBusiness Address:\n12 Lazy Dog Lane")},
         {}},
        {"poi__msgClassTask.msg",
         {QStringLiteral("Start Date:\nSunday, 19 February 2017\nDue Date:\nFriday, 10 March 2017"
                         "\nStatus:\nIn Progress\n% Complete:\n0%\n")},
         {}},
    };
    tool::ConvertOptions utc;
    utc.timeZone = "UTC";
    for (const auto& c : cases) {
        const LaidOut out = layOutCorpus(c.file, utc);
        for (const QString& row : c.rows) {
            EXPECT_TRUE(out.firstPage.contains(row)) << c.file << " lacks\n"
                                                     << row.toStdString() << "\nin\n"
                                                     << out.firstPage.toStdString();
        }
        for (const QString& text : c.absent) {
            EXPECT_FALSE(out.firstPage.contains(text, Qt::CaseInsensitive))
                << c.file << " shows " << text.toStdString();
        }
    }
    // Dates follow the zone asked for: 18:30 UTC is 19:30 in Berlin in winter.
    tool::ConvertOptions berlin;
    berlin.timeZone = "Europe/Berlin";
    EXPECT_TRUE(
        layOutCorpus("poi__msgClassAppointment.msg", berlin)
            .firstPage.contains(QStringLiteral("Tuesday, 28 February 2017 19:30 \u2013 20:00")));
}

// 1321 recipients: every one of them is there, over the pages it takes, and
// the subject still stands on the first page.
TEST_F(EnvelopeTest, ALongRecipientListIsNeverCut) {
    ASSERT_FALSE(names().isEmpty()) << "no corpus in " << corpusDir().toStdString();
    const tool::Message message{
        (corpusDir() + QStringLiteral("poi__lots-of-recipients.msg")).toStdString()};
    const LaidOut out = layOut(message);
    EXPECT_TRUE(out.firstPage.contains(QStringLiteral("Subject:\nRead Original Extract")));
    EXPECT_TRUE(
        out.firstPage.contains(QStringLiteral("To:\nNiranjan Salian <niranjansalian@yahoo.com>;")));
    int listed = 0;
    for (const auto& recipient : message.Recipients()) {
        const auto address = recipient->SmtpAddress();
        ASSERT_TRUE(address);
        listed +=
            out.all.contains(QStringLiteral("<%1>").arg(QString::fromStdString(*address))) ? 1 : 0;
    }
    EXPECT_EQ(listed, 1321);
}

std::vector<std::uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

// 8-bit strings: the declared code page when the bytes are valid in it, else
// the next one; an embedded message without code pages reads in its parent's;
// trailing NULs never print; markup in the message is text.
TEST_F(EnvelopeTest, EightBitStringsFallBackThroughTheCodePagesAndMarkupStaysText) {
    msg_builder::MessageBuilder parent;
    parent.int32(0x3FFD, 65001)
        .int32(0x3FDE, 1251)
        .string8(0x0C1A, std::string_view("Gr\xC3\xBC\xC3\x9F <b>&amp;</b>\0\0", 21))
        .string8(0x0037, "\xCF\xF0\xE8\xE2\xE5\xF2")  // not UTF-8: Windows-1251
        .unicode(0x1013, "<html><body><img src=\"cid:logo@x\"> body</body></html>");
    parent.addAttachment()
        .int32(0x3705, 1)
        .unicode(0x3712, "logo@x")
        .unicode(0x3707, "logo.png")
        .binary(0x3701, bytesOf("PNG"));
    parent.addAttachment()
        .int32(0x3705, 1)
        .string8(0x3707, "\xF1\xF7\xE5\xF2.pdf")
        .binary(0x3701, std::vector<std::uint8_t>(5000, 'x'));
    parent.addAttachment()
        .int32(0x3705, 5)
        .unicode(0x3001, "Forwarded one")
        .int32(0x0E20, 3000)
        .embedded()
        .string8(0x0037, "\xCF\xF0\xE8")
        .string8(0x1000, "inner");
    const std::vector<std::uint8_t> data = parent.build();
    const tool::Message message{std::span<const std::uint8_t>(data)};
    const LaidOut out = layOut(message);
    EXPECT_TRUE(out.firstPage.startsWith(QStringLiteral("Gr\u00fc\u00df <b>&amp;</b>\n")))
        << out.firstPage.toStdString();
    EXPECT_TRUE(
        out.firstPage.contains(QStringLiteral("Subject:\n\u041f\u0440\u0438\u0432\u0435\u0442\n")));
    // The picture the body shows is not listed; the embedded message is.
    EXPECT_TRUE(out.firstPage.contains(QStringLiteral(
        "Attachments:\n\u0441\u0447\u0435\u0442.pdf (5 KB); Forwarded one (3 KB)\n")))
        << out.firstPage.toStdString();
    EXPECT_FALSE(out.firstPage.contains(QStringLiteral("logo.png")));
    EXPECT_FALSE(out.all.contains(QChar(0)));

    ASSERT_EQ(message.Messages().size(), 1u);
    const LaidOut inner = layOut(*message.Messages()[0]);
    EXPECT_TRUE(inner.firstPage.contains(QStringLiteral("Subject:\n\u041f\u0440\u0438\n")))
        << inner.firstPage.toStdString();
    EXPECT_TRUE(inner.firstPage.contains(QStringLiteral("Sent:\n(not sent)\n")));
}

// 100 ns ticks since 1601 of a time given in Unix seconds.
std::int64_t fileTime(std::int64_t unixSeconds) {
    return (unixSeconds + 11'644'473'600LL) * 10'000'000LL;
}

TEST(EnvelopeTime, DatesInTheNamedZoneLeaveTheProcessZoneAsItWas) {
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> before =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    // 2026-12-08 00:27 UTC; 2026-07-01 12:00 UTC.
    const std::int64_t winter = fileTime(1796689620);
    const std::int64_t summer = fileTime(1782907200);
    EXPECT_EQ(envelope::formatTime(winter, "Europe/Berlin"), "Tuesday, 8 December 2026 01:27");
    EXPECT_EQ(envelope::formatTime(summer, "Europe/Berlin"), "Wednesday, 1 July 2026 14:00");
    EXPECT_EQ(envelope::formatTime(summer, "America/New_York", false), "Wednesday, 1 July 2026");
    // Empty: the process's own zone, which is still Tokyo.
    EXPECT_EQ(envelope::formatTime(summer, ""), "Wednesday, 1 July 2026 21:00");
    EXPECT_STREQ(std::getenv("TZ"), "Asia/Tokyo");
    // Mail programs' "no date" (4501-01-01) and times before 1601 are no date.
    EXPECT_EQ(envelope::formatTime(0x0CB34557A3DD4000LL, "UTC"), std::nullopt);
    EXPECT_EQ(envelope::formatTime(-1, "UTC"), std::nullopt);
    if (before) {
        setenv("TZ", before->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace
