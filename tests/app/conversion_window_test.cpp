// The whole road from the window: load the samples, press "Start Converting",
// and find a JPEG page for every message, made by the real converter.
#include <app/form1.h>
#include <joblist/file_list_view.h>
#include <shell/dialogs.h>
#include <shell/paths.h>
#include <shell/progress_bar.h>
#include <shell/settings.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <qt_print.h>

namespace {

// Pixels clearly darker than the white page.
int darkPixels(const QImage& page) {
    int dark = 0;
    for (int y = 0; y < page.height(); y += 2) {
        for (int x = 0; x < page.width(); x += 2) {
            dark += qGray(page.pixel(x, y)) < 160 ? 1 : 0;
        }
    }
    return dark;
}

class ConversionWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef ORVALINE_HAS_CONVERTER
        GTEST_SKIP() << "the converter is not built into this application";
#endif
        ASSERT_TRUE(m_settings.isValid() && m_out.isValid() && m_temp.isValid());
        shell::UseSettingsFile(m_settings.filePath(QStringLiteral("Orvaline.conf")));
        shell::WriteSetting(QStringLiteral("Text1"), m_out.path() + QStringLiteral("/"));
        shell::SetApplicationFolder(qEnvironmentVariable("ORVALINE_BIN"));
        m_savedTemp = qgetenv("TEMP");
        qputenv("TEMP", QFile::encodeName(m_temp.path()));
        m_form = std::make_unique<app::Form1>(&m_dialogs);
        m_form->setCloseAction([] {});
        m_form->Form_Load();
        m_form->show();
    }
    void TearDown() override {
        qputenv("TEMP", m_savedTemp);
        shell::UseSettingsFile({});
        shell::SetApplicationFolder({});
    }

    QString lastMessage() const {
        const auto messages = m_dialogs.of(QStringLiteral("message"));
        return messages.empty() ? QString() : messages.back().text;
    }

    QTemporaryDir m_settings, m_out, m_temp;
    QByteArray m_savedTemp;
    shell::ScriptedDialogs m_dialogs;
    std::unique_ptr<app::Form1> m_form;
};

