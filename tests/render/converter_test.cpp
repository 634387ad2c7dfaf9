// The converter tool "Kestrune.exe", run as the application runs it: one
// process per message, on corpus messages and on messages built here. Its
// images are decoded back.
#include "tool/converter.h"

#include "engine/paged_document.h"

#include <rtf/rtf_reader.h>

#include <msg_builder/msg_builder.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <functional>
#include <optional>

#include <string>

namespace {

QString binDir() {
    const QByteArray bin = qgetenv("ORVALINE_BIN");
    return bin.isEmpty() ? QStringLiteral(ORVALINE_BIN_DIR) : QString::fromLocal8Bit(bin);
}

QString corpus(const QString& name) {
    const QByteArray root = qgetenv("ORVALINE_CORPUS");
    return (root.isEmpty() ? QStringLiteral(ORVALINE_CORPUS_DIR) : QString::fromLocal8Bit(root)) +
           QStringLiteral("/msg/") + name;
}

struct ToolRun {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& args, const QString& workingDir,
                const QString& program = binDir() + QStringLiteral("/Kestrune.exe"),
                const std::function<void()>& childSetup = {}) {
    QProcess process;
    process.setWorkingDirectory(workingDir);
    if (childSetup) {
        process.setChildProcessModifier(childSetup);
    }
    process.start(program, args);
    process.waitForFinished(180000);
    ToolRun run;
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool hasDarkPixels(const QImage& image) {
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            if (qGray(image.pixel(x, y)) < 128) {
                return true;
            }
        }
    }
    return false;
}

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

QString saveMessage(const QString& path, const msg_builder::MessageBuilder& builder) {
    const std::vector<std::uint8_t> data = builder.build();
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size()));
    return path;
}

QString plainMessage(const QString& path, const std::string& utf8Body) {
    msg_builder::MessageBuilder builder;
    builder.unicode(0x1000, utf8Body);
    return saveMessage(path, builder);
}

QString rtfMessage(const QString& path, const std::string& rtf) {
    msg_builder::MessageBuilder builder;
    builder.rtfBody(rtf);
    return saveMessage(path, builder);
}

std::string longText(int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i) {
        text += "This is line " + std::to_string(i) + " of a long plain body.\r\n";
    }
    return text;
}

class ConverterTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QTemporaryDir m_cwd;  // the tool's working folder: must stay empty
};

// --- the command line -------------------------------------------------------

TEST_F(ConverterTest, FewerThanTwoArgumentsPrintTheUsageLineAndTouchNothing) {
    for (const QStringList& args : {QStringList{}, QStringList{path("x.msg")}}) {
        const ToolRun run = runTool(args, m_cwd.path());
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, QStringLiteral("Usage: Veltrane.exe <msg_file> <output_file>\n"));
        EXPECT_TRUE(run.err.isEmpty());
    }
    EXPECT_TRUE(filesIn(m_cwd.path()).isEmpty());
    EXPECT_TRUE(filesIn(m_dir.path()).isEmpty());
}

TEST_F(ConverterTest, OnePageGoesToTheOutputPathItselfAndFurtherArgumentsAreIgnored) {
    const QString msg = plainMessage(path("m.msg"), "Hello plain body");
    const ToolRun run = runTool(
        {msg, path("Out.jpg"), QStringLiteral("ignored"), QStringLiteral("x")}, m_cwd.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(filesIn(m_dir.path()), (QStringList{"Out.jpg", "m.msg"}));
    const QImage page(path("Out.jpg"));
    EXPECT_EQ(page.size(), QSize(816, 1056));
    EXPECT_TRUE(hasDarkPixels(page));
}

// Share of the inked pixels that are neither near black nor near white: the
// soft edge of a page drawn small and scaled up is wide, a page drawn at its
// resolution has crisp glyphs.
double blurredShare(const QImage& image) {
    long inked = 0;
    long grey = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int g = qGray(image.pixel(x, y));
            inked += g < 224 ? 1 : 0;
            grey += g >= 48 && g < 224 ? 1 : 0;
        }
    }
    return inked == 0 ? 1.0 : static_cast<double>(grey) / static_cast<double>(inked);
}

