#include "iec/readout_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace qvx {

// The screen catches up with the lines at most about 30 times a second,
// however many receive events come in meanwhile: a fast line with small
// events would otherwise repaint for every few bytes.  Only the columns in
// sight are drawn, so the content may be as wide as a scroll bar reaches.
ReadoutView::ReadoutView(QWidget *parent) : LineListView(SettleMs, 1 << 30, parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void ReadoutView::capture(QByteArrayView bytes, int &lineIndex)
{
    m_lines.capture(bytes, lineIndex);
    changed();
}

void ReadoutView::clear()
{
    m_lines.clear();
    clearSelection();
    changed();
}

QStringList ReadoutView::lines() const
{
    QStringList out;
    out.reserve(m_lines.size());
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        out << lineText(i);
    return out;
}

qsizetype ReadoutView::lineLength(qsizetype i) const
{
    return i < 0 || i >= m_lines.size() ? 0 : m_lines.line(i).size();
}

void ReadoutView::drawLine(QPainter &painter, qsizetype i, int baseline) const
{
    const int cw = charWidth();
    const int scrollX = horizontalScrollBar()->value();
    const qsizetype firstCol = qMax(0, scrollX / cw - 1);
    const qsizetype cols = viewport()->width() / cw + 3;
    const int x = 4 + static_cast<int>(firstCol) * cw - scrollX;
    painter.drawText(x, baseline, iecDisplayText(m_lines.line(i), firstCol, cols));
}

void ReadoutView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Paste)) {
        paste(QApplication::clipboard()->text());
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        removeSelectedLines();
        return;
    }
    LineListView::keyPressEvent(event);
}

void ReadoutView::paste(const QString &text)
{
    if (text.isEmpty())
        return;
    // Pasted text starts a line of its own below what is there.
    if (!m_lines.isEmpty() && !m_lines.line(m_lines.size() - 1).isEmpty()) {
        int last = static_cast<int>(m_lines.size() - 1);
        m_lines.capture("\n", last);
    }
    int line = static_cast<int>(qMax<qsizetype>(0, m_lines.size() - 1));
    m_lines.capture(text.toLatin1(), line);
    changed();
}

void ReadoutView::removeSelectedLines()
{
    const qsizetype first = selectionFirst();
    if (first < 0)
        return;
    m_lines.removeLines(first, selectionLast());
    clearSelection();
    changed();
}

} // namespace qvx
