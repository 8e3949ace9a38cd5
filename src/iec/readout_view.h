// The readout text `Memo_readout`: the captured lines of a meter's answer,
// drawn from an IecLines store.  Only the lines and the columns in sight are
// drawn, so a capture appends at the same cost to a megabyte of text, or to
// one megabyte-long line, as to an empty view (a text document relays out
// the whole line it appends to, and its work grows with the text).
//
// Control characters stay in the lines as they arrived and are drawn as
// visible marks (iecDisplayChar): the STX before the first data line, the
// CR at the end of every line, the ETX and the block check character.
//
// The operator selects whole lines with the mouse or the keyboard
// (Shift+arrows, Ctrl+A) and copies them with Ctrl+C (the characters as they
// are, controls included); Ctrl+V adds the clipboard's text below as lines;
// Delete removes the selected lines.
#pragma once

#include "iec/iec_lines.h"

#include <QAbstractScrollArea>
#include <QStringList>
#include <QTimer>
#include <utility>

namespace qvx {

class ReadoutView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int SettleMs = 30;

    explicit ReadoutView(QWidget *parent = nullptr);

    // Appends the bytes of one receive event from line lineIndex on (see
    // IecLines::capture).  The screen catches up within SettleMs.
    void capture(QByteArrayView bytes, int &lineIndex);
    void clear();

    const IecLines &store() const { return m_lines; }
    qsizetype lineCount() const { return m_lines.size(); }
    // A line's characters as they arrived (one Latin-1 character a byte).
    QString lineText(qsizetype i) const { return QString::fromLatin1(m_lines.line(i)); }
    QStringList lines() const;
    // How line i shows on screen.
    QString displayText(qsizetype i) const { return iecDisplayText(m_lines.line(i)); }

    // First and last selected line; -1, -1 without a selection.
    std::pair<qsizetype, qsizetype> selectedRange() const;
    // The selected lines, one per line; empty without a selection.
    QString selectedText() const;
    void selectAll();
    void copy() const;
    // Adds text (as Latin-1) below the last line, line feeds ending lines.
    void paste(const QString &text);
    void removeSelectedLines();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void changed();
    void settle();
    void updateScrollBars();
    int lineHeight() const;
    int charWidth() const;
    int visibleLines() const;
    qsizetype lineAt(int y) const;
    void ensureVisible(qsizetype i);

    IecLines m_lines;
    QTimer m_settle;
    qsizetype m_anchor = -1; // selection: anchor and moving end (line numbers)
    qsizetype m_current = -1;
};

} // namespace qvx