TEST_F(ConversionWindowTest, SamplesBecomeJpegPages) {
    m_dialogs.yesNoAnswers.push_back(false);
    QTest::mouseClick(m_form->PushButton7, Qt::LeftButton);
    ASSERT_EQ(m_form->ListView1->count(), 5);

    QTest::mouseClick(m_form->PushButton2, Qt::LeftButton);
    EXPECT_EQ(lastMessage(), QStringLiteral("Done."));
    EXPECT_TRUE(m_dialogs.of(QStringLiteral("warning")).empty());

    const QStringList images = QDir(m_out.path()).entryList({QStringLiteral("*.jpg")});
    EXPECT_EQ(images, (QStringList{QStringLiteral("Formatted letter with table.jpg"),
                                   QStringLiteral("HTML message with picture.jpg"),
                                   QStringLiteral("Non-Latin scripts.jpg"),
                                   QStringLiteral("Plain text message.jpg"),
                                   QStringLiteral("Two-page minutes_1.jpg"),
                                   QStringLiteral("Two-page minutes_2.jpg")}));
    for (const QString& name : images) {
        QImage page(m_out.filePath(name), "JPEG");
        ASSERT_FALSE(page.isNull()) << name.toStdString();
        EXPECT_EQ(page.size(), QSize(816, 1056)) << name.toStdString();  // Letter at 96 dpi
        EXPECT_GT(darkPixels(page), 200)                                 // text was drawn
            << name.toStdString();
    }
    EXPECT_TRUE(QDir(m_temp.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(m_form->ProgressBar1->value(), 0);
    EXPECT_EQ(m_form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(m_form->pointer().value(), 0);
}

// "Save pages as" PDF: one PDF per message, its pages inside; TIFF: a TIFF
// file per page, named as JPEG pages are; a message that fails is named as
// before.
TEST_F(ConversionWindowTest, ChosenFormatNamesAndMakesTheResults) {
    m_dialogs.yesNoAnswers.push_back(false);
    QTest::mouseClick(m_form->PushButton7, Qt::LeftButton);
    ASSERT_EQ(m_form->ListView1->count(), 5);
    m_form->Combo1->setCurrentIndex(1);
    QTest::mouseClick(m_form->PushButton2, Qt::LeftButton);
    EXPECT_EQ(lastMessage(), QStringLiteral("Done."));
    const QStringList pdfs = QDir(m_out.path()).entryList({QStringLiteral("*.pdf")});
    EXPECT_EQ(pdfs, (QStringList{QStringLiteral("Formatted letter with table.pdf"),
                                 QStringLiteral("HTML message with picture.pdf"),
                                 QStringLiteral("Non-Latin scripts.pdf"),
                                 QStringLiteral("Plain text message.pdf"),
                                 QStringLiteral("Two-page minutes.pdf")}));
    for (const QString& name : pdfs) {
        QFile file(m_out.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.startsWith("%PDF-")) << name.toStdString();
        EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF")) << name.toStdString();
        // Every page is a page object of the file.
        EXPECT_EQ(bytes.count("/Type /Page\n"), name.startsWith(u"Two-page") ? 2 : 1)
            << name.toStdString();
    }
    EXPECT_TRUE(QDir(m_out.path()).entryList({QStringLiteral("*.jpg")}).isEmpty());

    m_form->Combo1->setCurrentIndex(2);
    QTest::mouseClick(m_form->PushButton2, Qt::LeftButton);
    EXPECT_EQ(lastMessage(), QStringLiteral("Done."));
    const QStringList tiffs = QDir(m_out.path()).entryList({QStringLiteral("*.tif")});
    EXPECT_EQ(tiffs, (QStringList{QStringLiteral("Formatted letter with table.tif"),
                                  QStringLiteral("HTML message with picture.tif"),
                                  QStringLiteral("Non-Latin scripts.tif"),
                                  QStringLiteral("Plain text message.tif"),
                                  QStringLiteral("Two-page minutes_1.tif"),
                                  QStringLiteral("Two-page minutes_2.tif")}));
    QImage page(m_out.filePath(QStringLiteral("Plain text message.tif")));
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(page.size(), QSize(2550, 3300));  // Letter at 300 dpi
    EXPECT_GT(darkPixels(page), 200);

    const QString broken = m_out.filePath(QStringLiteral("broken.msg"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a message file");
    file.close();
    m_form->ListView1->appendItem(broken);
    m_form->Combo1->setCurrentIndex(1);
    QTest::mouseClick(m_form->PushButton2, Qt::LeftButton);
    EXPECT_TRUE(lastMessage().endsWith(
        QStringLiteral("broken.msg: The provided stream is not a valid IStorage")));
    EXPECT_FALSE(QFile::exists(m_out.filePath(QStringLiteral("broken.pdf"))));
}

TEST_F(ConversionWindowTest, BrokenMessageIsNamedInTheSummary) {
    const QString broken = m_out.filePath(QStringLiteral("broken.msg"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a message file");
    file.close();
    m_form->ListView1->appendItem(qEnvironmentVariable("ORVALINE_BIN") +
                                  QStringLiteral("/Samples/Plain text message.msg"));
    m_form->ListView1->appendItem(broken);

    QTest::mouseClick(m_form->PushButton2, Qt::LeftButton);
    EXPECT_EQ(lastMessage(),
              QStringLiteral("Done.\r\r1 of 2 file(s) could not be converted:\r"
                             "broken.msg: The provided stream is not a valid IStorage"));
    EXPECT_TRUE(QFile::exists(m_out.filePath(QStringLiteral("Plain text message.jpg"))));
    EXPECT_FALSE(QFile::exists(m_out.filePath(QStringLiteral("broken.jpg"))));
}

}  // namespace
