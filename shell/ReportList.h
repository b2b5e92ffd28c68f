#pragma once
// A list in report view (rows and columns, no tree) whose rows carry a
// unique key, a numeric tag and a red mark, as the database logic fills
// the main window's lists through the window seam.
#include "database/MainWindow.h"

#include <QHash>
#include <QTreeWidget>

#include <cstdint>

namespace qx {

class CReportList : public QTreeWidget {
    Q_OBJECT
public:
    explicit CReportList(QWidget* parent = nullptr);

    void SetColumns(const QStringList& headers);
    void SetColumnAlignment(int column, Qt::Alignment alignment);

    // False, and nothing added, when a row with the same non-empty key is
    // already there; rows without a key are always added.
    bool AddRow(const ListRow& row);
    // Brings the last row into view when the window's messages next run:
    // a check adds thousands of rows, and each scroll lays out the whole
    // list again.
    void ScrollToLastSoon();
    void RemoveRow(QTreeWidgetItem* item);
    void ClearRows();
    int RowCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* Row(int index) const { return topLevelItem(index); }
    QTreeWidgetItem* FindKey(const QString& key) const { return m_keys.value(key); }
    // Counted by the selection model, not by walking the rows.
    int SelectedCount() const;

    static QString Key(const QTreeWidgetItem* item);
    static std::int64_t Tag(const QTreeWidgetItem* item);
    static bool IsRed(const QTreeWidgetItem* item);
    // The row as the database logic gave it (texts as shown now).
    static ListRow RowData(const QTreeWidgetItem* item);

private:
    QHash<QString, QTreeWidgetItem*> m_keys;
    QHash<int, Qt::Alignment> m_alignment;
    bool m_scrollPending = false;
};

}  // namespace qx
