#include <app/cursor_file.h>
#include <app/form1.h>
#include <joblist/file_list_view.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/paths.h>
#include <shell/progress_bar.h>
#include <shell/settings.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <qt_print.h>

#include <cstring>

namespace {

using shell::ScriptedDialogs;

// A 16 x 16 pointer file with its hot spot at (3, 5): ICONDIR, one entry,
// then a 32-bit DIB (double height for the AND mask).
QByteArray makeCursorFile() {
    QByteArray b;
    auto u8 = [&](int v) { b.append(static_cast<char>(v)); };
    auto u16 = [&](int v) {
        u8(v & 0xff);
        u8((v >> 8) & 0xff);
    };
    auto u32 = [&](quint32 v) {
        u16(static_cast<int>(v & 0xffff));
        u16(static_cast<int>(v >> 16));
    };
    const int w = 16, h = 16;
    const quint32 dibSize = 40 + w * h * 4 + h * 4;
    u16(0), u16(2), u16(1);
    u8(w), u8(h), u8(0), u8(0), u16(3), u16(5), u32(dibSize), u32(22);
    u32(40), u32(w), u32(h * 2), u16(1), u16(32), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
    for (int i = 0; i < w * h; ++i) {
        u8(0x20), u8(0x40), u8(0x80), u8(0xff);
    }
    for (int i = 0; i < h * 4; ++i) {
        u8(0);
    }
    return b;
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_settings.isValid());
        ASSERT_TRUE(m_appFolder.isValid());
        shell::UseSettingsFile(m_settings.filePath(QStringLiteral("Orvaline.conf")));
        shell::SetApplicationFolder(m_appFolder.path());
    }
    void TearDown() override {
        shell::UseSettingsFile({});
        shell::SetApplicationFolder({});
    }

    std::unique_ptr<app::Form1> load() {
        auto form = std::make_unique<app::Form1>(&m_dialogs);
        form->setCloseAction([this] { ++m_closed; });
        form->Form_Load();
        return form;
    }
    QString stored(const char* key) {
        QSettings s(m_settings.filePath(QStringLiteral("Orvaline.conf")), QSettings::IniFormat);
        return s.value(QString::fromLatin1(key)).toString();
    }
    void writeAppFile(const QString& name, const QByteArray& data) {
        QDir().mkpath(QFileInfo(m_appFolder.filePath(name)).path());
        QFile f(m_appFolder.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

    QTemporaryDir m_settings;
    QTemporaryDir m_appFolder;
    ScriptedDialogs m_dialogs;
    int m_closed = 0;
};

TEST_F(Form1Test, EmptyStoreOpensWithDefaultsAndControlsInPlace) {
    auto form = load();
    EXPECT_TRUE(m_dialogs.shown.empty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Orvaline"));
    EXPECT_EQ(shell::ApplicationTitle(), QStringLiteral("Orvaline"));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->size(), QSize(536, 468));

    // Twips / 15, rounded.
    EXPECT_EQ(form->ListView1->geometry(), QRect(8, 8, 520, 169));
    EXPECT_EQ(form->PushButton1->geometry(), QRect(8, 183, 256, 27));
    EXPECT_EQ(form->PushButton4->geometry(), QRect(272, 183, 256, 27));
    EXPECT_EQ(form->PushButton6->geometry(), QRect(8, 217, 256, 27));
    EXPECT_EQ(form->PushButton7->geometry(), QRect(272, 217, 256, 27));
    EXPECT_EQ(form->Frame1->geometry(), QRect(8, 247, 520, 141));
    EXPECT_EQ(form->Option1->geometry(), QRect(16, 20, 241, 17));
    EXPECT_EQ(form->Frame4->geometry(), QRect(32, 34, 456, 54));
    EXPECT_EQ(form->Text1->geometry(), QRect(16, 20, 378, 23));
    EXPECT_EQ(form->PushButton9->geometry(), QRect(400, 20, 40, 23));
    EXPECT_EQ(form->Option2->geometry(), QRect(16, 94, 241, 17));
    EXPECT_EQ(form->Check1->geometry(), QRect(272, 94, 232, 17));
    EXPECT_EQ(form->Check1->parentWidget(), form->Frame1);
    EXPECT_EQ(form->Check2->geometry(), QRect(272, 114, 232, 17));
    EXPECT_EQ(form->Check2->parentWidget(), form->Frame1);
    EXPECT_EQ(form->Label1->geometry(), QRect(18, 114, 89, 17));
    EXPECT_EQ(form->Combo1->geometry(), QRect(108, 111, 81, 22));
    EXPECT_EQ(form->Combo1->parentWidget(), form->Frame1);
    EXPECT_EQ(form->PushButton2->geometry(), QRect(8, 397, 520, 27));
    EXPECT_EQ(form->ProgressBar1->geometry(), QRect(8, 432, 520, 27));
    EXPECT_EQ(form->Option1->parentWidget(), form->Frame1);
    EXPECT_EQ(form->Text1->parentWidget(), form->Frame4);
    EXPECT_EQ(form->PushButton9->parentWidget(), form->Frame4);

    EXPECT_EQ(form->PushButton1->text(), QStringLiteral("Add MSG File(s)"));
    EXPECT_EQ(form->PushButton4->text(), QStringLiteral("Add All MSG File(s) In Folder"));
    EXPECT_EQ(form->PushButton6->text(), QStringLiteral("Clear List"));
    EXPECT_EQ(form->PushButton7->text(), QStringLiteral("Load Sample/Example Files"));
    EXPECT_EQ(form->PushButton2->text(), QStringLiteral("Start Converting"));
    EXPECT_EQ(form->PushButton9->text(), QStringLiteral("..."));
    EXPECT_EQ(form->Check1->text(), QStringLiteral("Include message header"));
    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("Check1")), form->Check1);
    EXPECT_EQ(form->Check2->text(), QStringLiteral("Include attachments"));
    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("Check2")), form->Check2);
    EXPECT_EQ(form->Frame1->title(), QStringLiteral("Save Option"));
    EXPECT_TRUE(form->Frame4->title().isEmpty());
    EXPECT_EQ(form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(form->ListView1->toolTip(),
              QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | "
                             "line to right and out of window to reveal full names."));
    EXPECT_EQ(form->ListView1->headerItem()->text(0), QStringLiteral("MSG File(s)"));
    EXPECT_EQ(form->ListView1->columnCount(), 1);
    EXPECT_EQ(form->ListView1->header()->sectionSize(0), 467);

    EXPECT_EQ(form->font().family(), QStringLiteral("Arial"));
    EXPECT_TRUE(form->font().bold());
    EXPECT_EQ(form->font().pointSize(), 9);
    EXPECT_TRUE(form->ListView1->font().bold());
    EXPECT_DOUBLE_EQ(form->PushButton2->font().pointSizeF(), 11.25);
    EXPECT_TRUE(form->PushButton2->font().bold());

    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("ListView1")), form->ListView1);
    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("ProgressBar1")), form->ProgressBar1);

    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_FALSE(form->Option2->isChecked());
    EXPECT_TRUE(form->Frame4->isEnabled());
    const QString desktop = shell::DesktopFolder();
    EXPECT_EQ(form->Text1->text(), desktop);
    EXPECT_EQ(stored("Text1"), desktop);       // written by the change handler
    EXPECT_TRUE(stored("Option1").isEmpty());  // loading writes no option
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_TRUE(stored("Header").isEmpty());
    EXPECT_FALSE(form->Check2->isChecked());
    EXPECT_TRUE(stored("Attachments").isEmpty());
    EXPECT_EQ(form->Label1->text(), QStringLiteral("Save pages as:"));
    EXPECT_EQ(form->Label1->buddy(), form->Combo1);
    ASSERT_EQ(form->Combo1->count(), 3);
    EXPECT_EQ(form->Combo1->itemText(0), QStringLiteral("JPEG"));
    EXPECT_EQ(form->Combo1->itemText(1), QStringLiteral("PDF"));
    EXPECT_EQ(form->Combo1->itemText(2), QStringLiteral("TIFF"));
    EXPECT_EQ(form->Combo1->currentText(), QStringLiteral("JPEG"));
    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("Combo1")), form->Combo1);
    EXPECT_TRUE(stored("Format").isEmpty());
}

