#include "joblist/file_list_view.h"

#include "joblist/list_commands.h"

#include <shell/application.h>
#include <shell/dialogs.h>
#include <shell/paths.h>

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

namespace joblist {

namespace {

// A pointer image larger than this is not a pointer.
constexpr qint64 kMaxPointerFileSize = 1 << 20;

// The list's pointer while an entry is being moved: "drag.ico" beside the
// executable, loaded afresh on every press; a stock pointer without it.
QCursor dragCursor() {
    const QString path = shell::ApplicationFolder() + QStringLiteral("/drag.ico");
    const QFileInfo info(path);
    if (info.isFile() && info.size() <= kMaxPointerFileSize) {
        QImage image;
        if (image.load(path, "ICO") || image.load(path)) {
            return QCursor(QPixmap::fromImage(image), 0, 0);
        }
    }
    return QCursor(Qt::ClosedHandCursor);
}

}  // namespace

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setSortingEnabled(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Nothing is dragged out of the list; drops are handled here.
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setMouseTracking(true);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void FileListView::attach(shell::WindowPointer* windowPointer, shell::Dialogs* dialogs) {
    m_windowPointer = windowPointer;
    m_dialogs = dialogs;
}

void FileListView::appendItem(const QString& text) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, text);
}

QString FileListView::itemText(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index - 1);
    return item != nullptr ? item->text(0) : QString();
}

bool FileListView::windowBusy() const {
    return m_windowPointer != nullptr && m_windowPointer->busy();
}

void FileListView::removeSelectedItem() {
    if (windowBusy() || count() == 0) {
        return;
    }
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    delete takeTopLevelItem(indexOfTopLevelItem(selected.front()));
}

int FileListView::draggedPosition() const {
    return m_draggedItem.isValid() ? m_draggedItem.row() + 1 : 0;
}

void FileListView::setListPointer(int value) {
    m_listPointer = value;
    if (value == kDragPointer) {
        viewport()->setCursor(dragCursor());
    } else {
        // The arrow, or the window's hourglass while it is busy.
        viewport()->unsetCursor();
    }
}

void FileListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        removeSelectedItem();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The selected item goes, wherever the double-click landed.
    m_mouseButtonDown = true;
    removeSelectedItem();
    event->accept();
}

void FileListView::mousePressEvent(QMouseEvent* event) {
    m_mouseButtonDown = true;
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item == nullptr) {
        // A press beside the rows keeps the selection: a double-click there
        // still removes the selected item.
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        itemPressed(item);
    }
}

void FileListView::itemPressed(QTreeWidgetItem* item) {
    setListPointer(kDragPointer);
    setCurrentItem(item);
    m_draggedItem = indexFromItem(item);
}

void FileListView::mouseReleaseEvent(QMouseEvent* event) {
    m_mouseButtonDown = false;
    setListPointer(kArrowPointer);
    QTreeWidget::mouseReleaseEvent(event);
}

void FileListView::mouseMoveEvent(QMouseEvent* event) {
    if (m_windowPointer != nullptr && !m_windowPointer->busy()) {
        m_windowPointer->set(shell::WindowPointer::kDefault);
    }
    if (!m_mouseButtonDown) {
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    // With the button down the base class would move the selection and
    // start rubber bands; the reorder gesture owns these moves.
    reorderStep(event->position().toPoint());
    event->accept();
}

void FileListView::reorderStep(const QPoint& position) {
    QTreeWidgetItem* under = itemAt(position);
    if (under == nullptr || !m_draggedItem.isValid()) {
        return;
    }
    QTreeWidgetItem* dragged = itemFromIndex(m_draggedItem);
    if (dragged == nullptr || dragged->text(0) == under->text(0)) {
        return;
    }
    // An exchange of the two texts, not an insertion.
    const QString kept = dragged->text(0);
    dragged->setText(0, under->text(0));
    under->setText(0, kept);
    setCurrentItem(under);
    m_draggedItem = indexFromItem(under);

    // Near the top edge of the visible rows the row above comes into view,
    // near the bottom edge the row below.
    const int row = indexOfTopLevelItem(under);
    const int rowHeight = std::max(1, visualItemRect(under).height());
    if (position.y() < rowHeight && row > 0) {
        scrollToItem(topLevelItem(row - 1), QAbstractItemView::EnsureVisible);
    } else if (position.y() >= viewport()->height() - rowHeight && row + 1 < count()) {
        scrollToItem(topLevelItem(row + 1), QAbstractItemView::EnsureVisible);
    }
}

bool FileListView::acceptsDropData(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return false;
    }
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty()) {
        return false;
    }
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
            return false;
        }
    }
    return true;
}

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptsDropData(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptsDropData(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void FileListView::dropEvent(QDropEvent* event) {
    if (!acceptsDropData(event->mimeData())) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        paths.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    // The files are added once the drop has returned, so the program the
    // files came from is not kept waiting while a large folder is walked.
    QMetaObject::invokeMethod(
        this, [this, paths] { addDropped(paths); }, Qt::QueuedConnection);
}

void FileListView::addDropped(const QStringList& paths) {
    if (m_dialogs != nullptr) {
        AddDroppedPaths(*this, paths, *m_dialogs);
    } else {
        shell::QtDialogs dialogs(window());
        AddDroppedPaths(*this, paths, dialogs);
    }
    emit dropHandled();
}

}  // namespace joblist
