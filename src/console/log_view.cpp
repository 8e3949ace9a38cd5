#include "console/log_view.h"

#include <QAccessible>
#include <climits>

namespace qvx {

// Settled once per event-loop turn; the text is drawn whole at its x, which
// keeps the content no wider than the painter's fixed-point range.
LogView::LogView(QWidget *parent) : LineListView(0, 1 << 24, parent)
{
    setObjectName(QStringLiteral("Memo_current"));
    setAccessibleName(QStringLiteral("Log"));
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
    settle();
}

} // namespace qvx
