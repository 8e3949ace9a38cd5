// A read-only, non-wrapping list of lines in a fixed-pitch font, the part the
// log view and the readout view share: only the lines in sight are drawn,
// scroll bars and repaint are settled once per event-loop turn (or timer
// interval) however many lines arrived, the tail is followed unless the
// operator scrolled up to read, and whole lines are selected with the mouse
// or the keyboard (Shift+arrows, Ctrl+A) and copied with Ctrl+C.
//
// Accessibility clients read the lines as one read-only, multi-line text
// (the lines as shown, joined by line feeds) through LineListAccessible; the
// selected lines are its selection.
//
// A subclass holds the lines and says what they are (lineCount, displayText,
// longestLine); it may tell the text's offsets faster than the line-by-line
// walk done here, draw only part of a line, and handle more keys.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <QTimer>

class QPainter;

namespace qvx {

class LineListView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // settleMs: how long the screen may lag behind a change of the lines;
    // contentWidthLimit: the widest the lines are taken to be, in pixels.
    LineListView(int settleMs, qsizetype contentWidthLimit, QWidget *parent = nullptr);

    // --- the lines --------------------------------------------------------------
    virtual qsizetype lineCount() const = 0;
    // Line i as the screen and accessibility clients show it.
    virtual QString displayText(qsizetype i) const = 0;
    // Line i as Ctrl+C copies it; the default is as shown.
    virtual QString copyText(qsizetype i) const { return displayText(i); }

    // --- selection of whole lines --------------------------------------------------
    // The selected lines, first <= last; both -1 without a selection.
    qsizetype selectionFirst() const;
    qsizetype selectionLast() const;
    void selectLines(qsizetype first, qsizetype last);
    void clearSelection();
    void selectAll();
    // The selected lines (copyText), one per line; empty without a selection.
    QString selectedText() const;
    void copy() const;

    // --- the lines as one text, for accessibility clients ----------------------------
    // The shown lines joined by '\n', no line end after the last.  Offsets
    // count UTF-16 characters of that text.  The defaults walk the lines.
    virtual qsizetype characterCount() const;
    virtual qsizetype lineLength(qsizetype i) const;
    // Offset of the first character of line i (characterCount() for i at or
    // past the end, 0 for i <= 0).
    virtual qsizetype lineStart(qsizetype i) const;
    // The line holding offset; the '\n' after a line belongs to it, and the
    // end of the text to the last line.  -1 without lines.
    virtual qsizetype lineAtOffset(qsizetype offset) const;
    // Characters [start, end) of the text, clamped to it.
    virtual QString text(qsizetype start, qsizetype end) const;
    // Whether clients also get the whole text as the value (for texts that
    // stay short; a long one is read through the text interface only).
    virtual bool accessibleValueIsText() const { return false; }

    // --- geometry --------------------------------------------------------------------
    // Scrolls as little as needed to bring line i into sight.
    void ensureVisible(qsizetype i);
    // Where line i is drawn, in viewport coordinates (outside the viewport
    // when it is not in sight), and the x at which its text starts.
    QRect lineRect(qsizetype i) const;
    int textLeft() const;
    // The line drawn at viewport height y; -1 when none is.
    qsizetype lineAtViewportY(int y) const;

protected:
    // Length in characters of the longest line, for the horizontal range.
    virtual qsizetype longestLine() const = 0;
    // Draws line i with its baseline at y; the pen is set.  The default
    // draws the whole shown line at textLeft().
    virtual void drawLine(QPainter &painter, qsizetype i, int baseline) const;

    // The lines changed: the screen catches up within the settle interval.
    void changed();
    // Brings the scroll bars and the screen up to date now.
    void settle();
    int lineHeight() const;
    int charWidth() const;
    int visibleLines() const;

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateScrollBars();
    qsizetype lineAt(int y) const;

    QTimer m_settle;
    qsizetype m_contentWidthLimit;
    qsizetype m_anchor = -1; // selection: anchor and moving end (line numbers)
    qsizetype m_current = -1;
};

} // namespace qvx