TEST_F(Form1Test, StoredChoiceOfOriginalFolderIsRestored) {
    shell::WriteSetting(QStringLiteral("Option1"), QStringLiteral("False"));
    shell::WriteSetting(QStringLiteral("Option2"), QStringLiteral("True"));
    shell::WriteSetting(QStringLiteral("Text1"), QStringLiteral("/no/such/folder   "));
    auto form = load();
    EXPECT_FALSE(form->Option1->isChecked());
    EXPECT_TRUE(form->Option2->isChecked());
    EXPECT_FALSE(form->Frame4->isEnabled());
    EXPECT_FALSE(form->Text1->isEnabled() && form->Frame4->isEnabled());
    EXPECT_EQ(form->Text1->text(), QStringLiteral("/no/such/folder   "));
}

TEST_F(Form1Test, BothOptionsStoredFalseLeavesNeitherChosen) {
    shell::WriteSetting(QStringLiteral("Option1"), QStringLiteral("false"));
    shell::WriteSetting(QStringLiteral("Option2"), QStringLiteral("0"));
    auto form = load();
    EXPECT_FALSE(form->Option1->isChecked());
    EXPECT_FALSE(form->Option2->isChecked());
    EXPECT_FALSE(form->Frame4->isEnabled());
}

TEST_F(Form1Test, UnreadableOptionIsReportedOnceAndLoadingGoesOn) {
    shell::WriteSetting(QStringLiteral("Option1"), QStringLiteral("maybe"));
    shell::WriteSetting(QStringLiteral("Option2"), QStringLiteral("False"));
    auto form = load();
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_EQ(m_dialogs.shown[0].caption, QStringLiteral("Application Error"));
    EXPECT_TRUE(m_dialogs.shown[0].text.startsWith(
        QStringLiteral("Type mismatch\r\nin Orvapix2021/08/31.Form1.Form_Load at line 138\r\r")));
    // Option1 keeps its design state; the remaining steps ran.
    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_TRUE(form->Frame4->isEnabled());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Orvaline"));
}