TEST_F(ConverterTest, OptionsAfterThePathsSetResolutionAndPaperAndBadOnesWriteNothing) {
    const QString msg = plainMessage(path("m.msg"), "Resolution test: sharp glyphs gjpqy 0123");
    ASSERT_EQ(runTool({msg, path("96.jpg")}, m_cwd.path()).exitCode, 0);
    const ToolRun fine = runTool({msg, path("300.jpg"), QStringLiteral("--dpi"),
                                  QStringLiteral("300"), QStringLiteral("--paper=letter")},
                                 m_cwd.path());
    ASSERT_EQ(fine.exitCode, 0) << fine.err.toStdString();
    const QImage high(path("300.jpg"));
    EXPECT_EQ(high.size(), QSize(2550, 3300));
    const QImage upscaled =
        QImage(path("96.jpg")).scaled(high.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(blurredShare(high), 0.75 * blurredShare(upscaled));

    const ToolRun a4 =
        runTool({msg, path("a4.jpg"), QStringLiteral("--paper"), QStringLiteral("a4"),
                 QStringLiteral("--quality"), QStringLiteral("95")},
                m_cwd.path());
    ASSERT_EQ(a4.exitCode, 0) << a4.err.toStdString();
    EXPECT_EQ(QImage(path("a4.jpg")).size(), QSize(794, 1123));

    for (const QStringList& bad :
         {QStringList{"--dpi", "10"}, QStringList{"--dpi"}, QStringList{"--paper", "legal"},
          QStringList{"--quality=0"}, QStringList{"--timezone", "../../etc/passwd"},
          QStringList{"--header=yes"}, QStringList{"--colour"}}) {
        const ToolRun run = runTool(QStringList{msg, path("bad.jpg")} + bad, m_cwd.path());
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("Kestrune.exe: "))) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("--dpi N"))) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(path("bad.jpg")));
    }
}

TEST_F(ConverterTest, SeveralPagesAreNumberedFromOneAndOnlyTheFinalLowerCaseJpgIsReplaced) {
    const QString msg = plainMessage(path("long.msg"), longText(500));
    struct Case {
        QString output;
        QString firstPage;
    } cases[] = {{path("photo.jpg.jpg"), path("photo.jpg_1.jpg")},
                 {path("Report.JPG"), path("Report.JPG_1.jpg")}};
    for (const Case& c : cases) {
        const ToolRun run = runTool({msg, c.output}, m_cwd.path());
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(c.output));
        EXPECT_TRUE(QFile::exists(c.firstPage));
    }
    // Pages 1..n without leading zeros, each a page image with text.
    const QStringList pages = QDir(m_dir.path()).entryList({QStringLiteral("photo.jpg_*.jpg")});
    ASSERT_GE(pages.size(), 10);
    for (int n = 1; n <= pages.size(); ++n) {
        const QImage page(path(QStringLiteral("photo.jpg_%1.jpg").arg(n)));
        ASSERT_FALSE(page.isNull()) << n;
        EXPECT_TRUE(hasDarkPixels(page)) << n;
    }
    EXPECT_FALSE(QFile::exists(path("photo.jpg_01.jpg")));
}

// --- the faults the converter does not have ----------------------------------

TEST_F(ConverterTest, AUsersMsgTempRtfInTheWorkingFolderIsLeftAlone) {
    QFile user(m_cwd.filePath(QStringLiteral("msg_temp.rtf")));
    ASSERT_TRUE(user.open(QIODevice::WriteOnly));
    user.write("the user's own file");
    user.close();
    const QString msg = rtfMessage(path("m.msg"), "{\\rtf1 x}");
    runTool({msg, path("out.jpg")}, m_cwd.path());
    EXPECT_EQ(filesIn(m_cwd.path()), QStringList{QStringLiteral("msg_temp.rtf")});
    ASSERT_TRUE(user.open(QIODevice::ReadOnly));
    EXPECT_EQ(user.readAll(), QByteArray("the user's own file"));
}

// Pixels that differ clearly between two page images of the same size.
int differingPixels(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            count += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 64 ? 1 : 0;
        }
    }
    return count;
}

TEST_F(ConverterTest, NonAsciiRtfBytesReachTheRendererIntact) {
    const std::string head =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fcharset204 Arial;}}\\fs48 ";
    const QString msg = rtfMessage(path("m.msg"), head + "\xCF\xF0\xE8\xE2\xE5\xF2\\par}");
    const ToolRun run = runTool({msg, path("out.jpg")}, m_cwd.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QImage converted(path("out.jpg"));

    // The same word written with ASCII-only escapes, and the word as the old
    // converter passed it on: six question marks.
    auto rendered = [&](const std::string& rtf) {
        const auto doc = render::engine::PagedDocument::load(bytes(rtf));
        doc.savePageAsJpeg(0, path("expected.jpg"), tool::kJpegQuality);
        return QImage(path("expected.jpg"));
    };
    const QImage cyrillic =
        rendered(head + "\\u1055?\\u1088?\\u1080?\\u1074?\\u1077?\\u1090?\\par}");
    const QImage mangled = rendered(head + "??????\\par}");
    ASSERT_EQ(converted.size(), cyrillic.size());
    EXPECT_LT(differingPixels(converted, cyrillic), 20);
    EXPECT_GT(differingPixels(converted, mangled), 200);
}

