// The readout text `Memo_readout`: the captured lines of a meter's answer,
// drawn from an IecLines store.  Only the lines and the columns in sight are
// drawn, so a capture appends at the same cost to a megabyte of text, or to
// one megabyte-long line, as to an empty view (a text document relays out
// the whole line it appends to, and its work grows with the text).
//
// Control characters stay in the lines as they arrived and are drawn as small
// framed names in the view's font ("STX" before the first data line, "CR" at
// the end of every line, "ETX"), each over IecControlColumns columns: no
// font of a stock desktop has the Unicode control pictures, which would show
// as empty boxes.  The accessible text still names them by those pictures
// (iecDisplayChar), one character a byte.
//
// The operator selects whole lines with the mouse or the keyboard
// (Shift+arrows, Ctrl+A) and copies them with Ctrl+C (the characters as they
// are, controls included); Ctrl+V adds the clipboard's text below as lines;
// Delete removes the selected lines.  Selection, keys, scrolling and the
// accessible text (the lines as they show) come from LineListView.
#pragma once

#include "iec/iec_lines.h"
#include "widgets/line_list_view.h"

#include <QFont>
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
    // Where byte index of line i is drawn, in viewport coordinates.
    QRect byteRect(qsizetype i, qsizetype index) const;

    // Adds text (as Latin-1) below the last line, line feeds ending lines.
    void paste(const QString &text);
    void removeSelectedLines();

protected:
    // In columns: a control's name is wider than a character.
    qsizetype longestLine() const override { return m_lines.widest(); }
    // Only the columns in sight, one more on either side.
    void drawLine(QPainter &painter, qsizetype i, int baseline) const override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The column where byte index of line i starts.
    qsizetype columnOf(qsizetype i, qsizetype index) const;
    void drawControl(QPainter &painter, char byte, int x, int baseline) const;

    IecLines m_lines;
    // The font of the names, fitted to IecControlColumns columns of the
    // view's font; made again when that font's width changes.
    mutable QFont m_nameFont;
    mutable int m_nameFontFor = -1;
};

} // namespace qvx
