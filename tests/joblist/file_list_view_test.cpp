#include "tree.h"

#include <joblist/file_list_view.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/paths.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using joblist::FileListView;
using testtree::Tree;

namespace {

class ListView : public ::testing::Test {
protected:
    void SetUp() override {
        list.setColumnCount(1);
        list.resize(400, 200);
        list.attach(&pointer, &dialogs);
        list.show();
        QApplication::processEvents();
    }

    void fill(std::initializer_list<const char*> texts) {
        for (const char* t : texts) {
            list.appendItem(QString::fromLatin1(t));
        }
    }
    QStringList texts() const {
        QStringList result;
        for (int i = 1; i <= list.count(); ++i) {
            result.append(list.itemText(i));
        }
        return result;
    }
    QPoint rowCenter(int position) const {
        return list.visualItemRect(list.topLevelItem(position - 1)).center();
    }
    // Below the last row: no item there.
    QPoint besideRows() const { return {10, list.viewport()->height() - 3}; }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
               Qt::MouseButton button = Qt::LeftButton) {
        QWidget* vp = list.viewport();
        QMouseEvent event(type, QPointF(at), QPointF(vp->mapToGlobal(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(vp, &event);
    }
    // Press, release, double-click, release, as the platform delivers them.
    void doubleClick(QPoint at) {
        press(at);
        release(at);
        mouse(QEvent::MouseButtonDblClick, at, Qt::LeftButton);
        release(at);
    }
    void press(QPoint at) { mouse(QEvent::MouseButtonPress, at, Qt::LeftButton); }
    void moveWithButton(QPoint at) { mouse(QEvent::MouseMove, at, Qt::LeftButton); }
    void release(QPoint at) { mouse(QEvent::MouseButtonRelease, at, Qt::NoButton); }

    void drop(QMimeData* data) {
        QWidget* vp = list.viewport();
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &enter);
        enterAccepted = enter.isAccepted();
        QDropEvent dropped(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QSignalSpy handled(&list, &FileListView::dropHandled);
        QApplication::sendEvent(vp, &dropped);
        dropAccepted = dropped.isAccepted();
        if (dropAccepted) {
            ASSERT_TRUE(handled.wait(10000));
        }
        QApplication::processEvents();
    }
    static QMimeData* urls(const QStringList& paths) {
        auto* data = new QMimeData;
        QList<QUrl> list;
        for (const QString& p : paths) {
            list.append(QUrl::fromLocalFile(p));
        }
        data->setUrls(list);
        return data;
    }

    shell::ScriptedDialogs dialogs;
    shell::WindowPointer pointer{nullptr};
    FileListView list;
    bool enterAccepted = false;
    bool dropAccepted = false;
};

}  // namespace

// --- Removing entries -----------------------------------------------------

TEST_F(ListView, DeleteKeyRemovesTheSelectedItem) {
    fill({"a", "b", "c"});
    list.setCurrentItem(list.topLevelItem(1));
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
}

TEST_F(ListView, DeleteDoesNothingWhileTheWindowIsBusy) {
    fill({"a", "b"});
    list.setCurrentItem(list.topLevelItem(0));
    pointer.set(shell::WindowPointer::kHourglass);
    QTest::keyClick(&list, Qt::Key_Delete);
    doubleClick(besideRows());
    EXPECT_EQ(list.count(), 2);
    pointer.set(shell::WindowPointer::kDefault);
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(texts(), QStringList{QStringLiteral("b")});
}

TEST_F(ListView, DeleteWithoutSelectionOrItemsDoesNothing) {
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(list.count(), 0);
    fill({"a"});
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(list.count(), 1);
    list.setCurrentItem(list.topLevelItem(0));
    QTest::keyClick(&list, Qt::Key_Backspace);
    EXPECT_EQ(list.count(), 1);
}

TEST_F(ListView, DoubleClickBesideTheRowsRemovesTheSelectedItem) {
    fill({"a", "b"});
    list.setCurrentItem(list.topLevelItem(1));
    doubleClick(besideRows());
    EXPECT_EQ(texts(), QStringList{QStringLiteral("a")});
}

TEST_F(ListView, DoubleClickOnARowRemovesThatRow) {
    fill({"a", "b", "c"});
    doubleClick(rowCenter(2));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
}

// --- The reorder gesture --------------------------------------------------

TEST_F(ListView, DraggingDownOverThreeRowsMovesTheEntryThreePlaces) {
    fill({"a", "b", "c", "d", "e"});
    press(rowCenter(1));
    for (int row = 2; row <= 4; ++row) {
        moveWithButton(rowCenter(row));
    }
    release(rowCenter(4));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"),
                                    QStringLiteral("a"), QStringLiteral("e")}));
    EXPECT_EQ(list.currentItem(), list.topLevelItem(3));
    EXPECT_EQ(list.draggedPosition(), 4);
}

