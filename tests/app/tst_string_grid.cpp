// The string grid's fixed row: row 0 (the header texts, part of the cells)
// stays in sight at the top while the rows below scroll, follows the columns'
// widths and the horizontal scroll, and hides no row from the operator; the
// last column takes the room the others leave, never less than its own width.
#include "widgets/string_grid.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTest>

using namespace qvx;

class TestStringGrid : public QObject {
    Q_OBJECT

    // A shown grid of 3 columns and 200 rows, 300 x 200 pixels.
    static std::unique_ptr<StringGrid> longGrid()
    {
        auto grid = std::make_unique<StringGrid>(3, 200);
        for (int c = 0; c < 3; ++c)
            grid->setCell(c, 0, QStringLiteral("Head %1").arg(c));
        for (int r = 1; r < 200; ++r)
            grid->setCell(0, r, QString::number(r));
        grid->setColumnWidths({120, 150, 200});
        grid->resize(300, 200);
        grid->show();
        return grid;
    }

    // The index shown at a point of the grid, whichever view paints it there.
    static QModelIndex shownAt(StringGrid &grid, QPoint inGrid)
    {
        QTableView *fixed = grid.fixedRowView();
        if (fixed->isVisible() && fixed->geometry().contains(inGrid))
            return fixed->indexAt(fixed->viewport()->mapFrom(&grid, inGrid));
        return grid.indexAt(grid.viewport()->mapFrom(&grid, inGrid));
    }

private slots:
    void headerRowStaysInViewAtTheBottom()
    {
        auto grid = longGrid();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        grid->scrollToBottom();
        QVERIFY(grid->verticalScrollBar()->value() > 0);
        QCOMPARE(grid->indexAt(QPoint(5, 2)).row() > 0, true); // the cells did scroll

        const QPoint top = grid->viewport()->geometry().topLeft() + QPoint(5, 2);
        QCOMPARE(shownAt(*grid, top).row(), 0);
        QCOMPARE(shownAt(*grid, top).data().toString(), QStringLiteral("Head 0"));
        // The last row is not hidden behind the fixed row.
        const QModelIndex last = grid->gridModel()->index(199, 0);
        QVERIFY(grid->visualRect(last).top() >= grid->fixedRowView()->height());
        QVERIFY(grid->viewport()->rect().contains(grid->visualRect(last).center()));
    }

    void scrollingToARowKeepsItBelowTheFixedRow()
    {
        auto grid = longGrid();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        grid->scrollToBottom();
        for (int row : {1, 2, 50}) {
            const QModelIndex i = grid->gridModel()->index(row, 0);
            grid->scrollTo(i, QAbstractItemView::PositionAtTop);
            QVERIFY2(grid->visualRect(i).top() >= grid->fixedRowView()->height(),
                     qPrintable(QString::number(row)));
            QCOMPARE(shownAt(*grid, grid->viewport()->geometry().topLeft() + QPoint(5, 2)).row(), 0);
        }
    }

    void fixedRowFollowsColumnsAndHorizontalScroll()
    {
        auto grid = longGrid();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        QTableView *fixed = grid->fixedRowView();
        grid->setColumnWidth(1, 90);
        QCOMPARE(fixed->columnWidth(1), 90);
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
        QVERIFY(grid->horizontalScrollBar()->value() > 0);
        QCOMPARE(fixed->horizontalScrollBar()->value(), grid->horizontalScrollBar()->value());
        const QPoint top = grid->viewport()->geometry().topLeft() + QPoint(5, 2);
        QCOMPARE(shownAt(*grid, top).column(), grid->indexAt(QPoint(5, 40)).column());
        QCOMPARE(fixed->height(), grid->rowHeight(0));
        grid->setRowHeight(25);
        QCOMPARE(fixed->height(), 25);
    }

    void fixedRowPaintsLikeTheGrid()
    {
        // The grid's cell painter paints the fixed row too; the fixed row
        // does not share the delegate itself, whose editors are the grid's.
        struct CountingDelegate : QStyledItemDelegate {
            using QStyledItemDelegate::QStyledItemDelegate;
            mutable int rowZero = 0;
            void paint(QPainter *p, const QStyleOptionViewItem &o, const QModelIndex &i) const override
            {
                rowZero += i.row() == 0 ? 1 : 0;
                QStyledItemDelegate::paint(p, o, i);
            }
        };
        auto grid = longGrid();
        auto *delegate = new CountingDelegate(grid.get());
        grid->setItemDelegate(delegate);
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        // Scrolled down, only the fixed row shows row 0.
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
        QApplication::processEvents();
        delegate->rowZero = 0;
        grid->fixedRowView()->viewport()->repaint();
        QVERIFY(delegate->rowZero > 0);
        QVERIFY(grid->fixedRowView()->itemDelegate() != delegate);
        grid->setColumnHidden(1, true);
        grid->fixedRowView()->viewport()->repaint();
        QVERIFY(grid->fixedRowView()->isColumnHidden(1));
        QCOMPARE(grid->fixedRowView()->selectionModel(), grid->selectionModel());
    }

    void lastColumnTakesTheRoomLeft()
    {
        auto grid = longGrid();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        const auto widths = [&] {
            return QList<int>{grid->columnWidth(0), grid->columnWidth(1), grid->columnWidth(2)};
        };
        // Narrower than the columns: every column at its own width, scrolled sideways.
        QCOMPARE(widths(), (QList<int>{120, 150, 200}));
        QVERIFY(grid->horizontalScrollBar()->maximum() > 0);

        grid->resize(900, 200);
        QTRY_COMPARE(grid->columnWidth(2), grid->viewport()->width() - 270);
        QCOMPARE(grid->columnWidth(0), 120);
        QCOMPARE(grid->columnWidth(1), 150);
        QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
        QCOMPARE(grid->fixedRowView()->columnWidth(2), grid->columnWidth(2));
        QCOMPARE(grid->ownWidth(2), 200);

        // Another column widened by the operator: the last one gives way.
        grid->setColumnWidth(1, 400);
        QCOMPARE(grid->columnWidth(2), grid->viewport()->width() - 520);
        // A text that needs more than the last column's own width: kept when
        // the grid narrows again.
        grid->setCell(2, 5, QString(60, QLatin1Char('W')));
        grid->widenColumnsFor(5, 5);
        const int needed = grid->ownWidth(2);
        QVERIFY(needed > grid->fontMetrics().horizontalAdvance(QString(60, QLatin1Char('W'))));
        grid->resize(300, 200);
        QTRY_COMPARE(grid->columnWidth(2), needed);
        QCOMPARE(grid->columnWidth(1), 400);
    }
};

QTEST_MAIN(TestStringGrid)
#include "tst_string_grid.moc"