TEST_F(ConverterTest, TheMessageFileIsNeverReplacedByItsOwnImage) {
    // A message file whose name is the output path the application derives.
    const QString msg = plainMessage(path("Report.jpg"), "body");
    QFile original(msg);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    const ToolRun run = runTool({msg, path("Report.jpg")}, m_cwd.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("message file itself"))) << run.err.toStdString();
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), before);
}

TEST_F(ConverterTest, HtmlOrPlainBodyWithoutRtfIsRenderedNotBlank) {
    msg_builder::MessageBuilder htmlMessage;
    htmlMessage.unicode(0x1013, "<html><body><p>Привет, HTML body</p></body></html>");
    const QString html = saveMessage(path("html.msg"), htmlMessage);
    const QString cp1251 = corpus(QStringLiteral("poi__HTMLBodyBinary_CP1251.msg"));
    const QString plain = corpus(QStringLiteral("poi__simple_test_msg.msg"));
    for (const QString& msg : {html, cp1251, plain}) {
        const ToolRun run = runTool({msg, path("out.jpg")}, m_cwd.path());
        ASSERT_EQ(run.exitCode, 0) << msg.toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(hasDarkPixels(QImage(path("out.jpg")))) << msg.toStdString();
    }
}

TEST_F(ConverterTest, AMessageWithNoBodyIsOneBlankPage) {
    const ToolRun run =
        runTool({corpus(QStringLiteral("poi__blank.msg")), path("blank.jpg")}, m_cwd.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QImage page(path("blank.jpg"));
    EXPECT_EQ(page.size(), QSize(816, 1056));
    EXPECT_FALSE(hasDarkPixels(page));
}

// With the header, a message forwarded as an attachment follows its parent as
// pages of its own, nested ones in order, numbered on; without it the file
// is converted as it always was. An item without a body is no blank page.
TEST_F(ConverterTest, WithTheHeaderEmbeddedMessagesFollowAsPagesOfTheirOwn) {
    msg_builder::MessageBuilder parent;
    parent.unicode(0x0037, "parent").unicode(0x1000, "the parent's body");
    msg_builder::MessageBuilder& first = parent.addAttachment().int32(0x3705, 5).embedded();
    first.unicode(0x0037, "first").unicode(0x1000, "the first forwarded body");
    first.addAttachment().int32(0x3705, 5).embedded().unicode(0x0037, "nested");
    parent.addAttachment().int32(0x3705, 5).embedded().unicode(0x0037, "second");
    const QString msg = saveMessage(path("fwd.msg"), parent);
    const std::vector<std::uint8_t> data = parent.build();
    const tool::Message message{std::span<const std::uint8_t>(data)};
    tool::ConvertOptions header;
    header.header = true;
    std::vector<std::string> order;
    for (const tool::Message* part : tool::pageMessages(message, header)) {
        order.push_back(part->Subject().value_or(""));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"parent", "first", "nested", "second"}));
    EXPECT_EQ(tool::pageMessages(message, {}).size(), 1u);

    ASSERT_EQ(runTool({msg, path("plain.jpg")}, m_cwd.path()).exitCode, 0);
    EXPECT_EQ(QDir(m_dir.path()).entryList({QStringLiteral("plain*")}),
              QStringList{QStringLiteral("plain.jpg")});

    const ToolRun run = runTool({msg, path("out.jpg"), QStringLiteral("--header")}, m_cwd.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    // A page each: the parent, "first", "nested" (inside "first"), "second".
    EXPECT_EQ(QDir(m_dir.path()).entryList({QStringLiteral("out*")}, QDir::Files, QDir::Name),
              (QStringList{"out_1.jpg", "out_2.jpg", "out_3.jpg", "out_4.jpg"}));
    for (int n = 1; n <= 4; ++n) {
        EXPECT_TRUE(hasDarkPixels(QImage(path(QStringLiteral("out_%1.jpg").arg(n))))) << n;
    }
    // The header is drawn above the body: the parent's first page differs.
    EXPECT_GT(differingPixels(QImage(path("plain.jpg")), QImage(path("out_1.jpg"))), 200);

    const ToolRun blank = runTool(
        {corpus(QStringLiteral("poi__blank.msg")), path("blank.jpg"), QStringLiteral("--header")},
        m_cwd.path());
    ASSERT_EQ(blank.exitCode, 0) << blank.err.toStdString();
    EXPECT_TRUE(hasDarkPixels(QImage(path("blank.jpg"))));
}

