// The log view as accessibility clients see it: a read-only, multi-line text
// named "Log" whose text is the log's lines joined by line feeds.
#pragma once

#include <QAccessibleWidget>

namespace qvx {

class LogView;

class LogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LogViewAccessible(LogView *view);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;

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
    LogView *view() const;
    // Word, sentence and character boundaries, found within the one line that
    // holds offset (a line end is always a boundary).  which: -1 before, 0 at,
    // 1 after.
    QString withinLine(int which, int offset, QAccessible::TextBoundaryType type, int *startOffset,
                       int *endOffset) const;
    // Whole lines; which as above.
    QString wholeLine(qsizetype line, int *startOffset, int *endOffset) const;
};

// Makes QAccessible::queryAccessibleInterface() answer with LogViewAccessible
// for every LogView; safe to call more than once.
void installLogViewAccessibility();

} // namespace qvx