TEST_F(ListView, SkippedRowsAreExchangedNotShifted) {
    fill({"a", "b", "c", "d"});
    press(rowCenter(1));
    moveWithButton(rowCenter(4));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("d"), QStringLiteral("b"), QStringLiteral("c"),
                                    QStringLiteral("a")}));
}

TEST_F(ListView, EqualTextsAreNeverExchanged) {
    fill({"same", "same", "other"});
    press(rowCenter(1));
    moveWithButton(rowCenter(2));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("same"), QStringLiteral("same"),
                                    QStringLiteral("other")}));
    EXPECT_EQ(list.draggedPosition(), 1);
    moveWithButton(rowCenter(3));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("other"), QStringLiteral("same"),
                                    QStringLiteral("same")}));
}

TEST_F(ListView, MovingWithoutAnItemPressChangesNothing) {
    fill({"a", "b", "c"});
    // Button down beside the rows: no item click, no dragged item.
    press(besideRows());
    moveWithButton(rowCenter(1));
    moveWithButton(rowCenter(3));
    release(rowCenter(3));
    // Moves without the button never reorder either.
    mouse(QEvent::MouseMove, rowCenter(2), Qt::NoButton);
    EXPECT_EQ(texts(),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

TEST_F(ListView, RemovedDraggedItemCountsAsNone) {
    fill({"a", "b", "c"});
    press(rowCenter(1));
    release(rowCenter(1));
    list.removeSelectedItem();
    ASSERT_EQ(list.draggedPosition(), 0);
    press(besideRows());
    moveWithButton(rowCenter(1));
    moveWithButton(rowCenter(2));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
}

TEST_F(ListView, DragPointerShowsFromPressToRelease) {
    Tree app;
    shell::SetApplicationFolder(app.root());
    fill({"a", "b"});
    // Without "drag.ico" a stock pointer stands in; the press still prepares
    // the reorder.
    press(rowCenter(1));
    EXPECT_EQ(list.listPointer(), FileListView::kDragPointer);
    EXPECT_TRUE(list.mouseButtonDown());
    EXPECT_EQ(list.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    EXPECT_EQ(list.draggedPosition(), 1);
    release(rowCenter(1));
    EXPECT_EQ(list.listPointer(), FileListView::kArrowPointer);
    EXPECT_FALSE(list.mouseButtonDown());

    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    ASSERT_TRUE(icon.save(app.path(QStringLiteral("drag.ico")), "ICO"));
    press(rowCenter(2));
    EXPECT_EQ(list.viewport()->cursor().shape(), Qt::BitmapCursor);
    release(rowCenter(2));
    shell::SetApplicationFolder(QString());
}

TEST_F(ListView, MouseMoveResetsTheWindowPointerUnlessBusy) {
    pointer.set(shell::WindowPointer::kCustom);
    mouse(QEvent::MouseMove, QPoint(5, 5), Qt::NoButton);
    EXPECT_EQ(pointer.value(), shell::WindowPointer::kDefault);
    pointer.set(shell::WindowPointer::kHourglass);
    mouse(QEvent::MouseMove, QPoint(6, 6), Qt::NoButton);
    EXPECT_EQ(pointer.value(), shell::WindowPointer::kHourglass);
}

TEST_F(ListView, ExchangeNearTheBottomEdgeBringsTheNextRowIntoView) {
    for (int i = 0; i < 100; ++i) {
        list.appendItem(QStringLiteral("row %1").arg(i + 1));
    }
    list.scrollToTop();
    QApplication::processEvents();
    const int bottom = list.viewport()->height() - 2;
    QTreeWidgetItem* atBottom = list.itemAt(QPoint(10, bottom));
    ASSERT_NE(atBottom, nullptr);
    const int row = list.indexOfTopLevelItem(atBottom);
    // Two rows above the partly shown bottom row: away from both edges.
    press(rowCenter(row - 1));
    // An exchange in the middle of the view scrolls nothing.
    const int before = list.verticalScrollBar()->value();
    moveWithButton(rowCenter(row - 2));
    EXPECT_EQ(list.verticalScrollBar()->value(), before);
    moveWithButton(rowCenter(row - 1));
    EXPECT_EQ(list.verticalScrollBar()->value(), before);
    // At the bottom edge the row below comes into view.
    moveWithButton(QPoint(10, bottom));
    ASSERT_EQ(list.currentItem(), list.topLevelItem(row));
    QTreeWidgetItem* next = list.topLevelItem(row + 1);
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualItemRect(next)));
    release(QPoint(10, bottom));
}

TEST_F(ListView, ExchangeNearTheTopEdgeBringsThePreviousRowIntoView) {
    for (int i = 0; i < 100; ++i) {
        list.appendItem(QStringLiteral("row %1").arg(i + 1));
    }
    list.scrollToItem(list.topLevelItem(50), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();
    QTreeWidgetItem* atTop = list.itemAt(QPoint(10, 1));
    ASSERT_EQ(list.indexOfTopLevelItem(atTop), 50);
    press(rowCenter(52));
    moveWithButton(QPoint(10, 1));
    EXPECT_EQ(list.itemText(51), QStringLiteral("row 52"));
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualItemRect(list.topLevelItem(49))));
    release(QPoint(10, 1));
}