TEST_F(ConverterTest, FailuresPrintTheirTextAndExitWithOneLeavingNoFile) {
    struct Case {
        QString msg;
        QString text;
    } cases[] = {
        {corpus(QStringLiteral("mprs__bad_outlook.msg")),
         QStringLiteral("The provided stream is not a valid IStorage")},
        {path("absent.msg"), path("absent.msg")},
    };
    for (const Case& c : cases) {
        const ToolRun run = runTool({c.msg, path("out.jpg")}, m_cwd.path());
        EXPECT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(c.text)) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_TRUE(filesIn(m_cwd.path()).isEmpty());
    EXPECT_TRUE(filesIn(m_dir.path()).isEmpty());
}

// A disk that fills up while a page is written: the failure says why, in
// the system's words, and no part of an image is left. The full disk is a
// real file system: a tmpfs of one memory page, mounted for the converter
// alone in a mount namespace of its own.
TEST_F(ConverterTest, AFullDiskIsReportedWithTheSystemsReasonAndLeavesNoImage) {
    const QString full = path("full");
    ASSERT_TRUE(QDir().mkpath(full));
    const QString mount = QStringLiteral("mount -t tmpfs -o size=4k tmpfs \"$1\" || exit 99; ");
    const ToolRun probe =
        runTool({QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
                 mount + QStringLiteral("exit 0"), QStringLiteral("sh"), full},
                m_cwd.path(), QStringLiteral("unshare"));
    if (probe.crashed || probe.exitCode != 0) {
        GTEST_SKIP() << "no mount namespace for a small file system here: "
                     << probe.err.toStdString();
    }
    const QString msg = plainMessage(path("m.msg"), longText(40));
    const ToolRun run = runTool(
        {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
         mount +
             QStringLiteral("\"$2\" \"$3\" \"$1/page.jpg\" --dpi 300; s=$?; ls -A \"$1\"; exit $s"),
         QStringLiteral("sh"), full, binDir() + QStringLiteral("/Kestrune.exe"), msg},
        m_cwd.path(), QStringLiteral("unshare"));
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("No space left on device")))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("Unknown error"))) << run.err.toStdString();
    EXPECT_TRUE(run.out.trimmed().isEmpty()) << "left on the full disk: " << run.out.toStdString();
}

TEST_F(ConverterTest, AMissingRenderingLibraryIsNamed) {
    const QString lonely = path("Kestrune.exe");
    ASSERT_TRUE(QFile::copy(binDir() + QStringLiteral("/Kestrune.exe"), lonely));
    const QString msg = plainMessage(path("m.msg"), "text");
    const ToolRun run = runTool({msg, path("out.jpg")}, m_cwd.path(), lonely);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("liborvaline-render.so"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("missing"))) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("out.jpg")));
}

TEST_F(ConverterTest, RunningOutOfProcessorTimeEndsWithATextNotAHang) {
    const QString msg = plainMessage(path("huge.msg"), longText(40000));
    // The parent's limit is lower than the converter's own, so it is kept.
    // 500 pages at 300 dpi need many times the second allowed, however fast
    // or busy the machine.
    const ToolRun run =
        runTool({msg, path("out.jpg"), QStringLiteral("--dpi"), QStringLiteral("300")},
                m_cwd.path(), binDir() + QStringLiteral("/Kestrune.exe"), [] {
                    rlimit limit{1, 5};
                    setrlimit(RLIMIT_CPU, &limit);
                });
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("processor time"))) << run.err.toStdString();
}

// --- choosing the body --------------------------------------------------------

tool::RenderBody bodyOf(const msg_builder::MessageBuilder& builder) {
    const std::vector<std::uint8_t> data = builder.build();
    const tool::Message message{std::span<const std::uint8_t>(data)};
    return tool::selectBody(message);
}

TEST(ConverterBody, RtfBodyReachesTheRendererByteForByte) {
    const std::string rtf = "{\\rtf1\\ansi\\ansicpg1251 \xCF\xF0\xE8\xE2\xE5\xF2 \x80\xFF}";
    msg_builder::MessageBuilder builder;
    builder.rtfBody(rtf).unicode(0x1000, "plain");
    const tool::RenderBody body = bodyOf(builder);
    EXPECT_EQ(body.kind, tool::RenderBody::Kind::Rtf);
    EXPECT_EQ(body.bytes, bytes(rtf));
}

