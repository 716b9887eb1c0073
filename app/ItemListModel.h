// The item list's rows and column headers. Rows are kept in the order they
// were inserted and shown newest first, so inserting at the top costs the
// same whatever the list holds.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

namespace korvel {

class ItemListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int column_count = 10;
    // A null string is a blank cell.
    using Row = std::array<QString, column_count>;

    explicit ItemListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Puts rows at the top in the order given: the last one ends up at row 0.
    void insertAtTop(std::vector<Row> &&rows);
    // Sets one cell of the row shown at display index row; false when there is
    // no such cell.
    bool setCell(int row, int column, const QString &text);
    void deleteAllRows();
    // Sets a header; false for a column the list does not have.
    bool renameColumn(int column, const QString &title);

    QString cellText(int row, int column) const;
    QString columnTitle(int column) const;

private:
    // Insert order; display row r is m_rows[size - 1 - r].
    std::vector<Row> m_rows;
    std::array<QString, column_count> m_titles;
};

} // namespace korvel
