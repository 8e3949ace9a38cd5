#include "widgets/string_grid.h"

#include <QFontMetrics>
#include <QStyle>

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QPalette>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace qvx {
namespace {

// Paints the fixed row with whatever delegate the grid's cells have now, but
// is a delegate of its own: a view connects to its delegate's commitData and
// closeEditor, and a fixed row sharing the grid's delegate would be handed
// every editor the grid commits ("an editor that does not belong to this
// view").  The fixed row never edits.
class FixedRowDelegate : public QStyledItemDelegate {
public:
    FixedRowDelegate(QAbstractItemView *grid, QObject *parent) : QStyledItemDelegate(parent), m_grid(grid) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        m_grid->itemDelegateForIndex(index)->paint(painter, option, index);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return m_grid->itemDelegateForIndex(index)->sizeHint(option, index);
    }
    QWidget *createEditor(QWidget *, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return nullptr;
    }

private:
    QAbstractItemView *m_grid;
};

} // namespace

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
    if (role == Qt::ToolTipRole && m_toolTip) {
        const QString tip = m_toolTip(index.column(), index.row());
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
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
    : QTableView(parent), m_model(new StringGridModel(columns, rows, this)), m_fixedRow(new QTableView(this))
{
    setModel(m_model);
    // Row 0 is the header row inside the cells, as the operator knows it, so
    // the view's own headers stay hidden.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);

    // Row 0 is a fixed row: a second view over the top of the cells shows it
    // whatever the vertical scroll position, and follows the columns' widths
    // and the horizontal scroll.  It lies exactly over row 0 when the grid is
    // scrolled to the top, so nothing changes there.
    m_fixedRow->setObjectName(QStringLiteral("StringGridFixedRow"));
    m_fixedRow->setAccessibleName(QStringLiteral("Fixed row"));
    m_fixedRow->setModel(m_model);
    m_fixedRow->setItemDelegate(new FixedRowDelegate(this, m_fixedRow));
    m_fixedRow->setSelectionModel(selectionModel());
    m_fixedRow->horizontalHeader()->hide();
    m_fixedRow->verticalHeader()->hide();
    m_fixedRow->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_fixedRow->setFrameShape(QFrame::NoFrame);
    m_fixedRow->setFocusPolicy(Qt::NoFocus);
    m_fixedRow->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_fixedRow->setWordWrap(false);
    m_fixedRow->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fixedRow->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fixedRow->setHorizontalScrollMode(horizontalScrollMode());
    m_fixedRow->viewport()->installEventFilter(this);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        m_fixedRow->setColumnWidth(column, size);
        if (m_fitting)
            return;
        // Set by the program or dragged by the operator: the column's own
        // width from now on; the last column then fills the view again.
        if (column == lastColumn())
            m_lastOwnWidth = size;
        fitLastColumn();
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, m_fixedRow->horizontalScrollBar(),
            &QScrollBar::setValue);
    // The fixed row's own scroll position never moves away from row 0.
    connect(m_fixedRow->verticalScrollBar(), &QScrollBar::valueChanged, m_fixedRow, [this](int value) {
        if (value != 0)
            m_fixedRow->verticalScrollBar()->setValue(0);
    });
    setRowHeight(18);
    m_fixedRow->show();
    placeFixedRow();
}

void StringGrid::setEditable(bool on)
{
    m_model->setEditable(on);
    setEditTriggers(on ? QAbstractItemView::AllEditTriggers : QAbstractItemView::NoEditTriggers);
}

void StringGrid::setColumnWidths(const QList<int> &widths)
{
    for (int c = 0; c < widths.size() && c < colCount(); ++c) {
        if (c == lastColumn())
            m_lastOwnWidth = widths.at(c);
        setColumnWidth(c, widths.at(c));
    }
    fitLastColumn();
}

int StringGrid::ownWidth(int column) const
{
    return column == lastColumn() && m_lastOwnWidth >= 0 ? m_lastOwnWidth : columnWidth(column);
}

void StringGrid::fitLastColumn()
{
    const int last = lastColumn();
    if (last < 0 || isColumnHidden(last))
        return;
    if (m_lastOwnWidth < 0)
        m_lastOwnWidth = columnWidth(last);
    int others = 0;
    for (int c = 0; c < last; ++c)
        if (!isColumnHidden(c))
            others += columnWidth(c);
    const int width = qMax(m_lastOwnWidth, viewport()->width() - others);
    if (width == columnWidth(last))
        return;
    m_fitting = true;
    setColumnWidth(last, width);
    m_fitting = false;
}

void StringGrid::widenColumnsFor(int firstRow, int lastRow)
{
    const QFontMetrics metrics(font());
    // The delegate's margins on both sides of the text and the grid line.
    const int padding = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    lastRow = qMin(lastRow, rowCount() - 1);
    for (int c = 0; c < colCount(); ++c) {
        int needed = 0;
        for (int r = qMax(0, firstRow); r <= lastRow; ++r)
            needed = qMax(needed, metrics.horizontalAdvance(cell(c, r)));
        if (needed == 0 || needed + padding <= ownWidth(c))
            continue;
        if (c == lastColumn()) {
            m_lastOwnWidth = needed + padding;
            fitLastColumn();
        } else {
            setColumnWidth(c, needed + padding);
        }
    }
}