TEST(ConverterBody, EightBitBodiesCarryTheirCodePageAndUnicodeOnesAByteOrderMark) {
    msg_builder::MessageBuilder eightBit;
    eightBit.int32(0x3FFD, 1251).string8(0x1000, "\xCF\xF0\xE8\xE2\xE5\xF2");
    const tool::RenderBody text = bodyOf(eightBit);
    EXPECT_EQ(text.kind, tool::RenderBody::Kind::Text);
    EXPECT_EQ(text.codePage, 1251u);
    EXPECT_EQ(text.bytes, bytes("\xCF\xF0\xE8\xE2\xE5\xF2"));

    msg_builder::MessageBuilder binaryHtml;
    binaryHtml.int32(0x3FDE, 936).int32(0x3FFD, 1252).binary(0x1013, bytes("<html>x</html>"));
    EXPECT_EQ(bodyOf(binaryHtml).codePage, 936u);

    msg_builder::MessageBuilder unicode;
    unicode.unicode(0x1013, "<html>x</html>").unicode(0x1000, "plain");
    const tool::RenderBody html = bodyOf(unicode);
    EXPECT_EQ(html.kind, tool::RenderBody::Kind::Html);
    ASSERT_GE(html.bytes.size(), 2u);
    EXPECT_EQ(html.bytes[0], 0xFF);
    EXPECT_EQ(html.bytes[1], 0xFE);
}

TEST(ConverterBody, AttachmentsWithAContentIdGoAlongAsInlinePictures) {
    // HTML bodies, and HTML wrapped in RTF, link to pictures by content id.
    msg_builder::MessageBuilder html;
    html.unicode(0x1013, "<html><img src=\"cid:logo@x\"></html>");
    msg_builder::MessageBuilder rtf;
    rtf.rtfBody("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <img src=\"cid:logo@x\">}}");
    for (msg_builder::MessageBuilder* builder : {&html, &rtf}) {
        builder->addAttachment()
            .int32(0x3705, 1)
            .unicode(0x3712, "logo@x")
            .unicode(0x3707, "logo.png")
            .binary(0x3701, bytes("PNGDATA"));
        builder->addAttachment()
            .int32(0x3705, 1)
            .unicode(0x3707, "report.pdf")
            .binary(0x3701, bytes("PDF"));
        const tool::RenderBody body = bodyOf(*builder);
        ASSERT_EQ(body.images.size(), 1u);
        EXPECT_EQ(body.images[0].contentId, "logo@x");
        EXPECT_EQ(body.images[0].data, bytes("PNGDATA"));
    }
}

// --- the corpus ----------------------------------------------------------------

TEST_F(ConverterTest, EveryCorpusMessageConvertsOrFailsWithAText) {
    const QDir dir(corpus(QString()));
    const QStringList messages = dir.entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(messages.isEmpty()) << "no corpus messages in " << dir.path().toStdString();
    int converted = 0;
    for (const QString& name : messages) {
        const QString out = path(QStringLiteral("result.jpg"));
        const ToolRun run = runTool({dir.filePath(name), out}, m_cwd.path());
        ASSERT_FALSE(run.crashed) << name.toStdString();
        if (run.exitCode == 0) {
            ++converted;
            const QString first = QFile::exists(out) ? out : path(QStringLiteral("result_1.jpg"));
            const QImage page(first);
            EXPECT_FALSE(page.isNull()) << name.toStdString();
        } else {
            EXPECT_EQ(run.exitCode, 1) << name.toStdString();
            EXPECT_FALSE(run.err.trimmed().isEmpty()) << name.toStdString();
        }
        for (const QString& f : filesIn(m_dir.path())) {
            QFile::remove(path(f));
        }
    }
    EXPECT_TRUE(filesIn(m_cwd.path()).isEmpty());
    std::printf("%d of %d corpus messages converted\n", converted,
                static_cast<int>(messages.size()));
}

