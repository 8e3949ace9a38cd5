#include "console/log_view.h"

#include <QAccessible>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <climits>

namespace qvx {

// Settled once per event-loop turn; the text is drawn whole at its x, which
// keeps the content no wider than the painter's fixed-point range.
LogView::LogView(QWidget *parent) : LineListView(0, 1 << 24, parent), m_marker(new QToolButton(this))
{
    setObjectName(QStringLiteral("Memo_current"));
    setAccessibleName(QStringLiteral("Log"));

    // A child of the scroll area, not of the viewport: it stays put over the
    // lines' bottom edge while they scroll beneath it.
    const QString caption = QStringLiteral("New lines below");
    m_marker->setObjectName(QStringLiteral("Button_newLinesBelow"));
    m_marker->setText(caption);
    m_marker->setAccessibleName(caption);
    m_marker->setToolTip(QStringLiteral("Lines were added below while you read further up; "
                                        "click to go to the newest line"));
    m_marker->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    m_marker->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_marker->setCursor(Qt::ArrowCursor);
    m_marker->setFocusPolicy(Qt::NoFocus);
    m_marker->hide();
    connect(m_marker, &QToolButton::clicked, this, &LogView::scrollToEnd);
    // However the operator gets back to the end (the button, the scroll bar,
    // Ctrl+End), there is nothing below to point at any more.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value >= verticalScrollBar()->maximum())
            m_marker->hide();
    });
}

void LogView::scrollToEnd()
{
    settle();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_marker->hide();
}

void LogView::resizeEvent(QResizeEvent *event)
{
    LineListView::resizeEvent(event);
    placeMarker();
}

void LogView::placeMarker()
{
    m_marker->adjustSize();
    const QRect area = viewport()->geometry();
    m_marker->move(area.right() - m_marker->width() - 8, area.bottom() - m_marker->height() - 4);
}

void LogView::appendLine(const QString &line)
{
    // Scrolled up (the view follows the tail only from the end): the line
    // lands out of sight, so say that there is more below.
    if (QScrollBar *v = verticalScrollBar(); v->value() < v->maximum() && m_marker->isHidden()) {
        placeMarker();
        m_marker->show();
        m_marker->raise();
    }
    // Only a listening client pays for the announcement.
    if (QAccessible::isActive()) {
        const qsizetype at = m_lines.characterCount();
        const bool first = m_lines.isEmpty();
        m_lines.append(line);
        announceInsert(at, first ? line : QLatin1Char('\n') + line);
    } else {
        m_lines.append(line);
    }
    changed();
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
    clearSelection();
    m_marker->hide();
    settle();
}

} // namespace qvx
