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

private:
    static constexpr qsizetype ChunkBytes = 1 << 20;
    struct Ref {
        quint32 chunk;
        quint32 offset;
        quint32 length;
    };
    std::vector<QByteArray> m_chunks;
    // A deque grows without moving what it holds: no copy spikes at 1M lines.
    std::deque<Ref> m_index;
    qsizetype m_longest = 0;
};

} // namespace qvx
