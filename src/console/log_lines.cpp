#include "console/log_lines.h"

namespace qvx {

void LogLines::append(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    if (m_chunks.empty() || m_chunks.back().size() + bytes.size() > ChunkBytes) {
        // A line longer than a chunk gets a chunk of its own.
        QByteArray chunk;
        chunk.reserve(qMax(ChunkBytes, bytes.size()));
        m_chunks.push_back(std::move(chunk));
    }
    QByteArray &chunk = m_chunks.back();
    m_index.push_back(Ref{static_cast<quint32>(m_chunks.size() - 1), static_cast<quint32>(chunk.size()),
                          static_cast<quint32>(bytes.size())});
    chunk.append(bytes);
    m_longest = qMax(m_longest, line.size());
}

void LogLines::clear()
{
    m_chunks.clear();
    m_index.clear();
    m_longest = 0;
}

QString LogLines::line(qsizetype i) const
{
    if (i < 0 || i >= size())
        return {};
    const Ref &r = m_index[static_cast<size_t>(i)];
    return QString::fromUtf8(m_chunks[r.chunk].constData() + r.offset, r.length);
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
