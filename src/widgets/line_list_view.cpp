#include "widgets/line_list_view.h"

#include "widgets/line_list_accessible.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>

namespace qvx {

LineListView::LineListView(int settleMs, qsizetype contentWidthLimit, QWidget *parent)
    : QAbstractScrollArea(parent), m_contentWidthLimit(contentWidthLimit)
{
    installLineListAccessibility();
    // Fixed pitch: byte lists line up, and the width of the longest line
    // follows from its length alone.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &LineListView::settle);
}

// --- settling --------------------------------------------------------------------------

void LineListView::changed()
{
    if (!m_settle.isActive())
        m_settle.start();
}

void LineListView::settle()
{
    QScrollBar *v = verticalScrollBar();
    // Follow the tail while the operator is looking at it; leave the view
    // where it is when they scrolled up to read.
    const bool atEnd = v->value() >= v->maximum();
    updateScrollBars();
    if (atEnd)
        v->setValue(v->maximum());
    viewport()->update();
}

int LineListView::lineHeight() const
{
    return fontMetrics().lineSpacing();
}

int LineListView::charWidth() const
{
    return qMax(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int LineListView::visibleLines() const
{
    return qMax(1, viewport()->height() / lineHeight());
}

void LineListView::updateScrollBars()
{
    const int page = visibleLines();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, static_cast<int>(qMax<qsizetype>(0, lineCount() - page)));
    v->setPageStep(page);
    v->setSingleStep(1);

    const qsizetype contentWidth = qMin<qsizetype>(longestLine() * charWidth() + 8, m_contentWidthLimit);
    QScrollBar *h = horizontalScrollBar();
    h->setRange(0, static_cast<int>(qMax<qsizetype>(0, contentWidth - viewport()->width())));
    h->setPageStep(viewport()->width());
    h->setSingleStep(charWidth() * 4);
}

void LineListView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    settle();
}

// --- drawing ---------------------------------------------------------------------------

void LineListView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const int h = lineHeight();
    const int ascent = fontMetrics().ascent();
    const qsizetype first = verticalScrollBar()->value();
    const qsizetype last = qMin(lineCount(), first + visibleLines() + 1);
    const qsizetype selFirst = selectionFirst();
    const qsizetype selLast = selectionLast();
    const QPalette &pal = palette();
    for (qsizetype i = first; i < last; ++i) {
        const int y = static_cast<int>(i - first) * h;
        if (selFirst >= 0 && i >= selFirst && i <= selLast) {
            p.fillRect(QRect(0, y, viewport()->width(), h), pal.highlight());
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        drawLine(p, i, y + ascent);
    }
}

void LineListView::drawLine(QPainter &painter, qsizetype i, int baseline) const
{
    painter.drawText(textLeft(), baseline, displayText(i));
}

// --- geometry --------------------------------------------------------------------------

int LineListView::textLeft() const
{
    return 4 - horizontalScrollBar()->value();
}

QRect LineListView::lineRect(qsizetype i) const
{
    const int h = lineHeight();
    const qsizetype row = i - verticalScrollBar()->value();
    const qsizetype y = std::clamp<qsizetype>(row * h, -(1 << 24), 1 << 24);
    return QRect(0, static_cast<int>(y), viewport()->width(), h);
}

qsizetype LineListView::lineAtViewportY(int y) const
{
    if (y < 0 || y >= viewport()->height())
        return -1;
    const qsizetype i = verticalScrollBar()->value() + y / lineHeight();
    return i < lineCount() ? i : -1;
}

qsizetype LineListView::lineAt(int y) const
{
    const qsizetype i = verticalScrollBar()->value() + qMax(0, y) / lineHeight();
    return qMin(i, lineCount() - 1);
}

void LineListView::ensureVisible(qsizetype i)
{
    QScrollBar *v = verticalScrollBar();
    if (i < v->value())
        v->setValue(static_cast<int>(i));
    else if (i >= v->value() + visibleLines())
        v->setValue(static_cast<int>(i - visibleLines() + 1));
}

// --- selection -------------------------------------------------------------------------

qsizetype LineListView::selectionFirst() const
{
    return m_anchor < 0 || lineCount() == 0 ? -1 : qMin(m_anchor, m_current);
}

qsizetype LineListView::selectionLast() const
{
    return m_anchor < 0 || lineCount() == 0 ? -1 : qMax(m_anchor, m_current);
}

void LineListView::selectLines(qsizetype first, qsizetype last)
{
    if (lineCount() == 0)
        return;
    m_anchor = qBound<qsizetype>(0, first, lineCount() - 1);
    m_current = qBound<qsizetype>(0, last, lineCount() - 1);
    viewport()->update();
}

void LineListView::clearSelection()
{
    m_anchor = m_current = -1;
    viewport()->update();
}

void LineListView::selectAll()
{
    selectLines(0, lineCount() - 1);
}

QString LineListView::selectedText() const
{
    const qsizetype first = selectionFirst();
    if (first < 0)
        return {};
    QStringList out;
    for (qsizetype i = first; i <= selectionLast(); ++i)
        out << copyText(i);
    return out.join(QLatin1Char('\n'));
}

void LineListView::copy() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void LineListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || lineCount() == 0)
        return QAbstractScrollArea::mousePressEvent(event);
    const qsizetype i = lineAt(event->position().toPoint().y());
    if (!(event->modifiers() & Qt::ShiftModifier) || m_anchor < 0)
        m_anchor = i;
    m_current = i;
    viewport()->update();
}

void LineListView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0)
        return QAbstractScrollArea::mouseMoveEvent(event);
    m_current = lineAt(event->position().toPoint().y());
    ensureVisible(m_current);
    viewport()->update();
}

void LineListView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (lineCount() > 0 && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        if (m_anchor < 0)
            m_anchor = m_current = verticalScrollBar()->value();
        m_current = qBound<qsizetype>(0, m_current + (event->key() == Qt::Key_Up ? -1 : 1), lineCount() - 1);
        ensureVisible(m_current);
        viewport()->update();
        return;
    }
    if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
        verticalScrollBar()->setValue(0);
        return;
    }
    if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// --- the lines as one text -------------------------------------------------------------

qsizetype LineListView::lineLength(qsizetype i) const
{
    return i < 0 || i >= lineCount() ? 0 : displayText(i).size();
}

qsizetype LineListView::characterCount() const
{
    const qsizetype n = lineCount();
    qsizetype chars = 0;
    for (qsizetype i = 0; i < n; ++i)
        chars += lineLength(i);
    return n == 0 ? 0 : chars + n - 1;
}

qsizetype LineListView::lineStart(qsizetype i) const
{
    if (i >= lineCount())
        return characterCount();
    qsizetype offset = 0;
    for (qsizetype k = 0; k < i; ++k)
        offset += lineLength(k) + 1;
    return offset;
}

qsizetype LineListView::lineAtOffset(qsizetype offset) const
{
    const qsizetype n = lineCount();
    qsizetype next = 0; // where the line after k starts
    for (qsizetype k = 0; k < n; ++k) {
        next += lineLength(k) + 1;
        if (offset < next)
            return k;
    }
    return n - 1;
}

QString LineListView::text(qsizetype start, qsizetype end) const
{
    QString all;
    for (qsizetype i = 0; i < lineCount(); ++i) {
        if (i > 0)
            all += QLatin1Char('\n');
        all += displayText(i);
    }
    start = qBound<qsizetype>(0, start, all.size());
    end = qBound<qsizetype>(start, end, all.size());
    return all.mid(start, end - start);
}

} // namespace qvx
