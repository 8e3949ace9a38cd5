// The values the device collected for a meter slot, as plain code: where they
// lie in the input registers, how a reply's data bytes turn into numbers, and
// the block of text one reading adds to the values log.
//
// Each value is a big-endian integer of 4 bytes (unsigned, 32-bit mode) or 8
// bytes (signed two's complement, 64-bit mode).  In 64-bit mode all bytes FF
// mean that the device holds no value for that row.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <optional>

namespace qvx {

inline constexpr int ValueInputBase = 1000;
inline constexpr int ValueSlotStride = 128;
// Registers of a whole-slot read: 63 values of 2 registers, or 30 of 4.
inline constexpr int WholeSlotRegisters32 = 126;
inline constexpr int WholeSlotRegisters64 = 120;

// Bytes per value: 4, or 8 in 64-bit mode.
constexpr int valueBytes(bool sixtyFourBit)
{
    return sixtyFourBit ? 8 : 4;
}
// First input register of the values of slot (1..32).
constexpr int slotValueAddress(int slot)
{
    return ValueInputBase + ValueSlotStride * (slot - 1);
}
// Input register of the value of row (1..63).  In 64-bit mode rows above 32
// lie beyond the slot's own 128 registers; the address is what it is.
constexpr int rowValueAddress(int slot, int row, bool sixtyFourBit)
{
    return slotValueAddress(slot) + (sixtyFourBit ? 4 : 2) * (row - 1);
}
constexpr int wholeSlotRegisters(bool sixtyFourBit)
{
    return sixtyFourBit ? WholeSlotRegisters64 : WholeSlotRegisters32;
}

// One value from exactly valueBytes() bytes: the number, or nothing for the
// 64-bit "no value" (all FF).  Fewer bytes give nothing.
std::optional<qint64> decodeValue(QByteArrayView bytes, bool sixtyFourBit);

// The data bytes of a frame that passed CheckReply (unit, function, byte
// count, data, CRC): those the byte count announces and that were actually
// received before the CRC; never the CRC itself.
QByteArrayView replyDataBytes(const QByteArray &frame);

// Every whole value the data bytes hold, in order (element 0 is row 1).  A
// value cut short by the end of the data is not decoded; an element without
// a value is the 64-bit "no value".
QVector<std::optional<qint64>> decodeValues(QByteArrayView data, bool sixtyFourBit);

// The text one reading adds to the values log: an empty line, the time-stamp
// line, then for every row "column 0;column 1;" (empty rows give ";;"); each
// line ended by CR LF, Latin-1.
QByteArray valuesLogBlock(const QString &timeStamp, const QStringList &rowNumbers, const QStringList &values);

} // namespace qvx
