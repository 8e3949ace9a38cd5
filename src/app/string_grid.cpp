#include "app/string_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPalette>

namespace qvx {

StringGridModel::StringGridModel(int columns, int rows, QObject *parent)
    : QAbstractTableModel(parent), m_columns(columns), m_rows(rows, QStringList(columns, QString()))
{}

QVariant StringGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_rows.at(index.row()).at(index.column());
    if (role == Qt::BackgroundRole)
        return index.row() == 0 ? QApplication::palette().color(QPalette::Button) : QColor(Qt::white);
    if (role == Qt::ForegroundRole)
        return QColor(Qt::black);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignTop);
    return {};
}

bool StringGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    setCell(index.column(), index.row(), value.toString());
    return true;
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_editable && index.row() > 0)
        f |= Qt::ItemIsEditable;
    return f;
}

QString StringGridModel::cell(int col, int row) const
{
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_columns)
        return {};
    return m_rows.at(row).at(col);
}

void StringGridModel::setCell(int col, int row, const QString &text)
{
    if (row < 0 || col < 0 || col >= m_columns)
        return;
    if (row >= m_rows.size())
        setRowCount(row + 1);
    m_rows[row][col] = text;
    const QModelIndex i = index(row, col);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}

void StringGridModel::setRowCount(int rows)
{
    rows = qMax(1, rows);
    const int current = m_rows.size();
    if (rows > current) {
        beginInsertRows({}, current, rows - 1);
        m_rows.resize(rows, QStringList(m_columns, QString()));
        endInsertRows();
    } else if (rows < current) {
        beginRemoveRows({}, rows, current - 1);
        m_rows.resize(rows);
        endRemoveRows();
    }
}

void StringGridModel::clearCells(int firstRow, int firstCol)
{
    if (firstRow >= m_rows.size())
        return;
    for (int r = qMax(0, firstRow); r < m_rows.size(); ++r)
        for (int c = qMax(0, firstCol); c < m_columns; ++c)
            m_rows[r][c].clear();
    emit dataChanged(index(qMax(0, firstRow), qMax(0, firstCol)), index(m_rows.size() - 1, m_columns - 1));
}

StringGrid::StringGrid(int columns, int rows, QWidget *parent)
    : QTableView(parent), m_model(new StringGridModel(columns, rows, this))
{
    setModel(m_model);
    // Row 0 is the header row inside the cells, as the operator knows it, so
    // the view's own headers stay hidden.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setRowHeight(18);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
}

void StringGrid::setEditable(bool on)
{
    m_model->setEditable(on);
    setEditTriggers(on ? QAbstractItemView::AllEditTriggers : QAbstractItemView::NoEditTriggers);
}

void StringGrid::setColumnWidths(const QList<int> &widths)
{
    for (int c = 0; c < widths.size() && c < colCount(); ++c)
        setColumnWidth(c, widths.at(c));
}

void StringGrid::setRowHeight(int pixels)
{
    verticalHeader()->setDefaultSectionSize(pixels);
    verticalHeader()->setMinimumSectionSize(1);
}

} // namespace qvx
