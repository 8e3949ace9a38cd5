#include "iec/iec_lines.h"

#include <algorithm>

namespace qvx {

void IecLines::capture(QByteArrayView bytes, int &lineIndex)
{
    if (m_lines.empty()) {
        m_lines.emplace_back();
        m_controls.push_back(0);
    }
    if (lineIndex < 0 || static_cast<size_t>(lineIndex) >= m_lines.size())
        lineIndex = lineIndex < 0 ? 0 : static_cast<int>(m_lines.size() - 1);

    qsizetype start = 0;
    for (;;) {
        const qsizetype lf = bytes.indexOf('\n', start);
        const QByteArrayView piece = bytes.sliced(start, (lf < 0 ? bytes.size() : lf) - start);
        QByteArray &target = m_lines[static_cast<size_t>(lineIndex)];
        target.append(piece);
        m_longest = std::max(m_longest, target.size());
        qsizetype &controls = m_controls[static_cast<size_t>(lineIndex)];
        controls += std::count_if(piece.begin(), piece.end(), iecIsControl);
        m_widest = std::max(m_widest, target.size() + (IecControlColumns - 1) * controls);
        if (lf < 0)
            break;
        m_lines.emplace_back();
        m_controls.push_back(0);
        // The new line is at the end; the next line of the capture is the one
        // after the receiving line, as long as nothing was inserted between.
        lineIndex = std::min(lineIndex + 1, static_cast<int>(m_lines.size() - 1));
        start = lf + 1;
    }
}

void IecLines::clear()
{
    m_lines.clear();
    m_controls.clear();
    m_longest = 0;
    m_widest = 0;
}

qsizetype IecLines::columns(qsizetype i) const
{
    return line(i).size() + (IecControlColumns - 1) * controls(i);
}

void IecLines::measure()
{
    m_longest = 0;
    m_widest = 0;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        m_longest = std::max(m_longest, m_lines[i].size());
        m_widest = std::max(m_widest, columns(static_cast<qsizetype>(i)));
    }
}

void IecLines::removeLines(qsizetype first, qsizetype last)
{
    first = std::max<qsizetype>(first, 0);
    last = std::min(last, size() - 1);
    if (first > last)
        return;
    m_lines.erase(m_lines.begin() + first, m_lines.begin() + last + 1);
    m_controls.erase(m_controls.begin() + first, m_controls.begin() + last + 1);
    measure();
}

QByteArray IecLines::fileBytes() const
{
    qsizetype total = 0;
    for (const QByteArray &l : m_lines)
        total += l.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (const QByteArray &l : m_lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

QLatin1StringView iecControlName(char byte)
{
    static constexpr const char *names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                              "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                              "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                              "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    const auto b = static_cast<uchar>(byte);
    if (b < 0x20)
        return QLatin1StringView(names[b]);
    if (b == 0x7F)
        return QLatin1StringView("DEL");
    return {};
}

QChar iecDisplayChar(char byte)
{
    const auto b = static_cast<uchar>(byte);
    if (b < 0x20)
        return QChar(char16_t(0x2400 + b));
    if (b == 0x7F)
        return QChar(char16_t(0x2421));
    if (b >= 0x80 && b < 0xA0)
        return QChar(char16_t(0xFFFD));
    return QChar(char16_t(b));
}

QString iecDisplayText(QByteArrayView line, qsizetype from, qsizetype count)
{
    from = std::clamp<qsizetype>(from, 0, line.size());
    if (count < 0 || count > line.size() - from)
        count = line.size() - from;
    QString out(count, Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < count; ++i)
        dst[i] = iecDisplayChar(line[from + i]);
    return out;
}

} // namespace qvx
