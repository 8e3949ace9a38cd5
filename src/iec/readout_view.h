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
// Delete removes the selected lines.  Selection, keys, scrolling and the
// accessible text (the lines as they show) come from LineListView.
#pragma once

#include "iec/iec_lines.h"
#include "widgets/line_list_view.h"

#include <QStringList>

namespace qvx {

class ReadoutView : public LineListView {
    Q_OBJECT
public:
    static constexpr int SettleMs = 30;

    explicit ReadoutView(QWidget *parent = nullptr);

    // Appends the bytes of one receive event from line lineIndex on (see
    // IecLines::capture).  The screen catches up within SettleMs.
    void capture(QByteArrayView bytes, int &lineIndex);
    void clear();

    const IecLines &store() const { return m_lines; }
    qsizetype lineCount() const override { return m_lines.size(); }
    // A line's characters as they arrived (one Latin-1 character a byte).
    QString lineText(qsizetype i) const { return QString::fromLatin1(m_lines.line(i)); }
    QStringList lines() const;
    // How line i shows on screen.
    QString displayText(qsizetype i) const override { return iecDisplayText(m_lines.line(i)); }
    // Copied as they arrived, controls included.
    QString copyText(qsizetype i) const override { return lineText(i); }
    // Every byte shows as one character.
    qsizetype lineLength(qsizetype i) const override;
    bool accessibleValueIsText() const override { return true; }

    // Adds text (as Latin-1) below the last line, line feeds ending lines.
    void paste(const QString &text);
    void removeSelectedLines();

protected:
    qsizetype longestLine() const override { return m_lines.longest(); }
    // Only the columns in sight, one more on either side.
    void drawLine(QPainter &painter, qsizetype i, int baseline) const override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    IecLines m_lines;
};

} // namespace qvx
