#include "console/log_lines.h"

#include <algorithm>
#include <iterator>

namespace qvx {

void LogLines::append(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    if (m_chunks.empty() || m_chunks.back().size() + bytes.size() > ChunkBytes ||
        size() - m_chunkStarts.back().line >= ChunkLines) {
        // A line longer than a chunk gets a chunk of its own; the line limit
        // keeps the walk to an offset short even for empty lines.
        QByteArray chunk;
        chunk.reserve(qMax(ChunkBytes, bytes.size()));
        m_chunks.push_back(std::move(chunk));
        m_chunkStarts.push_back(ChunkStart{size(), characterCount() + (isEmpty() ? 0 : 1)});
    }
    QByteArray &chunk = m_chunks.back();
    m_index.push_back(Ref{static_cast<quint32>(m_chunks.size() - 1), static_cast<quint32>(chunk.size()),
                          static_cast<quint32>(bytes.size()), static_cast<quint32>(line.size())});
    chunk.append(bytes);
    m_longest = qMax(m_longest, line.size());
    m_chars += line.size();
}

void LogLines::clear()
{
    m_chunks.clear();
    m_chunkStarts.clear();
    m_index.clear();
    m_longest = 0;
    m_chars = 0;
}

QString LogLines::line(qsizetype i) const
{
    if (i < 0 || i >= size())
        return {};
    const Ref &r = m_index[static_cast<size_t>(i)];
    return QString::fromUtf8(m_chunks[r.chunk].constData() + r.offset, r.length);
}

qsizetype LogLines::lineLength(qsizetype i) const
{
    return i < 0 || i >= size() ? 0 : m_index[static_cast<size_t>(i)].chars;
}

qsizetype LogLines::lineStart(qsizetype i) const
{
    if (i <= 0)
        return 0;
    if (i >= size())
        return characterCount();
    const ChunkStart &c = m_chunkStarts[m_index[static_cast<size_t>(i)].chunk];
    qsizetype offset = c.offset;
    for (qsizetype k = c.line; k < i; ++k)
        offset += m_index[static_cast<size_t>(k)].chars + 1;
    return offset;
}

qsizetype LogLines::lineAtOffset(qsizetype offset) const
{
    if (isEmpty())
        return -1;
    if (offset <= 0)
        return 0;
    // The last chunk that starts at or before offset.
    auto it = std::upper_bound(m_chunkStarts.begin(), m_chunkStarts.end(), offset,
                               [](qsizetype o, const ChunkStart &c) { return o < c.offset; });
    const ChunkStart &c = *std::prev(it);
    qsizetype start = c.offset;
    for (qsizetype k = c.line; k < size(); ++k) {
        const qsizetype next = start + m_index[static_cast<size_t>(k)].chars + 1;
        if (offset < next)
            return k;
        start = next;
    }
    return size() - 1;
}

QString LogLines::text(qsizetype start, qsizetype end) const
{
    start = qBound<qsizetype>(0, start, characterCount());
    end = qBound<qsizetype>(start, end, characterCount());
    if (start == end)
        return {};
    QString out;
    out.reserve(end - start);
    qsizetype i = lineAtOffset(start);
    qsizetype at = lineStart(i);
    while (at < end && i < size()) {
        QString piece = line(i);
        if (i + 1 < size())
            piece += QLatin1Char('\n');
        const qsizetype from = qMax<qsizetype>(0, start - at);
        const qsizetype to = qMin<qsizetype>(piece.size(), end - at);
        out += QStringView(piece).sliced(from, to - from);
        at += piece.size();
        ++i;
    }
    return out;
}

QStringList LogLines::all() const
{
    QStringList out;
    out.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        out << line(i);
    return out;
}

} // namespace qvx
