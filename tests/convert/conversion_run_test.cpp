#include <convert/conversion_run.h>
#include <convert/deployment.h>
#include <joblist/file_list_view.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/failure.h>
#include <shell/progress_bar.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qt_print.h>

#include <vector>

namespace {

using namespace convert;

// A converter stand-in: a real program that writes a small image file, fails
// for sources whose name holds "bad", writes two pages for "long", and for
// "args" writes its arguments after the two paths as the image.
class ScriptTools final : public ToolSource {
public:
    QByteArray converter() const override {
        return "#!/bin/sh\n"
               "case \"${1##*/}\" in\n"
               "  *bad*) echo 'The provided stream is not a valid IStorage' >&2; exit 1;;\n"
               "  *silent*) exit 0;;\n"
               "  *args*) out=\"$2\"; shift 2; printf '[%s]' \"$@\" > \"$out\"; exit 0;;\n"
               "  *long*) base=\"${2%.jpg}\"; printf img > \"${base}_1.jpg\";"
               " printf img > \"${base}_2.jpg\"; exit 0;;\n"
               "esac\n"
               "printf img > \"$2.part\" && mv \"$2.part\" \"$2\"\n";
    }
    QByteArray renderer() const override { return "library"; }
};

class ConversionRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.isValid() && m_out.isValid() && m_in.isValid());
        m_savedTemp = qgetenv("TEMP");
        qputenv("TEMP", QFile::encodeName(m_temp.path()));
        m_option1 = new QRadioButton(&m_frame);
        m_option2 = new QRadioButton(&m_frame);
        m_option1->setChecked(true);
        m_text1.setText(m_out.path() + QStringLiteral("/"));
        QObject::connect(&m_bar, &QProgressBar::valueChanged,
                         [this](int v) { m_values.push_back(v); });
    }
    void TearDown() override { qputenv("TEMP", m_savedTemp); }

    QString source(const QString& name) {
        const QString p = m_in.filePath(name);
        QDir().mkpath(QFileInfo(p).path());
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("msg");
        return p;
    }
    ConversionRun makeRun() {
        RunAndWaitOptions fast;
        fast.pollIntervalMs = 5;
        return ConversionRun({&m_list, m_option1, m_option2, &m_text1, &m_bar, &m_pointer,
                              &m_dialogs, &m_header, &m_attachments},
                             m_tools, fast);
    }
    QStringList tempFiles() const { return QDir(m_temp.path()).entryList(QDir::Files); }

    QTemporaryDir m_temp, m_out, m_in;
    QByteArray m_savedTemp;
    joblist::FileListView m_list;
    QGroupBox m_frame;
    QRadioButton* m_option1 = nullptr;
    QRadioButton* m_option2 = nullptr;
    QLineEdit m_text1;
    QCheckBox m_header;
    QCheckBox m_attachments;
    shell::ProgressBar m_bar;
    shell::WindowPointer m_pointer{nullptr};
    shell::ScriptedDialogs m_dialogs;
    ScriptTools m_tools;
    std::vector<int> m_values;
};

