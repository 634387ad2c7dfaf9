// The job list's commands and gestures in the real window.
#include "tree.h"

#include <app/form1.h>
#include <joblist/file_list_view.h>
#include <shell/dialogs.h>
#include <shell/paths.h>
#include <shell/settings.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

using testtree::Tree;

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        shell::UseSettingsFile(settingsDir.filePath(QStringLiteral("settings.ini")));
        shell::SetApplicationFolder(app.root());
        form = std::make_unique<app::Form1>(&dialogs);
        form->setCloseAction([] {});
        form->Form_Load();
        form->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        form.reset();
        shell::SetApplicationFolder(QString());
        shell::UseSettingsFile(QString());
    }
    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    QTemporaryDir settingsDir;
    Tree app;
    shell::ScriptedDialogs dialogs;
    std::unique_ptr<app::Form1> form;
};

}  // namespace

TEST_F(Window, AddAllFillsTheListFromATreeOfAFewThousandFiles) {
    Tree tree;
    for (int f = 0; f < 20; ++f) {
        const QString folder = QStringLiteral("f%1").arg(f);
        tree.folder(folder);
        for (int i = 0; i < 100; ++i) {
            tree.file(folder + QStringLiteral("/m%1.msg").arg(i));
        }
        tree.file(folder + QStringLiteral("/other.txt"));
    }
    dialogs.inputAnswers = {QStringLiteral("msg")};
    dialogs.folderAnswers = {tree.root()};
    click(form->PushButton4);
    EXPECT_EQ(form->ListView1->count(), 2000);
    EXPECT_FALSE(form->pointer().busy());
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
    EXPECT_EQ(shell::ReadSetting(QString::fromLatin1(shell::key::kLastFolder), QString()),
              tree.root());
}

TEST_F(Window, AddFilesThenDeleteThenClear) {
    dialogs.openAnswers = {QStringList{QStringLiteral("/m"), QStringLiteral("a.msg"),
                                       QStringLiteral("b.msg"), QStringLiteral("c.msg")}
                               .join(QChar(u'\0'))};
    click(form->PushButton1);
    ASSERT_EQ(form->ListView1->count(), 3);

    form->ListView1->setFocus();
    form->ListView1->setCurrentItem(form->ListView1->topLevelItem(1));
    QTest::keyClick(form->ListView1, Qt::Key_Delete);
    EXPECT_EQ(form->ListView1->itemText(2), QStringLiteral("/m/c.msg"));

    form->pointer().set(shell::WindowPointer::kHourglass);
    click(form->PushButton6);
    EXPECT_EQ(form->ListView1->count(), 2);
    form->pointer().set(shell::WindowPointer::kDefault);
    click(form->PushButton6);
    EXPECT_EQ(form->ListView1->count(), 0);
    EXPECT_TRUE(dialogs.of(QStringLiteral("warning")).empty());
}

TEST_F(Window, LoadSamplesAddsTheShippedFiles) {
    app.folder(QByteArray("Samples"));
    app.file(QByteArray("Samples/example.msg"));
    dialogs.yesNoAnswers = {true};
    click(form->PushButton7);
    EXPECT_EQ(form->ListView1->count(), 1);
    EXPECT_EQ(form->ListView1->itemText(1), app.path(QStringLiteral("Samples/example.msg")));
    ASSERT_EQ(dialogs.of(QStringLiteral("open-folder")).size(), 1u);
}

TEST_F(Window, FolderDroppedOnTheListIsAdded) {
    Tree tree;
    tree.folder(QByteArray("box"));
    tree.file(QByteArray("box/a.msg"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(tree.path(QStringLiteral("box")))});
    QWidget* viewport = form->ListView1->viewport();
    QSignalSpy handled(form->ListView1, &joblist::FileListView::dropHandled);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    ASSERT_TRUE(handled.wait(10000));
    EXPECT_EQ(form->ListView1->itemText(1), tree.path(QStringLiteral("box/a.msg")));
}

// The real dialogs: the extension prompt and the folder picker are answered
// by a timer that finds them as the active modal widgets.
TEST(RealWindow, AddAllThroughTheRealDialogs) {
    QTemporaryDir settingsDir;
    shell::UseSettingsFile(settingsDir.filePath(QStringLiteral("settings.ini")));
    Tree tree;
    tree.folder(QByteArray("sub"));
    tree.file(QByteArray("a.msg"));
    tree.file(QByteArray("sub/b.MSG"));
    tree.file(QByteArray("sub/c.txt"));

    app::Form1 form;
    form.setCloseAction([] {});
    form.Form_Load();
    form.show();
    QStringList seen;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* input = qobject_cast<QInputDialog*>(modal)) {
            seen.append(QStringLiteral("input:") + input->textValue());
            input->setTextValue(QStringLiteral("msg"));
            input->accept();
        } else if (auto* picker = qobject_cast<QFileDialog*>(modal)) {
            seen.append(QStringLiteral("folder"));
            // Typed into the dialog's own name field, as a user would.
            auto* nameField = picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(nameField, nullptr);
            nameField->setText(tree.root());
            QMetaObject::invokeMethod(picker, "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.append(QStringLiteral("box:") + box->text());
            box->accept();
        }
    });
    answerer.start(50);
    form.PushButton4->click();
    answerer.stop();
    EXPECT_EQ(seen, (QStringList{QStringLiteral("input:msg"), QStringLiteral("folder")}));
    ASSERT_EQ(form.ListView1->count(), 2);
    EXPECT_EQ(form.ListView1->itemText(1), tree.path(QStringLiteral("a.msg")));
    EXPECT_EQ(form.ListView1->itemText(2), tree.path(QStringLiteral("sub/b.MSG")));
    EXPECT_EQ(shell::ReadSetting(QString::fromLatin1(shell::key::kLastFolder), QString()),
              tree.root());
    shell::UseSettingsFile(QString());
}
