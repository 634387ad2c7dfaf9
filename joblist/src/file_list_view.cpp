#include "joblist/file_list_view.h"

#include <QHeaderView>

namespace joblist {

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setSortingEnabled(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void FileListView::appendItem(const QString& text) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, text);
}

QString FileListView::itemText(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index - 1);
    return item != nullptr ? item->text(0) : QString();
}

}  // namespace joblist
