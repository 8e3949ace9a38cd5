// The log view `Memo_current`: a read-only, non-wrapping list of lines that
// every area appends to.  It draws only the lines in sight from LogLines, so
// appending costs the same at the millionth line as at the first (a text
// document relays out and grows far faster; a list view relays out every row
// on each insertion).  Scroll bars, tail following and repaint are settled
// once per event-loop turn, however many lines arrived in it.
//
// The operator can select whole lines with the mouse or the keyboard
// (Shift+arrows, Ctrl+A) and copy them with Ctrl+C.
//
// Screen readers and other accessibility clients read the log as one text
// (the lines joined by line feeds) under the name "Log", and are told of
// every appended line as an insertion at the end of that text.
#pragma once

#include "console/log_lines.h"

#include <QAbstractScrollArea>
#include <QTimer>

namespace qvx {

class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(QWidget *parent = nullptr);

    // Up to this many characters, clearing tells accessibility clients the
    // text it removed; beyond, only that the content changed.
    static constexpr qsizetype RemovalTextLimit = 1 << 22;

    void appendLine(const QString &line);
    void clear();
    qsizetype lineCount() const { return m_lines.size(); }
    QString line(qsizetype i) const { return m_lines.line(i); }
    QString lastLine() const { return m_lines.last(); }
    QStringList lines() const { return m_lines.all(); }

    // The selected lines as text, one per line; empty without a selection.
    QString selectedText() const;
    void selectAll();
    void copy() const;

    // --- for the accessible interface -----------------------------------------
    const LogLines &store() const { return m_lines; }
    // The selected lines, first <= last; both -1 without a selection.
    qsizetype selectionFirst() const { return m_anchor < 0 ? -1 : qMin(m_anchor, m_current); }
    qsizetype selectionLast() const { return m_anchor < 0 ? -1 : qMax(m_anchor, m_current); }
    void selectLines(qsizetype first, qsizetype last);
    void clearSelection();
    // Scrolls as little as needed to bring line i into sight.
    void ensureVisible(qsizetype i);
    // Where line i is drawn, in viewport coordinates (outside the viewport
    // when it is not in sight), and the x at which its text starts.
    QRect lineRect(qsizetype i) const;
    int textLeft() const;
    // The line drawn at viewport height y; -1 when none is.
    qsizetype lineAtViewportY(int y) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void settle();
    void updateScrollBars();
    int lineHeight() const;
    int visibleLines() const;
    qsizetype lineAt(int y) const;
    // Tells accessibility clients what changed, when any listens.
    void announceInsert(qsizetype at, const QString &inserted);

    LogLines m_lines;
    QTimer m_settle;
    qsizetype m_anchor = -1; // selection: anchor and moving end (line numbers)
    qsizetype m_current = -1;
};

} // namespace qvx
