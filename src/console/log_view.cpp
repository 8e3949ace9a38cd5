#include "console/log_view.h"

#include "console/log_view_accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace qvx {

LogView::LogView(QWidget *parent) : QAbstractScrollArea(parent)
{
    installLogViewAccessibility();
    setObjectName(QStringLiteral("Memo_current"));
    setAccessibleName(QStringLiteral("Log"));
    // Hexadecimal byte lists line up in a fixed-pitch font, and the width of
    // the longest line follows from its length alone.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    m_settle.setSingleShot(true);
    m_settle.setInterval(0);
    connect(&m_settle, &QTimer::timeout, this, &LogView::settle);
}

void LogView::appendLine(const QString &line)
{
    // Only a listening client pays for the announcement.
    if (QAccessible::isActive()) {
        const qsizetype at = m_lines.characterCount();
        const bool first = m_lines.isEmpty();
        m_lines.append(line);
        announceInsert(at, first ? line : QLatin1Char('\n') + line);
    } else {
        m_lines.append(line);
    }
    if (!m_settle.isActive())
        m_settle.start();
}

void LogView::announceInsert(qsizetype at, const QString &inserted)
{
    QAccessibleTextInsertEvent event(this, static_cast<int>(qMin<qsizetype>(at, INT_MAX)), inserted);
    QAccessible::updateAccessibility(&event);
}

void LogView::clear()
{
    if (QAccessible::isActive() && !m_lines.isEmpty()) {
        // A removal carries the removed text; for a log of days that would
        // be hundreds of megabytes at once, so a long log is only said to
        // have changed as a whole.
        if (m_lines.characterCount() <= RemovalTextLimit) {
            QAccessibleTextRemoveEvent event(this, 0, m_lines.text(0, m_lines.characterCount()));
            m_lines.clear();
            QAccessible::updateAccessibility(&event);
        } else {
            m_lines.clear();
            QAccessibleEvent event(this, QAccessible::VisibleDataChanged);
            QAccessible::updateAccessibility(&event);
        }
    }
    m_lines.clear();
    m_anchor = m_current = -1;
    settle();
}

void LogView::settle()
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

int LogView::lineHeight() const
{
    return fontMetrics().lineSpacing();
}

int LogView::visibleLines() const
{
    return qMax(1, viewport()->height() / lineHeight());
}

void LogView::updateScrollBars()
{
    const qsizetype count = m_lines.size();
    const int page = visibleLines();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, static_cast<int>(qMax<qsizetype>(0, count - page)));
    v->setPageStep(page);
    v->setSingleStep(1);

    const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int contentWidth = static_cast<int>(qMin<qsizetype>(m_lines.longest() * charWidth + 8, 1 << 24));
    QScrollBar *h = horizontalScrollBar();
    h->setRange(0, qMax(0, contentWidth - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(charWidth * 4);
}

void LogView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    settle();
}

void LogView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const int h = lineHeight();
    const int ascent = fontMetrics().ascent();
    const int x = textLeft();
    const qsizetype first = verticalScrollBar()->value();
    const qsizetype last = qMin(m_lines.size(), first + visibleLines() + 1);
    const qsizetype selFirst = qMin(m_anchor, m_current);
    const qsizetype selLast = qMax(m_anchor, m_current);
    const QPalette &pal = palette();
    for (qsizetype i = first; i < last; ++i) {
        const int y = static_cast<int>(i - first) * h;
        const bool selected = m_anchor >= 0 && i >= selFirst && i <= selLast;
        if (selected) {
            p.fillRect(QRect(0, y, viewport()->width(), h), pal.highlight());
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        p.drawText(x, y + ascent, m_lines.line(i));
    }
}

int LogView::textLeft() const
{
    return 4 - horizontalScrollBar()->value();
}

QRect LogView::lineRect(qsizetype i) const
{
    const int h = lineHeight();
    const qsizetype row = i - verticalScrollBar()->value();
    const qsizetype y = std::clamp<qsizetype>(row * h, -(1 << 24), 1 << 24);
    return QRect(0, static_cast<int>(y), viewport()->width(), h);
}

qsizetype LogView::lineAtViewportY(int y) const
{
    if (y < 0 || y >= viewport()->height())
        return -1;
    const qsizetype i = verticalScrollBar()->value() + y / lineHeight();
    return i < m_lines.size() ? i : -1;
}

void LogView::selectLines(qsizetype first, qsizetype last)
{
    if (m_lines.isEmpty())
        return;
    m_anchor = qBound<qsizetype>(0, first, m_lines.size() - 1);
    m_current = qBound<qsizetype>(0, last, m_lines.size() - 1);
    viewport()->update();
}

void LogView::clearSelection()
{
    m_anchor = m_current = -1;
    viewport()->update();
}

qsizetype LogView::lineAt(int y) const
{
    const qsizetype i = verticalScrollBar()->value() + qMax(0, y) / lineHeight();
    return qMin(i, m_lines.size() - 1);
}

void LogView::ensureVisible(qsizetype i)
{
    QScrollBar *v = verticalScrollBar();
    if (i < v->value())
        v->setValue(static_cast<int>(i));
    else if (i >= v->value() + visibleLines())
        v->setValue(static_cast<int>(i - visibleLines() + 1));
}

void LogView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_lines.isEmpty())
        return QAbstractScrollArea::mousePressEvent(event);
    const qsizetype i = lineAt(event->position().toPoint().y());
    if (!(event->modifiers() & Qt::ShiftModifier) || m_anchor < 0)
        m_anchor = i;
    m_current = i;
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0)
        return QAbstractScrollArea::mouseMoveEvent(event);
    m_current = lineAt(event->position().toPoint().y());
    ensureVisible(m_current);
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (!m_lines.isEmpty() && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        if (m_anchor < 0)
            m_anchor = m_current = verticalScrollBar()->value();
        m_current =
            qBound<qsizetype>(0, m_current + (event->key() == Qt::Key_Up ? -1 : 1), m_lines.size() - 1);
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

QString LogView::selectedText() const
{
    if (m_anchor < 0 || m_lines.isEmpty())
        return {};
    QStringList out;
    for (qsizetype i = qMin(m_anchor, m_current); i <= qMax(m_anchor, m_current); ++i)
        out << m_lines.line(i);
    return out.join(QLatin1Char('\n'));
}

void LogView::selectAll()
{
    if (m_lines.isEmpty())
        return;
    m_anchor = 0;
    m_current = m_lines.size() - 1;
    viewport()->update();
}

void LogView::copy() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

} // namespace qvx
