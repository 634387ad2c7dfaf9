// The reader over the real RTF documents of the corpus.
#include "test_util.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace rtftest;

namespace {

QString messageDir() {
    return QStringLiteral(RTF_TEST_DATA "/messages");
}

QString corpusDir() {
    QByteArray dir = qgetenv("ORVALINE_CORPUS");
    if (dir.isEmpty()) {
        dir = RTF_TEST_CORPUS;
    }
    return QString::fromLocal8Bit(dir) + QStringLiteral("/rtf");
}

std::string readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return bytes.toStdString();
}

}  // namespace

TEST(RtfCorpus, EveryDocumentReadsAndMostHaveText) {
    const QDir dir(corpusDir());
    const QStringList files = dir.entryList({QStringLiteral("*.rtf")}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        FAIL() << "no corpus at " << corpusDir().toStdString();
    }
    int withText = 0;
    for (const QString& name : files) {
        const std::string bytes = readFile(dir.filePath(name));
        try {
            auto r = read(bytes);
            if (!allText(*r.document).trimmed().isEmpty()) {
                ++withText;
            }
        } catch (const rtf::RtfError& e) {
            ADD_FAILURE() << name.toStdString() << ": " << e.what();
        }
    }
    EXPECT_GE(withText, files.size() * 9 / 10);
}

TEST(RtfCorpus, KnownTextLandsDecoded) {
    if (corpusDir().isEmpty() || !QFile::exists(corpusDir())) {
        FAIL() << "no corpus at " << corpusDir().toStdString();
    }
    struct Case {
        const char* file;
        const char16_t* text;
    };
    const Case cases[] = {
        {"tika__testRTFWindowsCodepage1250.rtf",
         u"za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105"},
        {"tika__testRTFJapanese.rtf", u"\u30be\u30eb\u30b2"},  // Shift-JIS under \fcharset128
        {"rpk__testGreekEncoding.rtf", u"\u20ac\u03a9"},
    };
    for (const Case& c : cases) {
        const std::string bytes = readFile(corpusDir() + u'/' + QString::fromLatin1(c.file));
        if (bytes.empty()) {
            ADD_FAILURE() << "corpus file missing or empty: " << corpusDir().toStdString() << '/'
                          << c.file;
            continue;
        }
        auto r = read(bytes);
        EXPECT_TRUE(allText(*r.document).contains(QString::fromUtf16(c.text))) << c.file;
    }
}

TEST(RtfCorpus, EncapsulatedHtmlParsesWithoutCssOrOfficeTagsAsText) {
    if (corpusDir().isEmpty() || !QFile::exists(corpusDir())) {
        FAIL() << "no corpus at " << corpusDir().toStdString();
    }
    int checked = 0;
    for (const char* name : {"tika__testRTFHyperlink.rtf", "tika__testRTFTIKA_1713.rtf",
                             "tika__testRTFTIKA_2883.rtf"}) {
        const std::string bytes = readFile(corpusDir() + u'/' + QString::fromLatin1(name));
        if (bytes.empty()) {
            continue;
        }
        const QString html = QString::fromStdString(rtf::extractHtml(bytesOf(bytes)));
        EXPECT_TRUE(html.contains(QStringLiteral("<HTML>"), Qt::CaseInsensitive)) << name;
        auto r = read(bytes);
        EXPECT_EQ(r.encapsulation, rtf::Encapsulation::Html);
        const QString text = allText(*r.document);
        EXPECT_FALSE(text.trimmed().isEmpty()) << name;
        for (const char* leak : {"FONT-FAMILY", "PADDING:", "<o:p>", "</", "\\htmlrtf", "{\\"}) {
            EXPECT_FALSE(text.contains(QString::fromLatin1(leak), Qt::CaseInsensitive))
                << name << " " << leak;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

// Bodies of real messages (see tests/data/rtf/messages/README.md).
TEST(RtfMessages, EncapsulatedHtmlBodiesShowTheirTextOnceAndNoMarkup) {
    struct Case {
        const char* file;
        const char16_t* phrase;
    };
    const Case cases[] = {
        {"poi__attachment_msg_inlineImg.rtf",
         u"Configure SQLite Manager to appear in Firefox main UI"},
        {"tika__test-outlook.rtf", u"r\u00e9ponse"},
        {"omp__HTML_mail_with_replyto_and_attachment_and_embedded_image.rtf",
         u"We should meet up!"},
    };
    for (const Case& c : cases) {
        const std::string bytes = readFile(messageDir() + u'/' + QString::fromLatin1(c.file));
        ASSERT_FALSE(bytes.empty()) << c.file;
        const QString html = QString::fromStdString(rtf::extractHtml(bytesOf(bytes)));
        EXPECT_GE(html.count(u'<'), 2) << c.file;
        EXPECT_EQ(html.count(u'<'), html.count(u'>')) << c.file;
        auto r = read(bytes);
        EXPECT_EQ(r.encapsulation, rtf::Encapsulation::Html) << c.file;
        const QString text = allText(*r.document);
        // Text that only the RTF rendition holds must not show a second time.
        EXPECT_EQ(text.count(QString::fromUtf16(c.phrase)), 1) << c.file;
        for (const char* leak : {"mso-", "font-family", "o:p", "</", "{\\", "htmlrtf", "endif"}) {
            EXPECT_FALSE(text.contains(QString::fromLatin1(leak), Qt::CaseInsensitive))
                << c.file << " shows " << leak;
        }
    }
}

TEST(RtfMessages, EncapsulatedTextKeepsLinesAndCyrillic) {
    const std::string bytes = readFile(messageDir() + QStringLiteral("/poi__cyrillic_message.rtf"));
    ASSERT_FALSE(bytes.empty());
    auto r = read(bytes);
    EXPECT_EQ(r.encapsulation, rtf::Encapsulation::Text);
    const QString text = allText(*r.document);
    EXPECT_TRUE(text.contains(QStringLiteral(
        u"\u0412\u0430\u0448\u0435 \u0441\u043e\u043e\u0431\u0449\u0435\u043d\u0438\u0435")));
    EXPECT_TRUE(text.contains(QStringLiteral("10595000.58B\n10595000.56B\n")));
}