// No page of a corpus message shows markup as text, whatever its body: HTML
// in the HTML body (bare fragments included) and HTML wrapped in RTF are
// laid out as HTML, never as their source or their RTF rendition. Each body
// goes through the engine as the converter hands it over (HTML and text
// named, RTF recognised), and the laid-out text is searched.
TEST(ConverterBody, NoCorpusMessageShowsMarkupAsText) {
    const QDir dir(corpus(QString()));
    const QStringList messages = dir.entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name);
    if (messages.isEmpty()) {
        FAIL() << "no corpus messages in " << dir.path().toStdString();
    }
    int wrapped = 0;
    int html = 0;
    for (const QString& name : messages) {
        std::optional<tool::RenderBody> body;
        try {
            const tool::Message message{dir.filePath(name).toStdString()};
            body = tool::selectBody(message);
        } catch (const std::exception&) {
            continue;  // the messages that fail to load are the converter test's
        }
        using Kind = tool::RenderBody::Kind;
        render::engine::LoadOptions options;
        options.codePage = static_cast<int>(body->codePage);
        if (body->kind == Kind::Html) {
            options.format = render::engine::SourceFormat::Html;
            ++html;
        } else if (body->kind == Kind::Text) {
            options.format = render::engine::SourceFormat::Text;
        }
        const std::string head(reinterpret_cast<const char*>(body->bytes.data()),
                               std::min<std::size_t>(body->bytes.size(), 2048));
        const bool fromHtml =
            body->kind == Kind::Rtf && head.find("\\fromhtml1") != std::string::npos;
        wrapped += fromHtml ? 1 : 0;
        std::vector<common::InlineImage> images;
        for (const render::InlineImage& image : body->images) {
            images.push_back({image.contentId, image.fileName, image.data});
        }
        const auto document = render::engine::PagedDocument::load(body->bytes, images, options);
        if (fromHtml) {
            const rtf::ReadResult read = rtf::readRtf(body->bytes, images);
            EXPECT_EQ(read.encapsulation, rtf::Encapsulation::Html) << name.toStdString();
        }
        const QString text = document.document().toPlainText();
        static const char* const kLeaks[] = {"mso-", "<o:p",    "</",     "<meta", "<div",
                                             "<br",  "<html",   "<style", "<span", "font-family",
                                             "{\\",  "htmlrtf", "endif]"};
        for (const char* leak : kLeaks) {
            EXPECT_FALSE(text.contains(QString::fromLatin1(leak), Qt::CaseInsensitive))
                << name.toStdString() << " shows " << leak;
        }
    }
    EXPECT_GE(wrapped, 50);
    EXPECT_GE(html, 1);
    std::printf("%d corpus messages carry HTML wrapped in RTF, %d an HTML body\n", wrapped, html);
}

}  // namespace

namespace {

TEST(ConverterBody, DamagedRtfBodyGivesWayToThePlainBody) {
    const msg_builder::Bytes damaged = {0x20, 0,   0,   0,   0x10, 0, 0, 0,
                                        'L',  'Z', 'F', 'u', 1,    2, 3, 4};
    msg_builder::MessageBuilder withPlain;
    withPlain.binary(0x1009, damaged).unicode(0x1000, "the words of the plain body");
    const std::vector<std::uint8_t> data = withPlain.build();
    const tool::Message message{std::span<const std::uint8_t>(data)};
    std::string warning;
    const tool::RenderBody body = tool::selectBody(message, &warning);
    EXPECT_EQ(body.kind, tool::RenderBody::Kind::Text);
    EXPECT_NE(warning.find("the RTF body cannot be read"), std::string::npos) << warning;
    EXPECT_NE(warning.find("plain-text body is shown instead"), std::string::npos) << warning;

    msg_builder::MessageBuilder rtfOnly;
    rtfOnly.binary(0x1009, damaged);
    const std::vector<std::uint8_t> rtfOnlyData = rtfOnly.build();
    const tool::Message rtfOnlyMessage{std::span<const std::uint8_t>(rtfOnlyData)};
    EXPECT_THROW(tool::selectBody(rtfOnlyMessage), std::exception);
}

}  // namespace

// --- Internet mail ------------------------------------------------------------

namespace {

QString saveText(const QString& path, const std::string& text) {
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}

QByteArray fileBytes(const QString& path) {
    QFile in(path);
    in.open(QIODevice::ReadOnly);
    return in.readAll();
}

const std::string kMail =
    "From: Ann Example <ann@example.com>\r\n"
    "To: bob@example.com\r\n"
    "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
    "Date: Tue, 3 Mar 2020 10:00:00 +0100\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
    "--outer\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n\r\n"
    "The same words in both files.\r\n"
    "--outer\r\n"
    "Content-Type: text/plain; name=\"notes.txt\"\r\n"
    "Content-Disposition: attachment; filename=\"notes.txt\"\r\n\r\n"
    "An attached note.\r\n"
    "--outer--\r\n";

}  // namespace

