// A line list view (LineListView) as accessibility clients see it: a
// read-only, multi-line text whose text is the shown lines joined by line
// feeds; the selected lines are its selection.
#pragma once

#include <QAccessibleWidget>

namespace qvx {

class LineListView;

class LineListAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LineListAccessible(LineListView *view);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    // The value is the whole text where the view says so.
    QString text(QAccessible::Text t) const override;

    // selection: whole lines, as the view selects them
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;

    int cursorPosition() const override;
    void setCursorPosition(int position) override;

    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                             int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                            int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;

    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;

    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    LineListView *view() const;
    // Word, sentence and character boundaries, found within the one line that
    // holds offset (a line end is always a boundary).  which: -1 before, 0 at,
    // 1 after.
    QString withinLine(int which, int offset, QAccessible::TextBoundaryType type, int *startOffset,
                       int *endOffset) const;
    // One whole line, its line feed included.
    QString wholeLine(qsizetype line, int *startOffset, int *endOffset) const;
    // The text before (which -1), at (0) or after (1) offset by the
    // boundary type; an offset of -1 is the end of the text.
    QString lookup(int which, int offset, QAccessible::TextBoundaryType type, int *startOffset,
                   int *endOffset) const;
};

// Makes QAccessible::queryAccessibleInterface() answer with LineListAccessible
// for every LineListView; safe to call more than once.
void installLineListAccessibility();

} // namespace qvx
