#include "monitor/traffic_frame.h"

#include <algorithm>

namespace qvx {

qint64 charTimeUsec(int baudRate)
{
    const qint64 rate = baudRate > 0 ? baudRate : 19200;
    return (11 * 1000000LL + rate - 1) / rate;
}

qint64 rtuSilenceUsec(int baudRate)
{
    const qint64 rate = baudRate > 0 ? baudRate : 19200;
    if (rate > 19200)
        return 1750;
    return (35 * 1000000LL * 11 + rate * 10 - 1) / (rate * 10);
}

bool isIecSignOn(const QByteArray &bytes)
{
    return bytes.size() >= 5 && bytes.startsWith("/?") && bytes.endsWith("!\r\n");
}

qint64 FrameGrouper::silenceUsec(TrafficLink link) const
{
    // A meter starts its answer at 300 Bd whatever the port is set to.
    if (link == TrafficLink::Iec)
        return std::max(rtuSilenceUsec(m_baud), rtuSilenceUsec(300));
    return rtuSilenceUsec(m_baud);
}

QList<TrafficFrame> FrameGrouper::push(TrafficDir dir, TrafficLink link, qint64 usec, const QByteArray &bytes)
{
    QList<TrafficFrame> out;
    if (bytes.isEmpty())
        return out;
    if (m_open && (m_open->dir != dir || m_open->link != link))
        close(out);
    m_lastStamp = usec;
    if (link == TrafficLink::Tcp) {
        if (!m_open)
            m_open = TrafficFrame{usec, dir, link, {}, {}};
        m_open->bytes += bytes;
        splitTcp(out);
        return out;
    }
    const qint64 ch = charTimeUsec(m_baud);
    const qint64 span = ch * bytes.size();
    // Received bytes came in one character time apart up to the read; sent
    // bytes leave after those queued before them.
    const qint64 start = dir == TrafficDir::Rx ? usec - span : (m_open ? std::max(usec, m_lastEnd) : usec);
    if (m_open && start - m_lastEnd > silenceUsec(link))
        close(out);
    m_lastEnd = dir == TrafficDir::Rx ? usec : start + span;
    if (link != TrafficLink::Iec) {
        if (!m_open)
            m_open = TrafficFrame{usec, dir, link, {}, {}};
        m_open->bytes += bytes;
        return out;
    }
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (!m_open) {
            m_open = TrafficFrame{usec, dir, link, {}, {}};
        }
        m_open->bytes += c;
        if (m_bccNext) {
            m_open->blockCheck = b == m_bcc ? TrafficFrame::BlockCheck::Good : TrafficFrame::BlockCheck::Bad;
            m_bccNext = m_inBlock = false;
            close(out);
            continue;
        }
        if (b == 0x02) { // STX: the check covers what follows it
            m_inBlock = true;
            m_bcc = 0;
            continue;
        }
        if (m_inBlock)
            m_bcc ^= b;
        if (m_inBlock && (b == 0x03 || b == 0x04))
            m_bccNext = true;
        else if (b == '\n')
            close(out);
    }
    return out;
}

QList<TrafficFrame> FrameGrouper::flush(qint64 nowUsec, qint64 idleUsec, bool force)
{
    QList<TrafficFrame> out;
    if (m_open && (force || nowUsec - m_lastStamp > std::max(idleUsec, silenceUsec(m_open->link)))) {
        m_bccNext = m_inBlock = false;
        close(out);
    }
    return out;
}

void FrameGrouper::splitTcp(QList<TrafficFrame> &out)
{
    while (m_open && m_open->bytes.size() >= 6) {
        const QByteArray &b = m_open->bytes;
        const int len = (static_cast<uint8_t>(b.at(4)) << 8) | static_cast<uint8_t>(b.at(5));
        if (len < 2 || len > 254) { // not an MBAP header: show it as it came
            close(out);
            return;
        }
        const qsizetype total = 6 + len;
        if (b.size() < total)
            return;
        if (b.size() == total) {
            close(out);
            return;
        }
        TrafficFrame rest{m_open->usec, m_open->dir, m_open->link, b.mid(total), {}};
        m_open->bytes.truncate(total);
        close(out);
        m_open = rest;
    }
}

void FrameGrouper::close(QList<TrafficFrame> &out)
{
    if (!m_open)
        return;
    TrafficFrame f = std::move(*m_open);
    m_open.reset();
    if (f.link == TrafficLink::Rtu) {
        if (f.dir == TrafficDir::Tx) {
            m_lastRtuRequest = f.bytes;
        } else if (!m_lastRtuRequest.isEmpty() && f.bytes.size() > m_lastRtuRequest.size() &&
                   f.bytes.startsWith(m_lastRtuRequest)) {
            // A two-wire adapter hands the request back before the reply.
            TrafficFrame echo = f;
            echo.bytes = m_lastRtuRequest;
            f.bytes.remove(0, m_lastRtuRequest.size());
            out << echo;
        }
    }
    out << f;
}

} // namespace qvx
