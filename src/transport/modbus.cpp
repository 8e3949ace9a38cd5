#include "transport/modbus.h"

namespace qvx {

uint16_t ModbusCrc16(const char *data, qsizetype len)
{
    uint16_t crc = 0xFFFF;
    for (qsizetype i = 0; i < len; ++i) {
        crc ^= static_cast<uint8_t>(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

uint16_t ModbusCrc16(const QByteArray &bytes)
{
    return ModbusCrc16(bytes.constData(), bytes.size());
}

QByteArray withCrc(QByteArray frame)
{
    const uint16_t crc = ModbusCrc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

QString hexBytes(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        out.append(QLatin1Char(digits[b >> 4]));
        out.append(QLatin1Char(digits[b & 0x0F]));
        out.append(QLatin1Char(' '));
    }
    return out;
}

namespace {
void put16(QByteArray &a, int value)
{
    a.append(static_cast<char>((value >> 8) & 0xFF));
    a.append(static_cast<char>(value & 0xFF));
}

QByteArray readPdu(uint8_t function, int start, int count)
{
    QByteArray pdu;
    pdu.append(static_cast<char>(function));
    put16(pdu, start);
    put16(pdu, count);
    return pdu;
}
} // namespace

QByteArray pduReadHolding(int start, int count)
{
    return readPdu(0x03, start, count);
}
QByteArray pduReadInput(int start, int count)
{
    return readPdu(0x04, start, count);
}

QByteArray pduWriteSingle(int address, uint8_t valueHigh, uint8_t valueLow)
{
    QByteArray pdu;
    pdu.append(static_cast<char>(0x06));
    put16(pdu, address);
    pdu.append(static_cast<char>(valueHigh));
    pdu.append(static_cast<char>(valueLow));
    return pdu;
}

QByteArray pduWriteMultiple(int address, uint8_t byteCount, const QByteArray &data)
{
    // An odd count is padded with one 0x00 behind the data; the pad lands
    // behind what the caller meant, so with enough data the data byte wins.
    QByteArray padded = data;
    int count = byteCount;
    if (count % 2 != 0) {
        padded.append('\0');
        ++count;
    }
    if (padded.size() < count)
        padded.append(QByteArray(count - padded.size(), '\0'));
    const int n = count / 2;
    QByteArray pdu;
    pdu.append(static_cast<char>(0x10));
    put16(pdu, address);
    pdu.append('\0');
    pdu.append(static_cast<char>(n & 0xFF));
    pdu.append(static_cast<char>((2 * n) & 0xFF));
    pdu.append(padded.left(2 * n));
    return pdu;
}

QByteArray pduReadDeviceId(uint8_t code)
{
    QByteArray pdu;
    pdu.append(static_cast<char>(0x2B));
    pdu.append(static_cast<char>(0x0E));
    pdu.append(static_cast<char>(code));
    pdu.append('\0');
    return pdu;
}

QByteArray rtuFrame(uint8_t unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.reserve(pdu.size() + 3);
    frame.append(static_cast<char>(unit));
    frame.append(pdu);
    return withCrc(frame);
}

QByteArray tcpFrame(uint16_t transactionId, uint8_t unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.reserve(pdu.size() + 7);
    put16(frame, transactionId);
    put16(frame, 0);
    put16(frame, static_cast<int>(pdu.size() + 1));
    frame.append(static_cast<char>(unit));
    frame.append(pdu);
    return frame;
}

TcpToRtuResult TcpReplyToRtu(const QByteArray &tcp)
{
    TcpToRtuResult r;
    if (tcp.size() >= 8) {
        // The MBAP header is not checked and the length field does not limit
        // what is kept: two replies received back to back stay joined.
        r.rtu = withCrc(tcp.mid(6));
    } else if (!tcp.isEmpty()) {
        r.logLine = QStringLiteral("Error, raw TCP data: ") + hexBytes(tcp);
    }
    return r;
}

} // namespace qvx
