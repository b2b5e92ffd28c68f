#include "shell/ReportList.h"

#include <QBrush>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTimer>

namespace qx {

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
constexpr int kRedRole = Qt::UserRole + 2;
}  // namespace

CReportList::CReportList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void CReportList::SetColumns(const QStringList& headers) {
    setColumnCount(static_cast<int>(headers.size()));
    setHeaderLabels(headers);
}

void CReportList::SetColumnAlignment(int column, Qt::Alignment alignment) {
    m_alignment.insert(column, alignment);
    if (QTreeWidgetItem* h = headerItem()) h->setTextAlignment(column, alignment | Qt::AlignVCenter);
    for (int i = 0; i < topLevelItemCount(); ++i) topLevelItem(i)->setTextAlignment(column, alignment | Qt::AlignVCenter);
}

bool CReportList::AddRow(const ListRow& row) {
    const QString key = QString::fromStdString(row.key);
    if (!key.isEmpty() && m_keys.contains(key)) return false;
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(row.text));
    for (std::size_t i = 0; i < row.subItems.size() && static_cast<int>(i) + 1 < columnCount(); ++i)
        item->setText(static_cast<int>(i) + 1, QString::fromStdString(row.subItems[i]));
    item->setData(0, kKeyRole, key);
    item->setData(0, kTagRole, QVariant::fromValue<qlonglong>(row.tag));
    item->setData(0, kRedRole, row.red);
    for (auto it = m_alignment.cbegin(); it != m_alignment.cend(); ++it)
        item->setTextAlignment(it.key(), it.value() | Qt::AlignVCenter);
    if (row.red)
        for (int c = 0; c < columnCount(); ++c) item->setForeground(c, QBrush(Qt::red));
    addTopLevelItem(item);
    if (!key.isEmpty()) m_keys.insert(key, item);
    return true;
}

void CReportList::ScrollToLastSoon() {
    if (m_scrollPending) return;
    m_scrollPending = true;
    QTimer::singleShot(0, this, [this] {
        m_scrollPending = false;
        if (RowCount() > 0) scrollToItem(Row(RowCount() - 1));
    });
}

void CReportList::RemoveRow(QTreeWidgetItem* item) {
    if (!item) return;
    m_keys.remove(Key(item));
    delete item;
}

void CReportList::ClearRows() {
    m_keys.clear();
    clear();
}

int CReportList::SelectedCount() const {
    return selectionModel() ? static_cast<int>(selectionModel()->selectedRows().size()) : 0;
}

QString CReportList::Key(const QTreeWidgetItem* item) { return item ? item->data(0, kKeyRole).toString() : QString(); }

std::int64_t CReportList::Tag(const QTreeWidgetItem* item) {
    return item ? item->data(0, kTagRole).toLongLong() : 0;
}

ListRow CReportList::RowData(const QTreeWidgetItem* item) {
    ListRow row;
    if (!item) return row;
    row.key = Key(item).toStdString();
    row.text = item->text(0).toStdString();
    for (int c = 1; c < item->columnCount(); ++c) row.subItems.push_back(item->text(c).toStdString());
    row.tag = Tag(item);
    row.red = IsRed(item);
    return row;
}

bool CReportList::IsRed(const QTreeWidgetItem* item) { return item && item->data(0, kRedRole).toBool(); }

}  // namespace qx