TEST_F(Form1Test, OptionClicksWriteBothOptionsAndSwitchTheFrame) {
    auto form = load();
    form->show();
    QTest::mouseClick(form->Option2, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_TRUE(form->Option2->isChecked());
    EXPECT_EQ(stored("Option1"), QStringLiteral("False"));
    EXPECT_EQ(stored("Option2"), QStringLiteral("True"));
    EXPECT_FALSE(form->Frame4->isEnabled());

    QTest::mouseClick(form->Option1, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(stored("Option1"), QStringLiteral("True"));
    EXPECT_EQ(stored("Option2"), QStringLiteral("False"));
    EXPECT_TRUE(form->Frame4->isEnabled());
}

TEST_F(Form1Test, HeaderBoxIsStoredWhenClickedAndRestoredOnLoad) {
    {
        auto form = load();
        form->show();
        QTest::mouseClick(form->Check1, Qt::LeftButton, {}, QPoint(5, 8));
        EXPECT_TRUE(form->Check1->isChecked());
        EXPECT_EQ(stored("Header"), QStringLiteral("True"));
    }
    EXPECT_TRUE(load()->Check1->isChecked());

    shell::WriteSetting(QStringLiteral("Header"), QStringLiteral("maybe"));
    auto form = load();
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_TRUE(m_dialogs.shown[0].text.startsWith(
        QStringLiteral("Type mismatch\r\nin Orvapix2021/08/31.Form1.Form_Load at line 150\r\r")));
    EXPECT_FALSE(form->Check1->isChecked());
    form->show();
    QTest::mouseClick(form->Check1, Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseClick(form->Check1, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(stored("Header"), QStringLiteral("False"));
}

TEST_F(Form1Test, AttachmentsBoxIsStoredWhenClickedAndRestoredOnLoad) {
    {
        auto form = load();
        form->show();
        QTest::mouseClick(form->Check2, Qt::LeftButton, {}, QPoint(5, 8));
        EXPECT_TRUE(form->Check2->isChecked());
        EXPECT_FALSE(form->Check1->isChecked());
        EXPECT_EQ(stored("Attachments"), QStringLiteral("True"));
        EXPECT_TRUE(stored("Header").isEmpty());
    }
    EXPECT_TRUE(load()->Check2->isChecked());

    shell::WriteSetting(QStringLiteral("Attachments"), QStringLiteral("maybe"));
    auto form = load();
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_TRUE(m_dialogs.shown[0].text.startsWith(
        QStringLiteral("Type mismatch\r\nin Orvapix2021/08/31.Form1.Form_Load at line 152\r\r")));
    EXPECT_FALSE(form->Check2->isChecked());
}

TEST_F(Form1Test, PageFormatIsStoredWhenChosenAndRestoredOnLoad) {
    {
        auto form = load();
        form->show();
        // Chosen the way a user does: the list opened, an entry picked.
        form->Combo1->setFocus();
        QTest::keyClick(form->Combo1, Qt::Key_Down);
        EXPECT_EQ(form->Combo1->currentText(), QStringLiteral("PDF"));
        EXPECT_EQ(stored("Format"), QStringLiteral("PDF"));
    }
    EXPECT_EQ(load()->Combo1->currentText(), QStringLiteral("PDF"));
    shell::WriteSetting(QStringLiteral("Format"), QStringLiteral("TIFF"));
    EXPECT_EQ(load()->Combo1->currentText(), QStringLiteral("TIFF"));

    // A value the list does not hold reads as the default, without a fault.
    shell::WriteSetting(QStringLiteral("Format"), QStringLiteral("GIF"));
    auto form = load();
    EXPECT_EQ(form->Combo1->currentText(), QStringLiteral("JPEG"));
    EXPECT_TRUE(m_dialogs.shown.empty());
}

TEST_F(Form1Test, EveryTextChangeIsStored) {
    auto form = load();
    form->show();
    form->Text1->clear();
    QTest::keyClicks(form->Text1, QStringLiteral("/ou"));
    EXPECT_EQ(stored("Text1"), QStringLiteral("/ou"));
    QTest::keyClick(form->Text1, Qt::Key_T);
    EXPECT_EQ(stored("Text1"), QStringLiteral("/out"));
}

TEST_F(Form1Test, HoverShowsHandOverButtonsButNeverReplacesHourglass) {
    auto form = load();
    form->show();
    QTest::mouseMove(form->PushButton1, QPoint(10, 10));
    QMouseEvent overButton(QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton,
                           Qt::NoButton, Qt::NoModifier);
    QMouseEvent overWindow(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton,
                           Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->PushButton9, &overButton);
    EXPECT_EQ(form->pointer().value(), 99);
    QCoreApplication::sendEvent(form->Frame1, &overWindow);
    EXPECT_EQ(form->pointer().value(), 0);

    form->pointer().set(11);
    QCoreApplication::sendEvent(form->PushButton2, &overButton);
    EXPECT_EQ(form->pointer().value(), 11);
    QCoreApplication::sendEvent(form.get(), &overWindow);
    EXPECT_EQ(form->pointer().value(), 11);
    EXPECT_EQ(form->cursor().shape(), Qt::WaitCursor);
}

TEST_F(Form1Test, HandPointerFileIsLoadedWhenPresent) {
    writeAppFile(QStringLiteral("HAND-M.CUR"), makeCursorFile());
    auto form = load();
    EXPECT_TRUE(m_dialogs.shown.empty());
    EXPECT_TRUE(form->pointer().hasCustomCursor());

    const auto cursor = app::LoadCursorFile(m_appFolder.filePath(QStringLiteral("HAND-M.CUR")));
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->hotSpot(), QPoint(3, 5));
    EXPECT_EQ(cursor->pixmap().size(), QSize(16, 16));
}

TEST_F(Form1Test, BrokenHandPointerFileIsReportedAtItsStep) {
    writeAppFile(QStringLiteral("HAND-M.CUR"), QByteArray("not a pointer"));
    auto form = load();
    ASSERT_EQ(m_dialogs.shown.size(), 1u);
    EXPECT_TRUE(m_dialogs.shown[0].text.contains(QStringLiteral("Form_Load at line 104")));
    EXPECT_FALSE(form->pointer().hasCustomCursor());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Orvaline"));
}

TEST_F(Form1Test, SkinFileIsAppliedOnlyWhenPresent) {
    {
        auto plain = load();
        EXPECT_TRUE(plain->styleSheet().isEmpty());
        EXPECT_FALSE(plain->autoFillBackground());
    }
    writeAppFile(QStringLiteral("x/o.cjs"), "QPushButton { color: #123456; }");
    auto skinned = load();
    EXPECT_EQ(skinned->styleSheet(), QStringLiteral("QPushButton { color: #123456; }"));
    EXPECT_TRUE(skinned->autoFillBackground());
    EXPECT_EQ(skinned->palette().color(QPalette::Window),
              skinned->palette().color(QPalette::Button));
    EXPECT_TRUE(skinned->Frame1->autoFillBackground());
    EXPECT_TRUE(skinned->Option2->autoFillBackground());
}

TEST_F(Form1Test, ClosingRunsTheCloseAction) {
    auto form = load();
    form->show();
    form->close();
    EXPECT_EQ(m_closed, 1);
}

// "orvaline FILE..." (a file manager's Open With): the paths are listed as a
// drop lists them, relative ones made absolute, missing ones left out.
TEST_F(Form1Test, StartPathsAreListedAsADropListsThem) {
    writeAppFile(QStringLiteral("in/a.msg"), "a");
    writeAppFile(QStringLiteral("in/sub/b.msg"), "b");
    auto form = load();
    form->addStartPaths({});
    EXPECT_EQ(form->ListView1->count(), 0);
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_appFolder.path()));
    form->addStartPaths({QStringLiteral("in/a.msg"), QStringLiteral("no/such.msg"),
                         m_appFolder.filePath(QStringLiteral("in/sub"))});
    QDir::setCurrent(saved);
    ASSERT_EQ(form->ListView1->count(), 2);
    EXPECT_EQ(form->ListView1->itemText(1), m_appFolder.filePath(QStringLiteral("in/a.msg")));
    EXPECT_EQ(form->ListView1->itemText(2), m_appFolder.filePath(QStringLiteral("in/sub/b.msg")));
    EXPECT_TRUE(m_dialogs.shown.empty());
}

TEST(ApplicationTitle, ShortenedAtBlanks) {
    EXPECT_EQ(shell::ShortenTitle(QStringLiteral("Orvaline")), QStringLiteral("Orvaline"));
    EXPECT_EQ(shell::ShortenTitle(QStringLiteral("Orvaline Mail Converter")),
              QStringLiteral("Orvaline Mail"));
    // Over 40 characters after the first cut: cut word by word until it fits.
    EXPECT_EQ(shell::ShortenTitle(
                  QStringLiteral("Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel India")),
              QStringLiteral("Alpha Bravo Charlie Delta Echo Foxtrot"));
}

}  // namespace
