#include "app/ItemListModel.h"

#include "scan/names.h"

namespace korvel {

ItemListModel::ItemListModel(QObject *parent) : QAbstractTableModel(parent)
{
    // The engine renames columns by these titles' positions: one list for both.
    static_assert(list_column_count == column_count);
    for (int column = 0; column < column_count; ++column) {
        m_titles[static_cast<std::size_t>(column)] = QString::fromUtf16(
            list_column_titles[static_cast<std::size_t>(column)]);
    }
}

int ItemListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ItemListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : column_count;
}

QVariant ItemListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    const QString text = cellText(index.row(), index.column());
    if (text.isNull()) {
        return {};
    }
    return text;
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section >= 0 &&
        section < column_count) {
        return m_titles[static_cast<std::size_t>(section)];
    }
    if (role == Qt::TextAlignmentRole && orientation == Qt::Horizontal) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ItemListModel::insertAtTop(std::vector<Row> &&rows)
{
    if (rows.empty()) {
        return;
    }
    beginInsertRows(QModelIndex(), 0, static_cast<int>(rows.size()) - 1);
    for (Row &row : rows) {
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

bool ItemListModel::setCell(int row, int column, const QString &text)
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size() || column < 0 ||
        column >= column_count) {
        return false;
    }
    m_rows[m_rows.size() - 1 - static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] =
        text;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

void ItemListModel::deleteAllRows()
{
    if (m_rows.empty()) {
        return;
    }
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

bool ItemListModel::renameColumn(int column, const QString &title)
{
    if (column < 0 || column >= column_count) {
        return false;
    }
    if (m_titles[static_cast<std::size_t>(column)] != title) {
        m_titles[static_cast<std::size_t>(column)] = title;
        emit headerDataChanged(Qt::Horizontal, column, column);
    }
    return true;
}

QString ItemListModel::cellText(int row, int column) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size() || column < 0 ||
        column >= column_count) {
        return {};
    }
    return m_rows[m_rows.size() - 1 - static_cast<std::size_t>(row)]
                 [static_cast<std::size_t>(column)];
}

QString ItemListModel::columnTitle(int column) const
{
    if (column < 0 || column >= column_count) {
        return {};
    }
    return m_titles[static_cast<std::size_t>(column)];
}

} // namespace korvel
