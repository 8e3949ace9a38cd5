// A Modbus request as data, and what a reply to it must look like.
//
// The receive buffers hold whatever the line delivered since the last send:
// the reply to this request, a late reply to an earlier one, or line noise.
// These plain functions say when the bytes hold a whole reply to the request
// (so a window may end early) and whether a reply really answers it (so line
// garbage and stale replies are never decoded as data).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

namespace qvx {

enum class ModbusFunction : uint8_t {
    ReadHolding = 0x03,
    ReadInput = 0x04,
    WriteSingle = 0x06,
    WriteMultiple = 0x10,
    ReadDeviceId = 0x2B,
};

struct ModbusRequest {
    ModbusFunction function = ModbusFunction::ReadHolding;
    uint8_t unit = 1;
    int address = 0;
    // Registers asked by a read.
    int count = 0;
    // Write single: the value's two bytes.  Device identification: the read code.
    uint8_t valueHigh = 0;
    uint8_t valueLow = 0;
    // Write multiple: the byte count as given and the data bytes.
    uint8_t byteCount = 0;
    QByteArray data;

    static ModbusRequest readHolding(uint8_t unit, int start, int count);
    static ModbusRequest readInput(uint8_t unit, int start, int count);
    static ModbusRequest writeSingle(uint8_t unit, int address, uint8_t high, uint8_t low);
    static ModbusRequest writeMultiple(uint8_t unit, int address, uint8_t byteCount, const QByteArray &data);
    static ModbusRequest readDeviceId(uint8_t unit, uint8_t code);

    bool isRead() const
    {
        return function == ModbusFunction::ReadHolding || function == ModbusFunction::ReadInput;
    }
    QByteArray pdu() const;
};

// Length of the first whole RTU reply to request at the start of bytes (CRC
// included and correct), or 0 while the bytes do not hold one yet.  An
// exception reply is five bytes.
qsizetype CompleteRtuReplyLength(const ModbusRequest &request, QByteArrayView bytes);
// Length of the first whole Modbus TCP frame in bytes (the header's length
// field plus six), or 0 while it has not all arrived.
qsizetype CompleteTcpReplyLength(QByteArrayView bytes);

// What in a Modbus TCP reply's header does not fit the request sent with
// transactionId: the protocol identifier, the length field against the bytes
// received, the transaction identifier.  Empty when it fits or holds too few
// bytes to tell (a runt is reported by the TCP conversion itself).
std::optional<QString> TcpHeaderMismatch(uint16_t transactionId, QByteArrayView tcp);
// What in an RTU-form reply does not answer request: the unit address, the
// function code (or its exception form), and for a read the byte count.
// Empty when it answers it.  The line is ready for the log.
std::optional<QString> ReplyMismatch(const ModbusRequest &request, QByteArrayView rtu);

} // namespace qvx