// --- Drops ----------------------------------------------------------------

TEST_F(ListView, RefusesDataThatIsNotAListOfLocalFiles) {
    auto* text = new QMimeData;
    text->setText(QStringLiteral("/etc/passwd"));
    drop(text);
    EXPECT_FALSE(enterAccepted);
    EXPECT_FALSE(dropAccepted);

    auto* image = new QMimeData;
    image->setImageData(QImage(4, 4, QImage::Format_RGB32));
    drop(image);
    EXPECT_FALSE(enterAccepted);

    auto* web = new QMimeData;
    web->setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.msg")),
                  QUrl(QStringLiteral("https://example.org/b.msg"))});
    drop(web);
    EXPECT_FALSE(enterAccepted);
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(dialogs.shown.empty());
    delete text;
    delete image;
    delete web;
}

TEST_F(ListView, DroppedFilesAreAddedUnchangedAndVanishedOnesSkipped) {
    Tree tree;
    tree.file(QByteArray("notes.txt"));
    tree.file(QByteArray("~$temp.msg"));
    std::unique_ptr<QMimeData> data(
        urls({tree.path(QStringLiteral("notes.txt")), tree.path(QStringLiteral("gone.msg")),
              tree.path(QStringLiteral("~$temp.msg"))}));
    drop(data.get());
    EXPECT_TRUE(enterAccepted);
    EXPECT_EQ(texts(), (QStringList{tree.path(QStringLiteral("notes.txt")),
                                    tree.path(QStringLiteral("~$temp.msg"))}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ListView, DroppedFolderListsItsFilesThenItsSubFolders) {
    Tree tree;
    tree.folder(QByteArray("box"));
    tree.folder(QByteArray("box/sub"));
    tree.file(QByteArray("box/sub/b.msg"));
    tree.file(QByteArray("box/a.msg"));
    tree.file(QByteArray("box/~$temp.msg"));
    tree.file(QByteArray("box/.archive-hidden"));
    tree.file(QByteArray("box/.hidden-read-only"), 0444);
    std::unique_ptr<QMimeData> data(urls({tree.path(QStringLiteral("box"))}));
    drop(data.get());
    const QStringList got = texts();
    ASSERT_EQ(got.size(), 3);
    EXPECT_EQ(std::set<QString>(got.begin(), got.begin() + 2),
              (std::set<QString>{tree.path(QStringLiteral("box/a.msg")),
                                 tree.path(QStringLiteral("box/.hidden-read-only"))}));
    EXPECT_EQ(got.at(2), tree.path(QStringLiteral("box/sub/b.msg")));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ListView, TwoFoldersAndAFileInsideOneOfThem) {
    Tree tree;
    tree.folder(QByteArray("one"));
    tree.folder(QByteArray("two"));
    tree.folder(QByteArray("empty"));
    tree.file(QByteArray("one/a.msg"));
    tree.file(QByteArray("two/b.msg"));
    std::unique_ptr<QMimeData> data(
        urls({tree.path(QStringLiteral("one")), tree.path(QStringLiteral("empty")),
              tree.path(QStringLiteral("two")), tree.path(QStringLiteral("one/a.msg"))}));
    drop(data.get());
    EXPECT_EQ(texts(), (QStringList{tree.path(QStringLiteral("one/a.msg")),
                                    tree.path(QStringLiteral("two/b.msg")),
                                    tree.path(QStringLiteral("one/a.msg"))}));
    EXPECT_TRUE(dialogs.shown.empty());
}