void StringGrid::setRowHeight(int pixels)
{
    verticalHeader()->setDefaultSectionSize(pixels);
    verticalHeader()->setMinimumSectionSize(1);
    m_fixedRow->verticalHeader()->setDefaultSectionSize(pixels);
    m_fixedRow->verticalHeader()->setMinimumSectionSize(1);
    placeFixedRow();
}

bool StringGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // A click on the selected cell opens its editor as soon as the click has
    // been handled.  The view would wait a double-click interval first and
    // refuse to open an editor for the keys typed meanwhile: those went to a
    // keyboard search and were lost, and the editor then opened empty.  A
    // key typed before the editor opens opens it itself, as on any cell.
    if (trigger == SelectedClicked && (editTriggers() & SelectedClicked)) {
        const QPersistentModelIndex at(index);
        QMetaObject::invokeMethod(
            this,
            [this, at] {
                if (at.isValid() && at == currentIndex() && state() != EditingState)
                    QTableView::edit(at, AllEditTriggers, nullptr);
            },
            Qt::QueuedConnection);
        return true;
    }
    return QTableView::edit(index, trigger, event);
}

QWidget *StringGrid::openEditor(QModelIndex *where) const
{
    if (state() != EditingState)
        return nullptr;
    // The editor is normally on the current cell; one opened elsewhere by
    // code is found among the cells.
    QModelIndex at = currentIndex();
    QWidget *editor = at.isValid() ? indexWidget(at) : nullptr;
    for (int r = 0; !editor && r < m_model->rowCount(); ++r)
        for (int c = 0; !editor && c < m_model->columnCount(); ++c)
            if ((editor = indexWidget(m_model->index(r, c))))
                at = m_model->index(r, c);
    if (where)
        *where = at;
    return editor;
}

bool StringGrid::holdsEditor(QWidget *editor) const
{
    // Pointers compared only: an editor no longer held is not touched.
    if (!editor || state() != EditingState)
        return false;
    if (indexWidget(currentIndex()) == editor)
        return true;
    for (int r = 0; r < m_model->rowCount(); ++r)
        for (int c = 0; c < m_model->columnCount(); ++c)
            if (indexWidget(m_model->index(r, c)) == editor)
                return true;
    return false;
}

void StringGrid::commitData(QWidget *editor)
{
    // Return commits through a queued call; an editor committed and closed
    // before it (the grid read straight after the key) is done already.
    if (holdsEditor(editor))
        QTableView::commitData(editor);
}

void StringGrid::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (holdsEditor(editor))
        QTableView::closeEditor(editor, hint);
}

bool StringGrid::commitEditor()
{
    QWidget *editor = openEditor();
    if (!editor)
        return false;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return true;
}

QString StringGrid::shownText(int col, int row) const
{
    QModelIndex at;
    if (auto *line = qobject_cast<QLineEdit *>(openEditor(&at));
        line && at.row() == row && at.column() == col)
        return line->text();
    return cell(col, row);
}

void StringGrid::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    QTableView::scrollTo(index, hint);
    // A row brought to the top would lie under the fixed row: show the row
    // above it there instead.
    if (index.isValid() && index.row() > 0 && verticalScrollMode() == ScrollPerItem &&
        verticalScrollBar()->value() == index.row())
        verticalScrollBar()->setValue(index.row() - 1);
    else if (index.isValid() && index.row() > 0 && visualRect(index).top() < m_fixedRow->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() -
                                      (m_fixedRow->height() - visualRect(index).top()));
}

void StringGrid::scrollToRow(int row)
{
    // The scroll range still ends at the old last row until the layout runs.
    executeDelayedItemsLayout();
    scrollTo(m_model->index(row, 0));
}

void StringGrid::resizeEvent(QResizeEvent *event)
{
    // Called for the viewport's size: the window's, and the vertical scroll
    // bar coming or going.
    QTableView::resizeEvent(event);
    fitLastColumn();
    placeFixedRow();
}

void StringGrid::updateGeometries()
{
    QTableView::updateGeometries();
    placeFixedRow();
}

bool StringGrid::eventFilter(QObject *watched, QEvent *event)
{
    // A grid's owner may hide columns or grid lines at any time; the fixed
    // row follows (its delegate paints with the grid's own).
    if (watched == m_fixedRow->viewport() && event->type() == QEvent::Paint) {
        m_fixedRow->setShowGrid(showGrid());
        for (int c = 0; c < colCount(); ++c)
            if (m_fixedRow->isColumnHidden(c) != isColumnHidden(c))
                m_fixedRow->setColumnHidden(c, isColumnHidden(c));
    }
    return QTableView::eventFilter(watched, event);
}

void StringGrid::placeFixedRow()
{
    if (!m_fixedRow)
        return;
    const QRect area = viewport()->geometry();
    const int height = qMin(rowHeight(0), area.height());
    m_fixedRow->setGeometry(area.left(), area.top(), area.width(), qMax(0, height));
    m_fixedRow->horizontalScrollBar()->setValue(horizontalScrollBar()->value());
}

} // namespace qvx
