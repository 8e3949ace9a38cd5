#include "monitor/pcapng_writer.h"

#include <QtEndian>

namespace qvx {
namespace {

constexpr quint32 ToolAddress = 0x0A000001; // 10.0.0.1
constexpr quint32 TcpAddress = 0x0A000002;  // 10.0.0.2
constexpr quint32 RtuAddress = 0x0A000102;  // 10.0.1.2
constexpr quint32 IecAddress = 0x0A000202;  // 10.0.2.2
constexpr quint16 LinktypeIpv4 = 228;

void le16(QByteArray &b, quint16 v)
{
    b.append(static_cast<char>(v & 0xFF)).append(static_cast<char>(v >> 8));
}
void le32(QByteArray &b, quint32 v)
{
    le16(b, static_cast<quint16>(v & 0xFFFF));
    le16(b, static_cast<quint16>(v >> 16));
}
void be16(QByteArray &b, quint16 v)
{
    b.append(static_cast<char>(v >> 8)).append(static_cast<char>(v & 0xFF));
}
void be32(QByteArray &b, quint32 v)
{
    be16(b, static_cast<quint16>(v >> 16));
    be16(b, static_cast<quint16>(v & 0xFFFF));
}
void pad4(QByteArray &b)
{
    while (b.size() % 4)
        b.append('\0');
}
void option(QByteArray &b, quint16 code, const QByteArray &value)
{
    le16(b, code);
    le16(b, static_cast<quint16>(value.size()));
    b += value;
    pad4(b);
}
// A block: type, total length, body, total length again.
void block(QByteArray &out, quint32 type, QByteArray body)
{
    pad4(body);
    le32(out, type);
    le32(out, static_cast<quint32>(body.size() + 12));
    out += body;
    le32(out, static_cast<quint32>(body.size() + 12));
}

quint32 sum16(const QByteArray &b, quint32 sum = 0)
{
    for (qsizetype i = 0; i + 1 < b.size(); i += 2)
        sum += (static_cast<uint8_t>(b.at(i)) << 8) | static_cast<uint8_t>(b.at(i + 1));
    if (b.size() % 2)
        sum += static_cast<uint8_t>(b.back()) << 8;
    return sum;
}
quint16 fold(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum & 0xFFFF);
}

} // namespace

PcapngWriter::PcapngWriter()
{
    QByteArray shb;
    le32(shb, 0x1A2B3C4D);
    le16(shb, 1);
    le16(shb, 0);
    le32(shb, 0xFFFFFFFF); // section length not given
    le32(shb, 0xFFFFFFFF);
    option(shb, 4, QByteArrayLiteral("qvxtool traffic monitor")); // shb_userappl
    option(shb, 0, {});
    block(m_out, 0x0A0D0D0A, shb);

    QByteArray idb;
    le16(idb, LinktypeIpv4);
    le16(idb, 0);
    le32(idb, 0);                                       // no snap length
    option(idb, 2, QByteArrayLiteral("qvxtool links")); // if_name
    option(idb, 9, QByteArray(1, '\x06'));              // if_tsresol: microseconds
    option(idb, 0, {});
    block(m_out, 1, idb);
}

QByteArray PcapngWriter::ipPacket(const TrafficFrame &f)
{
    const bool tx = f.dir == TrafficDir::Tx;
    quint32 peer = RtuAddress;
    quint16 toolPort = 49153;
    quint16 peerPort = CaptureModbusPort;
    if (f.link == TrafficLink::Tcp) {
        peer = TcpAddress;
        toolPort = 49152;
    } else if (f.link == TrafficLink::Iec) {
        peer = IecAddress;
        toolPort = 49154;
        peerPort = CaptureIecPort;
    }
    const quint32 src = tx ? ToolAddress : peer;
    const quint32 dst = tx ? peer : ToolAddress;
    const quint16 sport = tx ? toolPort : peerPort;
    const quint16 dport = tx ? peerPort : toolPort;
    const bool tcp = f.link == TrafficLink::Tcp;
    // Longer frames than an IPv4 packet holds do not occur on these links;
    // cut them rather than write a broken length.
    const QByteArray payload = f.bytes.left(65535 - 20 - 20);

    QByteArray l4;
    if (tcp) {
        quint32 &mine = tx ? m_toolSeq : m_deviceSeq;
        const quint32 theirs = tx ? m_deviceSeq : m_toolSeq;
        be16(l4, sport);
        be16(l4, dport);
        be32(l4, mine);
        be32(l4, theirs);
        l4.append(static_cast<char>(5 << 4)).append(static_cast<char>(0x18)); // PSH, ACK
        be16(l4, 65535);
        be16(l4, 0); // checksum, below
        be16(l4, 0);
        mine += static_cast<quint32>(payload.size());
    } else {
        be16(l4, sport);
        be16(l4, dport);
        be16(l4, static_cast<quint16>(8 + payload.size()));
        be16(l4, 0);
    }
    l4 += payload;
    QByteArray pseudo;
    be32(pseudo, src);
    be32(pseudo, dst);
    be16(pseudo, tcp ? 6 : 17);
    be16(pseudo, static_cast<quint16>(l4.size()));
    quint16 c = fold(sum16(l4, sum16(pseudo)));
    if (!tcp && c == 0)
        c = 0xFFFF;
    const qsizetype at = tcp ? 16 : 6;
    l4[at] = static_cast<char>(c >> 8);
    l4[at + 1] = static_cast<char>(c & 0xFF);

    QByteArray ip;
    ip.append('\x45').append('\0');
    be16(ip, static_cast<quint16>(20 + l4.size()));
    be16(ip, m_ipId++);
    be16(ip, 0x4000);
    ip.append('\x40').append(static_cast<char>(tcp ? 6 : 17));
    be16(ip, 0);
    be32(ip, src);
    be32(ip, dst);
    const quint16 hc = fold(sum16(ip));
    ip[10] = static_cast<char>(hc >> 8);
    ip[11] = static_cast<char>(hc & 0xFF);
    return ip + l4;
}

void PcapngWriter::add(const TrafficFrame &frame, const QString &comment)
{
    const QByteArray packet = ipPacket(frame);
    QByteArray epb;
    le32(epb, 0);
    const auto ts = static_cast<quint64>(frame.usec);
    le32(epb, static_cast<quint32>(ts >> 32));
    le32(epb, static_cast<quint32>(ts & 0xFFFFFFFF));
    le32(epb, static_cast<quint32>(packet.size()));
    le32(epb, static_cast<quint32>(packet.size()));
    epb += packet;
    pad4(epb);
    if (!comment.isEmpty()) {
        option(epb, 1, comment.toUtf8().left(60000));
        option(epb, 0, {});
    }
    block(m_out, 6, epb);
}

} // namespace qvx