TEST_F(ConversionRunTest, EveryFileConvertedThenDoneAndToolsRemoved) {
    for (const char* name : {"one.msg", "two.msg", "three.msg"}) {
        m_list.appendItem(source(QString::fromLatin1(name)));
    }
    auto run = makeRun();
    run.start();
    EXPECT_EQ(m_values, (std::vector<int>{33, 67, 100, 0}));
    for (const char* name : {"one.jpg", "two.jpg", "three.jpg"}) {
        EXPECT_TRUE(QFile::exists(m_out.filePath(QString::fromLatin1(name)))) << name;
    }
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_EQ(m_dialogs.shown[0].kind, QStringLiteral("message"));
    EXPECT_EQ(m_dialogs.shown[0].text, QStringLiteral("Done."));
    EXPECT_TRUE(tempFiles().isEmpty()) << tempFiles().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(m_bar.text(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(m_pointer.value(), 0);
    EXPECT_FALSE(run.converting());
    EXPECT_EQ(m_list.count(), 3);  // the list is never changed by a run
}

TEST_F(ConversionRunTest, FailedFilesAreNamedInTheDoneMessage) {
    m_list.appendItem(source(QStringLiteral("good.msg")));
    m_list.appendItem(source(QStringLiteral("bad.msg")));
    m_list.appendItem(source(QStringLiteral("silent.msg")));
    m_list.appendItem(source(QStringLiteral("long.msg")));
    // An image an earlier run left is no proof that this run wrote one.
    QFile stale(m_out.filePath(QStringLiteral("silent.jpg")));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    auto run = makeRun();
    run.start();
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_EQ(m_dialogs.shown[0].text,
              QStringLiteral("Done.\r\r2 of 4 file(s) could not be converted:\r"
                             "bad.msg: The provided stream is not a valid IStorage\r"
                             "silent.msg: no image was written"));
    ASSERT_EQ(run.outcomes().size(), 4u);
    EXPECT_EQ(run.outcomes()[1].status, 1);
    EXPECT_TRUE(run.outcomes()[3].converted());
    EXPECT_TRUE(QFile::exists(m_out.filePath(QStringLiteral("long_2.jpg"))));
}

// The converter's command line is the designed one unless the header or the
// attachments box is checked, which add "--header" and "--attachments" after
// the two paths.
TEST_F(ConversionRunTest, TheHeaderAndAttachmentBoxesAddTheirOptionsToEachCommandLine) {
    m_list.appendItem(source(QStringLiteral("args.msg")));
    auto run = makeRun();
    const QString image = m_out.filePath(QStringLiteral("args.jpg"));
    auto written = [&] {
        QFile f(image);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    };
    run.start();
    EXPECT_EQ(written(), QByteArray("[]"));
    m_header.setChecked(true);
    run.start();
    EXPECT_EQ(written(), QByteArray("[--header]"));
    EXPECT_TRUE(run.outcomes().at(0).converted());
    m_attachments.setChecked(true);
    run.start();
    EXPECT_EQ(written(), QByteArray("[--header][--attachments]"));
    m_header.setChecked(false);
    run.start();
    EXPECT_EQ(written(), QByteArray("[--attachments]"));
}

TEST_F(ConversionRunTest, SameNameFromTwoFoldersDoesNotOverwrite) {
    const QString a = source(QStringLiteral("a/mail.msg"));
    const QString b = source(QStringLiteral("b/mail.msg"));
    m_list.appendItem(a);
    m_list.appendItem(b);
    m_list.appendItem(a);  // the same source twice keeps its one path
    auto run = makeRun();
    run.start();
    EXPECT_EQ(m_dialogs.shown.back().text, QStringLiteral("Done."));
    EXPECT_TRUE(QFile::exists(m_out.filePath(QStringLiteral("mail.jpg"))));
    EXPECT_TRUE(QFile::exists(m_out.filePath(QStringLiteral("mail (2).jpg"))));
    EXPECT_FALSE(QFile::exists(m_out.filePath(QStringLiteral("mail (3).jpg"))));
    EXPECT_EQ(run.outcomes()[2].resultPath, run.outcomes()[0].resultPath);
}

TEST_F(ConversionRunTest, OriginalFolderOptionAndNeitherOption) {
    const QString s = source(QStringLiteral("sub/x.msg"));
    m_list.appendItem(s);
    m_text1.setText(QStringLiteral("/no/such/folder"));
    m_option2->setChecked(true);
    auto run = makeRun();
    run.start();
    EXPECT_TRUE(QFile::exists(m_in.filePath(QStringLiteral("sub/x.jpg"))));
    QFile::remove(m_in.filePath(QStringLiteral("sub/x.jpg")));

    // Neither chosen (both stored false): the image goes beside its source.
    m_option2->setAutoExclusive(false);
    m_option2->setChecked(false);
    m_option1->setChecked(false);
    m_text1.setText(m_out.path());
    run.start();
    EXPECT_TRUE(QFile::exists(m_in.filePath(QStringLiteral("sub/x.jpg"))));
}

TEST_F(ConversionRunTest, RefusedRunsWriteNothing) {
    auto run = makeRun();
    run.start();
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_EQ(m_dialogs.shown[0].text, QStringLiteral("No files added."));

    m_list.appendItem(source(QStringLiteral("a.msg")));
    m_text1.setText(QStringLiteral("/no/such/folder/"));
    run.start();
    EXPECT_EQ(m_dialogs.shown.back().text,
              QStringLiteral("Folder does not exist. Please select another folder."));
    EXPECT_TRUE(tempFiles().isEmpty());
    EXPECT_FALSE(run.converting());
    EXPECT_EQ(m_pointer.value(), 0);
}

TEST_F(ConversionRunTest, SecondStartDuringARunIsIgnored) {
    m_list.appendItem(source(QStringLiteral("a.msg")));
    m_list.appendItem(source(QStringLiteral("b.msg")));
    auto run = makeRun();
    int nested = 0;
    QObject::connect(&m_bar, &shell::ProgressBar::textSet, [&](const QString& text) {
        if (text.startsWith(QStringLiteral("Processing")) && nested++ == 0) {
            run.start();  // the user presses "Start Converting" again
        }
    });
    run.start();
    EXPECT_EQ(m_dialogs.of(QStringLiteral("message")).size(), 1u);
    EXPECT_EQ(run.outcomes().size(), 2u);
}

TEST_F(ConversionRunTest, MissingConverterIsReportedPerFile) {
    class NoTools final : public ToolSource {
    public:
        QByteArray converter() const override {
            throw shell::Failure(QStringLiteral("The converter is not built in"));
        }
        QByteArray renderer() const override { return {}; }
    } none;
    m_list.appendItem(source(QStringLiteral("a.msg")));
    RunAndWaitOptions fast;
    fast.pollIntervalMs = 5;
    ConversionRun run({&m_list, m_option1, m_option2, &m_text1, &m_bar, &m_pointer, &m_dialogs},
                      none, fast);
    run.start();
    const auto warnings = m_dialogs.of(QStringLiteral("warning"));
    ASSERT_GE(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].text.contains(QStringLiteral("PushButton2_Click at line 110")));
    EXPECT_EQ(m_dialogs.of(QStringLiteral("message")).back().text,
              QStringLiteral("Done.\r\r1 of 1 file(s) could not be converted:\r"
                             "a.msg: the converter could not be started"));
}

}  // namespace
