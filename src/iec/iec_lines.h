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
    IecLines() : m_lines(1) {}

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
    // Every line followed by CR LF: the readout log's content.
    QByteArray fileBytes() const;

private:
    std::vector<QByteArray> m_lines;
    qsizetype m_longest = 0;
};

// How one byte of a line shows on screen: C0 controls and DEL as their
// Unicode control pictures (STX as U+2402, CR as U+240D), the C1 range
// 0x80-0x9F, which has no glyphs, as U+FFFD; every other byte as its Latin-1
// character.  Each byte shows as exactly one character, so columns line up.
QChar iecDisplayChar(char byte);
// The bytes from..from+count of line as they show on screen.
QString iecDisplayText(QByteArrayView line, qsizetype from = 0, qsizetype count = -1);

} // namespace qvx
