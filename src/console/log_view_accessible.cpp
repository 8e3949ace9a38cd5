#include "console/log_view_accessible.h"

#include "console/log_view.h"

#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace qvx {
namespace {

int toInt(qsizetype v)
{
    return static_cast<int>(std::clamp<qsizetype>(v, INT_MIN, INT_MAX));
}

// One line's text, so that Qt's own word, sentence and character boundary
// rules can run on it without the whole log being put together.
class LineText final : public QAccessibleTextInterface {
public:
    explicit LineText(QString text) : m_text(std::move(text)) {}
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        return m_text.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return toInt(m_text.size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    QString m_text;
};

QAccessibleInterface *logViewFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(LogView::staticMetaObject.className()))
        if (auto *view = qobject_cast<LogView *>(object))
            return new LogViewAccessible(view);
    return nullptr;
}

} // namespace

void installLogViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&logViewFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

LogViewAccessible::LogViewAccessible(LogView *view) : QAccessibleWidget(view, QAccessible::EditableText) {}

LogView *LogViewAccessible::view() const
{
    return static_cast<LogView *>(widget());
}

void *LogViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State LogViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

// --- selection -------------------------------------------------------------------

void LogViewAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    const qsizetype first = view()->selectionFirst();
    if (selectionIndex != 0 || first < 0)
        return;
    const LogLines &lines = view()->store();
    const qsizetype last = view()->selectionLast();
    *startOffset = toInt(lines.lineStart(first));
    *endOffset = toInt(lines.lineStart(last) + lines.lineLength(last));
}

int LogViewAccessible::selectionCount() const
{
    return view()->selectionFirst() < 0 ? 0 : 1;
}

void LogViewAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void LogViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->clearSelection();
}

void LogViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    const LogLines &lines = view()->store();
    const int from = qMin(startOffset, endOffset);
    const int to = qMax(startOffset, endOffset);
    // The view selects whole lines: every line the range touches.
    view()->selectLines(lines.lineAtOffset(from), lines.lineAtOffset(qMax(from, to - 1)));
}

// --- cursor ------------------------------------------------------------------------

int LogViewAccessible::cursorPosition() const
{
    const qsizetype last = view()->selectionLast();
    return last < 0 ? 0 : toInt(view()->store().lineStart(last));
}

void LogViewAccessible::setCursorPosition(int position)
{
    view()->ensureVisible(view()->store().lineAtOffset(position));
}

// --- text ----------------------------------------------------------------------------

QString LogViewAccessible::text(int startOffset, int endOffset) const
{
    return view()->store().text(startOffset, endOffset);
}

int LogViewAccessible::characterCount() const
{
    return toInt(view()->store().characterCount());
}

QString LogViewAccessible::wholeLine(qsizetype line, int *startOffset, int *endOffset) const
{
    const LogLines &lines = view()->store();
    const qsizetype start = lines.lineStart(line);
    // A line ends after its line feed, as Qt's text views report lines.
    const qsizetype end = line + 1 < lines.size() ? lines.lineStart(line + 1) : lines.characterCount();
    *startOffset = toInt(start);
    *endOffset = toInt(end);
    return lines.text(start, end);
}

QString LogViewAccessible::withinLine(int which, int offset, QAccessible::TextBoundaryType type,
                                      int *startOffset, int *endOffset) const
{
    const LogLines &lines = view()->store();
    const qsizetype line = lines.lineAtOffset(offset);
    const qsizetype start = lines.lineStart(line);
    const qsizetype end = line + 1 < lines.size() ? lines.lineStart(line + 1) : lines.characterCount();
    const int local = toInt(offset - start);
    // What lies before the first character of a line is the previous line's end.
    if (which < 0 && local == 0 && line > 0)
        return withinLine(0, offset - 1, type, startOffset, endOffset);

    const LineText text(lines.text(start, end));
    int s = -1;
    int e = -1;
    QString found = which < 0   ? text.textBeforeOffset(local, type, &s, &e)
                    : which > 0 ? text.textAfterOffset(local, type, &s, &e)
                                : text.textAtOffset(local, type, &s, &e);
    if (found.isEmpty() && which > 0 && line + 1 < lines.size())
        return withinLine(0, toInt(end), type, startOffset, endOffset);
    *startOffset = s < 0 ? -1 : toInt(start + s);
    *endOffset = e < 0 ? -1 : toInt(start + e);
    return found;
}

QString LogViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = -1;
    const LogLines &lines = view()->store();
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (lines.isEmpty() || offset < 0 || offset > count)
        return {};
    switch (boundaryType) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary:
        return wholeLine(lines.lineAtOffset(offset), startOffset, endOffset);
    case QAccessible::NoBoundary:
        *startOffset = 0;
        *endOffset = count;
        return lines.text(0, count);
    default:
        return withinLine(0, offset, boundaryType, startOffset, endOffset);
    }
}

QString LogViewAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = -1;
    const LogLines &lines = view()->store();
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (lines.isEmpty() || offset < 0 || offset > count)
        return {};
    switch (boundaryType) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary: {
        const qsizetype line = lines.lineAtOffset(offset);
        return line > 0 ? wholeLine(line - 1, startOffset, endOffset) : QString();
    }
    case QAccessible::NoBoundary:
        return {};
    default:
        return withinLine(-1, offset, boundaryType, startOffset, endOffset);
    }
}

QString LogViewAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = -1;
    const LogLines &lines = view()->store();
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (lines.isEmpty() || offset < 0 || offset > count)
        return {};
    switch (boundaryType) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary: {
        const qsizetype line = lines.lineAtOffset(offset);
        return line + 1 < lines.size() ? wholeLine(line + 1, startOffset, endOffset) : QString();
    }
    case QAccessible::NoBoundary:
        return {};
    default:
        return withinLine(1, offset, boundaryType, startOffset, endOffset);
    }
}

// --- geometry ----------------------------------------------------------------------

QRect LogViewAccessible::characterRect(int offset) const
{
    const LogLines &lines = view()->store();
    if (offset < 0 || offset >= characterCount())
        return {};
    const qsizetype line = lines.lineAtOffset(offset);
    const qsizetype column = offset - lines.lineStart(line);
    const QString text = lines.line(line);
    const QFontMetrics fm = view()->fontMetrics();
    const int x = view()->textLeft() + fm.horizontalAdvance(text.left(column));
    const int width = fm.horizontalAdvance(column < text.size() ? text.at(column) : QLatin1Char(' '));
    const QRect row = view()->lineRect(line);
    const QRect r(x, row.y(), width, row.height());
    return QRect(view()->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int LogViewAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (local.x() < 0 || local.x() >= view()->viewport()->width())
        return -1;
    const qsizetype line = view()->lineAtViewportY(local.y());
    if (line < 0)
        return -1;
    const LogLines &lines = view()->store();
    const QString text = lines.line(line);
    const QFontMetrics fm = view()->fontMetrics();
    const int x = local.x() - view()->textLeft();
    int reached = 0;
    for (qsizetype c = 0; c < text.size(); ++c) {
        reached += fm.horizontalAdvance(text.at(c));
        if (x < reached)
            return toInt(lines.lineStart(line) + c);
    }
    // Right of the text: the line's end.
    return toInt(lines.lineStart(line) + text.size());
}

void LogViewAccessible::scrollToSubstring(int startIndex, int)
{
    view()->ensureVisible(view()->store().lineAtOffset(startIndex));
}

QString LogViewAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One font and colour throughout: no attribute runs.
    *startOffset = 0;
    *endOffset = characterCount();
    Q_UNUSED(offset);
    return {};
}

} // namespace qvx
