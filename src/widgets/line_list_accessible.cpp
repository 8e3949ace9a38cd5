#include "widgets/line_list_accessible.h"

#include "widgets/line_list_view.h"

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

// Asked for each class of an object's class chain, so one factory serves
// every kind of line list view.
QAccessibleInterface *lineListFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(LineListView::staticMetaObject.className()))
        if (auto *view = qobject_cast<LineListView *>(object))
            return new LineListAccessible(view);
    return nullptr;
}

} // namespace

void installLineListAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&lineListFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

LineListAccessible::LineListAccessible(LineListView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{}

LineListView *LineListAccessible::view() const
{
    return static_cast<LineListView *>(widget());
}

void *LineListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State LineListAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString LineListAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value && view()->accessibleValueIsText())
        return view()->text(0, view()->characterCount());
    return QAccessibleWidget::text(t);
}

// --- selection -------------------------------------------------------------------

void LineListAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    const qsizetype first = view()->selectionFirst();
    if (selectionIndex != 0 || first < 0)
        return;
    const qsizetype last = view()->selectionLast();
    *startOffset = toInt(view()->lineStart(first));
    *endOffset = toInt(view()->lineStart(last) + view()->lineLength(last));
}

int LineListAccessible::selectionCount() const
{
    return view()->selectionFirst() < 0 ? 0 : 1;
}

void LineListAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void LineListAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->clearSelection();
}

void LineListAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    const int from = qMin(startOffset, endOffset);
    const int to = qMax(startOffset, endOffset);
    // The view selects whole lines: every line the range touches.
    view()->selectLines(view()->lineAtOffset(from), view()->lineAtOffset(qMax(from, to - 1)));
}

// --- cursor ------------------------------------------------------------------------

int LineListAccessible::cursorPosition() const
{
    const qsizetype last = view()->selectionLast();
    return last < 0 ? 0 : toInt(view()->lineStart(last));
}

void LineListAccessible::setCursorPosition(int position)
{
    view()->ensureVisible(view()->lineAtOffset(position));
}

// --- text ----------------------------------------------------------------------------

QString LineListAccessible::text(int startOffset, int endOffset) const
{
    return view()->text(startOffset, endOffset);
}

int LineListAccessible::characterCount() const
{
    return toInt(view()->characterCount());
}

QString LineListAccessible::wholeLine(qsizetype line, int *startOffset, int *endOffset) const
{
    const LineListView *v = view();
    const qsizetype start = v->lineStart(line);
    // A line ends after its line feed, as Qt's text views report lines.
    const qsizetype end = v->lineStart(line + 1);
    *startOffset = toInt(start);
    *endOffset = toInt(end);
    return v->text(start, end);
}

QString LineListAccessible::withinLine(int which, int offset, QAccessible::TextBoundaryType type,
                                       int *startOffset, int *endOffset) const
{
    const LineListView *v = view();
    const qsizetype line = v->lineAtOffset(offset);
    const qsizetype start = v->lineStart(line);
    const qsizetype end = v->lineStart(line + 1);
    const int local = toInt(offset - start);
    // What lies before the first character of a line is the previous line's end.
    if (which < 0 && local == 0 && line > 0)
        return withinLine(0, offset - 1, type, startOffset, endOffset);

    const LineText text(v->text(start, end));
    int s = -1;
    int e = -1;
    QString found = which < 0   ? text.textBeforeOffset(local, type, &s, &e)
                    : which > 0 ? text.textAfterOffset(local, type, &s, &e)
                                : text.textAtOffset(local, type, &s, &e);
    if (found.isEmpty() && which > 0 && line + 1 < v->lineCount())
        return withinLine(0, toInt(end), type, startOffset, endOffset);
    *startOffset = s < 0 ? -1 : toInt(start + s);
    *endOffset = e < 0 ? -1 : toInt(start + e);
    return found;
}

QString LineListAccessible::lookup(int which, int offset, QAccessible::TextBoundaryType type,
                                   int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = -1;
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (view()->lineCount() == 0 || offset < 0 || offset > count)
        return {};
    switch (type) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary: {
        const qsizetype line = view()->lineAtOffset(offset) + which;
        return line >= 0 && line < view()->lineCount() ? wholeLine(line, startOffset, endOffset) : QString();
    }
    case QAccessible::NoBoundary:
        if (which != 0)
            return {};
        *startOffset = 0;
        *endOffset = count;
        return view()->text(0, count);
    default:
        return withinLine(which, offset, type, startOffset, endOffset);
    }
}

QString LineListAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int *startOffset, int *endOffset) const
{
    return lookup(0, offset, boundaryType, startOffset, endOffset);
}

QString LineListAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int *startOffset, int *endOffset) const
{
    return lookup(-1, offset, boundaryType, startOffset, endOffset);
}

QString LineListAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    return lookup(1, offset, boundaryType, startOffset, endOffset);
}

// --- geometry ----------------------------------------------------------------------

QRect LineListAccessible::characterRect(int offset) const
{
    if (offset < 0 || offset >= characterCount())
        return {};
    const qsizetype line = view()->lineAtOffset(offset);
    const qsizetype column = offset - view()->lineStart(line);
    const QString text = view()->displayText(line);
    const QFontMetrics fm = view()->fontMetrics();
    const int x = view()->textLeft() + fm.horizontalAdvance(text.left(column));
    const int width = fm.horizontalAdvance(column < text.size() ? text.at(column) : QLatin1Char(' '));
    const QRect row = view()->lineRect(line);
    const QRect r(x, row.y(), width, row.height());
    return QRect(view()->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int LineListAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (local.x() < 0 || local.x() >= view()->viewport()->width())
        return -1;
    const qsizetype line = view()->lineAtViewportY(local.y());
    if (line < 0)
        return -1;
    const QString text = view()->displayText(line);
    const QFontMetrics fm = view()->fontMetrics();
    const int x = local.x() - view()->textLeft();
    int reached = 0;
    for (qsizetype c = 0; c < text.size(); ++c) {
        reached += fm.horizontalAdvance(text.at(c));
        if (x < reached)
            return toInt(view()->lineStart(line) + c);
    }
    // Right of the text: the line's end.
    return toInt(view()->lineStart(line) + text.size());
}

void LineListAccessible::scrollToSubstring(int startIndex, int)
{
    view()->ensureVisible(view()->lineAtOffset(startIndex));
}

QString LineListAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One font and colour throughout: no attribute runs.
    *startOffset = 0;
    *endOffset = characterCount();
    Q_UNUSED(offset);
    return {};
}

} // namespace qvx
