#include "transport/request.h"

#include "transport/modbus.h"

namespace qvx {

namespace {

uint8_t byteAt(QByteArrayView bytes, qsizetype i)
{
    return static_cast<uint8_t>(bytes[i]);
}

uint16_t word(QByteArrayView bytes, qsizetype i)
{
    return static_cast<uint16_t>(byteAt(bytes, i) << 8 | byteAt(bytes, i + 1));
}

QString hex2(int v)
{
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

// Length of a read-device-identification reply's body from the unit address
// on, without CRC, or 0 while its objects have not all arrived.
qsizetype deviceIdLength(QByteArrayView b)
{
    // unit, 2B, 0E, read code, conformity, more follows, next id, count
    if (b.size() < 8)
        return 0;
    qsizetype at = 8;
    for (int k = 0; k < byteAt(b, 7); ++k) {
        if (b.size() < at + 2)
            return 0;
        at += 2 + byteAt(b, at + 1);
    }
    return b.size() >= at ? at : 0;
}

} // namespace

ModbusRequest ModbusRequest::readHolding(uint8_t unit, int start, int count)
{
    ModbusRequest r;
    r.function = ModbusFunction::ReadHolding;
    r.unit = unit;
    r.address = start;
    r.count = count;
    return r;
}

ModbusRequest ModbusRequest::readInput(uint8_t unit, int start, int count)
{
    ModbusRequest r = readHolding(unit, start, count);
    r.function = ModbusFunction::ReadInput;
    return r;
}

ModbusRequest ModbusRequest::writeSingle(uint8_t unit, int address, uint8_t high, uint8_t low)
{
    ModbusRequest r;
    r.function = ModbusFunction::WriteSingle;
    r.unit = unit;
    r.address = address;
    r.valueHigh = high;
    r.valueLow = low;
    return r;
}

ModbusRequest ModbusRequest::writeMultiple(uint8_t unit, int address, uint8_t byteCount,
                                           const QByteArray &data)
{
    ModbusRequest r;
    r.function = ModbusFunction::WriteMultiple;
    r.unit = unit;
    r.address = address;
    r.byteCount = byteCount;
    r.data = data;
    return r;
}

ModbusRequest ModbusRequest::readDeviceId(uint8_t unit, uint8_t code)
{
    ModbusRequest r;
    r.function = ModbusFunction::ReadDeviceId;
    r.unit = unit;
    r.valueLow = code;
    return r;
}

QByteArray ModbusRequest::pdu() const
{
    switch (function) {
    case ModbusFunction::ReadHolding:
        return pduReadHolding(address, count);
    case ModbusFunction::ReadInput:
        return pduReadInput(address, count);
    case ModbusFunction::WriteSingle:
        return pduWriteSingle(address, valueHigh, valueLow);
    case ModbusFunction::WriteMultiple:
        return pduWriteMultiple(address, byteCount, data);
    case ModbusFunction::ReadDeviceId:
        return pduReadDeviceId(valueLow);
    }
    return {};
}

qsizetype CompleteRtuReplyLength(const ModbusRequest &request, QByteArrayView bytes)
{
    if (bytes.size() < 5)
        return 0;
    const uint8_t function = byteAt(bytes, 1);
    qsizetype body = 0; // without CRC
    if (function == (static_cast<uint8_t>(request.function) | 0x80)) {
        body = 3;
    } else if (function != static_cast<uint8_t>(request.function)) {
        return 0;
    } else if (request.isRead()) {
        body = 3 + byteAt(bytes, 2);
    } else if (request.function == ModbusFunction::ReadDeviceId) {
        body = deviceIdLength(bytes);
        if (body == 0)
            return 0;
    } else {
        body = 6; // a write's reply echoes address and value or count
    }
    const qsizetype length = body + 2;
    if (bytes.size() < length)
        return 0;
    const uint16_t crc = ModbusCrc16(bytes.data(), body);
    const bool crcOk = byteAt(bytes, body) == (crc & 0xFF) && byteAt(bytes, body + 1) == (crc >> 8);
    return crcOk ? length : 0;
}

qsizetype CompleteTcpReplyLength(QByteArrayView bytes)
{
    if (bytes.size() < 6)
        return 0;
    const qsizetype length = 6 + word(bytes, 4);
    return bytes.size() >= length ? length : 0;
}

std::optional<QString> TcpHeaderMismatch(uint16_t transactionId, QByteArrayView tcp)
{
    if (tcp.size() < 8)
        return std::nullopt;
    if (word(tcp, 2) != 0)
        return QStringLiteral("Reply ignored: protocol identifier %1, expected 0").arg(word(tcp, 2));
    if (word(tcp, 4) != tcp.size() - 6)
        return QStringLiteral("Reply ignored: length field %1 does not match the %2 bytes received")
            .arg(word(tcp, 4))
            .arg(tcp.size() - 6);
    if (word(tcp, 0) != transactionId)
        return QStringLiteral("Reply ignored: transaction identifier %1, expected %2")
            .arg(word(tcp, 0))
            .arg(transactionId);
    return std::nullopt;
}

std::optional<QString> ReplyMismatch(const ModbusRequest &request, QByteArrayView rtu)
{
    if (rtu.size() < 2)
        return std::nullopt;
    if (byteAt(rtu, 0) != request.unit)
        return QStringLiteral("Reply ignored: unit %1, expected %2").arg(byteAt(rtu, 0)).arg(request.unit);
    const auto function = static_cast<uint8_t>(request.function);
    const uint8_t got = byteAt(rtu, 1);
    if (got != function && got != (function | 0x80))
        return QStringLiteral("Reply ignored: function %1, expected %2").arg(hex2(got), hex2(function));
    if (got == function && request.isRead() && rtu.size() >= 3 && byteAt(rtu, 2) != 2 * request.count)
        return QStringLiteral("Reply ignored: byte count %1, expected %2")
            .arg(byteAt(rtu, 2))
            .arg(2 * request.count);
    return std::nullopt;
}

} // namespace qvx