// Mail is known by its content: the same bytes under any name make the same
// pages, named as for a message file, and its text body draws exactly as a
// message file's plain body of the same words does. The header and the
// attachments follow the same options.
TEST_F(ConverterTest, InternetMailIsReadByItsContentAndDrawnAsAMessageFileIsDrawn) {
    const QString eml = saveText(path("mail.eml"), kMail);
    const QString renamed = saveText(path("mail.msg"), kMail);
    ASSERT_EQ(runTool({eml, path("eml.jpg")}, m_cwd.path()).exitCode, 0);
    ASSERT_EQ(runTool({renamed, path("renamed.jpg")}, m_cwd.path()).exitCode, 0);
    EXPECT_EQ(fileBytes(path("eml.jpg")), fileBytes(path("renamed.jpg")));
    const QString msg = plainMessage(path("plain.msg"), "The same words in both files.\n");
    ASSERT_EQ(runTool({msg, path("msg.jpg")}, m_cwd.path()).exitCode, 0);
    EXPECT_EQ(differingPixels(QImage(path("eml.jpg")), QImage(path("msg.jpg"))), 0);

    const ToolRun header =
        runTool({eml, path("header.jpg"), QStringLiteral("--header")}, m_cwd.path());
    ASSERT_EQ(header.exitCode, 0) << header.err.toStdString();
    EXPECT_GT(differingPixels(QImage(path("eml.jpg")), QImage(path("header.jpg"))), 200);

    const ToolRun all =
        runTool({eml, path("all.jpg"), QStringLiteral("--attachments")}, m_cwd.path());
    ASSERT_EQ(all.exitCode, 0) << all.err.toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList({QStringLiteral("all*")}, QDir::Files, QDir::Name),
              (QStringList{"all_1.jpg", "all_2.jpg"}));
    EXPECT_TRUE(hasDarkPixels(QImage(path("all_2.jpg"))));
}

// Damaged mail is drawn as far as it goes, and what was recovered from is a
// warning on standard error, never text on the page. Mail nested ten deep
// follows as pages with the header option, an mbox file of one message is
// that message, and one of several is refused with a text saying what does
// convert it.
TEST_F(ConverterTest, DamagedNestedAndMailboxMailConvertsOrSaysWhy) {
    const std::string open =
        "From: a@example.com\nSubject: open\nContent-Type: multipart/mixed; boundary=b\n\n"
        "--b\nContent-Type: text/plain\n\nThe body before a part that never ends.\n"
        "--b\nContent-Type: application/octet-stream; name=x.bin\n"
        "Content-Transfer-Encoding: base64\n\nQUJD!!!not*base64***REVG\n";
    const ToolRun damaged =
        runTool({saveText(path("open.eml"), open), path("open.jpg")}, m_cwd.path());
    ASSERT_EQ(damaged.exitCode, 0) << damaged.err.toStdString();
    EXPECT_TRUE(damaged.err.contains(QStringLiteral("Kestrune.exe: warning: ")))
        << damaged.err.toStdString();
    EXPECT_TRUE(hasDarkPixels(QImage(path("open.jpg"))));

    std::string nested = "From: z@example.com\nSubject: level 10\n\nThe innermost body.\n";
    for (int level = 9; level >= 0; --level) {
        nested = "From: z@example.com\nSubject: level " + std::to_string(level) +
                 "\nContent-Type: multipart/mixed; boundary=n" + std::to_string(level) + "\n\n--n" +
                 std::to_string(level) + "\nContent-Type: text/plain\n\nBody of level " +
                 std::to_string(level) + ".\n--n" + std::to_string(level) +
                 "\nContent-Type: message/rfc822\n\n" + nested + "--n" + std::to_string(level) +
                 "--\n";
    }
    const ToolRun deep =
        runTool({saveText(path("deep.eml"), nested), path("deep.jpg"), QStringLiteral("--header")},
                m_cwd.path());
    ASSERT_EQ(deep.exitCode, 0) << deep.err.toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList({QStringLiteral("deep_*.jpg")}).size(), 11);

    const std::string one = "From a@example.com Mon Jan  1 00:00:00 2024\n" + kMail;
    ASSERT_EQ(runTool({saveText(path("one.mbox"), one), path("one.jpg")}, m_cwd.path()).exitCode,
              0);
    ASSERT_EQ(runTool({saveText(path("one.eml"), kMail), path("eml.jpg")}, m_cwd.path()).exitCode,
              0);
    EXPECT_EQ(fileBytes(path("one.jpg")), fileBytes(path("eml.jpg")));
    const ToolRun several =
        runTool({saveText(path("two.mbox"), one + "\n" + one), path("two.jpg")}, m_cwd.path());
    EXPECT_EQ(several.exitCode, 1);
    EXPECT_TRUE(several.err.contains(QStringLiteral("is an mbox file of 2 messages")))
        << several.err.toStdString();
    EXPECT_TRUE(several.err.contains(QStringLiteral("orvaline-convert")));
    EXPECT_FALSE(QFile::exists(path("two.jpg")));
}

// A file that is neither mail nor a message file fails with the message
// reader's text, exit status 1, and nothing written.
TEST_F(ConverterTest, AFileThatIsNeitherMailNorAMessageFileWritesNothing) {
    for (const std::string& text :
         {std::string("Notes for Monday:\nFrom the top, again.\n"), std::string(),
          std::string("Subject-less text: with a colon\n\nand a body\n")}) {
        const ToolRun run =
            runTool({saveText(path("notes.txt"), text), path("notes.jpg")}, m_cwd.path());
        EXPECT_EQ(run.exitCode, 1) << text;
        EXPECT_TRUE(run.err.contains(QStringLiteral("The provided stream is not a valid IStorage")))
            << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(path("notes.jpg")));
    }
    EXPECT_TRUE(filesIn(m_cwd.path()).isEmpty());
}

