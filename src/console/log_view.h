// The log view `Memo_current`: a read-only, non-wrapping list of lines that
// every area appends to.  It draws only the lines in sight from LogLines, so
// appending costs the same at the millionth line as at the first (a text
// document relays out and grows far faster; a list view relays out every row
// on each insertion).  Scroll bars, tail following and repaint are settled
// once per event-loop turn, however many lines arrived in it.
//
// The operator can select whole lines with the mouse or the keyboard
// (Shift+arrows, Ctrl+A) and copy them with Ctrl+C (LineListView).
//
// Screen readers and other accessibility clients read the log as one text
// (the lines joined by line feeds) under the name "Log", and are told of
// every appended line as an insertion at the end of that text.
//
// While the operator has scrolled up to read, new lines leave the view where
// it is and a "New lines below" button shows over its bottom edge; pressing
// it (or scrolling to the end) brings the tail back and hides it.
#pragma once

#include "console/log_lines.h"
#include "widgets/line_list_view.h"

class QToolButton;

namespace qvx {

class LogView : public LineListView {
    Q_OBJECT
public:
    explicit LogView(QWidget *parent = nullptr);

    // Up to this many characters, clearing tells accessibility clients the
    // text it removed; beyond, only that the content changed.
    static constexpr qsizetype RemovalTextLimit = 1 << 22;

    void appendLine(const QString &line);
    void clear();
    qsizetype lineCount() const override { return m_lines.size(); }
    QString line(qsizetype i) const { return m_lines.line(i); }
    QString lastLine() const { return m_lines.last(); }
    QStringList lines() const { return m_lines.all(); }
    const LogLines &store() const { return m_lines; }
    // Scrolls to the last line; the marker goes.
    void scrollToEnd();

    // --- the lines as LineListView reads them: offsets from the store's index
    QString displayText(qsizetype i) const override { return m_lines.line(i); }
    qsizetype characterCount() const override { return m_lines.characterCount(); }
    qsizetype lineLength(qsizetype i) const override { return m_lines.lineLength(i); }
    qsizetype lineStart(qsizetype i) const override { return m_lines.lineStart(i); }
    qsizetype lineAtOffset(qsizetype offset) const override { return m_lines.lineAtOffset(offset); }
    QString text(qsizetype start, qsizetype end) const override { return m_lines.text(start, end); }

protected:
    qsizetype longestLine() const override { return m_lines.longest(); }
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeMarker();

    // Tells accessibility clients what changed, when any listens.
    void announceInsert(qsizetype at, const QString &inserted);

    LogLines m_lines;
    // "New lines below" (Button_newLinesBelow), shown while scrolled up.
    QToolButton *m_marker;
};

} // namespace qvx
