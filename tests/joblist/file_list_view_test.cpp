#include "tree.h"

#include <joblist/file_list_view.h>
#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/paths.h>

#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>
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
    }
    void fill(const QString& letters) {
        for (QChar c : letters) {
            list.appendItem(QString(c));
        }
    }
    QString texts() const {
        QString all;
        for (int i = 1; i <= list.count(); ++i) {
            all += list.itemText(i);
        }
        return all;
    }
    QPoint row(int position) const {
        return list.visualItemRect(list.topLevelItem(position - 1)).center();
    }
    QPoint besideRows() const { return {10, list.viewport()->height() - 3}; }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(list.viewport()->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, {});
        QApplication::sendEvent(list.viewport(), &e);
    }
    void press(QPoint at) { mouse(QEvent::MouseButtonPress, at, Qt::LeftButton); }
    void drag(QPoint at) { mouse(QEvent::MouseMove, at, Qt::LeftButton); }
    void release(QPoint at) { mouse(QEvent::MouseButtonRelease, at, Qt::NoButton); }
    void doubleClick(QPoint at) {
        press(at);
        release(at);
        mouse(QEvent::MouseButtonDblClick, at, Qt::LeftButton);
        release(at);
    }
    // Drags `data` over the list and drops it; true when the list took it.
    bool drop(const QMimeData& data) {
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list.viewport(), &enter);
        QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
        QSignalSpy handled(&list, &FileListView::dropHandled);
        QApplication::sendEvent(list.viewport(), &dropped);
        EXPECT_EQ(enter.isAccepted(), dropped.isAccepted());
        return dropped.isAccepted() && handled.wait(10000);
    }
    static std::unique_ptr<QMimeData> files(const QStringList& paths) {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& p : paths) {
            urls.append(QUrl::fromLocalFile(p));
        }
        data->setUrls(urls);
        return data;
    }

    shell::ScriptedDialogs dialogs;
    shell::WindowPointer pointer{nullptr};
    FileListView list;
};

}  // namespace

TEST_F(ListView, DeleteKeyRemovesTheSelectedItemUnlessBusy) {
    QTest::keyClick(&list, Qt::Key_Delete);  // empty list: nothing happens
    fill(QStringLiteral("abc"));
    list.setCurrentItem(list.topLevelItem(1));
    pointer.set(shell::WindowPointer::kHourglass);
    QTest::keyClick(&list, Qt::Key_Delete);
    doubleClick(besideRows());
    EXPECT_EQ(texts(), QStringLiteral("abc"));
    pointer.set(shell::WindowPointer::kDefault);
    QTest::keyClick(&list, Qt::Key_Backspace);
    EXPECT_EQ(texts(), QStringLiteral("abc"));
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(texts(), QStringLiteral("ac"));
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(texts(), QStringLiteral("ac"));
}

TEST_F(ListView, DoubleClickRemovesTheSelectedItemWhereverItLands) {
    fill(QStringLiteral("abcd"));
    doubleClick(row(2));
    EXPECT_EQ(texts(), QStringLiteral("acd"));
    list.setCurrentItem(list.topLevelItem(2));
    doubleClick(besideRows());
    EXPECT_EQ(texts(), QStringLiteral("ac"));
}

TEST_F(ListView, DraggingOverRowsExchangesTextsRowByRow) {
    fill(QStringLiteral("abcde"));
    press(row(1));
    EXPECT_EQ(list.listPointer(), FileListView::kDragPointer);
    for (int r = 2; r <= 4; ++r) {
        drag(row(r));
    }
    EXPECT_EQ(texts(), QStringLiteral("bcdae"));
    EXPECT_EQ(list.currentItem(), list.topLevelItem(3));
    // A jump over rows exchanges with the row landed on only.
    drag(row(1));
    EXPECT_EQ(texts(), QStringLiteral("acdbe"));
    release(row(1));
    EXPECT_EQ(list.listPointer(), FileListView::kArrowPointer);
}

TEST_F(ListView, EqualTextsAreNeverExchanged) {
    fill(QStringLiteral("aab"));
    press(row(1));
    drag(row(2));
    EXPECT_EQ(texts(), QStringLiteral("aab"));
    drag(row(3));
    EXPECT_EQ(texts(), QStringLiteral("baa"));
}

