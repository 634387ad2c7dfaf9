// The job list's commands in the real window, with the real dialogs answered
// by a timer that finds them as the active modal widgets.
#include "tree.h"

#include <app/form1.h>
#include <joblist/file_list_view.h>
#include <shell/application.h>
#include <shell/paths.h>
#include <shell/settings.h>

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

using testtree::Tree;

TEST(Window, CommandsWorkThroughTheRealDialogs) {
    QTemporaryDir settings;
    shell::UseSettingsFile(settings.filePath(QStringLiteral("s.ini")));
    Tree app;
    shell::SetApplicationFolder(app.root());
    app.folder("Samples");
    app.file("Samples/example.msg");
    Tree tree;
    for (int f = 0; f < 20; ++f) {
        const QByteArray folder = "f" + QByteArray::number(f);
        tree.folder(folder);
        tree.file(folder + "/other.txt");
        for (int i = 0; i < 100; ++i) {
            tree.file(folder + "/m" + QByteArray::number(i) + ".msg");
        }
    }

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
            input->accept();
        } else if (auto* picker = qobject_cast<QFileDialog*>(modal)) {
            seen.append(QStringLiteral("folder"));
            // Typed into the dialog's own name field, as a user would.
            picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(tree.root());
            QMetaObject::invokeMethod(picker, "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.append(QStringLiteral("box:") + box->text().left(20));
            box->button(box->buttons().contains(box->button(QMessageBox::No)) ? QMessageBox::No
                                                                              : QMessageBox::Ok)
                ->click();
        }
    });
    answerer.start(20);

    QTest::mouseClick(form.PushButton4, Qt::LeftButton);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("input:msg"), QStringLiteral("folder")}));
    EXPECT_EQ(form.ListView1->count(), 2000);
    EXPECT_FALSE(form.pointer().busy());
    EXPECT_EQ(shell::ReadSetting(QString::fromLatin1(shell::key::kLastFolder), QString()),
              tree.root());

    QTest::mouseClick(form.PushButton7, Qt::LeftButton);
    EXPECT_EQ(form.ListView1->itemText(2001), app.path("Samples/example.msg"));
    EXPECT_EQ(seen.last(), QStringLiteral("box:Would you like this "));

    form.ListView1->setFocus();
    form.ListView1->setCurrentItem(form.ListView1->topLevelItem(0));
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    EXPECT_EQ(form.ListView1->count(), 2000);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(tree.path("f3"))});
    QSignalSpy handled(form.ListView1, &joblist::FileListView::dropHandled);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(form.ListView1->viewport(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(form.ListView1->viewport(), &drop);
    ASSERT_TRUE(handled.wait(10000));
    EXPECT_EQ(form.ListView1->count(), 2101);

    form.pointer().set(shell::WindowPointer::kHourglass);
    QTest::mouseClick(form.PushButton6, Qt::LeftButton);
    EXPECT_EQ(form.ListView1->count(), 2101);
    form.pointer().set(shell::WindowPointer::kDefault);
    QTest::mouseClick(form.PushButton6, Qt::LeftButton);
    EXPECT_EQ(form.ListView1->count(), 0);
    answerer.stop();
    EXPECT_EQ(seen.size(), 3);  // no failure report anywhere

    shell::SetApplicationFolder(QString());
    shell::UseSettingsFile(QString());
}
