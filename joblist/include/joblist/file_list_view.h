#pragma once
// ListView1: the file list, the only store of the files to convert. A
// one-column report list; items hold only their text (a file's path) and
// are appended at the end.

#include <QTreeWidget>

namespace joblist {

class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // Appends an item holding only `text`.
    void appendItem(const QString& text);
    int count() const { return topLevelItemCount(); }
    // The text of the item at a 1-based index.
    QString itemText(int index) const;
};

}  // namespace joblist
