#pragma once
// ListView1: the file list, the only store of the files to convert. A
// one-column report list; items hold only their text (a file's path) and
// are appended at the end. The list handles its own user actions:
//   Delete key, double-click  remove the selected item (not while the window
//                             shows the busy pointer)
//   item press and drag       the reorder gesture: the dragged entry's text is
//                             exchanged with the row under the pointer
//   drop of local files       files are appended, folders are expanded
// Nothing is ever dragged out of the list.

#include <QPersistentModelIndex>
#include <QStringList>
#include <QTreeWidget>

namespace shell {
class Dialogs;
class WindowPointer;
}  // namespace shell

namespace joblist {

class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    // Values of the list's own pointer.
    static constexpr int kArrowPointer = 1;
    static constexpr int kDragPointer = 99;

    explicit FileListView(QWidget* parent = nullptr);

    // Hands the list the window's pointer (for the busy test and the pointer
    // reset on mouse moves) and the dialogs the folder walk of a drop reports
    // through. Both are not owned and must outlive the list. Until attached,
    // the list acts as if the window were never busy, and drops of folders
    // are not expanded.
    void attach(shell::WindowPointer* windowPointer, shell::Dialogs* dialogs);

    // Appends an item holding only `text`.
    void appendItem(const QString& text);
    int count() const { return topLevelItemCount(); }
    // The text of the item at a 1-based index.
    QString itemText(int index) const;

    // Removes the selected item, unless the window shows the busy pointer or
    // the list is empty. Nothing happens without a selected item.
    void removeSelectedItem();

    // The list's own pointer: kDragPointer from an item press to the next
    // release, kArrowPointer otherwise.
    int listPointer() const { return m_listPointer; }
    bool mouseButtonDown() const { return m_mouseButtonDown; }
    // The 1-based position of the item being moved; 0 when there is none
    // (never pressed, or removed since).
    int draggedPosition() const;

    // True when a drag carries a list of local files only (text/uri-list with
    // file: URLs); the only data the list accepts.
    static bool acceptsDropData(const QMimeData* data);

signals:
    // A drop's paths have all been added.
    void dropHandled();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool windowBusy() const;
    void itemPressed(QTreeWidgetItem* item);
    void reorderStep(const QPoint& position);
    void setListPointer(int value);
    void addDropped(const QStringList& paths);

    shell::WindowPointer* m_windowPointer = nullptr;
    shell::Dialogs* m_dialogs = nullptr;
    QPersistentModelIndex m_draggedItem;
    bool m_mouseButtonDown = false;
    int m_listPointer = kArrowPointer;
};

}  // namespace joblist
