#include "iec/readout_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

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

qsizetype ReadoutView::columnOf(qsizetype i, qsizetype index) const
{
    const QByteArray &line = m_lines.line(i);
    index = qBound<qsizetype>(0, index, line.size());
    if (m_lines.controls(i) == 0)
        return index;
    return index + (IecControlColumns - 1) * std::count_if(line.begin(), line.begin() + index, iecIsControl);
}

QRect ReadoutView::byteRect(qsizetype i, qsizetype index) const
{
    if (i < 0 || i >= m_lines.size() || index < 0 || index >= m_lines.line(i).size())
        return {};
    const int cw = charWidth();
    const int x = 4 + static_cast<int>(columnOf(i, index)) * cw - horizontalScrollBar()->value();
    const int width = iecIsControl(m_lines.line(i).at(index)) ? IecControlColumns * cw : cw;
    const QRect row = lineRect(i);
    return QRect(x, row.top(), width, row.height());
}

void ReadoutView::drawLine(QPainter &painter, qsizetype i, int baseline) const
{
    const QByteArray &line = m_lines.line(i);
    const int cw = charWidth();
    const int scrollX = horizontalScrollBar()->value();
    // Only the columns in sight, and a name's width more on either side.
    const qsizetype firstCol = qMax(0, scrollX / cw - IecControlColumns);
    const qsizetype endCol = firstCol + viewport()->width() / cw + 2 * IecControlColumns + 2;
    auto xOf = [&](qsizetype col) { return 4 + static_cast<int>(col) * cw - scrollX; };

    // The first byte that reaches into sight.  A line without controls has
    // one column a byte; otherwise the bytes before it are walked.
    qsizetype b = 0;
    qsizetype col = 0;
    if (m_lines.controls(i) == 0) {
        b = col = qMin(firstCol, line.size());
    } else {
        for (; b < line.size(); ++b) {
            const qsizetype width = iecIsControl(line[b]) ? IecControlColumns : 1;
            if (col + width > firstCol)
                break;
            col += width;
        }
    }
    while (b < line.size() && col < endCol) {
        if (iecIsControl(line[b])) {
            drawControl(painter, line[b], xOf(col), baseline);
            col += IecControlColumns;
            ++b;
            continue;
        }
        qsizetype e = b;
        while (e < line.size() && !iecIsControl(line[e]) && col + (e - b) < endCol)
            ++e;
        // Each character in its own cell: the font's real advance is
        // fractional, and a run drawn whole drifts past the cells counted
        // in whole pixels, under the frame of a control that follows it.
        const QString text = iecDisplayText(line, b, e - b);
        for (qsizetype k = 0; k < text.size(); ++k)
            painter.drawText(xOf(col + k), baseline, QString(text.at(k)));
        col += e - b;
        b = e;
    }
}

void ReadoutView::drawControl(QPainter &painter, char byte, int x, int baseline) const
{
    const int cw = charWidth();
    const QFontMetrics fm = fontMetrics();
    if (m_nameFontFor != cw) {
        // The view's font, as large as three letters fit inside the frame.
        m_nameFont = font();
        int px = qMax(6, fm.height() * 3 / 4);
        for (;; --px) {
            m_nameFont.setPixelSize(px);
            if (px <= 6 || QFontMetrics(m_nameFont).horizontalAdvance(QStringLiteral("DC4")) <=
                               IecControlColumns * cw - 4)
                break;
        }
        m_nameFontFor = cw;
    }
    const QRect frame(x + 1, baseline - fm.ascent() + 1, IecControlColumns * cw - 2, fm.height() - 2);
    const QFont saved = painter.font();
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.setFont(m_nameFont);
    painter.drawText(frame, Qt::AlignCenter, QString(iecControlName(byte)));
    painter.setFont(saved);
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
