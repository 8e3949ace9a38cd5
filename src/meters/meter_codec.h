// Encodings of the meter programming as the device stores it, and the pure
// parts of the decoders of its replies.  Plain functions over byte strings
// and texts: the meter tab applies their results to the meter table and the
// grid, tests and the fuzzer call them directly.
//
// Meter ID: packed decimal, two digits per byte, first digit in the high
// nibble; 15 is the filler digit, typed as "F".
// OBIS entry: 4 bytes C D E F (short form), or C D E with A and B of an
// "A-B:" prefix packed into the fourth byte (long form).
#pragma once

#include "transport/reply_check.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qvx {

// Device register layout of the meter programming (holding registers).
inline constexpr int MeterIdBase = 800;
inline constexpr int ObisListBase = 1000;
inline constexpr int MeterSlotStride = 128;
// Registers of one whole OBIS list: 63 entries of 2 registers.
inline constexpr int ObisListRegisters = 126;
inline constexpr int ObisListRows = 63;
// The whole-ID reads: 32 IDs of 2 registers, or 30 IDs of 4 registers.
inline constexpr int MeterIdCount8 = 64;
inline constexpr int MeterIdCount16 = 120;

inline int meterIdAddress(int slot, bool sixteenDigits)
{
    return MeterIdBase + (sixteenDigits ? 4 : 2) * (slot - 1);
}
inline int obisListAddress(int slot)
{
    return ObisListBase + MeterSlotStride * (slot - 1);
}
inline int obisEntryAddress(int slot, int row)
{
    return obisListAddress(slot) + 2 * (row - 1);
}

// digits is 8 or 16; returns digits / 2 bytes.  A character that is not a
// decimal digit (or is missing) becomes the filler nibble 15.
QByteArray EncodeMeterId(const QString &text, int digits);
// The digits / 2 bytes from position pos of bytes, each as two upper-case
// hexadecimal digits.  Only bytes that exist are read: a short input gives a
// shorter text.
QString DecodeMeterId(const QByteArray &bytes, qsizetype pos, int digits);

// Always 4 bytes.  An empty text gives FF 00 00 00.
QByteArray EncodeRegisterEntry(const QString &text, bool longObis);
// Four bytes from position pos (missing bytes read as 0x00).
QString DecodeRegisterEntry(const QByteArray &bytes, bool longObis, qsizetype pos = 0);

// The whole-ID read: one ID per whole entry of digits / 2 data bytes, at
// most 32.  Nothing when the check failed.
struct MeterIdsReply {
    ReplyCheck check;
    QStringList ids;
};
MeterIdsReply DecodeMeterIds(const QByteArray &reply, int digits);

// An OBIS list read (whole list or one entry): one text per whole 4-byte
// entry among the data bytes received, at most 63.
struct RegisterEntriesReply {
    ReplyCheck check;
    QStringList texts;
};
RegisterEntriesReply DecodeRegisterList(const QByteArray &reply, bool longObis);
// The read of one entry decodes the same way; every entry it carries is meant
// for the one row asked for (normally there is exactly one).
RegisterEntriesReply DecodeRegisterRow(const QByteArray &reply, bool longObis);

} // namespace qvx
