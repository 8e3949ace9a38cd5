// The lines of the operator log, stored compactly: a week of periodic reads
// adds tens of thousands of long lines and nothing ever trims the log, so
// each line costs its UTF-8 bytes plus a small index entry, and appending is
// constant time however many lines there are (no reallocation of what is
// already stored: lines go into fixed-size chunks).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace qvx {

class LogLines {
public:
    void append(const QString &line);
    void clear();

    qsizetype size() const { return static_cast<qsizetype>(m_index.size()); }
    bool isEmpty() const { return m_index.empty(); }
    QString line(qsizetype i) const;
    QString last() const { return isEmpty() ? QString() : line(size() - 1); }
    QStringList all() const;
    // Length in characters of the longest line appended so far.
    qsizetype longest() const { return m_longest; }

    // The log read as one text: the lines joined by '\n', no line end after
    // the last.  Offsets count UTF-16 characters of that text; finding the
    // line of an offset costs a search over the chunks and a walk within one.
    qsizetype characterCount() const { return isEmpty() ? 0 : m_chars + size() - 1; }
    qsizetype lineLength(qsizetype i) const;
    // Offset of the first character of line i (characterCount() for i == size()).
    qsizetype lineStart(qsizetype i) const;
    // The line holding offset; the '\n' after a line belongs to it, and the
    // end of the text to the last line.  -1 when the log is empty.
    qsizetype lineAtOffset(qsizetype offset) const;
    // Characters [start, end) of the text, clamped to it.
    QString text(qsizetype start, qsizetype end) const;

private:
    static constexpr qsizetype ChunkBytes = 1 << 20;
    static constexpr qsizetype ChunkLines = 1 << 17;
    struct Ref {
        quint32 chunk;
        quint32 offset;
        quint32 length; // UTF-8 bytes
        quint32 chars;  // UTF-16 characters
    };
    // Where a chunk's lines start: its first line and that line's offset.
    struct ChunkStart {
        qsizetype line;
        qsizetype offset;
    };
    std::vector<QByteArray> m_chunks;
    std::vector<ChunkStart> m_chunkStarts;
    // A deque grows without moving what it holds: no copy spikes at 1M lines.
    std::deque<Ref> m_index;
    qsizetype m_longest = 0;
    qsizetype m_chars = 0; // characters of all lines, separators not counted
};

} // namespace qvx