TEST_F(ListView, WithoutADraggedItemMovesChangeNothing) {
    fill(QStringLiteral("abc"));
    press(besideRows());  // no item click yet
    drag(row(1));
    drag(row(3));
    release(row(3));
    press(row(1));
    release(row(1));
    list.removeSelectedItem();  // the dragged item is gone
    press(besideRows());
    drag(row(1));
    drag(row(2));
    EXPECT_EQ(texts(), QStringLiteral("bc"));
    EXPECT_EQ(list.draggedPosition(), 0);
}

TEST_F(ListView, DragPointerFallsBackToAStockPointer) {
    Tree app;
    shell::SetApplicationFolder(app.root());
    fill(QStringLiteral("ab"));
    press(row(1));
    EXPECT_EQ(list.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    release(row(1));
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    ASSERT_TRUE(icon.save(app.path("drag.ico"), "ICO"));
    press(row(2));
    EXPECT_EQ(list.viewport()->cursor().shape(), Qt::BitmapCursor);
    release(row(2));
    shell::SetApplicationFolder(QString());
}

TEST_F(ListView, ExchangeAtAnEdgeOfTheViewBringsTheNextRowIntoView) {
    for (int i = 0; i < 100; ++i) {
        list.appendItem(QStringLiteral("row %1").arg(i));
    }
    const int bottom = list.viewport()->height() - 2;
    const int last = list.indexOfTopLevelItem(list.itemAt(QPoint(10, bottom)));  // partly shown
    press(row(last - 1));
    drag(row(last - 2));  // in the middle: nothing scrolls
    drag(row(last - 1));
    EXPECT_FALSE(list.viewport()->rect().contains(list.visualItemRect(list.topLevelItem(last))));
    drag(QPoint(10, bottom));
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualItemRect(list.topLevelItem(last + 1))));
    release(QPoint(10, bottom));

    list.scrollToItem(list.topLevelItem(50), QAbstractItemView::PositionAtTop);
    press(row(52));
    drag(QPoint(10, 1));
    EXPECT_EQ(list.itemText(51), QStringLiteral("row 51"));
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualItemRect(list.topLevelItem(49))));
}

TEST_F(ListView, MouseMoveResetsTheWindowPointerUnlessBusy) {
    pointer.set(shell::WindowPointer::kCustom);
    mouse(QEvent::MouseMove, QPoint(5, 5), Qt::NoButton);
    EXPECT_EQ(pointer.value(), shell::WindowPointer::kDefault);
    pointer.set(shell::WindowPointer::kHourglass);
    mouse(QEvent::MouseMove, QPoint(6, 6), Qt::NoButton);
    EXPECT_TRUE(pointer.busy());
}

TEST_F(ListView, OnlyListsOfLocalFilesAreAccepted) {
    QMimeData text;
    text.setText(QStringLiteral("/etc/hostname"));
    QMimeData image;
    image.setImageData(QImage(4, 4, QImage::Format_RGB32));
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(QStringLiteral("/etc/hostname")),
                   QUrl(QStringLiteral("https://example.org/b.msg"))});
    EXPECT_FALSE(drop(text) || drop(image) || drop(mixed));
    EXPECT_EQ(list.count(), 0);
}

TEST_F(ListView, DroppedFilesStayAsTheyAreFoldersAreExpanded) {
    Tree t;
    for (const char* f : {"one", "one/sub", "two", "empty"}) {
        t.folder(f);
    }
    for (const char* f : {"notes.txt", "~$loose.msg", "one/a.msg", "one/~$temp.msg",
                          "one/notes.txt", "one/.archive-hidden", "one/sub/b.msg", "two/c.msg"}) {
        t.file(f);
    }
    t.file("one/.read-only-hidden", 0444);
    ASSERT_TRUE(drop(*files({t.path("notes.txt"), t.path("vanished.msg"), t.path("~$loose.msg"),
                             t.path("one"), t.path("empty"), t.path("two"), t.path("one/a.msg")})));
    QStringList got;
    for (int i = 1; i <= list.count(); ++i) {
        got.append(list.itemText(i));
    }
    ASSERT_EQ(got.size(), 8);
    EXPECT_EQ(got.mid(0, 2), (QStringList{t.path("notes.txt"), t.path("~$loose.msg")}));
    EXPECT_EQ(std::set<QString>(got.begin() + 2, got.begin() + 5),
              (std::set<QString>{t.path("one/a.msg"), t.path("one/notes.txt"),
                                 t.path("one/.read-only-hidden")}));
    EXPECT_EQ(got.mid(5),
              (QStringList{t.path("one/sub/b.msg"), t.path("two/c.msg"), t.path("one/a.msg")}));
    EXPECT_TRUE(dialogs.shown.empty());
}
