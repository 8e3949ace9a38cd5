// The lines of a direct meter readout as they are captured: every received
// byte is kept as one Latin-1 character, a line feed ends a line (and is not
// kept), the carriage return before it stays at the end of its line.  Lines
// are byte strings, so what arrived is what is saved, byte for byte.
//
// Appending costs the bytes appended, never the text already there: lines
// are separate strings, the index of the receiving line is kept by the
// caller, and a long line grows in place.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <vector>

namespace qvx {

class IecLines {
public:
    // One empty line, as the view starts.
    IecLines() : m_lines(1), m_controls(1) {}

    // Appends the bytes of one receive event, starting at line lineIndex:
    // bytes up to a line feed go to the end of that line, each line feed adds
    // an empty line at the end and moves lineIndex on by one.  An index past
    // the last line (lines were removed meanwhile) means the last line; an
    // empty store gets its line 0 first.
    void capture(QByteArrayView bytes, int &lineIndex);

    // No lines at all.
    void clear();
    // Removes lines first..last (inclusive, clamped).
    void removeLines(qsizetype first, qsizetype last);

    qsizetype size() const { return static_cast<qsizetype>(m_lines.size()); }
    bool isEmpty() const { return m_lines.empty(); }
    const QByteArray &line(qsizetype i) const { return m_lines[static_cast<size_t>(i)]; }
    QList<QByteArray> all() const { return {m_lines.begin(), m_lines.end()}; }
    // Length in bytes of the longest line now held (after a removal, at least
    // that of the longest remaining one).
    qsizetype longest() const { return m_longest; }
    // Control bytes of line i (iecIsControl), and the columns it takes on
    // screen (IecControlColumns for each of them, one for any other byte).
    qsizetype controls(qsizetype i) const { return m_controls[static_cast<size_t>(i)]; }
    qsizetype columns(qsizetype i) const;
    // The most columns a line now held takes.
    qsizetype widest() const { return m_widest; }
    // Every line followed by CR LF: the readout log's content.
    QByteArray fileBytes() const;

private:
    void measure();

    std::vector<QByteArray> m_lines;
    std::vector<qsizetype> m_controls; // per line, counted as bytes arrive
    qsizetype m_longest = 0;
    qsizetype m_widest = 0;
};

// The bytes the readout view draws as a framed name (C0 controls and DEL),
// and how many columns of the view's fixed-pitch font one such name takes:
// the control pictures of Unicode (U+2400...) are missing from the fonts a
// stock desktop installs, which show them as empty boxes.
inline constexpr int IecControlColumns = 3;
inline bool iecIsControl(char byte)
{
    const auto b = static_cast<uchar>(byte);
    return b < 0x20 || b == 0x7F;
}
// "STX", "ETX", "CR", "LF", "DEL"...; empty for a byte that is no control.
QLatin1StringView iecControlName(char byte);

// How one byte of a line shows as text (the accessible text of the view, and
// anywhere a name does not fit): C0 controls and DEL as their
// Unicode control pictures (STX as U+2402, CR as U+240D), the C1 range
// 0x80-0x9F, which has no glyphs, as U+FFFD; every other byte as its Latin-1
// character.  Each byte shows as exactly one character, so columns line up.
QChar iecDisplayChar(char byte);
// The bytes from..from+count of line as they show on screen.
QString iecDisplayText(QByteArrayView line, qsizetype from = 0, qsizetype count = -1);

} // namespace qvx
