#include "console/register_pairs.h"

namespace qvx {

RegisterPairListing ListRegisterPairs(const QByteArray &reply)
{
    RegisterPairListing out;
    out.check = CheckReply(reply);
    if (!out.check.pass)
        return out;
    const QByteArray &frame = out.check.frame;
    // unit, function, byte count, data..., CRC low, CRC high
    const qsizetype count = static_cast<uint8_t>(frame.at(2));
    const qsizetype dataPresent = qMax<qsizetype>(0, frame.size() - 5);
    const qsizetype firstBytesEnd = qMin(count, dataPresent);
    auto line = [&](qsizetype k) {
        return QStringLiteral("Modbus %1 -> Mbus %2").arg(k + 1).arg(static_cast<uint8_t>(frame.at(3 + k)));
    };
    for (qsizetype k = 0; k < firstBytesEnd; k += 2) {
        out.lines << line(k);
        if (3 + k + 1 < frame.size())
            out.lines << line(k + 1);
    }
    return out;
}

} // namespace qvx
