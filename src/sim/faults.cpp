#include "sim/faults.h"

#include "transport/modbus.h"

#include <QStringList>

namespace qvxsim {

namespace {
int get16(const QByteArray &a, qsizetype at)
{
    return (static_cast<uint8_t>(a[at]) << 8) | static_cast<uint8_t>(a[at + 1]);
}
} // namespace

bool Faults::any() const
{
    return delayMs > 0 || dropReplies || corruptCrc || trailingZero || splitPauseMs >= 0 ||
           strayLeadingByte || echoRequest || otherUnit || !exceptionRanges.isEmpty();
}

Faults Faults::forReply(quint64 replyNumber) const
{
    if (every <= 1 || replyNumber % quint64(every) == 0)
        return *this;
    Faults f;
    f.exceptionRanges = exceptionRanges;
    f.exceptionCode = exceptionCode;
    return f;
}

bool Faults::exceptionFor(const QByteArray &pdu) const
{
    if (exceptionRanges.isEmpty() || pdu.size() < 5)
        return false;
    int first = 0, count = 0;
    switch (static_cast<uint8_t>(pdu[0])) {
    case 0x03:
    case 0x04:
    case 0x10:
        first = get16(pdu, 1);
        count = get16(pdu, 3);
        break;
    case 0x06:
        first = get16(pdu, 1);
        count = 1;
        break;
    default:
        return false;
    }
    for (const auto &[lo, hi] : exceptionRanges)
        if (first <= hi && first + count - 1 >= lo)
            return true;
    return false;
}

QByteArray applyByteFaults(const Faults &f, Framing framing, const QByteArray &request,
                           const QByteArray &reply)
{
    const bool rtu = framing == Framing::Rtu;
    const qsizetype headerSize = rtu ? 1 : 7;
    if (request.size() < headerSize + 1 + (rtu ? 2 : 0))
        return reply;
    QByteArray out = reply;
    const QByteArray requestPdu = rtu ? request.mid(1, request.size() - 3) : request.mid(7);
    if (f.exceptionFor(requestPdu)) {
        QByteArray pdu;
        pdu.append(static_cast<char>(static_cast<uint8_t>(requestPdu[0]) | 0x80));
        pdu.append(static_cast<char>(f.exceptionCode));
        if (rtu) {
            out = qvx::rtuFrame(static_cast<uint8_t>(request[0]), pdu);
        } else {
            const auto tid = static_cast<uint16_t>(get16(request, 0));
            out = qvx::tcpFrame(tid, static_cast<uint8_t>(request[6]), pdu);
        }
    }
    if (out.isEmpty())
        return out;
    if (f.otherUnit) {
        const auto unit = static_cast<uint8_t>(out[rtu ? 0 : 6]);
        const char other = static_cast<char>(unit % 247 + 1);
        if (rtu)
            out = qvx::withCrc(QByteArray(1, other) + out.mid(1, out.size() - 3));
        else
            out[6] = other;
    }
    if (f.corruptCrc && rtu) {
        out[out.size() - 2] = static_cast<char>(~static_cast<uint8_t>(out[out.size() - 2]));
        out[out.size() - 1] = static_cast<char>(~static_cast<uint8_t>(out[out.size() - 1]));
    }
    if (f.strayLeadingByte)
        out.prepend(static_cast<char>(f.strayByte));
    if (f.echoRequest)
        out.prepend(request);
    if (f.trailingZero)
        out.append('\0');
    return out;
}

QList<Chunk> planReply(const Faults &f, const QByteArray &bytes)
{
    if (f.dropReplies || bytes.isEmpty())
        return {};
    const int delay = qMax(0, f.delayMs);
    if (f.splitPauseMs >= 0 && bytes.size() >= 2) {
        const qsizetype half = bytes.size() / 2;
        return {Chunk{delay, bytes.left(half)}, Chunk{f.splitPauseMs, bytes.mid(half)}};
    }
    return {Chunk{delay, bytes}};
}

bool parseAddressList(const QString &text, QList<QPair<int, int>> *ranges)
{
    QList<QPair<int, int>> out;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = item.trimmed().split(QLatin1Char('-'));
        if (ends.size() > 2)
            return false;
        bool ok1 = false, ok2 = false;
        const int lo = ends[0].trimmed().toInt(&ok1);
        const int hi = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : (ok2 = true, lo);
        if (!ok1 || !ok2 || lo < 0 || hi > 65535 || hi < lo)
            return false;
        out.append({lo, hi});
    }
    if (out.isEmpty())
        return false;
    *ranges = out;
    return true;
}

} // namespace qvxsim