namespace {

// pdfinfo's field `name` of `file` (Debian: poppler-utils).
QString pdfInfo(const QString& file, const QString& name) {
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {file});
    process.waitForFinished(60000);
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(name + u':')) {
            return line.mid(name.size() + 1).trimmed();
        }
    }
    return {};
}

}  // namespace

// One PDF per message with every document's pages, its information from the
// message; TIFF pages named as JPEG pages are, at 300 dpi unless told; the
// words of every document in the text file beside them, in page order.
TEST_F(ConverterTest, PagesAsPdfOrTiffAndTheirWordsBesideThem) {
    const QString eml = saveText(path("mail.eml"), kMail);
    const QStringList both{QStringLiteral("--header"), QStringLiteral("--attachments")};
    const ToolRun pdf = runTool(QStringList{eml, path("out.pdf"), QStringLiteral("--format"),
                                            QStringLiteral("pdf"), QStringLiteral("--text")} +
                                    both,
                                m_cwd.path());
    ASSERT_EQ(pdf.exitCode, 0) << pdf.err.toStdString();
    EXPECT_EQ(filesIn(m_dir.path()),
              (QStringList{QStringLiteral("mail.eml"), QStringLiteral("out.pdf"),
                           QStringLiteral("out.txt")}));
    EXPECT_EQ(pdfInfo(path("out.pdf"), QStringLiteral("Pages")), QStringLiteral("2"));
    EXPECT_EQ(pdfInfo(path("out.pdf"), QStringLiteral("Title")), QStringLiteral("Grüße"));
    EXPECT_EQ(pdfInfo(path("out.pdf"), QStringLiteral("Author")),
              QStringLiteral("Ann Example <ann@example.com>"));
    EXPECT_TRUE(pdfInfo(path("out.pdf"), QStringLiteral("CreationDate")).contains(u"2020"));
    const QString text = QString::fromUtf8(fileBytes(path("out.txt")));
    const qsizetype subject = text.indexOf(QStringLiteral("Subject:\tGrüße"));
    const qsizetype body = text.indexOf(QStringLiteral("The same words in both files."));
    const qsizetype note = text.indexOf(QStringLiteral("An attached note."));
    EXPECT_TRUE(subject >= 0 && body > subject && note > body) << text.toStdString();
    // The same message makes the same file, byte for byte, on every run.
    ASSERT_EQ(runTool(QStringList{eml, path("again.pdf"), QStringLiteral("--format"),
                                  QStringLiteral("pdf")} +
                          both,
                      m_cwd.path())
                  .exitCode,
              0);
    EXPECT_EQ(fileBytes(path("again.pdf")), fileBytes(path("out.pdf")));
    QFile::remove(path("again.pdf"));

    const ToolRun tiff = runTool(
        QStringList{eml, path("page.tif"), QStringLiteral("--format=tiff")} + both, m_cwd.path());
    ASSERT_EQ(tiff.exitCode, 0) << tiff.err.toStdString();
    EXPECT_EQ(QImage(path("page_1.tif")).size(), QSize(2550, 3300));
    EXPECT_TRUE(QFile::exists(path("page_2.tif")));
    EXPECT_FALSE(QFile::exists(path("page.tif")));
    const ToolRun multi = runTool(
        QStringList{eml, path("all.tif"), QStringLiteral("--format"), QStringLiteral("tiff"),
                    QStringLiteral("--tiff-pages"), QStringLiteral("multi"),
                    QStringLiteral("--dpi"), QStringLiteral("150")} +
            both,
        m_cwd.path());
    ASSERT_EQ(multi.exitCode, 0) << multi.err.toStdString();
    QImageReader reader(path("all.tif"));
    EXPECT_EQ(reader.imageCount(), 2);
    EXPECT_EQ(reader.read().size(), QSize(1275, 1650));

    const QStringList before = filesIn(m_dir.path());
    for (const QStringList& bad : {QStringList{"--format", "gif"}, QStringList{"--colour=red"},
                                   QStringList{"--tiff-pages", "many"}, QStringList{"--text=yes"},
                                   QStringList{"--format"}}) {
        const ToolRun run = runTool(QStringList{eml, path("bad.pdf")} + bad, m_cwd.path());
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("--format NAME"))) << run.err.toStdString();
    }
    EXPECT_EQ(filesIn(m_dir.path()), before);
}
