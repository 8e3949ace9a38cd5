#include "transport/reply_check.h"

#include "transport/modbus.h"

namespace qvx {

namespace {
// Unit, function and the two CRC bytes: anything shorter cannot be a frame.
constexpr qsizetype MinFrameLength = 4;

uint8_t byteAt(const QByteArray &bytes, qsizetype i)
{
    return static_cast<uint8_t>(bytes.at(i));
}
} // namespace

QString ExceptionLine(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("Error - ILLEGAL FUNCTION\r");
    case 2:
        return QStringLiteral("Error - ILLEGAL DATA ADDRESS\r");
    case 3:
        return QStringLiteral("Error - ILLEGAL DATA VALUE\r");
    case 4:
        return QStringLiteral("Error - SLAVE DEVICE FAILURE\r");
    case 6:
        return QStringLiteral("Error - SLAVE DEVICE BUSY\r");
    case 8:
        return QStringLiteral("Error - MEMORY PARITY ERROR\r");
    default:
        return {};
    }
}

ReplyCheck CheckReply(const QByteArray &reply, ReplyReporting reporting)
{
    ReplyCheck r;
    if (reply.isEmpty())
        return r;

    // Some adapters append one 0x00 after the frame.  A frame whose own CRC
    // high byte is 0x00 is checked one byte short as well and then fails.
    r.frame = reply;
    if (byteAt(r.frame, r.frame.size() - 1) == 0x00)
        r.frame.chop(1);

    const qsizetype n = r.frame.size();
    bool crcGood = false;
    if (n >= MinFrameLength) {
        // No search for the frame's start: stray leading bytes are part of
        // the CRC and make it fail.
        const uint16_t crc = ModbusCrc16(r.frame.constData(), n - 2);
        crcGood = byteAt(r.frame, n - 2) == (crc & 0xFF) && byteAt(r.frame, n - 1) == (crc >> 8);
    }
    if (!crcGood) {
        r.failure = ReplyFailure::Crc;
        r.crcStatus = reporting == ReplyReporting::Full;
        r.logLines << QStringLiteral("Error in CRC field\r");
        return r;
    }

    if (byteAt(r.frame, 0) == 0x00) {
        r.failure = ReplyFailure::LeadingZero;
        if (reporting == ReplyReporting::Full)
            r.logLines << QStringLiteral("Garbage leading bytes in the telegram");
        return r;
    }

    if (byteAt(r.frame, 1) >= 0x80) {
        r.failure = ReplyFailure::Exception;
        r.exceptionCode = byteAt(r.frame, 2);
        const QString line = ExceptionLine(r.exceptionCode);
        if (!line.isEmpty())
            r.logLines << line;
        return r;
    }

    r.pass = true;
    r.failure = ReplyFailure::None;
    return r;
}

RegisterReply DecodeRegisterReply(int firstAddress, const QByteArray &reply)
{
    RegisterReply out;
    out.check = CheckReply(reply, ReplyReporting::Full);
    if (!out.check.pass)
        return out;

    const QByteArray &f = out.check.frame;
    // Data bytes lie between the byte count (byte 2) and the CRC.
    const qsizetype received = qMax<qsizetype>(0, f.size() - 5);
    const qsizetype dataBytes = qMin<qsizetype>(byteAt(f, 2), received);
    const qsizetype count = dataBytes / 2;
    out.registers.reserve(count);
    for (qsizetype k = 0; k < count; ++k)
        out.registers.push_back(
            {firstAddress + static_cast<int>(k), byteAt(f, 3 + 2 * k), byteAt(f, 4 + 2 * k)});
    return out;
}

} // namespace qvx
