// A string grid in the manner of the classic toolkit grids the tool's screens
// are described in: cells addressed (column, row), row 0 a header row that is
// part of the cells, a row count that can grow and shrink.  Backed by a
// model/view table so that appending rows, repainting and exporting stay
// linear however many rows accumulate.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <QVector>
#include <functional>

namespace qvx {

class StringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    StringGridModel(int columns, int rows, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_rows.size();
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_columns;
    }
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString &text);
    void setRowCount(int rows);
    void setEditable(bool on) { m_editable = on; }
    // The tool tip of a cell (col, row), asked when the pointer rests on it.
    void setToolTips(std::function<QString(int col, int row)> toolTip) { m_toolTip = std::move(toolTip); }
    // Rows from first on (header excluded when first is 1) emptied in one go.
    void clearCells(int firstRow, int firstCol = 0);

private:
    int m_columns;
    QVector<QStringList> m_rows;
    bool m_editable = false;
    std::function<QString(int, int)> m_toolTip;
};

class StringGrid : public QTableView {
    Q_OBJECT
public:
    StringGrid(int columns, int rows, QWidget *parent = nullptr);

    QString cell(int col, int row) const { return m_model->cell(col, row); }
    void setCell(int col, int row, const QString &text) { m_model->setCell(col, row, text); }
    int rowCount() const { return m_model->rowCount(); }
    int colCount() const { return m_model->columnCount(); }
    void setRowCount(int rows) { m_model->setRowCount(rows); }
    void setEditable(bool on);
    void setColumnWidths(const QList<int> &widths);
    void setRowHeight(int pixels);
    // Widens (never narrows) every column to show the texts of rows
    // firstRow..lastRow whole; the header row is row 0.
    void widenColumnsFor(int firstRow, int lastRow);
    // The last column takes the room the other columns leave in the view, so
    // that a grown window shows no blank strip beside the cells; it is never
    // narrower than its own width (the one set, widened or dragged to), and
    // the other columns keep theirs.  ownWidth is that width for any column.
    int ownWidth(int column) const;
    StringGridModel *gridModel() const { return m_model; }

    // The view that keeps row 0 in sight over the top of the cells while the
    // rows below scroll; it shows the same model, selection and delegate.
    QTableView *fixedRowView() const { return m_fixedRow; }

    // The cell editor open on the grid, if any, hands its text to the cell
    // and closes: whoever reads, clears or refills the cells next sees what
    // the operator typed.  True when an editor was open.
    bool commitEditor();
    // The text the operator sees in a cell: the open editor's while one is
    // open on it, else the cell's.
    QString shownText(int col, int row) const;

    using QTableView::edit;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    // Brings a row into view at once, also one just added (whose place the
    // view would otherwise only learn at its next layout).
    void scrollToRow(int row);

protected slots:
    void commitData(QWidget *editor) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void updateGeometries() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeFixedRow();
    void fitLastColumn();
    int lastColumn() const { return colCount() - 1; }
    QWidget *openEditor(QModelIndex *where = nullptr) const;
    bool holdsEditor(QWidget *editor) const;

    StringGridModel *m_model;
    QTableView *m_fixedRow;
    int m_lastOwnWidth = -1; // -1: the header's default width, not yet taken
    bool m_fitting = false;  // the last column's width is being set to fit
};

} // namespace qvx
