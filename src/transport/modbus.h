// Modbus framing shared by the tool and the simulator: CRC, request frames in
// RTU and TCP form, and the conversion of a TCP reply into RTU form.  Plain
// functions over byte strings, no I/O, so that they are tested and fuzzed
// directly.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace qvx {

enum class TransportModeKind { Rtu, Tcp };

// CRC-16/MODBUS (poly 0xA001 reflected, init 0xFFFF, no final XOR).
uint16_t ModbusCrc16(const QByteArray &bytes);
uint16_t ModbusCrc16(const char *data, qsizetype len);

// Appends the CRC low byte then high byte.
QByteArray withCrc(QByteArray frame);

// Every byte as two upper-case hex digits followed by one space ("01 03 ").
QString hexBytes(const QByteArray &bytes);

// Protocol data unit (function code and fields) of the five requests.
QByteArray pduReadHolding(int start, int count);
QByteArray pduReadInput(int start, int count);
QByteArray pduWriteSingle(int address, uint8_t valueHigh, uint8_t valueLow);
// byteCount is padded to even as the request operation does; data must hold
// at least byteCount bytes (missing bytes are taken as 0x00 rather than read
// past the end).
QByteArray pduWriteMultiple(int address, uint8_t byteCount, const QByteArray &data);
QByteArray pduReadDeviceId(uint8_t code);

// Full frames.  The TCP frame takes the transaction id's low 16 bits.
QByteArray rtuFrame(uint8_t unit, const QByteArray &pdu);
QByteArray tcpFrame(uint16_t transactionId, uint8_t unit, const QByteArray &pdu);

// Result of converting a TCP reply: the RTU form, and the log line it produced
// (empty when none).
struct TcpToRtuResult {
    QByteArray rtu;
    QString logLine;
};
TcpToRtuResult TcpReplyToRtu(const QByteArray &tcp);

} // namespace qvx
